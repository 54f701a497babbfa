#include "trace/fileutil.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

FileDir *DirOpen(const char *path)
{
    return SysOpenDir(path);
}

FileDirEntry *DirRead(FileDir *dir)
{
    return SysReadDir(dir);
}

long DirTell(FileDir *dir)
{
    return dir == nullptr ? -1 : dir->count;
}

void DirRewind(FileDir *dir)
{
    SysRewindDir(dir);
}

void DirSeek(FileDir *dir, long position)
{
    DirRewind(dir);
    for (long i = 0; i < position; ++i)
        if (DirRead(dir) == nullptr)
            break;
}

int DirClose(FileDir *dir)
{
    return SysCloseDir(dir);
}

char IndexLetter(int n)
{
    return static_cast<char>('a' + n);
}

namespace {
struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using FileHolder = std::unique_ptr<FILE, FileCloser>;

// An open descriptor, closed on every way out. Close reports what close(2) says, for writers
// that must know whether their data reached the file.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }

    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    int Close()
    {
        int result = close(fd_);
        fd_ = -1;
        return result;
    }
    int Release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Writes all of `length` bytes to a descriptor; false on any failure or short write.
bool WriteAll(int fd, const void *data, size_t length)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Opens path for writing as fopen (stream null) or freopen would with mode, except that a file
// that does not exist yet is created with mode 0600 rather than 0666 less the umask. On failure
// a given stream is closed, as a failed freopen closes it, and errno tells why.
FILE *OpenForWriting(const char *path, const char *mode, FILE *stream)
{
    Descriptor fd(open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600));
    FILE *opened = nullptr;
    if (fd.ok() && stream != nullptr) {
        // The file exists now, so reopening the stream on it keeps its mode.
        opened = freopen(path, mode, stream);
        stream = nullptr;
    } else if (fd.ok()) {
        opened = fdopen(fd.get(), mode);
        if (opened != nullptr)
            fd.Release();
    }
    int saved = errno;
    if (fd.ok())
        fd.Close();
    if (stream != nullptr)
        fclose(stream);
    errno = saved;
    return opened;
}

constexpr size_t kMaxOpenPath = 255;
}  // namespace

void ReadLongFile(const char *path, int32_t *values, int16_t *count)
{
    *count = 0;
    FileHolder f(fopen(path, "rb"));
    if (!f)
        return;
    int n = 0;
    while (n < kLongFileMax) {
        unsigned char b[4];
        size_t got = fread(b, 1, 4, f.get());
        if (got == 0)
            break;
        if (got < 4) {  // the file ends inside a value
            *count = 0;
            return;
        }
        values[n++] = static_cast<int32_t>((uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) |
                                           (uint32_t{b[2]} << 8) | uint32_t{b[3]});
    }
    *count = static_cast<int16_t>(n);
}

void WriteLongFile(const char *path, const int32_t *values, int16_t count, int *flag)
{
    int removed = 0;
    FileRemove(path, &removed);
    Descriptor fd(open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600));
    *flag = fd.ok();
    if (!fd.ok())
        return;
    for (int i = 0; i < count; ++i) {
        uint32_t v = static_cast<uint32_t>(values[i]);
        unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
        if (!WriteAll(fd.get(), b, 4))
            *flag = 0;
    }
    if (fd.Close() != 0)
        *flag = 0;
}

int FileStat(const char *path, struct stat *status)
{
    return stat(path, status);
}

int FileAppendBytes(const char *path, size_t length, const void *data, int *flag)
{
    *flag = 0;
    Descriptor fd(open(path, O_WRONLY | O_APPEND | O_CREAT, 0600));
    if (!fd.ok())
        return fd.get();
    *flag = WriteAll(fd.get(), data, length) ? 1 : 0;
    return fd.Close();
}

void FileClose(FILE **stream)
{
    if (*stream != nullptr)
        fclose(*stream);
    *stream = nullptr;
}

void PipeClose(FILE **stream, int, int, int *flag)
{
    *flag = 1;
    if (*stream != nullptr && pclose(*stream) != 0)
        *flag = 0;
    *stream = nullptr;
}

