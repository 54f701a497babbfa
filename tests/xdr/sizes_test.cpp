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
