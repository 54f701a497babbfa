// Golden bytes of the records on the two programs' roads, of the gateway's omega records, and of
// the shapes that only the other procedures use (link-last and nested lists, selectors, the
// character fields and counted parts of interface B).
//
// The expected bytes come from Wire (test side), following each record's fields in wire order;
// the values come from filling the records by field name. Every field gets its own value (field n: text "vn",
// long n*65536+n, short -n), so two swapped fields or a field of the wrong kind show.
#include "wire.h"

#include "xdr/records.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace {

using namespace xdrtest;

// ---- values by field position ---------------------------------------------------------------

int32_t L(int n)
{
    return n * 65536 + n;
}
int16_t SH(int n)
{
    return static_cast<int16_t>(-n);
}
std::string T(int n)
{
    return std::string("v").append(std::to_string(n));
}

template <size_t N>
void SetS(char (&field)[N], int n)
{
    SetText(field, T(n));
}

// Field kinds, in wire order.
enum Kind { S11, S21, S31, S36, S81, LONG, SHORT, BOOL };

Wire Fields(std::initializer_list<Kind> kinds, int first = 1)
{
    Wire w;
    int n = first;
    for (Kind k : kinds) {
        switch (k) {
        case S11:
            w.str11(T(n));
            break;
        case S21:
            w.str21(T(n));
            break;
        case S31:
            w.str31(T(n));
            break;
        case S36:
            w.str36(T(n));
            break;
        case S81:
            w.str81(T(n));
            break;
        case LONG:
            w.i32(L(n));
            break;
        case SHORT:
            w.i16(SH(n));
            break;
        case BOOL:
            w.boolean(true);
            break;
        }
        ++n;
    }
    return w;
}

// ---- one case: a record filled by name and its expected bytes -------------------------------

struct Golden {
    std::string name;
    xdrproc_t proc;
    size_t size;
    std::function<void(void *)> fill;
    Wire want;
};

template <class T>
Golden Case(std::string name, bool_t (*proc)(XDR *, T *), std::function<void(T &)> fill, Wire want)
{
    return Golden{std::move(name), XPROC(proc), sizeof(T), [fill](void *p) { fill(*static_cast<T *>(p)); },
                  std::move(want)};
}

void FillSRec(s_rec &r)
{
    r.job = L(1);
    SetS(r.f2, 2);
    r.f3 = SH(3);
    r.flags = L(4);
    r.f5 = SH(5);
    SetS(r.subject, 6);
    r.submit_time = L(7);
    r.f8 = L(8);
    r.f9 = 1;
    r.last_attempt = L(10);
    r.f11 = SH(11);
    r.f12 = SH(12);
    r.f13 = L(13);
    r.state = SH(14);
    r.f15 = SH(15);
    r.retries = SH(16);
    SetS(r.f17, 17);
    SetS(r.recipient, 18);
    r.f19 = SH(19);
    r.f20 = L(20);
}

const std::initializer_list<Kind> kSRec = {LONG,  S11,   SHORT, LONG,  SHORT, S31,   LONG, LONG, BOOL,  LONG,
                                           SHORT, SHORT, LONG,  SHORT, SHORT, SHORT, S21,  S31,  SHORT, LONG};
const std::initializer_list<Kind> kSRecFrom2 = {S11,   SHORT, LONG,  SHORT, S31,  LONG,  LONG,
                                                BOOL,  LONG,  SHORT, SHORT, LONG, SHORT, SHORT,
                                                SHORT, S21,   S31,   SHORT, LONG};

void FillSRecV1(s_rec_v1 &r)
{
    r.job = L(1);
    SetS(r.f2, 2);
    r.f3 = SH(3);
    r.flags = L(4);
    r.f5 = SH(5);
    SetS(r.subject, 6);
    r.submit_time = L(7);
    r.f8 = L(8);
    r.f9 = 1;
    r.last_attempt = L(10);
    r.f11 = SH(11);
    r.f12 = SH(12);
    r.f13 = L(13);
    r.state = SH(14);
    r.f15 = SH(15);
    r.retries = SH(16);
    SetS(r.f17, 17);
    SetS(r.recipient, 18);
    r.f19 = SH(19);
    r.f20 = L(20);
    r.f21 = L(21);
    r.f22 = 1;
    SetS(r.f23, 23);
    r.f24 = L(24);
    SetS(r.f25, 25);
    SetS(r.originator, 26);
    SetS(r.f27, 27);
    SetS(r.status_text, 28);
    SetS(r.f29, 29);
    SetS(r.f30, 30);
    SetS(r.f31, 31);
    SetS(r.f32, 32);
    SetS(r.f33, 33);
}

