#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "testsupport.h"
#include "trace/rotatethread.h"
#include "tracetest.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using tracetest::Files;

namespace {

class RotateTest : public tracetest::TraceTest {
protected:
    void TearDown() override
    {
        for (Rotate *r : objects) {
            r->Close();
            delete r;
        }
        StopRotateThread();
        ExitGlobalRotate();
        TraceTest::TearDown();
    }
    Rotate *Make(const char *name, int appendValue, int rplus = 0, const char *header = nullptr)
    {
        Rotate *r = CreateRotate(dir.path().c_str(), name, header, 1, appendValue, rplus, nullptr);
        if (r)
            objects.push_back(r);
        return r;
    }
    void Config(const std::string &text) { WriteFile(dir.file("trace.cfg"), text); }
    std::string Banner(const char *date) { return std::string(date) + " " + std::string(39, '*') + "\n"; }

    TempDir dir{"rotate"};
    std::vector<Rotate *> objects;
};

std::string After(const std::string &line)
{
    size_t colon = line.find(":", line.find(")"));
    return colon == std::string::npos ? line : line.substr(colon + 1);
}

TEST_F(RotateTest, NewFileContentsAndLink)
{
    Config("TraceStampType=detailedtime\n");
    Rotate *r = Make(nullptr, 0);
    ASSERT_NE(r, nullptr);
    std::string dated = dir.file("logbuch-20261208-094501.log");
    EXPECT_STREQ(r->Current, dated.c_str());
    struct stat a, b;
    ASSERT_EQ(stat(dated.c_str(), &a), 0);
    ASSERT_EQ(stat(dir.file("logbuch").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(a.st_nlink, 2u);
    char tracefile[128];
    snprintf(tracefile, sizeof tracefile, "tracefile %.85s\n", dated.c_str());
    EXPECT_EQ(ReadFile(dated), std::string("logbuch\n") + tracefile +
                                   "Rollmode is rolldate, filesize is 52428800\n"
                                   "Delete files older than 10 days, keep 10 files always.\n" +
                                   Banner("08.12.2026"));
    // trace.cfg is written back with the values read.
    EXPECT_NE(ReadFile(dir.file("trace.cfg")).find("TraceStampType=detailedtime"), std::string::npos);
}

TEST_F(RotateTest, SettingsLines)
{
    Config("TraceRollHour=6\nTraceMinFiles=0\n");
    Rotate *r = Make("s", 0);
    ASSERT_NE(r, nullptr);
    std::string text = ReadFile(r->Current);
    EXPECT_NE(text.find("Rollmode is rolldate, filesize is 52428800\nRollhour is 6\nNo LogAge\n"),
              std::string::npos)
        << text;
}

TEST_F(RotateTest, SameSecondNamesGetCounters)
{
    Rotate *r = Make("n", 0);
    ASSERT_NE(r, nullptr);
    r->DoRotate();
    r->DoRotate();
    std::vector<std::string> expected = {"n", "n-20261208-094501.log", "n-20261208-094501_1.log",
                                         "n-20261208-094501_2.log"};
    EXPECT_EQ(Files(dir.path(), "n"), expected);
    auto first = tracetest::Lines(ReadFile(dir.file(expected[1])));
    EXPECT_NE(first.back().find(" rotate("), std::string::npos);
    EXPECT_EQ(After(first.back()), "A: trace rotate\n");
    auto last = tracetest::Lines(ReadFile(dir.file(expected[3])));
    EXPECT_EQ(After(last.back()), "A: trace reopen\n");
    EXPECT_STREQ(r->Current, dir.file(expected[3]).c_str());
}

TEST_F(RotateTest, SizeRotationLosesNoLine)
{
    Config("TraceFilesize=10240\nTraceRollMode=rollsize\n");
    Rotate *r = Make("size", 0);
    ASSERT_NE(r, nullptr);
    const int count = 1200;
    for (int i = 0; i < count; ++i) {
        clock.Advance(1);
        char line[64];
        snprintf(line, sizeof line, "line %05d of the numbered sequence\n", i);
        ASSERT_EQ(r->PutString(line), 0) << i;
    }
    std::vector<std::string> files = Files(dir.path(), "size-");
    ASSERT_GE(files.size(), 4u);
    int next = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        std::string text = ReadFile(dir.file(files[f]));
        EXPECT_LE(text.size(), 10240u) << files[f];
        auto lines = tracetest::Lines(text);
        for (size_t l = 0; l < lines.size(); ++l) {
            if (lines[l].compare(0, 5, "line ") == 0) {
                EXPECT_EQ(atoi(lines[l].c_str() + 5), next) << files[f];
                ++next;
            } else if (lines[l].find("trace reopen") != std::string::npos) {
                // The block that filled the old file is the first one after the reopen.
                ASSERT_LT(l + 1, lines.size()) << files[f];
                EXPECT_EQ(lines[l + 1].compare(0, 5, "line "), 0) << files[f];
            }
        }
        if (f + 1 < files.size()) {
            EXPECT_EQ(After(lines.back()), "A: trace rotate\n") << files[f];
        }
        if (f > 0) {
            EXPECT_NE(text.find("trace reopen"), std::string::npos) << files[f];
        }
    }
    EXPECT_EQ(next, count);
}

int gRotateCalls = 0;
void CountRotation()
{
    ++gRotateCalls;
}

// Held-back blocks that fill more than one file move on to new files; each of those rotations
// calls the rotate callback too, both in a requested rotation and when the file is closed.
TEST_F(RotateTest, RotateCallbackAfterEveryRotation)
{
    Config("TraceFilesize=10240\nTraceRollMode=rollsize\n");
    Rotate *r = Make("cb", 0);
    ASSERT_NE(r, nullptr);
    r->SetRotateCallback(CountRotation);
    auto rotations = [&] {
        int count = 0;
        for (const std::string &file : Files(dir.path(), "cb-"))
            for (const std::string &line : tracetest::Lines(ReadFile(dir.file(file))))
                count += After(line) == "A: trace rotate\n";
        return count;
    };
    int line = 0;
    auto hold = [&] {
        r->SetRotateFlag(1);
        for (int i = 0; i < 500; ++i) {
            char text[64];
            snprintf(text, sizeof text, "held line %05d of the numbered sequence\n", line++);
            ASSERT_EQ(r->PutString(text), 0);
        }
    };
    struct Step {
        const char *name;
        void (*finish)(Rotate *);
    } steps[] = {
        {"RotateNow", [](Rotate *o) { o->RotateNow(); }},
        {"Close",
         [](Rotate *o) {
             o->SetRotateFlag(0);
             o->Close();
         }},
    };
    gRotateCalls = 0;
    for (const Step &step : steps) {
        int before = rotations();
        hold();
        step.finish(r);
        // 500 lines of 40 bytes take two files at least beyond the first.
        EXPECT_GE(rotations() - before, 2) << step.name;
        EXPECT_EQ(gRotateCalls, rotations()) << step.name;
    }
    EXPECT_EQ(static_cast<int>(Files(dir.path(), "cb-").size()), rotations() + 1);
}

TEST_F(RotateTest, DateRotationAtMidnight)
{
    Rotate *r = Make("d", 0);
    ASSERT_NE(r, nullptr);
    clock.Set(2026, 12, 8, 23, 59, 59);
    ASSERT_EQ(r->PutString("before midnight\n"), 0);
    clock.Set(2026, 12, 9, 0, 0, 0);
    ASSERT_EQ(r->PutString("after midnight\n"), 0);
    ASSERT_EQ(r->PutString("later\n"), 0);
    std::vector<std::string> files = Files(dir.path(), "d-");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1], "d-20261209-000000.log");
    auto old = tracetest::Lines(ReadFile(dir.file(files[0])));
    EXPECT_EQ(old[old.size() - 2], "before midnight\n");
    auto fresh = tracetest::Lines(ReadFile(dir.file(files[1])));
    auto reopen = std::find_if(fresh.begin(), fresh.end(), [](const std::string &l) {
        return l.find("trace reopen") != std::string::npos;
    });
    ASSERT_NE(reopen, fresh.end());
    ASSERT_LT(reopen + 2, fresh.end());
    EXPECT_EQ(*(reopen + 1), "after midnight\n");
    EXPECT_EQ(*(reopen + 2), "later\n");

