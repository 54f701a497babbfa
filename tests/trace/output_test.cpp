#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "testsupport.h"
#include "tracetest.h"
#include "tzguard.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

using OutputTest = tracetest::TraceTest;

const char kStamp[] = " 8.12.26  9:45:01";

TEST_F(OutputTest, LocatedLineLayoutAndLevelFilter)
{
    Trace("utils", 317, 1, "hello %d\n", 42);
    Trace("utils", 318, 2, "filtered\n");
    EXPECT_EQ(Fallback(), std::string(kStamp) + " utils(317):W: hello 42\n");

    // The time stamp pads day, month and hour with blanks.
    clock.Set(2026, 1, 2, 3, 4, 5);
    Trace(nullptr, 1, 0, "x\n");
    EXPECT_EQ(Fallback(), " 2. 1.26  3:04:05 E: x\n");

    // Only a backslash cuts the source name.
    Trace("c:\\src\\trace\\utils", 5, 1, "a\n");
    Trace("src/trace/utils", 6, 1, "b\n");
    auto lines = tracetest::Lines(Fallback());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" utils(5):W: a\n"), std::string::npos);
    EXPECT_NE(lines[1].find(" src/trace/utils(6):W: b\n"), std::string::npos);
}

TEST_F(OutputTest, LevelLetters)
{
    SetTraceLevel(4);
    const char *letters[] = {"P", "A", "E", "W", "D", "C", "unknown"};
    for (int level = -2; level <= 4; ++level) {
        Trace("f", 1, level, "t\n");
        std::string line = Fallback();
        EXPECT_EQ(line, std::string(kStamp) + " f(1):" + letters[level + 2] + ": t\n") << level;
    }
}

TEST_F(OutputTest, DetailedStamp)
{
    SetTraceStamptype("detailedtime");
    Fallback();
    clock.Set(2026, 12, 8, 9, 5, 1, 7);
    TraceNoLocation("f", 1, 1, "t\n");
    EXPECT_EQ(Fallback(), "09:05:01.007 t\n");
    char small[kTraceStampSize];
    EXPECT_EQ(TraceTimeStamp(nullptr), nullptr);
    EXPECT_EQ(TraceTimeStamp(small), small);
}

// The stamp text is made once a second; within a second it still follows the milliseconds, the
// stamp type and the time zone, and a clock that goes back.
TEST_F(OutputTest, StampWithinAndAcrossSeconds)
{
    struct Step {
        const char *what;
        int advanceMs;          // the clock moves first
        const char *stampType;  // then the stamp type is set, when given
        const char *zone;       // and the time zone, when given
        const char *expected;
    } steps[] = {
        {"start", 0, nullptr, nullptr, " 8.12.26  9:45:01"},
        {"same second", 999, nullptr, nullptr, " 8.12.26  9:45:01"},
        {"next second", 1, nullptr, nullptr, " 8.12.26  9:45:02"},
        {"detailed in the same second", 0, "detailedtime", nullptr, "09:45:02.000"},
        {"milliseconds", 7, nullptr, nullptr, "09:45:02.007"},
        {"more milliseconds", 123, nullptr, nullptr, "09:45:02.130"},
        {"last millisecond", 869, nullptr, nullptr, "09:45:02.999"},
        {"datetime in the same second", 0, "datetime", nullptr, " 8.12.26  9:45:02"},
        {"other zone, same second", 0, nullptr, "Europe/Berlin", " 8.12.26 10:45:02"},
        {"back to UTC, same second", 0, nullptr, "UTC", " 8.12.26  9:45:02"},
        {"a day back", -86400000, nullptr, nullptr, " 7.12.26  9:45:02"},
        {"detailed a day back", 0, "detailedtime", nullptr, "09:45:02.999"},
    };
    clock.Set(2026, 12, 8, 9, 45, 1);
    for (const Step &step : steps) {
        clock.Advance(step.advanceMs / 1000, step.advanceMs % 1000);
        if (step.stampType)
            SetTraceStamptype(step.stampType);
        if (step.zone) {
            setenv("TZ", step.zone, 1);
            tzset();
        }
        Fallback();
        char stamp[kTraceStampSize];
        EXPECT_STREQ(TraceTimeStamp(stamp), step.expected) << step.what;
        TraceNoLocation("f", 1, 1, "t\n");
        EXPECT_EQ(Fallback(), std::string(step.expected) + " t\n") << step.what;
    }
}

