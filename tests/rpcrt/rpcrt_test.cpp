// The RPC runtime against our small RPC server on loopback: the port map, client creation, the
// locked call, destroy, and the runtime start and stop.
#include "rpcrt/rpcrt.h"
#include "rpcrt/rpcrt_internal.h"
#include "rpcrt/servers.h"
#include "rpcrt_helpers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

using namespace rpcrt_test;

namespace {

// ---- rpclib: a pure function of the environment ---------------------------------------------

struct MapCase {
    const char *map;     // TELAMORPCMAP, nullptr: unset
    const char *base;    // TELAMORPCPORT, nullptr: unset
    const char *offset;  // TELAMORPCOFFSET, nullptr: unset
    const char *host;
    rpcprog_t program;
    unsigned short port;
    const char *message;  // expected standard error, byte for byte
};

const MapCase kMapCases[] = {
    // The examples: a four-character host and omega (slot 5).
    {"beta:7000;host:7100", nullptr, nullptr, "host", kOmegaProgram, 7105, ""},
    {"host:71x0", nullptr, nullptr, "host", kOmegaProgram, 76,
     "bad TELAMORPCMAP: number expected near character 6\n"},
    {"host", nullptr, nullptr, "host", kOmegaProgram, 0, "bad TELAMORPCMAP: syntax error near character 6\n"},
    {"beta:7000;gamma:7100", nullptr, nullptr, "host", kOmegaProgram, 0, ""},
    // A base port for every host, plus the slot; a program outside the table gets the base.
    {nullptr, "9000", nullptr, "host", kAlphaProgram, 9000, ""},
    {nullptr, "9000", nullptr, "host", kOmegaProgram, 9005, ""},
    {nullptr, "9000", nullptr, "host", 9081975, 9006, ""},
    {nullptr, "9000", nullptr, "host", kTestProgram, 9000, ""},
    {nullptr, "0", nullptr, "host", kOmegaProgram, 0, ""},
    {nullptr, nullptr, nullptr, "host", kOmegaProgram, 0, ""},
    // Ports wrap modulo 65536.
    {"host:-1", nullptr, nullptr, "host", kAlphaProgram, 65535, ""},
    {"host:70000", nullptr, nullptr, "host", kAlphaProgram, 4464, ""},
    {nullptr, "65535", nullptr, "host", 9081975, 5, ""},
    // Blanks are dropped before positions are counted; tabs are not blanks.
    {" host :x", nullptr, nullptr, "host", kOmegaProgram, 5,
     "bad TELAMORPCMAP: number expected near character 6\n"},
    {"ho st:7 000", nullptr, nullptr, "host", kAlphaProgram, 7000, ""},
    {"\thost:7000", nullptr, nullptr, "host", kAlphaProgram, 0, ""},
    // A map that does not name the host gives nothing, TELAMORPCPORT notwithstanding; an empty
    // map counts as set.
    {"beta:7000", "9000", nullptr, "host", kAlphaProgram, 0, ""},
    {"", "9000", nullptr, "host", kAlphaProgram, 0, ""},
    // The map is matched as text: no name resolution, case matters.
    {"localhost:7000;127.0.0.1:8000", nullptr, nullptr, "127.0.0.1", kAlphaProgram, 8000, ""},
    {"HOST:7000", nullptr, nullptr, "host", kAlphaProgram, 0, ""},
    // A program outside the table gets nothing from a map.
    {"host:7000", nullptr, nullptr, "host", kTestProgram, 0, ""},
    // The offset is taken off again to find the slot.
    {nullptr, "9000", "100", "host", kOmegaProgram + 100, 9005, ""},
    {nullptr, "9000", "-3", "host", kOmegaProgram - 3, 9005, ""},
    {nullptr, "9000", "100", "host", kOmegaProgram, 9000, ""},
    // A host field runs to the next colon, semicolons included; a missing port is reported at
    // the character after the host's colon.
    {"beta;host:7000", nullptr, nullptr, "host", kAlphaProgram, 0, ""},
    {"beta:7000;host:", nullptr, nullptr, "host", kAlphaProgram, 0,
     "bad TELAMORPCMAP: syntax error near character 16\n"},
    {"beta:7000;host:;;", nullptr, nullptr, "host", kAlphaProgram, 0,
     "bad TELAMORPCMAP: syntax error near character 16\n"},
    {"beta:7000;other", nullptr, nullptr, "host", kAlphaProgram, 0,
     "bad TELAMORPCMAP: syntax error near character 17\n"},
    {"beta:;host:7000", nullptr, nullptr, "host", kAlphaProgram, 0, ""},
    // Colons before a host and semicolons before a port are skipped; ";;" makes ";b" a host.
    {"::host:;;7000", nullptr, nullptr, "host", kAlphaProgram, 7000, ""},
    {"a:1;;b:2", nullptr, nullptr, "b", kAlphaProgram, 0, ""},
    // Junk after the number of a non-matching entry says nothing.
    {"beta:7x;host:7100", nullptr, nullptr, "host", kAlphaProgram, 7100, ""},
};

TEST(RpcLib, PortFromEnvironment)
{
    int index = 0;
    for (const MapCase &c : kMapCases) {
        EnvGuard env{{"TELAMORPCMAP", c.map}, {"TELAMORPCPORT", c.base}, {"TELAMORPCOFFSET", c.offset}};
        CaptureFd err(2);
        unsigned short port = tela::rpclib(c.host, c.program, 1);
        EXPECT_EQ(port, c.port) << "case " << index;
        EXPECT_EQ(err.Text(), c.message) << "case " << index;
        ++index;
    }
}

// ---- Client creation -------------------------------------------------------------------------

TEST(ClntCreate, RetriedCreationReportsABadMapOnce)
{
    // A port held closed by the test (bound, not listening): both attempts are refused.
    int held = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(held, 0);
    struct sockaddr_in addr = LoopbackAddress(0);
    ASSERT_EQ(bind(held, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr), 0);
    int port = LocalPort(held);
    ASSERT_GT(port, 0);
    std::string map = "127.0.0.1:" + std::to_string(port) + "x";
    const std::string message = "bad TELAMORPCMAP: number expected near character 11\n";
    EnvGuard env{{"TELAMORPCMAP", map.c_str()}, {"TELAMORPCPORT", nullptr}, {"TELAMORPCOFFSET", nullptr}};
    {
        CaptureFd err(2);
        EXPECT_EQ(tela::CreateClientWithRetry("127.0.0.1", kAlphaProgram, 1, "tcp", 1), nullptr);
        EXPECT_EQ(rpc_createerr.cf_error.re_errno, ECONNREFUSED);
        EXPECT_EQ(err.Text(), message);
    }
    {
        // The next look-up reports the map again.
        CaptureFd err(2);
        EXPECT_EQ(tela::rpclib("127.0.0.1", kAlphaProgram, 1), port);
        EXPECT_EQ(err.Text(), message);
    }
    close(held);
}

TEST(ClntCreate, ProtocolNamesBeforeHost)
{
    struct Case {
        const char *proto;
        enum clnt_stat status;
        int err;
    } cases[] = {
        {"bogus", RPC_UNKNOWNPROTO, EPFNOSUPPORT},
        {"", RPC_UNKNOWNPROTO, EPFNOSUPPORT},
        {"ip", RPC_SYSTEMERROR, EPFNOSUPPORT},  // known, but neither TCP nor UDP
        {"icmp", RPC_SYSTEMERROR, EPFNOSUPPORT},
    };
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", "9"}};
    for (const Case &c : cases) {
        rpc_createerr.cf_stat = RPC_SUCCESS;
        rpc_createerr.cf_error.re_errno = 0;
        EXPECT_EQ(tela::clnt_create("localhost", kTestProgram, 1, c.proto), nullptr) << c.proto;
        EXPECT_EQ(rpc_createerr.cf_stat, c.status) << c.proto;
        EXPECT_EQ(rpc_createerr.cf_error.re_errno, c.err) << c.proto;
    }
    // libtirpc's texts read right with Linux error numbers.
    EXPECT_EQ(std::string(clnt_spcreateerror("localhost")),
              "localhost: RPC: Remote system error - Protocol family not supported");
}

// A bare loopback socket of `type` that receives one call and hands over its transaction id
// (the first unit of the message; for TCP behind the record mark).
class XidCatcher {
public:
    explicit XidCatcher(int type) : type_(type)
    {
        if (type == SOCK_STREAM) {
            fd_ = listener_.fd();
            return;
        }
        own_ = LoopbackSocket(SOCK_DGRAM);
        fd_ = own_;
    }
    ~XidCatcher()
    {
        if (own_ >= 0)
            close(own_);
    }
    int port() const { return fd_ >= 0 ? LocalPort(fd_) : 0; }
    // The transaction id of the call sent by now, or false when none arrived.
    bool Xid(uint32_t *xid)
    {
        unsigned char head[8];
        size_t want = type_ == SOCK_STREAM ? 8 : 4;
        int from = type_ == SOCK_STREAM ? accept(fd_, nullptr, nullptr) : fd_;
        struct pollfd p = {from, POLLIN, 0};
        bool ok = from >= 0 && poll(&p, 1, 5000) == 1 &&
                  recv(from, head, want, MSG_WAITALL) == static_cast<ssize_t>(want);
        if (from >= 0 && from != fd_)
            close(from);
        uint32_t unit;
        memcpy(&unit, head + want - 4, 4);
        *xid = ntohl(unit);
        return ok;
    }

private:
    int type_;
    SilentListener listener_;
    int own_ = -1;
    int fd_ = -1;
};

TEST(ClntCreate, FirstCallCarriesProcessIdXorSecondsAsTransactionId)
{
    struct Case {
        const char *proto;
        int type;
    } cases[] = {{"tcp", SOCK_STREAM}, {"udp", SOCK_DGRAM}};
    for (const Case &c : cases) {
        XidCatcher catcher(c.type);
        ASSERT_GT(catcher.port(), 0) << c.proto;
        std::string port = std::to_string(catcher.port());
        EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", port.c_str()}};
        time_t before = time(nullptr);
        CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, c.proto);
        time_t after = time(nullptr);
        ASSERT_NE(client, nullptr) << c.proto << ": " << clnt_spcreateerror("127.0.0.1");
        // Nobody answers: the call ends at its total time, the request sent.
        struct timeval brief = {0, 200000};
        ASSERT_TRUE(CLNT_CONTROL(client, CLSET_TIMEOUT, &brief));
        EXPECT_EQ(tela::clnt_call(client, kProcNull, Xdr(xdr_void), nullptr, Xdr(xdr_void), nullptr, brief),
                  RPC_TIMEDOUT)
            << c.proto;
        uint32_t xid = 0;
        ASSERT_TRUE(catcher.Xid(&xid)) << c.proto;
        bool matches = false;
        for (time_t t = before; t <= after; ++t)
            matches = matches || xid == (static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(t));
        EXPECT_TRUE(matches) << c.proto << ": xid " << std::hex << xid << ", pid " << getpid() << ", seconds "
                             << before;
        clnt_destroy(client);
    }
}

class WithServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        rpc_runtime_init();
        server = new TestServer({kTestProgram, kOmegaProgram});
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
        rpc_runtime_cleanup();
    }
    void SetUp() override { ASSERT_TRUE(server->started()) << server->Log(); }

    static std::string Port() { return std::to_string(server->port()); }

    static int Echo(CLIENT *client, int value, enum clnt_stat *status)
    {
        int result = -1;
        *status = tela::clnt_call(client, kProcEcho, Xdr(xdr_int), &value, Xdr(xdr_int), &result, {25, 0});
        return result;
    }

    static TestServer *server;
};

TestServer *WithServer::server = nullptr;

TEST_F(WithServer, CallsSucceedOverTcpAndUdp)
{
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", Port().c_str()}};
    for (const char *proto : {"tcp", "udp", "TCP", "UDP"}) {
        CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, proto);
        ASSERT_NE(client, nullptr) << proto << ": " << clnt_spcreateerror("127.0.0.1");
        for (int value : {0, 7, -2, 123456}) {
            enum clnt_stat status;
            EXPECT_EQ(Echo(client, value, &status), value) << proto;
            EXPECT_EQ(status, RPC_SUCCESS) << proto;
        }
        char *text = nullptr;
        EXPECT_EQ(
            tela::clnt_call(client, kProcString, Xdr(xdr_void), nullptr, Xdr(xdr_wrapstring), &text, {25, 0}),
            RPC_SUCCESS);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, "hello");
        xdr_free(Xdr(xdr_wrapstring), &text);
        clnt_destroy(client);
    }
}

