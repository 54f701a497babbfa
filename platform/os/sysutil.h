// OS utility library: threads, events, waits, locks, time, processes, shared libraries, files
// and directories behind one small set of Sys functions, so that the rest of the code does not
// depend on the platform.
//
// Results: 1 for success and 0 for failure, unless a function's comment says otherwise
// (SysStat and SysCloseDir give 0 and -1). The last system error number is errno and is read
// with SysGetLastError right after a failed call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

// Longest path the fixed path buffers of the system hold, terminator included.
constexpr size_t SYS_MAX_PATH = 260;

// Wait time meaning "for ever" for SysWaitHandle, SysWaitEvent and SysSleep.
constexpr int32_t SYS_INFINITE = -1;

// What SysPumpWait returns when its time ran out (there is no message queue on this platform,
// so it always does).
constexpr int SYS_WAIT_TIMEOUT = 258;

// ---- Threads, events, waits ---------------------------------------------------------------

// One opaque handle type for threads and events. A thread handle can be waited on any number of
// times (SysWaitHandle) and is released once with SysCloseHandle; an event handle is released
// with SysCloseEvent. SysWaitHandle also accepts an event handle.
struct SysHandleRec;
using SysHandle = SysHandleRec *;

using SysThreadFunction = void (*)(void *argument);

// Starts `function(argument)` on a new thread. stackSize 0 takes the default. A joinable thread
// (detached 0) gives a handle that the caller waits on and closes with SysCloseHandle. A
// detached thread (detached non-zero) cleans up after itself; its handle is only a success
// token: do not wait on it or close it. Returns nullptr when the thread cannot be started; the
// start context is freed by the new thread, or here when the start fails.
[[nodiscard]] SysHandle SysStartThread(SysThreadFunction function, unsigned stackSize, void *argument,
                                       int detached);
// Levels 0 idle .. 3 normal .. 6 time critical; nullptr means the calling thread. Scheduling
// priorities of normal threads have no meaning here: a level from 0 to 6 gives 1, any other
// level 0 (with errno EINVAL).
int SysSetThreadPriority(SysHandle thread, int level);
// 1 when the thread has ended (or the event is set) within `milliseconds`, else 0;
// SYS_INFINITE waits for ever. Waiting on an auto-reset event consumes its signal.
int SysWaitHandle(SysHandle handle, int32_t milliseconds);
// Releases a thread handle: joins the thread when it has ended, else lets it finish on its own.
// 0 for nullptr or an event handle.
int SysCloseHandle(SysHandle thread);

// An event: with manualReset it stays set until SysResetEvent and releases every waiter; without
// it, a set event releases one waiter and clears itself. nullptr when out of memory.
[[nodiscard]] SysHandle SysCreateEvent(int manualReset, int initiallySet);
// 1 when the event was set within `milliseconds` (0 tests without waiting), else 0.
int SysWaitEvent(SysHandle event, int32_t milliseconds);
int SysSetEvent(SysHandle event);
int SysResetEvent(SysHandle event);
// Releases the event; nobody may wait on it any more. 0 for nullptr.
int SysCloseEvent(SysHandle event);

// Sleeps `milliseconds` (SYS_INFINITE: for ever), resumed after signals. Returns 0 once the time
// has passed. Goes through the replaceable sleep (SysSetClock below).
int SysSleep(int32_t milliseconds);
// Sleeps `milliseconds`; there is no message queue to serve. Returns SYS_WAIT_TIMEOUT.
int SysPumpWait(int32_t milliseconds);

// ---- Locks --------------------------------------------------------------------------------

// A recursive lock: the thread that holds it may enter it again (and leaves it as often).
struct SysLockRec;

// nullptr when out of memory.
[[nodiscard]] SysLockRec *SysCreateLock();
// Enter (blocks) and leave. nullptr is ignored.
void SysLock(SysLockRec *lock);
void SysUnlock(SysLockRec *lock);
// Frees the lock; it must not be held. nullptr is ignored.
void SysDeleteLock(SysLockRec *lock);

// ---- Time, process, identity --------------------------------------------------------------

