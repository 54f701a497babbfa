// The two sets of client functions of the same names side by side: dirprobe's console set and
// mailtrack's gateway set. One table says what each set does with the same input; the program
// is built once against each set (they never meet in one binary) and checks its column.
#if TELA_CLIENT_SET_GATEWAY
#include "mailtrack/gwutils.h"
#define CLIENT_SET_SUITE GatewayClientSet
#else
#include "console/client.h"
#define CLIENT_SET_SUITE ConsoleClientSet
#endif

#include "null_server.h"
#include "rpcrt/rpcrt.h"
#include "rpcrt/servers.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace clienttest;  // the server fixture and the program numbers
constexpr int kOmegaSlot = static_cast<int>(tela::ServerProgram::Omega);

enum class Set { Console, Gateway };
#if TELA_CLIENT_SET_GATEWAY
constexpr Set kThisSet = Set::Gateway;
#else
constexpr Set kThisSet = Set::Console;
#endif

// What a case observed. NotAllowed in the table: the input breaks that set's contract (it must
// not be given), so the case is not run against it.
enum class Outcome { Handle, NoHandle, Returns, RpcFailed, NoClientText, LibraryText, Other, NotAllowed };

const char *Name(Outcome o)
{
    static const char *const names[] = {"handle",         "no handle",    "returns", "RPC_FAILED",
                                        "no-client text", "library text", "other",   "not allowed"};
    return names[static_cast<int>(o)];
}

enum clnt_stat CallVoid(CLIENT *client, rpcproc_t procedure)
{
    return CallClient(client, procedure, XdrVoid(), nullptr, XdrVoid(), nullptr);
}

// A handle that answers the null procedure, destroyed again: Handle; none: NoHandle.
Outcome UseAndDestroy(CLIENT *client)
{
    if (client == nullptr)
        return Outcome::NoHandle;
    const bool answered = CallVoid(client, NULLPROC) == RPC_SUCCESS;
    DestroyClient(client);
    return answered ? Outcome::Handle : Outcome::Other;
}

// The server starts listening 300 ms after the first attempt, well within the console set's
// pause before its second one.
Outcome ServerUpAfterTheFirstAttempt()
{
    NullServer server(kAlpha, 300);
    if (server.port() == 0)
        return Outcome::Other;
    PortEnv env(server.port(), nullptr);
    return UseAndDestroy(CreateAlphaClient("127.0.0.1"));
}

// A server for `program` on the port of `slot`, reached through a client made by `create`, with
// the program offset `offset`. One server at a time: the RPC library's server side keeps its
// descriptors process-wide.
Outcome Served(CLIENT *(*create)(const char *), int slot, rpcprog_t program, const char *offset)
{
    NullServer server(program, 0);
    if (server.port() == 0 || !WaitListening(server))
        return Outcome::Other;
    PortEnv env(server.port() - slot, offset);
    return UseAndDestroy(create("127.0.0.1"));
}

// With TELAMORPCOFFSET 100 both creators ask for their program number raised by 100, each on
// its own slot of the base port.
Outcome OffsetProgramNumbers()
{
    Outcome a = Served(CreateAlphaClient, 0, kAlpha + 100, "100");
    Outcome o = Served(CreateOmegaClient, kOmegaSlot, kOmega + 100, "100");
    return a == o ? a : Outcome::Other;
}

Outcome DestroyNull()
{
    DestroyClient(nullptr);
    return Outcome::Returns;
}

Outcome CallNull()
{
    return CallVoid(nullptr, NULLPROC) == RPC_FAILED ? Outcome::RpcFailed : Outcome::Other;
}

Outcome ErrorTextOfNull()
{
    const std::string text = ClientErrorText(nullptr, "a_get_compat");
    return text == "a_get_compat: no client\n" ? Outcome::NoClientText : Outcome::Other;
}

Outcome ErrorTextOfAFailedCall()
{
    NullServer server(kAlpha, 0);
    if (server.port() == 0 || !WaitListening(server))
        return Outcome::Other;
    PortEnv env(server.port(), nullptr);
    CLIENT *client = CreateAlphaClient("127.0.0.1");
    if (client == nullptr)
        return Outcome::NoHandle;
    Outcome outcome = Outcome::Other;
    if (CallVoid(client, 99) == RPC_PROCUNAVAIL) {
        const std::string ours = ClientErrorText(client, "a_proc99");
        const std::string library = clnt_sperror(client, "a_proc99");
        if (ours == library && ours.rfind("a_proc99: RPC: Procedure unavailable", 0) == 0)
            outcome = Outcome::LibraryText;
    }
    DestroyClient(client);
    return outcome;
}

Outcome CreateErrorTextOfARefusal()
{
    testsupport::ClosedPorts closed;
    const int port = closed.port();
    PortEnv env(port, nullptr);
    if (CreateAlphaClient("127.0.0.1") != nullptr)
        return Outcome::Other;
    const std::string ours = CreateErrorText("127.0.0.1");
    const std::string library = clnt_spcreateerror("127.0.0.1");
    return ours == library && ours.rfind("127.0.0.1: ", 0) == 0 ? Outcome::LibraryText : Outcome::Other;
}

Outcome CreateErrorTextOfNull()
{
    const std::string ours = CreateErrorText(nullptr);
    return ours == clnt_spcreateerror("") ? Outcome::LibraryText : Outcome::Other;
}

struct Row {
    const char *what;
    Outcome (*run)();
    Outcome console;
    Outcome gateway;
};

const Row kContracts[] = {
    {"server up after the first attempt", ServerUpAfterTheFirstAttempt, Outcome::Handle, Outcome::NoHandle},
    {"program numbers with the offset", OffsetProgramNumbers, Outcome::Handle, Outcome::Handle},
    {"DestroyClient of null", DestroyNull, Outcome::Returns, Outcome::NotAllowed},
    {"CallClient of null", CallNull, Outcome::RpcFailed, Outcome::RpcFailed},
    {"ClientErrorText of null", ErrorTextOfNull, Outcome::NoClientText, Outcome::NotAllowed},
    {"ClientErrorText after a failed call", ErrorTextOfAFailedCall, Outcome::LibraryText,
     Outcome::LibraryText},
    {"CreateErrorText after a refusal", CreateErrorTextOfARefusal, Outcome::LibraryText,
     Outcome::LibraryText},
    {"CreateErrorText of null", CreateErrorTextOfNull, Outcome::LibraryText, Outcome::NotAllowed},
};

class CLIENT_SET_SUITE : public testing::Test {
protected:
    static void SetUpTestSuite() { rpc_runtime_init(); }
    static void TearDownTestSuite() { rpc_runtime_cleanup(); }
};

TEST_F(CLIENT_SET_SUITE, ContractsSideBySide)
{
    for (size_t i = 0; i < sizeof kContracts / sizeof kContracts[0]; ++i) {
        const Row &row = kContracts[i];
        const Outcome expected = kThisSet == Set::Console ? row.console : row.gateway;
        if (expected == Outcome::NotAllowed)
            continue;
        const Outcome got = row.run();
        EXPECT_EQ(got, expected) << "case " << i << " (" << row.what << "): " << Name(got) << ", expected "
                                 << Name(expected);
    }
}

}  // namespace
