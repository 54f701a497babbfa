// The LDAP tool support library: option scanner, base64, copies, number, time and duration
// helpers, password input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "ldaptest.h"
#include "lutil/lutil.h"
#include "testsupport.h"

namespace {

struct Argv {
    explicit Argv(std::vector<std::string> args) : storage(std::move(args))
    {
        for (std::string &a : storage)
            pointers.push_back(a.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage.size()); }
    char **argv() { return pointers.data(); }
    std::vector<std::string> storage;
    std::vector<char *> pointers;
};

void ResetScanner()
{
    scan_index = 1;
    scan_position = 1;
    scan_argument = nullptr;
    scan_report_errors = 1;
}

TEST(LutilScanOption, AttachedAndSeparateArgumentsThenPlainWord)
{
    ResetScanner();
    Argv a({"prog", "-a", "-bvalue", "-b", "other", "word", "-a"});
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "ab:"), 'a');
    EXPECT_EQ(scan_argument, nullptr);
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "ab:"), 'b');
    EXPECT_STREQ(scan_argument, "value");
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "ab:"), 'b');
    EXPECT_STREQ(scan_argument, "other");
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "ab:"), -1);
    EXPECT_EQ(scan_index, 5);
}

TEST(LutilScanOption, GroupedLettersAndDoubleMinus)
{
    ResetScanner();
    Argv a({"prog", "-aa", "--", "-a"});
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "a"), 'a');
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "a"), 'a');
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "a"), -1);
    EXPECT_EQ(scan_index, 3);  // after "--"
}

TEST(LutilScanOption, LoneMinusEndsTheOptions)
{
    ResetScanner();
    Argv a({"prog", "-", "-a"});
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "a"), -1);
    EXPECT_EQ(scan_index, 1);
}

TEST(LutilScanOption, ErrorLinesOnDescriptorTwo)
{
    ResetScanner();
    Argv a({"prog", "-x", "-b"});
    testsupport::CaptureFd err(2);
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "ab:"), '?');
    EXPECT_EQ(scan_letter, 'x');
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "ab:"), '?');
    EXPECT_EQ(err.Text(), "prog: illegal option--x\nprog: option requires an argument--b\n");
}

TEST(LutilScanOption, ColonIsNeverAnOptionAndErrorsCanBeSilenced)
{
    ResetScanner();
    scan_report_errors = 0;
    Argv a({"prog", "-:"});
    testsupport::CaptureFd err(2);
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "a:"), '?');
    EXPECT_EQ(err.Text(), "");
    ResetScanner();
}

TEST(LutilScanOption, OverlongProgramNameStaysBounded)
{
    ResetScanner();
    Argv a({std::string(6000, 'p'), "-x"});
    testsupport::CaptureFd err(2);
    EXPECT_EQ(scan_option(a.argc(), a.argv(), "a"), '?');
    std::string text = err.Text();
    EXPECT_EQ(text.size(), 4097u);
    EXPECT_EQ(text.back(), '\n');
}

TEST(LutilBase64, EncodeTable)
{
    struct Case {
        std::string in, out;
    } cases[] = {{"", ""},
                 {"f", "Zg=="},
                 {"fo", "Zm8="},
                 {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="},
                 {"fooba", "Zm9vYmE="},
                 {"foobar", "Zm9vYmFy"},
                 {std::string("\xff\x00\x80", 3), "/wCA"}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        char out[32];
        int n = base64_encode(reinterpret_cast<const unsigned char *>(cases[i].in.data()), cases[i].in.size(),
                              out, sizeof out);
        ASSERT_EQ(n, static_cast<int>(cases[i].out.size())) << i;
        EXPECT_EQ(std::string(out), cases[i].out) << i;
    }
}

TEST(LutilBase64, EncodeNeedsRoomForTheTerminator)
{
    char out[8];
    const unsigned char in[] = "foobar";
    EXPECT_EQ(base64_encode(in, 6, out, 8), -1);
    EXPECT_EQ(base64_encode(in, 6, out, 9 - 1), -1);
    char exact[9];
    EXPECT_EQ(base64_encode(in, 6, exact, 9), 8);
}

TEST(LutilBase64, DecodeAcceptsAndRefuses)
{
    struct Case {
        const char *in;
        int result;
        const char *bytes;
    } cases[] = {
        {"Zm9vYmFy", 6, "foobar"},
        {" Zm9v\n YmFy ", 6, "foobar"},
        {"Zm8=", 2, "fo"},
        {"Zg==", 1, "f"},
        {"Zg = = ", 1, "f"},
        {"Zg=", -1, nullptr},    // one "=" after two data characters
        {"Zm9vY", -1, nullptr},  // stops inside a group without padding
        {"Z===", -1, nullptr},   // "=" after one data character
        {"====", -1, nullptr},
        {"Zm8=x", -1, nullptr},  // data after the padding
        {"Zm8=Zm8=", -1, nullptr},
        {"Zh==", -1, nullptr},  // unused bits not zero
        {"Zm9=", -1, nullptr},
        {"Zm9v!", -1, nullptr},  // outside the alphabet
        {"", 0, ""},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        unsigned char out[16] = {};
        int n = base64_decode(cases[i].in, out, sizeof out);
        EXPECT_EQ(n, cases[i].result) << i << " " << cases[i].in;
        if (n > 0) {
            EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), cases[i].bytes) << i;
        }
    }
}

