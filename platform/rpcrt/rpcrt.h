// RPC client runtime: locked client handles over libtirpc, the server port map and the
// portmapper query.
//
// Every file that makes RPC calls includes this header (and not <rpc/rpc.h> alone): it removes
// libtirpc's clnt_call macro, which would dereference a null handle and take no lock. The
// creators and the call live in namespace tela and must always be called qualified
// (tela::clnt_create, tela::clnt_call); never write `using namespace tela`, since libtirpc
// exports C functions of the same names.
//
// A handle made here is a real libtirpc CLIENT (the first member of a wrapper that also holds
// the handle's lock), so clnt_sperror, CLNT_CONTROL, CLNT_GETERR, CLNT_FREERES and
// clnt_destroy/CLNT_DESTROY work on it as usual. Destroying a handle deletes its lock and closes
// the socket the handle opened itself.
#pragma once

#include <rpc/rpc.h>
#undef clnt_call

#include <netinet/in.h>
#include <sys/time.h>

// ---- Runtime start and stop --------------------------------------------------------------

// Starts the runtime once per process (later calls do nothing until a stop): ignores SIGPIPE,
// so that a server closing its connection gives an RPC error rather than killing the program,
// and creates the host look-up lock and the spare lock. If a lock cannot be created, writes
// "rpc_create_lock() failed, error = %d\n\n" to the standard error and exits with code 1.
void rpc_runtime_init();
// Stops the runtime if it is started: deletes both global locks. Handles made before stay
// usable. Not locked: call start and stop from the main thread only.
void rpc_runtime_cleanup();

// Lock primitives (recursive locks of the OS layer, "os/sysutil.h"). rpc_create_lock returns
// nullptr when out of memory; rpc_delete_lock, rpc_lock and rpc_unlock ignore nullptr.
struct SysLockRec;
SysLockRec *rpc_create_lock();
void rpc_delete_lock(SysLockRec *lock);
void rpc_lock(SysLockRec *lock);
void rpc_unlock(SysLockRec *lock);

// The host look-up lock (global lock 1) and the spare lock (global lock 2); each does nothing
// while the runtime is not started.
void rpc_lock_hosts();
void rpc_unlock_hosts();
void rpc_lock_spare();
void rpc_unlock_spare();

namespace tela {

// ---- Client creation and the locked call -------------------------------------------------

// The bound of every call on a server: the total time-out that clnt_create gives its handles,
// the bound on a TCP client's connect, and the time-out the client functions pass.
constexpr int kCallTimeoutSec = 25;
constexpr struct timeval kCallTimeout = {kCallTimeoutSec, 0};
constexpr int kCallTimeoutMs = kCallTimeoutSec * 1000;
// The transport every client of the servers uses.
constexpr const char kServerTransport[] = "tcp";

// The deadline of the calling thread's requests: from now on no call and no connect of a TCP
// client made by this thread waits beyond ms milliseconds from now (each still waits at most its
// own bound), and a call made once the time is up returns RPC_TIMEDOUT at once, sending nothing;
// a connect then fails with RPC_SYSTEMERROR / ETIMEDOUT. A negative ms removes the deadline.
// Each thread has its own; none is set at start.
void SetCallDeadline(int ms);

// Makes a client for host/prog/vers over the transport named by proto ("tcp", "udp"; other
// names through the protocol database). The port comes from rpclib(), else from the host's
// portmapper. Every call on the handle then waits at most 25 s in all, whatever time-out the
// caller passes (less when the thread's deadline is nearer). Returns nullptr on failure with rpc_createerr
// set:
//   RPC_UNKNOWNPROTO / EPFNOSUPPORT  name not in the protocol database (checked before the host)
//   RPC_UNKNOWNHOST                  host name not found
//   RPC_SYSTEMERROR / EAFNOSUPPORT   host not IPv4
//   RPC_SYSTEMERROR / EPFNOSUPPORT   protocol neither TCP nor UDP ("ip" included)
//   RPC_SYSTEMERROR / errno          socket or connect failed (connect bounded by 25 s)
//   RPC_PMAPFAILURE, RPC_PROGNOTREGISTERED, ...  from the portmapper query
CLIENT *clnt_create(const char *host, rpcprog_t prog, rpcvers_t vers, const char *proto);

// The locked call: a null handle gives RPC_FAILED with nothing sent and rpc_createerr
// untouched; otherwise the handle's lock is held from sending the request to the end of
// decoding the reply. When decoding the reply fails, what was decoded so far is freed.
enum clnt_stat clnt_call(CLIENT *clnt, rpcproc_t proc, xdrproc_t xargs, void *argsp, xdrproc_t xres,
                         void *resp, struct timeval timeout);

// TCP client. raddr's port is in network byte order; 0 asks the portmapper (protocol 6) and
// the port found is stored back into raddr. *sockp < 0: open and connect a socket of our own
// (never bound to a reserved port, closed on destroy), stored back into *sockp; else use the
// caller's connected socket, which destroy leaves open. sendsz/recvsz 0: library defaults.
// The first call carries the transaction id process id XOR the current second (both creators).
// Returns nullptr with rpc_createerr set on failure.
CLIENT *clnttcp_create(struct sockaddr_in *raddr, u_long prog, u_long vers, int *sockp, u_int sendsz,
                       u_int recvsz);

// UDP client; as the TCP creator, with the retry interval `wait` (protocol 17 for the
// portmapper). Buffer sizes are rounded up to a multiple of 4. An own socket is non-blocking.
CLIENT *clntudp_bufcreate(struct sockaddr_in *raddr, u_long prog, u_long vers, struct timeval wait,
                          int *sockp, u_int sendsz, u_int recvsz);
// clntudp_bufcreate with send and receive buffers of 8800 bytes.
CLIENT *clntudp_create(struct sockaddr_in *raddr, u_long prog, u_long vers, struct timeval wait, int *sockp);

// ---- Port map and portmapper query -------------------------------------------------------

// The port of program `prog` (with the TELAMORPCOFFSET offset included) on `host` from the
// environment: the TELAMORPCMAP entry for the host (compared as text) plus the program's slot
// (ServerProgramTable, rpcrt/servers.h), else TELAMORPCPORT plus the slot; 0 when the
// environment gives none. Reads the environment at every call; messages about a malformed map
// go to the standard error. `vers` is unused.
unsigned short rpclib(const char *host, rpcprog_t prog, rpcvers_t vers);

// Asks the portmapper on port 111 of address's host (over TCP when RPCTRANSPORT is "tcp" in any
// case, else UDP; 3 s in all, connect included) for the port of prog/vers/prot (6 or 17). Over
// UDP the request is sent once and only a reply from that address and port with its
// transaction id is taken; other datagrams are passed over. Returns the port in host byte
// order, or 0 with rpc_createerr set (RPC_PMAPFAILURE with the call's error,
// RPC_PROGNOTREGISTERED, or the creator's status). address's port is 0 on return.
u_short pmap_getport(struct sockaddr_in *address, u_long prog, u_long vers, u_int prot);

}  // namespace tela
