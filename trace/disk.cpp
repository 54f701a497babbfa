// Trace file Disk.
#include "trace/disk.h"

#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>

#include "os/sysutil.h"
#include "trace/trace_params.h"

Disk::Disk()
    : File(stdout),
      Size(0),
      RPlus(0),
      Blocked(0),
      Binary(0),
      Reserve(0),
      Console(stdout),
      ErrorCallback(nullptr)
{
}

Disk::~Disk() = default;

void Disk::Close()
{
    if (File) {
        fflush(File);
        if (File != Console)
            fclose(File);
    }
    File = Console;
}

int Disk::PutString(const char *text)
{
    if (!text) {
        fprintf(Console, "Disk::PutString: illegal parameter NULL!\n");
        return 3;
    }
    if (!*text)
        return 4;
    return Disk::PutBlock(text, static_cast<uint32_t>(strlen(text)));
}

int Disk::PutBlock(const void *data, uint32_t length)
{
    if (!data) {
        fprintf(Console, "Disk::PutBlock: illegal parameter NULL!\n");
        return 3;
    }
    if (!File) {
        fprintf(Console, "Disk::PutBlock: no filehandle!\n");
        return 3;
    }
    if (length == 0)
        return 4;
    if (IsTraceRotating()) {
        // 64-bit sums: a large reserve or block must not wrap round past the limit.
        uint64_t limit = GetTraceFilesize();
        if (uint64_t(length) + Reserve > limit)
            return 3;
        if (uint64_t(Size) + length + Reserve > limit)
            return 1;
    }
    if (Blocked && Size % length != 0) {
        uint32_t torn = Size % length;
        const char *record = nullptr;
        uint32_t recordLength = 0;
        if (!ErrorCallback)
            return 3;
        ErrorCallback(&record, &recordLength);
        if (!record || recordLength != length)
            return 3;
        // Cut the torn tail off the file itself: a seek alone does not move the writes of a
        // stream opened for appending.
        fflush(File);
        if (ftruncate(fileno(File), static_cast<off_t>(Size - torn)) != 0)
            return 1;
        fseek(File, 0, SEEK_END);
        Size -= torn;
        Size += static_cast<uint32_t>(fwrite(record, 1, recordLength, File));
    }
    if (RPlus)
        fseek(File, 0, SEEK_END);
    // The stream is locked once for the write, its flush (the one write of the block) and the
    // error check.
    flockfile(File);
    Size += static_cast<uint32_t>(fwrite_unlocked(data, 1, length, File));
    // A write or flush error is only the result: the caller sends the text elsewhere.
    int failed = fflush_unlocked(File) != 0 || ferror_unlocked(File);
    if (failed)
        clearerr_unlocked(File);
    funlockfile(File);
    return failed ? 1 : 0;
}

int Disk::SetHeader(const char *)
{
    return 3;
}
void Disk::SetOpenCallback(TraceCallback) {}
void Disk::SetRotateCallback(TraceCallback) {}
void Disk::SetErrorCallback(DiskErrorCallback callback)
{
    ErrorCallback = callback;
}
void Disk::SetPrintSettings(int) {}

int Disk::OpenWithMode(const char *path, const char *mode, int append, const char *who)
{
    if (File && File != Console)
        fclose(File);
    File = nullptr;
    FILE *file = nullptr;
    if (RPlus) {
        if (append)
            file = fopen(path, mode);
        if (!file) {
            FILE *created = fopen(path, "we");
            if (created) {
                fclose(created);
                file = fopen(path, mode);
            }
        }
    } else {
        file = fopen(path, mode);
    }
    if (!file) {
        fprintf(Console, "%s(%s) %s\n", who, path, strerror(errno));
        return 7;
    }
    File = file;
    SysStatInfo info;
    if (SysStat(path, &info) == 0) {
        Size = static_cast<uint32_t>(info.size);
    } else {
        fseek(file, 0, SEEK_END);
        long end = ftell(file);
        Size = end > 0 ? static_cast<uint32_t>(end) : 0;
    }
    return 0;
}

int Disk::Open(const char *path, int append, int binary, int rplus)
{
    RPlus = rplus;
    Binary = binary;
    char mode[8];
    // "e": the descriptor is not inherited by child processes.
    snprintf(mode, sizeof mode, "%s%se", rplus ? "r+" : (append ? "a" : "w"), binary ? "b" : "");
    return OpenWithMode(path, mode, append, "Disk::Open");
}

int Disk::ReOpen(const char *path)
{
    char mode[8];
    // Close-on-exec as in Open: a rotated file is not inherited by child processes either.
    snprintf(mode, sizeof mode, "%s%se", RPlus ? "r+" : "w", Binary ? "b" : "");
    return OpenWithMode(path, mode, 0, "Disk::ReOpen");
}

int Disk::GetSize(uint32_t *size)
{
    if (!File || fseek(File, 0, SEEK_END) != 0)
        return 3;
    long end = ftell(File);
    if (end < 0)
        return 3;
    if (size)
        *size = static_cast<uint32_t>(end);
    return 0;
}

int Disk::ReadAt(void *buffer, long offset, size_t length)
{
    assert(buffer && "block");
    if (!buffer || !File || fseek(File, offset, SEEK_SET) != 0)
        return 3;
    size_t got = fread(buffer, 1, length, File);
    // A stream opened only for writing refuses the read; that must not fail the next write.
    clearerr(File);
    // Later writes of a "w" stream must land at the end, not where the read stopped.
    fseek(File, 0, SEEK_END);
    return got == length || length == 0 ? 0 : 3;
}
