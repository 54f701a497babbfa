// dirprobe against the simulated alpha and omega servers: start-up, plain users, groups,
// route forms and continuous mode, with the exact console output and the requests sent.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "dirprobe_env.h"

namespace {

using namespace dirprobe_test;
using testsupport::RunResult;
using testsupport::SimServer;

const char kJdoe[] =
    "resolving 4711\n"
    "GetExtensionData 4711 flag 2\n"
    "No IMAP\n"
    "SetRecordTimeout 30\n"
    "SetSilenceTimeout 5\n"
    "globalLanguageByLDAP = FALSE\n"
    "\n"
    "User ID = jdoe, name = John Doe\n"
    "\n"
    "native user has greeting\n";

const char kGroup[] =
    "resolving 200\n"
    "GetExtensionData 200 flag 2\n"
    "User not found\n"
    "globalLanguageByLDAP = FALSE\n"
    "\n"
    "Group ID = sales, name = Sales Team\n"
    "\n";

class DirprobePlain : public ::testing::Test {
protected:
    void StartSim(const json &fixture) { ASSERT_TRUE(sim.Start(fixture.dump())) << sim.Log(); }
    SimServer sim;
};

TEST_F(DirprobePlain, PlainUserWithGreetingAndAcceptAllUser)
{
    StartSim(BaseFixture());
    RunResult r = RunDirprobe({"4711", "4712"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string("ok.\n") + kJdoe +
                         "resolving 4712\n"
                         "GetExtensionData 4712 flag 2\n"
                         "No IMAP\n"
                         "AcceptAll\n"
                         "globalLanguageByLDAP = FALSE\n"
                         "\n"
                         "AcceptAll\n"
                         "User ID = asmith, name = Anna Smith\n"
                         "\n"
                         "native user has video greeting\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(DirprobePlain, RequestsFollowTheRoadOfOneExtension)
{
    StartSim(BaseFixture());
    RunResult r = RunDirprobe({"4711"}, RunEnv(sim));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // main's and the resolver's compatibility questions, then the full-form route request.
    auto compat = sim.Calls("alpha", 75);
    EXPECT_EQ(compat.size(), 2u);
    auto routes = sim.Calls("alpha", 117);
    ASSERT_EQ(routes.size(), 1u);
    EXPECT_EQ(routes[0].args["version"], 2);
    EXPECT_EQ(routes[0].args["full"], 1);
    EXPECT_EQ(routes[0].args["line_id"], "4711");
    // A user without the directory: three settings reads, then the four greeting properties
    // (and a page look-up for each one set), then the voice timeouts.
    std::vector<std::string> expected = {"GD_ACPTALL", "GD_IMU",   "SG_LDE",   "GREETING", "GOODBYE",
                                         "VGREETING",  "VGOODBYE", "GD_VRREC", "GD_VRSIL"};
    EXPECT_EQ(PropertyKeys(sim), expected);
    auto pages = sim.Calls("alpha", 59);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].args["job"], 100);
    EXPECT_EQ(pages[0].args["variant"], 14);
    EXPECT_EQ(pages[1].args["job"], 101);
    // The user's name came from the user record of alpha.
    EXPECT_EQ(sim.Calls("alpha", 35).size(), 1u);
    // No omega at level 16.
    EXPECT_EQ(sim.Accepts("omega"), 0);
}

TEST_F(DirprobePlain, UserWithoutDirectoryIsReadAgainOnEveryRequest)
{
    StartSim(BaseFixture());
    RunResult r = RunDirprobe({"4711", "4711"}, RunEnv(sim));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int settingsReads = 0;
    for (const auto &k : PropertyKeys(sim))
        settingsReads += (k == "GD_IMU");
    EXPECT_EQ(settingsReads, 2);
}

// Connections to alpha: main's and the resolver's, then one per-user connection each for the
// resolver and the client API, kept while the users stay on one server.
TEST_F(DirprobePlain, PerUserConnectionsAreReusedAndReplacedOnAServerSwitch)
{
    json f = BaseFixture();
    f["routes"].push_back(
        {{"line_id", "4713"}, {"route_id", "R4713"}, {"server", "localhost"}, {"user", "bob"}});
    f["users"].push_back({{"server", "localhost"}, {"user", "bob"}, {"name", "Bob Other"}});
    testsupport::SimServerOptions so;
    so.hosts = {"127.0.0.1", "localhost"};
    ASSERT_TRUE(sim.Start(f.dump(), so)) << sim.Log();
    struct Step {
        const char *extension;
        int accepts;  // alpha connections after the step
    };
    const Step steps[] = {{nullptr, 2}, {"4711", 4}, {"4712", 4}, {"4713", 6}, {"4711", 8}, {"4711", 8}};
    std::vector<std::string> args;
    for (const Step &step : steps) {
        SCOPED_TRACE(args.size());
        if (step.extension)
            args.push_back(step.extension);
        sim.ClearRequests();
        RunResult r = RunDirprobe(args.empty() ? std::vector<std::string>{"-c"} : args, RunEnv(sim, "000\n"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(sim.Accepts("alpha"), step.accepts) << r.out;
        if (step.extension && std::string(step.extension) == "4713") {
            EXPECT_NE(r.out.find("User ID = bob, name = Bob Other\n"), std::string::npos) << r.out;
        }
    }
}

// A property call that fails on the transport is sent once more over a new connection; the
// result is as if nothing had happened.
TEST_F(DirprobePlain, FailedPropertyCallIsRepeatedAfterReconnecting)
{
    json f = BaseFixture();
    f["faults"] = json::array(
        {{{"prog", "alpha"}, {"proc", 144}, {"match", {{"key", "GD_IMU"}}}, {"times", 1}, {"close", true}}});
    StartSim(f);
    RunResult r = RunDirprobe({"4711"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string("ok.\n") + kJdoe);
    auto keys = PropertyKeys(sim);
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 4),
              (std::vector<std::string>{"GD_ACPTALL", "GD_IMU", "GD_IMU", "SG_LDE"}));
    // The four of a good run, and the resolver's new per-user connection.
    EXPECT_EQ(sim.Accepts("alpha"), 5);
}

// The client API's property reads failing: the greeting chain stops at the failing step, the
// failure replaces the resolver's result, and the harness stops after its failure line.
TEST_F(DirprobePlain, FailedGreetingReadStopsTheChain)
{
    struct Case {
        const char *what;
        json change;           // applied to the fixture
        std::string messages;  // the client API's lines, after "GetExtensionData ..."
    };
    json closeGoodbye = {
        {"faults",
         json::array(
             {{{"prog", "alpha"}, {"proc", 144}, {"match", {{"key", "GOODBYE"}}}, {"close", true}}})}};
    json statusGoodbye = {
        {"properties", {{"jdoe", {{"GREETING", "100"}, {"GOODBYE", {{"value", ""}, {"ec", 7}}}}}}}};
    const Case cases[] = {
        {"transport", closeGoodbye, "a_get_usrconf_new_1: RPC: "},
        // The client API's status message has no line end of its own.
        {"status", statusGoodbye, "a_get_usrconf_new_1 : error EC_7GetDEVEdaID() failed: 0x10000001\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        json f = BaseFixture();
        f.merge_patch(c.change);
        SimServer s;
        ASSERT_TRUE(s.Start(f.dump())) << s.Log();
        RunResult r = RunDirprobe({"4711"}, RunEnv(s));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string head = "ok.\nresolving 4711\nGetExtensionData 4711 flag 2\n";
        EXPECT_EQ(r.out.rfind(head + c.messages, 0), 0u) << r.out;
        // The RPC library's text is a line of its own.
        if (std::string(c.what) == "transport") {
            EXPECT_NE(r.out.find("\nGetDEVEdaID() failed: 0x10000001\n"), std::string::npos) << r.out;
        }
        EXPECT_NE(r.out.find("GetDEVEdaID() failed: 0x10000001\nLocalGetExtensionData failed\n"
                             "globalLanguageByLDAP = FALSE\n\nUser ID = jdoe, name = John Doe\n\n"),
                  std::string::npos)
            << r.out;
        // Only the greeting step ran to its end.
        const std::string tail = "John Doe\n\nnative user has greeting\n";
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
        // No video properties and no voice timeouts were asked for.
        auto keys = PropertyKeys(s);
        EXPECT_EQ(std::count(keys.begin(), keys.end(), "VGREETING"), 0);
        EXPECT_EQ(std::count(keys.begin(), keys.end(), "GD_VRREC"), 0);
    }
}

// A route naming a user without a server: no user settings, and the harness's property reads
// for the known user id fail with the RPC error instead of using a missing client.
TEST_F(DirprobePlain, UserWithoutServerFailsItsPropertyReadsCleanly)
{
    json f = BaseFixture();
    f["routes"].push_back({{"line_id", "4799"}, {"route_id", "R4799"}, {"server", ""}, {"user", "orphan"}});
    StartSim(f);
    RunResult r = RunDirprobe({"4799"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("ok.\nresolving 4799\nGetExtensionData 4799 flag 2\nUser not found\nNo IMAP\n", 0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("OpenUserAlpha() failed: 0x10000005\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 31), "globalLanguageByLDAP = FALSE\n\n\n") << r.out;
    EXPECT_TRUE(PropertyKeys(sim).empty());
}

TEST_F(DirprobePlain, GroupNameComesFromAlphaAtLevel16AndFromOmegaBelow)
{
    for (int level : {16, 15}) {
        SCOPED_TRACE(level);
        SimServer s;
        ASSERT_TRUE(s.Start(BaseFixture(level).dump())) << s.Log();
        RunResult r = RunDirprobe({"200"}, RunEnv(s));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::string head = level < 16 ? "old alpha compat=15\nok.\n" : "ok.\n";
        EXPECT_EQ(r.out, head + kGroup);
        EXPECT_EQ(s.Calls("alpha", 150).size(), level < 16 ? 0u : 1u);
        EXPECT_EQ(s.Calls("omega", 32).size(), level < 16 ? 1u : 0u);
        // A group line reads no user settings.
        EXPECT_TRUE(PropertyKeys(s).empty());
    }
}

TEST_F(DirprobePlain, UnknownExtensionPrintsUserNotFound)
{
    StartSim(BaseFixture());
    RunResult r = RunDirprobe({"999"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "ok.\nresolving 999\nGetExtensionData 999 flag 2\nUser not found\n"
              "globalLanguageByLDAP = FALSE\n\n\n");
    EXPECT_TRUE(PropertyKeys(sim).empty());
}

TEST_F(DirprobePlain, RouteRequestFormFollowsTheCompatibilityLevel)
{
    struct Case {
        int level;
        const char *extension;
        int version;
        const char *lineIdSent;  // nullptr: no request
    };
    const Case cases[] = {
        {12, "12345678901", -1, nullptr},
        {12, "4711", 0, "4711"},
        {13, "1234567890123456789012345", 1, "12345678901234567890"},
        {15, "4711", 1, "4711"},
        {16, "4711", 2, "4711"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.level);
        SimServer s;
        ASSERT_TRUE(s.Start(BaseFixture(c.level).dump())) << s.Log();
        RunResult r = RunDirprobe({"-v", c.extension}, RunEnv(s));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        auto routes = s.Calls("alpha", 117);
        if (!c.lineIdSent) {
            EXPECT_TRUE(routes.empty());
            EXPECT_NE(r.out.find("a_apply_route_new(): unsupported long lineid 12345678901 (old server)\n"),
                      std::string::npos)
                << r.out;
            EXPECT_NE(r.out.find("GetLineIDInfo: ApplyRoute failed 0x10000005\n"), std::string::npos);
            continue;
        }
        // omega is connected (by main and by the resolver) only below level 16.
        EXPECT_EQ(AcceptsReaching(s, "omega", 2), c.level < 16 ? 2 : 0);
        ASSERT_EQ(routes.size(), 1u);
        EXPECT_EQ(routes[0].args["version"], c.version);
        EXPECT_EQ(routes[0].args["line_id"], c.lineIdSent);
        EXPECT_NE(r.out.find(std::string("a_apply_ron(") + c.lineIdSent + ")\n"), std::string::npos) << r.out;
    }
}

TEST_F(DirprobePlain, StatusTwentyThreeAsksAgainForTheShortForm)
{
    json f = BaseFixture();
    f["routes"][0]["full_ec"] = 23;
    StartSim(f);
    RunResult r = RunDirprobe({"-v", "4711"}, RunEnv(sim));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto routes = sim.Calls("alpha", 117);
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].args["full"], 1);
    EXPECT_EQ(routes[1].args["full"], 0);
    EXPECT_NE(r.out.find("a_apply_ron (4711): user jdoe@127.0.0.1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("User ID = jdoe, name = John Doe\n"), std::string::npos);
}

TEST_F(DirprobePlain, RouteFailuresAreReportedAndTheLoopGoesOn)
{
    json f = BaseFixture();
    f["routes"][0]["ec"] = 7;
    StartSim(f);
    RunResult r = RunDirprobe({"4711", "200"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("a_apply_route_new() returned EC_7\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("GetLineIDInfo: ApplyRoute failed 0x10000001\n"), std::string::npos);
    EXPECT_NE(r.out.find(kGroup), std::string::npos) << r.out;
}

TEST_F(DirprobePlain, VerboseShowsTheResolversProgressOnly)
{
    StartSim(BaseFixture(15));
    RunResult r = RunDirprobe({"-v", "4711"}, RunEnv(sim));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The level line comes once, from the resolver; no entry or exit lines of the scopes.
    EXPECT_EQ(r.out,
              "old alpha compat=15\n"
              "ok.\n"
              "resolving 4711\n"
              "GetExtensionData 4711 flag 2\n"
              "a_apply_ron(4711)\n"
              "a_apply_ron (4711): user jdoe@127.0.0.1\n"
              "GD_IMU or SG_LDE not defined, no IMAP or LDAP!\n"
              "No IMAP\n"
              "SetRecordTimeout 30\n"
              "SetSilenceTimeout 5\n"
              "globalLanguageByLDAP = FALSE\n"
              "\n"
              "User ID = jdoe, name = John Doe\n"
              "\n"
              "native user has greeting\n");
}

TEST_F(DirprobePlain, ContinuousModeReadsUntilThreeZeros)
{
    StartSim(BaseFixture());
    RunResult r = RunDirprobe({"-c", "4711"}, RunEnv(sim, "200\n0000\n 000\n\n000\n4711\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string prompt = "next extension (stop with 000): ";
    const std::string nobody = "User not found\nglobalLanguageByLDAP = FALSE\n\n\n";
    std::string expected = std::string("ok.\n") + kJdoe + prompt;
    std::string group = kGroup;
    expected += group.substr(std::string("resolving 200\n").size());
    expected += prompt + "GetExtensionData 0000 flag 2\n" + nobody;
    expected += prompt + "GetExtensionData  000 flag 2\n" + nobody;
    expected += prompt + "GetExtensionData  flag 2\n" + nobody;
    expected += prompt;
    EXPECT_EQ(r.out, expected);
    // Nothing after "000" was resolved; the empty line routed the default line id (empty).
    auto routes = sim.Calls("alpha", 117);
    ASSERT_EQ(routes.size(), 5u);
    EXPECT_EQ(routes[3].args["line_id"], " 000");
    EXPECT_EQ(routes[4].args["line_id"], "");
}

TEST_F(DirprobePlain, ContinuousModeEndsAtTheEndOfInput)
{
    StartSim(BaseFixture());
    RunResult r = RunDirprobe({"-c"}, RunEnv(sim, "200\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("next extension (stop with 000): "), r.out.size() - 32);
    EXPECT_NE(r.out.find("no extension\nok.\n"), std::string::npos) << r.out;
    EXPECT_FALSE(r.timedOut);
}

TEST_F(DirprobePlain, LongLinesAreReadInPiecesOf35)
{
    StartSim(BaseFixture());
    std::string line(40, '1');
    RunResult r = RunDirprobe({"-c", "-v", std::string(40, '2')}, RunEnv(sim, line + "\n000\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("resolving " + std::string(35, '2') + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("GetExtensionData " + std::string(35, '1') + " flag 2\n"), std::string::npos);
    EXPECT_NE(r.out.find("GetExtensionData 11111 flag 2\n"), std::string::npos);
}

// ---- Start-up failures -------------------------------------------------------------------------

TEST_F(DirprobePlain, UsageAndOptionErrors)
{
    const char usage[] =
        "usage: dirprobe [-v] [-d] [-c] <extension> [<extension> ....]\n"
        "\t-c continuous mode\n"
        "\t-d for ldap debug\n"
        "\t-v verbose\n";
    testsupport::RunOptions o;
    o.unset = {"OMEGAHOST"};
    RunResult none = RunDirprobe({}, o);
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.err, usage);
    EXPECT_EQ(none.out, "");
    RunResult question = RunDirprobe({"-?"}, o);
    EXPECT_EQ(question.exitCode, 1);
    EXPECT_EQ(question.err, usage);
    RunResult unknown = RunDirprobe({"-x", "4711"}, o);
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err, DirprobePath() + ": unknown option, -x\n" + usage);
}

TEST_F(DirprobePlain, NoEnvironmentFileEndsTheProgram)
{
    testsupport::TempDir root;
    testsupport::RunOptions o;
    o.unset = {"OMEGAHOST"};
    o.env = {"FAXROOT=" + root.path(), "LDAPNOINIT=1"};
    RunResult r = RunDirprobe({"4711"}, o);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("config not found!!\n"), std::string::npos) << r.err;
}

// Without OMEGAHOST the installation's environment file names the servers; OMEGAHOST set,
// even empty, leaves the file unread.
TEST_F(DirprobePlain, EnvironmentFileIsReadOnlyWithoutOmegaHost)
{
    StartSim(BaseFixture());
    testsupport::TempDir root;
    ASSERT_EQ(mkdir(root.file("etc").c_str(), 0755), 0);
    {
        std::ofstream config(root.file("etc/config"));
        config << "# servers of the test\n"
               << sim.RpcMapEnv() << "\nALPHAHOST=127.0.0.1\nOMEGAHOST=127.0.0.1\n";
    }
    testsupport::RunOptions o;
    o.unset = {"OMEGAHOST", "ALPHAHOST", "TELAMORPCMAP", "TELAMORPCPORT", "TELAMORPCOFFSET", "LOCALHOST"};
    o.env = {"FAXROOT=" + root.path(), "LDAPNOINIT=1"};
    RunResult r = RunDirprobe({"4711"}, o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string("ok.\n") + kJdoe);

    // OMEGAHOST empty: no file is read, so nothing says where alpha is.
    testsupport::TempDir empty;
    testsupport::ClosedPorts closed;
    o.env = {"FAXROOT=" + empty.path(), "OMEGAHOST=", "LDAPNOINIT=1",
             "TELAMORPCMAP=127.0.0.1:" + std::to_string(closed.port())};
    o.unset = {"ALPHAHOST", "TELAMORPCPORT", "TELAMORPCOFFSET", "LOCALHOST"};
    RunResult skipped = RunDirprobe({"4711"}, o);
    EXPECT_EQ(skipped.exitCode, 1);
    EXPECT_EQ(skipped.err.find("config not found!!"), std::string::npos) << skipped.err;
    EXPECT_EQ(skipped.out.rfind("localhost: RPC: ", 0), 0u) << skipped.out;
}

TEST_F(DirprobePlain, StartUpFailuresEndWithExitCodeOne)
{
    // alpha unreachable
    {
        testsupport::RunOptions o;
        testsupport::ClosedPorts closed;
        int port = closed.port();
        o.env = {"TELAMORPCMAP=127.0.0.1:" + std::to_string(port), "ALPHAHOST=127.0.0.1",
                 "OMEGAHOST=127.0.0.1", "LDAPNOINIT=1"};
        RunResult r = RunDirprobe({"4711"}, o);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out.rfind("127.0.0.1: RPC: ", 0), 0u) << r.out;
        // One line, and the empty line of the message's own line end.
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 2) << r.out;
        EXPECT_EQ(r.out.find("ok."), std::string::npos);
    }
    // an alpha host name longer than the resolver keeps: refused rather than cut to another host
    {
        testsupport::RunOptions o;
        o.env = {"ALPHAHOST=" + std::string(30, 'a') + ".example.test", "OMEGAHOST=127.0.0.1",
                 "LDAPNOINIT=1"};
        RunResult r = RunDirprobe({"4711"}, o);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "alpha host name too long: " + std::string(30, 'a') + ".example.test\n");
    }
    // the compatibility question is not answered
    {
        json f = BaseFixture();
        f["faults"] = json::array({{{"prog", "alpha"}, {"proc", 75}, {"close", true}}});
        SimServer s;
        ASSERT_TRUE(s.Start(f.dump())) << s.Log();
        RunResult r = RunDirprobe({"4711"}, RunEnv(s));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out.rfind("a_get_compat: RPC: ", 0), 0u) << r.out;
    }
    // level 15 and omega down
    {
        testsupport::SimServerOptions so;
        so.omega = false;
        SimServer s;
        ASSERT_TRUE(s.Start(BaseFixture(15).dump(), so)) << s.Log();
        RunResult r = RunDirprobe({"4711"}, RunEnv(s));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out.rfind("old alpha compat=15\n127.0.0.1: RPC: ", 0), 0u) << r.out;
    }
    // the resolver's own start fails (its compatibility question is refused)
    {
        json f = BaseFixture();
        f["faults"] = json::array({{{"prog", "alpha"}, {"proc", 75}, {"skip", 1}, {"close", true}}});
        SimServer s;
        ASSERT_TRUE(s.Start(f.dump())) << s.Log();
        RunResult r = RunDirprobe({"4711"}, RunEnv(s));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.out.find("a_get_compat: RPC: "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("ResolverInit Error 0x10000005\n"), std::string::npos) << r.out;
    }
}

TEST_F(DirprobePlain, OnlyTheOptionLetterCMeansPurelyInteractive)
{
    StartSim(BaseFixture());
    RunResult r = RunDirprobe({"-c"}, RunEnv(sim, "000\n"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "no extension\nok.\nnext extension (stop with 000): ");
}

TEST_F(DirprobePlain, OptionsEndAtTheFirstExtension)
{
    StartSim(BaseFixture());
    RunResult r = RunDirprobe({"-cv", "4711", "-d"}, RunEnv(sim, "000\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("resolving -d\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a_apply_ron(4711)\n"), std::string::npos);
}

}  // namespace
