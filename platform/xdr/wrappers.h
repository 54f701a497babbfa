// Re-entrant call wrappers: the same remote calls as the plain stubs, decoded into a result
// object that the caller owns, so any number of threads may call them (calls on one handle are
// serialised by the handle's lock).
//
// uint32_t name_r1(CLIENT *clnt, T_arg *argp, T_res *resp), or name_r1(clnt, argp) for the
// procedures without result (a_proc12_r1, xb_proc2_r1); a procedure without argument takes a
// void pointer that is never read. The wrappers of the further interfaces A and B (xa_, xb_)
// take a client that the caller made for the server that serves them.
// - zeroes *resp (what it held is lost unless the caller freed it), makes the locked call with
//   the 25 s time-out, and returns 0, or kWrapperRpcError for any failure (null handle: nothing
//   is sent). After a failure *resp holds nothing the caller must free or read.
// - After 0 the caller owns what the decoding allocated in *resp and frees it with xdr_free and
//   the result type's routine (tela::XdrResult of xdr/xdrresult.h does it on every way out).
#pragma once

#include "rpcrt/rpcrt.h"
#include "xdr/alpha.h"
#include "xdr/omega.h"

#include <cstdint>

namespace tela {

// The driver's error code for a failed server call (its GDERR_RPC); the wrappers return it
// without depending on the driver's headers.
inline constexpr uint32_t kWrapperRpcError = 0x10000005;

}  // namespace tela

#define TELA_WRAPPER(name, proc, argT, argProc, resT, resProc) \
    uint32_t name(CLIENT *clnt, argT *argp, resT *resp);
#define TELA_WRAPPER_NORES(name, proc, argT, argProc) uint32_t name(CLIENT *clnt, argT *argp);
#include "xdr/wrappers.def"
#undef TELA_WRAPPER
#undef TELA_WRAPPER_NORES
