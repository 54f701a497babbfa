// RPC client runtime (work in progress).
#include "rpcrt/rpcrt.h"
