// Trace parameters, trace.cfg and its re-read thread.
#include "trace/trace_params.h"

#include <strings.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "os/sysutil.h"
#include "trace/rotatethread.h"
#include "trace/trace.h"

namespace {

const char kSource[] = "trace_params";

const char *const kRollmodeNames[] = {"rollsize", "rolldate"};
const char *const kStampNames[] = {"datetime", "detailedtime"};
// Indexed by level + 2; "unknown" names level 5.
const char *const kLevelLetters[] = {"P", "A", "E", "W", "D", "C", "O", "unknown"};

// Every trace line reads several parameters, so each is atomic and read without a lock; they
// are written under one leaf lock that always exists (no window where a thread could use a
// deleted lock), which also keeps the lines of trace.cfg written from one consistent set.
std::atomic<int> gLevel{kTraceLevelDefault};
std::mutex gParamsLock;
std::atomic<int> gRollmode{kTraceRollmodeDate};
std::atomic<int> gRollhour{kTraceRollhourDefault};
std::atomic<uint32_t> gFilesize{kTraceFilesizeDefault};
std::atomic<int> gMinfiles{kTraceMinfilesDefault};
std::atomic<int> gMinage{kTraceMinageDefault};
std::atomic<int> gStamptype{kTraceStampDatetime};
std::atomic<int> gRotating{0};

// Re-read thread.
std::mutex gThreadLock;  // start and stop
SysHandle gConfigThread = nullptr;
SysHandle gConfigWake = nullptr;
std::atomic<int> gConfigStopped{0};
std::string gConfigDir;

template <typename T>
T ReadParam(const std::atomic<T> &value)
{
    return value.load(std::memory_order_relaxed);
}

// Swaps in the new value; 1 when it differs from the old one.
template <typename T>
int SwapParam(std::atomic<T> &field, T value)
{
    std::lock_guard<std::mutex> lock(gParamsLock);
    return field.exchange(value, std::memory_order_relaxed) != value;
}

std::string ConfigPath(const char *directory)
{
    std::string path = directory ? directory : "";
    path += "/trace.cfg";
    return path;
}

// A decimal int at the start of the text; 0 when there is none.
int ScanInt(const char *text, int *value)
{
    return sscanf(text, "%d", value) == 1;
}

void ConfigThread(void *)
{
    while (!gConfigStopped.load()) {
        ReadTraceConfig(gConfigDir.c_str());
        if (gConfigStopped.load())
            break;
        SysWaitEvent(gConfigWake, 600000);
    }
}

}  // namespace

int GetTraceLevel()
{
    return gLevel.load(std::memory_order_relaxed);
}
void SetTraceLevel(int level)
{
    gLevel.store(level, std::memory_order_relaxed);
}

const char *TraceLevelLetterOf(int level)
{
    if (level < -2 || level > 5)
        return "unknown";
    return kLevelLetters[level + 2];
}

const char *GetTraceLevelName()
{
    return TraceLevelLetterOf(GetTraceLevel());
}

int IsTraceRotating()
{
    return ReadParam(gRotating);
}
void SetTraceRotating(int flag)
{
    SwapParam(gRotating, flag);
}

int GetTraceRollhour()
{
    return ReadParam(gRollhour);
}
int IsTraceRollhourDefault()
{
    return GetTraceRollhour() == kTraceRollhourDefault;
}

void SetTraceRollhour(int hours)
{
    if (!IsTraceRolldate()) {
        Trace(kSource, __LINE__, 0, "SetTraceRollhour ignored, rollmode is %s.\n", GetTraceRollmodeName());
        return;
    }
    // A rejected value is reported after the default is in place, like every setter's messages.
    int asked = hours;
    bool rejected = hours < 1 || hours > kTraceRollhourMax;
    if (rejected)
        hours = kTraceRollhourDefault;
    int changed = SwapParam(gRollhour, hours);
    if (rejected)
        Trace(kSource, __LINE__, 0, "illegal hours %d, set to %d\n", asked, kTraceRollhourDefault);
    if (changed)
        Trace(kSource, __LINE__, -1, "rollhour %d\n", hours);
}

uint32_t GetTraceFilesize()
{
    return ReadParam(gFilesize);
}

void SetTraceFilesize(uint32_t bytes)
{
    uint32_t asked = bytes;
    bool rejected = bytes < kTraceFilesizeMin;
    if (rejected)
        bytes = kTraceFilesizeDefault;
    int changed = SwapParam(gFilesize, bytes);
    if (rejected)
        Trace(kSource, __LINE__, 0, "filesize %ld too small (minimum %ld), reset to default %ld\n",
              static_cast<long>(asked), static_cast<long>(kTraceFilesizeMin),
              static_cast<long>(kTraceFilesizeDefault));
    if (changed)
        Trace(kSource, __LINE__, -1, "filesize %ld\n", static_cast<long>(bytes));
}

int GetTraceMinfiles()
{
    return ReadParam(gMinfiles);
}

