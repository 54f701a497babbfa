// A server that answers the record request after the client's 25 s: the report shows the RPC
// library's time-out and still gives its temporary file back.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
