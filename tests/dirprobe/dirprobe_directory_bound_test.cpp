// dirprobe against directory hosts that answer the search without end: the run goes on with
// what was read, or as after a lost connection, and its peak memory stays bounded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "dirprobe_env.h"
#include "ldaptest.h"

namespace {

using namespace dirprobe_test;
using testsupport::RunResult;
using testsupport::SimServer;

using testsupport::kMiB;

TEST(DirprobeDirectoryBound, SearchAnswersWithoutEnd)
{
    const struct {
        const char *what;
        ldaptest::FakeLdap::Mode mode;
        size_t entryBytes;
        const char *line;  // in the output
    } cases[] = {
        {"small entries without end", ldaptest::FakeLdap::kEndlessEntries, 200,
         "User ID = mueller, name =  endlessxxx"},
        // The directory search takes messages of up to 1 MiB.
        {"entries of nearly the largest message without end", ldaptest::FakeLdap::kEndlessEntries,
         (1 << 20) - 4096, "User ID = mueller, name =  endlessxxx"},
        {"a message announced as 1 GiB", ldaptest::FakeLdap::kAnnounceHugeMessage, 0,
         "GetLineIDInfo: GetLDAPResult() failed: 0x"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ldaptest::FakeLdap fake(c.mode, 0, 0, c.entryBytes);
        ASSERT_NE(fake.port(), 0);
        json f = BaseFixture();
        f["routes"].push_back(
            {{"line_id", "5001"}, {"route_id", "R5001"}, {"server", "127.0.0.1"}, {"user", "mueller"}});
        f["users"].push_back({{"server", "127.0.0.1"}, {"user", "mueller"}, {"name", "Max Mueller"}});
        f["properties"]["mueller"] = json{{"SG_LDE", "1"},
                                          {"GD_LDH", "127.0.0.1"},
                                          {"GD_LDPRT", std::to_string(fake.port())},
                                          {"GD_LDTO", "5"},
                                          {"GD_LDBAS", std::string(ldaptest::kBase)}};
        SimServer sim;
        ASSERT_TRUE(sim.Start(f.dump())) << sim.Log();
        testsupport::TempDir dir("dirprobe-peak");
        const std::string peakFile = dir.file("peak");
        // Under peakrss, whose child's peak is dirprobe's own.
        RunResult r = testsupport::RunProgram({PEAKRSS_BIN, peakFile, DirprobePath(), "5001"}, RunEnv(sim));
        const long peakKiB = std::atol(testsupport::ReadFile(peakFile).c_str());
        std::printf("%s: peak %ld KiB\n", c.what, peakKiB);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out.substr(0, 4000);
        if (testsupport::kComparePeaks) {
            EXPECT_GT(peakKiB, 0);
            EXPECT_LT(peakKiB, 64 * kMiB);
        }
    }
}

}  // namespace
