#include "mailtrack/jobfiles.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "os/textcopy.h"
#include "trace/fileutil.h"
#include "xdr/alpha.h"
#include "xdr/lists.h"
#include "xdr/xdrresult.h"

namespace {

constexpr int kPieceBytes = 1024;
constexpr int kLogLinesPerCall = 10;
constexpr int kMaxPages = 1000;
constexpr int kMaxVariant = 16;

// A file an export writes: closed on every way out, and removed unless the export kept it.
class ExportFile {
public:
    ExportFile(const char *path, const char *mode) : path_(path), file_(fopen(path, mode)) {}
    ExportFile(const ExportFile &) = delete;
    ExportFile &operator=(const ExportFile &) = delete;
    ~ExportFile()
    {
        if (file_ != nullptr)
            Finish(false);
    }

    FILE *get() const { return file_; }

    // Flushes and closes the file; false when either reports an error. The file stays only when
    // `keep` is set and it was written out.
    bool Finish(bool keep)
    {
        bool ok = fflush(file_) == 0 && !ferror(file_);
        if (fclose(file_) != 0)
            ok = false;
        file_ = nullptr;
        if (!keep || !ok)
            remove(path_);
        return ok;
    }

private:
    const char *path_;
    FILE *file_;
};

// A file an import reads, closed when it goes out of scope.
struct FileCloser {
    void operator()(FILE *file) const { fclose(file); }
};
using InputFile = std::unique_ptr<FILE, FileCloser>;

// The flag words of the pages (at most 1000) in a page list.
int PageCount(const page_list &pages)
{
    if (pages.count < 0)
        return 0;
    return pages.count < kMaxPages ? pages.count : kMaxPages;
}

// Copies one variant of one page into the open file, 1024 bytes per call: JOB_DONE,
// JOB_SERVER_FAILED (no reply), JOB_NOT_FOUND or JOB_WRITE_ERROR.
int FetchVariant(CLIENT *client, const char *user, int32_t job, int16_t kind, int16_t page, int16_t variant,
                 FILE *file)
{
    int32_t offset = 0;
    for (;;) {
        pageb_req request;
        memset(&request, 0, sizeof request);
        TextCopy(request.user, user);
        request.kind = kind;
        request.job = job;
        request.page = page;
        request.variant = variant;
        request.offset = offset;
        request.max_bytes = kPieceBytes;
        tela::XdrResult piece(a_get_pageb_1(&request, client), xdr_pageb_res);
        if (!piece)
            return JOB_SERVER_FAILED;
        if (!piece->found)
            return JOB_NOT_FOUND;
        u_int n = piece->count > 0 ? static_cast<u_int>(piece->count) : 0;
        if (n > piece->data.blob_len)
            n = piece->data.blob_len;
        if (n == 0)
            return JOB_DONE;
        // The offset is 32 bits on the wire: a server that sends more than that can address is
        // refused rather than asked again at a wrapped offset.
        if (n > static_cast<u_int>(INT32_MAX - offset))
            return JOB_SERVER_FAILED;
        if (fwrite(piece->data.blob_val, 1, n, file) != n)
            return JOB_WRITE_ERROR;
        offset += static_cast<int32_t>(n);
    }
}

}  // namespace

int ExportLog(CLIENT *client, const char *user, int32_t job, int16_t kind, const char *language,
              const char *path)
{
    ExportFile out(path, "w");
    FILE *file = out.get();
    if (file == nullptr) {
        remove(path);
        return 0;
    }
    int result = 0;
    int32_t firstLine = 0;
    long lines = 0;
    long bytes = 0;
    for (;;) {
        log_req request;
        memset(&request, 0, sizeof request);
        TextCopy(request.user, user);
        request.kind = kind;
        request.job = job;
        request.first_line = firstLine;
        request.max_lines = kLogLinesPerCall;
        TextCopy(request.language, language);
        // An answer of more lines than the export keeps in all fails here, as it would below,
        // before its lines take memory: its presence units all come ahead of the texts.
        tela::XdrResult reply(
            [&] {
                tela::ListNodeCeiling ceiling(EXPORT_LOG_MAX_LINES);
                return a_get_log_1(&request, client);
            }(),
            xdr_log_res);
        if (!reply || !reply->ok)
            break;
        const int32_t nextLine = reply->next_line;
        bool any = false;
        bool tooMuch = false;
        for (const text_line *line = reply->lines; line != nullptr; line = line->next) {
            any = true;
            size_t n = strnlen(line->text, sizeof line->text);
            fwrite(line->text, 1, n, file);
            fputc('\n', file);
            bytes += static_cast<long>(n) + 1;
            if (++lines > EXPORT_LOG_MAX_LINES || bytes > EXPORT_LOG_MAX_BYTES) {
                tooMuch = true;
                break;
            }
        }
        if (ferror(file) || tooMuch)
            break;
        if (!any) {
            result = 1;
            break;
        }
        // A server whose next batch does not start behind this one would be asked for ever.
        if (nextLine <= firstLine)
            break;
        firstLine = nextLine;
    }
    if (!out.Finish(result != 0))
        result = 0;
    return result;
}

