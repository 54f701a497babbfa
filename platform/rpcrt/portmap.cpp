// Server port map from the environment (TELAMORPCMAP, TELAMORPCPORT, TELAMORPCOFFSET) and the
// portmapper query used when the environment gives no port.
#include "rpcrt/rpcrt.h"

#include "rpcrt/rpcrt_internal.h"
#include "rpcrt/servers.h"

#include <arpa/inet.h>
#include <poll.h>
#include <rpc/pmap_prot.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tela {

namespace {

// Set by QuietMapMessages.
thread_local bool quietMap = false;

// The map without its blanks, ended by two NULs; nullptr when out of memory.
char *CopyWithoutBlanks(const char *map)
{
    size_t length = strlen(map);
    auto *copy = static_cast<char *>(malloc(length + 2));
    if (copy == nullptr)
        return nullptr;
    size_t n = 0;
    for (const char *p = map; *p != '\0'; ++p)
        if (*p != ' ')
            copy[n++] = *p;
    copy[n] = '\0';
    copy[n + 1] = '\0';
    return copy;
}

// The base port the map gives `host` (before the slot is added), scanning entries
// "host:port" separated by ";". Positions in messages count from 1 in the blank-free copy.
// Returns false when the host has no entry or the map is malformed before it.
bool ScanMap(const char *copy, const char *host, uint16_t slot, unsigned short *port)
{
    size_t hostLength = strlen(host);
    const char *p = copy;
    for (;;) {
        while (*p == ':')
            ++p;
        if (*p == '\0')
            return false;
        const char *field = p;
        while (*p != '\0' && *p != ':')
            ++p;
        size_t fieldLength = static_cast<size_t>(p - field);
        ++p;  // the ":" that ends the host field, or past the end onto the second NUL
        const char *lookedFor = p;
        while (*p == ';')
            ++p;
        if (*p == '\0') {
            if (!quietMap)
                fprintf(stderr, "bad TELAMORPCMAP: syntax error near character %d\n",
                        static_cast<int>(lookedFor - copy) + 1);
            return false;
        }
        const char *portField = p;
        while (*p != '\0' && *p != ';')
            ++p;
        const char *portEnd = p;
        if (*p == ';')
            ++p;
        if (fieldLength == hostLength && memcmp(field, host, hostLength) == 0) {
            char *end = nullptr;
            long value = strtol(portField, &end, 10);
            // The number as a 32-bit long reads it.
            if (value > INT32_MAX)
                value = INT32_MAX;
            if (value < INT32_MIN)
                value = INT32_MIN;
            if (end < portEnd && !quietMap)
                fprintf(stderr, "bad TELAMORPCMAP: number expected near character %d\n",
                        static_cast<int>(portField - copy) + 1);
            *port = static_cast<unsigned short>(static_cast<uint32_t>(value) + slot);
            return true;
        }
    }
}

}  // namespace

rpcrt_internal::QuietMapMessages::QuietMapMessages() : wasQuiet(quietMap)
{
    quietMap = true;
}

rpcrt_internal::QuietMapMessages::~QuietMapMessages()
{
    quietMap = wasQuiet;
}

unsigned short rpclib(const char *host, rpcprog_t prog, rpcvers_t /*vers*/)
{
    unsigned short port = 0;
    char *copy = nullptr;
    const char *map = getenv("TELAMORPCMAP");
    if (map != nullptr) {
        copy = CopyWithoutBlanks(map);
        if (copy == nullptr) {
            fprintf(stderr, "rpclib: out of memory\n");
            return 0;
        }
    } else if (const char *base = getenv("TELAMORPCPORT")) {
        port = static_cast<unsigned short>(atoi(base));
    }
    uint32_t program = prog;
    if (const char *offset = getenv("TELAMORPCOFFSET"))
        program -= static_cast<uint32_t>(atoi(offset));

    const ServerProgramEntry *entry = ServerProgramByNumber(program);
    if (entry == nullptr) {
        free(copy);
        return port;
    }
    const auto slot = static_cast<uint16_t>(entry->program);
    if (copy == nullptr)
        return port != 0 ? static_cast<unsigned short>(port + slot) : 0;

    if (host == nullptr || !ScanMap(copy, host, slot, &port))
        port = 0;
    free(copy);
    return port;
}

