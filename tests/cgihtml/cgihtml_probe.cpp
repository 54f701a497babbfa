// Child program of the CGI input tests: reads the request like the report program does and
// prints the entries, one "name=value" line each, with CR, LF and backslash escaped. Started by a
// web server (CGIHTML_PROBE_HEADER set), it writes a plain-text header first.
#include "cgihtml/cgihtml.h"

#include <cstdio>
#include <cstdlib>

namespace {

void PrintEscaped(const char *text)
{
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '\r')
            std::fputs("\\r", stdout);
        else if (*p == '\n')
            std::fputs("\\n", stdout);
        else if (*p == '\\')
            std::fputs("\\\\", stdout);
        else
            std::putchar(*p);
    }
}

}  // namespace

int main()
{
    CgiEntry *entries = nullptr;
    int count = CgiReadInput(&entries);
    if (std::getenv("CGIHTML_PROBE_HEADER") != nullptr)
        std::printf("Content-type: text/plain\r\n\r\n");
    std::printf("count=%d\n", count);
    for (const CgiEntry *e = entries; e != nullptr; e = CgiListNext(e)) {
        PrintEscaped(e->name);
        std::putchar('=');
        PrintEscaped(e->value);
        std::putchar('\n');
    }
    CgiListClear(&entries);
    return 0;
}
