// The gateway configuration against the simulated alpha and omega server: the cached alpha
// client and its pause after failures, the property readers, PutVal and the whole load of
// OpenOmega. The program runs with TELAMORPCOFFSET set and the server registers the moved
// program numbers. 127.0.0.9 is mapped to a closed port: a server that cannot be reached.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "gwtracecapture.h"
#include "mailtrack/gwconfig.h"
#include "mailtrack/gwsetup.h"
#include "os/hostvars.h"
#include "rpcrt/rpcrt.h"
#include "simserver.h"
#include "simsuite.h"
#include "testsupport.h"
#include "trace/trace.h"
#include "trace/trace_params.h"

using nlohmann::json;
using testsupport::SimRequest;
using testsupport::SimServer;
using testsupport::TempDir;

namespace {

const char kDeadHost[] = "127.0.0.9";

size_t Count(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

int32_t gFakeNow = 0;
int32_t FakeNow()
{
    return gFakeNow;
}

std::string HostName()
{
    char name[1024] = "";
    gethostname(name, sizeof name);
    name[sizeof name - 1] = '\0';
    return name;
}

class GatewayConfig : public testsupport::SimServerSuite {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(StartServer("{}")) << server_->Log();
        // Held bound and not listening, so that it stays closed while the tests run.
        static testsupport::ClosedPorts dead;
        deadPort_ = dead.port();
        InitRuntime(std::string(kDeadHost) + ":" + std::to_string(deadPort_));
    }
    void SetUp() override
    {
        ResetAlphaClientCache();
        ResetConfigState();
        SetAlphaClientClock(nullptr);
        setenv("OMEGAHOST", server_->Host().c_str(), 1);
        setenv("ALPHAHOST", server_->Host().c_str(), 1);
        setenv("FAXROOT", root_.path().c_str(), 1);
        unsetenv("CF_SMINST");
        unsetenv("SG_USER");
        Serve(json::object());
    }
    void TearDown() override
    {
        ResetAlphaClientCache();
        ResetConfigState();
        SetAlphaClientClock(nullptr);
    }
    void Serve(const json &fixture)
    {
        ASSERT_TRUE(server_->Reload(fixture.dump())) << server_->Log();
        server_->ClearRequests();
    }
    // The published record pointing at the server, as OpenOmega leaves it.
    static void UseAlpha(const char *host, const char *user = "cfguser")
    {
        snprintf(PublishedConfig()->alphaHost, sizeof PublishedConfig()->alphaHost, "%s", host);
        snprintf(PublishedConfig()->user, sizeof PublishedConfig()->user, "%s", user);
    }
    // One call through the cached client: the server has logged its connection by then.
    static void Sync()
    {
        char out[CONFIG_VALUE_SIZE];
        EXPECT_EQ(FetchVal("nobody", "X", out), EC_GW | 2);
    }
    static std::vector<SimRequest> Calls(const std::string &prog, int proc)
    {
        return server_->Calls(prog, proc);
    }

    static int deadPort_;
    TempDir root_{"gwroot"};
};

int GatewayConfig::deadPort_ = 0;

// ---- the cached alpha client ---------------------------------------------------------------

TEST_F(GatewayConfig, AlphaClientIsCachedAndForcedAnew)
{
    UseAlpha(server_->Host().c_str());
    EXPECT_FALSE(HasAlphaClient());
    CLIENT *first = GetAlphaClient(0);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(HasAlphaClient());
    EXPECT_EQ(GetAlphaClient(0), first);
    Sync();
    EXPECT_EQ(server_->Accepts("alpha"), 1);

    TraceCapture capture;
    EXPECT_NE(GetAlphaClient(1), nullptr);
    EXPECT_NE(capture.Text().find(":D: force reconnect, clnt exists\n"), std::string::npos) << capture.Text();
    Sync();
    EXPECT_EQ(server_->Accepts("alpha"), 2);

    DropAlphaClient();
    EXPECT_FALSE(HasAlphaClient());
    DropAlphaClient();
    GetAlphaClient(1);
    EXPECT_NE(capture.Text().find(":D: force reconnect, clnt is null\n"), std::string::npos)
        << capture.Text();
    EXPECT_TRUE(HasAlphaClient());
}

TEST_F(GatewayConfig, AlphaClientWaitsLongerAfterEachFailure)
{
    UseAlpha(kDeadHost);
    SetAlphaClientClock(FakeNow);
    gFakeNow = 100000;
    TraceCapture capture(0);
    const std::string failure = std::string(":E: alpha at ") + kDeadHost + " unavailable\n";

    // Each failed try makes the next wait 60 seconds longer, up to 900.
    int expectedPause = 0;
    for (int attempt = 1; attempt <= 18; ++attempt) {
        EXPECT_EQ(GetAlphaClient(0), nullptr) << attempt;
        EXPECT_EQ(Count(capture.Text(), failure), static_cast<size_t>(attempt)) << attempt;
        expectedPause = std::min(expectedPause + 60, 900);
        gFakeNow += expectedPause - 1;
        EXPECT_EQ(GetAlphaClient(0), nullptr);
        EXPECT_EQ(GetAlphaClient(1), nullptr);  // a forced call waits as well
        EXPECT_EQ(Count(capture.Text(), failure), static_cast<size_t>(attempt)) << "no try within the pause";
        gFakeNow += 1;
    }
    EXPECT_EQ(expectedPause, 900);

    // One success ends the pause: the next failure waits 60 seconds again.
    UseAlpha(server_->Host().c_str());
    ASSERT_NE(GetAlphaClient(0), nullptr);
    UseAlpha(kDeadHost);
    EXPECT_EQ(GetAlphaClient(1), nullptr);
    size_t tries = Count(capture.Text(), failure);
    gFakeNow += 59;
    EXPECT_EQ(GetAlphaClient(0), nullptr);
    EXPECT_EQ(Count(capture.Text(), failure), tries);
    gFakeNow += 1;
    EXPECT_EQ(GetAlphaClient(0), nullptr);
    EXPECT_EQ(Count(capture.Text(), failure), tries + 1);
}

TEST_F(GatewayConfig, AlphaClientFailureTracesThePublishedHostAsItIs)
{
    struct Case {
        const char *published;
        const char *defaultHost;  // ALPHAHOST
        std::string trace;
    } cases[] = {
        // An empty host tries the default alpha host, and the trace shows the empty host.
        {"", kDeadHost, ":E: alpha at  unavailable\n"},
        {kDeadHost, "127.0.0.1", std::string(":E: alpha at ") + kDeadHost + " unavailable\n"},
    };
    for (const Case &c : cases) {
        ResetAlphaClientCache();
        UseAlpha(c.published);
        setenv("ALPHAHOST", c.defaultHost, 1);
        TraceCapture capture(0);
        EXPECT_EQ(GetAlphaClient(0), nullptr) << c.trace;
        std::string text = capture.Text();
        EXPECT_EQ(Count(text, c.trace), 1u) << text;
        EXPECT_EQ(Count(text, " unavailable\n"), 1u) << text;
    }
}

TEST_F(GatewayConfig, ConfigurationTextsComeThroughWhateverClientIsCached)
{
    Serve({{"texts", {{"$EC_5:", "quota exceeded"}}}});
    EXPECT_STREQ(ExtErrorText(EC_CF | 5).Text(), "CF5: $EC_5:");  // nothing registered yet

    // The first call registers the cache even when it fails.
    UseAlpha(kDeadHost);
    SetAlphaClientClock(FakeNow);
    gFakeNow = 1000;
    {
        TraceCapture capture(0);
        EXPECT_EQ(GetAlphaClient(0), nullptr);
    }
    EXPECT_STREQ(ExtErrorText(EC_CF | 5).Text(), "CF5: $EC_5:");
    gFakeNow += 60;
    UseAlpha(server_->Host().c_str());
    ASSERT_NE(GetAlphaClient(0), nullptr);
    EXPECT_STREQ(ExtErrorText(EC_CF | 5).Text(), "CF5: quota exceeded");
    EXPECT_EQ(Calls("alpha", 73).size(), 1u);
    DropAlphaClient();
    EXPECT_STREQ(ExtErrorText(EC_CF | 5).Text(), "CF5: $EC_5:");
}

TEST_F(GatewayConfig, EmptyAlphaHostTakesTheDefault)
{
    UseAlpha("");
    EXPECT_NE(GetAlphaClient(0), nullptr);  // ALPHAHOST names the server
    Sync();
    EXPECT_EQ(server_->Accepts("alpha"), 1);
}

// ---- reading properties --------------------------------------------------------------------

TEST_F(GatewayConfig, FetchValContinuesShortKeys)
{
    std::string part(80, 'p');
    json props = {
        {"SG_TXTFAX", "one"},        {"SG_TXTFAX0", "two"}, {"SG_TXTFAX1", "three"}, {"SG_RRTO", "a"},
        {"SG_RRTO1", "after a gap"}, {"SG_ADMUSER", "adm"}, {"SG_PIPE", part},
    };
    for (int i = 0; i < 10; ++i)
        props["SG_PIPE" + std::to_string(i)] = std::string(80, static_cast<char>('0' + i));
    Serve({{"properties", {{"cfguser", props}}}});
    UseAlpha(server_->Host().c_str());

    char out[CONFIG_VALUE_SIZE];
    EXPECT_EQ(FetchVal("cfguser", "SG_TXTFAX", out), 0u);
    EXPECT_STREQ(out, "onetwothree");
    std::vector<SimRequest> calls = Calls("alpha", 105);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1].args["key"], "SG_TXTFAX0");
    EXPECT_EQ(calls[2].args["key"], "SG_TXTFAX1");
    EXPECT_EQ(calls[3].args["key"], "SG_TXTFAX2");  // empty: the end

    server_->ClearRequests();
    EXPECT_EQ(FetchVal("cfguser", "SG_RRTO", out), 0u);
    EXPECT_STREQ(out, "a");  // an empty key0 ends the value
    EXPECT_EQ(Calls("alpha", 105).size(), 2u);

    server_->ClearRequests();
    EXPECT_EQ(FetchVal("cfguser", "SG_ADMUSER", out), 0u);
    EXPECT_STREQ(out, "adm");
    EXPECT_EQ(Calls("alpha", 105).size(), 1u);  // a key of 10 characters is never continued

    server_->ClearRequests();
    EXPECT_EQ(FetchVal("cfguser", "SG_PIPE", out), 0u);
    std::string whole = part;
    for (int i = 0; i < 10; ++i)
        whole += std::string(80, static_cast<char>('0' + i));
    EXPECT_EQ(std::string(out), whole);
    EXPECT_EQ(Calls("alpha", 105).size(), 11u);

    server_->ClearRequests();
    EXPECT_EQ(FetchVal("cfguser", "SG_NOTSET", out), EC_GW | 2);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Calls("alpha", 105).size(), 1u);

    // User and key are cut to 10 characters.
    server_->ClearRequests();
    EXPECT_EQ(FetchVal("cfguserXYZW", "SG_ADMUSERXX", out), EC_GW | 2);
    calls = Calls("alpha", 105);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["user"], "cfguserXYZ");
    EXPECT_EQ(calls[0].args["key"], "SG_ADMUSER");
}

