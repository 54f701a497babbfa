#include "drvif/drvif.h"

#include <cerrno>

GdResult GdLastSystemError()
{
    return GdSystemError(errno);
}

ErrorText::ErrorText(GdResult code)
{
    text_[0] = '\0';
    GetErrorText(code, text_, kSize);
    text_[kSize - 1] = '\0';
}

// The location-only lines carry an empty format on purpose: the host records file and line
// and prints no text.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"

TraceScope::TraceScope(const char *name, LineNo lineNo, const GdResult *result, int level,
                       const char *file, int line)
    : name_(name), lineNo_(lineNo), level_(level), result_(result)
{
    DriverTraceBegin(level_, lineNo_);
    DriverTrace(file, line, level_, lineNo_, "");
    DriverTraceScope(nullptr, 0, level_, lineNo_, "-->%s()\n", name_);
    DriverTraceEnd(level_, lineNo_);
}

TraceScope::~TraceScope()
{
    DriverTraceBegin(level_, lineNo_);
    DriverTrace(nullptr, 0, level_, lineNo_, "");
    GdResult rc = result_ ? *result_ : 0;
    if (rc == 0) {
        DriverTraceScope(nullptr, 0, level_, lineNo_, "<--%s()=ok\n", name_);
    } else {
        ErrorText text(rc);
        DriverTraceScope(nullptr, 0, level_, lineNo_, "<--%s()=%s\n", name_, text.Text());
    }
    DriverTraceEnd(level_, lineNo_);
}

#pragma GCC diagnostic pop
