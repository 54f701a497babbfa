#include "os/sysutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

#include "envguard.h"
#include "testsupport.h"

using testsupport::EnvGuard;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TEST(SysLock, SameThreadEntersTwice)
{
    SysLockRec *lock = SysCreateLock();
    ASSERT_NE(lock, nullptr);
    SysLock(lock);
    SysLock(lock);  // recursive: no deadlock
    SysUnlock(lock);
    SysUnlock(lock);
    SysDeleteLock(lock);
    SysLock(nullptr);
    SysUnlock(nullptr);
    SysDeleteLock(nullptr);
}

TEST(SysEvent, SingleThreadStates)
{
    SysHandle manual = SysCreateEvent(1, 0);
    SysHandle autoReset = SysCreateEvent(0, 1);
    ASSERT_NE(manual, nullptr);
    ASSERT_NE(autoReset, nullptr);
    EXPECT_EQ(SysWaitEvent(manual, 0), 0);  // unset: 0 at once
    EXPECT_EQ(SysSetEvent(manual), 1);
    EXPECT_EQ(SysWaitEvent(manual, 0), 1);
    EXPECT_EQ(SysWaitHandle(manual, 0), 1);  // stays set
    EXPECT_EQ(SysResetEvent(manual), 1);
    EXPECT_EQ(SysWaitEvent(manual, 10), 0);

    EXPECT_EQ(SysWaitEvent(autoReset, 0), 1);  // initially set, consumed by the wait
    EXPECT_EQ(SysWaitEvent(autoReset, 0), 0);
    SysSetEvent(autoReset);
    SysSetEvent(autoReset);  // no count: one signal
    EXPECT_EQ(SysWaitEvent(autoReset, 0), 1);
    EXPECT_EQ(SysWaitEvent(autoReset, 0), 0);

    EXPECT_EQ(SysCloseEvent(manual), 1);
    EXPECT_EQ(SysCloseEvent(autoReset), 1);
    EXPECT_EQ(SysCloseEvent(nullptr), 0);
    EXPECT_EQ(SysSetEvent(nullptr), 0);
    EXPECT_EQ(SysWaitEvent(nullptr, 0), 0);
}

TEST(SysDir, MissingDirectoryIsAnEmptyListing)
{
    TempDir dir("sysdir");
    SysDir *d = SysOpenDir(dir.file("missing").c_str());
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->pattern, (dir.file("missing") + "/*").c_str());
    EXPECT_EQ(SysReadDir(d), nullptr);
    EXPECT_EQ(SysReadDir(d), nullptr);
    EXPECT_EQ(SysCloseDir(d), 0);
    EXPECT_EQ(SysCloseDir(nullptr), -1);
    EXPECT_EQ(SysReadDir(nullptr), nullptr);
}

TEST(SysDir, ListsAllNamesAndRewinds)
{
    TempDir dir("sysdir");
    WriteFile(dir.file("a.log"), "");
    WriteFile(dir.file("b.log"), "");
    SysDir *d = SysOpenDir(dir.path().c_str());
    ASSERT_NE(d, nullptr);
    std::multiset<std::string> names;
    while (SysDirEntry *e = SysReadDir(d))
        names.insert(e->d_name);
    EXPECT_EQ(names, (std::multiset<std::string>{".", "..", "a.log", "b.log"}));
    EXPECT_EQ(d->count, 4);
    SysRewindDir(d);
    EXPECT_EQ(d->count, 0);
    int again = 0;
    while (SysReadDir(d))
        ++again;
    EXPECT_EQ(again, 4);
    EXPECT_EQ(SysCloseDir(d), 0);
}

TEST(SysFiles, StatMkDirAccessDeleteRename)
{
    TempDir dir("sysfiles");
    SysStatInfo info{};
    errno = 0;
    EXPECT_EQ(SysStat(dir.file("missing").c_str(), &info), -1);
    EXPECT_EQ(errno, ENOENT);

    WriteFile(dir.file("f"), "12345", 0640);
    ASSERT_EQ(SysStat(dir.file("f").c_str(), &info), 0);
    EXPECT_EQ(info.size, 5);
    EXPECT_TRUE(S_ISREG(info.mode));
    EXPECT_EQ(info.mode & 07777, 0640);
    EXPECT_EQ(info.nlink, 1);
    EXPECT_LE(std::abs(info.mtime - static_cast<int64_t>(time(nullptr))), 60);

    EXPECT_EQ(SysMkDir(dir.file("sub").c_str(), 0700), 1);
    EXPECT_EQ(SysMkDir(dir.file("sub").c_str(), 0700), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(SysMkDir(dir.file("x/y").c_str(), 0700), 0);  // no parents made
    ASSERT_EQ(SysStat(dir.file("sub").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.mode));

    EXPECT_EQ(SysAccess(dir.file("f").c_str(), 0), 1);
    EXPECT_EQ(SysAccess(dir.file("f").c_str(), 6), 1);
    EXPECT_EQ(SysAccess(dir.file("missing").c_str(), 0), 0);

    WriteFile(dir.file("g"), "other");
    EXPECT_EQ(SysRename(dir.file("f").c_str(), dir.file("g").c_str()), 0);  // target exists
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadFile(dir.file("g")), "other");
    EXPECT_EQ(SysRename(dir.file("f").c_str(), dir.file("h").c_str()), 1);
    EXPECT_EQ(ReadFile(dir.file("h")), "12345");
    EXPECT_EQ(SysAccess(dir.file("f").c_str(), 0), 0);

    EXPECT_EQ(SysDeleteFile(dir.file("h").c_str()), 1);
    EXPECT_EQ(SysDeleteFile(dir.file("h").c_str()), 0);
    EXPECT_EQ(SysGetLastError(), ENOENT);
}

