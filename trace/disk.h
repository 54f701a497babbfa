// The trace library's output file: one stdio stream with a running byte count, a size limit that
// applies while file rotation is active, fixed-length record files whose torn last record is
// repaired through a callback, and a console stream (the standard output) for its own messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Supplies the replacement of a torn record: a pointer to it (owned by the callback's side) and
// its length, which must equal the length of the block being written.
using DiskErrorCallback = void (*)(const char **record, uint32_t *length);
// Open and rotate notifications of a rotating file.
using TraceCallback = void (*)();

class Disk {
public:
    Disk();
    // Does not close the file: owners call Close first.
    virtual ~Disk();
    Disk(const Disk &) = delete;
    Disk &operator=(const Disk &) = delete;

    // Flushes; a file other than the console is closed and File becomes Console.
    virtual void Close();
    // NUL-terminated text: 3 for null (with a message), 4 for empty, else Disk::PutBlock's code.
    virtual int PutString(const char *text);
    // 0 written; 1 full (rotating only) or write/flush error (no message); 3 null data, no
    // stream or a block that can never fit; 4 zero length. Null data and a missing stream are
    // reported on the console for every block.
    virtual int PutBlock(const void *data, uint32_t length);
    // Not supported by a plain file: 3.
    virtual int SetHeader(const char *text);
    virtual void SetOpenCallback(TraceCallback callback);
    virtual void SetRotateCallback(TraceCallback callback);
    virtual void SetErrorCallback(DiskErrorCallback callback);
    virtual void SetPrintSettings(int flag);

    // 0, or 7 with "Disk::Open(%s) %s\n" on the console and File null. A file that is still
    // open is closed first.
    int Open(const char *path, int append, int binary, int rplus);
    // Opens a new file of a rotation with the object's RPlus and Binary: 0 or 7.
    int ReOpen(const char *path);
    // The file's size by its end position: 0, or 3 when it cannot be read.
    int GetSize(uint32_t *size);
    // Reads length bytes at offset into buffer (must not be null): 0, or 3 when the offset
    // cannot be reached. Writing goes on at the end of the file afterwards.
    int ReadAt(void *buffer, long offset, size_t length);
    void SetBlocked(int flag) { Blocked = flag; }
    void SetReserve(uint32_t bytes) { Reserve = bytes; }

    FILE *File;
    uint32_t Size;
    int RPlus;
    int Blocked;
    int Binary;
    uint32_t Reserve;
    FILE *Console;
    DiskErrorCallback ErrorCallback;

private:
    int OpenWithMode(const char *path, const char *mode, int append, const char *who);
};
