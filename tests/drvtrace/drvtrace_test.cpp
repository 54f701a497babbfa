// The harness's trace printer, error texts and the trace scope's lines as dirprobe prints them.
#include "drvtrace/drvtrace.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <cerrno>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

class Verbosity {
public:
    explicit Verbosity(int v) : saved_(TraceVerbosity()) { SetTraceVerbosity(v); }
    ~Verbosity() { SetTraceVerbosity(saved_); }

private:
    int saved_;
};

std::string Captured(void (*what)())
{
    testsupport::CaptureFd captured(1);
    what();
    fflush(stdout);
    return captured.Text();
}

TEST(DriverTrace, StartsAtVerbosityOne)
{
    EXPECT_EQ(TraceVerbosity(), 1);
    EXPECT_EQ(GetCurrentLineNo(), 0xffff);
}

TEST(DriverTrace, LevelAgainstVerbosity)
{
    const int levels[] = {TRACE_ALWAYS, TRACE_ERROR, TRACE_WARNING, TRACE_DEBUG, TRACE_CALL};
    for (int verbosity : {0, 1, 2, 3}) {
        Verbosity v(verbosity);
        for (int level : levels) {
            testsupport::CaptureFd captured(1);
            DriverTrace("file.cpp", 12, level, LINE_NONE, "line %d at %s\n", level, "here");
            DriverTraceScope(nullptr, 0, level, 7, "scope %d\n", level);
            fflush(stdout);
            const std::string out = captured.Text();
            const std::string expected =
                "line " + std::to_string(level) + " at here\nscope " + std::to_string(level) + "\n";
            EXPECT_EQ(out, level <= verbosity ? expected : "")
                << "level " << level << " verbosity " << verbosity;
        }
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
TEST(DriverTrace, EmptyFormatPrintsNothing)
{
    for (int verbosity : {1, 2, 3}) {
        Verbosity v(verbosity);
        EXPECT_EQ(Captured([] {
                      DriverTrace("file.cpp", 1, TRACE_ALWAYS, LINE_NONE, "");
                      DriverTraceScope(nullptr, 0, TRACE_ALWAYS, LINE_NONE, "");
                      DriverTrace("file.cpp", 1, TRACE_ALWAYS, LINE_NONE, nullptr);
                      DriverTraceBegin(TRACE_ALWAYS, LINE_NONE);
                      DriverTraceEnd(TRACE_ALWAYS, LINE_NONE);
                  }),
                  "");
    }
}
#pragma GCC diagnostic pop

TEST(DriverTrace, ErrorTextIsHexadecimalAndBounded)
{
    struct {
        GdResult code;
        size_t size;
        const char *text;
    } const cases[] = {
        {GDERR_RPC, 2048, "0x10000005"},
        {GDERR_RPC, 5, "0x10"},
        {GDERR_RPC, 1, ""},
        {0, 16, "0x0"},
        {0xFFFFFFFBu, 16, "0xfffffffb"},
        {GDERR_NO_MORE, 11, "0x10000006"},
        {GDERR_NO_MORE, 10, "0x1000000"},
    };
    for (const auto &c : cases) {
        std::vector<char> buf(c.size + 1, 'x');
        GetErrorText(c.code, buf.data(), c.size);
        EXPECT_STREQ(buf.data(), c.text) << std::hex << c.code << " size " << c.size;
        EXPECT_EQ(buf[c.size], 'x');
    }
    char untouched = 'x';
    GetErrorText(GDERR_RPC, &untouched, 0);
    EXPECT_EQ(untouched, 'x');
    EXPECT_STREQ(ErrorText(GDERR_FAILED).Text(), "0x10000001");
}

TEST(DriverCodes, Composition)
{
    EXPECT_EQ(GdLdapError(-5), 0xFFFFFFFBu);
    EXPECT_EQ(GdLdapError(-1), 0xFFFFFFFFu);
    EXPECT_EQ(GdLdapError(49), 0x50000031u);
    EXPECT_EQ(GdLdapError(0x51), 0x50000051u);
    EXPECT_EQ(GdSystemError(ENOMEM), 0x4000000Cu);
    EXPECT_EQ(GdSystemError(0x7ABCDEF1), 0x4ABCDEF1u);
    errno = 0;
    EXPECT_EQ(open("/nonexistent-dir/nothing", O_RDONLY), -1);
    EXPECT_EQ(GdLastSystemError(), 0x40000002u);  // ENOENT
}

// A public operation as the driver side writes them.
GdResult Operation(GdResult outcome, bool leaveEarly)
{
    GdResult rc = 0;
    TraceScope scope("Operation", LINE_NONE, &rc);
    if (leaveEarly) {
        rc = outcome;
        return rc;
    }
    DriverTrace(__FILE__, __LINE__, TRACE_DEBUG, LINE_NONE, "working\n");
    rc = outcome;
    return rc;
}

TEST(TraceScope, EntryAndExitLinesOnlyAtVerbosityThree)
{
    struct {
        int verbosity;
        GdResult outcome;
        bool early;
        const char *out;
    } const cases[] = {
        {1, 0, false, ""},
        {1, GDERR_RPC, true, ""},
        {2, 0, false, "working\n"},
        {2, GDERR_RPC, false, "working\n"},
        {3, 0, false, "-->Operation()\nworking\n<--Operation()=ok\n"},
        {3, GDERR_RPC, false, "-->Operation()\nworking\n<--Operation()=0x10000005\n"},
        {3, GDERR_RPC, true, "-->Operation()\n<--Operation()=0x10000005\n"},
        {3, GdLdapError(-5), true, "-->Operation()\n<--Operation()=0xfffffffb\n"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Verbosity v(cases[i].verbosity);
        testsupport::CaptureFd captured(1);
        EXPECT_EQ(Operation(cases[i].outcome, cases[i].early), cases[i].outcome);
        fflush(stdout);
        EXPECT_EQ(captured.Text(), cases[i].out) << "case " << i;
    }
}

}  // namespace
