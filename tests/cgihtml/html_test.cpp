// HTTP header lines and HTML fragments, byte for byte.
#include "cgitest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "testsupport.h"

using cgitest::List;

namespace {

std::string Output(const std::function<void()> &write)
{
    std::fflush(stdout);
    testsupport::CaptureFd captured(1);
    write();
    std::fflush(stdout);
    return captured.Text();
}

TEST(HtmlOutput, ExactBytes)
{
    struct Case {
        const char *what;
        std::function<void()> write;
        const char *expected;
    } cases[] = {
        {"content type", [] { HtmlContentType(); }, "Content-type: text/html\r\n\r\n"},
        {"mime type", [] { HtmlMimeType("text/plain"); }, "Content-type: text/plain\r\n\r\n"},
        {"nph status", [] { HtmlNphStatus("200 OK"); }, "HTTP/1.0 200 OK\r\nServer: CGI using cgihtml\r\n"},
        {"redirect", [] { HtmlRedirect("http://127.0.0.1/x"); }, "Location: http://127.0.0.1/x\r\n\r\n"},
        {"status", [] { HtmlStatus("404 Not Found"); }, "Status: 404 Not Found\r\n"},
        {"pragma", [] { HtmlPragma("no-cache"); }, "Pragma: no-cache\r\n"},
        {"begin", [] { HtmlBegin("Report"); }, "<html> <head>\n<title>Report</title>\n</head>\n\n<body>\n"},
        {"begin empty", [] { HtmlBegin(""); }, "<html> <head>\n<title></title>\n</head>\n\n<body>\n"},
        {"end", [] { HtmlEnd(); }, "</body> </html>\n"},
        {"h1", [] { HtmlH1("one"); }, "<h1>one</h1>\n"},
        {"h2", [] { HtmlH2("two"); }, "<h2>two</h2>\n"},
        {"h3", [] { HtmlH3("three"); }, "<h3>three</h3>\n"},
        {"h4", [] { HtmlH4("four"); }, "<h4>four</h4>\n"},
        {"h5", [] { HtmlH5("five"); }, "<h5>five</h5>\n"},
        {"h6", [] { HtmlH6("<i>six</i>"); }, "<h6><i>six</i></h6>\n"},
        {"cookie name and value", [] { HtmlSetCookie("sid", "42", nullptr, nullptr, nullptr, 0); },
         "Set-Cookie: sid=42;\r\n"},
        {"cookie full",
         [] { HtmlSetCookie("sid", "42", "Thu, 01 Jan 2026 00:00:00 GMT", "/", "localhost", 1); },
         "Set-Cookie: sid=42; EXPIRES=Thu, 01 Jan 2026 00:00:00 GMT; PATH=/; DOMAIN=localhost;"
         " SECURE\r\n"},
        {"cookie path only", [] { HtmlSetCookie("a", "b", nullptr, "/cgi", nullptr, 0); },
         "Set-Cookie: a=b; PATH=/cgi;\r\n"},
        {"hidden field", [] { HtmlHiddenField("p", "0"); }, "<input type=hidden name=\"p\" value=\"0\">\n"},
        {"hidden field escaped", [] { HtmlHiddenField("n", "\"><script>'&"); },
         "<input type=hidden name=\"n\" value=\"&quot;&gt;&lt;script&gt;&#39;&amp;\">\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Output(c.write), c.expected) << c.what;
}

TEST(HtmlOutput, HeaderArgumentsEndAtLineBreaks)
{
    EXPECT_EQ(Output([] { HtmlRedirect("/ok\r\nSet-Cookie: evil=1"); }), "Location: /ok\r\n\r\n");
    EXPECT_EQ(Output([] { HtmlStatus("200 OK\nX: y"); }), "Status: 200 OK\r\n");
    EXPECT_EQ(Output([] { HtmlMimeType("text/plain\r\n\r\n<html>"); }), "Content-type: text/plain\r\n\r\n");
    EXPECT_EQ(Output([] { HtmlSetCookie("a", "1\r\nLocation: x", nullptr, nullptr, nullptr, 0); }),
              "Set-Cookie: a=1;\r\n");
}

TEST(HtmlEscapeAngles, Cases)
{
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"", ""},
        {"plain & \"quoted\" 'text'", "plain & \"quoted\" 'text'"},
        {"<b>", "&lt;b&gt;"},
        {"<<<<", "&lt;&lt;&lt;&lt;"},  // four times the length
        {">", "&gt;"},
    };
    for (const Case &c : cases) {
        char *out = HtmlEscapeAngles(c.in);
        EXPECT_STREQ(out, c.out) << c.in;
        std::free(out);
    }
    EXPECT_EQ(HtmlEscapeAngles(nullptr), nullptr);
}

TEST(HtmlEscape, Cases)
{
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"", ""},
        {"plain text 123", "plain text 123"},
        {"a&b", "a&amp;b"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"\"'", "&quot;&#39;"},
        {"&amp;", "&amp;amp;"},
        {"\xE9t\xE9", "\xE9t\xE9"},  // ISO-8859-15 text passes unchanged
    };
    for (const Case &c : cases)
        EXPECT_EQ(HtmlEscape(c.in), c.out) << c.in;
    EXPECT_EQ(HtmlEscape(nullptr), "");
}

