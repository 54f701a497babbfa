#include "hostile.h"

namespace testsupport {

bool HostileAlpha::Start(const std::string &mode, double delay, int lifetime, int chunk,
                         const std::string &recipient)
{
    port_ = FreePort();
    if (port_ == 0)
        return false;
    return process_.Start({"python3", SourceDir() + "/tests/support/hostile_alpha.py", mode, "--port",
                           std::to_string(port_), "--delay", std::to_string(delay), "--chunk",
                           std::to_string(chunk), "--lifetime", std::to_string(lifetime), "--recipient",
                           recipient}) &&
           process_.WaitTcp(port_, 30000);
}

std::string HostileAlpha::RpcMapEnv() const
{
    return "TELAMORPCMAP=127.0.0.1:" + std::to_string(port_);
}

}  // namespace testsupport
