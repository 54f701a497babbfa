// Character conversion: the whole mapping against glibc iconv where the two agree, the folds and
// private positions, the decoder's rules, and the bounds of every text form.
#include "uc2/uc2.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// iconv with its descriptor held for the test's life.
class Iconv {
public:
    Iconv(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok())
            iconv_close(cd_);
    }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // Converts all of `in`; false when iconv refuses any of it.
    bool Convert(const std::string &in, std::string *out)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::vector<char> buf(in.size() * 4 + 16);
        char *src = const_cast<char *>(in.data());
        size_t srcLeft = in.size();
        char *dst = buf.data();
        size_t dstLeft = buf.size();
        if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1))
            return false;
        out->assign(buf.data(), buf.size() - dstLeft);
        return true;
    }

private:
    iconv_t cd_;
};

std::string Utf8(uint32_t cp)
{
    char form[5];
    const int n = ucs_to_utf8(cp, form);
    return n > 0 ? std::string(form, static_cast<size_t>(n)) : std::string();
}

std::string ToIso(const std::string &utf8, size_t size = 256, const char *repl = nullptr)
{
    std::string buf(size, '\x7f');
    const char *r = utf8_to_iso_buf(utf8.c_str(), buf.data(), size, repl);
    return r ? std::string(r) : std::string("<null>");
}

// The characters the conversion treats differently from plain ISO-8859-15.
const std::set<uint32_t> &DroppedControls()
{
    static const std::set<uint32_t> set = [] {
        std::set<uint32_t> s;
        for (uint32_t c = 1; c <= 0x1F; ++c)
            if (c != 0x07 && c != 0x09 && c != 0x0A && c != 0x0C && c != 0x0D)
                s.insert(c);
        for (uint32_t c = 0x80; c <= 0x9F; ++c)
            s.insert(c);
        return s;
    }();
    return set;
}

struct Extra {
    uint32_t cp;
    unsigned char byte;
};

// Folds onto standard positions and the private positions 0x80 to 0x93.
const Extra kExtras[] = {
    {0x2000, 0x20}, {0x2001, 0x20}, {0x2002, 0x20}, {0x2003, 0x20}, {0x2004, 0x20}, {0x2005, 0x20},
    {0x2006, 0x20}, {0x2009, 0x20}, {0x200A, 0x20}, {0x2010, 0xAD}, {0x2011, 0xAD}, {0x2212, 0x2D},
    {0x2215, 0x2F}, {0x02C9, 0xAF}, {0x03BC, 0xB5}, {0x2219, 0xB7}, {0x0110, 0xD0}, {0x0189, 0xD0},
    {0x2018, 0x60}, {0x2019, 0x27}, {0x02C6, 0x81}, {0x02DC, 0x82}, {0x0131, 0x83}, {0x0192, 0x84},
    {0x201C, 0x85}, {0x201D, 0x86}, {0x2039, 0x87}, {0x203A, 0x88}, {0xFB01, 0x89}, {0xFB02, 0x8A},
    {0x2020, 0x8B}, {0x2021, 0x8C}, {0x2013, 0x8D}, {0x2022, 0x8E}, {0x02D8, 0x8F}, {0x201E, 0x90},
    {0x2026, 0x91}, {0x2030, 0x92}, {0x2122, 0x93},
};

TEST(Uc2Tables, ReverseDirectionEqualsIconvForEveryByte)
{
    Iconv iconv("UTF-8", "ISO-8859-15");
    ASSERT_TRUE(iconv.ok());
    for (unsigned b = 1; b < 256; ++b) {
        const char in[2] = {static_cast<char>(b), 0};
        std::string expected;
        ASSERT_TRUE(iconv.Convert(in, &expected)) << b;
        char buf[8];
        ASSERT_NE(iso_to_utf8_buf(in, buf, sizeof buf), nullptr);
        EXPECT_EQ(std::string(buf), expected) << "byte " << b;
        char form[5];
        EXPECT_EQ(iso_to_utf8(in, form), static_cast<int>(expected.size())) << b;
        EXPECT_EQ(std::string(form), expected) << b;
        EXPECT_EQ(iso_to_utf8_size(in), expected.size() + 1) << b;
    }
}