// The located prefix is "%s %s(%d):%s: " whatever the line number and source name.
TEST_F(OutputTest, LocatedPrefixOfAnyLineNumber)
{
    struct Case {
        const char *file;
        int line;
    } cases[] = {{"f", 0}, {"f", 7}, {"f", -1}, {"f", 2147483647}, {"f", INT_MIN}, {"a\\b", 100}, {"", 3}};
    for (const Case &c : cases) {
        char expected[256];
        const char *base = strrchr(c.file, '\\') ? strrchr(c.file, '\\') + 1 : c.file;
        snprintf(expected, sizeof expected, "%s %s(%d):W: text\n", kStamp, base, c.line);
        Trace(c.file, c.line, 1, "text\n");
        EXPECT_EQ(Fallback(), expected) << c.line;
    }
    // A stamp given by the caller is taken as it is.
    char line[kTraceLineSize];
    EXPECT_STREQ(TraceFormatLine(line, "stamp", "x\\y", -12, "C", "%s\n", "t"), "stamp y(-12):C: t\n");
    EXPECT_STREQ(TraceFormatLine(line, "", nullptr, 1, "E", "t"), " E: t");
}

TEST_F(OutputTest, TwoHundredCharacterCut)
{
    std::string prefix = std::string(kStamp) + " f(1):W: ";
    struct Case {
        size_t textLength;  // formatted text, without newline
        bool newline;
        std::string expected;
    };
    auto text = [](size_t n) { return std::string(n, 'x'); };
    size_t room = 200 - prefix.size();
    Case cases[] = {
        {250, false, prefix + text(room) + "\n"},   {250, true, prefix + text(room) + "\n"},
        {room - 1, false, prefix + text(room - 1)}, {room - 2, true, prefix + text(room - 2) + "\n"},
        {room, false, prefix + text(room) + "\n"},  {room - 1, true, prefix + text(room - 1) + "\n\n"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string t = text(cases[i].textLength) + (cases[i].newline ? "\n" : "");
        Trace("f", 1, 1, "%s", t.c_str());
        std::string out = Fallback();
        EXPECT_EQ(out, cases[i].expected) << "case " << i;
        EXPECT_LE(out.size(), 201u) << "case " << i;
    }
    // A source name too long for the buffer still gives a bounded line.
    std::string longName(400, 'n');
    Trace(longName.c_str(), 1, 1, "tail\n");
    std::string out = Fallback();
    EXPECT_EQ(out.size(), 201u);
    EXPECT_EQ(out.back(), '\n');
}

TEST_F(OutputTest, EmptyFormats)
{
    const char *empty = "";
    Trace("f", 1, 1, "%s", empty);
    EXPECT_EQ(Fallback(), std::string(kStamp) + " f(1):W: ");
    Trace("f", 1, 1, nullptr);
    EXPECT_EQ(Fallback(), std::string(kStamp) + " f(1):W: ");
    TracePlain("f", 1, 1, nullptr);
    EXPECT_EQ(Fallback(), "<<null>>\n");
    TracePlain("f", 1, 1, "plain %s\n", "text");
    EXPECT_EQ(Fallback(), "plain text\n");
}

TEST_F(OutputTest, LevelMinusTwoGoesToTheEventLog)
{
    Trace("f", 9, -2, "disk gone\n");
    Trace("f", 10, -1, "notice\n");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, 1);
    EXPECT_EQ(events[0].identifier, 0xE0000002u);
    EXPECT_EQ(events[0].text, std::string(kStamp) + " f(9):P: disk gone\n");
    EXPECT_EQ(tracetest::Lines(Fallback()).size(), 2u);
}

TEST_F(OutputTest, EventLogTypes)
{
    struct Case {
        uint16_t type;
        uint32_t identifier;
        bool complains;
    } cases[] = {
        {1, 0xE0000002u, false}, {2, 0xA0000001u, false}, {4, 0x60000000u, false}, {3, 0x60000000u, true}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        events.clear();
        testsupport::CaptureFd captured(2);
        EventLogWrite(cases[i].type, "text");
        std::string err = captured.Text();
        ASSERT_EQ(events.size(), 1u) << "case " << i;
        EXPECT_EQ(events[0].type, cases[i].type) << "case " << i;
        EXPECT_EQ(events[0].identifier, cases[i].identifier) << "case " << i;
        EXPECT_EQ(err, cases[i].complains ? "Unrecognised type: 3\n" : "") << "case " << i;
    }
}

