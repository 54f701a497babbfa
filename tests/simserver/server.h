// The simulated alpha/omega server: command line and the serving loop.
#pragma once

#include <string>
#include <vector>

#include "rpcrt/servers.h"
#include "xdr/alpha.h"
#include "xdr/omega.h"

namespace simserver {

constexpr unsigned kAlphaProgram = ALPHA_PROG;
constexpr unsigned kOmegaProgram = OMEGA_PROG;
// Slots of the two programs in the port map: a server's port is the host's base plus the slot.
constexpr int kAlphaSlot = static_cast<int>(tela::ServerProgram::Alpha);
constexpr int kOmegaSlot = static_cast<int>(tela::ServerProgram::Omega);

struct Listen {
    std::string host;  // a loopback address
    int base = 0;
};

struct Options {
    std::string fixturePath;
    std::vector<Listen> listens;
    bool alpha = true;
    bool omega = true;
    int offset = 0;  // added to both program numbers (TELAMORPCOFFSET unless --offset)
    std::string logPath;
    std::string readyPath;
};

extern const char kUsage[];

// Reads the command line. False with a message in `error` for a bad one.
[[nodiscard]] bool ParseOptions(int argc, char **argv, Options &out, std::string &error);

// Serves until SIGTERM or SIGINT; SIGHUP reads the fixture again. Returns the exit code:
// 0 after a stop, 2 when the fixture, the log or a socket cannot be set up.
int Serve(const Options &options);

}  // namespace simserver
