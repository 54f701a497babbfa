#include "os/cfenv.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "envguard.h"
#include "os/cfenv_testing.h"
#include "os/sysutil.h"
#include "testsupport.h"

using testsupport::EnvGuard;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::vector<std::string> Entries(EnvFile file)
{
    std::vector<std::string> out;
    for (size_t i = 0; file && file[i]; ++i)
        out.push_back(file[i]);
    return out;
}

void MakeDirs(const std::string &path)
{
    std::string sofar;
    for (size_t pos = 1; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        sofar = path.substr(0, pos);
        mkdir(sofar.c_str(), 0755);
    }
}

// Runs body in a child process (InitEnv ends the program and rewrites the environment).
// Returns the child's exit code.
int InChild(const std::function<void()> &body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        body();
        fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ReadEnvFile, LineEnds)
{
    TempDir dir("cfenv");
    struct Case {
        const char *content;
        std::vector<std::string> expect;
    } cases[] = {
        {"A=1\nB=2\n", {"A=1", "B=2"}},
        {"A=1\nALPHAHOST=alpha1", {"A=1", "ALPHAHOST=alpha1"}},  // last line without line end
        {"A=1\r\nB=2\r\n", {"A=1", "B=2"}},
        {"A=1\r\nB=x\r", {"A=1", "B=x\r"}},  // a lone CR is no line end
        {"# comment\nA=1\n#B=2\n", {"A=1"}},
        {"# only\n# comments", {}},
        {"", {}},
        {"\nA=\n", {"", "A="}},
        {" # not a comment\n", {" # not a comment"}},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        std::string path = dir.file("config" + std::to_string(i));
        WriteFile(path, cases[i].content);
        EnvFile file = ReadEnvFile(path.c_str());
        ASSERT_NE(file, nullptr) << "case " << i;
        EXPECT_EQ(Entries(file), cases[i].expect) << "case " << i;
        FreeEnvFile(file);
    }
}

TEST(ReadEnvFile, LongLinesStayWhole)
{
    TempDir dir("cfenv");
    std::string value(5000, 'v');
    WriteFile(dir.file("config"), "LONG=" + value + "\nNEXT=1\n");
    EnvFile file = ReadEnvFile(dir.file("config").c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Entries(file), (std::vector<std::string>{"LONG=" + value, "NEXT=1"}));
    FreeEnvFile(file);
}

TEST(ReadEnvFile, MissingFile)
{
    TempDir dir("cfenv");
    EXPECT_EQ(ReadEnvFile(dir.file("none").c_str()), nullptr);
    EXPECT_EQ(LoadEnvFile(dir.file("none").c_str()), 0);
}

TEST(EnvFileEdit, FindGetSetWrite)
{
    TempDir dir("cfenv");
    EnvFile file = nullptr;
    EXPECT_EQ(FindEnvFileEntry(file, "A"), 0);
    EXPECT_EQ(GetEnvFileValue(file, "A"), nullptr);
    file = SetEnvFileValue(file, "A", "1");  // no file yet: made
    file = SetEnvFileValue(file, "AB", "2");
    file = SetEnvFileValue(file, "C", "x=y");
    EXPECT_EQ(Entries(file), (std::vector<std::string>{"A=1", "AB=2", "C=x=y"}));
    EXPECT_EQ(FindEnvFileEntry(file, "AB"), 1);
    EXPECT_EQ(FindEnvFileEntry(file, "B"), -3);
    EXPECT_STREQ(GetEnvFileValue(file, "C"), "x=y");
    EXPECT_EQ(GetEnvFileValue(file, "B"), nullptr);
    file = SetEnvFileValue(file, "A", "replaced");
    EXPECT_EQ(Entries(file), (std::vector<std::string>{"A=replaced", "AB=2", "C=x=y"}));

    std::string path = dir.file("out");
    ASSERT_EQ(WriteEnvFile(path.c_str(), file), 1);
    EXPECT_EQ(ReadFile(path), "A=replaced\nAB=2\nC=x=y\n");
    EnvFile back = ReadEnvFile(path.c_str());
    EXPECT_EQ(Entries(back), Entries(file));
    FreeEnvFile(back);
    FreeEnvFile(file);
    EXPECT_EQ(WriteEnvFile(dir.file("no/such/dir").c_str(), nullptr), 0);
}

