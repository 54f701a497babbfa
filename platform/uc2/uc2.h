// Character-set conversion between UTF-8, UCS-2 (16-bit code units) and ISO-8859-15.
//
// Conversion into ISO-8859-15 also folds typographic spaces, hyphens, the minus sign and the
// single quotation marks onto ISO-8859-15 characters, puts typographic quotation marks, a dash,
// ligatures, the trade mark sign and a few others (and the grave accent) on the private
// positions 0x80 to 0x93, and drops characters without a mapping. The reverse direction is
// plain ISO-8859-15 and does not undo the folding.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The Unicode value of each ISO-8859-15 byte.
extern const std::array<uint16_t, 256> iso_to_uc2_tab;
// The ISO-8859-15 byte of each UCS-2 value, 0 when it has none.
extern const std::array<unsigned char, 65536> uc2_to_iso_tab;
// The private positions UC2_PRIVATE_FIRST ... UC2_PRIVATE_FIRST + UC2_PRIVATE_COUNT - 1 that the
// conversion into ISO-8859-15 uses: the character each one stands for (0x8D: U+2013 EN DASH).
// iso_to_uc2_tab gives these bytes their ISO-8859-15 meaning (C1 controls) instead.
enum { UC2_PRIVATE_FIRST = 0x80, UC2_PRIVATE_COUNT = 20 };
extern const std::array<uint16_t, UC2_PRIVATE_COUNT> uc2_private_tab;

// Status of one converted character (`mod`).
enum {
    UC2_MAPPED = 0,   // stored
    UC2_DROPPED = 1,  // dropped silently (U+FEFF, U+2060), never replaced
    UC2_NO_ISO = 2,   // no ISO-8859-15 form
    UC2_INVALID = 3,  // invalid UTF-8
};

// ---- single characters; each returns 1, or 0 when a required pointer is missing ----------

// Decodes the UTF-8 sequence at text[*pos] and advances *pos. Returns 1 for a valid sequence,
// 0 for an invalid one (the value is then U+FFFD) or a missing pointer.
int utf8_to_uc2(const char *text, size_t *pos, uint16_t *value);
// utf8_to_uc2, then uc2_to_iso; an invalid sequence gives byte 0 and mod UC2_INVALID.
int utf8_to_iso(const char *text, size_t *pos, unsigned char *byte, int *mod);
// The byte from uc2_to_iso_tab; mod UC2_MAPPED when non-zero, else UC2_DROPPED or UC2_NO_ISO.
int uc2_to_iso(uint16_t value, unsigned char *byte, int *mod);
int iso_to_uc2(unsigned char byte, uint16_t *value);
// Writes the UTF-8 form of a code point and a NUL into out (at least 5 bytes). Returns the
// byte count 1 to 4, -2 for a surrogate, -1 for U+FFFF, values from U+10FFFF on, or no out.
int ucs_to_utf8(uint32_t codePoint, char *out);
// The UTF-8 form of the ISO-8859-15 byte at *iso into out (at least 5 bytes): 1 to 3 bytes,
// or -1 when a pointer is missing.
int iso_to_utf8(const char *iso, char *out);

// ---- NUL-terminated texts ------------------------------------------------------------------
// `size`/`count` is the size of the output, terminator included. Each returns the output, or
// nullptr when the input or the output is missing. A size or count of 0 writes nothing. Bytes
// of the output after the terminator (within size) may be overwritten.
// A replacement (ISO-8859-15 text, nullptr or empty for none) is stored for each character
// without an ISO-8859-15 form and for each invalid UTF-8 byte, when it fits whole.

char *utf8_to_iso_buf(const char *utf8, char *buf, size_t size, const char *replacement);
// Converts `count` code units, stopping early at a 0 unit.
char *uc2_to_iso_buf(const uint16_t *src, size_t count, char *buf, size_t size, const char *replacement);
// Stops at the first character whose UTF-8 form does not fit whole.
char *iso_to_utf8_buf(const char *iso, char *buf, size_t size);
uint16_t *iso_to_uc2_buf(const char *iso, uint16_t *out, size_t count);
// Bytes the UTF-8 form of iso needs, terminator included (0 for nullptr).
size_t iso_to_utf8_size(const char *iso);

// ---- allocating forms; the caller frees the result with free(); nullptr when out of memory ----
// The forms with a replacement use only its first character; the caller's text is not changed.
char *utf8_to_iso_dup(const char *utf8, const char *replacement);
char *uc2_to_iso_dup(const uint16_t *src, size_t count, const char *replacement);
char *iso_to_utf8_dup(const char *iso);
uint16_t *iso_to_uc2_dup(const char *iso);
