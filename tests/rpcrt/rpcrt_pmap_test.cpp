// The portmapper query, against the system's rpcbind and against a recording fake portmapper,
// both on port 111 inside a private network namespace (private_netns.sh).
#include "rpcbind.h"
#include "rpcrt/rpcrt.h"
#include "rpcrt_helpers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace rpcrt_test;

namespace {

constexpr uint32_t kPmapProgram = 100000;

// One get-port request as the fake portmapper received it.
struct Query {
    bool overTcp;
    uint32_t prog, vers, prot, port;
};

uint32_t Get32(const unsigned char *p)
{
    return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

void Put32(std::vector<unsigned char> &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

// What the fake portmapper sends over UDP before its answer: each carries port 1, so that a
// query that takes it is seen.
enum class Noise {
    kNone,
    kOtherXid,      // a reply to another transaction id
    kJunk,          // two bytes
    kOtherAddress,  // the right reply, from 127.0.0.2:111
    kOtherPort,     // the right reply, from another port of 127.0.0.1
};

// A portmapper on 127.0.0.1:111 (UDP and TCP) that decodes each version-2 get-port call by
// hand, records it, and answers with a fixed port, or not at all when silent; over UDP it
// sends `noise` first and its answer 200 ms later.
class FakePortmapper {
public:
    explicit FakePortmapper(int answerPort, bool silent = false, Noise noise = Noise::kNone)
        : answer_(answerPort), silent_(silent), noise_(noise)
    {
        udp_ = LoopbackSocket(SOCK_DGRAM, 111);
        tcp_ = LoopbackSocket(SOCK_STREAM, 111, 8);
        ok_ = udp_ >= 0 && tcp_ >= 0 && pipe(wake_) == 0;
        if (ok_)
            thread_ = std::thread([this] { Serve(); });
    }
    ~FakePortmapper()
    {
        if (thread_.joinable()) {
            (void)!write(wake_[1], "x", 1);
            thread_.join();
        }
        for (int fd : connections_)
            close(fd);
        for (int fd : {udp_, tcp_, wake_[0], wake_[1]})
            if (fd >= 0)
                close(fd);
    }
    bool ok() const { return ok_; }
    std::vector<Query> Queries()
    {
        std::lock_guard<std::mutex> guard(mu_);
        return queries_;
    }

private:
    // The reply to a call, empty when the call is not a portmapper get-port call.
    std::vector<unsigned char> Handle(const unsigned char *p, size_t n, bool overTcp)
    {
        return Handle(p, n, overTcp, static_cast<uint32_t>(answer_), 0, true);
    }
    std::vector<unsigned char> Handle(const unsigned char *p, size_t n, bool overTcp, uint32_t port,
                                      uint32_t xidChange, bool record)
    {
        // xid, CALL, rpcvers 2, prog, vers, proc, then credential and verifier.
        if (n < 24 || Get32(p + 4) != 0 || Get32(p + 8) != 2 || Get32(p + 12) != kPmapProgram ||
            Get32(p + 16) != 2 || Get32(p + 20) != 3)
            return {};
        size_t at = 24;
        for (int i = 0; i < 2; ++i) {
            if (at + 8 > n)
                return {};
            at += 8 + ((Get32(p + at + 4) + 3) & ~3u);
        }
        if (at + 16 > n)
            return {};
        Query q = {overTcp, Get32(p + at), Get32(p + at + 4), Get32(p + at + 8), Get32(p + at + 12)};
        if (record) {
            std::lock_guard<std::mutex> guard(mu_);
            queries_.push_back(q);
        }
        if (silent_)
            return {};
        std::vector<unsigned char> reply;
        Put32(reply, Get32(p) + xidChange);
        Put32(reply, 1);  // REPLY
        Put32(reply, 0);  // MSG_ACCEPTED
        Put32(reply, 0);  // verifier: AUTH_NONE, empty
        Put32(reply, 0);
        Put32(reply, 0);  // SUCCESS
        Put32(reply, port);
        return reply;
    }

    // Sends the noise datagram for a call received from `from`.
    void SendNoise(const unsigned char *p, size_t n, const struct sockaddr_in &from)
    {
        auto sendFrom = [&](int fd, const std::vector<unsigned char> &data) {
            if (fd >= 0)
                sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const struct sockaddr *>(&from),
                       sizeof from);
        };
        auto right = Handle(p, n, false, 1, 0, false);
        switch (noise_) {
        case Noise::kNone:
            break;
        case Noise::kOtherXid:
            sendFrom(udp_, Handle(p, n, false, 1, 1, false));
            break;
        case Noise::kJunk:
            sendFrom(udp_, {0x80, 0x01});
            break;
        case Noise::kOtherAddress: {
            int other = LoopbackSocket(SOCK_DGRAM, 111, 16, htonl(0x7F000002));
            sendFrom(other, right);
            close(other);
            break;
        }
        case Noise::kOtherPort: {
            int other = LoopbackSocket(SOCK_DGRAM, 0);
            sendFrom(other, right);
            close(other);
            break;
        }
        }
        if (noise_ != Noise::kNone)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    void Serve()
    {
        for (;;) {
            std::vector<struct pollfd> fds = {{wake_[0], POLLIN, 0}, {udp_, POLLIN, 0}, {tcp_, POLLIN, 0}};
            for (int fd : connections_)
                fds.push_back({fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
                return;
            if (fds[0].revents != 0)
                return;
            unsigned char buffer[2048];
            if (fds[1].revents & POLLIN) {
                struct sockaddr_in from = {};
                socklen_t len = sizeof from;
                ssize_t n = recvfrom(udp_, buffer, sizeof buffer, 0,
                                     reinterpret_cast<struct sockaddr *>(&from), &len);
                if (n > 0) {
                    SendNoise(buffer, static_cast<size_t>(n), from);
                    auto reply = Handle(buffer, static_cast<size_t>(n), false);
                    if (!reply.empty())
                        sendto(udp_, reply.data(), reply.size(), 0,
                               reinterpret_cast<struct sockaddr *>(&from), len);
                }
            }
            if (fds[2].revents & POLLIN) {
                int fd = accept(tcp_, nullptr, nullptr);
                if (fd >= 0)
                    connections_.push_back(fd);
            }
            for (size_t i = 3; i < fds.size(); ++i) {
                if (fds[i].revents == 0)
                    continue;
                // One record in one fragment is all a get-port call needs.
                ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 4) {
                    close(fds[i].fd);
                    std::erase(connections_, fds[i].fd);
                    continue;
                }
                auto reply = Handle(buffer + 4, static_cast<size_t>(n - 4), true);
                if (!reply.empty()) {
                    std::vector<unsigned char> record;
                    Put32(record, 0x80000000u | static_cast<uint32_t>(reply.size()));
                    record.insert(record.end(), reply.begin(), reply.end());
                    (void)!write(fds[i].fd, record.data(), record.size());
                }
            }
        }
    }

    int answer_;
    bool silent_;
    Noise noise_;
    int udp_ = -1, tcp_ = -1;
    int wake_[2] = {-1, -1};
    bool ok_ = false;
    std::vector<int> connections_;  // used by the serving thread only
    std::mutex mu_;
    std::vector<Query> queries_;
    std::thread thread_;
};

class Portmapper : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::InPrivateNetworkNamespace()) {
            if (testsupport::InCi())
                FAIL() << "needs port 111 (run through tests/rpcrt/private_netns.sh), and CI is set: cannot "
                          "skip";
            GTEST_SKIP() << "needs port 111: run through tests/rpcrt/private_netns.sh";
        }
        rpc_runtime_init();
    }
    void TearDown() override { rpc_runtime_cleanup(); }

    // No port from the environment: the portmapper is asked.
    EnvGuard env_{{"TELAMORPCMAP", nullptr},
                  {"TELAMORPCPORT", nullptr},
                  {"TELAMORPCOFFSET", nullptr},
                  {"RPCTRANSPORT", nullptr}};
};

using testsupport::SecondsSince;

bool EchoWorks(CLIENT *client)
{
    int value = 77, result = 0;
    return tela::clnt_call(client, kProcEcho, Xdr(xdr_int), &value, Xdr(xdr_int), &result, {25, 0}) ==
               RPC_SUCCESS &&
           result == 77;
}

// ---- The system's rpcbind --------------------------------------------------------------------

TEST_F(Portmapper, RpcbindFindsARegisteredServerOverUdpAndTcp)
{
    testsupport::Rpcbind rpcbind;
    ASSERT_TRUE(rpcbind.Start()) << rpcbind.Log();
    TestServer server({kTestProgram}, true);
    ASSERT_TRUE(server.started()) << server.Log();
    for (const char *transport : {static_cast<const char *>(nullptr), "tcp", "TCP"}) {
        EnvGuard env{{"RPCTRANSPORT", transport}};
        const char *query = transport != nullptr ? transport : "(unset)";
        for (const char *proto : {"tcp", "udp"}) {
            CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, proto);
            ASSERT_NE(client, nullptr)
                << proto << " via " << query << ": " << clnt_spcreateerror("127.0.0.1");
            EXPECT_TRUE(EchoWorks(client)) << proto << " via " << query;
            clnt_destroy(client);
        }
        struct sockaddr_in addr = LoopbackAddress(4242);
        EXPECT_EQ(tela::pmap_getport(&addr, kTestProgram, 1, IPPROTO_TCP), server.port()) << query;
        EXPECT_EQ(addr.sin_port, 0) << query;
    }
}