struct SysTime {
    uint16_t year;       // full year, e.g. 2026
    uint16_t month;      // 1-12
    uint16_t dayOfWeek;  // 0 = Sunday
    uint16_t day;        // day of the month, 1-31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};

// Fills `out` with the local date and time (through the replaceable clock) and returns it.
SysTime *SysLocalTime(SysTime *out);
// Seconds since 1970-01-01 UTC, from the same replaceable clock as SysLocalTime. Code that
// compares file times with "now" uses this so that tests can move time.
int64_t SysNow();
// Milliseconds since an arbitrary start (the system's boot), 32 bits, wrapping.
uint32_t SysTickCount();
int32_t SysProcessId();
// errno of the calling thread, and setting it.
int SysGetLastError();
void SysSetLastError(int error);
// The system's message text for `error` into buffer (size bytes, always terminated when size >
// 0). Returns the position where a trailing line end was cut off, or nullptr when there was none
// to cut (the usual case here) or the buffer is unusable.
char *SysErrorText(int error, char *buffer, size_t size);
// "%s : Error at socket(): %ld\n" with the prefix, or "Error at socket(): %ld\n" for nullptr,
// with the last socket error (errno), on the standard error.
void SysPrintSocketError(const char *prefix);
// Programs carry no version resource here: writes "(no version stamp)" (cut to size) and returns
// buffer. `module` is nullptr for the program or a handle from SysLoadLibrary.
char *SysVersionStamp(void *module, char *buffer, size_t size);

// ---- Processes and shared libraries -------------------------------------------------------

// Starts `program` without waiting for it. The argument texts that follow, ended by nullptr,
// become the new program's argument vector as they are (no quoting); with none, the vector is
// just the program path. The child is reaped by the system (it does not linger as a zombie).
// 1 when started, else 0.
int SysSpawn(const char *program, ...);
// The same with a ready argument vector (nullptr-terminated, passed as it is).
int SysSpawnArgv(const char *program, char *const argv[]);
// dlopen/dlsym/dlclose. nullptr (or 0) on failure.
[[nodiscard]] void *SysLoadLibrary(const char *name);
int SysFreeLibrary(void *module);
void *SysGetProcAddress(void *module, const char *name);

// ---- Files and directories ----------------------------------------------------------------

struct SysDirEntry {
    const char *d_name;  // the current name inside its SysDir; valid until the next read/close
};

// An open directory listing. The directory itself is only opened by the first read, so a
// missing directory shows as an empty listing. The record is shared with the directory-stream
// functions of the support library, which may rewind it (close `handle`, clear `started` and
// `count`).
struct SysDir {
    int count;          // names returned so far
    char *pattern;      // the directory path followed by "/*" (owned)
    void *handle;       // the running search (a DIR*), nullptr when none
    bool started;       // the first read has happened
    char name[256];     // the current name
    SysDirEntry entry;  // handed out by SysReadDir
};

// nullptr only when out of memory.
[[nodiscard]] SysDir *SysOpenDir(const char *path);
// Next name in the system's order ("." and ".." included), or nullptr at the end.
SysDirEntry *SysReadDir(SysDir *dir);
// Ends the search, frees the record: 0; -1 for nullptr.
int SysCloseDir(SysDir *dir);
// Ends a running search so that the next SysReadDir starts again; count becomes 0.
void SysRewindDir(SysDir *dir);

struct SysStatInfo {
    int32_t dev;
    uint16_t ino;   // low 16 bits of the inode number
    uint16_t mode;  // file type and permission bits (S_IFREG, S_IFDIR, 0644...)
    int16_t nlink;
    int32_t uid;
    int32_t gid;
    int32_t rdev;
    int64_t size;   // bytes; 64 bits so that files of 4 GiB and more are measured right
    int64_t atime;  // seconds since 1970-01-01 UTC
    int64_t mtime;
    int64_t ctime;
};

// 0 and `info` filled, or -1 with errno set.
int SysStat(const char *path, SysStatInfo *info);
// mkdir(path, mode); the mode applies less the umask. 1 when the directory was made.
int SysMkDir(const char *path, int mode);
// mode 0 exists, 2 write, 4 read, 6 read and write. 1 when allowed.
int SysAccess(const char *path, int mode);
int SysDeleteFile(const char *path);
// Renames; unlike rename(2) it fails (errno EEXIST) when newPath exists already.
int SysRename(const char *oldPath, const char *newPath);
// The directory for temporary files: $TMPDIR when set and not empty, else "/tmp", with a
// trailing "/". Returns the length written, 0 when it does not fit into size.
size_t SysTempPath(char *buffer, size_t size = SYS_MAX_PATH);
// Creates a new empty file "<directory>/<prefix><hex>.TMP" exclusively with mode 0600 and
// writes its path into out. prefix: up to 3 characters used; directory nullptr or "" =
// SysTempPath. Non-zero on success; on failure 0, errno set and out empty (when size > 0).
int SysTempFileName(char *out, const char *prefix, const char *directory, size_t size = SYS_MAX_PATH);

// ---- Replaceable clock and sleep ----------------------------------------------------------
//
// Tests replace the clock and the sleep of this layer to move time without waiting. The hooks
// reach SysLocalTime, SysNow, SysTickCount and SysSleep (and SysPumpWait); the timed waits of
// events and threads keep the real clock. A member left nullptr keeps the system's function.
// Set the hooks before other threads use the layer and restore them (SysSetClock(nullptr))
// when done; reading them is thread-safe.
struct SysClock {
    // Wall-clock time since 1970-01-01 UTC; SysLocalTime converts it to local time.
    void (*now)(struct timespec *out, void *context);
    uint32_t (*tickCount)(void *context);
    void (*sleep)(int32_t milliseconds, void *context);
    void *context;
};

// Installs a copy of *clock; nullptr restores the system's clock and sleep.
void SysSetClock(const SysClock *clock);
