// Several threads calling on one handle: the handle's lock serialises the calls, and each
// thread gets the answer to its own request.
#include "rpcrt/rpcrt.h"
#include "rpcrt_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace rpcrt_test;

namespace {

TEST(LockedClientThreads, TwoThreadsOnOneHandleEachGetTheirOwnResults)
{
    rpc_runtime_init();
    TestServer server({kTestProgram});
    ASSERT_TRUE(server.started()) << server.Log();
    std::string port = std::to_string(server.port());
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", port.c_str()}};
    for (const char *proto : {"tcp", "udp"}) {
        CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, proto);
        ASSERT_NE(client, nullptr) << proto;
        constexpr int kCalls = 200;
        std::atomic<int> wrong{0}, failed{0};
        auto worker = [&](int first, int pause) {
            for (int i = 0; i < kCalls; ++i) {
                int value = first + i, result = -1;
                // Every fourth call makes the server pause a millisecond or two (the value), so
                // calls overlap in time; the two threads use different pauses.
                rpcproc_t proc = i % 4 == 0 ? kProcSlowEcho : kProcEcho;
                if (proc == kProcSlowEcho)
                    value = pause + i % 2;
                enum clnt_stat status =
                    tela::clnt_call(client, proc, Xdr(xdr_int), &value, Xdr(xdr_int), &result, {25, 0});
                if (status != RPC_SUCCESS)
                    ++failed;
                else if (result != value)
                    ++wrong;
            }
        };
        std::thread a(worker, 1000000, 1);
        std::thread b(worker, 2000000, 3);
        a.join();
        b.join();
        EXPECT_EQ(failed.load(), 0) << proto;
        EXPECT_EQ(wrong.load(), 0) << proto;
        clnt_destroy(client);
    }
    rpc_runtime_cleanup();
}

}  // namespace
