// The test helpers themselves: child runs, ports and server processes.
#include <gtest/gtest.h>

#include "testsupport.h"

using namespace testsupport;

TEST(RunProgram, CapturesOutputsInputAndExitCode)
{
    RunOptions o;
    o.input = "hello\n";
    o.env = {"GREETING=hi"};
    auto r = RunProgram({"sh", "-c", "read x; echo \"$GREETING $x\"; echo oops >&2; exit 3"}, o);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "hi hello\n");
    EXPECT_EQ(r.err, "oops\n");
    EXPECT_FALSE(r.timedOut);
}

// A program that ends without reading its input (a CGI program refusing a request) breaks the
// pipe: the run still ends normally, with the program's exit code.
TEST(RunProgram, ProgramThatLeavesItsInputUnreadEndsTheRunNormally)
{
    RunOptions o;
    o.input = std::string(1 << 20, 'x');
    auto r = RunProgram({"sh", "-c", "echo refused; exit 1"}, o);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "refused\n");
    EXPECT_FALSE(r.timedOut);
}

TEST(RunProgram, KillsAChildThatOverrunsItsTime)
{
    RunOptions o;
    o.timeoutMs = 200;
    auto r = RunProgram({"sleep", "30"}, o);
    EXPECT_TRUE(r.timedOut);
}

TEST(FreePort, HandsOutDistinctBindablePorts)
{
    int a = FreePort(), b = FreePort();
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_NE(a, b);
    int base = FreePortRange(7);
    ASSERT_GT(base, 0);
}

TEST(ServerProcess, WaitsForItsPortAndStopsOnDestruction)
{
    int port = FreePort();
    ASSERT_GT(port, 0);
    pid_t pid;
    {
        ServerProcess p("pyserver");
        ASSERT_TRUE(p.Start({"python3", "-c",
                             "import socket,time\n"
                             "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                             "s.bind(('127.0.0.1'," +
                                 std::to_string(port) +
                                 ")); s.listen(5)\n"
                                 "print('listening', flush=True)\n"
                                 "time.sleep(60)\n"}));
        ASSERT_TRUE(p.WaitTcp(port, 10000)) << p.Log();
        EXPECT_NE(p.Log().find("listening"), std::string::npos);
        pid = p.pid();
    }
    EXPECT_NE(kill(pid, 0), 0);
}

TEST(ServerProcess, ReportsAProcessThatDiesBeforeItIsReady)
{
    ServerProcess p("quitter");
    ASSERT_TRUE(p.Start({"sh", "-c", "echo bad config; exit 1"}));
    EXPECT_FALSE(p.WaitUntil([] { return false; }, 5000));
    EXPECT_NE(p.Log().find("bad config"), std::string::npos);
}
