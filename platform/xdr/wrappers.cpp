// Re-entrant call wrappers (see wrappers.h), one per row of wrappers.def.
#include "xdr/wrappers.h"

#include <cstring>

namespace {

uint32_t CallInto(CLIENT *clnt, rpcproc_t proc, xdrproc_t argProc, void *argp, xdrproc_t resProc, void *resp,
                  std::size_t resSize)
{
    std::memset(resp, 0, resSize);
    enum clnt_stat st = tela::clnt_call(clnt, proc, argProc, argp, resProc, resp, tela::kCallTimeout);
    return st == RPC_SUCCESS ? 0 : tela::kWrapperRpcError;
}

// An XDR routine as the library's routine type (xdr_void takes no parameters in its header;
// the detour through void (*)() keeps the cast free of a warning).
template <class F>
xdrproc_t Proc(F f)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(f));
}

}  // namespace

#define TELA_WRAPPER(name, proc, argT, argProc, resT, resProc)                               \
    uint32_t name(CLIENT *clnt, argT *argp, resT *resp)                                      \
    {                                                                                        \
        return CallInto(clnt, proc, Proc(argProc), argp, Proc(resProc), resp, sizeof(resT)); \
    }
// A procedure without result decodes nothing into a local integer, which stands in for the
// result object.
#define TELA_WRAPPER_NORES(name, proc, argT, argProc)                                          \
    uint32_t name(CLIENT *clnt, argT *argp)                                                    \
    {                                                                                          \
        int none = 0;                                                                          \
        return CallInto(clnt, proc, Proc(argProc), argp, Proc(xdr_void), &none, sizeof(none)); \
    }
#include "xdr/wrappers.def"
#undef TELA_WRAPPER
#undef TELA_WRAPPER_NORES
