// A small ONC RPC server for the runtime's tests, built on libtirpc's server side. It serves the
// given programs, version 1, over TCP and UDP on 127.0.0.1:<port>, without the portmapper
// unless --register is given. Procedures:
//   0  null
//   1  echo an int
//   2  a string, "hello"
//   3  echo an int after sleeping that many milliseconds
// Usage: rpcrt_test_server --port N --prog P [--prog P ...] [--register]
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "testsupport.h"

namespace {

template <typename Function>
xdrproc_t Xdr(Function *proc)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(proc));
}

void Dispatch(struct svc_req *request, SVCXPRT *xprt)
{
    switch (request->rq_proc) {
    case 0:
        svc_sendreply(xprt, Xdr(xdr_void), nullptr);
        return;
    case 1:
    case 3: {
        int value = 0;
        if (!svc_getargs(xprt, Xdr(xdr_int), reinterpret_cast<caddr_t>(&value))) {
            svcerr_decode(xprt);
            return;
        }
        if (request->rq_proc == 3 && value > 0)
            usleep(static_cast<useconds_t>(value) * 1000);
        svc_sendreply(xprt, Xdr(xdr_int), reinterpret_cast<caddr_t>(&value));
        return;
    }
    case 2: {
        char text[] = "hello";
        char *p = text;
        svc_sendreply(xprt, Xdr(xdr_wrapstring), reinterpret_cast<caddr_t>(&p));
        return;
    }
    default:
        svcerr_noproc(xprt);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    int port = 0;
    bool registerWithPortmapper = false;
    std::vector<rpcprog_t> programs;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            port = atoi(argv[++i]);
        else if (strcmp(argv[i], "--prog") == 0 && i + 1 < argc)
            programs.push_back(static_cast<rpcprog_t>(strtoul(argv[++i], nullptr, 10)));
        else if (strcmp(argv[i], "--register") == 0)
            registerWithPortmapper = true;
    }
    if (port <= 0 || programs.empty()) {
        fprintf(stderr, "usage: rpcrt_test_server --port N --prog P [--prog P ...] [--register]\n");
        return 2;
    }
    int tcpFd = testsupport::LoopbackSocket(SOCK_STREAM, port);
    int udpFd = testsupport::LoopbackSocket(SOCK_DGRAM, port);
    if (tcpFd < 0 || udpFd < 0) {
        perror("bind");
        return 1;
    }
    SVCXPRT *tcp = svctcp_create(tcpFd, 0, 0);
    SVCXPRT *udp = svcudp_create(udpFd);
    if (tcp == nullptr || udp == nullptr) {
        fprintf(stderr, "cannot create the server transports\n");
        return 1;
    }
    for (rpcprog_t program : programs) {
        if (registerWithPortmapper)
            pmap_unset(program, 1);
        if (!svc_register(tcp, program, 1, Dispatch, registerWithPortmapper ? IPPROTO_TCP : 0) ||
            !svc_register(udp, program, 1, Dispatch, registerWithPortmapper ? IPPROTO_UDP : 0)) {
            fprintf(stderr, "cannot register program %u\n", program);
            return 1;
        }
    }
    printf("ready\n");
    fflush(stdout);
    svc_run();
    return 0;
}
