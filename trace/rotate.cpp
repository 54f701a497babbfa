// Rotating trace file Rotate and the roll-period check.
#include "trace/rotate.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "os/sysutil.h"
#include "trace/fileutil.h"
#include "trace/posixemu.h"
#include "trace/rotatethread.h"
#include "trace/trace.h"
#include "trace/trace_params.h"

namespace {

const char kSource[] = "rotate";

std::mutex gTimeStampLock;
// Period index of the last roll-period check; kNoRollIndex until the first. Atomic: every block
// written checks it.
constexpr long kNoRollIndex = LONG_MIN;
std::atomic<long> gRollIndex{kNoRollIndex};

// "<stem>-YYYYMMDD-HHMMSS[_n].<ext>" of the current local second; false when it does not fit.
bool DatedName(char *out, size_t size, const char *stem, int counter, const char *ext)
{
    SysTime t;
    SysLocalTime(&t);
    int n = counter ? snprintf(out, size, "%s-%04d%02d%02d-%02d%02d%02d_%d.%s", stem, t.year, t.month, t.day,
                               t.hour, t.minute, t.second, counter, ext)
                    : snprintf(out, size, "%s-%04d%02d%02d-%02d%02d%02d.%s", stem, t.year, t.month, t.day,
                               t.hour, t.minute, t.second, ext);
    return n > 0 && static_cast<size_t>(n) < size;
}

}  // namespace

Rotate::Rotate()
    : Index(0),
      Current{},
      SameSecondCount(0),
      LastName{},
      OpenCallback(nullptr),
      PrintSettings(1),
      DataMode(0),
      Ext{"log"},
      RotateFlag(0),
      RefreshFlag(0),
      Pending(nullptr),
      PendingTail(nullptr),
      RotateCallback(nullptr)
{
    SetTraceRotating(1);
}

Rotate::~Rotate()
{
    while (Pending) {
        PendingBlock *next = Pending->next;
        free(Pending->data);
        free(Pending);
        Pending = next;
    }
}

int Rotate::SetHeader(const char *text)
{
    OwnedText copy;
    if (!copy.Set(text) || !text)
        return 6;
    std::lock_guard<std::recursive_mutex> lock(FileLock);
    Header.Swap(copy);
    return 0;
}

void Rotate::SetRotateFlag(int flag)
{
    std::lock_guard<std::recursive_mutex> lock(FlagLock);
    RotateFlag = flag;
}

bool Rotate::MarkIfHeldBack()
{
    std::lock_guard<std::recursive_mutex> flags(FlagLock);
    std::lock_guard<std::recursive_mutex> file(FileLock);
    if (RotateFlag || !Pending)
        return false;
    RotateFlag = 1;
    return true;
}

void Rotate::SetRefreshDate(int flag)
{
    std::lock_guard<std::recursive_mutex> lock(FlagLock);
    RefreshFlag = flag;
}

int Rotate::InitNames(const char *directory, const char *name, const char *fileDirectory)
{
    if (Dir || Name || LinkPath || FileDir || FilePath)
        return 3;
    if (!Dir.Set(directory && *directory ? directory : ".") ||
        !FileDir.Set(fileDirectory && *fileDirectory ? fileDirectory : Dir.get()) ||
        !Name.Set(name && *name ? name : "logbuch"))
        return 6;
    char stamp[kTraceStampSize];
    size_t nameLength = strlen(Name.get());
    std::string link = std::string(Dir.get()) + "/" + Name.get();
    if (strlen(Dir.get()) + nameLength + 2 > 259) {
        fprintf(Console, "%s logname too long %s\n", TraceTimeStamp(stamp), link.c_str());
        fflush(Console);
        return 3;
    }
    LinkPath.Set(link.c_str());
    std::string stem = std::string(FileDir.get()) + "/" + Name.get();
    if (strlen(FileDir.get()) + nameLength + 2 > 232) {
        fprintf(Console, "%s logname too long %s\n", TraceTimeStamp(stamp), stem.c_str());
        fflush(Console);
        return 3;
    }
    FilePath.Set(stem.c_str());
    return LinkPath && FilePath ? 0 : 6;
}

