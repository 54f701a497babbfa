// Test fixtures of both client sets: a small ONC RPC server on loopback that answers the null
// procedure of one program, and the port map pointed at it.
#pragma once

#include <rpc/rpc.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
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

// An ONC RPC server on 127.0.0.1 for one program, version 1, that answers the null procedure and
// refuses all others. Its port is bound at once (the system picks it, so no other program can
// take it meanwhile) and refuses connections until the server listens, `delayMs` later, on its
// own thread. port() is 0 when no port could be bound.
class NullServer {
public:
    NullServer(rpcprog_t program, int delayMs) : program_(program)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = testsupport::LoopbackAddress(0);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            if (fd_ >= 0)
                close(fd_);
            fd_ = -1;
            return;
        }
        port_ = testsupport::LocalPort(fd_);
        thread_ = std::thread([this, delayMs] { Run(delayMs); });
    }
    ~NullServer()
    {
        stop_ = true;
        // The thread owns the port from its start; without a thread no port was bound.
        if (thread_.joinable())
            thread_.join();
    }
    NullServer(const NullServer &) = delete;
    NullServer &operator=(const NullServer &) = delete;
    int port() const { return port_; }
    bool Listening() const { return listening_; }

private:
    void Run(int delayMs)
    {
        for (int waited = 0; waited < delayMs && !stop_; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        SVCXPRT *xprt = nullptr;
        if (listen(fd_, 8) != 0 || (xprt = svctcp_create(fd_, 0, 0)) == nullptr ||
            !svc_register(xprt, program_, 1, Dispatch, 0)) {
            if (xprt != nullptr)
                svc_destroy(xprt);
            else
                close(fd_);
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
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> listening_{false};
    std::thread thread_;
};

// Sets the port map's base port (alpha's slot; the other programs' slots follow it) and the
// program offset.
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