void SetTraceMinfiles(int count)
{
    int asked = count;
    bool rejected = count < 0;
    if (rejected)
        count = kTraceMinfilesDefault;
    int changed = SwapParam(gMinfiles, count);
    if (rejected)
        Trace(kSource, __LINE__, 0, "illegal Minfiles %d, set to %d\n", asked, kTraceMinfilesDefault);
    if (!changed)
        return;
    if (count == 0) {
        Trace(kSource, __LINE__, -1, "No LogAge (Minfiles 0).\n");
    } else {
        Trace(kSource, __LINE__, -1, "Delete if there are more than %d files.\n", count);
        WakeRotateThread();
    }
}

int GetTraceMinage()
{
    return ReadParam(gMinage);
}

void SetTraceMinage(int days)
{
    int asked = days;
    bool rejected = days < 0;
    if (rejected)
        days = kTraceMinageDefault;
    int changed = SwapParam(gMinage, days);
    if (rejected)
        Trace(kSource, __LINE__, 0, "illegal minage %d, set to %d\n", asked, kTraceMinageDefault);
    if (changed && IsTraceRotating())
        Trace(kSource, __LINE__, -1, "Delete files older than %d days.\n", days);
}

int IsTraceRollMinutes()
{
    return 0;
}

int GetTraceRollmode()
{
    return ReadParam(gRollmode);
}
const char *GetTraceRollmodeName()
{
    return kRollmodeNames[GetTraceRollmode() ? 1 : 0];
}
int IsTraceRolldate()
{
    return GetTraceRollmode() == kTraceRollmodeDate;
}

namespace {

// Index of the name in a two-name table (without regard to case); null or empty gives the
// default silently, another name the default and *rejected set.
int NamedValue(const char *name, const char *const names[2], int fallback, bool *rejected)
{
    *rejected = false;
    if (!name || !*name)
        return fallback;
    // The default's name is compared first, as the names have always been checked.
    for (int i : {fallback, 1 - fallback}) {
        if (strcasecmp(name, names[i]) == 0)
            return i;
    }
    *rejected = true;
    return fallback;
}

// Swaps in the value of a named parameter, then writes "unknown <what> %s, set to %s\n" for a
// rejected name and "<what> %s\n" for a change.
void SetNamedParam(std::atomic<int> &field, const char *name, const char *const names[2], int fallback,
                   const char *what)
{
    bool rejected;
    int value = NamedValue(name, names, fallback, &rejected);
    int changed = SwapParam(field, value);
    if (rejected)
        Trace(kSource, __LINE__, 0, "unknown %s %s, set to %s\n", what, name, names[fallback]);
    if (changed)
        Trace(kSource, __LINE__, -1, "%s %s\n", what, names[value]);
}

}  // namespace

void SetTraceRollmode(const char *name)
{
    SetNamedParam(gRollmode, name, kRollmodeNames, kTraceRollmodeDate, "rollmode");
}

int GetTraceStamptype()
{
    return ReadParam(gStamptype);
}
const char *GetTraceStamptypeName()
{
    return kStampNames[GetTraceStamptype() ? 1 : 0];
}
int IsTraceDatetime()
{
    return GetTraceStamptype() == kTraceStampDatetime;
}

void SetTraceStamptype(const char *name)
{
    SetNamedParam(gStamptype, name, kStampNames, kTraceStampDatetime, "stamptype");
}

void ResetTraceParams()
{
    gLevel.store(kTraceLevelDefault);
    std::lock_guard<std::mutex> lock(gParamsLock);
    gRollmode.store(kTraceRollmodeDate, std::memory_order_relaxed);
    gRollhour.store(kTraceRollhourDefault, std::memory_order_relaxed);
    gFilesize.store(kTraceFilesizeDefault, std::memory_order_relaxed);
    gMinfiles.store(kTraceMinfilesDefault, std::memory_order_relaxed);
    gMinage.store(kTraceMinageDefault, std::memory_order_relaxed);
    gStamptype.store(kTraceStampDatetime, std::memory_order_relaxed);
    gRotating.store(0, std::memory_order_relaxed);
}

void ParseTraceConfigLine(const char *line, char *key, size_t keySize, char *value, size_t valueSize)
{
    if (keySize)
        key[0] = '\0';
    if (valueSize)
        value[0] = '\0';
    if (!line)
        return;
    char *buffers[2] = {key, value};
    size_t sizes[2] = {keySize, valueSize};
    size_t lengths[2] = {0, 0};
    bool ended[2] = {false, false};
    int side = 0;
    for (const char *p = line; *p; ++p) {
        char c = *p;
        if (c == '#' || c == '\n' || c == '\r')
            break;
        if (c == '=') {
            if (side == 1)
                break;
            side = 1;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\v' || c == '\f') {
            if (lengths[side])
                ended[side] = true;
            continue;
        }
        // Only the first word of each side counts; the buffers keep their terminator.
        if (ended[side] || lengths[side] + 1 >= sizes[side])
            continue;
        buffers[side][lengths[side]++] = c;
        buffers[side][lengths[side]] = '\0';
    }
}

