// Installation environment: bin directory, environment files, PATH and program starts.
#include "os/cfenv.h"
#include "os/cfenv_testing.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "os/sysutil.h"
#include "os/sysutil_internal.h"
#include "os/textcopy.h"

extern char **environ;

namespace {

int SystemPut(const char *name, const char *value)
{
    return setenv(name, value, 1);
}

EnvPutter envPutter = SystemPut;

// Puts name=value into the environment; an empty value removes the variable instead (see
// SetEnv). 0, or -1 with errno set (ENOMEM: out of memory).
int PutVariable(const char *name, const char *value)
{
    if (!value || !*value)
        return unsetenv(name);
    return envPutter(name, value);
}

// Nice values of the high and the normal priority class of SpawnDetached.
constexpr int kHighPriorityNice = -10;
constexpr int kNormalPriorityNice = 0;

bool Exists(const std::string &path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

void Slashes(std::string &text)
{
    for (char &c : text)
        if (c == '\\')
            c = '/';
}

// Cuts text at its last "/"; false (text unchanged) when there is none.
bool CutAtLastSlash(std::string &text)
{
    size_t slash = text.rfind('/');
    if (slash == std::string::npos)
        return false;
    text.erase(slash);
    return true;
}

bool EndsWith(const std::string &text, const char *tail)
{
    size_t n = strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// Replaces a last path component "/from" with "/to".
void ReplaceLast(std::string &text, const char *from, const char *to)
{
    if (EndsWith(text, from))
        text.replace(text.size() - strlen(from), strlen(from), to);
}

char *DupOrAbort(const std::string &text, const char *what)
{
    char *copy = strdup(text.c_str());
    if (!copy) {
        perror(what);
        abort();
    }
    return copy;
}

size_t CountEntries(EnvFile file)
{
    size_t n = 0;
    if (file)
        while (file[n])
            ++n;
    return n;
}

// "?" expanded with faxroot.
std::string Expand(const char *text, const char *faxroot)
{
    std::string out;
    for (const char *p = text; *p; ++p) {
        if (*p == '?')
            out += faxroot;
        else
            out += *p;
    }
    return out;
}

}  // namespace

void ToSlashes(char *text)
{
    if (!text)
        return;
    for (char *p = text; *p; ++p)
        if (*p == '\\')
            *p = '/';
}

const char *NextListElement(const char *list, char *out, size_t outSize)
{
    const char *colon = list ? strchr(list, ':') : nullptr;
    if (!colon) {
        TextCopy(out, outSize, list ? list : "");
        return nullptr;
    }
    TextCopy(out, outSize, std::string(list, static_cast<size_t>(colon - list)));
    return colon + 1;
}

void FindInPath(const char *file, const char *variable, char *out, size_t outSize)
{
    TextCopy(out, outSize, "");
    if (!file || !*file)
        return;
    if (Exists(file)) {
        TextCopy(out, outSize, file);
        return;
    }
    const char *list = variable ? getenv(variable) : nullptr;
    std::vector<char> element(ENV_MAX_PATH);
    while (list) {
        list = NextListElement(list, element.data(), element.size());
        if (element[0] == '\0')
            continue;
        std::string candidate = std::string(element.data()) + "/" + file;
        if (candidate.size() + 1 > outSize)
            continue;  // would not fit the output
        Slashes(candidate);
        if (Exists(candidate)) {
            TextCopy(out, outSize, candidate);
            return;
        }
    }
}

void BinDirFromProgram(const char *program, char *out, size_t outSize)
{
    std::string name = program ? program : "";
    std::vector<char> found(ENV_MAX_PATH);
    FindInPath(name.c_str(), "PATH", found.data(), found.size());
    std::string dir = found.data();
    Slashes(dir);
    if (!CutAtLastSlash(dir)) {
        dir = name;
        Slashes(dir);
        if (!CutAtLastSlash(dir)) {
            std::error_code ec;
            std::string cwd = std::filesystem::current_path(ec).string();
            dir = cwd + "/" + name;
            Slashes(dir);
            CutAtLastSlash(dir);
        }
    }
    ReplaceLast(dir, "/lambda", "/bin");
    ReplaceLast(dir, "/cmdline", "/bin");
    ReplaceLast(dir, "/etc", "/bin");
    if (EndsWith(dir, "/smtp") || EndsWith(dir, "/sapconnect")) {
        CutAtLastSlash(dir);
        ReplaceLast(dir, "/gateway", "/bin");
    }
    TextCopy(out, outSize, dir);
}

int SetEnv(const char *name, const char *value)
{
    if (!name || !*name || strchr(name, '=')) {
        errno = EINVAL;
        return -1;
    }
    // As on the product's first platform, an empty value removes the variable: an entry
    // "RPCTRANSPORT=" must leave the transport's default in force, not an empty name.
    int result = PutVariable(name, value);
    // Out of memory is reported, and like any failure it gives -1: the variable is not set.
    if (result != 0 && errno == ENOMEM) {
        perror("SetEnv");
        errno = ENOMEM;
    }
    return result;
}

EnvFile ReadEnvFile(const char *path)
{
    FILE *f = path ? fopen(path, "r") : nullptr;
    if (!f)
        return nullptr;
    std::vector<char *> lines;
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, f)) >= 0) {
        if (line[0] == '#')
            continue;
        // Only the line end goes: "\n" or "\r\n". A last line without one stays whole.
        if (length > 0 && line[length - 1] == '\n') {
            line[--length] = '\0';
            if (length > 0 && line[length - 1] == '\r')
                line[--length] = '\0';
        }
        lines.push_back(DupOrAbort(std::string(line, static_cast<size_t>(length)), "ReadEnvFile()"));
    }
    free(line);
    fclose(f);
    auto file = static_cast<EnvFile>(malloc((lines.size() + 1) * sizeof(char *)));
    if (!file) {
        perror("ReadEnvFile");
        abort();
    }
    for (size_t i = 0; i < lines.size(); ++i)
        file[i] = lines[i];
    file[lines.size()] = nullptr;
    return file;
}

