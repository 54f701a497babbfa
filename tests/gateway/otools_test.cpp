// Omega record printers and readers: exact columns of the printed lines, the readers' stops,
// and a print-then-read round trip over the records that have both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "mailtrack/otools.h"

namespace {

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// What a printer writes, as a string.
template <typename Rec, typename Printer>
std::string Printed(Printer print, const Rec &rec, const char *sep)
{
    char *data = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&data, &size);
    EXPECT_NE(f, nullptr);
    if (f == nullptr)
        return {};
    print(f, &rec, sep);
    fclose(f);
    std::string out(data, size);
    free(data);
    return out;
}

// A stream that reads text.
File Reading(const std::string &text)
{
    File f(tmpfile());
    fputs(text.c_str(), f.get());
    rewind(f.get());
    return f;
}

// The rest of the stream, to see where a reader stopped.
std::string Rest(FILE *f)
{
    std::string rest;
    for (int c; (c = getc(f)) != EOF;)
        rest += static_cast<char>(c);
    return rest;
}

template <size_t N>
void Set(char (&field)[N], const char *text)
{
    snprintf(field, N, "%s", text);
}

template <typename Rec>
Rec Zeroed()
{
    Rec rec;
    memset(&rec, 0, sizeof rec);
    return rec;
}

TEST(OmegaPrinters, Tab7WithBarSeparator)
{
    auto r = Zeroed<o_tab7_rec>();
    Set(r.id, "T7");
    Set(r.f2, "seven");
    r.f3 = 7;
    r.f4 = -1;
    r.f5 = 0x1234abcd;
    r.f6 = -2;
    EXPECT_EQ(Printed(print_o_tab7_rec, r, "|"),
              "T7        |seven                         |    7|65535|1234abcd|fffffffe\n");
}

TEST(OmegaPrinters, Tab58BytesWidenWithTheirSign)
{
    auto r = Zeroed<o_tab58_rec>();
    Set(r.id, "id");
    Set(r.f2, "two");
    Set(r.f3, "three");
    Set(r.f4, "four");
    Set(r.f5, "five");
    r.f6[0] = 0x0A;
    r.f6[1] = static_cast<char>(0xFF);
    r.f6[2] = static_cast<char>(0x80);
    EXPECT_EQ(Printed(print_o_tab58_rec, r, ","), std::string("id        ,two") + std::string(27, ' ') +
                                                      ",three" + std::string(30, ' ') +
                                                      ",four      ,five      , a,ffff,ff80\n");
}

TEST(OmegaPrinters, VersionsOutsideTheArms)
{
    auto route = Zeroed<route_rec>();
    route.vers = 2;
    EXPECT_EQ(Printed(print_route_rec, route, " "), "");

    auto t102 = Zeroed<o_tab102_rec>();
    t102.vers = 2;
    EXPECT_EQ(Printed(print_o_tab102_rec, t102, " "), "    2 ");

    // Table 97 prints arm 1 for any version but 0; table 107 always arm 0.
    auto t97 = Zeroed<o_tab97_rec>();
    t97.vers = 7;
    Set(t97.o_tab97_rec_u.v1.id, "i");
    Set(t97.o_tab97_rec_u.v1.f2, "t");
    Set(t97.o_tab97_rec_u.v1.f3, "twenty-wide");
    t97.o_tab97_rec_u.v1.f4 = -3;
    EXPECT_EQ(Printed(print_o_tab97_rec, t97, "|"),
              "i         |t" + std::string(79, ' ') + "|twenty-wide         |-3             \n");
    t97.vers = 0;
    Set(t97.o_tab97_rec_u.v0.f3, "ten-wide");
    t97.o_tab97_rec_u.v0.f4 = 12;
    EXPECT_EQ(Printed(print_o_tab97_rec, t97, "|"),
              "i         |t" + std::string(79, ' ') + "|ten-wide  |12             \n");

    auto t107 = Zeroed<o_tab107_rec>();
    t107.vers = 4;
    t107.o_tab107_rec_u.v0.f1 = -1;
    t107.o_tab107_rec_u.v0.f6 = 1;
    t107.o_tab107_rec_u.v0.f7 = -7;
    t107.o_tab107_rec_u.v0.f8 = 2147483647;
    t107.o_tab107_rec_u.v0.f9 = -2147483647 - 1;
    EXPECT_EQ(Printed(print_o_tab107_rec, t107, ""),
              "65535" + std::string(20 + 10 + 35 + 30, ' ') + "J-7    2147483647     -2147483648    \n");
}

TEST(OmegaPrinters, Tab102Arms)
{
    auto r = Zeroed<o_tab102_rec>();
    r.vers = 1;
    o_tab102_v1 &a = r.o_tab102_rec_u.v1;
    Set(a.f19, "nineteen-twenty-wide");
    a.f20 = -20;
    a.f27 = -1;
    a.f32 = -1;
    Set(a.f34, "last");
    std::string line = Printed(print_o_tab102_rec, r, "|");
    EXPECT_NE(line.find("|nineteen-twenty-wide|     -20|"), std::string::npos) << line;
    EXPECT_NE(line.find("|ffffffff|"), std::string::npos) << line;
    EXPECT_NE(line.find("|4294967295|       0|last                \n"), std::string::npos) << line;
    EXPECT_EQ(line.rfind("    1|", 0), 0u) << line;

    r.vers = 0;
    Set(r.o_tab102_rec_u.v0.f19, "nineteen");
    line = Printed(print_o_tab102_rec, r, "|");
    EXPECT_EQ(line.rfind("    0|", 0), 0u) << line;
    EXPECT_NE(line.find("|nineteen  |"), std::string::npos) << line;
    // Arm 0 ends with its two unsigned numbers.
    EXPECT_EQ(line.substr(line.size() - 19), "|       0|       0\n") << line;
}

