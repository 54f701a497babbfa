#include "uc2/uc2.h"

#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr std::array<uint16_t, 256> BuildIsoToUc2()
{
    std::array<uint16_t, 256> tab{};
    for (unsigned i = 0; i < 256; ++i)
        tab[i] = static_cast<uint16_t>(i);
    // Where ISO-8859-15 differs from ISO-8859-1.
    tab[0xA4] = 0x20AC;
    tab[0xA6] = 0x0160;
    tab[0xA8] = 0x0161;
    tab[0xB4] = 0x017D;
    tab[0xB8] = 0x017E;
    tab[0xBC] = 0x0152;
    tab[0xBD] = 0x0153;
    tab[0xBE] = 0x0178;
    return tab;
}

struct Fold {
    uint16_t from;
    unsigned char to;
};

// Characters folded onto ordinary ISO-8859-15 positions.
constexpr Fold kFolds[] = {
    {0x2000, 0x20}, {0x2001, 0x20}, {0x2002, 0x20}, {0x2003, 0x20}, {0x2004, 0x20},
    {0x2005, 0x20}, {0x2006, 0x20}, {0x2009, 0x20}, {0x200A, 0x20},  // typographic spaces
    {0x2010, 0xAD}, {0x2011, 0xAD},                                  // hyphens
    {0x2212, 0x2D},                                                  // minus sign
    {0x2215, 0x2F},                                                  // division slash
    {0x02C9, 0xAF},                                                  // modifier macron
    {0x03BC, 0xB5},                                                  // greek mu
    {0x2219, 0xB7},                                                  // bullet operator
    {0x0110, 0xD0}, {0x0189, 0xD0},                                  // capital D with stroke
    {0x2018, 0x60}, {0x2019, 0x27},                                  // single quotation marks
};

// Private positions 0x80 to 0x93 (not ISO-8859-15 characters).
constexpr std::array<uint16_t, UC2_PRIVATE_COUNT> kPrivate = {
    0x0060, 0x02C6, 0x02DC, 0x0131, 0x0192, 0x201C, 0x201D, 0x2039, 0x203A, 0xFB01,
    0xFB02, 0x2020, 0x2021, 0x2013, 0x2022, 0x02D8, 0x201E, 0x2026, 0x2030, 0x2122,
};

constexpr bool IsDroppedControl(unsigned c)
{
    // C0 controls other than BEL, TAB, LF, FF and CR; and all C1 controls.
    if (c >= 0x01 && c <= 0x1F)
        return !(c == 0x07 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D);
    return c >= 0x80 && c <= 0x9F;
}

constexpr std::array<unsigned char, 65536> BuildUc2ToIso()
{
    // The inverse of ISO-8859-15 without the dropped controls. Apostrophe, O with stroke, the
    // not sign and the division sign keep their own bytes, so a name like O'Neill survives.
    std::array<unsigned char, 65536> tab{};
    const std::array<uint16_t, 256> iso = BuildIsoToUc2();
    for (unsigned i = 1; i < 256; ++i) {
        if (!IsDroppedControl(i))
            tab[iso[i]] = static_cast<unsigned char>(i);
    }
    for (const Fold &f : kFolds)
        tab[f.from] = f.to;
    for (unsigned i = 0; i < kPrivate.size(); ++i)
        tab[kPrivate[i]] = static_cast<unsigned char>(UC2_PRIVATE_FIRST + i);
    return tab;
}

constexpr uint16_t kInvalid = 0xFFFD;

inline bool IsContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// Decodes the sequence at s[pos]; advances pos by the rules of the decoder (an invalid lead
// advances 1, a bad second byte 1, a bad third byte 2, a complete but overlong form its
// whole length). Never reads past a NUL.
inline bool Decode(const unsigned char *s, size_t &pos, uint16_t &value)
{
    const unsigned char b = s[pos];
    if (b < 0x80) {
        value = b;
        pos += 1;
        return true;
    }
    value = kInvalid;
    if (b < 0xC0 || b >= 0xF0) {
        pos += 1;
        return false;
    }
    const unsigned char b2 = s[pos + 1];
    if (!IsContinuation(b2)) {
        pos += 1;
        return false;
    }
    if (b < 0xE0) {
        pos += 2;
        const unsigned v = (b & 0x1Fu) << 6 | (b2 & 0x3Fu);
        if (v < 0x80)
            return false;
        value = static_cast<uint16_t>(v);
        return true;
    }
    const unsigned char b3 = s[pos + 2];
    if (!IsContinuation(b3)) {
        pos += 2;
        return false;
    }
    pos += 3;
    const unsigned v = (b & 0x0Fu) << 12 | (b2 & 0x3Fu) << 6 | (b3 & 0x3Fu);
    if (v < 0x800)
        return false;
    value = static_cast<uint16_t>(v);
    return true;
}