TEST(LutilBase64, DecodeCountsWithoutBufferAndChecksRoom)
{
    EXPECT_EQ(base64_decode("Zm9vYmFy", nullptr, 0), 6);
    EXPECT_EQ(base64_decode("Zh==", nullptr, 0), 1);  // pad bits are only checked with a buffer
    unsigned char small[5];
    EXPECT_EQ(base64_decode("Zm9vYmFy", small, sizeof small), -1);
    unsigned char one[1];
    EXPECT_EQ(base64_decode("Zg==", one, 1), 1);
    EXPECT_EQ(one[0], 'f');
}

TEST(LutilBase64, RoundTripOfAllByteValues)
{
    unsigned char in[256];
    for (int i = 0; i < 256; i++)
        in[i] = static_cast<unsigned char>(i);
    for (size_t len = 0; len <= 256; len += 37) {
        char text[400];
        ASSERT_GE(base64_encode(in, len, text, sizeof text), 0);
        unsigned char back[300];
        ASSERT_EQ(base64_decode(text, back, sizeof back), static_cast<int>(len));
        EXPECT_EQ(std::memcmp(in, back, len), 0);
    }
}

TEST(LutilCopyText, ReturnsTheEndOfTheCopy)
{
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    char *end = copy_text(buf, "hello");
    EXPECT_EQ(end, buf + 5);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(copy_text(buf, nullptr), buf);
    EXPECT_EQ(copy_text(nullptr, "x"), nullptr);

    std::memset(buf, 'x', sizeof buf);
    end = copy_text_n(buf, "0123456789", 3);
    EXPECT_EQ(end, buf + 3);
    EXPECT_EQ(std::string(buf, 5), "0123x");
    end = copy_text_n(buf, "ab", 5);
    EXPECT_EQ(end, buf + 2);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(copy_text_n(buf, "abc", 0), buf);

    char bytes[4];
    EXPECT_EQ(copy_bytes_end(bytes, "a\0bc", 4), bytes + 4);
    EXPECT_EQ(std::memcmp(bytes, "a\0bc", 4), 0);
}

TEST(LutilNumbers, WholeTextParsers)
{
    unsigned long u = 7;
    EXPECT_EQ(parse_unsigned(&u, "42", 10), 0);
    EXPECT_EQ(u, 42u);
    EXPECT_EQ(parse_unsigned(&u, "ff", 16), 0);
    EXPECT_EQ(u, 255u);
    EXPECT_EQ(parse_unsigned(&u, "-1", 10), -1);
    EXPECT_EQ(parse_unsigned(&u, "12x", 10), -1);
    EXPECT_EQ(parse_unsigned(&u, "", 10), -1);
    EXPECT_EQ(parse_unsigned(&u, " 5", 10), 0);  // the lenient form takes leading blanks
    EXPECT_EQ(parse_unsigned_strict(&u, " 5", 10), -1);
    EXPECT_EQ(parse_unsigned_strict(&u, "99999999999999999999999", 10), -1);

    long l = 0;
    EXPECT_EQ(parse_long(&l, "-17", 10), 0);
    EXPECT_EQ(l, -17);
    EXPECT_EQ(parse_long_strict(&l, "\t3", 10), -1);
    EXPECT_EQ(parse_long_strict(&l, "-99999999999999999999", 10), -1);
    EXPECT_EQ(parse_long_strict(&l, "9223372036854775807", 10), 0);
    EXPECT_EQ(l, LONG_MAX);

    long long ll = 0;
    EXPECT_EQ(parse_long_long_strict(&ll, "-9223372036854775808", 10), 0);
    EXPECT_EQ(ll, LLONG_MIN);
    unsigned long long ull = 0;
    EXPECT_EQ(parse_unsigned_long_long_strict(&ull, "18446744073709551615", 10), 0);
    EXPECT_EQ(ull, ULLONG_MAX);
    EXPECT_EQ(parse_unsigned_long_long_strict(&ull, "18446744073709551616", 10), -1);
}

