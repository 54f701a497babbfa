// dirprobe with a real directory (slapd) and a real IMAP server (dovecot): directory users, the
// route cache, the IMAP login check, and the password prompt on a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>

#include "dirprobe_env.h"
#include "dovecot.h"
#include "hostileimap.h"
#include "slapd.h"
#include "testsupport.h"

namespace {

using namespace dirprobe_test;
using testsupport::RunResult;
using testsupport::SimServer;

const char kLdif[] =
    "dn: dc=example,dc=test\n"
    "objectClass: dcObject\nobjectClass: organization\no: Example\ndc: example\n\n"
    "dn: ou=people,dc=example,dc=test\nobjectClass: organizationalUnit\nou: people\n\n"
    "dn: uid=jdoe,ou=people,dc=example,dc=test\n"
    "objectClass: inetOrgPerson\nuid: jdoe\ncn: John Doe\nsn: Doe\ngivenName: John\n"
    "telephoneNumber: 5000\npreferredLanguage: DE\ndepartmentNumber: +49 30 5000\n"
    "description: mode=\"fax\" TSI = \"+49 30 5099\"\n\n"
    "dn: uid=mmueller,ou=people,dc=example,dc=test\n"
    "objectClass: inetOrgPerson\nuid: mmueller\ncn:: TWFyaWEgTcO8bGxlcg==\nsn:: TcO8bGxlcg==\n"
    "givenName: Maria\ntelephoneNumber: 5001\n\n"
    "dn: uid=bgross,ou=people,dc=example,dc=test\n"
    "objectClass: inetOrgPerson\nuid: bgross\ncn: Baerbel Gross\ngivenName:: QsOkcmJlbA==\n"
    "sn:: R3Jvw58g4oCTIELDvHJvIOKCrA==\ntelephoneNumber: 5004\n\n"
    "dn: uid=noname,ou=people,dc=example,dc=test\n"
    "objectClass: account\nuid: noname\nhost: 5002\n\n";

class DirprobeDirectory : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        slapd = new testsupport::Slapd;
        testsupport::SlapdOptions so;
        so.ldif = kLdif;
        so.tls = true;
        if (!slapd->Start(so)) {
            setupError = "slapd: " + slapd->error() + "\n" + slapd->Log();
            return;
        }
        dovecot = new testsupport::Dovecot;
        if (!dovecot->Start())
            setupError = "dovecot: " + dovecot->error() + "\n" + dovecot->Log();
    }
    static void TearDownTestSuite()
    {
        delete dovecot;
        delete slapd;
        dovecot = nullptr;
        slapd = nullptr;
    }
    void SetUp() override { ASSERT_EQ(setupError, ""); }

    // Directory users: 5000 (IMAP), 5001 (directory only, UTF-8 name), 5002 (entry without names),
    // 5003 (IMAP, not in the directory), 5004 (directory only: umlauts, sharp s, an en dash that
    // becomes the private position 0x8D, the euro sign).
    json Fixture()
    {
        json f = BaseFixture();
        auto route = [](const char *line, const char *user) {
            return json{{"line_id", line},
                        {"route_id", std::string("R") + line},
                        {"server", "127.0.0.1"},
                        {"user", user}};
        };
        f["routes"].push_back(route("5000", "ldapu"));
        f["routes"].push_back(route("5001", "mueller"));
        f["routes"].push_back(route("5002", "noname"));
        f["routes"].push_back(route("5003", "ghost"));
        f["routes"].push_back(route("5004", "bgross"));
        f["routes"].push_back(route("*", "starry"));
        json ldap = {{"GD_LDH", "127.0.0.1"},
                     {"GD_LDPRT", std::to_string(slapd->port())},
                     {"GD_LDBAS", "ou=people,dc=example,dc=test"},
                     {"GD_LDFIL", "(|(telephoneNumber=%s)(host=%s))"}};
        json imap = ldap;
        imap["GD_IMU"] = "1";
        imap["GD_IMH"] = dovecot->HostPort();
        imap["GD_IMS"] = "Sent";
        imap["GD_IMD"] = "Trash";
        imap["GD_SMH"] = "smtp.example.test";
        imap["SG_MYDOM"] = "example.test";
        imap["GD_LDLNG"] = "preferredLanguage";
        imap["GD_LDATS"] = "departmentNumber";
        imap["GD_LDAED"] = "description";  // its TSI="..." replaces the attribute's
        // The greeting and goodbye pages of an IMAP user are named after the extension; the
        // video goodbye's job has no video variant.
        imap["a5000"] = "500";
        imap["b5000"] = "501";
        imap["A5000"] = "502";
        imap["B5000"] = "503";
        f["properties"]["ldapu"] = imap;
        f["properties"]["ghost"] = imap;
        json dirOnly = ldap;
        dirOnly["SG_LDE"] = "1";
        f["properties"]["mueller"] = dirOnly;
        f["properties"]["noname"] = dirOnly;
        f["properties"]["bgross"] = dirOnly;
        f["properties"]["starry"] = dirOnly;
        auto job = [](int number, const char *variant) {
            return json{{"user", "ldapu"},
                        {"kind", 2},
                        {"job", number},
                        {"pages", json::array({{{"page", 1}, {"variants", {{variant, {{"size", 8}}}}}}})}};
        };
        f["jobs"].push_back(job(500, "14"));
        f["jobs"].push_back(job(501, "14"));
        f["jobs"].push_back(job(502, "15"));
        f["jobs"].push_back(job(503, "14"));
        return f;
    }

    static testsupport::Slapd *slapd;
    static testsupport::Dovecot *dovecot;
    static std::string setupError;
    SimServer sim;
};

