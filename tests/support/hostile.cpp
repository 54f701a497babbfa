#include "hostile.h"

#include <sstream>

namespace testsupport {

bool HostileAlpha::Start(const std::string &mode, double delay, int lifetime, int chunk,
                         const std::string &recipient)
{
    // A port taken by another program after the check: the server ends, and another is tried.
    port_ = StartOnFreePorts(1, [&](int port) {
        if (process_.Start({"python3", SourceDir() + "/tests/support/hostile_alpha.py", mode, "--port",
                            std::to_string(port), "--delay", std::to_string(delay), "--chunk",
                            std::to_string(chunk), "--lifetime", std::to_string(lifetime), "--recipient",
                            recipient}) &&
            process_.WaitListening(port, 30000))
            return true;
        process_.Stop();
        return false;
    });
    return port_ != 0;
}

int HostileAlpha::Calls() const
{
    std::istringstream lines(Log());
    int n = 0;
    for (std::string line; std::getline(lines, line);)
        n += line == "call";
    return n;
}

std::string HostileAlpha::RpcMapEnv() const
{
    return "TELAMORPCMAP=127.0.0.1:" + std::to_string(port_);
}

}  // namespace testsupport
