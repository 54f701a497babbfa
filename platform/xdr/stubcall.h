// Pulled into the generated client stubs only: sends every clnt_call of the stubs to the
// system's locked call, which refuses a null handle, holds the handle's lock for the call and
// frees a partly decoded result.
#pragma once

#include "rpcrt/rpcrt.h"

#undef clnt_call
#define clnt_call ::tela::clnt_call
