// OS utility library on POSIX: pthreads, condition variables on the steady clock, recursive
// mutexes, clock_gettime/localtime_r, posix_spawn, dlopen, opendir and friends.
#include "os/sysutil.h"
#include "os/sysutil_internal.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

extern char **environ;

// ---- Handles ------------------------------------------------------------------------------

struct SysHandleRec {
    enum Kind { Event, Thread, Token } kind;
    std::mutex mutex;
    std::condition_variable cond;
    bool manualReset = true;
    bool set = false;  // event: signalled; thread: the thread has ended
    pthread_t thread{};
    std::atomic<int> refs{1};  // thread handles: the caller and the running thread

    explicit SysHandleRec(Kind k) : kind(k) {}
};

namespace {

// Handed out for a detached thread: nothing to wait on or release.
SysHandleRec detachedToken(SysHandleRec::Token);

struct ThreadStart {
    SysThreadFunction function;
    void *argument;
    SysHandleRec *handle;  // nullptr for a detached thread
};

void ReleaseHandle(SysHandleRec *h)
{
    if (h->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete h;
}

// Signals `h` (event semantics). The notify happens under the mutex: a woken waiter may close
// the event as soon as it returns, so nothing may touch it after the unlock.
void Signal(SysHandleRec *h)
{
    std::lock_guard<std::mutex> guard(h->mutex);
    h->set = true;
    if (h->manualReset)
        h->cond.notify_all();
    else
        h->cond.notify_one();
}

// Waits until h->set, consuming it for an auto-reset event. 1 when set in time.
int WaitSet(SysHandleRec *h, int32_t milliseconds)
{
    std::unique_lock<std::mutex> lock(h->mutex);
    if (milliseconds < 0) {
        h->cond.wait(lock, [h] { return h->set; });
    } else if (!h->cond.wait_for(lock, std::chrono::milliseconds(milliseconds), [h] { return h->set; })) {
        return 0;
    }
    if (!h->manualReset)
        h->set = false;
    return 1;
}

// Runs the caller's function, frees the start context and marks the thread as ended.
void *ThreadEntry(void *context)
{
    auto *start = static_cast<ThreadStart *>(context);
    SysThreadFunction function = start->function;
    void *argument = start->argument;
    SysHandleRec *handle = start->handle;
    delete start;
    function(argument);
    if (handle) {
        Signal(handle);
        ReleaseHandle(handle);
    }
    return nullptr;
}

}  // namespace

SysHandle SysStartThread(SysThreadFunction function, unsigned stackSize, void *argument, int detached)
{
    if (!function) {
        errno = EINVAL;
        return nullptr;
    }
    auto *start = new (std::nothrow) ThreadStart{function, argument, nullptr};
    if (!start) {
        errno = ENOMEM;
        return nullptr;
    }
    SysHandleRec *handle = nullptr;
    if (!detached) {
        handle = new (std::nothrow) SysHandleRec(SysHandleRec::Thread);
        if (!handle) {
            delete start;
            errno = ENOMEM;
            return nullptr;
        }
        handle->refs.store(2);  // the caller's reference and the thread's
        start->handle = handle;
    }

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize > 0) {
        size_t size = stackSize < PTHREAD_STACK_MIN ? PTHREAD_STACK_MIN : stackSize;
        pthread_attr_setstacksize(&attr, size);
    }
    if (detached)
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, ThreadEntry, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete start;
        delete handle;
        errno = rc;
        return nullptr;
    }
    if (detached)
        return &detachedToken;
    handle->thread = thread;
    return handle;
}

int SysSetThreadPriority(SysHandle thread, int level)
{
    if (level < 0 || level > 6 || (thread && thread->kind != SysHandleRec::Thread)) {
        errno = EINVAL;
        return 0;
    }
    return 1;
}

int SysWaitHandle(SysHandle handle, int32_t milliseconds)
{
    if (!handle || handle->kind == SysHandleRec::Token) {
        errno = EINVAL;
        return 0;
    }
    return WaitSet(handle, milliseconds);
}