inline int ModOf(uint16_t value, unsigned char byte)
{
    if (byte != 0)
        return UC2_MAPPED;
    return (value == 0xFEFF || value == 0x2060) ? UC2_DROPPED : UC2_NO_ISO;
}

// The ISO-8859-15 writer shared by the UTF-8 and UCS-2 text forms.
class IsoWriter {
public:
    IsoWriter(char *buf, size_t size, const char *replacement)
        : buf_(buf),
          size_(size),
          repl_(replacement),
          replLen_(replacement != nullptr ? strlen(replacement) : 0)
    {
    }
    bool Full() const { return n_ >= size_; }
    size_t Room() const { return size_ - n_; }
    unsigned char *Cursor() { return reinterpret_cast<unsigned char *>(buf_ + n_); }
    void Advance(size_t k) { n_ += k; }
    void Store(unsigned char byte) { buf_[n_++] = static_cast<char>(byte); }
    void Put(unsigned char byte, int mod)
    {
        if (mod == UC2_MAPPED) {
            buf_[n_++] = static_cast<char>(byte);
        } else if (mod != UC2_DROPPED && replLen_ > 0 && n_ + replLen_ < size_) {
            memcpy(buf_ + n_, repl_, replLen_);
            n_ += replLen_;
        }
    }
    char *Finish()
    {
        buf_[n_ < size_ ? n_ : size_ - 1] = '\0';
        return buf_;
    }

private:
    char *buf_;
    size_t size_;
    const char *repl_;
    size_t replLen_;
    size_t n_ = 0;
};

struct Utf8Form {
    unsigned char len;
    char bytes[3];
};

// The UTF-8 form of every ISO-8859-15 byte.
constexpr std::array<Utf8Form, 256> BuildIsoUtf8()
{
    const std::array<uint16_t, 256> iso = BuildIsoToUc2();
    std::array<Utf8Form, 256> tab{};
    for (unsigned i = 0; i < 256; ++i) {
        const unsigned c = iso[i];
        Utf8Form &f = tab[i];
        if (c < 0x80) {
            f.len = 1;
            f.bytes[0] = static_cast<char>(c);
        } else if (c < 0x800) {
            f.len = 2;
            f.bytes[0] = static_cast<char>(0xC0 | c >> 6);
            f.bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            f.len = 3;
            f.bytes[0] = static_cast<char>(0xE0 | c >> 12);
            f.bytes[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
            f.bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return tab;
}

constexpr std::array<Utf8Form, 256> kIsoUtf8 = BuildIsoUtf8();

inline int Utf8Length(uint16_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
}

// Copies the first character of a replacement into a buffer of ours.
const char *FirstCharacter(const char *replacement, char (&one)[2])
{
    one[0] = replacement != nullptr ? replacement[0] : '\0';
    one[1] = '\0';
    return one;
}

}  // namespace

constexpr std::array<uint16_t, 256> iso_to_uc2_tab = BuildIsoToUc2();
constexpr std::array<unsigned char, 65536> uc2_to_iso_tab = BuildUc2ToIso();
constexpr std::array<uint16_t, UC2_PRIVATE_COUNT> uc2_private_tab = kPrivate;

int utf8_to_uc2(const char *text, size_t *pos, uint16_t *value)
{
    if (text == nullptr || pos == nullptr || value == nullptr)
        return 0;
    return Decode(reinterpret_cast<const unsigned char *>(text), *pos, *value) ? 1 : 0;
}

int utf8_to_iso(const char *text, size_t *pos, unsigned char *byte, int *mod)
{
    if (text == nullptr || pos == nullptr || byte == nullptr || mod == nullptr)
        return 0;
    uint16_t value;
    if (!Decode(reinterpret_cast<const unsigned char *>(text), *pos, value)) {
        *byte = 0;
        *mod = UC2_INVALID;
        return 1;
    }
    return uc2_to_iso(value, byte, mod);
}

int uc2_to_iso(uint16_t value, unsigned char *byte, int *mod)
{
    if (byte == nullptr || mod == nullptr)
        return 0;
    *byte = uc2_to_iso_tab[value];
    *mod = ModOf(value, *byte);
    return 1;
}

int iso_to_uc2(unsigned char byte, uint16_t *value)
{
    if (value == nullptr)
        return 0;
    *value = iso_to_uc2_tab[byte];
    return 1;
}

int ucs_to_utf8(uint32_t c, char *out)
{
    if (out == nullptr)
        return -1;
    int n;
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        n = 1;
    } else if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | c >> 6);
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        n = 2;
    } else if (c <= 0xFFFE) {
        if (c >= 0xD800 && c <= 0xDFFF)
            return -2;
        out[0] = static_cast<char>(0xE0 | c >> 12);
        out[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        n = 3;
    } else if (c >= 0x10000 && c <= 0x10FFFE) {
        out[0] = static_cast<char>(0xF0 | c >> 18);
        out[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out[3] = static_cast<char>(0x80 | (c & 0x3F));
        n = 4;
    } else {
        return -1;
    }
    out[n] = '\0';
    return n;
}

int iso_to_utf8(const char *iso, char *out)
{
    if (iso == nullptr || out == nullptr)
        return -1;
    return ucs_to_utf8(iso_to_uc2_tab[static_cast<unsigned char>(*iso)], out);
}

char *utf8_to_iso_buf(const char *utf8, char *buf, size_t size, const char *replacement)
{
    if (utf8 == nullptr || buf == nullptr)
        return nullptr;
    if (size == 0)
        return buf;
    IsoWriter out(buf, size, replacement);
    const unsigned char *s = reinterpret_cast<const unsigned char *>(utf8);
    const size_t len = strlen(utf8);
    size_t pos = 0;
    while (pos < len && !out.Full()) {
#ifdef __SSE2__
        // Leading ASCII bytes among the next sixteen, copied as they are unless one of them is a
        // control character or the grave accent (those go through the table below).
        if (pos + 16 <= len && out.Room() > 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + pos));
            const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
            const unsigned k = high ? static_cast<unsigned>(__builtin_ctz(high)) : 16;
            const __m128i special =
                _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x60)));
            const unsigned lead = (1u << k) - 1;
            if ((static_cast<unsigned>(_mm_movemask_epi8(special)) & lead) == 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out.Cursor()), v);
                out.Advance(k);
                pos += k;
                if (k == 16)
                    continue;
                goto one_character;
            }
        }