void FileCopy(const char *source, const char *target, int *flag)
{
    *flag = 0;
    Descriptor in(open(source, O_RDONLY));
    if (!in.ok())
        return;
    Descriptor out(open(target, O_WRONLY | O_CREAT | O_TRUNC, 0600));
    if (!out.ok())
        return;
    bool ok = true;
    char block[8192];
    for (;;) {
        ssize_t n = read(in.get(), block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (!WriteAll(out.get(), block, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    in.Close();
    if (out.Close() != 0)
        ok = false;
    *flag = ok ? 1 : 0;
}

int FileReplace(const char *source, const char *target)
{
    // rename(2) replaces the target in one step, so a failed replace leaves the old target.
    if (rename(source, target) != 0) {
        fprintf(stderr, "can't rename %s to %s, errno=%d\n", source, target, errno);
        return 0;
    }
    return 1;
}

int FileLink(const char *existing, const char *newPath, int *flag)
{
    *flag = link(existing, newPath) == 0 ? 1 : 0;
    return *flag;
}

int PipeOpen(FILE **stream, const char *command, int write, int *flag)
{
    *stream = popen(command, write ? "w" : "r");
    *flag = *stream != nullptr;
    return *flag;
}

static int OpenStream(FILE **stream, const char *path, bool write, int *flag)
{
    *flag = 0;
    if (path == nullptr || strlen(path) > kMaxOpenPath) {
        // A cut path would name another file: refuse it. A stream given in the variable is
        // closed, as a failed reopen would have done.
        FileClose(stream);
        return 0;
    }
    if (write)
        *stream = OpenForWriting(path, "w", *stream);
    else if (*stream != nullptr)
        *stream = freopen(path, "rb", *stream);
    else
        *stream = fopen(path, "rb");
    *flag = *stream != nullptr;
    return *flag;
}

int FileOpenRead(FILE **stream, const char *path, int *flag)
{
    return OpenStream(stream, path, false, flag);
}

int FileOpenWrite(FILE **stream, const char *path, int *flag)
{
    return OpenStream(stream, path, true, flag);
}

void FileRename(const char *source, const char *target, int *flag)
{
    *flag = rename(source, target) == 0 ? 1 : 0;
}

void FileReadAt(const char *path, int64_t offset, size_t length, void *buffer, size_t *count, int *flag)
{
    *count = 0;
    *flag = 0;
    if (length == 0) {
        struct stat st;
        if (FileStat(path, &st) == 0) {
            *count = static_cast<size_t>(st.st_size);
            *flag = 1;
        }
        return;
    }
    Descriptor fd(open(path, O_RDONLY));
    if (!fd.ok() || lseek(fd.get(), static_cast<off_t>(offset), SEEK_SET) < 0)
        return;
    char *p = static_cast<char *>(buffer);
    while (*count < length) {
        ssize_t n = read(fd.get(), p + *count, length - *count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        *count += static_cast<size_t>(n);
    }
    *flag = 1;
}

void FileReadAll(const char *path, size_t *size, char **buffer, int *flag)
{
    *size = 0;
    *buffer = nullptr;
    *flag = 0;
    struct stat st;
    if (FileStat(path, &st) != 0)
        return;
    size_t want = static_cast<size_t>(st.st_size);
    char *data = static_cast<char *>(malloc(want > 0 ? want : 1));
    if (data == nullptr)
        return;
    size_t got = 0;
    int ok = 1;
    // Length 0 would ask FileReadAt for the size again, which may have grown since: an empty
    // file reads as empty, and never more than the block is reported.
    if (want > 0)
        FileReadAt(path, 0, want, data, &got, &ok);
    if (!ok) {
        free(data);
        return;
    }
    *size = got;
    *buffer = data;
    *flag = 1;
}

void FileRemove(const char *path, int *flag)
{
    *flag = (unlink(path) == 0 || errno == ENOENT) ? 1 : 0;
}

int FileSeek(FILE *stream, int64_t offset)
{
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0 ? 1 : 0;
}

int64_t FileTell(FILE *stream)
{
    return static_cast<int64_t>(ftello(stream));
}

void FileWriteAt(const char *path, int64_t offset, size_t length, const void *data, int *flag)
{
    *flag = 0;
    Descriptor fd(offset == 0 ? open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600) : open(path, O_WRONLY));
    if (!fd.ok() || (offset != 0 && lseek(fd.get(), static_cast<off_t>(offset), SEEK_SET) < 0))
        return;
    bool ok = WriteAll(fd.get(), data, length);
    if (fd.Close() != 0)
        ok = false;
    *flag = ok ? 1 : 0;
}

void FileWriteNew(const char *path, size_t length, const void *data, int *flag)
{
    FileWriteAt(path, 0, length, data, flag);
}

int FileCopyStream(const char *source, const char *target)
{
    FileHolder in(fopen(source, "rb"));
    if (!in)
        return -1;
    FileHolder out(OpenForWriting(target, "wb", nullptr));
    if (!out) {
        int saved = errno;
        in.reset();
        errno = saved;
        return -1;
    }
    std::unique_ptr<char[]> block(new char[32768]);
    constexpr size_t kBlock = 32768;
    int result = 0;
    int saved = 0;
    for (;;) {
        size_t n = fread(block.get(), 1, kBlock, in.get());
        if (n > 0 && fwrite(block.get(), 1, n, out.get()) != n) {
            result = -1;
            saved = errno;
            break;
        }
        if (n < kBlock) {
            if (ferror(in.get())) {
                result = -1;
                saved = errno;
            }
            break;
        }
    }
    if (result == 0 && (fflush(out.get()) != 0 || ferror(out.get()))) {
        result = -1;
        saved = errno;
    }
    in.reset();
    if (fclose(out.release()) != 0 && result == 0) {
        result = -1;
        saved = errno;
    }
    if (result != 0)
        errno = saved;
    return result;
}

int FileRenamePlain(const char *source, const char *target)
{
    return rename(source, target);
}

int FileWritable(const char *path)
{
    return access(path, W_OK) == 0 ? 1 : 0;
}

int FileUnlink(const char *path)
{
    return unlink(path);
}

int FileDeleteShell(const char *path)
{
    // The path is passed to unlink(2) as it is: no command interpreter ever sees it.
    return unlink(path) == 0 ? 0 : -1;
}

int FileIsOpen(FILE **stream)
{
    return *stream != nullptr ? 1 : 0;
}