TEST(LutilNumbersDeathTest, MissingPointerStopsWithAMessageNamingUtils)
{
    EXPECT_DEATH(parse_unsigned(nullptr, "1", 10), "utils");
    unsigned long u;
    EXPECT_DEATH(parse_unsigned(&u, nullptr, 10), "utils");
}

TEST(LutilDuration, ParseTable)
{
    struct Case {
        const char *text;
        int result;
        unsigned long seconds;
    } cases[] = {
        {"1d2h", 0, 93600},     {"", 0, 0},      {"90", 0, 90},  {"1h30", 0, 3630},
        {"1d2h3m4s", 0, 93784}, {"2h1d", -1, 0}, {"-1s", -1, 0}, {"1h-5", -1, 0},
        {"h", -1, 0},           {"1x", -1, 0},   {"1s5", -1, 0}, {"1m1m", -1, 0},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        unsigned long s = 12345;
        EXPECT_EQ(parse_duration(cases[i].text, &s), cases[i].result) << cases[i].text;
        if (cases[i].result == 0) {
            EXPECT_EQ(s, cases[i].seconds) << cases[i].text;
        }
    }
}

TEST(LutilDuration, Format)
{
    char buf[32];
    ASSERT_EQ(format_duration(buf, sizeof buf, 3661), 0);
    EXPECT_STREQ(buf, "1h1m1s");
    ASSERT_EQ(format_duration(buf, sizeof buf, 0), 0);
    EXPECT_STREQ(buf, "0s");
    ASSERT_EQ(format_duration(buf, sizeof buf, 93600), 0);
    EXPECT_STREQ(buf, "1d2h");
    EXPECT_EQ(format_duration(buf, 4, 3661), -1);
}

TEST(LutilGeneralizedTime, ParseLimits)
{
    BrokenDownTime tm{};
    ASSERT_EQ(parse_generalized_time("20240229235960Z", &tm), 0);
    EXPECT_EQ(tm.year, 124);
    EXPECT_EQ(tm.mon, 1);
    EXPECT_EQ(tm.mday, 29);
    EXPECT_EQ(tm.sec, 60);
    ASSERT_EQ(parse_generalized_time("20240101000000.5Z", &tm), 0);
    EXPECT_EQ(tm.usec, 500000);
    ASSERT_EQ(parse_generalized_time("20240101000000.000123Z", &tm), 0);
    EXPECT_EQ(tm.usec, 123);
    for (const char *bad :
         {"20241301000000Z", "20240100000000Z", "20240132000000Z", "20240101240000Z", "20240101006000Z",
          "20240101000062Z", "2024010100000Z", "20240101000000", "20240101000000.Z", "2024010100000xZ"}) {
        EXPECT_EQ(parse_generalized_time(bad, &tm), -1) << bad;
    }
}

TEST(LutilGeneralizedTime, SecondsSince1970)
{
    BrokenDownTime tm{};
    SecondsTime s{};
    ASSERT_EQ(parse_generalized_time("19700101000000Z", &tm), 0);
    broken_down_to_seconds(&tm, &s);
    EXPECT_EQ(s.high, 0);
    EXPECT_EQ(s.low, 0u);
    ASSERT_EQ(parse_generalized_time("20240301123456.25Z", &tm), 0);
    broken_down_to_seconds(&tm, &s);
    EXPECT_EQ(s.high, 0);
    EXPECT_EQ(s.low, 1709296496u);
    EXPECT_EQ(s.usec, 250000);
    // 2^32 seconds; the divisible-by-4 rule counts 2100 as a leap year, one day early.
    ASSERT_EQ(parse_generalized_time("21060206062816Z", &tm), 0);
    broken_down_to_seconds(&tm, &s);
    EXPECT_EQ(s.high, 1);
    EXPECT_EQ(s.low, 0u);
    BrokenDownTime zero{-1900, 0, 1, 0, 0, 0, 0};
    broken_down_to_seconds(&zero, &s);
    EXPECT_EQ(s.high, 0);
    EXPECT_EQ(s.low, 0u);
}