TEST(EnvFileEdit, EmptyFile)
{
    TempDir dir("cfenv");
    WriteFile(dir.file("config"), "# nothing\n");
    EnvFile file = ReadEnvFile(dir.file("config").c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(FindEnvFileEntry(file, "A"), 0);
    EXPECT_EQ(GetEnvFileValue(file, "A"), nullptr);
    file = SetEnvFileValue(file, "A", "1");  // appended, not written over the terminator
    EXPECT_EQ(Entries(file), (std::vector<std::string>{"A=1"}));
    FreeEnvFile(file);
}

TEST(SetEnvFile, Precedence)
{
    EnvGuard env;
    env.Set("FAXROOT", "/inherited");
    env.Set("TELA_T_KEEP", "mine");
    env.Unset("TELA_T_NEW");
    env.Unset("TELA_T_PROG");
    env.Unset("TELA_T_EMPTY");
    const char *lines[] = {"FAXROOT=/inst", "TELA_T_KEEP=file", "TELA_T_NEW=new", "TELA_T_PROG=?/prog:?/x",
                           "NOEQUALS",      "=nameless",        "TELA_T_EMPTY=",  nullptr};
    SetEnvFile(const_cast<EnvFile>(lines));
    EXPECT_STREQ(getenv("FAXROOT"), "/inst");     // the file's FAXROOT wins
    EXPECT_STREQ(getenv("TELA_T_KEEP"), "mine");  // inherited values win
    EXPECT_STREQ(getenv("TELA_T_NEW"), "new");
    EXPECT_STREQ(getenv("TELA_T_PROG"), "/inst/prog:/inst/x");
    EXPECT_EQ(getenv("TELA_T_EMPTY"), nullptr);  // an empty value sets nothing
    EXPECT_EQ(getenv("NOEQUALS"), nullptr);
}

TEST(SetEnvFile, NothingWithoutFaxroot)
{
    EnvGuard env;
    env.Unset("FAXROOT");
    env.Unset("TELA_T_NEW");
    const char *lines[] = {"TELA_T_NEW=new", nullptr};
    SetEnvFile(const_cast<EnvFile>(lines));
    EXPECT_EQ(getenv("TELA_T_NEW"), nullptr);
    EXPECT_STREQ(ExpandFaxroot("A=?"), "echo FAXROOT not set");
}

TEST(SetEnvFile, EmptyValuesLeaveDefaultsInForce)
{
    EnvGuard env;
    env.Set("FAXROOT", "/inst");
    env.Unset("RPCTRANSPORT");
    const char *lines[] = {"RPCTRANSPORT=", nullptr};
    SetEnvFile(const_cast<EnvFile>(lines));
    EXPECT_EQ(getenv("RPCTRANSPORT"), nullptr);

    // An empty FAXROOT entry removes the inherited one, and then nothing else applies.
    env.Unset("TELA_T_NEW");
    const char *noRoot[] = {"FAXROOT=", "TELA_T_NEW=new", nullptr};
    SetEnvFile(const_cast<EnvFile>(noRoot));
    EXPECT_EQ(getenv("FAXROOT"), nullptr);
    EXPECT_EQ(getenv("TELA_T_NEW"), nullptr);
}

TEST(SetEnvFile, SetEnvReplacesOrRemoves)
{
    EnvGuard env;
    env.Set("TELA_T_V", "old");
    EXPECT_EQ(SetEnv("TELA_T_V", "new"), 0);
    EXPECT_STREQ(getenv("TELA_T_V"), "new");
    EXPECT_EQ(SetEnv("TELA_T_V", ""), 0);
    EXPECT_EQ(getenv("TELA_T_V"), nullptr);
    EXPECT_EQ(SetEnv("", "x"), -1);
    EXPECT_EQ(SetEnv("A=B", "x"), -1);
}

int FailWithNoMemory(const char *, const char *)
{
    errno = ENOMEM;
    return -1;
}

int FailWithInvalid(const char *, const char *)
{
    errno = EINVAL;
    return -1;
}

// Runs body with every put into the environment failing through putter, then ends the process
// with the result body gives.
[[noreturn]] void WithFailingPuts(EnvPutter putter, const std::function<int()> &body)
{
    SetEnvPutter(putter);
    int result = body();
    fflush(nullptr);
    _exit(result);
}

TEST(SetEnvFile, OutOfMemoryIsReported)
{
    EnvGuard env;
    env.Set("FAXROOT", "/inst");
    env.Unset("TELA_T_NEW");
    static const char *const entries[] = {"TELA_T_NEW=new", nullptr};
    static const char *const withRoot[] = {"FAXROOT=/other", "TELA_T_NEW=new", nullptr};
    auto apply = [](const char *const *lines) {
        return [lines] {
            SetEnvFile(const_cast<EnvFile>(lines));
            return 7;
        };
    };
    struct Case {
        const char *name;
        EnvPutter putter;
        std::function<int()> body;
        std::function<bool(int)> status;  // the exit code or the signal
        const char *message;
    } cases[] = {
        {"SetEnv", FailWithNoMemory, [] { return SetEnv("TELA_T_NEW", "x") == -1 ? 3 : 4; },
         ::testing::ExitedWithCode(3), "^SetEnv: Cannot allocate memory\n$"},
        {"SetEnvFile", FailWithNoMemory, apply(entries), ::testing::KilledBySignal(SIGABRT),
         "^SetEnvFile\\(\\): Cannot allocate memory\n$"},
        {"SetEnvFile with FAXROOT", FailWithNoMemory, apply(withRoot), ::testing::KilledBySignal(SIGABRT),
         "^SetEnv: Cannot allocate memory\nSetEnvFile\\(\\): Cannot allocate memory\n$"},
        // Any other failure drops the entry without a word.
        {"SetEnv refused", FailWithInvalid, [] { return SetEnv("TELA_T_NEW", "x") == -1 ? 3 : 4; },
         ::testing::ExitedWithCode(3), "^$"},
        {"SetEnvFile refused", FailWithInvalid, apply(withRoot), ::testing::ExitedWithCode(7), "^$"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(WithFailingPuts(c.putter, c.body), c.status, c.message);
    }
    EXPECT_EQ(SetEnv("TELA_T_NEW", "x"), 0) << "the parent's environment puts are untouched";
}

TEST(SetEnvFile, FaxrootValueIsNotExpanded)
{
    EnvGuard env;
    env.Set("FAXROOT", "/old");
    const char *lines[] = {"FAXROOT=?/new", nullptr};
    SetEnvFile(const_cast<EnvFile>(lines));
    EXPECT_STREQ(getenv("FAXROOT"), "?/new");
}

TEST(ExpandFaxroot, Texts)
{
    EnvGuard env;
    env.Set("FAXROOT", "/i");
    EXPECT_STREQ(ExpandFaxroot("A=?/bin:?"), "A=/i/bin:/i");
    EXPECT_STREQ(ExpandFaxroot("plain"), "plain");
    std::string big(3000, '?');
    EXPECT_EQ(strlen(ExpandFaxroot(big.c_str())), 6000u);  // no fixed buffer
    EXPECT_STREQ(QuoteString("a b"), "\"a b\"");
}

TEST(ListElements, NextAndFind)
{
    char out[16];
    const char *rest = NextListElement("/a:/b::/c", out, sizeof out);
    EXPECT_STREQ(out, "/a");
    rest = NextListElement(rest, out, sizeof out);
    EXPECT_STREQ(out, "/b");
    rest = NextListElement(rest, out, sizeof out);
    EXPECT_STREQ(out, "");
    rest = NextListElement(rest, out, sizeof out);
    EXPECT_STREQ(out, "/c");
    EXPECT_EQ(rest, nullptr);
    EXPECT_EQ(NextListElement(nullptr, out, sizeof out), nullptr);
    EXPECT_STREQ(out, "");
    NextListElement("/a-very-long-element-name", out, sizeof out);  // cut to fit
    EXPECT_STREQ(out, "/a-very-long-el");

    TempDir dir("cfenv");
    MakeDirs(dir.file("one"));
    MakeDirs(dir.file("two"));
    WriteFile(dir.file("two/tool"), "#!/bin/sh\n", 0755);
    EnvGuard env;
    env.Set("TELA_T_LIST", dir.file("none") + "::" + dir.file("one") + ":" + dir.file("two"));
    char found[ENV_MAX_PATH];
    FindInPath("tool", "TELA_T_LIST", found, sizeof found);
    EXPECT_EQ(std::string(found), dir.file("two/tool"));
    FindInPath("missing", "TELA_T_LIST", found, sizeof found);
    EXPECT_STREQ(found, "");
    FindInPath(dir.file("two/tool").c_str(), "TELA_T_UNSET_LIST", found, sizeof found);
    EXPECT_EQ(std::string(found), dir.file("two/tool"));
}

TEST(ToSlashes, InPlace)
{
    char text[] = "C:\\inst\\bin/x";
    ToSlashes(text);
    EXPECT_STREQ(text, "C:/inst/bin/x");
    ToSlashes(nullptr);
}

TEST(BinDirFromProgram, Table)
{
    TempDir dir("cfenv");
    const std::string i = dir.path() + "/inst";
    struct Case {
        std::string program;
        std::string expect;
    } cases[] = {
        {i + "/bin/dirprobe", i + "/bin"},   {i + "/lambda/tool", i + "/bin"},
        {i + "/cmdline/x", i + "/bin"},      {i + "/etc/x", i + "/bin"},
        {i + "/gateway/smtp/x", i + "/bin"}, {i + "/gateway/sapconnect/x", i + "/bin"},
        {i + "/other/smtp/x", i + "/other"}, {i + "/Lambda/x", i + "/Lambda"},  // case matters
        {i + "/lambdas/x", i + "/lambdas"},  {i + "\\gateway\\smtp\\x", i + "/bin"},
    };
    for (size_t k = 0; k < sizeof cases / sizeof cases[0]; ++k) {
        char out[ENV_MAX_PATH];
        BinDirFromProgram(cases[k].program.c_str(), out, sizeof out);
        EXPECT_EQ(std::string(out), cases[k].expect) << "case " << k;
    }
}

TEST(BinDirFromProgram, BareNameThroughPathOrCurrentDirectory)
{
    TempDir dir("cfenv");
    MakeDirs(dir.file("inst/bin"));
    WriteFile(dir.file("inst/bin/tela_t_prog"), "#!/bin/sh\n", 0755);
    EnvGuard env;
    env.Set("PATH", "/nonexistent:" + dir.file("inst/bin"));
    char out[ENV_MAX_PATH];
    BinDirFromProgram("tela_t_prog", out, sizeof out);
    EXPECT_EQ(std::string(out), dir.file("inst/bin"));

    // Not on PATH: the current directory.
    int code = InChild([&] {
        if (chdir(dir.path().c_str()) != 0)
            _exit(3);
        char here[ENV_MAX_PATH];
        BinDirFromProgram("tela_t_unknown", here, sizeof here);
        char cwd[ENV_MAX_PATH];
        if (!getcwd(cwd, sizeof cwd))
            _exit(4);
        _exit(std::string(here) == cwd ? 0 : 5);
    });
    EXPECT_EQ(code, 0);
}

// An installation below a temporary directory: inst/bin (with a program) and inst/etc/config.
class InitEnvTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        inst = dir.path() + "/inst";
        MakeDirs(inst + "/bin");
        MakeDirs(inst + "/etc");
        WriteFile(inst + "/bin/prog", "#!/bin/sh\n", 0755);
    }
    // Runs InitEnv in a child with the given environment changes and writes the variables
    // named in `report` as NAME=value lines ("NAME unset" when unset) into a file. Returns
    // the exit code; the report lands in `out`.
    int Run(const std::vector<std::pair<std::string, const char *>> &env,
            const std::vector<std::string> &report, std::string program = "")
    {
        std::string reportPath = dir.file("report");
        unlink(reportPath.c_str());
        if (program.empty())
            program = inst + "/bin/prog";
        int code = InChild([&] {
            for (auto &[name, value] : env) {
                if (value)
                    setenv(name.c_str(), value, 1);
                else
                    unsetenv(name.c_str());
            }
            std::vector<char> arg0(program.begin(), program.end());
            arg0.push_back('\0');
            char *argv[] = {arg0.data(), nullptr};
            int argc = 1;
            InitEnv(&argc, argv);
            FILE *f = fopen(reportPath.c_str(), "w");
            for (auto &name : report) {
                const char *v = getenv(name.c_str());
                fprintf(f, v ? "%s=%s\n" : "%s unset\n", name.c_str(), v ? v : "");
            }
            fprintf(f, "argv0=%s\n", argv[0]);
            fclose(f);
        });
        out = access(reportPath.c_str(), F_OK) == 0 ? ReadFile(reportPath) : "";
        return code;
    }
    TempDir dir{"initenv"};
    std::string inst;
    std::string out;
};