TEST(Uc2Tables, ForwardTableAgreesWithIconvExceptTheListedCharacters)
{
    Iconv iconv("ISO-8859-15", "UTF-8");
    ASSERT_TRUE(iconv.ok());
    std::set<uint32_t> extras;
    for (const Extra &e : kExtras)
        extras.insert(e.cp);
    int agree = 0;
    for (uint32_t cp = 1; cp <= 0xFFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        std::string iso;
        // iconv drops U+FEFF without a byte; count it as having no form.
        const bool known = iconv.Convert(Utf8(cp), &iso) && !iso.empty();
        const unsigned char ours = uc2_to_iso_tab[cp];
        if (DroppedControls().count(cp)) {
            EXPECT_EQ(ours, 0) << std::hex << cp;
        } else if (cp == 0x60) {
            EXPECT_EQ(ours, 0x80);
        } else if (extras.count(cp)) {
            EXPECT_FALSE(known) << std::hex << cp;  // iconv has no form; ours has one below
        } else if (known) {
            ASSERT_EQ(iso.size(), 1u);
            EXPECT_EQ(ours, static_cast<unsigned char>(iso[0])) << std::hex << cp;
            ++agree;
        } else {
            EXPECT_EQ(ours, 0) << std::hex << cp;
        }
    }
    // 255 bytes less 58 dropped controls and the grave accent.
    EXPECT_EQ(agree, 196);
}

TEST(Uc2Tables, FoldsAndPrivatePositions)
{
    for (const Extra &e : kExtras) {
        EXPECT_EQ(uc2_to_iso_tab[e.cp], e.byte) << std::hex << e.cp;
        unsigned char byte = 0;
        int mod = -1;
        ASSERT_EQ(uc2_to_iso(static_cast<uint16_t>(e.cp), &byte, &mod), 1);
        EXPECT_EQ(byte, e.byte);
        EXPECT_EQ(mod, UC2_MAPPED);
    }
    int nonZero = 0;
    for (unsigned char b : uc2_to_iso_tab)
        nonZero += b != 0;
    EXPECT_EQ(nonZero, 236);
}

TEST(Uc2Tables, ApostropheAndThreeLatinCharactersKeepTheirBytes)
{
    EXPECT_EQ(uc2_to_iso_tab[0x27], 0x27);
    EXPECT_EQ(uc2_to_iso_tab[0xD8], 0xD8);
    EXPECT_EQ(uc2_to_iso_tab[0xAC], 0xAC);
    EXPECT_EQ(uc2_to_iso_tab[0xF7], 0xF7);
    EXPECT_EQ(ToIso("O'Neill"), "O'Neill");
    EXPECT_EQ(ToIso("\xC3\x98yvind"), "\xD8yvind");
    EXPECT_EQ(ToIso("6 \xC3\xB7 2 \xC2\xAC"), "6 \xF7 2 \xAC");
}

TEST(Uc2Tables, IsoToUc2IsTheStandard)
{
    const std::pair<unsigned, uint16_t> differs[] = {
        {0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161}, {0xB4, 0x017D},
        {0xB8, 0x017E}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178},
    };
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t expected = static_cast<uint16_t>(b);
        for (const auto &d : differs)
            if (d.first == b)
                expected = d.second;
        uint16_t value = 0;
        ASSERT_EQ(iso_to_uc2(static_cast<unsigned char>(b), &value), 1);
        EXPECT_EQ(value, expected) << b;
    }
}

