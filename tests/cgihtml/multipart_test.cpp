// multipart/form-data bodies: what browsers send, and hostile ones.
#include "cgitest.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

using cgitest::List;
using cgitest::Pairs;
using cgitest::Stream;

namespace {

const char kBoundary[] = "----WebKitFormBoundary7MA4YWxkTrZu0gW";

std::string Field(const std::string &name, const std::string &value, const std::string &boundary = kBoundary)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

std::string FilePart(const std::string &name, const std::string &file, const std::string &content,
                     const std::string &boundary = kBoundary)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + file +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
}

std::string Close(const std::string &boundary = kBoundary)
{
    return "--" + boundary + "--\r\n";
}

struct Result {
    CgiError error = CGI_OK;
    int count = -1;
    Pairs pairs;
    long consumed = 0;
};

// Parses body with the given CONTENT_TYPE; CONTENT_LENGTH is the body's size unless given.
Result Parse(const std::string &body, const std::string &contentType, const char *uploadDir,
             const char *contentLength = nullptr)
{
    Stream in(body);
    std::string length = std::to_string(body.size());
    CgiRequest request;
    request.contentType = contentType.c_str();
    request.contentLength = contentLength != nullptr ? contentLength : length.c_str();
    request.in = in.get();
    request.uploadDir = uploadDir;
    List list;
    Result r;
    r.error = CgiParseMultipartFrom(request, &list.head, &r.count);
    r.pairs = list.pairs();
    r.consumed = in.consumed();
    return r;
}

std::string TypeOf(const std::string &boundary = kBoundary)
{
    return "multipart/form-data; boundary=" + boundary;
}

class CgiMultipart : public ::testing::Test {
protected:
    testsupport::TempDir dir{"cgihtml"};
    const char *upload() const { return dir.path().c_str(); }
    bool Exists(const std::string &path) const
    {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }
};