TEST_F(Portmapper, RpcbindReportsAProgramThatIsNotRegistered)
{
    testsupport::Rpcbind rpcbind;
    ASSERT_TRUE(rpcbind.Start()) << rpcbind.Log();
    for (const char *transport : {static_cast<const char *>(nullptr), "tcp"}) {
        EnvGuard env{{"RPCTRANSPORT", transport}};
        rpc_createerr.cf_stat = RPC_SUCCESS;
        EXPECT_EQ(tela::clnt_create("127.0.0.1", kTestProgram + 7, 1, "tcp"), nullptr);
        EXPECT_EQ(rpc_createerr.cf_stat, RPC_PROGNOTREGISTERED);
        EXPECT_EQ(std::string(clnt_spcreateerror("127.0.0.1")), "127.0.0.1: RPC: Program not registered");
    }
}

// ---- What the query sends, seen by a fake portmapper ------------------------------------------

TEST_F(Portmapper, QueryTransportFollowsRpcTransport)
{
    struct Case {
        const char *value;
        bool overTcp;
    } cases[] = {
        {nullptr, false}, {"tcp", true},  {"TCP", true}, {"tCp", true},
        {"tcp ", false},  {"udp", false}, {"", false},   {"tcp6", false},
    };
    for (const Case &c : cases) {
        FakePortmapper fake(0);
        ASSERT_TRUE(fake.ok());
        EnvGuard env{{"RPCTRANSPORT", c.value}};
        const char *shown = c.value != nullptr ? c.value : "(unset)";
        EXPECT_EQ(tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp"), nullptr) << shown;
        EXPECT_EQ(rpc_createerr.cf_stat, RPC_PROGNOTREGISTERED) << shown;
        auto queries = fake.Queries();
        ASSERT_EQ(queries.size(), 1u) << shown;
        EXPECT_EQ(queries[0].overTcp, c.overTcp) << "RPCTRANSPORT=\"" << shown << "\"";
    }
}

TEST_F(Portmapper, QueryAsksForTheProgramWithItsOffsetAndTheClientsProtocol)
{
    EnvGuard env{{"TELAMORPCOFFSET", "100"}};
    struct Case {
        const char *proto;
        uint32_t prot;
    } cases[] = {{"tcp", 6}, {"udp", 17}};
    for (const Case &c : cases) {
        FakePortmapper fake(0);
        ASSERT_TRUE(fake.ok());
        // What RpcProgramNumber gives for omega with an offset of 100.
        EXPECT_EQ(tela::clnt_create("127.0.0.1", kOmegaProgram + 100, 1, c.proto), nullptr);
        auto queries = fake.Queries();
        ASSERT_EQ(queries.size(), 1u) << c.proto;
        EXPECT_FALSE(queries[0].overTcp);
        EXPECT_EQ(queries[0].prog, kOmegaProgram + 100) << c.proto;
        EXPECT_EQ(queries[0].vers, 1u) << c.proto;
        EXPECT_EQ(queries[0].prot, c.prot) << c.proto;
        EXPECT_EQ(queries[0].port, 0u) << c.proto;
    }
}

TEST_F(Portmapper, PortFromTheEnvironmentSendsNoQuery)
{
    TestServer server({kAlphaProgram});
    ASSERT_TRUE(server.started()) << server.Log();
    FakePortmapper fake(1);  // a wrong answer: using it would fail the calls
    ASSERT_TRUE(fake.ok());
    std::string port = std::to_string(server.port());
    std::string map = "localhost:1;127.0.0.1:" + port;
    struct Case {
        const char *map;
        const char *base;
    } cases[] = {{map.c_str(), nullptr}, {map.c_str(), "1"}, {nullptr, port.c_str()}};
    for (const Case &c : cases) {
        EnvGuard env{{"TELAMORPCMAP", c.map}, {"TELAMORPCPORT", c.base}};
        CLIENT *client = tela::clnt_create("127.0.0.1", kAlphaProgram, 1, "tcp");
        ASSERT_NE(client, nullptr) << clnt_spcreateerror("127.0.0.1");
        EXPECT_TRUE(EchoWorks(client));
        clnt_destroy(client);
    }
    EXPECT_EQ(fake.Queries().size(), 0u);

    // A map that does not name the host: the portmapper is asked, TELAMORPCPORT notwithstanding.
    EnvGuard env{{"TELAMORPCMAP", "localhost:1"}, {"TELAMORPCPORT", port.c_str()}};
    CLIENT *client = tela::clnt_create("127.0.0.1", kAlphaProgram, 1, "tcp");
    EXPECT_EQ(fake.Queries().size(), 1u);
    if (client != nullptr)
        clnt_destroy(client);
}

TEST_F(Portmapper, AnsweredPortIsUsed)
{
    TestServer server({kTestProgram});
    ASSERT_TRUE(server.started()) << server.Log();
    FakePortmapper fake(server.port());
    ASSERT_TRUE(fake.ok());
    for (const char *proto : {"tcp", "udp"}) {
        CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, proto);
        ASSERT_NE(client, nullptr) << proto << ": " << clnt_spcreateerror("127.0.0.1");
        EXPECT_TRUE(EchoWorks(client)) << proto;
        clnt_destroy(client);
    }
    EXPECT_EQ(fake.Queries().size(), 2u);
}

