// dirprobe's client functions against a small RPC server of the test's own on loopback: the
// retry after one second, the program numbers with their offset, the locked call and the
// error texts.
#include "console/client.h"

#include "null_server.h"
#include "os/hostvars_testing.h"
#include "rpcrt/rpcrt.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using namespace clienttest;  // the server fixture and the program numbers

// A call without argument and result.
enum clnt_stat CallVoid(CLIENT *client, rpcproc_t procedure)
{
    return CallClient(client, procedure, XdrVoid(), nullptr, XdrVoid(), nullptr);
}

using testsupport::SecondsSince;

class ConsoleClient : public testing::Test {
protected:
    static void SetUpTestSuite() { rpc_runtime_init(); }
    static void TearDownTestSuite() { rpc_runtime_cleanup(); }
};

TEST_F(ConsoleClient, ServerDownGivesNoneAfterTheRetryPause)
{
    testsupport::ClosedPorts closed;
    const int port = closed.port();
    ASSERT_GT(port, 0);
    PortEnv env(port, nullptr);
    const auto start = std::chrono::steady_clock::now();
    CLIENT *client = CreateAlphaClient("127.0.0.1");
    const double took = SecondsSince(start);
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
    NullServer server(kAlpha, 300);
    ASSERT_GT(server.port(), 0);
    PortEnv env(server.port(), nullptr);
    CLIENT *client = CreateAlphaClient("127.0.0.1");
    ASSERT_NE(client, nullptr) << CreateErrorText("127.0.0.1");
    EXPECT_TRUE(server.Listening());
    EXPECT_EQ(CallVoid(client, NULLPROC), RPC_SUCCESS);
    DestroyClient(client);
}

TEST_F(ConsoleClient, CallAndErrorTextsOfAnOpenHandle)
{
    NullServer server(kAlpha, 0);
    ASSERT_GT(server.port(), 0);
    PortEnv env(server.port(), nullptr);
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

// Serves `program` on the port of `slot` (the base port set below it, with the program offset
// `offset`) and calls its null procedure through a client made by `create`.
void ExpectNullCall(CLIENT *(*create)(const char *), int slot, const char *offset, rpcprog_t program,
                    enum clnt_stat expected)
{
    NullServer server(program, 0);
    ASSERT_GT(server.port(), 0);
    ASSERT_TRUE(WaitListening(server));
    PortEnv env(server.port() - slot, offset);
    CLIENT *client = create("127.0.0.1");
    ASSERT_NE(client, nullptr) << CreateErrorText("127.0.0.1");
    EXPECT_EQ(CallVoid(client, NULLPROC), expected);
    DestroyClient(client);
}

TEST_F(ConsoleClient, ProgramNumbersCarryTheOffset)
{
    // The server serves alpha's number raised by 100 only.
    ExpectNullCall(CreateAlphaClient, 0, "100", kAlpha + 100, RPC_SUCCESS);
    ExpectNullCall(CreateAlphaClient, 0, nullptr, kAlpha + 100, RPC_PROGUNAVAIL);
}

TEST_F(ConsoleClient, OmegaUsesItsOwnSlotAndNumber)
{
    ExpectNullCall(CreateOmegaClient, 5, nullptr, kOmega, RPC_SUCCESS);
}

// The further programs of the port map: each creator asks for its own number on its own slot.
TEST_F(ConsoleClient, FurtherProgramsUseTheirSlotsAndNumbers)
{
    const struct {
        CLIENT *(*create)(const char *);
        int slot;
        rpcprog_t program;
    } cases[] = {
        {CreateClient2, 2, 1102104009},
        {CreateClient3, 3, 26011932},
        {CreateClient4, 4, 302095104},
        {CreateClient6, 6, 9081975},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        ExpectNullCall(cases[i].create, cases[i].slot, nullptr, cases[i].program, RPC_SUCCESS);
    }
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
