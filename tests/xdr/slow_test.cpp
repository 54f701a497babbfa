// A server that never answers: the stub gives up after its 25 s time-out.
#include "stub_server.h"

#include "xdr/wrappers.h"

#include <gtest/gtest.h>

namespace {

using namespace xdrtest;

TEST(StubTimeout, NoAnswerWithin25Seconds)
{
    rpc_runtime_init();
    StubServer *server = StubServer::Get();
    ASSERT_NE(server, nullptr);
    server->Do(kAlpha, 75, Action::Silent);
    CLIENT *clnt = ConnectTo(kAlpha);
    ASSERT_NE(clnt, nullptr);
    EXPECT_EQ(a_get_compat_1(nullptr, clnt), nullptr);
    struct rpc_err err;
    CLNT_GETERR(clnt, &err);
    EXPECT_EQ(err.re_status, RPC_TIMEDOUT);
    CLNT_DESTROY(clnt);
}

}  // namespace
