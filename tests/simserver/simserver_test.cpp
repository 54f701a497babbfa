// The simulated alpha/omega server, reached through the system's stubs and wrappers and through
// a hand-built client that checks the wire bytes on its own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "rawrpc.h"
#include "rpcrt/rpcrt.h"
#include "simserver.h"
#include "testsupport.h"
#include "xdr/alpha.h"
#include "xdr/fieldtext.h"
#include "xdr/omega.h"
#include "xdr/wrappers.h"

namespace {

using testsupport::SimServer;
using testsupport::SimServerOptions;

constexpr unsigned kAlpha = ALPHA_PROG;
constexpr unsigned kOmega = OMEGA_PROG;

const char kFixture[] = R"({
  "compat": {"valid": 1, "level": 16},
  "routes": [
    {"line_id": "4711", "route_id": "R4711", "route_text": "John", "server": "127.0.0.1", "user": "jdoe"},
    {"line_id": "4713", "route_id": "R4713", "server": "127.0.0.1", "user": "bwhite", "full_ec": 23},
    {"line_id": "200", "route_id": "G200", "group": "sales"},
    {"line_id": "99", "ec": 7}
  ],
  "users": [{"server": "127.0.0.1", "user": "bwhite", "name": "B\u00e4rbel White"}],
  "properties": {"jdoe": {"GREETING": "100", "BROKEN": {"ec": 7}}},
  "groups": [{"id": "sales", "name": "Sales Team"}, {"id": "ops", "name": "Operations", "on": "omega"}],
  "jobs": [{"user": "jdoe", "kind": 2, "job": 100,
            "pages": [{"page": 1, "variants": {"14": {"size": 1500}}}]}],
  "send_records": [
    {"user": "alice", "job": 17, "record": {"job": 4717, "subject": "Quarterly report", "state": 2,
     "retries": 3, "recipient": "bob@example.org", "originator": "Alice", "status_text": "busy",
     "submit_time": 1394010307, "flags": 1024}},
    {"user": "alice", "job": 18, "version": 0, "record": {"subject": "old form"}},
    {"user": "alice", "job": 19, "final": 1}
  ],
  "logs": [{"user": "alice", "job": 4717, "count": 12, "cursor_start": 1000, "cursor_step": 7},
           {"user": "alice", "job": 4718, "ok": false}]
})";

// A client handle that is destroyed with the test.
struct Client {
    CLIENT *c = nullptr;
    explicit Client(CLIENT *client) : c(client) {}
    ~Client()
    {
        if (c)
            clnt_destroy(c);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;
    operator CLIENT *() const { return c; }
};

CLIENT *Connect(const SimServer &s, unsigned prog)
{
    setenv("TELAMORPCMAP", s.RpcMap().c_str(), 1);
    return tela::clnt_create(s.Host().c_str(), prog, 1, "tcp");
}

route_req RouteReq(int vers, const char *line, int full = 0)
{
    route_req q;
    memset(&q, 0, sizeof q);
    q.vers = vers;
    if (vers == 0) {
        tela::FieldSet(q.route_req_u.v0.line_id, line);
    } else if (vers == 1) {
        tela::FieldSet(q.route_req_u.v1.line_id, line);
    } else {
        tela::FieldSet(q.route_req_u.v2.line_id, line);
        q.route_req_u.v2.full = full;
    }
    return q;
}

usrconf_new_req PropReq(const char *user, const char *key)
{
    usrconf_new_req q;
    memset(&q, 0, sizeof q);
    q.vers = 1;
    tela::FieldSet(q.usrconf_new_req_u.v1.user, user);
    tela::FieldSet(q.usrconf_new_req_u.v1.key, key);
    return q;
}

s_rec_req SRecReq(const char *user, int job)
{
    s_rec_req q;
    memset(&q, 0, sizeof q);
    q.vers = 1;
    tela::FieldSet(q.s_rec_req_u.v1.user, user);
    q.s_rec_req_u.v1.job = job;
    return q;
}

log_req LogReq(const char *user, int job)
{
    log_req q;
    memset(&q, 0, sizeof q);
    tela::FieldSet(q.user, user);
    q.job = job;
    q.max_lines = 10;
    return q;
}

class SimServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Start(kFixture)) << server.Log(); }
    SimServer server;
};

