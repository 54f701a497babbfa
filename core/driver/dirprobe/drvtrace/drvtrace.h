// The console harness's side of the driver interface: DriverTrace, DriverTraceScope,
// DriverTraceBegin/End, GetErrorText and GetCurrentLineNo (declared in drvif/drvif.h) print on
// the standard output according to one process-wide verbosity.
#pragma once

#include "drvif/drvif.h"

// Verbosity of the harness: 1 at start, 2 with -v. Lines above it are not printed. Not locked:
// set it before other threads trace.
void SetTraceVerbosity(int verbosity);
int TraceVerbosity();