void SetEnvFile(EnvFile file)
{
    if (!file)
        return;
    // The file's FAXROOT wins over an inherited one; it is taken as it is.
    if (const char *faxroot = GetEnvFileValue(file, "FAXROOT"))
        SetEnv("FAXROOT", faxroot);
    for (size_t i = 0; file[i]; ++i) {
        const char *eq = strchr(file[i], '=');
        if (!eq || eq == file[i])
            continue;  // no name: cannot go into the environment
        std::string name(file[i], static_cast<size_t>(eq - file[i]));
        if (getenv(name.c_str()))
            continue;  // inherited values win
        const char *faxroot = getenv("FAXROOT");
        if (!faxroot)
            continue;  // without a known FAXROOT no entry is applied
        std::string expanded = Expand(file[i], faxroot);
        size_t split = expanded.find('=');
        if (split == 0 || split == std::string::npos)
            continue;
        if (PutVariable(expanded.substr(0, split).c_str(), expanded.c_str() + split + 1) != 0 &&
            errno == ENOMEM) {
            perror("SetEnvFile()");
            abort();
        }
    }
}

int LoadEnvFile(const char *path)
{
    EnvFile file = ReadEnvFile(path);
    if (!file)
        return 0;
    SetEnvFile(file);
    FreeEnvFile(file);
    return 1;
}

void FreeEnvFile(EnvFile file)
{
    if (!file)
        return;
    for (size_t i = 0; file[i]; ++i)
        free(file[i]);
    free(file);
}

int FindEnvFileEntry(EnvFile file, const char *name)
{
    if (!file || !name)
        return 0;
    size_t n = strlen(name);
    int i = 0;
    for (; file[i]; ++i)
        if (strncmp(file[i], name, n) == 0 && file[i][n] == '=')
            return i;
    return -i;
}

char *GetEnvFileValue(EnvFile file, const char *name)
{
    int index = FindEnvFileEntry(file, name);
    if (!file || index < 0 || !file[index])
        return nullptr;
    // FindEnvFileEntry gives 0 for an empty file too: check the match itself.
    size_t n = strlen(name);
    if (strncmp(file[index], name, n) != 0 || file[index][n] != '=')
        return nullptr;
    return file[index] + n + 1;
}

