// Rotation thread, global rotation requests and log aging.
#include "trace/rotatethread.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "os/sysutil.h"
#include "trace/rotate.h"
#include "trace/trace.h"
#include "trace/trace_params.h"

namespace {

const char kSource[] = "rotatethread";

std::vector<Rotate *> gRotateList;
std::atomic<int> gRotateCount{0};
std::mutex gRotateListLock;

std::recursive_mutex gGlobalRotateLock;
std::atomic<bool> gGlobalRotateMade{false};
int gGlobalWantFlag = 0;

// The wake event and the thread handle; the event is reached from any thread that wakes the
// thread, so its creation and release are guarded too.
std::mutex gEventLock;
SysHandle gRotateWake = nullptr;
SysHandle gRotateThread = nullptr;
std::atomic<int> gRotateStopped{0};

std::mutex gPassLock;
std::condition_variable gPassDone;
int gPasses = 0;

std::vector<Rotate *> ListCopy()
{
    std::lock_guard<std::mutex> lock(gRotateListLock);
    return gRotateList;
}

Rotate *Registered(int index)
{
    std::lock_guard<std::mutex> lock(gRotateListLock);
    if (index < 0 || static_cast<size_t>(index) >= gRotateList.size())
        return nullptr;
    return gRotateList[static_cast<size_t>(index)];
}

// A notice composed here, written straight into the requesting object's file.
void Notice(int index, int line, const char *letter, const char *text)
{
    Rotate *rotate = Registered(index);
    if (!rotate)
        return;
    char stamp[kTraceStampSize];
    char buffer[kTraceLineSize];
    TraceFormatLine(buffer, TraceTimeStamp(stamp), kSource, line, letter, "%s", text);
    std::lock_guard<std::recursive_mutex> lock(rotate->FileLock);
    rotate->Reserve = 0;
    rotate->Disk::PutString(buffer);
    rotate->Reserve = kRotateReserve;
}

void RotateThread(void *)
{
    while (!gRotateStopped.load()) {
        // Requested rotations run on a copy of the list and with no global lock held, since they
        // may write trace lines. The request stays set until every object has rotated, so a
        // request made meanwhile is part of this one and marks no object again.
        if (gGlobalRotateMade.load()) {
            bool wanted = false;
            std::vector<Rotate *> objects;
            {
                std::lock_guard<std::recursive_mutex> lock(gGlobalRotateLock);
                if (gGlobalWantFlag) {
                    wanted = true;
                    objects = ListCopy();
                }
            }
            for (Rotate *rotate : objects)
                rotate->RotateNow();
            // An object that filled up again after its rotation in this pass asked while the
            // request was under way, so its request changed nothing: rotate just that object
            // again rather than leave its held-back blocks until the next request.
            while (wanted) {
                std::vector<Rotate *> again;
                for (Rotate *rotate : ListCopy()) {
                    if (rotate->MarkIfHeldBack())
                        again.push_back(rotate);
                }
                if (again.empty())
                    break;
                for (Rotate *rotate : again)
                    rotate->RotateNow();
            }
            if (wanted) {
                std::lock_guard<std::recursive_mutex> lock(gGlobalRotateLock);
                gGlobalWantFlag = 0;
            }
        }
        if (gRotateStopped.load())
            break;
        if (GetTraceMinfiles() != 0) {
            for (Rotate *rotate : ListCopy())
                rotate->LogAge();
        }
        {
            std::lock_guard<std::mutex> lock(gPassLock);
            ++gPasses;
        }
        gPassDone.notify_all();
        if (gRotateStopped.load())
            break;
        SysWaitEvent(gRotateWake, 86400000);
    }
}

}  // namespace

int RegisterRotate(Rotate *rotate)
{
    std::lock_guard<std::mutex> lock(gRotateListLock);
    gRotateList.push_back(rotate);
    gRotateCount.store(static_cast<int>(gRotateList.size()));
    return static_cast<int>(gRotateList.size()) - 1;
}

int GetRotateCount()
{
    return gRotateCount.load();
}

void StartRotateThread()
{
    std::lock_guard<std::mutex> lock(gEventLock);
    if (gRotateWake || gRotateThread)
        return;
    gRotateStopped.store(0);
    gRotateWake = SysCreateEvent(0, 0);
    if (!gRotateWake)
        return;
    gRotateThread = SysStartThread(RotateThread, 0, nullptr, 0);
    if (!gRotateThread) {
        SysCloseEvent(gRotateWake);
        gRotateWake = nullptr;
    }
}

void StopRotateThread()
{
    gRotateStopped.store(1);
    SysHandle thread;
    {
        std::lock_guard<std::mutex> lock(gEventLock);
        thread = gRotateThread;
        gRotateThread = nullptr;
        if (gRotateWake)
            SysSetEvent(gRotateWake);
    }
    // Joined without the event lock: the thread's own wake-ups (aging traces a line, which may
    // set a minfiles value) must not wait for us.
    if (thread) {
        SysWaitHandle(thread, SYS_INFINITE);
        SysCloseHandle(thread);
    }
    {
        std::lock_guard<std::mutex> lock(gEventLock);
        if (gRotateWake) {
            SysCloseEvent(gRotateWake);
            gRotateWake = nullptr;
        }
    }
    std::lock_guard<std::mutex> lock(gRotateListLock);
    gRotateList.clear();
    gRotateCount.store(0);
}