TEST_F(Portmapper, UdpQueryPassesOverDatagramsThatAreNotItsAnswer)
{
    struct Case {
        Noise noise;
        const char *what;
    } cases[] = {{Noise::kOtherXid, "another transaction id"},
                 {Noise::kJunk, "two junk bytes"},
                 {Noise::kOtherAddress, "from 127.0.0.2"},
                 {Noise::kOtherPort, "from another port"}};
    for (const Case &c : cases) {
        FakePortmapper fake(4711, false, c.noise);
        ASSERT_TRUE(fake.ok());
        struct sockaddr_in addr = LoopbackAddress(0);
        rpc_createerr.cf_stat = RPC_SUCCESS;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(tela::pmap_getport(&addr, kTestProgram, 1, IPPROTO_TCP), 4711)
            << c.what << ": " << clnt_spcreateerror("127.0.0.1");
        EXPECT_LT(SecondsSince(start), 10.0) << c.what;
        EXPECT_EQ(rpc_createerr.cf_stat, RPC_SUCCESS) << c.what;
        EXPECT_EQ(fake.Queries().size(), 1u) << c.what;
    }
}

TEST_F(Portmapper, SilentPortmapperIsGivenUpAfterThreeSeconds)
{
    for (const char *transport : {static_cast<const char *>(nullptr), "tcp"}) {
        EnvGuard env{{"RPCTRANSPORT", transport}};
        const char *shown = transport != nullptr ? transport : "(unset)";
        // Counted without the fake's own descriptors (it lives in this process).
        int fdsBefore = OpenDescriptorCount();
        {
            FakePortmapper fake(0, true);
            ASSERT_TRUE(fake.ok());
            auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp"), nullptr) << shown;
            double elapsed = SecondsSince(start);
            EXPECT_EQ(rpc_createerr.cf_stat, RPC_PMAPFAILURE) << shown;
            EXPECT_EQ(rpc_createerr.cf_error.re_status, RPC_TIMEDOUT) << shown;
            EXPECT_EQ(std::string(clnt_spcreateerror("127.0.0.1")),
                      "127.0.0.1: RPC: Port mapper failure - Timed out")
                << shown;
            // About 3 s, not the 25 s of a call.
            EXPECT_GE(elapsed, 2.5) << shown;
            EXPECT_LT(elapsed, 10.0) << shown;
            EXPECT_EQ(fake.Queries().size(), 1u) << shown;
        }
        EXPECT_EQ(OpenDescriptorCount(), fdsBefore) << shown;
    }
}

