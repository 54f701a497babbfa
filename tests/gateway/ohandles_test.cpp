// Server handles and omega call wrappers against the simulated alpha/omega server. The program
// runs with TELAMORPCOFFSET set and the server registers the moved program numbers. The port
// map also names a host whose ports are closed, for servers that cannot be reached.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mailtrack/ohandles.h"
#include "os/hostvars.h"
#include "simserver.h"
#include "simsuite.h"
#include "testsupport.h"
#include "trace/timetext.h"

using testsupport::SimRequest;
using testsupport::SimServer;

namespace {

// Closed ports: the map names this host, nothing listens there.
const char kDeadHost[] = "127.0.0.3";

const char kFixture[] = R"({
  "omega_compat": {"valid": 1, "level": 15},
  "config": {"SMTPnative": "gwuser@alpha.example", "SMTP1": "averylongusername@h@st",
             "SMTP2": "nohost", "SMTP5": "u@abcdefghijklmnopqrstuvwxyz0123456789ABCDEF",
             "FULL": "abc", "DELME": "x", "CLOSE": "x", "SMTP4": "x@y"},
  "routes": [
    {"line_id": "4711", "route_id": "R1", "route_text": "first", "server": "srv1", "user": "jdoe",
     "group": "grp", "route_extra": "extra", "route_extra_value": 17},
    {"line_id": "4712", "route_id": "R2", "ec": 7},
    {"line_id": "4713", "route_id": "R3", "reply_version": 1}
  ],
  "tab7": [{"id": "T7A", "f2": "seven", "f3": 3, "f4": 4, "f5": 5, "f6": 6},
           {"id": "T7D"}],
  "tab11": [{"id": "T11A", "f2": "eleven", "f5": 5, "f18": "last"}, {"id": "T11D"}],
  "tab102": [{"id": "V0", "version": 0, "f2": "zero", "f19": "nineteen", "f33": 33},
             {"id": "V1", "version": 1, "f34": "one"},
             {"id": "V0D"}],
  "faults": [
    {"prog": "omega", "proc": 7, "match": {"id": "REFUSE"}, "ec": 0},
    {"prog": "omega", "proc": 11, "match": {"id": "REFUSE"}, "ec": 0},
    {"prog": "omega", "proc": 48, "match": {"key": "REFUSE"}, "ec": 0},
    {"prog": "omega", "proc": 49, "match": {"id": "CLOSE"}, "close": true},
    {"prog": "omega", "proc": 49, "match": {"id": "SMTP4"}, "close": true},
    {"prog": "omega", "proc": 49, "match": {"id": "FULL"}, "unterminated": true, "fill": "x"},
    {"prog": "omega", "proc": 91, "match": {"route_id": "REFUSE"}, "ec": 8},
    {"prog": "omega", "proc": 102, "match": {"id": "REFUSE"}, "ec": 9},
    {"prog": "omega", "proc": 110, "match": {"id": "X110"}, "ec": 5}
  ]
})";

o_tab7_rec Tab7(const char *id)
{
    o_tab7_rec r{};
    BoundedCopy(r.id, id, 10);
    BoundedCopy(r.f2, "put", 30);
    r.f3 = 30;
    r.f6 = -6;
    return r;
}

o_tab11_rec Tab11(const char *id)
{
    o_tab11_rec r{};
    BoundedCopy(r.id, id, 10);
    BoundedCopy(r.f18, "put eleven", 80);
    return r;
}

o_tab102_rec Tab102(const char *id, int version)
{
    o_tab102_rec r{};
    r.vers = version;
    BoundedCopy(r.o_tab102_rec_u.v0.id, id, 10);
    BoundedCopy(r.o_tab102_rec_u.v0.f2, "put 102", 35);
    r.o_tab102_rec_u.v0.f33 = 133;
    return r;
}

class OmegaHandles : public testsupport::SimServerSuite {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(StartServer(kFixture)) << server_->Log();
        // Held bound and not listening, so that they stay closed while the tests run.
        static testsupport::ClosedPorts closed(6);
        int dead = closed.port();
        setenv("OMEGAHOST", server_->Host().c_str(), 1);
        setenv("ALPHAHOST", server_->Host().c_str(), 1);
        unsetenv("RPCTRANSPORT");
        InitRuntime(std::string(kDeadHost) + ":" + std::to_string(dead));
    }
    void SetUp() override
    {
        ASSERT_TRUE(server_->Reload(kFixture));
        server_->ClearRequests();
    }
    void TearDown() override
    {
        // No module client outlives a test.
        alpha_destroy(nullptr);
        omega_destroy(nullptr);
        setenv("OMEGAHOST", server_->Host().c_str(), 1);
        setenv("ALPHAHOST", server_->Host().c_str(), 1);
        unsetenv("RPCTRANSPORT");
        SetDebugLevel(0);
    }
    static std::vector<SimRequest> Omega(int proc = -1) { return server_->Calls("omega", proc); }
    // The server logs a connection once its loop takes it, maybe after the client has connected.
    static bool WaitAccepts(const std::string &prog, int count)
    {
        return testsupport::WaitFor([&] { return server_->Accepts(prog) >= count; }, 5000, 10);
    }
};