TEST(OmegaPrinters, UserShortAsThirtyTwoBitUnsignedAndBooleans)
{
    auto r = Zeroed<user_rec>();
    Set(r.server, "srv");
    Set(r.user, "u1");
    r.f6 = 1;
    r.f8 = -1;
    std::string line = Printed(print_user_rec, r, "");
    EXPECT_EQ(line.substr(35 + 10 + 30 + 35 + 10), std::string("J").append(20, ' ').append("4294967295\n"));
    r.f6 = 0;
    r.f8 = 42;
    line = Printed(print_user_rec, r, "");
    EXPECT_EQ(line.substr(35 + 10 + 30 + 35 + 10), std::string("N").append(20, ' ').append("   42\n"));
}

TEST(OmegaPrinters, TextColumnsNeverPassTheirWidth)
{
    // A field that lost its terminator prints its width and no more.
    auto r = Zeroed<o_tab62_rec>();
    memset(r.f1, 'a', sizeof r.f1);
    memset(r.f2, 'b', sizeof r.f2);
    memset(r.f3, 'c', sizeof r.f3);
    EXPECT_EQ(Printed(print_o_tab62_rec, r, nullptr),
              std::string(10, 'a') + std::string(10, 'b') + std::string(10, 'c') + "\n");

    auto t23 = Zeroed<o_tab23_rec>();
    Set(t23.id, "host");
    EXPECT_EQ(Printed(print_o_tab23_rec, t23, "|"), "host" + std::string(31, ' ') + "\n");

    auto t27 = Zeroed<o_tab27_rec>();
    Set(t27.id, "host");
    Set(t27.f2, "id");
    EXPECT_EQ(Printed(print_o_tab27_rec, t27, "|"), "host" + std::string(31, ' ') + "|id        \n");

    auto p47 = Zeroed<o_p47_item>();
    Set(p47.f1, "h");
    Set(p47.f2, "u");
    Set(p47.f3, "t");
    auto t19 = Zeroed<o_tab19_rec>();
    Set(t19.id, "h");
    Set(t19.f2, "u");
    Set(t19.f3, "t");
    void (*print_p47)(FILE *, const o_p47_item *, const char *) = print_o_tab19_rec;
    void (*print_t19)(FILE *, const o_tab19_rec *, const char *) = print_o_tab19_rec;
    EXPECT_EQ(Printed(print_p47, p47, "/"), Printed(print_t19, t19, "/"));
}

// Every printer against its format texts: the line a 32-bit C library writes for the format and
// the record's fields in their order (longs of 32 bits, shorts and bytes widened with their
// sign, booleans as J or N), with a separator of several characters.
struct Column {
    char kind;  // 's' text, 'n' number, 'c' boolean
    std::string text;
    int32_t number;
};

// Fills the fields in the order given and keeps each value as a column: texts alternately to
// their full width and short, numbers negative (where signed, unsigned and hexadecimal columns
// and the widths of the conversions differ most), bytes alternately above 0x7F.
struct Recorder {
    std::vector<Column> columns;
    int n = 0;
    template <size_t N>
    void operator()(char (&field)[N])
    {
        ++n;
        std::string text = std::string("t").append(std::to_string(n)).append("-");
        size_t width = n % 2 ? N - 1 : std::min<size_t>(N - 1, 6);
        while (text.size() < width)
            text += static_cast<char>('a' + text.size() % 26);
        text.resize(width);
        memset(field, 0, N);
        memcpy(field, text.data(), text.size());
        columns.push_back({'s', text, 0});
    }
    void operator()(short &v)
    {
        ++n;
        v = static_cast<short>(-n * 101);
        columns.push_back({'n', "", v});
    }
    void operator()(int &v)
    {
        ++n;
        v = -n * (n % 2 ? 1000003 : 7);
        columns.push_back({'n', "", v});
    }
    void operator()(opaque3 &bytes)
    {
        for (char &b : bytes) {
            ++n;
            b = static_cast<char>(n % 2 ? 0x80 + n : n);
            columns.push_back({'n', "", static_cast<signed char>(b)});
        }
    }
    void flag(int &v)
    {
        ++n;
        v = n % 2;
        columns.push_back({'c', "", v});
    }
};

