#include "os/textcopy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// The C form, compiled by the C compiler (textcopy_c.c).
extern "C" size_t TextCopyFromC(char *dst, size_t size, const char *src);
extern "C" size_t TextCopyPaddedFromC(char *dst, size_t width, const char *src);
extern "C" size_t TextCopyFilledFromC(char *dst, size_t size, const char *src);

namespace {

constexpr char kUntouched = '#';

// The buffer of a case: `want` bytes as expected, the rest of it untouched.
void ExpectBytes(const char (&buf)[16], const std::string &want, size_t caseNo)
{
    ASSERT_LE(want.size(), sizeof buf);
    EXPECT_EQ(std::string(buf, want.size()), want) << "case " << caseNo;
    for (size_t k = want.size(); k < sizeof buf; ++k)
        ASSERT_EQ(buf[k], kUntouched) << "case " << caseNo << ", byte " << k;
}

struct Case {
    const char *src;
    size_t size;        // size of the destination (TextCopy) or its width (TextCopyPadded)
    size_t copied;      // the result
    std::string bytes;  // what lands in the destination
};

using CopyForm = size_t (*)(char *, size_t, const char *);

// Every case through the C++ form and through the same form compiled as C.
template <size_t N>
void RunCases(const Case (&cases)[N], CopyForm cxx, CopyForm c)
{
    for (size_t i = 0; i < N; ++i) {
        for (CopyForm form : {cxx, c}) {
            char buf[16];
            std::memset(buf, kUntouched, sizeof buf);
            EXPECT_EQ(form(buf, cases[i].size, cases[i].src), cases[i].copied)
                << "case " << i << (form == c ? " from C" : "");
            ExpectBytes(buf, cases[i].bytes, i);
        }
    }
}

TEST(TextCopy, CutsToSizeLessOneAndTerminates)
{
    const Case cases[] = {
        {"ABCDEFGHIJKLMNO", 11, 10, std::string("ABCDEFGHIJ\0", 11)},  // 15 characters into a field of 10
        {"abc", 11, 3, std::string("abc\0", 4)},                       // nothing behind the terminator
        {"abcdefghij", 11, 10, std::string("abcdefghij\0", 11)},       // exactly the field
        {"abc", 1, 0, std::string("\0", 1)},                           // room for the terminator only
        {"abc", 0, 0, ""},                                             // no room at all: nothing written
        {"", 5, 0, std::string("\0", 1)},
        {nullptr, 5, 0, std::string("\0", 1)},  // a missing text is empty
    };
    RunCases(cases, TextCopy, TextCopyFromC);
}

TEST(TextCopy, NeverReadsPastTheCopiedPart)
{
    // A field of 4 bytes without a terminator, read through a destination of 4: 3 characters.
    const char field[4] = {'w', 'x', 'y', 'z'};
    char out[4];
    EXPECT_EQ(TextCopy(out, sizeof out, field), 3u);
    EXPECT_STREQ(out, "wxy");
}

TEST(TextCopy, KnownLengthAndArrayForms)
{
    struct LengthCase {
        std::string src;
        size_t size;
        std::string bytes;
    } cases[] = {
        {"abcdef", 4, std::string("abc\0", 4)},
        {"ab", 4, std::string("ab\0", 3)},
        {std::string("a\0b", 3), 8, std::string("a\0b\0", 4)},  // the given length, NULs included
        {"", 4, std::string("\0", 1)},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        char buf[16];
        std::memset(buf, kUntouched, sizeof buf);
        TextCopy(buf, cases[i].size, std::string_view(cases[i].src));
        ExpectBytes(buf, cases[i].bytes, i);
    }

    char field[6];
    std::memset(field, kUntouched, sizeof field);
    EXPECT_EQ(TextCopy(field, "0123456789"), 5u);  // the array's size less one
    EXPECT_STREQ(field, "01234");
    EXPECT_EQ(TextCopy(field, std::string_view("0123456789", 7)), 5u);
    EXPECT_STREQ(field, "01234");
    EXPECT_EQ(TextCopy(field, "ab"), 2u);
    // The old text stays behind the terminator.
    EXPECT_EQ(std::string(field, sizeof field), (std::string{'a', 'b', '\0', '3', '4', '\0'}));
}

TEST(TextCopyPadded, FillsTheWidthWithNuls)
{
    const Case cases[] = {
        {"abc", 6, 3, std::string("abc\0\0\0", 6)},
        {"abcdefgh", 6, 6, "abcdef"},  // the text fills the width: no terminator
        {"abcdef", 6, 6, "abcdef"},
        {"", 3, 0, std::string("\0\0\0", 3)},
        {nullptr, 3, 0, std::string("\0\0\0", 3)},
        {"abc", 0, 0, ""},
    };
    RunCases(cases, TextCopyPadded, TextCopyPaddedFromC);
}

TEST(TextCopyFilled, TerminatesAndClearsTheRestOfTheField)
{
    const Case cases[] = {
        {"abc", 6, 3, std::string("abc\0\0\0", 6)},
        {"abcdefgh", 6, 5, std::string("abcde\0", 6)},  // cut to size less one, still terminated
        {"abcde", 6, 5, std::string("abcde\0", 6)},
        {"", 3, 0, std::string("\0\0\0", 3)},
        {nullptr, 3, 0, std::string("\0\0\0", 3)},
        {"abc", 1, 0, std::string("\0", 1)},
        {"abc", 0, 0, ""},
    };
    RunCases(cases, TextCopyFilled, TextCopyFilledFromC);
}

// The field copies written with strncpy and a terminator give the same bytes.
TEST(TextCopyFilled, SameBytesAsACutStrncpy)
{
    const char *sources[] = {"", "a", "abcdefghij", "abcdefghijk", "abcdefghijklmnopqrstuvwxyz"};
    for (const char *src : sources) {
        for (size_t size = 1; size <= 16; ++size) {
            char filled[16];
            char cut[16];
            std::memset(filled, kUntouched, sizeof filled);
            std::memset(cut, kUntouched, sizeof cut);
            TextCopyFilled(filled, size, src);
            std::strncpy(cut, src, size - 1);
            cut[size - 1] = '\0';
            EXPECT_EQ(std::string(filled, sizeof filled), std::string(cut, sizeof cut))
                << src << ", " << size;
        }
    }
}

TEST(TextCopyPadded, KeysSideBySide)
{
    // A user id of up to 10 characters and a name of up to 30 behind it, as a property key.
    char key[41];
    std::memset(key, kUntouched, sizeof key);
    TextCopyPadded(key, 10, "user1");
    TextCopyPadded(key + 10, 30, "GREETING");
    key[40] = '\0';
    EXPECT_EQ(std::string(key, 40), std::string("user1\0\0\0\0\0GREETING", 18) + std::string(22, '\0'));
    TextCopyPadded(key, 10, "abcdefghijklmn");
    EXPECT_EQ(std::string(key, 18), "abcdefghijGREETING");
}

}  // namespace