int Rotate::Init(const char *directory, const char *name, const char *header, int printSettings,
                 const char *fileDirectory)
{
    PrintSettings = printSettings;
    int result = InitNames(directory, name, fileDirectory);
    if (result)
        return result;
    if (Header)
        return 3;
    if (header && *header) {
        if (2 * static_cast<uint64_t>(strlen(header)) > GetTraceFilesize())
            return 3;
        Header.Set(header);
    } else {
        std::string text = std::string(Name.get()) + "\n";
        Header.Set(text.c_str());
    }
    if (!Header)
        return 6;
    const char *configDir = directory ? directory : ".";
    ReadTraceConfig(configDir);
    WriteTraceConfig(configDir);
    CreateLocks();
    return 0;
}

int Rotate::InitData(const char *directory, const char *name, const char *extension,
                     const char *fileDirectory)
{
    PrintSettings = 0;
    DataMode = 1;
    int result = InitNames(directory, name, fileDirectory);
    if (result)
        return result;
    if (Header)
        return 3;
    if (extension && *extension)
        snprintf(Ext, sizeof Ext, "%.10s", extension);
    const char *configDir = directory ? directory : ".";
    ReadTraceConfig(configDir);
    WriteTraceConfig(configDir);
    CreateLocks();
    return 0;
}

int Rotate::PutLocated(int line, const char *text)
{
    char stamp[kTraceStampSize];
    char buffer[kTraceLineSize];
    TraceFormatLine(buffer, TraceTimeStamp(stamp), kSource, line, "A", "%s", text);
    return Disk::PutString(buffer);
}

void Rotate::Unlink()
{
    if (unlink(LinkPath.get()) != 0 && errno != ENOENT) {
        // The error's text is taken before the time stamp, which may change errno.
        const char *error = strerror(errno);
        char stamp[kTraceStampSize];
        const char *when = TraceTimeStamp(stamp);
        fprintf(Console, "%s unlink %s error %s\n", when, LinkPath.get(), error);
    }
}

void Rotate::Link()
{
    if (link(Current, LinkPath.get()) != 0) {
        const char *error = strerror(errno);
        char stamp[kTraceStampSize];
        const char *when = TraceTimeStamp(stamp);
        fprintf(Console, "%s link %s error %s\n", when, LinkPath.get(), error);
        fflush(Console);
    }
}

// Header, "tracefile" line, settings and banner, each only while the ones before gave 0.
int Rotate::PutTopLines(int, int withTracefile)
{
    Reserve = kRotateReserve;
    int result = PutHeader();
    if (result == 0 && withTracefile) {
        char line[128];
        snprintf(line, sizeof line, "tracefile %.85s\n", Current);
        result = Disk::PutString(line);
    }
    if (result == 0)
        result = PutSettings();
    if (result == 0 && !IsTraceDatetime()) {
        char banner[64];
        result = Disk::PutString(DateBanner(banner, sizeof banner));
    }
    return result;
}

int Rotate::OpenTraceFile(int appendValue, int rplus)
{
    if (!LinkPath) {
        char stamp[kTraceStampSize];
        fprintf(Console, "%s Init missing\n", TraceTimeStamp(stamp));
        return 3;
    }
    std::lock_guard<std::recursive_mutex> lock(FileLock);
    Disk::Close();
    int result = 0;
    bool opened = false;
    if (!IsTraceRotating()) {
        result = Disk::Open(LinkPath.get(), appendValue, DataMode, 0);
        if (result)
            return result;
        opened = true;
    } else if (appendValue) {
        result = 3;
        if (appendValue & 2) {
            if (FindLatest())
                result = Disk::Open(Current, 1, DataMode, rplus);
        } else {
            SysStatInfo info;
            if (SysStat(LinkPath.get(), &info) == 0)
                result = Disk::Open(LinkPath.get(), 1, DataMode, rplus);
        }
        if (result == 0 && !DataMode) {
            Reserve = kRotateReserve;
            result = PutLocated(__LINE__, "trace append\n");
        }
        opened = result == 0;
    }
    if (!opened) {
        Unlink();
        MakeNewName();
        result = Disk::Open(Current, appendValue, DataMode, rplus);
        if (result)
            return result;
        Link();
    }
    if (!DataMode) {
        result = PutTopLines(appendValue, !(appendValue & 1));
        if (result == 0 && OpenCallback)
            OpenCallback();
    }
    return result;
}

