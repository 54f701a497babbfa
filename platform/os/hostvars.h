// Host variables and string utilities: the hosts of the product's servers, the RPC transport of
// the gateway's server handles and the RPC program numbers, all from environment variables, and
// the bounded copy used to fill the fixed-size text fields of the RPC records.
// None of these functions fails.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies characters of src until its terminator or until `count` characters are copied, then
// always writes a terminator: up to count + 1 bytes land in dst. count 0 (or less) writes only
// the terminator. Callers pass the field size less one (10 for a user id field of 11). A null
// src copies nothing. Returns the position of the terminator written.
char *BoundedCopy(char *dst, const char *src, int16_t count);

// The value of the variable `name` copied into dst with BoundedCopy(count); an empty text when
// the variable is not set. Returns dst.
char *GetEnvCopy(const char *name, int16_t count, char *dst);

// Longest result Unquote keeps in its own buffer (terminator not counted).
constexpr size_t UNQUOTE_MAX = 1000;

// The text without surrounding quotes: leading white space is skipped; when the first remaining
// character is ' or " and the last character that is not white space is the same quote (and
// lies after it), the result is the text between them; otherwise the whole text as given,
// leading white space included. With dst (dstSize bytes, dstSize > 0) the result is cut to fit
// and dst is returned; with dst nullptr it goes into a static buffer of UNQUOTE_MAX characters
// that the next such call overwrites. nullptr text gives nullptr.
char *Unquote(const char *text, char *dst = nullptr, size_t dstSize = 0);

// LOCALHOST read on the first call and kept (at most 35 characters); "localhost" when it is
// not set or empty. The text stays valid for the life of the process.
const char *GetLocalHost();

// The variable's value (ALPHAHOST, OMEGAHOST, LAMBDAHOST, GAMMAHOST, THETAHOST, PIHOST) when it
// is set and not empty, not limited in length; else GetLocalHost(). The text belongs to the
// environment: valid until that variable is changed.
const char *GetAlphaHost();
const char *GetOmegaHost();
const char *GetLambdaHost();
const char *GetGammaHost();
const char *GetThetaHost();
const char *GetPiHost();

// RPCTRANSPORT when it is set, even when empty; else "tcp".
const char *GetRpcTransport();

// `program` plus the offset from TELAMORPCOFFSET (32-bit arithmetic). The variable is read on
// the first call only (a signed decimal number; a value that does not start with one gives 0);
// later changes are not seen.
uint32_t RpcProgramNumber(uint32_t program);