int SysCloseHandle(SysHandle thread)
{
    if (!thread || thread->kind != SysHandleRec::Thread) {
        errno = EINVAL;
        return 0;
    }
    bool ended;
    {
        std::lock_guard<std::mutex> guard(thread->mutex);
        ended = thread->set;
    }
    // An ended thread is joined (it is at most leaving ThreadEntry); a running one finishes on
    // its own and drops its reference to the handle.
    if (ended)
        pthread_join(thread->thread, nullptr);
    else
        pthread_detach(thread->thread);
    ReleaseHandle(thread);
    return 1;
}

SysHandle SysCreateEvent(int manualReset, int initiallySet)
{
    auto *h = new (std::nothrow) SysHandleRec(SysHandleRec::Event);
    if (!h) {
        errno = ENOMEM;
        return nullptr;
    }
    h->manualReset = manualReset != 0;
    h->set = initiallySet != 0;
    return h;
}

int SysWaitEvent(SysHandle event, int32_t milliseconds)
{
    if (!event || event->kind != SysHandleRec::Event) {
        errno = EINVAL;
        return 0;
    }
    return WaitSet(event, milliseconds);
}

int SysSetEvent(SysHandle event)
{
    if (!event || event->kind != SysHandleRec::Event) {
        errno = EINVAL;
        return 0;
    }
    Signal(event);
    return 1;
}

int SysResetEvent(SysHandle event)
{
    if (!event || event->kind != SysHandleRec::Event) {
        errno = EINVAL;
        return 0;
    }
    std::lock_guard<std::mutex> guard(event->mutex);
    event->set = false;
    return 1;
}

int SysCloseEvent(SysHandle event)
{
    if (!event || event->kind != SysHandleRec::Event) {
        errno = EINVAL;
        return 0;
    }
    delete event;
    return 1;
}

// ---- Replaceable clock and sleep ----------------------------------------------------------

namespace {

std::atomic<void (*)(struct timespec *, void *)> hookNow{nullptr};
std::atomic<uint32_t (*)(void *)> hookTick{nullptr};
std::atomic<void (*)(int32_t, void *)> hookSleep{nullptr};
std::atomic<void *> hookContext{nullptr};

void RealSleep(int32_t milliseconds)
{
    if (milliseconds < 0) {
        for (;;)
            pause();
    }
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void Now(struct timespec *out)
{
    if (auto f = hookNow.load(std::memory_order_acquire)) {
        f(out, hookContext.load(std::memory_order_acquire));
        return;
    }
    clock_gettime(CLOCK_REALTIME, out);
}

}  // namespace

void SysSetClock(const SysClock *clock)
{
    hookContext.store(clock ? clock->context : nullptr, std::memory_order_release);
    hookNow.store(clock ? clock->now : nullptr, std::memory_order_release);
    hookTick.store(clock ? clock->tickCount : nullptr, std::memory_order_release);
    hookSleep.store(clock ? clock->sleep : nullptr, std::memory_order_release);
}

int SysSleep(int32_t milliseconds)
{
    int saved = errno;
    if (auto f = hookSleep.load(std::memory_order_acquire))
        f(milliseconds, hookContext.load(std::memory_order_acquire));
    else
        RealSleep(milliseconds);
    errno = saved;
    return 0;
}

int SysPumpWait(int32_t milliseconds)
{
    SysSleep(milliseconds);
    return SYS_WAIT_TIMEOUT;
}

// ---- Locks --------------------------------------------------------------------------------

struct SysLockRec {
    std::recursive_mutex mutex;
};

SysLockRec *SysCreateLock()
{
    auto *lock = new (std::nothrow) SysLockRec;
    if (!lock)
        errno = ENOMEM;
    return lock;
}

void SysLock(SysLockRec *lock)
{
    if (lock)
        lock->mutex.lock();
}

void SysUnlock(SysLockRec *lock)
{
    if (lock)
        lock->mutex.unlock();
}

void SysDeleteLock(SysLockRec *lock)
{
    delete lock;
}

// ---- Time, process, identity --------------------------------------------------------------

namespace {

// The local time of the last second each thread converted. A trace line asks for the local time
// twice (its stamp and the roll-period check), so the conversion runs once a second instead of
// twice a line. The conversion depends on the second and on the time zone in effect, which only
// tzset and its kin change, and they set tzname and timezone: both are part of the key.
struct LocalSecond {
    time_t seconds = 0;
    const char *names[2] = {nullptr, nullptr};
    long zone = 0;
    bool valid = false;
    struct tm tm {};
};
thread_local LocalSecond tLocalSecond;

const struct tm &LocalTimeOf(time_t seconds)
{
    LocalSecond &last = tLocalSecond;
    if (!last.valid || last.seconds != seconds || last.names[0] != tzname[0] || last.names[1] != tzname[1] ||
        last.zone != timezone) {
        localtime_r(&seconds, &last.tm);
        // Read after the conversion: the first conversion of the process sets the zone up.
        last.names[0] = tzname[0];
        last.names[1] = tzname[1];
        last.zone = timezone;
        last.seconds = seconds;
        last.valid = true;
    }
    return last.tm;
}

}  // namespace

SysTime *SysLocalTime(SysTime *out)
{
    if (!out)
        return out;
    struct timespec now;
    Now(&now);
    const struct tm &tm = LocalTimeOf(now.tv_sec);
    out->year = static_cast<uint16_t>(tm.tm_year + 1900);
    out->month = static_cast<uint16_t>(tm.tm_mon + 1);
    out->dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    out->day = static_cast<uint16_t>(tm.tm_mday);
    out->hour = static_cast<uint16_t>(tm.tm_hour);
    out->minute = static_cast<uint16_t>(tm.tm_min);
    out->second = static_cast<uint16_t>(tm.tm_sec);
    out->milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000L);
    return out;
}