TEST(SysTemp, PathHonoursTmpdir)
{
    EnvGuard env;
    char buf[SYS_MAX_PATH];
    env.Set("TMPDIR", "/some/dir");
    EXPECT_EQ(SysTempPath(buf, sizeof buf), strlen("/some/dir/"));
    EXPECT_STREQ(buf, "/some/dir/");
    env.Set("TMPDIR", "/with/slash/");
    SysTempPath(buf, sizeof buf);
    EXPECT_STREQ(buf, "/with/slash/");
    env.Unset("TMPDIR");
    SysTempPath(buf, sizeof buf);
    EXPECT_STREQ(buf, "/tmp/");
    env.Set("TMPDIR", "");
    SysTempPath(buf, sizeof buf);
    EXPECT_STREQ(buf, "/tmp/");
    char tiny[4];
    EXPECT_EQ(SysTempPath(tiny, sizeof tiny), 0u);
}

bool IsTempName(const std::string &path, const std::string &dir, const std::string &prefix)
{
    std::string head = dir + "/" + prefix;
    if (path.compare(0, head.size(), head) != 0)
        return false;
    if (path.size() < head.size() + 5 || path.substr(path.size() - 4) != ".TMP")
        return false;
    std::string hex = path.substr(head.size(), path.size() - 4 - head.size());
    return std::all_of(hex.begin(), hex.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

TEST(SysTemp, FileIsNewEmptyAndPrivate)
{
    TempDir dir("systemp");
    EnvGuard env;
    env.Set("TMPDIR", dir.path());
    char a[SYS_MAX_PATH], b[SYS_MAX_PATH];
    ASSERT_NE(SysTempFileName(a, "LOG", nullptr), 0);
    ASSERT_NE(SysTempFileName(b, "LOG", nullptr), 0);
    EXPECT_NE(std::string(a), std::string(b));
    for (const char *p : {a, b}) {
        EXPECT_TRUE(IsTempName(p, dir.path(), "LOG")) << p;
        struct stat st;
        ASSERT_EQ(lstat(p, &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 07777, 0600);
    }
    // Prefix cut to three characters; an explicit directory.
    TempDir other("systemp2");
    char c[SYS_MAX_PATH];
    ASSERT_NE(SysTempFileName(c, "ABCDEF", other.path().c_str()), 0);
    EXPECT_TRUE(IsTempName(c, other.path(), "ABC")) << c;
    ASSERT_NE(SysTempFileName(c, nullptr, other.path().c_str()), 0);
    EXPECT_TRUE(IsTempName(c, other.path(), "")) << c;
}

TEST(SysTemp, FailureLeavesAnEmptyName)
{
    TempDir dir("systemp");
    char out[SYS_MAX_PATH];
    strcpy(out, "stale");
    EXPECT_EQ(SysTempFileName(out, "LOG", dir.file("missing").c_str()), 0);
    EXPECT_STREQ(out, "");
    strcpy(out, "stale");
    EXPECT_EQ(SysTempFileName(out, "LOG", dir.path().c_str(), 8), 0);  // does not fit
    EXPECT_STREQ(out, "");
}

TEST(SysError, TextsAndNumbers)
{
    char buf[128];
    SysErrorText(ENOENT, buf, sizeof buf);
    EXPECT_STREQ(buf, strerror(ENOENT));
    char small[5];
    SysErrorText(ENOENT, small, sizeof small);
    EXPECT_EQ(strlen(small), 4u);
    EXPECT_EQ(SysErrorText(ENOENT, nullptr, 10), nullptr);
    SysSetLastError(EACCES);
    EXPECT_EQ(SysGetLastError(), EACCES);
    EXPECT_EQ(SysProcessId(), static_cast<int32_t>(getpid()));

    char stamp[64];
    EXPECT_EQ(SysVersionStamp(nullptr, stamp, sizeof stamp), stamp);
    EXPECT_STREQ(stamp, "(no version stamp)");
}

TEST(SysError, SocketErrorMessage)
{
    testsupport::CaptureFd captured(2);
    errno = ECONNREFUSED;
    SysPrintSocketError("connect");
    errno = EPIPE;
    SysPrintSocketError(nullptr);
    std::string err = captured.Text();
    EXPECT_EQ(err, "connect : Error at socket(): " + std::to_string(ECONNREFUSED) +
                       "\nError at socket(): " + std::to_string(EPIPE) + "\n");
}

TEST(SysTimeTest, LocalTimeFields)
{
    time_t before = time(nullptr);
    SysTime t{};
    EXPECT_EQ(SysLocalTime(&t), &t);
    struct tm tm;
    localtime_r(&before, &tm);
    EXPECT_EQ(t.year, tm.tm_year + 1900);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_LE(t.dayOfWeek, 6);
    EXPECT_LT(t.milliseconds, 1000);
    EXPECT_LE(std::abs(SysNow() - static_cast<int64_t>(before)), 5);
    EXPECT_EQ(SysLocalTime(nullptr), nullptr);
}

// A clock that stands still at a chosen moment and a sleep that only records.
struct FakeClock {
    struct timespec now;
    uint32_t ticks;
    int64_t slept;
};

TEST(SysClockHooks, ReplaceClockAndSleep)
{
    EnvGuard env;
    env.Set("TZ", "UTC");
    tzset();
    FakeClock fake{{1790000000, 123456789}, 42, 0};  // 2026-09-21 14:13:20.123 UTC, a Monday
    SysClock clock{};
    clock.now = [](struct timespec *out, void *ctx) { *out = static_cast<FakeClock *>(ctx)->now; };
    clock.tickCount = [](void *ctx) { return static_cast<FakeClock *>(ctx)->ticks; };
    clock.sleep = [](int32_t ms, void *ctx) {
        auto *f = static_cast<FakeClock *>(ctx);
        f->slept += ms;
        f->ticks += static_cast<uint32_t>(ms);
        f->now.tv_sec += ms / 1000;
    };
    clock.context = &fake;
    SysSetClock(&clock);

    SysTime t{};
    SysLocalTime(&t);
    EXPECT_EQ(t.year, 2026);
    EXPECT_EQ(t.month, 9);
    EXPECT_EQ(t.day, 21);
    EXPECT_EQ(t.dayOfWeek, 1);
    EXPECT_EQ(t.hour, 14);
    EXPECT_EQ(t.minute, 13);
    EXPECT_EQ(t.second, 20);
    EXPECT_EQ(t.milliseconds, 123);
    EXPECT_EQ(SysNow(), 1790000000);
    EXPECT_EQ(SysTickCount(), 42u);
    EXPECT_EQ(SysSleep(86400000), 0);  // a day passes at once
    EXPECT_EQ(fake.slept, 86400000);
    EXPECT_EQ(SysNow(), 1790086400);
    EXPECT_EQ(SysPumpWait(5), SYS_WAIT_TIMEOUT);
    EXPECT_EQ(fake.slept, 86400005);

    SysSetClock(nullptr);
    EXPECT_GT(SysNow(), 1790086400 - 86400 * 365 * 10);
    EXPECT_NE(SysNow(), 1790086400);
    tzset();
}

TEST(SysClockHooks, PartialHooksKeepTheRest)
{
    SysClock clock{};
    clock.tickCount = [](void *) { return 7u; };
    SysSetClock(&clock);
    EXPECT_EQ(SysTickCount(), 7u);
    EXPECT_LE(std::abs(SysNow() - static_cast<int64_t>(time(nullptr))), 5);
    SysSetClock(nullptr);
    uint32_t a = SysTickCount();
    EXPECT_EQ(SysSleep(20), 0);
    EXPECT_GE(SysTickCount() - a, 20u);
}

TEST(SysLibrary, LoadAndLookUp)
{
    void *m = SysLoadLibrary("libc.so.6");
    ASSERT_NE(m, nullptr);
    EXPECT_NE(SysGetProcAddress(m, "strlen"), nullptr);
    EXPECT_EQ(SysGetProcAddress(m, "no_such_function_here"), nullptr);
    EXPECT_EQ(SysFreeLibrary(m), 1);
    EXPECT_EQ(SysLoadLibrary("libno-such-library.so"), nullptr);
    EXPECT_EQ(SysFreeLibrary(nullptr), 0);
}

TEST(SysSpawnTest, StartsWithoutQuoting)
{
    TempDir dir("sysspawn");
    std::string out = dir.file("out");
    std::string script = "printf '%s|' \"$@\" > " + out + ".tmp && mv " + out + ".tmp " + out;
    ASSERT_EQ(
        SysSpawn("/bin/sh", "sh", "-c", script.c_str(), "sh", "x y", "\"z\"", static_cast<char *>(nullptr)),
        1);
    testsupport::WaitFor([&] { return access(out.c_str(), F_OK) == 0; }, 10000, 10);
    EXPECT_EQ(ReadFile(out), "x y|\"z\"|");
    EXPECT_EQ(SysSpawn(dir.file("missing").c_str(), static_cast<char *>(nullptr)), 0);
}

TEST(SysThreadPriority, Levels)
{
    for (int level = 0; level <= 6; ++level)
        EXPECT_EQ(SysSetThreadPriority(nullptr, level), 1);
    EXPECT_EQ(SysSetThreadPriority(nullptr, 7), 0);
    EXPECT_EQ(SysSetThreadPriority(nullptr, -1), 0);
}

}  // namespace
