// The plain stubs and the re-entrant wrappers against a server on loopback: what goes on the
// wire for the procedures of the two programs' roads, what comes back, and the failure paths.
#include "server_fixture.h"

#include "xdr/fieldtext.h"
#include "xdr/wrappers.h"
#include "xdr/xdrresult.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace {

using namespace xdrtest;

class Stubs : public ServerTest {};

Wire RouteResV1(std::string_view routeId, int16_t ec)
{
    return Wire()
        .u32(1)
        .str11(routeId)
        .str31("text")
        .str21("4711")
        .str21("")
        .str36("alpha2")
        .str11("u0042")
        .str11("")
        .str36("extra")
        .i32(9)
        .i16(ec);
}

Wire SRecV0(int job)
{
    Wire w;
    w.i32(job).str11("").i16(0).i32(0x100).i16(0).str31("Subject").i32(1700000000).i32(0);
    w.boolean(false).i32(1700000100).i16(0).i16(0).i32(0).i16(-3).i16(0).i16(2).str21("");
    w.str31("rcpt@example.org").i16(0).i32(0);
    return w;
}

Wire SRecV1Tail(std::string_view originator, std::string_view status)
{
    return Wire()
        .i32(0)
        .boolean(false)
        .str11("")
        .i32(0)
        .str11("")
        .str81(originator)
        .str11("")
        .str81(status)
        .str36("")
        .str11("")
        .str11("")
        .str36("")
        .str11("");
}

// ---- the road procedures --------------------------------------------------------------------

TEST_F(Stubs, CompatibilityLevel)
{
    server->Answer(kAlpha, 75, Wire().i32(1).i32(15));
    compat_rec *res = a_get_compat_1(nullptr, alpha.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->valid, 1);
    EXPECT_EQ(res->level, 15);
    EXPECT_TRUE(OnlyCall(kAlpha, 75).empty());
}

TEST_F(Stubs, ApplyRouteThroughStubAndWrapper)
{
    server->Answer(kAlpha, 117, RouteResV1("r-7", 0));
    route_req req = {};
    req.vers = 2;
    SetText(req.route_req_u.v2.line_id, "4711");
    req.route_req_u.v2.full = 1;
    Bytes want = Wire().u32(2).str21("4711").str21("").i32(1).bytes();

    route_res *res = a_apply_route_new_1(&req, alpha.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->vers, 1);
    EXPECT_EQ(tela::FieldText(res->route_res_u.v1.route_id), "r-7");
    EXPECT_EQ(tela::FieldText(res->route_res_u.v1.user), "u0042");
    EXPECT_EQ(res->route_res_u.v1.route_extra_value, 9);
    EXPECT_EQ(OnlyCall(kAlpha, 117), want);

    server->Reset();
    server->Answer(kAlpha, 117,
                   Wire().u32(0).str36("alpha2").str11("u0042").str11("g1").str36("").i32(0).i16(25));
    route_res mine;
    std::memset(&mine, 0x5A, sizeof mine);  // the wrapper clears what the caller left
    EXPECT_EQ(a_apply_route_new_r1(alpha.get(), &req, &mine), 0u);
    EXPECT_EQ(mine.vers, 0);
    EXPECT_EQ(tela::FieldText(mine.route_res_u.v0.group), "g1");
    EXPECT_EQ(mine.route_res_u.v0.ec, 25);
    EXPECT_EQ(tela::FieldText(mine.route_res_u.v0.route_extra), "");
    EXPECT_EQ(OnlyCall(kAlpha, 117), want);
}

TEST_F(Stubs, UserPropertyThroughStubAndWrapper)
{
    server->Answer(kAlpha, 144, Wire().i16(0).str81("ldap://127.0.0.1:389"));
    usrconf_new_req req = {};
    req.vers = 1;
    SetText(req.usrconf_new_req_u.v1.user, "u0042");
    SetText(req.usrconf_new_req_u.v1.key, "GD_LDAPURL");
    Bytes want = Wire().u32(1).str11("u0042").str31("GD_LDAPURL").bytes();

    usrconf_new_res *res = a_get_usrconf_new_1(&req, alpha.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->ec, 0);
    EXPECT_EQ(tela::FieldText(res->value), "ldap://127.0.0.1:389");
    EXPECT_EQ(OnlyCall(kAlpha, 144), want);

    server->Reset();
    server->Answer(kAlpha, 144, Wire().i16(25).str81(""));
    usrconf_new_res mine = {};
    EXPECT_EQ(a_get_usrconf_new_r1(alpha.get(), &req, &mine), 0u);
    EXPECT_EQ(mine.ec, 25);
    EXPECT_EQ(tela::FieldText(mine.value), "");
    EXPECT_EQ(OnlyCall(kAlpha, 144), want);
}

