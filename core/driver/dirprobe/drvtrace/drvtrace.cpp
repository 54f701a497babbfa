#include "drvtrace/drvtrace.h"

#include <cstdarg>
#include <cstdio>

namespace {
int g_verbosity = 1;

// One formatted print per line, so lines of several threads do not mix.
void PrintLine(int level, const char *fmt, va_list args)
{
    if (level > g_verbosity || fmt == nullptr || fmt[0] == '\0')
        return;
    vfprintf(stdout, fmt, args);
}
}  // namespace

void SetTraceVerbosity(int verbosity)
{
    g_verbosity = verbosity;
}

int TraceVerbosity()
{
    return g_verbosity;
}

void DriverTrace(const char *, int, int level, LineNo, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    PrintLine(level, fmt, args);
    va_end(args);
}

void DriverTraceScope(const char *, int, int level, LineNo, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    PrintLine(level, fmt, args);
    va_end(args);
}

void DriverTraceBegin(int, LineNo) {}

void DriverTraceEnd(int, LineNo) {}

void GetErrorText(GdResult code, char *buf, size_t size)
{
    if (buf == nullptr || size == 0)
        return;
    snprintf(buf, size, "0x%x", static_cast<unsigned>(code));
    buf[size - 1] = '\0';
}

LineNo GetCurrentLineNo()
{
    return LINE_NONE;
}