// A client value that no creator returns, to see that a slot is left alone.
CLIENT *const kUntouched = reinterpret_cast<CLIENT *>(0x5a5a);

// ---- client handles -----------------------------------------------------------------------

TEST_F(OmegaHandles, AlphaCreateIntoSlotOrModule)
{
    CLIENT *slot = nullptr;
    EXPECT_EQ(alpha_create(&slot, ""), 0);  // the default alpha host
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(alpha_destroy(nullptr), 2) << "the module client was not touched";
    EXPECT_EQ(alpha_destroy(slot), 0);

    // The count is taken once the server has logged the connection just made.
    ASSERT_TRUE(WaitAccepts("alpha", 1));
    int accepts = server_->Accepts("alpha");
    EXPECT_EQ(alpha_create(nullptr, server_->Host().c_str()), 24);
    EXPECT_EQ(server_->Accepts("alpha"), accepts) << "nothing was created";
    EXPECT_EQ(alpha_destroy(nullptr), 2);

    slot = kUntouched;
    EXPECT_EQ(alpha_create(&slot, kDeadHost), 2);
    EXPECT_EQ(slot, kUntouched);

    EXPECT_EQ(alpha_create(nullptr, nullptr), 0);
    EXPECT_EQ(alpha_destroy(nullptr), 0);
    EXPECT_EQ(alpha_destroy(nullptr), 2);
}

TEST_F(OmegaHandles, AlphaGetUsesOwnOrModuleClient)
{
    CLIENT *own = nullptr;
    ASSERT_EQ(alpha_create(&own, server_->Host().c_str()), 0);
    CLIENT *var = own;
    EXPECT_EQ(alpha_get(&var), 0);
    EXPECT_EQ(var, own);
    EXPECT_EQ(alpha_destroy(nullptr), 2) << "no module client was made";

    CLIENT *a = nullptr, *b = nullptr;
    EXPECT_EQ(alpha_get(&a), 0);
    EXPECT_EQ(alpha_get(&b), 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b) << "both receive the module client";
    alpha_forget(own);  // not the module client: no effect
    EXPECT_EQ(alpha_destroy(nullptr), 0);
    alpha_destroy(own);

    setenv("ALPHAHOST", kDeadHost, 1);
    CLIENT *c = nullptr;
    EXPECT_EQ(alpha_get(&c), 2);
    EXPECT_EQ(c, nullptr);
}

TEST_F(OmegaHandles, DestroyingTheModuleClientByNameClearsIt)
{
    CLIENT *a = nullptr;
    ASSERT_EQ(alpha_get(&a), 0);
    EXPECT_EQ(alpha_destroy(a), 0);
    EXPECT_EQ(alpha_destroy(nullptr), 2) << "the module no longer holds the destroyed client";
    CLIENT *fresh = nullptr;
    int accepts = server_->Accepts("alpha");
    EXPECT_EQ(alpha_get(&fresh), 0);
    EXPECT_TRUE(WaitAccepts("alpha", accepts + 1)) << "a new client was made";

    alpha_forget(fresh);
    EXPECT_EQ(alpha_destroy(nullptr), 2);
    EXPECT_EQ(alpha_destroy(fresh), 0);

    CLIENT *o = nullptr;
    ASSERT_EQ(omega_ensure(&o), 0);
    EXPECT_EQ(omega_destroy(o), 0);
    EXPECT_EQ(omega_destroy(nullptr), 1);
}

TEST_F(OmegaHandles, OmegaCreateStoresNullOnFailure)
{
    CLIENT *slot = kUntouched;
    EXPECT_EQ(omega_create(&slot, kDeadHost), 1);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(omega_create(nullptr, kDeadHost), 1);
    EXPECT_EQ(omega_destroy(nullptr), 1) << "the module client is null";

    EXPECT_EQ(omega_create(&slot, nullptr), 0);  // the default omega host
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(omega_destroy(slot), 0);

    CLIENT *var = nullptr;
    EXPECT_EQ(omega_ensure(&var), 0);
    EXPECT_NE(var, nullptr);
    omega_forget(var);
    EXPECT_EQ(omega_destroy(nullptr), 1);
    EXPECT_EQ(omega_destroy(var), 0);
}

TEST_F(OmegaHandles, ClientsUseTheTransportOfRpcTransport)
{
    setenv("RPCTRANSPORT", "udp", 1);
    CLIENT *c = nullptr;
    ASSERT_EQ(omega_create(&c, server_->Host().c_str()), 0);
    char value[81];
    EXPECT_EQ(o_get_config(c, "SMTPnative", value), 0);
    omega_destroy(c);
    auto calls = Omega(49);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].line.value("transport", ""), "udp");
}

