// Sockets, the serving loop and the generic part of every call: decode with a tap that keeps the
// argument's wire bytes, log, pick a fault, answer.
#include "server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/rpc.h>
#include <rpc/svc_soc.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <type_traits>

#include "faults.h"
#include "fixture.h"
#include "procs.h"
#include "reqlog.h"
#include "testsupport.h"

namespace simserver {

const char kUsage[] =
    "usage: simserver --fixture FILE --listen HOST:BASE [--listen HOST:BASE ...]\n"
    "                 [--log FILE] [--ready FILE] [--offset N] [--no-alpha] [--no-omega]\n"
    "  alpha listens on HOST:BASE, omega on HOST:BASE+5 (TCP and UDP); HOST must be a loopback\n"
    "  address. The program numbers are raised by --offset, else by TELAMORPCOFFSET.\n";

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_reload = 0;

void OnStop(int)
{
    g_stop = 1;
}
void OnReload(int)
{
    g_reload = 1;
}

struct Conn {
    long id = 0;
    std::string prog;
    std::string local;
};

struct State {
    Options options;
    Fixture fixture;
    RequestLog log;
    std::map<int, Conn> conns;  // accepted TCP connections by descriptor
    long nextConn = 0;
};

State *g_state = nullptr;

// ---- a stream that reads through another and keeps a copy of every byte read

struct Tap {
    XDR x;
    XDR *inner;
    std::string *bytes;
};

Tap *TapOf(XDR *x)
{
    return static_cast<Tap *>(x->x_private);
}

bool_t TapGetLong(XDR *x, long *lp)
{
    Tap *t = TapOf(x);
    if (!XDR_GETLONG(t->inner, lp))
        return FALSE;
    uint32_t v = htonl(static_cast<uint32_t>(*lp));
    t->bytes->append(reinterpret_cast<const char *>(&v), 4);
    return TRUE;
}
bool_t TapPutLong(XDR *x, const long *lp)
{
    return XDR_PUTLONG(TapOf(x)->inner, lp);
}
bool_t TapGetBytes(XDR *x, char *p, u_int n)
{
    Tap *t = TapOf(x);
    if (!XDR_GETBYTES(t->inner, p, n))
        return FALSE;
    t->bytes->append(p, n);
    return TRUE;
}
bool_t TapPutBytes(XDR *x, const char *p, u_int n)
{
    return XDR_PUTBYTES(TapOf(x)->inner, p, n);
}
u_int TapGetPos(XDR *x)
{
    return XDR_GETPOS(TapOf(x)->inner);
}
bool_t TapSetPos(XDR *x, u_int pos)
{
    return XDR_SETPOS(TapOf(x)->inner, pos);
}
int32_t *TapInline(XDR *, u_int)
{
    return nullptr;
}  // every unit goes through TapGetLong
void TapDestroy(XDR *) {}
bool_t TapControl(XDR *, int, void *)
{
    return FALSE;
}

using XdrOps = std::remove_const_t<std::remove_pointer_t<decltype(XDR::x_ops)>>;
const XdrOps kTapOps = {TapGetLong, TapPutLong, TapGetBytes, TapPutBytes, TapGetPos,
                        TapSetPos,  TapInline,  TapDestroy,  TapControl};

struct TapArgs {
    xdrproc_t real;
    void *obj;
    std::string raw;
};

bool_t XdrTapped(XDR *xdrs, void *p)
{
    TapArgs *a = static_cast<TapArgs *>(p);
    Tap tap{};
    tap.x.x_op = xdrs->x_op;
    tap.x.x_ops = &kTapOps;
    tap.x.x_private = reinterpret_cast<char *>(&tap);
    tap.inner = xdrs;
    tap.bytes = &a->raw;
    return (*a->real)(&tap.x, a->obj);
}

// ---- calls

std::string LocalOf(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return "";
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(a.sin_port));
}

void Pause(int ms)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!g_stop && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
}

nlohmann::json FaultText(const Fault &f)
{
    nlohmann::json j = nlohmann::json::object();
    if (f.ec)
        j["ec"] = *f.ec;
    if (f.delayMs)
        j["delay_ms"] = f.delayMs;
    if (f.close)
        j["close"] = true;
    if (f.noproc)
        j["noproc"] = true;
    if (f.garbage)
        j["garbage"] = true;
    if (f.unterminated)
        j["unterminated"] = true;
    return j;
}

