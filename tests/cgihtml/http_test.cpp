// The input library behind a real web server: lighttpd runs the probe as its CGI program and
// curl sends the forms the way a client builds them.
#include "lighttpd.h"
#include "needtool.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

class CgiHttp : public ::testing::Test {
protected:
    void SetUp() override
    {
        TELA_NEED_TOOL(!testsupport::LighttpdPath().empty(), "lighttpd");
        TELA_NEED_TOOL(testsupport::HaveProgram("curl"), "curl");
        testsupport::LighttpdOptions options;
        options.cgiProgram = CGIHTML_PROBE;
        options.cgiName = "probe";
        options.environment = {{"CGIHTML_PROBE_HEADER", "1"}};
        ASSERT_TRUE(server.Start(options)) << server.Log();
        unique = "cgihtml-http-" + std::to_string(::getpid());
    }
    void TearDown() override
    {
        for (const std::string &path : cleanup)
            ::unlink(path.c_str());
    }

    // Runs curl against the probe; returns the response body.
    std::string Curl(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv = {"curl", "-sS", "--noproxy", "*", "--max-time", "30"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(server.Url(server.CgiPath()));
        testsupport::RunResult r = testsupport::RunProgram(argv);
        EXPECT_EQ(r.exitCode, 0) << r.err << "\n" << server.Log();
        return r.out;
    }

    testsupport::Lighttpd server;
    testsupport::TempDir dir{"cgihtml-http"};
    std::string unique;
    std::vector<std::string> cleanup;
};

TEST_F(CgiHttp, GetQueryString)
{
    testsupport::HttpResponse r =
        testsupport::HttpRequest(server.port(), "GET", server.CgiPath("?p=0&a=alpha+host&n=x%40y"));
    EXPECT_EQ(r.status, 200) << r.error << server.Log();
    EXPECT_EQ(r.body, "count=3\np=0\na=alpha host\nn=x@y\n");
}

TEST_F(CgiHttp, GetWithoutQuery)
{
    testsupport::HttpResponse r = testsupport::HttpRequest(server.port(), "GET", server.CgiPath());
    EXPECT_EQ(r.status, 200) << r.error << server.Log();
    EXPECT_EQ(r.body, "count=0\n");
}

TEST_F(CgiHttp, PostUrlEncoded)
{
    EXPECT_EQ(Curl({"--data-raw", "p=0&u=user01&r=4711&n=a%26b"}), "count=4\np=0\nu=user01\nr=4711\nn=a&b\n");
}

TEST_F(CgiHttp, MultipartFromCurl)
{
    std::string doc = dir.file("doc.txt");
    std::string content = "first line\r\nsecond line\n--not a boundary\r\n";
    content += std::string(200000, 'x');
    testsupport::WriteFile(doc, content);
    std::string stored = "/tmp/" + unique + ".txt";
    cleanup.push_back(stored);

    std::string out = Curl({"-F", "p=0", "-F", "text=two\r\nlines", "-F",
                            "doc=@" + doc + ";filename=../../x/" + unique + ".txt", "-F", "last="});
    EXPECT_EQ(out, "count=4\np=0\ntext=two\\r\\nlines\ndoc=../../x/" + unique + ".txt\nlast=\n");
    EXPECT_EQ(testsupport::ReadFile(stored), content);
}

TEST_F(CgiHttp, MultipartEmptyFileField)
{
    // What a browser sends for a file field left empty.
    std::string boundary = "----WebKitFormBoundaryq7Xk2Yv1bSgR3nTc";
    std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"p\"\r\n\r\n0\r\n--" +
                       boundary +
                       "\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"\"\r\n"
                       "Content-Type: application/octet-stream\r\n\r\n\r\n--" +
                       boundary + "--\r\n";
    testsupport::HttpResponse r =
        testsupport::HttpRequest(server.port(), "POST", server.CgiPath(),
                                 {"Content-Type: multipart/form-data; boundary=" + boundary}, body);
    EXPECT_EQ(r.status, 200) << r.error << server.Log();
    EXPECT_EQ(r.body, "count=2\np=0\ndoc=\n");
}

}  // namespace