// ---- the wrappers in one table ------------------------------------------------------------

struct WrapperCase {
    const char *name;
    std::function<int()> call;
    int rc;
    int proc;  // the omega procedure called, -1 for none
};

TEST_F(OmegaHandles, WrapperResults)
{
    char value[81], server[36], user[11], group[11];
    o_tab7_rec r7{};
    o_tab11_rec r11{};
    o_tab102_rec r102{};
    route_rec route{};
    int32_t valid = 0, level = 0;
    auto put7 = [](const char *id) {
        o_tab7_rec r = Tab7(id);
        return o_put_tab7(nullptr, &r);
    };
    auto put11 = [](const char *id) {
        o_tab11_rec r = Tab11(id);
        return o_put_tab11(nullptr, &r);
    };
    auto put102 = [](const char *id, int v) {
        o_tab102_rec r = Tab102(id, v);
        return o_put_tab102(nullptr, &r);
    };
    auto putRoute = [](const char *id) {
        return o_put_route(nullptr, id, "text", "4799", "aux", "srv", "usr", "grp", "extra", 1);
    };
    const WrapperCase cases[] = {
        {"get config", [&] { return o_get_config(nullptr, "SMTPnative", value); }, 0, 49},
        {"get config unknown", [&] { return o_get_config(nullptr, "NOPE", value); }, 25, 49},
        {"put config", [] { return o_put_config(nullptr, "NEWKEY", "v"); }, 0, 48},
        {"put config refused", [] { return o_put_config(nullptr, "REFUSE", "v"); }, 22, 48},
        {"del config", [] { return o_del_config(nullptr, "DELME"); }, 0, 50},
        {"del config unknown", [] { return o_del_config(nullptr, "NOPE"); }, 25, 50},
        {"put tab7", [&] { return put7("T7B"); }, 0, 7},
        {"put tab7 refused", [&] { return put7("REFUSE"); }, 34, 7},
        {"get tab7", [&] { return o_get_tab7(nullptr, "T7A", &r7); }, 0, 8},
        {"get tab7 unknown", [&] { return o_get_tab7(nullptr, "NOPE", &r7); }, 25, 8},
        {"del tab7", [] { return o_del_tab7(nullptr, "T7D"); }, 0, 10},
        {"del tab7 refused", [] { return o_del_tab7(nullptr, "NOPE"); }, 34, 10},
        {"put tab11", [&] { return put11("T11B"); }, 0, 11},
        {"put tab11 refused", [&] { return put11("REFUSE"); }, 34, 11},
        {"get tab11", [&] { return o_get_tab11(nullptr, "T11A", &r11); }, 0, 12},
        {"get tab11 unknown", [&] { return o_get_tab11(nullptr, "NOPE", &r11); }, 25, 12},
        {"del tab11", [] { return o_del_tab11(nullptr, "T11D"); }, 0, 14},
        {"del tab11 refused", [] { return o_del_tab11(nullptr, "NOPE"); }, 34, 14},
        {"put tab102", [&] { return put102("P0", 0); }, 0, 102},
        {"put tab102 version 1", [&] { return put102("P1", 1); }, 24, -1},
        {"put tab102 refused", [&] { return put102("REFUSE", 0); }, 9, 102},
        {"get tab102", [&] { return o_get_tab102(nullptr, "V0", &r102); }, 0, 103},
        {"get tab102 version 1", [&] { return o_get_tab102(nullptr, "V1", &r102); }, 32, 103},
        {"get tab102 unknown", [&] { return o_get_tab102(nullptr, "NOPE", &r102); }, 25, 103},
        {"del tab102", [] { return o_del_tab102(nullptr, "V0D"); }, 0, 105},
        {"del tab102 unknown", [] { return o_del_tab102(nullptr, "NOPE"); }, 25, 105},
        {"proc110", [] { return o_proc110(nullptr, "ANY"); }, 0, 110},
        {"proc110 status", [] { return o_proc110(nullptr, "X110"); }, 5, 110},
        {"get route", [&] { return o_get_route(nullptr, "R1", &route); }, 0, 92},
        {"get route version 1", [&] { return o_get_route(nullptr, "R3", &route); }, 32, 92},
        {"get route unknown", [&] { return o_get_route(nullptr, "NOPE", &route); }, 25, 92},
        {"put route", [&] { return putRoute("R9"); }, 0, 91},
        {"put route refused", [&] { return putRoute("REFUSE"); }, 8, 91},
        {"apply route", [&] { return o_apply_route_new(nullptr, "4711", "", server, user, group); }, 0, 94},
        {"apply route status", [&] { return o_apply_route_new(nullptr, "4712", "", server, user, group); }, 7,
         94},
        {"apply route version 1", [&] { return o_apply_route_new(nullptr, "4713", "", server, user, group); },
         32, 94},
        {"compat", [&] { return o_get_compat(nullptr, &valid, &level); }, 0, 71},
    };
    for (const auto &c : cases) {
        server_->ClearRequests();
        EXPECT_EQ(c.call(), c.rc) << c.name;
        auto calls = Omega();
        if (c.proc < 0) {
            EXPECT_TRUE(calls.empty()) << c.name << ": nothing is sent";
        } else {
            ASSERT_EQ(calls.size(), 1u) << c.name;
            EXPECT_EQ(calls[0].proc, c.proc) << c.name;
            if (calls[0].args.contains("version")) {
                EXPECT_EQ(calls[0].args["version"], 0)
                    << c.name << ": versioned arguments go out as version 0";
            }
        }
    }
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(level, 15);
}

