// Url-encoded forms, %XX decoding, cookies, line reading and the plain request readers.
#include "cgitest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using cgitest::List;
using cgitest::Pairs;
using cgitest::Sink;
using cgitest::Stream;

namespace {

struct FormCase {
    const char *text;
    Pairs expected;
};

const FormCase kFormCases[] = {
    {"", {}},
    {"a=1&b=2", {{"a", "1"}, {"b", "2"}}},
    {"a=%41+b", {{"a", "A b"}}},
    {"x&a=1", {{"a", "1"}}},
    {"a=1&x", {{"a", "1"}}},
    {"x", {}},
    {"a=", {{"a", ""}}},
    {"a=1&", {{"a", "1"}}},
    {"a=b+", {{"a", "b "}}},
    {"a=1&a=2", {{"a", "1"}, {"a", "2"}}},
    // A second "=" belongs to the value.
    {"a=b=c", {{"a", "b=c"}}},
    {"a=bcd=e&f=g", {{"a", "bcd=e"}, {"f", "g"}}},
    {"a==", {{"a", "="}}},
    {"=1", {{"", "1"}}},
    {"=", {{"", ""}}},
    // Names are decoded after the split, so an encoded "=" stays in the name.
    {"a%3Db=c", {{"a=b", "c"}}},
    {"a+b=c+d", {{"a b", "c d"}}},
    {"a=%2B", {{"a", "+"}}},
    {"&&a=1&&", {{"a", "1"}}},
    // A "%" close to the end stays as it is.
    {"a=100%", {{"a", "100%"}}},
    {"a=1%4", {{"a", "1%4"}}},
    {"a=%", {{"a", "%"}}},
    {"a%=1", {{"a%", "1"}}},
    // Digits are not checked: "%zz" gives what the digit arithmetic gives.
    {"a=%zz", {{"a", "S"}}},
    {"a=%7e%7E", {{"a", "~~"}}},
    {"a=%C3%A9", {{"a", "\xC3\xA9"}}},
    // %00 ends the decoded text.
    {"a=x%00y", {{"a", "x"}}},
};

TEST(CgiParseForm, Cases)
{
    for (size_t i = 0; i < std::size(kFormCases); ++i) {
        const FormCase &c = kFormCases[i];
        List list;
        int count = CgiParseForm(&list.head, c.text);
        EXPECT_EQ(list.pairs(), c.expected) << "case " << i << ": " << c.text;
        EXPECT_EQ(count, static_cast<int>(c.expected.size())) << "case " << i;
    }
}

TEST(CgiParseForm, NullTextGivesEmptyList)
{
    List list;
    EXPECT_EQ(CgiParseForm(&list.head, nullptr), 0);
    EXPECT_EQ(list.head, nullptr);
}

TEST(CgiParseForm, LongTextWithManyPairs)
{
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text.append("k").append(std::to_string(i)).append("=v").append(std::to_string(i)).append("&");
    List list;
    ASSERT_EQ(CgiParseForm(&list.head, text.c_str()), 2000);
    EXPECT_STREQ(CgiValue(list.head, "k1999"), "v1999");
}

TEST(CgiUnescape, Cases)
{
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"%41", "A"},
        {"%41%42c", "ABc"},
        {"%", "%"},
        {"%4", "%4"},
        {"abc%", "abc%"},
        {"abc%6", "abc%6"},
        {"%%41", "T1"},  // "%4" read as digits: ('%' -
                         // 0x30) * 16 + 4, low 8 bits
        {"+", "+"},      // "+" is the form parser's business
    };
    for (const Case &c : cases) {
        char buffer[32];
        std::strcpy(buffer, c.in);
        CgiUnescape(buffer);
        EXPECT_STREQ(buffer, c.out) << c.in;
    }
}

TEST(CgiUnescape, PercentAtEndReadsNothingBehindTheText)
{
    // Exactly sized heap copies: ASan reports any read past the terminator.
    for (const char *text : {"%", "x%", "x%4"}) {
        char *copy = CgiStrDup(text);
        CgiUnescape(copy);
        EXPECT_STREQ(copy, text);
        std::free(copy);
    }
}

TEST(CgiHexChar, Arithmetic)
{
    struct Case {
        const char *digits;
        unsigned char value;
    } cases[] = {
        {"41", 0x41}, {"7e", 0x7E}, {"7E", 0x7E}, {"ff", 0xFF}, {"FF", 0xFF},
        {"00", 0x00}, {"a0", 0xA0}, {"zz", 0x53}, {"g1", 0x01},
    };
    for (const Case &c : cases)
        EXPECT_EQ(static_cast<unsigned char>(CgiHexChar(c.digits)), c.value) << c.digits;
}