TEST_F(WithServer, MappedPortNeedsNoPortmapper)
{
    // The server listens on port p; omega is slot 5, so a base of p - 5 reaches it.
    std::string base = std::to_string(server->port() - 5);
    std::string map = "localhost:1;127.0.0.1:" + base;
    EnvGuard env{{"TELAMORPCMAP", map.c_str()}, {"TELAMORPCPORT", "1"}};
    CLIENT *client = tela::clnt_create("127.0.0.1", kOmegaProgram, 1, "tcp");
    ASSERT_NE(client, nullptr) << clnt_spcreateerror("127.0.0.1");
    int fd = -1;
    ASSERT_TRUE(CLNT_CONTROL(client, CLGET_FD, &fd));
    struct sockaddr_in peer = {};
    socklen_t len = sizeof peer;
    ASSERT_EQ(getpeername(fd, reinterpret_cast<struct sockaddr *>(&peer), &len), 0);
    EXPECT_EQ(ntohs(peer.sin_port), server->port());
    enum clnt_stat status;
    EXPECT_EQ(Echo(client, 42, &status), 42);
    EXPECT_EQ(status, RPC_SUCCESS);
    clnt_destroy(client);
}

TEST_F(WithServer, NeverBindsAReservedPort)
{
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", Port().c_str()}};
    for (const char *proto : {"tcp", "udp"}) {
        CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, proto);
        ASSERT_NE(client, nullptr) << proto;
        enum clnt_stat status;
        Echo(client, 1, &status);  // a UDP socket gets its local port on the first send
        EXPECT_EQ(status, RPC_SUCCESS) << proto;
        int fd = -1;
        ASSERT_TRUE(CLNT_CONTROL(client, CLGET_FD, &fd));
        EXPECT_GE(LocalPort(fd), 1024) << proto << " (running as uid " << getuid() << ")";
        clnt_destroy(client);
    }
}

