// The report program as a real CGI program under lighttpd, against the simulated alpha server,
// and the page as a headless Chromium builds it.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lighttpd.h"
#include "simserver.h"
#include "testsupport.h"

using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::Lighttpd;
using testsupport::LighttpdOptions;
using testsupport::SimServer;
using testsupport::TempDir;

namespace {

const std::string B0 = "<html> <head>\n<title></title>\n</head>\n\n<body>\n";
const std::string RH =
    "<head><meta http-equiv=\"refresh\" content=10><title>Durorov Uzoroduru Vorerad Report</title>"
    "</head><body>";
const std::string END = "</body> </html>\n";
const std::string TABLE =
    "<table border=0 cols=2>"
    "<tr><td><b>From:</b></td><td>alice@example.com</td></tr>"
    "<tr><td><b>To:</b></td><td>bob@example.com/voice</td></tr>"
    "<tr><td><b>Subject:</b></td><td>Quarterly figures</td></tr>"
    "<tr><td><b>Date:</b></td><td>Sun Sep  9 01:46:40 2001\n</td></tr>"
    "<tr><td><b>Status:</b></td><td>transmission (line busy)</td></tr>"
    "<tr><td><b>Last Attempt:</b></td><td>Sun Sep  9 01:56:40 2001\n</td></tr>"
    "<tr><td><b>Retries:</b></td><td>3</td></tr>"
    "</table>";

std::string E(const std::string &message)
{
    return "<hr><h2 align=center>Error</h2><p align=center><b>" + message + "</b></p><hr>";
}

std::string ReportError(const std::string &message, const std::string &table = "")
{
    return RH + table + E(message) + "</p>" + END;
}

std::string LogBody(int lines)
{
    std::string body = RH + TABLE + "<hr><h4>Transmission Log:</h4>";
    for (int i = 1; i <= lines; ++i)
        body += "line " + std::to_string(i) + "<br>";
    return body + "</p></p>" + END;
}

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
        closedPort_ = testsupport::FreePort();
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
        if (web_ == nullptr)
            GTEST_SKIP() << "lighttpd is not installed";
        server_->ClearRequests();
    }
    void TearDown() override
    {
        if (tmp_ != nullptr)
            EXPECT_TRUE(DirEmpty(tmp_->path())) << "temporary file left behind";
    }

    static std::string Query(const std::string &job, const std::string &recipient = "bob@example.com",
                             const std::string &host = "127.0.0.1")
    {
        return "p=0&a=" + host + "&u=alice&r=" + job + "&n=" + recipient;
    }
    HttpResponse Get(const std::string &query) { return HttpRequest(web_->port(), "GET", web_->CgiPath("?" + query)); }

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
    const std::string finalBody =
        RH +
        "<p align=center><b>The message you are requesting has reached its final state.<br>"
        "If you have requested a report it has been sent to you.<br>"
        "Please do not use this reference any longer.<br></b></p>" + END;
    struct Case {
        std::string query;
        std::string body;
    } cases[] = {
        {Query("100"), LogBody(25)},
        {"", B0 + E("Illegal calling mode") + END},
        {"p=7", B0 + E("Unknown program 7") + END},
        {"p=%3Cb%3E", B0 + E("Unknown program &lt;b&gt;") + END},
        {"p=0&u=alice&r=1&n=x", ReportError("Missing a parameter")},
        {"p=0&a=127.0.0.1&r=1&n=x", ReportError("Missing u parameter")},
        {"p=0&a=127.0.0.1&u=alice&n=x", ReportError("Missing r parameter")},
        {"p=0&a=127.0.0.1&u=alice&r=1", ReportError("Missing n parameter")},
        {Query("100", "bob@example.com", "localhost"),
         ReportError("localhost: RPC: Remote system error - Connection refused")},
        {Query("666"), ReportError("a_get_s_rec_new_1: RPC: Procedure unavailable")},
        {Query("101", "nobody"), finalBody},
        {Query("100", "BOB@example.com"), ReportError("illegal reference")},
        {Query("104"), ReportError("can not export logfile: GW0: Failed\n", TABLE)},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        HttpResponse r = Get(cases[i].query);
        EXPECT_EQ(r.status, 200) << "case " << i << ": " << r.error << "\n" << web_->Log();
        EXPECT_NE(r.headers.find("Content-type: text/html\r\n"), std::string::npos)
            << "case " << i << "\n" << r.headers;
        EXPECT_EQ(r.body, cases[i].body) << "case " << i;
        EXPECT_TRUE(DirEmpty(tmp_->path())) << "case " << i;
    }
}

TEST_F(Web, PostAndMultipart)
{
    HttpResponse post = HttpRequest(web_->port(), "POST", web_->CgiPath(),
                                    {"Content-Type: application/x-www-form-urlencoded"}, Query("100"));
    EXPECT_EQ(post.status, 200) << post.error;
    EXPECT_EQ(post.body, LogBody(25));

    std::string body;
    for (auto [name, value] : {std::pair<std::string, std::string>{"p", "0"}, {"a", "127.0.0.1"},
                               {"u", "alice"}, {"r", "100"}, {"n", "bob@example.com"}})
        body += "--b0und\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    body += "--b0und--\r\n";
    HttpResponse multipart = HttpRequest(web_->port(), "POST", web_->CgiPath(),
                                         {"Content-Type: multipart/form-data; boundary=b0und"}, body);
    EXPECT_EQ(multipart.status, 200) << multipart.error;
    EXPECT_EQ(multipart.body, LogBody(25));
    EXPECT_EQ(server_->Calls("alpha", 137).size(), 2u);
}

TEST_F(Web, RejectedRequestIsAServerError)
{
    HttpResponse r = HttpRequest(web_->port(), "PUT", web_->CgiPath("?p=0"), {}, "x");
    EXPECT_EQ(r.status, 500) << r.error << "\n" << r.headers;
    EXPECT_EQ(server_->Accepts(), 0);
}

}  // namespace