TEST(Uc2Tables, Ucs2RoundTripLosesOnlyTheListedBytes)
{
    for (unsigned b = 1; b < 256; ++b) {
        uint16_t value = 0;
        ASSERT_EQ(iso_to_uc2(static_cast<unsigned char>(b), &value), 1);
        unsigned char back = 0;
        int mod = -1;
        ASSERT_EQ(uc2_to_iso(value, &back, &mod), 1);
        if (DroppedControls().count(b)) {
            EXPECT_EQ(back, 0) << b;
            EXPECT_EQ(mod, UC2_NO_ISO) << b;
        } else if (b == 0x60) {
            EXPECT_EQ(back, 0x80);
        } else {
            EXPECT_EQ(back, b) << b;
        }
    }
}

TEST(Uc2Tables, Ucs2TextFormsAgreeWithIconv)
{
    Iconv iconv("UCS-2LE", "ISO-8859-15");
    ASSERT_TRUE(iconv.ok());
    std::string all;
    for (unsigned b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::string expected;
    ASSERT_TRUE(iconv.Convert(all, &expected));
    std::unique_ptr<uint16_t, decltype(&free)> units(iso_to_uc2_dup(all.c_str()), &free);
    ASSERT_NE(units, nullptr);
    ASSERT_EQ(expected.size(), 255u * 2);
    EXPECT_EQ(memcmp(units.get(), expected.data(), expected.size()), 0);
    EXPECT_EQ(units.get()[255], 0);
}

// ---- single characters ---------------------------------------------------------------------

struct DecodeCase {
    const char *in;
    int valid;
    uint16_t value;
    size_t advance;
};

TEST(Uc2Decode, AdvanceAndValidity)
{
    const DecodeCase cases[] = {
        {"A", 1, 0x41, 1},
        {"", 1, 0, 1},
        {"\xC3\xA4", 1, 0xE4, 2},
        {"\xE2\x82\xAC", 1, 0x20AC, 3},
        {"\x80", 0, 0xFFFD, 1},  // continuation in lead position
        {"\xBF", 0, 0xFFFD, 1},
        {"\xC3", 0, 0xFFFD, 1},  // truncated at the end
        {"\xC3"
         "A",
         0, 0xFFFD, 1},              // second byte not a continuation
        {"\xC0\x80", 0, 0xFFFD, 2},  // overlong two-byte form
        {"\xC1\xBF", 0, 0xFFFD, 2},
        {"\xE2"
         "A",
         0, 0xFFFD, 1},
        {"\xE2\x82", 0, 0xFFFD, 2},  // truncated three-byte form
        {"\xE2\x82"
         "A",
         0, 0xFFFD, 2},
        {"\xE0\x80\x80", 0, 0xFFFD, 3},  // overlong three-byte form
        {"\xED\xA0\x80", 1, 0xD800, 3},  // surrogate accepted by the decoder
        {"\xEF\xBF\xBF", 1, 0xFFFF, 3},
        {"\xF0\x9F\x98\x80", 0, 0xFFFD, 1},
        {"\xFF", 0, 0xFFFD, 1},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const DecodeCase &c = cases[i];
        size_t pos = 0;
        uint16_t value = 0x1234;
        EXPECT_EQ(utf8_to_uc2(c.in, &pos, &value), c.valid) << "case " << i;
        EXPECT_EQ(value, c.value) << "case " << i;
        EXPECT_EQ(pos, c.advance) << "case " << i;
    }
}

TEST(Uc2Decode, StatusOfOneCharacter)
{
    struct {
        const char *in;
        unsigned char byte;
        int mod;
    } const cases[] = {
        {"a", 'a', UC2_MAPPED},           {"\xE2\x82\xAC", 0xA4, UC2_MAPPED},
        {"\xEF\xBB\xBF", 0, UC2_DROPPED},  // U+FEFF
        {"\xE2\x81\xA0", 0, UC2_DROPPED},  // U+2060
        {"\xE2\x80\x94", 0, UC2_NO_ISO},   // em dash
        {"\xD0\x96", 0, UC2_NO_ISO},       // Cyrillic
        {"\xED\xA0\x80", 0, UC2_NO_ISO},   // surrogate
        {"\x01", 0, UC2_NO_ISO},          {"\xFF", 0, UC2_INVALID},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        size_t pos = 0;
        unsigned char byte = 0x55;
        int mod = -1;
        EXPECT_EQ(utf8_to_iso(cases[i].in, &pos, &byte, &mod), 1) << i;
        EXPECT_EQ(byte, cases[i].byte) << i;
        EXPECT_EQ(mod, cases[i].mod) << i;
    }
}

TEST(Uc2Decode, MissingPointersReturnZero)
{
    size_t pos = 0;
    uint16_t value;
    unsigned char byte;
    int mod;
    EXPECT_EQ(utf8_to_uc2(nullptr, &pos, &value), 0);
    EXPECT_EQ(utf8_to_uc2("a", nullptr, &value), 0);
    EXPECT_EQ(utf8_to_uc2("a", &pos, nullptr), 0);
    EXPECT_EQ(utf8_to_iso("a", &pos, nullptr, &mod), 0);
    EXPECT_EQ(utf8_to_iso("a", &pos, &byte, nullptr), 0);
    EXPECT_EQ(uc2_to_iso(0x41, nullptr, &mod), 0);
    EXPECT_EQ(iso_to_uc2('a', nullptr), 0);
    EXPECT_EQ(pos, 0u);
}

TEST(Uc2Encode, Utf8FormsOfCodePoints)
{
    struct {
        uint32_t cp;
        int n;
        const char *form;
    } const cases[] = {
        {0x00, 1, ""},
        {0x41, 1, "A"},
        {0x7F, 1, "\x7F"},
        {0x80, 2, "\xC2\x80"},
        {0x7FF, 2, "\xDF\xBF"},
        {0x800, 3, "\xE0\xA0\x80"},
        {0xD7FF, 3, "\xED\x9F\xBF"},
        {0xD800, -2, nullptr},
        {0xDFFF, -2, nullptr},
        {0xE000, 3, "\xEE\x80\x80"},
        {0xFFFE, 3, "\xEF\xBF\xBE"},
        {0xFFFF, -1, nullptr},
        {0x10000, 4, "\xF0\x90\x80\x80"},
        {0x10FFFE, 4, "\xF4\x8F\xBF\xBE"},
        {0x10FFFF, -1, nullptr},
        {0x110000, -1, nullptr},
    };
    for (const auto &c : cases) {
        char out[5] = {'x', 'x', 'x', 'x', 'x'};
        EXPECT_EQ(ucs_to_utf8(c.cp, out), c.n) << std::hex << c.cp;
        if (c.form != nullptr) {
            EXPECT_EQ(std::string(out), std::string(c.form, strlen(c.form))) << std::hex << c.cp;
            EXPECT_EQ(out[c.n], '\0');
        }
    }
}

// ---- texts ---------------------------------------------------------------------------------

struct TextCase {
    const char *in;
    size_t size;
    const char *repl;
    const char *out;
};

TEST(Uc2Text, Utf8ToIsoCases)
{
    const TextCase cases[] = {
        {"M\xC3\xBCller", 64, nullptr, "M\xFCller"},
        {"\xE2\x82\xAC"
         "5",
         64, nullptr,
         "\xA4"
         "5"},
        {"\xE2\x80\x98x\xE2\x80\x99", 64, nullptr, "`x'"},
        {"a`b", 64, nullptr,
         "a\x80"
         "b"},
        {"\xE2\x80\x9Cq\xE2\x80\x9D", 64, nullptr, "\x85q\x86"},
        {"a\xE2\x80\x94"
         "b",
         64, nullptr, "ab"},
        {"a\xE2\x80\x94"
         "b",
         64, "?", "a?b"},
        {"a\xFF"
         "b",
         64, nullptr, "ab"},
        {"a\xFF"
         "b",
         64, "?", "a?b"},
        {"a\x80"
         "b",
         64, "?", "a?b"},
        {"a\xF0\x9F\x98\x80"
         "b",
         64, nullptr, "ab"},
        {"a\xF0\x9F\x98\x80"
         "b",
         64, "?", "a????b"},  // four invalid bytes
        {"abcde", 4, nullptr, "abc"},
        {"abcde", 1, nullptr, ""},
        {"\xD0\x96", 64, "?", "?"},
        {"\xEF\xBB\xBF"
         "a\xE2\x81\xA0"
         "b",
         64, "?", "ab"},
        {"a\xE2\x80\x94", 64, "", "a"},   // empty replacement is none
        {"a\xE2\x80\x94", 3, "??", "a"},  // replacement that does not fit
        {"a\xE2\x80\x94", 4, "??", "a??"},
        {"ab\xE2\x80\x94", 3, "?", "ab"},  // never takes the last slot
        {"\x01\x07\x09\x0A\x0C\x0D\x1F", 64, nullptr, "\x07\x09\x0A\x0C\x0D"},
        {"a\xC3", 64, "?", "a?"},  // truncated at the end
        {"\xE2\x80\x82\xE2\x88\x92\xCE\xBC", 64, nullptr, " -\xB5"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const TextCase &c = cases[i];
        EXPECT_EQ(ToIso(c.in, c.size, c.repl), c.out) << "case " << i;
    }
}

TEST(Uc2Text, SizeZeroAndMissingArgumentsWriteNothing)
{
    char buf[4] = {'x', 'x', 'x', 'x'};
    uint16_t units[2] = {0x55, 0x55};
    const uint16_t src[] = {'a', 0};
    EXPECT_EQ(utf8_to_iso_buf("abc", buf + 1, 0, nullptr), buf + 1);
    EXPECT_EQ(uc2_to_iso_buf(src, 1, buf + 1, 0, "?"), buf + 1);
    EXPECT_EQ(iso_to_utf8_buf("abc", buf + 1, 0), buf + 1);
    EXPECT_EQ(iso_to_uc2_buf("abc", units + 1, 0), units + 1);
    EXPECT_EQ(std::string(buf, 4), "xxxx");
    EXPECT_EQ(units[0], 0x55);
    EXPECT_EQ(units[1], 0x55);

    EXPECT_EQ(utf8_to_iso_buf(nullptr, buf, 4, nullptr), nullptr);
    EXPECT_EQ(utf8_to_iso_buf("a", nullptr, 4, nullptr), nullptr);
    EXPECT_EQ(uc2_to_iso_buf(nullptr, 1, buf, 4, nullptr), nullptr);
    EXPECT_EQ(iso_to_utf8_buf(nullptr, buf, 4), nullptr);
    EXPECT_EQ(iso_to_uc2_buf("a", nullptr, 2), nullptr);
    EXPECT_EQ(iso_to_utf8_size(nullptr), 0u);
    EXPECT_EQ(utf8_to_iso_dup(nullptr, "?"), nullptr);
    EXPECT_EQ(iso_to_utf8_dup(nullptr), nullptr);
}

TEST(Uc2Text, IsoToUtf8NeverSplitsACharacter)
{
    struct {
        const char *in;
        size_t size;
        const char *out;
    } const cases[] = {
        {"\xE4", 3, "\xC3\xA4"},       {"\xE4", 2, ""},  {"a\xA4", 4, "a"},
        {"a\xA4", 5, "a\xE2\x82\xAC"}, {"abc", 3, "ab"}, {"abc", 1, ""},
    };
    for (const auto &c : cases) {
        std::string buf(c.size, '\x7f');
        ASSERT_NE(iso_to_utf8_buf(c.in, buf.data(), c.size), nullptr);
        EXPECT_EQ(std::string(buf.c_str()), c.out) << c.in << " size " << c.size;
    }
    EXPECT_EQ(iso_to_utf8_size("a\xE4\xA4"), 1u + 2 + 3 + 1);
}

TEST(Uc2Text, IsoToUc2TerminatesWithinCount)
{
    uint16_t units[4] = {9, 9, 9, 9};
    ASSERT_EQ(iso_to_uc2_buf("abcdef", units, 3), units);
    EXPECT_EQ(units[0], 'a');
    EXPECT_EQ(units[1], 'b');
    EXPECT_EQ(units[2], 0);
    EXPECT_EQ(units[3], 9);
    ASSERT_EQ(iso_to_uc2_buf("\xA4", units, 4), units);
    EXPECT_EQ(units[0], 0x20AC);
    EXPECT_EQ(units[1], 0);
}

TEST(Uc2Text, Uc2ToIsoStopsAtCountOrZeroUnit)
{
    const uint16_t src[] = {'a', 0x20AC, 0x0416, 'b', 0, 'c'};
    char buf[16];
    EXPECT_STREQ(uc2_to_iso_buf(src, 6, buf, sizeof buf, nullptr),
                 "a\xA4"
                 "b");
    EXPECT_STREQ(uc2_to_iso_buf(src, 6, buf, sizeof buf, "?"), "a\xA4?b");
    EXPECT_STREQ(uc2_to_iso_buf(src, 2, buf, sizeof buf, nullptr), "a\xA4");
    EXPECT_STREQ(uc2_to_iso_buf(src, 6, buf, 2, nullptr), "a");
    const uint16_t marks[] = {0xFEFF, 0x2060, 0xD800, 0x2019};
    EXPECT_STREQ(uc2_to_iso_buf(marks, 4, buf, sizeof buf, "?"), "?'");
}

TEST(Uc2Dup, ReplacementUsesFirstCharacterAndStaysIntact)
{
    std::string repl = "?!";
    std::unique_ptr<char, decltype(&free)> a(utf8_to_iso_dup("x\xE2\x80\x94y\xFF", repl.c_str()), &free);
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a.get(), "x?y?");
    EXPECT_EQ(repl, "?!");

    // A literal lives in read-only memory: any write into it would crash here.
    std::unique_ptr<char, decltype(&free)> b(utf8_to_iso_dup("\xF0\x9F\x98\x80", "#"), &free);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b.get(), "####");

    const uint16_t src[] = {'p', 0x0416, 'q'};
    std::unique_ptr<char, decltype(&free)> c(uc2_to_iso_dup(src, 3, repl.c_str()), &free);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c.get(), "p?q");
    EXPECT_EQ(repl, "?!");

    std::unique_ptr<char, decltype(&free)> d(utf8_to_iso_dup("a\xE2\x80\x94", nullptr), &free);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d.get(), "a");
}