const std::initializer_list<Kind> kSRecV1Tail = {LONG, BOOL, S11, LONG, S11, S81, S11,
                                                 S81,  S36,  S11, S11,  S36, S11};

void FillTab11(o_tab11_rec &r)
{
    SetS(r.id, 1);
    SetS(r.f2, 2);
    SetS(r.f3, 3);
    SetS(r.f4, 4);
    r.f5 = SH(5);
    SetS(r.f6, 6);
    SetS(r.f7, 7);
    r.f8 = L(8);
    SetS(r.f9, 9);
    r.f10 = L(10);
    r.f11 = L(11);
    SetS(r.f12, 12);
    SetS(r.f13, 13);
    SetS(r.f14, 14);
    r.f15 = SH(15);
    SetS(r.f16, 16);
    r.f17 = SH(17);
    SetS(r.f18, 18);
}

template <class V>
void FillTab102Common(V &r)
{
    SetS(r.id, 1);
    SetS(r.f2, 2);
    SetS(r.f3, 3);
    SetS(r.f4, 4);
    r.f5 = SH(5);
    SetS(r.f6, 6);
    SetS(r.f7, 7);
    r.f8 = L(8);
    SetS(r.f9, 9);
    SetS(r.f10, 10);
    r.f11 = L(11);
    SetS(r.f12, 12);
    SetS(r.f13, 13);
    SetS(r.f14, 14);
    r.f15 = SH(15);
    r.f16 = SH(16);
    r.f17 = SH(17);
    r.f18 = SH(18);
    SetS(r.f19, 19);
    r.f20 = L(20);
    SetS(r.f21, 21);
    SetS(r.f22, 22);
    SetS(r.f23, 23);
    SetS(r.f24, 24);
    r.f25 = SH(25);
    r.f26 = SH(26);
    r.f27 = L(27);
    SetS(r.f28, 28);
    SetS(r.f29, 29);
    SetS(r.f30, 30);
    SetS(r.f31, 31);
    r.f32 = L(32);
    r.f33 = L(33);
}

Wire Tab102(bool v1)
{
    Wire w;
    w.u32(v1 ? 1 : 0);
    w.append(Fields({S11, S36, S36, S11, SHORT, S11, S21, LONG, S31, S31, LONG, S31, S31, S81, SHORT, SHORT,
                     SHORT, SHORT}));
    w.append(Fields({v1 ? S21 : S11}, 19));
    w.append(Fields({LONG, S11, S81, S36, S11, SHORT, SHORT, LONG, S21, S21, S21, S21, LONG, LONG}, 20));
    if (v1)
        w.append(Fields({S21}, 34));
    return w;
}

