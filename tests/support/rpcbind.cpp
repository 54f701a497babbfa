#include "rpcbind.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace testsupport {

bool InPrivateNetworkNamespace()
{
    const char *flag = getenv("TELA_PRIVATE_NETNS");
    return flag != nullptr && strcmp(flag, "1") == 0;
}

Rpcbind::Rpcbind() : process_("rpcbind") {}

Rpcbind::~Rpcbind()
{
    Stop();
}

bool Rpcbind::Start(int timeoutMs)
{
    const char *program = access("/usr/sbin/rpcbind", X_OK) == 0 ? "/usr/sbin/rpcbind" : "rpcbind";
    if (!process_.Start({program, "-f"}))
        return false;
    return process_.WaitUntil([] { return TcpAccepts(111); }, timeoutMs);
}

void Rpcbind::Stop()
{
    if (process_.Running())
        process_.Stop();
}

bool Rpcbind::Running()
{
    return process_.Running();
}

std::string Rpcbind::Log() const
{
    return process_.Log();
}

}  // namespace testsupport