TEST_F(SimServerTest, AnswersTheRouteAndPropertyReadsOfTheResolver)
{
    Client alpha(Connect(server, kAlpha));
    ASSERT_NE(alpha.c, nullptr) << clnt_spcreateerror("alpha");

    compat_rec *compat = a_get_compat_1(nullptr, alpha);
    ASSERT_NE(compat, nullptr);
    EXPECT_EQ(compat->valid, 1);
    EXPECT_EQ(compat->level, 16);

    struct RouteCase {
        int vers, full;
        const char *line;
        int replyVers, ec;
        const char *user, *group, *routeId;
    } routes[] = {
        {2, 1, "4711", 1, 0, "jdoe", "", "R4711"},  // the full form answers a full request
        {2, 0, "4711", 0, 0, "jdoe", "", nullptr},
        {1, 0, "4711", 0, 0, "jdoe", "", nullptr},
        {0, 0, "4711", 0, 0, "jdoe", "", nullptr},
        {2, 1, "4713", 1, 23, "", "", ""},  // full form not available
        {2, 0, "4713", 0, 0, "bwhite", "", nullptr},
        {2, 1, "200", 1, 0, "", "sales", "G200"},
        {2, 1, "5555", 1, 25, "", "", ""},  // nothing routed
        {1, 0, "99", 0, 7, "", "", nullptr},
    };
    for (size_t i = 0; i < std::size(routes); ++i) {
        const RouteCase &c = routes[i];
        route_req q = RouteReq(c.vers, c.line, c.full);
        route_res r;
        ASSERT_EQ(a_apply_route_new_r1(alpha, &q, &r), 0u) << "case " << i;
        ASSERT_EQ(r.vers, c.replyVers) << "case " << i;
        if (r.vers == 1) {
            EXPECT_EQ(r.route_res_u.v1.ec, c.ec) << "case " << i;
            EXPECT_EQ(tela::FieldText(r.route_res_u.v1.user), c.user) << "case " << i;
            EXPECT_EQ(tela::FieldText(r.route_res_u.v1.group), c.group) << "case " << i;
            EXPECT_EQ(tela::FieldText(r.route_res_u.v1.route_id), c.routeId) << "case " << i;
        } else {
            EXPECT_EQ(r.route_res_u.v0.ec, c.ec) << "case " << i;
            EXPECT_EQ(tela::FieldText(r.route_res_u.v0.user), c.user) << "case " << i;
        }
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_route_res), &r);
    }

    struct PropCase {
        const char *user, *key;
        int ec;
        const char *value;
    } props[] = {
        {"jdoe", "GREETING", 0, "100"},
        {"jdoe", "GOODBYE", 25, ""},
        {"nobody", "GREETING", 25, ""},
        {"jdoe", "BROKEN", 7, ""},
    };
    for (auto &c : props) {
        usrconf_new_req q = PropReq(c.user, c.key);
        usrconf_new_res r;
        ASSERT_EQ(a_get_usrconf_new_r1(alpha, &q, &r), 0u);
        EXPECT_EQ(r.ec, c.ec) << c.key;
        EXPECT_EQ(tela::FieldText(r.value), c.value) << c.key;
        usrconf_new_res *plain = a_get_usrconf_new_1(&q, alpha);  // the client API's plain stub
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(plain->ec, c.ec) << c.key;
    }

    auto calls = server.Calls("alpha", 117);
    ASSERT_EQ(calls.size(), std::size(routes));
    EXPECT_EQ(calls[0].args,
              (nlohmann::json{{"version", 2}, {"line_id", "4711"}, {"aux_id", ""}, {"full", 1}}));
    EXPECT_EQ(calls[3].args, (nlohmann::json{{"version", 0}, {"line_id", "4711"}, {"aux_id", ""}}));
    auto propCalls = server.Calls("alpha", 144);
    ASSERT_EQ(propCalls.size(), 2 * std::size(props));
    EXPECT_EQ(propCalls[0].args["key"], "GREETING");
    EXPECT_EQ(server.Accepts("alpha"), 1);  // every call went over the one connection
}

