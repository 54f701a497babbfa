#include "trace/timetext.h"

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "os/textcopy.h"

namespace {

std::atomic<int> debugLevel{0};

int32_t ClampTime(int32_t t)
{
    return t > TIME_TEXT_MAX ? TIME_TEXT_MAX : t;
}

}  // namespace

int32_t GetTimeNow(int32_t *now)
{
    // The record formats carry 32-bit seconds; the value wraps in 2038 like the files do.
    int32_t t = static_cast<int32_t>(time(nullptr));
    if (now != nullptr)
        *now = t;
    return t;
}

int32_t TimeNow()
{
    return GetTimeNow(nullptr);
}

void SplitTime(int32_t t, int *day, int *month, int *year, int *hour, int *minute, int *second, int *weekday)
{
    time_t wide = static_cast<time_t>(t);
    struct tm local = {};
    if (localtime_r(&wide, &local) == nullptr)
        local = tm{};
    if (day != nullptr)
        *day = local.tm_mday;
    if (month != nullptr)
        *month = local.tm_mon + 1;
    if (year != nullptr)
        *year = local.tm_year;
    if (hour != nullptr)
        *hour = local.tm_hour;
    if (minute != nullptr)
        *minute = local.tm_min;
    if (second != nullptr)
        *second = local.tm_sec;
    if (weekday != nullptr)
        *weekday = local.tm_wday;
}

int TimeToString(int32_t t, char *buffer)
{
    t = ClampTime(t);
    if (t < 0)
        return snprintf(buffer, TIME_TEXT_SIZE, "illegal time");
    int day, month, year, hour, minute, second;
    SplitTime(t, &day, &month, &year, &hour, &minute, &second, nullptr);
    return snprintf(buffer, TIME_TEXT_SIZE, "%2d.%2d.%02d %2d:%02d:%02d", day, month, year % 100, hour,
                    minute, second);
}

int TimeToDateAndTime(int32_t t, char *date, char *clock)
{
    t = ClampTime(t);
    if (t < 0) {
        snprintf(date, DATE_TEXT_SIZE, "illegal");
        return 0;
    }
    int day, month, year, hour, minute;
    SplitTime(t, &day, &month, &year, &hour, &minute, nullptr, nullptr);
    // The fields are in range, so the texts fit; the local buffer keeps the bound plain.
    char text[48];
    snprintf(text, sizeof text, "%02d.%02d.%02d", day, month, year % 100);
    TextCopy(date, DATE_TEXT_SIZE, text);
    snprintf(text, sizeof text, "%02d:%02d", hour, minute);
    TextCopy(clock, CLOCK_TEXT_SIZE, text);
    return 1;
}

int StringToLong(const char *text, int32_t *value)
{
    *value = 0;
    if (text == nullptr)
        return 0;
    char *end = nullptr;
    errno = 0;
    long long number = strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || number < INT32_MIN || number > INT32_MAX)
        return 0;
    *value = static_cast<int32_t>(number);
    return 1;
}

const char *LongToString(int32_t value)
{
    static char text[12];
    snprintf(text, sizeof text, "%" PRId32, value);
    return text;
}

const char *ULongToString(uint32_t value)
{
    static char text[12];
    snprintf(text, sizeof text, "%" PRIu32, value);
    return text;
}

const char *Hex8ToString(uint32_t value)
{
    static char text[12];
    snprintf(text, sizeof text, "%8" PRIx32, value);
    return text;
}

int HexToString(uint32_t value, char *buffer)
{
    return snprintf(buffer, HEX_TEXT_SIZE, "%" PRIx32, value);
}

int MaxInt(int a, int b)
{
    return b > a ? b : a;
}

int MinInt(int a, int b)
{
    return b < a ? b : a;
}

char *StrPrintf(char *buffer, size_t size, const char *format, ...)
{
    if (size == 0)
        return buffer;
    buffer[0] = '\0';
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, size, format, args);
    va_end(args);
    return buffer;
}

void SetDebugLevel(int level)
{
    debugLevel = level;
}

int GetDebugLevel()
{
    return debugLevel;
}
