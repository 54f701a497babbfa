// Export of a job's documents, page variants and transmission log from alpha into plain files,
// and import of such files into a new job. Every transfer goes through the plain alpha stubs in
// pieces (1024 bytes of a page, 10 log lines per call); each reply is freed before the next call.
// The client belongs to the caller: these functions neither create nor destroy it. User ids are
// sent cut to 10 characters.
#pragma once

#include <cstdint>

#include "rpcrt/rpcrt.h"

// Result numbers of the part and job functions.
enum JobResult : int {
    JOB_DONE = 0,
    JOB_CANNOT_CREATE = 9,   // export file cannot be created
    JOB_WRITE_ERROR = 10,    // write error on the export file
    JOB_FLUSH_ERROR = 11,    // error when the export file is flushed
    JOB_CANNOT_OPEN = 12,    // import file or directory cannot be opened
    JOB_SERVER_FAILED = 16,  // server call failed or refused
    JOB_NOT_FOUND = 25,      // not found on the server
    JOB_NO_USER = 30,        // no user id given (import)
};

// Bounds of a log export: the alpha server is named by whoever asks, so its answers may never
// end. An export that passes either bound, or whose server's next line does not advance, fails.
constexpr long EXPORT_LOG_MAX_LINES = 100000;
constexpr long EXPORT_LOG_MAX_BYTES = 16L * 1024 * 1024;

// The transmission log of the job into `path` as text, one line per log line (each line at most
// its 101 bytes, up to its first NUL). 1 done, 0 failed; on failure the file is removed.
[[nodiscard]] int ExportLog(CLIENT *client, const char *user, int32_t job, int16_t kind, const char *language,
                            const char *path);
// The document variant (4 when the page has it, else 6) of pages first..last into one file.
// Pages outside the server's count or 1..1000 are skipped. 1 done, 0 failed (file removed).
[[nodiscard]] int ExportDocs(CLIENT *client, const char *user, int32_t job, int16_t kind, int firstPage,
                             int lastPage, const char *path);
// One variant of one page into `path` (binary). 0, 9, 10, 11, 16 or 25; any result but 0
// removes the file (except 9).
[[nodiscard]] int ExportPart(CLIENT *client, const char *user, int32_t job, int16_t kind, int16_t page,
                             int16_t variant, const char *path);
// Every stored variant of every page into "<base>.<page><letter>", the log into "<base>.log" and
// the variant flags into "<base>.inf". Single missing files are reported on the standard error
// ("warning: %s not found\n"). 0, 16, 25 or the result with which ExportPart stopped.
[[nodiscard]] int ExportJob(CLIENT *client, const char *user, int32_t job, int16_t kind, const char *base,
                            int *files);
// A file into one variant of one page: 0, 12 or 16.
[[nodiscard]] int ImportPart(CLIENT *client, const char *user, int32_t job, int16_t page, int16_t variant,
                             const char *path);
// The lines of a text file appended to the job's log (kind 2): 0, 12 or 16.
[[nodiscard]] int ImportLog(CLIENT *client, const char *user, int32_t job, const char *path);
// The files "<base>.<ext>" of the path's directory into a new job of the user: "log" into the
// log, "<page><letter>" (read as "%d%c": a decimal page number of any length, then the
// variant's letter, anything after it ignored) into that page variant, others skipped. `job` (may be null)
// gets the new job's number; `files` the count imported. 0, 12, 16 or 30.
[[nodiscard]] int ImportJob(CLIENT *client, const char *user, const char *path, int verbose, int32_t *job,
                            int *files);
// True when any of the flag words marks a document variant (0x10 or 0x40).
bool JobAnyDocFlag(const int32_t *flags, int count);