int64_t SysNow()
{
    struct timespec now;
    Now(&now);
    return static_cast<int64_t>(now.tv_sec);
}

uint32_t SysTickCount()
{
    if (auto f = hookTick.load(std::memory_order_acquire))
        return f(hookContext.load(std::memory_order_acquire));
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec / 1000000L);
    return static_cast<uint32_t>(ms);
}

int32_t SysProcessId()
{
    return static_cast<int32_t>(getpid());
}

int SysGetLastError()
{
    return errno;
}

void SysSetLastError(int error)
{
    errno = error;
}

char *SysErrorText(int error, char *buffer, size_t size)
{
    if (!buffer || size == 0)
        return nullptr;
    char local[256];
    // GNU strerror_r may return a static text and leave the buffer untouched.
    const char *text = strerror_r(error, local, sizeof local);
    snprintf(buffer, size, "%s", text ? text : "");
    // Cut a trailing line end, as the system texts of other platforms carry one.
    char *cr = strrchr(buffer, '\r');
    if (!cr) {
        size_t n = strlen(buffer);
        if (n > 0 && buffer[n - 1] == '\n')
            cr = buffer + n - 1;
    }
    if (cr)
        *cr = '\0';
    return cr;
}

void SysPrintSocketError(const char *prefix)
{
    long error = errno;
    if (prefix)
        fprintf(stderr, "%s : Error at socket(): %ld\n", prefix, error);
    else
        fprintf(stderr, "Error at socket(): %ld\n", error);
}

char *SysVersionStamp(void *, char *buffer, size_t size)
{
    if (buffer && size > 0)
        snprintf(buffer, size, "%s", "(no version stamp)");
    return buffer;
}

// ---- Processes and shared libraries -------------------------------------------------------

namespace tela::sysutil_internal {

int StartChild(const char *program, char *const argv[], pid_t *pid)
{
    int rc = posix_spawn(pid, program, nullptr, nullptr, argv, environ);
    if (rc != 0) {
        errno = rc;
        return 0;
    }
    return 1;
}

void ReapInBackground(pid_t pid)
{
    auto reap = [](void *p) {
        pid_t child = static_cast<pid_t>(reinterpret_cast<intptr_t>(p));
        int status;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    };
    if (!SysStartThread(reap, 0, reinterpret_cast<void *>(static_cast<intptr_t>(pid)), 1)) {
        // No reaper: the child runs all the same and is collected when this process ends.
    }
}

}  // namespace tela::sysutil_internal

