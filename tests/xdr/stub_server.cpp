// In-process RPC server of the stub tests (see stub_server.h).
#include "stub_server.h"

#include "rpcrt/rpcrt.h"
#include "testsupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace xdrtest {

namespace {

StubServer *g_server = nullptr;

// Reads the whole argument as 4-byte units, up to the end of the request record.
bool_t CaptureArgs(XDR *xdrs, Bytes *out)
{
    uint32_t unit;
    while (xdr_u_int(xdrs, &unit)) {
        out->push_back(static_cast<uint8_t>(unit >> 24));
        out->push_back(static_cast<uint8_t>(unit >> 16));
        out->push_back(static_cast<uint8_t>(unit >> 8));
        out->push_back(static_cast<uint8_t>(unit));
    }
    return TRUE;
}

// Writes prepared reply bytes as they are.
bool_t RawReply(XDR *xdrs, Bytes *bytes)
{
    if (bytes->empty())
        return TRUE;
    return XDR_PUTBYTES(xdrs, reinterpret_cast<char *>(bytes->data()), static_cast<u_int>(bytes->size()));
}

void DispatchThunk(struct svc_req *req, SVCXPRT *xprt)
{
    g_server->Dispatch(req, xprt);
}

}  // namespace

StubServer *StubServer::Get()
{
    static StubServer *server = [] {
        auto *s = new StubServer();
        g_server = s;
        if (!s->Start()) {
            g_server = nullptr;
            return static_cast<StubServer *>(nullptr);
        }
        return s;
    }();
    return server;
}

bool StubServer::Start()
{
    int fd = testsupport::LoopbackSocket(SOCK_STREAM);
    if (fd < 0)
        return false;
    port_ = testsupport::LocalPort(fd);
    if (port_ <= 0) {
        close(fd);
        return false;
    }
    SVCXPRT *xprt = svc_vc_create(fd, 0, 0);
    if (xprt == nullptr)
        return false;
    // Protocol 0: nothing is registered with a portmapper.
    if (!svc_register(xprt, kAlpha, 1, DispatchThunk, 0) || !svc_register(xprt, kOmega, 1, DispatchThunk, 0))
        return false;
    listenFd_ = fd;
    // Started in full before any test forks a child that goes on running (see StartedThread).
    testsupport::StartedThread([this] { Loop(); }).detach();
    return true;
}

void StubServer::Loop()
{
    // The service's descriptors belong to this thread alone. Between requests the thread
    // allocates nothing (the list keeps its room), so that a child forked meanwhile finds no
    // allocator lock held.
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign(svc_pollfd, svc_pollfd + svc_max_pollfd);
        int n = poll(fds.data(), fds.size(), 100);
        if (n > 0)
            svc_getreq_poll(fds.data(), n);
        int open = 0;
        for (int i = 0; i < svc_max_pollfd; i++)
            if (svc_pollfd[i].fd >= 0 && svc_pollfd[i].fd != listenFd_)
                open++;
        open_ = open;
    }
}

void StubServer::Dispatch(struct svc_req *req, SVCXPRT *xprt)
{
    Seen seen{req->rq_prog, req->rq_proc, {}};
    svc_getargs(xprt, reinterpret_cast<xdrproc_t>(CaptureArgs), reinterpret_cast<caddr_t>(&seen.args));
    Rule rule{req->rq_prog, req->rq_proc, Action::NoProc, {}};
    {
        std::lock_guard<std::mutex> lock(mu_);
        seen_.push_back(seen);
        for (const Rule &r : rules_)
            if (r.prog == req->rq_prog && r.proc == req->rq_proc)
                rule = r;
    }
    switch (rule.action) {
    case Action::Answer:
        svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(RawReply), reinterpret_cast<caddr_t>(&rule.reply));
        break;
    case Action::NoProc:
        svcerr_noproc(xprt);
        break;
    case Action::Close:
        shutdown(xprt->xp_fd, SHUT_RDWR);
        break;
    case Action::Silent:
        break;
    }
}

void StubServer::Answer(rpcprog_t prog, rpcproc_t proc, const Wire &reply)
{
    std::lock_guard<std::mutex> lock(mu_);
    rules_.push_back({prog, proc, Action::Answer, reply.bytes()});
}

void StubServer::Do(rpcprog_t prog, rpcproc_t proc, Action action)
{
    std::lock_guard<std::mutex> lock(mu_);
    rules_.push_back({prog, proc, action, {}});
}

void StubServer::Reset()
{
    std::lock_guard<std::mutex> lock(mu_);
    rules_.clear();
    seen_.clear();
}

std::vector<Seen> StubServer::Calls()
{
    std::lock_guard<std::mutex> lock(mu_);
    return seen_;
}

CLIENT *ConnectTo(rpcprog_t prog)
{
    StubServer *server = StubServer::Get();
    if (server == nullptr)
        return nullptr;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(server->Port()));
    int sock = -1;
    return tela::clnttcp_create(&addr, prog, 1, &sock, 0, 0);
}

}  // namespace xdrtest
