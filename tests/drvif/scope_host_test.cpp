// The trace scope's calls into its driver host, in order, as a host that records them sees
// them: the hooks around each line, the location-only line with the caller's file and line,
// and the entry and exit texts.
#include "drvif/drvif.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {
std::vector<std::string> g_calls;

std::string Format(const char *fmt, va_list args)
{
    char text[512];
    vsnprintf(text, sizeof text, fmt, args);
    return text;
}

void Record(const char *what, const char *file, int line, int level, LineNo lineNo, const std::string &text)
{
    char head[256];
    snprintf(head, sizeof head, "%s %s:%d level %d line %u ", what, file ? file : "-", line, level, lineNo);
    g_calls.push_back(head + text);
}
}  // namespace

void DriverTrace(const char *file, int line, int level, LineNo lineNo, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    Record("trace", file, line, level, lineNo, Format(fmt, args));
    va_end(args);
}

void DriverTraceScope(const char *file, int line, int level, LineNo lineNo, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    Record("scope", file, line, level, lineNo, Format(fmt, args));
    va_end(args);
}

void DriverTraceBegin(int level, LineNo lineNo)
{
    Record("begin", nullptr, 0, level, lineNo, "");
}

void DriverTraceEnd(int level, LineNo lineNo)
{
    Record("end", nullptr, 0, level, lineNo, "");
}

void GetErrorText(GdResult code, char *buf, size_t size)
{
    snprintf(buf, size, "E%u", code);
}

LineNo GetCurrentLineNo()
{
    return 42;
}

namespace {

int g_scopeLine = 0;

GdResult Failing(LineNo lineNo)
{
    GdResult rc = 0;
    g_scopeLine = __LINE__ + 1;
    TraceScope scope("Failing", lineNo, &rc);
    rc = GDERR_NO_MORE;
    return rc;
}

TEST(TraceScopeHost, CallsInOrderWithTheCallersLocation)
{
    g_calls.clear();
    EXPECT_EQ(Failing(17), GDERR_NO_MORE);
    const std::string here = std::string(__FILE__) + ":" + std::to_string(g_scopeLine);
    const std::vector<std::string> expected = {
        "begin -:0 level 3 line 17 ",
        "trace " + here + " level 3 line 17 ",
        "scope -:0 level 3 line 17 -->Failing()\n",
        "end -:0 level 3 line 17 ",
        "begin -:0 level 3 line 17 ",
        "trace -:0 level 3 line 17 ",
        "scope -:0 level 3 line 17 <--Failing()=E268435462\n",
        "end -:0 level 3 line 17 ",
    };
    EXPECT_EQ(g_calls, expected);
}

TEST(TraceScopeHost, LevelAndSuccess)
{
    g_calls.clear();
    {
        GdResult rc = 0;
        TraceScope scope("Quiet", LINE_NONE, &rc, TRACE_DEBUG);
    }
    ASSERT_EQ(g_calls.size(), 8u);
    EXPECT_EQ(g_calls[2], "scope -:0 level 2 line 65535 -->Quiet()\n");
    EXPECT_EQ(g_calls[6], "scope -:0 level 2 line 65535 <--Quiet()=ok\n");
}

}  // namespace