void Dispatch(svc_req *rq, SVCXPRT *xprt)
{
    State &s = *g_state;
    unsigned prog = static_cast<unsigned>(rq->rq_prog - static_cast<unsigned>(s.options.offset));
    bool omega = prog == kOmegaProgram;
    std::string progName = omega ? "omega" : "alpha";
    int proc = static_cast<int>(rq->rq_proc);

    nlohmann::json ev = {{"event", "call"}, {"prog", progName}, {"proc", proc}};
    auto conn = s.conns.find(xprt->xp_fd);
    ev["transport"] = conn == s.conns.end() ? "udp" : "tcp";
    ev["conn"] = conn == s.conns.end() ? 0 : conn->second.id;
    ev["local"] = LocalOf(xprt->xp_fd);

    if (proc == 0) {
        ev["name"] = "null";
        s.log.Write(ev);
        svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(XdrVoid), nullptr);
        return;
    }
    const ProcEntry *e = FindProc(omega, proc);
    if (!e) {
        ev["name"] = "";
        ev["error"] = "unknown procedure";
        s.log.Write(ev);
        svcerr_noproc(xprt);
        return;
    }
    ev["name"] = e->name;

    std::unique_ptr<char, decltype(&free)> arg(static_cast<char *>(calloc(1, e->argSize ? e->argSize : 1)),
                                               free);
    std::unique_ptr<char, decltype(&free)> res(static_cast<char *>(calloc(1, e->resSize ? e->resSize : 1)),
                                               free);
    TapArgs tapped{e->argXdr, arg.get(), {}};
    if (!svc_getargs(xprt, reinterpret_cast<xdrproc_t>(XdrTapped), reinterpret_cast<caddr_t>(&tapped))) {
        ev["error"] = "cannot decode the argument";
        ev["raw"] = Hex(tapped.raw);
        s.log.Write(ev);
        xdr_free(e->argXdr, arg.get());
        svcerr_decode(xprt);
        return;
    }
    nlohmann::json args = nlohmann::json::object();
    if (e->describe)
        e->describe(arg.get(), args);
    ev["args"] = args;
    ev["raw"] = Hex(tapped.raw);
    ev["arg_bytes"] = tapped.raw.size();

    Fault *fault = PickFault(s.fixture, progName, proc, args);
    CallContext ctx{s.fixture, fault};
    if (fault)
        ev["fault"] = FaultText(*fault);
    if (e->answer)
        e->answer(ctx, arg.get(), res.get());
    if (!ctx.note.empty())
        ev["answer"] = ctx.note;
    bool reply = !(fault && (fault->close || fault->noproc || fault->garbage));
    if (reply)
        ev["reply_bytes"] = static_cast<unsigned long>(xdr_sizeof(e->resXdr, res.get()));
    s.log.Write(ev);

    if (fault && fault->delayMs)
        Pause(fault->delayMs);
    if (fault && fault->close) {
        // Both directions end: the client reads end of file, the loop then drops the connection.
        shutdown(xprt->xp_fd, SHUT_RDWR);
    } else if (fault && fault->noproc) {
        svcerr_noproc(xprt);
    } else if (fault && fault->garbage) {
        svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(XdrVoid), nullptr);  // an empty result
    } else {
        svc_sendreply(xprt, e->resXdr, res.get());
    }
    xdr_free(e->resXdr, res.get());
    xdr_free(e->argXdr, arg.get());
}

// ---- sockets

bool LoopbackAddress(const std::string &host, in_addr &out)
{
    std::string h = host == "localhost" ? "127.0.0.1" : host;
    if (inet_pton(AF_INET, h.c_str(), &out) != 1)
        return false;
    return (ntohl(out.s_addr) >> 24) == 127;
}

struct Listener {
    int fd;
    std::string prog;
};

bool Registered(int fd)
{
    for (int i = 0; i < svc_max_pollfd; ++i)
        if (svc_pollfd[i].fd == fd)
            return true;
    return false;
}

void WriteReady(const Options &o)
{
    if (o.readyPath.empty())
        return;
    std::string map;
    for (auto &l : o.listens)
        map += (map.empty() ? "" : ";") + l.host + ":" + std::to_string(l.base);
    nlohmann::json j = {{"pid", getpid()}, {"map", map}};
    std::string tmp = o.readyPath + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f)
        return;
    fprintf(f, "%s\n", j.dump().c_str());
    fclose(f);
    rename(tmp.c_str(), o.readyPath.c_str());
}

void Reload(State &s)
{
    Fixture f;
    std::string error;
    if (LoadFixture(s.options.fixturePath, f, error)) {
        s.fixture = std::move(f);
        s.log.Write({{"event", "reload"}, {"ok", true}});
    } else {
        fprintf(stderr, "simserver: %s\n", error.c_str());
        s.log.Write({{"event", "reload"}, {"ok", false}, {"error", error}});
    }
}

}  // namespace

