// The gateway configuration's local parts: the key table checked against itself, FindKey,
// PutConf, the extension-attribute parser, the directory probe and the trace parameters kept in
// the configuration record. No server is involved.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "gwtracecapture.h"
#include "mailtrack/gwconfig.h"
#include "mailtrack/gwsetup.h"
#include "testsupport.h"
#include "trace/trace.h"
#include "trace/trace_params.h"

using testsupport::TempDir;

namespace {

int Lower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

int CompareAsciiNoCase(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        int d = Lower(*a) - Lower(*b);
        if (d != 0 || *a == '\0')
            return d;
    }
}

std::string Mixed(const char *key, int pattern)
{
    std::string out = key;
    for (size_t i = 0; i < out.size(); ++i) {
        if (((i + pattern) % 2) == 0)
            out[i] = static_cast<char>(Lower(out[i]));
    }
    return out;
}

// ---- the table -----------------------------------------------------------------------------

TEST(ConfigKeyTable, SortedDistinctAndCounted)
{
    ASSERT_EQ(ConfigKeyCount, 108);
    int settable = 0;
    for (int i = 0; i < ConfigKeyCount; ++i) {
        const ConfigKey &e = ConfigKeyTable[i];
        if (i > 0) {
            EXPECT_LT(CompareAsciiNoCase(ConfigKeyTable[i - 1].key, e.key), 0)
                << "entry " << i << " " << e.key;
        }
        for (const char *p = e.key; *p; ++p) {
            EXPECT_FALSE(*p >= 'a' && *p <= 'z') << e.key;
        }
        settable += e.userSettable;
        EXPECT_TRUE(e.userSettable == 0 || e.userSettable == 1) << e.key;
    }
    EXPECT_EQ(settable, 35);
    // "_" orders before the letters, and a key before its longer extensions.
    EXPECT_LT(FindKey("CPI"), FindKey("CPI_CE"));
    EXPECT_LT(FindKey("CPI_CE"), FindKey("CPI_CPR"));
    EXPECT_LT(FindKey("CPI_CPR"), FindKey("CPI_CSK"));
    EXPECT_LT(FindKey("CPI_CSK"), FindKey("CVTPDF"));
}

TEST(ConfigKeyTable, ReadPlacesAndPropertyNames)
{
    std::vector<int> seen(108, 0);
    std::set<std::string> bare;
    int shortNames = 0, fullNames = 0;
    for (int i = 0; i < ConfigKeyCount; ++i) {
        const ConfigKey &e = ConfigKeyTable[i];
        if (e.readPlace == 0) {
            EXPECT_STREQ(e.key, "COVER");
            EXPECT_EQ(e.defaultKind, DEFAULT_NONE);
            continue;
        }
        ASSERT_GE(e.readPlace, 1) << e.key;
        ASSERT_LE(e.readPlace, 107) << e.key;
        ++seen[e.readPlace];
        EXPECT_NE(e.defaultKind, DEFAULT_NONE) << e.key;
        if (e.noPrefix)
            bare.insert(e.key);
        std::string property = e.noPrefix ? e.key : std::string("SG_") + e.key;
        EXPECT_LE(property.size(), 10u) << property;  // fits the older property key field
        (property.size() < 10 ? shortNames : fullNames)++;
        // A default taken from another key's value needs that key read before, with its type.
        if (e.defaultKind == DEFAULT_FROM_KEY) {
            int from = FindKey(e.defaultText);
            ASSERT_GE(from, 0) << e.key;
            EXPECT_LT(ConfigKeyTable[from].readPlace, e.readPlace) << e.key;
            EXPECT_EQ(ConfigKeyTable[from].type, e.type) << e.key;
        }
    }
    for (int place = 1; place <= 107; ++place)
        EXPECT_EQ(seen[place], 1) << "read place " << place;
    EXPECT_EQ(bare, (std::set<std::string>{"COVERID", "CPI", "HEADLINE", "PINCODE", "TSI"}));
    EXPECT_EQ(shortNames, 86);
    EXPECT_EQ(fullNames, 21);
    EXPECT_EQ(ConfigKeyTable[FindKey("DRFROM")].readPlace, 1);
    EXPECT_EQ(ConfigKeyTable[FindKey("SMSLEN")].readPlace, 107);
}