// The format applied to the columns; "%s" without a width is the separator.
std::string Formatted(const std::string &format, const char *separator, const std::vector<Column> &columns)
{
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size();) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        size_t end = format.find_first_of("scdux", i + 1);
        std::string piece = format.substr(i, end - i + 1);
        i = end + 1;
        if (piece == "%s") {
            out += separator;
            continue;
        }
        if (next >= columns.size()) {
            ADD_FAILURE() << "more columns in the format than fields: " << piece;
            break;
        }
        const Column &c = columns[next++];
        char buffer[256];
        char conversion = piece.back();
        char kind = conversion == 's' ? 's' : conversion == 'c' ? 'c' : 'n';
        EXPECT_EQ(c.kind, kind) << "column " << next << " printed as " << piece;
        if (conversion == 's') {
            snprintf(buffer, sizeof buffer, piece.c_str(), c.text.c_str());
        } else if (conversion == 'c') {
            snprintf(buffer, sizeof buffer, piece.c_str(), c.number ? 'J' : 'N');
        } else {
            // A long of the records' platform is 32 bits: the same conversion of an int.
            std::string spec32;
            for (char ch : piece)
                if (ch != 'l')
                    spec32 += ch;
            snprintf(buffer, sizeof buffer, spec32.c_str(), c.number);
        }
        out += buffer;
    }
    EXPECT_EQ(next, columns.size()) << "fields left unprinted";
    return out;
}

template <typename Rec, typename Fill, typename Printer>
void ExpectFormat(const char *name, const std::string &format, Fill fill, Printer print)
{
    auto rec = Zeroed<Rec>();
    Recorder recorder;
    fill(rec, recorder);
    EXPECT_EQ(Printed(print, rec, " | "), Formatted(format, " | ", recorder.columns)) << name;
}

std::string Repeated(const std::string &text, int times)
{
    std::string out;
    while (times-- > 0)
        out += text;
    return out;
}

// The format texts of the printers that have a reader.
const std::string kTab19 = "%-35s%s%-10s%s%-30s\n";
const std::string kTab7 = "%-10s%s%-30s%s%5hu%s%5hu%s%8lx%s%8lx\n";
const std::string kTab11 =
    "%-10s%s%-35s%s%-35s%s%-10s%s%5hd%s%-10s%s%-20s%s%8lx%s%-10s%s%8lx%s%8lx%s%-30s%s%-35s%s"
    "%-10s%s%5hu%s%-30s%s%5hu%s%-80s\n";
const std::string kTab15 = "%-10s%s%-30s%s%5hu%s%-35s%s%-80s%s%5hu%s%5hu\n";
const std::string kTab97V0 = "%-10s%s%-80s%s%-10s%s%-15ld\n";
const std::string kTab97V1 = "%-10s%s%-80s%s%-20s%s%-15ld\n";
const std::string kTab67 =
    "%-10s%s%-30s%s%-35s%s%-10s%s%-10s%s%2hx%s%2hx%s%2hx%s%2d%s" + Repeated("%-30s%s", 10) + "%-80s%s%-80s\n";
const std::string kTab72 = "%-10s%s%-10s%s%-30s%s%-20s%s%-30s%s%c%s%5hu\n";
const std::string kTab58 = "%-10s%s%-30s%s%-35s%s%-10s%s%-10s%s%2hx%s%2hx%s%2hx\n";
const std::string kTab62 = "%-10s%s%-10s%s%-10s\n";
const std::string kTab102Head =
    "%5hu%s%-10s%s%-35s%s%-35s%s%-10s%s%5hd%s%-10s%s%-20s%s%8lx%s%-30s%s%-30s%s%8lx%s%-30s%s%-30s%s%-80s%s";
const std::string kTab102Tail = "%-35s%s%-10s%s%5hu%s%5hu%s%8lx%s";
const std::string kTab102V0 = kTab102Head + "%5hu%s%5hu%s%5hu%s%5hu%s%-10s%s%8ld%s%-10s%s%-80s%s" +
                              kTab102Tail + "%-20s%s%-20s%s%-20s%s%-20s%s%8lu%s%8lu" + "\n";
const std::string kTab102V1 = kTab102Head + "%5hu%s%5hu%s%5hu%s%5hu%s%-20s%s%8ld%s%-10s%s%-80s%s" +
                              kTab102Tail + "%-20s%s%-20s%s%-20s%s%-20s%s%8lu%s%8lu%s%-20s" + "\n";

// The 33 fields of a table-102 arm in their order.
template <typename Arm, typename Fill>
void FillTab102Arm(Arm &a, Fill &f)
{
    f(a.id), f(a.f2), f(a.f3), f(a.f4), f(a.f5), f(a.f6), f(a.f7), f(a.f8), f(a.f9), f(a.f10), f(a.f11);
    f(a.f12), f(a.f13), f(a.f14), f(a.f15), f(a.f16), f(a.f17), f(a.f18), f(a.f19), f(a.f20), f(a.f21);
    f(a.f22), f(a.f23), f(a.f24), f(a.f25), f(a.f26), f(a.f27), f(a.f28), f(a.f29), f(a.f30), f(a.f31);
    f(a.f32), f(a.f33);
}

template <typename Arm>
void FillRouteArm(Arm &a, Recorder &f)
{
    f(a.route_id), f(a.route_text), f(a.line_id), f(a.aux_id), f(a.server), f(a.user), f(a.group);
    f(a.route_extra), f(a.route_extra_value);
}

