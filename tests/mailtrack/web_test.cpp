// The report program as a real CGI program under lighttpd, against the simulated alpha server.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lighttpd.h"
#include "needtool.h"
#include "pages.h"
#include "simserver.h"
#include "testsupport.h"

using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::Lighttpd;
using testsupport::LighttpdOptions;
using testsupport::SimServer;
using testsupport::TempDir;

namespace {

using namespace pages;

const std::string TABLE = Table(StandardRow());

bool DirEmpty(const std::string &path)
{
    DIR *d = opendir(path.c_str());
    if (d == nullptr)
        return false;
    int n = 0;
    while (dirent *e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            ++n;
    closedir(d);
    return n == 0;
}

class Web : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (testsupport::LighttpdPath().empty())
            return;
        server_ = new SimServer;
        ASSERT_TRUE(server_->StartFile(testsupport::SourceDir() + "/tests/mailtrack/fixtures/report.json"))
            << server_->Log();
        tmp_ = new TempDir("mailtrack-web");
        // Held bound and not listening, so that it stays closed while the tests run.
        static testsupport::ClosedPorts closed;
        closedPort_ = closed.port();
        web_ = new Lighttpd;
        LighttpdOptions options;
        options.cgiProgram = MAILTRACK_BIN;
        // "localhost" reaches a port where nothing listens: the client cannot be created.
        options.environment = {
            {"TELAMORPCMAP", server_->RpcMap() + ";localhost:" + std::to_string(closedPort_)},
            {"TZ", "UTC"},
            {"TMPDIR", tmp_->path()}};
        ASSERT_TRUE(web_->Start(options)) << web_->Log();
    }
    static void TearDownTestSuite()
    {
        delete web_;
        delete server_;
        delete tmp_;
        web_ = nullptr;
        server_ = nullptr;
        tmp_ = nullptr;
    }
    void SetUp() override
    {
        TELA_NEED_TOOL(!testsupport::LighttpdPath().empty(), "lighttpd");
        // With lighttpd there, a missing server means the suite's set-up failed.
        ASSERT_NE(web_, nullptr) << "the suite's servers did not start";
        server_->ClearRequests();
    }
    void TearDown() override
    {
        if (tmp_ != nullptr) {
            EXPECT_TRUE(DirEmpty(tmp_->path())) << "temporary file left behind";
        }
        // The CGI program's standard error lands in lighttpd's error log: in a sanitizer build a
        // leak or fault of any request shows there.
        if (web_ != nullptr) {
            std::string log = web_->Log();
            EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
            EXPECT_EQ(log.find("runtime error"), std::string::npos) << log;
        }
    }

    static std::string Query(const std::string &job, const std::string &recipient = "bob@example.com",
                             const std::string &host = "127.0.0.1")
    {
        return "p=0&a=" + host + "&u=alice&r=" + job + "&n=" + recipient;
    }
    HttpResponse Get(const std::string &query)
    {
        return HttpRequest(web_->port(), "GET", web_->CgiPath("?" + query));
    }

    static SimServer *server_;
    static Lighttpd *web_;
    static TempDir *tmp_;
    static int closedPort_;
};

SimServer *Web::server_ = nullptr;
Lighttpd *Web::web_ = nullptr;
TempDir *Web::tmp_ = nullptr;
int Web::closedPort_ = 0;

TEST_F(Web, PagesThroughTheServer)
{
    struct Case {
        std::string query;
        std::string page;
    } cases[] = {
        {Query("100"), FullPage(StandardRow(), Lines(25))},
        {"", MainError("Illegal calling mode")},
        {"p=7", MainError("Unknown program 7")},
        {"p=%3Cb%3E", MainError("Unknown program &lt;b&gt;")},
        {"p=0&u=alice&r=1&n=x", ReportError("Missing a parameter")},
        {"p=0&a=127.0.0.1&r=1&n=x", ReportError("Missing u parameter")},
        {"p=0&a=127.0.0.1&u=alice&n=x", ReportError("Missing r parameter")},
        {"p=0&a=127.0.0.1&u=alice&r=1", ReportError("Missing n parameter")},
        {Query("100", "bob@example.com", "localhost"),
         ReportError("localhost: RPC: Remote system error - Connection refused")},
        {Query("666"), ReportError("a_get_s_rec_new_1: RPC: Procedure unavailable")},
        {Query("101", "nobody"), FinalState()},
        {Query("100", "BOB@example.com"), ReportError("illegal reference")},
        {Query("104"), ReportError("can not export logfile: GW0: Failed\n", TABLE)},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        HttpResponse r = Get(cases[i].query);
        EXPECT_EQ(r.status, 200) << "case " << i << ": " << r.error << "\n" << web_->Log();
        EXPECT_NE(r.headers.find("Content-type: text/html; charset=ISO-8859-15\r\n"), std::string::npos)
            << "case " << i << "\n"
            << r.headers;
        EXPECT_EQ(r.body, Body(cases[i].page)) << "case " << i;
        EXPECT_TRUE(DirEmpty(tmp_->path())) << "case " << i;
    }
}

TEST_F(Web, PostAndMultipart)
{
    HttpResponse post = HttpRequest(web_->port(), "POST", web_->CgiPath(),
                                    {"Content-Type: application/x-www-form-urlencoded"}, Query("100"));
    EXPECT_EQ(post.status, 200) << post.error;
    EXPECT_EQ(post.body, Body(FullPage(StandardRow(), Lines(25))));

    std::string body;
    for (auto [name, value] : {std::pair<std::string, std::string>{"p", "0"},
                               {"a", "127.0.0.1"},
                               {"u", "alice"},
                               {"r", "100"},
                               {"n", "bob@example.com"}})
        body += "--b0und\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    body += "--b0und--\r\n";
    HttpResponse multipart = HttpRequest(web_->port(), "POST", web_->CgiPath(),
                                         {"Content-Type: multipart/form-data; boundary=b0und"}, body);
    EXPECT_EQ(multipart.status, 200) << multipart.error;
    EXPECT_EQ(multipart.body, Body(FullPage(StandardRow(), Lines(25))));
    EXPECT_EQ(server_->Calls("alpha", 137).size(), 2u);
}

TEST_F(Web, RejectedRequestIsAServerError)
{
    HttpResponse r = HttpRequest(web_->port(), "PUT", web_->CgiPath("?p=0"), {}, "x");
    EXPECT_EQ(r.status, 500) << r.error << "\n" << r.headers;
    EXPECT_EQ(server_->Accepts(), 0);
    // The program's message reaches lighttpd's error log.
    testsupport::WaitFor(
        [] { return web_->Log().find("caught by cgihtml: REQUEST_METHOD invalid") != std::string::npos; });
    EXPECT_NE(web_->Log().find("caught by cgihtml: REQUEST_METHOD invalid"), std::string::npos)
        << web_->Log();
}

}  // namespace
