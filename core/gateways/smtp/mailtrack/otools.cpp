// Omega record printers and readers.
#include "mailtrack/otools.h"

#include <cstdarg>
#include <cstdint>

#include "trace/fieldread.h"

namespace {

// Writes the columns of one line, the separator between every two of them.
class Columns {
public:
    Columns(FILE *stream, const char *separator)
        : stream_(stream), separator_(separator != nullptr ? separator : "")
    {
    }

    // A text field of N characters (N + 1 with the terminator), padded to N and never longer,
    // so a field without its terminator cannot run past its end.
    template <size_t N>
    void text(const char (&field)[N])
    {
        text(static_cast<int>(N) - 1, field);
    }

    void text(int width, const char *field) { number("%-*.*s", width, width, field); }

    __attribute__((format(printf, 2, 3))) void number(const char *format, ...)
    {
        begin();
        va_list args;
        va_start(args, format);
        vfprintf(stream_, format, args);
        va_end(args);
    }

    // The numbers of the records are 32-bit: widen them to the conversion's type by their own
    // width, so that "%8lx" shows 8 digits of a negative value and "%5lu" ten.
    void lx8(int32_t value) { number("%8lx", static_cast<unsigned long>(static_cast<uint32_t>(value))); }
    void lu(const char *format, int32_t value)
    {
        number(format, static_cast<unsigned long>(static_cast<uint32_t>(value)));
    }
    void ld(const char *format, int32_t value) { number(format, static_cast<long>(value)); }
    // A short as "%5hu" or "%-5hu": its 16 bits unsigned.
    void hu(const char *format, int16_t value) { number(format, static_cast<unsigned short>(value)); }
    // A byte widened with its sign and shown as a short in hexadecimal (0x80 gives ff80).
    void hx2(char value)
    {
        number("%2hx", static_cast<unsigned short>(static_cast<int16_t>(static_cast<int8_t>(value))));
    }
    void yes_no(int flag) { number("%c", YesNoChar(flag)); }

    // A separator without a following column.
    void separator() { fputs(separator_, stream_); }
    void end() { fputc('\n', stream_); }

private:
    void begin()
    {
        if (!first_)
            separator();
        first_ = false;
    }