void WakeRotateThread()
{
    std::lock_guard<std::mutex> lock(gEventLock);
    if (gRotateWake)
        SysSetEvent(gRotateWake);
}

int IsRotateThreadStopped()
{
    return gRotateStopped.load();
}

void InitGlobalRotate()
{
    gGlobalRotateMade.store(true);
}

void ExitGlobalRotate()
{
    std::lock_guard<std::recursive_mutex> lock(gGlobalRotateLock);
    gGlobalRotateMade.store(false);
    gGlobalWantFlag = 0;
}

void LockRotateList()
{
    gRotateListLock.lock();
}
void UnlockRotateList()
{
    gRotateListLock.unlock();
}
void LockGlobalRotate()
{
    gGlobalRotateLock.lock();
}
void UnlockGlobalRotate()
{
    gGlobalRotateLock.unlock();
}

void GlobalWantRotate(int index)
{
    if (!gGlobalRotateMade.load()) {
        Notice(index, __LINE__, "E",
               "GlobalWantRotate called but Global Rotate is not initialized, ignored\n");
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::recursive_mutex> lock(gGlobalRotateLock);
        if (!gGlobalWantFlag) {
            gGlobalWantFlag = 1;
            if (GetTraceLevel() >= 3)
                Notice(index, __LINE__, "C", "GlobalWantRotate called\n");
            for (Rotate *rotate : ListCopy())
                rotate->SetRotateFlag(1);
            wake = true;
        }
    }
    if (wake)
        WakeRotateThread();
}

void GlobalRefreshDate(int index)
{
    if (!gGlobalRotateMade.load()) {
        Notice(index, __LINE__, "E",
               "GlobalRefreshDate called but Global Rotate is not initialized, ignored\n");
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(gGlobalRotateLock);
    if (GetTraceLevel() >= 3)
        Notice(index, __LINE__, "C", "GlobalRefreshDate called\n");
    for (Rotate *rotate : ListCopy())
        rotate->SetRefreshDate(1);
}

AgeEntry *AddAgeEntry(const char *path, int64_t mtime, AgeEntry *list)
{
    AgeEntry *entry = static_cast<AgeEntry *>(malloc(sizeof(AgeEntry)));
    char *copy = path ? strdup(path) : nullptr;
    if (!entry || !copy) {
        free(entry);
        free(copy);
        return list;
    }
    entry->path = copy;
    entry->mtime = mtime;
    if (!list || mtime < list->mtime) {
        entry->next = list;
        return entry;
    }
    AgeEntry *at = list;
    while (at->next && at->next->mtime < mtime)
        at = at->next;
    entry->next = at->next;
    at->next = entry;
    return list;
}

void FreeAgeList(AgeEntry *list)
{
    while (list) {
        AgeEntry *next = list->next;
        free(list->path);
        free(list);
        list = next;
    }
}

void Rotate::LogAge()
{
    int minfiles = GetTraceMinfiles();
    if (!IsTraceRotating() || minfiles == 0)
        return;
    int64_t limit = SysNow() - static_cast<int64_t>(GetTraceMinage()) * 86400;
    const char *dirPath = GetFileDir();
    // The listing fails only when out of memory; a missing directory lists as empty.
    SysDir *dir = SysOpenDir(dirPath);
    if (!dir) {
        int error = errno;
        Trace(kSource, __LINE__, 0, "LogAge: opendir(%s) failed: %s\n", dirPath, strerror(error));
        return;
    }
    const char *name = GetName();
    size_t nameLength = strlen(name);
    AgeEntry *list = nullptr;
    int count = 0;
    bool failed = false;
    while (SysDirEntry *entry = SysReadDir(dir)) {
        if (!entry->d_name || !entry->d_name[0]) {
            fprintf(Console, "dp without d_name\n");
            continue;
        }
        if (strncmp(entry->d_name, name, nameLength) != 0 || strlen(entry->d_name) <= nameLength)
            continue;
        std::string path = std::string(dirPath) + "/" + entry->d_name;
        SysStatInfo info;
        if (SysStat(path.c_str(), &info) != 0) {
            int error = errno;
            SysCloseDir(dir);
            dir = nullptr;
            Trace(kSource, __LINE__, 0, "LogAge: stat(%s) failed: %s\n", path.c_str(), strerror(error));
            failed = true;
            break;
        }
        ++count;
        list = AddAgeEntry(path.c_str(), info.mtime, list);
    }
    if (dir)
        SysCloseDir(dir);
    if (!failed) {
        for (AgeEntry *entry = list; entry && count > minfiles && entry->mtime < limit; entry = entry->next) {
            SysDeleteFile(entry->path);
            Trace(kSource, __LINE__, -1, " %s deleted.\n", entry->path);
            --count;
        }
    }
    FreeAgeList(list);
}

int RotateThreadPasses()
{
    std::lock_guard<std::mutex> lock(gPassLock);
    return gPasses;
}

int WaitRotateThreadPasses(int count, int milliseconds)
{
    std::unique_lock<std::mutex> lock(gPassLock);
    gPassDone.wait_for(lock, std::chrono::milliseconds(milliseconds), [count] { return gPasses >= count; });
    return gPasses;
}