TEST_F(SimServerTest, AnswersTheClientApiReads)
{
    Client alpha(Connect(server, kAlpha));
    Client omega(Connect(server, kOmega));
    ASSERT_NE(alpha.c, nullptr);
    ASSERT_NE(omega.c, nullptr);

    user_key uk;
    memset(&uk, 0, sizeof uk);
    tela::FieldSet(uk.server, "127.0.0.1");
    tela::FieldSet(uk.user, "bwhite");
    a_user_rec *user = a_get_o_user_1(&uk, alpha);
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(tela::FieldText(user->rec.name), "B\xe4rbel White");

    str11 id;
    memset(id, 0, sizeof id);
    tela::FieldSet(id, "sales");
    group_rec *g = a_get_o_group_1(id, alpha);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(tela::FieldText(g->name), "Sales Team");
    tela::FieldSet(id, "ops");  // only omega knows this one
    g = a_get_o_group_1(id, alpha);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(tela::FieldText(g->group_id), "");
    g = o_get_group_1(id, omega);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(tela::FieldText(g->name), "Operations");

    struct PageCase {
        int job, variant, offset, maxBytes;
        bool found;
        int count;
    } pages[] = {
        {100, 14, 0, 0, true, 0},  // the greeting check reads no bytes
        {100, 15, 0, 0, false, 0},        {101, 14, 0, 0, false, 0},      {100, 14, 0, 1024, true, 1024},
        {100, 14, 1024, 1024, true, 476}, {100, 14, 1500, 1024, true, 0},
    };
    for (auto &c : pages) {
        pageb_req q;
        memset(&q, 0, sizeof q);
        tela::FieldSet(q.user, "jdoe");
        q.kind = 2;
        q.job = c.job;
        q.page = 1;
        q.variant = static_cast<short>(c.variant);
        q.offset = c.offset;
        q.max_bytes = c.maxBytes;
        pageb_res *r = a_get_pageb_1(&q, alpha);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->found != 0, c.found) << c.job << "/" << c.variant;
        EXPECT_EQ(r->count, c.count) << c.offset;
        EXPECT_EQ(r->data.blob_len, static_cast<u_int>(c.count));
        if (c.count) {
            EXPECT_EQ(static_cast<unsigned char>(r->data.blob_val[0]), c.offset % 251);
        }
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_pageb_res), r);
    }
}