int ExportDocs(CLIENT *client, const char *user, int32_t job, int16_t kind, int firstPage, int lastPage,
               const char *path)
{
    ExportFile out(path, "w");
    if (out.get() == nullptr) {
        remove(path);
        return 0;
    }
    int result = 0;
    job_key key;
    memset(&key, 0, sizeof key);
    TextCopy(key.user, user);
    key.kind = kind;
    key.job = job;
    tela::XdrResult pages(a_get_pages_1(&key, client), xdr_page_list);
    if (pages) {
        result = 1;
        const int count = PageCount(*pages);
        for (int page = firstPage < 1 ? 1 : firstPage; result && page <= lastPage && page <= count; ++page) {
            const int32_t flags = pages->variants[page - 1];
            int16_t variant;
            if (flags & 0x10)
                variant = 4;
            else if (flags & 0x40)
                variant = 6;
            else
                continue;
            if (FetchVariant(client, user, job, kind, static_cast<int16_t>(page), variant, out.get()) !=
                JOB_DONE)
                result = 0;
        }
        pages.Reset();
    }
    if (!out.Finish(result != 0))
        result = 0;
    return result;
}

int ExportPart(CLIENT *client, const char *user, int32_t job, int16_t kind, int16_t page, int16_t variant,
               const char *path)
{
    ExportFile out(path, "wb");
    if (out.get() == nullptr)
        return JOB_CANNOT_CREATE;
    int result = FetchVariant(client, user, job, kind, page, variant, out.get());
    if (!out.Finish(result == JOB_DONE) && result == JOB_DONE)
        result = JOB_FLUSH_ERROR;
    return result;
}

int ExportJob(CLIENT *client, const char *user, int32_t job, int16_t kind, const char *base, int *files)
{
    *files = 0;
    job_key key;
    memset(&key, 0, sizeof key);
    TextCopy(key.user, user);
    key.kind = kind;
    key.job = job;
    tela::XdrResult pages(a_get_pages_1(&key, client), xdr_page_list);
    if (!pages)
        return JOB_SERVER_FAILED;
    if (pages->count == 0)
        return JOB_NOT_FOUND;
    const int count = PageCount(*pages);
    const std::string prefix = base != nullptr ? base : "";
    for (int page = 1; page <= count; ++page) {
        for (int variant = 0; variant <= kMaxVariant; ++variant) {
            if (!(pages->variants[page - 1] & (1 << variant)))
                continue;
            std::string name = prefix + "." + std::to_string(page) + IndexLetter(variant);
            int r = ExportPart(client, user, job, kind, static_cast<int16_t>(page),
                               static_cast<int16_t>(variant), name.c_str());
            if (r == JOB_DONE)
                ++*files;
            else if (r == JOB_NOT_FOUND)
                fprintf(stderr, "warning: %s not found\n", name.c_str());
            else
                return r;
        }
    }
    std::string logName = prefix + ".log";
    if (ExportLog(client, user, job, kind, "", logName.c_str()))
        ++*files;
    else
        fprintf(stderr, "warning: %s not found\n", logName.c_str());
    std::string infName = prefix + ".inf";
    int flag = 0;
    WriteLongFile(infName.c_str(), pages->variants, static_cast<int16_t>(count), &flag);
    if (flag)
        ++*files;
    else
        fprintf(stderr, "warning: %s not found\n", infName.c_str());
    return JOB_DONE;
}

