// Test fixtures of both client sets: a small ONC RPC server on loopback that answers the null
// procedure of one program, and the port map pointed at it.
#pragma once

#include <rpc/rpc.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "os/hostvars_testing.h"
#include "testsupport.h"
#include "xdr/alpha.h"
#include "xdr/omega.h"

namespace clienttest {

// The base program numbers of alpha and omega.
constexpr rpcprog_t kAlpha = ALPHA_PROG;
constexpr rpcprog_t kOmega = OMEGA_PROG;

// xdr_void as an XDR routine (through void (*)(), the generic function pointer type).
inline xdrproc_t XdrVoid()
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(xdr_void));
}

inline void Dispatch(struct svc_req *req, SVCXPRT *xprt)
{
    if (req->rq_proc == NULLPROC)
        svc_sendreply(xprt, XdrVoid(), nullptr);
    else
        svcerr_noproc(xprt);
}

// An ONC RPC server on 127.0.0.1:port for one program, version 1, that answers the null
// procedure and refuses all others. It starts listening after `delayMs` on its own thread.
class NullServer {
public:
    NullServer(int port, rpcprog_t program, int delayMs) : program_(program)
    {
        thread_ = std::thread([this, port, delayMs] { Run(port, delayMs); });
    }
    ~NullServer()
    {
        stop_ = true;
        thread_.join();
    }
    bool Listening() const { return listening_; }

private:
    void Run(int port, int delayMs)
    {
        for (int waited = 0; waited < delayMs && !stop_; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        int fd = testsupport::LoopbackSocket(SOCK_STREAM, port, 8);
        if (fd < 0)
            return;
        SVCXPRT *xprt = svctcp_create(fd, 0, 0);
        if (xprt == nullptr || !svc_register(xprt, program_, 1, Dispatch, 0)) {
            close(fd);
            return;
        }
        listening_ = true;
        while (!stop_) {
            std::vector<pollfd> fds(svc_pollfd, svc_pollfd + svc_max_pollfd);
            const int n = poll(fds.data(), fds.size(), 20);
            if (n > 0)
                svc_getreq_poll(fds.data(), n);
        }
        svc_unregister(program_, 1);
        svc_destroy(xprt);
    }

    rpcprog_t program_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> listening_{false};
    std::thread thread_;
};

// Points the alpha slot of the port map at `port` and sets the program offset.
class PortEnv {
public:
    PortEnv(int port, const char *offset)
    {
        unsetenv("TELAMORPCMAP");
        setenv("TELAMORPCPORT", std::to_string(port).c_str(), 1);
        if (offset)
            setenv("TELAMORPCOFFSET", offset, 1);
        else
            unsetenv("TELAMORPCOFFSET");
        HostVarsResetCaches();
    }
    ~PortEnv()
    {
        unsetenv("TELAMORPCPORT");
        unsetenv("TELAMORPCOFFSET");
        HostVarsResetCaches();
    }
};

inline bool WaitListening(const NullServer &server)
{
    return testsupport::WaitFor([&] { return server.Listening(); }, 5000, 10);
}

}  // namespace clienttest