TEST_F(SimServerTest, AnswersTheReportReads)
{
    Client alpha(Connect(server, kAlpha));
    ASSERT_NE(alpha.c, nullptr);
    s_rec_req q = SRecReq("alice", 17);
    s_rec_res *r = a_get_s_rec_new_1(&q, alpha);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->final, 0);
    ASSERT_EQ(r->record.vers, 1);
    const s_rec_v1 &v1 = r->record.s_rec_new_u.v1;
    EXPECT_EQ(v1.job, 4717);
    EXPECT_EQ(v1.flags, 1024);
    EXPECT_EQ(v1.state, 2);
    EXPECT_EQ(v1.retries, 3);
    EXPECT_EQ(v1.submit_time, 1394010307);
    EXPECT_EQ(tela::FieldText(v1.subject), "Quarterly report");
    EXPECT_EQ(tela::FieldText(v1.recipient), "bob@example.org");
    EXPECT_EQ(tela::FieldText(v1.originator), "Alice");
    EXPECT_EQ(tela::FieldText(v1.status_text), "busy");

    q.s_rec_req_u.v1.job = 18;
    r = a_get_s_rec_new_1(&q, alpha);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->record.vers, 0);
    EXPECT_EQ(tela::FieldText(r->record.s_rec_new_u.v0.subject), "old form");

    q.s_rec_req_u.v1.job = 19;
    r = a_get_s_rec_new_1(&q, alpha);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->final, 1);

    // 12 lines in batches of 10; the cursor is the server's own (1000 + 7 per line).
    log_req lq = LogReq("alice", 4717);
    tela::FieldSet(lq.language, "english_us.8859");
    int batches[] = {10, 2, 0};
    int total = 0;
    for (int expected : batches) {
        log_res *l = a_get_log_1(&lq, alpha);
        ASSERT_NE(l, nullptr);
        EXPECT_TRUE(l->ok);
        int n = 0;
        for (text_line *t = l->lines; t; t = t->next) {
            ++n;
            ++total;
            EXPECT_EQ(tela::FieldText(t->text), "line " + std::to_string(total));
        }
        EXPECT_EQ(n, expected);
        EXPECT_EQ(l->next_line, 1000 + 7 * total);
        lq.first_line = l->next_line;
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_log_res), l);
    }
    lq.job = 4718;  // a log that cannot be read
    log_res *l = a_get_log_1(&lq, alpha);
    ASSERT_NE(l, nullptr);
    EXPECT_FALSE(l->ok);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_log_res), l);

    auto logCalls = server.Calls("alpha", 72);
    ASSERT_EQ(logCalls.size(), 4u);
    EXPECT_EQ(logCalls[1].args["first_line"], 1070);
    EXPECT_EQ(logCalls[1].args["language"], "english_us.8859");
}