TEST_F(Stubs, GreetingPageCheck)
{
    server->Answer(kAlpha, 59, Wire().boolean(true).i32(0).blob(""));
    pageb_req req = {};
    SetText(req.user, "u0042");
    req.kind = 2;
    req.job = 5501;
    req.page = 1;
    req.variant = 14;
    pageb_res *res = a_get_pageb_1(&req, alpha.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->found, 1);
    EXPECT_EQ(res->data.blob_len, 0u);
    EXPECT_EQ(OnlyCall(kAlpha, 59),
              Wire().str11("u0042").i16(2).i32(5501).i16(1).i16(14).i32(0).i32(0).bytes());
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_pageb_res), reinterpret_cast<char *>(res));
}

TEST_F(Stubs, HolderUsedAgainForTheSameStubFreesEachAnswerOnce)
{
    // Each answer's page data is allocated by decoding into the stub's one static result; a
    // holder that still has the last answer lets go of it before the stub runs again.
    pageb_req req = {};
    SetText(req.user, "u0042");
    tela::XdrResult<pageb_res> page(nullptr, xdr_pageb_res);
    for (std::string text : {"first page", "second", "the third page"}) {
        server->Answer(kAlpha, 59, Wire().boolean(true).i32(0).blob(text));
        page.Call([&] { return a_get_pageb_1(&req, alpha.get()); });
        ASSERT_TRUE(page) << text;
        EXPECT_EQ(std::string(page->data.blob_val, page->data.blob_len), text);
    }
    server->Reset();  // no answer: the call fails and the holder holds nothing
    page.Call([&] { return a_get_pageb_1(&req, alpha.get()); });
    EXPECT_FALSE(page);
}

