// The resolver against the simulated alpha server and a real slapd: reconnection, uncached
// settings after a failed read, and many threads resolving at once.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "drvtrace/drvtrace.h"
#include "resolver/resolver.h"
#include "resolver/resolver_testing.h"
#include "rpcrt/rpcrt.h"
#include "simserver.h"
#include "slapd.h"
#include "testsupport.h"

namespace {

using nlohmann::json;

const char kLdif[] =
    "dn: dc=example,dc=test\n"
    "objectClass: dcObject\nobjectClass: organization\no: Example\ndc: example\n\n"
    "dn: ou=people,dc=example,dc=test\nobjectClass: organizationalUnit\nou: people\n\n"
    "dn: uid=u1,ou=people,dc=example,dc=test\n"
    "objectClass: inetOrgPerson\nuid: u1\ncn: One\nsn: One\ngivenName: User\ntelephoneNumber: 6001\n\n"
    "dn: uid=u2,ou=people,dc=example,dc=test\n"
    "objectClass: inetOrgPerson\nuid: u2\ncn: Two\nsn: Two\ngivenName: User\ntelephoneNumber: 6002\n"
    "telephoneNumber: 6003\n\n";

class ResolverServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        rpc_runtime_init();
        SetTraceVerbosity(2);
        slapd = new testsupport::Slapd;
        testsupport::SlapdOptions so;
        so.ldif = kLdif;
        so.tls = false;
        if (!slapd->Start(so))
            setupError = slapd->error() + slapd->Log();
    }
    static void TearDownTestSuite()
    {
        delete slapd;
        slapd = nullptr;
    }
    void SetUp() override { ASSERT_EQ(setupError, ""); }

    // 6001 and 6002/6003 are directory users (6002 and 6003 share one route), 7001/7002 plain
    // users, 8000 a group.
    json Fixture()
    {
        json dir = {{"SG_LDE", "1"},
                    {"GD_LDH", "127.0.0.1"},
                    {"GD_LDPRT", std::to_string(slapd->port())},
                    {"GD_LDBAS", "ou=people,dc=example,dc=test"},
                    {"GD_LDFIL", "(telephoneNumber=%s)"}};
        auto route = [](const char *line, const char *routeId, const char *user) {
            return json{{"line_id", line}, {"route_id", routeId}, {"server", "127.0.0.1"}, {"user", user}};
        };
        return json{
            {"compat", {{"valid", 1}, {"level", 16}}},
            {"routes", json::array({route("6001", "R6001", "u1"),
                                    route("6002", "R600X", "u2"),
                                    route("6003", "R600X", "u2"),
                                    route("7001", "R7001", "p1"),
                                    route("7002", "R7002", "p2"),
                                    {{"line_id", "8000"}, {"route_id", "G8000"}, {"group", "g8"}}})},
            {"properties", {{"u1", dir}, {"u2", dir}, {"p1", {{"GD_ACPTALL", "1"}}}, {"p2", json::object()}}},
        };
    }

    void StartSim(const json &fixture, const testsupport::SimServerOptions &options = {})
    {
        ASSERT_TRUE(sim.Start(fixture.dump(), options)) << sim.Log();
        setenv("TELAMORPCMAP", sim.RpcMap().c_str(), 1);
        setenv("OMEGAHOST", "127.0.0.1", 1);
        unsetenv("TELAMORPCPORT");
        unsetenv("TELAMORPCOFFSET");
    }

    int Count(const char *key, const char *user = nullptr)
    {
        int n = 0;
        for (const auto &r : sim.Calls("alpha", 144)) {
            n += r.args.value("key", "") == key && (!user || r.args.value("user", "") == user);
        }
        return n;
    }

    static testsupport::Slapd *slapd;
    static std::string setupError;
    testsupport::SimServer sim;
};

testsupport::Slapd *ResolverServer::slapd = nullptr;
std::string ResolverServer::setupError;