    FILE *stream_;
    const char *separator_;
    bool first_ = true;
};

// A text field read with its own width.
template <size_t N>
int text(FILE *stream, char (&field)[N])
{
    return frdline(stream, static_cast<int>(N) - 1, field);
}

// The host, id and text layout of table 19, which o_p47_item shares.
void print_tab19_layout(FILE *stream, const char *separator, const char (&id)[36], const char (&f2)[11],
                        const char (&f3)[31])
{
    Columns c(stream, separator);
    c.text(id);
    c.text(f2);
    c.text(f3);
    c.end();
}

template <typename Arm>
void print_tab97_arm(FILE *stream, const Arm &a, const char *separator)
{
    Columns c(stream, separator);
    c.text(a.id);
    c.text(a.f2);
    c.text(a.f3);
    c.ld("%-15ld", a.f4);
    c.end();
}

template <typename Arm>
void print_route_arm(FILE *stream, const Arm &a, const char *separator)
{
    Columns c(stream, separator);
    c.text(a.route_id);
    c.text(a.route_text);
    c.text(a.line_id);
    c.text(a.aux_id);
    c.text(a.server);
    c.text(a.user);
    c.text(a.group);
    c.text(a.route_extra);
    c.ld("%-10ld", a.route_extra_value);
    c.end();
}

// Fields 1 to 33 of a table-102 arm; field 19 has the arm's own width.
template <typename Arm>
void print_tab102_fields(Columns &c, const Arm &a)
{
    c.text(a.id);
    c.text(a.f2);
    c.text(a.f3);
    c.text(a.f4);
    c.number("%5hd", a.f5);
    c.text(a.f6);
    c.text(a.f7);
    c.lx8(a.f8);
    c.text(a.f9);
    c.text(a.f10);
    c.lx8(a.f11);
    c.text(a.f12);
    c.text(a.f13);
    c.text(a.f14);
    c.hu("%5hu", a.f15);
    c.hu("%5hu", a.f16);
    c.hu("%5hu", a.f17);
    c.hu("%5hu", a.f18);
    c.text(a.f19);
    c.ld("%8ld", a.f20);
    c.text(a.f21);
    c.text(a.f22);
    c.text(a.f23);
    c.text(a.f24);
    c.hu("%5hu", a.f25);
    c.hu("%5hu", a.f26);
    c.lx8(a.f27);
    c.text(a.f28);
    c.text(a.f29);
    c.text(a.f30);
    c.text(a.f31);
    c.lu("%8lu", a.f32);
    c.lu("%8lu", a.f33);
}

// Fields 1 to 33 of a table-102 arm in reading order; field 19 read with width19 characters.
template <typename Arm>
int read_tab102_fields(FILE *s, Arm *a, int width19)
{
    return text(s, a->id) && text(s, a->f2) && text(s, a->f3) && text(s, a->f4) && frdline_hu(s, &a->f5) &&
           text(s, a->f6) && text(s, a->f7) && frdline_lx(s, &a->f8) && text(s, a->f9) && text(s, a->f10) &&
           frdline_lx(s, &a->f11) && text(s, a->f12) && text(s, a->f13) && text(s, a->f14) &&
           frdline_hu(s, &a->f15) && frdline_hu(s, &a->f16) && frdline_hu(s, &a->f17) &&
           frdline_hu(s, &a->f18) && frdline(s, width19, a->f19) && frdline_lu(s, &a->f20) &&
           text(s, a->f21) && text(s, a->f22) && text(s, a->f23) && text(s, a->f24) &&
           frdline_hu(s, &a->f25) && frdline_hu(s, &a->f26) && frdline_lx(s, &a->f27) && text(s, a->f28) &&
           text(s, a->f29) && text(s, a->f30) && text(s, a->f31) && frdline_lu(s, &a->f32) &&
           frdline_lu(s, &a->f33);
}

// The first six fields that tables 58 and 67 share: five texts and three bytes.
template <typename Rec>
void print_tab58_head(Columns &c, const Rec &r)
{
    c.text(r.id);
    c.text(r.f2);
    c.text(r.f3);
    c.text(r.f4);
    c.text(r.f5);
    for (char byte : r.f6)
        c.hx2(byte);
}

template <typename Rec>
int read_tab58_head(FILE *s, Rec *r)
{
    if (!(text(s, r->id) && text(s, r->f2) && text(s, r->f3) && text(s, r->f4) && text(s, r->f5)))
        return 0;
    for (char &byte : r->f6)
        if (!frdline_byte(s, &byte))
            return 0;
    return 1;
}

// The version line of a versioned record.
int read_version(FILE *stream, int *version)
{
    uint16_t value = 0;
    if (!frdline_hu(stream, &value))
        return 0;
    *version = value;
    return 1;
}

}  // namespace

void print_o_tab19_rec(FILE *stream, const o_tab19_rec *r, const char *separator)
{
    if (stream != nullptr && r != nullptr)
        print_tab19_layout(stream, separator, r->id, r->f2, r->f3);
}

void print_o_tab19_rec(FILE *stream, const o_p47_item *r, const char *separator)
{
    if (stream != nullptr && r != nullptr)
        print_tab19_layout(stream, separator, r->f1, r->f2, r->f3);
}

void print_o_tab7_rec(FILE *stream, const o_tab7_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.hu("%5hu", r->f3);
    c.hu("%5hu", r->f4);
    c.lx8(r->f5);
    c.lx8(r->f6);
    c.end();
}

void print_o_tab11_rec(FILE *stream, const o_tab11_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.text(r->f3);
    c.text(r->f4);
    c.number("%5hd", r->f5);
    c.text(r->f6);
    c.text(r->f7);
    c.lx8(r->f8);
    c.text(r->f9);
    c.lx8(r->f10);
    c.lx8(r->f11);
    c.text(r->f12);
    c.text(r->f13);
    c.text(r->f14);
    c.hu("%5hu", r->f15);
    c.text(r->f16);
    c.hu("%5hu", r->f17);
    c.text(r->f18);
    c.end();
}

