// The test helpers themselves: child runs, ports and server processes, descriptor capture,
// loopback sockets and the check for a missing tool.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "needtool.h"
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

// What a stream or descriptor write leaves in the capture, for both descriptors, including
// what stdio still held in its buffer when the capture began or ended.
TEST(CaptureFd, TakesWhatTheDescriptorGetsAndRestoresIt)
{
    for (int fd : {1, 2}) {
        FILE *stream = fd == 1 ? stdout : stderr;
        std::string text;
        {
            CaptureFd capture(fd);
            fputs("buffered ", stream);
            ASSERT_EQ(write(fd, "raw ", 4), 4);
            fputs("end\n", stream);
            text = capture.Text();
            // Restored: later writes do not reach it, and Text keeps what it had.
            fputs("", stream);
            EXPECT_EQ(capture.Text(), text);
        }
        // stdout is buffered until the capture flushes it; stderr is not.
        EXPECT_EQ(text, fd == 1 ? "raw buffered end\n" : "buffered raw end\n") << fd;
    }
    // A capture opened and closed without output is empty and leaves no descriptor behind.
    int probe = dup(0);
    ASSERT_GE(probe, 0);
    close(probe);
    {
        CaptureFd capture(2);
        EXPECT_EQ(capture.Text(), "");
    }
    int after = dup(0);
    EXPECT_EQ(after, probe);
    close(after);
}

TEST(LoopbackSocket, StreamAndDatagramOnLoopback)
{
    int listener = LoopbackSocket(SOCK_STREAM);
    ASSERT_GE(listener, 0);
    int port = LocalPort(listener);
    ASSERT_GT(port, 0);
    int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = LoopbackAddress(port);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    int accepted = accept(listener, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    close(accepted);
    close(client);

    // A second stream socket on a port that listens already is refused and says why.
    std::string error;
    errno = 0;
    EXPECT_EQ(LoopbackSocket(SOCK_STREAM, port, 16, htonl(INADDR_LOOPBACK), &error), -1);
    EXPECT_EQ(errno, EADDRINUSE);
    EXPECT_EQ(error, "bind " + std::to_string(port) + ": " + strerror(EADDRINUSE));
    close(listener);

    int udp = LoopbackSocket(SOCK_DGRAM);
    ASSERT_GE(udp, 0);
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in dest = LoopbackAddress(LocalPort(udp));
    ASSERT_EQ(sendto(sender, "x", 1, 0, reinterpret_cast<sockaddr *>(&dest), sizeof dest), 1);
    char got = 0;
    pollfd p = {udp, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_EQ(recv(udp, &got, 1, 0), 1);
    EXPECT_EQ(got, 'x');
    close(sender);
    close(udp);
}

// A silent listener takes connections into its queue and never answers; once filled, a further
// connect does not complete.
TEST(SilentListener, TakesConnectionsAndStallsWhenFull)
{
    SilentListener quiet(4);
    ASSERT_GT(quiet.port(), 0);
    int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = LoopbackAddress(quiet.port());
    EXPECT_EQ(connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    pollfd p = {client, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 200), 0) << "the listener answered";
    close(client);

    SilentListener full(0);
    ASSERT_GT(full.port(), 0);
    full.Fill();
    int late = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in at = LoopbackAddress(full.port());
    EXPECT_EQ(connect(late, reinterpret_cast<sockaddr *>(&at), sizeof at), -1);
    EXPECT_EQ(errno, EINPROGRESS);
    pollfd w = {late, POLLOUT, 0};
    EXPECT_EQ(poll(&w, 1, 300), 0) << "a connect to the full queue completed";
    close(late);
}

namespace {

// Sets CI for one scope (nullptr removes it) and puts the old value back.
class CiScope {
public:
    explicit CiScope(const char *value)
    {
        if (const char *old = getenv("CI"))
            old_ = old;
        if (value)
            setenv("CI", value, 1);
        else
            unsetenv("CI");
    }
    ~CiScope()
    {
        if (old_)
            setenv("CI", old_->c_str(), 1);
        else
            unsetenv("CI");
    }

private:
    std::optional<std::string> old_;
};

void NeedsTool(bool found, bool *ranOn)
{
    *ranOn = false;
    TELA_NEED_TOOL(found, "frobnicator");
    *ranOn = true;
}

// What NeedsTool reported, by the kind of its one result; "none" when it reported nothing.
std::string Outcome(bool found, bool *ranOn)
{
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        NeedsTool(found, ranOn);
    }
    if (results.size() == 0)
        return "none";
    const testing::TestPartResult &r = results.GetTestPartResult(0);
    std::string message = r.message();
    return (r.skipped() ? "skipped: " : r.fatally_failed() ? "failed: " : "other: ") + message;
}

}  // namespace

TEST(NeedTool, SkipsOutsideCiAndFailsInCi)
{
    struct Case {
        const char *ci;
        bool found;
        std::string outcome;
        bool ranOn;
    } cases[] = {
        {nullptr, true, "none", true},
        {nullptr, false, "skipped: frobnicator is not installed", false},
        {"", false, "skipped: frobnicator is not installed", false},
        {"true", false, "failed: Failed\nfrobnicator is not installed, and CI is set: the test cannot skip",
         false},
        {"1", true, "none", true},
    };
    for (const Case &c : cases) {
        CiScope ci(c.ci);
        EXPECT_EQ(InCi(), c.ci != nullptr && *c.ci) << (c.ci ? c.ci : "(unset)");
        bool ranOn = false;
        EXPECT_EQ(Outcome(c.found, &ranOn), c.outcome) << (c.ci ? c.ci : "(unset)") << " " << c.found;
        EXPECT_EQ(ranOn, c.ranOn) << (c.ci ? c.ci : "(unset)") << " " << c.found;
    }
}
