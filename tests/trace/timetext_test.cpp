#include "trace/timetext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tzguard.h"

namespace {

TEST(TimeToString, WritesTheProductsDateText)
{
    TimeZoneGuard zone("UTC");
    struct Case {
        int32_t t;
        const char *text;
    } cases[] = {
        {0, " 1. 1.70  0:00:00"},
        {1394010307, " 5. 3.14  9:05:07"},  // blanks before day, month and hour
        {1000000000, " 9. 9.01  1:46:40"},
        {TIME_TEXT_MAX, "18. 1.38  3:14:07"},
        {2147483647, "18. 1.38  3:14:07"},  // clamped one day before the end
        {-1, "illegal time"},
        {INT32_MIN, "illegal time"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        char buffer[TIME_TEXT_SIZE];
        memset(buffer, 'x', sizeof buffer);
        int n = TimeToString(cases[i].t, buffer);
        EXPECT_STREQ(buffer, cases[i].text) << "case " << i;
        EXPECT_EQ(n, static_cast<int>(strlen(cases[i].text))) << "case " << i;
    }
}

TEST(TimeToString, ShowsLocalTime)
{
    TimeZoneGuard zone("Europe/Berlin");
    char buffer[TIME_TEXT_SIZE];
    TimeToString(1394010307, buffer);  // 09:05:07 UTC is 10:05:07 in winter
    EXPECT_STREQ(buffer, " 5. 3.14 10:05:07");
    TimeToString(1404205507, buffer);  // 1 July 2014 09:05:07 UTC, summer time
    EXPECT_STREQ(buffer, " 1. 7.14 11:05:07");
}

TEST(TimeToDateAndTime, WritesBothTextsOrIllegal)
{
    TimeZoneGuard zone("UTC");
    char date[DATE_TEXT_SIZE];
    char clock[CLOCK_TEXT_SIZE];
    EXPECT_EQ(TimeToDateAndTime(0, date, clock), 1);
    EXPECT_STREQ(date, "01.01.70");
    EXPECT_STREQ(clock, "00:00");
    EXPECT_EQ(TimeToDateAndTime(1394010307, date, clock), 1);
    EXPECT_STREQ(date, "05.03.14");
    EXPECT_STREQ(clock, "09:05");
    EXPECT_EQ(TimeToDateAndTime(2147483647, date, clock), 1);
    EXPECT_STREQ(date, "18.01.38");

    strcpy(clock, "keep");
    EXPECT_EQ(TimeToDateAndTime(-5, date, clock), 0);
    EXPECT_STREQ(date, "illegal");
    EXPECT_STREQ(clock, "keep");
}

TEST(SplitTime, FillsEveryField)
{
    TimeZoneGuard zone("UTC");
    int day, month, year, hour, minute, second, weekday;
    SplitTime(1394010307, &day, &month, &year, &hour, &minute, &second, &weekday);
    EXPECT_EQ(day, 5);
    EXPECT_EQ(month, 3);
    EXPECT_EQ(year, 114);
    EXPECT_EQ(hour, 9);
    EXPECT_EQ(minute, 5);
    EXPECT_EQ(second, 7);
    EXPECT_EQ(weekday, 3);  // a Wednesday
    // A negative value is widened with its sign: the last second of 1969.
    SplitTime(-1, &day, &month, &year, nullptr, nullptr, &second, nullptr);
    EXPECT_EQ(year, 69);
    EXPECT_EQ(month, 12);
    EXPECT_EQ(second, 59);
}

TEST(TimeNow, AgreesWithTheOutParameter)
{
    int32_t stored = 0;
    int32_t returned = GetTimeNow(&stored);
    EXPECT_EQ(stored, returned);
    EXPECT_GT(returned, 1600000000);
    EXPECT_GE(TimeNow(), returned);
}

TEST(StringToLong, ReadsDecimal32BitNumbers)
{
    struct Case {
        const char *text;
        int result;
        int32_t value;
    } cases[] = {
        {"-12", 1, -12},
        {"  42x", 1, 42},
        {"+7", 1, 7},
        {"2147483647", 1, 2147483647},
        {"-2147483648", 1, INT32_MIN},
        {"2147483648", 0, 0},  // beyond 32 bits
        {"99999999999999999999", 0, 0},
        {"abc", 0, 0},
        {"", 0, 0},
        {"   ", 0, 0},
        {"-", 0, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        int32_t value = 99;
        EXPECT_EQ(StringToLong(cases[i].text, &value), cases[i].result) << "case " << i;
        EXPECT_EQ(value, cases[i].value) << "case " << i;
    }
}

TEST(NumberTexts, FitTheirBuffersAtTheExtremes)
{
    EXPECT_STREQ(LongToString(INT32_MIN), "-2147483648");
    EXPECT_STREQ(LongToString(0), "0");
    EXPECT_STREQ(ULongToString(UINT32_MAX), "4294967295");
    EXPECT_STREQ(Hex8ToString(255), "      ff");
    EXPECT_STREQ(Hex8ToString(0xffffffffu), "ffffffff");
    char hex[HEX_TEXT_SIZE];
    EXPECT_EQ(HexToString(0xdeadbeefu, hex), 8);
    EXPECT_STREQ(hex, "deadbeef");
    EXPECT_EQ(HexToString(0, hex), 1);
    EXPECT_STREQ(hex, "0");
}

TEST(NumberTexts, StaticBufferIsOverwrittenByTheNextCall)
{
    const char *first = LongToString(1);
    const char *second = LongToString(2);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "2");
}

TEST(MaxMinInt, PickTheRightOne)
{
    struct Case {
        int a, b, max, min;
    } cases[] = {{1, 2, 2, 1}, {2, 1, 2, 1}, {-3, -3, -3, -3}, {INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(MaxInt(cases[i].a, cases[i].b), cases[i].max) << "case " << i;
        EXPECT_EQ(MinInt(cases[i].a, cases[i].b), cases[i].min) << "case " << i;
    }
}

TEST(StrPrintf, FormatsWithinTheBuffer)
{
    char buffer[8];
    EXPECT_EQ(StrPrintf(buffer, sizeof buffer, "%d-%s", 12, "ab"), buffer);
    EXPECT_STREQ(buffer, "12-ab");
    StrPrintf(buffer, sizeof buffer, "%s", "much too long for it");
    EXPECT_STREQ(buffer, "much to");
    StrPrintf(buffer, sizeof buffer, "%s", "");
    EXPECT_STREQ(buffer, "");
}

TEST(DebugLevel, StartsAtZeroAndKeepsTheLevel)
{
    EXPECT_EQ(GetDebugLevel(), 0);
    SetDebugLevel(5);
    EXPECT_EQ(GetDebugLevel(), 5);
    SetDebugLevel(0);
}

}  // namespace
