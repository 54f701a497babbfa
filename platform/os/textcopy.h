/* Bounded copies of texts into fixed-size buffers and record fields, beside BoundedCopy of
   os/hostvars.h. Usable from C (with POSIX's strnlen) and C++; none of them reads more of the
   source than it may copy.

   - TextCopy: at most size - 1 characters and a terminator; the bytes behind the terminator are
     left as they are. For buffers of a caller and fields of a record that was cleared.
   - TextCopyN: the same from a text of a given length (a decoded field, a std::string).
   - TextCopyPadded: exactly `width` bytes: the text, cut to the width, then NULs. No terminator
     when the text fills the width: for keys whose parts lie side by side.
   - TextCopyFilled: at most size - 1 characters, then NULs up to the size: a terminated text
     with the rest of the field cleared. */
#pragma once

#include <stddef.h>
#include <string.h>

/* The first `length` bytes of src, cut to size - 1, then a terminator. Nothing is written when
   dst is null or size is 0. Returns the number of bytes copied. */
static inline size_t TextCopyN(char *dst, size_t size, const char *src, size_t length)
{
    if (dst == NULL || size == 0)
        return 0;
    size_t n = length < size - 1 ? length : size - 1;
    if (n != 0)
        memcpy(dst, src, n);
    dst[n] = '\0';
    return n;
}

/* At most size - 1 characters of src (a null src is empty), then a terminator. */
static inline size_t TextCopy(char *dst, size_t size, const char *src)
{
    if (dst == NULL || size == 0)
        return 0;
    return TextCopyN(dst, size, src, src != NULL ? strnlen(src, size - 1) : 0);
}

/* At most `width` characters of src (a null src is empty), and NULs up to `width`. */
static inline size_t TextCopyPadded(char *dst, size_t width, const char *src)
{
    size_t n = src != NULL ? strnlen(src, width) : 0;
    if (n != 0)
        memcpy(dst, src, n);
    memset(dst + n, 0, width - n);
    return n;
}

/* At most size - 1 characters of src (a null src is empty), then NULs up to `size`. Nothing is
   written when dst is null or size is 0. */
static inline size_t TextCopyFilled(char *dst, size_t size, const char *src)
{
    if (dst == NULL || size == 0)
        return 0;
    size_t n = TextCopyPadded(dst, size - 1, src);
    dst[size - 1] = '\0';
    return n;
}

#ifdef __cplusplus
#include <string_view>

/* The same for arrays, whose size the compiler knows, and for texts of known length. */
template <size_t N>
inline size_t TextCopy(char (&dst)[N], const char *src)
{
    return TextCopy(dst, N, src);
}

inline size_t TextCopy(char *dst, size_t size, std::string_view src)
{
    return TextCopyN(dst, size, src.data(), src.size());
}

template <size_t N>
inline size_t TextCopy(char (&dst)[N], std::string_view src)
{
    return TextCopyN(dst, N, src.data(), src.size());
}
#endif
