#include "drvif/drvif.h"

#include <cerrno>
#include <cstring>

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

void TraceRpcText(int level, LineNo lineNo, const char *text, bool emptyLineAfter)
{
    const size_t n = text ? std::strlen(text) : 0;
    const bool ended = n > 0 && text[n - 1] == '\n';
    if (emptyLineAfter) {
        GD_TRACE(level, lineNo, ended ? "%s\n" : "%s\n\n", text ? text : "");
    } else {
        GD_TRACE(level, lineNo, ended ? "%s" : "%s\n", text ? text : "");
    }
}

// The location-only lines carry an empty format on purpose: the host records file and line
// and prints no text.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"

TraceScope::TraceScope(const char *name, LineNo lineNo, const GdResult *result, int level, const char *file,
                       int line)
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