TEST(ConfigKeyTable, FieldsLieInTheRecordAndShareOnlyWherePaired)
{
    struct Span {
        size_t begin, end;
        const char *key;
    };
    std::vector<Span> spans;
    for (int i = 0; i < ConfigKeyCount; ++i) {
        const ConfigKey &e = ConfigKeyTable[i];
        if (e.type != FIELD_TEXT)
            EXPECT_EQ(e.size, 4) << e.key;
        else
            EXPECT_GE(e.size, 11) << e.key;
        EXPECT_LE(e.offset + static_cast<size_t>(e.size), sizeof(ConfigRecord)) << e.key;
        spans.push_back({e.offset, e.offset + static_cast<size_t>(e.size), e.key});
    }
    std::set<std::set<std::string>> shared;
    for (size_t a = 0; a < spans.size(); ++a) {
        for (size_t b = a + 1; b < spans.size(); ++b) {
            if (spans[a].begin < spans[b].end && spans[b].begin < spans[a].end) {
                EXPECT_EQ(spans[a].begin, spans[b].begin) << spans[a].key << " " << spans[b].key;
                shared.insert({spans[a].key, spans[b].key});
            }
        }
    }
    EXPECT_EQ(shared, (std::set<std::set<std::string>>{
                          {"ADMUSER", "DRFROM"}, {"ADMTEXT", "DRFTXT"}, {"COVER", "COVERID"}}));
    // A few fields by name, against the sizes of the record.
    const struct {
        const char *key;
        size_t offset, size;
    } named[] = {
        {"GWPWD", offsetof(ConfigRecord, GWPWD), sizeof(ConfigRecord::GWPWD)},
        {"GWHTR", offsetof(ConfigRecord, GWHTR), sizeof(ConfigRecord::GWHTR)},
        {"TSI", offsetof(ConfigRecord, TSI), 21},
        {"HEADLINE", offsetof(ConfigRecord, HEADLINE), 129},
        {"OUTPREF", offsetof(ConfigRecord, OUTPREF), 31},
        {"DMSPA", offsetof(ConfigRecord, DMSPA), 32},
        {"DEFNET", offsetof(ConfigRecord, DEFNET), 4},
        {"SMSLEN", offsetof(ConfigRecord, SMSLEN), 4},
    };
    for (const auto &n : named) {
        const ConfigKey &e = ConfigKeyTable[FindKey(n.key)];
        EXPECT_EQ(e.offset, n.offset) << n.key;
        EXPECT_EQ(static_cast<size_t>(e.size), n.size) << n.key;
    }
}

TEST(FindKey, EveryKeyInAnyCase)
{
    for (int i = 0; i < ConfigKeyCount; ++i) {
        const char *key = ConfigKeyTable[i].key;
        EXPECT_EQ(FindKey(key), i) << key;
        EXPECT_EQ(FindKey(Mixed(key, 0).c_str()), i) << key;
        EXPECT_EQ(FindKey(Mixed(key, 1).c_str()), i) << key;
    }
    EXPECT_EQ(FindKey("ldp"), FindKey("LDP"));
    EXPECT_EQ(FindKey("LdOuTp"), FindKey("LDOUTP"));
    for (const char *missing : {"", "A", "AAAA", "ZZZZ", "CPI_", "LDPX", "SG_TSI", "TSI "})
        EXPECT_EQ(FindKey(missing), -1) << "'" << missing << "'";
    EXPECT_EQ(FindKey(nullptr), -1);
}

// ---- PutConf -------------------------------------------------------------------------------

