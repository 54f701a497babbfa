#include "outcharset.h"

#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>

#include "uc2/uc2.h"

namespace {

bool LocaleIsUtf8()
{
    if (std::setlocale(LC_CTYPE, "") == nullptr)
        return false;
    const char *codeset = nl_langinfo(CODESET);
    const bool utf8 =
        codeset != nullptr && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
    // Only the output changes: character classes and everything else keep the C locale's
    // meaning of bytes above 0x7F.
    std::setlocale(LC_CTYPE, "C");
    return utf8;
}

bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The stream's write function: converts `size` bytes and writes them whole to descriptor 1.
// Returns size, or 0 on a write error (the stream then reports the error).
ssize_t WriteConverted(void *, const char *buf, size_t size)
{
    char out[3 * 256];
    size_t done = 0;
    while (done < size) {
        size_t used = 0;
        for (size_t i = 0; i < 256 && done < size; ++i, ++done)
            used += OutputByteToUtf8(static_cast<unsigned char>(buf[done]), out + used);
        if (!WriteAll(STDOUT_FILENO, out, used))
            return 0;
    }
    return static_cast<ssize_t>(size);
}

}  // namespace

size_t OutputByteToUtf8(unsigned char byte, char *out)
{
    uint16_t value = iso_to_uc2_tab[byte];
    if (byte >= UC2_PRIVATE_FIRST && byte < UC2_PRIVATE_FIRST + UC2_PRIVATE_COUNT)
        value = uc2_private_tab[byte - UC2_PRIVATE_FIRST];
    if (value < 0x80) {
        out[0] = static_cast<char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<char>(0xC0 | value >> 6);
        out[1] = static_cast<char>(0x80 | (value & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | value >> 12);
    out[1] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (value & 0x3F));
    return 3;
}

bool SetUpOutputCharset()
{
    if (!LocaleIsUtf8())
        return false;
    cookie_io_functions_t io = {};
    io.write = WriteConverted;
    FILE *converted = fopencookie(nullptr, "w", io);
    if (converted == nullptr)
        return false;
    // The buffering stdout would have had: by lines on a terminal (a prompt without a newline
    // is flushed before input is read), in blocks elsewhere.
    if (setvbuf(converted, nullptr, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ) != 0) {
        std::fclose(converted);
        return false;
    }
    std::fflush(stdout);
    stdout = converted;
    return true;
}
