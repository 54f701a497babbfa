// Gateway utilities working on the published configuration record: the instance's
// subdirectories, the parser of a user's extension attribute, the trace parameters kept in the
// record, and the cached alpha client through which the configuration reaches alpha.
// Nothing here is locked: one thread uses it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mailtrack/exterror.h"
#include "rpcrt/rpcrt.h"

// Makes sure the directory "<directory>/<name>" of the published record exists (it is made with
// mode 0755 when missing; parents are not made) and that a file can be created in it. 0, or the
// SY code of the system error.
[[nodiscard]] ErrorCode OSMkDir(const char *name);

// Takes the next NAME=value or NAME="value" assignment of text from *cursor (an index into
// text) on. 1 with name and value filled and *cursor behind the assignment; 0 at the end of the
// text, or on a syntax error (traced, *cursor at the faulty character, name and value holding
// what was taken). In values \" stands for a quote. Names and values longer than their buffers
// (nameSize, valueSize bytes, terminator included) are cut; the parse goes on as if they fit.
int ParseExtAttr(const char *text, size_t *cursor, char *name, size_t nameSize, char *value,
                 size_t valueSize);
// The same for buffers that each hold at least strlen(text) + 1 bytes.
int ParseExtAttr(const char *text, size_t *cursor, char *name, char *value);

// Reads trace.cfg of the current directory and keeps the trace parameters in the published
// record (the level in GWDL when gateway is not 0, else in DMDL).
void SaveTraceSetup(int gateway);
// Applies the published record's trace fields, sets the trace header (text, the current
// directory, the alpha host, the user, the host name) and writes trace.cfg in the current
// directory.
void RestoreTraceSetup(const char *text, int gateway);

// The cached alpha client for the published alphaHost (empty: the default alpha host), made on
// demand; null when it cannot be made, and then without a new try for 60, 120, ... at most 900
// seconds. force drops a cached client first (a new one is still made only after the pause).
CLIENT *GetAlphaClient(int force);
// Destroys the cached client; the pause after failures is kept.
void DropAlphaClient();
bool HasAlphaClient();

// Test seams: the clock of the pause (null: TimeNow), returning the one before; and a return
// to the state at start (no client, no pause; a cached client is destroyed).
using AlphaClientClock = int32_t (*)();
AlphaClientClock SetAlphaClientClock(AlphaClientClock clock);
void ResetAlphaClientCache();