int Rotate::FindLatest()
{
    char now[kRotatePathSize];
    if (!DatedName(now, sizeof now, GetName(), 0, Ext))
        return 0;
    SysDir *dir = DirOpen(GetFileDir());
    if (!dir)
        return 0;
    size_t compare = strlen(GetName()) + 9;
    std::string best;
    while (SysDirEntry *entry = DirRead(dir)) {
        const char *name = entry->d_name;
        if (!name || strncmp(name, now, compare) != 0 || strlen(name) < compare)
            continue;
        const char *dot = strchr(name, '.');
        if (!dot || strcmp(dot + 1, Ext) != 0)
            continue;
        // Names whose path would not fit are passed over rather than cut.
        if (strlen(GetFileDir()) + 1 + strlen(name) >= sizeof Current)
            continue;
        if (best.empty() || strcmp(name, best.c_str()) > 0)
            best = name;
    }
    DirClose(dir);
    if (best.empty())
        return 0;
    snprintf(Current, sizeof Current, "%s/%s", GetFileDir(), best.c_str());
    snprintf(LastName, sizeof LastName, "%s", Current);
    SameSecondCount = 0;
    if (strcmp(best.c_str(), now) >= 0)
        SysSleep(1000);
    return 1;
}

int Rotate::MakeNewName()
{
    const char *stem = FilePath ? FilePath.get() : "./logbuch";
    DatedName(Current, sizeof Current, stem, 0, Ext);
    if (strcmp(Current, LastName) != 0) {
        SameSecondCount = 0;
        snprintf(LastName, sizeof LastName, "%s", Current);
    } else {
        ++SameSecondCount;
        DatedName(Current, sizeof Current, stem, SameSecondCount, Ext);
    }
    return 1;
}

int Rotate::PutHeader()
{
    if (!Header || DataMode)
        return 0;
    return Disk::PutString(Header.get());
}

int Rotate::PutSettings()
{
    if (!PrintSettings)
        return 0;
    char line[128];
    if (!IsTraceRotating())
        return Disk::PutString("No Rotate\n");
    snprintf(line, sizeof line, "Rollmode is %s, filesize is %ld\n", GetTraceRollmodeName(),
             static_cast<long>(GetTraceFilesize()));
    int result = Disk::PutString(line);
    if (result == 0 && IsTraceRolldate() && !IsTraceRollhourDefault()) {
        snprintf(line, sizeof line, "Rollhour is %d\n", GetTraceRollhour());
        result = Disk::PutString(line);
    }
    if (result == 0) {
        int minfiles = GetTraceMinfiles();
        if (minfiles) {
            snprintf(line, sizeof line, "Delete files older than %d days, keep %d files always.\n",
                     GetTraceMinage(), minfiles);
            result = Disk::PutString(line);
        } else {
            result = Disk::PutString("No LogAge\n");
        }
    }
    return result;
}

char *Rotate::DateBanner(char *buffer, size_t size)
{
    if (!buffer || !size)
        return buffer;
    buffer[0] = '\0';
    if (IsTraceDatetime())
        return buffer;
    SysTime t;
    SysLocalTime(&t);
    snprintf(buffer, size, "%02d.%02d.%04d %s\n", t.day, t.month, t.year,
             "***************************************");
    return buffer;
}

