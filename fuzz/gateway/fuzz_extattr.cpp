// Runs the extension-attribute parser over arbitrary text, once with small buffers and once with
// buffers as long as the text, and checks that both forms walk the text alike: the cursor moves
// forward on every assignment and never past the end, names and values stay terminated within
// their buffers, and a cut name or value is a prefix of the full one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mailtrack/gwsetup.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Syntax errors are traced to the standard output; keep the fuzzer's log readable.
    if (!freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();  // the parser takes a C text: it ends at the first NUL
    const size_t length = text.size();
    std::vector<char> fullName(length + 1), fullValue(length + 1);
    char name[8], value[16];
    size_t cursor = 0, fullCursor = 0;
    for (;;) {
        size_t before = cursor;
        memset(name, 'x', sizeof name);
        memset(value, 'x', sizeof value);
        int got = ParseExtAttr(text.c_str(), &cursor, name, sizeof name, value, sizeof value);
        int fullGot = ParseExtAttr(text.c_str(), &fullCursor, fullName.data(), fullValue.data());
        if (got != fullGot || cursor != fullCursor || cursor > length)
            abort();
        if (!memchr(name, '\0', sizeof name) || !memchr(value, '\0', sizeof value))
            abort();
        if (strncmp(name, fullName.data(), strlen(name)) != 0 ||
            strncmp(value, fullValue.data(), strlen(value)) != 0)
            abort();
        if (got == 0)
            break;
        if (cursor <= before)
            abort();
    }
    return 0;
}