TEST(LutilGeneralizedTime, Format)
{
    struct tm t {};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 1;
    t.tm_hour = 12;
    t.tm_min = 34;
    t.tm_sec = 56;
    char buf[32];
    EXPECT_EQ(format_generalized_time(buf, 16, &t, 0), 15u);
    EXPECT_STREQ(buf, "20240301123456Z");
    EXPECT_EQ(format_generalized_time(buf, 15, &t, 0), 0u);
    EXPECT_EQ(format_generalized_time(buf, sizeof buf, &t, 5400), 19u);
    EXPECT_STREQ(buf, "20240301123456+0130");
    EXPECT_EQ(format_generalized_time(buf, sizeof buf, &t, -3600), 19u);
    EXPECT_STREQ(buf, "20240301123456-0100");
    EXPECT_EQ(format_generalized_time(buf, 19, &t, 3600), 15u);  // no room for the zone
}

std::string Hex(const struct berval &bv)
{
    std::string s;
    char b[4];
    for (ber_len_t i = 0; i < bv.bv_len; i++) {
        std::snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(bv.bv_val[i]));
        s += b;
    }
    return s;
}

TEST(LutilBigInteger, DecimalAndHexTable)
{
    struct Case {
        const char *text;
        int result;
        const char *hex;
    } cases[] = {
        {"0", 0, "00"},
        {"127", 0, "7F"},
        {"128", 0, "0080"},
        {"255", 0, "00FF"},
        {"256", 0, "0100"},
        {"-1", 0, "FF"},
        {"-128", 0, "80"},
        {"-129", 0, "FF7F"},
        {"123456789012345678901234567890", 0, "018EE90FF6C373E0EE4E3F0AD2"},
        {"-123456789012345678901234567890", 0, "FE7116F0093C8C1F11B1C0F52E"},
        {"0x1234", 0, "1234"},
        {"0xABC", 0, "0ABC"},
        {"0x0123456789", 0, "0123456789"},
        {"'0AFF'H", 0, "0AFF"},
        {"12a4", -1, nullptr},
        {"0xZZ", -1, nullptr},
        {"-", -1, nullptr},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        std::string text = cases[i].text;
        berval in{static_cast<ber_len_t>(text.size()), text.data()};
        char buf[128];
        berval out{static_cast<ber_len_t>(text.size()), buf};
        EXPECT_EQ(parse_big_integer(&in, &out), cases[i].result) << text;
        if (cases[i].result == 0) {
            EXPECT_EQ(Hex(out), cases[i].hex) << text;
        }
    }
    std::string text = "1234";
    berval in{4, text.data()};
    char buf[8];
    berval small{3, buf};
    EXPECT_EQ(parse_big_integer(&in, &small), -1);
}

TEST(LutilBigInteger, LargeNumberUsesAllocatedWorkBuffer)
{
    std::string text(100, '9');  // 10^100 - 1
    berval in{static_cast<ber_len_t>(text.size()), text.data()};
    std::vector<char> buf(text.size());
    berval out{static_cast<ber_len_t>(buf.size()), buf.data()};
    ASSERT_EQ(parse_big_integer(&in, &out), 0);
    EXPECT_EQ(out.bv_len, 42u);  // 333 bits, top bit of the first byte clear: no sign byte
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0x12);
}

TEST(LutilFormatBounded, FitAndCut)
{
    char buf[8];
    char *end = nullptr;
    size_t length = 0;
    EXPECT_EQ(format_bounded(buf, sizeof buf, &end, &length, "%s", "abc"), 0);
    EXPECT_EQ(end, buf + 3);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(format_bounded(buf, sizeof buf, &end, &length, "%d-%s", 12345, "abcdef"), 1);
    EXPECT_EQ(end, buf + 7);
    EXPECT_EQ(length, 12u);
    EXPECT_STREQ(buf, "12345-a");
}

