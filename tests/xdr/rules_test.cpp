// The wire rules of the records as one table (sign widening, bool normalisation, shorts,
// unions with an unknown version, counted bytes and their bound, list order in both
// directions, texts without a terminator), then answers cut short and very long lists.
#include "wire.h"

#include "xdr/fieldtext.h"
#include "xdr/lists.h"
#include "xdr/records.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "testsupport.h"

namespace {

using namespace xdrtest;

// ---- the rule table -------------------------------------------------------------------------

struct Rule {
    std::string name;
    xdrproc_t proc;
    size_t size;
    // Encoding rules fill the record; decoding rules give the input bytes.
    std::function<void(void *)> fill;
    Bytes input;
    bool ok;                            // the routine succeeds
    Bytes want;                         // encoding: the expected bytes (when ok)
    std::function<void(void *)> check;  // decoding: what the record must hold
};

template <class T>
Rule Enc(std::string name, bool_t (*proc)(XDR *, T *), std::function<void(T &)> fill, bool ok,
         Wire want = Wire())
{
    return Rule{
        std::move(name), XPROC(proc), sizeof(T), [fill](void *p) { fill(*static_cast<T *>(p)); }, {}, ok,
        want.bytes(),    nullptr};
}

template <class T>
Rule Dec(std::string name, bool_t (*proc)(XDR *, T *), Wire input, bool ok,
         std::function<void(T &)> check = nullptr)
{
    Rule r{std::move(name), XPROC(proc), sizeof(T), nullptr, input.bytes(), ok, {}, nullptr};
    if (check)
        r.check = [check](void *p) { check(*static_cast<T *>(p)); };
    return r;
}

// One str11 unit per character, in raw units (the upper bytes as given).
Wire Units(std::initializer_list<uint32_t> units, size_t pad_to = 0)
{
    Wire w;
    size_t n = 0;
    for (uint32_t u : units) {
        w.u32(u);
        ++n;
    }
    for (; n < pad_to; ++n)
        w.u32(0);
    return w;
}

Wire SRecBody(int job, uint32_t boolUnit = 0)
{
    Wire w;
    w.i32(job).str11("").i16(0).i32(0).i16(0).str31("").i32(0).i32(0).u32(boolUnit).i32(0);
    w.i16(0).i16(0).i32(0).i16(0).i16(0).i16(0).str21("").str31("").i16(0).i32(0);
    return w;
}

std::vector<Rule> Rules()
{
    std::vector<Rule> r;
    // fixed strings: all characters travel, widened with their sign
    r.push_back(Enc<group_rec>(
        "str11 AB then nine zero units", xdr_group_rec, [](group_rec &g) { SetText(g.group_id, "AB"); }, true,
        Units({0x41, 0x42}, 11).str31("")));
    r.push_back(Enc<group_rec>(
        "0xFC and 0xE4 go out as FFFFFFxx", xdr_group_rec,
        [](group_rec &g) { SetText(g.group_id, "\xFC\xE4\x7F"); }, true,
        Units({0xFFFFFFFC, 0xFFFFFFE4, 0x7F}, 11).str31("")));
    r.push_back(Enc<group_rec>(
        "characters behind the terminator travel too", xdr_group_rec,
        [](group_rec &g) { SetText(g.group_id, std::string_view("A\0\xE9", 3)); }, true,
        Units({0x41, 0, 0xFFFFFFE9}, 11).str31("")));
    r.push_back(Dec<group_rec>("000000FC, FFFFFFFC and 123456E4 keep the low byte", xdr_group_rec,
                               Units({0xFC, 0xFFFFFFFC, 0x123456E4}, 11).str31(""), true, [](group_rec &g) {
                                   EXPECT_EQ(static_cast<uint8_t>(g.group_id[0]), 0xFC);
                                   EXPECT_EQ(static_cast<uint8_t>(g.group_id[1]), 0xFC);
                                   EXPECT_EQ(static_cast<uint8_t>(g.group_id[2]), 0xE4);
                               }));
    r.push_back(Dec<group_rec>("a string without terminator is kept as it came", xdr_group_rec,
                               Wire().str11("ABCDEFGHIJK").str31("0123456789012345678901234567890"), true,
                               [](group_rec &g) {
                                   EXPECT_EQ(tela::FieldText(g.group_id), "ABCDEFGHIJK");
                                   EXPECT_EQ(tela::FieldText(g.name), "0123456789012345678901234567890");
                               }));
    // shorts
    r.push_back(Enc<usrconf_new_res>(
        "short -2 is FFFFFFFE", xdr_usrconf_new_res, [](usrconf_new_res &u) { u.ec = -2; }, true,
        Wire().u32(0xFFFFFFFE).str81("")));
    r.push_back(Dec<usrconf_new_res>("unit 00010005 gives the short 5", xdr_usrconf_new_res,
                                     Wire().u32(0x00010005).str81(""), true,
                                     [](usrconf_new_res &u) { EXPECT_EQ(u.ec, 5); }));
    // bools inside records with runs of simple fields
    r.push_back(Enc<s_rec>(
        "bool 7 inside s_rec goes out as 1", xdr_s_rec, [](s_rec &s) { s.f9 = 7; }, true, SRecBody(0, 1)));
    r.push_back(Enc<config_rec>(
        "bool -1 inside config_rec goes out as 1", xdr_config_rec, [](config_rec &c) { c.f3 = -1; }, true,
        Wire().str11("").str81("").u32(1)));
    r.push_back(Enc<a_user_rec>(
        "bool 7 inside user_rec goes out as 1", xdr_a_user_rec, [](a_user_rec &u) { u.rec.f6 = 7; }, true,
        Wire().str36("").str11("").str31("").str36("").str11("").u32(1).str21("").i16(0)));
    r.push_back(Dec<s_rec>("bool unit 9 inside s_rec decodes as 1", xdr_s_rec, SRecBody(0, 9), true,
                           [](s_rec &s) { EXPECT_EQ(s.f9, 1); }));
    r.push_back(Dec<pageb_res>("found FFFFFFFF decodes as 1", xdr_pageb_res,
                               Wire().u32(0xFFFFFFFF).i32(0).u32(0), true,
                               [](pageb_res &p) { EXPECT_EQ(p.found, 1); }));
    r.push_back(Dec<log_res>("ok 9 decodes as 1", xdr_log_res, Wire().u32(9).i32(0).u32(0), true,
                             [](log_res &l) { EXPECT_EQ(l.ok, 1); }));
    // longs are signed 32-bit values
    r.push_back(Dec<compat_rec>("FFFFFFFF is the long -1", xdr_compat_rec,
                                Wire().u32(0xFFFFFFFF).u32(0x80000000), true, [](compat_rec &c) {
                                    EXPECT_EQ(c.valid, -1);
                                    EXPECT_EQ(c.level, INT32_MIN);
                                }));
    // unions: no default arm
    r.push_back(Dec<route_res>(
        "route_res version 2 fails to decode", xdr_route_res,
        Wire().u32(2).append(Wire().str36("").str11("").str11("").str36("").i32(0).i16(0)), false));
    r.push_back(Enc<route_req>(
        "route_req version 3 fails to encode", xdr_route_req, [](route_req &q) { q.vers = 3; }, false));
    r.push_back(Enc<usrconf_new_req>(
        "usrconf_new_req version 0 fails to encode", xdr_usrconf_new_req,
        [](usrconf_new_req &q) { q.vers = 0; }, false));
    r.push_back(Dec<usrconf_new_req>("usrconf_new_req version 0 fails to decode", xdr_usrconf_new_req,
                                     Wire().u32(0).str11("").str31(""), false));
    r.push_back(Enc<s_rec_req>(
        "s_rec_req version 0 fails to encode", xdr_s_rec_req, [](s_rec_req &q) { q.vers = 0; }, false));
    r.push_back(Dec<s_rec_res>("s_rec_res with record version 2 fails", xdr_s_rec_res,
                               Wire().i16(0).u32(2).append(SRecBody(1)), false));
    r.push_back(Enc<o_key110>(
        "o_key110 version 1 fails to encode", xdr_o_key110, [](o_key110 &k) { k.vers = 1; }, false));
    r.push_back(Dec<o_tab102_res>("o_tab102_res with version 5 fails", xdr_o_tab102_res, Wire().u32(5).i16(0),
                                  false));
    // counted bytes
    static char bytes81[81] = {};
    r.push_back(Enc<blob80>(
        "blob80 of 81 bytes fails to encode", xdr_blob80,
        [](blob80 &b) {
            b.blob80_len = 81;
            b.blob80_val = bytes81;
        },
        false));
    r.push_back(Enc<blob80>(
        "blob80 of 80 bytes encodes", xdr_blob80,
        [](blob80 &b) {
            b.blob80_len = 80;
            b.blob80_val = bytes81;
        },
        true, Wire().blob(std::string(80, '\0'))));
    r.push_back(Dec<blob80>("blob80 of length 81 fails to decode", xdr_blob80,
                            Wire().blob(std::string(81, 'x')), false));
    static char five[] = "12345";
    r.push_back(Enc<blob>(
        "blob of 5 bytes is 12 bytes", xdr_blob,
        [](blob &b) {
            b.blob_len = 5;
            b.blob_val = five;
        },
        true, Wire().u32(5).opaque(5, "12345")));
    r.push_back(Enc<blob>(
        "empty blob is one unit", xdr_blob, [](blob &) {}, true, Wire().u32(0)));
    r.push_back(Dec<pageb_res>("a blob decodes into exactly its bytes", xdr_pageb_res,
                               Wire().boolean(true).i32(3).blob("xyz"), true, [](pageb_res &p) {
                                   ASSERT_EQ(p.data.blob_len, 3u);
                                   EXPECT_EQ(std::string(p.data.blob_val, 3), "xyz");
                               }));
    r.push_back(Dec<pageb_res>("empty blob allocates nothing", xdr_pageb_res,
                               Wire().boolean(true).i32(0).u32(0), true,
                               [](pageb_res &p) { EXPECT_EQ(p.data.blob_val, nullptr); }));
    // fixed opaque
    r.push_back(Enc<text_line>(
        "opaque101 is 104 bytes, the last three zero", xdr_text_line,
        [](text_line &t) { std::memset(t.text, 'x', sizeof t.text); }, true,
        Wire().present(false).opaque(101, std::string(101, 'x'))));
    r.push_back(Dec<log_res>(
        "a log line of 101 characters has no terminator", xdr_log_res,
        Wire().boolean(true).i32(1).present(true).present(false).opaque(101, std::string(101, 'y')), true,
        [](log_res &l) {
            ASSERT_NE(l.lines, nullptr);
            EXPECT_EQ(tela::FieldText(l.lines->text), std::string(101, 'y'));
        }));
    // lists
    r.push_back(Dec<log_res>("an empty list is the single unit 0", xdr_log_res,
                             Wire().boolean(true).i32(7).present(false), true,
                             [](log_res &l) { EXPECT_EQ(l.lines, nullptr); }));
    r.push_back(Dec<log_res>("link first: presence units, then bodies last to first", xdr_log_res,
                             Wire()
                                 .boolean(true)
                                 .i32(3)
                                 .present(true)
                                 .present(true)
                                 .present(true)
                                 .present(false)
                                 .opaque(101, "R")
                                 .opaque(101, "Q")
                                 .opaque(101, "P"),
                             true, [](log_res &l) {
                                 std::string order;
                                 for (text_line *t = l.lines; t; t = t->next)
                                     order += tela::FieldText(t->text);
                                 EXPECT_EQ(order, "PQR");
                             }));
    r.push_back(Dec<s_rec_list>("link last: body, presence, body ... in sender's order", xdr_s_rec_list,
                                Wire()
                                    .i32(3)
                                    .present(true)
                                    .append(SRecBody(1))
                                    .present(true)
                                    .append(SRecBody(2))
                                    .present(true)
                                    .append(SRecBody(3))
                                    .present(false),
                                true, [](s_rec_list &l) {
                                    std::vector<int> jobs;
                                    for (s_rec_v0_node *n = l.first; n; n = n->next)
                                        jobs.push_back(n->entry.job);
                                    EXPECT_EQ(jobs, (std::vector<int>{1, 2, 3}));
                                }));
    r.push_back(
        Dec<a_p112_res>("a list at the front of its record", xdr_a_p112_res,
                        Wire().present(true).present(false).str11("u").str11("k").str81("val").i32(4).i16(5),
                        true, [](a_p112_res &a) {
                            ASSERT_NE(a.first, nullptr);
                            EXPECT_EQ(tela::FieldText(a.first->value), "val");
                            EXPECT_EQ(a.f2, 4);
                            EXPECT_EQ(a.f3, 5);
                        }));
    // selectors and unions of the other procedures
    r.push_back(Enc<a_p114_sel>(
        "a_p114_sel version 5 has no arm", xdr_a_p114_sel, [](a_p114_sel &u) { u.vers = 5; }, false));
    r.push_back(Dec<a_p114_sel>("a_p114_sel version 5 answer", xdr_a_p114_sel, Wire().u32(5).i16(1), false));
    r.push_back(Dec<a_p114_sel>("a_p114_sel arm 0: a short from its low 16 bits", xdr_a_p114_sel,
                                Wire().u32(0).u32(0x00010005), true,
                                [](a_p114_sel &u) { EXPECT_EQ(u.a_p114_sel_u.v0, 5); }));
    r.push_back(Dec<o_p114_res>("o_p114_res version 0 (only arm 1 exists)", xdr_o_p114_res,
                                Wire().u32(0).u32(0).u32(0), false));
    r.push_back(Enc<a_p1010_arg>(
        "a_p1010_arg version 0 (only arm 1 exists)", xdr_a_p1010_arg, [](a_p1010_arg &u) { u.vers = 0; },
        false));
    r.push_back(Dec<o_tab97_key>("o_tab97_key version 4", xdr_o_tab97_key,
                                 Wire().u32(4).str11("").str81("").boolean(false).i32(0), false));
    r.push_back(Dec<o_tab107_sel>("o_tab107_sel version 3", xdr_o_tab107_sel,
                                  Wire().u32(3).i16(0).i32(0).str21("").i32(0), false));
    // interface B's character fields: the upper 24 bits of a unit are ignored
    r.push_back(Enc<xb_id11>(
        "xb_id11 0xE9 goes out widened with its sign", xdr_xb_id11, [](xb_id11 &v) { v.id[0] = '\xE9'; },
        true, Wire().str(11, "\xE9")));
    r.push_back(Dec<xb_id_flag>("xb_id_flag 00 00 00 E9 and FF FF FF E9", xdr_xb_id_flag,
                                Wire().u32(0xE9).u32(0xFFFFFFE9).append(Wire().str(9, "")).u32(5), true,
                                [](xb_id_flag &v) {
                                    EXPECT_EQ(static_cast<unsigned char>(v.f1.id[0]), 0xE9);
                                    EXPECT_EQ(static_cast<unsigned char>(v.f1.id[1]), 0xE9);
                                    EXPECT_EQ(v.f2, 1);
                                }));
    // counted parts of interface B: a count is checked before anything is allocated
    r.push_back(Dec<xb_item_array>("xb_item_array of 0 items allocates nothing", xdr_xb_item_array,
                                   Wire().u32(0), true, [](xb_item_array &a) {
                                       EXPECT_EQ(a.xb_item_array_len, 0u);
                                       EXPECT_EQ(a.xb_item_array_val, nullptr);
                                   }));
    r.push_back(Dec<xb_item_array>("xb_item_array counting more than 16 MiB of items", xdr_xb_item_array,
                                   Wire().u32(32018), false));
    r.push_back(Dec<xb_item_array>("xb_item_array with a 12-byte answer asking for 4 GiB", xdr_xb_item_array,
                                   Wire().u32(0xFFFFFFF0u).u32(0).u32(0), false));
    r.push_back(
        Dec<xb_string>("xb_string longer than 16 MiB", xdr_xb_string, Wire().u32((16u << 20) + 1), false));
    r.push_back(Dec<xb_string_rec>("xb_string_rec: the text is terminated", xdr_xb_string_rec,
                                   Wire().blob("abc").i32(1).i32(2), true, [](xb_string_rec &v) {
                                       ASSERT_NE(v.f1, nullptr);
                                       EXPECT_STREQ(v.f1, "abc");
                                       EXPECT_EQ(v.f3, 2);
                                   }));
    r.push_back(Dec<o_tab67_rec>(
        "o_tab67_rec: the ten names of its vector in order", xdr_o_tab67_rec,
        [] {
            Wire w;
            w.str11("id").str31("").str36("").str11("").str11("").opaque(3, "ab").i16(7);
            for (int i = 0; i < 10; ++i)
                w.str31(std::string("n").append(std::to_string(i)));
            return w.str81("x").str81("y");
        }(),
        true,
        [](o_tab67_rec &v) {
            EXPECT_EQ(tela::FieldText(v.f8[0]), "n0");
            EXPECT_EQ(tela::FieldText(v.f8[9]), "n9");
            EXPECT_EQ(v.f6[1], 'b');
            EXPECT_EQ(v.f7, 7);
            EXPECT_EQ(tela::FieldText(v.f10), "y");
        }));
    return r;
}

TEST(WireRules, Table)
{
    std::vector<Rule> rules = Rules();
    for (size_t i = 0; i < rules.size(); ++i) {
        const Rule &rule = rules[i];
        SCOPED_TRACE("rule " + std::to_string(i) + ": " + rule.name);
        std::unique_ptr<char[]> obj(new char[rule.size]());
        if (rule.fill) {
            rule.fill(obj.get());
            Bytes got;
            EXPECT_EQ(Encode(rule.proc, obj.get(), &got), rule.ok);
            if (rule.ok) {
                EXPECT_EQ(got, rule.want) << FirstDifference(got, rule.want);
            }
        } else {
            EXPECT_EQ(Decode(rule.proc, obj.get(), rule.input), rule.ok);
            if (rule.ok && rule.check)
                rule.check(obj.get());
            xdr_free(rule.proc, obj.get());
        }
    }
}

TEST(WireRules, FreeReleasesListsAndNullsPointers)
{
    log_res res = {};
    Wire w;
    w.boolean(true).i32(3).present(true).present(true).present(true).present(false);
    w.opaque(101, "c").opaque(101, "b").opaque(101, "a");
    ASSERT_TRUE(Decode(XPROC(xdr_log_res), &res, w.bytes()));
    ASSERT_NE(res.lines, nullptr);
    xdr_free(XPROC(xdr_log_res), reinterpret_cast<char *>(&res));
    EXPECT_EQ(res.lines, nullptr);
    EXPECT_EQ(res.next_line, 3);  // plain fields stay

    pageb_res page = {};
    ASSERT_TRUE(Decode(XPROC(xdr_pageb_res), &page, Wire().boolean(true).i32(2).blob("ab").bytes()));
    xdr_free(XPROC(xdr_pageb_res), reinterpret_cast<char *>(&page));
    EXPECT_EQ(page.data.blob_val, nullptr);
    EXPECT_EQ(page.data.blob_len, 2u);  // counted lengths stay
}

// ---- answers cut short ----------------------------------------------------------------------

struct Answer {
    const char *name;
    xdrproc_t proc;
    size_t size;
    Wire wire;
};

std::vector<Answer> ListAnswers()
{
    std::vector<Answer> a;
    a.push_back({"log_res 3 lines", XPROC(xdr_log_res), sizeof(log_res),
                 Wire()
                     .boolean(true)
                     .i32(3)
                     .present(true)
                     .present(true)
                     .present(true)
                     .present(false)
                     .opaque(101, "c")
                     .opaque(101, "b")
                     .opaque(101, "a")});
    a.push_back(
        {"s_rec_list 2 nodes", XPROC(xdr_s_rec_list), sizeof(s_rec_list),
         Wire().i32(2).present(true).append(SRecBody(1)).present(true).append(SRecBody(2)).present(false)});
    a.push_back({"pageb_res", XPROC(xdr_pageb_res), sizeof(pageb_res),
                 Wire().boolean(true).i32(9).blob("123456789")});
    a.push_back({"a_p146_res 2 nodes", XPROC(xdr_a_p146_res), sizeof(a_p146_res),
                 Wire()
                     .i16(0)
                     .i32(2)
                     .present(true)
                     .present(true)
                     .present(false)
                     .u32(1)
                     .str11("u2")
                     .str31("k2")
                     .str81("v2")
                     .u32(1)
                     .str11("u1")
                     .str31("k1")
                     .str81("v1")});
    a.push_back({"s_rec_res v1", XPROC(xdr_s_rec_res), sizeof(s_rec_res), [] {
                     Wire w;
                     w.i16(0).u32(1).append(SRecBody(5));
                     w.i32(0).u32(0).str11("").i32(0).str11("").str81("from").str11("").str81("st");
                     w.str36("").str11("").str11("").str36("").str11("");
                     return w;
                 }()});
    a.push_back({"o_tab102_list 1 node", XPROC(xdr_o_tab102_list), sizeof(o_tab102_list), [] {
                     Wire w;
                     w.i32(1).present(true).present(false).u32(0);
                     for (int i = 0; i < 2312 / 4; ++i)
                         w.u32(0);
                     return w.i16(0);
                 }()});
    a.push_back({"o_p53_res nested lists", XPROC(xdr_o_p53_res), sizeof(o_p53_res),
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
                     .boolean(true)});
    a.push_back({"o_p114_res v1 2 nodes, link last", XPROC(xdr_o_p114_res), sizeof(o_p114_res), [] {
                     Wire w;
                     w.u32(1);
                     for (int i = 0; i < 13; ++i)
                         w.u32(0);
                     w.present(true).str11("a").i32(1).i32(2).present(true).str11("b").i32(3).i32(4).present(
                         false);
                     return w.i32(0).i32(0).boolean(false).boolean(false);
                 }()});
    a.push_back(
        {"xb_item_array 2 items", XPROC(xdr_xb_item_array), sizeof(xb_item_array),
         Wire().u32(2).i32(1).i32(2).i32(3).str(64, "a").str(64, "b").i32(4).i32(5).i32(6).str(64, "c").str(
             64, "d")});
    a.push_back({"xb_string_rec", XPROC(xdr_xb_string_rec), sizeof(xb_string_rec),
                 Wire().blob("hello").i32(1).i32(2)});
    a.push_back({"xa_text_list 2 lines", XPROC(xdr_xa_text_list), sizeof(xa_text_list),
                 Wire()
                     .i16(1)
                     .i32(2)
                     .i32(3)
                     .present(true)
                     .present(true)
                     .present(false)
                     .str(101, "two")
                     .str(101, "one")});
    return a;
}

TEST(WireRules, AnswersCutAtEveryUnitFailCleanly)
{
    for (const Answer &ans : ListAnswers()) {
        SCOPED_TRACE(ans.name);
        const Bytes &full = ans.wire.bytes();
        {
            std::unique_ptr<char[]> obj(new char[ans.size]());
            ASSERT_TRUE(Decode(ans.proc, obj.get(), full));
            xdr_free(ans.proc, obj.get());
        }
        for (size_t cut = 0; cut < full.size(); cut += 4) {
            SCOPED_TRACE("cut at byte " + std::to_string(cut));
            Bytes part(full.begin(), full.begin() + static_cast<long>(cut));
            std::unique_ptr<char[]> obj(new char[ans.size]());
            EXPECT_FALSE(Decode(ans.proc, obj.get(), part));
            // Whatever was decoded is released, and the record holds no pointer afterwards
            // (AddressSanitizer reports any block left behind).
            xdr_free(ans.proc, obj.get());
        }
    }
}

// ---- long lists -----------------------------------------------------------------------------

// Runs fn on a thread with a small stack: a routine that recursed once per node would overflow.
void OnSmallStack(const std::function<void()> &fn)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t th;
    auto *job = new std::function<void()>(fn);
    ASSERT_EQ(pthread_create(
                  &th, &attr,
                  [](void *p) -> void * {
                      auto *f = static_cast<std::function<void()> *>(p);
                      (*f)();
                      delete f;
                      return nullptr;
                  },
                  job),
              0);
    pthread_join(th, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(WireRules, HundredThousandLogLinesDecodeEncodeAndFree)
{
    const int n = 100000;
    Wire w;
    w.boolean(true).i32(n);
    for (int i = 0; i < n; ++i)
        w.present(true);
    w.present(false);
    // n nodes: the list's presence unit, n - 1 links, the final 0; then the bodies from the
    // last line to the first
    for (int i = n - 1; i >= 0; --i)
        w.opaque(101, "line " + std::to_string(i));
    bool decoded = false, order = false, same = false, freed = false;
    OnSmallStack([&] {
        log_res res = {};
        decoded = Decode(XPROC(xdr_log_res), &res, w.bytes());
        int i = 0;
        order = true;
        for (text_line *t = res.lines; t; t = t->next, ++i)
            if (tela::FieldText(t->text) != "line " + std::to_string(i))
                order = false;
        order = order && i == n;
        Bytes again;
        same = Encode(XPROC(xdr_log_res), &res, &again, w.size() + 16) && again == w.bytes();
        xdr_free(XPROC(xdr_log_res), reinterpret_cast<char *>(&res));
        freed = res.lines == nullptr;
    });
    EXPECT_TRUE(decoded);
    EXPECT_TRUE(order);
    EXPECT_TRUE(same);
    EXPECT_TRUE(freed);
}

TEST(WireRules, HundredThousandLinkLastNodesDecodeAndFree)
{
    const int n = 100000;
    Wire w;
    w.i32(n).present(true);
    for (int i = 0; i < n; ++i) {
        w.i32(i).str11("").boolean(false).i32(0).i16(0).str31("").i32(0);
        w.present(i + 1 < n);
    }
    bool decoded = false, order = false;
    OnSmallStack([&] {
        a_p18_list list = {};
        decoded = Decode(XPROC(xdr_a_p18_list), &list, w.bytes());
        int i = 0;
        order = true;
        for (a_p18_node *p = list.first; p; p = p->next, ++i)
            if (p->entry.f1 != i)
                order = false;
        order = order && i == n;
        xdr_free(XPROC(xdr_a_p18_list), reinterpret_cast<char *>(&list));
    });
    EXPECT_TRUE(decoded);
    EXPECT_TRUE(order);
}

// A list whose presence units go past its ceiling fails as an allocation of the RPC library
// fails: with the library's out-of-memory line on the standard error. One cut short says nothing.
TEST(WireRules, ListPastItsCeilingFailsWithTheOutOfMemoryLine)
{
    const std::size_t ceiling = tela::kListNodeLimit<str11_node>;
    const std::string line = std::string(program_invocation_short_name) + ": xdr_reference: out of memory\n";
    struct Case {
        const char *name;
        std::size_t links;  // presence units of 1, and nothing after them
        std::string message;
    } cases[] = {
        {"past the ceiling", ceiling, line},
        {"cut short", 3, ""},
    };
    for (const Case &c : cases) {
        Wire w;
        for (std::size_t i = 0; i < c.links; ++i)
            w.present(true);
        str11_node head = {};
        testsupport::CaptureFd captured(2);
        bool decoded = Decode(XPROC(xdr_str11_node), &head, w.bytes());
        std::string err = captured.Text();
        EXPECT_FALSE(decoded) << c.name;
        EXPECT_EQ(err, c.message) << c.name;
        std::size_t nodes = 0;
        for (str11_node *n = head.next; n != nullptr; n = n->next)
            ++nodes;
        EXPECT_EQ(nodes, std::min(c.links, ceiling - 1)) << c.name << ": what was decoded stays";
        xdr_free(XPROC(xdr_str11_node), reinterpret_cast<char *>(&head));
        EXPECT_EQ(head.next, nullptr) << c.name;
    }
}

// A ceiling that a caller sets for the lists of its thread: a list of as many nodes as it allows
// decodes whole, one node more fails with the out-of-memory line; an inner, higher ceiling does
// not lift the outer one, and once the objects are gone the type's own ceiling holds again.
TEST(WireRules, ScopedListCeiling)
{
    const std::string line = std::string(program_invocation_short_name) + ": xdr_reference: out of memory\n";
    // A whole list of `nodes` nodes: the presence units, then the bodies from the last node on.
    auto list = [](std::size_t nodes) {
        Wire w;
        for (std::size_t i = 1; i < nodes; ++i)
            w.present(true);
        w.present(false);
        for (std::size_t i = nodes; i > 0; --i)
            w.str11(std::string("n").append(std::to_string(i)));
        return w;
    };
    struct Case {
        const char *name;
        std::size_t outer;  // 0: no ceiling object at all
        std::size_t inner;  // 0: no inner object
        std::size_t nodes;
        bool decodes;
    } cases[] = {
        {"at the ceiling", 5, 0, 5, true},
        {"one past it", 5, 0, 6, false},
        {"a higher inner ceiling keeps the outer one", 5, 50, 6, false},
        {"a lower inner ceiling holds", 50, 3, 4, false},
        {"below both", 50, 3, 3, true},
        {"no ceiling object", 0, 0, 60, true},
    };
    for (const Case &c : cases) {
        std::unique_ptr<tela::ListNodeCeiling> outer, inner;
        if (c.outer != 0)
            outer = std::make_unique<tela::ListNodeCeiling>(c.outer);
        if (c.inner != 0)
            inner = std::make_unique<tela::ListNodeCeiling>(c.inner);
        str11_node head = {};
        testsupport::CaptureFd captured(2);
        bool decoded = Decode(XPROC(xdr_str11_node), &head, list(c.nodes).bytes());
        std::string err = captured.Text();
        inner.reset();
        outer.reset();
        EXPECT_EQ(decoded, c.decodes) << c.name;
        EXPECT_EQ(err, c.decodes ? "" : line) << c.name;
        std::size_t nodes = 0;
        bool order = true;
        for (str11_node *n = &head; n != nullptr; n = n->next)
            order = order && tela::FieldText(n->name) == std::string("n").append(std::to_string(++nodes));
        if (c.decodes) {
            EXPECT_EQ(nodes, c.nodes) << c.name;
            EXPECT_TRUE(order) << c.name;
        }
        xdr_free(XPROC(xdr_str11_node), reinterpret_cast<char *>(&head));
    }
    // The ceiling is gone with its object.
    str11_node head = {};
    EXPECT_TRUE(Decode(XPROC(xdr_str11_node), &head, list(6).bytes()));
    xdr_free(XPROC(xdr_str11_node), reinterpret_cast<char *>(&head));
}

// A ceiling belongs to the thread that set it: another thread's lists keep the type's ceiling.
TEST(WireRules, ScopedListCeilingIsPerThread)
{
    tela::ListNodeCeiling ceiling(2);
    Wire w;
    w.present(true).present(true).present(false).str11("c").str11("b").str11("a");
    bool decoded = false;
    std::thread other([&] {
        str11_node head = {};
        decoded = Decode(XPROC(xdr_str11_node), &head, w.bytes());
        xdr_free(XPROC(xdr_str11_node), reinterpret_cast<char *>(&head));
    });
    other.join();
    EXPECT_TRUE(decoded);
}

// ---- the bounded accessor and the request filler --------------------------------------------

TEST(FieldText, StopsAtTheFieldEnd)
{
    struct {
        char field[5];
        char after[3];
    } rec;
    std::memcpy(rec.field, "ABCDE", 5);
    std::memcpy(rec.after, "XYZ", 3);
    EXPECT_EQ(tela::FieldText(rec.field), "ABCDE");
    std::memcpy(rec.field, "AB\0DE", 5);
    EXPECT_EQ(tela::FieldText(rec.field), "AB");
}

TEST(FieldText, SetKeepsTheTerminatorAndClearsBehind)
{
    char f[11];
    std::memset(f, 'q', sizeof f);
    EXPECT_EQ(tela::FieldSet(f, "longer than ten"), 10u);
    EXPECT_EQ(std::string(f, 11), std::string("longer tha") + '\0');
    EXPECT_EQ(tela::FieldSet(f, "ab"), 2u);
    EXPECT_EQ(std::string(f, 11), std::string("ab") + std::string(9, '\0'));
}

}  // namespace