TEST_F(OutputTest, BlocksWithoutObjectGoUnchanged)
{
    EXPECT_EQ(TraceWriteBlock("ab\0c", 4), 0);
    EXPECT_EQ(Fallback(), std::string("ab\0c", 4));
    EXPECT_EQ(TraceSetHeader("h"), 3);
    EXPECT_EQ(TraceSetOpenCallback(nullptr), 3);
    EXPECT_EQ(TraceGetSize(), 0u);
    char buffer[4];
    EXPECT_EQ(TraceReadBlock(buffer, 0, 4), nullptr);
}

TEST_F(OutputTest, OpenModes)
{
    TempDir dir("traceopen");
    testsupport::CaptureFd badMode(1);
    EXPECT_EQ(TraceOpen(dir.path().c_str(), "t.log", "h", 9, 1), 3);
    EXPECT_EQ(badMode.Text(), "illegal filemode 9\n");
    EXPECT_EQ(TraceGetObject(), nullptr);

    WriteFile(dir.file("t.log"), "old\n");
    ASSERT_EQ(TraceOpen(dir.path().c_str(), "t.log", "h", 2, 1), 0);
    Trace("f", 1, 1, "appended\n");
    EXPECT_EQ(TraceSetHeader("h"), 3);
    EXPECT_EQ(TraceGetSize(), ReadFile(dir.file("t.log")).size());
    // An append-only stream cannot be read back; the refused read leaves the file usable.
    char head[4] = {};
    EXPECT_EQ(TraceReadBlock(head, 0, 3), nullptr);
    Trace("f", 2, 1, "after read\n");
    TraceClose();
    std::string text = ReadFile(dir.file("t.log"));
    auto lines = tracetest::Lines(text);
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_EQ(lines[0], "old\n");
    EXPECT_NE(lines[2].find("after read"), std::string::npos);
    EXPECT_NE(lines[3].find(" trace("), std::string::npos);
    EXPECT_NE(lines[3].find("):A: trace closed\n"), std::string::npos);
    EXPECT_EQ(Fallback(), "");

    ASSERT_EQ(TraceOpen(dir.path().c_str(), "t.log", "h", 1, 1), 0);
    Trace("f", 1, 1, "fresh\n");
    TraceClose();
    EXPECT_EQ(tracetest::Lines(ReadFile(dir.file("t.log"))).size(), 2u);

    // Mode 0 writes to the standard output, flushed line by line.
    testsupport::CaptureFd console(1);
    ASSERT_EQ(TraceOpen(dir.path().c_str(), "t.log", "h", 0, 1), 0);
    Trace("f", 1, 1, "to stdout\n");
    std::string out = console.Text();
    EXPECT_EQ(out, std::string(kStamp) + " f(1):W: to stdout\n");
    TraceClose();
    Fallback();

    // A file that does not open: 7, the Disk stays, each line makes it say that it has no file
    // and then reaches the fallback stream.
    testsupport::CaptureFd noFile(1);
    EXPECT_EQ(TraceOpen(dir.file("missing").c_str(), "t.log", "h", 1, 1), 7);
    Trace("f", 1, 1, "nowhere\n");
    Trace("f", 2, 1, "still nowhere\n");
    TraceClose();
    out = noFile.Text();
    // The third line is "trace closed".
    EXPECT_EQ(out, "Disk::Open(" + dir.file("missing") +
                       "/t.log) No such file or directory\n"
                       "Disk::PutBlock: no filehandle!\n"
                       "Disk::PutBlock: no filehandle!\n"
                       "Disk::PutBlock: no filehandle!\n");
    std::string fallen = Fallback();
    EXPECT_NE(fallen.find(" f(1):W: nowhere\n"), std::string::npos) << fallen;
    EXPECT_NE(fallen.find(" f(2):W: still nowhere\n"), std::string::npos) << fallen;
    EXPECT_NE(fallen.find("):A: trace closed\n"), std::string::npos) << fallen;
}

TEST_F(OutputTest, OpenFileReturnsOneOnSuccess)
{
    TempDir dir("traceopen");
    EXPECT_EQ(TraceOpenFile(dir.file("f.log").c_str(), 0), 1);
    Trace("f", 1, 1, "in file\n");
    EXPECT_EQ(TraceOpenFile(nullptr, 0), 0);
    testsupport::CaptureFd console(1);
    Trace("f", 1, 1, "on console\n");
    EXPECT_NE(console.Text().find("on console"), std::string::npos);
    EXPECT_NE(ReadFile(dir.file("f.log")).find("in file"), std::string::npos);
    TraceClose();
    testsupport::CaptureFd noSuchDir(1);
    EXPECT_EQ(TraceOpenFile(dir.file("no/such").c_str(), 0), 0);
    noSuchDir.Text();
    TraceClose();
}