TEST_F(WithServer, ErrorTextsOfLibtirpcWorkOnOurHandles)
{
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", Port().c_str()}};
    CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(tela::clnt_call(client, 99, Xdr(xdr_void), nullptr, Xdr(xdr_void), nullptr, {25, 0}),
              RPC_PROCUNAVAIL);
    EXPECT_EQ(std::string(clnt_sperror(client, "a_proc99")), "a_proc99: RPC: Procedure unavailable");
    struct rpc_err err = {};
    CLNT_GETERR(client, &err);
    EXPECT_EQ(err.re_status, RPC_PROCUNAVAIL);
    clnt_destroy(client);

    // The program the server does not serve.
    client = tela::clnt_create("127.0.0.1", kTestProgram + 1, 1, "tcp");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(tela::clnt_call(client, kProcNull, Xdr(xdr_void), nullptr, Xdr(xdr_void), nullptr, {25, 0}),
              RPC_PROGUNAVAIL);
    clnt_destroy(client);
}

TEST_F(WithServer, MissingHandleGivesRpcFailedAndTouchesNothing)
{
    rpc_createerr.cf_stat = RPC_PMAPFAILURE;
    rpc_createerr.cf_error.re_errno = 4321;
    int value = 5, result = 0;
    EXPECT_EQ(tela::clnt_call(nullptr, kProcEcho, Xdr(xdr_int), &value, Xdr(xdr_int), &result, {25, 0}),
              RPC_FAILED);
    EXPECT_EQ(static_cast<int>(RPC_FAILED), 16);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(rpc_createerr.cf_stat, RPC_PMAPFAILURE);
    EXPECT_EQ(rpc_createerr.cf_error.re_errno, 4321);
}

TEST_F(WithServer, ReplyThatFailsToDecodeIsFreed)
{
    // The server answers with one string; the result wants two. The first was decoded (and
    // allocated) when the second failed: the call must free it, or the leak check fails.
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", Port().c_str()}};
    for (const char *proto : {"tcp", "udp"}) {
        CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, proto);
        ASSERT_NE(client, nullptr) << proto;
        TwoStrings result = {};
        EXPECT_EQ(tela::clnt_call(client, kProcString, Xdr(xdr_void), nullptr, Xdr(XdrTwoStrings), &result,
                                  {25, 0}),
                  RPC_CANTDECODERES)
            << proto;
        EXPECT_EQ(result.first, nullptr) << proto;
        EXPECT_EQ(result.second, nullptr) << proto;
        // The handle goes on working.
        enum clnt_stat status;
        EXPECT_EQ(Echo(client, 9, &status), 9) << proto;
        EXPECT_EQ(status, RPC_SUCCESS) << proto;
        clnt_destroy(client);
    }
}