TEST_F(OmegaHandles, WithoutOmegaEveryWrapperGivesOne)
{
    setenv("OMEGAHOST", kDeadHost, 1);
    char value[81] = "kept";
    char server[36] = "kept", user[11] = "kept", group[11] = "kept";
    o_tab7_list list{};
    o_tab7_rec r7 = Tab7("T");
    int32_t valid = 0, level = 0;
    EXPECT_EQ(o_get_config(nullptr, "SMTPnative", value), 1);
    EXPECT_STREQ(value, "kept") << "no client: the value is not touched";
    EXPECT_EQ(o_put_config(nullptr, "K", "V"), 1);
    EXPECT_EQ(o_put_tab7(nullptr, &r7), 1);
    EXPECT_EQ(o_list_tab7(nullptr, &list), 1);
    EXPECT_EQ(o_del_tab102(nullptr, "X"), 1);
    EXPECT_EQ(o_get_compat(nullptr, &valid, &level), 1);
    EXPECT_EQ(o_apply_route_new(nullptr, "4711", "", server, user, group), 1);
    EXPECT_STREQ(server, "kept");
    // The version test of a table-102 record comes after the client, as in every wrapper.
    o_tab102_rec v1 = Tab102("P1", 1);
    EXPECT_EQ(o_put_tab102(nullptr, &v1), 1);
    o_tab102_rec v0 = Tab102("P0", 0);
    EXPECT_EQ(o_put_tab102(nullptr, &v0), 1);
    o_tab11_rec r11 = Tab11("T");
    o_tab11_list l11{};
    o_tab102_list l102{};
    route_rec route{};
    EXPECT_EQ(o_del_config(nullptr, "K"), 1);
    EXPECT_EQ(o_get_tab7(nullptr, "T", &r7), 1);
    EXPECT_EQ(o_del_tab7(nullptr, "T"), 1);
    EXPECT_EQ(o_put_tab11(nullptr, &r11), 1);
    EXPECT_EQ(o_get_tab11(nullptr, "T", &r11), 1);
    EXPECT_EQ(o_list_tab11(nullptr, 0, &l11), 1);
    EXPECT_EQ(o_del_tab11(nullptr, "T"), 1);
    EXPECT_EQ(o_get_tab102(nullptr, "T", &v0), 1);
    EXPECT_EQ(o_list_tab102(nullptr, 0, &l102), 1);
    EXPECT_EQ(o_proc110(nullptr, "T"), 1);
    EXPECT_EQ(o_get_route(nullptr, "R", &route), 1);
    EXPECT_EQ(o_put_route(nullptr, "R", "t", "l", "a", "s", "u", "g", "e", 0), 1);
    EXPECT_EQ(omega_destroy(nullptr), 1);
    EXPECT_TRUE(Omega().empty());
}

TEST_F(OmegaHandles, CompatWithFirstValueZero)
{
    ASSERT_TRUE(server_->Reload(R"({"omega_compat": {"valid": 0, "level": 9}})"));
    int32_t valid = -1, level = -1;
    EXPECT_EQ(o_get_compat(nullptr, &valid, &level), 32);
    EXPECT_EQ(valid, -1);
    EXPECT_EQ(level, -1);
}

// ---- no answer ----------------------------------------------------------------------------

TEST_F(OmegaHandles, NoAnswerForgetsTheModuleClient)
{
    CLIENT *module = nullptr;
    ASSERT_EQ(omega_ensure(&module), 0);
    char value[81] = "junk";
    EXPECT_EQ(o_get_config(nullptr, "CLOSE", value), 22);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(omega_destroy(nullptr), 1) << "the module client was forgotten";

    int accepts = server_->Accepts("omega");
    EXPECT_EQ(o_get_config(nullptr, "SMTPnative", value), 0) << "the next call makes a new client";
    EXPECT_EQ(server_->Accepts("omega"), accepts + 1);
    EXPECT_STREQ(value, "gwuser@alpha.example");
    EXPECT_EQ(omega_destroy(module), 0) << "the forgotten client is still the caller's to destroy";
}

