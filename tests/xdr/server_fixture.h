// A test fixture around the server inside the test program: the server's rules and log
// cleared, one client each for alpha and omega, and the one call the server saw.
#pragma once

#include "rpcrt/rpcrt.h"
#include "stub_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace xdrtest {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rpc_runtime_init();  // also lets a closed connection give an error, not SIGPIPE
        server = StubServer::Get();
        ASSERT_NE(server, nullptr);
        server->Reset();
        alpha.reset(ConnectTo(kAlpha));
        omega.reset(ConnectTo(kOmega));
        ASSERT_TRUE(alpha && omega);
    }
    // The argument bytes of the only call seen.
    Bytes OnlyCall(rpcprog_t prog, rpcproc_t proc)
    {
        std::vector<Seen> calls = server->Calls();
        EXPECT_EQ(calls.size(), 1u);
        if (calls.size() != 1)
            return {};
        EXPECT_EQ(calls[0].prog, prog);
        EXPECT_EQ(calls[0].proc, proc);
        return calls[0].args;
    }

    // One stub call of a procedure-number table.
    struct NumberRow {
        rpcprog_t prog;
        rpcproc_t proc;
        std::function<void *(CLIENT *)> call;
    };
    // Each stub, with no answer set (PROC_UNAVAIL), gives NULL after sending exactly one call of
    // its own program and procedure.
    template <size_t N>
    void ExpectProcedureNumbers(const NumberRow (&rows)[N])
    {
        for (const NumberRow &row : rows) {
            SCOPED_TRACE((row.prog == kAlpha ? "alpha " : "omega ") + std::to_string(row.proc));
            server->Reset();
            EXPECT_EQ(row.call(row.prog == kAlpha ? alpha.get() : omega.get()), nullptr);
            std::vector<Seen> calls = server->Calls();
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].prog, row.prog);
            EXPECT_EQ(calls[0].proc, row.proc);
        }
    }

    StubServer *server = nullptr;
    Client alpha, omega;
};

}  // namespace xdrtest