// The request's bytes as the server logged them, against a hand-built encoding.
TEST_F(SimServerTest, LogsTheWireBytesOfEachRequest)
{
    {
        Client alpha(Connect(server, kAlpha));
        ASSERT_NE(alpha.c, nullptr);
        route_req q = RouteReq(2, "4711", 1);
        route_res r;
        ASSERT_EQ(a_apply_route_new_r1(alpha, &q, &r), 0u);
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_route_res), &r);
        s_rec_req sq = SRecReq("ab", 4711);
        ASSERT_NE(a_get_s_rec_new_1(&sq, alpha), nullptr);
    }
    auto route = server.Calls("alpha", 117);
    ASSERT_EQ(route.size(), 1u);
    rawrpc::Wire w;
    w.I32(2).Str("4711", 21).Str("", 21).I32(1);
    EXPECT_EQ(w.size(), 176u);
    EXPECT_EQ(route[0].raw, rawrpc::Hex(w.data()));
    EXPECT_EQ(route[0].line["reply_bytes"], 724);  // the full form

    auto srec = server.Calls("alpha", 137);
    ASSERT_EQ(srec.size(), 1u);
    rawrpc::Wire s;
    s.I32(1).Str("ab", 11).I32(4711);
    EXPECT_EQ(srec[0].raw, rawrpc::Hex(s.data()));
    EXPECT_EQ(srec[0].line["reply_bytes"], 4 + 1656);

    // The connection's end is in the log too, once the server has seen it.
    bool closed = testsupport::WaitFor([&] {
        for (auto &r : server.Requests())
            if (r.event == "close")
                return true;
        return false;
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(server.Accepts("alpha"), 1);
}

// Answers read by the hand-built client: sizes, field order and the sign widening of texts.
TEST_F(SimServerTest, AnswersInTheWireForm)
{
    rawrpc::Wire q;
    q.I32(2).Str("4713", 21).Str("", 21).I32(0);
    rawrpc::Reply r = rawrpc::Call(server.AlphaPort(), kAlpha, 1, 117, q.data());
    ASSERT_TRUE(r.received);
    ASSERT_EQ(r.acceptStat, 0u);
    ASSERT_EQ(r.result.size(), 388u);
    rawrpc::Reader rd(r.result);
    EXPECT_EQ(rd.I32(), 0);
    EXPECT_EQ(rd.Str(36), "127.0.0.1");
    EXPECT_EQ(rd.Str(11), "bwhite");
    EXPECT_EQ(rd.Str(11), "");
    EXPECT_EQ(rd.Str(36), "");
    EXPECT_EQ(rd.I32(), 0);
    EXPECT_EQ(rd.I32(), 0);  // ec
    EXPECT_EQ(rd.left(), 0u);

    rawrpc::Wire uk;
    uk.Str("127.0.0.1", 36).Str("bwhite", 11);
    r = rawrpc::Call(server.AlphaPort(), kAlpha, 1, 35, uk.data());
    ASSERT_TRUE(r.received);
    ASSERT_EQ(r.result.size(), 592u);
    // name starts after server (144 bytes) and user (44 bytes); its second character is 0xE4
    EXPECT_EQ(rawrpc::Hex(r.result.substr(188, 8)), "00000042ffffffe4");

    struct Refusal {
        unsigned prog, proc;
        std::string args;
        unsigned acceptStat;
    } refusals[] = {
        {kAlpha, 116, "", 3},                    // not a procedure of alpha
        {kAlpha, 117, std::string(8, '\0'), 4},  // a route request cut short
        {kAlpha, 144, rawrpc::Wire().I32(0).Str("u", 11).Str("k", 31).data(), 4},  // version 0 has no arm
        {kAlpha + 1, 75, "", 1},                                                   // no such program
    };
    for (auto &c : refusals) {
        r = rawrpc::Call(server.AlphaPort(), c.prog, 1, c.proc, c.args);
        ASSERT_TRUE(r.received) << c.proc;
        EXPECT_EQ(r.acceptStat, c.acceptStat) << c.proc;
    }
    EXPECT_EQ(server.Calls("alpha", 117).back().line.value("error", ""), "cannot decode the argument");
}

TEST(SimServerFaults, KnobsPerProcedure)
{
    SimServer server;
    ASSERT_TRUE(server.Start(R"({
      "compat": 15,
      "send_records": [{"user": "alice", "job": 1, "record": {"subject": "s", "recipient": "bob"}}],
      "logs": [{"user": "alice", "job": 1, "lines": ["one"]}],
      "faults": [
        {"proc": 75, "close": true, "times": 1},
        {"proc": 144, "match": {"key": "GD_IMU"}, "ec": 9},
        {"proc": 137, "unterminated": true, "fill": "x"},
        {"proc": 72, "garbage": true, "times": 1},
        {"proc": 72, "unterminated": true},
        {"prog": "omega", "proc": 32, "noproc": true},
        {"prog": "omega", "proc": 71, "delay_ms": 200}
      ]})"))
        << server.Log();
    {
        Client alpha(Connect(server, kAlpha));
        ASSERT_NE(alpha.c, nullptr);
        EXPECT_EQ(a_get_compat_1(nullptr, alpha), nullptr);  // closed without an answer
        rpc_err err;
        CLNT_GETERR(alpha.c, &err);
        EXPECT_EQ(err.re_status, RPC_CANTRECV);
    }
    Client alpha(Connect(server, kAlpha));  // the knob was for one call only
    ASSERT_NE(alpha.c, nullptr);
    compat_rec *compat = a_get_compat_1(nullptr, alpha);
    ASSERT_NE(compat, nullptr);
    EXPECT_EQ(compat->level, 15);

    usrconf_new_req pq = PropReq("u", "GD_IMU");
    usrconf_new_res pr;
    ASSERT_EQ(a_get_usrconf_new_r1(alpha, &pq, &pr), 0u);
    EXPECT_EQ(pr.ec, 9);
    pq = PropReq("u", "GD_LDH");
    ASSERT_EQ(a_get_usrconf_new_r1(alpha, &pq, &pr), 0u);
    EXPECT_EQ(pr.ec, 25);

    s_rec_req sq = SRecReq("alice", 1);
    s_rec_res *sr = a_get_s_rec_new_1(&sq, alpha);
    ASSERT_NE(sr, nullptr);
    EXPECT_EQ(tela::FieldText(sr->record.s_rec_new_u.v1.subject), std::string("s").append(30, 'x'));
    EXPECT_EQ(tela::FieldText(sr->record.s_rec_new_u.v1.originator).size(), 81u);

    log_req lq = LogReq("alice", 1);
    EXPECT_EQ(a_get_log_1(&lq, alpha), nullptr);  // an answer that does not decode
    rpc_err err;
    CLNT_GETERR(alpha.c, &err);
    EXPECT_EQ(err.re_status, RPC_CANTDECODERES);
    log_res *lr = a_get_log_1(&lq, alpha);  // the connection still serves
    ASSERT_NE(lr, nullptr);
    ASSERT_NE(lr->lines, nullptr);
    EXPECT_EQ(tela::FieldText(lr->lines->text), "one" + std::string(98, '#'));
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_log_res), lr);

    Client omega(Connect(server, kOmega));
    ASSERT_NE(omega.c, nullptr);
    str11 id;
    memset(id, 0, sizeof id);
    EXPECT_EQ(o_get_group_1(id, omega), nullptr);
    CLNT_GETERR(omega.c, &err);
    EXPECT_EQ(err.re_status, RPC_PROCUNAVAIL);
    EXPECT_NE(o_get_compat_1(nullptr, omega), nullptr);  // late, but answered

    auto compatCalls = server.Calls("alpha", 75);
    ASSERT_EQ(compatCalls.size(), 2u);
    EXPECT_EQ(compatCalls[0].line["fault"], (nlohmann::json{{"close", true}}));
    EXPECT_FALSE(compatCalls[1].line.contains("fault"));
}

