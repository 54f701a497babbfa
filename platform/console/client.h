// dirprobe's client functions: RPC client handles for the product's server programs, made with
// one retry after a pause of one second, the locked call with the standard time-out of 25 s,
// and the RPC library's error texts. Always version 1 over "tcp". Nothing here prints.
//
// mailtrack has functions of the same names that do not retry; the two sets are never linked
// into one program. rpcrt/servers.h sets their contracts side by side.
#pragma once

#include <rpc/rpc.h>

// tela::clnt_create; when it gives no handle, sleeps 1000 ms and tries once more. Returns the
// handle or nullptr (rpc_createerr then holds the second attempt's reason).
CLIENT *CreateClient(const char *host, rpcprog_t program, rpcvers_t version, const char *protocol);

// The same for the programs of the server table (rpcrt/servers.h), each number moved by
// TELAMORPCOFFSET (RpcProgramNumber).
CLIENT *CreateAlphaClient(const char *host);
CLIENT *CreateOmegaClient(const char *host);
CLIENT *CreateClient2(const char *host);
CLIENT *CreateClient3(const char *host);
CLIENT *CreateClient4(const char *host);
CLIENT *CreateClient6(const char *host);

// Runs the handle's destroy operation (lock, socket, memory). nullptr is ignored.
void DestroyClient(CLIENT *client);

// tela::clnt_call with 25 s; RPC_FAILED for a missing handle.
enum clnt_stat CallClient(CLIENT *client, rpcproc_t procedure, xdrproc_t argProc, void *arg,
                          xdrproc_t resProc, void *res);

// clnt_sperror of the handle's last call error, prefixed with procName. Static text, valid until
// the next such call. A missing handle gives procName followed by ": no client".
const char *ClientErrorText(CLIENT *client, const char *procName);
// clnt_spcreateerror of rpc_createerr, prefixed with host. Static text.
const char *CreateErrorText(const char *host);
// Copies the handle's last call error into *error (left unchanged for a missing handle).
void ClientGetError(CLIENT *client, struct rpc_err *error);
