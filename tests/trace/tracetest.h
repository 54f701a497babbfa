// Helpers of the trace library tests: a fake clock that moves only when told (and whose sleep
// advances it), a captured fallback stream and event sink, a reset of the process-wide state,
// and the listing of a test directory.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "os/sysutil.h"
#include "trace/eventlog.h"
#include "trace/rotate.h"
#include "trace/trace.h"
#include "trace/trace_params.h"

namespace tracetest {

struct FakeClock {
    std::mutex lock;
    timespec now{};

    static void Now(timespec *out, void *context)
    {
        auto *self = static_cast<FakeClock *>(context);
        std::lock_guard<std::mutex> guard(self->lock);
        *out = self->now;
    }
    static void Sleep(int32_t milliseconds, void *context)
    {
        if (milliseconds > 0)
            static_cast<FakeClock *>(context)->Advance(0, milliseconds);
    }
    // Local time (the tests run with TZ=UTC).
    void Set(int year, int month, int day, int hour, int minute, int second, int ms = 0)
    {
        struct tm t {};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        std::lock_guard<std::mutex> guard(lock);
        now.tv_sec = timegm(&t);
        now.tv_nsec = ms * 1000000L;
    }
    void Advance(int64_t seconds, int64_t milliseconds = 0)
    {
        std::lock_guard<std::mutex> guard(lock);
        int64_t ns = now.tv_nsec + milliseconds * 1000000;
        now.tv_sec += seconds + ns / 1000000000;
        now.tv_nsec = ns % 1000000000;
    }
    int64_t Seconds()
    {
        std::lock_guard<std::mutex> guard(lock);
        return now.tv_sec;
    }
    void Install()
    {
        SysClock clock{&FakeClock::Now, nullptr, &FakeClock::Sleep, this};
        SysSetClock(&clock);
    }
};

struct Event {
    uint16_t type;
    uint32_t identifier;
    std::string text;
};

// Every test starts from the defaults, with the fallback stream and the event log captured and a
// fake clock at 8 December 2026 09:45:01 UTC.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        ResetTraceParams();
        ResetRollDue();
        clock.Set(2026, 12, 8, 9, 45, 1);
        clock.Install();
        fallback = tmpfile();
        ASSERT_NE(fallback, nullptr);
        TraceSetFallbackStream(fallback);
        EventLogSetSink(&TraceTest::Sink, this);
    }
    void TearDown() override
    {
        if (TraceGetObject())
            TraceClose();
        TraceSetFallbackStream(nullptr);
        EventLogSetSink(nullptr, nullptr);
        SysSetClock(nullptr);
        fclose(fallback);
        ResetTraceParams();
        ResetRollDue();
    }
    // What reached the fallback stream since the last call.
    std::string Fallback()
    {
        fflush(fallback);
        long end = ftell(fallback);
        std::string text(static_cast<size_t>(end - consumed), '\0');
        fseek(fallback, consumed, SEEK_SET);
        size_t got = fread(text.data(), 1, text.size(), fallback);
        text.resize(got);
        fseek(fallback, 0, SEEK_END);
        consumed = end;
        return text;
    }
    static void Sink(uint16_t type, uint32_t identifier, const char *text, void *context)
    {
        static_cast<TraceTest *>(context)->events.push_back({type, identifier, text});
    }

    FakeClock clock;
    FILE *fallback = nullptr;
    long consumed = 0;
    std::vector<Event> events;
};

// Splits text at line ends, keeping them.
inline std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size() - 1;
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

// Names of the files in dir that begin with prefix, in byte order.
inline std::vector<std::string> Files(const std::string &dir, const std::string &prefix)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.compare(0, prefix.size(), prefix) == 0)
            names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tracetest