TEST_F(OmegaHandles, NoAnswerLeavesTheCallersClientAlone)
{
    CLIENT *module = nullptr, *own = nullptr;
    ASSERT_EQ(omega_ensure(&module), 0);
    ASSERT_EQ(omega_create(&own, server_->Host().c_str()), 0);
    char value[81];
    EXPECT_EQ(o_get_config(own, "CLOSE", value), 22);
    CLIENT *again = nullptr;
    EXPECT_EQ(omega_ensure(&again), 0);
    EXPECT_EQ(again, module) << "the module client is kept";
    EXPECT_EQ(omega_destroy(own), 0);
}

// ---- what goes out and what comes back ----------------------------------------------------

TEST_F(OmegaHandles, ConfigKeyAndValueWidths)
{
    char value[81] = "junk";
    EXPECT_EQ(o_get_config(nullptr, "ABCDEFGHIJKLMNOP", value), 25);
    EXPECT_STREQ(value, "");
    auto calls = Omega(49);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["id"], "ABCDEFGHIJ") << "the key is cut to 10 characters";

    // An answer of the full 81 characters without a terminator is cut to 80.
    EXPECT_EQ(o_get_config(nullptr, "FULL", value), 0);
    EXPECT_EQ(std::string(value), "abc" + std::string(77, 'x'));

    std::string longValue(90, 'v');
    EXPECT_EQ(o_put_config(nullptr, "NEWKEY-TOO-LONG", longValue.c_str()), 0);
    calls = Omega(48);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["key"], "NEWKEY-TOO");
    EXPECT_EQ(calls[0].args["value"], std::string(80, 'v'));
    EXPECT_EQ(calls[0].args["f3"], false);
    EXPECT_EQ(o_get_config(nullptr, "NEWKEY-TOO", value), 0);
    EXPECT_EQ(std::string(value), std::string(80, 'v'));

    EXPECT_EQ(o_del_config(nullptr, "NEWKEY-TOO"), 0);
    EXPECT_EQ(o_get_config(nullptr, "NEWKEY-TOO", value), 25);
}

// Every text argument goes out cut to its field, as the server decodes it.
TEST_F(OmegaHandles, TextArgumentsAreCutToTheirFields)
{
    const std::string L = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";  // longer than any field
    const char *l = L.c_str();
    o_tab7_rec r7{};
    o_tab11_rec r11{};
    route_rec route{};
    char server[36], user[11], group[11];
    struct Cut {
        const char *name;
        std::function<void()> call;
        int proc;
        std::vector<std::pair<const char *, size_t>> fields;  // logged argument, width
    };
    const Cut cases[] = {
        {"del config", [&] { (void)o_del_config(nullptr, l); }, 50, {{"id", 10}}},
        {"get tab7", [&] { (void)o_get_tab7(nullptr, l, &r7); }, 8, {{"id", 10}}},
        {"del tab7", [&] { (void)o_del_tab7(nullptr, l); }, 10, {{"id", 10}}},
        {"get tab11", [&] { (void)o_get_tab11(nullptr, l, &r11); }, 12, {{"id", 10}}},
        {"del tab11", [&] { (void)o_del_tab11(nullptr, l); }, 14, {{"id", 10}}},
        {"get route", [&] { (void)o_get_route(nullptr, l, &route); }, 92, {{"route_id", 10}}},
        {"apply route",
         [&] { (void)o_apply_route_new(nullptr, l, l, server, user, group); },
         94,
         {{"line_id", 10}, {"aux_id", 20}}},
        {"put route",
         [&] { (void)o_put_route(nullptr, l, l, l, l, l, l, l, l, 1); },
         91,
         {{"route_id", 10},
          {"route_text", 30},
          {"line_id", 10},
          {"aux_id", 20},
          {"server", 35},
          {"user", 10},
          {"group", 10},
          {"route_extra", 35}}},
    };
    for (const auto &c : cases) {
        server_->ClearRequests();
        c.call();
        auto calls = Omega(c.proc);
        ASSERT_EQ(calls.size(), 1u) << c.name;
        for (const auto &[field, width] : c.fields)
            EXPECT_EQ(calls[0].args.value(field, ""), L.substr(0, width)) << c.name << " " << field;
    }
}

TEST_F(OmegaHandles, TableSevenAndElevenRecords)
{
    o_tab7_rec r7{};
    ASSERT_EQ(o_get_tab7(nullptr, "T7A", &r7), 0);
    EXPECT_STREQ(r7.id, "T7A");
    EXPECT_STREQ(r7.f2, "seven");
    EXPECT_EQ(r7.f3, 3);
    EXPECT_EQ(r7.f6, 6);

    o_tab7_rec put = Tab7("T7NEW");
    ASSERT_EQ(o_put_tab7(nullptr, &put), 0);
    o_tab7_rec back{};
    ASSERT_EQ(o_get_tab7(nullptr, "T7NEW", &back), 0);
    EXPECT_EQ(std::memcmp(&back, &put, sizeof put), 0) << "the record goes out and comes back as given";

    o_tab11_rec r11{};
    ASSERT_EQ(o_get_tab11(nullptr, "T11A", &r11), 0);
    EXPECT_STREQ(r11.f2, "eleven");
    EXPECT_EQ(r11.f5, 5);
    EXPECT_STREQ(r11.f18, "last");

    // A record that is not found leaves the caller's record alone.
    o_tab11_rec kept = Tab11("KEPT");
    EXPECT_EQ(o_get_tab11(nullptr, "NOPE", &kept), 25);
    EXPECT_STREQ(kept.id, "KEPT");
}

