// Readers of records kept in text files with one field a line, the product's date text parser,
// and small converters between numbers, flags and texts.
//
// A reader takes at most a fixed width of characters of the line, drops the rest of the line
// and removes trailing white space from what it took; it returns 1 for a field read and 0 at the
// end of the stream or when the line does not convert (the stream then stands after that line).
// On 0 the out value is left as it was, except where a function says otherwise. Readers never
// print. Numbers are the record formats' 32-bit values; a number beyond a field's range does not
// convert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Widths of the fixed readers.
constexpr int FIELD_WIDTH_LONG = 30;   // unsigned and hexadecimal longs, bytes, dates and times
constexpr int FIELD_WIDTH_SHORT = 20;  // shorts and ints

// Bit of the flags of frdline_time and FormatDateTime that selects decimal seconds.
constexpr int TIME_FLAG_SECONDS = 1;

// Reads at most width characters of the next line into buffer (width + 1 bytes), drops the rest
// of the line and trailing white space. 1 for a line (an empty one too), 0 only at the end of the
// stream (buffer then empty). A width below 0 counts as 0.
int frdline(FILE *stream, int width, char *buffer);

// Hexadecimal number; 1 when it is below 256. *value gets the number modulo 256 whenever the line
// converts (0 when it does not).
int frdline_byte(FILE *stream, uint8_t *value);
// First character of the line (NUL for an empty line); the rest of the line is dropped. 0 only at
// the end of the stream.
int frdline_c(FILE *stream, char *value);
// Unsigned 16-bit, signed 32-bit, unsigned 32-bit decimal and unsigned 32-bit hexadecimal numbers.
int frdline_hu(FILE *stream, uint16_t *value);
int frdline_d(FILE *stream, int32_t *value);
int frdline_lu(FILE *stream, uint32_t *value);
int frdline_lx(FILE *stream, uint32_t *value);
// The same readers for the signed fields of the records, which keep the bits of the number
// (a "%hu" of 65535 is -1 in a short).
int frdline_byte(FILE *stream, char *value);
int frdline_hu(FILE *stream, int16_t *value);
int frdline_lu(FILE *stream, int32_t *value);
int frdline_lx(FILE *stream, int32_t *value);
// A time: with TIME_FLAG_SECONDS in flags decimal seconds (an empty line gives 0), else a date
// text as frdline_date reads it.
int frdline_time(FILE *stream, int flags, int32_t *value);
// A date text through ParseDateTime.
int frdline_date(FILE *stream, int32_t *value);

// Reads the product's date text: "d.m.y h[:m[:s]]", or "h[:m[:s]]" for a time of today, or
// seconds since 1970 above 315529199. Two-digit years below 69 are 2000 to 2068, the others 1969
// to 1999. 1 and *value set when the text reads; an empty text gives 1 and 0; else 0 (also for
// white space only and for a time outside the 32-bit range).
int ParseDateTime(const char *text, int32_t *value);

// Writes t into buffer (TIME_TEXT_SIZE bytes): with TIME_FLAG_SECONDS as unsigned decimal
// seconds, else as TimeToString writes it, or an empty text for 0. Returns the characters
// written.
int FormatDateTime(char *buffer, int flags, int32_t t);

// The value with nine decimals, the last one cut rather than rounded ("-2.500000000"); 17 stars
// for magnitudes of 2147483647 or more. In a static buffer that the next call overwrites.
const char *DoubleToString(double value);

// Copies text after dest with its terminator, at most size - 1 characters (size is the room left
// at dest), and returns the position of the terminator. A size of 0 copies nothing and returns
// dest.
char *AppendString(char *dest, size_t size, const char *text);

// *value, or 0 for a null pointer.
int ValueOrZero(const int *value);

// One line naming the product's support library.
const char *GetBannerText();

// Free space of the file system holding path (its nearest existing directory; "." for an empty
// path): 0 above 5 per cent free, 72 above 2 per cent, else 73; 37 when the space cannot be
// asked.
int CheckDiskSpace(const char *path);

// "true" / "false" and "ok" / "not ok" for the flag.
const char *TrueFalseText(int flag);
const char *OkText(int flag);

// The ASCII upper-case form of c (a to z minus 32), any other byte unchanged.
char UpperChar(char c);
// Upper-cases text in place with UpperChar; returns text.
char *UpperString(char *text);
// True when c is "J" or "Y" in either case.
bool IsYes(char c);
// 'J' for true, 'N' for false.
char YesNoChar(int flag);
