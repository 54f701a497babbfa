// Job files and configuration error texts against the simulated alpha server. The program runs
// with TELAMORPCOFFSET set and the server registers the moved program numbers, so every call
// here also proves that the creators apply the offset.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "mailtrack/exterror.h"
#include "mailtrack/gwutils.h"
#include "mailtrack/jobfiles.h"
#include "simserver.h"
#include "simsuite.h"
#include "testsupport.h"

using testsupport::ReadFile;
using testsupport::SimRequest;
using testsupport::SimServer;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const char kFixture[] = R"({
  "logs": [
    {"user": "abcdefghij", "kind": 0, "job": 1, "count": 25, "cursor_start": 500, "cursor_step": 3},
    {"user": "u", "kind": 0, "job": 2, "lines": []},
    {"user": "u", "kind": 0, "job": 3, "ok": 0},
    {"user": "u", "kind": 0, "job": 4, "count": 12, "cursor_start": 0, "cursor_step": -2},
    {"user": "u", "kind": 5, "job": 6, "lines": ["job six"]}
  ],
  "jobs": [
    {"user": "u", "kind": 5, "job": 6, "pages": [
      {"page": 1, "variants": {"4": {"size": 1024}}},
      {"page": 2, "variants": {"0": {"text": "page two a"}, "4": {"text": "page two e"}}},
      {"page": 3, "variants": {"6": {"text": "page three g"}}}
    ]}
  ],
  "texts": {"$EC_25:": "Value not configured"},
  "faults": []
})";

class JobFiles : public testsupport::SimServerSuite {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(StartServer(kFixture)) << server_->Log();
        InitRuntime();
    }
    void SetUp() override
    {
        client_ = CreateAlphaClient(server_->Host().c_str());
        ASSERT_NE(client_, nullptr) << CreateErrorText(server_->Host().c_str());
        server_->ClearRequests();
    }
    void TearDown() override
    {
        if (client_ != nullptr)
            DestroyClient(client_);
    }
    std::vector<SimRequest> Calls(int proc) { return server_->Calls("alpha", proc); }
    static bool Exists(const std::string &path)
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    }

    CLIENT *client_ = nullptr;
    TempDir dir_{"jobfiles"};
};

TEST_F(JobFiles, LogInBatchesFromTheServersNextLine)
{
    std::string path = dir_.file("log");
    ASSERT_EQ(ExportLog(client_, "abcdefghijKLM", 1, 0, "english_us.8859", path.c_str()), 1);
    std::string expected;
    for (int i = 1; i <= 25; ++i)
        expected += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(ReadFile(path), expected);
    std::vector<SimRequest> calls = Calls(72);
    ASSERT_EQ(calls.size(), 4u);
    const int first[] = {0, 530, 560, 575};
    const int lines[] = {10, 10, 5, 0};
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].args["first_line"], first[i]) << i;
        EXPECT_EQ(calls[i].args["max_lines"], 10) << i;
        EXPECT_EQ(calls[i].args["user"], "abcdefghij") << i;
        EXPECT_EQ(calls[i].line["answer"]["lines"], lines[i]) << i;
    }
}

TEST_F(JobFiles, LogOutcomes)
{
    struct Case {
        int32_t job;
        int result;
        bool fileKept;
        size_t calls;
    } cases[] = {
        {2, 1, true, 1},    // empty log: an empty file
        {3, 0, false, 1},   // refused
        {4, 0, false, 1},   // next_line goes back: never asked again
        {99, 0, false, 1},  // unknown job: ok 0
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        server_->ClearRequests();
        std::string path = dir_.file("log" + std::to_string(i));
        EXPECT_EQ(ExportLog(client_, "u", cases[i].job, 0, "", path.c_str()), cases[i].result) << i;
        EXPECT_EQ(Exists(path), cases[i].fileKept) << i;
        if (cases[i].fileKept) {
            EXPECT_EQ(ReadFile(path), "") << i;
        }
        EXPECT_EQ(Calls(72).size(), cases[i].calls) << i;
    }
    EXPECT_EQ(ExportLog(client_, "u", 2, 0, "", dir_.file("no/dir/log").c_str()), 0);
    EXPECT_EQ(ExportLog(nullptr, "u", 2, 0, "", dir_.file("nullclient").c_str()), 0);
    EXPECT_FALSE(Exists(dir_.file("nullclient")));
}