TEST_F(ResolverServer, ARouteCallThatFailsOnceIsSentAgainAfterReconnecting)
{
    json f = Fixture();
    f["faults"] = json::array({{{"prog", "alpha"}, {"proc", 117}, {"times", 1}, {"close", true}}});
    StartSim(f);
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    LineIDInfo info;
    testsupport::CaptureFd captured(1);
    GdResult rc = r.GetLineIDInfo("7001", 1, LINE_NONE, &info);
    std::string out = captured.Text();
    EXPECT_EQ(rc, 0u) << out;
    EXPECT_NE(out.find("alpha reconnected.\n"), std::string::npos) << out;
    EXPECT_STREQ(info.user.userId, "p1");
    EXPECT_EQ(info.acceptAll, 1);
    EXPECT_EQ(sim.Calls("alpha", 117).size(), 2u);
}

TEST_F(ResolverServer, OmegaIsReconnectedLikeAlphaAndOtherClientsAreNot)
{
    json f = Fixture();
    f["compat"]["level"] = 15;
    StartSim(f);
    Resolver r("127.0.0.1", "");
    testsupport::CaptureFd captured(1);
    ASSERT_EQ(r.ResolverInit(), 0u);
    CLIENT *omega = r.OmegaClient();
    ASSERT_NE(omega, nullptr);
    // The server logs an accept on its own time (no call goes over these connections).
    auto acceptsReach = [&](int n) {
        testsupport::WaitFor([&] { return sim.Accepts("omega") >= n; }, 2000);
        return sim.Accepts("omega");
    };
    EXPECT_EQ(acceptsReach(1), 1);
    EXPECT_EQ(ResolverTesting::ReconnectClient(r, omega), 1);
    int dummy = 0;
    EXPECT_EQ(ResolverTesting::ReconnectClient(r, reinterpret_cast<CLIENT *>(&dummy)), 0);
    std::string out = captured.Text();
    EXPECT_NE(r.OmegaClient(), nullptr);
    EXPECT_EQ(acceptsReach(2), 2);
    EXPECT_NE(out.find("old alpha compat=15\nomega reconnected.\n"), std::string::npos) << out;
}

TEST_F(ResolverServer, AlphaGoneForGoodGivesThreeMessagesAndRpcError)
{
    StartSim(Fixture());
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    sim.Stop();
    LineIDInfo info;
    testsupport::CaptureFd captured(1);
    GdResult rc = r.GetLineIDInfo("7001", 1, LINE_NONE, &info);
    std::string out = captured.Text();
    EXPECT_EQ(rc, GDERR_RPC);
    size_t create = out.find("127.0.0.1: RPC: ");
    size_t call = out.find("a_apply_route_new_r1: RPC: ");
    size_t again = out.find("a_apply_ron: RPC: ");
    EXPECT_NE(create, std::string::npos) << out;
    EXPECT_NE(call, std::string::npos) << out;
    EXPECT_NE(again, std::string::npos) << out;
    EXPECT_LT(create, call);
    EXPECT_LT(call, again);
    // Each of the RPC library's texts is a line of its own.
    EXPECT_EQ(out[call - 1], '\n') << out;
    EXPECT_EQ(out[again - 1], '\n') << out;
    EXPECT_NE(out.find("\nGetLineIDInfo: ApplyRoute failed 0x10000005\n"), std::string::npos) << out;
    EXPECT_EQ(info.userFound, 0);
    EXPECT_STREQ(info.routeId, "");
}

