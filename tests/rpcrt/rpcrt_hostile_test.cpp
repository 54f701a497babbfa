// The locked call against alpha servers that never finish an answer: each call is given up
// after its total wait, with the time-out's status and text, and the handle stays usable.
// The wait is shortened here; rpcrt_slow_test runs the real 25 s.
#include "hostile.h"
#include "rpcrt/rpcrt.h"
#include "rpcrt/rpcrt_testing.h"
#include "rpcrt_helpers.h"
#include "xdr/alpha.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

using namespace rpcrt_test;

namespace {

using testsupport::SecondsSince;

class HostileServer : public testing::Test {
protected:
    void SetUp() override { rpc_runtime_init(); }
    void TearDown() override
    {
        if (client_ != nullptr)
            clnt_destroy(client_);
        tela::rpcrt_testing::SetCallBoundMs(0);
        rpc_runtime_cleanup();
    }
    // A client for the server's alpha program, as clnt_create makes it (total wait 25 s).
    void Connect(const testsupport::HostileAlpha &server)
    {
        std::string map = "127.0.0.1:" + std::to_string(server.port());
        EnvGuard env{{"TELAMORPCMAP", map.c_str()}, {"TELAMORPCPORT", nullptr}};
        client_ = tela::clnt_create("127.0.0.1", kAlphaProgram, 1, "tcp");
        ASSERT_NE(client_, nullptr);
    }
    // One send-record call; the caller asks for 60 s, the handle's total decides.
    enum clnt_stat Call(s_rec_res *result)
    {
        s_rec_req request;
        memset(&request, 0, sizeof request);
        request.vers = 1;
        strcpy(request.s_rec_req_u.v1.user, "alice");
        memset(result, 0, sizeof *result);
        return tela::clnt_call(client_, 137, Xdr(xdr_s_rec_req), &request, Xdr(xdr_s_rec_res), result,
                               {60, 0});
    }

    CLIENT *client_ = nullptr;
};

TEST_F(HostileServer, EveryAnswerThatNeverEndsIsGivenUpAtTheBound)
{
    struct Case {
        const char *mode;
        double delay;
    } cases[] = {
        {"trickle", 0.2},  // a valid answer, a byte at a time
        {"foreign", 0},    // answers with other transaction ids, for ever
        {"endless", 0},    // a record that never ends
        {"silent", 0},     // no answer at all
    };
    tela::rpcrt_testing::SetCallBoundMs(2000);
    for (const Case &c : cases) {
        testsupport::HostileAlpha server;
        ASSERT_TRUE(server.Start(c.mode, c.delay, 60)) << c.mode << "\n" << server.Log();
        Connect(server);
        s_rec_res result;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Call(&result), RPC_TIMEDOUT) << c.mode;
        double elapsed = SecondsSince(start);
        EXPECT_GE(elapsed, 1.9) << c.mode;
        EXPECT_LT(elapsed, 8.0) << c.mode;
        EXPECT_STREQ(clnt_sperror(client_, "a_get_s_rec_new_1"), "a_get_s_rec_new_1: RPC: Timed out")
            << c.mode;
        clnt_destroy(client_);
        client_ = nullptr;
    }
}

TEST_F(HostileServer, NextCallAfterATimeOutGetsItsOwnAnswer)
{
    // The first answer comes too late (a whole record, then later a part of one): the next call
    // on the same handle passes over what is left of it and decodes its own.
    struct Case {
        const char *mode;
        double delay;
        int chunk;
    } cases[] = {{"slow", 2.0, 1}, {"trickle", 0.1, 100}};
    for (const Case &c : cases) {
        testsupport::HostileAlpha server;
        ASSERT_TRUE(server.Start(c.mode, c.delay, 60, c.chunk)) << c.mode << "\n" << server.Log();
        Connect(server);
        s_rec_res result;
        tela::rpcrt_testing::SetCallBoundMs(1000);
        EXPECT_EQ(Call(&result), RPC_TIMEDOUT) << c.mode;
        tela::rpcrt_testing::SetCallBoundMs(0);  // the handle's own 25 s
        ASSERT_EQ(Call(&result), RPC_SUCCESS) << c.mode;
        EXPECT_EQ(result.record.vers, 1) << c.mode;
        EXPECT_EQ(result.record.s_rec_new_u.v1.job, 4711) << c.mode;
        EXPECT_STREQ(result.record.s_rec_new_u.v1.recipient, "bob@example.com") << c.mode;
        xdr_free(Xdr(xdr_s_rec_res), &result);
        clnt_destroy(client_);
        client_ = nullptr;
    }
}

TEST_F(HostileServer, CallsAfterAReplyCutInsideAUnitOrAFragmentHeaderGetTheirOwnAnswers)
{
    // The first answer comes as a fragment of 32 bytes and a last one; the call gives up after
    // the first `cut` bytes of the stream, the rest arrives later. Cuts: inside the first
    // fragment header, inside the first unit (the transaction id), inside the second header,
    // inside the first unit after it.
    for (int cut : {2, 6, 37, 42}) {
        testsupport::HostileAlpha server;
        ASSERT_TRUE(server.Start("split", 2.0, 60, cut)) << cut << "\n" << server.Log();
        Connect(server);
        s_rec_res result;
        tela::rpcrt_testing::SetCallBoundMs(1000);
        EXPECT_EQ(Call(&result), RPC_TIMEDOUT) << cut;
        // Generous for a busy machine, short of the 25 s a stream out of step would wait.
        tela::rpcrt_testing::SetCallBoundMs(15000);
        for (int i = 0; i < 3; ++i) {
            enum clnt_stat status = Call(&result);
            EXPECT_EQ(status, RPC_SUCCESS)
                << "cut " << cut << ", call " << i << ": " << clnt_sperror(client_, "a_get_s_rec_new_1");
            if (status != RPC_SUCCESS)
                break;
            EXPECT_EQ(result.record.s_rec_new_u.v1.job, 4711) << cut;
            EXPECT_STREQ(result.record.s_rec_new_u.v1.recipient, "bob@example.com") << cut;
            xdr_free(Xdr(xdr_s_rec_res), &result);
        }
        clnt_destroy(client_);
        client_ = nullptr;
    }
}

}  // namespace
