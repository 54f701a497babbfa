#include "trace/fieldread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "testsupport.h"
#include "trace/support_testing.h"
#include "trace/timetext.h"
#include "tzguard.h"

namespace {

// A stream reading the given bytes (NULs included).
struct Stream {
    explicit Stream(const std::string &text) : data(text)
    {
        file = fmemopen(data.empty() ? nullptr : data.data(), data.empty() ? 1 : data.size(), "r");
        if (data.empty() && file != nullptr)
            getc(file);  // an empty stream: step past the one byte fmemopen needs
    }
    ~Stream()
    {
        if (file != nullptr)
            fclose(file);
    }
    std::string data;
    FILE *file = nullptr;
};

TEST(frdline, TakesTheWidthDropsTheRestAndTrailingWhiteSpace)
{
    Stream s(std::string("abcdefghij\nshort  \t\r\n\n  lead\nlast", 33));
    char buffer[5];
    ASSERT_EQ(frdline(s.file, 4, buffer), 1);
    EXPECT_STREQ(buffer, "abcd");
    ASSERT_EQ(frdline(s.file, 4, buffer), 1);  // the next reader starts on the next line
    EXPECT_STREQ(buffer, "shor");
    char wide[41];
    ASSERT_EQ(frdline(s.file, 40, wide), 1);
    EXPECT_STREQ(wide, "");
    ASSERT_EQ(frdline(s.file, 40, wide), 1);
    EXPECT_STREQ(wide, "  lead");
    ASSERT_EQ(frdline(s.file, 40, wide), 1);  // a last line without its newline
    EXPECT_STREQ(wide, "last");
    EXPECT_EQ(frdline(s.file, 40, wide), 0);
    EXPECT_STREQ(wide, "");
}

TEST(frdline, HostileLinesStayInsideTheBuffer)
{
    std::string longLine(100000, 'z');
    Stream s(longLine + "\n" + std::string("ab\0cd  \n", 8) + "x\n");
    char buffer[11];
    buffer[10] = '#';
    ASSERT_EQ(frdline(s.file, 9, buffer), 1);
    EXPECT_EQ(std::string(buffer), std::string(9, 'z'));
    EXPECT_EQ(buffer[10], '#');
    ASSERT_EQ(frdline(s.file, 9, buffer), 1);  // a NUL ends the text
    EXPECT_STREQ(buffer, "ab");
    char none[1];
    ASSERT_EQ(frdline(s.file, -3, none), 1);  // a negative width reads nothing of the line
    EXPECT_STREQ(none, "");
    EXPECT_EQ(frdline(s.file, 9, buffer), 0);
}

enum Reader { BYTE, HU, D, LU, LX, TIME_SECONDS };

TEST(FieldReaders, ConvertOneNumberALine)
{
    struct Case {
        Reader reader;
        const char *line;
        int result;
        int64_t value;  // -999 when the out value must stay as it was
    } cases[] = {
        {BYTE, "ff", 1, 0xff},
        {BYTE, "1ff", 0, 0xff},  // too big, the byte gets it modulo 256
        {BYTE, "zz", 0, 0},
        {BYTE, "0x10", 1, 0x10},
        {HU, "65535", 1, 65535},
        {HU, "65536", 0, -999},  // beyond 16 bits
        {HU, "", 0, -999},
        {D, "12   ", 1, 12},  // trailing blanks removed first
        {D, "  -7", 1, -7},
        {D, "2147483648", 0, -999},
        {D, "12345678901234567890123", 0, -999},
        {LU, "000000000000000000000000000000123", 1, 0},  // only the first 30 characters count
        {LU, "4294967295", 1, 4294967295LL},
        {LU, "4294967296", 0, -999},
        {LU, "word", 0, -999},
        {LX, "DeadBeef", 1, 0xdeadbeefLL},
        {LX, "123456789", 0, -999},
        {TIME_SECONDS, "", 1, 0},  // an empty line is time 0
        {TIME_SECONDS, "1000000000", 1, 1000000000},
        {TIME_SECONDS, "x", 0, -999},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        Stream s(std::string(c.line) + "\nnext\n");
        int result = -1;
        int64_t value = -999;
        switch (c.reader) {
        case BYTE: {
            uint8_t v = 0x55;
            result = frdline_byte(s.file, &v);
            value = v;
            break;
        }
        case HU: {
            uint16_t v = 0;
            result = frdline_hu(s.file, &v);
            value = result ? static_cast<int64_t>(v) : -999;
            break;
        }
        case D: {
            int32_t v = 0;
            result = frdline_d(s.file, &v);
            value = result ? static_cast<int64_t>(v) : -999;
            break;
        }
        case LU: {
            uint32_t v = 0;
            result = frdline_lu(s.file, &v);
            value = result ? static_cast<int64_t>(v) : -999;
            break;
        }
        case LX: {
            uint32_t v = 0;
            result = frdline_lx(s.file, &v);
            value = result ? static_cast<int64_t>(v) : -999;
            break;
        }
        case TIME_SECONDS: {
            int32_t v = 0;
            result = frdline_time(s.file, TIME_FLAG_SECONDS, &v);
            value = result ? static_cast<int64_t>(v) : -999;
            break;
        }
        }
        EXPECT_EQ(result, c.result) << "case " << i << " line " << c.line;
        if (c.value != -999 || c.result == 0) {
            EXPECT_EQ(value, c.value) << "case " << i << " line " << c.line;
        }
        char rest[10];
        ASSERT_EQ(frdline(s.file, 9, rest), 1) << "case " << i;
        EXPECT_STREQ(rest, "next") << "case " << i << ": the reader must stand after its line";
    }
}

TEST(FieldReaders, SignedFieldsKeepTheBits)
{
    Stream s("65535\n4294967295\nffffffff\n80\n12\n65536\n");
    int16_t hu = 0;
    int32_t lu = 0;
    int32_t lx = 0;
    char byte = 0;
    ASSERT_EQ(frdline_hu(s.file, &hu), 1);
    EXPECT_EQ(hu, -1);
    ASSERT_EQ(frdline_lu(s.file, &lu), 1);
    EXPECT_EQ(lu, -1);
    ASSERT_EQ(frdline_lx(s.file, &lx), 1);
    EXPECT_EQ(lx, -1);
    ASSERT_EQ(frdline_byte(s.file, &byte), 1);
    EXPECT_EQ(static_cast<unsigned char>(byte), 0x80u);
    ASSERT_EQ(frdline_hu(s.file, &hu), 1);
    EXPECT_EQ(hu, 12);
    EXPECT_EQ(frdline_hu(s.file, &hu), 0);
    EXPECT_EQ(hu, 12) << "a failed read leaves the field";
}

TEST(FieldReaders, FailAtTheEndOfTheStream)
{
    Stream s("");
    uint8_t b = 0;
    uint16_t hu = 0;
    int32_t d = 0;
    uint32_t u = 0;
    char c = 'x';
    EXPECT_EQ(frdline_byte(s.file, &b), 0);
    EXPECT_EQ(frdline_hu(s.file, &hu), 0);
    EXPECT_EQ(frdline_d(s.file, &d), 0);
    EXPECT_EQ(frdline_lu(s.file, &u), 0);
    EXPECT_EQ(frdline_lx(s.file, &u), 0);
    EXPECT_EQ(frdline_time(s.file, TIME_FLAG_SECONDS, &d), 0);
    EXPECT_EQ(frdline_date(s.file, &d), 0);
    EXPECT_EQ(frdline_c(s.file, &c), 0);
}

TEST(frdline_c, TakesTheFirstCharacterOfEachLine)
{
    Stream s("xyz\n\nq");
    char c = '?';
    ASSERT_EQ(frdline_c(s.file, &c), 1);
    EXPECT_EQ(c, 'x');
    ASSERT_EQ(frdline_c(s.file, &c), 1);
    EXPECT_EQ(c, '\0');  // an empty line
    ASSERT_EQ(frdline_c(s.file, &c), 1);
    EXPECT_EQ(c, 'q');
    EXPECT_EQ(frdline_c(s.file, &c), 0);
}

int32_t Local(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<int32_t>(mktime(&t));
}

int32_t Today(int hour, int minute, int second)
{
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<int32_t>(mktime(&t));
}

TEST(ParseDateTime, ReadsTheProductsDateForms)
{
    TimeZoneGuard zone("Europe/Berlin");
    struct Case {
        const char *text;
        int result;
        int32_t value;
    } cases[] = {
        {"", 1, 0},
        {"7.3.14 9:05", 1, Local(2014, 3, 7, 9, 5, 0)},
        {"7.3.14 9", 1, Local(2014, 3, 7, 9, 0, 0)},
        {" 7. 3.14  9:05:07", 1, Local(2014, 3, 7, 9, 5, 7)},  // as TimeToString writes it
        {"1.7.99 23:59:59", 1, Local(1999, 7, 1, 23, 59, 59)},
        {"1.7.69 12", 1, Local(1969, 7, 1, 12, 0, 0)},
        {"1.7.30 12", 1, Local(2030, 7, 1, 12, 0, 0)},
        {"1.7.68 12", 0, 0},                              // 2068 is beyond the 32-bit range
        {"1.7.2014 12", 1, Local(2014, 7, 1, 12, 0, 0)},  // the year is taken modulo 100
        {"9:05", 1, Today(9, 5, 0)},
        {"12", 1, Today(12, 0, 0)},
        {"9:05:07", 1, Today(9, 5, 7)},
        {"1000000000", 1, 1000000000},
        {"315529200", 1, 315529200},
        {"7.3.14", 0, 0},  // a date without an hour
        {"7/3/14 9", 0, 0},
        {"7.3.14 9.05", 0, 0},
        {"9-05", 0, 0},
        {"9:05:07:01", 0, 0},
        {"9:05x", 0, 0},  // only ":" may follow the minute
        {"abc", 0, 0},
        {"   ", 0, 0},         // white space only
        {"3000000000", 0, 0},  // seconds beyond the 32-bit range
        {"99999999999999999999", 0, 0},
        {"7.3.14 70000", 0, 0},  // an hour beyond 16 bits
        {"-5", 0, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        int32_t value = -7;
        int result = ParseDateTime(cases[i].text, &value);
        EXPECT_EQ(result, cases[i].result) << "case " << i << " text \"" << cases[i].text << "\"";
        if (cases[i].result == 1) {
            EXPECT_EQ(value, cases[i].value) << "case " << i << " text \"" << cases[i].text << "\"";
        }
    }
}

TEST(ParseDateTime, ReadsBackWhatTimeToStringWrites)
{
    TimeZoneGuard zone("Europe/Berlin");
    const int32_t times[] = {315529200, 1000000000, 1394010307, 1404205507, 2000000000};
    for (int32_t t : times) {
        char text[TIME_TEXT_SIZE];
        TimeToString(t, text);
        int32_t back = 0;
        ASSERT_EQ(ParseDateTime(text, &back), 1) << text;
        EXPECT_EQ(back, t) << text;

        Stream s(std::string(text) + "\n");
        back = 0;
        ASSERT_EQ(frdline_time(s.file, 0, &back), 1) << text;
        EXPECT_EQ(back, t) << text;
    }
}

TEST(FormatDateTime, WritesSecondsOrTheDateText)
{
    TimeZoneGuard zone("UTC");
    char buffer[TIME_TEXT_SIZE];
    EXPECT_EQ(FormatDateTime(buffer, TIME_FLAG_SECONDS, 1394010307), 10);
    EXPECT_STREQ(buffer, "1394010307");
    EXPECT_EQ(FormatDateTime(buffer, TIME_FLAG_SECONDS, -1), 10);
    EXPECT_STREQ(buffer, "4294967295");
    EXPECT_EQ(FormatDateTime(buffer, 0, 1394010307), 17);
    EXPECT_STREQ(buffer, " 5. 3.14  9:05:07");
    EXPECT_EQ(FormatDateTime(buffer, 0, 0), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(DoubleToString, NineDecimalsCutNotRounded)
{
    struct Case {
        double value;
        const char *text;
    } cases[] = {
        {-2.5, "-2.500000000"},
        {0.0, "0.000000000"},
        {3.25, "3.250000000"},
        {0.1, "0.100000000"},
        {2147483646.5, "2147483646.500000000"},
        {2147483647.0, "*****************"},
        {1e10, "*****************"},
        {-1e10, "-*****************"},
        {NAN, "*****************"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_STREQ(DoubleToString(cases[i].value), cases[i].text) << "case " << i;
}

TEST(AppendString, StopsAtTheRoomLeft)
{
    char buffer[8] = "ab";
    char *end = AppendString(buffer + 2, sizeof buffer - 2, "cd");
    EXPECT_EQ(end, buffer + 4);
    EXPECT_STREQ(buffer, "abcd");
    end = AppendString(end, sizeof buffer - 4, "efghijk");
    EXPECT_EQ(end, buffer + 7);
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_EQ(AppendString(end, 0, "x"), end);
}

int fakeResult;
uint64_t fakeAvailable;
uint64_t fakeTotal;

int FakeDiskSpace(const char *, uint64_t *available, uint64_t *total)
{
    *available = fakeAvailable;
    *total = fakeTotal;
    return fakeResult;
}

TEST(CheckDiskSpace, GradesTheFreeShare)
{
    struct Case {
        int result;
        uint64_t available, total;
        int expected;
    } cases[] = {
        {0, 60, 1000, 0},  {0, 50, 1000, 72},                     // exactly 5 per cent is not above it
        {0, 30, 1000, 72}, {0, 21, 1000, 72}, {0, 20, 1000, 73},  // exactly 2 per cent
        {0, 0, 1000, 73},  {0, 0, 0, 37},                         // a file system without a size
        {-1, 0, 0, 37},
    };
    DiskSpaceQuery before = SetDiskSpaceQuery(FakeDiskSpace);
    for (size_t i = 0; i < std::size(cases); ++i) {
        fakeResult = cases[i].result;
        fakeAvailable = cases[i].available;
        fakeTotal = cases[i].total;
        EXPECT_EQ(CheckDiskSpace("/x"), cases[i].expected) << "case " << i;
    }
    SetDiskSpaceQuery(before);
}

TEST(CheckDiskSpace, AsksTheRealFileSystem)
{
    testsupport::TempDir dir("diskspace");
    const std::string paths[] = {dir.path(), dir.file("not-yet/file.dat"), "", "relative-missing"};
    for (const std::string &p : paths)
        EXPECT_NE(CheckDiskSpace(p.c_str()), 37) << p;
}

TEST(SmallConverters, FlagsAndLetters)
{
    EXPECT_STREQ(TrueFalseText(1), "true");
    EXPECT_STREQ(TrueFalseText(0), "false");
    EXPECT_STREQ(OkText(7), "ok");
    EXPECT_STREQ(OkText(0), "not ok");
    EXPECT_EQ(YesNoChar(1), 'J');
    EXPECT_EQ(YesNoChar(0), 'N');
    int five = 5;
    EXPECT_EQ(ValueOrZero(&five), 5);
    EXPECT_EQ(ValueOrZero(nullptr), 0);
    EXPECT_NE(GetBannerText(), nullptr);
    EXPECT_EQ(strchr(GetBannerText(), '\n'), nullptr);

    struct Case {
        char c;
        char upper;
        bool yes;
    } cases[] = {{'a', 'A', false}, {'z', 'Z', false},       {'j', 'J', true},
                 {'Y', 'Y', true},  {'y', 'Y', true},        {'n', 'N', false},
                 {'1', '1', false}, {'\xe4', '\xe4', false}, {'{', '{', false}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(UpperChar(cases[i].c), cases[i].upper) << "case " << i;
        EXPECT_EQ(IsYes(cases[i].c), cases[i].yes) << "case " << i;
    }
    char text[] = "abc-\xe4xyz";
    EXPECT_EQ(UpperString(text), text);
    EXPECT_STREQ(text, "ABC-\xe4XYZ");
}

}  // namespace