// The user's server goes away after the first reads: the failed call is followed by a failed
// reconnection, so there is no client whose call error could be shown; every key counts as not
// set and the record is marked as read during a failure.
TEST_F(ResolverServer, UserServerGoneLeavesDefaultsWithoutACallError)
{
    StartSim(Fixture());
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    LineIDInfo info;
    testsupport::CaptureFd captured(1);
    EXPECT_EQ(r.GetLineIDInfo("7001", 1, LINE_NONE, &info), 0u);
    sim.Stop();
    UserInfo user{};
    std::snprintf(user.userId, sizeof user.userId, "u1");
    std::snprintf(user.server, sizeof user.server, "127.0.0.1");
    UserConfig config;
    bool readFailed = false;
    GdResult rc = ResolverTesting::GetLDAPQuery(r, user, 1, LINE_NONE, &config, &readFailed);
    std::string out = captured.Text();
    EXPECT_EQ(rc, 0u) << out;
    EXPECT_TRUE(readFailed);
    EXPECT_STREQ(config.ldapHost, "");
    EXPECT_NE(out.find("OpenUserAlpha(127.0.0.1) failed: 0x10000005\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("a_get_usrconf_new_r1"), std::string::npos) << out;
}

TEST_F(ResolverServer, SettingsReadWhileTheServerFailedAreNotCached)
{
    json f = Fixture();
    // The search base read fails once on the transport; the reconnection gets it the second
    // time, so make it fail twice in a row.
    f["faults"] = json::array({{{"prog", "alpha"},
                                {"proc", 144},
                                {"match", {{"key", "GD_LDBAS"}}},
                                {"times", 2},
                                {"close", true}}});
    StartSim(f);
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    LineIDInfo info;
    testsupport::CaptureFd captured(1);
    // What counts here is which settings are read; the results are not looked at.
    (void)r.GetLineIDInfo("6001", 1, LINE_NONE, &info);
    (void)r.GetLineIDInfo("6001", 1, LINE_NONE, &info);
    (void)r.GetLineIDInfo("6001", 1, LINE_NONE, &info);
    std::string out = captured.Text();
    // Read again on the second request, cached from then on.
    EXPECT_EQ(Count("SG_LDE"), 2) << out;
    EXPECT_STREQ(info.user.name, "User One");
    EXPECT_EQ(info.userFound, 1);
}

TEST_F(ResolverServer, SharedRouteIsCachedOnceForBothExtensions)
{
    StartSim(Fixture());
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    LineIDInfo a, b;
    testsupport::CaptureFd captured(1);
    EXPECT_EQ(r.GetLineIDInfo("6002", 1, LINE_NONE, &a), 0u);
    EXPECT_EQ(r.GetLineIDInfo("6003", 1, LINE_NONE, &b), 0u);
    std::string out = captured.Text();
    EXPECT_EQ(Count("SG_LDE"), 1);
    EXPECT_NE(out.find("GetLineIDInfo: routeid R600X found\n"), std::string::npos) << out;
    EXPECT_STREQ(a.user.name, "User Two");
    EXPECT_STREQ(b.user.name, "User Two");
}

// The settings record from the user's properties: defaults, fallbacks on the SG_ keys, and the
// values that count as not set.
TEST_F(ResolverServer, UserSettingsDefaultsAndFallbacks)
{
    struct Case {
        json props;
        int namesWanted;
        const char *ldapHost;
        const char *scheme;
        int port;
        int timeout;
        const char *searchBase;
        const char *givenNameAttr;
        const char *imapHost;
    };
    const Case cases[] = {
        {{{"GD_IMU", "1"}}, 1, "localhost", "ldap", 389, 10, "", "givenName", "localhost"},
        {{{"SG_LDE", "1"}, {"GD_LDTYPE", "LDAPS"}}, 1, "localhost", "LDAPS", 636, 10, "", "givenName", ""},
        {{{"SG_LDE", "2"}, {"GD_LDPRT", "0"}, {"SG_LDP", "1389"}, {"GD_LDTO", "0"}, {"SG_LDTO", "7"}},
         1,
         "localhost",
         "ldap",
         389,
         10,
         "",
         "givenName",
         ""},
        {{{"SG_LDE", "1"},
          {"SG_LDH", "dir.test"},
          {"SG_LDTYPE", "ldaps"},
          {"SG_LDP", "1636"},
          {"SG_LDTO", "7"},
          {"SG_LDUDB", "o=users"}},
         1,
         "dir.test",
         "ldaps",
         1636,
         7,
         "o=users",
         "givenName",
         ""},
        {{{"SG_LDE", "1"}, {"SG_LDMBB", "o=mail"}, {"SG_LDUDB", "o=users"}, {"GD_LDAGN", "cn"}},
         1,
         "localhost",
         "ldap",
         389,
         10,
         "o=mail",
         "cn",
         ""},
        {{{"SG_LDE", "1"}}, 0, "localhost", "ldap", 389, 10, "", "", ""},
        {{{"SG_LDE", "0"}}, 1, "", "", 0, 0, "", "", ""},
        {{{"SG_LDE", "abc"}, {"GD_LDH", "never.read"}}, 1, "", "", 0, 0, "", "", ""},
    };
    json f = Fixture();
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        f["properties"]["c" + std::to_string(i)] = cases[i].props;
    StartSim(f);
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SCOPED_TRACE(i);
        const Case &c = cases[i];
        UserInfo user{};
        std::snprintf(user.userId, sizeof user.userId, "c%zu", i);
        std::snprintf(user.server, sizeof user.server, "127.0.0.1");
        UserConfig config;
        sim.ClearRequests();
        testsupport::CaptureFd captured(1);
        GdResult rc = ResolverTesting::GetLDAPQuery(r, user, c.namesWanted, LINE_NONE, &config);
        std::string out = captured.Text();
        ASSERT_EQ(rc, 0u) << out;
        EXPECT_STREQ(config.ldapHost, c.ldapHost);
        EXPECT_STREQ(config.scheme, c.scheme);
        EXPECT_EQ(config.port, c.port);
        EXPECT_EQ(config.timeout, c.timeout);
        EXPECT_STREQ(config.searchBase, c.searchBase);
        EXPECT_STREQ(config.givenNameAttr, c.givenNameAttr);
        EXPECT_STREQ(config.surnameAttr, c.givenNameAttr[0] ? "sn" : "");
        EXPECT_STREQ(config.imapHost, c.imapHost);
        EXPECT_STREQ(config.imapUserAttr, c.imapHost[0] ? "uid" : "");
        EXPECT_EQ(config.ldr2t, c.ldapHost[0] ? 1 : 0);
        EXPECT_EQ(out.find("GD_IMU or SG_LDE not defined, no IMAP or LDAP!\n") != std::string::npos,
                  c.ldapHost[0] == '\0')
            << out;
        std::vector<std::string> keys;
        for (const auto &call : sim.Calls("alpha", 144))
            keys.push_back(call.args.value("key", ""));
        if (i == 0) {
            // An IMAP user with nothing else set: all 33 keys, in their order.
            const std::vector<std::string> all = {
                "GD_ACPTALL", "GD_IMU",    "GD_LDH",    "SG_LDH",   "GD_LDDL",  "GD_LDTYPE", "SG_LDTYPE",
                "GD_LDCERT",  "SG_LDCERT", "GD_LDPRT",  "SG_LDP",   "GD_LDTO",  "SG_LDTO",   "GD_LDU",
                "SG_LDBNAM",  "GD_LDP",    "SG_LDBPWD", "GD_LDBAS", "SG_LDMBB", "SG_LDUDB",  "GD_LDFIL",
                "GD_LDLNG",   "GD_LDAGN",  "GD_LDASN",  "GD_LDATS", "GD_LDAED", "GD_LDR2T",  "GD_IMH",
                "GD_IMS",     "GD_IMD",    "GD_SMH",    "GD_LDAIU", "SG_MYDOM"};
            EXPECT_EQ(keys, all);
        }
        if (!c.ldapHost[0]) {
            EXPECT_EQ(keys.size(), 3u);  // GD_ACPTALL, GD_IMU, SG_LDE
        }
        // Users of one server share the per-user connection of the first read.
        if (i > 0) {
            EXPECT_EQ(sim.Accepts("alpha"), 0);
        }
    }
}

// Every field of the settings record from its own key, and from the fallback keys where it has
// them; the numbers as each one reads its text.
TEST_F(ResolverServer, UserSettingsEveryFieldFromItsKeys)
{
    const json own = {
        {"GD_ACPTALL", "1"},     {"GD_IMU", "1"},           {"GD_LDH", "h.own"},    {"SG_LDH", "h.sg"},
        {"GD_LDDL", "3"},        {"GD_LDTYPE", "startTLS"}, {"GD_LDCERT", "/ca"},   {"GD_LDPRT", "1389"},
        {"GD_LDTO", "4"},        {"GD_LDU", "cn=u"},        {"GD_LDP", "pw"},       {"GD_LDBAS", "o=b"},
        {"GD_LDFIL", "f=%s"},    {"GD_LDLNG", "lang"},      {"GD_LDAGN", "gn"},     {"GD_LDASN", "sur"},
        {"GD_LDATS", "tsi"},     {"GD_LDAED", "ext"},       {"GD_LDR2T", "0"},      {"GD_IMH", "imap.own"},
        {"GD_IMS", "Sent"},      {"GD_IMD", "Trash"},       {"GD_SMH", "smtp.own"}, {"GD_LDAIU", "mailUid"},
        {"SG_MYDOM", "dom.test"}};
    const json fallback = {{"SG_LDE", "1"},         {"SG_LDTYPE", "ldaps"}, {"SG_LDCERT", "/sgca"},
                           {"SG_LDBNAM", "cn=sg"},  {"SG_LDBPWD", "sgpw"},  {"SG_LDMBB", ""},
                           {"SG_LDUDB", "o=users"}, {"GD_LDDL", "x"},       {"GD_LDR2T", "7"}};
    json f = Fixture();
    f["properties"]["own"] = own;
    f["properties"]["fallback"] = fallback;
    StartSim(f);
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    auto settings = [&](const char *id, UserConfig *config) {
        UserInfo user{};
        std::snprintf(user.userId, sizeof user.userId, "%s", id);
        std::snprintf(user.server, sizeof user.server, "127.0.0.1");
        testsupport::CaptureFd captured(1);
        GdResult rc = ResolverTesting::GetLDAPQuery(r, user, 1, LINE_NONE, config);
        std::string out = captured.Text();
        EXPECT_EQ(rc, 0u) << out;
    };
    // The text fields as expected, then debug level, port, time limit and ldr2t.
    auto check = [](std::initializer_list<std::pair<const char *, const char *>> texts,
                    const std::array<int, 4> &numbers, const UserConfig &c) {
        size_t i = 0;
        for (const auto &t : texts)
            EXPECT_STREQ(t.first, t.second) << i++;
        EXPECT_EQ((std::array<int, 4>{c.ldapDebug, c.port, c.timeout, c.ldr2t}), numbers);
    };
    UserConfig a;
    settings("own", &a);
    check({{a.acceptAll, "1"},
           {a.ldapHost, "h.own"},
           {a.scheme, "startTLS"},
           {a.caCert, "/ca"},
           {a.bindDn, "cn=u"},
           {a.bindPassword, "pw"},
           {a.searchBase, "o=b"},
           {a.filterTemplate, "f=%s"},
           {a.languageAttr, "lang"},
           {a.givenNameAttr, "gn"},
           {a.surnameAttr, "sur"},
           {a.tsiAttr, "tsi"},
           {a.extAttr, "ext"},
           {a.imapHost, "imap.own"},
           {a.imapSendFolder, "Sent"},
           {a.imapDeletedFolder, "Trash"},
           {a.smtpHost, "smtp.own"},
           {a.imapUserAttr, "mailUid"},
           {a.smtpDomain, "dom.test"}},
          {3, 1389, 4, 0}, a);
    UserConfig b;
    settings("fallback", &b);
    check({{b.ldapHost, "localhost"},
           {b.scheme, "ldaps"},
           {b.caCert, "/sgca"},
           {b.bindDn, "cn=sg"},
           {b.bindPassword, "sgpw"},
           {b.searchBase, "o=users"},
           {b.filterTemplate, "facsimileTelephoneNumber=%s"},
           {b.languageAttr, ""},
           {b.tsiAttr, ""},
           {b.imapHost, ""},
           {b.imapUserAttr, ""}},
          {0, 636, 10, 7}, b);
}

TEST_F(ResolverServer, AcceptAllNeedsAValueOtherThanZero)
{
    json f = Fixture();
    const std::pair<const char *, int> cases[] = {{"00", 1}, {"0", 0}, {"", 0}, {"yes", 1}};
    int n = 0;
    for (const auto &c : cases) {
        std::string id = "a" + std::to_string(n++);
        f["routes"].push_back(
            {{"line_id", "60" + id}, {"route_id", "R" + id}, {"server", "127.0.0.1"}, {"user", id}});
        f["properties"][id] = {{"GD_ACPTALL", c.first}};
    }
    StartSim(f);
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        LineIDInfo info;
        testsupport::CaptureFd captured(1);
        GdResult rc = r.GetLineIDInfo(("60a" + std::to_string(n++)).c_str(), 1, LINE_NONE, &info);
        captured.Text();
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(info.acceptAll, c.second);
    }
}