int Rotate::ReopenTraceFile()
{
    char stamp[kTraceStampSize];
    if (!LinkPath) {
        fprintf(Console, "%s Rotate::ReopenTraceFile: Init missing\n", TraceTimeStamp(stamp));
        return 3;
    }
    if (!IsTraceRotating()) {
        fprintf(Console, "%s Rotate::ReopenTraceFile: not in rotate mode!\n", TraceTimeStamp(stamp));
        return 3;
    }
    std::lock_guard<std::recursive_mutex> lock(FileLock);
    Disk::Close();
    Unlink();
    MakeNewName();
    int result = Disk::ReOpen(Current);
    if (result)
        return result;
    Link();
    if (!DataMode) {
        PutTopLines(0, 1);
        result = PutLocated(__LINE__, "trace reopen\n");
        if (OpenCallback)
            OpenCallback();
    }
    return result;
}

int Rotate::RotateFile()
{
    char stamp[kTraceStampSize];
    char line[kTraceLineSize];
    TraceFormatLine(line, TraceTimeStamp(stamp), kSource, __LINE__, "A", "trace rotate\n");
    {
        std::lock_guard<std::recursive_mutex> lock(FileLock);
        Reserve = 0;
        if (Disk::PutString(line) != 0) {
            fputs(line, Console);
            fflush(Console);
        }
    }
    return ReopenTraceFile();
}

int Rotate::WritePending()
{
    int rotations = 0;
    while (Pending) {
        PendingBlock *block = Pending;
        Pending = block->next;
        // More was held back than one file takes: move on to a new file rather than drop it.
        if (Disk::PutBlock(block->data, block->length) == 1 && IsTraceRotating() && LinkPath &&
            RotateFile() == 0) {
            ++rotations;
            Disk::PutBlock(block->data, block->length);
        }
        free(block->data);
        free(block);
    }
    PendingTail = nullptr;
    return rotations;
}

void Rotate::CallRotateCallback(int rotations)
{
    for (int i = 0; i < rotations && RotateCallback; ++i)
        RotateCallback();
}

void Rotate::DoRotate()
{
    if (RotateFile() == 0 && RotateCallback)
        RotateCallback();
    int rotations;
    {
        std::lock_guard<std::recursive_mutex> lock(FileLock);
        rotations = WritePending();
    }
    CallRotateCallback(rotations);
}

void Rotate::RotateNow()
{
    bool report = false;
    {
        std::lock_guard<std::recursive_mutex> lock(FlagLock);
        if (!RotateFlag) {
            RotateFlag = 1;
            report = true;
        }
    }
    if (report)
        Trace(kSource, __LINE__, 0, "RotateNow: RotateFlag not found\n");
    DoRotate();
    // Blocks queued after DoRotate wrote the pending ones, but before the flag is cleared, would
    // stay behind newer blocks: write them and clear the flag in one step under both locks.
    int rotations;
    {
        std::lock_guard<std::recursive_mutex> flags(FlagLock);
        std::lock_guard<std::recursive_mutex> file(FileLock);
        rotations = WritePending();
        RotateFlag = 0;
    }
    CallRotateCallback(rotations);
}

int Rotate::PutString(const char *text)
{
    if (DataMode)
        return 0;
    if (!text)
        return Disk::PutString(text);
    return PutBlock(text, static_cast<uint32_t>(strlen(text)));
}

int Rotate::QueueBlock(const void *data, uint32_t length)
{
    PendingBlock *block = static_cast<PendingBlock *>(malloc(sizeof(PendingBlock)));
    char *copy = static_cast<char *>(malloc(length));
    if (!block || !copy) {
        free(block);
        free(copy);
        return 1;
    }
    memcpy(copy, data, length);
    *block = {nullptr, length, copy};
    if (PendingTail)
        PendingTail->next = block;
    else
        Pending = block;
    PendingTail = block;
    return 0;
}

void Rotate::RequestRotation()
{
    if (GetRotateCount() > 1) {
        GlobalWantRotate(Index);
    } else {
        DoRotate();
        WakeRotateThread();
    }
}