TEST_F(OutputTest, RefusedLinesGoToTheFallback)
{
    // A write error (the full device) sends the line to the fallback stream; the file writes no
    // message of its own.
    testsupport::CaptureFd captured(1);
    ASSERT_EQ(TraceOpenFile("/dev/full", 1), 1);
    Trace("f", 1, 1, "lost on disk\n");
    EXPECT_NE(Fallback().find("lost on disk"), std::string::npos);
    Trace("f", 1, 1, "again\n");
    EXPECT_NE(Fallback().find("again"), std::string::npos);
    TraceClose();
    EXPECT_EQ(captured.Text(), "");
}

// Descriptors of this process open on files of the directory whose names start with prefix.
int OpenFilesNamed(const std::string &directory, const std::string &prefix)
{
    int count = 0;
    DIR *fds = opendir("/proc/self/fd");
    if (!fds)
        return -1;
    const std::string start = directory + "/" + prefix;
    while (dirent *entry = readdir(fds)) {
        char target[PATH_MAX];
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)).rfind(start, 0) == 0)
            ++count;
    }
    closedir(fds);
    return count;
}

// An open over an installed trace object releases the old object and its file: no descriptor of
// the first file is left, only the second one is open, and the first file has its lines.
TEST_F(OutputTest, OpenOverAnInstalledObjectReleasesIt)
{
    TempDir dir("tracereopen");
    const std::string d = dir.path();
    struct Case {
        const char *what;
        std::function<bool(const char *name)> open;
    } cases[] = {
        {"file", [&](const char *name) { return TraceOpenFile((d + "/" + name).c_str(), 0) == 1; }},
        {"mode 1", [&](const char *name) { return TraceOpen(d.c_str(), name, nullptr, 1, 0) == 0; }},
        {"data mode 2", [&](const char *name) { return TraceOpenData(d.c_str(), name, "bin", 2, 0) == 0; }},
        {"mode 5", [&](const char *name) { return TraceOpen(d.c_str(), name, nullptr, 5, 0) == 0; }},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string first = "first" + std::to_string(i);
        const std::string second = "second" + std::to_string(i);
        ASSERT_TRUE(c.open(first.c_str())) << c.what;
        EXPECT_EQ(OpenFilesNamed(d, first), 1) << c.what;
        Trace("f", 1, 1, "into the first\n");
        ASSERT_TRUE(c.open(second.c_str())) << c.what;
        EXPECT_EQ(OpenFilesNamed(d, first), 0) << c.what;
        EXPECT_EQ(OpenFilesNamed(d, second), 1) << c.what;
        TraceClose();
        EXPECT_EQ(OpenFilesNamed(d, second), 0) << c.what;
        EXPECT_NE(ReadFile(dir.file(first)).find("into the first\n"), std::string::npos) << c.what;
        Fallback();
        ResetTraceParams();
    }
}

TEST(TraceFileMode, Table)
{
    struct Case {
        int mode, result, append, rotating, rplus;
    } cases[] = {{0, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, {2, 0, 1, 0, 0}, {3, 0, 3, 1, 0},
                 {4, 0, 1, 1, 1}, {5, 0, 0, 1, 0}, {6, 3, 0, 0, 0}, {-1, 3, 0, 0, 0}};
    for (const Case &c : cases) {
        int append = 0, rotating = 0, rplus = 0;
        EXPECT_EQ(TraceFileMode(c.mode, &append, &rotating, &rplus), c.result) << c.mode;
        EXPECT_EQ(append, c.append) << c.mode;
        EXPECT_EQ(rotating, c.rotating) << c.mode;
        EXPECT_EQ(rplus, c.rplus) << c.mode;
    }
}

// ---- Disk ----------------------------------------------------------------------------------

class DiskTest : public tracetest::TraceTest {
protected:
    void SetUp() override
    {
        TraceTest::SetUp();
        console = tmpfile();
        OnConsole(disk, console);
    }
    void TearDown() override
    {
        disk.Close();
        fclose(console);
        TraceTest::TearDown();
    }
    std::string Console() { return Text(console); }
    // The Disk's messages go to stream, and so does the Disk while it has no file. Setting the
    // console alone would leave the standard output as its file, which the next open closes.
    static void OnConsole(Disk &d, FILE *stream) { d.File = d.Console = stream; }
    static std::string Text(FILE *stream)
    {
        fflush(stream);
        rewind(stream);
        std::string text;
        char buffer[256];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, stream)) > 0)
            text.append(buffer, n);
        return text;
    }
    Disk disk;
    FILE *console = nullptr;
    TempDir dir{"disk"};
};