    // A new roll hour changes the period index: the next block rotates.
    clock.Set(2026, 12, 9, 13, 0, 0);
    SetTraceRollhour(12);
    ASSERT_EQ(r->PutString("new period\n"), 0);
    EXPECT_EQ(Files(dir.path(), "d-").size(), 3u);
}

TEST_F(RotateTest, RollsizePeriodEndWritesOnlyABanner)
{
    Config("TraceRollMode=rollsize\nTraceStampType=detailedtime\n");
    InitGlobalRotate();
    Rotate *r = Make("b", 0);
    ASSERT_NE(r, nullptr);
    clock.Set(2026, 12, 8, 23, 59, 59);
    ASSERT_EQ(r->PutString("one\n"), 0);
    clock.Set(2026, 12, 9, 0, 0, 1);
    ASSERT_EQ(r->PutString("two\n"), 0);
    EXPECT_EQ(Files(dir.path(), "b-").size(), 1u);
    std::string text = ReadFile(r->Current);
    EXPECT_NE(text.find("one\n" + Banner("09.12.2026") + "two\n"), std::string::npos) << text;

    // With datetime stamps a period end changes nothing in the file.
    SetTraceStamptype("datetime");
    clock.Set(2026, 12, 10, 0, 0, 1);
    ASSERT_EQ(r->PutString("three\n"), 0);
    EXPECT_NE(ReadFile(r->Current).find("two\nthree\n"), std::string::npos);
}