TEST(OmegaPrinters, EveryPrinterFollowsItsFormat)
{
    using P19 = void (*)(FILE *, const o_tab19_rec *, const char *);
    using P47 = void (*)(FILE *, const o_p47_item *, const char *);
    ExpectFormat<o_tab19_rec>(
        "tab19", kTab19, [](o_tab19_rec &r, Recorder &f) { f(r.id), f(r.f2), f(r.f3); },
        static_cast<P19>(print_o_tab19_rec));
    ExpectFormat<o_p47_item>(
        "p47", kTab19, [](o_p47_item &r, Recorder &f) { f(r.f1), f(r.f2), f(r.f3); },
        static_cast<P47>(print_o_tab19_rec));
    ExpectFormat<o_tab7_rec>(
        "tab7", kTab7,
        [](o_tab7_rec &r, Recorder &f) { f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6); },
        print_o_tab7_rec);
    ExpectFormat<o_tab11_rec>(
        "tab11", kTab11,
        [](o_tab11_rec &r, Recorder &f) {
            f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6), f(r.f7), f(r.f8), f(r.f9), f(r.f10),
                f(r.f11);
            f(r.f12), f(r.f13), f(r.f14), f(r.f15), f(r.f16), f(r.f17), f(r.f18);
        },
        print_o_tab11_rec);
    ExpectFormat<o_tab35_rec>(
        "tab35", "%-10s%s%-35s%s%-10s\n", [](o_tab35_rec &r, Recorder &f) { f(r.id), f(r.f2), f(r.f3); },
        print_o_tab35_rec);
    ExpectFormat<o_tab79_rec>(
        "tab79", "%-80s%s%-10s%s%-15ld\n", [](o_tab79_rec &r, Recorder &f) { f(r.id), f(r.f2), f(r.f3); },
        print_o_tab79_rec);
    ExpectFormat<o_tab97_rec>(
        "tab97 version 0", kTab97V0,
        [](o_tab97_rec &r, Recorder &f) {
            r.vers = 0;
            auto &a = r.o_tab97_rec_u.v0;
            f(a.id), f(a.f2), f(a.f3), f(a.f4);
        },
        print_o_tab97_rec);
    for (int vers : {1, 5})
        ExpectFormat<o_tab97_rec>(
            "tab97 other version", kTab97V1,
            [vers](o_tab97_rec &r, Recorder &f) {
                r.vers = vers;
                auto &a = r.o_tab97_rec_u.v1;
                f(a.id), f(a.f2), f(a.f3), f(a.f4);
            },
            print_o_tab97_rec);
    ExpectFormat<o_tab15_rec>(
        "tab15", kTab15,
        [](o_tab15_rec &r, Recorder &f) { f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6), f(r.f7); },
        print_o_tab15_rec);
    for (int vers : {0, 3})
        ExpectFormat<o_tab107_rec>(
            "tab107", "%-5hu%s%-20s%s%-10s%s%-35s%s%-30s%s%c%s%-6d%s%-15ld%s%-15ld\n",
            [vers](o_tab107_rec &r, Recorder &f) {
                r.vers = vers;
                auto &a = r.o_tab107_rec_u.v0;
                f(a.f1), f(a.f2), f(a.f3), f(a.f4), f(a.f5), f.flag(a.f6), f(a.f7), f(a.f8);
                f(a.f9);
            },
            print_o_tab107_rec);
    ExpectFormat<o_tab38_rec>(
        "tab38", "%-10s%s%-30s%s%-10s%s%-20s%s%-35s%s%-10s%s%-10s\n",
        [](o_tab38_rec &r, Recorder &f) { f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6), f(r.f7); },
        print_o_tab38_rec);
    ExpectFormat<route_rec>(
        "route version 0", "%-10s%s%-30s%s%-10s%s%-20s%s%-35s%s%-10s%s%-10s%s%-35s%s%-10ld\n",
        [](route_rec &r, Recorder &f) {
            r.vers = 0;
            FillRouteArm(r.route_rec_u.v0, f);
        },
        print_route_rec);
    ExpectFormat<route_rec>(
        "route version 1", "%-10s%s%-30s%s%-20s%s%-20s%s%-35s%s%-10s%s%-10s%s%-35s%s%-10ld\n",
        [](route_rec &r, Recorder &f) {
            r.vers = 1;
            FillRouteArm(r.route_rec_u.v1, f);
        },
        print_route_rec);
    ExpectFormat<o_tab67_rec>(
        "tab67", kTab67,
        [](o_tab67_rec &r, Recorder &f) {
            f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6), f(r.f7);
            for (auto &text : r.f8)
                f(text);
            f(r.f9), f(r.f10);
        },
        print_o_tab67_rec);
    ExpectFormat<o_tab72_rec>(
        "tab72", kTab72,
        [](o_tab72_rec &r, Recorder &f) {
            f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f.flag(r.f6), f(r.f7);
        },
        print_o_tab72_rec);
    ExpectFormat<o_tab43_rec>(
        "tab43", "%-10s%s%-30s%s%-20s%s%-30s%s%c%s%5hu\n",
        [](o_tab43_rec &r, Recorder &f) { f(r.id), f(r.f2), f(r.f3), f(r.f4), f.flag(r.f5), f(r.f6); },
        print_o_tab43_rec);
    ExpectFormat<o_tab58_rec>(
        "tab58", kTab58,
        [](o_tab58_rec &r, Recorder &f) { f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6); },
        print_o_tab58_rec);
    ExpectFormat<o_tab62_rec>(
        "tab62", kTab62, [](o_tab62_rec &r, Recorder &f) { f(r.f1), f(r.f2), f(r.f3); }, print_o_tab62_rec);
    ExpectFormat<o_tab23_rec>(
        "tab23", "%-35s\n", [](o_tab23_rec &r, Recorder &f) { f(r.id); }, print_o_tab23_rec);
    ExpectFormat<o_tab27_rec>(
        "tab27", "%-35s%s%-10s\n", [](o_tab27_rec &r, Recorder &f) { f(r.id), f(r.f2); }, print_o_tab27_rec);
    ExpectFormat<user_rec>(
        "user", "%-35s%s%-10s%s%-30s%s%-35s%s%-10s%s%c%s%-20s%s%5lu\n",
        [](user_rec &r, Recorder &f) {
            f(r.server), f(r.user), f(r.name), f(r.f4), f(r.f5), f.flag(r.f6), f(r.f7), f(r.f8);
        },
        print_user_rec);

    ExpectFormat<o_tab102_rec>(
        "tab102 version 0", kTab102V0,
        [](o_tab102_rec &r, Recorder &f) {
            r.vers = 0;
            f.columns.push_back({'n', "", 0});
            FillTab102Arm(r.o_tab102_rec_u.v0, f);
        },
        print_o_tab102_rec);
    ExpectFormat<o_tab102_rec>(
        "tab102 version 1", kTab102V1,
        [](o_tab102_rec &r, Recorder &f) {
            r.vers = 1;
            f.columns.push_back({'n', "", 1});
            FillTab102Arm(r.o_tab102_rec_u.v1, f);
            f(r.o_tab102_rec_u.v1.f34);
        },
        print_o_tab102_rec);
}

