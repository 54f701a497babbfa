// Encoded size of every record and union arm: a zeroed value (empty lists, empty counted
// bytes) with the arm's version set. A wrong string width, a missing field, a wrong arm or an
// opaque sent as characters shows up here.
#include "wire.h"

#include "xdr/records.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

using namespace xdrtest;

struct SizeRow {
    const char *name;
    xdrproc_t proc;
    size_t objSize;
    int vers;           // -1: not a union; else the version written into the leading int
    size_t wireBytes;
    void (*setup)(void *) = nullptr;  // for records that embed a union without arm 0
};

#define ROW(type, vers, bytes) {#type, XPROC(xdr_##type), sizeof(type), vers, bytes}
#define ROWS(type, vers, bytes, setup) {#type, XPROC(xdr_##type), sizeof(type), vers, bytes, setup}

const SizeRow kSizes[] = {
    // fixed strings and opaques
    ROW(str11, -1, 44), ROW(str15, -1, 60), ROW(str21, -1, 84), ROW(str31, -1, 124),
    ROW(str36, -1, 144), ROW(str61, -1, 244), ROW(str81, -1, 324),
    ROW(opaque101, -1, 104), ROW(opaque3, -1, 4), ROW(blob, -1, 4), ROW(blob80, -1, 4),
    // routes, users, groups, properties
    ROW(compat_rec, -1, 8),
    ROW(route_req, 0, 132), ROW(route_req, 1, 172), ROW(route_req, 2, 176),
    ROW(route_res, 0, 388), ROW(route_res, 1, 724),
    ROW(route_rec, 0, 680), ROW(route_rec, 1, 720),
    ROW(route_key, 0, 48), ROW(route_key, 1, 52),
    ROW(route_rec_res, 0, 684), ROW(route_rec_res, 1, 724),
    ROW(route_sel, 0, 52), ROW(route_sel, 1, 56),
    ROW(route_list, -1, 12), ROW(route_node, -1, 4 + 680),
    ROW(user_key, -1, 188), ROW(o_user_key, -1, 188), ROW(o_user_del, -1, 188),
    ROW(user_rec, -1, 592), ROW(a_user_rec, -1, 592), ROW(user_node, -1, 596),
    ROW(a_user_node, -1, 596), ROW(user_list, -1, 8), ROW(a_user_list, -1, 8),
    ROW(o_p85_arg, -1, 192), ROW(o_p85_res, -1, 8), ROW(a_p101_res, -1, 8),
    ROW(group_rec, -1, 168), ROW(group_node, -1, 172), ROW(group_list, -1, 8),
    ROW(a_p33_res, -1, 8),
    ROW(usrconf_key, -1, 88), ROW(usrconf_rec, -1, 412), ROW(usrconf_node, -1, 416),
    ROW(a_p112_arg, -1, 96), ROW(a_p112_res, -1, 12),
    ROW(usrconf_new_req, 1, 172), ROW(usrconf_new_res, -1, 328), ROW(usrconf_new_rec, 1, 496),
    ROW(a_p146_arg, 1, 180), ROW(a_p146_res, -1, 12),
    // send records, jobs, pages, logs, texts
    ROW(s_rec, -1, 440), ROW(s_rec_v1, -1, 1652),
    ROW(s_rec_new, 0, 444), ROW(s_rec_new, 1, 1656),
    ROW(s_rec_req, 1, 52),
    {"s_rec_res v0", XPROC(xdr_s_rec_res), sizeof(s_rec_res), -1, 448,
     [](void *p) { static_cast<s_rec_res *>(p)->record.vers = 0; }},
    {"s_rec_res v1", XPROC(xdr_s_rec_res), sizeof(s_rec_res), -1, 1660,
     [](void *p) { static_cast<s_rec_res *>(p)->record.vers = 1; }},
    ROW(a_p19_arg, -1, 48), ROW(a_p25_arg, -1, 488),
    ROW(s_rec_v0_node, -1, 444), ROW(s_rec_list, -1, 8),
    ROWS(s_rec_node, -1, 4 + 1656, [](void *p) { static_cast<s_rec_node *>(p)->entry.vers = 1; }),
    ROW(a_p139_arg, 1, 388), ROW(a_p139_res, -1, 12),
    ROW(a_p7_arg, -1, 8), ROW(a_p8_arg, -1, 8), ROW(a_p9_arg, -1, 8),
    ROW(a_p85_arg, -1, 16), ROW(a_p86_arg, -1, 16), ROW(a_p87_arg, -1, 16),
    ROW(a_p17_arg, -1, 48), ROW(a_p18_arg, -1, 48),
    ROW(a_p17_rec, -1, 444), ROW(a_p17_rec_v1, -1, 484), ROW(a_p17_rec_new, 1, 488),
    ROW(a_p17_node, -1, 448), ROW(a_p17_list, -1, 8),
    ROWS(a_p141_res, -1, 492, [](void *p) { static_cast<a_p141_res *>(p)->f2.vers = 1; }),
    ROWS(a_p17_node_new, -1, 492, [](void *p) { static_cast<a_p17_node_new *>(p)->entry.vers = 1; }),
    ROW(a_p142_res, -1, 12),
    ROW(a_p18_rec, -1, 188), ROW(a_p18_node, -1, 192), ROW(a_p18_list, -1, 8),
    ROW(job_key, -1, 52), ROW(page_list, -1, 4004), ROW(pageb_req, -1, 68),
    ROW(pageb_res, -1, 12), ROW(pageb_rec, -1, 68),
    ROW(log_req, -1, 184), ROW(log_res, -1, 12), ROW(text_line, -1, 108),
    ROW(log_line_rec, -1, 56), ROW(a_p39_res, -1, 12), ROW(a_p88_res, -1, 8),
    ROW(o_p2_res, -1, 12), ROW(text_req, -1, 328),
    ROW(a_p4_arg, -1, 60), ROW(a_p14_arg, -1, 60), ROW(a_p21_arg, -1, 52),
    ROW(a_p58_arg, -1, 60), ROW(a_p58_res, -1, 12), ROW(a_p61_arg, -1, 52),
    ROW(a_p61_res, -1, 12), ROW(a_p62_arg, -1, 56), ROW(a_p41_arg, -1, 48),
    // omega configuration and tables
    ROW(config_rec, -1, 372), ROW(config_node, -1, 376),
    ROW(config_sel, 0, 60), ROW(config_sel, 1, 56), ROW(config_list, -1, 12),
    ROW(o_tab7_rec, -1, 184), ROW(o_tab7_node, -1, 188), ROW(o_tab7_list, -1, 8),
    ROW(o_tab11_rec, -1, 1332), ROW(o_tab11_node, -1, 1336), ROW(o_tab11_list, -1, 8),
    ROW(a_p44_res, -1, 8), ROW(a_p47_res, -1, 8),
    ROW(o_tab102_v0, -1, 2312), ROW(o_tab102_v1, -1, 2436),
    ROW(o_tab102_rec, 0, 2316), ROW(o_tab102_rec, 1, 2440),
    ROW(o_tab102_key, 0, 48), ROW(o_tab102_key, 1, 52),
    ROW(o_tab102_res, 0, 2320), ROW(o_tab102_res, 1, 2444),
    ROW(o_tab102_sel, 0, 8), ROW(o_tab102_sel, 1, 12),
    ROW(o_tab102_node, -1, 2320), ROW(o_tab102_list, -1, 12),
    ROW(o_tab102_del, 0, 48), ROW(o_key110, 0, 48),
    // the other omega tables
    ROW(o_tab15_rec, -1, 648), ROW(o_tab15_node, -1, 652), ROW(o_tab15_list, -1, 8),
    ROW(o_tab15_sel, -1, 48), ROW(o_tab15_list2, -1, 8), ROW(a_p43_res, -1, 8),
    ROW(a_p103_res, -1, 8),
    ROW(o_tab19_rec, -1, 312), ROW(o_tab19_node, -1, 316), ROW(o_tab19_list, -1, 8),
    ROW(o_tab23_rec, -1, 144), ROW(o_tab23_node, -1, 148), ROW(o_tab23_list, -1, 8),
    ROW(o_tab27_rec, -1, 188), ROW(o_tab27_node, -1, 192), ROW(o_tab27_list, -1, 8),
    ROW(o_tab35_rec, -1, 232), ROW(o_tab35_node, -1, 236), ROW(o_tab35_list, -1, 8),
    ROW(o_tab38_rec, -1, 528), ROW(o_tab38_node, -1, 532), ROW(o_tab38_list, -1, 8),
    ROW(o_tab43_rec, -1, 384), ROW(o_tab43_node, -1, 388), ROW(o_tab43_list, -1, 8),
    ROW(a_p26_res, -1, 8), ROW(o_p47_item, -1, 312), ROW(o_p47_node, -1, 316),
    ROW(o_p47_res, -1, 8), ROW(a_p34_res, -1, 8),
    ROW(o_tab58_rec, -1, 404), ROW(o_tab58_node, -1, 408), ROW(o_tab58_put, -1, 592),
    ROW(o_tab58_key, -1, 232), ROW(o_tab58_sel, -1, 188), ROW(o_tab58_list, -1, 8),
    ROW(o_tab58_del, -1, 232), ROW(o_tab58_sel2, -1, 236), ROW(o_tab58_list2, -1, 8),
    ROW(o_tab62_rec, -1, 132), ROW(o_tab62_node, -1, 136), ROW(o_tab62_put, -1, 320),
    ROW(o_tab62_sel, -1, 236), ROW(o_tab62_list, -1, 8), ROW(o_tab62_del, -1, 320),
    ROW(o_tab62_sel2, -1, 328), ROW(o_tab62_list2, -1, 8),
    ROW(o_tab67_rec, -1, 2296), ROW(o_tab67_node, -1, 2300), ROW(o_tab67_put, -1, 2484),
    ROW(o_tab67_key, -1, 232), ROW(o_tab67_sel, -1, 188), ROW(o_tab67_list, -1, 8),
    ROW(o_tab67_del, -1, 232), ROW(o_tab67_sel2, -1, 236), ROW(o_tab67_list2, -1, 8),
    ROW(o_tab72_rec, -1, 428), ROW(o_tab72_node, -1, 432), ROW(o_tab72_put, -1, 616),
    ROW(o_tab72_key, -1, 280), ROW(o_tab72_sel, -1, 284), ROW(o_tab72_list, -1, 8),
    ROW(o_tab72_del, -1, 276), ROW(o_tab72_key2, -1, 132), ROW(o_tab72_res, -1, 432),
    ROW(o_tab79_rec, -1, 372), ROW(o_tab79_node, -1, 376), ROW(o_tab79_sel, -1, 328),
    ROW(o_tab79_sel2, -1, 48), ROW(o_tab79_list, -1, 8),
    ROW(o_tab97_rec, 0, 420), ROW(o_tab97_rec, 1, 460),
    ROW(o_tab97_v0, -1, 416), ROW(o_tab97_v1, -1, 456),
    ROW(o_tab97_node, -1, 4 + 420),
    ROWS(o_tab97_node, -1, 464, [](void *p) { static_cast<o_tab97_node *>(p)->entry.vers = 1; }),
    ROW(o_tab97_key, 0, 376), ROW(o_tab97_key, 1, 96), ROW(o_tab97_key, 2, 140),
    ROW(o_tab97_key, 3, 380),
    ROW(o_tab97_key_v0, -1, 372), ROW(o_tab97_key_v1, -1, 92), ROW(o_tab97_key_v2, -1, 136),
    ROW(o_tab97_key_v3, -1, 376),
    ROW(o_tab97_res, 0, 424), ROW(o_tab97_res, 1, 464),
    ROW(o_tab97_sel, 0, 380), ROW(o_tab97_sel, 1, 100), ROW(o_tab97_sel, 2, 140),
    ROW(o_tab97_sel, 3, 380),
    ROW(o_tab97_sel_v0, -1, 376), ROW(o_tab97_sel_v1, -1, 96), ROW(o_tab97_sel_v2, -1, 136),
    ROW(o_tab97_sel_v3, -1, 376),
    ROW(o_tab97_list, -1, 12), ROW(o_tab97_del, 0, 372), ROW(o_tab97_del_v0, -1, 368),
    ROW(o_tab107_rec, 0, 420), ROW(o_tab107_v0, -1, 416), ROW(o_tab107_node, -1, 424),
    ROW(o_tab107_key, 0, 280), ROW(o_tab107_key_v0, -1, 276), ROW(o_tab107_res, 0, 424),
    ROW(o_tab107_sel, 0, 284), ROW(o_tab107_sel, 1, 100), ROW(o_tab107_sel, 2, 100),
    ROW(o_tab107_sel_v0, -1, 280), ROW(o_tab107_sel_v1, -1, 96), ROW(o_tab107_sel_v2, -1, 96),
    ROW(o_tab107_list, -1, 12), ROW(o_tab107_put, 0, 532), ROW(o_tab107_put_v0, -1, 528),
    ROW(o_tab107_del, 0, 280), ROW(o_tab107_del_v0, -1, 276),
    // records of single omega procedures
    ROW(str11_node, -1, 48), ROW(str21_node, -1, 88),
    ROW(o_p42_arg, -1, 128), ROW(o_p42_res, -1, 232), ROW(o_p51_res, -1, 48),
    ROW(o_p52_arg, -1, 376), ROW(o_p53_arg, -1, 232), ROW(o_p53_res, -1, 8),
    ROW(o_p53_node, -1, 152), ROW(o_p57_arg, -1, 148), ROW(o_p65_arg, -1, 168),
    ROW(o_p76_arg, -1, 236), ROW(o_p113_arg, 0, 8), ROW(o_p113_arg_v0, -1, 4),
    ROW(o_p113_res, 0, 8), ROW(o_p113_res_v0, -1, 4),
    ROW(o_p114_res, 1, 76), ROW(o_p114_res_v1, -1, 72), ROW(o_p114_node, -1, 56),
    // records of alpha's own procedures
    ROW(a_p1004_arg, -1, 112), ROW(a_p1005_arg, -1, 372), ROW(a_p1006_node, -1, 376),
    ROW(a_p1006_res, -1, 8), ROW(a_p1007_arg, -1, 132), ROW(a_p1007_res, -1, 8),
    ROW(a_p1008_res, -1, 8), ROW(a_p1009_arg, 0, 64), ROW(a_p1009_arg_v0, -1, 60),
    ROW(a_p1009_res, -1, 12), ROW(a_p1009_node, -1, 1248),
    ROW(a_p1009_rec, 0, 1244), ROW(a_p1009_rec, 1, 328),
    ROW(a_p1009_rec_v0, -1, 1240), ROW(a_p1009_rec_v1, -1, 324),
    ROW(a_p1010_arg, 1, 492), ROW(a_p1010_arg_v1, -1, 488),
    ROW(a_p1011_arg, 0, 12), ROW(a_p1011_arg_v0, -1, 8),
    ROW(a_p5_arg, -1, 56), ROW(a_p6_arg, -1, 56), ROW(a_p10_arg, -1, 48),
    ROW(a_p11_arg, -1, 128), ROW(a_p11_res, -1, 8), ROW(a_p12_arg, -1, 48),
    ROW(a_p15_arg, -1, 52), ROW(a_p16_arg, -1, 64), ROW(a_p23_arg, -1, 176),
    ROW(a_p24_arg, -1, 52), ROW(a_p30_rec, -1, 688), ROW(a_p36_arg, -1, 48),
    ROW(a_p37_arg, -1, 48), ROW(a_p38_arg, -1, 52), ROW(a_p42_arg, -1, 56),
    ROW(a_p48_arg, -1, 216), ROW(a_p51_arg, -1, 232), ROW(a_p52_arg, -1, 288),
    ROW(a_p53_arg, -1, 108), ROW(a_p54_arg, -1, 192), ROW(a_p70_arg, -1, 216),
    ROW(a_p71_arg, -1, 136), ROW(a_p74_arg, -1, 48), ROW(a_p76_arg, -1, 56),
    ROW(a_p76_res, -1, 8), ROW(a_p89_res, -1, 980), ROW(a_p90_arg, -1, 3472),
    ROW(a_p108_arg, -1, 136), ROW(a_p108_res, -1, 8), ROW(a_p113_arg, -1, 60),
    ROW(a_p113_res, -1, 8),
    // the largest arm of the selector gives the figures of the two arguments
    ROW(a_p114_arg, -1, 16 + 8),
    ROWS(a_p114_arg, -1, 64, [](void *p) { static_cast<a_p114_arg *>(p)->sel.vers = 4; }),
    ROWS(a_p115_arg, -1, 64, [](void *p) { static_cast<a_p115_arg *>(p)->sel.vers = 4; }),
    ROW(a_p114_sel, 0, 8), ROW(a_p114_sel, 1, 8), ROW(a_p114_sel, 2, 12),
    ROW(a_p114_sel, 3, 8), ROW(a_p114_sel, 4, 48),
    ROW(a_p114_sel_v1, -1, 4), ROW(a_p114_sel_v2, -1, 8), ROW(a_p114_sel_v3, -1, 4),
    ROW(a_p114_sel_v4, -1, 44),
    ROW(a_sel_b, 0, 8), ROW(a_sel_b, 1, 16), ROW(a_sel_b, 2, 12), ROW(a_sel_b, 3, 8),
    ROW(a_sel_b, 4, 16),
    ROW(a_sel_b_v1, -1, 12), ROW(a_sel_b_v2, -1, 8), ROW(a_sel_b_v3, -1, 4),
    ROW(a_sel_b_v4, -1, 12),
    ROW(a_p132_arg, 0, 1108), ROW(a_p132_arg, 1, 2320),
    ROW(a_p132_arg_v0, -1, 1104), ROW(a_p132_arg_v1, -1, 2316),
    ROW(a_p132_res, 0, 12), ROW(a_p132_res_v0, -1, 8),
    ROW(a_p135_arg, 0, 56), ROW(a_p135_arg_v0, -1, 52),
    ROW(a_p135_res, 0, 12), ROW(a_p135_res_v0, -1, 8),
    ROW(a_p136_arg, 0, 52), ROW(a_p136_arg_v0, -1, 48),
    ROW(a_p138_arg, 1, 200), ROW(a_p138_arg_v1, -1, 196),
    // further interface A
    ROW(xa_p5_arg, -1, 48), ROW(xa_p7_arg, -1, 8), ROW(xa_p7_res, -1, 4008),
    ROW(xa_p8_arg, -1, 16), ROW(xa_p8_res, -1, 16), ROW(xa_p9_arg, -1, 12),
    ROW(xa_p10_arg, -1, 16), ROW(xa_p10_res, -1, 8),
    ROW(xa_text_node, -1, 408), ROW(xa_text_list, -1, 16), ROW(xa_id, -1, 4),
    ROW(xa_id_ext, -1, 20), ROW(xa_id_status, -1, 16), ROW(xa_id_range, -1, 16),
    ROW(xa_data, -1, 8), ROW(xa_entry, -1, 376), ROW(xa_entry_node, -1, 380),
    ROW(xa_entry_list, -1, 8), ROW(xa_line_list, -1, 12), ROW(xa_name_list, -1, 8),
    ROW(xa_name_num, -1, 48), ROW(xa_name_num2, -1, 48), ROW(xa_host_user, -1, 316),
    ROW(xa_user_host, -1, 360), ROW(xa_status, -1, 8), ROW(xa_p1009_list, -1, 8),
    // further interface B (a counted text goes out empty, never as a null pointer)
    ROW(xb_p2_arg, -1, 560), ROW(xb_triple, -1, 12), ROW(xb_name64, -1, 256),
    ROW(xb_text64, -1, 256), ROW(xb_item, -1, 524), ROW(xb_item_array, -1, 4),
    ROW(xb_id11, -1, 44), ROW(xb_id_flag, -1, 48),
    ROWS(xb_string, -1, 4, [](void *p) { *static_cast<char **>(p) = const_cast<char *>(""); }),
    ROW(xb_flag_num, -1, 8),
    ROWS(xb_string_rec, -1, 12,
         [](void *p) { static_cast<xb_string_rec *>(p)->f1 = const_cast<char *>(""); }),
    ROW(xb_buffer, -1, 2056), ROW(xb_quad, -1, 16),
};

TEST(RecordSizes, EveryRecordAndArm)
{
    for (size_t i = 0; i < std::size(kSizes); ++i) {
        const SizeRow &row = kSizes[i];
        SCOPED_TRACE(std::string(row.name) + " version " + std::to_string(row.vers) + " (row " +
                     std::to_string(i) + ")");
        std::unique_ptr<char, decltype(&std::free)> obj(
            static_cast<char *>(std::calloc(1, row.objSize)), &std::free);
        if (row.vers >= 0)
            std::memcpy(obj.get(), &row.vers, sizeof(int));
        if (row.setup)
            row.setup(obj.get());
        Bytes out;
        ASSERT_TRUE(Encode(row.proc, obj.get(), &out));
        EXPECT_EQ(out.size(), row.wireBytes);
        // and the same bytes decode back, consuming exactly that many
        std::unique_ptr<char, decltype(&std::free)> back(
            static_cast<char *>(std::calloc(1, row.objSize)), &std::free);
        u_int used = 0;
        EXPECT_TRUE(Decode(row.proc, back.get(), out, &used));
        EXPECT_EQ(used, row.wireBytes);
        xdr_free(row.proc, back.get());
    }
}

}  // namespace