TEST_F(OmegaHandles, ListsAreHandedToTheCaller)
{
    o_tab7_list l7{};
    ASSERT_EQ(o_list_tab7(nullptr, &l7), 0);
    EXPECT_EQ(l7.count, 2);
    ASSERT_NE(l7.first, nullptr);
    EXPECT_STREQ(l7.first->entry.id, "T7A");
    ASSERT_NE(l7.first->next, nullptr);
    EXPECT_STREQ(l7.first->next->entry.id, "T7D");
    o_free_tab7_list(&l7);
    EXPECT_EQ(l7.first, nullptr);

    o_tab11_list l11{};
    ASSERT_EQ(o_list_tab11(nullptr, -12, &l11), 0);
    EXPECT_EQ(l11.count, 2);
    ASSERT_NE(l11.first, nullptr);
    EXPECT_STREQ(l11.first->entry.f18, "last");
    o_free_tab11_list(&l11);
    auto calls = Omega(13);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["selector"], -12) << "the selector is sent as given";

    // The first record of table 102 is of version 0: the whole list is handed over.
    o_tab102_list l102{};
    ASSERT_EQ(o_list_tab102(nullptr, 4, &l102), 0);
    EXPECT_EQ(l102.count, 3);
    EXPECT_EQ(l102.ec, 0);
    ASSERT_NE(l102.first, nullptr);
    EXPECT_STREQ(l102.first->entry.o_tab102_rec_u.v0.id, "V0");
    ASSERT_NE(l102.first->next, nullptr);
    EXPECT_EQ(l102.first->next->entry.vers, 1);
    EXPECT_STREQ(l102.first->next->entry.o_tab102_rec_u.v1.f34, "one");
    o_free_tab102_list(&l102);
    calls = Omega(104);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["selector"], 4);
}

TEST_F(OmegaHandles, EmptyListsLeaveTheCallersListAlone)
{
    ASSERT_TRUE(server_->Reload("{}"));
    auto *sentinel7 = reinterpret_cast<o_tab7_node *>(0x77);
    o_tab7_list l7{99, sentinel7};
    EXPECT_EQ(o_list_tab7(nullptr, &l7), 25);
    EXPECT_EQ(l7.count, 99);
    EXPECT_EQ(l7.first, sentinel7);

    auto *sentinel11 = reinterpret_cast<o_tab11_node *>(0x11);
    o_tab11_list l11{98, sentinel11};
    EXPECT_EQ(o_list_tab11(nullptr, 0, &l11), 25);
    EXPECT_EQ(l11.count, 98);
    EXPECT_EQ(l11.first, sentinel11);

    // Status 0 and no records at all: nothing is read beyond the answer.
    auto *sentinel102 = reinterpret_cast<o_tab102_node *>(0x102);
    o_tab102_list l102{97, sentinel102, 96};
    EXPECT_EQ(o_list_tab102(nullptr, 0, &l102), 25);
    EXPECT_EQ(l102.count, 97);
    EXPECT_EQ(l102.first, sentinel102);
    EXPECT_EQ(l102.ec, 96);
}

TEST_F(OmegaHandles, TableOneHundredTwoListStatusAndVersion)
{
    ASSERT_TRUE(server_->Reload(R"({"tab102": [{"id": "A", "version": 1}, {"id": "B"}],
        "faults": [{"prog": "omega", "proc": 104, "times": 1, "ec": 12}]})"));
    o_tab102_list list{};
    EXPECT_EQ(o_list_tab102(nullptr, 0, &list), 12) << "the server's status";
    EXPECT_EQ(o_list_tab102(nullptr, 0, &list), 32) << "the first record is of version 1";
    EXPECT_EQ(list.first, nullptr);
}

