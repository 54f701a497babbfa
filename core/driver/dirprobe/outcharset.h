// The character set of dirprobe's standard output. Its texts are ISO-8859-15 (directory values
// converted with the folding onto the private positions 0x80 to 0x93); a UTF-8 terminal shows
// them only when they are converted on the way out.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads the locale's character set (LC_CTYPE from the environment). When it is UTF-8, replaces
// stdout by a stream that writes each byte to descriptor 1 as the UTF-8 form of the character it
// stands for; in every other locale stdout stays as it is and the bytes go out unchanged. The
// program's own locale stays "C" either way. Returns true when the output is converted; call
// once, before anything is written to stdout.
bool SetUpOutputCharset();

// The UTF-8 form of one output byte into out (at least 3 bytes): ISO-8859-15, except the private
// positions, which give the characters they stand for (0x8D: U+2013). Returns the count, 1 to 3.
size_t OutputByteToUtf8(unsigned char byte, char *out);
