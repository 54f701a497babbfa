#include "console/client.h"

#include "os/hostvars.h"
#include "os/sysutil.h"
#include "rpcrt/rpcrt.h"

#include <cstdio>

namespace {
constexpr rpcprog_t kAlphaProgram = 16011967;
constexpr rpcprog_t kOmegaProgram = 16011931;
constexpr rpcprog_t kProgram2 = 1102104009;
constexpr rpcprog_t kProgram3 = 26011932;
constexpr rpcprog_t kProgram4 = 302095104;
constexpr rpcprog_t kProgram6 = 9081975;
constexpr rpcvers_t kVersion = 1;
constexpr const char *kTransport = "tcp";
constexpr int kRetryPauseMs = 1000;
constexpr struct timeval kCallTimeout = {25, 0};

CLIENT *CreateFor(const char *host, rpcprog_t program)
{
    return CreateClient(host, RpcProgramNumber(program), kVersion, kTransport);
}
}  // namespace

CLIENT *CreateClient(const char *host, rpcprog_t program, rpcvers_t version, const char *protocol)
{
    CLIENT *client = tela::clnt_create(host, program, version, protocol);
    if (client != nullptr)
        return client;
    SysSleep(kRetryPauseMs);
    return tela::clnt_create(host, program, version, protocol);
}

CLIENT *CreateAlphaClient(const char *host)
{
    return CreateFor(host, kAlphaProgram);
}
CLIENT *CreateOmegaClient(const char *host)
{
    return CreateFor(host, kOmegaProgram);
}
CLIENT *CreateClient2(const char *host)
{
    return CreateFor(host, kProgram2);
}
CLIENT *CreateClient3(const char *host)
{
    return CreateFor(host, kProgram3);
}
CLIENT *CreateClient4(const char *host)
{
    return CreateFor(host, kProgram4);
}
CLIENT *CreateClient6(const char *host)
{
    return CreateFor(host, kProgram6);
}

void DestroyClient(CLIENT *client)
{
    if (client != nullptr)
        CLNT_DESTROY(client);
}

enum clnt_stat CallClient(CLIENT *client, rpcproc_t procedure, xdrproc_t argProc, void *arg,
                          xdrproc_t resProc, void *res)
{
    return tela::clnt_call(client, procedure, argProc, arg, resProc, res, kCallTimeout);
}

const char *ClientErrorText(CLIENT *client, const char *procName)
{
    if (client == nullptr) {
        static char text[256];
        snprintf(text, sizeof text, "%s: no client\n", procName ? procName : "");
        return text;
    }
    return clnt_sperror(client, procName ? procName : "");
}

const char *CreateErrorText(const char *host)
{
    return clnt_spcreateerror(host ? host : "");
}

void ClientGetError(CLIENT *client, struct rpc_err *error)
{
    if (client != nullptr && error != nullptr)
        CLNT_GETERR(client, error);
}
