// RPC client runtime: runtime start and stop, the locked client handle over libtirpc's TCP and
// UDP transports, the creators and the locked call.
//
// A handle is a LockedClient whose first member is the CLIENT given to callers. Its operation
// table forwards to a libtirpc client made with clnt_vc_create/clnt_dg_create on a socket we
// opened ourselves (libtirpc's own clnttcp_create would bind a reserved port when run as root
// and ask libtirpc's portmapper). Because the public part is a real CLIENT, libtirpc's
// clnt_sperror and the CLNT_* macros keep working on it.
//
// A call on a TCP handle has libtirpc encode and send the request (so the bytes on the wire are
// libtirpc's own) and then reads the reply itself, against one deadline for the whole call:
// libtirpc's reader would start its wait afresh at every read and after every reply with another
// transaction id, so a server could hold a call for as long as it liked.
#include "rpcrt/rpcrt.h"

#include "os/sysutil.h"
#include "rpcrt/rpcrt_internal.h"
#include "rpcrt/rpcrt_testing.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

using tela::rpcrt_internal::kConnectTimeoutMs;

// Process-wide runtime state. Start and stop run on the main thread only; the lock pointers are
// atomic because client creation on other threads reads the host look-up lock.
bool runtimeStarted = false;
std::atomic<SysLockRec *> hostsLock{nullptr};
std::atomic<SysLockRec *> spareLock{nullptr};

std::atomic<int> liveLocks{0};
// Test seam: when positive, no call waits longer than this many milliseconds.
std::atomic<int> callBoundMs{0};
// The calling thread's request deadline (SetCallDeadline) on the monotonic clock; none: INT64_MAX.
thread_local int64_t callDeadlineMs = INT64_MAX;

// The reply side of a TCP handle: the record-marked stream as far as it has been read. It
// lives as long as the handle, and every byte taken from the socket is counted against the
// fragment it belongs to (a fragment header read in part included), so that a call that gives
// up anywhere in a reply leaves the place known: the next call skips what is left of that
// reply and reads its own.
struct ReplyStream {
    uint32_t fragLeft;    // bytes of the current fragment not yet read
    bool lastFrag;        // the current fragment ends its record
    uint32_t headerHave;  // bytes of the next fragment header read so far
    unsigned char header[4];
    int64_t deadlineMs;
    struct rpc_err err;  // the status of the call under way
    uint32_t pos, have;  // unread bytes in buf: [pos, have)
    char buf[4096];
};

struct LockedClient {
    CLIENT pub;     // what callers hold; must stay the first member
    CLIENT *inner;  // libtirpc's transport client
    SysLockRec *lock;
    int fd;
    bool ownFd;  // the socket is ours: close it on destroy
    bool tcp;
    // TCP only: the total wait of a call (CLSET_TIMEOUT, else the caller's time-out) and the
    // reply reader; ownErr: the last call's error is in reply.err, not in the inner client.
    struct timeval wait;
    bool waitSet;
    bool ownErr;
    ReplyStream reply;
};

LockedClient *FromHandle(CLIENT *h)
{
    return reinterpret_cast<LockedClient *>(h);
}

void SetCreateError(enum clnt_stat status, int err)
{
    rpc_createerr.cf_stat = status;
    rpc_createerr.cf_error.re_errno = err;
}

int64_t NowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Milliseconds left before the thread's deadline, at most wantMs (which is returned when no
// deadline is set); 0 or less when the time is up.
int64_t DeadlineLeftMs(int64_t wantMs)
{
    if (callDeadlineMs == INT64_MAX)
        return wantMs;
    int64_t left = callDeadlineMs - NowMs();
    return left < wantMs ? left : wantMs;
}

bool DeadlinePassed()
{
    return callDeadlineMs != INT64_MAX && DeadlineLeftMs(1) <= 0;
}

// A call given up before it is sent because the thread's time is up: RPC_TIMEDOUT, reported by
// the handle's geterr operation.
enum clnt_stat TimedOutBeforeSending(LockedClient *lc)
{
    lc->ownErr = true;
    memset(&lc->reply.err, 0, sizeof lc->reply.err);
    lc->reply.err.re_status = RPC_TIMEDOUT;
    return RPC_TIMEDOUT;
}