TEST(CgiParseCookies, Cases)
{
    struct Case {
        const char *text;
        Pairs expected;
    } cases[] = {
        {"", {}},
        {"a=1; b=2", {{"a", "1"}, {"b", "2"}}},
        {"a=1;b=2", {{"a", "1"}, {"b", "2"}}},
        {"a=1&b=2", {{"a", "1"}, {"b", "2"}}},
        {"a=1& b=2", {{"a", "1"}, {" b", "2"}}},
        {"a=1;", {{"a", "1"}}},
        {"a=1; ", {{"a", "1"}}},
        {"a=1;  b=2", {{"a", "1"}, {" b", "2"}}},
        {";", {}},
        {"flag; a=1", {{"a", "1"}}},
        {"a=%41+b", {{"a", "%41+b"}}},
        {"a=b=c", {{"a", "b=c"}}},
        {"a=", {{"a", ""}}},
    };
    for (const Case &c : cases) {
        List list;
        int count = CgiParseCookies(&list.head, c.text);
        EXPECT_EQ(list.pairs(), c.expected) << c.text;
        EXPECT_EQ(count, static_cast<int>(c.expected.size())) << c.text;
    }
}

TEST(CgiParseCookies, UnsetLeavesListUnchanged)
{
    List list;
    CgiListInsertAfter(&list.head, nullptr, "keep", "me");
    CgiEntry *before = list.head;
    EXPECT_EQ(CgiParseCookies(&list.head, nullptr), 0);
    EXPECT_EQ(list.head, before);
}

TEST(CgiReadCookies, FromEnvironment)
{
    ::setenv("HTTP_COOKIE", "sid=42; theme=dark", 1);
    List list;
    EXPECT_EQ(CgiReadCookies(&list.head), 2);
    EXPECT_EQ(list.pairs(), (Pairs{{"sid", "42"}, {"theme", "dark"}}));
    ::unsetenv("HTTP_COOKIE");
    List none;
    EXPECT_EQ(CgiReadCookies(&none.head), 0);
}

TEST(CgiAcceptsImage, Environment)
{
    ::unsetenv("HTTP_ACCEPT");
    EXPECT_FALSE(CgiAcceptsImage());
    ::setenv("HTTP_ACCEPT", "text/html", 1);
    EXPECT_FALSE(CgiAcceptsImage());
    ::setenv("HTTP_ACCEPT", "text/html,image/png", 1);
    EXPECT_TRUE(CgiAcceptsImage());
    ::unsetenv("HTTP_ACCEPT");
}