TEST_F(WithServer, TransportCreatorsTakeACallersSocketAndLeaveItOpen)
{
    // TCP: a socket connected by the caller is used as it is and survives destroy.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr = LoopbackAddress(server->port());
    ASSERT_EQ(connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr), 0);
    int sock = fd;
    CLIENT *client = tela::clnttcp_create(&addr, kTestProgram, 1, &sock, 0, 0);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(sock, fd);
    enum clnt_stat status;
    EXPECT_EQ(Echo(client, 3, &status), 3);
    clnt_destroy(client);
    EXPECT_EQ(fcntl(fd, F_GETFD), 0) << "the caller's socket was closed";
    close(fd);

    // An own socket is stored back and closed on destroy.
    sock = -1;
    client = tela::clntudp_create(&addr, kTestProgram, 1, {1, 0}, &sock);
    ASSERT_NE(client, nullptr);
    EXPECT_GE(sock, 0);
    EXPECT_EQ(Echo(client, 4, &status), 4);
    clnt_destroy(client);
    EXPECT_EQ(fcntl(sock, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(WithServer, FailedConnectLeavesNothingBehind)
{
    // A port held closed: nothing listens there.
    testsupport::ClosedPorts closed;
    std::string portText = std::to_string(closed.port());
    ASSERT_NE(portText, "0");
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", portText.c_str()}};
    int fdsBefore = OpenDescriptorCount();
    int locksBefore = tela::rpcrt_internal::LiveLockCount();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp"), nullptr);
        EXPECT_EQ(rpc_createerr.cf_stat, RPC_SYSTEMERROR);
        EXPECT_EQ(rpc_createerr.cf_error.re_errno, ECONNREFUSED);
    }
    EXPECT_EQ(OpenDescriptorCount(), fdsBefore);
    EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore);
    EXPECT_EQ(std::string(clnt_spcreateerror("127.0.0.1")),
              "127.0.0.1: RPC: Remote system error - Connection refused");
}

TEST_F(WithServer, DestroyReleasesLockAndSocket)
{
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", Port().c_str()}};
    int fdsBefore = OpenDescriptorCount();
    int locksBefore = tela::rpcrt_internal::LiveLockCount();
    for (const char *proto : {"tcp", "udp"}) {
        CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, proto);
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore + 1);
        EXPECT_EQ(OpenDescriptorCount(), fdsBefore + 1);
        {
            CaptureFd err(2);
            clnt_destroy(client);
            EXPECT_EQ(err.Text(), "");
        }
        EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore);
        EXPECT_EQ(OpenDescriptorCount(), fdsBefore);
    }
}

TEST_F(WithServer, DestroyReportsASocketThatCannotBeClosed)
{
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", Port().c_str()}};
    int locksBefore = tela::rpcrt_internal::LiveLockCount();
    CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp");
    ASSERT_NE(client, nullptr);
    int fd = -1;
    ASSERT_TRUE(CLNT_CONTROL(client, CLGET_FD, &fd));
    std::string text;
    {
        CaptureFd err(2);  // opened first, so that it cannot take the closed number
        close(fd);         // behind the handle's back
        clnt_destroy(client);
        text = err.Text();
    }
    EXPECT_EQ(text, "clnttcp_destroy: closesocket(" + std::to_string(fd) + ") returned " +
                        std::to_string(EBADF) + "\n");
    EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore);
}

TEST_F(WithServer, CloseOnDestroyCanBeChangedThroughControl)
{
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", Port().c_str()}};
    CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp");
    ASSERT_NE(client, nullptr);
    int fd = -1;
    ASSERT_TRUE(CLNT_CONTROL(client, CLGET_FD, &fd));
    ASSERT_TRUE(CLNT_CONTROL(client, CLSET_FD_NCLOSE, nullptr));
    clnt_destroy(client);
    EXPECT_EQ(fcntl(fd, F_GETFD), FD_CLOEXEC) << "the socket was closed";
    close(fd);
}

