// The 25-second bounds of a client made by clnt_create: the total call time-out against a
// server that never answers, that trickles its answer or answers with other transaction ids,
// and the connect against one that never completes it.
#include "hostile.h"
#include "rpcrt/rpcrt.h"
#include "rpcrt_helpers.h"
#include "xdr/alpha.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

using namespace rpcrt_test;

namespace {

using testsupport::SecondsSince;

TEST(TotalTimeout, ServerThatNeverAnswersIsGivenUpAfter25Seconds)
{
    rpc_runtime_init();
    SilentListener listener;
    ASSERT_GT(listener.port(), 0);
    std::string port = std::to_string(listener.port());
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", port.c_str()}};
    CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp");
    ASSERT_NE(client, nullptr);
    int value = 1, result = 0;
    auto start = std::chrono::steady_clock::now();
    // The caller asks for 60 s; the handle's total of 25 s wins.
    EXPECT_EQ(tela::clnt_call(client, kProcEcho, Xdr(xdr_int), &value, Xdr(xdr_int), &result, {60, 0}),
              RPC_TIMEDOUT);
    double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 24.0);
    EXPECT_LT(elapsed, 59.0);
    clnt_destroy(client);
    rpc_runtime_cleanup();
}

TEST(TotalTimeout, ConnectThatNeverCompletesIsGivenUpAfter25Seconds)
{
    FullListener listener;
    ASSERT_GT(listener.port(), 0);
    std::string port = std::to_string(listener.port());
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", port.c_str()}};
    auto start = std::chrono::steady_clock::now();
    CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp");
    double elapsed = SecondsSince(start);
    EXPECT_EQ(client, nullptr);
    EXPECT_EQ(rpc_createerr.cf_stat, RPC_SYSTEMERROR);
    EXPECT_EQ(rpc_createerr.cf_error.re_errno, ETIMEDOUT);
    EXPECT_GE(elapsed, 24.0);
    EXPECT_LT(elapsed, 60.0);
    if (client != nullptr)
        clnt_destroy(client);
}

// A hostile server of the given mode holds one send-record call for no longer than 25 s.
void ExpectGivenUpAfter25Seconds(const char *mode)
{
    rpc_runtime_init();
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start(mode, 1.0, 90)) << server.Log();
    std::string map = "127.0.0.1:" + std::to_string(server.port());
    EnvGuard env{{"TELAMORPCMAP", map.c_str()}, {"TELAMORPCPORT", nullptr}};
    CLIENT *client = tela::clnt_create("127.0.0.1", kAlphaProgram, 1, "tcp");
    ASSERT_NE(client, nullptr);
    s_rec_req request;
    memset(&request, 0, sizeof request);
    request.vers = 1;
    s_rec_res result;
    memset(&result, 0, sizeof result);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        tela::clnt_call(client, 137, Xdr(xdr_s_rec_req), &request, Xdr(xdr_s_rec_res), &result, {60, 0}),
        RPC_TIMEDOUT);
    double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 24.0);
    EXPECT_LT(elapsed, 40.0);
    EXPECT_STREQ(clnt_sperror(client, "a_get_s_rec_new_1"), "a_get_s_rec_new_1: RPC: Timed out");
    clnt_destroy(client);
    rpc_runtime_cleanup();
}

TEST(TotalTimeout, TrickledAnswerIsGivenUpAfter25Seconds)
{
    ExpectGivenUpAfter25Seconds("trickle");
}

TEST(TotalTimeout, AnswersWithOtherIdsAreGivenUpAfter25Seconds)
{
    ExpectGivenUpAfter25Seconds("foreign");
}

}  // namespace