TEST(CgiReadLineFrom, BoundsAndNewlines)
{
    Stream in("abc\ndef");
    char buffer[513];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(CgiReadLineFrom(in.get(), buffer, 512), 4);
    EXPECT_STREQ(buffer, "abc\n");
    EXPECT_EQ(CgiReadLineFrom(in.get(), buffer, 512), 3);
    EXPECT_STREQ(buffer, "def");
    EXPECT_EQ(CgiReadLineFrom(in.get(), buffer, 512), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(CgiReadLineFrom, NewlineAfterTheLastStoredCharacterStaysUnread)
{
    Stream in("abc\nx");
    char buffer[4];
    EXPECT_EQ(CgiReadLineFrom(in.get(), buffer, 3), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(CgiReadLineFrom(in.get(), buffer, 3), 1);
    EXPECT_STREQ(buffer, "\n");
    EXPECT_EQ(CgiReadLineFrom(in.get(), buffer, 3), 1);
    EXPECT_STREQ(buffer, "x");
}

TEST(CgiContentLength, Cases)
{
    struct Case {
        const char *text;
        bool ok;
        unsigned long value;
    } cases[] = {
        {"0", true, 0},        {"10", true, 10},
        {"007", true, 7},      {"1048576", true, 1048576},
        {"1048577", false, 0}, {"99999999999999999999999", false, 0},
        {"", false, 0},        {"-1", false, 0},
        {"+1", false, 0},      {" 1", false, 0},
        {"1 ", false, 0},      {"0x10", false, 0},
        {"1e3", false, 0},
    };
    for (const Case &c : cases) {
        unsigned long value = 12345;
        CgiError error = CgiContentLength(c.text, &value);
        EXPECT_EQ(error == CGI_OK, c.ok) << "'" << c.text << "'";
        if (c.ok)
            EXPECT_EQ(value, c.value) << c.text;
        else
            EXPECT_EQ(error, CGI_ERR_BAD_LENGTH) << c.text;
    }
}

TEST(CgiReadPostFrom, ReadsExactlyContentLength)
{
    Stream in("a=1&b=2TRAILING");
    CgiRequest request;
    request.contentLength = "7";
    request.in = in.get();
    char *text = nullptr;
    ASSERT_EQ(CgiReadPostFrom(request, &text), CGI_OK);
    EXPECT_STREQ(text, "a=1&b=2");
    EXPECT_EQ(in.consumed(), 7);
    std::free(text);
}

TEST(CgiReadPostFrom, Failures)
{
    struct Case {
        const char *length;
        const char *body;
        CgiError error;
    } cases[] = {
        {nullptr, "a=1", CGI_ERR_NO_LENGTH}, {"10", "a=1", CGI_ERR_SHORT_INPUT},
        {"1", "", CGI_ERR_SHORT_INPUT},      {"-1", "a=1", CGI_ERR_BAD_LENGTH},
        {"abc", "a=1", CGI_ERR_BAD_LENGTH},  {"4294967297", "a=1", CGI_ERR_BAD_LENGTH},
    };
    for (const Case &c : cases) {
        Stream in(c.body);
        CgiRequest request;
        request.contentLength = c.length;
        request.in = in.get();
        char *text = reinterpret_cast<char *>(1);
        EXPECT_EQ(CgiReadPostFrom(request, &text), c.error) << (c.length ? c.length : "(unset)");
        EXPECT_EQ(text, nullptr);
    }
}

TEST(CgiReadPostFrom, EmptyBody)
{
    Stream in("");
    CgiRequest request;
    request.contentLength = "0";
    request.in = in.get();
    char *text = nullptr;
    ASSERT_EQ(CgiReadPostFrom(request, &text), CGI_OK);
    EXPECT_STREQ(text, "");
    std::free(text);
}

TEST(CgiReadGetFrom, CopyOrFailure)
{
    CgiRequest request;
    char *text = nullptr;
    EXPECT_EQ(CgiReadGetFrom(request, &text), CGI_ERR_NO_QUERY);
    request.queryString = "a=1";
    ASSERT_EQ(CgiReadGetFrom(request, &text), CGI_OK);
    EXPECT_STREQ(text, "a=1");
    EXPECT_NE(text, request.queryString);
    std::free(text);
}

TEST(CgiReadInteractiveFrom, PromptsAndEcho)
{
    Stream in("a=1&b=2\nnot read");
    Sink err;
    char *text = CgiReadInteractiveFrom(in.get(), err.get());
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "a=1&b=2");
    EXPECT_EQ(err.text(),
              "\n--- cgihtml Interactive Mode ---\n"
              "Enter CGI input string.  Remember to encode appropriate characters.\n"
              "Press ENTER when done:\n\n"
              "\n Input string: a=1&b=2\nString length: 7\n"
              "--- end cgihtml Interactive Mode ---\n\n");
    std::free(text);
}

TEST(CgiReadInteractiveFrom, LongLinesAndEndOfInput)
{
    for (size_t length : {1023u, 1024u, 1025u, 5000u}) {
        std::string line(length, 'q');
        for (const std::string &input : {line + "\nrest", line}) {
            Stream in(input);
            Sink err;
            char *text = CgiReadInteractiveFrom(in.get(), err.get());
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(std::string(text), line) << length;
            EXPECT_NE(err.text().find("String length: " + std::to_string(length) + "\n"), std::string::npos);
            std::free(text);
        }
    }
}

// The typed line has the ceiling of a POST body: a line of that length is read whole; one
// character more fails, nothing behind it is read and nothing is echoed.
TEST(CgiReadInteractiveFrom, LineCeiling)
{
    const std::string prompts =
        "\n--- cgihtml Interactive Mode ---\n"
        "Enter CGI input string.  Remember to encode appropriate characters.\n"
        "Press ENTER when done:\n\n";
    const struct {
        size_t length;
        bool read;
    } cases[] = {
        {CGI_MAX_CONTENT_LENGTH, true},
        {CGI_MAX_CONTENT_LENGTH + 1, false},
        {4 * CGI_MAX_CONTENT_LENGTH, false},
    };
    for (const auto &c : cases) {
        Stream in(std::string(c.length, 'q') + "\nrest");
        Sink err;
        CgiError error = CGI_ERR_METHOD;
        char *text = CgiReadInteractiveFrom(in.get(), err.get(), &error);
        if (c.read) {
            ASSERT_NE(text, nullptr) << c.length;
            EXPECT_EQ(error, CGI_OK);
            EXPECT_EQ(std::strlen(text), c.length);
            EXPECT_NE(err.text().find("String length: " + std::to_string(c.length) + "\n"),
                      std::string::npos);
        } else {
            EXPECT_EQ(text, nullptr) << c.length;
            EXPECT_EQ(error, CGI_ERR_LONG_LINE) << c.length;
            EXPECT_EQ(err.text(), prompts) << c.length;
            EXPECT_EQ(in.consumed(), static_cast<long>(CGI_MAX_CONTENT_LENGTH + 1)) << c.length;
        }
        std::free(text);
    }
}

// A form text gives at most CGI_MAX_ENTRIES entries, as many as a body of the largest length
// holds pairs of one character each; more fail whatever the source, and empty pairs count.
TEST(CgiReadInputFrom, EntryCeiling)
{
    auto pairs = [](const char *pair, size_t n) {
        std::string text;
        for (size_t i = 0; i < n; ++i)
            text += pair;
        return text;
    };
    const size_t most = CGI_MAX_ENTRIES;
    ASSERT_EQ(most * 4, CGI_MAX_CONTENT_LENGTH);
    const struct {
        const char *name;
        std::string text;
        CgiError error;
        size_t entries;
    } cases[] = {
        {"one-character pairs up to the ceiling", pairs("a=1&", most), CGI_OK, most},
        {"empty pairs up to the ceiling", pairs("=&", most), CGI_OK, most},
        {"one empty pair more", pairs("=&", most) + "=", CGI_ERR_TOO_MANY, most},
        {"a body of empty pairs", pairs("=&", 2 * most), CGI_ERR_TOO_MANY, most},
        {"dropped tokens do not count", pairs("x&", 1000) + pairs("=&", most), CGI_OK, most},
    };
    for (const auto &c : cases) {
        for (const char *method : {"GET", "POST"}) {
            Stream in(c.text);
            const std::string length = std::to_string(c.text.size());
            CgiRequest request;
            request.requestMethod = method;
            request.queryString = c.text.c_str();
            request.contentLength = length.c_str();
            request.in = in.get();
            List list;
            int count = -1;
            EXPECT_EQ(CgiReadInputFrom(request, &list.head, &count), c.error) << c.name << " " << method;
            size_t entries = 0;
            for (const CgiEntry *e = list.head; e != nullptr; e = e->next)
                ++entries;
            EXPECT_EQ(entries, c.entries) << c.name << " " << method;
            if (c.error == CGI_OK) {
                EXPECT_EQ(count, static_cast<int>(c.entries)) << c.name << " " << method;
            }
        }
    }
}

TEST(CgiReadInputFrom, DispatchInProcess)
{
    {
        CgiRequest request;
        request.requestMethod = "GET";
        request.queryString = "p=0&a=host";
        List list;
        int count = -1;
        ASSERT_EQ(CgiReadInputFrom(request, &list.head, &count), CGI_OK);
        EXPECT_EQ(count, 2);
        EXPECT_STREQ(CgiValue(list.head, "a"), "host");
    }
    {
        CgiRequest request;
        request.requestMethod = "DELETE";
        List list;
        int count = -1;
        EXPECT_EQ(CgiReadInputFrom(request, &list.head, &count), CGI_ERR_METHOD);
        EXPECT_EQ(list.head, nullptr);
    }
    {
        Stream in("x=1&y=2");
        CgiRequest request;
        request.requestMethod = "POST";
        request.contentLength = "7";
        request.in = in.get();
        List list;
        int count = -1;
        ASSERT_EQ(CgiReadInputFrom(request, &list.head, &count), CGI_OK);
        EXPECT_EQ(list.pairs(), (Pairs{{"x", "1"}, {"y", "2"}}));
    }
}

TEST(CgiErrorMessage, Texts)
{
    EXPECT_STREQ(CgiErrorMessage(CGI_OK), "");
    EXPECT_STREQ(CgiErrorMessage(CGI_ERR_METHOD), "caught by cgihtml: REQUEST_METHOD invalid\n");
    EXPECT_STREQ(CgiErrorMessage(CGI_ERR_NO_LENGTH), "caught by cgihtml: CONTENT_LENGTH is null\n");
    EXPECT_STREQ(CgiErrorMessage(CGI_ERR_BAD_LENGTH), "caught by cgihtml: CONTENT_LENGTH invalid\n");
    EXPECT_STREQ(CgiErrorMessage(CGI_ERR_SHORT_INPUT), "caught by cgihtml: input length < CONTENT_LENGTH\n");
    EXPECT_STREQ(CgiErrorMessage(CGI_ERR_NO_QUERY), "caught by cgihtml: QUERY_STRING is null\n");
    EXPECT_STREQ(CgiErrorMessage(CGI_ERR_UPLOAD), "cgihtml Error: cannot upload file\n");
    EXPECT_STREQ(CgiErrorMessage(CGI_ERR_TOO_MANY), "caught by cgihtml: too many entries\n");
    EXPECT_STREQ(CgiErrorMessage(CGI_ERR_LONG_LINE), "caught by cgihtml: input line too long\n");
}

}  // namespace
