#include <gtest/gtest.h>

#include <string>

#include "testsupport.h"
#include "tracetest.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

using ParamsTest = tracetest::TraceTest;

TEST(ParseTraceConfigLine, FirstWordOnEachSide)
{
    struct Case {
        const char *line;
        const char *key;
        const char *value;
    } cases[] = {
        {"TraceLevel=W\n", "TraceLevel", "W"},
        {"  tracelevel  =  d  \r\n", "tracelevel", "d"},
        {"TraceFilesize=52428800 bytes\n", "TraceFilesize", "52428800"},
        {"TraceMinFiles=10\t# 0=switch off aging\n", "TraceMinFiles", "10"},
        {"a b = c d\n", "a", "c"},
        {"k=v=w\n", "k", "v"},
        {"# TraceLevel=C\n", "", ""},
        {"TraceLevel#=C\n", "TraceLevel", ""},
        {"=value\n", "", "value"},
        {"key=\n", "key", ""},
        {"", "", ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        char key[80] = "x";
        char value[80] = "y";
        ParseTraceConfigLine(cases[i].line, key, sizeof key, value, sizeof value);
        EXPECT_STREQ(key, cases[i].key) << "case " << i;
        EXPECT_STREQ(value, cases[i].value) << "case " << i;
    }
    // Small buffers keep their terminator.
    char key[4];
    char value[3];
    ParseTraceConfigLine("abcdefg=hijk", key, sizeof key, value, sizeof value);
    EXPECT_STREQ(key, "abc");
    EXPECT_STREQ(value, "hi");
}

// Each case is one trace.cfg read from the defaults: the parameter it reaches and the trace
// messages it writes (after the time stamp and source location).
TEST_F(ParamsTest, ReadTraceConfigCases)
{
    struct Case {
        const char *file;
        int (*get)();
        int expected;
        std::vector<std::string> messages;
    } cases[] = {
        {"tracelevel = d\n", GetTraceLevel, 2, {}},
        {"TraceLevel=x\n", GetTraceLevel, 3, {}},
        {"TraceLevel=p\n", GetTraceLevel, -2, {}},
        {"TraceRollHour=0\n", GetTraceRollhour, 24, {"E: illegal hours 0, set to 24\n"}},
        {"TraceRollHour=745\n", GetTraceRollhour, 24, {"E: illegal hours 745, set to 24\n"}},
        {"TraceRollHour=12 hours\n", GetTraceRollhour, 12, {"A: rollhour 12\n"}},
        {"TraceRollHour=abc\n", GetTraceRollhour, 24, {}},
        {"TraceRollMode=rollsize\nTraceRollHour=5\n",
         GetTraceRollhour,
         24,
         {"A: rollmode rollsize\n", "E: SetTraceRollhour ignored, rollmode is rollsize.\n"}},
        {"TraceRollMode=rollsize\nTraceRollHour=5\nTraceRollMode=ROLLDATE\n",
         GetTraceRollhour,
         24,
         {"A: rollmode rollsize\n", "E: SetTraceRollhour ignored, rollmode is rollsize.\n",
          "A: rollmode rolldate\n"}},
        {"TraceRollMode=weekly\n", GetTraceRollmode, 1, {"E: unknown rollmode weekly, set to rolldate\n"}},
        {"TraceStampType=DetailedTime\n", GetTraceStamptype, 1, {"A: stamptype detailedtime\n"}},
        {"TraceStampType=fancy\n", GetTraceStamptype, 0, {"E: unknown stamptype fancy, set to datetime\n"}},
        {"TraceMinFiles=0\n", GetTraceMinfiles, 0, {"A: No LogAge (Minfiles 0).\n"}},
        {"TraceMinFiles=10\n", GetTraceMinfiles, 10, {}},
        {"TraceMinFiles=-3\n", GetTraceMinfiles, 10, {"E: illegal Minfiles -3, set to 10\n"}},
        {"TraceMinFiles=4\n", GetTraceMinfiles, 4, {"A: Delete if there are more than 4 files.\n"}},
        {"TraceMinAge=3\n", GetTraceMinage, 3, {}},
        {"TraceMinAge=-1\n", GetTraceMinage, 10, {"E: illegal minage -1, set to 10\n"}},
        {"Unknown=1\nTraceLevel\n", GetTraceLevel, 3, {}},
    };
    TempDir dir("tracecfg");
    for (size_t i = 0; i < std::size(cases); ++i) {
        ResetTraceParams();
        SetTraceLevel(3);
        WriteFile(dir.file("trace.cfg"), cases[i].file);
        ReadTraceConfig(dir.path().c_str());
        EXPECT_EQ(cases[i].get(), cases[i].expected) << "case " << i;
        auto lines = tracetest::Lines(Fallback());
        ASSERT_EQ(lines.size(), cases[i].messages.size()) << "case " << i;
        for (size_t l = 0; l < lines.size(); ++l) {
            EXPECT_NE(lines[l].find(" trace_params("), std::string::npos) << "case " << i;
            std::string tail = lines[l].substr(lines[l].find("):") + 2);
            EXPECT_EQ(tail, cases[i].messages[l]) << "case " << i;
        }
    }
}

TEST_F(ParamsTest, FilesizeLimitsAndThirtyTwoBits)
{
    TempDir dir("tracecfg");
    struct Case {
        const char *value;
        uint32_t expected;
        const char *message;
    } cases[] = {
        {"5000", kTraceFilesizeDefault,
         "filesize 5000 too small (minimum 10240), reset to default 52428800\n"},
        {"-1", 4294967295u, "filesize 4294967295\n"},
        {"20000", 20000u, "filesize 20000\n"},
        {"5000000000", kTraceFilesizeDefault, nullptr},
        {"bytes", kTraceFilesizeDefault, nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        ResetTraceParams();
        WriteFile(dir.file("trace.cfg"), std::string("TraceFilesize=") + cases[i].value + " bytes\n");
        ReadTraceConfig(dir.path().c_str());
        EXPECT_EQ(GetTraceFilesize(), cases[i].expected) << "case " << i;
        std::string out = Fallback();
        if (cases[i].message)
            EXPECT_NE(out.find(cases[i].message), std::string::npos) << "case " << i << ": " << out;
        else
            EXPECT_EQ(out, "") << "case " << i;
    }
}

TEST_F(ParamsTest, SettersReportOnlyChanges)
{
    SetTraceMinfiles(0);
    SetTraceMinfiles(0);
    EXPECT_EQ(tracetest::Lines(Fallback()).size(), 1u);
    // Minage changes are reported only while a rotating file is open.
    SetTraceMinage(5);
    EXPECT_EQ(Fallback(), "");
    SetTraceRotating(1);
    SetTraceMinage(6);
    EXPECT_NE(Fallback().find("A: Delete files older than 6 days.\n"), std::string::npos);
    // A rejected value that falls back to a different default reports both.
    SetTraceMinage(-2);
    auto lines = tracetest::Lines(Fallback());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("E: illegal minage -2, set to 10\n"), std::string::npos);
    EXPECT_NE(lines[1].find("A: Delete files older than 10 days.\n"), std::string::npos);
    // Null or empty names take the defaults silently.
    SetTraceRollmode("rollsize");
    Fallback();
    SetTraceRollmode(nullptr);
    EXPECT_EQ(GetTraceRollmode(), kTraceRollmodeDate);
    SetTraceStamptype("");
    EXPECT_EQ(GetTraceStamptype(), kTraceStampDatetime);
    EXPECT_EQ(IsTraceRollMinutes(), 0);
}

TEST(TraceLevelNames, LettersOfTraceCfg)
{
    const char *expected[] = {"P", "A", "E", "W", "D", "C", "O", "unknown"};
    for (int level = -2; level <= 5; ++level)
        EXPECT_STREQ(TraceLevelLetterOf(level), expected[level + 2]) << level;
    EXPECT_STREQ(TraceLevelLetterOf(9), "unknown");
    EXPECT_STREQ(TraceLevelLetterOf(-3), "unknown");
}

TEST_F(ParamsTest, WriterTextAndRoundTrip)
{
    TempDir dir("tracecfg");
    WriteTraceConfig(dir.path().c_str());
    EXPECT_EQ(ReadFile(dir.file("trace.cfg")),
              "TraceLevel=W\n"
              "TraceFilesize=52428800 bytes\n"
              "TraceMinAge=10 days\n"
              "TraceMinFiles=10\t# 0=switch off aging\n"
              "TraceRollMode=rolldate\t# rollsize or rolldate\n"
              "TraceRollHour=24 hours\t# 1 .. 744\n"
              "TraceStampType=datetime\t# datetime or detailedtime\n");

    SetTraceLevel(3);
    SetTraceRollmode("rollsize");
    SetTraceFilesize(20480);
    SetTraceMinfiles(3);
    SetTraceMinage(7);
    SetTraceStamptype("detailedtime");
    WriteTraceConfig(dir.path().c_str());
    std::string text = ReadFile(dir.file("trace.cfg"));
    EXPECT_EQ(text.find("TraceRollHour"), std::string::npos);
    Fallback();
    ResetTraceParams();
    SetTraceLevel(3);
    SetTraceRollmode("rollsize");
    SetTraceFilesize(20480);
    SetTraceMinfiles(3);
    SetTraceMinage(7);
    SetTraceStamptype("detailedtime");
    Fallback();
    ReadTraceConfig(dir.path().c_str());
    EXPECT_EQ(Fallback(), "");
    EXPECT_EQ(GetTraceLevel(), 3);
    EXPECT_EQ(GetTraceFilesize(), 20480u);
    EXPECT_EQ(GetTraceMinfiles(), 3);
    EXPECT_EQ(GetTraceMinage(), 7);
    EXPECT_EQ(GetTraceStamptype(), kTraceStampDetailed);
}

TEST_F(ParamsTest, MissingFileIsSilentAndUnwritableReported)
{
    TempDir dir("tracecfg");
    ReadTraceConfig(dir.file("nothere").c_str());
    EXPECT_EQ(Fallback(), "");
    std::string missing = dir.file("nothere");
    WriteTraceConfig(missing.c_str());
    EXPECT_NE(Fallback().find("E: cannot write " + missing + "/trace.cfg\n"), std::string::npos);
}

TEST_F(ParamsTest, LongLinesAreReadInPieces)
{
    TempDir dir("tracecfg");
    // The first 79 characters are one piece (a key with no value), the rest a line of its own.
    std::string filler(79, 'x');
    WriteFile(dir.file("trace.cfg"), filler + "TraceLevel=C\n");
    ReadTraceConfig(dir.path().c_str());
    EXPECT_EQ(GetTraceLevel(), 3);
}

}  // namespace