namespace {

int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Closes a socket on every way out of the query.
struct SocketCloser {
    int fd;
    ~SocketCloser()
    {
        if (fd >= 0)
            close(fd);
    }
};

// The get-port call over UDP, sent once. The socket is connected to the portmapper, so that
// only datagrams from its address and port arrive and a refusal comes back as ECONNREFUSED;
// a datagram that is not a reply to this transaction id (another id, junk) is passed over
// until the time is up. false: no socket could be made (rpc_createerr says why); else
// *status and *err as a client's call and geterr give them.
bool UdpGetPort(struct sockaddr_in *address, struct pmap *mapping, u_short *port, enum clnt_stat *status,
                struct rpc_err *err)
{
    int64_t deadline = SteadyMs() + rpcrt_internal::kPmapTimeoutMs;
    SocketCloser sock = {socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)};
    if (sock.fd < 0) {
        rpc_createerr.cf_stat = RPC_SYSTEMERROR;
        rpc_createerr.cf_error.re_errno = errno;
        return false;
    }
    memset(err, 0, sizeof *err);
    *status = RPC_SUCCESS;
    auto fail = [&](enum clnt_stat why, int errorNumber) {
        err->re_status = why;
        err->re_errno = errorNumber;
        *status = why;
        return true;
    };
    const uint32_t xid = static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(time(nullptr));
    struct rpc_msg call = {};
    call.rm_xid = xid;
    call.rm_direction = CALL;
    call.rm_call.cb_rpcvers = RPC_MSG_VERSION;
    call.rm_call.cb_prog = PMAPPROG;
    call.rm_call.cb_vers = PMAPVERS;
    call.rm_call.cb_proc = PMAPPROC_GETPORT;
    call.rm_call.cb_cred = _null_auth;
    call.rm_call.cb_verf = _null_auth;
    char request[400];
    XDR out;
    xdrmem_create(&out, request, sizeof request, XDR_ENCODE);
    if (!xdr_callmsg(&out, &call) || !xdr_pmap(&out, mapping))
        return fail(RPC_CANTENCODEARGS, 0);
    size_t length = xdr_getpos(&out);
    if (connect(sock.fd, reinterpret_cast<struct sockaddr *>(address), sizeof *address) != 0 ||
        send(sock.fd, request, length, 0) != static_cast<ssize_t>(length))
        return fail(RPC_CANTSEND, errno);
    for (;;) {
        int64_t left = deadline - SteadyMs();
        if (left <= 0)
            return fail(RPC_TIMEDOUT, 0);
        struct pollfd p = {sock.fd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return fail(RPC_CANTRECV, errno);
        if (ready <= 0)
            continue;
        char answer[400];
        ssize_t got = recv(sock.fd, answer, sizeof answer, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (got < 0)
            return fail(RPC_CANTRECV, errno);
        if (got < 4)
            continue;
        uint32_t answerXid;
        memcpy(&answerXid, answer, sizeof answerXid);
        if (ntohl(answerXid) != xid)
            continue;
        struct rpc_msg reply = {};
        reply.acpted_rply.ar_verf = _null_auth;
        reply.acpted_rply.ar_results.where = reinterpret_cast<caddr_t>(port);
        reply.acpted_rply.ar_results.proc = reinterpret_cast<xdrproc_t>(xdr_u_short);
        XDR in;
        xdrmem_create(&in, answer, static_cast<u_int>(got), XDR_DECODE);
        bool decoded = xdr_replymsg(&in, &reply);
        if (reply.acpted_rply.ar_verf.oa_base != nullptr) {
            in.x_op = XDR_FREE;
            xdr_opaque_auth(&in, &reply.acpted_rply.ar_verf);
        }
        if (!decoded) {
            *port = 0;
            continue;  // not a reply: passed over like a datagram of another call
        }
        _seterr_reply(&reply, err);
        *status = err->re_status;
        return true;
    }
}

}  // namespace

u_short pmap_getport(struct sockaddr_in *address, u_long prog, u_long vers, u_int prot)
{
    u_short port = 0;
    address->sin_port = htons(PMAPPORT);
    const char *transport = getenv("RPCTRANSPORT");
    struct pmap mapping = {};
    mapping.pm_prog = prog;
    mapping.pm_vers = vers;
    mapping.pm_prot = prot;
    mapping.pm_port = 0;
    enum clnt_stat status = RPC_SUCCESS;
    struct rpc_err err = {};
    bool asked = false;
    if (transport != nullptr && strcasecmp(transport, "tcp") == 0) {
        // 3 s in all: the call gets what the connect has left of them.
        int64_t start = SteadyMs();
        int sock = -1;
        CLIENT *client = rpcrt_internal::CreateTcpClient(address, PMAPPROG, PMAPVERS, &sock, 400, 400,
                                                         rpcrt_internal::kPmapTimeoutMs);
        if (client != nullptr) {
            int64_t left = rpcrt_internal::kPmapTimeoutMs - (SteadyMs() - start);
            if (left < 1)
                left = 1;  // a zero wait would only send
            struct timeval total = {static_cast<time_t>(left / 1000),
                                    static_cast<suseconds_t>(left % 1000 * 1000)};
            status = tela::clnt_call(client, PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap),
                                     &mapping, reinterpret_cast<xdrproc_t>(xdr_u_short), &port, total);
            if (status != RPC_SUCCESS)
                CLNT_GETERR(client, &err);
            CLNT_DESTROY(client);
            asked = true;
        }
    } else {
        asked = UdpGetPort(address, &mapping, &port, &status, &err);
    }
    if (asked) {
        if (status != RPC_SUCCESS) {
            rpc_createerr.cf_stat = RPC_PMAPFAILURE;
            rpc_createerr.cf_error = err;
            port = 0;
        } else if (port == 0) {
            rpc_createerr.cf_stat = RPC_PROGNOTREGISTERED;
        }
    }
    address->sin_port = 0;
    return port;
}

}  // namespace tela