TEST_F(RotateTest, ReuseTodaysNewestFile)
{
    WriteFile(dir.file("logbuch-20261208-080000.log"), "first\n");
    WriteFile(dir.file("logbuch-20261208-090000.log"), "second\n");
    WriteFile(dir.file("logbuch-20261207-230000.log"), "yesterday\n");
    WriteFile(dir.file("logbuch-20261208-093000.txt"), "other extension\n");
    Rotate *r = Make(nullptr, 3);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->Current, dir.file("logbuch-20261208-090000.log").c_str());
    auto lines = tracetest::Lines(ReadFile(r->Current));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "second\n");
    EXPECT_EQ(After(lines[1]), "A: trace append\n");
    EXPECT_EQ(lines[2], "logbuch\n");
    EXPECT_EQ(ReadFile(r->Current).find("tracefile"), std::string::npos);
    EXPECT_EQ(clock.Seconds() % 60, 1);

    // A file of this very second is reused, and the next name made must be later.
    WriteFile(dir.file("x-20261208-094501.log"), "");
    int64_t before = clock.Seconds();
    Rotate *same = Make("x", 3);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(clock.Seconds(), before + 1);
}

TEST_F(RotateTest, DottedNameNeverReuses)
{
    WriteFile(dir.file("my.log-20261208-080000.log"), "old\n");
    Rotate *r = Make("my.log", 3);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->Current, dir.file("my.log-20261208-094501.log").c_str());
}

TEST_F(RotateTest, AppendToLinkedFile)
{
    WriteFile(dir.file("l"), "linked\n");
    Rotate *r = Make("l", 1, 1);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->PutString("more\n"), 0);
    auto lines = tracetest::Lines(ReadFile(dir.file("l")));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "linked\n");
    EXPECT_EQ(After(lines[1]), "A: trace append\n");
    EXPECT_EQ(lines.back(), "more\n");

    // Without the fixed name a new dated file is made, without a "tracefile" line.
    Rotate *fresh = Make("m", 1, 1);
    ASSERT_NE(fresh, nullptr);
    EXPECT_STREQ(fresh->Current, dir.file("m-20261208-094501.log").c_str());
    std::string text = ReadFile(fresh->Current);
    EXPECT_EQ(text.find("tracefile"), std::string::npos);
    EXPECT_EQ(text.find("trace append"), std::string::npos);
    EXPECT_EQ(text.compare(0, 2, "m\n"), 0);
}

