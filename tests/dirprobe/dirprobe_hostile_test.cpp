// dirprobe's start-up against an alpha server that trickles its answer or answers with other
// transaction ids: the compatibility call is given up after its 25 s and the start-up fails as
// on a time-out. In continuous mode, an answer given up in the middle does not spoil the later
// calls on the same alpha client.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "dirprobe_env.h"
#include "hostile.h"
#include "simserver.h"

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

TEST(DirprobeHostile, ContinuousModeResolvesAfterAUserAnswerCutInsideAUnit)
{
    testsupport::SimServer sim;
    ASSERT_TRUE(sim.Start(dirprobe_test::BaseFixture().dump())) << sim.Log();
    // The start-up alpha client ("localhost") reaches the simulated server through the
    // go-between: the first user answer stops after 6 bytes (inside the transaction id), the
    // rest comes after the call's 25 s are up.
    testsupport::HostileAlpha proxy;
    ASSERT_TRUE(proxy.StartProxy(sim.AlphaPort(), 35, 6, 28.0, 150)) << proxy.Log();
    testsupport::RunOptions o = dirprobe_test::RunEnv(sim, "4712\n4711\n000\n");
    o.env[0] = "TELAMORPCMAP=localhost:" + std::to_string(proxy.port()) + ";" + sim.RpcMap();
    o.env[1] = "ALPHAHOST=localhost";
    o.timeoutMs = 120000;
    testsupport::RunResult r = dirprobe_test::RunDirprobe({"-c", "4711"}, o);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    std::string all = r.out + r.err;
    EXPECT_NE(all.find("a_get_o_user_1: RPC: Timed out"), std::string::npos) << all;
    // The first 4711 gave up; 4712 and the second 4711 are resolved in full.
    size_t second = r.out.find("next extension (stop with 000): GetExtensionData 4712 flag 2\n");
    ASSERT_NE(second, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("User ID = asmith, name = Anna Smith\n", second), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("User ID = jdoe, name = John Doe\n", second), std::string::npos) << r.out;
}

}  // namespace