TEST_F(GatewayConfig, GetValAndGetStrWithDefaults)
{
    Serve({{"properties",
            {{"cfguser",
              {{"SG_HEAD", "0123456789"},
               {"SG_NUM", " -12abc"},
               {"SG_WORD", "abc"},
               {"SG_BIG", "2147483648"},
               {"SG_NET", "VOICE"},
               {"SG_ODD", "telefax"}}}}}});
    UseAlpha(server_->Host().c_str());

    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetVal("cfguser", "SG_HEAD", "dflt", buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "0123456");
    EXPECT_EQ(GetVal("cfguser", "SG_NONE", "dflt", buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(buffer[5], '\0');
    EXPECT_EQ(GetVal("cfguser", "SG_NONE", "much too long", buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "much to");

    const struct {
        const char *key;
        int32_t defaultValue, before, expected;
    } ints[] = {
        {"SG_NUM", 5, 0, -12},  {"SG_NONE", 5, 0, 5},  {"SG_NONE", -3, 0, -3},
        {"SG_WORD", 5, 77, 77}, {"SG_BIG", 5, 77, 77},
    };
    for (const auto &c : ints) {
        int32_t value = c.before;
        EXPECT_EQ(GetStr("cfguser", c.key, c.defaultValue, &value), 0u) << c.key;
        EXPECT_EQ(value, c.expected) << c.key;
        long wide = c.before;
        EXPECT_EQ(GetStr("cfguser", c.key, static_cast<long>(c.defaultValue), &wide), 0u) << c.key;
        EXPECT_EQ(wide, c.expected) << c.key;
    }
    MediaType media = MEDIA_SMS;
    EXPECT_EQ(GetStr("cfguser", "SG_NET", "fax", &media), 0u);
    EXPECT_EQ(media, MEDIA_VOICE);
    EXPECT_EQ(GetStr("cfguser", "SG_ODD", "voice", &media), 0u);
    EXPECT_EQ(media, MEDIA_FAX);
    EXPECT_EQ(GetStr("cfguser", "SG_NONE", "video", &media), 0u);
    EXPECT_EQ(media, MEDIA_VIDEO);
}

TEST_F(GatewayConfig, ReadsReconnectOnceThenFail)
{
    Serve({{"properties", {{"cfguser", {{"SG_A", "value"}}}}},
           {"faults", {{{"prog", "alpha"}, {"proc", 105}, {"times", 1}, {"close", true}}}}});
    UseAlpha(server_->Host().c_str());
    char out[CONFIG_VALUE_SIZE];
    TraceCapture capture(0);
    EXPECT_EQ(FetchVal("cfguser", "SG_A", out), 0u);  // one lost answer: reconnected
    EXPECT_STREQ(out, "value");
    EXPECT_EQ(server_->Accepts("alpha"), 2);
    EXPECT_EQ(capture.Text(), "");

    Serve({{"properties", {{"cfguser", {{"SG_A", "value"}}}}},
           {"faults", {{{"prog", "alpha"}, {"proc", 105}, {"times", -1}, {"close", true}}}}});
    int32_t number = 41;
    EXPECT_EQ(GetStr("cfguser", "SG_A", 1, &number), EC_GW | 3);
    EXPECT_EQ(number, 41);
    std::string text = capture.Text();
    EXPECT_NE(text.find(":E: a_get_usrconf_1: RPC: "), std::string::npos) << text;
    EXPECT_NE(text.find(":E: GetVal() failed: GW3: "), std::string::npos) << text;
    EXPECT_NE(text.find(":E: GetStr() failed: GW3: "), std::string::npos) << text;

    // A continuation that gets no answer fails the whole read: no half value.
    Serve({{"properties", {{"cfguser", {{"SG_A", "head"}, {"SG_A0", "tail"}}}}},
           {"faults", {{{"prog", "alpha"}, {"proc", 105}, {"match", {{"key", "SG_A0"}}}, {"close", true}}}}});
    char part[CONFIG_VALUE_SIZE] = "keep";
    EXPECT_EQ(GetVal("cfguser", "SG_A", "d", part, sizeof part), EC_GW | 3);
    EXPECT_STREQ(part, "keep");
    std::vector<SimRequest> tries = Calls("alpha", 105);
    ASSERT_EQ(tries.size(), 3u);  // the key, then key0 twice: once more after the reconnect
    EXPECT_EQ(tries[1].args["key"], "SG_A0");
    EXPECT_EQ(tries[2].args["key"], "SG_A0");

    // No server at all.
    ResetAlphaClientCache();
    UseAlpha(kDeadHost);
    char buffer[16] = "keep";
    EXPECT_EQ(GetVal("cfguser", "SG_A", "d", buffer, sizeof buffer), EC_GW | 3);
    EXPECT_STREQ(buffer, "keep");
    EXPECT_NE(capture.Text().find(":E: a_get_usrconf_1 : alpha unavailable\n"), std::string::npos)
        << capture.Text();
}

// ---- PutVal --------------------------------------------------------------------------------

TEST_F(GatewayConfig, PutValStoresOnAlphaAndInTheWorkRecord)
{
    UseAlpha(server_->Host().c_str());
    EXPECT_EQ(PutVal("sg_tsi", "4711"), 0u);
    EXPECT_STREQ(WorkConfig()->TSI, "4711");
    EXPECT_STREQ(PublishedConfig()->TSI, "");  // published at the next OpenOmega
    EXPECT_EQ(PutVal("LDP", "636"), 0u);       // forced: not user-settable, still set
    EXPECT_EQ(WorkConfig()->LDP, 636);
    std::string longValue(100, 'v');
    EXPECT_EQ(PutVal("SG_HEADLINE", longValue.c_str()), 0u);
    EXPECT_EQ(std::string(WorkConfig()->HEADLINE), longValue);  // the field holds 128

    TraceCapture capture(0);
    EXPECT_EQ(PutVal("SG_NOPE", "1"), EC_GW | 0);
    EXPECT_NE(capture.Text().find(":E: PutConf: invalid Key NOPE\n"), std::string::npos) << capture.Text();

    std::vector<SimRequest> calls = Calls("alpha", 106);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].args["user"], "cfguser");
    EXPECT_EQ(calls[0].args["key"], "sg_tsi");
    EXPECT_EQ(calls[0].args["value"], "4711");
    EXPECT_EQ(calls[2].args["value"], std::string(80, 'v'));
    EXPECT_EQ(calls[3].args["key"], "SG_NOPE");  // stored before the key was looked at

    // What was stored on alpha reads back under the same spelling, the key cut to 10.
    char back[100];
    EXPECT_EQ(GetVal("cfguser", "sg_tsi", "d", back, sizeof back), 0u);
    EXPECT_STREQ(back, "4711");
    EXPECT_EQ(GetVal("cfguser", "SG_HEADLIN", "d", back, sizeof back), 0u);
    EXPECT_EQ(std::string(back), std::string(80, 'v'));

    ResetAlphaClientCache();
    UseAlpha(kDeadHost);
    EXPECT_EQ(PutVal("SG_TSI", "99"), EC_GW | 3);
    EXPECT_STREQ(WorkConfig()->TSI, "4711");
    EXPECT_NE(capture.Text().find(":E: a_put_usrconf_1 : alpha unavailable\n"), std::string::npos)
        << capture.Text();
}

// ---- OpenOmega -----------------------------------------------------------------------------

json OmegaEntries(const std::string &host)
{
    return {{"SMTPnative", "cfguser@" + host}, {"SMTP2", "inst2@" + host}, {"SMTP3", "nohost"}};
}

TEST_F(GatewayConfig, OpenOmegaLoadsSettingsAndDefaults)
{
    Serve({{"config", OmegaEntries(server_->Host())},
           {"properties",
            {{"cfguser",
              {{"SG_DRFROM", "from"},
               {"SG_ADMUSER", "admin"},
               {"SG_TXTFAX", "head-"},
               {"SG_TXTFAX0", "middle-"},
               {"SG_TXTFAX1", "tail"},
               {"SG_LDTYPE", "LDAPS"},
               {"SG_LDUDB", "o=base"},
               {"SG_LDUDS", "1"},
               {"SG_GWMAXP", "many"},
               {"SG_DEFNET", "Sms"},
               {"TSI", "+49 1"},
               {"SG_TSI", "wrong"},
               {"SG_GWNO", "0"},
               {"SG_GWNI", "-4"},
               {"SG_AGET", "123"},
               {"SG_LDE", "0"}}}}}});
    TraceCapture capture;
    ASSERT_EQ(OpenOmega(), 0u) << capture.Text();
    const ConfigRecord &c = *PublishedConfig();
    EXPECT_EQ(memcmp(&c, WorkConfig(), sizeof c), 0);

    EXPECT_EQ(std::string(c.directory), root_.path() + "/gateway/smtp");
    EXPECT_EQ(std::string(c.alphaHost), server_->Host());
    EXPECT_STREQ(c.user, "cfguser");
    EXPECT_STREQ(c.ADMUSER, "admin");  // DRFROM read first, then ADMUSER
    EXPECT_STREQ(c.ADMTEXT, "");
    EXPECT_STREQ(c.TXTFAX, "head-middle-tail");
    EXPECT_EQ(c.LDP, 636);
    EXPECT_STREQ(c.LDALB, "o=base");
    EXPECT_STREQ(c.LDMBB, "o=base");
    EXPECT_EQ(c.LDALS, 1);
    EXPECT_EQ(c.LDMBS, 1);
    EXPECT_EQ(c.GWMAXP, 0);  // a property without a number keeps the cleared field
    EXPECT_EQ(c.DEFNET, MEDIA_SMS);
    EXPECT_STREQ(c.TSI, "+49 1");  // read without the prefix
    EXPECT_EQ(c.GWNO, 1);
    EXPECT_EQ(c.GWNI, 1);
    EXPECT_EQ(c.GWNR, 1);
    EXPECT_EQ(c.AGET, 123);
    EXPECT_EQ(c.CPI_CE, 0);  // the LDE value read
    EXPECT_EQ(c.TSI_CE, 0);

    // Defaults of properties that are not set.
    EXPECT_STREQ(c.GWIATT, "\\.att$");
    EXPECT_EQ(std::string(c.GWHTR), std::string(GetLocalHost()) + "/scripts/mailtrack");
    EXPECT_STREQ(c.LDH, GetLocalHost());
    EXPECT_EQ(std::string(c.DMH), HostName());
    EXPECT_EQ(std::string(c.MYDOM), HostName());
    EXPECT_STREQ(c.DMSPA, "0.0.0.0");
    EXPECT_EQ(c.DMP3P, 110);
    EXPECT_EQ(c.DMP3TO, 3600);
    EXPECT_EQ(c.TCPTMO, 120);
    EXPECT_STREQ(c.LDUDF, "rfc822Mailbox=%0");
    EXPECT_STREQ(c.LDALF, "rfc822Mailbox=%0");
    EXPECT_STREQ(c.LDMBF, "(|(faxLineId=%1%0)(facsimileTelephoneNumber=%1%0))");
    EXPECT_STREQ(c.LDUDA,
                 "givenName,sn,facsimileTelephoneNumber,faxLineId,faxHeadLine,faxCoverId,faxPinCode,faxCpi,"
                 "Extension-Attribute-10");
    EXPECT_STREQ(c.LDUDD, "%0 %1");
    EXPECT_STREQ(c.LDMBA, "rfc822Mailbox");
    EXPECT_STREQ(c.HEADFMT, "%s");
    EXPECT_EQ(c.GWRTRY, 60);
    EXPECT_EQ(c.GWGIVUP, 4);
    EXPECT_EQ(c.GWSPP, 25);
    EXPECT_EQ(c.CVTWIN, 1);
    EXPECT_EQ(c.DMMAXS, 1024);
    EXPECT_EQ(c.AGENR, 10);
    EXPECT_EQ(c.AGEM, 172800);
    EXPECT_EQ(c.DMNU, 0);
    EXPECT_EQ(c.GWDL, GetTraceLevel());
    EXPECT_EQ(c.DMDL, GetTraceLevel());
    EXPECT_EQ(c.TRCNUM, GetTraceMinfiles());
    EXPECT_EQ(c.TRCDAYS, GetTraceMinage());
    EXPECT_EQ(c.TRCSIZE, static_cast<int32_t>(GetTraceFilesize() / 1024));
    EXPECT_STREQ(c.TRCMODE, GetTraceRollmodeName());
    EXPECT_STREQ(c.TRSTAMP, GetTraceStamptypeName());

    std::string text = capture.Text();
    EXPECT_NE(text.find(":C: getting configuration data...\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":D: Host   = " + server_->Host() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":D: User   = cfguser\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":D: MyName = " + HostName() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":W: SG_GWNO fixed to 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(":W: SG_GWNI fixed to 1\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("SG_GWNR fixed"), std::string::npos) << text;  // its default is 1

    // The omega entry asked, and the reads in order, all for the configuration user.
    std::vector<SimRequest> omega = Calls("omega", 49);
    ASSERT_EQ(omega.size(), 1u);
    EXPECT_EQ(omega[0].args.dump().find("SMTPnative") != std::string::npos, true) << omega[0].args.dump();
    std::vector<SimRequest> reads = Calls("alpha", 105);
    ASSERT_GE(reads.size(), 107u);
    EXPECT_EQ(reads[0].args["key"], "SG_DRFROM");
    EXPECT_EQ(reads[1].args["key"], "SG_DRFROM0");
    EXPECT_EQ(reads[2].args["key"], "SG_DRFTXT");
    EXPECT_EQ(reads.back().args["key"], "SG_SMSLEN");
    for (const auto &r : reads)
        EXPECT_EQ(r.args["user"], "cfguser");

    // Loaded: no remote call, the work record published again with PutVal's change.
    server_->ClearRequests();
    ASSERT_EQ(PutVal("SG_OUTPREF", "9"), 0u);
    EXPECT_STREQ(PublishedConfig()->OUTPREF, "");
    EXPECT_EQ(OpenOmega(), 0u);
    EXPECT_STREQ(PublishedConfig()->OUTPREF, "9");
    EXPECT_EQ(Calls("alpha", 105).size(), 0u);
    EXPECT_EQ(Calls("omega", 49).size(), 0u);
    EXPECT_EQ(server_->Accepts("omega"), 0);
}

TEST_F(GatewayConfig, OpenOmegaWithEveryPropertySetMakes193Calls)
{
    json props = json::object();
    for (int i = 0; i < ConfigKeyCount; ++i) {
        const ConfigKey &e = ConfigKeyTable[i];
        if (e.readPlace == 0)
            continue;
        std::string name = e.noPrefix ? e.key : std::string("SG_") + e.key;
        props[name] = e.type == FIELD_TEXT ? "t" : e.type == FIELD_MEDIA ? "voice" : "7";
    }
    Serve({{"config", OmegaEntries(server_->Host())}, {"properties", {{"cfguser", props}}}});
    ASSERT_EQ(OpenOmega(), 0u);
    EXPECT_EQ(Calls("alpha", 105).size(), 193u);
    const ConfigRecord &c = *PublishedConfig();
    EXPECT_STREQ(c.ADMUSER, "t");
    EXPECT_STREQ(c.HEADLINE, "t");
    EXPECT_EQ(c.DEFNET, MEDIA_VOICE);
    EXPECT_EQ(c.SMSLEN, 7);
    // SAP above 0: no directory, DMNU set, and the minimum age raised to two months.
    EXPECT_EQ(c.SAP, 7);
    EXPECT_EQ(c.LDE, 0);
    EXPECT_EQ(c.DMNU, 1);
    EXPECT_EQ(c.AGEM, 4838400);
}

TEST_F(GatewayConfig, OpenOmegaFixUpsOfTheAge)
{
    Serve({{"config", OmegaEntries(server_->Host())},
           {"properties", {{"cfguser", {{"SG_SAP", "1"}, {"SG_AGEM", "5000000"}}}}}});
    TraceCapture capture;
    ASSERT_EQ(OpenOmega(), 0u);
    EXPECT_EQ(PublishedConfig()->LDE, 0);
    EXPECT_EQ(PublishedConfig()->CPI_CE, 1);  // read before the fix-up
    EXPECT_EQ(PublishedConfig()->DMNU, 1);
    EXPECT_EQ(PublishedConfig()->AGEM, 5000000);
    EXPECT_EQ(capture.Text().find("two months"), std::string::npos);

    ResetConfigState();
    ResetAlphaClientCache();
    Serve({{"config", OmegaEntries(server_->Host())}, {"properties", {{"cfguser", {{"SG_DMNU", "2"}}}}}});
    ASSERT_EQ(OpenOmega(), 0u);
    EXPECT_EQ(PublishedConfig()->LDE, 1);
    EXPECT_EQ(PublishedConfig()->AGEM, 4838400);
    EXPECT_NE(capture.Text().find(":D: minimum age set to two months.\n"), std::string::npos)
        << capture.Text();
}

TEST_F(GatewayConfig, OpenOmegaInstances)
{
    const struct {
        const char *instance;
        ErrorCode result;
        const char *directory;  // below FAXROOT; null: not made
        const char *user;
        const char *omegaKey;  // the entry asked; null: none
        const char *trace;
        bool loadsAgain;  // the loaded flag stayed 0
    } cases[] = {
        {"SMTP2", 0, "/gateway/smtp/smdm2", "inst2", "SMTP2", nullptr, false},
        {"SMTP 2trailing", 0, "/gateway/smtp/smdm2", "inst2", "SMTP2", nullptr, false},
        {"SMTP-1", 0, "/gateway/smtp/smdm-1", "cfguser", "SMTPnative", nullptr, false},
        {"smtp2", EC_GW | 0, nullptr, "", nullptr, ":E: invalid environment CF_SMINST=smtp2\n", true},
        {"SMTPx", EC_GW | 0, nullptr, "", nullptr, ":E: invalid environment CF_SMINST=SMTPx\n", true},
        {"SMTP7", EC_GW | 0, "/gateway/smtp/smdm7", "", "SMTP7", ":E: smtp_o_config(SMTP7) invalid\n", true},
        {"SMTP3", EC_GW | 0, "/gateway/smtp/smdm3", "", "SMTP3", ":E: smtp_o_config(SMTP3) invalid\n", true},
    };
    for (const auto &c : cases) {
        ResetConfigState();
        ResetAlphaClientCache();
        setenv("CF_SMINST", c.instance, 1);
        Serve({{"config", OmegaEntries(server_->Host())}});
        TraceCapture capture(0);
        EXPECT_EQ(OpenOmega(), c.result) << c.instance;
        const ConfigRecord &r = *PublishedConfig();
        EXPECT_EQ(std::string(r.directory), c.directory ? root_.path() + c.directory : "") << c.instance;
        EXPECT_STREQ(r.user, c.user) << c.instance;
        std::vector<SimRequest> omega = Calls("omega", 49);
        ASSERT_EQ(omega.size(), c.omegaKey ? 1u : 0u) << c.instance;
        if (c.omegaKey != nullptr) {
            EXPECT_NE(omega[0].args.dump().find(std::string("\"") + c.omegaKey + "\""), std::string::npos)
                << omega[0].args.dump();
        }
        if (c.trace != nullptr) {
            EXPECT_NE(capture.Text().find(c.trace), std::string::npos) << capture.Text();
        }
        // A bad or unconfigured instance is tried again; a loaded one is not.
        server_->ClearRequests();
        EXPECT_EQ(OpenOmega(), c.result) << c.instance;
        EXPECT_EQ(Calls("omega", 49).size(), c.loadsAgain && c.omegaKey ? 1u : 0u) << c.instance;
        if (c.omegaKey != nullptr) {
            // Logged once the entry was asked for over it.
            EXPECT_EQ(server_->Accepts("omega") > 0, c.loadsAgain) << c.instance;
        }
    }
}

TEST_F(GatewayConfig, OpenOmegaWithoutAnEntryTakesTheEnvironment)
{
    Serve({{"properties", {{"envuser", {{"SG_ADMUSER", "who"}}}, {"smtpgw", {{"SG_ADMUSER", "gw"}}}}}});
    setenv("SG_USER", "envuser", 1);
    ASSERT_EQ(OpenOmega(), 0u);
    EXPECT_STREQ(PublishedConfig()->user, "envuser");
    EXPECT_EQ(std::string(PublishedConfig()->alphaHost), server_->Host());
    EXPECT_STREQ(PublishedConfig()->ADMUSER, "who");

    ResetConfigState();
    unsetenv("SG_USER");
    ASSERT_EQ(OpenOmega(), 0u);
    EXPECT_STREQ(PublishedConfig()->user, "smtpgw");
    EXPECT_STREQ(PublishedConfig()->ADMUSER, "gw");
}

TEST_F(GatewayConfig, OpenOmegaFailures)
{
    const ConfigRecord zero{};

    // No FAXROOT: nothing is asked, and the next call looks again.
    unsetenv("FAXROOT");
    EXPECT_EQ(OpenOmega(), EC_GW | 6);
    EXPECT_EQ(memcmp(PublishedConfig(), &zero, sizeof zero), 0);
    EXPECT_EQ(OpenOmega(), EC_GW | 6);
    EXPECT_EQ(server_->Accepts(), 0);
    setenv("FAXROOT", root_.path().c_str(), 1);

    // No omega: the failure is reported again by later calls, which ask nobody.
    ResetConfigState();
    setenv("OMEGAHOST", kDeadHost, 1);
    {
        TraceCapture capture(0);
        EXPECT_EQ(OpenOmega(), EC_GW | 3);
        EXPECT_NE(capture.Text().find(std::string(":E: OpenOmega() failed: ") + kDeadHost + ": RPC: "),
                  std::string::npos)
            << capture.Text();
    }
    EXPECT_EQ(memcmp(PublishedConfig(), &zero, sizeof zero), 0);
    setenv("OMEGAHOST", server_->Host().c_str(), 1);
    EXPECT_EQ(OpenOmega(), EC_GW | 3);
    EXPECT_EQ(server_->Accepts(), 0);

    // No alpha: the instance is known, the settings are not.
    ResetConfigState();
    Serve({{"config", {{"SMTPnative", std::string("cfguser@") + kDeadHost}}}});
    {
        TraceCapture capture(0);
        EXPECT_EQ(OpenOmega(), EC_GW | 3);
        EXPECT_NE(capture.Text().find(std::string(":E: alpha at ") + kDeadHost + " unavailable\n"),
                  std::string::npos)
            << capture.Text();
    }
    EXPECT_STREQ(PublishedConfig()->user, "cfguser");
    EXPECT_EQ(OpenOmega(), EC_GW | 3);

    // A read that fails ends the load with its code; what was read before is published.
    ResetConfigState();
    ResetAlphaClientCache();
    Serve({{"config", OmegaEntries(server_->Host())},
           {"properties", {{"cfguser", {{"SG_ADMUSER", "admin"}}}}},
           {"faults",
            {{{"prog", "alpha"}, {"proc", 105}, {"match", {{"key", "SG_MAHOST"}}}, {"close", true}}}}});
    {
        TraceCapture capture(0);
        EXPECT_EQ(OpenOmega(), EC_GW | 3);
        EXPECT_NE(capture.Text().find(":E: GetVal() failed: GW3: "), std::string::npos) << capture.Text();
    }
    EXPECT_STREQ(PublishedConfig()->ADMUSER, "admin");
    EXPECT_EQ(PublishedConfig()->TCPTMO, 0);  // read after the failure: never
    std::vector<SimRequest> reads = Calls("alpha", 105);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back().args["key"], "SG_MAHOST");
}

}  // namespace
