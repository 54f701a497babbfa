// Test-side helpers for the wire form of the records.
//
// Wire builds expected bytes unit by unit, without any of the system's XDR routines, so a
// comparison with what those routines produce checks the wire itself (a round trip through the
// same routines would not). Encode/Decode run a record routine over a memory stream.
#pragma once

#include <rpc/rpc.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace xdrtest {

using Bytes = std::vector<uint8_t>;

class Wire {
public:
    Wire &u32(uint32_t v)
    {
        b_.push_back(static_cast<uint8_t>(v >> 24));
        b_.push_back(static_cast<uint8_t>(v >> 16));
        b_.push_back(static_cast<uint8_t>(v >> 8));
        b_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Wire &i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    // A short goes out widened with its sign.
    Wire &i16(int16_t v) { return i32(v); }
    Wire &boolean(bool v) { return u32(v ? 1 : 0); }
    Wire &present(bool v) { return boolean(v); }
    // A fixed string of n characters: one unit per character, the byte widened with its sign;
    // the text, then zero units up to n.
    Wire &str(size_t n, std::string_view text)
    {
        for (size_t i = 0; i < n; ++i) {
            uint8_t c = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
            u32(c >= 0x80 ? 0xFFFFFF00u | c : c);
        }
        return *this;
    }
    Wire &str11(std::string_view t) { return str(11, t); }
    Wire &str21(std::string_view t) { return str(21, t); }
    Wire &str31(std::string_view t) { return str(31, t); }
    Wire &str36(std::string_view t) { return str(36, t); }
    Wire &str81(std::string_view t) { return str(81, t); }
    // n bytes, then zero fill up to a multiple of 4.
    Wire &opaque(size_t n, std::string_view bytes)
    {
        for (size_t i = 0; i < n; ++i)
            b_.push_back(i < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0);
        while (b_.size() % 4)
            b_.push_back(0);
        return *this;
    }
    // Counted bytes: the length, the bytes, zero fill.
    Wire &blob(std::string_view bytes)
    {
        u32(static_cast<uint32_t>(bytes.size()));
        return opaque(bytes.size(), bytes);
    }
    Wire &append(const Wire &w)
    {
        b_.insert(b_.end(), w.b_.begin(), w.b_.end());
        return *this;
    }
    const Bytes &bytes() const { return b_; }
    size_t size() const { return b_.size(); }

private:
    Bytes b_;
};

// Fills a fixed field for a test: the text (cut at N), zeros behind.
template <size_t N>
void SetText(char (&field)[N], std::string_view text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
}

// Encodes *obj with proc; false when the routine fails (out is then what was written so far).
inline bool Encode(xdrproc_t proc, void *obj, Bytes *out, size_t room = 1 << 16)
{
    out->assign(room, 0);
    XDR x;
    xdrmem_create(&x, reinterpret_cast<char *>(out->data()), static_cast<u_int>(room), XDR_ENCODE);
    bool ok = proc(&x, obj) != 0;
    out->resize(xdr_getpos(&x));
    xdr_destroy(&x);
    return ok;
}

// Decodes bytes into *obj (which the caller cleared). On failure the caller still frees *obj.
inline bool Decode(xdrproc_t proc, void *obj, const Bytes &bytes, u_int *used = nullptr)
{
    XDR x;
    xdrmem_create(&x, const_cast<char *>(reinterpret_cast<const char *>(bytes.data())),
                  static_cast<u_int>(bytes.size()), XDR_DECODE);
    bool ok = proc(&x, obj) != 0;
    if (used)
        *used = xdr_getpos(&x);
    xdr_destroy(&x);
    return ok;
}

inline std::string Hex(const Bytes &b)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < b.size(); ++i) {
        if (i && i % 4 == 0)
            s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

// The first unit at which two byte strings differ, for failure messages.
inline std::string FirstDifference(const Bytes &got, const Bytes &want)
{
    size_t n = got.size() < want.size() ? got.size() : want.size();
    for (size_t i = 0; i < n; i += 4)
        if (std::memcmp(&got[i], &want[i], (n - i) < 4 ? n - i : 4) != 0)
            return "unit " + std::to_string(i / 4) + " (byte " + std::to_string(i) + ")";
    if (got.size() != want.size())
        return "length " + std::to_string(got.size()) + " vs " + std::to_string(want.size());
    return "none";
}

#define XPROC(f) reinterpret_cast<xdrproc_t>(f)

}  // namespace xdrtest