// Every reader against its field list: a text of width W gets a line of 100 characters and
// keeps its first W, a number gets its field's position, "char" a J; "=v" is a version line
// that the printer does not show, "#v" a column without a line (a version the printer shows,
// or a field the reader leaves at 0), "e" an empty text. The record read is printed with the
// printer checked above, so each field must hold its own line cut to its own width, and the
// reader must take exactly the lines of its list.
struct ReaderLines {
    std::string text;
    std::vector<Column> columns;
};

ReaderLines LinesOf(const std::string &list)
{
    ReaderLines out;
    std::istringstream tokens(list);
    std::string token;
    for (int field = 1; tokens >> token; ++field) {
        if (token[0] == '=') {
            out.text += token.substr(1) + "\n";
        } else if (token[0] == '#') {
            out.columns.push_back({'n', "", std::stoi(token.substr(1))});
        } else if (token == "e") {
            out.columns.push_back({'s', "", 0});
        } else if (token == "char") {
            out.text += "J\n";
            out.columns.push_back({'c', "", 1});
        } else if (token == "hu" || token == "lu") {
            out.text += std::to_string(field) + "\n";
            out.columns.push_back({'n', "", field});
        } else if (token == "lx" || token == "byte") {
            char hex[16];
            snprintf(hex, sizeof hex, "%x", field);
            out.text += std::string(hex) + "\n";
            out.columns.push_back({'n', "", field});
        } else {
            char head[16];
            snprintf(head, sizeof head, "F%02d", field);
            std::string line = head + std::string(97, static_cast<char>('a' + field % 26));
            out.text += line + "\n";
            out.columns.push_back({'s', line.substr(0, std::stoul(token)), 0});
        }
    }
    return out;
}

template <typename Rec, typename Reader, typename Printer>
void ExpectReader(const char *name, const std::string &list, const std::string &format, Reader read,
                  Printer print)
{
    ReaderLines lines = LinesOf(list);
    auto rec = Zeroed<Rec>();
    File f = Reading(lines.text + "beyond\n");
    EXPECT_EQ(read(f.get(), &rec), 1) << name;
    EXPECT_EQ(Rest(f.get()), "beyond\n") << name << ": the reader takes exactly its lines";
    EXPECT_EQ(Printed(print, rec, "|"), Formatted(format, "|", lines.columns)) << name;
}