TEST(CgiPrintEntries, EmptyAndFilledList)
{
    EXPECT_EQ(Output([] { CgiPrintEntries(nullptr); }), "<dl>\n</dl>\n");
    List list;
    CgiParseForm(&list.head, "a=1&%3Cb%3E=%3Ci%3E+%26");
    const CgiEntry *head = list.head;
    EXPECT_EQ(Output([head] { CgiPrintEntries(head); }),
              "<dl>\n"
              "  <dt> <b>a</b>\n  <dd> 1\n"
              "  <dt> <b>&lt;b&gt;</b>\n  <dd> &lt;i&gt; &\n"
              "</dl>\n");
}

class CgiPrintEnvTest : public ::testing::Test {
protected:
    static constexpr const char *kNames[] = {
        "SERVER_SOFTWARE", "SERVER_NAME",    "GATEWAY_INTERFACE", "SERVER_PROTOCOL", "SERVER_PORT",
        "REQUEST_METHOD",  "PATH_INFO",      "PATH_TRANSLATED",   "SCRIPT_NAME",     "QUERY_STRING",
        "REMOTE_HOST",     "REMOTE_ADDR",    "AUTH_TYPE",         "REMOTE_USER",     "REMOTE_IDENT",
        "CONTENT_TYPE",    "CONTENT_LENGTH",
    };
    void SetUp() override
    {
        for (const char *name : kNames)
            ::unsetenv(name);
    }
    void TearDown() override { SetUp(); }
};

TEST_F(CgiPrintEnvTest, NothingSetWritesNothing)
{
    EXPECT_EQ(Output([] { CgiPrintEnv(); }), "");
}

TEST_F(CgiPrintEnvTest, OrderAndParagraphMarks)
{
    ::setenv("CONTENT_LENGTH", "12", 1);
    ::setenv("QUERY_STRING", "a=<script>", 1);
    ::setenv("SERVER_SOFTWARE", "test/1", 1);
    ::setenv("REQUEST_METHOD", "GET", 1);
    EXPECT_EQ(Output([] { CgiPrintEnv(); }),
              "<p>SERVER_SOFTWARE = test/1<br>\n"
              "REQUEST_METHOD = GET<br>\n"
              "QUERY_STRING = a=&lt;script&gt;<br>\n"
              "CONTENT_LENGTH = 12<br></p>\n");
}

TEST_F(CgiPrintEnvTest, MarksOnlyWithFirstAndLastVariables)
{
    ::setenv("SERVER_NAME", "localhost", 1);
    EXPECT_EQ(Output([] { CgiPrintEnv(); }), "SERVER_NAME = localhost<br>\n");
}

}  // namespace
