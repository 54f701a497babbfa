/* The bounded copies as C code calls them. */
#include "os/textcopy.h"

size_t TextCopyFromC(char *dst, size_t size, const char *src);
size_t TextCopyPaddedFromC(char *dst, size_t width, const char *src);
size_t TextCopyFilledFromC(char *dst, size_t size, const char *src);

size_t TextCopyFromC(char *dst, size_t size, const char *src)
{
    return TextCopy(dst, size, src);
}

size_t TextCopyPaddedFromC(char *dst, size_t width, const char *src)
{
    return TextCopyPadded(dst, width, src);
}

size_t TextCopyFilledFromC(char *dst, size_t size, const char *src)
{
    return TextCopyFilled(dst, size, src);
}
