// dirprobe's start-up against an alpha server that trickles its answer or answers with other
// transaction ids: the compatibility call is given up after its 25 s and the start-up fails as
// on a time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "dirprobe_env.h"
#include "hostile.h"

namespace {

void ExpectStartUpTimesOut(const char *mode)
{
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start(mode, 1.0, 90)) << server.Log();
    testsupport::RunOptions o;
    o.env = {server.RpcMapEnv(), "ALPHAHOST=127.0.0.1", "OMEGAHOST=127.0.0.1", "LDAPNOINIT=1"};
    o.unset = {"TELAMORPCPORT", "TELAMORPCOFFSET", "RPCTRANSPORT", "LOCALHOST", "FAXROOT"};
    o.timeoutMs = 90000;
    auto start = std::chrono::steady_clock::now();
    testsupport::RunResult r = dirprobe_test::RunDirprobe({"4711"}, o);
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("a_get_compat: RPC: Timed out\n"), std::string::npos) << r.out;
    EXPECT_GE(elapsed, 24.0);
    EXPECT_LT(elapsed, 40.0);
}

TEST(DirprobeHostile, TrickledAnswerEndsTheStartUpAfter25Seconds)
{
    ExpectStartUpTimesOut("trickle");
}

TEST(DirprobeHostile, AnswersWithOtherIdsEndTheStartUpAfter25Seconds)
{
    ExpectStartUpTimesOut("foreign");
}

}  // namespace
