// CgiReadInput in a child process: the choice of the source, the texts on the standard error and
// the exit codes, with the environment and standard input a web server would give.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using testsupport::RunOptions;
using testsupport::RunResult;

RunResult RunProbe(const std::vector<std::string> &env, const std::string &input = "")
{
    RunOptions options;
    options.clearEnv = true;
    options.env = env;
    options.input = input;
    options.timeoutMs = 20000;
    return testsupport::RunProgram({CGIHTML_PROBE}, options);
}

struct Case {
    const char *what;
    std::vector<std::string> env;
    std::string input;
    int exitCode;
    std::string out;
    std::string err;
};

const std::string kBoundary = "----formdata-tela-1234";
const std::string kMultipartType = "CONTENT_TYPE=multipart/form-data; boundary=" + kBoundary;

std::string Field(const std::string &name, const std::string &value)
{
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

std::string FilePart(const std::string &name, const std::string &file, const std::string &content)
{
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           file + "\"\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n";
}

std::string Close()
{
    return "--" + kBoundary + "--\r\n";
}

std::string LengthOf(const std::string &body)
{
    return "CONTENT_LENGTH=" + std::to_string(body.size());
}

const std::string kInvalidLength = "caught by cgihtml: CONTENT_LENGTH invalid\n";

TEST(CgiReadInputProcess, Dispatch)
{
    const std::string multipart = Field("p", "0") + Field("n", "a\r\nb") + Close();
    const std::string interactiveErr =
        "\n--- cgihtml Interactive Mode ---\n"
        "Enter CGI input string.  Remember to encode appropriate characters.\n"
        "Press ENTER when done:\n\n"
        "\n Input string: p=0&a=x\nString length: 7\n"
        "--- end cgihtml Interactive Mode ---\n\n";
    const Case cases[] = {
        {"GET",
         {"REQUEST_METHOD=GET", "QUERY_STRING=p=0&a=alpha&u=user"},
         "",
         0,
         "count=3\np=0\na=alpha\nu=user\n",
         ""},
        {"GET empty query", {"REQUEST_METHOD=GET", "QUERY_STRING="}, "", 0, "count=0\n", ""},
        {"GET without QUERY_STRING",
         {"REQUEST_METHOD=GET"},
         "",
         1,
         "",
         "caught by cgihtml: QUERY_STRING is null\n"},
        {"POST",
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=9"},
         "p=0&r=12&ignored",
         0,
         "count=2\np=0\nr=12\n",
         ""},
        {"POST without CONTENT_LENGTH",
         {"REQUEST_METHOD=POST"},
         "p=0",
         1,
         "",
         "caught by cgihtml: CONTENT_LENGTH is null\n"},
        {"POST short body",
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=100"},
         "p=0",
         1,
         "",
         "caught by cgihtml: input length < CONTENT_LENGTH\n"},
        {"POST negative length", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=-1"}, "p=0", 1, "", kInvalidLength},
        {"POST text length", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=abc"}, "p=0", 1, "", kInvalidLength},
        {"POST empty length", {"REQUEST_METHOD=POST", "CONTENT_LENGTH="}, "p=0", 1, "", kInvalidLength},
        {"POST huge length",
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=4294967296"},
         "p=0",
         1,
         "",
         kInvalidLength},
        {"POST above the bound",
         {"REQUEST_METHOD=POST", "CONTENT_LENGTH=1048577"},
         "p=0",
         1,
         "",
         kInvalidLength},
        {"method in lower case",
         {"REQUEST_METHOD=get", "QUERY_STRING=p=0"},
         "",
         1,
         "",
         "caught by cgihtml: REQUEST_METHOD invalid\n"},
        {"other method",
         {"REQUEST_METHOD=PUT", "QUERY_STRING=p=0"},
         "",
         1,
         "",
         "caught by cgihtml: REQUEST_METHOD invalid\n"},
        {"empty method", {"REQUEST_METHOD="}, "", 1, "", "caught by cgihtml: REQUEST_METHOD invalid\n"},
        {"interactive", {}, "p=0&a=x\nmore", 0, "count=2\np=0\na=x\n", interactiveErr},
        {"multipart before the method",
         {"REQUEST_METHOD=PUT", kMultipartType, LengthOf(multipart)},
         multipart,
         0,
         "count=2\np=0\nn=a\\r\\nb\n",
         ""},
        {"multipart without CONTENT_LENGTH",
         {"REQUEST_METHOD=POST", kMultipartType},
         multipart,
         0,
         "count=0\n",
         ""},
        {"multipart with invalid CONTENT_LENGTH",
         {"REQUEST_METHOD=POST", kMultipartType, "CONTENT_LENGTH=12x"},
         multipart,
         1,
         "",
         kInvalidLength},
        {"multipart without boundary",
         {"REQUEST_METHOD=POST", "CONTENT_TYPE=multipart/form-data", LengthOf(multipart)},
         multipart,
         0,
         "count=0\n",
         ""},
        {"multipart with empty file field",
         {"REQUEST_METHOD=POST", kMultipartType, LengthOf(Field("p", "0") + FilePart("f", "", "") + Close())},
         Field("p", "0") + FilePart("f", "", "") + Close(),
         0,
         "count=2\np=0\nf=\n",
         ""},
    };
    for (const Case &c : cases) {
        RunResult r = RunProbe(c.env, c.input);
        EXPECT_FALSE(r.timedOut) << c.what;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << "\nstderr: " << r.err;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
}

// Uploads of the process go to /tmp; the names are unique to this test run.
class CgiUploadToTmp : public ::testing::Test {
protected:
    void SetUp() override { name = "cgihtml-upload-" + std::to_string(::getpid()) + ".txt"; }
    void TearDown() override { ::unlink(("/tmp/" + name).c_str()); }
    std::string name;
};

TEST_F(CgiUploadToTmp, StoredUnderTheLastPathComponent)
{
    std::string body = FilePart("doc", "../../somewhere/" + name, "uploaded\r\ndata") + Close();
    RunResult r = RunProbe({"REQUEST_METHOD=POST", kMultipartType, LengthOf(body)}, body);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "count=1\ndoc=../../somewhere/" + name + "\n");
    EXPECT_EQ(testsupport::ReadFile("/tmp/" + name), "uploaded\r\ndata");
    struct stat st;
    ASSERT_EQ(::lstat(("/tmp/" + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(CgiUploadToTmp, ExistingFileEndsTheProgram)
{
    testsupport::WriteFile("/tmp/" + name, "earlier");
    std::string body = FilePart("doc", name, "later") + Close();
    RunResult r = RunProbe({"REQUEST_METHOD=POST", kMultipartType, LengthOf(body)}, body);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cgihtml Error: cannot upload file\n");
    EXPECT_EQ(testsupport::ReadFile("/tmp/" + name), "earlier");
}

}  // namespace

namespace {

TEST(CgiReadInputProcess, PostOfTheLargestLength)
{
    std::string body;
    for (int i = 0; i < 262144; ++i)
        body += "a=1&";
    ASSERT_EQ(body.size(), 1048576u);
    RunResult r = RunProbe({"REQUEST_METHOD=POST", "CONTENT_LENGTH=1048576"}, body);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "count=262144");
    EXPECT_EQ(r.err, "");
}

}  // namespace