TEST_F(Stubs, GroupFromAlphaAndFromOmega)
{
    group_rec *res;
    char gid[11] = "g7";
    server->Answer(kAlpha, 150, Wire().str11("g7").str31("Sales \xC4"));
    res = a_get_o_group_1(gid, alpha.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(tela::FieldText(res->name), "Sales \xC4");
    EXPECT_EQ(OnlyCall(kAlpha, 150), Wire().str11("g7").bytes());

    server->Reset();
    server->Answer(kOmega, 32, Wire().str11("g7").str31("Omega group"));
    res = o_get_group_1(gid, omega.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(tela::FieldText(res->name), "Omega group");
    EXPECT_EQ(OnlyCall(kOmega, 32), Wire().str11("g7").bytes());
}

TEST_F(Stubs, UserRecord)
{
    server->Answer(kAlpha, 35,
                   Wire()
                       .str36("alpha2")
                       .str11("u0042")
                       .str31("Anna M\xFCller")
                       .str36("")
                       .str11("")
                       .boolean(true)
                       .str21("")
                       .i16(0));
    user_key key = {};
    SetText(key.server, "alpha2");
    SetText(key.user, "u0042");
    a_user_rec *res = a_get_o_user_1(&key, alpha.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(tela::FieldText(res->rec.name), "Anna M\xFCller");
    EXPECT_EQ(res->rec.f6, 1);
    EXPECT_EQ(OnlyCall(kAlpha, 35), Wire().str36("alpha2").str11("u0042").bytes());
}

TEST_F(Stubs, SendRecordAndTransmissionLog)
{
    server->Answer(
        kAlpha, 137,
        Wire().i16(0).u32(1).append(SRecV0(4711)).append(SRecV1Tail("Bob <bob@example.org>", "busy")));
    s_rec_req req = {};
    req.vers = 1;
    SetText(req.s_rec_req_u.v1.user, "ab");
    req.s_rec_req_u.v1.job = 4711;
    s_rec_res *res = a_get_s_rec_new_1(&req, alpha.get());
    ASSERT_NE(res, nullptr);
    ASSERT_EQ(res->record.vers, 1);
    const s_rec_v1 &rec = res->record.s_rec_new_u.v1;
    EXPECT_EQ(rec.job, 4711);
    EXPECT_EQ(rec.flags, 0x100);
    EXPECT_EQ(rec.state, -3);
    EXPECT_EQ(rec.retries, 2);
    EXPECT_EQ(tela::FieldText(rec.subject), "Subject");
    EXPECT_EQ(tela::FieldText(rec.recipient), "rcpt@example.org");
    EXPECT_EQ(tela::FieldText(rec.originator), "Bob <bob@example.org>");
    EXPECT_EQ(tela::FieldText(rec.status_text), "busy");
    EXPECT_EQ(OnlyCall(kAlpha, 137), Wire().u32(1).str11("ab").i32(4711).bytes());

    server->Reset();
    server->Answer(kAlpha, 72,
                   Wire()
                       .boolean(true)
                       .i32(3)
                       .present(true)
                       .present(true)
                       .present(true)
                       .present(false)
                       .opaque(101, "three")
                       .opaque(101, "two")
                       .opaque(101, "one"));
    log_req lr = {};
    SetText(lr.user, "ab");
    lr.job = 4711;
    lr.max_lines = 10;
    SetText(lr.language, "english_us.8859");
    log_res *log = a_get_log_1(&lr, alpha.get());
    ASSERT_NE(log, nullptr);
    std::string lines;
    for (text_line *t = log->lines; t; t = t->next)
        lines += std::string(tela::FieldText(t->text)) + ";";
    EXPECT_EQ(lines, "one;two;three;");
    EXPECT_EQ(log->next_line, 3);
    EXPECT_EQ(OnlyCall(kAlpha, 72),
              Wire().str11("ab").i16(0).i32(4711).i32(0).i32(10).str31("english_us.8859").bytes());
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_log_res), reinterpret_cast<char *>(log));
    EXPECT_EQ(log->lines, nullptr);
}

// A server may send far more lines than asked for: 100,000 of them decode without exhausting
// the stack (a routine that recursed per node would need far more than the thread's 8 MiB).
TEST_F(Stubs, HundredThousandLogLinesThroughTheStub)
{
    const int n = 100000;
    Wire w;
    w.boolean(true).i32(n).present(true);
    for (int i = 1; i < n; ++i)
        w.present(true);
    w.present(false);
    for (int i = n - 1; i >= 0; --i)
        w.opaque(101, std::to_string(i));
    server->Answer(kAlpha, 72, w);
    log_req lr = {};
    lr.max_lines = 10;
    log_res *log = a_get_log_1(&lr, alpha.get());
    ASSERT_NE(log, nullptr);
    int count = 0;
    bool order = true;
    for (text_line *t = log->lines; t; t = t->next, ++count)
        order = order && tela::FieldText(t->text) == std::to_string(count);
    EXPECT_EQ(count, n);
    EXPECT_TRUE(order);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_log_res), reinterpret_cast<char *>(log));
}

// ---- the stub family ------------------------------------------------------------------------

TEST_F(Stubs, NullHandleSendsNothing)
{
    route_req rq = {};
    rq.vers = 0;
    usrconf_new_req uq = {};
    uq.vers = 1;
    s_rec_req sq = {};
    sq.vers = 1;
    log_req lq = {};
    char id[11] = "x";
    EXPECT_EQ(a_get_compat_1(nullptr, nullptr), nullptr);
    EXPECT_EQ(a_apply_route_new_1(&rq, nullptr), nullptr);
    EXPECT_EQ(a_get_usrconf_new_1(&uq, nullptr), nullptr);
    EXPECT_EQ(a_get_s_rec_new_1(&sq, nullptr), nullptr);
    EXPECT_EQ(a_get_log_1(&lq, nullptr), nullptr);
    EXPECT_EQ(o_get_group_1(id, nullptr), nullptr);
    route_res rr;
    usrconf_new_res ur;
    EXPECT_EQ(a_apply_route_new_r1(nullptr, &rq, &rr), tela::kWrapperRpcError);
    EXPECT_EQ(a_get_usrconf_new_r1(nullptr, &uq, &ur), tela::kWrapperRpcError);
    EXPECT_TRUE(server->Calls().empty());
}

