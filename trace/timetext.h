// Time and number texts shared by the support code and the gateway's record printers.
//
// Times are 32-bit signed seconds since 1970-01-01 00:00 UTC, shown in local time. The
// converting functions treat values above TIME_TEXT_MAX (one day before the end of the 32-bit
// range) as TIME_TEXT_MAX and negative values as illegal. "long" values of the record formats are
// 32 bits on every platform, so the texts never outgrow their 12-character buffers.
#pragma once

#include <cstddef>
#include <cstdint>

// Largest time the converting functions show; later times are shown as this one.
constexpr int32_t TIME_TEXT_MAX = 2147483647 - 86400;

// Room the caller's buffer of TimeToString needs, terminator included ("dd.mm.yy hh:mm:ss").
constexpr size_t TIME_TEXT_SIZE = 18;
// Room of the date and time buffers of TimeToDateAndTime ("illegal" / "dd.mm.yy", "hh:mm").
constexpr size_t DATE_TEXT_SIZE = 9;
constexpr size_t CLOCK_TEXT_SIZE = 6;
// Room of the caller's buffer of HexToString ("%x" of 32 bits).
constexpr size_t HEX_TEXT_SIZE = 9;

// Stores the current time in *now (when not null) and returns it.
int32_t GetTimeNow(int32_t *now);
// The current time.
int32_t TimeNow();

// The local broken-down time of t: day of month 1-31, month 1-12, year counted from 1900, hour,
// minute, second, weekday 0 (Sunday) to 6. Every out pointer may be null.
void SplitTime(int32_t t, int *day, int *month, int *year, int *hour, int *minute, int *second, int *weekday);

// Writes " d. m.yy hh:mm:ss" (day, month and hour padded with a blank) into buffer, which holds
// TIME_TEXT_SIZE bytes, or "illegal time" for a negative t. Returns the characters written.
int TimeToString(int32_t t, char *buffer);

// Writes "dd.mm.yy" into date (DATE_TEXT_SIZE bytes) and "hh:mm" into clock (CLOCK_TEXT_SIZE
// bytes) and returns 1. For a negative t writes "illegal" into date, leaves clock as it is and
// returns 0.
int TimeToDateAndTime(int32_t t, char *date, char *clock);

// 1 and *value set when text reads as a decimal 32-bit signed number (leading white space and a
// sign allowed, anything may follow the digits); else 0 and *value 0. A number outside the
// 32-bit range does not read.
int StringToLong(const char *text, int32_t *value);

// Decimal, unsigned decimal and 8-place blank-padded hexadecimal texts of value, each in a
// 12-character buffer of its own that the next call of the same function overwrites.
const char *LongToString(int32_t value);
const char *ULongToString(uint32_t value);
const char *Hex8ToString(uint32_t value);

// Writes value as lower-case hexadecimal into buffer (HEX_TEXT_SIZE bytes); returns the
// characters written.
int HexToString(uint32_t value, char *buffer);

// The larger (MaxInt) or smaller (MinInt) of a and b; a when they are equal.
int MaxInt(int a, int b);
int MinInt(int a, int b);

// Formats into buffer with printf rules, writing at most size - 1 characters and a terminator,
// and returns buffer. A size of 0 leaves the buffer untouched.
char *StrPrintf(char *buffer, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));

// The debug level of the gateway's RPC wrappers (0 at start); above 4 they print their requests.
void SetDebugLevel(int level);
int GetDebugLevel();