// Reads more of the stream into the buffer (which must be empty), waiting no later than the
// deadline. false with the status a libtirpc stream client gives: RPC_TIMEDOUT when the time
// is up, RPC_CANTRECV with the error number otherwise (ECONNRESET when the server closed).
bool FillReply(LockedClient *lc)
{
    ReplyStream &rs = lc->reply;
    for (;;) {
        int64_t left = rs.deadlineMs - NowMs();
        if (left <= 0) {
            rs.err.re_status = RPC_TIMEDOUT;
            return false;
        }
        struct pollfd p = {lc->fd, POLLIN, 0};
        int n = poll(&p, 1, left > INT32_MAX ? INT32_MAX : static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            rs.err.re_status = RPC_CANTRECV;
            rs.err.re_errno = errno;
            return false;
        }
        if (n == 0)
            continue;  // the deadline is checked at the top
        ssize_t got = recv(lc->fd, rs.buf, sizeof rs.buf, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (got <= 0) {
            rs.err.re_status = RPC_CANTRECV;
            rs.err.re_errno = got == 0 ? ECONNRESET : errno;
            return false;
        }
        rs.pos = 0;
        rs.have = static_cast<uint32_t>(got);
        return true;
    }
}

// Makes at least one unread byte available in the buffer; false as FillReply.
bool BufferedBytes(LockedClient *lc)
{
    return lc->reply.pos < lc->reply.have || FillReply(lc);
}

// Reads the next fragment header, keeping a part of it read before a failure for the next try.
// A header of zero is refused, as libtirpc refuses it.
bool NextFragment(LockedClient *lc)
{
    ReplyStream &rs = lc->reply;
    while (rs.headerHave < sizeof rs.header) {
        if (!BufferedBytes(lc))
            return false;
        rs.header[rs.headerHave++] = static_cast<unsigned char>(rs.buf[rs.pos++]);
    }
    rs.headerHave = 0;
    uint32_t header = (uint32_t(rs.header[0]) << 24) | (uint32_t(rs.header[1]) << 16) |
                      (uint32_t(rs.header[2]) << 8) | rs.header[3];
    rs.lastFrag = (header & 0x80000000u) != 0;
    if (header == 0)
        return false;
    rs.fragLeft = header & 0x7FFFFFFFu;
    return true;
}

// Takes up to n bytes of the current fragment from the buffer (to == nullptr skips them) and
// counts them off the fragment at once; false when the stream fails first.
bool FragmentBytes(LockedClient *lc, char *to, uint32_t *n)
{
    ReplyStream &rs = lc->reply;
    if (!BufferedBytes(lc))
        return false;
    uint32_t take = rs.have - rs.pos;
    if (take > rs.fragLeft)
        take = rs.fragLeft;
    if (take > *n)
        take = *n;
    if (to != nullptr)
        memcpy(to, rs.buf + rs.pos, take);
    rs.pos += take;
    rs.fragLeft -= take;
    *n -= take;
    return true;
}

// Bytes of the current record; false at its end or when the stream fails.
bool RecordBytes(LockedClient *lc, char *to, uint32_t n)
{
    ReplyStream &rs = lc->reply;
    while (n > 0) {
        if (rs.fragLeft == 0) {
            if (rs.lastFrag || !NextFragment(lc))
                return false;
            continue;
        }
        uint32_t before = n;
        if (!FragmentBytes(lc, to, &n))
            return false;
        if (to != nullptr)
            to += before - n;
    }
    return true;
}

// Skips what is left of the current record; the next read starts a new one.
bool SkipRecord(LockedClient *lc)
{
    ReplyStream &rs = lc->reply;
    while (rs.fragLeft > 0 || !rs.lastFrag) {
        uint32_t n = rs.fragLeft;
        if (n > 0 && !FragmentBytes(lc, nullptr, &n))
            return false;
        if (rs.fragLeft == 0 && !rs.lastFrag && !NextFragment(lc))
            return false;
    }
    rs.lastFrag = false;
    return true;
}

// A decoding XDR stream over the current reply record.
bool_t ReplyGetLong(XDR *xdrs, long *value)
{
    uint32_t unit;
    if (!RecordBytes(static_cast<LockedClient *>(xdrs->x_private), reinterpret_cast<char *>(&unit), 4))
        return FALSE;
    *value = static_cast<long>(static_cast<int32_t>(ntohl(unit)));
    return TRUE;
}
bool_t ReplyGetBytes(XDR *xdrs, char *to, u_int n)
{
    return RecordBytes(static_cast<LockedClient *>(xdrs->x_private), to, n) ? TRUE : FALSE;
}
bool_t ReplyPutLong(XDR *, const long *)
{
    return FALSE;
}
bool_t ReplyPutBytes(XDR *, const char *, u_int)
{
    return FALSE;
}
u_int ReplyGetPos(XDR *)
{
    return 0;
}
bool_t ReplySetPos(XDR *, u_int)
{
    return FALSE;
}
int32_t *ReplyInline(XDR *, u_int)
{
    return nullptr;  // the XDR routines then read unit by unit
}
void ReplyDestroy(XDR *) {}
bool_t ReplyControl(XDR *, int, void *)
{
    return FALSE;
}
const XDR::xdr_ops replyOps = {ReplyGetLong, ReplyPutLong, ReplyGetBytes, ReplyPutBytes, ReplyGetPos,
                               ReplySetPos,  ReplyInline,  ReplyDestroy,  ReplyControl};

// The results routine while only the reply's header is decoded.
bool_t NoResults(XDR *, ...)
{
    return TRUE;
}

void FreeVerifier(XDR *xdrs, struct opaque_auth *verf)
{
    if (verf->oa_base != nullptr) {
        xdrs->x_op = XDR_FREE;
        xdr_opaque_auth(xdrs, verf);
        xdrs->x_op = XDR_DECODE;
        verf->oa_base = nullptr;
    }
}

// Reads replies until the one for transaction id xid, skipping others, and decodes its results:
// what libtirpc's stream client does after sending, with the wait counted for all of it.
enum clnt_stat ReceiveReply(LockedClient *lc, AUTH *auth, uint32_t xid, xdrproc_t xres, void *resp,
                            struct rpc_msg *reply)
{
    ReplyStream &rs = lc->reply;
    XDR xdrs = {};
    xdrs.x_op = XDR_DECODE;
    xdrs.x_ops = &replyOps;
    xdrs.x_private = lc;
    for (;;) {
        memset(reply, 0, sizeof *reply);
        reply->acpted_rply.ar_verf = _null_auth;
        reply->acpted_rply.ar_results.where = nullptr;
        reply->acpted_rply.ar_results.proc = NoResults;
        // A record that does not hold a reply (or a zero fragment header) is passed over, as
        // libtirpc passes it over; only the stream's own failure ends the call.
        bool ok = SkipRecord(lc) && xdr_replymsg(&xdrs, reply);
        bool match = ok && reply->rm_xid == xid;
        if (!match)
            FreeVerifier(&xdrs, &reply->acpted_rply.ar_verf);
        if (rs.err.re_status != RPC_SUCCESS)
            return rs.err.re_status;
        if (match)
            break;
    }
    _seterr_reply(reply, &rs.err);
    if (rs.err.re_status == RPC_SUCCESS) {
        if (!AUTH_VALIDATE(auth, &reply->acpted_rply.ar_verf)) {
            rs.err.re_status = RPC_AUTHERROR;
            rs.err.re_why = AUTH_INVALIDRESP;
        } else if (!(*xres)(&xdrs, resp) && rs.err.re_status == RPC_SUCCESS) {
            rs.err.re_status = RPC_CANTDECODERES;
        }
    }
    FreeVerifier(&xdrs, &reply->acpted_rply.ar_verf);
    return rs.err.re_status;
}

bool TimeNotOk(const struct timeval &t)
{
    return t.tv_sec < 0 || t.tv_usec < 0 || t.tv_usec > 1000000;
}

// The call on a TCP handle. libtirpc sends the request with a zero wait (which makes it return
// right after sending, the library's message-passing rule), then the reply is read here.
enum clnt_stat StreamCall(LockedClient *lc, AUTH *auth, rpcproc_t proc, xdrproc_t xargs, void *argsp,
                          xdrproc_t xres, void *resp, struct timeval timeout)
{
    if (!lc->waitSet && !TimeNotOk(timeout))
        lc->wait = timeout;
    int64_t waitMs = static_cast<int64_t>(lc->wait.tv_sec) * 1000 + lc->wait.tv_usec / 1000;
    int bound = callBoundMs.load();
    if (bound > 0 && waitMs > bound)
        waitMs = bound;
    if (DeadlinePassed())
        return TimedOutBeforeSending(lc);
    waitMs = DeadlineLeftMs(waitMs);
    lc->reply.deadlineMs = NowMs() + waitMs;
    lc->ownErr = false;
    const struct timeval noWait = {0, 0};
    enum clnt_stat sent = CLNT_CALL(lc->inner, proc, xargs, argsp, xres, resp, noWait);
    if (sent != RPC_TIMEDOUT || (timeout.tv_sec == 0 && timeout.tv_usec == 0))
        return sent;
    uint32_t xid = 0;
    CLNT_CONTROL(lc->inner, CLGET_XID, &xid);
    lc->ownErr = true;
    memset(&lc->reply.err, 0, sizeof lc->reply.err);
    lc->reply.err.re_status = RPC_SUCCESS;
    // libtirpc would resend after refreshing the credentials of a refused call; the "none"
    // authentication of every handle here has nothing to refresh.
    struct rpc_msg reply;
    return ReceiveReply(lc, auth, xid, xres, resp, &reply);
}

enum clnt_stat OpCall(CLIENT *h, rpcproc_t proc, xdrproc_t xargs, void *argsp, xdrproc_t xres, void *resp,
                      struct timeval timeout)
{
    LockedClient *lc = FromHandle(h);
    lc->inner->cl_auth = h->cl_auth;
    // Without a result routine libtirpc batches the call (or sends it alone): left to it.
    if (lc->tcp && xres != nullptr)
        return StreamCall(lc, h->cl_auth, proc, xargs, argsp, xres, resp, timeout);
    if (xres != nullptr && DeadlinePassed())
        return TimedOutBeforeSending(lc);
    lc->ownErr = false;
    if (lc->tcp || xres == nullptr || callDeadlineMs == INT64_MAX)
        return CLNT_CALL(lc->inner, proc, xargs, argsp, xres, resp, timeout);
    // UDP: libtirpc waits the handle's total time-out when one is set, else the caller's; either
    // is cut to what is left before the thread's deadline for this call.
    struct timeval total = {-1, -1};
    CLNT_CONTROL(lc->inner, CLGET_TIMEOUT, &total);
    const bool totalSet = total.tv_usec != -1;
    const struct timeval &wait = totalSet ? total : timeout;
    int64_t waitMs = static_cast<int64_t>(wait.tv_sec) * 1000 + wait.tv_usec / 1000;
    int64_t leftMs = DeadlineLeftMs(waitMs);
    if (leftMs >= waitMs)
        return CLNT_CALL(lc->inner, proc, xargs, argsp, xres, resp, timeout);
    struct timeval cut = {static_cast<time_t>(leftMs / 1000), static_cast<suseconds_t>(leftMs % 1000 * 1000)};
    if (!totalSet)
        return CLNT_CALL(lc->inner, proc, xargs, argsp, xres, resp, cut);
    CLNT_CONTROL(lc->inner, CLSET_TIMEOUT, &cut);
    enum clnt_stat status = CLNT_CALL(lc->inner, proc, xargs, argsp, xres, resp, cut);
    CLNT_CONTROL(lc->inner, CLSET_TIMEOUT, &total);
    return status;
}

void OpAbort(CLIENT *h)
{
    CLNT_ABORT(FromHandle(h)->inner);
}

void OpGetErr(CLIENT *h, struct rpc_err *err)
{
    LockedClient *lc = FromHandle(h);
    if (lc->ownErr)
        *err = lc->reply.err;
    else
        CLNT_GETERR(lc->inner, err);
}

bool_t OpFreeRes(CLIENT *h, xdrproc_t xres, void *resp)
{
    return CLNT_FREERES(FromHandle(h)->inner, xres, resp);
}

void OpDestroy(CLIENT *h)
{
    LockedClient *lc = FromHandle(h);
    rpc_delete_lock(lc->lock);
    CLNT_DESTROY(lc->inner);
    if (lc->ownFd && close(lc->fd) != 0 && lc->tcp)
        fprintf(stderr, "clnttcp_destroy: closesocket(%d) returned %d\n", lc->fd, errno);
    free(lc);
}

bool_t OpControl(CLIENT *h, u_int request, void *info)
{
    LockedClient *lc = FromHandle(h);
    // Who closes the socket is decided here, so the inner client never closes it behind us.
    switch (request) {
    case CLSET_FD_CLOSE:
        lc->ownFd = true;
        return TRUE;
    case CLSET_FD_NCLOSE:
        lc->ownFd = false;
        return TRUE;
    case CLSET_TIMEOUT:
        if (lc->tcp) {
            const auto *t = static_cast<const struct timeval *>(info);
            if (t == nullptr || TimeNotOk(*t))
                return FALSE;
            lc->wait = *t;
            lc->waitSet = true;
        }
        return CLNT_CONTROL(lc->inner, request, info);
    case CLGET_TIMEOUT:
        if (lc->tcp) {
            if (info == nullptr)
                return FALSE;
            *static_cast<struct timeval *>(info) = lc->wait;
            return TRUE;
        }
        return CLNT_CONTROL(lc->inner, request, info);
    default:
        return CLNT_CONTROL(lc->inner, request, info);
    }
}

CLIENT::clnt_ops lockedOps = {OpCall, OpAbort, OpGetErr, OpFreeRes, OpDestroy, OpControl};

// A fresh wrapper with its lock, or nullptr after the "out of memory" message of `creator`.
LockedClient *NewLockedClient(const char *creator)
{
    auto *lc = static_cast<LockedClient *>(calloc(1, sizeof(LockedClient)));
    if (lc != nullptr) {
        lc->lock = rpc_create_lock();
        if (lc->lock != nullptr)
            return lc;
    }
    int err = errno;
    fprintf(stderr, "%s: out of memory\n", creator);
    SetCreateError(RPC_SYSTEMERROR, err);
    free(lc);
    return nullptr;
}

void FreeLockedClient(LockedClient *lc)
{
    rpc_delete_lock(lc->lock);
    free(lc);
}

// What a creator has taken while it makes a handle: the wrapper with its lock and, once the
// creator opened it, the socket. A creator that gives up leaves both to the destructor (the
// socket is closed before the wrapper goes); Finish hands both over to the new handle.
class ClientInMaking {
public:
    explicit ClientInMaking(LockedClient *lc) : lc_(lc) {}
    ~ClientInMaking()
    {
        if (lc_ == nullptr)
            return;
        if (ownFd_)
            close(fd_);
        FreeLockedClient(lc_);
    }
    ClientInMaking(const ClientInMaking &) = delete;
    ClientInMaking &operator=(const ClientInMaking &) = delete;

    explicit operator bool() const { return lc_ != nullptr; }
    // The socket the handle will use; closed on a failure when ownFd.
    void SetSocket(int fd, bool ownFd)
    {
        fd_ = fd;
        ownFd_ = ownFd;
    }
    // Makes the handle over inner; the handle owns the wrapper, the lock and the socket then.
    CLIENT *Finish(CLIENT *inner, bool tcp)
    {
        LockedClient *lc = lc_;
        lc_ = nullptr;
        // The transaction id of a new handle, carried by its first call: the process id XOR
        // the current time of day in whole seconds (libtirpc would mix in the microseconds).
        uint32_t xid = static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(time(nullptr));
        if (tcp) {
            // libtirpc's stream transport stores the id plus one in network byte order and its
            // call decrements it as it lies in memory; set what that decrement turns into xid.
            uint32_t stored = ntohl(htonl(xid) + 1) - 1;
            CLNT_CONTROL(inner, CLSET_XID, &stored);
        } else {
            CLNT_CONTROL(inner, CLSET_XID, &xid);
        }
        lc->inner = inner;
        lc->fd = fd_;
        lc->ownFd = ownFd_;
        lc->tcp = tcp;
        lc->reply.lastFrag = true;  // no record begun: the first read starts one
        lc->pub.cl_auth = inner->cl_auth;
        lc->pub.cl_ops = &lockedOps;
        lc->pub.cl_private = inner;
        lc->pub.cl_netid = inner->cl_netid;
        lc->pub.cl_tp = inner->cl_tp;
        return &lc->pub;
    }

private:
    LockedClient *lc_;
    int fd_ = -1;
    bool ownFd_ = false;
};

// Connects fd to addr within timeoutMs. Returns 0 or the error number (ETIMEDOUT when the time
// ran out). The socket is blocking again afterwards, as libtirpc's stream transport expects.
int ConnectBounded(int fd, const struct sockaddr_in *addr, int timeoutMs)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    int err = 0;
    if (connect(fd, reinterpret_cast<const struct sockaddr *>(addr), sizeof *addr) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            for (;;) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                struct pollfd p = {fd, POLLOUT, 0};
                int n = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    err = errno;
                } else if (n == 0) {
                    err = ETIMEDOUT;
                } else {
                    socklen_t len = sizeof err;
                    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                        err = errno;
                }
                break;
            }
        }
    }
    if (err == 0 && fcntl(fd, F_SETFL, flags) < 0)
        err = errno;
    return err;
}

