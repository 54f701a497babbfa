// The procedures that the simulated server answers: one table row per procedure with its
// argument and result routines, a describer for the request log and the answer built from the
// fixture.
#pragma once

#include <rpc/rpc.h>

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "fixture.h"

namespace simserver {

struct CallContext {
    Fixture &fixture;
    const Fault *fault;                              // the knob for this call, or null
    nlohmann::json note = nlohmann::json::object();  // what the answer was made from, for the log
};

struct ProcEntry {
    int proc;
    const char *name;
    xdrproc_t argXdr;
    size_t argSize;
    xdrproc_t resXdr;
    size_t resSize;
    // Writes the decoded argument's fields into `out`.
    void (*describe)(const void *arg, nlohmann::json &out);
    // Fills the zeroed result; every block it allocates is released with xdr_free afterwards.
    void (*answer)(CallContext &ctx, const void *arg, void *res);
};

// Codes and decodes nothing: the routine of a void argument or result.
inline bool_t XdrVoid(XDR *, void *)
{
    return TRUE;
}

// The row of a procedure, or null when the simulated program does not serve it.
const ProcEntry *FindProc(bool omega, int proc);

// Copies at most n characters of `text` into the fixed field; the rest is zeros, or the fault's
// fill character when it asks for unterminated texts.
void PutFixed(char *field, size_t n, const std::string &text, const Fault *fault);
// The text of a decoded fixed field, never reading past its n characters.
std::string GetFixed(const char *field, size_t n);

}  // namespace simserver
