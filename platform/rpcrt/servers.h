// The product's server programs as both programs' clients reach them: one table of the program
// numbers (the port map's seven programs; alpha's and omega's numbers are those of their
// interface files), the short status codes of the servers' answers, alpha's compatibility
// levels, and the one creator under both client sets.
//
// ---- The two client sets -----------------------------------------------------------------------
// dirprobe links the console set (console/client.h), mailtrack the gateway set
// (mailtrack/gwutils.h). They share their names and are thin layers over CreateServerClient and
// the locked call; the symbol guard (tests/symbols) keeps them out of one binary. Side by side:
//
//   function            console set (dirprobe)                 gateway set (mailtrack)
//   ------------------  -------------------------------------  -----------------------------------
//   CreateAlphaClient   version 1 over "tcp", the number moved by TELAMORPCOFFSET; when the first
//   CreateOmegaClient   attempt gives no handle:
//                       a second one after kConsoleRetryPauseMs  none (kGatewayRetryPauseMs 0)
//   CreateClient        any program, version and transport,    (none; the gateway's server handles
//                       with the same retry                     make theirs over GetRpcTransport,
//                                                               one attempt)
//   CreateClient2/3/4/6 programs 2, 3, 4 and 6 of the table    (none)
//   DestroyClient       the handle's destroy operation;         the same; the client must not be
//                       null is ignored                         null
//   CallClient          the locked call with 25 s; RPC_FAILED for a null client, nothing sent (both)
//   ClientErrorText     clnt_sperror with the name in front;    clnt_sperror; client and name must
//                       null client: "<name>: no client\n",     not be null
//                       null name: ""
//   CreateErrorText     clnt_spcreateerror; null host: ""       clnt_spcreateerror; host must not
//                                                               be null
//   ClientGetError      the last call error into the record;   (none)
//                       null client or record: nothing
//
// On failure every creator returns nullptr with rpc_createerr set by the last attempt.
#pragma once

#include <cstdint>

#include "rpcrt/rpcrt.h"

namespace tela {

// The programs the port map knows, each with the value of its slot (the offset added to a
// base port of TELAMORPCMAP or TELAMORPCPORT).
enum class ServerProgram : uint16_t {
    Alpha = 0,
    Program1 = 1,  // no client in the system
    Program2 = 2,
    Program3 = 3,
    Program4 = 4,
    Omega = 5,
    Program6 = 6,
};

struct ServerProgramEntry {
    ServerProgram program;
    rpcprog_t number;  // the base number, without the offset of TELAMORPCOFFSET
    rpcvers_t version;
};

// Every program, in slot order.
extern const ServerProgramEntry ServerProgramTable[7];

// The table's entry of a program.
const ServerProgramEntry &ServerProgramOf(ServerProgram program);
// The entry whose base number is `number`, or nullptr.
const ServerProgramEntry *ServerProgramByNumber(rpcprog_t number);

// The retry pauses of the two client sets; 0 is one attempt only.
constexpr int kConsoleRetryPauseMs = 1000;
constexpr int kGatewayRetryPauseMs = 0;

// tela::clnt_create; when it gives no handle and retryPauseMs > 0, sleeps that long and tries
// once more with the same arguments. The last attempt's handle or nullptr (rpc_createerr then
// holds that attempt's reason). Prints nothing.
CLIENT *CreateClientWithRetry(const char *host, rpcprog_t program, rpcvers_t version, const char *transport,
                              int retryPauseMs);

// A client for one of the server programs: its number moved by TELAMORPCOFFSET
// (RpcProgramNumber), the table's version, the transport by name; retry as above.
CLIENT *CreateServerClient(const char *host, ServerProgram program, const char *transport, int retryPauseMs);

}  // namespace tela

// ---- Short status codes of the servers' answers (`ec`) -----------------------------------------
// Other values are failures of the request.
constexpr short SERVER_OK = 0;
// Answers a version-2 route request that asked for the full answer: ask again for the short one.
constexpr short SERVER_FULL_FORM_REFUSED = 23;
// Not found or not set: read as an empty value.
constexpr short SERVER_NOT_FOUND = 25;

// ---- alpha's compatibility levels (the `level` of its compatibility record) ---------------------
// Up to this level route requests are of version 0, whose line id holds 10 characters.
constexpr int COMPAT_ROUTE_V0_LAST = 12;
// From this level on version 1, whose line id holds 20 characters.
constexpr int COMPAT_ROUTE_V1_FIRST = 13;
constexpr int COMPAT_ROUTE_V1_LAST = 15;
// From this level on version 2 with the full answer; alpha also names the groups, so no omega
// client is made.
constexpr int COMPAT_ALPHA_ONLY = 16;
static_assert(COMPAT_ROUTE_V1_FIRST == COMPAT_ROUTE_V0_LAST + 1 &&
                  COMPAT_ALPHA_ONLY == COMPAT_ROUTE_V1_LAST + 1,
              "every level has its route request version");
