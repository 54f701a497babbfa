// Trace output, and opening and closing of the trace object.
#include "trace/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "os/sysutil.h"
#include "trace/eventlog.h"
#include "trace/rotate.h"
#include "trace/rotatethread.h"
#include "trace/trace_params.h"

namespace {

const char kSource[] = "trace";

// The trace lock always exists (recursive, so a callback of the trace object that traces cannot
// lock itself out); TraceInitLock and TraceDeleteLock only keep its bookkeeping.
std::recursive_mutex gTraceLock;
std::atomic<bool> gTraceLockMade{false};
Disk *gTraceObject = nullptr;
std::atomic<FILE *> gFallback{nullptr};

FILE *Fallback()
{
    FILE *stream = gFallback.load();
    return stream ? stream : stdout;
}

const char *BaseName(const char *file)
{
    const char *cut = strrchr(file, '\\');
    return cut ? cut + 1 : file;
}

// The prefix is in line already (prefixLength characters, cut to the buffer); the caller's text
// follows. Lines of 200 characters or more keep 200 and get a newline.
void FinishLine(char *line, size_t prefixLength, const char *format, va_list args)
{
    if (prefixLength > kTraceLineSize - 1)
        prefixLength = kTraceLineSize - 1;
    size_t total = prefixLength;
    if (format && *format) {
        int n = vsnprintf(line + prefixLength, kTraceLineSize - prefixLength, format, args);
        if (n > 0)
            total += static_cast<size_t>(n);
    } else {
        line[prefixLength] = '\0';
    }
    if (total >= kTraceLineSize - 2) {
        line[kTraceLineSize - 2] = '\n';
        line[kTraceLineSize - 1] = '\0';
    }
}

// Appends to a line as snprintf into the line buffer would: what goes beyond its 201
// characters is dropped. Returns the new length.
size_t Append(char *line, size_t length, const char *text, size_t textLength)
{
    size_t room = kTraceLineSize - 1 - length;
    size_t take = textLength < room ? textLength : room;
    memcpy(line + length, text, take);
    return length + take;
}

size_t AppendNumber(char *line, size_t length, int number)
{
    char digits[12];
    char *end = digits + sizeof digits;
    char *at = end;
    unsigned magnitude = number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
    do {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (number < 0)
        *--at = '-';
    return Append(line, length, at, static_cast<size_t>(end - at));
}

// "%s %s(%d):%s: " (stamp, file name cut after its last backslash, line, letter), or "%s %s: "
// without a file name, cut to the line buffer. Built piece by piece: this runs for every line.
size_t LocatedPrefix(char *line, const char *stamp, size_t stampLength, const char *file, int lineNo,
                     const char *letter)
{
    size_t n = Append(line, 0, stamp, stampLength);
    n = Append(line, n, " ", 1);
    if (file) {
        const char *base = BaseName(file);
        n = Append(line, n, base, strlen(base));
        n = Append(line, n, "(", 1);
        n = AppendNumber(line, n, lineNo);
        n = Append(line, n, "):", 2);
    }
    n = Append(line, n, letter, strlen(letter));
    n = Append(line, n, ": ", 2);
    line[n] = '\0';
    return n;
}

// The stamp text of the last second each thread stamped, with the fields and the stamp type it
// was made from: the text is made once a second, not once a line. For detailed time stamps it
// holds "HH:MM:SS." and the milliseconds are added to each line.
struct StampCache {
    SysTime time{};
    int datetime = -1;
    size_t length = 0;
    char text[kTraceStampSize] = {};
};
thread_local StampCache tStamp;

bool SameSecond(const SysTime &a, const SysTime &b)
{
    return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day &&
           a.month == b.month && a.year == b.year;
}

// Writes the stamp of now into buffer (kTraceStampSize bytes) and returns its length.
size_t MakeTimeStamp(char *buffer)
{
    SysTime now;
    SysLocalTime(&now);
    const int datetime = IsTraceDatetime();
    StampCache &cache = tStamp;
    if (cache.datetime != datetime || !SameSecond(cache.time, now)) {
        int n = datetime ? snprintf(cache.text, sizeof cache.text, "%2d.%2d.%02d %2d:%02d:%02d",
                                    now.day % 100, now.month % 100, now.year % 100, now.hour % 100,
                                    now.minute % 100, now.second % 100)
                         : snprintf(cache.text, sizeof cache.text, "%02d:%02d:%02d.", now.hour % 100,
                                    now.minute % 100, now.second % 100);
        cache.length = n > 0 ? static_cast<size_t>(n) : 0;
        cache.time = now;
        cache.datetime = datetime;
    }
    size_t length = cache.length;
    memcpy(buffer, cache.text, length);
    if (!datetime) {
        const unsigned ms = now.milliseconds % 1000u;
        buffer[length++] = static_cast<char>('0' + ms / 100);
        buffer[length++] = static_cast<char>('0' + ms / 10 % 10);
        buffer[length++] = static_cast<char>('0' + ms % 10);
    }
    buffer[length] = '\0';
    return length;
}

// OutputTraceLine with the trace lock held.
int OutputLocked(const char *line)
{
    int result = 0;
    if (gTraceObject)
        result = gTraceObject->PutString(line);
    if (!gTraceObject || (result != 0 && result != 4)) {
        FILE *stream = Fallback();
        fputs(line, stream);
        fflush(stream);
    }
    return result;
}

}  // namespace

const char *TraceLineLetter(int level)
{
    static const char *const letters[] = {"P", "A", "E", "W", "D", "C"};
    if (level < -2 || level > 3)
        return "unknown";
    return letters[level + 2];
}

char *TraceTimeStamp(char *buffer)
{
    if (!buffer)
        return nullptr;
    MakeTimeStamp(buffer);
    return buffer;
}

char *TraceFormatLine(char *line, const char *stamp, const char *file, int lineNo, const char *letter,
                      const char *format, ...)
{
    size_t prefix = LocatedPrefix(line, stamp, strlen(stamp), file, lineNo, letter);
    va_list args;
    va_start(args, format);
    FinishLine(line, prefix, format, args);
    va_end(args);
    return line;
}

void Trace(const char *file, int line, int level, const char *format, ...)
{
    if (level > GetTraceLevel())
        return;
    char stamp[kTraceStampSize];
    size_t stampLength = MakeTimeStamp(stamp);
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    char text[kTraceLineSize];
    size_t prefix = LocatedPrefix(text, stamp, stampLength, file, line, TraceLineLetter(level));
    va_list args;
    va_start(args, format);
    FinishLine(text, prefix, format, args);
    va_end(args);
    if (level == -2)
        EventLogError(text);
    OutputLocked(text);
}

void TraceNoLocation(const char *, int, int level, const char *format, ...)
{
    if (level > GetTraceLevel())
        return;
    char stamp[kTraceStampSize];
    size_t stampLength = MakeTimeStamp(stamp);
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    char text[kTraceLineSize];
    size_t prefix = Append(text, Append(text, 0, stamp, stampLength), " ", 1);
    text[prefix] = '\0';
    va_list args;
    va_start(args, format);
    FinishLine(text, prefix, format, args);
    va_end(args);
    if (level == -2)
        EventLogError(text);
    OutputLocked(text);
}

void TracePlain(const char *, int, int level, const char *format, ...)
{
    if (level > GetTraceLevel())
        return;
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    char text[kTraceLineSize];
    if (!format || !*format) {
        snprintf(text, sizeof text, "<<null>>\n");
    } else {
        va_list args;
        va_start(args, format);
        FinishLine(text, 0, format, args);
        va_end(args);
    }
    if (level == -2)
        EventLogError(text);
    OutputLocked(text);
}

int OutputTraceLine(const char *line)
{
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    return OutputLocked(line);
}

int TraceWriteBlock(const void *data, uint32_t length)
{
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    if (gTraceObject)
        return gTraceObject->PutBlock(data, length);
    if (data && length) {
        FILE *stream = Fallback();
        fwrite(data, 1, length, stream);
        fflush(stream);
    }
    return 0;
}

int TraceSetHeader(const char *text)
{
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    return gTraceObject ? gTraceObject->SetHeader(text) : 3;
}

namespace {

// Hands a setting to the installed object: 3 without one, else 0.
template <typename Setter>
int SetOnObject(Setter setter)
{
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    if (!gTraceObject)
        return 3;
    setter(gTraceObject);
    return 0;
}

}  // namespace

void TraceSetPrintSettings(int flag)
{
    SetOnObject([flag](Disk *object) { object->SetPrintSettings(flag); });
}

int TraceSetOpenCallback(TraceCallback callback)
{
    return SetOnObject([callback](Disk *object) { object->SetOpenCallback(callback); });
}

int TraceSetRotateCallback(TraceCallback callback)
{
    return SetOnObject([callback](Disk *object) { object->SetRotateCallback(callback); });
}

int TraceSetErrorCallback(DiskErrorCallback callback)
{
    return SetOnObject([callback](Disk *object) { object->SetErrorCallback(callback); });
}

uint32_t TraceGetSize()
{
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    uint32_t size = 0;
    if (!gTraceObject || gTraceObject->GetSize(&size) != 0)
        return 0;
    return size;
}

void *TraceReadBlock(void *buffer, long offset, size_t length)
{
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    if (!gTraceObject || !buffer || gTraceObject->ReadAt(buffer, offset, length) != 0)
        return nullptr;
    return buffer;
}

void LockTrace()
{
    gTraceLock.lock();
}
void UnlockTrace()
{
    gTraceLock.unlock();
}

int TraceInitLock()
{
    gTraceLockMade.store(true);
    return 0;
}

void TraceDeleteLock()
{
    gTraceLockMade.store(false);
}

int TraceFileMode(int mode, int *append, int *rotating, int *rplus)
{
    switch (mode) {
    case 0:
    case 1:
        return 0;
    case 2:
        *append = 1;
        return 0;
    case 3:
        *append = 3;
        *rotating = 1;
        return 0;
    case 4:
        *append = 1;
        *rotating = 1;
        *rplus = 1;
        return 0;
    case 5:
        *rotating = 1;
        return 0;
    default:
        return 3;
    }
}

Disk *TraceGetObject()
{
    return gTraceObject;
}

void TraceSetFallbackStream(FILE *stream)
{
    gFallback.store(stream);
}

namespace {

// An installed trace object is closed and released before another takes its place, so that
// neither it nor its file is left behind. A rotating object is used by the rotation and re-read
// threads without the trace lock: they are stopped first, as TraceClose does.
void ReleaseObject()
{
    if (!gTraceObject)
        return;
    if (dynamic_cast<Rotate *>(gTraceObject)) {
        StopRotateThread();
        StopTraceConfigThread();
    }
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    gTraceObject->Close();
    delete gTraceObject;
    gTraceObject = nullptr;
}

// Steps shared by the two open operations; `data` chooses the data-mode object and binary files.
int OpenObject(const char *directory, const char *name, const char *text, int fileMode, int flag, bool data)
{
    int append = 0;
    int rotating = 0;
    int rplus = 0;
    if (TraceFileMode(fileMode, &append, &rotating, &rplus) != 0) {
        printf("illegal filemode %d\n", fileMode);
        fflush(stdout);
        return 3;
    }
    TraceInitLock();
    ReleaseObject();
    int result = 0;
    if (rotating) {
        InitTimeStampLock();
        InitGlobalRotate();
        Rotate *rotate = data ? CreateRotateData(directory, name, text, append, rplus, nullptr)
                              : CreateRotate(directory, name, text, flag, append, rplus, nullptr);
        gTraceObject = rotate;
        if (!rotate) {
            result = 7;
        } else {
            StartTraceConfigThread(directory);
            StartRotateThread();
        }
    } else {
        SetTraceRotating(0);
        Disk *disk = new (std::nothrow) Disk;
        gTraceObject = disk;
        if (!disk)
            return 6;
        if (fileMode == 0) {
            disk->Close();
        } else {
            std::string path = directory ? directory : "";
            path += "/";
            path += name ? name : "";
            result = disk->Open(path.c_str(), append, data ? 1 : 0, rplus);
        }
    }
    if (data && gTraceObject)
        gTraceObject->SetBlocked(flag);
    return result;
}

}  // namespace

int TraceOpen(const char *directory, const char *name, const char *header, int fileMode, int printSettings)
{
    return OpenObject(directory, name, header, fileMode, printSettings, false);
}

int TraceOpenData(const char *directory, const char *name, const char *extension, int fileMode, int blocked)
{
    return OpenObject(directory, name, extension, fileMode, blocked, true);
}

int TraceOpenFile(const char *path, int append)
{
    if (!path) {
        std::lock_guard<std::recursive_mutex> lock(gTraceLock);
        if (gTraceObject)
            gTraceObject->Close();
        return 0;
    }
    ReleaseObject();
    SetTraceRotating(0);
    Disk *disk = new (std::nothrow) Disk;
    if (!disk)
        return 0;
    gTraceObject = disk;
    return disk->Open(path, append, 0, 0) == 0 ? 1 : 0;
}

void TraceCloseFile()
{
    Trace(kSource, __LINE__, -1, "trace closed\n");
    std::lock_guard<std::recursive_mutex> lock(gTraceLock);
    if (gTraceObject)
        gTraceObject->Close();
}

void TraceClose()
{
    StopRotateThread();
    StopTraceConfigThread();
    TraceCloseFile();
    ExitGlobalRotate();
    ExitTimeStampLock();
    {
        std::lock_guard<std::recursive_mutex> lock(gTraceLock);
        delete gTraceObject;
        gTraceObject = nullptr;
    }
    TraceDeleteLock();
    SysSleep(100);
}