TEST_F(InitEnvTest, FaxrootNamesTheFile)
{
    WriteFile(inst + "/etc/config", "ALPHAHOST=alpha1\nTELA_T_DIR=?/prog\nTELA_T_KEEP=file");
    int code = Run({{"FAXROOT", inst.c_str()},
                    {"PATH", "/usr/bin:/bin"},
                    {"ALPHAHOST", nullptr},
                    {"TELA_T_DIR", nullptr},
                    {"TELA_T_KEEP", "mine"}},
                   {"ALPHAHOST", "TELA_T_DIR", "TELA_T_KEEP", "PATH", "FAXROOT"});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "ALPHAHOST=alpha1\nTELA_T_DIR=" + inst + "/prog\nTELA_T_KEEP=mine\nPATH=" + inst +
                       "/bin:/usr/bin:/bin\nFAXROOT=" + inst + "\nargv0=" + inst + "/bin/prog\n");
}

TEST_F(InitEnvTest, FileFaxrootWinsAndIsUsedForPath)
{
    WriteFile(inst + "/etc/config", "FAXROOT=/other\r\nTELA_T_DIR=?/x\r\n");
    int code = Run({{"FAXROOT", inst.c_str()}, {"PATH", "/bin"}, {"TELA_T_DIR", nullptr}},
                   {"FAXROOT", "TELA_T_DIR", "PATH"});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out,
              "FAXROOT=/other\nTELA_T_DIR=/other/x\nPATH=/other/bin:/bin\nargv0=" + inst + "/bin/prog\n");
}