TEST_F(RotateTest, DataMode)
{
    Rotate *r = CreateRotateData(dir.path().c_str(), "data", "binary12345", 0, 0, nullptr);
    ASSERT_NE(r, nullptr);
    objects.push_back(r);
    EXPECT_STREQ(r->Ext, "binary1234");
    EXPECT_EQ(ReadFile(r->Current), "");
    EXPECT_EQ(r->PutString("ignored\n"), 0);
    ASSERT_EQ(r->PutBlock("\x01\x02\x00\x03", 4), 0);
    std::string old = r->Current;
    r->DoRotate();
    std::string text = ReadFile(old);
    EXPECT_EQ(text.substr(0, 4), std::string("\x01\x02\x00\x03", 4));
    EXPECT_EQ(After(text.substr(4)), "A: trace rotate\n");
    EXPECT_EQ(ReadFile(r->Current), "");
}

TEST_F(RotateTest, InitFailures)
{
    // The header is measured against the limit in force before trace.cfg is read.
    SetTraceFilesize(10240);
    std::string header(6000, 'h');
    EXPECT_EQ(Make("h", 0, 0, header.c_str()), nullptr);

    testsupport::CaptureFd tooLong(1);
    std::string longName(250, 'n');
    EXPECT_EQ(Make(longName.c_str(), 0), nullptr);
    EXPECT_NE(tooLong.Text().find(" logname too long "), std::string::npos);

    Rotate r;
    EXPECT_EQ(r.InitNames("a", "b", nullptr), 0);
    EXPECT_EQ(r.InitNames("a", "b", nullptr), 3);
    Rotate bare;
    testsupport::CaptureFd noInit(1);
    EXPECT_EQ(bare.OpenTraceFile(0, 0), 3);
    EXPECT_EQ(bare.ReopenTraceFile(), 3);
    std::string out = noInit.Text();
    EXPECT_NE(out.find(" Init missing\n"), std::string::npos);
    EXPECT_NE(out.find(" Rotate::ReopenTraceFile: Init missing\n"), std::string::npos);
}

TEST_F(RotateTest, GlobalRequestNotices)
{
    Rotate *r = Make("g", 0);
    ASSERT_NE(r, nullptr);
    // Not initialised: an E notice in the requesting file, nothing else.
    GlobalWantRotate(r->Index);
    EXPECT_NE(ReadFile(r->Current)
                  .find("E: GlobalWantRotate called but Global Rotate is not initialized, ignored\n"),
              std::string::npos);
    EXPECT_EQ(r->RotateFlag, 0);

    InitGlobalRotate();
    SetTraceLevel(2);
    GlobalRefreshDate(r->Index);
    EXPECT_EQ(ReadFile(r->Current).find("GlobalRefreshDate called\n"), std::string::npos);
    EXPECT_EQ(r->RefreshFlag, 1);
    SetTraceLevel(3);
    GlobalWantRotate(r->Index);
    GlobalWantRotate(r->Index);
    std::string text = ReadFile(r->Current);
    size_t first = text.find("C: GlobalWantRotate called\n");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("C: GlobalWantRotate called\n", first + 1), std::string::npos);
    EXPECT_EQ(r->RotateFlag, 1);
    // Blocks are held back until the rotation.
    ASSERT_EQ(r->PutString("held\n"), 0);
    EXPECT_EQ(ReadFile(r->Current).find("held"), std::string::npos);
    std::string old = r->Current;
    r->RotateNow();
    EXPECT_EQ(r->RotateFlag, 0);
    EXPECT_NE(ReadFile(r->Current).find("held\n"), std::string::npos);
    EXPECT_NE(old, r->Current);
}

TEST_F(RotateTest, FailedReopenIsReportedOnEveryWriteAndRecovers)
{
    std::string sub = dir.file("sub");
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    Rotate *r = CreateRotate(sub.c_str(), "f", nullptr, 1, 0, 0, nullptr);
    ASSERT_NE(r, nullptr);
    objects.push_back(r);
    std::string first = r->Current;
    // The directory goes away under the open file.
    ASSERT_EQ(unlink(first.c_str()), 0);
    ASSERT_EQ(unlink((sub + "/f").c_str()), 0);
    ASSERT_EQ(unlink((sub + "/trace.cfg").c_str()), 0);
    ASSERT_EQ(rmdir(sub.c_str()), 0);
    testsupport::CaptureFd lost(1);
    clock.Advance(1);
    r->DoRotate();
    EXPECT_EQ(r->PutString("lost 1\n"), 3);
    EXPECT_EQ(r->PutString("lost 2\n"), 3);
    std::string out = lost.Text();
    // Each write without a file says so.
    EXPECT_EQ(out, "Disk::ReOpen(" + sub +
                       "/f-20261208-094502.log) No such file or directory\n"
                       "Disk::PutBlock: no filehandle!\n"
                       "Disk::PutBlock: no filehandle!\n");

    // A later rotation that succeeds writes to the new file again.
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    clock.Advance(1);
    testsupport::CaptureFd back(1);
    r->DoRotate();
    back.Text();
    EXPECT_EQ(r->PutString("back\n"), 0);
    EXPECT_NE(ReadFile(r->Current).find("back\n"), std::string::npos);
}