TEST(OmegaReaders, EveryReaderFollowsItsFieldList)
{
    using P19 = void (*)(FILE *, const o_tab19_rec *, const char *);
    const std::string arm0 =
        "10 35 35 10 hu 10 20 lx 30 30 lx 30 30 80 hu hu hu hu 10 lu 10 80 35 10 hu hu lx 20 20 "
        "20 20 lu lu";
    const std::string arm1 =
        "10 35 35 10 hu 10 20 lx 30 30 lx 30 30 80 hu hu hu hu 20 lu 10 80 35 10 hu hu lx 20 20 "
        "20 20 lu lu 20";
    ExpectReader<o_tab19_rec>("tab19", "35 10 30", kTab19, read_o_tab19_rec,
                              static_cast<P19>(print_o_tab19_rec));
    ExpectReader<o_tab7_rec>("tab7", "10 30 hu hu lx lx", kTab7, read_o_tab7_rec, print_o_tab7_rec);
    ExpectReader<o_tab11_rec>("tab11", "10 35 35 10 hu 10 20 lx 10 lx lx 30 35 10 hu 30 hu 80", kTab11,
                              read_o_tab11_rec, print_o_tab11_rec);
    ExpectReader<o_tab15_rec>("tab15", "10 30 hu 35 80 hu hu", kTab15, read_o_tab15_rec, print_o_tab15_rec);
    ExpectReader<o_tab67_rec>("tab67", "10 30 35 10 10 byte byte byte hu" + Repeated(" 30", 10) + " 80 80",
                              kTab67, read_o_tab67_rec, print_o_tab67_rec);
    ExpectReader<o_tab72_rec>("tab72", "10 10 30 20 30 char hu", kTab72, read_o_tab72_rec, print_o_tab72_rec);
    ExpectReader<o_tab58_rec>("tab58", "10 30 35 10 10 byte byte byte", kTab58, read_o_tab58_rec,
                              print_o_tab58_rec);
    ExpectReader<o_tab62_rec>("tab62", "10 10 10", kTab62, read_o_tab62_rec, print_o_tab62_rec);
    ExpectReader<o_tab97_rec>("tab97 version 0", "=0 10 80 10 #0", kTab97V0, read_o_tab97_rec,
                              print_o_tab97_rec);
    ExpectReader<o_tab97_rec>("tab97 version 1", "=1 10 80 20 #0", kTab97V1, read_o_tab97_rec,
                              print_o_tab97_rec);
    ExpectReader<o_tab102_rec>("tab102 version 0", "=0 #0 " + arm0, kTab102V0, read_o_tab102_rec,
                               print_o_tab102_rec);
    ExpectReader<o_tab102_rec>("tab102 version 1", "=1 #1 " + arm1, kTab102V1, read_o_tab102_rec,
                               print_o_tab102_rec);
    ExpectReader<o_tab102_rec>("tab102_v1 of a version-0 text", "=0 #1 " + arm0 + " e", kTab102V1,
                               read_o_tab102_rec_v1, print_o_tab102_rec);
    ExpectReader<o_tab102_rec>("tab102_v1 of a version-1 text", "=1 #1 " + arm1, kTab102V1,
                               read_o_tab102_rec_v1, print_o_tab102_rec);
}

TEST(OmegaPrinters, AllowedText)
{
    EXPECT_STREQ(allowed_text(1), "allowed");
    EXPECT_STREQ(allowed_text(-5), "allowed");
    EXPECT_STREQ(allowed_text(0), "not allowed");
}

TEST(OmegaReaders, Tab7StreamEndingEarly)
{
    auto r = Zeroed<o_tab7_rec>();
    r.f5 = 55;
    r.f6 = 66;
    File f = Reading("ID7\nsome text   \n12\n65535\n");
    EXPECT_EQ(read_o_tab7_rec(f.get(), &r), 0);
    EXPECT_STREQ(r.id, "ID7");
    EXPECT_STREQ(r.f2, "some text");
    EXPECT_EQ(r.f3, 12);
    EXPECT_EQ(r.f4, -1);
    EXPECT_EQ(r.f5, 55);
    EXPECT_EQ(r.f6, 66);
}

TEST(OmegaReaders, StopsAtANumberThatDoesNotConvert)
{
    auto r = Zeroed<o_tab15_rec>();
    File f = Reading("id\ntext\nseven\nnext\n");
    EXPECT_EQ(read_o_tab15_rec(f.get(), &r), 0);
    EXPECT_EQ(Rest(f.get()), "next\n");

    // A byte above 0xFF does not convert.
    auto t58 = Zeroed<o_tab58_rec>();
    f = Reading("a\nb\nc\nd\ne\nff\n100\n1\n");
    EXPECT_EQ(read_o_tab58_rec(f.get(), &t58), 0);
    EXPECT_EQ(static_cast<unsigned char>(t58.f6[0]), 0xFF);
    EXPECT_EQ(Rest(f.get()), "1\n");
}

TEST(OmegaReaders, LongTextsAreCutToTheirField)
{
    auto r = Zeroed<o_tab62_rec>();
    File f = Reading("123456789012345\nb\nc\n");
    EXPECT_EQ(read_o_tab62_rec(f.get(), &r), 1);
    EXPECT_STREQ(r.f1, "1234567890");
    EXPECT_STREQ(r.f2, "b");
    EXPECT_STREQ(r.f3, "c");
}

TEST(OmegaReaders, Tab72Boolean)
{
    struct Case {
        const char *text;
        int result;
        int flag;
    } cases[] = {
        {"a\nb\nc\nd\ne\nY\n3\n", 1, 1}, {"a\nb\nc\nd\ne\nj\n3\n", 1, 1}, {"a\nb\nc\nd\ne\nN\n3\n", 1, 0},
        {"a\nb\nc\nd\ne\nJ\n", 0, 1},     // the short is missing: the flag is still set
        {"a\nb\nc\nd\ne\nJ\nx\n", 0, 1},  // the short does not convert
        {"a\nb\nc\nd\n", 0, 99},          // stopped before the character: flag untouched
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        auto r = Zeroed<o_tab72_rec>();
        r.f6 = 99;
        File f = Reading(cases[i].text);
        EXPECT_EQ(read_o_tab72_rec(f.get(), &r), cases[i].result) << "case " << i;
        EXPECT_EQ(r.f6, cases[i].flag) << "case " << i;
    }
}

