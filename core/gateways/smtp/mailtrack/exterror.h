// Error codes of the gateway and their texts. An ErrorCode is 32 bits, 0 for success, with the
// family in the top four bits and a number in the low 28 bits:
//   SY 0x1 system error number   "SY%x: " + the system's message text
//   GW 0x2 gateway number        "GW%x: " + fixed text ("Failed", "Timeout", ...)
//   LD 0x3 LDAP result code      "LD%x: " + the LDAP library's text (the library is loaded at
//                                the first LD text; where it cannot be, a text naming the code)
//   CF 0x4 configuration text    "CF%x: " + the text of the key "$EC_<number>:" from alpha, or
//                                the key itself when no alpha client is registered
//   CV 0x5 conversion number     "CV%x: " + fixed text
// Other families: "OK." for code 0, else "Unknown Error %x. " with the whole code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rpcrt/rpcrt.h"

using ErrorCode = uint32_t;

constexpr ErrorCode EC_FAMILY_MASK = 0xF0000000u;
constexpr ErrorCode EC_NUMBER_MASK = 0x0FFFFFFFu;
constexpr ErrorCode EC_SY = 0x10000000u;
constexpr ErrorCode EC_GW = 0x20000000u;
constexpr ErrorCode EC_LD = 0x30000000u;
constexpr ErrorCode EC_CF = 0x40000000u;
constexpr ErrorCode EC_CV = 0x50000000u;

// Size of the working buffer and of ExtErrorText's text, terminator included.
constexpr size_t EXT_ERROR_TEXT_SIZE = 1024;

// Writes the text of `code` into buffer: at most length - 1 characters and a terminator (a longer
// text is cut). length 0 or a null buffer writes nothing. Never fails: a failed CF look-up shows
// the key, a number without a text "Unknown Error". A CF code with a registered client costs one
// call of alpha 73.
void ErrorCodeText(ErrorCode code, char *buffer, size_t length);

// One message's text, made from a code when the object is made.
class ExtErrorText {
public:
    explicit ExtErrorText(ErrorCode code) { ErrorCodeText(code, text_, sizeof text_); }
    const char *Text() const { return text_; }

private:
    char text_[EXT_ERROR_TEXT_SIZE];
};

// Registers the caller's variable that holds the alpha client for CF look-ups (null: none). The
// variable is read at each look-up, so whatever client it holds then is used; it must outlive
// the registration.
void SetErrorTextClient(CLIENT **client);