#endif
        // The ASCII bytes among the next eight, mapped together: all eight table bytes are
        // written (room permitting) and the cursor moves past the leading ASCII ones.
        if (pos + 8 <= len && out.Room() > 8) {
            uint64_t word;
            memcpy(&word, s + pos, 8);
            const uint64_t high = word & 0x8080808080808080ull;
            const unsigned k = high ? static_cast<unsigned>(__builtin_ctzll(high)) >> 3 : 8;
            uint64_t mapped = 0;
            for (unsigned i = 0; i < 8; ++i)
                mapped |= static_cast<uint64_t>(uc2_to_iso_tab[(word >> (8 * i)) & 0x7F]) << (8 * i);
            const uint64_t zero = (mapped - 0x0101010101010101ull) & ~mapped & 0x8080808080808080ull;
            const uint64_t lead = k == 8 ? ~0ull : (1ull << (8 * k)) - 1;
            if ((zero & lead) == 0) {
                memcpy(out.Cursor(), &mapped, 8);
                out.Advance(k);
                pos += k;
                if (k == 8)
                    continue;
            }
        }
    one_character:
        // One character: the common mapped one- to three-byte forms first.
        const unsigned b = s[pos];
        if (b < 0x80) {
            const unsigned char byte = uc2_to_iso_tab[b];
            if (byte != 0) {
                out.Store(byte);
                pos += 1;
                continue;
            }
        } else if ((b & 0xE0u) == 0xC0 && (s[pos + 1] & 0xC0u) == 0x80) {
            const unsigned v = (b & 0x1Fu) << 6 | (s[pos + 1] & 0x3Fu);
            const unsigned char byte = uc2_to_iso_tab[v];
            if (v >= 0x80 && byte != 0) {
                out.Store(byte);
                pos += 2;
                continue;
            }
        } else if ((b & 0xF0u) == 0xE0 && (s[pos + 1] & 0xC0u) == 0x80 && (s[pos + 2] & 0xC0u) == 0x80) {
            const unsigned v = (b & 0x0Fu) << 12 | (s[pos + 1] & 0x3Fu) << 6 | (s[pos + 2] & 0x3Fu);
            const unsigned char byte = uc2_to_iso_tab[v];
            if (v >= 0x800 && byte != 0) {
                out.Store(byte);
                pos += 3;
                continue;
            }
        }
        uint16_t value;
        if (!Decode(s, pos, value)) {
            out.Put(0, UC2_INVALID);
            continue;
        }
        const unsigned char byte = uc2_to_iso_tab[value];
        out.Put(byte, ModOf(value, byte));
    }
    return out.Finish();
}