TEST(SimServerSetup, OffsetMovesBothPrograms)
{
    SimServer server;
    SimServerOptions options;
    options.offset = 100;
    ASSERT_TRUE(server.Start("{}", options)) << server.Log();
    rawrpc::Reply r = rawrpc::Call(server.AlphaPort(), kAlpha, 1, 75, "");
    ASSERT_TRUE(r.received);
    EXPECT_EQ(r.acceptStat, 1u);
    r = rawrpc::Call(server.AlphaPort(), kAlpha + 100, 1, 75, "");
    ASSERT_TRUE(r.received);
    EXPECT_EQ(r.acceptStat, 0u);
    EXPECT_EQ(r.result.size(), 8u);
    r = rawrpc::Call(server.OmegaPort(), kOmega + 100, 1, 71, "");
    ASSERT_TRUE(r.received);
    EXPECT_EQ(r.acceptStat, 0u);
}

TEST(SimServerSetup, SeveralHostsAndReload)
{
    SimServer server;
    SimServerOptions options;
    options.hosts = {"127.0.0.1", "127.0.0.2"};
    ASSERT_TRUE(server.Start(R"({"compat": 13})", options)) << server.Log();
    EXPECT_EQ(server.RpcMap(),
              "127.0.0.1:" + std::to_string(server.Base(0)) + ";127.0.0.2:" + std::to_string(server.Base(1)));
    setenv("TELAMORPCMAP", server.RpcMap().c_str(), 1);
    Client second(tela::clnt_create("127.0.0.2", kAlpha, 1, "tcp"));
    ASSERT_NE(second.c, nullptr) << clnt_spcreateerror("127.0.0.2");
    compat_rec *c = a_get_compat_1(nullptr, second);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->level, 13);

    ASSERT_TRUE(server.Reload(R"({"compat": 12})"));
    c = a_get_compat_1(nullptr, second);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->level, 12);
    EXPECT_FALSE(server.Reload("not json"));
    c = a_get_compat_1(nullptr, second);  // a bad fixture leaves the last good one
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->level, 12);
    EXPECT_EQ(server.Calls().back().line["local"], "127.0.0.2:" + std::to_string(server.AlphaPort(1)));
}