TEST_F(JobFiles, PartInPieces)
{
    std::string path = dir_.file("part");
    EXPECT_EQ(ExportPart(client_, "u", 6, 5, 1, 4, path.c_str()), JOB_DONE);
    std::string data = ReadFile(path);
    ASSERT_EQ(data.size(), 1024u);
    EXPECT_EQ(static_cast<unsigned char>(data[300]), 300 % 251);
    std::vector<SimRequest> calls = Calls(59);
    ASSERT_EQ(calls.size(), 2u) << "1024 bytes, then a piece of none";
    EXPECT_EQ(calls[0].args["offset"], 0);
    EXPECT_EQ(calls[1].args["offset"], 1024);
    EXPECT_EQ(calls[0].args["max_bytes"], 1024);

    EXPECT_EQ(ExportPart(client_, "u", 6, 5, 1, 5, path.c_str()), JOB_NOT_FOUND);
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(ExportPart(client_, "u", 6, 5, 1, 4, dir_.file("no/dir").c_str()), JOB_CANNOT_CREATE);
    EXPECT_EQ(ExportPart(nullptr, "u", 6, 5, 1, 4, path.c_str()), JOB_SERVER_FAILED);
    EXPECT_FALSE(Exists(path));
}

TEST_F(JobFiles, WholeJobAndDocuments)
{
    std::string base = dir_.file("job");
    int files = -1;
    EXPECT_EQ(ExportJob(client_, "u", 6, 5, base.c_str(), &files), JOB_DONE);
    EXPECT_EQ(files, 6);  // 1e, 2a, 2e, 3g, log, inf
    EXPECT_EQ(ReadFile(base + ".2a"), "page two a");
    EXPECT_EQ(ReadFile(base + ".2e"), "page two e");
    EXPECT_EQ(ReadFile(base + ".3g"), "page three g");
    EXPECT_EQ(ReadFile(base + ".1e").size(), 1024u);
    EXPECT_EQ(ReadFile(base + ".log"), "job six\n");
    EXPECT_EQ(ReadFile(base + ".inf"), std::string("\0\0\0\x10\0\0\0\x11\0\0\0\x40", 12));

    EXPECT_EQ(ExportJob(client_, "u", 77, 5, base.c_str(), &files), JOB_NOT_FOUND);
    EXPECT_EQ(ExportJob(nullptr, "u", 6, 5, base.c_str(), &files), JOB_SERVER_FAILED);

    std::string docs = dir_.file("docs");
    EXPECT_EQ(ExportDocs(client_, "u", 6, 5, 2, 3, docs.c_str()), 1);
    EXPECT_EQ(ReadFile(docs), "page two epage three g") << "variant 4, else variant 6";
    EXPECT_EQ(ExportDocs(client_, "u", 6, 5, -3, 5000, docs.c_str()), 1) << "pages outside are skipped";
    EXPECT_EQ(ReadFile(docs).size(), 1024u + 10 + 12);

    const int32_t flags[] = {0x1, 0x20, 0x40};
    EXPECT_TRUE(JobAnyDocFlag(flags, 3));
    EXPECT_FALSE(JobAnyDocFlag(flags, 2));
}

TEST_F(JobFiles, FailedDocumentsExportLeavesNoFile)
{
    std::string docs = dir_.file("docs");
    ASSERT_EQ(ExportDocs(client_, "u", 6, 5, 2, 3, docs.c_str()), 1);
    ASSERT_TRUE(Exists(docs));
    EXPECT_EQ(ExportDocs(nullptr, "u", 6, 5, 2, 3, docs.c_str()), 0) << "no answer to the page list";
    EXPECT_FALSE(Exists(docs));
    EXPECT_EQ(ExportDocs(client_, "u", 6, 5, 2, 3, dir_.file("no/dir").c_str()), 0);
}