EnvFile SetEnvFileValue(EnvFile file, const char *name, const char *value)
{
    if (!name)
        return file;
    char *text = DupOrAbort(std::string(name) + "=" + (value ? value : ""), "SetEnvFileValue()");
    if (GetEnvFileValue(file, name)) {
        int index = FindEnvFileEntry(file, name);
        free(file[index]);
        file[index] = text;
        return file;
    }
    size_t n = CountEntries(file);
    auto grown = static_cast<EnvFile>(realloc(file, (n + 2) * sizeof(char *)));
    if (!grown) {
        perror("SetEnvFileValue()");
        abort();
    }
    grown[n] = text;
    grown[n + 1] = nullptr;
    return grown;
}

int WriteEnvFile(const char *path, EnvFile file)
{
    FILE *f = path ? fopen(path, "w") : nullptr;
    if (!f)
        return 0;
    bool ok = true;
    for (size_t i = 0; file && file[i]; ++i)
        if (fprintf(f, "%s\n", file[i]) < 0)
            ok = false;
    if (fclose(f) != 0)
        ok = false;
    return ok ? 1 : 0;
}

const char *ExpandFaxroot(const char *text)
{
    thread_local std::string result;
    const char *faxroot = getenv("FAXROOT");
    if (!faxroot)
        result = "echo FAXROOT not set";
    else
        result = Expand(text ? text : "", faxroot);
    return result.c_str();
}

const char *QuoteString(const char *text)
{
    thread_local std::string result;
    result = std::string("\"") + (text ? text : "") + "\"";
    return result.c_str();
}

void InitEnv(int *, char **argv)
{
    const char *program = argv && argv[0] ? argv[0] : "";
    std::string bin;
    if (const char *faxroot = getenv("FAXROOT")) {
        bin = std::string(faxroot) + "/bin";
    } else {
        std::vector<char> dir(ENV_MAX_PATH);
        BinDirFromProgram(program, dir.data(), dir.size());
        bin = dir.data();
    }
    // ".." is taken away by text, so that the bin directory need not exist.
    std::string config = std::filesystem::path(bin + "/../etc/config").lexically_normal().string();
    if (!LoadEnvFile(config.c_str())) {
        fputs("config not found!!\n", stderr);
        exit(1);
    }

    const char *faxroot = getenv("FAXROOT");
    const char *path = getenv("PATH");
    std::string newPath;
    if (faxroot)
        newPath = std::string(faxroot) + "/bin";
    if (path) {
        if (!newPath.empty())
            newPath += ":";
        newPath += path;
    }
    Slashes(newPath);
    if (faxroot || path)
        SetEnv("PATH", newPath.c_str());

    if (argv && argv[0])
        ToSlashes(argv[0]);
}

EnvPutter SetEnvPutter(EnvPutter putter)
{
    EnvPutter before = envPutter;
    envPutter = putter ? putter : SystemPut;
    return before;
}

char **GetEnvBlock()
{
    return environ;
}

int SpawnAndWait(const char *program, char *const argv[])
{
    if (!program)
        return -1;
    char *const fallback[] = {const_cast<char *>(program), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv ? argv : fallback, environ) != 0)
        return -1;
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

void SpawnAndExit(const char *program, char *const argv[])
{
    int code = SpawnAndWait(program, argv);
    if (code != -1)
        exit(code);
}

int SpawnDetached(const char *program, char *const argv[])
{
    if (!program)
        return 0;
    char *const fallback[] = {const_cast<char *>(program), nullptr};
    pid_t pid;
    if (!tela::sysutil_internal::StartChild(program, argv ? argv : fallback, &pid))
        return 0;
    // A start at high priority: 100 ms after the start the program is raised, 100 ms later set
    // back to normal. Raising needs the privilege to; without it setpriority refuses and the
    // program simply runs on as it is. The child is reaped only afterwards, so that its process
    // id cannot name another process meanwhile.
    SysSleep(100);
    setpriority(PRIO_PROCESS, static_cast<id_t>(pid), kHighPriorityNice);
    SysSleep(100);
    setpriority(PRIO_PROCESS, static_cast<id_t>(pid), kNormalPriorityNice);
    tela::sysutil_internal::ReapInBackground(pid);
    return 1;
}

void QuoteArgs(char **argv)
{
    if (!argv)
        return;
    for (size_t i = 0; argv[i]; ++i)
        argv[i] = DupOrAbort(QuoteString(argv[i]), "QuoteArgs");
}

void FreeArgs(char **argv)
{
    if (!argv)
        return;
    for (size_t i = 0; argv[i]; ++i)
        free(argv[i]);
}