TEST(LutilSmallHelpers, ProgramNameLastByteUniqueFile)
{
    char path[] = "/usr/bin/Tool.EXE";
    char *argv[] = {path, nullptr};
    char fallback[] = "fallback";
    EXPECT_STREQ(program_base_name(fallback, 1, argv), "Tool");
    EXPECT_STREQ(path, "\\usr\\bin\\Tool");
    EXPECT_EQ(program_base_name(fallback, 0, argv), fallback);
    char shortName[] = ".exe";
    char *argv2[] = {shortName, nullptr};
    EXPECT_STREQ(program_base_name(fallback, 1, argv2), ".exe");

    const char data[] = "a,b,c";
    EXPECT_EQ(find_last_byte(data, ',', 5), data + 3);
    EXPECT_EQ(find_last_byte(data, ',', 3), data + 1);
    EXPECT_EQ(find_last_byte(data, 'z', 5), nullptr);

    testsupport::TempDir dir;
    std::string name = dir.file("uniqXXXXXX");
    std::vector<char> tmpl(name.begin(), name.end());
    tmpl.push_back('\0');
    int fd = create_unique_file(tmpl.data());
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(std::string(tmpl.data()), name);
    close(fd);
}

// Runs prompt_password with `input` on stdin; returns the result (or "<null>") and stderr.
std::pair<std::string, std::string> Prompt(const std::string &input, const char *prompt)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("in"), input);
    FILE *saved = stdin;
    FILE *in = std::fopen(dir.file("in").c_str(), "r");
    stdin = in;
    testsupport::CaptureFd err(2);
    char *got = prompt_password(prompt);
    std::string text = got ? got : "<null>";
    std::string errText = err.Text();
    stdin = saved;
    std::fclose(in);
    return {text, errText};
}

TEST(LutilPromptPassword, LinesEndOfInputAndLongLines)
{
    auto r = Prompt("s3cret\nrest\n", nullptr);
    EXPECT_EQ(r.first, "s3cret");
    EXPECT_EQ(r.second, "Password: ");
    r = Prompt("abc\rdef", "Enter: ");
    EXPECT_EQ(r.first, "abc");
    EXPECT_EQ(r.second, "Enter: ");
    r = Prompt("no line end", nullptr);
    EXPECT_EQ(r.first, "<null>");
    r = Prompt(std::string(600, 'x') + "\n", nullptr);
    EXPECT_EQ(r.first, std::string(511, 'x'));
}

TEST(LutilPasswordFile, WholeContentWithWarningForOthers)
{
    testsupport::TempDir dir;
    const std::string path = dir.file("pw");
    testsupport::WriteFile(path, "top\nsecret\n", 0600);
    berval value{0, nullptr};
    {
        testsupport::CaptureFd err(2);
        ASSERT_EQ(read_password_file(path.c_str(), &value), 0);
        EXPECT_EQ(err.Text(), "");
    }
    EXPECT_EQ(std::string(value.bv_val, value.bv_len), "top\nsecret\n");
    EXPECT_EQ(value.bv_val[value.bv_len], '\0');
    ber_memfree(value.bv_val);

    chmod(path.c_str(), 0644);
    testsupport::CaptureFd err(2);
    ASSERT_EQ(read_password_file(path.c_str(), &value), 0);
    EXPECT_EQ(err.Text(), "Warning: Password file " + path + " is publicly readable/writeable\n");
    ber_memfree(value.bv_val);
}

TEST(LutilPasswordFile, LargeAndEmptyFilesAndMissingFile)
{
    testsupport::TempDir dir;
    std::string big(10000, 'k');
    testsupport::WriteFile(dir.file("big"), big, 0600);
    berval value{0, nullptr};
    ASSERT_EQ(read_password_file(dir.file("big").c_str(), &value), 0);
    EXPECT_EQ(std::string(value.bv_val, value.bv_len), big);
    ber_memfree(value.bv_val);

    testsupport::WriteFile(dir.file("empty"), "", 0600);
    ASSERT_EQ(read_password_file(dir.file("empty").c_str(), &value), 0);
    EXPECT_EQ(value.bv_len, 0u);
    ber_memfree(value.bv_val);

    testsupport::CaptureFd err(2);
    EXPECT_EQ(read_password_file(dir.file("missing").c_str(), &value), -1);
    EXPECT_NE(err.Text().find(dir.file("missing") + ": No such file"), std::string::npos);
}

}  // namespace
