// The calling thread's request deadline: calls over TCP and UDP and the connect of a TCP client
// end at it, well before their own 25 s; once it has passed, a call returns RPC_TIMEDOUT at
// once and sends nothing; each thread has its own.
#include "rpcrt/rpcrt.h"
#include "rpcrt/rpcrt_testing.h"
#include "rpcrt_helpers.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

using namespace rpcrt_test;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes waiting on the peer's socket, read away.
size_t Drain(int fd)
{
    size_t total = 0;
    char buf[4096];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            return total;
        total += static_cast<size_t>(n);
    }
}

class CallDeadline : public testing::Test {
protected:
    void SetUp() override { rpc_runtime_init(); }
    void TearDown() override
    {
        tela::SetCallDeadline(-1);
        tela::rpcrt_testing::SetCallBoundMs(0);
        rpc_runtime_cleanup();
    }
    // A client of the test program on the loopback port, as clnt_create makes it (25 s).
    static CLIENT *Make(int port, const char *proto)
    {
        const std::string text = std::to_string(port);
        EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", text.c_str()}};
        return tela::clnt_create("127.0.0.1", kTestProgram, 1, proto);
    }
    static enum clnt_stat Null(CLIENT *client)
    {
        return tela::clnt_call(client, kProcNull, Xdr(xdr_void), nullptr, Xdr(xdr_void), nullptr, {60, 0});
    }
};

TEST_F(CallDeadline, CallsEndAtTheDeadlineAndSendNothingAfterIt)
{
    for (const char *proto : {"tcp", "udp"}) {
        const bool tcp = std::string(proto) == "tcp";
        // A peer that takes every request and answers none.
        int listener = testsupport::LoopbackSocket(tcp ? SOCK_STREAM : SOCK_DGRAM);
        ASSERT_GE(listener, 0) << proto;
        CLIENT *client = Make(testsupport::LocalPort(listener), proto);
        ASSERT_NE(client, nullptr) << proto << ": " << clnt_spcreateerror("127.0.0.1");
        int peer = tcp ? accept(listener, nullptr, nullptr) : listener;
        ASSERT_GE(peer, 0) << proto;

        tela::SetCallDeadline(1500);
        auto start = Clock::now();
        EXPECT_EQ(Null(client), RPC_TIMEDOUT) << proto;
        double elapsed = SecondsSince(start);
        EXPECT_GE(elapsed, 1.3) << proto;
        EXPECT_LT(elapsed, 12.0) << proto << ": the handle's 25 s, not the deadline";
        EXPECT_STREQ(clnt_sperror(client, "p"), "p: RPC: Timed out") << proto;
        EXPECT_GT(Drain(peer), 0u) << proto << ": the request was not sent";

        start = Clock::now();
        EXPECT_EQ(Null(client), RPC_TIMEDOUT) << proto;
        EXPECT_LT(SecondsSince(start), 1.0) << proto << ": waited after the deadline";
        EXPECT_STREQ(clnt_sperror(client, "p"), "p: RPC: Timed out") << proto;
        EXPECT_EQ(Drain(peer), 0u) << proto << ": sent after the deadline";

        tela::SetCallDeadline(-1);
        clnt_destroy(client);
        if (tcp)
            close(peer);
        close(listener);
    }
}

TEST_F(CallDeadline, ConnectEndsAtTheDeadline)
{
    // A queue of one, filled: a further connect stalls as to an unreachable host.
    testsupport::SilentListener listener(1);
    listener.Fill();
    tela::SetCallDeadline(1500);
    auto start = Clock::now();
    EXPECT_EQ(Make(listener.port(), "tcp"), nullptr);
    double elapsed = SecondsSince(start);
    EXPECT_EQ(rpc_createerr.cf_stat, RPC_SYSTEMERROR);
    EXPECT_EQ(rpc_createerr.cf_error.re_errno, ETIMEDOUT);
    EXPECT_LT(elapsed, 12.0) << "the connect's 25 s, not the deadline";
    // Once the time is up, no connect is tried at all.
    start = Clock::now();
    EXPECT_EQ(Make(listener.port(), "tcp"), nullptr);
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(rpc_createerr.cf_error.re_errno, ETIMEDOUT);
}

TEST_F(CallDeadline, EachThreadHasItsOwn)
{
    int listener = testsupport::LoopbackSocket(SOCK_STREAM);
    ASSERT_GE(listener, 0);
    tela::SetCallDeadline(0);  // this thread's time is up; the other's is not
    tela::rpcrt_testing::SetCallBoundMs(1000);
    enum clnt_stat status = RPC_SUCCESS;
    double elapsed = 0;
    std::thread other([&] {
        CLIENT *client = Make(testsupport::LocalPort(listener), "tcp");
        if (client == nullptr)
            return;
        auto start = Clock::now();
        status = Null(client);
        elapsed = SecondsSince(start);
        clnt_destroy(client);
    });
    other.join();
    EXPECT_EQ(status, RPC_TIMEDOUT);
    EXPECT_GE(elapsed, 0.9) << "the other thread's call ended at this thread's deadline";
    close(listener);
}

}  // namespace