TEST_F(ResolverServer, RouteExtraIsKeptAndFlaggedOnlyWithAValue)
{
    struct Case {
        const char *extra;
        int value;
        int flagged;
    };
    const Case cases[] = {{"X1", 5, 1}, {"X1", 0, 0}, {"", 5, 0}};
    json f = Fixture();
    int n = 0;
    for (const Case &c : cases) {
        f["routes"].push_back({{"line_id", "50" + std::to_string(n++)},
                               {"route_id", "RX"},
                               {"server", "127.0.0.1"},
                               {"user", "p2"},
                               {"route_extra", c.extra},
                               {"route_extra_value", c.value}});
    }
    StartSim(f);
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(n);
        LineIDInfo info;
        testsupport::CaptureFd captured(1);
        GdResult rc = r.GetLineIDInfo(("50" + std::to_string(n++)).c_str(), 1, LINE_NONE, &info);
        captured.Text();
        EXPECT_EQ(rc, 0u);
        EXPECT_STREQ(info.routeExtra, c.extra);
        EXPECT_EQ(info.routeExtraValue, c.value);
        EXPECT_EQ(info.hasRouteExtra, c.flagged);
    }
}

// A cached route's directory session survives a directory restart: the search finds the server
// gone, the query object opens a new session and searches again. While the directory is down
// the lookup fails, the route data stay and the entry stays cached.
TEST_F(ResolverServer, DirectoryRestartIsBridgedByTheQueryObject)
{
    StartSim(Fixture());
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    LineIDInfo info;
    testsupport::CaptureFd captured(1);
    EXPECT_EQ(r.GetLineIDInfo("6001", 1, LINE_NONE, &info), 0u);
    slapd->Stop();
    GdResult down = r.GetLineIDInfo("6001", 1, LINE_NONE, &info);
    const int downFound = info.userFound, downFailed = info.ldapFailed;
    const bool restarted = slapd->Restart();
    GdResult back = r.GetLineIDInfo("6001", 1, LINE_NONE, &info);
    std::string out = captured.Text();
    ASSERT_TRUE(restarted) << slapd->error();
    EXPECT_NE(down, 0u) << out;
    EXPECT_EQ(downFailed, 1);
    EXPECT_EQ(downFound, 1);  // GD_LDR2T not set: the routed user stays found
    EXPECT_NE(out.find("re_open after LDAP_SERVER_DOWN\n"), std::string::npos) << out;
    EXPECT_NE(out.find("GetLineIDInfo: GetLDAPResult() failed: 0x"), std::string::npos) << out;
    EXPECT_EQ(back, 0u) << out;
    EXPECT_STREQ(info.user.name, "User One");
    EXPECT_EQ(info.ldapFailed, 0);
    EXPECT_EQ(Count("SG_LDE"), 1);
}