int Rotate::PutBlock(const void *data, uint32_t length)
{
    if (!data || !length) {
        std::lock_guard<std::recursive_mutex> lock(FileLock);
        return Disk::PutBlock(data, length);
    }
    {
        std::lock_guard<std::recursive_mutex> flags(FlagLock);
        if (RotateFlag) {
            std::lock_guard<std::recursive_mutex> file(FileLock);
            QueueBlock(data, length);
            return 0;
        }
    }
    int due = IsRollDue();
    bool detailed = !DataMode && !IsTraceDatetime();
    if (due) {
        if (IsTraceRotating() && IsTraceRolldate()) {
            {
                std::lock_guard<std::recursive_mutex> file(FileLock);
                QueueBlock(data, length);
            }
            RequestRotation();
            return 0;
        }
        if (detailed)
            GlobalRefreshDate(Index);
    }
    int result = 0;
    if (detailed) {
        std::lock_guard<std::recursive_mutex> flags(FlagLock);
        if (RefreshFlag) {
            char banner[64];
            std::lock_guard<std::recursive_mutex> file(FileLock);
            result = Disk::PutString(DateBanner(banner, sizeof banner));
            RefreshFlag = 0;
        }
    }
    if (result == 0) {
        std::lock_guard<std::recursive_mutex> file(FileLock);
        result = Disk::PutBlock(data, length);
    }
    if (result == 1) {
        {
            std::lock_guard<std::recursive_mutex> file(FileLock);
            if (QueueBlock(data, length) == 0)
                result = 0;
        }
        RequestRotation();
        return result;
    }
    if (due)
        WakeRotateThread();
    return result;
}

void Rotate::Close()
{
    int rotations;
    {
        std::lock_guard<std::recursive_mutex> lock(FileLock);
        rotations = WritePending();
    }
    CallRotateCallback(rotations);
    DeleteLocks();
    std::lock_guard<std::recursive_mutex> lock(FileLock);
    Disk::Close();
}

namespace {

Rotate *Finish(Rotate *rotate, int result)
{
    if (result) {
        rotate->Close();
        delete rotate;
        return nullptr;
    }
    rotate->SetIndex(RegisterRotate(rotate));
    return rotate;
}

}  // namespace

Rotate *CreateRotate(const char *directory, const char *name, const char *header, int printSettings,
                     int appendValue, int rplus, const char *fileDirectory)
{
    Rotate *rotate = new (std::nothrow) Rotate;
    if (!rotate)
        return nullptr;
    int result = rotate->Init(directory, name, header, printSettings, fileDirectory);
    if (result == 0)
        result = rotate->OpenTraceFile(appendValue, rplus);
    return Finish(rotate, result);
}

Rotate *CreateRotateData(const char *directory, const char *name, const char *extension, int appendValue,
                         int rplus, const char *fileDirectory)
{
    Rotate *rotate = new (std::nothrow) Rotate;
    if (!rotate)
        return nullptr;
    int result = rotate->InitData(directory, name, extension, fileDirectory);
    if (result == 0)
        result = rotate->OpenTraceFile(appendValue, rplus);
    return Finish(rotate, result);
}

int IsRollDue()
{
    SysTime t;
    SysLocalTime(&t);
    int hours = GetTraceRollhour();
    if (hours < 1)
        hours = kTraceRollhourDefault;
    long index = ((((long)t.year * 12 + t.month - 1) * 31 + t.day - 1) * 24 + t.hour) / hours;
    // Only the caller that swaps a changed index in sees the period end; the first check of all
    // stores the index without one.
    long stored = gRollIndex.load(std::memory_order_relaxed);
    while (stored != index) {
        if (gRollIndex.compare_exchange_weak(stored, index, std::memory_order_relaxed))
            return stored == kNoRollIndex ? 0 : 1;
    }
    return 0;
}

void InitTimeStampLock() {}
void ExitTimeStampLock() {}
void LockTimeStamp()
{
    gTimeStampLock.lock();
}
void UnlockTimeStamp()
{
    gTimeStampLock.unlock();
}

void ResetRollDue()
{
    gRollIndex.store(kNoRollIndex, std::memory_order_relaxed);
}