TEST_F(WithServer, ServerClosingTheConnectionGivesErrorsNotSigpipe)
{
    SilentListener listener;
    ASSERT_GT(listener.port(), 0);
    std::string port = std::to_string(listener.port());
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", port.c_str()}};
    CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp");
    ASSERT_NE(client, nullptr);
    // The server accepts the connection and closes it at once.
    int accepted = accept(listener.fd(), nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    close(accepted);
    enum clnt_stat first, second;
    Echo(client, 1, &first);
    Echo(client, 2, &second);
    EXPECT_NE(first, RPC_SUCCESS);
    EXPECT_NE(second, RPC_SUCCESS);
    clnt_destroy(client);
}

TEST_F(WithServer, CallerTimeoutBelowTheTotalIsIgnored)
{
    // The total of 25 s set at creation wins over the caller's time-out.
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", Port().c_str()}};
    CLIENT *client = tela::clnt_create("127.0.0.1", kTestProgram, 1, "tcp");
    ASSERT_NE(client, nullptr);
    struct timeval total = {};
    ASSERT_TRUE(CLNT_CONTROL(client, CLGET_TIMEOUT, &total));
    EXPECT_EQ(total.tv_sec, 25);
    EXPECT_EQ(total.tv_usec, 0);
    int value = 300, result = 0;
    EXPECT_EQ(
        tela::clnt_call(client, kProcSlowEcho, Xdr(xdr_int), &value, Xdr(xdr_int), &result, {0, 100000}),
        RPC_SUCCESS);
    EXPECT_EQ(result, 300);
    clnt_destroy(client);
}

// ---- The connect bound -------------------------------------------------------------------

TEST(ConnectBound, StalledConnectGivesUpInTime)
{
    FullListener listener;
    ASSERT_GT(listener.port(), 0);
    struct sockaddr_in addr = LoopbackAddress(listener.port());
    int locksBefore = tela::rpcrt_internal::LiveLockCount();
    int fdsBefore = OpenDescriptorCount();
    int sock = -1;
    CLIENT *client = tela::rpcrt_internal::CreateTcpClient(&addr, kTestProgram, 1, &sock, 0, 0, 300);
    EXPECT_EQ(client, nullptr);
    EXPECT_EQ(rpc_createerr.cf_stat, RPC_SYSTEMERROR);
    EXPECT_EQ(rpc_createerr.cf_error.re_errno, ETIMEDOUT);
    EXPECT_EQ(sock, -1);
    EXPECT_EQ(OpenDescriptorCount(), fdsBefore);
    EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore);
    if (client != nullptr)
        clnt_destroy(client);
}

// ---- Runtime start and stop ------------------------------------------------------------------

TEST(Runtime, StartsOnceAndHandlesOutliveTheStop)
{
    int locksBefore = tela::rpcrt_internal::LiveLockCount();
    rpc_runtime_init();
    EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore + 2);
    rpc_runtime_init();
    EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore + 2);
    struct sigaction action = {};
    sigaction(SIGPIPE, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_IGN);
    // The host lock is recursive and taken by creation.
    rpc_lock_hosts();
    rpc_lock_hosts();
    rpc_unlock_hosts();
    rpc_unlock_hosts();

    TestServer server({kTestProgram});
    ASSERT_TRUE(server.started()) << server.Log();
    std::string port = std::to_string(server.port());
    EnvGuard env{{"TELAMORPCMAP", nullptr}, {"TELAMORPCPORT", port.c_str()}};
    CLIENT *client = tela::clnt_create("localhost", kTestProgram, 1, "tcp");
    ASSERT_NE(client, nullptr);

    rpc_runtime_cleanup();
    EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore + 1);  // the handle's own
    rpc_lock_hosts();                                                   // no lock: nothing happens
    rpc_unlock_hosts();
    rpc_lock_spare();
    rpc_unlock_spare();
    rpc_runtime_cleanup();

    int value = 11, result = 0;
    EXPECT_EQ(tela::clnt_call(client, kProcEcho, Xdr(xdr_int), &value, Xdr(xdr_int), &result, {25, 0}),
              RPC_SUCCESS);
    EXPECT_EQ(result, 11);
    // Creation works without the runtime too (no host lock to take).
    CLIENT *second = tela::clnt_create("localhost", kTestProgram, 1, "udp");
    ASSERT_NE(second, nullptr);
    clnt_destroy(second);
    clnt_destroy(client);
    EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore);

    // A stop followed by a start sets everything up again.
    rpc_runtime_init();
    EXPECT_EQ(tela::rpcrt_internal::LiveLockCount(), locksBefore + 2);
    rpc_runtime_cleanup();
}

}  // namespace