// Many threads resolving a mix at once: new directory routes raced from several threads, cache
// hits, a route shared by two extensions, plain users read every time (one of them on a second
// alpha server, so the per-user connection changes hands), a group line.
TEST_F(ResolverServer, ManyThreadsResolveAMixAtOnce)
{
    json f = Fixture();
    f["routes"].push_back(
        {{"line_id", "7003"}, {"route_id", "R7003"}, {"server", "localhost"}, {"user", "p3"}});
    f["properties"]["p3"] = {{"GD_ACPTALL", "1"}};
    testsupport::SimServerOptions so;
    so.hosts = {"127.0.0.1", "localhost"};
    StartSim(f, so);
    SetTraceVerbosity(1);
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    struct Expect {
        const char *extension;
        const char *userId;
        const char *name;
        int userFound;
        int isGroup;
    };
    const Expect mix[] = {
        {"6001", "u1", "User One", 1, 0}, {"6002", "u2", "User Two", 1, 0}, {"6003", "u2", "User Two", 1, 0},
        {"7001", "p1", "", 1, 0},         {"7002", "p2", "", 1, 0},         {"7003", "p3", "", 1, 0},
        {"8000", "", "", 0, 1},           {"9999", "", "", 0, 0},
    };
    constexpr int kThreads = 8;
    constexpr int kRounds = 12;
    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const Expect &e = mix[(t + round) % (sizeof mix / sizeof mix[0])];
                LineIDInfo info;
                if (r.GetLineIDInfo(e.extension, 1, LINE_NONE, &info) != 0) {
                    ++failed;
                    continue;
                }
                const int acceptAll =
                    std::strcmp(e.extension, "7001") == 0 || std::strcmp(e.extension, "7003") == 0;
                if (std::strcmp(info.user.userId, e.userId) != 0 ||
                    std::strcmp(info.user.name, e.name) != 0 || info.acceptAll != acceptAll ||
                    info.userFound != e.userFound || info.isGroup != e.isGroup ||
                    std::strcmp(info.lineId, e.extension) != 0) {
                    ++wrong;
                }
            }
        });
    }
    for (auto &th : threads)
        th.join();
    SetTraceVerbosity(2);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    // A directory route is read by at most each thread that raced for it, and then cached.
    EXPECT_GE(Count("SG_LDE", "u1"), 1);
    EXPECT_LE(Count("SG_LDE", "u1"), kThreads);
    EXPECT_LE(Count("SG_LDE", "u2"), kThreads);
    // A plain user is read on every request.
    int plain = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int round = 0; round < kRounds; ++round) {
            plain += std::strcmp(mix[(t + round) % (sizeof mix / sizeof mix[0])].extension, "7001") == 0;
        }
    }
    EXPECT_EQ(Count("SG_LDE", "p1"), plain);
}

