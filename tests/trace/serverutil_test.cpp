#include "trace/serverutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "envguard.h"
#include "testsupport.h"
#include "trace/fieldread.h"
#include "trace/timetext.h"
#include "tzguard.h"

using testsupport::EnvGuard;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A temporary installation root that is also the current directory.
class Installation : public ::testing::Test {
protected:
    Installation() : root_("tracesupport"), faxroot_("FAXROOT", root_.path().c_str()), zone_("Europe/Berlin")
    {
        char here[PATH_MAX];
        if (getcwd(here, sizeof here) != nullptr)
            old_ = here;
        EXPECT_EQ(chdir(root_.path().c_str()), 0);
    }
    ~Installation() override
    {
        if (!old_.empty() && chdir(old_.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << old_;
    }
    TempDir root_;
    EnvGuard faxroot_;
    TimeZoneGuard zone_;
    std::string old_;
};

using ServerStatus = Installation;

TEST_F(ServerStatus, WrittenStatusReadsBack)
{
    for (int state = 0; state < SERVER_STATE_COUNT; ++state) {
        int32_t before = TimeNow();
        ASSERT_EQ(WriteServerStatus(state), 0) << state;
        int32_t after = TimeNow();
        uint32_t pid = 0;
        int32_t when = 0;
        int read = -1;
        ASSERT_EQ(ReadServerStatus(&pid, &when, &read), 0) << state;
        EXPECT_EQ(pid, static_cast<uint32_t>(getpid()));
        EXPECT_GE(when, before);
        EXPECT_LE(when, after);
        EXPECT_EQ(read, state);
    }
}

TEST_F(ServerStatus, FileLayoutIsThreeLines)
{
    ASSERT_EQ(WriteServerStatus(SERVER_RUNNING), 0);
    std::string text = ReadFile("server.sta");
    std::string pid = std::to_string(getpid());
    ASSERT_EQ(text.compare(0, pid.size() + 1, pid + "\n"), 0) << text;
    size_t second = text.find('\n', pid.size() + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(second - pid.size() - 1, 17u) << text;  // the date text
    EXPECT_EQ(text.substr(second + 1), "running\n");
}

TEST_F(ServerStatus, ReadFailuresAreNumbered)
{
    uint32_t pid = 0;
    int32_t when = 0;
    int state = -1;
    EXPECT_EQ(ReadServerStatus(&pid, &when, &state), 12);

    struct Case {
        const char *text;
        int result;
    } cases[] = {
        {"123\n 5. 3.14  9:05:07\nsync\n", 0},
        {"123\n 5. 3.14  9:05:07\nsync", 0},
        {"123\n 5. 3.14  9:05:07\nRunning\n", 14},  // names are compared with their case
        {"123\n 5. 3.14  9:05:07\nrunningx\n", 14},
        {"123\n 5. 3.14  9:05:07\n\n", 14},
        {"123\n 5. 3.14  9:05:07\n", 13},  // the state line is missing
        {"123\n", 13},
        {"pid\n 5. 3.14  9:05:07\nsync\n", 13},
        {"123\nyesterday\nsync\n", 13},
        {"", 13},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        WriteFile("server.sta", cases[i].text);
        EXPECT_EQ(ReadServerStatus(&pid, &when, &state), cases[i].result) << "case " << i;
    }
    EXPECT_EQ(state, SERVER_SYNC);
}

TEST_F(ServerStatus, WriteFailuresAreNumbered)
{
    EXPECT_EQ(WriteServerStatus(5), 10);
    EXPECT_EQ(WriteServerStatus(-1), 10);
    struct stat st;
    EXPECT_NE(stat("server.sta", &st), 0) << "a state outside 0-4 writes no file";

    ASSERT_EQ(mkdir("server.sta", 0755), 0);
    EXPECT_EQ(WriteServerStatus(SERVER_RUNNING), 9);
    ASSERT_EQ(rmdir("server.sta"), 0);

    // A full device takes the buffered text and refuses it when the file is closed.
    if (access("/dev/full", W_OK) == 0) {
        ASSERT_EQ(symlink("/dev/full", "server.sta"), 0);
        EXPECT_EQ(WriteServerStatus(SERVER_RUNNING), 11);
    }
}

TEST(LocalHostName, EnvironmentFirstThenTheNodeName)
{
    struct utsname host;
    ASSERT_EQ(uname(&host), 0);
    {
        EnvGuard unset("LOCALHOSTNAME", nullptr);
        EXPECT_STREQ(GetLocalHostName(), host.nodename);
    }
    std::string longName(40, 'h');
    {
        EnvGuard set("LOCALHOSTNAME", longName.c_str());
        EXPECT_EQ(std::string(GetLocalHostName()), longName.substr(0, 35));
    }
    EnvGuard other("LOCALHOSTNAME", "other");
    EXPECT_EQ(std::string(GetLocalHostName()), longName.substr(0, 35)) << "kept once found";
}

using DevelopLogo = Installation;

TEST_F(DevelopLogo, FirstLineCutToTenCharacters)
{
    EXPECT_STREQ(GetDevelopLogo(), "");
    ASSERT_EQ(mkdir(root_.file("config").c_str(), 0755), 0);
    WriteFile(root_.file("config/develop.logo"), "ABCDEFGHIJKLMN\nsecond\n");
    EXPECT_STREQ(GetDevelopLogo(), "ABCDEFGHIJ");
    WriteFile(root_.file("config/develop.logo"), "dev  \t\nsecond\n");
    EXPECT_STREQ(GetDevelopLogo(), "dev");
    ASSERT_EQ(unlink(root_.file("config/develop.logo").c_str()), 0);
    EXPECT_STREQ(GetDevelopLogo(), "dev") << "keeps its last content";
    EnvGuard noRoot("FAXROOT", nullptr);
    EXPECT_STREQ(GetDevelopLogo(), "dev");
}

using PublishLogTest = Installation;

ino_t Inode(const std::string &path, nlink_t *links = nullptr)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return 0;
    if (links != nullptr)
        *links = st.st_nlink;
    return st.st_ino;
}

TEST_F(PublishLogTest, LinksTheFileUnderTheLoggingDirectory)
{
    ASSERT_EQ(mkdir(root_.file("logging").c_str(), 0755), 0);
    WriteFile(root_.file("run.log"), "first\n");
    WriteFile(root_.file("logging/server.log"), "stale\n");
    EXPECT_EQ(PublishLog(root_.file("run.log").c_str(), "server.log"), 0);
    nlink_t links = 0;
    EXPECT_EQ(Inode(root_.file("logging/server.log"), &links), Inode(root_.file("run.log")));
    EXPECT_EQ(links, 2u);
    EXPECT_EQ(ReadFile(root_.file("logging/server.log")), "first\n");

    // A missing file removes what was published and reports nothing.
    EXPECT_EQ(PublishLog(root_.file("missing.log").c_str(), "server.log"), 0);
    EXPECT_EQ(Inode(root_.file("logging/server.log")), 0u);

    // A name too long for a logging path publishes nothing.
    std::string longName(300, 'n');
    EXPECT_EQ(PublishLog(root_.file("run.log").c_str(), longName.c_str()), 0);
    Inode(root_.file("run.log"), &links);
    EXPECT_EQ(links, 1u);
}

TEST_F(PublishLogTest, KeepOldMovesThePreviousLogAside)
{
    ASSERT_EQ(mkdir(root_.file("logging").c_str(), 0755), 0);
    WriteFile(root_.file("day1.log"), "one\n");
    WriteFile(root_.file("day2.log"), "two\n");
    WriteFile(root_.file("logging/server.old"), "ancient\n");
    EXPECT_EQ(PublishLog(root_.file("day1.log").c_str(), "server.log"), 0);
    EXPECT_EQ(PublishLogKeepOld(root_.file("day2.log").c_str(), "server.log", "server.old"), 0);
    EXPECT_EQ(Inode(root_.file("logging/server.log")), Inode(root_.file("day2.log")));
    EXPECT_EQ(Inode(root_.file("logging/server.old")), Inode(root_.file("day1.log")));
}

TEST_F(PublishLogTest, NothingWithoutAnInstallationRoot)
{
    ASSERT_EQ(mkdir(root_.file("logging").c_str(), 0755), 0);
    WriteFile(root_.file("run.log"), "x\n");
    EnvGuard noRoot("FAXROOT", nullptr);
    EXPECT_EQ(PublishLog(root_.file("run.log").c_str(), "server.log"), 0);
    EXPECT_EQ(PublishLogKeepOld(root_.file("run.log").c_str(), "server.log", "server.old"), 0);
    nlink_t links = 0;
    Inode(root_.file("run.log"), &links);
    EXPECT_EQ(links, 1u);
}

TEST(RuntimeWrappers, ErrnoTextAndTime)
{
    errno = ENOENT;
    EXPECT_STREQ(ErrnoText(), "errno: 2, msg text: 'No such file or directory'");
    ClearErrno();
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(SleepSeconds(0), 0u);
    EXPECT_GE(CurrentTime(), 1600000000);

    TimeZoneGuard zone("Europe/Berlin");
    int32_t parsed = 0;
    ASSERT_EQ(ParseDateTime("7.3.14 9:05:07", &parsed), 1);
    EXPECT_EQ(MakeTime(7, 3, 114, 9, 5, 7, 0), parsed);
    ASSERT_EQ(ParseDateTime("1.7.14 9:05:07", &parsed), 1);  // summer time left to the conversion
    EXPECT_EQ(MakeTime(1, 7, 114, 9, 5, 7, 0), parsed);
    EXPECT_EQ(MakeTime(1, 1, 200, 0, 0, 0, 0), -1) << "2100 is beyond 32 bits";
}

TEST(CheckOrDieDeathTest, EndsWithCode13)
{
    CheckOrDie(1, "fine");
    errno = ENOENT;
    EXPECT_EXIT(CheckOrDie(0, "opening the queue"), ::testing::ExitedWithCode(13),
                "opening the queue: No such file or directory\n!!!\nProgram terminated\n");
}

TEST(CheckTSI, ComplaintsAreAppended)
{
    struct Case {
        const char *tsi;
        int result;
        const char *complaint;
    } cases[] = {
        {"+49 30 1234", 1, ""},
        {"<Fax> 01", 1, ""},
        {"1234", 0, "TSI too short, "},
        {"", 0, "TSI too short, "},
        {"12#*3456", 0, "illegal char \"#*\", "},
        {"ab-c_d\xe4", 0, "illegal char \"-_\xe4\", "},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        char text[100] = "start, ";
        EXPECT_EQ(CheckTSI(cases[i].tsi, text, sizeof text), cases[i].result) << "case " << i;
        EXPECT_EQ(std::string(text), std::string("start, ") + cases[i].complaint) << "case " << i;
    }
}

TEST(CheckTSI, NeverWritesPastTheErrorText)
{
    std::string hostile(1000, '*');
    char text[24];
    memset(text, 'X', sizeof text);
    strcpy(text, "already: ");
    EXPECT_EQ(CheckTSI(hostile.c_str(), text, sizeof text - 1), 0);
    EXPECT_EQ(std::string(text), "already: illegal char ");
    EXPECT_EQ(text[sizeof text - 1], 'X');
}

TEST(DigitSimilarity, SharedRunsOfDigits)
{
    struct Case {
        const char *a;
        const char *b;
        int expected;
    } cases[] = {
        {"0301234567", "0301234567", 1000},
        {"030 1234567", "0301234567", 1000},  // blanks of a do not count
        {"+49301234567", "0301234567", 825},  // run 9 of 10 digits of b and 12 characters of a
        {"12345abcd", "912345", 694},         // 416.7 + 277.8: the integer part of the sum
        {"123", "456123", 750},
        {"0301234567", "0409876543", 0},
        {"12", "12", 0},  // runs shorter than 3 do not count
        {"", "123", 0},
        {"123", "", 0},
        {"abc", "abc", 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(DigitSimilarity(cases[i].a, cases[i].b), cases[i].expected) << "case " << i;

    std::string many(500, '7');
    int similar = DigitSimilarity(many.c_str(), many.c_str());
    EXPECT_GE(similar, 0);
    EXPECT_LE(similar, 1000);
}

TEST(Names, CharactersAndOwners)
{
    struct Case {
        char c;
        bool name;
    } cases[] = {{'a', true},     {'Z', true},     {'7', true},    {'#', true},    {'+', true},
                 {'-', true},     {'.', true},     {'_', true},    {' ', false},   {'*', false},
                 {'/', false},    {'\x80', false}, {'\x81', true}, {'\xe4', true}, {'\xfe', true},
                 {'\xff', false}, {'\0', false}};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(IsNameChar(cases[i].c), cases[i].name) << "case " << i;
    EXPECT_TRUE(IsValidName(""));
    EXPECT_TRUE(IsValidName("M\xfcller-2.a_b"));
    EXPECT_FALSE(IsValidName("two words"));

    EXPECT_TRUE(IsOwnerOrAdmin("anna", "anna"));
    EXPECT_TRUE(IsOwnerOrAdmin("anna", "FAXADM"));
    EXPECT_FALSE(IsOwnerOrAdmin("anna", "faxadm"));
    EXPECT_FALSE(IsOwnerOrAdmin("anna", "bob"));

    char text[64] = "";
    EXPECT_TRUE(CheckOwner("anyone", "FAXADM", text, sizeof text));
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(CheckOwner("anna", "bob", text, sizeof text));
    EXPECT_STREQ(text, "illegal user bob (owner anna), ");
    char small[12] = "";
    EXPECT_FALSE(CheckOwner("anna", "bob", small, sizeof small));
    EXPECT_STREQ(small, "illegal use");
}

TEST(MakeJobName, HexJobPartAndLetter)
{
    struct Case {
        uint32_t job;
        int part;
        int letter;
        const char *name;
    } cases[] = {{255, 3, 4, "ff.3e"},
                 {0, -1, 0, "0.-1a"},
                 {0xffffffffu, 70000, 25, "ffffffff.4464z"},  // the part as a 16-bit number
                 {0x1234, -32768, 1, "1234.-32768b"}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        char buffer[JOB_NAME_SIZE];
        EXPECT_EQ(MakeJobName(buffer, cases[i].job, cases[i].part, cases[i].letter),
                  static_cast<int>(strlen(cases[i].name)))
            << "case " << i;
        EXPECT_STREQ(buffer, cases[i].name) << "case " << i;
    }
}

TEST(ParseHexLong, Reads32BitHex)
{
    struct Case {
        const char *text;
        int result;
        uint32_t value;
    } cases[] = {{"ff", 1, 255},
                 {" 0x1F", 1, 31},
                 {"FFFFFFFF", 1, 0xffffffffu},
                 {"100000000", 0, 0},
                 {"xyz", 0, 0},
                 {"", 0, 0},
                 {"12zz", 1, 0x12},
                 {"0x", 1, 0},
                 {"+1f", 1, 0x1f},
                 // a minus sign wraps the number, as the unsigned conversion does
                 {"-1", 1, 0xffffffffu},
                 {" -ff", 1, 0xffffff01u},
                 {"-0x10", 1, 0xfffffff0u},
                 {"-FFFFFFFF", 1, 1},
                 {"-100000000", 0, 0},
                 {"-", 0, 0},
                 {"- 1", 0, 0},
                 {"--1", 0, 0},
                 {"+-1", 0, 0}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        uint32_t value = 99;
        EXPECT_EQ(ParseHexLong(cases[i].text, &value), cases[i].result) << "case " << i;
        EXPECT_EQ(value, cases[i].value) << "case " << i;
        // The field reader of the same conversion agrees.
        FILE *line = tmpfile();
        ASSERT_NE(line, nullptr);
        fprintf(line, "%s\n", cases[i].text);
        rewind(line);
        uint32_t read = 0;
        int readResult = frdline_lx(line, &read);
        fclose(line);
        EXPECT_EQ(readResult, cases[i].result) << "case " << i;
        if (readResult == 1) {
            EXPECT_EQ(read, cases[i].value) << "case " << i;
        }
    }
}

TEST(Bits, CountModulo32)
{
    EXPECT_EQ(BitMask(0), 1u);
    EXPECT_EQ(BitMask(31), 0x80000000u);
    EXPECT_EQ(BitMask(33), 2u);
    EXPECT_EQ(BitMask(-1), 0x80000000u);
    uint32_t word = 0;
    EXPECT_EQ(SetBit(&word, 3, 1), 8u);
    EXPECT_EQ(SetBit(&word, 35, 1), 8u);
    EXPECT_EQ(SetBit(&word, 0, 1), 9u);
    EXPECT_EQ(TestBit(word, 3), 1);
    EXPECT_EQ(TestBit(word, 4), 0);
    EXPECT_EQ(SetBit(&word, 3, 0), 1u);
    EXPECT_EQ(word, 1u);
}

TEST(Constants, FixedAnswers)
{
    EXPECT_EQ(LocalTimeOffset(), 0);
    EXPECT_EQ(CachedLocalTimeOffset(), 0);
    EXPECT_STREQ(NewlineText(), "\n");
    int32_t value = 5;
    EXPECT_EQ(QueryNotSupported(nullptr, &value), 34);
    EXPECT_EQ(value, 0);
    EXPECT_STREQ(ServerStateName(4), "converting");
    EXPECT_EQ(ServerStateName(5), nullptr);
}

}  // namespace