namespace {

// Starts program with argv; the child is then left to a reaper thread so that it does not stay
// a zombie. 1 when started.
int SpawnDetachedArgv(const char *program, char *const argv[])
{
    pid_t pid;
    if (!tela::sysutil_internal::StartChild(program, argv, &pid))
        return 0;
    tela::sysutil_internal::ReapInBackground(pid);
    return 1;
}

}  // namespace

int SysSpawn(const char *program, ...)
{
    if (!program) {
        errno = EINVAL;
        return 0;
    }
    std::vector<char *> argv;
    va_list ap;
    va_start(ap, program);
    while (const char *arg = va_arg(ap, const char *))
        argv.push_back(const_cast<char *>(arg));
    va_end(ap);
    if (argv.empty())
        argv.push_back(const_cast<char *>(program));
    argv.push_back(nullptr);
    return SpawnDetachedArgv(program, argv.data());
}

int SysSpawnArgv(const char *program, char *const argv[])
{
    if (!program || !argv) {
        errno = EINVAL;
        return 0;
    }
    return SpawnDetachedArgv(program, argv);
}

void *SysLoadLibrary(const char *name)
{
    if (!name)
        return nullptr;
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

int SysFreeLibrary(void *module)
{
    if (!module)
        return 0;
    return dlclose(module) == 0 ? 1 : 0;
}

void *SysGetProcAddress(void *module, const char *name)
{
    if (!module || !name)
        return nullptr;
    return dlsym(module, name);
}

// ---- Files and directories ----------------------------------------------------------------

SysDir *SysOpenDir(const char *path)
{
    if (!path)
        path = "";
    auto *dir = static_cast<SysDir *>(calloc(1, sizeof(SysDir)));
    if (!dir) {
        errno = ENOMEM;
        return nullptr;
    }
    size_t n = strlen(path);
    dir->pattern = static_cast<char *>(malloc(n + 3));
    if (!dir->pattern) {
        free(dir);
        errno = ENOMEM;
        return nullptr;
    }
    memcpy(dir->pattern, path, n);
    memcpy(dir->pattern + n, "/*", 3);
    dir->entry.d_name = dir->name;
    return dir;
}

SysDirEntry *SysReadDir(SysDir *dir)
{
    if (!dir)
        return nullptr;
    if (!dir->started) {
        dir->started = true;
        std::string path(dir->pattern, strlen(dir->pattern) - 2);  // without "/*"
        dir->handle = opendir(path.empty() ? "/" : path.c_str());
    }
    if (!dir->handle)
        return nullptr;
    int saved = errno;
    struct dirent *d = readdir(static_cast<DIR *>(dir->handle));
    errno = saved;
    if (!d)
        return nullptr;
    snprintf(dir->name, sizeof dir->name, "%s", d->d_name);
    dir->entry.d_name = dir->name;
    dir->count++;
    return &dir->entry;
}

void SysRewindDir(SysDir *dir)
{
    if (!dir)
        return;
    if (dir->handle)
        closedir(static_cast<DIR *>(dir->handle));
    dir->handle = nullptr;
    dir->started = false;
    dir->count = 0;
}

int SysCloseDir(SysDir *dir)
{
    if (!dir)
        return -1;
    if (dir->handle)
        closedir(static_cast<DIR *>(dir->handle));
    free(dir->pattern);
    free(dir);
    return 0;
}

int SysStat(const char *path, SysStatInfo *info)
{
    if (!path || !info) {
        errno = EINVAL;
        return -1;
    }
    struct stat st;
    if (stat(path, &st) != 0)
        return -1;
    info->dev = static_cast<int32_t>(st.st_dev);
    info->ino = static_cast<uint16_t>(st.st_ino);
    info->mode = static_cast<uint16_t>(st.st_mode);
    info->nlink = static_cast<int16_t>(st.st_nlink);
    info->uid = static_cast<int32_t>(st.st_uid);
    info->gid = static_cast<int32_t>(st.st_gid);
    info->rdev = static_cast<int32_t>(st.st_rdev);
    info->size = static_cast<int64_t>(st.st_size);
    info->atime = static_cast<int64_t>(st.st_atim.tv_sec);
    info->mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
    info->ctime = static_cast<int64_t>(st.st_ctim.tv_sec);
    return 0;
}

int SysMkDir(const char *path, int mode)
{
    if (!path) {
        errno = EINVAL;
        return 0;
    }
    return mkdir(path, static_cast<mode_t>(mode)) == 0 ? 1 : 0;
}

int SysAccess(const char *path, int mode)
{
    if (!path) {
        errno = EINVAL;
        return 0;
    }
    int how = F_OK;
    if (mode & 2)
        how |= W_OK;
    if (mode & 4)
        how |= R_OK;
    return access(path, how) == 0 ? 1 : 0;
}

int SysDeleteFile(const char *path)
{
    if (!path) {
        errno = EINVAL;
        return 0;
    }
    return unlink(path) == 0 ? 1 : 0;
}

int SysRename(const char *oldPath, const char *newPath)
{
    if (!oldPath || !newPath) {
        errno = EINVAL;
        return 0;
    }
    if (renameat2(AT_FDCWD, oldPath, AT_FDCWD, newPath, RENAME_NOREPLACE) == 0)
        return 1;
    if (errno != EINVAL && errno != ENOSYS)
        return 0;
    // File systems without the no-replace rename: a hard link fails on an existing target.
    struct stat st;
    if (lstat(oldPath, &st) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode)) {
        if (::link(oldPath, newPath) != 0)
            return 0;
        if (unlink(oldPath) != 0) {
            int saved = errno;
            unlink(newPath);
            errno = saved;
            return 0;
        }
        return 1;
    }
    if (lstat(newPath, &st) == 0) {
        errno = EEXIST;
        return 0;
    }
    return rename(oldPath, newPath) == 0 ? 1 : 0;
}