TEST_F(Stubs, EachCallStartsFromACleanResult)
{
    s_rec_req req = {};
    req.vers = 1;
    SetText(req.s_rec_req_u.v1.user, "ab");
    server->Answer(kAlpha, 137,
                   Wire().i16(0).u32(1).append(SRecV0(1)).append(SRecV1Tail("first sender", "first status")));
    s_rec_res *first = a_get_s_rec_new_1(&req, alpha.get());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(tela::FieldText(first->record.s_rec_new_u.v1.originator), "first sender");

    server->Reset();
    server->Answer(kAlpha, 137, Wire().i16(0).u32(0).append(SRecV0(2)));
    s_rec_res *second = a_get_s_rec_new_1(&req, alpha.get());
    ASSERT_EQ(second, first);
    EXPECT_EQ(second->record.vers, 0);
    EXPECT_EQ(second->record.s_rec_new_u.v0.job, 2);
    // the version-1 fields of the cleared object stay empty after a version-0 answer
    EXPECT_EQ(tela::FieldText(second->record.s_rec_new_u.v1.originator), "");
    EXPECT_EQ(tela::FieldText(second->record.s_rec_new_u.v1.status_text), "");
}

TEST_F(Stubs, FailuresGiveNoResult)
{
    route_req req = {};
    req.vers = 0;
    route_res mine = {};

    // procedure refused
    EXPECT_EQ(a_apply_route_new_1(&req, alpha.get()), nullptr);
    EXPECT_EQ(a_apply_route_new_r1(alpha.get(), &req, &mine), tela::kWrapperRpcError);

    // an answer with a version the client does not know
    server->Answer(kAlpha, 117, Wire().u32(2).str36("").str11("").str11("").str36("").i32(0).i16(0));
    EXPECT_EQ(a_apply_route_new_1(&req, alpha.get()), nullptr);
    EXPECT_EQ(a_apply_route_new_r1(alpha.get(), &req, &mine), tela::kWrapperRpcError);

    // an answer cut short in the middle of its list (what was decoded is released)
    server->Answer(kAlpha, 72,
                   Wire().boolean(true).i32(3).present(true).present(true).present(false).opaque(101, "two"));
    log_req lr = {};
    EXPECT_EQ(a_get_log_1(&lr, alpha.get()), nullptr);
}

// A request whose arm does not exist fails with RPC_CANTENCODEARGS and no answer is read. The
// library's stream still ends the record it began (call header and the fields before the failure
// reach the server, which may answer them), so the check is that the handle stays usable: the
// next call gets its own answer, not a late one for the refused request.
TEST_F(Stubs, RequestThatCannotBeEncodedFailsAndTheHandleStaysUsable)
{
    usrconf_new_req req = {};
    req.vers = 0;  // the only arm is 1
    usrconf_new_res res = {};
    EXPECT_EQ(a_get_usrconf_new_1(&req, alpha.get()), nullptr);
    EXPECT_EQ(a_get_usrconf_new_r1(alpha.get(), &req, &res), tela::kWrapperRpcError);
    struct rpc_err err;
    CLNT_GETERR(alpha.get(), &err);
    EXPECT_EQ(err.re_status, RPC_CANTENCODEARGS);

    server->Answer(kAlpha, 75, Wire().i32(1).i32(15));
    compat_rec *compat = a_get_compat_1(nullptr, alpha.get());
    ASSERT_NE(compat, nullptr);
    EXPECT_EQ(compat->level, 15);
}

TEST_F(Stubs, ConnectionClosedWithoutAnswer)
{
    server->Do(kAlpha, 75, Action::Close);
    EXPECT_EQ(a_get_compat_1(nullptr, alpha.get()), nullptr);
    route_req req = {};
    route_res mine;
    EXPECT_EQ(a_apply_route_new_r1(alpha.get(), &req, &mine), tela::kWrapperRpcError);
}