TEST_F(InitEnvTest, BinDirectoryFromProgramPath)
{
    // No FAXROOT: the bin directory comes from argv[0]; the file sets FAXROOT.
    WriteFile(inst + "/etc/config", "FAXROOT=" + inst + "\n# comment\n");
    int code = Run({{"FAXROOT", nullptr}, {"PATH", "/bin"}}, {"FAXROOT", "PATH"}, inst + "\\lambda\\tool");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "FAXROOT=" + inst + "\nPATH=" + inst + "/bin:/bin\nargv0=" + inst + "/lambda/tool\n");
}

TEST_F(InitEnvTest, BinDirectoryNeedNotExist)
{
    // "<root>/bin/../etc/config" is taken by text.
    std::string root = dir.path() + "/nobin";
    MakeDirs(root + "/etc");
    WriteFile(root + "/etc/config", "TELA_T_X=1\n");
    int code = Run({{"FAXROOT", root.c_str()}, {"TELA_T_X", nullptr}}, {"TELA_T_X"});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out.substr(0, 11), "TELA_T_X=1\n");
}

TEST_F(InitEnvTest, NoPathAndNoFaxroot)
{
    WriteFile(inst + "/etc/config", "# nothing\n");
    int code = Run({{"FAXROOT", nullptr}, {"PATH", nullptr}}, {"FAXROOT", "PATH"});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "FAXROOT unset\nPATH unset\nargv0=" + inst + "/bin/prog\n");
}