size_t SysTempPath(char *buffer, size_t size)
{
    if (!buffer || size == 0) {
        errno = EINVAL;
        return 0;
    }
    const char *dir = getenv("TMPDIR");
    if (!dir || !*dir)
        dir = "/tmp";
    size_t n = strlen(dir);
    bool slash = dir[n - 1] == '/';
    size_t total = n + (slash ? 0 : 1);
    if (total + 1 > size) {
        buffer[0] = '\0';
        errno = ENAMETOOLONG;
        return 0;
    }
    memcpy(buffer, dir, n);
    if (!slash)
        buffer[n] = '/';
    buffer[total] = '\0';
    return total;
}

int SysTempFileName(char *out, const char *prefix, const char *directory, size_t size)
{
    if (!out || size == 0) {
        errno = EINVAL;
        return 0;
    }
    out[0] = '\0';
    char dir[SYS_MAX_PATH * 4];
    if (directory && *directory) {
        snprintf(dir, sizeof dir, "%s", directory);
    } else if (SysTempPath(dir, sizeof dir) == 0) {
        return 0;
    }
    size_t n = strlen(dir);
    const char *sep = (n > 0 && dir[n - 1] == '/') ? "" : "/";
    char pre[4] = {0};
    if (prefix)
        snprintf(pre, sizeof pre, "%s", prefix);

    // Start from a value that differs between processes and calls; on a clash take the next.
    static std::atomic<uint32_t> counter{0};
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    uint32_t value = static_cast<uint32_t>(getpid()) * 2654435761u ^ static_cast<uint32_t>(now.tv_nsec) ^
                     counter.fetch_add(0x9E37u);
    for (int attempt = 0; attempt < 100000; ++attempt, ++value) {
        char path[sizeof dir + 32];
        int len = snprintf(path, sizeof path, "%s%s%s%X.TMP", dir, sep, pre, value);
        if (len < 0 || static_cast<size_t>(len) + 1 > size) {
            errno = ENAMETOOLONG;
            return 0;
        }
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            close(fd);
            memcpy(out, path, static_cast<size_t>(len) + 1);
            return 1;
        }
        if (errno != EEXIST)
            return 0;
    }
    errno = EEXIST;
    return 0;
}