int ImportPart(CLIENT *client, const char *user, int32_t job, int16_t page, int16_t variant, const char *path)
{
    InputFile in(fopen(path, "rb"));
    FILE *file = in.get();
    if (file == nullptr)
        return JOB_CANNOT_OPEN;
    int result = JOB_DONE;
    int32_t offset = 0;
    char data[kPieceBytes];
    for (;;) {
        size_t n = fread(data, 1, sizeof data, file);
        if (n == 0)
            break;
        pageb_rec record;
        memset(&record, 0, sizeof record);
        TextCopy(record.user, user);
        record.job = job;
        record.page = page;
        record.variant = variant;
        record.offset = offset;
        record.count = static_cast<int32_t>(n);
        record.data.blob_len = static_cast<u_int>(n);
        record.data.blob_val = data;
        bool_t *stored = a_put_pageb_1(&record, client);
        if (stored == nullptr || !*stored) {
            result = JOB_SERVER_FAILED;
            break;
        }
        offset += static_cast<int32_t>(n);
    }
    return result;
}

int ImportLog(CLIENT *client, const char *user, int32_t job, const char *path)
{
    InputFile in(fopen(path, "r"));
    FILE *file = in.get();
    if (file == nullptr)
        return JOB_CANNOT_OPEN;
    int result = JOB_DONE;
    char line[1024];
    while (fgets(line, sizeof line, file) != nullptr) {
        size_t n = strlen(line);
        if (n > 0 && line[n - 1] == '\n')
            line[--n] = '\0';
        log_line_rec record;
        memset(&record, 0, sizeof record);
        TextCopy(record.user, user);
        record.kind = 2;
        record.job = job;
        record.line.blob_len = static_cast<u_int>(n + 1);
        record.line.blob_val = line;
        bool_t *stored = a_put_log_1(&record, client);
        if (stored == nullptr || !*stored) {
            result = JOB_SERVER_FAILED;
            break;
        }
    }
    return result;
}

namespace {

struct DirCloser {
    void operator()(FileDir *dir) const { DirClose(dir); }
};
using DirHolder = std::unique_ptr<FileDir, DirCloser>;

// One file of the job into job `newJob`: "<base>.log" the log, "<base>.<page><letter>" a page's
// variant. false (nothing sent) for another extension; else *result is the import's result.
bool ImportFile(CLIENT *client, const char *user, int32_t newJob, const std::string &path,
                const std::string &extension, int *result)
{
    if (extension == "log") {
        *result = ImportLog(client, user, newJob, path.c_str());
        return true;
    }
    // A page number of any length and the variant's letter; what follows is not looked at.
    int page = 0;
    char letter = 0;
    if (sscanf(extension.c_str(), "%d%c", &page, &letter) != 2)
        return false;
    *result = ImportPart(client, user, newJob, static_cast<int16_t>(page), static_cast<int16_t>(letter - 'a'),
                         path.c_str());
    return true;
}

}  // namespace

int ImportJob(CLIENT *client, const char *user, const char *path, int verbose, int32_t *job, int *files)
{
    *files = 0;
    if (user == nullptr || user[0] == '\0')
        return JOB_NO_USER;
    std::string copy = path != nullptr ? path : "";
    for (char &c : copy)
        if (c == '\\')
            c = '/';
    std::string directory = ".";
    std::string base = copy;
    size_t slash = copy.rfind('/');
    if (slash != std::string::npos) {
        directory = copy.substr(0, slash);
        base = copy.substr(slash + 1);
    }
    DirHolder dir(DirOpen(directory.c_str()));
    if (verbose) {
        printf("opendir %s\n", directory.c_str());
        printf("basename %s\n", base.c_str());
    }
    // DirOpen shows a missing directory as an empty listing; the import wants to know.
    struct stat st;
    if (!dir || stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return JOB_CANNOT_OPEN;
    bool created = false;
    int32_t newJob = 0;
    while (FileDirEntry *entry = DirRead(dir.get())) {
        std::string name = entry->d_name;
        size_t dot = name.rfind('.');
        if (name == "." || name == ".." || dot == std::string::npos || name.compare(0, dot, base) != 0 ||
            dot != base.size())
            continue;
        if (!created) {
            char userField[11];
            TextCopy(userField, user);
            int *made = a_create_job_1(userField, client);
            if (made == nullptr || *made == 0)
                return JOB_SERVER_FAILED;
            created = true;
            newJob = *made;
            if (job != nullptr)
                *job = newJob;
        }
        int r;
        if (!ImportFile(client, user, newJob, directory + "/" + name, name.substr(dot + 1), &r))
            continue;
        if (r == JOB_DONE)
            ++*files;
        else
            fprintf(stderr, "warning: cannot import %s, ec = %d\n", name.c_str(), r);
    }
    return JOB_DONE;
}

bool JobAnyDocFlag(const int32_t *flags, int count)
{
    for (int i = 0; i < count; ++i)
        if (flags[i] & 0x50)
            return true;
    return false;
}