// The protocol number for a transport name: the usual names without the protocol database.
bool ProtocolByName(const char *name, int *protocol)
{
    if (strcmp(name, "ip") == 0) {
        *protocol = 0;
    } else if (strcmp(name, tela::kServerTransport) == 0) {
        *protocol = IPPROTO_TCP;
    } else if (strcmp(name, "udp") == 0) {
        *protocol = IPPROTO_UDP;
    } else {
        struct protoent entry;
        struct protoent *found = nullptr;
        char buffer[1024];
        if (getprotobyname_r(name, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
            return false;
        *protocol = found->p_proto;
    }
    return true;
}

// Looks host up (IPv4) into addr under the host look-up lock. false with rpc_createerr set.
bool LookUpHost(const char *host, struct sockaddr_in *addr)
{
    struct hostent entry;
    struct hostent *found = nullptr;
    int herr = 0;
    std::vector<char> buffer(8192);
    rpc_lock_hosts();
    int rc;
    while ((rc = gethostbyname_r(host, &entry, buffer.data(), buffer.size(), &found, &herr)) == ERANGE)
        buffer.resize(buffer.size() * 2);
    bool ok = false;
    if (rc != 0 || found == nullptr || found->h_addr_list[0] == nullptr) {
        SetCreateError(RPC_UNKNOWNHOST, 0);
    } else if (found->h_addrtype != AF_INET || found->h_length != sizeof addr->sin_addr) {
        SetCreateError(RPC_SYSTEMERROR, EAFNOSUPPORT);
    } else {
        memset(addr, 0, sizeof *addr);
        addr->sin_family = AF_INET;
        memcpy(&addr->sin_addr, found->h_addr_list[0], sizeof addr->sin_addr);
        ok = true;
    }
    rpc_unlock_hosts();
    return ok;
}

// The result routine and object of a call, so that the call can tell whether decoding of the
// results began (and so may have allocated memory) before the call failed.
struct TrackedResult {
    xdrproc_t proc;
    void *where;
    bool started;
};

bool_t DecodeTracked(XDR *xdrs, TrackedResult *tracked)
{
    tracked->started = true;
    return (*tracked->proc)(xdrs, tracked->where);
}

// The common start of both creators: asks the portmapper for the port when raddr has none
// (storing it into raddr) and opens a socket of `type` when the caller gave none (*fd < 0).
// false with rpc_createerr set; nothing is left open then.
bool PortAndSocket(struct sockaddr_in *raddr, u_long prog, u_long vers, int protocol, int type, int *fd,
                   bool *ownFd)
{
    if (raddr->sin_port == 0) {
        u_short port = tela::pmap_getport(raddr, prog, vers, static_cast<u_int>(protocol));
        if (port == 0)
            return false;
        raddr->sin_port = htons(port);
    }
    *ownFd = false;
    if (*fd < 0) {
        *fd = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
        if (*fd < 0) {
            SetCreateError(RPC_SYSTEMERROR, errno);
            return false;
        }
        *ownFd = true;
    }
    return true;
}

SysLockRec *CreateGlobalLock()
{
    SysLockRec *lock = rpc_create_lock();
    if (lock == nullptr) {
        char text[80];
        snprintf(text, sizeof text, "rpc_create_lock() failed, error = %d\n", errno);
        fprintf(stderr, "%s\n", text);
        exit(1);
    }
    return lock;
}

}  // namespace

// ---- Runtime --------------------------------------------------------------------------------

void rpc_runtime_init()
{
    if (runtimeStarted)
        return;
    runtimeStarted = true;
    // A write to a connection the server has closed must fail with EPIPE, not end the program.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    hostsLock = CreateGlobalLock();
    spareLock = CreateGlobalLock();
}

void rpc_runtime_cleanup()
{
    if (!runtimeStarted)
        return;
    runtimeStarted = false;
    rpc_delete_lock(hostsLock.exchange(nullptr));
    rpc_delete_lock(spareLock.exchange(nullptr));
}

SysLockRec *rpc_create_lock()
{
    SysLockRec *lock = SysCreateLock();
    if (lock != nullptr)
        ++liveLocks;
    return lock;
}

void rpc_delete_lock(SysLockRec *lock)
{
    if (lock == nullptr)
        return;
    SysDeleteLock(lock);
    --liveLocks;
}

void rpc_lock(SysLockRec *lock)
{
    SysLock(lock);
}
void rpc_unlock(SysLockRec *lock)
{
    SysUnlock(lock);
}

void rpc_lock_hosts()
{
    SysLock(hostsLock.load());
}
void rpc_unlock_hosts()
{
    SysUnlock(hostsLock.load());
}
void rpc_lock_spare()
{
    SysLock(spareLock.load());
}
void rpc_unlock_spare()
{
    SysUnlock(spareLock.load());
}

namespace tela {

namespace rpcrt_internal {

int LiveLockCount()
{
    return liveLocks.load();
}

}  // namespace rpcrt_internal

void SetCallDeadline(int ms)
{
    callDeadlineMs = ms < 0 ? INT64_MAX : NowMs() + ms;
}

namespace rpcrt_testing {

void SetCallBoundMs(int ms)
{
    callBoundMs = ms;
}

}  // namespace rpcrt_testing

namespace rpcrt_internal {

CLIENT *CreateTcpClient(struct sockaddr_in *raddr, u_long prog, u_long vers, int *sockp, u_int sendsz,
                        u_int recvsz, int connectTimeoutMs)
{
    ClientInMaking making(NewLockedClient("clnttcp_create"));
    if (!making)
        return nullptr;
    int fd = *sockp;
    bool ownFd = false;
    if (!PortAndSocket(raddr, prog, vers, IPPROTO_TCP, SOCK_STREAM, &fd, &ownFd))
        return nullptr;
    making.SetSocket(fd, ownFd);
    if (ownFd) {
        // The connect ends at the thread's deadline too; none is tried once the time is up.
        int64_t boundMs = DeadlineLeftMs(connectTimeoutMs);
        int err = boundMs > 0 ? ConnectBounded(fd, raddr, static_cast<int>(boundMs)) : ETIMEDOUT;
        if (err != 0) {
            SetCreateError(RPC_SYSTEMERROR, err);
            return nullptr;
        }
    }
    struct netbuf server = {sizeof *raddr, sizeof *raddr, raddr};
    CLIENT *inner = clnt_vc_create(fd, &server, static_cast<rpcprog_t>(prog), static_cast<rpcvers_t>(vers),
                                   sendsz, recvsz);
    if (inner == nullptr)
        return nullptr;
    *sockp = fd;
    return making.Finish(inner, true);
}

}  // namespace rpcrt_internal

CLIENT *clnttcp_create(struct sockaddr_in *raddr, u_long prog, u_long vers, int *sockp, u_int sendsz,
                       u_int recvsz)
{
    return rpcrt_internal::CreateTcpClient(raddr, prog, vers, sockp, sendsz, recvsz, kConnectTimeoutMs);
}

CLIENT *clntudp_bufcreate(struct sockaddr_in *raddr, u_long prog, u_long vers, struct timeval wait,
                          int *sockp, u_int sendsz, u_int recvsz)
{
    ClientInMaking making(NewLockedClient("clntudp_create"));
    if (!making)
        return nullptr;
    sendsz = (sendsz + 3) / 4 * 4;
    recvsz = (recvsz + 3) / 4 * 4;
    int fd = *sockp;
    bool ownFd = false;
    if (!PortAndSocket(raddr, prog, vers, IPPROTO_UDP, SOCK_DGRAM | SOCK_NONBLOCK, &fd, &ownFd))
        return nullptr;
    making.SetSocket(fd, ownFd);
    struct netbuf server = {sizeof *raddr, sizeof *raddr, raddr};
    CLIENT *inner = clnt_dg_create(fd, &server, static_cast<rpcprog_t>(prog), static_cast<rpcvers_t>(vers),
                                   sendsz, recvsz);
    if (inner == nullptr)
        return nullptr;
    CLNT_CONTROL(inner, CLSET_RETRY_TIMEOUT, &wait);
    *sockp = fd;
    return making.Finish(inner, false);
}

CLIENT *clntudp_create(struct sockaddr_in *raddr, u_long prog, u_long vers, struct timeval wait, int *sockp)
{
    return tela::clntudp_bufcreate(raddr, prog, vers, wait, sockp, 8800, 8800);
}

CLIENT *clnt_create(const char *host, rpcprog_t prog, rpcvers_t vers, const char *proto)
{
    int protocol = 0;
    if (proto == nullptr || !ProtocolByName(proto, &protocol)) {
        SetCreateError(RPC_UNKNOWNPROTO, EPFNOSUPPORT);
        return nullptr;
    }
    struct sockaddr_in addr = {};
    if (host == nullptr) {
        SetCreateError(RPC_UNKNOWNHOST, 0);
        return nullptr;
    }
    if (!LookUpHost(host, &addr))
        return nullptr;
    addr.sin_port = htons(tela::rpclib(host, prog, vers));
    int sock = -1;
    struct timeval total = tela::kCallTimeout;
    CLIENT *client = nullptr;
    switch (protocol) {
    case IPPROTO_TCP:
        client = tela::clnttcp_create(&addr, prog, vers, &sock, 0, 0);
        break;
    case IPPROTO_UDP:
        client = tela::clntudp_create(&addr, prog, vers, {5, 0}, &sock);
        break;
    default:
        SetCreateError(RPC_SYSTEMERROR, EPFNOSUPPORT);
        return nullptr;
    }
    if (client != nullptr)
        CLNT_CONTROL(client, CLSET_TIMEOUT, &total);
    return client;
}

enum clnt_stat clnt_call(CLIENT *clnt, rpcproc_t proc, xdrproc_t xargs, void *argsp, xdrproc_t xres,
                         void *resp, struct timeval timeout)
{
    if (clnt == nullptr)
        return RPC_FAILED;
    // Handles of ours carry a lock; anything else is called as it is.
    SysLockRec *lock = clnt->cl_ops == &lockedOps ? FromHandle(clnt)->lock : nullptr;
    rpc_lock(lock);
    enum clnt_stat status;
    if (xres == nullptr) {
        // No result routine: libtirpc's batching rule looks at it, so pass it through.
        status = clnt->cl_ops->cl_call(clnt, proc, xargs, argsp, xres, resp, timeout);
    } else {
        TrackedResult tracked = {xres, resp, false};
        status = clnt->cl_ops->cl_call(clnt, proc, xargs, argsp, reinterpret_cast<xdrproc_t>(&DecodeTracked),
                                       &tracked, timeout);
        // A reply that failed to decode may have left allocations in the result: free them.
        if (status != RPC_SUCCESS && tracked.started)
            xdr_free(xres, resp);
    }
    rpc_unlock(lock);
    return status;
}

}  // namespace tela