TEST(AgeList, InsertionOrderAndTies)
{
    AgeEntry *list = nullptr;
    list = AddAgeEntry("b", 20, list);
    list = AddAgeEntry("a", 10, list);
    list = AddAgeEntry("c", 20, list);
    list = AddAgeEntry("d", 15, list);
    list = AddAgeEntry("e", 10, list);
    std::string order;
    for (AgeEntry *e = list; e; e = e->next)
        order += e->path;
    EXPECT_EQ(order, "aedcb");
    FreeAgeList(list);
}

class LogAgeTest : public RotateTest {
protected:
    void Age(const std::string &name, int64_t daysOld, int64_t offset)
    {
        std::string path = dir.file(name);
        WriteFile(path, "x\n");
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = clock.Seconds() - daysOld * 86400 - offset;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
};

TEST_F(LogAgeTest, DeletesOnlyOldFilesBeyondMinFiles)
{
    Rotate *r = Make("age", 0);
    ASSERT_NE(r, nullptr);
    // Nine more dated files, three of them old, plus one of another extension: 12 counted.
    for (int i = 0; i < 8; ++i)
        Age("age-2026120" + std::to_string(i) + "-000000.log", 1, i);
    Age("age-old1.log", 30, 3);
    Age("age-old2.log", 20, 2);
    Age("age-old3.gz", 11, 1);
    Fallback();
    r->LogAge();
    std::vector<std::string> left = Files(dir.path(), "age");
    EXPECT_EQ(std::count(left.begin(), left.end(), "age-old1.log"), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), "age-old2.log"), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), "age-old3.gz"), 1);
    EXPECT_EQ(std::count(left.begin(), left.end(), "age"), 1);
    auto lines = tracetest::Lines(Fallback());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(After(lines[0]), "A:  " + dir.file("age-old1.log") + " deleted.\n");
    EXPECT_EQ(After(lines[1]), "A:  " + dir.file("age-old2.log") + " deleted.\n");
}

TEST_F(LogAgeTest, StatFailureEndsThePass)
{
    Rotate *r = Make("loop", 0);
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < 12; ++i)
        Age("loop-old" + std::to_string(i) + ".log", 30, i);
    ASSERT_EQ(symlink("loop-self", dir.file("loop-self").c_str()), 0);
    Fallback();
    r->LogAge();
    EXPECT_EQ(Files(dir.path(), "loop-old").size(), 12u);
    std::string out = Fallback();
    EXPECT_NE(out.find("E: LogAge: stat(" + dir.file("loop-self") + ") failed: "), std::string::npos) << out;
}

TEST_F(LogAgeTest, MinFilesZeroOrMissingDirectory)
{
    Rotate *r = Make("z", 0);
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < 12; ++i)
        Age("z-old" + std::to_string(i) + ".log", 30, i);
    SetTraceMinfiles(0);
    r->LogAge();
    EXPECT_EQ(Files(dir.path(), "z-old").size(), 12u);
    SetTraceMinfiles(10);
    Fallback();
    r->LogAge();
    EXPECT_EQ(Files(dir.path(), "z-old").size(), 9u);

    // A file directory that does not exist lists as empty: the pass is silent, every time.
    Rotate other;
    ASSERT_EQ(other.InitNames(dir.path().c_str(), "q", dir.file("gone").c_str()), 0);
    FILE *console = tmpfile();
    ASSERT_NE(console, nullptr);
    other.Console = console;
    Fallback();
    other.LogAge();
    other.LogAge();
    EXPECT_EQ(Fallback(), "");
    EXPECT_EQ(ftell(console), 0);
    other.Console = stdout;
    fclose(console);
}

}  // namespace
