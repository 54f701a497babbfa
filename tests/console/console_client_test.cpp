// dirprobe's client functions against a small RPC server of the test's own on loopback: the
// retry after one second, the program numbers with their offset, the locked call and the
// error texts.
#include "console/client.h"

#include "os/hostvars_testing.h"
#include "rpcrt/rpcrt.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr rpcprog_t kAlpha = 16011967;
constexpr rpcprog_t kOmega = 16011931;

// xdr_void as an XDR routine (through void (*)(), the generic function pointer type).
xdrproc_t XdrVoid()
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(xdr_void));
}

void Dispatch(struct svc_req *req, SVCXPRT *xprt)
{
    if (req->rq_proc == NULLPROC)
        svc_sendreply(xprt, XdrVoid(), nullptr);
    else
        svcerr_noproc(xprt);
}

// An ONC RPC server on 127.0.0.1:port for one program, version 1, that answers the null
// procedure and refuses all others. It starts listening after `delayMs` on its own thread.
class NullServer {
public:
    NullServer(int port, rpcprog_t program, int delayMs) : program_(program)
    {
        thread_ = std::thread([this, port, delayMs] { Run(port, delayMs); });
    }
    ~NullServer()
    {
        stop_ = true;
        thread_.join();
    }
    bool Listening() const { return listening_; }

private:
    void Run(int port, int delayMs)
    {
        for (int waited = 0; waited < delayMs && !stop_; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        int fd = testsupport::LoopbackSocket(SOCK_STREAM, port, 8);
        if (fd < 0)
            return;
        SVCXPRT *xprt = svctcp_create(fd, 0, 0);
        if (xprt == nullptr || !svc_register(xprt, program_, 1, Dispatch, 0)) {
            close(fd);
            return;
        }
        listening_ = true;
        while (!stop_) {
            std::vector<pollfd> fds(svc_pollfd, svc_pollfd + svc_max_pollfd);
            const int n = poll(fds.data(), fds.size(), 20);
            if (n > 0)
                svc_getreq_poll(fds.data(), n);
        }
        svc_unregister(program_, 1);
        svc_destroy(xprt);
    }

    rpcprog_t program_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> listening_{false};
    std::thread thread_;
};

// Points the alpha slot of the port map at `port` and sets the program offset.
class PortEnv {
public:
    PortEnv(int port, const char *offset)
    {
        unsetenv("TELAMORPCMAP");
        setenv("TELAMORPCPORT", std::to_string(port).c_str(), 1);
        if (offset)
            setenv("TELAMORPCOFFSET", offset, 1);
        else
            unsetenv("TELAMORPCOFFSET");
        HostVarsResetCaches();
    }
    ~PortEnv()
    {
        unsetenv("TELAMORPCPORT");
        unsetenv("TELAMORPCOFFSET");
        HostVarsResetCaches();
    }
};

bool WaitListening(const NullServer &server)
{
    for (int i = 0; i < 500 && !server.Listening(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server.Listening();
}

// A call without argument and result.
enum clnt_stat CallVoid(CLIENT *client, rpcproc_t procedure)
{
    return CallClient(client, procedure, XdrVoid(), nullptr, XdrVoid(), nullptr);
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class ConsoleClient : public testing::Test {
protected:
    static void SetUpTestSuite() { rpc_runtime_init(); }
    static void TearDownTestSuite() { rpc_runtime_cleanup(); }
};

TEST_F(ConsoleClient, ServerDownGivesNoneAfterTheRetryPause)
{
    const int port = testsupport::FreePort();
    ASSERT_GT(port, 0);
    PortEnv env(port, nullptr);
    const auto start = std::chrono::steady_clock::now();
    CLIENT *client = CreateAlphaClient("127.0.0.1");
    const double took = Seconds(start);
    EXPECT_EQ(client, nullptr);
    EXPECT_GE(took, 0.95);  // two attempts with the pause between them
    EXPECT_EQ(rpc_createerr.cf_stat, RPC_SYSTEMERROR);

    const std::string libraryText = clnt_spcreateerror("127.0.0.1");
    const std::string ours = CreateErrorText("127.0.0.1");
    EXPECT_EQ(ours, libraryText);
    EXPECT_EQ(ours.rfind("127.0.0.1: ", 0), 0u) << ours;
}

TEST_F(ConsoleClient, ServerUpDuringThePauseIsReachedByTheSecondAttempt)
{
    const int port = testsupport::FreePort();
    ASSERT_GT(port, 0);
    PortEnv env(port, nullptr);
    NullServer server(port, kAlpha, 300);
    CLIENT *client = CreateAlphaClient("127.0.0.1");
    ASSERT_NE(client, nullptr) << CreateErrorText("127.0.0.1");
    EXPECT_TRUE(server.Listening());
    EXPECT_EQ(CallVoid(client, NULLPROC), RPC_SUCCESS);
    DestroyClient(client);
}

TEST_F(ConsoleClient, CallAndErrorTextsOfAnOpenHandle)
{
    const int port = testsupport::FreePort();
    ASSERT_GT(port, 0);
    PortEnv env(port, nullptr);
    NullServer server(port, kAlpha, 0);
    ASSERT_TRUE(WaitListening(server));
    CLIENT *client = CreateClient("127.0.0.1", kAlpha, 1, "tcp");
    ASSERT_NE(client, nullptr) << CreateErrorText("127.0.0.1");

    EXPECT_EQ(CallVoid(client, 99), RPC_PROCUNAVAIL);
    const std::string text = ClientErrorText(client, "a_proc99");
    EXPECT_EQ(text, clnt_sperror(client, "a_proc99"));
    EXPECT_EQ(text.rfind("a_proc99: RPC: Procedure unavailable", 0), 0u) << text;

    rpc_err error{};
    ClientGetError(client, &error);
    EXPECT_EQ(error.re_status, RPC_PROCUNAVAIL);

    EXPECT_EQ(CallVoid(client, NULLPROC), RPC_SUCCESS);
    ClientGetError(client, &error);
    EXPECT_EQ(error.re_status, RPC_SUCCESS);
    DestroyClient(client);
}

// Serves `program` on `port` and calls its null procedure through a client made by `create`.
void ExpectNullCall(CLIENT *(*create)(const char *), int port, rpcprog_t program, enum clnt_stat expected)
{
    NullServer server(port, program, 0);
    ASSERT_TRUE(WaitListening(server));
    CLIENT *client = create("127.0.0.1");
    ASSERT_NE(client, nullptr) << CreateErrorText("127.0.0.1");
    EXPECT_EQ(CallVoid(client, NULLPROC), expected);
    DestroyClient(client);
}

TEST_F(ConsoleClient, ProgramNumbersCarryTheOffset)
{
    const int port = testsupport::FreePort();
    ASSERT_GT(port, 0);
    // The server serves alpha's number raised by 100 only.
    {
        PortEnv env(port, "100");
        ExpectNullCall(CreateAlphaClient, port, kAlpha + 100, RPC_SUCCESS);
    }
    {
        PortEnv env(port, nullptr);
        ExpectNullCall(CreateAlphaClient, port, kAlpha + 100, RPC_PROGUNAVAIL);
    }
}

TEST_F(ConsoleClient, OmegaUsesItsOwnSlotAndNumber)
{
    const int base = testsupport::FreePortRange(6);
    ASSERT_GT(base, 0);
    PortEnv env(base, nullptr);
    ExpectNullCall(CreateOmegaClient, base + 5, kOmega, RPC_SUCCESS);
}

TEST_F(ConsoleClient, MissingHandle)
{
    EXPECT_EQ(CallVoid(nullptr, NULLPROC), RPC_FAILED);
    DestroyClient(nullptr);
    rpc_err error{};
    error.re_status = RPC_TIMEDOUT;
    ClientGetError(nullptr, &error);
    EXPECT_EQ(error.re_status, RPC_TIMEDOUT);
    EXPECT_STREQ(ClientErrorText(nullptr, "a_get_compat"), "a_get_compat: no client\n");
}

}  // namespace