TEST(SimServerSetup, AnswersOverUdpToo)
{
    SimServer server;
    ASSERT_TRUE(server.Start(R"({"compat": 11, "groups": [{"id": "g", "name": "G"}]})")) << server.Log();
    setenv("TELAMORPCMAP", server.RpcMap().c_str(), 1);
    Client omega(tela::clnt_create(server.Host().c_str(), kOmega, 1, "udp"));
    ASSERT_NE(omega.c, nullptr) << clnt_spcreateerror("udp");
    compat_rec *c = o_get_compat_1(nullptr, omega);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->level, 11);
    str11 id;
    memset(id, 0, sizeof id);
    tela::FieldSet(id, "g");
    group_rec *g = o_get_group_1(id, omega);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(tela::FieldText(g->name), "G");
    auto calls = server.Calls("omega");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].line["transport"], "udp");
    EXPECT_EQ(calls[0].conn, 0);
}

TEST(SimServerSetup, RestartDropsConnectionsAndKeepsPorts)
{
    SimServer server;
    ASSERT_TRUE(server.Start(R"({"compat": 14})")) << server.Log();
    int port = server.AlphaPort();
    Client before(Connect(server, kAlpha));
    ASSERT_NE(before.c, nullptr);
    ASSERT_NE(a_get_compat_1(nullptr, before), nullptr);
    ASSERT_TRUE(server.Restart()) << server.Log();
    EXPECT_EQ(server.AlphaPort(), port);
    EXPECT_EQ(a_get_compat_1(nullptr, before), nullptr);  // the old connection is gone
    Client after(Connect(server, kAlpha));
    ASSERT_NE(after.c, nullptr);
    compat_rec *c = a_get_compat_1(nullptr, after);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->level, 14);
    EXPECT_EQ(server.Accepts("alpha"), 2);  // the log spans both runs
}

// A server that ignores max_lines: one answer carries every line of a long log.
TEST(SimServerSetup, LogBatchOverridesTheRequest)
{
    SimServer server;
    ASSERT_TRUE(server.Start(R"({"logs": [{"user": "u", "job": 1, "count": 100000, "batch": 100000}]})"))
        << server.Log();
    Client alpha(Connect(server, kAlpha));
    ASSERT_NE(alpha.c, nullptr);
    log_req lq = LogReq("u", 1);
    log_res *l = a_get_log_1(&lq, alpha);
    ASSERT_NE(l, nullptr);
    int n = 0;
    const text_line *last = nullptr;
    for (const text_line *t = l->lines; t; t = t->next, ++n)
        last = t;
    EXPECT_EQ(n, 100000);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(tela::FieldText(last->text), "line 100000");
    EXPECT_EQ(l->next_line, 100000);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_log_res), l);
}

TEST(SimServerSetup, ServesTheDemoFixture)
{
    SimServer server;
    ASSERT_TRUE(server.StartFile(testsupport::SimFixturePath("demo.json"))) << server.Log();
    Client alpha(Connect(server, kAlpha));
    ASSERT_NE(alpha.c, nullptr);
    route_req q = RouteReq(2, "4711", 1);
    route_res r;
    ASSERT_EQ(a_apply_route_new_r1(alpha, &q, &r), 0u);
    EXPECT_EQ(tela::FieldText(r.route_res_u.v1.user), "jdoe");
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_route_res), &r);
}

