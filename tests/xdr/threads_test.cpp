// The re-entrant wrappers on several threads: each thread decodes into its own result, and
// calls on one shared handle go one after the other (a request interleaved with another on
// the stream would not decode at the server, and its caller would see an error).
#include "stub_server.h"

#include "xdr/fieldtext.h"
#include "xdr/wrappers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace xdrtest;

constexpr int kCalls = 200;

class WrapperThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        rpc_runtime_init();
        server = StubServer::Get();
        ASSERT_NE(server, nullptr);
        server->Reset();
        server->Answer(kAlpha, 117,
                       Wire().u32(0).str36("alpha2").str11("u0042").str11("").str36("").i32(0).i16(0));
        server->Answer(kAlpha, 144, Wire().i16(0).str81("value-144"));
    }

    // Calls 117 kCalls times on clnt; counts the answers that came back right.
    static void Routes(CLIENT *clnt, std::atomic<int> *good)
    {
        route_req req = {};
        req.vers = 1;
        std::memcpy(req.route_req_u.v1.line_id, "4711", 4);
        for (int i = 0; i < kCalls; ++i) {
            route_res res;
            if (a_apply_route_new_r1(clnt, &req, &res) == 0 && res.vers == 0 &&
                tela::FieldText(res.route_res_u.v0.user) == "u0042")
                ++*good;
        }
    }
    static void Properties(CLIENT *clnt, std::atomic<int> *good)
    {
        usrconf_new_req req = {};
        req.vers = 1;
        std::memcpy(req.usrconf_new_req_u.v1.key, "GD_IMU", 6);
        for (int i = 0; i < kCalls; ++i) {
            usrconf_new_res res;
            if (a_get_usrconf_new_r1(clnt, &req, &res) == 0 && tela::FieldText(res.value) == "value-144")
                ++*good;
        }
    }

    StubServer *server = nullptr;
};

TEST_F(WrapperThreads, OwnHandlesInParallel)
{
    Client a(ConnectTo(kAlpha)), b(ConnectTo(kAlpha));
    ASSERT_TRUE(a && b);
    std::atomic<int> routes{0}, props{0};
    std::thread t1(Routes, a.get(), &routes);
    std::thread t2(Properties, b.get(), &props);
    t1.join();
    t2.join();
    EXPECT_EQ(routes.load(), kCalls);
    EXPECT_EQ(props.load(), kCalls);
}

TEST_F(WrapperThreads, OneSharedHandle)
{
    Client a(ConnectTo(kAlpha));
    ASSERT_TRUE(a);
    std::atomic<int> routes{0}, props{0};
    std::thread t1(Routes, a.get(), &routes);
    std::thread t2(Properties, a.get(), &props);
    t1.join();
    t2.join();
    EXPECT_EQ(routes.load(), kCalls);
    EXPECT_EQ(props.load(), kCalls);
    EXPECT_EQ(server->Calls().size(), 2u * kCalls);
}

}  // namespace
