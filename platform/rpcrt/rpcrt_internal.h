// Internals of the RPC client runtime, shared by its sources and reached by its tests.
#pragma once

#include "rpcrt/rpcrt.h"

#include <cstdint>

namespace tela::rpcrt_internal {

// Bound on the connect of a TCP client made by clnt_create or clnttcp_create: the total call
// time-out, so that an unreachable host cannot stall a program for minutes.
constexpr int kConnectTimeoutMs = kCallTimeoutMs;
// Everything the portmapper query does, connect included, stays within this.
constexpr int kPmapTimeoutMs = 3000;

// The TCP creator with the connect bounded by connectTimeoutMs (an own socket only).
CLIENT *CreateTcpClient(struct sockaddr_in *raddr, u_long prog, u_long vers, int *sockp, u_int sendsz,
                        u_int recvsz, int connectTimeoutMs);

// While one lives, rpclib on this thread writes no "bad TELAMORPCMAP" messages: the retry of a
// client creation reads the same map that its first attempt has reported on already.
struct QuietMapMessages {
    QuietMapMessages();
    ~QuietMapMessages();
    QuietMapMessages(const QuietMapMessages &) = delete;
    QuietMapMessages &operator=(const QuietMapMessages &) = delete;
    bool wasQuiet;
};

// Locks made by rpc_create_lock and not yet deleted, for leak checks.
int LiveLockCount();

}  // namespace tela::rpcrt_internal