TEST(Uc2Dup, RoundTripThroughUtf8)
{
    std::string all;
    for (unsigned b = 0x20; b < 256; ++b)
        if (b != 0x60 && !(b >= 0x80 && b <= 0x9F))
            all.push_back(static_cast<char>(b));
    std::unique_ptr<char, decltype(&free)> utf8(iso_to_utf8_dup(all.c_str()), &free);
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(strlen(utf8.get()) + 1, iso_to_utf8_size(all.c_str()));
    std::unique_ptr<char, decltype(&free)> back(utf8_to_iso_dup(utf8.get(), nullptr), &free);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(back.get()), all);
}

// ---- long texts against the character-by-character rules ----------------------------------

// The text rules applied one character at a time with utf8_to_iso.
std::string ReferenceToIso(const std::string &in, size_t size, const char *repl)
{
    if (size == 0)
        return "";
    const size_t replLen = repl ? strlen(repl) : 0;
    std::string out;
    size_t pos = 0;
    while (pos < in.size() && out.size() < size) {
        unsigned char byte;
        int mod;
        EXPECT_EQ(utf8_to_iso(in.c_str(), &pos, &byte, &mod), 1);
        if (mod == UC2_MAPPED)
            out.push_back(static_cast<char>(byte));
        else if (mod != UC2_DROPPED && replLen > 0 && out.size() + replLen < size)
            out += repl;
    }
    if (out.size() == size)
        out.pop_back();
    return out;
}