TEST(OmegaReaders, Tab97Versions)
{
    auto r = Zeroed<o_tab97_rec>();
    r.vers = 1;
    File f = Reading("2\nid\n");
    EXPECT_EQ(read_o_tab97_rec(f.get(), &r), 0);
    EXPECT_EQ(r.vers, 1);
    EXPECT_EQ(Rest(f.get()), "id\n");

    r.o_tab97_rec_u.v1.f4 = 77;
    f = Reading("1\nid\ntext\n12345678901234567890123\n");
    EXPECT_EQ(read_o_tab97_rec(f.get(), &r), 1);
    EXPECT_EQ(r.vers, 1);
    EXPECT_STREQ(r.o_tab97_rec_u.v1.f3, "12345678901234567890");
    EXPECT_EQ(r.o_tab97_rec_u.v1.f4, 77);

    f = Reading("0\nid\ntext\n12345678901234567890123\n");
    EXPECT_EQ(read_o_tab97_rec(f.get(), &r), 1);
    EXPECT_EQ(r.vers, 0);
    EXPECT_STREQ(r.o_tab97_rec_u.v0.f3, "1234567890");
}

// The 33 field lines of a table-102 text, field 19 given.
std::string Tab102Fields(const char *f19)
{
    std::string text;
    const char *kinds = "sssshsshsshssshhhhtlsssshhhsssshh";  // s text, h/l numbers, t field 19
    for (int i = 0; kinds[i] != '\0'; ++i) {
        if (kinds[i] == 's')
            text.append("f").append(std::to_string(i + 1)).append("\n");
        else if (kinds[i] == 't')
            text += std::string(f19) + "\n";
        else
            text += std::to_string(i + 1) + "\n";
    }
    return text;
}

TEST(OmegaReaders, Tab102Versions)
{
    auto r = Zeroed<o_tab102_rec>();
    File f = Reading("0\n" + Tab102Fields("nineteen-nineteen"));
    EXPECT_EQ(read_o_tab102_rec(f.get(), &r), 1);
    EXPECT_EQ(r.vers, 0);
    EXPECT_STREQ(r.o_tab102_rec_u.v0.f19, "nineteen-n");
    EXPECT_EQ(r.o_tab102_rec_u.v0.f33, 33);
    EXPECT_EQ(Rest(f.get()), "");

    f = Reading("1\n" + Tab102Fields("nineteen-nineteen") + "thirty-four\n");
    EXPECT_EQ(read_o_tab102_rec(f.get(), &r), 1);
    EXPECT_EQ(r.vers, 1);
    EXPECT_STREQ(r.o_tab102_rec_u.v1.f19, "nineteen-nineteen");
    EXPECT_STREQ(r.o_tab102_rec_u.v1.f34, "thirty-four");

    f = Reading("3\n" + Tab102Fields("x"));
    EXPECT_EQ(read_o_tab102_rec(f.get(), &r), 0);
    EXPECT_EQ(r.vers, 3);
    f = Reading("3\n" + Tab102Fields("x"));
    EXPECT_EQ(read_o_tab102_rec_v1(f.get(), &r), 0);
}

TEST(OmegaReaders, Tab102V1FromAVersionZeroText)
{
    auto r = Zeroed<o_tab102_rec>();
    Set(r.o_tab102_rec_u.v1.f34, "stale");
    File f = Reading("0\n" + Tab102Fields("nineteen-nineteen") + "not read\n");
    EXPECT_EQ(read_o_tab102_rec_v1(f.get(), &r), 1);
    EXPECT_EQ(r.vers, 1);
    EXPECT_STREQ(r.o_tab102_rec_u.v1.f19, "nineteen-n");
    EXPECT_STREQ(r.o_tab102_rec_u.v1.f22, "f22");
    EXPECT_EQ(r.o_tab102_rec_u.v1.f33, 33);
    EXPECT_STREQ(r.o_tab102_rec_u.v1.f34, "");
    EXPECT_EQ(Rest(f.get()), "not read\n");

    f = Reading("1\n" + Tab102Fields("nineteen-nineteen") + "thirty-four\n");
    EXPECT_EQ(read_o_tab102_rec_v1(f.get(), &r), 1);
    EXPECT_STREQ(r.o_tab102_rec_u.v1.f19, "nineteen-nineteen");
    EXPECT_STREQ(r.o_tab102_rec_u.v1.f34, "thirty-four");
}

TEST(OmegaReaders, NullArguments)
{
    auto r = Zeroed<o_tab62_rec>();
    File f = Reading("a\nb\nc\n");
    EXPECT_EQ(read_o_tab62_rec(nullptr, &r), 0);
    EXPECT_EQ(read_o_tab62_rec(f.get(), nullptr), 0);
    print_o_tab62_rec(nullptr, &r, "|");
    EXPECT_EQ(Printed(print_o_tab62_rec, r, "|").size(), 33u);
}

// Fills every field with a value of its own: texts to their full width, numbers distinct and
// partly negative, bytes below 0x80 (the printers show higher ones as four digits).
struct Filler {
    int n = 0;
    template <size_t N>
    void operator()(char (&field)[N])
    {
        ++n;
        if (N == 3) {
            for (size_t i = 0; i < N; ++i)
                field[i] = static_cast<char>((n * 7 + static_cast<int>(i) * 13) & 0x7f);
            return;
        }
        std::string text = std::string("v").append(std::to_string(n)).append("-");
        while (text.size() < N - 1)
            text += static_cast<char>('a' + text.size() % 26);
        text.copy(field, N - 1);
        field[N - 1] = '\0';
    }
    void operator()(short &v) { v = static_cast<short>(++n % 2 ? n * 101 : -n); }
    void operator()(int &v) { v = ++n * 1000003; }
};

