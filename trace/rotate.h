// Rotating trace file: dated files "<FileDir>/<Name>-YYYYMMDD-HHMMSS[_n].<ext>", a fixed name
// "<Dir>/<Name>" hard-linked to the current one, a header, settings lines and (detailed time
// stamps) a date banner at the top of each file, and a move to a new file when the current one is
// full or a roll period ends. Blocks that arrive while a rotation is pending are copied and
// written after it. In data mode binary blocks are carried instead of trace lines.
//
// Lock order: FlagLock before FileLock, both after the trace lock and the global rotate and
// rotate-list locks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "trace/disk.h"

// Room of Current and LastName: a 260-character path plus the suffix a counter can add.
constexpr size_t kRotatePathSize = 288;
constexpr uint32_t kRotateReserve = 240;

// A text of the object's own: a copy, freed when it is replaced and when its owner goes.
class OwnedText {
public:
    OwnedText() = default;
    OwnedText(const OwnedText &) = delete;
    OwnedText &operator=(const OwnedText &) = delete;
    ~OwnedText() { std::free(text_); }

    // Replaces the text by a copy of `text` (no text for nullptr); false when the copy fails.
    bool Set(const char *text)
    {
        char *copy = text ? strdup(text) : nullptr;
        std::free(text_);
        text_ = copy;
        return copy != nullptr || text == nullptr;
    }
    void Swap(OwnedText &other) { std::swap(text_, other.text_); }
    const char *get() const { return text_; }
    explicit operator bool() const { return text_ != nullptr; }

private:
    char *text_ = nullptr;
};

struct PendingBlock {
    PendingBlock *next;
    uint32_t length;
    char *data;
};

class Rotate : public Disk {
public:
    Rotate();
    ~Rotate() override;

    void Close() override;
    int PutString(const char *text) override;
    int PutBlock(const void *data, uint32_t length) override;
    int SetHeader(const char *text) override;
    void SetOpenCallback(TraceCallback callback) override { OpenCallback = callback; }
    void SetRotateCallback(TraceCallback callback) override { RotateCallback = callback; }
    void SetPrintSettings(int flag) override { PrintSettings = flag; }

    // 0, 3 (names set already, too long, header set or too long), 6 out of memory.
    int Init(const char *directory, const char *name, const char *header, int printSettings,
             const char *fileDirectory);
    int InitData(const char *directory, const char *name, const char *extension, const char *fileDirectory);
    int InitNames(const char *directory, const char *name, const char *fileDirectory);

    // appendValue 0 new file, 1 append to the linked file, 3 reuse today's newest file.
    int OpenTraceFile(int appendValue, int rplus);
    int ReopenTraceFile();
    int RotateFile();
    void DoRotate();
    void RotateNow();
    int FindLatest();
    int MakeNewName();
    int PutHeader();
    int PutSettings();
    // The banner "%02d.%02d.%04d " and 39 asterisks (detailedtime) or an empty text.
    char *DateBanner(char *buffer, size_t size);
    // One aging pass over the file directory (rotation thread).
    void LogAge();

    void SetRotateFlag(int flag);
    // Sets RotateFlag and returns true when blocks wait without a rotation being marked (they
    // arrived after this object's rotation in a pass that was still under way).
    bool MarkIfHeldBack();
    void SetRefreshDate(int flag);
    void SetIndex(int index) { Index = index; }
    void LockFlags() { FlagLock.lock(); }
    void UnlockFlags() { FlagLock.unlock(); }
    void LockFile() { FileLock.lock(); }
    void UnlockFile() { FileLock.unlock(); }
    void CreateLocks() {}
    void DeleteLocks() {}

    const char *GetName() const { return Name ? Name.get() : "logbuch"; }
    const char *GetDir() const { return Dir ? Dir.get() : "."; }
    const char *GetFileDir() const { return FileDir ? FileDir.get() : "."; }

    int Index;
    OwnedText Name;
    OwnedText FileDir;
    OwnedText FilePath;
    OwnedText Dir;
    OwnedText LinkPath;
    OwnedText Header;
    char Current[kRotatePathSize];
    int SameSecondCount;
    char LastName[kRotatePathSize];
    TraceCallback OpenCallback;
    int PrintSettings;
    int DataMode;
    char Ext[12];
    int RotateFlag;
    int RefreshFlag;
    PendingBlock *Pending;
    PendingBlock *PendingTail;
    std::recursive_mutex FlagLock;
    std::recursive_mutex FileLock;
    TraceCallback RotateCallback;

private:
    // Both under FileLock. Queue returns 0 when the copy was made, else 1. WritePending moves on
    // to new files when the blocks do not fit and returns how many rotations that took.
    int QueueBlock(const void *data, uint32_t length);
    int WritePending();
    // RotateCallback once for each of the rotations, with no lock of the object held.
    void CallRotateCallback(int rotations);
    int PutLocated(int line, const char *text);
    void RequestRotation();
    void Unlink();
    void Link();
    int PutTopLines(int appendValue, int withTracefile);
};

// New rotating trace file, initialised, opened and registered; nullptr on failure.
Rotate *CreateRotate(const char *directory, const char *name, const char *header, int printSettings,
                     int appendValue, int rplus, const char *fileDirectory);
Rotate *CreateRotateData(const char *directory, const char *name, const char *extension, int appendValue,
                         int rplus, const char *fileDirectory);

// Process-wide roll-period check: the first call stores the period index of the local time and
// gives 0; later calls give 1 when the index changed (and store it).
int IsRollDue();
void InitTimeStampLock();
void ExitTimeStampLock();
void LockTimeStamp();
void UnlockTimeStamp();
// Forgets the stored period index (tests).
void ResetRollDue();