testsupport::Slapd *DirprobeDirectory::slapd = nullptr;
testsupport::Dovecot *DirprobeDirectory::dovecot = nullptr;
std::string DirprobeDirectory::setupError;

std::string ImapBlock(const std::string &hostPort)
{
    return "IMAP Host\t= " + hostPort +
           "\n"
           "IMAP User\t= jdoe\n"
           "IMAP SendFolder\t= Sent\n"
           "IMAP DeleteItemsFolder\t= Trash\n"
           "SMTP Host\t= smtp.example.test\n"
           "SMTP Domain\t= example.test\n";
}

TEST_F(DirprobeDirectory, ImapUserWithAWorkingLogin)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    RunResult r = RunDirprobe({"5000"}, RunEnv(sim, "s3cret\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "ok.\n"
              "resolving 5000\n"
              "GetExtensionData 5000 flag 2\n"
              "Check Language by LDAP\n"
              "globalLanguageByLDAP = TRUE\n"
              "lang=de\n"
              "\n"
              "User ID = ldapu, name = John Doe\n"
              "IMAP User jdoe\n"
              "TSI = +49 30 5099\n"
              "\n"
              "ldap user has greeting\n"
              "ldap user has goodbye\n"
              "ldap user has video greeting\n" +
                  ImapBlock(dovecot->HostPort()) +
                  "enter password for user jdoe: checking IMAP login ... \n"
                  "ok.\n"
                  "The LDAP/IMAP4 configuration seems to be OK.\n"
                  "\n\n");
    EXPECT_NE(r.err.find("IMAP: "), std::string::npos);
    // The greeting properties of an IMAP user carry the extension; the video ones ask for
    // variant 15.
    auto keys = PropertyKeys(sim);
    for (const char *k : {"a5000", "b5000", "A5000", "B5000"}) {
        EXPECT_NE(std::find(keys.begin(), keys.end(), k), keys.end()) << k;
    }
    std::vector<int> variants;
    for (const auto &c : sim.Calls("alpha", 59))
        variants.push_back(c.args.value("variant", 0));
    EXPECT_EQ(variants, (std::vector<int>{14, 14, 15, 15}));
}

TEST_F(DirprobeDirectory, WrongPasswordMakesExactlyOneLoginAttempt)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    int before = dovecot->PasswordMismatches();
    RunResult r = RunDirprobe({"5000"}, RunEnv(sim, "wrong\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("enter password for user jdoe: checking IMAP login ... \nfailed!\n\n\n"),
              std::string::npos)
        << r.out;
    // dovecot writes its log line a moment after it answered.
    testsupport::WaitFor([&] { return dovecot->PasswordMismatches() != before; }, 5000, 100);
    EXPECT_EQ(dovecot->PasswordMismatches() - before, 1) << dovecot->Log();
}