void InitEnvWithFaxroot(const std::string &faxroot)
{
    setenv("FAXROOT", faxroot.c_str(), 1);
    char arg0[] = "prog";
    char *argv[] = {arg0, nullptr};
    InitEnv(nullptr, argv);
    exit(0);
}

TEST_F(InitEnvTest, NoFileEndsTheProgram)
{
    EXPECT_EXIT(InitEnvWithFaxroot(inst), ::testing::ExitedWithCode(1), "^config not found!!\n$");
}

TEST(Spawn, WaitAndExitCodes)
{
    TempDir dir("spawn");
    std::string out = dir.file("out");
    std::string script = "printf '%s|' \"$@\" > " + out + "; exit 7";
    char *argv[] = {
        const_cast<char *>("sh"),  const_cast<char *>("-c"),    script.data(), const_cast<char *>("sh"),
        const_cast<char *>("a b"), const_cast<char *>("\"q\""), nullptr};
    EXPECT_EQ(SpawnAndWait("/bin/sh", argv), 7);
    EXPECT_EQ(ReadFile(out), "a b|\"q\"|");  // arguments arrive unquoted and unchanged
    EXPECT_STREQ(argv[4], "a b");

    EXPECT_EQ(SpawnAndWait(dir.file("missing").c_str(), argv), -1);
    char *killer[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), const_cast<char *>("kill -9 $$"),
                      nullptr};
    EXPECT_EQ(SpawnAndWait("/bin/sh", killer), 128 + 9);
}

void SpawnShellAndExit(const char *program, const char *script)
{
    char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), const_cast<char *>(script), nullptr};
    SpawnAndExit(program, argv);
    exit(99);
}

