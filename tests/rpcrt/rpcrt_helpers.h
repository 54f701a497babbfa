// Helpers shared by the RPC runtime's tests: descriptor counts, our small RPC server as a child
// process, and a loopback listener with a full queue.
#pragma once

#include "envguard.h"
#include "rpcrt/rpcrt.h"
#include "testsupport.h"
#include "xdr/alpha.h"
#include "xdr/omega.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace rpcrt_test {

// A program number outside the port map's table: TELAMORPCPORT alone is its port.
constexpr rpcprog_t kTestProgram = 0x20001234;
constexpr rpcprog_t kAlphaProgram = ALPHA_PROG;
constexpr rpcprog_t kOmegaProgram = OMEGA_PROG;
constexpr rpcproc_t kProcNull = 0;
constexpr rpcproc_t kProcEcho = 1;
constexpr rpcproc_t kProcString = 2;
constexpr rpcproc_t kProcSlowEcho = 3;

// Any XDR routine as libtirpc's xdrproc_t (through void (*)(), which casts without warnings).
template <typename Function>
xdrproc_t Xdr(Function *proc)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(proc));
}

inline int OpenDescriptorCount()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

using testsupport::CaptureFd;
using testsupport::EnvGuard;
using testsupport::LocalPort;
using testsupport::LoopbackAddress;
using testsupport::LoopbackSocket;
using testsupport::SilentListener;

// Our test server (rpcrt_test_server) serving `programs` on 127.0.0.1, TCP and UDP, on a free
// port (another one when the port is taken before the server binds it).
class TestServer {
public:
    explicit TestServer(std::vector<rpcprog_t> programs, bool registerIt = false)
        : process_("rpcrt_test_server")
    {
        port_ = testsupport::StartOnFreePorts(1, [&](int port) {
            std::vector<std::string> argv = {testsupport::BinaryDir() + "/tests/rpcrt/rpcrt_test_server",
                                             "--port", std::to_string(port)};
            for (rpcprog_t program : programs) {
                argv.push_back("--prog");
                argv.push_back(std::to_string(program));
            }
            if (registerIt)
                argv.push_back("--register");
            if (process_.Start(argv) &&
                process_.WaitUntil([this] { return process_.Log().find("ready") != std::string::npos; }))
                return true;
            process_.Stop();
            return false;
        });
        started_ = port_ != 0;
    }
    bool started() const { return started_; }
    int port() const { return port_; }
    std::string Log() const { return process_.Log(); }

private:
    testsupport::ServerProcess process_;
    int port_ = 0;
    bool started_ = false;
};

// A listener whose accept queue is full: further connection requests are dropped, so a
// connect to it stalls like one to an unreachable host.
class FullListener : public SilentListener {
public:
    FullListener() : SilentListener(0) { Fill(); }
};

// A struct of two strings, for replies that carry only one of them.
struct TwoStrings {
    char *first;
    char *second;
};

inline bool_t XdrTwoStrings(XDR *xdrs, TwoStrings *value)
{
    return xdr_wrapstring(xdrs, &value->first) && xdr_wrapstring(xdrs, &value->second);
}

}  // namespace rpcrt_test