TEST_F(DiskTest, ArgumentsAndSizeLimit)
{
    ASSERT_EQ(disk.Open(dir.file("d").c_str(), 0, 0, 0), 0);
    EXPECT_EQ(disk.PutString(nullptr), 3);
    EXPECT_EQ(disk.PutBlock(nullptr, 1), 3);
    EXPECT_EQ(disk.PutString(""), 4);
    EXPECT_EQ(Console(),
              "Disk::PutString: illegal parameter NULL!\nDisk::PutBlock: illegal parameter NULL!\n");

    SetTraceRotating(1);
    SetTraceFilesize(10240);
    disk.SetReserve(240);
    EXPECT_EQ(disk.PutBlock("", 0), 4);
    std::string big(10001, 'b');
    EXPECT_EQ(disk.PutBlock(big.data(), 10001), 3);
    std::string fill(10000, 'f');
    EXPECT_EQ(disk.PutBlock(fill.data(), 10000), 0);
    EXPECT_EQ(disk.PutBlock("x", 1), 1);
    EXPECT_EQ(disk.Size, 10000u);
    // A reserve near the 32-bit end must not wrap round.
    disk.SetReserve(0xFFFFFFFFu);
    EXPECT_EQ(disk.PutBlock("x", 1), 3);
    disk.SetReserve(240);

    SetTraceRotating(0);
    EXPECT_EQ(disk.PutBlock(fill.data(), 10000), 0);
    EXPECT_EQ(disk.Size, 20000u);
    EXPECT_EQ(ReadFile(dir.file("d")).size(), 20000u);
    uint32_t size = 0;
    EXPECT_EQ(disk.GetSize(&size), 0);
    EXPECT_EQ(size, 20000u);

    EXPECT_EQ(disk.SetHeader("h"), 3);
    disk.Close();
    EXPECT_EQ(disk.File, console);
}

// What a failing Disk writes on its console: after a failed open the missing stream on every
// block until the next open or Close; for a write error nothing, the result 1 tells the caller.
TEST_F(DiskTest, ConsoleTextOfFailedWrites)
{
    const std::string missing = dir.file("no/such");
    const std::string noStream = "Disk::PutBlock: no filehandle!\n";
    struct Case {
        std::string path;
        int opened;        // result of the open
        std::string open;  // console text of the open
        int written;       // result of each write
        std::string each;  // console text of each write
    } cases[] = {
        {missing, 7, "Disk::Open(" + missing + ") No such file or directory\n", 3, noStream},
        {"/dev/full", 0, "", 1, ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        FILE *stream = tmpfile();
        ASSERT_NE(stream, nullptr);
        Disk d;
        OnConsole(d, stream);
        EXPECT_EQ(d.Open(c.path.c_str(), 1, 0, 0), c.opened) << "case " << i;
        std::string expected = c.open;
        for (const char *block : {"x\n", "y\n", "z\n"}) {
            EXPECT_EQ(d.PutString(block), c.written) << "case " << i << ": " << block;
            expected += c.each;
        }
        EXPECT_EQ(Text(stream), expected) << "case " << i;
        // Another open that succeeds ends the messages.
        ASSERT_EQ(d.Open(dir.file("good" + std::to_string(i)).c_str(), 0, 0, 0), 0) << "case " << i;
        EXPECT_EQ(d.PutString("good\n"), 0) << "case " << i;
        EXPECT_EQ(Text(stream), expected) << "case " << i;
        d.Close();
        EXPECT_EQ(ReadFile(dir.file("good" + std::to_string(i))), "good\n") << "case " << i;
        fclose(stream);
    }
    // So does Close: the Disk writes to its console stream again.
    EXPECT_EQ(disk.Open(missing.c_str(), 0, 0, 0), 7);
    EXPECT_EQ(disk.File, nullptr);
    EXPECT_EQ(disk.PutString("a\n"), 3);
    EXPECT_EQ(disk.PutString("b\n"), 3);
    disk.Close();
    EXPECT_EQ(disk.File, console);
    EXPECT_EQ(disk.PutString("on console\n"), 0);
    EXPECT_EQ(Console(), "Disk::Open(" + missing + ") No such file or directory\n" + noStream + noStream +
                             "on console\n");
}

// Every open of a Disk, the reopen of a rotation included, keeps its file from child processes.
TEST_F(DiskTest, EveryOpenIsCloseOnExec)
{
    struct Case {
        int append, binary, rplus;
    } cases[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 1}, {0, 1, 1}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string path = dir.file("exec" + std::to_string(i));
        ASSERT_EQ(disk.Open(path.c_str(), c.append, c.binary, c.rplus), 0) << "case " << i;
        EXPECT_NE(fcntl(fileno(disk.File), F_GETFD) & FD_CLOEXEC, 0) << "open, case " << i;
        ASSERT_EQ(disk.ReOpen((path + ".next").c_str()), 0) << "case " << i;
        EXPECT_NE(fcntl(fileno(disk.File), F_GETFD) & FD_CLOEXEC, 0) << "reopen, case " << i;
        EXPECT_EQ(disk.PutString("next\n"), 0) << "case " << i;
        disk.Close();
        EXPECT_EQ(ReadFile(path + ".next"), "next\n") << "case " << i;
    }
}