TEST(Spawn, ExitWithTheProgramsCode)
{
    EXPECT_EXIT(SpawnShellAndExit("/bin/sh", "exit 5"), ::testing::ExitedWithCode(5), "");
    EXPECT_EXIT(SpawnShellAndExit("/nonexistent/program", "exit 5"), ::testing::ExitedWithCode(99), "");
}

TEST(Spawn, Detached)
{
    TempDir dir("spawn");
    std::string out = dir.file("out");
    std::string script = "echo started > " + out + ".tmp && mv " + out + ".tmp " + out;
    char *argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), script.data(), nullptr};
    ASSERT_EQ(SpawnDetached("/bin/sh", argv), 1);
    testsupport::WaitFor([&] { return access(out.c_str(), F_OK) == 0; }, 10000, 10);
    EXPECT_EQ(ReadFile(out), "started\n");
    EXPECT_EQ(SpawnDetached("/nonexistent/program", argv), 0);
}

// The process ids of our children whose argument 0 is argv0.
std::vector<pid_t> ChildrenNamed(const std::string &argv0)
{
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (!proc)
        return found;
    while (struct dirent *entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::string base = std::string("/proc/") + entry->d_name;
        std::string stat = ReadFile(base + "/stat");
        size_t close = stat.rfind(')');
        char state = 0;
        int parent = 0;
        if (close == std::string::npos || sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2 ||
            parent != getpid())
            continue;
        std::string cmdline = ReadFile(base + "/cmdline");
        if (cmdline.compare(0, argv0.size() + 1, argv0 + '\0') == 0)
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

// Whether this process may raise a process above normal priority (tried in a child).
bool MayRaisePriority()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(setpriority(PRIO_PROCESS, 0, -10) == 0 ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The sleeps of SpawnDetached, each with the priority of the started program at that moment.
struct SpawnWatch {
    std::string argv0;
    std::vector<int32_t> sleeps;
    std::vector<int> nice;
};

TEST(Spawn, DetachedIsRaisedAndSetBack)
{
    SpawnWatch watch{"cfenv-priority-probe", {}, {}};
    SysClock clock = {};
    clock.sleep = [](int32_t milliseconds, void *context) {
        auto *w = static_cast<SpawnWatch *>(context);
        w->sleeps.push_back(milliseconds);
        // The hook does not sleep, so the child may not have reached its exec yet: wait for it.
        std::vector<pid_t> children;
        testsupport::WaitFor(
            [&] {
                children = ChildrenNamed(w->argv0);
                return children.size() == 1;
            },
            5000, 10);
        errno = 0;
        int nice = children.size() == 1 ? getpriority(PRIO_PROCESS, static_cast<id_t>(children[0])) : 99;
        w->nice.push_back(errno == 0 ? nice : 99);
    };
    clock.context = &watch;
    char *argv[] = {watch.argv0.data(), const_cast<char *>("30"), nullptr};
    SysSetClock(&clock);
    int started = SpawnDetached("/bin/sleep", argv);
    SysSetClock(nullptr);
    ASSERT_EQ(started, 1);
    std::vector<pid_t> children = ChildrenNamed(watch.argv0);
    ASSERT_EQ(children.size(), 1u);
    errno = 0;
    int after = getpriority(PRIO_PROCESS, static_cast<id_t>(children[0]));
    kill(children[0], SIGTERM);

    int inherited = getpriority(PRIO_PROCESS, 0);
    bool may = MayRaisePriority();
    EXPECT_EQ(watch.sleeps, (std::vector<int32_t>{100, 100}));
    // Normal at the first pause, high at the second, normal again at the end; where this
    // process may not change it, the program keeps the priority it was started with.
    EXPECT_EQ(watch.nice, (std::vector<int>{inherited, may ? -10 : inherited})) << "may raise: " << may;
    EXPECT_EQ(after, may ? 0 : inherited);
}

TEST(Spawn, QuoteAndFreeArgs)
{
    char *argv[] = {strdup("a"), strdup("b c"), nullptr};
    char *old0 = argv[0], *old1 = argv[1];
    QuoteArgs(argv);
    EXPECT_STREQ(argv[0], "\"a\"");
    EXPECT_STREQ(argv[1], "\"b c\"");
    FreeArgs(argv);
    free(old0);
    free(old1);
    EXPECT_EQ(GetEnvBlock(), environ);
}

}  // namespace