TEST_F(OmegaHandles, TableOneHundredTwoRecords)
{
    o_tab102_rec rec{};
    rec.vers = 7;
    ASSERT_EQ(o_get_tab102(nullptr, "V0", &rec), 0);
    EXPECT_EQ(rec.vers, 0);
    EXPECT_STREQ(rec.o_tab102_rec_u.v0.f2, "zero");
    EXPECT_STREQ(rec.o_tab102_rec_u.v0.f19, "nineteen");
    EXPECT_EQ(rec.o_tab102_rec_u.v0.f33, 33);
    auto calls = Omega(103);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["id"], "V0");

    o_tab102_rec put = Tab102("NEW102ABCD", 0);
    ASSERT_EQ(o_put_tab102(nullptr, &put), 0);
    o_tab102_rec back{};
    ASSERT_EQ(o_get_tab102(nullptr, "NEW102ABCD", &back), 0);
    EXPECT_EQ(std::memcmp(&back.o_tab102_rec_u.v0, &put.o_tab102_rec_u.v0, sizeof put.o_tab102_rec_u.v0), 0);

    EXPECT_EQ(o_del_tab102(nullptr, "NEW102ABCDEFG"), 0) << "the id is cut to 10 characters";
    EXPECT_EQ(o_get_tab102(nullptr, "NEW102ABCD", &back), 25);
    EXPECT_EQ(o_proc110(nullptr, "ABCDEFGHIJKLM"), 0);
    calls = Omega(110);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["id"], "ABCDEFGHIJ");
}

TEST_F(OmegaHandles, PutTableOneHundredTwoPrintsAtDebugLevelFive)
{
    o_tab102_rec v1 = Tab102("P1", 1);
    testsupport::CaptureFd quiet(2);
    EXPECT_EQ(o_put_tab102(nullptr, &v1), 24);
    EXPECT_EQ(quiet.Text(), "") << "nothing printed below level 5";

    SetDebugLevel(5);
    testsupport::CaptureFd level5(2);
    EXPECT_EQ(o_put_tab102(nullptr, &v1), 24);
    std::string printed = level5.Text();
    EXPECT_NE(printed.find("P1"), std::string::npos) << printed;
    EXPECT_NE(printed.find("put 102"), std::string::npos) << printed;
    EXPECT_TRUE(Omega().empty()) << "a version-1 record is never sent";
}

TEST_F(OmegaHandles, RoutesGoOutCutAndComeBack)
{
    std::string text40(40, 't');
    ASSERT_EQ(o_put_route(nullptr, "ROUTE-ID-TOO-LONG", text40.c_str(), "4798", "aux", "srv9", "usr9", "grp9",
                          "extra9", 99),
              0);
    auto calls = Omega(91);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["version"], 0);
    EXPECT_EQ(calls[0].args["route_id"], "ROUTE-ID-T");
    EXPECT_EQ(calls[0].args["route_text"], std::string(30, 't'));
    EXPECT_EQ(calls[0].args["line_id"], "4798");
    EXPECT_EQ(calls[0].args["route_extra_value"], 99);

    route_rec route{};
    ASSERT_EQ(o_get_route(nullptr, "ROUTE-ID-T", &route), 0);
    EXPECT_EQ(route.vers, 0);
    EXPECT_STREQ(route.route_rec_u.v0.route_text, std::string(30, 't').c_str());
    EXPECT_STREQ(route.route_rec_u.v0.server, "srv9");
    EXPECT_EQ(route.route_rec_u.v0.route_extra_value, 99);

    char server[36] = "", user[11] = "", group[11] = "";
    ASSERT_EQ(o_apply_route_new(nullptr, "4798", "12345678901234567890123", server, user, group), 0);
    EXPECT_STREQ(server, "srv9");
    EXPECT_STREQ(user, "usr9");
    EXPECT_STREQ(group, "grp9");
    calls = Omega(94);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["aux_id"], "12345678901234567890") << "the number is cut to 20 characters";

    // A status other than 0 leaves the outputs alone.
    EXPECT_EQ(o_apply_route_new(nullptr, "4712", "", server, user, group), 7);
    EXPECT_STREQ(server, "srv9");
}

// ---- instance entry -----------------------------------------------------------------------

struct InstanceCase {
    int instance;
    int result;
    const char *host;
    const char *user;
    const char *message;  // the standard error
};

TEST_F(OmegaHandles, InstanceEntries)
{
    const InstanceCase cases[] = {
        {-1, 1, "alpha.example", "gwuser", ""},
        {-5, 1, "alpha.example", "gwuser", ""},
        {1, 1, "h@st", "averylongu", ""},  // split at the first at sign, the user cut to 10
        {5, 1, "abcdefghijklmnopqrstuvwxyz012345678", "u", ""},  // the host cut to 35
        {2, 0, "", "", ""},  // no at sign: nothing for an instance of 0 or more
        {3, 0, "", "", "SMTP3 not configured ...\n"},
    };
    CLIENT *omega = nullptr;
    ASSERT_EQ(omega_create(&omega, nullptr), 0);
    for (const auto &c : cases) {
        char host[36] = "junk", user[11] = "junk";
        testsupport::CaptureFd captured(2);
        EXPECT_EQ(smtp_o_config(&omega, c.instance, host, user), c.result) << c.instance;
        EXPECT_EQ(captured.Text(), c.message) << c.instance;
        EXPECT_STREQ(host, c.host) << c.instance;
        EXPECT_STREQ(user, c.user) << c.instance;
    }
    EXPECT_EQ(omega_destroy(omega), 0);
}