std::vector<Golden> Cases()
{
    std::vector<Golden> c;
    // ---- dirprobe's road
    c.push_back(Case<compat_rec>(
        "compat_rec", xdr_compat_rec,
        [](compat_rec &r) {
            r.valid = 1;
            r.level = 16;
        },
        Wire().i32(1).i32(16)));
    c.push_back(Case<route_req>(
        "route_req v0", xdr_route_req,
        [](route_req &r) {
            r.vers = 0;
            SetText(r.route_req_u.v0.line_id, "4711");
        },
        Wire().u32(0).str11("4711").str21("")));
    c.push_back(Case<route_req>(
        "route_req v1", xdr_route_req,
        [](route_req &r) {
            r.vers = 1;
            SetText(r.route_req_u.v1.line_id, "12345678901234567890");
            SetText(r.route_req_u.v1.aux_id, "aux");
        },
        Wire().u32(1).str21("12345678901234567890").str21("aux")));
    c.push_back(Case<route_req>(
        "route_req v2", xdr_route_req,
        [](route_req &r) {
            r.vers = 2;
            SetText(r.route_req_u.v2.line_id, "4711");
            r.route_req_u.v2.full = 1;
        },
        Wire().u32(2).str21("4711").str21("").i32(1)));
    c.push_back(Case<route_res>(
        "route_res v0", xdr_route_res,
        [](route_res &r) {
            r.vers = 0;
            route_res_v0 &v = r.route_res_u.v0;
            SetS(v.server, 1);
            SetS(v.user, 2);
            SetS(v.group, 3);
            SetS(v.route_extra, 4);
            v.route_extra_value = L(5);
            v.ec = SH(6);
        },
        Wire().u32(0).append(Fields({S36, S11, S11, S36, LONG, SHORT}))));
    c.push_back(Case<route_res>(
        "route_res v1", xdr_route_res,
        [](route_res &r) {
            r.vers = 1;
            route_res_v1 &v = r.route_res_u.v1;
            SetS(v.route_id, 1);
            SetS(v.route_text, 2);
            SetS(v.line_id, 3);
            SetS(v.aux_id, 4);
            SetS(v.server, 5);
            SetS(v.user, 6);
            SetS(v.group, 7);
            SetS(v.route_extra, 8);
            v.route_extra_value = L(9);
            v.ec = SH(10);
        },
        Wire().u32(1).append(Fields({S11, S31, S21, S21, S36, S11, S11, S36, LONG, SHORT}))));
    c.push_back(Case<usrconf_new_req>(
        "usrconf_new_req v1", xdr_usrconf_new_req,
        [](usrconf_new_req &r) {
            r.vers = 1;
            SetText(r.usrconf_new_req_u.v1.user, "u0042");
            SetText(r.usrconf_new_req_u.v1.key, "GD_ACPTALL");
        },
        Wire().u32(1).str11("u0042").str31("GD_ACPTALL")));
    c.push_back(Case<usrconf_new_res>(
        "usrconf_new_res", xdr_usrconf_new_res,
        [](usrconf_new_res &r) {
            r.ec = 25;
            SetText(r.value, "Gr\xFC\xDF Gott");
        },
        Wire().i16(25).str81("Gr\xFC\xDF Gott")));
    c.push_back(Case<usrconf_key>(
        "usrconf_key", xdr_usrconf_key,
        [](usrconf_key &r) {
            SetS(r.user, 1);
            SetS(r.key, 2);
        },
        Fields({S11, S11})));
    c.push_back(Case<usrconf_rec>(
        "usrconf_rec", xdr_usrconf_rec,
        [](usrconf_rec &r) {
            SetS(r.user, 1);
            SetS(r.key, 2);
            SetS(r.value, 3);
        },
        Fields({S11, S11, S81})));
    c.push_back(Case<user_key>(
        "user_key", xdr_user_key,
        [](user_key &r) {
            SetS(r.server, 1);
            SetS(r.user, 2);
        },
        Fields({S36, S11})));
    c.push_back(Case<a_user_rec>(
        "a_user_rec", xdr_a_user_rec,
        [](a_user_rec &a) {
            user_rec &r = a.rec;
            SetS(r.server, 1);
            SetS(r.user, 2);
            SetS(r.name, 3);
            SetS(r.f4, 4);
            SetS(r.f5, 5);
            r.f6 = 1;
            SetS(r.f7, 7);
            r.f8 = SH(8);
        },
        Fields({S36, S11, S31, S36, S11, BOOL, S21, SHORT})));
    c.push_back(Case<group_rec>(
        "group_rec", xdr_group_rec,
        [](group_rec &r) {
            SetText(r.group_id, "g7");
            SetText(r.name, "Sales & <EU> \xC4rger");
        },
        Wire().str11("g7").str31("Sales & <EU> \xC4rger")));
    c.push_back(Case<pageb_req>(
        "pageb_req", xdr_pageb_req,
        [](pageb_req &r) {
            SetS(r.user, 1);
            r.kind = SH(2);
            r.job = L(3);
            r.page = SH(4);
            r.variant = SH(5);
            r.offset = L(6);
            r.max_bytes = L(7);
        },
        Fields({S11, SHORT, LONG, SHORT, SHORT, LONG, LONG})));
    static char hello[] = "hello";
    c.push_back(Case<pageb_res>(
        "pageb_res", xdr_pageb_res,
        [](pageb_res &r) {
            r.found = 1;
            r.count = 5;
            r.data.blob_len = 5;
            r.data.blob_val = hello;
        },
        Wire().boolean(true).i32(5).blob("hello")));
    // ---- mailtrack's road
    c.push_back(Case<s_rec_req>(
        "s_rec_req v1", xdr_s_rec_req,
        [](s_rec_req &r) {
            r.vers = 1;
            SetText(r.s_rec_req_u.v1.user, "ab");
            r.s_rec_req_u.v1.job = 4711;
        },
        Wire().u32(1).str11("ab").i32(4711)));
    c.push_back(Case<s_rec_res>(
        "s_rec_res v0", xdr_s_rec_res,
        [](s_rec_res &r) {
            r.final = SH(40);
            r.record.vers = 0;
            FillSRec(r.record.s_rec_new_u.v0);
        },
        Wire().i16(SH(40)).u32(0).append(Fields(kSRec))));
    c.push_back(Case<s_rec_res>(
        "s_rec_res v1", xdr_s_rec_res,
        [](s_rec_res &r) {
            r.final = 0;
            r.record.vers = 1;
            FillSRecV1(r.record.s_rec_new_u.v1);
        },
        Wire().i16(0).u32(1).append(Fields(kSRec)).append(Fields(kSRecV1Tail, 21))));
    c.push_back(Case<log_req>(
        "log_req", xdr_log_req,
        [](log_req &r) {
            SetS(r.user, 1);
            r.kind = SH(2);
            r.job = L(3);
            r.first_line = L(4);
            r.max_lines = L(5);
            SetText(r.language, "english_us.8859");
        },
        Fields({S11, SHORT, LONG, LONG, LONG}).str31("english_us.8859")));
    static text_line l3 = {nullptr, "third"}, l2 = {&l3, "second"}, l1 = {&l2, "first"};
    c.push_back(Case<log_res>(
        "log_res 3 lines", xdr_log_res,
        [](log_res &r) {
            r.ok = 1;
            r.next_line = 13;
            r.lines = &l1;
        },
        Wire()
            .boolean(true)
            .i32(13)
            .present(true)
            .present(true)
            .present(true)
            .present(false)
            .opaque(101, "third")
            .opaque(101, "second")
            .opaque(101, "first")));
    c.push_back(Case<log_res>(
        "log_res end", xdr_log_res,
        [](log_res &r) {
            r.ok = 1;
            r.next_line = 13;
        },
        Wire().boolean(true).i32(13).present(false)));
    // ---- job files, texts, greetings
    c.push_back(Case<job_key>(
        "job_key", xdr_job_key,
        [](job_key &r) {
            SetS(r.user, 1);
            r.kind = SH(2);
            r.job = L(3);
        },
        Fields({S11, SHORT, LONG})));
    c.push_back(Case<page_list>(
        "page_list", xdr_page_list,
        [](page_list &r) {
            r.count = 2;
            r.variants[0] = 0x4000;
            r.variants[1] = 0x10;
            r.variants[999] = -1;
        },
        [] {
            Wire w;
            w.i32(2).i32(0x4000).i32(0x10);
            for (int i = 2; i < 999; ++i)
                w.i32(0);
            return w.i32(-1);
        }()));
    static char key[] = "$EC_5:";
    c.push_back(Case<text_req>(
        "text_req", xdr_text_req,
        [](text_req &r) {
            SetText(r.language, "english_us.8859");
            r.key.blob_len = 7;
            r.key.blob_val = key;
        },
        Wire().str81("english_us.8859").blob(std::string_view("$EC_5:\0", 7))));
    static char abc[] = "abc";
    c.push_back(Case<log_line_rec>(
        "log_line_rec", xdr_log_line_rec,
        [](log_line_rec &r) {
            SetS(r.user, 1);
            r.kind = 2;
            r.job = L(3);
            r.line.blob_len = 4;
            r.line.blob_val = abc;
        },
        Wire().str11(T(1)).i16(2).i32(L(3)).u32(4).opaque(4, std::string_view("abc\0", 4))));
    static char piece[] = "\x01\x02\x03";
    c.push_back(Case<pageb_rec>(
        "pageb_rec", xdr_pageb_rec,
        [](pageb_rec &r) {
            SetS(r.user, 1);
            r.job = L(2);
            r.page = SH(3);
            r.variant = SH(4);
            r.offset = L(5);
            r.count = 3;
            r.data.blob_len = 3;
            r.data.blob_val = piece;
        },
        Fields({S11, LONG, SHORT, SHORT, LONG}).i32(3).blob("\x01\x02\x03")));
    // ---- the gateway's omega access
    c.push_back(Case<config_rec>(
        "config_rec", xdr_config_rec,
        [](config_rec &r) {
            SetText(r.key, "SMTPnative");
            SetText(r.value, "gwuser@alpha");
            r.f3 = 0;
        },
        Wire().str11("SMTPnative").str81("gwuser@alpha").boolean(false)));
    c.push_back(Case<o_tab7_rec>(
        "o_tab7_rec", xdr_o_tab7_rec,
        [](o_tab7_rec &r) {
            SetS(r.id, 1);
            SetS(r.f2, 2);
            r.f3 = SH(3);
            r.f4 = SH(4);
            r.f5 = L(5);
            r.f6 = L(6);
        },
        Fields({S11, S31, SHORT, SHORT, LONG, LONG})));
    c.push_back(Case<o_tab11_rec>("o_tab11_rec", xdr_o_tab11_rec, FillTab11,
                                  Fields({S11, S36, S36, S11, SHORT, S11, S21, LONG, S11, LONG, LONG, S31,
                                          S36, S11, SHORT, S31, SHORT, S81})));
    c.push_back(Case<o_tab102_rec>(
        "o_tab102_rec v0", xdr_o_tab102_rec,
        [](o_tab102_rec &r) {
            r.vers = 0;
            FillTab102Common(r.o_tab102_rec_u.v0);
        },
        Tab102(false)));
    c.push_back(Case<o_tab102_rec>(
        "o_tab102_rec v1", xdr_o_tab102_rec,
        [](o_tab102_rec &r) {
            r.vers = 1;
            FillTab102Common(r.o_tab102_rec_u.v1);
            SetS(r.o_tab102_rec_u.v1.f34, 34);
        },
        Tab102(true)));
    c.push_back(Case<o_tab102_key>(
        "o_tab102_key v0", xdr_o_tab102_key,
        [](o_tab102_key &r) {
            r.vers = 0;
            SetS(r.o_tab102_key_u.v0.id, 1);
        },
        Wire().u32(0).str11(T(1))));
    c.push_back(Case<o_key110>(
        "o_key110 v0", xdr_o_key110,
        [](o_key110 &r) {
            r.vers = 0;
            SetS(r.o_key110_u.v0.f1, 1);
        },
        Wire().u32(0).str11(T(1))));
    c.push_back(Case<route_rec_res>(
        "route_rec_res v0", xdr_route_rec_res,
        [](route_rec_res &r) {
            r.route.vers = 0;
            route_rec_v0 &v = r.route.route_rec_u.v0;
            SetS(v.route_id, 1);
            SetS(v.route_text, 2);
            SetS(v.line_id, 3);
            SetS(v.aux_id, 4);
            SetS(v.server, 5);
            SetS(v.user, 6);
            SetS(v.group, 7);
            SetS(v.route_extra, 8);
            v.route_extra_value = L(9);
            r.ec = SH(10);
        },
        Wire().u32(0).append(Fields({S11, S31, S11, S21, S36, S11, S11, S36, LONG, SHORT}))));
    c.push_back(Case<route_rec>(
        "route_rec v1", xdr_route_rec,
        [](route_rec &r) {
            r.vers = 1;
            route_rec_v1 &v = r.route_rec_u.v1;
            SetS(v.route_id, 1);
            SetS(v.route_text, 2);
            SetS(v.line_id, 3);
            SetS(v.aux_id, 4);
            SetS(v.server, 5);
            SetS(v.user, 6);
            SetS(v.group, 7);
            SetS(v.route_extra, 8);
            v.route_extra_value = L(9);
        },
        Wire().u32(1).append(Fields({S11, S31, S21, S21, S36, S11, S11, S36, LONG}))));
    static o_tab7_node t2 = {nullptr, {}}, t1 = {&t2, {}};
    c.push_back(Case<o_tab7_list>(
        "o_tab7_list 2 nodes", xdr_o_tab7_list,
        [](o_tab7_list &r) {
            SetText(t1.entry.id, "first");
            SetText(t2.entry.id, "second");
            r.count = 2;
            r.first = &t1;
        },
        Wire()
            .i32(2)
            .present(true)
            .present(true)
            .present(false)
            .str11("second")
            .str31("")
            .u32(0)
            .u32(0)
            .u32(0)
            .u32(0)
            .str11("first")
            .str31("")
            .u32(0)
            .u32(0)
            .u32(0)
            .u32(0)));
    static s_rec_v0_node s2 = {{}, nullptr}, s1 = {{}, &s2};
    c.push_back(Case<s_rec_list>(
        "s_rec_list 2 nodes, link last", xdr_s_rec_list,
        [](s_rec_list &r) {
            FillSRec(s1.entry);
            FillSRec(s2.entry);
            s2.entry.job = 2;
            r.f1 = 2;
            r.first = &s1;
        },
        Wire()
            .i32(2)
            .present(true)
            .append(Fields(kSRec))
            .present(true)
            .i32(2)
            .append(Fields(kSRecFrom2, 2))
            .present(false)));
    // a link-last list in the middle of a record: body, presence, body, presence, 0
    static o_p114_node p2 = {{}, 0, 0, nullptr}, p1 = {{}, 0, 0, &p2};
    c.push_back(Case<o_p114_res>(
        "o_p114_res v1 2 nodes, link last", xdr_o_p114_res,
        [](o_p114_res &r) {
            r.vers = 1;
            o_p114_res_v1 &v = r.o_p114_res_u.v1;
            v.f1 = SH(1);
            v.f2 = SH(2);
            v.f3 = L(3);
            v.f4 = v.f5 = v.f6 = v.f7 = 1;
            v.f8 = SH(8);
            v.f9 = SH(9);
            v.f10 = SH(10);
            v.f11 = SH(11);
            v.f12 = SH(12);
            v.f13 = SH(13);
            SetText(p1.f1, "first");
            p1.f2 = L(20);
            p1.f3 = L(21);
            SetText(p2.f1, "second");
            p2.f2 = L(22);
            p2.f3 = L(23);
            v.first = &p1;
            v.f15 = L(15);
            v.f16 = L(16);
            v.f17 = 1;
            v.f18 = 1;
        },
        Wire()
            .u32(1)
            .append(Fields(
                {SHORT, SHORT, LONG, BOOL, BOOL, BOOL, BOOL, SHORT, SHORT, SHORT, SHORT, SHORT, SHORT}))
            .present(true)
            .str11("first")
            .i32(L(20))
            .i32(L(21))
            .present(true)
            .str11("second")
            .i32(L(22))
            .i32(L(23))
            .present(false)
            .append(Fields({LONG, LONG, BOOL, BOOL}, 15))));
    // nested lists: each node of the outer list carries a list of its own after its name
    static str11_node m2 = {nullptr, {}}, m1 = {&m2, {}};
    static o_p53_node g2 = {nullptr, {}, nullptr}, g1 = {&g2, {}, &m1};
    c.push_back(Case<o_p53_res>(
        "o_p53_res nested lists", xdr_o_p53_res,
        [](o_p53_res &r) {
            SetText(m1.name, "m1");
            SetText(m2.name, "m2");
            SetText(g1.name, "g1");
            SetText(g2.name, "g2");
            r.first = &g1;
            r.f2 = 1;
        },
        Wire()
            .present(true)
            .present(true)
            .present(false)
            .str36("g2")
            .present(false)
            .str36("g1")
            .present(true)
            .present(true)
            .present(false)
            .str11("m2")
            .str11("m1")
            .boolean(true)));
    // a selector whose arm 0 is a plain short, and its widest arm
    c.push_back(Case<a_p114_arg>(
        "a_p114_arg sel arm 0", xdr_a_p114_arg,
        [](a_p114_arg &r) {
            r.f1 = L(1);
            r.f2 = L(2);
            r.f3 = SH(3);
            r.f4 = SH(4);
            r.sel.vers = 0;
            r.sel.a_p114_sel_u.v0 = SH(6);
        },
        Fields({LONG, LONG, SHORT, SHORT}).u32(0).i16(SH(6))));
    c.push_back(Case<a_p115_arg>(
        "a_p115_arg sel arm 4", xdr_a_p115_arg,
        [](a_p115_arg &r) {
            r.f1 = L(1);
            r.f2 = L(2);
            r.f3 = SH(3);
            r.f4 = 1;
            r.sel.vers = 4;
            SetS(r.sel.a_p114_sel_u.v4.f1, 6);
        },
        Fields({LONG, LONG, SHORT, BOOL}).u32(4).str11(T(6))));
    c.push_back(Case<a_p90_arg>(
        "a_p90_arg", xdr_a_p90_arg,
        [](a_p90_arg &r) {
            SetS(r.f1, 1);
            SetS(r.f2, 2);
            SetS(r.f3, 3);
            for (int i = 0; i < 10; ++i)
                SetS(r.f4[i], 4 + i);
        },
        Fields({S36, S11, S11, S81, S81, S81, S81, S81, S81, S81, S81, S81, S81})));
    // a list of versioned records, one node of the short arm
    static a_p1009_node n1 = {nullptr, {}};
    c.push_back(Case<a_p1009_res>(
        "a_p1009_res 1 node of arm 1", xdr_a_p1009_res,
        [](a_p1009_res &r) {
            n1.entry.vers = 1;
            SetS(n1.entry.a_p1009_rec_u.v1.f1, 1);
            r.first = &n1;
            r.f2 = L(2);
            r.f3 = SH(3);
        },
        Wire().present(true).present(false).u32(1).str81(T(1)).i32(L(2)).i16(SH(3))));
    // interface B: character fields widened with their sign, like the fixed strings
    c.push_back(Case<xb_p2_arg>(
        "xb_p2_arg", xdr_xb_p2_arg,
        [](xb_p2_arg &r) {
            SetText(r.f1, "\xE9t\xE9");
            r.f2 = L(2);
            r.f3 = L(3);
            r.f4 = L(4);
            r.f5 = L(5);
            SetText(r.f6, "text");
            r.f7 = L(7);
            r.f8 = L(8);
            r.f9 = L(9);
            r.f10 = L(10);
        },
        Wire()
            .str(11, "\xE9t\xE9")
            .append(Fields({LONG, LONG, LONG, LONG}, 2))
            .str(121, "text")
            .append(Fields({LONG, LONG, LONG, LONG}, 7))));
    static xb_item items[2] = {};
    c.push_back(Case<xb_item_array>(
        "xb_item_array 2 items", xdr_xb_item_array,
        [](xb_item_array &r) {
            items[0].f1 = L(1);
            SetText(items[0].f4.text, "n1");
            SetText(items[0].f5.text, "\xFC");
            items[1].f3 = L(3);
            SetText(items[1].f4.text, "n2");
            r.xb_item_array_len = 2;
            r.xb_item_array_val = items;
        },
        Wire()
            .u32(2)
            .i32(L(1))
            .i32(0)
            .i32(0)
            .str(64, "n1")
            .str(64, "\xFC")
            .i32(0)
            .i32(0)
            .i32(L(3))
            .str(64, "n2")
            .str(64, "")));
    c.push_back(Case<xb_string_rec>(
        "xb_string_rec", xdr_xb_string_rec,
        [](xb_string_rec &r) {
            r.f1 = const_cast<char *>("abcde");
            r.f2 = L(2);
            r.f3 = L(3);
        },
        Wire().blob("abcde").i32(L(2)).i32(L(3))));
    return c;
}

TEST(GoldenBytes, EncodeGivesTheTableBytes)
{
    for (const Golden &g : Cases()) {
        SCOPED_TRACE(g.name);
        std::unique_ptr<char[]> obj(new char[g.size]());
        g.fill(obj.get());
        Bytes got;
        ASSERT_TRUE(Encode(g.proc, obj.get(), &got));
        EXPECT_EQ(got, g.want.bytes()) << "first difference at " << FirstDifference(got, g.want.bytes())
                                       << "\n got " << Hex(got).substr(0, 400);
    }
}

TEST(GoldenBytes, DecodeGivesTheFilledRecord)
{
    for (const Golden &g : Cases()) {
        SCOPED_TRACE(g.name);
        std::unique_ptr<char[]> back(new char[g.size]());
        u_int used = 0;
        ASSERT_TRUE(Decode(g.proc, back.get(), g.want.bytes(), &used));
        EXPECT_EQ(used, g.want.size());
        // Same bytes out again: every field landed where the filled record has it.
        Bytes again;
        ASSERT_TRUE(Encode(g.proc, back.get(), &again));
        EXPECT_EQ(again, g.want.bytes());
        xdr_free(g.proc, back.get());
    }
}

}  // namespace
