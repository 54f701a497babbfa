#include "console/client.h"

#include "rpcrt/rpcrt.h"
#include "rpcrt/servers.h"

#include <cstdio>

namespace {
CLIENT *CreateFor(const char *host, tela::ServerProgram program)
{
    return tela::CreateServerClient(host, program, tela::kServerTransport, tela::kConsoleRetryPauseMs);
}
}  // namespace

CLIENT *CreateClient(const char *host, rpcprog_t program, rpcvers_t version, const char *protocol)
{
    return tela::CreateClientWithRetry(host, program, version, protocol, tela::kConsoleRetryPauseMs);
}

CLIENT *CreateAlphaClient(const char *host)
{
    return CreateFor(host, tela::ServerProgram::Alpha);
}
CLIENT *CreateOmegaClient(const char *host)
{
    return CreateFor(host, tela::ServerProgram::Omega);
}
CLIENT *CreateClient2(const char *host)
{
    return CreateFor(host, tela::ServerProgram::Program2);
}
CLIENT *CreateClient3(const char *host)
{
    return CreateFor(host, tela::ServerProgram::Program3);
}
CLIENT *CreateClient4(const char *host)
{
    return CreateFor(host, tela::ServerProgram::Program4);
}
CLIENT *CreateClient6(const char *host)
{
    return CreateFor(host, tela::ServerProgram::Program6);
}

void DestroyClient(CLIENT *client)
{
    if (client != nullptr)
        CLNT_DESTROY(client);
}

enum clnt_stat CallClient(CLIENT *client, rpcproc_t procedure, xdrproc_t argProc, void *arg,
                          xdrproc_t resProc, void *res)
{
    return tela::clnt_call(client, procedure, argProc, arg, resProc, res, tela::kCallTimeout);
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