bool ParseOptions(int argc, char **argv, Options &out, std::string &error)
{
    Options o;
    if (const char *off = getenv("TELAMORPCOFFSET"))
        o.offset = atoi(off);
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string &v) {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--fixture") {
            if (!value(o.fixturePath))
                return false;
        } else if (a == "--log") {
            if (!value(o.logPath))
                return false;
        } else if (a == "--ready") {
            if (!value(o.readyPath))
                return false;
        } else if (a == "--offset") {
            if (!value(v))
                return false;
            o.offset = atoi(v.c_str());
        } else if (a == "--listen") {
            if (!value(v))
                return false;
            size_t colon = v.rfind(':');
            Listen l;
            in_addr addr{};
            if (colon == std::string::npos) {
                error = "--listen wants HOST:BASE, not " + v;
                return false;
            }
            l.host = v.substr(0, colon);
            l.base = atoi(v.c_str() + colon + 1);
            if (!LoopbackAddress(l.host, addr)) {
                error = "not a loopback address: " + l.host;
                return false;
            }
            if (l.base <= 0 || l.base + kOmegaSlot > 65535) {
                error = "bad base port in " + v;
                return false;
            }
            o.listens.push_back(l);
        } else if (a == "--no-alpha") {
            o.alpha = false;
        } else if (a == "--no-omega") {
            o.omega = false;
        } else {
            error = "unknown argument " + a;
            return false;
        }
    }
    if (o.fixturePath.empty() || o.listens.empty()) {
        error = "--fixture and --listen are required";
        return false;
    }
    out = o;
    return true;
}

int Serve(const Options &options)
{
    State s;
    s.options = options;
    std::string error;
    if (!LoadFixture(options.fixturePath, s.fixture, error)) {
        fprintf(stderr, "simserver: %s\n", error.c_str());
        return 2;
    }
    if (!s.log.Open(options.logPath)) {
        fprintf(stderr, "simserver: cannot open %s: %s\n", options.logPath.c_str(), strerror(errno));
        return 2;
    }
    g_state = &s;

    struct sigaction sa {};
    sa.sa_handler = OnStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = OnReload;
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<Listener> listeners;
    SVCXPRT *anyUdp[2] = {nullptr, nullptr};
    for (auto &l : options.listens) {
        in_addr addr{};
        LoopbackAddress(l.host, addr);
        for (int which = 0; which < 2; ++which) {
            bool omega = which == 1;
            if ((omega && !options.omega) || (!omega && !options.alpha))
                continue;
            int port = l.base + (omega ? kOmegaSlot : kAlphaSlot);
            int tcp = testsupport::LoopbackSocket(SOCK_STREAM, port, 64, addr.s_addr, &error);
            int udp = tcp < 0 ? -1 : testsupport::LoopbackSocket(SOCK_DGRAM, port, 64, addr.s_addr, &error);
            SVCXPRT *x = udp < 0 ? nullptr : svcudp_bufcreate(udp, 9000, 9000);
            if (!x) {
                fprintf(stderr, "simserver: %s:%d: %s\n", l.host.c_str(), port,
                        error.empty() ? "cannot make the UDP transport" : error.c_str());
                return 2;
            }
            anyUdp[which] = x;
            listeners.push_back({tcp, omega ? "omega" : "alpha"});
        }
    }
    for (int which = 0; which < 2; ++which) {
        if (!anyUdp[which])
            continue;
        unsigned prog = (which ? kOmegaProgram : kAlphaProgram) + static_cast<unsigned>(options.offset);
        if (!svc_register(anyUdp[which], prog, 1, Dispatch, 0)) {
            fprintf(stderr, "simserver: cannot register program %u\n", prog);
            return 2;
        }
    }
    s.log.Write({{"event", "ready"}, {"pid", getpid()}, {"offset", options.offset}});
    WriteReady(options);

    while (!g_stop) {
        if (g_reload) {
            g_reload = 0;
            Reload(s);
        }
        std::vector<pollfd> fds;
        for (int i = 0; i < svc_max_pollfd; ++i)
            if (svc_pollfd[i].fd >= 0)
                fds.push_back({svc_pollfd[i].fd, POLLIN, 0});
        size_t nsvc = fds.size();
        for (auto &l : listeners)
            fds.push_back({l.fd, POLLIN, 0});
        int n = poll(fds.data(), fds.size(), 100);
        if (n <= 0)
            continue;
        for (size_t i = 0; i < nsvc && !g_stop; ++i) {
            if (!fds[i].revents)
                continue;
            int fd = fds[i].fd;
            svc_getreq_common(fd);
            auto c = s.conns.find(fd);
            if (c != s.conns.end() && !Registered(fd)) {
                s.log.Write({{"event", "close"},
                             {"prog", c->second.prog},
                             {"conn", c->second.id},
                             {"local", c->second.local}});
                s.conns.erase(c);
            }
        }
        for (size_t i = nsvc; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            int fd = accept(fds[i].fd, nullptr, nullptr);
            if (fd < 0)
                continue;
            SVCXPRT *x = svc_fd_create(fd, 0, 0);
            if (!x) {
                close(fd);
                continue;
            }
            Conn c{++s.nextConn, listeners[i - nsvc].prog, LocalOf(fd)};
            s.conns[fd] = c;
            s.log.Write({{"event", "accept"}, {"prog", c.prog}, {"conn", c.id}, {"local", c.local}});
        }
    }
    s.log.Write({{"event", "stop"}});
    g_state = nullptr;
    return 0;
}

}  // namespace simserver
