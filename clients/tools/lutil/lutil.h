// Support functions of the LDAP tool code: password prompt and password file, an option scanner
// with its own state, base64, text copies that return the end of the copy, number, time and
// duration parsers and formatters. Texts are plain 8-bit; failures return -1 unless noted.
#pragma once

#include <lber.h>

#include <cstddef>
#include <ctime>

// Writes the prompt ("Password: " when none) to stderr and reads one line from stdin, echoed.
// Returns a static 512-byte buffer that the next call overwrites (at most 511 characters are
// kept, the rest of the line is read and dropped), or nullptr at end of input.
char *prompt_password(const char *prompt);

// Reads the whole file into `value` (allocated with ber_memalloc, NUL-terminated, line ends
// kept); warns on stderr when others may read or write the file. 0, or -1 after perror.
int read_password_file(const char *path, struct berval *value);

// Option scanner state; independent of any other option parser of the process.
extern int scan_index;          // next argument to look at, initially 1
extern int scan_position;       // position inside the current argument, initially 1
extern char *scan_argument;     // argument of the last option, or nullptr
extern int scan_letter;         // option letter last examined
extern int scan_report_errors;  // non-zero: write error lines to descriptor 2, initially 1

// Returns the next option letter, '?' for an unknown letter or a missing argument, or -1 at
// the first non-option argument, a lone "-" or after "--". `letters` lists the option letters,
// each followed by ':' when it takes an argument.
int scan_option(int argc, char *const *argv, const char *letters);

// Base64 (RFC 4648) into `target` with a terminator; returns the text length, or -1 when the
// output does not fit.
int base64_encode(const unsigned char *src, size_t srcLength, char *target, size_t targetSize);
// Decodes base64 (white space anywhere is skipped, strict padding); with target nullptr it only
// counts. Returns the number of bytes, or -1.
int base64_decode(const char *src, unsigned char *target, size_t targetSize);

// Copies src with its terminator; returns the position of the copied terminator (dest itself
// when a pointer is missing).
char *copy_text(char *dest, const char *src);
// Copies until a terminator is copied or n + 1 characters are written; returns the position of
// the last character written (dest when n is 0 or a pointer is missing). dest needs n + 1 bytes.
char *copy_text_n(char *dest, const char *src, size_t n);
// Copies n bytes; returns the position just after them.
char *copy_bytes_end(void *dest, const void *src, size_t n);

// The whole text as a number in `base`; 0 or -1. A missing pointer is an assertion failure.
int parse_unsigned(unsigned long *value, const char *text, int base);
int parse_long(long *value, const char *text, int base);
// Strict forms: no leading white space, no overflow.
int parse_long_strict(long *value, const char *text, int base);
int parse_unsigned_strict(unsigned long *value, const char *text, int base);
int parse_long_long_strict(long long *value, const char *text, int base);
int parse_unsigned_long_long_strict(unsigned long long *value, const char *text, int base);

// Broken-down time of a generalized time text: year minus 1900, month 0 to 11.
struct BrokenDownTime {
    int year;
    int mon;
    int mday;
    int hour;
    int min;
    int sec;
    int usec;
};
// Seconds since 1970 as a high word (units of 2^32 seconds) and a low 32-bit word.
struct SecondsTime {
    int high;
    unsigned int low;
    int usec;
};
// "YYYYMMDDHHMMSS[.fraction]Z"; 0 or -1.
int parse_generalized_time(const char *text, BrokenDownTime *tm);
// 0 (always).
int broken_down_to_seconds(const BrokenDownTime *tm, SecondsTime *out);
// "%Y%m%d%H%M%SZ", or with a non-zero offset and room for 20 the zone as "+hhmm"/"-hhmm".
// Returns the length (15 or 19), 0 when it does not fit.
size_t format_generalized_time(char *buf, size_t size, const struct tm *tm, long offset);
// "1d2h3m4s" (units in that order, each at most once; a last bare number is seconds); 0 or -1.
int parse_duration(const char *text, unsigned long *seconds);
// The inverse of parse_duration ("0s" for 0); 0, or -1 when it does not fit.
int format_duration(char *buf, size_t size, unsigned long seconds);

// num (big-endian, len bytes) = num * factor + add; returns the carry out of the top byte.
unsigned int multiply_add_big(unsigned char *num, size_t len, unsigned int factor, unsigned int add);
// Decimal (optionally negative, two's complement out) or hexadecimal ("0x..." or "'...'H")
// into out; out->bv_len is the room on entry and the length on return. 0 or -1.
int parse_big_integer(const struct berval *in, struct berval *out);

// snprintf with a report: negative on a format error, 0 when the text fit (*end after it), 1
// when cut (*end at the buffer's last position); *length is the full length.
int format_bounded(char *buf, size_t size, char **end, size_t *length, const char *format, ...)
    __attribute__((format(printf, 5, 6)));

// Turns every '/' into '\\' in place.
void to_backslashes(char *text);
// The program name from argv[0] (rewritten in place: backslashes, no ".exe"), or the default.
char *program_base_name(char *defaultName, int argc, char **argv);
// The last position among the first n bytes that holds c, or nullptr.
void *find_last_byte(const void *buf, int c, size_t n);
// Makes the template ("...XXXXXX") a unique name and creates the file exclusively with mode
// 0600; returns the descriptor or -1.
int create_unique_file(char *nameTemplate);