TEST(SimServerSetup, RefusesBadCommandLines)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("f.json"), "{}");
    std::string bin = testsupport::SimServerBinary();
    struct Case {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{}, "--fixture and --listen are required"},
        {{"--fixture", dir.file("f.json"), "--listen", "10.1.2.3:20000"}, "not a loopback address"},
        {{"--fixture", dir.file("f.json"), "--listen", "127.0.0.1"}, "HOST:BASE"},
        {{"--fixture", dir.file("missing.json"), "--listen", "127.0.0.1:20000"}, "cannot open"},
        {{"--bogus"}, "unknown argument"},
    };
    for (auto &c : cases) {
        std::vector<std::string> argv = {bin};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        testsupport::RunOptions options;
        options.timeoutMs = 10000;
        testsupport::RunResult r = testsupport::RunProgram(argv, options);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace

TEST(SimServerTables, OmegaTablesInTheWireForm)
{
    SimServer server;
    ASSERT_TRUE(server.Start(R"({"tab7": [{"id": "A", "f2": "first", "f3": 3}, {"id": "B", "f6": -6}],
                                 "tab102": [{"id": "V1", "version": 1, "f34": "x"}]})"))
        << server.Log();
    const int port = server.OmegaPort();

    // A get answers the bare record (184 bytes); an unknown id an empty one.
    rawrpc::Reply r = rawrpc::Call(port, kOmega, 1, 8, rawrpc::Wire().Str("B", 11).data());
    ASSERT_TRUE(r.received);
    ASSERT_EQ(r.result.size(), 184u);
    rawrpc::Reader get(r.result);
    EXPECT_EQ(get.Str(11), "B");
    r = rawrpc::Call(port, kOmega, 1, 8, rawrpc::Wire().Str("C", 11).data());
    ASSERT_EQ(r.result.size(), 184u);
    EXPECT_EQ(rawrpc::Reader(r.result).Str(11), "");

    // A list: the count, all presence units, then the bodies from the last node to the first.
    r = rawrpc::Call(port, kOmega, 1, 9, "");
    ASSERT_TRUE(r.received);
    ASSERT_EQ(r.result.size(), 4u + 12u + 2 * 184u);
    rawrpc::Reader list(r.result);
    EXPECT_EQ(list.I32(), 2);
    EXPECT_EQ(list.I32(), 1);
    EXPECT_EQ(list.I32(), 1);
    EXPECT_EQ(list.I32(), 0);
    EXPECT_EQ(list.Str(11), "B");

    // Table 102 keeps each record's version: 2440 bytes for version 1, then the status.
    r = rawrpc::Call(port, kOmega, 1, 103, rawrpc::Wire().I32(0).Str("V1", 11).data());
    ASSERT_TRUE(r.received);
    ASSERT_EQ(r.result.size(), 2440u + 4u);
    EXPECT_EQ(rawrpc::Reader(r.result).I32(), 1);

    // Deleting and listing: an empty table is the count 0, one presence unit 0 and the status 0.
    r = rawrpc::Call(port, kOmega, 1, 105, rawrpc::Wire().I32(0).Str("V1", 11).data());
    ASSERT_EQ(r.result.size(), 4u);
    EXPECT_EQ(rawrpc::Reader(r.result).I32(), 0);
    r = rawrpc::Call(port, kOmega, 1, 105, rawrpc::Wire().I32(0).Str("V1", 11).data());
    EXPECT_EQ(rawrpc::Reader(r.result).I32(), 25) << "already gone";
    r = rawrpc::Call(port, kOmega, 1, 104, rawrpc::Wire().I32(0).I32(0).data());
    ASSERT_TRUE(r.received);
    EXPECT_EQ(rawrpc::Hex(r.result), "000000000000000000000000");

    // A store changes what later reads see, until the fixture is read again.
    r = rawrpc::Call(port, kOmega, 1, 10, rawrpc::Wire().Str("A", 11).data());
    EXPECT_EQ(rawrpc::Reader(r.result).I32(), 1);
    r = rawrpc::Call(port, kOmega, 1, 10, rawrpc::Wire().Str("A", 11).data());
    EXPECT_EQ(rawrpc::Reader(r.result).I32(), 0);
    ASSERT_TRUE(server.Reload(R"({"tab7": [{"id": "A"}]})"));
    r = rawrpc::Call(port, kOmega, 1, 10, rawrpc::Wire().Str("A", 11).data());
    EXPECT_EQ(rawrpc::Reader(r.result).I32(), 1);
}
