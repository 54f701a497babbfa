// Bounded access to the fixed text fields of decoded records.
//
// A fixed string (strN) or a log line (opaque101) from a server may hold no terminator: all N
// characters are then text. Every reader of decoded text goes through FieldText, which never
// reads past the field. FieldSet fills a request field: at most N-1 characters, zeros behind.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace tela {

// The text of a field of n bytes: up to its first NUL, or all n bytes when there is none.
inline std::string_view FieldText(const char *field, std::size_t n)
{
    return std::string_view(field, strnlen(field, n));
}

template <std::size_t N>
inline std::string_view FieldText(const char (&field)[N])
{
    return FieldText(field, N);
}

// Copies at most N-1 characters of text into the field and clears the rest of it, so the field
// keeps its terminator and sends zeros behind the text. Returns the number of characters kept.
template <std::size_t N>
inline std::size_t FieldSet(char (&field)[N], std::string_view text)
{
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memset(field, 0, N);
    if (n != 0)
        std::memcpy(field, text.data(), n);
    return n;
}

}  // namespace tela