struct RoundTrip {
    const char *name;
    std::string (*run)(std::string *reprinted);
};

// Prints a filled record with a newline as separator, so that every column is a line, reads it
// back and prints both with "|": a field read into the wrong place shows in the second line.
template <typename Rec, typename Fill, typename Printer, typename Reader>
std::string RoundTripOf(Fill fill, Printer print, Reader read, const std::string &prefix,
                        std::string *reprinted)
{
    auto rec = Zeroed<Rec>();
    Filler filler;
    fill(rec, filler);
    std::string text = prefix + Printed(print, rec, "\n");
    auto back = Zeroed<Rec>();
    File f = Reading(text);
    EXPECT_EQ(read(f.get(), &back), 1) << text;
    *reprinted = Printed(print, back, "|");
    return Printed(print, rec, "|");
}

template <typename Arm>
void FillTab102(Arm &a, Filler &f)
{
    FillTab102Arm(a, f);
    a.f20 = 20;  // printed signed, read unsigned: keep it positive
}

const RoundTrip round_trips[] = {
    {"tab19",
     [](std::string *out) {
         return RoundTripOf<o_tab19_rec>(
             [](o_tab19_rec &r, Filler &f) { f(r.id), f(r.f2), f(r.f3); },
             static_cast<void (*)(FILE *, const o_tab19_rec *, const char *)>(print_o_tab19_rec),
             read_o_tab19_rec, "", out);
     }},
    {"tab7",
     [](std::string *out) {
         return RoundTripOf<o_tab7_rec>(
             [](o_tab7_rec &r, Filler &f) {
                 f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6), r.f6 = -6;
             },
             print_o_tab7_rec, read_o_tab7_rec, "", out);
     }},
    {"tab11",
     [](std::string *out) {
         return RoundTripOf<o_tab11_rec>(
             [](o_tab11_rec &r, Filler &f) {
                 f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6), f(r.f7), f(r.f8), f(r.f9), f(r.f10);
                 f(r.f11), f(r.f12), f(r.f13), f(r.f14), f(r.f15), f(r.f16), f(r.f17), f(r.f18);
             },
             print_o_tab11_rec, read_o_tab11_rec, "", out);
     }},
    {"tab15",
     [](std::string *out) {
         return RoundTripOf<o_tab15_rec>(
             [](o_tab15_rec &r, Filler &f) { f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6), f(r.f7); },
             print_o_tab15_rec, read_o_tab15_rec, "", out);
     }},
    {"tab67",
     [](std::string *out) {
         return RoundTripOf<o_tab67_rec>(
             [](o_tab67_rec &r, Filler &f) {
                 f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6), f(r.f7);
                 for (auto &text : r.f8)
                     f(text);
                 f(r.f9), f(r.f10);
             },
             print_o_tab67_rec, read_o_tab67_rec, "", out);
     }},
    {"tab72",
     [](std::string *out) {
         return RoundTripOf<o_tab72_rec>(
             [](o_tab72_rec &r, Filler &f) {
                 f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f7);
                 r.f6 = 1;
             },
             print_o_tab72_rec, read_o_tab72_rec, "", out);
     }},
    {"tab58",
     [](std::string *out) {
         return RoundTripOf<o_tab58_rec>(
             [](o_tab58_rec &r, Filler &f) { f(r.id), f(r.f2), f(r.f3), f(r.f4), f(r.f5), f(r.f6); },
             print_o_tab58_rec, read_o_tab58_rec, "", out);
     }},
    {"tab62",
     [](std::string *out) {
         return RoundTripOf<o_tab62_rec>([](o_tab62_rec &r, Filler &f) { f(r.f1), f(r.f2), f(r.f3); },
                                         print_o_tab62_rec, read_o_tab62_rec, "", out);
     }},
    {"tab97 version 1",
     [](std::string *out) {
         // The reader takes the version first and leaves the arm's number alone.
         return RoundTripOf<o_tab97_rec>(
             [](o_tab97_rec &r, Filler &f) {
                 r.vers = 1;
                 f(r.o_tab97_rec_u.v1.id), f(r.o_tab97_rec_u.v1.f2), f(r.o_tab97_rec_u.v1.f3);
             },
             print_o_tab97_rec, read_o_tab97_rec, "1\n", out);
     }},
    {"tab102 version 0",
     [](std::string *out) {
         return RoundTripOf<o_tab102_rec>(
             [](o_tab102_rec &r, Filler &f) {
                 r.vers = 0;
                 FillTab102(r.o_tab102_rec_u.v0, f);
             },
             print_o_tab102_rec, read_o_tab102_rec, "", out);
     }},
    {"tab102 version 1",
     [](std::string *out) {
         return RoundTripOf<o_tab102_rec>(
             [](o_tab102_rec &r, Filler &f) {
                 r.vers = 1;
                 FillTab102(r.o_tab102_rec_u.v1, f);
                 f(r.o_tab102_rec_u.v1.f34);
             },
             print_o_tab102_rec, read_o_tab102_rec, "", out);
     }},
};

TEST(OmegaRecords, PrintThenReadKeepsEveryField)
{
    for (const RoundTrip &trip : round_trips) {
        std::string reprinted;
        std::string original = trip.run(&reprinted);
        EXPECT_EQ(reprinted, original) << trip.name;
    }
}

}  // namespace