TEST(PutConf, SettingsByTypeAndRight)
{
    ConfigRecord record{};
    record.LDP = 389;
    record.GWNO = 5;

    EXPECT_EQ(PutConf(&record, "LDP", "636", 0), 0u);  // not user-settable
    EXPECT_EQ(record.LDP, 389);
    EXPECT_EQ(PutConf(&record, "ldp", "636", 1), 0u);
    EXPECT_EQ(record.LDP, 636);

    EXPECT_EQ(PutConf(&record, "TSI", "1234567890123456789012345", 0), 0u);
    EXPECT_STREQ(record.TSI, "12345678901234567890");

    const struct {
        const char *value;
        int32_t expected;
    } numbers[] = {
        {"12abc", 12}, {"  -7", -7}, {"+42", 42}, {"\t2147483647", 2147483647}, {"-2147483648", INT32_MIN},
        {"0", 0},
    };
    for (const auto &n : numbers) {
        record.GWNO = 5;
        EXPECT_EQ(PutConf(&record, "GWNO", n.value, 1), 0u) << n.value;
        EXPECT_EQ(record.GWNO, n.expected) << n.value;
    }

    // Shared fields.
    EXPECT_EQ(PutConf(&record, "COVER", "17", 0), 0u);
    EXPECT_EQ(record.COVERID, 17);
    EXPECT_EQ(PutConf(&record, "COVERID", "18", 0), 0u);
    EXPECT_EQ(record.COVERID, 18);
    EXPECT_EQ(PutConf(&record, "ADMUSER", "admin", 0), 0u);
    EXPECT_STREQ(record.ADMUSER, "admin");
    EXPECT_EQ(PutConf(&record, "DRFROM", "other", 0), 0u);  // not user-settable
    EXPECT_STREQ(record.ADMUSER, "admin");
    EXPECT_EQ(PutConf(&record, "DRFROM", "other", 1), 0u);
    EXPECT_STREQ(record.ADMUSER, "other");
    EXPECT_EQ(PutConf(&record, "DRFTXT", "text", 1), 0u);
    EXPECT_STREQ(record.ADMTEXT, "text");

    // Media names.
    const struct {
        const char *name;
        MediaType media;
    } media[] = {{"voice", MEDIA_VOICE}, {"VoIcE", MEDIA_VOICE}, {"SMS", MEDIA_SMS},
                 {"telex", MEDIA_TELEX}, {"bogus", MEDIA_FAX},   {"", MEDIA_FAX}};
    for (const auto &m : media) {
        record.DEFNET = MEDIA_VIDEO;
        EXPECT_EQ(PutConf(&record, "DEFNET", m.name, 0), 0u) << m.name;
        EXPECT_EQ(record.DEFNET, m.media) << m.name;
    }

    // A long field takes the same 32-bit range.
    EXPECT_EQ(PutConf(&record, "AGEM", "4838400", 1), 0u);
    EXPECT_EQ(record.AGEM, 4838400);
}

TEST(PutConf, TextIsCutAndTheRestCleared)
{
    ConfigRecord record{};
    memset(record.CPI, 'x', sizeof record.CPI);
    ASSERT_EQ(PutConf(&record, "CPI", "ab", 0), 0u);
    EXPECT_STREQ(record.CPI, "ab");
    for (size_t i = 2; i < sizeof record.CPI; ++i)
        EXPECT_EQ(record.CPI[i], '\0') << i;
    // The neighbours keep their bytes.
    record.TSI[0] = 'T';
    ASSERT_EQ(PutConf(&record, "CPI", std::string(100, 'c').c_str(), 0), 0u);
    EXPECT_EQ(std::string(record.CPI), std::string(20, 'c'));
    EXPECT_EQ(record.TSI[0], 'T');
}