TEST_F(OmegaHandles, DefaultInstanceWithoutAtSignTakesTheEnvironment)
{
    CLIENT *omega = nullptr;
    ASSERT_EQ(omega_create(&omega, nullptr), 0);
    ASSERT_EQ(o_put_config(omega, "SMTPnative", "plain"), 0);
    setenv("SG_USER", "configuser-longer", 1);
    setenv("ALPHAHOST", "alpha-from-env", 1);
    char host[36], user[11];
    EXPECT_EQ(smtp_o_config(&omega, -1, host, user), 1);
    EXPECT_STREQ(user, "configuser");
    EXPECT_STREQ(host, "alpha-from-env");

    unsetenv("SG_USER");
    unsetenv("ALPHAHOST");
    EXPECT_EQ(smtp_o_config(&omega, -1, host, user), 1);
    EXPECT_STREQ(user, "");
    EXPECT_STREQ(host, "");
    EXPECT_EQ(omega_destroy(omega), 0);
}

TEST_F(OmegaHandles, InstanceEntryWithoutClientOrAnswer)
{
    CLIENT *omega = nullptr;
    char host[36] = "junk", user[11] = "junk";
    EXPECT_EQ(smtp_o_config(&omega, -1, host, user), 0);
    EXPECT_STREQ(host, "");
    EXPECT_STREQ(user, "");
    EXPECT_TRUE(Omega().empty()) << "no client: nothing is asked";

    ASSERT_EQ(omega_create(&omega, nullptr), 0);
    testsupport::CaptureFd badHandle(2);
    EXPECT_EQ(smtp_o_config(&omega, 4, host, user), 0);
    EXPECT_EQ(badHandle.Text(), "invalid omega client handle\n");
    EXPECT_EQ(omega, nullptr) << "the client is destroyed and the slot cleared";

    // A long instance number makes a key that is cut like any other.
    ASSERT_EQ(omega_create(&omega, nullptr), 0);
    server_->ClearRequests();
    testsupport::CaptureFd longInstance(2);
    EXPECT_EQ(smtp_o_config(&omega, 123456789, host, user), 0);
    EXPECT_EQ(longInstance.Text(), "SMTP123456789 not configured ...\n");
    auto calls = Omega(49);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args["id"], "SMTP123456");
    EXPECT_EQ(omega_destroy(omega), 0);
}

// ---- small helpers ------------------------------------------------------------------------

TEST(PairList, AddsKeysAndValuesInFront)
{
    pair_key_node *head = nullptr;
    struct Step {
        const char *key, *value;
        int result;
    } steps[] = {
        {"k1", "v1", 1}, {"k1", "v1", 0},  // the same pair twice
        {"k1", "v2", 1}, {"K1", "v1", 1},  // a second value; keys compare with case
        {"k2", "v1", 1}, {"k1", "v2", 0},
    };
    for (const auto &s : steps)
        EXPECT_EQ(pair_list_add(&head, s.key, s.value), s.result) << s.key << "=" << s.value;
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(head->key, "k2");
    ASSERT_NE(head->next, nullptr);
    EXPECT_STREQ(head->next->key, "K1");
    pair_key_node *k1 = head->next->next;
    ASSERT_NE(k1, nullptr);
    EXPECT_STREQ(k1->key, "k1");
    EXPECT_EQ(k1->next, nullptr);
    ASSERT_NE(k1->values, nullptr);
    EXPECT_STREQ(k1->values->value, "v2") << "the second value is in front of the first";
    ASSERT_NE(k1->values->next, nullptr);
    EXPECT_STREQ(k1->values->next->value, "v1");
    EXPECT_EQ(k1->values->next->next, nullptr);
    pair_list_free(&head);
    EXPECT_EQ(head, nullptr);
}

TEST(PairList, LongTextsAreCutAndStillMatch)
{
    pair_key_node *head = nullptr;
    std::string key(50, 'k'), value(20, 'v');
    EXPECT_EQ(pair_list_add(&head, key.c_str(), value.c_str()), 1);
    EXPECT_EQ(std::string(head->key), std::string(35, 'k'));
    EXPECT_EQ(std::string(head->values->value), std::string(11, 'v'));
    EXPECT_EQ(pair_list_add(&head, key.c_str(), value.c_str()), 0) << "the cut pair is already there";
    EXPECT_EQ(pair_list_add(&head, std::string(35, 'k').c_str(), std::string(11, 'v').c_str()), 0);
    pair_list_free(&head);
}

TEST(HostResolves, LookUpTable)
{
    const struct {
        const char *host;
        bool found;
    } cases[] = {
        {"localhost", true}, {"127.0.0.1", true}, {"no-such-host.invalid", false},
        {"", false},         {nullptr, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(host_resolves(c.host), c.found) << (c.host ? c.host : "(null)");
}

}  // namespace
