// The table of the server programs and the creator under both client sets.
#include "rpcrt/servers.h"

#include "os/hostvars.h"
#include "os/sysutil.h"
#include "rpcrt/rpcrt_internal.h"
#include "xdr/alpha.h"
#include "xdr/omega.h"

namespace tela {

// alpha and omega as their interface files define them; the other five programs have no
// interface in the system.
const ServerProgramEntry ServerProgramTable[7] = {
    {ServerProgram::Alpha, ALPHA_PROG, ALPHA_VERS}, {ServerProgram::Program1, 1481537, 1},
    {ServerProgram::Program2, 1102104009, 1},       {ServerProgram::Program3, 26011932, 1},
    {ServerProgram::Program4, 302095104, 1},        {ServerProgram::Omega, OMEGA_PROG, OMEGA_VERS},
    {ServerProgram::Program6, 9081975, 1},
};

const ServerProgramEntry &ServerProgramOf(ServerProgram program)
{
    return ServerProgramTable[static_cast<uint16_t>(program)];
}

const ServerProgramEntry *ServerProgramByNumber(rpcprog_t number)
{
    for (const ServerProgramEntry &entry : ServerProgramTable)
        if (entry.number == number)
            return &entry;
    return nullptr;
}

CLIENT *CreateClientWithRetry(const char *host, rpcprog_t program, rpcvers_t version, const char *transport,
                              int retryPauseMs)
{
    CLIENT *client = tela::clnt_create(host, program, version, transport);
    if (client != nullptr || retryPauseMs <= 0)
        return client;
    SysSleep(retryPauseMs);
    rpcrt_internal::QuietMapMessages quiet;
    return tela::clnt_create(host, program, version, transport);
}

CLIENT *CreateServerClient(const char *host, ServerProgram program, const char *transport, int retryPauseMs)
{
    const ServerProgramEntry &entry = ServerProgramOf(program);
    return CreateClientWithRetry(host, RpcProgramNumber(entry.number), entry.version, transport,
                                 retryPauseMs);
}

}  // namespace tela