void print_o_tab35_rec(FILE *stream, const o_tab35_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.text(r->f3);
    c.end();
}

void print_o_tab79_rec(FILE *stream, const o_tab79_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.ld("%-15ld", r->f3);
    c.end();
}

void print_o_tab97_rec(FILE *stream, const o_tab97_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    if (r->vers == 0)
        print_tab97_arm(stream, r->o_tab97_rec_u.v0, separator);
    else
        print_tab97_arm(stream, r->o_tab97_rec_u.v1, separator);
}

void print_o_tab15_rec(FILE *stream, const o_tab15_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.hu("%5hu", r->f3);
    c.text(r->f4);
    c.text(r->f5);
    c.hu("%5hu", r->f6);
    c.hu("%5hu", r->f7);
    c.end();
}

void print_o_tab107_rec(FILE *stream, const o_tab107_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    const o_tab107_v0 &a = r->o_tab107_rec_u.v0;
    Columns c(stream, separator);
    c.hu("%-5hu", a.f1);
    c.text(a.f2);
    c.text(a.f3);
    c.text(a.f4);
    c.text(a.f5);
    c.yes_no(a.f6);
    c.number("%-6d", a.f7);
    c.ld("%-15ld", a.f8);
    c.ld("%-15ld", a.f9);
    c.end();
}

void print_o_tab38_rec(FILE *stream, const o_tab38_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.text(r->f3);
    c.text(r->f4);
    c.text(r->f5);
    c.text(r->f6);
    c.text(r->f7);
    c.end();
}

void print_route_rec(FILE *stream, const route_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    if (r->vers == 0)
        print_route_arm(stream, r->route_rec_u.v0, separator);
    else if (r->vers == 1)
        print_route_arm(stream, r->route_rec_u.v1, separator);
}

void print_o_tab67_rec(FILE *stream, const o_tab67_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    print_tab58_head(c, *r);
    c.number("%2d", r->f7);
    for (const auto &field : r->f8)
        c.text(field);
    c.text(r->f9);
    c.text(r->f10);
    c.end();
}

void print_o_tab72_rec(FILE *stream, const o_tab72_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.text(r->f3);
    c.text(r->f4);
    c.text(r->f5);
    c.yes_no(r->f6);
    c.hu("%5hu", r->f7);
    c.end();
}

void print_o_tab43_rec(FILE *stream, const o_tab43_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.text(r->f3);
    c.text(r->f4);
    c.yes_no(r->f5);
    c.hu("%5hu", r->f6);
    c.end();
}

void print_o_tab58_rec(FILE *stream, const o_tab58_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    print_tab58_head(c, *r);
    c.end();
}

void print_o_tab62_rec(FILE *stream, const o_tab62_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->f1);
    c.text(r->f2);
    c.text(r->f3);
    c.end();
}

void print_o_tab23_rec(FILE *stream, const o_tab23_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.end();
}

void print_o_tab27_rec(FILE *stream, const o_tab27_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->id);
    c.text(r->f2);
    c.end();
}

void print_user_rec(FILE *stream, const user_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.text(r->server);
    c.text(r->user);
    c.text(r->name);
    c.text(r->f4);
    c.text(r->f5);
    c.yes_no(r->f6);
    c.text(r->f7);
    c.lu("%5lu", r->f8);
    c.end();
}

void print_o_tab102_rec(FILE *stream, const o_tab102_rec *r, const char *separator)
{
    if (stream == nullptr || r == nullptr)
        return;
    Columns c(stream, separator);
    c.hu("%5hu", static_cast<int16_t>(r->vers));
    if (r->vers == 0) {
        print_tab102_fields(c, r->o_tab102_rec_u.v0);
    } else if (r->vers == 1) {
        print_tab102_fields(c, r->o_tab102_rec_u.v1);
        c.text(r->o_tab102_rec_u.v1.f34);
    } else {
        c.separator();
        return;
    }
    c.end();
}

