// File utilities of the support library: a directory stream with a position that counts entries,
// the letter of a numbered part, files of 32-bit big-endian integers, and file operations that
// report success through an int flag (1 done, 0 failed). New files get mode 0600.
//
// None of these functions takes a C library name: the directory stream is Dir*, not opendir and
// friends, so the system's own functions stay untouched for every library in the process.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "os/sysutil.h"

// Directory stream: the OS layer's listing (SysOpenDir) with a position that counts entries.
// DirOpen does not look at the directory yet: a missing directory shows as an empty listing.
// Returns null only when out of memory. "." and ".." are entries like any other.
using FileDir = SysDir;
using FileDirEntry = SysDirEntry;  // d_name valid until the next read, seek, rewind or close

[[nodiscard]] FileDir *DirOpen(const char *path);
// The next entry, or null at the end (and for a null stream). Each entry returned counts one.
FileDirEntry *DirRead(FileDir *dir);
// The count of entries returned so far; -1 for a null stream.
long DirTell(FileDir *dir);
// Rewinds, then reads `position` entries, so the next DirRead gives entry number position+1.
void DirSeek(FileDir *dir, long position);
// Ends a running listing; the count becomes 0. Nothing for a null stream.
void DirRewind(FileDir *dir);
// Releases the stream: 0; -1 for a null stream.
int DirClose(FileDir *dir);

// 'a' + n: 0 gives 'a', 16 gives 'q'.
char IndexLetter(int n);

// Integer files: each value as four bytes, most significant first, nothing else.
constexpr int kLongFileMax = 1000;
// Reads at most 1000 values into `values` (room for 1000). `count` is 0 for a missing or empty
// file and for a length that is not a multiple of four.
void ReadLongFile(const char *path, int32_t *values, int16_t *count);
// Replaces the file by the first `count` values; flag 0 when it could not be created or a write
// failed.
void WriteLongFile(const char *path, const int32_t *values, int16_t count, int *flag);

// The file status of the path: 0, or -1 with errno set.
int FileStat(const char *path, struct stat *status);
// Appends the bytes, creating the file when missing; flag 1 when all bytes were written. Returns
// the result of closing the file (0), or -1 when it did not open.
int FileAppendBytes(const char *path, size_t length, const void *data, int *flag);
// Closes the stream when there is one and sets the variable to null.
void FileClose(FILE **stream);
// flag 1 when there was no stream or pclose gave 0; the variable becomes null. The two middle
// arguments are not used.
void PipeClose(FILE **stream, int unused1, int unused2, int *flag);
// Copies source to target (created or truncated); flag 1 only when both opened and every byte
// was read and written.
void FileCopy(const char *source, const char *target, int *flag);
// Renames source onto target, replacing it atomically (the target is never lost); returns the
// flag. A failure prints "can't rename %s to %s, errno=%d\n" on the standard error.
int FileReplace(const char *source, const char *target);
// Hard link; returns the flag too.
int FileLink(const char *existing, const char *newPath, int *flag);
// Starts the command with a pipe for writing (`write` set) or reading; returns the flag too.
int PipeOpen(FILE **stream, const char *command, int write, int *flag);
// Opens the path for reading in binary mode, reopening the stream in the variable when there is
// one. A path longer than 255 characters is refused (flag 0). Returns the flag too.
int FileOpenRead(FILE **stream, const char *path, int *flag);
// The same for writing ("w").
int FileOpenWrite(FILE **stream, const char *path, int *flag);
void FileRename(const char *source, const char *target, int *flag);
// Length 0: `count` is the file's size, flag 1 when known (the file is not opened). Otherwise reads
// up to `length` bytes from `offset` (seek failure: flag 0); `count` is the bytes read, flag 1.
void FileReadAt(const char *path, int64_t offset, size_t length, void *buffer, size_t *count, int *flag);
// The whole file, as large as it was when looked at, in a new buffer (free it with free()); the
// size never exceeds the buffer's. On failure the outputs are null and 0.
void FileReadAll(const char *path, size_t *size, char **buffer, int *flag);
// flag 1 when the file was removed or did not exist.
void FileRemove(const char *path, int *flag);
// Moves to the offset from the start: 1 on success, else 0.
int FileSeek(FILE *stream, int64_t offset);
int64_t FileTell(FILE *stream);
// Offset 0: creates or truncates the file; otherwise opens the existing file and seeks. flag 1
// when all bytes were written.
void FileWriteAt(const char *path, int64_t offset, size_t length, const void *data, int *flag);
// Creates or truncates the file and writes the data; flag 1 when all bytes were written.
void FileWriteNew(const char *path, size_t length, const void *data, int *flag);
// Buffered copy: 0, or -1 when a file does not open, a write is short or the target reports an
// error at the final flush; errno of the failure survives the closing of the streams.
int FileCopyStream(const char *source, const char *target);
// rename's result (0 or -1).
int FileRenamePlain(const char *source, const char *target);
// 1 when the path may be written, else 0.
int FileWritable(const char *path);
// unlink's result (0 or -1).
int FileUnlink(const char *path);
// Deletes the file directly, without a command interpreter: 0, or -1 when it was not deleted.
int FileDeleteShell(const char *path);
// 1 when the variable holds a stream.
int FileIsOpen(FILE **stream);
