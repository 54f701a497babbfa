#include "hostile.h"

#include <sstream>

#include "xdr/alpha.h"

namespace testsupport {

bool HostileAlpha::Start(const std::string &mode, double delay, int lifetime, int chunk,
                         const std::string &recipient)
{
    return Launch({mode, "--delay", std::to_string(delay), "--chunk", std::to_string(chunk), "--lifetime",
                   std::to_string(lifetime), "--recipient", recipient});
}

bool HostileAlpha::StartProxy(int upstream, int splitProc, int cut, double delay, int lifetime)
{
    return Launch({"proxy", "--upstream", std::to_string(upstream), "--split-proc", std::to_string(splitProc),
                   "--chunk", std::to_string(cut), "--delay", std::to_string(delay), "--lifetime",
                   std::to_string(lifetime)});
}

bool HostileAlpha::Launch(const std::vector<std::string> &args)
{
    // A port taken by another program after the check: the server ends, and another is tried.
    port_ = StartOnFreePorts(1, [&](int port) {
        std::vector<std::string> argv = {"python3", SourceDir() + "/tests/support/hostile_alpha.py",
                                         "--program", std::to_string(ALPHA_PROG)};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back("--port");
        argv.push_back(std::to_string(port));
        if (process_.Start(argv) && process_.WaitListening(port, 30000))
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
