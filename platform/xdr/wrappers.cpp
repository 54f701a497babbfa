// Re-entrant call wrappers (see wrappers.h), one per row of wrappers.def.
#include "xdr/wrappers.h"

#include <cstring>

namespace {

const struct timeval kWrapperTimeout = {25, 0};

uint32_t CallInto(CLIENT *clnt, rpcproc_t proc, xdrproc_t argProc, void *argp, xdrproc_t resProc,
                  void *resp, std::size_t resSize)
{
    std::memset(resp, 0, resSize);
    enum clnt_stat st = tela::clnt_call(clnt, proc, argProc, argp, resProc, resp, kWrapperTimeout);
    return st == RPC_SUCCESS ? 0 : tela::kWrapperRpcError;
}

}  // namespace

#define TELA_WRAPPER(name, proc, argT, argProc, resT, resProc)                              \
    uint32_t name(CLIENT *clnt, argT *argp, resT *resp)                                     \
    {                                                                                       \
        return CallInto(clnt, proc, reinterpret_cast<xdrproc_t>(argProc), argp,             \
                        reinterpret_cast<xdrproc_t>(resProc), resp, sizeof(resT));          \
    }
#include "xdr/wrappers.def"
#undef TELA_WRAPPER
