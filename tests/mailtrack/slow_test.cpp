// A server that answers the record request after the client's 25 s, one that trickles its
// answer and one that answers with other transaction ids: the report shows the RPC library's
// time-out after 25 s and still gives its temporary file back. Under lighttpd with the package's
// snippet, a report whose log export never ends ends at the report's own bound of 50 s, below
// the snippet's read time-out; directly too.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>

#include "hostile_env.h"
#include "pages.h"
#include "simserver.h"
#include "testsupport.h"

namespace {

TEST(ReportSlow, RecordRequestTimesOut)
{
    testsupport::SimServer server;
    ASSERT_TRUE(server.StartFile(testsupport::SourceDir() + "/tests/mailtrack/fixtures/report.json"))
        << server.Log();
    testsupport::TempDir tmp("mailtrack-slow");
    testsupport::RunOptions options;
    options.clearEnv = true;
    options.env = {"REQUEST_METHOD=GET", "QUERY_STRING=p=0&a=127.0.0.1&u=alice&r=667&n=x", "TZ=UTC",
                   "TMPDIR=" + tmp.path(), server.RpcMapEnv()};
    testsupport::RunResult r = testsupport::RunProgram({MAILTRACK_BIN}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, pages::ReportError("a_get_s_rec_new_1: RPC: Timed out"));
    EXPECT_EQ(server.Calls("alpha", 137).size(), 1u);
    EXPECT_TRUE(server.Calls("alpha", 72).empty());
    DIR *d = opendir(tmp.path().c_str());
    ASSERT_NE(d, nullptr);
    int entries = 0;
    while (dirent *e = readdir(d))
        entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
    closedir(d);
    EXPECT_EQ(entries, 0);
}

using namespace hostile_env;

// One report against a hostile server of the given mode: the time-out page after about 25 s.
void ExpectTimeOutPage(const char *mode)
{
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start(mode, 1.0, 90)) << server.Log();
    testsupport::TempDir tmp("mailtrack-hostile");
    testsupport::RunOptions options;
    options.clearEnv = true;
    options.env = {"REQUEST_METHOD=GET", "QUERY_STRING=" + Query(), "TZ=UTC", "TMPDIR=" + tmp.path(),
                   server.RpcMapEnv()};
    auto start = Clock::now();
    testsupport::RunResult r = testsupport::RunProgram({MAILTRACK_BIN}, options);
    double elapsed = SecondsSince(start);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, pages::ReportError("a_get_s_rec_new_1: RPC: Timed out"));
    EXPECT_GE(elapsed, 24.0);
    EXPECT_LT(elapsed, 40.0);
    EXPECT_EQ(EntryCount(tmp.path()), 0) << "temporary file left behind";
}

TEST(ReportSlow, TrickledRecordIsGivenUpAfter25Seconds)
{
    ExpectTimeOutPage("trickle");
}

TEST(ReportSlow, AnswersWithOtherIdsAreGivenUpAfter25Seconds)
{
    ExpectTimeOutPage("foreign");
}

TEST_F(HostileWeb, EndlessSlowLogExportIsEndedByTheReadTimeout)
{
    // Every call is answered after 10 s, each within the call's bound, and the log never ends.
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start("slow", 10.0, 120)) << server.Log();
    StartWeb(server);
    auto start = Clock::now();
    testsupport::HttpResponse response =
        testsupport::HttpRequest(web_.port(), "GET", web_.CgiPath("?" + Query()), {}, "", 90000);
    EXPECT_LT(SecondsSince(start), 60.0) << response.error;
    EXPECT_EQ(response.status, 200) << response.error;
    ExpectCutPage(pages::H + response.body, kExportFailed, true, "under lighttpd");
    EXPECT_TRUE(WaitCgiGone(5)) << web_.Log();
    EXPECT_LT(SecondsSince(start), 60.0);
}

TEST(ReportSlow, EndlessSlowLogEndsAtTheReportsBound)
{
    // Every call is answered after 3 s with more lines, for ever: the report ends by itself
    // once its 50 s are up, with the export's error block, and gives its file back.
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start("slow", 3.0, 120)) << server.Log();
    testsupport::TempDir tmp("mailtrack-bound");
    double elapsed = 0;
    testsupport::RunResult r = RunReport(MAILTRACK_BIN, server, tmp.path(), &elapsed);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectCutPage(r.out, kExportFailed, true, "direct");
    EXPECT_GE(elapsed, 49.0);
    EXPECT_LT(elapsed, 60.0);
    EXPECT_EQ(EntryCount(tmp.path()), 0) << "temporary file left behind";
}

}  // namespace