TEST_F(CgiMultipart, BrowserForm)
{
    std::string body = "preamble that is skipped\r\n" + Field("p", "0") + Field("a", "alpha host") +
                       Field("text", "line one\r\nline two\r\n") +
                       FilePart("doc", "report.txt", "file\r\ncontent") + FilePart("empty", "", "") +
                       Field("last", "") + Close();
    Result r = Parse(body, TypeOf(), upload());
    ASSERT_EQ(r.error, CGI_OK);
    EXPECT_EQ(r.pairs, (Pairs{{"p", "0"},
                              {"a", "alpha host"},
                              {"text", "line one\r\nline two\r\n"},
                              {"doc", "report.txt"},
                              {"empty", ""},
                              {"last", ""}}));
    EXPECT_EQ(r.count, 6);
    EXPECT_EQ(testsupport::ReadFile(dir.file("report.txt")), "file\r\ncontent");
    struct stat st;
    ASSERT_EQ(::stat(dir.file("report.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(CgiMultipart, ValueFormsAndLineLengths)
{
    struct Case {
        const char *what;
        std::string value;
    } cases[] = {
        {"empty value", ""},
        {"CR LF only", "\r\n"},
        {"lone CR at the end", "abc\r"},
        {"LF inside", "a\nb"},
        {"511 bytes, CR split from LF by the line reader", std::string(511, 'x')},
        {"510 bytes", std::string(510, 'y')},
        {"512 bytes", std::string(512, 'z')},
        {"long line", std::string(5000, 'w')},
        {"boundary text inside a line", std::string("x--") + kBoundary + "--"},
        {"boundary text at a line start but more behind", std::string("--") + kBoundary + "x"},
        {"delimiter with blank behind", std::string("--") + kBoundary + " "},
    };
    for (const Case &c : cases) {
        Result r = Parse(Field("v", c.value) + Close(), TypeOf(), upload());
        EXPECT_EQ(r.error, CGI_OK) << c.what;
        EXPECT_EQ(r.pairs, (Pairs{{"v", c.value}})) << c.what;
    }
}

TEST_F(CgiMultipart, LfLineEndings)
{
    std::string b = "xyz";
    std::string body =
        "--xyz\nContent-Disposition: form-data; name=\"a\"\n\none\ntwo\n--xyz\n"
        "Content-Disposition: form-data; name=\"b\"\n\n2\n--xyz--\n";
    Result r = Parse(body, TypeOf(b), upload());
    EXPECT_EQ(r.pairs, (Pairs{{"a", "one\ntwo"}, {"b", "2"}}));
}

TEST_F(CgiMultipart, DispositionParameters)
{
    struct Case {
        const char *what;
        std::string header;
        Pairs expected;
    } cases[] = {
        {"name after filename",
         "Content-Disposition: form-data; filename=\"f.txt\"; name=\"x\"",
         {{"x", "f.txt"}}},
        {"unquoted name", "Content-Disposition: form-data; name=x", {{"x", "v"}}},
        {"header in other case", "content-disposition: form-data; NAME=\"x\"", {{"x", "v"}}},
        {"no name", "Content-Disposition: form-data", {}},
        {"short line", "Content-Disposition: x", {}},
        {"name without closing quote", "Content-Disposition: form-data; name=\"x", {}},
        {"semicolon inside quotes", "Content-Disposition: form-data; name=\"a;b\"", {{"a;b", "v"}}},
        {"empty name", "Content-Disposition: form-data; name=\"\"", {{"", "v"}}},
        {"no disposition line", "Content-Type: text/plain", {}},
    };
    for (const Case &c : cases) {
        std::string body = std::string("--") + kBoundary + "\r\n" + c.header +
                           "\r\nContent-Type: text/plain\r\n\r\nv\r\n" + Close();
        Result r = Parse(body, TypeOf(), nullptr);
        EXPECT_EQ(r.error, CGI_OK) << c.what;
        EXPECT_EQ(r.pairs, c.expected) << c.what;
    }
}

TEST_F(CgiMultipart, DispositionSecondHeaderLine)
{
    std::string body = std::string("--") + kBoundary +
                       "\r\nContent-Type: text/plain\r\n"
                       "Content-Disposition: form-data; name=\"late\"\r\n\r\nv\r\n" +
                       Close();
    EXPECT_EQ(Parse(body, TypeOf(), nullptr).pairs, (Pairs{{"late", "v"}}));
}

TEST_F(CgiMultipart, NothingAfterTheClosingDelimiter)
{
    std::string body = Field("a", "1") + Close() + Field("evil", "x") + Close();
    Result r = Parse(body, TypeOf(), upload());
    EXPECT_EQ(r.pairs, (Pairs{{"a", "1"}}));
    EXPECT_EQ(r.consumed, static_cast<long>((Field("a", "1") + Close()).size()));
}

TEST_F(CgiMultipart, BoundaryMissingOrUnusable)
{
    std::string body = Field("a", "1") + Close();
    for (const std::string &type :
         {std::string("multipart/form-data"), std::string("multipart/form-data; boundary="),
          std::string("multipart/form-data; boundary=\"unclosed"),
          "multipart/form-data; boundary=" + std::string(10240, 'B')}) {
        Result r = Parse(body, type, upload());
        EXPECT_EQ(r.error, CGI_OK) << type.substr(0, 60);
        EXPECT_EQ(r.count, 0);
        EXPECT_TRUE(r.pairs.empty());
        EXPECT_EQ(r.consumed, 0) << "the body is not read";
    }
}

TEST_F(CgiMultipart, LongBoundaryBodyGivesNoEntries)
{
    // A 10 KB boundary cannot form a delimiter line, whatever the body holds.
    std::string boundary(10240, 'B');
    std::string body = Field("a", "1", boundary) + Close(boundary);
    EXPECT_TRUE(Parse(body, TypeOf(boundary), upload()).pairs.empty());
}

TEST_F(CgiMultipart, BoundaryForms)
{
    std::string body = Field("a", "1", "abc") + Close("abc");
    for (const char *type :
         {"multipart/form-data; boundary=abc", "multipart/form-data; boundary=\"abc\"",
          "multipart/form-data; boundary=abc; charset=utf-8", "multipart/form-data; boundary=abc  "}) {
        EXPECT_EQ(Parse(body, type, upload()).pairs, (Pairs{{"a", "1"}})) << type;
    }
    // The longest boundary that fits one delimiter line still works.
    std::string longest(506, 'L');
    EXPECT_EQ(Parse(Field("a", "1", longest) + Close(longest), TypeOf(longest), upload()).pairs,
              (Pairs{{"a", "1"}}));
}

TEST_F(CgiMultipart, TruncatedBodies)
{
    std::string full = Field("a", "1") + Field("b", "second value") + Close();
    // Cut inside the value of b: a is complete, b keeps what arrived.
    std::string cut = full.substr(0, full.find("second") + 3);
    EXPECT_EQ(Parse(cut, TypeOf(), upload()).pairs, (Pairs{{"a", "1"}, {"b", "sec"}}));
    // Cut inside the headers of b: the part gives nothing.
    cut = full.substr(0, full.find("name=\"b") + 3);
    EXPECT_EQ(Parse(cut, TypeOf(), upload()).pairs, (Pairs{{"a", "1"}}));
    // Every prefix parses without failing.
    for (size_t n = 0; n <= full.size(); ++n)
        EXPECT_EQ(Parse(full.substr(0, n), TypeOf(), upload()).error, CGI_OK) << n;
}

TEST_F(CgiMultipart, ContentLengthBoundsTheBody)
{
    std::string first = Field("a", "1");
    std::string body = first + Field("b", "2") + Close();
    std::string length = std::to_string(first.size());
    Result r = Parse(body, TypeOf(), upload(), length.c_str());
    EXPECT_EQ(r.pairs, (Pairs{{"a", "1\r\n"}}));  // the delimiter after it was not read
    EXPECT_EQ(r.consumed, static_cast<long>(first.size()));

    EXPECT_EQ(Parse(body, TypeOf(), upload(), "-5").error, CGI_ERR_BAD_LENGTH);
    EXPECT_EQ(Parse(body, TypeOf(), upload(), "2000000").error, CGI_ERR_BAD_LENGTH);
}

TEST_F(CgiMultipart, ContentLengthUnsetReadsNothing)
{
    Stream in(Field("a", "1") + Close());
    std::string type = TypeOf();
    CgiRequest request;
    request.contentType = type.c_str();
    request.in = in.get();
    List list;
    CgiListInsertAfter(&list.head, nullptr, "kept", "1");
    CgiEntry *before = list.head;
    int count = -1;
    EXPECT_EQ(CgiParseMultipartFrom(request, &list.head, &count), CGI_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(list.head, before);
    EXPECT_EQ(in.consumed(), 0);
}

TEST_F(CgiMultipart, UploadNamesStayInTheUploadDirectory)
{
    struct Case {
        const char *client;
        const char *stored;  // null: no file
    } cases[] = {
        {"../escape.txt", "escape.txt"},
        {"../../../../../etc/cron.d/job", "job"},
        {"/etc/passwd", "passwd"},
        {"C:\\Users\\me\\win.txt", "win.txt"},
        {"dir/", nullptr},
        {"..", nullptr},
        {".", nullptr},
        {"a/..", nullptr},
        {"", nullptr},
    };
    testsupport::TempDir outer{"cgihtml-outer"};
    std::string inner = outer.file("uploads");
    ASSERT_EQ(::mkdir(inner.c_str(), 0700), 0);
    for (const Case &c : cases) {
        Result r = Parse(FilePart("f", c.client, "DATA") + Close(), TypeOf(), inner.c_str());
        EXPECT_EQ(r.error, CGI_OK) << c.client;
        EXPECT_EQ(r.pairs, (Pairs{{"f", c.client}})) << c.client;
        if (c.stored != nullptr) {
            std::string path = inner + "/" + c.stored;
            EXPECT_EQ(testsupport::ReadFile(path), "DATA") << c.client;
            ::unlink(path.c_str());
        }
    }
    EXPECT_FALSE(Exists(outer.file("escape.txt")));
    // Nothing else was left behind in the upload directory.
    EXPECT_EQ(::rmdir(inner.c_str()), 0);
}

TEST_F(CgiMultipart, UploadNeverReplacesOrFollows)
{
    testsupport::WriteFile(dir.file("exists.txt"), "old");
    Result r = Parse(Field("a", "1") + FilePart("f", "exists.txt", "new") + Close(), TypeOf(), upload());
    EXPECT_EQ(r.error, CGI_ERR_UPLOAD);
    EXPECT_EQ(testsupport::ReadFile(dir.file("exists.txt")), "old");

    testsupport::TempDir other{"cgihtml-target"};
    std::string target = other.file("target");
    testsupport::WriteFile(target, "precious");
    ASSERT_EQ(::symlink(target.c_str(), dir.file("link.txt").c_str()), 0);
    r = Parse(FilePart("f", "link.txt", "overwritten") + Close(), TypeOf(), upload());
    EXPECT_EQ(r.error, CGI_ERR_UPLOAD);
    EXPECT_EQ(testsupport::ReadFile(target), "precious");

    // A dangling link is not followed either.
    ASSERT_EQ(::symlink(other.file("new").c_str(), dir.file("dangling.txt").c_str()), 0);
    r = Parse(FilePart("f", "dangling.txt", "x") + Close(), TypeOf(), upload());
    EXPECT_EQ(r.error, CGI_ERR_UPLOAD);
    EXPECT_FALSE(Exists(other.file("new")));
}

TEST_F(CgiMultipart, NoUploadDirectoryKeepsEntriesOnly)
{
    Result r = Parse(FilePart("f", "x.txt", "data") + Close(), TypeOf(), nullptr);
    EXPECT_EQ(r.pairs, (Pairs{{"f", "x.txt"}}));
}

TEST_F(CgiMultipart, BinaryFileContent)
{
    std::string content;
    for (int i = 0; i < 256; ++i)
        content += static_cast<char>(i);
    content += std::string(3000, '\n') + "\r\n\r";
    Result r = Parse(FilePart("bin", "bin.dat", content) + Close(), TypeOf(), upload());
    ASSERT_EQ(r.error, CGI_OK);
    EXPECT_EQ(testsupport::ReadFile(dir.file("bin.dat")), content);
}

TEST_F(CgiMultipart, PartWithoutBlankLine)
{
    // A delimiter straight after the headers ends the part with an empty value.
    std::string body = std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"a\"\r\n" +
                       Field("b", "2") + Close();
    EXPECT_EQ(Parse(body, TypeOf(), nullptr).pairs, (Pairs{{"a", ""}, {"b", "2"}}));
}

}  // namespace
