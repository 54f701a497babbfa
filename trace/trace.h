// Trace API of the support library: levelled, time-stamped trace lines handed to the one
// process-wide trace object (a Disk or a rotating Rotate), or to the fallback stream (the
// standard output) when none is installed or the object refuses a line. Level -2 lines also go to
// the event log. The open operations choose the trace object from a file mode 0 to 5.
//
// A line is at most 200 characters plus a newline; a logger call never fails at its caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "trace/disk.h"

// Result codes of the trace library.
constexpr int TRACE_OK = 0;
constexpr int TRACE_FULL = 1;     // size limit reached or a write failed
constexpr int TRACE_BADCALL = 3;  // bad argument, no object, not initialised, not supported
constexpr int TRACE_NOTHING = 4;  // empty text or zero length
constexpr int TRACE_NOMEM = 6;
constexpr int TRACE_OPENFAIL = 7;

constexpr size_t kTraceLineSize = 202;  // line buffer: 200 characters, newline, terminator
constexpr size_t kTraceStampSize = 24;  // least size of a time-stamp buffer

// Letter of a level in a trace line: "P" for -2 .. "C" for 3, "unknown" for any other.
const char *TraceLineLetter(int level);

// Local time in the current stamp type: " 8.12.26  9:05:01" (datetime) or "09:05:01.123"
// (detailedtime). Returns buffer (at least 24 bytes), nullptr for a null buffer.
char *TraceTimeStamp(char *buffer);

// Located line "<stamp> <file>(<line>):<letter>: <text>"; the file name is cut after its last
// backslash; a null file name gives "<stamp> <letter>: <text>".
void Trace(const char *file, int line, int level, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// "<stamp> <text>"; file and line are not used.
void TraceNoLocation(const char *file, int line, int level, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// The text alone; "<<null>>\n" for a null or empty format.
void TracePlain(const char *file, int line, int level, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// Builds a located line into line (kTraceLineSize bytes) with the given stamp and letter, cut
// like every trace line. Returns line. Used for the notices that the rotating files compose
// themselves.
char *TraceFormatLine(char *line, const char *stamp, const char *file, int lineNo, const char *letter,
                      const char *format, ...) __attribute__((format(printf, 6, 7)));

// Hands the line to the trace object; when there is none or it gave neither 0 nor 4, the line
// goes to the fallback stream and is flushed. Returns the object's code (0 without one).
int OutputTraceLine(const char *line);
// Hands a block to the trace object (its code), or writes it unchanged to the fallback stream
// (0).
int TraceWriteBlock(const void *data, uint32_t length);

// Settings of the installed object; 3 without one.
int TraceSetHeader(const char *text);
void TraceSetPrintSettings(int flag);
int TraceSetOpenCallback(TraceCallback callback);
int TraceSetRotateCallback(TraceCallback callback);
int TraceSetErrorCallback(DiskErrorCallback callback);
// Size of the object's file; 0 without an object or when it cannot be read.
uint32_t TraceGetSize();
// Reads from the object's file: buffer, or nullptr without an object or when the read fails.
void *TraceReadBlock(void *buffer, long offset, size_t length);

void LockTrace();
void UnlockTrace();

// Opening and closing. Modes: 0 standard output, 1 new file, 2 append, 3 rotating reusing
// today's newest file, 4 rotating appending ("r+") to the linked file, 5 rotating new file.
// Another mode prints "illegal filemode %d\n" on the standard output and gives 3. Results: 0,
// 6 out of memory, 7 the file did not open. An object already installed is closed and deleted
// first (a rotating one after its threads stopped). Call while no other thread traces.
int TraceOpen(const char *directory, const char *name, const char *header, int fileMode, int printSettings);
// The same for binary data blocks; rotating files end in the extension (10 characters kept).
int TraceOpenData(const char *directory, const char *name, const char *extension, int fileMode, int blocked);
// 1 when the file opened (a plain Disk, in place of the installed object, which is released),
// else 0. A null path closes the object's file and keeps the object: 0.
int TraceOpenFile(const char *path, int append);
// Stops both threads, writes "trace closed\n", deletes the trace object.
void TraceClose();
// "trace closed\n" at level -1, then the object's file is closed; the object stays installed.
void TraceCloseFile();
int TraceInitLock();
void TraceDeleteLock();
// Decodes a file mode into the three flags (only set, never cleared): 0, or 3 for another mode.
int TraceFileMode(int mode, int *append, int *rotating, int *rplus);

// The installed object (nullptr when none); for tests and the library's own parts.
Disk *TraceGetObject();
// The stream that takes lines no trace object took (the standard output by default); nullptr
// restores the standard output.
void TraceSetFallbackStream(FILE *stream);