TEST_F(JobFiles, ImportFromTheCurrentDirectory)
{
    WriteFile(dir_.file("msg.log"), "first\nsecond\n");
    WriteFile(dir_.file("msg.2c"), std::string(1500, 'z'));
    WriteFile(dir_.file("msg.inf"), "ignored");
    WriteFile(dir_.file("other.1a"), "other job");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    int32_t job = 0;
    int files = 0;
    int result = ImportJob(client_, "importer12345", "msg", 0, &job, &files);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(result, JOB_DONE);
    EXPECT_EQ(job, 9001);
    EXPECT_EQ(files, 2);

    std::vector<SimRequest> created = Calls(3);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].args["user"], "importer12");
    std::vector<SimRequest> lines = Calls(22);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].args["line"], "first");
    EXPECT_EQ(lines[0].args["line_len"], 6);
    EXPECT_EQ(lines[0].args["kind"], 2);
    EXPECT_EQ(lines[1].args["job"], 9001);
    std::vector<SimRequest> pieces = Calls(60);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].args["page"], 2);
    EXPECT_EQ(pieces[0].args["variant"], 2);
    EXPECT_EQ(pieces[1].args["offset"], 1024);
    EXPECT_EQ(pieces[1].args["count"], 476);

    EXPECT_EQ(ImportJob(client_, "", "msg", 0, &job, &files), JOB_NO_USER);
    EXPECT_EQ(ImportJob(client_, "u", dir_.file("missing/msg").c_str(), 0, &job, &files), JOB_CANNOT_OPEN);
    EXPECT_EQ(ImportLog(client_, "u", 1, dir_.file("none").c_str()), JOB_CANNOT_OPEN);
    EXPECT_EQ(ImportPart(client_, "u", 1, 1, 0, dir_.file("none").c_str()), JOB_CANNOT_OPEN);
}

TEST_F(JobFiles, ImportReadsAPageExtensionAsNumberAndLetter)
{
    struct Case {
        const char *extension;
        int page;  // -1: the file is skipped
        int variant;
    } cases[] = {
        {"12345a", 12345, 0},                                  // a page number of any length
        {"2c", 2, 2},         {"10q", 10, 16}, {"3ab", 3, 0},  // what follows the letter is not looked at
        {"7", -1, 0},         {"inf", -1, 0},  {"a1", -1, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        TempDir dir("jobpages");
        WriteFile(dir.file(std::string("msg.") + c.extension), "page data");
        server_->ClearRequests();
        int32_t job = 0;
        int files = -1;
        EXPECT_EQ(ImportJob(client_, "u", dir.file("msg").c_str(), 0, &job, &files), JOB_DONE) << c.extension;
        std::vector<SimRequest> pieces = Calls(60);
        if (c.page < 0) {
            EXPECT_EQ(files, 0) << c.extension;
            EXPECT_TRUE(pieces.empty()) << c.extension;
            continue;
        }
        EXPECT_EQ(files, 1) << c.extension;
        EXPECT_EQ(pieces.size(), 1u) << c.extension;
        if (pieces.size() != 1)
            continue;
        EXPECT_EQ(pieces[0].args["page"], c.page) << c.extension;
        EXPECT_EQ(pieces[0].args["variant"], c.variant) << c.extension;
        EXPECT_EQ(pieces[0].args["count"], 9) << c.extension;
    }
}

TEST_F(JobFiles, ConfigurationTextFromAlpha)
{
    SetErrorTextClient(&client_);
    ExtErrorText known(EC_CF | 25);
    EXPECT_STREQ(known.Text(), "CF19: Value not configured");
    ExtErrorText unknown(EC_CF | 26);
    EXPECT_STREQ(unknown.Text(), "CF1a: ") << "an empty answer is an answer: nothing behind the prefix";
    SetErrorTextClient(nullptr);
    std::vector<SimRequest> calls = Calls(73);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args["language"], "english_us.8859");
    EXPECT_EQ(calls[0].args["key_len"], 8) << "the key with its terminator";
    ExtErrorText unregistered(EC_CF | 25);
    EXPECT_STREQ(unregistered.Text(), "CF19: $EC_25:");
    EXPECT_EQ(Calls(73).size(), 2u);
}

TEST(GatewayClient, OneAttemptAtAClosedPort)
{
    // Alpha's slot and omega's (the base plus 5) are both held closed.
    testsupport::ClosedPorts closed(6);
    int port = closed.port();
    ASSERT_NE(port, 0);
    std::string map = "127.0.0.1:" + std::to_string(port);
    const char *saved = getenv("TELAMORPCMAP");
    std::string keep = saved != nullptr ? saved : "";
    setenv("TELAMORPCMAP", map.c_str(), 1);
    EXPECT_EQ(CreateAlphaClient("127.0.0.1"), nullptr);
    EXPECT_STREQ(CreateErrorText("127.0.0.1"), "127.0.0.1: RPC: Remote system error - Connection refused");
    EXPECT_EQ(CreateOmegaClient("127.0.0.1"), nullptr);
    setenv("TELAMORPCMAP", keep.c_str(), 1);
}

}  // namespace