const char *allowed_text(int flag)
{
    return flag != 0 ? "allowed" : "not allowed";
}

int read_o_tab19_rec(FILE *s, o_tab19_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    return text(s, r->id) && text(s, r->f2) && text(s, r->f3);
}

int read_o_tab7_rec(FILE *s, o_tab7_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    return text(s, r->id) && text(s, r->f2) && frdline_hu(s, &r->f3) && frdline_hu(s, &r->f4) &&
           frdline_lx(s, &r->f5) && frdline_lx(s, &r->f6);
}

int read_o_tab11_rec(FILE *s, o_tab11_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    return text(s, r->id) && text(s, r->f2) && text(s, r->f3) && text(s, r->f4) && frdline_hu(s, &r->f5) &&
           text(s, r->f6) && text(s, r->f7) && frdline_lx(s, &r->f8) && text(s, r->f9) &&
           frdline_lx(s, &r->f10) && frdline_lx(s, &r->f11) && text(s, r->f12) && text(s, r->f13) &&
           text(s, r->f14) && frdline_hu(s, &r->f15) && text(s, r->f16) && frdline_hu(s, &r->f17) &&
           text(s, r->f18);
}

int read_o_tab15_rec(FILE *s, o_tab15_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    return text(s, r->id) && text(s, r->f2) && frdline_hu(s, &r->f3) && text(s, r->f4) && text(s, r->f5) &&
           frdline_hu(s, &r->f6) && frdline_hu(s, &r->f7);
}

int read_o_tab67_rec(FILE *s, o_tab67_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    if (!read_tab58_head(s, r) || !frdline_hu(s, &r->f7))
        return 0;
    for (auto &field : r->f8)
        if (!text(s, field))
            return 0;
    return text(s, r->f9) && text(s, r->f10);
}

int read_o_tab72_rec(FILE *s, o_tab72_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    char answer = 0;
    if (!(text(s, r->id) && text(s, r->f2) && text(s, r->f3) && text(s, r->f4) && text(s, r->f5) &&
          frdline_c(s, &answer)))
        return 0;
    int ok = frdline_hu(s, &r->f7);
    r->f6 = IsYes(answer) ? 1 : 0;
    return ok;
}

int read_o_tab58_rec(FILE *s, o_tab58_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    return read_tab58_head(s, r);
}

int read_o_tab62_rec(FILE *s, o_tab62_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    return text(s, r->f1) && text(s, r->f2) && text(s, r->f3);
}

int read_o_tab97_rec(FILE *s, o_tab97_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    int version = 0;
    if (!read_version(s, &version) || (version != 0 && version != 1))
        return 0;
    r->vers = version;
    if (version == 0) {
        o_tab97_v0 &a = r->o_tab97_rec_u.v0;
        return text(s, a.id) && text(s, a.f2) && text(s, a.f3);
    }
    o_tab97_v1 &a = r->o_tab97_rec_u.v1;
    return text(s, a.id) && text(s, a.f2) && text(s, a.f3);
}

int read_o_tab102_rec(FILE *s, o_tab102_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    if (!read_version(s, &r->vers))
        return 0;
    if (r->vers == 0)
        return read_tab102_fields(s, &r->o_tab102_rec_u.v0, 10);
    if (r->vers == 1) {
        o_tab102_v1 &a = r->o_tab102_rec_u.v1;
        return read_tab102_fields(s, &a, 20) && text(s, a.f34);
    }
    return 0;
}

int read_o_tab102_rec_v1(FILE *s, o_tab102_rec *r)
{
    if (s == nullptr || r == nullptr)
        return 0;
    int version = 0;
    if (!read_version(s, &version))
        return 0;
    r->vers = 1;
    o_tab102_v1 &a = r->o_tab102_rec_u.v1;
    if (version == 0) {
        a.f34[0] = '\0';
        return read_tab102_fields(s, &a, 10);
    }
    if (version == 1)
        return read_tab102_fields(s, &a, 20) && text(s, a.f34);
    return 0;
}