// The IMAP host of the directory data never ends its greeting line, or never answers: the
// check gives up (on its memory ceiling, or after its whole 30 s) with "failed!", and the run
// stays far below 64 MiB.
struct HostileImapRun {
    RunResult result;
    double seconds = 0;
};

HostileImapRun RunAgainstImapHost(SimServer &sim, json fixture, int port)
{
    fixture["properties"]["ldapu"]["GD_IMH"] = "127.0.0.1:" + std::to_string(port);
    HostileImapRun run;
    if (!sim.Start(fixture.dump()))
        return run;
    auto start = std::chrono::steady_clock::now();
    run.result = RunDirprobe({"5000"}, RunEnv(sim, "s3cret\n"));
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

void ExpectFailedWithinBounds(const HostileImapRun &run, double seconds)
{
    EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
    EXPECT_FALSE(run.result.timedOut);
    EXPECT_NE(run.result.out.find("enter password for user jdoe: checking IMAP login ... \nfailed!\n\n\n"),
              std::string::npos)
        << run.result.out;
    EXPECT_NE(run.result.err.find("IMAP: login check "), std::string::npos) << run.result.err;
    EXPECT_LT(run.seconds, seconds);
    if (testsupport::kComparePeaks) {
        EXPECT_GT(run.result.maxRssKb, 0);
        EXPECT_LT(run.result.maxRssKb, 64 * testsupport::kMiB);
    }
}

TEST_F(DirprobeDirectory, ImapHostWithAnEndlessGreetingLineGivesFailed)
{
    testsupport::EndlessImapGreeting server;
    ASSERT_TRUE(server.ok());
    HostileImapRun run = RunAgainstImapHost(sim, Fixture(), server.port());
    ExpectFailedWithinBounds(run, 30.0);
    EXPECT_GT(server.sent(), 1024 * 1024);
}

// Waits out the real bound.
TEST_F(DirprobeDirectory, SilentImapHostGivesFailedAfterTheWholeBound)
{
    testsupport::SilentListener silent;
    ASSERT_GT(silent.port(), 0);
    HostileImapRun run = RunAgainstImapHost(sim, Fixture(), silent.port());
    ExpectFailedWithinBounds(run, 60.0);
    EXPECT_NE(run.result.err.find("IMAP: login check given up after 30 s\n"), std::string::npos)
        << run.result.err;
    EXPECT_GE(run.seconds, 29.0);
}

TEST_F(DirprobeDirectory, EndOfInputAtThePromptMakesNoLoginAttempt)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    int before = dovecot->PasswordMismatches();
    // On the command line, and in continuous mode, where it also ends the loop.
    RunResult r = RunDirprobe({"5000"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("checking IMAP login ... \nfailed!\n\n\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("IMAP: "), std::string::npos) << r.err;
    RunResult c = RunDirprobe({"-c"}, RunEnv(sim, "5000\n"));
    EXPECT_EQ(c.exitCode, 0) << c.err;
    EXPECT_FALSE(c.timedOut);
    const std::string tail =
        "enter password for user jdoe: checking IMAP login ... \nfailed!\n\n\n"
        "next extension (stop with 000): ";
    ASSERT_GE(c.out.size(), tail.size());
    EXPECT_EQ(c.out.substr(c.out.size() - tail.size()), tail) << c.out;
    EXPECT_EQ(c.err.find("IMAP: "), std::string::npos) << c.err;
    EXPECT_EQ(dovecot->PasswordMismatches(), before);
}

// A password line longer than the buffer is read whole: its tail is neither resolved as the
// next extension nor shown, and the login is tried once.
TEST_F(DirprobeDirectory, OverlongPasswordInContinuousModeDoesNotLeak)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    int before = dovecot->PasswordMismatches();
    const std::string password = std::string(150, 'p') + "TAILSECRET";
    RunResult r = RunDirprobe({"-c"}, RunEnv(sim, "5000\n" + password + "\n000\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("pppp"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("TAILSECRET"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("TAILSECRET"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("GetExtensionData"), r.out.rfind("GetExtensionData")) << r.out;
    const std::string tail = "checking IMAP login ... \nfailed!\n\n\nnext extension (stop with 000): ";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    EXPECT_EQ(sim.Calls("alpha", 117).size(), 1u);
    testsupport::WaitFor([&] { return dovecot->PasswordMismatches() != before; }, 5000, 100);
    EXPECT_EQ(dovecot->PasswordMismatches() - before, 1) << dovecot->Log();
}

TEST_F(DirprobeDirectory, CachedRouteReadsNoPropertiesTheSecondTime)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    RunResult r = RunDirprobe({"-v", "5001", "5001"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // A new entry on the first request, found on the second; the directory is searched both
    // times over the session the first one opened.
    size_t made = r.out.find("GetLineIDInfo: new routeid R5001\n");
    size_t found = r.out.find("GetLineIDInfo: routeid R5001 found\n");
    EXPECT_NE(made, std::string::npos) << r.out;
    EXPECT_LT(made, found) << r.out;
    EXPECT_EQ(r.out.find("GetLineIDInfo: new routeid", made + 1), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LDAPOpenServer: handle exists\n", found), std::string::npos) << r.out;
    auto keys = PropertyKeys(sim);
    // A directory-only user on a miss: every settings key in its order, once.
    std::vector<std::string> settings(keys.begin(), keys.begin() + 23);
    std::vector<std::string> expected = {
        "GD_ACPTALL", "GD_IMU",   "SG_LDE",   "GD_LDH",   "GD_LDDL",  "GD_LDTYPE", "SG_LDTYPE", "GD_LDCERT",
        "SG_LDCERT",  "GD_LDPRT", "GD_LDTO",  "SG_LDTO",  "GD_LDU",   "SG_LDBNAM", "GD_LDP",    "SG_LDBPWD",
        "GD_LDBAS",   "GD_LDFIL", "GD_LDLNG", "GD_LDAGN", "GD_LDASN", "GD_LDATS",  "GD_LDAED"};
    EXPECT_EQ(settings, expected);
    int imu = 0;
    for (const auto &k : keys)
        imu += (k == "GD_IMU");
    EXPECT_EQ(imu, 1);
    // One connection serves all property reads of the user's server.
    // The name came from the directory, converted to ISO-8859-15, and was not asked of alpha.
    EXPECT_NE(r.out.find("User ID = mueller, name = Maria M\xFCller\n"), std::string::npos) << r.out;
    EXPECT_TRUE(sim.Calls("alpha", 35).empty());
}

// The output follows the locale's character set: UTF-8 where LC_CTYPE names UTF-8 (LC_ALL over
// LC_CTYPE over LANG), the ISO-8859-15 bytes themselves everywhere else.
TEST_F(DirprobeDirectory, OutputInTheLocalesCharacterSet)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    const std::string latin = "User ID = bgross, name = B\xE4rbel Gro\xDF \x8D B\xFCro \xA4\n";
    const std::string utf8 = "User ID = bgross, name = B\u00e4rbel Gro\u00df \u2013 B\u00fcro \u20ac\n";
    struct Case {
        std::vector<std::string> env;
        bool utf8;
    };
    const Case cases[] = {
        {{}, false},
        {{"LANG=C"}, false},
        {{"LANG=POSIX"}, false},
        {{"LANG=C.UTF-8"}, true},
        {{"LC_CTYPE=C.UTF-8"}, true},
        {{"LC_ALL=C.UTF-8", "LANG=C"}, true},
        {{"LC_ALL=C", "LANG=C.UTF-8"}, false},
        {{"LANG=no_SUCH.UTF-8"}, false},  // a locale that is not there: the C locale
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        testsupport::RunOptions o = RunEnv(sim);
        o.env.insert(o.env.end(), cases[i].env.begin(), cases[i].env.end());
        RunResult r = RunDirprobe({"5004", "5001"}, o);
        EXPECT_EQ(r.exitCode, 0) << "case " << i << ": " << r.err;
        const std::string &user = cases[i].utf8 ? utf8 : latin;
        const std::string other = cases[i].utf8 ? "name = Maria M\u00fcller\n" : "name = Maria M\xFCller\n";
        EXPECT_NE(r.out.find(user), std::string::npos) << "case " << i << ": " << r.out;
        EXPECT_NE(r.out.find(other), std::string::npos) << "case " << i << ": " << r.out;
        // Everything else is ASCII, the same in every locale.
        std::string plain = r.out;
        for (const std::string *text : {&user, &other}) {
            size_t at = plain.find(*text);
            if (at != std::string::npos)
                plain.erase(at, text->size());
        }
        for (unsigned char c : plain)
            EXPECT_LT(c, 0x80) << "case " << i << ": " << r.out;
    }
}

// In a UTF-8 locale the prompt, the typed password and the login are as in any other.
TEST_F(DirprobeDirectory, ImapLoginInAUtf8Locale)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    testsupport::RunOptions o = RunEnv(sim, "s3cret\n");
    o.env.push_back("LANG=C.UTF-8");
    RunResult r = RunDirprobe({"5000"}, o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("enter password for user jdoe: checking IMAP login ... \n"
                         "ok.\n"
                         "The LDAP/IMAP4 configuration seems to be OK.\n\n\n"),
              std::string::npos)
        << r.out;
}

TEST_F(DirprobeDirectory, EntryWithoutNamesAndUserNotInTheDirectory)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    RunResult r = RunDirprobe({"5002", "5003", "*"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // A found entry without names gives one blank, which alpha is not asked to replace.
    EXPECT_NE(r.out.find("User ID = noname, name =  \n"), std::string::npos) << r.out;
    // Not in the directory: "User not found", but the user id is known, so the settings block
    // follows without a password prompt (the directory gave no IMAP name).
    EXPECT_NE(r.out.find("GetExtensionData 5003 flag 2\nUser not found\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("enter password"), std::string::npos);
    // An extension "*" is searched for as itself, so it matches no entry.
    EXPECT_NE(r.out.find("GetExtensionData * flag 2\nUser not found\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("User ID = starry"), std::string::npos) << r.out;
}

TEST_F(DirprobeDirectory, DebugOptionStartsEachResultWithTwoEmptyLines)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    RunResult r = RunDirprobe({"-d", "-v", "5001"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\n\n\nglobalLanguageByLDAP = FALSE\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("resolver: search base = ou=people,dc=example,dc=test\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("resolver: search scope = 2\nresolver: ldap-attributes=\n\tsn\n\tgivenName\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("givenName = Maria\n"), std::string::npos) << r.out;
    // Without -d the directory's debug lines stay out even with -v.
    RunResult quiet = RunDirprobe({"-v", "5001"}, RunEnv(sim));
    EXPECT_EQ(quiet.out.find("resolver: search base"), std::string::npos) << quiet.out;
}

// The directory reached in each of its ways, and failing in each of its ways. A failed lookup
// keeps the routed user unless GD_LDR2T is 0; the client API still completes the record.
TEST_F(DirprobeDirectory, DirectoryConnectionsAndTheirFailures)
{
    testsupport::TestCa otherCa("other");
    ASSERT_TRUE(otherCa.Make()) << otherCa.error();
    const std::string port = std::to_string(slapd->port());
    const std::string tlsPort = std::to_string(slapd->tlsPort());
    testsupport::ClosedPorts dead;
    const std::string deadPort = std::to_string(dead.port());
    struct Case {
        const char *what;
        json props;        // over the directory-only settings of 5001
        bool found;        // the directory entry was read
        const char *open;  // the "LDAP Open" failure line, "" when the lookup works
        const char *user;  // the user line printed
    };
    const std::string admin = "cn=admin,dc=example,dc=test";
    const Case cases[] = {
        {"ldaps with the server's CA",
         {{"GD_LDTYPE", "ldaps"}, {"GD_LDPRT", tlsPort}, {"GD_LDCERT", slapd->caFile()}},
         true,
         "",
         "User ID = mueller, name = Maria M\xFCller\n"},
        {"StartTLS with the server's CA",
         {{"GD_LDTYPE", "startTLS"}, {"GD_LDCERT", slapd->caFile()}},
         true,
         "",
         "User ID = mueller, name = Maria M\xFCller\n"},
        {"simple bind",
         {{"GD_LDU", admin}, {"GD_LDP", "secret"}},
         true,
         "",
         "User ID = mueller, name = Maria M\xFCller\n"},
        {"GD_LDR2T 0, entry found",
         {{"GD_LDR2T", "0"}},
         true,
         "",
         "User ID = mueller, name = Maria M\xFCller\n"},
        {"bind refused",
         {{"GD_LDU", admin}, {"GD_LDP", "wrong"}},
         false,
         "cn=admin,dc=example,dc=test *** failed\n",
         "User ID = mueller, name = Max Mueller\n"},
        {"ldaps with another CA",
         {{"GD_LDTYPE", "ldaps"}, {"GD_LDPRT", tlsPort}, {"GD_LDCERT", otherCa.caFile()}},
         false,
         " *** failed\n",
         "User ID = mueller, name = Max Mueller\n"},
        {"server down",
         {{"GD_LDPRT", deadPort}},
         false,
         " *** failed\n",
         "User ID = mueller, name = Max Mueller\n"},
        {"server down, GD_LDR2T 0",
         {{"GD_LDPRT", deadPort}, {"GD_LDR2T", "0"}},
         false,
         " *** failed\n",
         nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        json f = Fixture();
        for (auto it = c.props.begin(); it != c.props.end(); ++it)
            f["properties"]["mueller"][it.key()] = it.value();
        f["users"].push_back({{"server", "127.0.0.1"}, {"user", "mueller"}, {"name", "Max Mueller"}});
        SimServer s;
        ASSERT_TRUE(s.Start(f.dump())) << s.Log();
        RunResult r = RunDirprobe({"5001"}, RunEnv(s));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        if (c.found) {
            EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out;
        } else {
            EXPECT_NE(r.out.find(std::string("LDAP Open 127.0.0.1:")), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(c.open), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("GetLineIDInfo: GetLDAPResult() failed: 0x"), std::string::npos) << r.out;
        }
        // The client API's own steps replace the resolver's result; with no user they do not run.
        EXPECT_EQ(r.out.find("LocalGetExtensionData failed\n") != std::string::npos, c.user == nullptr)
            << r.out;
        if (c.user) {
            EXPECT_NE(r.out.find(c.user), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.out.find("User ID ="), std::string::npos) << r.out;
        }
    }
}

// The IMAP login over TLS: a "/ssl" mailbox with the library's certificate check (the trust
// store redirected to a test CA), its "/novalidate-cert" flag, and STARTTLS on the plain port.
TEST_F(DirprobeDirectory, ImapLoginOverTls)
{
    testsupport::TestCa ca("imapca");
    testsupport::TestCa otherCa("otherimap");
    ASSERT_TRUE(ca.Make()) << ca.error();
    ASSERT_TRUE(otherCa.Make()) << otherCa.error();
    testsupport::Dovecot tlsDovecot;
    testsupport::DovecotOptions dopts;
    dopts.certFile = ca.certFile();
    dopts.keyFile = ca.keyFile();
    ASSERT_TRUE(tlsDovecot.Start(dopts)) << tlsDovecot.error() << tlsDovecot.Log();
    // The library checks the certificate for the host name only, not for an IP address.
    const std::string ssl = "{localhost:" + std::to_string(tlsDovecot.tlsPort()) + "/ssl";
    struct Case {
        std::string host;
        std::string trusted;  // SSL_CERT_FILE
        bool ok;
    };
    const Case cases[] = {
        {ssl + "}", ca.caFile(), true},
        {ssl + "}", otherCa.caFile(), false},
        {ssl + "/novalidate-cert}", otherCa.caFile(), true},
        {"localhost:" + std::to_string(tlsDovecot.port()), ca.caFile(), true},
        {"localhost:" + std::to_string(tlsDovecot.port()), otherCa.caFile(), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host + " " + c.trusted);
        json f = Fixture();
        f["properties"]["ldapu"]["GD_IMH"] = c.host;
        SimServer s;
        ASSERT_TRUE(s.Start(f.dump())) << s.Log();
        auto opts = RunEnv(s, "s3cret\n");
        opts.env.push_back("SSL_CERT_FILE=" + c.trusted);
        RunResult r = RunDirprobe({"5000"}, opts);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("IMAP Host\t= " + c.host + "\n"), std::string::npos) << r.out;
        EXPECT_NE(
            r.out.find(c.ok ? "checking IMAP login ... \nok.\n" : "checking IMAP login ... \nfailed!\n"),
            std::string::npos)
            << r.out << r.err;
    }
}

// Runs dirprobe with one or two arguments on a new pseudo-terminal; *master gets its master
// side. The child's pid, or -1.
pid_t StartOnTerminal(const testsupport::RunOptions &opts, const char *arg1, const char *arg2, int *master,
                      bool ignoreInterrupt = false)
{
    pid_t pid = forkpty(master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        if (ignoreInterrupt)
            signal(SIGINT, SIG_IGN);  // as a shell does for a background job
        for (const auto &name : opts.unset)
            unsetenv(name.c_str());
        for (const auto &e : opts.env)
            putenv(const_cast<char *>(e.c_str()));
        std::string path = DirprobePath();
        execl(path.c_str(), path.c_str(), arg1, arg2, static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

// Reads from the terminal's master side until `want` appears or the time runs out.
bool ReadUntil(int fd, std::string &seen, const std::string &want, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen.find(want) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return seen.find(want) != std::string::npos;
        seen.append(buf, static_cast<size_t>(n));
    }
    return true;
}

TEST_F(DirprobeDirectory, PasswordTypedOnATerminalIsNeverShown)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    int master = -1;
    pid_t pid = StartOnTerminal(RunEnv(sim), "-c", "5000", &master);
    ASSERT_GE(pid, 0);
    std::string seen;
    ASSERT_TRUE(ReadUntil(master, seen, "enter password for user jdoe: ", 30000)) << seen;
    ASSERT_EQ(write(master, "s3cret\r", 7), 7);
    ASSERT_TRUE(ReadUntil(master, seen, "next extension (stop with 000): ", 30000)) << seen;
    // Echo is back on: the next line typed is shown.
    ASSERT_EQ(write(master, "000\r", 4), 4);
    ReadUntil(master, seen, "(stop with 000): 000", 10000);
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(seen.find("s3cret"), std::string::npos) << seen;
    EXPECT_NE(seen.find("The LDAP/IMAP4 configuration seems to be OK."), std::string::npos) << seen;
    EXPECT_NE(seen.find("stop with 000): 000"), std::string::npos) << seen;
}

// A program started with SIGINT ignored keeps ignoring it at the prompt: the echo stays off
// and the password typed afterwards is not shown.
TEST_F(DirprobeDirectory, IgnoredInterruptAtThePromptKeepsTheEchoOff)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    int master = -1;
    pid_t pid = StartOnTerminal(RunEnv(sim), "5000", nullptr, &master, true);
    ASSERT_GE(pid, 0);
    std::string seen;
    ASSERT_TRUE(ReadUntil(master, seen, "enter password for user jdoe: ", 30000)) << seen;
    kill(pid, SIGINT);
    // The ignored signal is gone once nothing holds it pending.
    EXPECT_TRUE(testsupport::WaitFor([&] { return !testsupport::SignalPending(pid, SIGINT); }));
    termios mode{};
    ASSERT_EQ(tcgetattr(master, &mode), 0);
    EXPECT_EQ(mode.c_lflag & ECHO, 0u);
    ASSERT_EQ(write(master, "s3cret\r", 7), 7);
    EXPECT_TRUE(ReadUntil(master, seen, "The LDAP/IMAP4 configuration seems to be OK.", 30000)) << seen;
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(seen.find("s3cret"), std::string::npos) << seen;
}

// SIGINT, SIGTERM and an end of input (^D) at the password prompt: the terminal's echo is on
// again afterwards. The signals end the program as they would have; ^D gives "failed!".
TEST_F(DirprobeDirectory, SignalOrEndOfInputAtThePromptRestoresTheEcho)
{
    ASSERT_TRUE(sim.Start(Fixture().dump())) << sim.Log();
    auto opts = RunEnv(sim);
    for (int sig : {SIGINT, SIGTERM, 0}) {
        SCOPED_TRACE(sig);
        int master = -1;
        pid_t pid = StartOnTerminal(opts, "5000", nullptr, &master);
        ASSERT_GE(pid, 0);
        std::string seen;
        ASSERT_TRUE(ReadUntil(master, seen, "enter password for user jdoe: ", 30000)) << seen;
        termios mode{};
        ASSERT_EQ(tcgetattr(master, &mode), 0);
        EXPECT_EQ(mode.c_lflag & ECHO, 0u);
        if (sig != 0) {
            kill(pid, sig);
        } else {
            ASSERT_EQ(write(master, "\x04", 1), 1);
            EXPECT_TRUE(ReadUntil(master, seen, "failed!", 10000)) << seen;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (sig != 0) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << seen;
        }
        ASSERT_EQ(tcgetattr(master, &mode), 0);
        EXPECT_NE(mode.c_lflag & ECHO, 0u);
        close(master);
    }
}

}  // namespace