void ReadTraceConfig(const char *directory)
{
    std::string path = ConfigPath(directory);
    FILE *file = fopen(path.c_str(), "re");
    if (!file)
        return;
    char line[80];
    while (fgets(line, sizeof line, file)) {
        char key[80];
        char value[80];
        ParseTraceConfigLine(line, key, sizeof key, value, sizeof value);
        if (!key[0] || !value[0])
            continue;
        int number = 0;
        if (strcasecmp(key, "TraceLevel") == 0) {
            for (int i = 0; i < 7; ++i) {
                if (strcasecmp(value, kLevelLetters[i]) == 0) {
                    SetTraceLevel(i - 2);
                    break;
                }
            }
        } else if (strcasecmp(key, "TraceRollMode") == 0) {
            SetTraceRollmode(value);
        } else if (strcasecmp(key, "TraceStampType") == 0) {
            SetTraceStamptype(value);
        } else if (strcasecmp(key, "TraceRollHour") == 0) {
            if (ScanInt(value, &number))
                SetTraceRollhour(number);
        } else if (strcasecmp(key, "TraceMinAge") == 0) {
            if (ScanInt(value, &number))
                SetTraceMinage(number);
        } else if (strcasecmp(key, "TraceMinFiles") == 0) {
            if (ScanInt(value, &number))
                SetTraceMinfiles(number);
        } else if (strcasecmp(key, "TraceFilesize") == 0) {
            // A 32-bit count as the file has always held it: -1 stands for 4294967295; values
            // outside 32 bits are ignored rather than cut to some other size.
            long long size = 0;
            if (sscanf(value, "%lld", &size) == 1 && size >= INT32_MIN &&
                size <= static_cast<long long>(UINT32_MAX))
                SetTraceFilesize(static_cast<uint32_t>(size));
        }
    }
    fclose(file);
}

void WriteTraceConfig(const char *directory)
{
    std::string path = ConfigPath(directory);
    FILE *file = fopen(path.c_str(), "we");
    if (!file) {
        Trace(kSource, __LINE__, 0, "cannot write %s\n", path.c_str());
        return;
    }
    const char *letter = GetTraceLevelName();
    {
        std::lock_guard<std::mutex> lock(gParamsLock);
        fprintf(file, "TraceLevel=%s\n", letter);
        fprintf(file, "TraceFilesize=%ld bytes\n", static_cast<long>(ReadParam(gFilesize)));
        fprintf(file, "TraceMinAge=%ld days\n", static_cast<long>(ReadParam(gMinage)));
        fprintf(file, "TraceMinFiles=%ld\t# 0=switch off aging\n", static_cast<long>(ReadParam(gMinfiles)));
        const int rollmode = ReadParam(gRollmode);
        fprintf(file, "TraceRollMode=%s\t# %s or %s\n", kRollmodeNames[rollmode ? 1 : 0], "rollsize",
                "rolldate");
        if (rollmode == kTraceRollmodeDate)
            fprintf(file, "TraceRollHour=%d hours\t# 1 .. %d\n", ReadParam(gRollhour), kTraceRollhourMax);
        fprintf(file, "TraceStampType=%s\t# %s or %s\n", kStampNames[ReadParam(gStamptype) ? 1 : 0],
                "datetime", "detailedtime");
    }
    if (fclose(file) != 0)
        Trace(kSource, __LINE__, 0, "cannot write %s\n", path.c_str());
}

void StartTraceConfigThread(const char *directory)
{
    std::lock_guard<std::mutex> lock(gThreadLock);
    if (gConfigWake || gConfigThread)
        return;
    gConfigStopped.store(0);
    gConfigDir = directory ? directory : "";
    gConfigWake = SysCreateEvent(0, 0);
    if (!gConfigWake)
        return;
    gConfigThread = SysStartThread(ConfigThread, 0, nullptr, 0);
    if (!gConfigThread) {
        SysCloseEvent(gConfigWake);
        gConfigWake = nullptr;
    }
}

void StopTraceConfigThread()
{
    std::lock_guard<std::mutex> lock(gThreadLock);
    gConfigStopped.store(1);
    if (gConfigWake)
        SysSetEvent(gConfigWake);
    if (gConfigThread) {
        SysWaitHandle(gConfigThread, SYS_INFINITE);
        SysCloseHandle(gConfigThread);
        gConfigThread = nullptr;
    }
    if (gConfigWake) {
        SysCloseEvent(gConfigWake);
        gConfigWake = nullptr;
    }
}

int IsTraceConfigStopped()
{
    return gConfigStopped.load();
}
void SetTraceConfigStopped(int flag)
{
    gConfigStopped.store(flag);
}

void LockTraceParams()
{
    gParamsLock.lock();
}
void UnlockTraceParams()
{
    gParamsLock.unlock();
}