// Every stub of the called procedures reaches its own procedure number (written out here, not
// taken from the generated constants).
TEST_F(Stubs, ProcedureNumbers)
{
    static char id[11];
    static job_key jk;
    static log_line_rec llr;
    static user_key uk;
    static pageb_req pq;
    static pageb_rec pr;
    static log_req lq;
    static text_req tq;
    static usrconf_key uck;
    static usrconf_rec ucr;
    static route_req rq;
    static s_rec_req sq = {1, {}};
    static usrconf_new_req uq = {1, {}};
    static o_tab7_rec t7;
    static o_tab11_rec t11;
    static int num;
    static config_rec cr;
    static route_rec rr;
    static route_key rk;
    static o_tab102_rec t102;
    static o_tab102_key k102;
    static o_tab102_sel s102;
    static o_tab102_del d102;
    static o_key110 k110;
    const NumberRow rows[] = {
        {kAlpha, 3, [](CLIENT *c) -> void * { return a_create_job_1(id, c); }},
        {kAlpha, 20, [](CLIENT *c) -> void * { return a_get_pages_1(&jk, c); }},
        {kAlpha, 22, [](CLIENT *c) -> void * { return a_put_log_1(&llr, c); }},
        {kAlpha, 35, [](CLIENT *c) -> void * { return a_get_o_user_1(&uk, c); }},
        {kAlpha, 59, [](CLIENT *c) -> void * { return a_get_pageb_1(&pq, c); }},
        {kAlpha, 60, [](CLIENT *c) -> void * { return a_put_pageb_1(&pr, c); }},
        {kAlpha, 72, [](CLIENT *c) -> void * { return a_get_log_1(&lq, c); }},
        {kAlpha, 73, [](CLIENT *c) -> void * { return a_get_text_1(&tq, c); }},
        {kAlpha, 75, [](CLIENT *c) -> void * { return a_get_compat_1(nullptr, c); }},
        {kAlpha, 105, [](CLIENT *c) -> void * { return a_get_usrconf_1(&uck, c); }},
        {kAlpha, 106, [](CLIENT *c) -> void * { return a_put_usrconf_1(&ucr, c); }},
        {kAlpha, 117, [](CLIENT *c) -> void * { return a_apply_route_new_1(&rq, c); }},
        {kAlpha, 137, [](CLIENT *c) -> void * { return a_get_s_rec_new_1(&sq, c); }},
        {kAlpha, 144, [](CLIENT *c) -> void * { return a_get_usrconf_new_1(&uq, c); }},
        {kAlpha, 150, [](CLIENT *c) -> void * { return a_get_o_group_1(id, c); }},
        {kOmega, 7, [](CLIENT *c) -> void * { return o_put_tab7_1(&t7, c); }},
        {kOmega, 8, [](CLIENT *c) -> void * { return o_get_tab7_1(id, c); }},
        {kOmega, 9, [](CLIENT *c) -> void * { return o_list_tab7_1(nullptr, c); }},
        {kOmega, 10, [](CLIENT *c) -> void * { return o_del_tab7_1(id, c); }},
        {kOmega, 11, [](CLIENT *c) -> void * { return o_put_tab11_1(&t11, c); }},
        {kOmega, 12, [](CLIENT *c) -> void * { return o_get_tab11_1(id, c); }},
        {kOmega, 13, [](CLIENT *c) -> void * { return o_list_tab11_1(&num, c); }},
        {kOmega, 14, [](CLIENT *c) -> void * { return o_del_tab11_1(id, c); }},
        {kOmega, 32, [](CLIENT *c) -> void * { return o_get_group_1(id, c); }},
        {kOmega, 48, [](CLIENT *c) -> void * { return o_put_config_1(&cr, c); }},
        {kOmega, 49, [](CLIENT *c) -> void * { return o_get_config_1(id, c); }},
        {kOmega, 50, [](CLIENT *c) -> void * { return o_del_config_1(id, c); }},
        {kOmega, 71, [](CLIENT *c) -> void * { return o_get_compat_1(nullptr, c); }},
        {kOmega, 91, [](CLIENT *c) -> void * { return o_put_route_1(&rr, c); }},
        {kOmega, 92, [](CLIENT *c) -> void * { return o_get_route_1(&rk, c); }},
        {kOmega, 94, [](CLIENT *c) -> void * { return o_apply_route_new_1(&rq, c); }},
        {kOmega, 102, [](CLIENT *c) -> void * { return o_put_tab102_1(&t102, c); }},
        {kOmega, 103, [](CLIENT *c) -> void * { return o_get_tab102_1(&k102, c); }},
        {kOmega, 104, [](CLIENT *c) -> void * { return o_list_tab102_1(&s102, c); }},
        {kOmega, 105, [](CLIENT *c) -> void * { return o_del_tab102_1(&d102, c); }},
        {kOmega, 110, [](CLIENT *c) -> void * { return o_proc110_1(&k110, c); }},
    };
    ExpectProcedureNumbers(rows);
}

}  // namespace