// alpha restarts while threads resolve: the shared alpha client and the per-user client are
// replaced under the route lock while other threads wait for it. Results during the restart may
// lack settings (reads that failed count as not set); afterwards every request is right again.
TEST_F(ResolverServer, ThreadsResolveThroughAnAlphaRestart)
{
    StartSim(Fixture());
    Resolver r("127.0.0.1", "");
    ASSERT_EQ(r.ResolverInit(), 0u);
    const char *mix[] = {"6001", "6002", "7001", "7002", "8000"};
    std::atomic<bool> stop{false};
    std::atomic<int> requests{0};
    testsupport::CaptureFd captured(1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; !stop; ++i) {
                LineIDInfo info;
                (void)r.GetLineIDInfo(mix[i % 5], 1, LINE_NONE, &info);
                ++requests;
            }
        });
    }
    EXPECT_TRUE(testsupport::WaitFor([&] { return requests >= 20; }, 60000, 5));
    const bool restarted = sim.Restart();
    const int before = requests;
    EXPECT_TRUE(testsupport::WaitFor([&] { return requests >= before + 40; }, 60000, 5));
    stop = true;
    for (auto &th : threads)
        th.join();
    std::string out = captured.Text();
    ASSERT_TRUE(restarted) << sim.Log();
    EXPECT_NE(out.find("alpha reconnected.\n"), std::string::npos) << out;

    const std::pair<const char *, const char *> expect[] = {
        {"6001", "User One"}, {"6002", "User Two"}, {"7001", ""}};
    for (const auto &e : expect) {
        SCOPED_TRACE(e.first);
        LineIDInfo info;
        testsupport::CaptureFd afterRestart(1);
        GdResult rc = r.GetLineIDInfo(e.first, 1, LINE_NONE, &info);
        std::string after = afterRestart.Text();
        EXPECT_EQ(rc, 0u) << after;
        EXPECT_EQ(info.userFound, 1);
        EXPECT_STREQ(info.user.name, e.second);
    }
}

}  // namespace
