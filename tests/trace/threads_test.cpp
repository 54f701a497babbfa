#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <dirent.h>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"
#include "trace/rotatethread.h"
#include "tracetest.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using tracetest::Files;

namespace {

class ThreadsTest : public tracetest::TraceTest {
protected:
    void Old(const std::string &name, int64_t offset)
    {
        std::string path = dir.file(name);
        WriteFile(path, "x\n");
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = clock.Seconds() - 30 * 86400 - offset;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    TempDir dir{"tracethreads"};
};

TEST_F(ThreadsTest, OpenAndCloseTwice)
{
    for (int cycle = 0; cycle < 2; ++cycle) {
        std::string name = "cycle" + std::to_string(cycle);
        int passes = RotateThreadPasses();
        ASSERT_EQ(TraceOpen(dir.path().c_str(), name.c_str(), nullptr, 5, 1), 0) << cycle;
        // The rotation thread runs its first pass (aging) at once.
        EXPECT_GT(WaitRotateThreadPasses(passes + 1, 20000), passes) << cycle;
        EXPECT_EQ(GetRotateCount(), 1);
        Trace("t", 1, 1, "inside %d\n", cycle);
        TraceClose();
        EXPECT_EQ(TraceGetObject(), nullptr);
        EXPECT_EQ(GetRotateCount(), 0);
        EXPECT_EQ(IsRotateThreadStopped(), 1);
        std::string text = ReadFile(dir.file(name));
        EXPECT_NE(text.find("inside " + std::to_string(cycle) + "\n"), std::string::npos);
        EXPECT_NE(text.find("A: trace closed\n"), std::string::npos);
        Fallback();
        Trace("t", 2, 1, "after close\n");
        EXPECT_NE(Fallback().find("after close"), std::string::npos);
        ResetTraceParams();
    }
}

TEST_F(ThreadsTest, MinFilesChangeWakesAging)
{
    WriteFile(dir.file("trace.cfg"), "TraceMinFiles=0\n");
    for (int i = 0; i < 8; ++i)
        Old("w-old" + std::to_string(i) + ".log", i);
    ASSERT_EQ(TraceOpen(dir.path().c_str(), "w", nullptr, 5, 1), 0);
    int passes = WaitRotateThreadPasses(RotateThreadPasses() + 1, 20000);
    EXPECT_EQ(Files(dir.path(), "w-old").size(), 8u);
    // The pass woken by the change ages the files. A pass already under way may still have read
    // the old value, and the configuration thread's first reading of trace.cfg may put 0 back
    // after the change; so the value is set again until a pass has aged.
    for (int i = 0; i < 50 && Files(dir.path(), "w-old").size() != 4u; ++i) {
        SetTraceMinfiles(5);
        passes = WaitRotateThreadPasses(passes + 1, 400);
    }
    // The dated file and the four newest old ones stay.
    EXPECT_EQ(Files(dir.path(), "w-old").size(), 4u);
    TraceClose();
}

TEST_F(ThreadsTest, ConfigThreadRereads)
{
    WriteFile(dir.file("trace.cfg"), "TraceLevel=D\n");
    StartTraceConfigThread(dir.path().c_str());
    testsupport::WaitFor([] { return GetTraceLevel() == 2; }, 20000, 10);
    EXPECT_EQ(GetTraceLevel(), 2);
    StopTraceConfigThread();
    EXPECT_EQ(IsTraceConfigStopped(), 1);
    // A second start after a stop runs again.
    WriteFile(dir.file("trace.cfg"), "TraceLevel=C\n");
    StartTraceConfigThread(dir.path().c_str());
    testsupport::WaitFor([] { return GetTraceLevel() == 3; }, 20000, 10);
    EXPECT_EQ(GetTraceLevel(), 3);
    StopTraceConfigThread();
}

// Several writers fill a small trace file while a second registered object makes every rotation
// go through the rotation thread, and another thread keeps changing settings and waking it. No
// line may be lost, duplicated or reordered, and no lock may be taken out of order.
TEST_F(ThreadsTest, WritersAndRotationThread)
{
    WriteFile(dir.file("trace.cfg"), "TraceFilesize=10240\nTraceRollMode=rollsize\nTraceMinFiles=1000\n");
    ASSERT_EQ(TraceOpen(dir.path().c_str(), "t", nullptr, 5, 1), 0);
    Rotate *data = CreateRotateData(dir.path().c_str(), "data", "bin", 0, 0, nullptr);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(GetRotateCount(), 2);

    const int writers = 4;
    const int perWriter = 300;
    std::atomic<bool> done{false};
    std::thread settings([&] {
        int i = 0;
        while (!done.load()) {
            SetTraceMinfiles(1000 + (i++ % 2));
            WakeRotateThread();
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < perWriter; ++i) {
                clock.Advance(1);
                Trace("w", w, 1, "writer %d line %05d\n", w, i);
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    done.store(true);
    settings.join();
    TraceClose();
    data->Close();
    delete data;

    // Files made within one second carry a count (_1, _2, ... _10): order by stamp, then count.
    auto order = [](const std::string &name) {
        size_t dot = name.rfind('.');
        size_t bar = name.rfind('_', dot);
        if (bar == std::string::npos)
            return std::make_pair(name.substr(0, dot), 0);
        return std::make_pair(name.substr(0, bar), std::stoi(name.substr(bar + 1, dot - bar - 1)));
    };
    std::vector<std::string> files = Files(dir.path(), "t-");
    std::sort(files.begin(), files.end(),
              [&](const std::string &a, const std::string &b) { return order(a) < order(b); });
    std::vector<int> next(writers, 0);
    int rotated = 0;
    for (const std::string &file : files) {
        for (const std::string &line : tracetest::Lines(ReadFile(dir.file(file)))) {
            size_t at = line.find("writer ");
            if (at == std::string::npos) {
                rotated += line.find("trace rotate") != std::string::npos;
                continue;
            }
            int w = -1, n = -1;
            ASSERT_EQ(sscanf(line.c_str() + at, "writer %d line %d", &w, &n), 2) << line;
            ASSERT_GE(w, 0);
            ASSERT_LT(w, writers);
            EXPECT_EQ(n, next[w]) << file << ": " << line;
            next[w] = n + 1;
        }
    }
    for (int w = 0; w < writers; ++w)
        EXPECT_EQ(next[w], perWriter) << w;
    EXPECT_GE(rotated, 3);
}

// Writers stamp their lines while the clock moves on in steps of 100 ms: every thread keeps the
// stamp text of its last second, and each line still carries the stamp of the time it was
// taken, in both stamp types. A writer's stamps never go back, and the lines are exact.
TEST_F(ThreadsTest, StampsOfSeveralWritersFollowTheClock)
{
    const int writers = 4;
    const int perWriter = 400;
    for (const char *type : {"datetime", "detailedtime"}) {
        SetTraceStamptype(type);
        const bool datetime = IsTraceDatetime();
        clock.Set(2026, 12, 8, 9, 45, 1);
        Fallback();
        std::atomic<bool> done{false};
        std::thread ticker([&] {
            for (int i = 0; i < 100 && !done.load(); ++i) {
                clock.Advance(0, 100);
                std::this_thread::yield();
            }
        });
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([w] {
                for (int i = 0; i < perWriter; ++i)
                    Trace("t", 1, 1, "writer %d line %d\n", w, i);
            });
        }
        for (std::thread &t : threads)
            t.join();
        done.store(true);
        ticker.join();

        std::vector<int> next(writers, 0);
        std::vector<long> last(writers, 0);
        for (const std::string &line : tracetest::Lines(Fallback())) {
            // The milliseconds since 09:45:00 that the stamp names.
            int second = -1, ms = 0, w = -1, n = -1, used = 0;
            const char *rest = nullptr;
            if (datetime) {
                ASSERT_EQ(line.compare(0, 15, " 8.12.26  9:45:"), 0) << line;
                ASSERT_EQ(sscanf(line.c_str() + 15, "%2d%n", &second, &used), 1) << line;
                rest = line.c_str() + 15 + used;
            } else {
                ASSERT_EQ(line.compare(0, 6, "09:45:"), 0) << line;
                ASSERT_EQ(sscanf(line.c_str() + 6, "%2d.%3d%n", &second, &ms, &used), 2) << line;
                ASSERT_EQ(used, 6) << line;
                rest = line.c_str() + 6 + used;
            }
            ASSERT_EQ(sscanf(rest, " t(1):W: writer %d line %d", &w, &n), 2) << line;
            ASSERT_GE(w, 0);
            ASSERT_LT(w, writers);
            EXPECT_EQ(std::string(rest),
                      " t(1):W: writer " + std::to_string(w) + " line " + std::to_string(n) + "\n");
            long at = second * 1000L + ms;
            EXPECT_GE(at, 1000) << line;
            EXPECT_LE(at, 11000) << line;
            EXPECT_GE(at, last[w]) << line;
            last[w] = at;
            EXPECT_EQ(n, next[w]) << line;
            next[w] = n + 1;
        }
        for (int w = 0; w < writers; ++w)
            EXPECT_EQ(next[w], perWriter) << type << " writer " << w;
    }
}

}  // namespace

namespace {

// The rotation thread traces ("RotateFlag not found") while writers that hold the trace lock ask
// for rotations: with the rotations run outside the global and list locks this never deadlocks.
TEST_F(ThreadsTest, RotationThreadTracesWhileWritersRequest)
{
    ASSERT_EQ(TraceOpen(dir.path().c_str(), "o", nullptr, 5, 1), 0);
    Rotate *other = CreateRotateData(dir.path().c_str(), "other", "bin", 0, 0, nullptr);
    ASSERT_NE(other, nullptr);
    Rotate *installed = static_cast<Rotate *>(TraceGetObject());
    std::atomic<bool> done{false};
    std::thread requester([&] {
        for (int i = 0; i < 200; ++i) {
            GlobalWantRotate(installed->Index);
            // Unmarked again: the thread finds no flag on it and says so in a trace line.
            other->SetRotateFlag(0);
            std::this_thread::yield();
        }
        done.store(true);
    });
    std::thread writer([&] {
        int i = 0;
        while (!done.load())
            Trace("w", 1, 1, "line %d\n", i++);
    });
    requester.join();
    writer.join();
    TraceClose();
    other->Close();
    delete other;
    EXPECT_FALSE(Files(dir.path(), "o-").empty());
}

}  // namespace

namespace {

TEST_F(ThreadsTest, DataTraceSwallowsLinesAndTakesBlocks)
{
    ASSERT_EQ(TraceOpenData(dir.path().c_str(), "blk", "dat", 5, 1), 0);
    Disk *object = TraceGetObject();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->Blocked, 1);
    // Trace lines are neither written nor sent to the fallback stream.
    Trace("t", 1, 1, "not data\n");
    EXPECT_EQ(Fallback(), "");
    ASSERT_EQ(TraceWriteBlock("ABCD", 4), 0);
    ASSERT_EQ(TraceWriteBlock("EFGH", 4), 0);
    std::string path = static_cast<Rotate *>(object)->Current;
    EXPECT_EQ(TraceGetSize(), 8u);
    TraceClose();
    EXPECT_EQ(ReadFile(path), "ABCDEFGH");
    EXPECT_EQ(path, dir.file("blk-20261208-094501.dat"));
}

}  // namespace

namespace {

std::atomic<int> gRotations{0};
std::atomic<int> gRequestIndex{0};
// Asks for a rotation of every object from inside the first rotation of the installed one.
void RequestWhileRotating()
{
    if (gRotations.fetch_add(1) == 0)
        GlobalWantRotate(gRequestIndex.load());
}

// A request that arrives while the rotation thread is rotating is part of the rotation under way:
// every object rotates once, and none is found unmarked.
TEST_F(ThreadsTest, RequestWhileRotatingIsPartOfIt)
{
    int passes = RotateThreadPasses();
    ASSERT_EQ(TraceOpen(dir.path().c_str(), "q", nullptr, 5, 1), 0);
    Rotate *other = CreateRotateData(dir.path().c_str(), "qdata", "bin", 0, 0, nullptr);
    ASSERT_NE(other, nullptr);
    Rotate *installed = static_cast<Rotate *>(TraceGetObject());
    passes = WaitRotateThreadPasses(passes + 1, 20000);
    gRotations.store(0);
    gRequestIndex.store(installed->Index);
    ASSERT_EQ(TraceSetRotateCallback(RequestWhileRotating), 0);
    GlobalWantRotate(installed->Index);
    passes = WaitRotateThreadPasses(passes + 1, 20000);
    // One more pass: a second rotation, had the request been taken as a new one, is done by then.
    WakeRotateThread();
    WaitRotateThreadPasses(passes + 1, 20000);
    EXPECT_EQ(gRotations.load(), 1);
    TraceClose();
    other->Close();
    delete other;

    EXPECT_EQ(Files(dir.path(), "q-").size(), 2u);
    EXPECT_EQ(Files(dir.path(), "qdata-").size(), 2u);
    for (const std::string &file : Files(dir.path(), "q"))
        EXPECT_EQ(ReadFile(dir.file(file)).find("RotateFlag not found"), std::string::npos) << file;
    EXPECT_EQ(Fallback().find("RotateFlag not found"), std::string::npos);
}

// An object that fills up again after its rotation, while the pass still runs (here from the
// callback of the object rotated after it), asks in vain; the pass rotates it once more, so its
// held-back line is written without a further request.
Rotate *gRefill = nullptr;
std::atomic<int> gHeldLine{-1};

void RefillAfterRotation()
{
    if (gRotations.fetch_add(1) != 0)
        return;
    for (int i = 0; i < 1000; ++i) {
        TracePlain("t", 1, 1, "refill %04d %s\n", i, std::string(80, '#').c_str());
        gRefill->LockFile();
        bool held = gRefill->Pending != nullptr;
        gRefill->UnlockFile();
        if (held) {
            gHeldLine.store(i);
            return;
        }
    }
}

TEST_F(ThreadsTest, ObjectFullAgainDuringThePassIsRotatedAgain)
{
    WriteFile(dir.file("trace.cfg"), "TraceFilesize=10240\nTraceRollMode=rollsize\n");
    int passes = RotateThreadPasses();
    ASSERT_EQ(TraceOpen(dir.path().c_str(), "r", nullptr, 5, 1), 0);
    Rotate *other = CreateRotateData(dir.path().c_str(), "rdata", "bin", 0, 0, nullptr);
    ASSERT_NE(other, nullptr);
    gRefill = static_cast<Rotate *>(TraceGetObject());
    passes = WaitRotateThreadPasses(passes + 1, 20000);
    gRotations.store(0);
    gHeldLine.store(-1);
    other->SetRotateCallback(RefillAfterRotation);
    GlobalWantRotate(gRefill->Index);
    WaitRotateThreadPasses(passes + 1, 20000);
    ASSERT_GE(gHeldLine.load(), 0);
    // Read before TraceClose, which would write the held line in any case.
    char held[32];
    snprintf(held, sizeof held, "refill %04d ", gHeldLine.load());
    std::string all;
    for (const std::string &file : Files(dir.path(), "r-"))
        all += ReadFile(dir.file(file));
    EXPECT_NE(all.find(held), std::string::npos);
    EXPECT_EQ(all.find("RotateFlag not found"), std::string::npos);
    EXPECT_EQ(gRotations.load(), 1);
    TraceClose();
    other->Close();
    delete other;
    EXPECT_EQ(Files(dir.path(), "r-").size(), 3u);
    EXPECT_EQ(Files(dir.path(), "rdata-").size(), 2u);
}

// A setter that rejects a value writes its message after the default is in place. Each case fills
// a rotating file to its limit first, so the message moves it on to a new file, whose settings
// lines (or the message's own time stamp) show which value was in force.
TEST_F(ThreadsTest, RejectionMessagesFollowTheNewValue)
{
    struct Case {
        const char *config;
        void (*set)();
        const char *message;
        const char *inFile;  // in the file that takes the message
        const char *stamp;   // the message line's beginning, or null
    } cases[] = {
        {"TraceRollHour=5\n", [] { SetTraceRollhour(0); }, "E: illegal hours 0, set to 24\n",
         "Rollmode is rolldate, filesize is 10240\nDelete files older", nullptr},
        {"", [] { SetTraceFilesize(5000); },
         "E: filesize 5000 too small (minimum 10240), reset to default 52428800\n", "#########\n", nullptr},
        {"TraceMinFiles=0\n", [] { SetTraceMinfiles(-1); }, "E: illegal Minfiles -1, set to 10\n",
         "Delete files older than 10 days, keep 10 files always.\n", nullptr},
        {"TraceMinAge=3\n", [] { SetTraceMinage(-1); }, "E: illegal minage -1, set to 10\n",
         "Delete files older than 10 days, keep 10 files always.\n", nullptr},
        {"TraceRollMode=rollsize\n", [] { SetTraceRollmode("weekly"); },
         "E: unknown rollmode weekly, set to rolldate\n", "Rollmode is rolldate, filesize is 10240\n",
         nullptr},
        {"TraceStampType=detailedtime\n", [] { SetTraceStamptype("fancy"); },
         "E: unknown stamptype fancy, set to datetime\n", nullptr, " 8.12.26  9:45:01 trace_params("},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string name = std::string("p").append(std::to_string(i));
        ResetTraceParams();
        ResetRollDue();
        WriteFile(dir.file("trace.cfg"), std::string("TraceFilesize=10240\n") + c.config);
        ASSERT_EQ(TraceOpen(dir.path().c_str(), name.c_str(), nullptr, 5, 1), 0) << "case " << i;
        // The re-read of trace.cfg must not put the old value back behind the test's back.
        StopTraceConfigThread();
        Rotate *rotate = static_cast<Rotate *>(TraceGetObject());
        for (;;) {
            rotate->LockFile();
            uint32_t room = 10240 - kRotateReserve - rotate->Size;
            rotate->UnlockFile();
            if (room == 0)
                break;
            std::string fill(std::min<uint32_t>(room, 100) - 1, '#');
            TracePlain("t", 1, 1, "%s\n", fill.c_str());
        }
        c.set();
        TraceClose();

        std::string holder, line;
        for (const std::string &file : Files(dir.path(), name + "-")) {
            for (const std::string &l : tracetest::Lines(ReadFile(dir.file(file)))) {
                if (l.find(c.message) != std::string::npos) {
                    holder = file;
                    line = l;
                }
            }
        }
        ASSERT_FALSE(holder.empty()) << "case " << i;
        if (c.inFile) {
            EXPECT_NE(ReadFile(dir.file(holder)).find(c.inFile), std::string::npos)
                << "case " << i << ": " << holder;
        }
        if (c.stamp) {
            EXPECT_EQ(line.compare(0, strlen(c.stamp), c.stamp), 0) << "case " << i << ": " << line;
        }
    }
    Fallback();
}

}  // namespace