std::string ReferenceToUtf8(const std::string &iso, size_t size)
{
    std::string out;
    for (char c : iso) {
        char form[5];
        const int n = iso_to_utf8(&c, form);
        if (size == 0 || out.size() + static_cast<size_t>(n) >= size)
            break;
        out.append(form, static_cast<size_t>(n));
    }
    return out;
}

// Random texts mixing ASCII runs, controls, grave accents, mapped and unmapped characters of
// every length, and invalid or truncated sequences.
std::string RandomText(std::mt19937 &rng)
{
    static const char *const pieces[] = {
        "\x01",
        "\n",
        "\t",
        "\x1F",
        "`",
        "'",
        "\x7F",
        "\xC3\xA4",
        "\xC3\x98",
        "\xC2\xA4",
        "\xC2\x85",
        "\xC5\xA0",
        "\xE2\x82\xAC",
        "\xE2\x80\x94",
        "\xE2\x80\x99",
        "\xEF\xBB\xBF",
        "\xEF\xAC\x81",
        "\xF0\x9F\x98\x80",
        "\xFF",
        "\x80",
        "\xC3",
        "\xE2\x82",
        "\xC0\x80",
        "\xE0\x80\x80",
        "\xED\xA0\x80",
        "\xD0\x96",
    };
    std::uniform_int_distribution<int> kind(0, 3), piece(0, sizeof pieces / sizeof pieces[0] - 1), run(0, 40),
        letter('!', '~');
    std::string t;
    const int parts = std::uniform_int_distribution<int>(0, 30)(rng);
    for (int i = 0; i < parts; ++i) {
        if (kind(rng) == 0) {
            t += pieces[piece(rng)];
        } else {
            for (int n = run(rng); n > 0; --n)
                t.push_back(static_cast<char>(letter(rng)));
        }
    }
    return t;
}

