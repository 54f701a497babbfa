// A small ONC RPC server inside the test process, on 127.0.0.1, for the stub tests.
//
// It serves the alpha and omega program numbers (version 1) on one TCP port, from a thread of
// its own. For each call it records the program, the procedure and the raw argument bytes, and
// answers with the bytes a test gave for that procedure (built with Wire, not with the
// system's routines), so both directions of the wire are checked independently. A procedure
// without an answer gets PROC_UNAVAIL. One server lives for the whole test program.
#pragma once

#include "wire.h"
#include "xdr/alpha.h"
#include "xdr/omega.h"

#include <rpc/rpc.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace xdrtest {

inline constexpr rpcprog_t kAlpha = ALPHA_PROG;
inline constexpr rpcprog_t kOmega = OMEGA_PROG;

struct Seen {
    rpcprog_t prog;
    rpcproc_t proc;
    Bytes args;
};

enum class Action { Answer, NoProc, Close, Silent };

class StubServer {
public:
    // The running server (started on first use); nullptr when it could not start.
    static StubServer *Get();

    int Port() const { return port_; }
    // What the server does for the next calls of prog/proc: answer these bytes; answer with
    // PROC_UNAVAIL; close the connection without answering; or never answer.
    void Answer(rpcprog_t prog, rpcproc_t proc, const Wire &reply);
    void Do(rpcprog_t prog, rpcproc_t proc, Action action);
    // Forgets all answers and the calls seen so far.
    void Reset();
    std::vector<Seen> Calls();
    // The client connections the service held at the end of its last round (a connection that
    // ended is gone from the count once the service has closed it).
    int OpenConnections() const { return open_; }

    // The dispatcher of the libtirpc service (public for the C callback only).
    void Dispatch(struct svc_req *req, SVCXPRT *xprt);

private:
    StubServer() = default;
    bool Start();
    void Loop();

    struct Rule {
        rpcprog_t prog;
        rpcproc_t proc;
        Action action;
        Bytes reply;
    };
    std::mutex mu_;
    std::vector<Rule> rules_;
    std::vector<Seen> seen_;
    int port_ = 0;
    int listenFd_ = -1;
    std::atomic<int> open_{0};
};

// A client of our RPC runtime for prog on the test server, or nullptr.
CLIENT *ConnectTo(rpcprog_t prog);

struct ClientCloser {
    void operator()(CLIENT *c) const
    {
        if (c)
            CLNT_DESTROY(c);
    }
};
using Client = std::unique_ptr<CLIENT, ClientCloser>;

}  // namespace xdrtest