TEST_F(Portmapper, NothingOnPort111)
{
    {
        // Over UDP the refusal comes back at once.
        EXPECT_EQ(tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp"), nullptr);
        EXPECT_EQ(rpc_createerr.cf_stat, RPC_PMAPFAILURE);
        EXPECT_EQ(rpc_createerr.cf_error.re_status, RPC_CANTRECV);
        EXPECT_EQ(rpc_createerr.cf_error.re_errno, ECONNREFUSED);
    }
    {
        // Over TCP the connect fails, and the creator's status stands.
        EnvGuard env{{"RPCTRANSPORT", "tcp"}};
        EXPECT_EQ(tela::clnt_create("127.0.0.1", kTestProgram, 1, "udp"), nullptr);
        EXPECT_EQ(rpc_createerr.cf_stat, RPC_SYSTEMERROR);
        EXPECT_EQ(rpc_createerr.cf_error.re_errno, ECONNREFUSED);
    }
}

// Host names that resolve nowhere: inside the private namespace no name server is reachable,
// so the look-up fails at once and sends nothing off this machine.
TEST_F(Portmapper, UnknownHostIsCheckedAfterTheProtocolName)
{
    struct Case {
        const char *proto;
        enum clnt_stat status;
    } cases[] = {{"bogus", RPC_UNKNOWNPROTO},
                 {"ip", RPC_UNKNOWNHOST},
                 {"tcp", RPC_UNKNOWNHOST},
                 {"udp", RPC_UNKNOWNHOST}};
    for (const Case &c : cases) {
        EXPECT_EQ(tela::clnt_create("no-such-host.invalid", kTestProgram, 1, c.proto), nullptr) << c.proto;
        EXPECT_EQ(rpc_createerr.cf_stat, c.status) << c.proto;
    }
    EXPECT_EQ(std::string(clnt_spcreateerror("nohost")), "nohost: RPC: Unknown host");
}

}  // namespace