TEST(Uc2Long, TextFormsFollowTheCharacterRules)
{
    std::mt19937 rng(20261210);
    const char *const repls[] = {nullptr, "?", "<>"};
    for (int round = 0; round < 3000; ++round) {
        const std::string in = RandomText(rng);
        const size_t sizes[] = {in.size() + 1, in.size() * 3 + 1,
                                std::uniform_int_distribution<size_t>(0, in.size() + 4)(rng)};
        for (size_t size : sizes) {
            for (const char *repl : repls) {
                std::vector<char> buf(size + 1, '\x55');
                const char *r = utf8_to_iso_buf(in.c_str(), buf.data(), size, repl);
                ASSERT_EQ(r, buf.data());
                const std::string got = size ? std::string(buf.data()) : std::string();
                ASSERT_EQ(got, ReferenceToIso(in, size, repl))
                    << "round " << round << " size " << size << " repl " << (repl ? repl : "none");
                ASSERT_EQ(buf[size], '\x55') << "round " << round;  // nothing past the size
            }
            // The same bytes taken as ISO-8859-15 text, to UTF-8.
            std::vector<char> buf(size + 1, '\x55');
            ASSERT_EQ(iso_to_utf8_buf(in.c_str(), buf.data(), size), buf.data());
            const std::string got = size ? std::string(buf.data()) : std::string();
            ASSERT_EQ(got, ReferenceToUtf8(in, size)) << "round " << round << " size " << size;
            ASSERT_EQ(buf[size], '\x55');
        }
    }
}

}  // namespace
