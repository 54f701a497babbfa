// Base64 of RFC 4648 with "=" padding; the decoder is strict about padding and pad bits.
#include "lutil/lutil.h"

#include <cctype>
#include <cstring>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kPad = '=';

int AlphabetIndex(int c)
{
    if (c == 0)
        return -1;
    const char *p = std::strchr(kAlphabet, c);
    return p ? static_cast<int>(p - kAlphabet) : -1;
}

bool IsBlank(int c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

int base64_encode(const unsigned char *src, size_t srcLength, char *target, size_t targetSize)
{
    size_t out = 0;
    while (srcLength > 0) {
        unsigned char in[3] = {0, 0, 0};
        size_t take = srcLength < 3 ? srcLength : 3;
        std::memcpy(in, src, take);
        src += take;
        srcLength -= take;
        if (out + 4 > targetSize)
            return -1;
        target[out++] = kAlphabet[in[0] >> 2];
        target[out++] = kAlphabet[((in[0] & 0x03) << 4) | (in[1] >> 4)];
        target[out++] = take > 1 ? kAlphabet[((in[1] & 0x0f) << 2) | (in[2] >> 6)] : kPad;
        target[out++] = take > 2 ? kAlphabet[in[2] & 0x3f] : kPad;
    }
    if (out >= targetSize)
        return -1;
    target[out] = '\0';
    return static_cast<int>(out);
}

int base64_decode(const char *src, unsigned char *target, size_t targetSize)
{
    size_t count = 0;
    int state = 0;  // data characters seen in the current group
    int last = 0;   // value of the last data character
    const char *p = src;
    int c;
    while ((c = static_cast<unsigned char>(*p++)) != '\0') {
        if (IsBlank(c))
            continue;
        if (c == kPad)
            break;
        int v = AlphabetIndex(c);
        if (v < 0)
            return -1;
        // Bytes complete after the 2nd, 3rd and 4th character of a group.
        switch (state) {
        case 0:
            break;
        case 1:
            if (target) {
                if (count >= targetSize)
                    return -1;
                target[count] = static_cast<unsigned char>((last << 2) | (v >> 4));
            }
            count++;
            break;
        case 2:
            if (target) {
                if (count >= targetSize)
                    return -1;
                target[count] = static_cast<unsigned char>(((last & 0x0f) << 4) | (v >> 2));
            }
            count++;
            break;
        case 3:
            if (target) {
                if (count >= targetSize)
                    return -1;
                target[count] = static_cast<unsigned char>(((last & 0x03) << 6) | v);
            }
            count++;
            break;
        }
        last = v;
        state = (state + 1) % 4;
    }

    if (c == kPad) {
        if (state < 2)
            return -1;
        if (state == 2) {
            // Two data characters: a second "=" must follow.
            while ((c = static_cast<unsigned char>(*p++)) != '\0' && IsBlank(c)) {
            }
            if (c != kPad)
                return -1;
        }
        while ((c = static_cast<unsigned char>(*p++)) != '\0') {
            if (!IsBlank(c))
                return -1;
        }
        if (target) {
            int unused = state == 2 ? (last & 0x0f) : (last & 0x03);
            if (unused != 0)
                return -1;
        }
    } else if (state != 0) {
        return -1;
    }
    return static_cast<int>(count);
}