TEST_F(DiskTest, RplusAppendCreatesAndWritesAtTheEnd)
{
    std::string path = dir.file("r");
    ASSERT_EQ(disk.Open(path.c_str(), 1, 0, 1), 0);
    EXPECT_EQ(disk.Size, 0u);
    EXPECT_EQ(disk.PutString("one\n"), 0);
    disk.Close();
    ASSERT_EQ(disk.Open(path.c_str(), 1, 0, 1), 0);
    EXPECT_EQ(disk.Size, 4u);
    char buffer[3] = {};
    EXPECT_EQ(disk.ReadAt(buffer, 0, 2), 0);
    EXPECT_STREQ(buffer, "on");
    EXPECT_EQ(disk.PutString("two\n"), 0);
    disk.Close();
    EXPECT_EQ(ReadFile(path), "one\ntwo\n");
    // r+ without append truncates.
    ASSERT_EQ(disk.Open(path.c_str(), 0, 0, 1), 0);
    EXPECT_EQ(disk.Size, 0u);
    disk.Close();
    EXPECT_EQ(ReadFile(path), "");
}

const char *gReplacement = nullptr;
void Replacement(const char **record, uint32_t *length)
{
    *record = gReplacement;
    *length = 300;
}

TEST_F(DiskTest, BlockedRepairInEveryMode)
{
    std::string record(300, 'R');
    gReplacement = record.c_str();
    std::string block(300, 'B');
    struct Case {
        int append;
        int rplus;
    } cases[] = {{0, 1}, {1, 0}, {1, 1}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string path = dir.file("blocked" + std::to_string(i));
        WriteFile(path, std::string(1000, 'o'));
        Disk d;
        OnConsole(d, console);
        ASSERT_EQ(d.Open(path.c_str(), cases[i].append, 1, cases[i].rplus), 0) << "case " << i;
        if (!cases[i].append || cases[i].rplus) {
            // r+ without append starts empty: give it the torn 1000 bytes again.
            if (d.Size == 0) {
                std::string old(1000, 'o');
                ASSERT_EQ(d.PutBlock(old.data(), 1000), 0);
            }
        }
        d.SetBlocked(1);
        d.SetErrorCallback(Replacement);
        EXPECT_EQ(d.PutBlock(block.data(), 300), 0) << "case " << i;
        EXPECT_EQ(d.Size, 1500u) << "case " << i;
        d.Close();
        std::string text = ReadFile(path);
        ASSERT_EQ(text.size(), 1500u) << "case " << i;
        EXPECT_EQ(text.substr(0, 900), std::string(900, 'o')) << "case " << i;
        EXPECT_EQ(text.substr(900, 300), record) << "case " << i;
        EXPECT_EQ(text.substr(1200), block) << "case " << i;
    }
    // Without a callback the torn record cannot be mended: nothing is written.
    std::string path = dir.file("nocallback");
    WriteFile(path, std::string(10, 'o'));
    Disk d;
    OnConsole(d, console);
    ASSERT_EQ(d.Open(path.c_str(), 1, 1, 0), 0);
    d.SetBlocked(1);
    EXPECT_EQ(d.PutBlock(block.data(), 300), 3);
    d.Close();
    EXPECT_EQ(ReadFile(path).size(), 10u);
}

}  // namespace