char *uc2_to_iso_buf(const uint16_t *src, size_t count, char *buf, size_t size, const char *replacement)
{
    if (src == nullptr || buf == nullptr)
        return nullptr;
    if (size == 0)
        return buf;
    IsoWriter out(buf, size, replacement);
    for (size_t i = 0; i < count && src[i] != 0 && !out.Full(); ++i) {
        const unsigned char byte = uc2_to_iso_tab[src[i]];
        out.Put(byte, ModOf(src[i], byte));
    }
    return out.Finish();
}

char *iso_to_utf8_buf(const char *iso, char *buf, size_t size)
{
    if (iso == nullptr || buf == nullptr)
        return nullptr;
    if (size == 0)
        return buf;
    const unsigned char *s = reinterpret_cast<const unsigned char *>(iso);
    const size_t len = strlen(iso);
    size_t pos = 0;
    size_t n = 0;
    while (pos < len) {
#ifdef __SSE2__
        // ASCII is the same in both: leading ASCII bytes of the next sixteen are copied at once.
        if (pos + 16 <= len && n + 16 < size) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + pos));
            const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
            const unsigned k = high ? static_cast<unsigned>(__builtin_ctz(high)) : 16;
            _mm_storeu_si128(reinterpret_cast<__m128i *>(buf + n), v);
            n += k;
            pos += k;
            if (k == 16)
                continue;
        }
#endif
        const Utf8Form &f = kIsoUtf8[s[pos]];
        if (n + f.len >= size)
            break;
        memcpy(buf + n, f.bytes, f.len);
        n += f.len;
        ++pos;
    }
    buf[n] = '\0';
    return buf;
}

uint16_t *iso_to_uc2_buf(const char *iso, uint16_t *out, size_t count)
{
    if (iso == nullptr || out == nullptr)
        return nullptr;
    if (count == 0)
        return out;
    size_t n = 0;
    for (; iso[n] != 0 && n < count; ++n)
        out[n] = iso_to_uc2_tab[static_cast<unsigned char>(iso[n])];
    out[n < count ? n : count - 1] = 0;
    return out;
}

size_t iso_to_utf8_size(const char *iso)
{
    if (iso == nullptr)
        return 0;
    size_t n = 1;
    for (const unsigned char *s = reinterpret_cast<const unsigned char *>(iso); *s; ++s)
        n += static_cast<size_t>(Utf8Length(iso_to_uc2_tab[*s]));
    return n;
}

char *utf8_to_iso_dup(const char *utf8, const char *replacement)
{
    if (utf8 == nullptr)
        return nullptr;
    // Each input byte gives at most one output byte with a one-character replacement.
    const size_t size = strlen(utf8) + 1;
    char *buf = static_cast<char *>(malloc(size));
    if (buf == nullptr)
        return nullptr;
    char one[2];
    return utf8_to_iso_buf(utf8, buf, size, FirstCharacter(replacement, one));
}

char *uc2_to_iso_dup(const uint16_t *src, size_t count, const char *replacement)
{
    if (src == nullptr)
        return nullptr;
    char *buf = static_cast<char *>(malloc(count + 1));
    if (buf == nullptr)
        return nullptr;
    char one[2];
    return uc2_to_iso_buf(src, count, buf, count + 1, FirstCharacter(replacement, one));
}

char *iso_to_utf8_dup(const char *iso)
{
    if (iso == nullptr)
        return nullptr;
    const size_t size = iso_to_utf8_size(iso);
    char *buf = static_cast<char *>(malloc(size));
    if (buf == nullptr)
        return nullptr;
    return iso_to_utf8_buf(iso, buf, size);
}

uint16_t *iso_to_uc2_dup(const char *iso)
{
    if (iso == nullptr)
        return nullptr;
    const size_t count = strlen(iso) + 1;
    uint16_t *out = static_cast<uint16_t *>(malloc(count * sizeof(uint16_t)));
    if (out == nullptr)
        return nullptr;
    return iso_to_uc2_buf(iso, out, count);
}