TEST(PutConf, BadValuesAndUnknownKeysAreTraced)
{
    ConfigRecord record{};
    record.GWNO = 5;
    record.AGET = 9;
    TraceCapture capture;
    for (const char *bad : {"abc", "", "- 1", "2147483648", "-2147483649", "99999999999999999999"}) {
        EXPECT_EQ(PutConf(&record, "gwno", bad, 1), 0u) << bad;
        EXPECT_EQ(record.GWNO, 5) << bad;
    }
    EXPECT_EQ(PutConf(&record, "AGET", "x1", 1), 0u);
    EXPECT_EQ(record.AGET, 9);
    std::string text = capture.Text();
    EXPECT_NE(text.find("gwconfig("), std::string::npos) << text;
    EXPECT_NE(text.find(":D: PutConf: bad value in extension attribute!\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":D: gwno=abc\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":D: gwno=2147483648\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":D: AGET=x1\n"), std::string::npos) << text;

    ConfigRecord before = record;
    EXPECT_EQ(PutConf(&record, "NOSUCHKEY", "1", 1), EC_GW | 0);
    EXPECT_EQ(PutConf(&record, "", "1", 1), EC_GW | 0);
    EXPECT_EQ(memcmp(&before, &record, sizeof record), 0);
    text = capture.Text();
    EXPECT_NE(text.find(":E: PutConf: invalid Key NOSUCHKEY\n"), std::string::npos) << text;
}

TEST(PutConf, TracesNewValuesButNoPasswords)
{
    ConfigRecord record{};
    TraceCapture capture;
    ASSERT_EQ(PutConf(&record, "tsi", "4711", 0), 0u);
    ASSERT_EQ(PutConf(&record, "GWNO", "3", 1), 0u);
    ASSERT_EQ(PutConf(&record, "AGEM", "77", 1), 0u);
    ASSERT_EQ(PutConf(&record, "DEFNET", "voice", 1), 0u);
    ASSERT_EQ(PutConf(&record, "LDBPWD", "s3cret", 1), 0u);
    ASSERT_EQ(PutConf(&record, "GWPWD", "hidden", 1), 0u);
    ASSERT_EQ(PutConf(&record, "LDP", "1", 0), 0u);  // refused silently
    EXPECT_STREQ(record.LDBPWD, "s3cret");
    EXPECT_STREQ(record.GWPWD, "hidden");
    std::string text = capture.Text();
    EXPECT_NE(text.find(":C: PutConf: TSI:\t4711\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":C: PutConf: GWNO:\t3\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":C: PutConf: AGEM:\t77\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":C: PutConf: DEFNET:\t4\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":C: PutConf: LDBPWD:\t********\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
    EXPECT_EQ(text.find("hidden"), std::string::npos) << text;
    EXPECT_EQ(text.find("LDP"), std::string::npos) << text;
}

// ---- ParseExtAttr --------------------------------------------------------------------------

struct Assignment {
    std::string name, value;
};

// Every assignment until ParseExtAttr gives 0, and the cursor where it stopped.
std::vector<Assignment> ParseAll(const std::string &text, size_t *stop = nullptr)
{
    std::vector<Assignment> out;
    std::vector<char> name(text.size() + 1, '#'), value(text.size() + 1, '#');
    size_t cursor = 0;
    while (ParseExtAttr(text.c_str(), &cursor, name.data(), value.data()) == 1)
        out.push_back({name.data(), value.data()});
    if (stop != nullptr)
        *stop = cursor;
    return out;
}

TEST(ParseExtAttr, Assignments)
{
    const struct {
        const char *text;
        std::vector<Assignment> expected;
    } cases[] = {
        {"TSI = \"12 34\" CPI=5", {{"TSI", "12 34"}, {"CPI", "5"}}},
        {"", {}},
        {"   \t\n", {}},
        {"a=1 b=2\tc=3\n", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        {"X=\"a\\\"b\"", {{"X", "a\"b"}}},
        {"X=a\\\"b", {{"X", "a\"b"}}},
        {"X=a\\b", {{"X", "a\\b"}}},
        {"X=\"\"", {{"X", ""}}},
        {"X=\"a=b c\"Y=2", {{"X", "a=b c"}, {"Y", "2"}}},
        {"HEADLINE=\xe4\xf6", {{"HEADLINE", "\xe4\xf6"}}},
        {"9X=\"a\\\\b\"", {{"9X", "a\\\\b"}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        TraceCapture capture;
        auto got = ParseAll(cases[i].text);
        ASSERT_EQ(got.size(), cases[i].expected.size()) << "case " << i;
        for (size_t j = 0; j < got.size(); ++j) {
            EXPECT_EQ(got[j].name, cases[i].expected[j].name) << "case " << i;
            EXPECT_EQ(got[j].value, cases[i].expected[j].value) << "case " << i;
        }
        EXPECT_EQ(capture.Text(), "") << "case " << i;
    }
}

TEST(ParseExtAttr, SyntaxErrorsEchoTheTextUpToTheFault)
{
    const struct {
        const char *text;
        size_t taken;      // assignments before the error
        size_t cursor;     // where the cursor stops
        const char *echo;  // echoed text before "<--here!"
        const char *name;  // what name holds after the error
    } cases[] = {
        {"TSI word", 0, 4, "TSI w", "TSI"},
        {"A=1 TSI", 1, 7, "A=1 TSI", "TSI"},
        {"TSI=\"12", 0, 7, "TSI=\"12", "TSI"},
        {"=5", 0, 0, "=", ""},
        {"TSI=", 0, 4, "TSI=", "TSI"},
        {"TSI=  ", 0, 6, "TSI=  ", "TSI"},
        {"T_SI=1", 0, 1, "T_", "T"},
        {"\xe4=1", 0, 0, "\xe4", ""},
        {"X=\"\\\\\"", 0, 6, "X=\"\\\\\"", "X"},  // the last backslash takes the quote
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        TraceCapture capture(0);
        size_t stop = 99;
        std::string text = cases[i].text;
        auto got = ParseAll(text, &stop);
        EXPECT_EQ(got.size(), cases[i].taken) << "case " << i;
        EXPECT_EQ(stop, cases[i].cursor) << "case " << i;
        std::string trace = capture.Text();
        size_t at = trace.find(":E: syntax error in extension attribute!\n");
        ASSERT_NE(at, std::string::npos) << "case " << i << ": " << trace;
        std::string rest = trace.substr(trace.find('\n', at) + 1);
        EXPECT_EQ(rest, std::string(cases[i].echo) + "<--here!\n") << "case " << i;

        // Name and value keep what was taken before the error, terminated.
        std::vector<char> name(text.size() + 1, '#'), value(text.size() + 1, '#');
        size_t cursor = 0;
        for (size_t k = 0; k < cases[i].taken; ++k)
            ASSERT_EQ(ParseExtAttr(text.c_str(), &cursor, name.data(), value.data()), 1);
        EXPECT_EQ(ParseExtAttr(text.c_str(), &cursor, name.data(), value.data()), 0);
        EXPECT_STREQ(name.data(), cases[i].name) << "case " << i;
    }
}

TEST(ParseExtAttr, SmallBuffersAreCutNeverOverrun)
{
    const std::string text = "LONGNAME=\"a very long value\" B=2";
    char name[5];
    char value[8];
    char guard[4] = "ok";
    size_t cursor = 0;
    ASSERT_EQ(ParseExtAttr(text.c_str(), &cursor, name, sizeof name, value, sizeof value), 1);
    EXPECT_STREQ(name, "LONG");
    EXPECT_STREQ(value, "a very ");
    EXPECT_STREQ(guard, "ok");
    // The cursor moved over the whole assignment, as with buffers that fit.
    ASSERT_EQ(ParseExtAttr(text.c_str(), &cursor, name, sizeof name, value, sizeof value), 1);
    EXPECT_STREQ(name, "B");
    EXPECT_STREQ(value, "2");
    EXPECT_EQ(ParseExtAttr(text.c_str(), &cursor, name, sizeof name, value, sizeof value), 0);
}

// ---- OSMkDir -------------------------------------------------------------------------------

class DirectoryProbe : public testing::Test {
protected:
    void SetUp() override
    {
        ResetConfigState();
        snprintf(PublishedConfig()->directory, sizeof PublishedConfig()->directory, "%s",
                 dir_.path().c_str());
    }
    void TearDown() override { ResetConfigState(); }
    static bool Exists(const std::string &path)
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    }
    TempDir dir_{"gwconfig"};
};

TEST_F(DirectoryProbe, ExistingAndNewDirectories)
{
    ASSERT_EQ(mkdir(dir_.file("in").c_str(), 0700), 0);
    TraceCapture capture(0);
    EXPECT_EQ(OSMkDir("in"), 0u);
    EXPECT_FALSE(Exists(dir_.file("in/file.dat")));
    EXPECT_EQ(OSMkDir("new"), 0u);
    struct stat st;
    ASSERT_EQ(stat(dir_.file("new").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_FALSE(Exists(dir_.file("new/file.dat")));
    EXPECT_EQ(capture.Text(), "");
}

TEST_F(DirectoryProbe, FailuresGiveTheSystemErrorCode)
{
    TraceCapture capture(0);
    ErrorCode code = OSMkDir("missing/child");
    EXPECT_EQ(code, EC_SY | ENOENT);
    EXPECT_FALSE(Exists(dir_.file("missing")));
    std::string text = capture.Text();
    EXPECT_NE(text.find("utils("), std::string::npos) << text;
    EXPECT_NE(text.find(":E: OSMkDir(" + dir_.file("missing/child") + ") failed: SY2: "), std::string::npos)
        << text;

    // A plain file of that name exists, but nothing can be created in it.
    testsupport::WriteFile(dir_.file("plain"), "x");
    code = OSMkDir("plain");
    EXPECT_EQ(code, EC_SY | ENOTDIR);
    text = capture.Text();
    EXPECT_NE(text.find(":E: mailbox dir is not writeable. can not create '" + dir_.file("plain/file.dat") +
                        "': SY14: "),
              std::string::npos)
        << text;
}

// ---- trace parameters in the record --------------------------------------------------------

class TraceSetup : public testing::Test {
protected:
    void SetUp() override
    {
        ResetConfigState();
        ResetTraceParams();
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(chdir(previous_), 0);
        ResetTraceParams();
        ResetConfigState();
    }
    TempDir dir_{"gwconfig"};
    char previous_[4096] = "";
};

TEST_F(TraceSetup, SavedParametersComeBack)
{
    SetTraceLevel(3);
    SetTraceMinfiles(7);
    SetTraceMinage(12);
    SetTraceFilesize(1048576 + 1000);
    SetTraceRollmode("rollsize");
    SetTraceStamptype("detailedtime");
    const std::string level = GetTraceLevelName(), mode = GetTraceRollmodeName(),
                      stamp = GetTraceStamptypeName();
    WriteTraceConfig(".");
    ResetTraceParams();

    SaveTraceSetup(1);
    const ConfigRecord *config = PublishedConfig();
    EXPECT_EQ(config->GWDL, 3);
    EXPECT_EQ(config->DMDL, 0);
    EXPECT_EQ(config->TRCNUM, 7);
    EXPECT_EQ(config->TRCDAYS, 12);
    EXPECT_EQ(config->TRCSIZE, 1024);
    EXPECT_EQ(std::string(config->TRCMODE), mode);
    EXPECT_EQ(std::string(config->TRSTAMP), stamp);

    ResetTraceParams();
    unlink("trace.cfg");
    {
        TraceCapture capture(TraceCapture::kKeepLevel);
        RestoreTraceSetup("the gateway", 1);
        std::string text = capture.Text();
        EXPECT_NE(text.find(std::string(":A: Path=") + dir_.path()), std::string::npos) << text;
    }
    EXPECT_EQ(GetTraceLevel(), 3);
    EXPECT_EQ(GetTraceMinfiles(), 7);
    EXPECT_EQ(GetTraceMinage(), 12);
    EXPECT_EQ(GetTraceFilesize(), 1048576u);
    EXPECT_EQ(std::string(GetTraceRollmodeName()), mode);
    EXPECT_EQ(std::string(GetTraceStamptypeName()), stamp);

    // trace.cfg was written with them.
    ResetTraceParams();
    ReadTraceConfig(".");
    EXPECT_EQ(std::string(GetTraceLevelName()), level);
    EXPECT_EQ(GetTraceMinfiles(), 7);
    EXPECT_EQ(GetTraceFilesize(), 1048576u);
}

TEST_F(TraceSetup, LevelSlotFollowsTheProgram)
{
    SetTraceLevel(2);
    WriteTraceConfig(".");
    SaveTraceSetup(0);
    EXPECT_EQ(PublishedConfig()->DMDL, 2);
    EXPECT_EQ(PublishedConfig()->GWDL, 0);
    PublishedConfig()->GWDL = 3;
    {
        TraceCapture capture(TraceCapture::kKeepLevel);
        RestoreTraceSetup("x", 0);
    }
    EXPECT_EQ(GetTraceLevel(), 2);
    {
        TraceCapture capture(TraceCapture::kKeepLevel);
        RestoreTraceSetup("x", 1);
    }
    EXPECT_EQ(GetTraceLevel(), 3);
}

}  // namespace
