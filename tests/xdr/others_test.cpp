// The stubs and wrappers of the procedures that the two programs do not call, against the
// server inside the test program: every stub reaches its own procedure number, and a sample of
// calls checks what goes on the wire and what comes back for the shapes that only these
// procedures have (link-last and nested lists, results without a record, interfaces A and B).
#include "server_fixture.h"

#include "xdr/fieldtext.h"
#include "xdr/wrappers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

using namespace xdrtest;

class OtherStubs : public ServerTest {};

// A zeroed argument of any type; a versioned one gets the version of its first arm.
template <class T>
T *Arg(int vers)
{
    alignas(16) static char buf[8192];
    static_assert(sizeof(T) <= sizeof(buf));
    std::memset(buf, 0, sizeof buf);
    if (vers >= 0)
        std::memcpy(buf, &vers, sizeof vers);
    return reinterpret_cast<T *>(buf);
}

TEST_F(OtherStubs, ProcedureNumbers)
{
    const NumberRow rows[] = {
        {kAlpha, 1, [](CLIENT *c) -> void * { return a_proc1_1(nullptr, c); }},
        {kAlpha, 4, [](CLIENT *c) -> void * { return a_proc4_1(Arg<a_p4_arg>(-1), c); }},
        {kAlpha, 5, [](CLIENT *c) -> void * { return a_proc5_1(Arg<a_p5_arg>(-1), c); }},
        {kAlpha, 6, [](CLIENT *c) -> void * { return a_proc6_1(Arg<a_p6_arg>(-1), c); }},
        {kAlpha, 7, [](CLIENT *c) -> void * { return a_proc7_1(Arg<a_p7_arg>(-1), c); }},
        {kAlpha, 8, [](CLIENT *c) -> void * { return a_proc8_1(Arg<a_p8_arg>(-1), c); }},
        {kAlpha, 9, [](CLIENT *c) -> void * { return a_proc9_1(Arg<a_p9_arg>(-1), c); }},
        {kAlpha, 10, [](CLIENT *c) -> void * { return a_proc10_1(Arg<a_p10_arg>(-1), c); }},
        {kAlpha, 11, [](CLIENT *c) -> void * { return a_proc11_1(Arg<a_p11_arg>(-1), c); }},
        {kAlpha, 12, [](CLIENT *c) -> void * { return a_proc12_1(Arg<a_p12_arg>(-1), c); }},
        {kAlpha, 14, [](CLIENT *c) -> void * { return a_proc14_1(Arg<a_p14_arg>(-1), c); }},
        {kAlpha, 15, [](CLIENT *c) -> void * { return a_proc15_1(Arg<a_p15_arg>(-1), c); }},
        {kAlpha, 16, [](CLIENT *c) -> void * { return a_proc16_1(Arg<a_p16_arg>(-1), c); }},
        {kAlpha, 17, [](CLIENT *c) -> void * { return a_proc17_1(Arg<a_p17_arg>(-1), c); }},
        {kAlpha, 18, [](CLIENT *c) -> void * { return a_proc18_1(Arg<a_p18_arg>(-1), c); }},
        {kAlpha, 19, [](CLIENT *c) -> void * { return a_proc19_1(Arg<a_p19_arg>(-1), c); }},
        {kAlpha, 21, [](CLIENT *c) -> void * { return a_proc21_1(Arg<a_p21_arg>(-1), c); }},
        {kAlpha, 23, [](CLIENT *c) -> void * { return a_proc23_1(Arg<a_p23_arg>(-1), c); }},
        {kAlpha, 24, [](CLIENT *c) -> void * { return a_proc24_1(Arg<a_p24_arg>(-1), c); }},
        {kAlpha, 25, [](CLIENT *c) -> void * { return a_proc25_1(Arg<a_p25_arg>(-1), c); }},
        {kAlpha, 26, [](CLIENT *c) -> void * { return a_proc26_1(Arg<int>(-1), c); }},
        {kAlpha, 27, [](CLIENT *c) -> void * { return a_proc27_1(Arg<o_tab43_rec>(-1), c); }},
        {kAlpha, 28, [](CLIENT *c) -> void * { return a_proc28_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 29, [](CLIENT *c) -> void * { return a_proc29_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 30, [](CLIENT *c) -> void * { return a_proc30_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 31, [](CLIENT *c) -> void * { return a_proc31_1(Arg<a_p30_rec>(-1), c); }},
        {kAlpha, 32, [](CLIENT *c) -> void * { return a_proc32_1(nullptr, c); }},
        {kAlpha, 33, [](CLIENT *c) -> void * { return a_proc33_1(nullptr, c); }},
        {kAlpha, 34, [](CLIENT *c) -> void * { return a_proc34_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 36, [](CLIENT *c) -> void * { return a_proc36_1(Arg<a_p36_arg>(-1), c); }},
        {kAlpha, 37, [](CLIENT *c) -> void * { return a_proc37_1(Arg<a_p37_arg>(-1), c); }},
        {kAlpha, 38, [](CLIENT *c) -> void * { return a_proc38_1(Arg<a_p38_arg>(-1), c); }},
        {kAlpha, 39, [](CLIENT *c) -> void * { return a_proc39_1(Arg<int>(-1), c); }},
        {kAlpha, 40, [](CLIENT *c) -> void * { return a_proc40_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 41, [](CLIENT *c) -> void * { return a_proc41_1(Arg<a_p41_arg>(-1), c); }},
        {kAlpha, 42, [](CLIENT *c) -> void * { return a_proc42_1(Arg<a_p42_arg>(-1), c); }},
        {kAlpha, 43, [](CLIENT *c) -> void * { return a_proc43_1(nullptr, c); }},
        {kAlpha, 44, [](CLIENT *c) -> void * { return a_proc44_1(Arg<int>(-1), c); }},
        {kAlpha, 45, [](CLIENT *c) -> void * { return a_proc45_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 46, [](CLIENT *c) -> void * { return a_proc46_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 47, [](CLIENT *c) -> void * { return a_proc47_1(Arg<int>(-1), c); }},
        {kAlpha, 48, [](CLIENT *c) -> void * { return a_proc48_1(Arg<a_p48_arg>(-1), c); }},
        {kAlpha, 49, [](CLIENT *c) -> void * { return a_proc49_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 50, [](CLIENT *c) -> void * { return a_proc50_1(Arg<a_user_rec>(-1), c); }},
        {kAlpha, 51, [](CLIENT *c) -> void * { return a_proc51_1(Arg<a_p51_arg>(-1), c); }},
        {kAlpha, 52, [](CLIENT *c) -> void * { return a_proc52_1(Arg<a_p52_arg>(-1), c); }},
        {kAlpha, 53, [](CLIENT *c) -> void * { return a_proc53_1(Arg<a_p53_arg>(-1), c); }},
        {kAlpha, 54, [](CLIENT *c) -> void * { return a_proc54_1(Arg<a_p54_arg>(-1), c); }},
        {kAlpha, 55, [](CLIENT *c) -> void * { return a_proc55_1(Arg<int>(-1), c); }},
        {kAlpha, 56, [](CLIENT *c) -> void * { return a_proc56_1(Arg<bool_t>(-1), c); }},
        {kAlpha, 57, [](CLIENT *c) -> void * { return a_proc57_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 58, [](CLIENT *c) -> void * { return a_proc58_1(Arg<a_p58_arg>(-1), c); }},
        {kAlpha, 61, [](CLIENT *c) -> void * { return a_proc61_1(Arg<a_p61_arg>(-1), c); }},
        {kAlpha, 62, [](CLIENT *c) -> void * { return a_proc62_1(Arg<a_p62_arg>(-1), c); }},
        {kAlpha, 63, [](CLIENT *c) -> void * { return a_proc63_1(Arg<o_tab58_put>(-1), c); }},
        {kAlpha, 64, [](CLIENT *c) -> void * { return a_proc64_1(Arg<o_tab58_key>(-1), c); }},
        {kAlpha, 65, [](CLIENT *c) -> void * { return a_proc65_1(Arg<o_tab58_sel>(-1), c); }},
        {kAlpha, 66, [](CLIENT *c) -> void * { return a_proc66_1(Arg<o_tab58_del>(-1), c); }},
        {kAlpha, 67, [](CLIENT *c) -> void * { return a_proc67_1(Arg<o_tab62_put>(-1), c); }},
        {kAlpha, 68, [](CLIENT *c) -> void * { return a_proc68_1(Arg<o_tab62_sel>(-1), c); }},
        {kAlpha, 69, [](CLIENT *c) -> void * { return a_proc69_1(Arg<o_tab62_del>(-1), c); }},
        {kAlpha, 70, [](CLIENT *c) -> void * { return a_proc70_1(Arg<a_p70_arg>(-1), c); }},
        {kAlpha, 71, [](CLIENT *c) -> void * { return a_proc71_1(Arg<a_p71_arg>(-1), c); }},
        {kAlpha, 74, [](CLIENT *c) -> void * { return a_proc74_1(Arg<a_p74_arg>(-1), c); }},
        {kAlpha, 76, [](CLIENT *c) -> void * { return a_proc76_1(Arg<a_p76_arg>(-1), c); }},
        {kAlpha, 77, [](CLIENT *c) -> void * { return a_proc77_1(Arg<o_tab67_put>(-1), c); }},
        {kAlpha, 78, [](CLIENT *c) -> void * { return a_proc78_1(Arg<o_tab67_key>(-1), c); }},
        {kAlpha, 79, [](CLIENT *c) -> void * { return a_proc79_1(Arg<o_tab67_sel>(-1), c); }},
        {kAlpha, 80, [](CLIENT *c) -> void * { return a_proc80_1(Arg<o_tab67_del>(-1), c); }},
        {kAlpha, 81, [](CLIENT *c) -> void * { return a_proc81_1(Arg<o_tab72_put>(-1), c); }},
        {kAlpha, 82, [](CLIENT *c) -> void * { return a_proc82_1(Arg<o_tab72_key>(-1), c); }},
        {kAlpha, 83, [](CLIENT *c) -> void * { return a_proc83_1(Arg<o_tab72_sel>(-1), c); }},
        {kAlpha, 84, [](CLIENT *c) -> void * { return a_proc84_1(Arg<o_tab72_del>(-1), c); }},
        {kAlpha, 85, [](CLIENT *c) -> void * { return a_proc85_1(Arg<a_p85_arg>(-1), c); }},
        {kAlpha, 86, [](CLIENT *c) -> void * { return a_proc86_1(Arg<a_p86_arg>(-1), c); }},
        {kAlpha, 87, [](CLIENT *c) -> void * { return a_proc87_1(Arg<a_p87_arg>(-1), c); }},
        {kAlpha, 88, [](CLIENT *c) -> void * { return a_proc88_1(Arg<int>(-1), c); }},
        {kAlpha, 89, [](CLIENT *c) -> void * { return a_proc89_1(nullptr, c); }},
        {kAlpha, 90, [](CLIENT *c) -> void * { return a_proc90_1(Arg<a_p90_arg>(-1), c); }},
        {kAlpha, 91, [](CLIENT *c) -> void * { return a_proc91_1(Arg<o_p76_arg>(-1), c); }},
        {kAlpha, 92, [](CLIENT *c) -> void * { return a_proc92_1(Arg<o_tab35_rec>(-1), c); }},
        {kAlpha, 93, [](CLIENT *c) -> void * { return a_proc93_1(Arg<o_tab62_sel2>(-1), c); }},
        {kAlpha, 94, [](CLIENT *c) -> void * { return a_proc94_1(nullptr, c); }},
        {kAlpha, 95, [](CLIENT *c) -> void * { return a_proc95_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 96, [](CLIENT *c) -> void * { return a_proc96_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 97, [](CLIENT *c) -> void * { return a_proc97_1(Arg<o_tab79_rec>(-1), c); }},
        {kAlpha, 98, [](CLIENT *c) -> void * { return a_proc98_1(Arg<sxchar>(-1), c); }},
        {kAlpha, 99, [](CLIENT *c) -> void * { return a_proc99_1(Arg<o_tab79_sel>(-1), c); }},
        {kAlpha, 100, [](CLIENT *c) -> void * { return a_proc100_1(Arg<o_tab79_sel2>(-1), c); }},
        {kAlpha, 101, [](CLIENT *c) -> void * { return a_proc101_1(Arg<o_p85_arg>(-1), c); }},
        {kAlpha, 102, [](CLIENT *c) -> void * { return a_proc102_1(Arg<o_tab67_sel2>(-1), c); }},
        {kAlpha, 103, [](CLIENT *c) -> void * { return a_proc103_1(Arg<o_tab15_sel>(-1), c); }},
        {kAlpha, 104, [](CLIENT *c) -> void * { return a_proc104_1(Arg<o_tab58_sel2>(-1), c); }},
        {kAlpha, 107, [](CLIENT *c) -> void * { return a_proc107_1(Arg<usrconf_key>(-1), c); }},
        {kAlpha, 108, [](CLIENT *c) -> void * { return a_proc108_1(Arg<a_p108_arg>(-1), c); }},
        {kAlpha, 109, [](CLIENT *c) -> void * { return a_proc109_1(Arg<o_p42_arg>(-1), c); }},
        {kAlpha, 110, [](CLIENT *c) -> void * { return a_proc110_1(Arg<o_tab107_key>(-1), c); }},
        {kAlpha, 111, [](CLIENT *c) -> void * { return a_proc111_1(Arg<o_tab72_key2>(-1), c); }},
        {kAlpha, 112, [](CLIENT *c) -> void * { return a_proc112_1(Arg<a_p112_arg>(-1), c); }},
        {kAlpha, 113, [](CLIENT *c) -> void * { return a_proc113_1(Arg<a_p113_arg>(-1), c); }},
        {kAlpha, 114, [](CLIENT *c) -> void * { return a_proc114_1(Arg<a_p114_arg>(-1), c); }},
        {kAlpha, 115, [](CLIENT *c) -> void * { return a_proc115_1(Arg<a_p115_arg>(-1), c); }},
        {kAlpha, 120, [](CLIENT *c) -> void * { return a_proc120_1(Arg<o_tab97_rec>(-1), c); }},
        {kAlpha, 121, [](CLIENT *c) -> void * { return a_proc121_1(Arg<o_tab97_del>(-1), c); }},
        {kAlpha, 124, [](CLIENT *c) -> void * { return a_proc124_1(Arg<bool_t>(-1), c); }},
        {kAlpha, 126, [](CLIENT *c) -> void * { return a_proc126_1(Arg<o_tab107_put>(-1), c); }},
        {kAlpha, 127, [](CLIENT *c) -> void * { return a_proc127_1(Arg<o_tab107_del>(-1), c); }},
        {kAlpha, 128, [](CLIENT *c) -> void * { return a_proc128_1(Arg<o_tab107_sel>(-1), c); }},
        {kAlpha, 129, [](CLIENT *c) -> void * { return a_proc129_1(nullptr, c); }},
        {kAlpha, 130, [](CLIENT *c) -> void * { return a_proc130_1(Arg<o_tab102_key>(-1), c); }},
        {kAlpha, 131, [](CLIENT *c) -> void * { return a_proc131_1(Arg<route_sel>(-1), c); }},
        {kAlpha, 132, [](CLIENT *c) -> void * { return a_proc132_1(Arg<a_p132_arg>(-1), c); }},
        {kAlpha, 133, [](CLIENT *c) -> void * { return a_proc133_1(Arg<o_tab97_sel>(-1), c); }},
        {kAlpha, 134, [](CLIENT *c) -> void * { return a_proc134_1(Arg<o_tab97_key>(-1), c); }},
        {kAlpha, 135, [](CLIENT *c) -> void * { return a_proc135_1(Arg<a_p135_arg>(-1), c); }},
        {kAlpha, 136, [](CLIENT *c) -> void * { return a_proc136_1(Arg<a_p136_arg>(-1), c); }},
        {kAlpha, 138, [](CLIENT *c) -> void * { return a_proc138_1(Arg<a_p138_arg>(1), c); }},
        {kAlpha, 139, [](CLIENT *c) -> void * { return a_proc139_1(Arg<a_p139_arg>(1), c); }},
        {kAlpha, 140, [](CLIENT *c) -> void * { return a_proc140_1(Arg<int>(-1), c); }},
        {kAlpha, 141, [](CLIENT *c) -> void * { return a_proc141_1(Arg<a_p17_arg>(-1), c); }},
        {kAlpha, 142, [](CLIENT *c) -> void * { return a_proc142_1(Arg<a_p85_arg>(-1), c); }},
        {kAlpha, 143, [](CLIENT *c) -> void * { return a_proc143_1(Arg<usrconf_new_req>(1), c); }},
        {kAlpha, 145, [](CLIENT *c) -> void * { return a_proc145_1(Arg<usrconf_new_rec>(1), c); }},
        {kAlpha, 146, [](CLIENT *c) -> void * { return a_proc146_1(Arg<a_p146_arg>(1), c); }},
        {kAlpha, 147, [](CLIENT *c) -> void * { return a_proc147_1(Arg<bool_t>(-1), c); }},
        {kAlpha, 148, [](CLIENT *c) -> void * { return a_proc148_1(nullptr, c); }},
        {kAlpha, 149, [](CLIENT *c) -> void * { return a_proc149_1(nullptr, c); }},
        {kAlpha, 1000, [](CLIENT *c) -> void * { return a_proc1000_1(Arg<str21_node>(-1), c); }},
        {kAlpha, 1001, [](CLIENT *c) -> void * { return a_proc1001_1(Arg<blob80>(-1), c); }},
        {kAlpha, 1002, [](CLIENT *c) -> void * { return a_proc1002_1(nullptr, c); }},
        {kAlpha, 1003, [](CLIENT *c) -> void * { return a_proc1003_1(Arg<int>(-1), c); }},
        {kAlpha, 1004, [](CLIENT *c) -> void * { return a_proc1004_1(Arg<a_p1004_arg>(-1), c); }},
        {kAlpha, 1005, [](CLIENT *c) -> void * { return a_proc1005_1(Arg<a_p1005_arg>(-1), c); }},
        {kAlpha, 1006, [](CLIENT *c) -> void * { return a_proc1006_1(Arg<short>(-1), c); }},
        {kAlpha, 1007, [](CLIENT *c) -> void * { return a_proc1007_1(Arg<a_p1007_arg>(-1), c); }},
        {kAlpha, 1008, [](CLIENT *c) -> void * { return a_proc1008_1(nullptr, c); }},
        {kAlpha, 1009, [](CLIENT *c) -> void * { return a_proc1009_1(Arg<a_p1009_arg>(-1), c); }},
        {kAlpha, 1010, [](CLIENT *c) -> void * { return a_proc1010_1(Arg<a_p1010_arg>(1), c); }},
        {kAlpha, 1011, [](CLIENT *c) -> void * { return a_proc1011_1(Arg<a_p1011_arg>(-1), c); }},
        {kOmega, 1, [](CLIENT *c) -> void * { return o_proc1_1(nullptr, c); }},
        {kOmega, 2, [](CLIENT *c) -> void * { return o_proc2_1(Arg<int>(-1), c); }},
        {kOmega, 3, [](CLIENT *c) -> void * { return o_proc3_1(Arg<user_rec>(-1), c); }},
        {kOmega, 4, [](CLIENT *c) -> void * { return o_proc4_1(Arg<o_user_key>(-1), c); }},
        {kOmega, 5, [](CLIENT *c) -> void * { return o_proc5_1(nullptr, c); }},
        {kOmega, 6, [](CLIENT *c) -> void * { return o_proc6_1(Arg<o_user_del>(-1), c); }},
        {kOmega, 15, [](CLIENT *c) -> void * { return o_proc15_1(Arg<o_tab15_rec>(-1), c); }},
        {kOmega, 16, [](CLIENT *c) -> void * { return o_proc16_1(Arg<sxchar>(-1), c); }},
        {kOmega, 17, [](CLIENT *c) -> void * { return o_proc17_1(nullptr, c); }},
        {kOmega, 18, [](CLIENT *c) -> void * { return o_proc18_1(Arg<sxchar>(-1), c); }},
        {kOmega, 19, [](CLIENT *c) -> void * { return o_proc19_1(Arg<o_tab19_rec>(-1), c); }},
        {kOmega, 20, [](CLIENT *c) -> void * { return o_proc20_1(Arg<sxchar>(-1), c); }},
        {kOmega, 21, [](CLIENT *c) -> void * { return o_proc21_1(nullptr, c); }},
        {kOmega, 22, [](CLIENT *c) -> void * { return o_proc22_1(Arg<sxchar>(-1), c); }},
        {kOmega, 23, [](CLIENT *c) -> void * { return o_proc23_1(Arg<o_tab23_rec>(-1), c); }},
        {kOmega, 24, [](CLIENT *c) -> void * { return o_proc24_1(Arg<sxchar>(-1), c); }},
        {kOmega, 25, [](CLIENT *c) -> void * { return o_proc25_1(nullptr, c); }},
        {kOmega, 26, [](CLIENT *c) -> void * { return o_proc26_1(Arg<sxchar>(-1), c); }},
        {kOmega, 27, [](CLIENT *c) -> void * { return o_proc27_1(Arg<o_tab27_rec>(-1), c); }},
        {kOmega, 28, [](CLIENT *c) -> void * { return o_proc28_1(Arg<sxchar>(-1), c); }},
        {kOmega, 29, [](CLIENT *c) -> void * { return o_proc29_1(nullptr, c); }},
        {kOmega, 30, [](CLIENT *c) -> void * { return o_proc30_1(Arg<sxchar>(-1), c); }},
        {kOmega, 31, [](CLIENT *c) -> void * { return o_proc31_1(Arg<group_rec>(-1), c); }},
        {kOmega, 33, [](CLIENT *c) -> void * { return o_proc33_1(nullptr, c); }},
        {kOmega, 34, [](CLIENT *c) -> void * { return o_proc34_1(Arg<sxchar>(-1), c); }},
        {kOmega, 35, [](CLIENT *c) -> void * { return o_proc35_1(Arg<o_tab35_rec>(-1), c); }},
        {kOmega, 36, [](CLIENT *c) -> void * { return o_proc36_1(Arg<sxchar>(-1), c); }},
        {kOmega, 37, [](CLIENT *c) -> void * { return o_proc37_1(Arg<o_tab35_rec>(-1), c); }},
        {kOmega, 38, [](CLIENT *c) -> void * { return o_proc38_1(Arg<o_tab38_rec>(-1), c); }},
        {kOmega, 39, [](CLIENT *c) -> void * { return o_proc39_1(Arg<sxchar>(-1), c); }},
        {kOmega, 40, [](CLIENT *c) -> void * { return o_proc40_1(nullptr, c); }},
        {kOmega, 41, [](CLIENT *c) -> void * { return o_proc41_1(Arg<sxchar>(-1), c); }},
        {kOmega, 42, [](CLIENT *c) -> void * { return o_proc42_1(Arg<o_p42_arg>(-1), c); }},
        {kOmega, 43, [](CLIENT *c) -> void * { return o_proc43_1(Arg<o_tab43_rec>(-1), c); }},
        {kOmega, 44, [](CLIENT *c) -> void * { return o_proc44_1(Arg<sxchar>(-1), c); }},
        {kOmega, 45, [](CLIENT *c) -> void * { return o_proc45_1(Arg<int>(-1), c); }},
        {kOmega, 46, [](CLIENT *c) -> void * { return o_proc46_1(Arg<sxchar>(-1), c); }},
        {kOmega, 47, [](CLIENT *c) -> void * { return o_proc47_1(Arg<sxchar>(-1), c); }},
        {kOmega, 51, [](CLIENT *c) -> void * { return o_proc51_1(nullptr, c); }},
        {kOmega, 52, [](CLIENT *c) -> void * { return o_proc52_1(Arg<o_p52_arg>(-1), c); }},
        {kOmega, 53, [](CLIENT *c) -> void * { return o_proc53_1(Arg<o_p53_arg>(-1), c); }},
        {kOmega, 54, [](CLIENT *c) -> void * { return o_proc54_1(Arg<sxchar>(-1), c); }},
        {kOmega, 55, [](CLIENT *c) -> void * { return o_proc55_1(Arg<sxchar>(-1), c); }},
        {kOmega, 56, [](CLIENT *c) -> void * { return o_proc56_1(Arg<sxchar>(-1), c); }},
        {kOmega, 57, [](CLIENT *c) -> void * { return o_proc57_1(Arg<o_p57_arg>(-1), c); }},
        {kOmega, 58, [](CLIENT *c) -> void * { return o_proc58_1(Arg<o_tab58_put>(-1), c); }},
        {kOmega, 59, [](CLIENT *c) -> void * { return o_proc59_1(Arg<o_tab58_key>(-1), c); }},
        {kOmega, 60, [](CLIENT *c) -> void * { return o_proc60_1(Arg<o_tab58_sel>(-1), c); }},
        {kOmega, 61, [](CLIENT *c) -> void * { return o_proc61_1(Arg<o_tab58_del>(-1), c); }},
        {kOmega, 62, [](CLIENT *c) -> void * { return o_proc62_1(Arg<o_tab62_put>(-1), c); }},
        {kOmega, 63, [](CLIENT *c) -> void * { return o_proc63_1(Arg<o_tab62_sel>(-1), c); }},
        {kOmega, 64, [](CLIENT *c) -> void * { return o_proc64_1(Arg<o_tab62_del>(-1), c); }},
        {kOmega, 65, [](CLIENT *c) -> void * { return o_proc65_1(Arg<o_p65_arg>(-1), c); }},
        {kOmega, 66, [](CLIENT *c) -> void * { return o_proc66_1(Arg<sxchar>(-1), c); }},
        {kOmega, 67, [](CLIENT *c) -> void * { return o_proc67_1(Arg<o_tab67_put>(-1), c); }},
        {kOmega, 68, [](CLIENT *c) -> void * { return o_proc68_1(Arg<o_tab67_key>(-1), c); }},
        {kOmega, 69, [](CLIENT *c) -> void * { return o_proc69_1(Arg<o_tab67_sel>(-1), c); }},
        {kOmega, 70, [](CLIENT *c) -> void * { return o_proc70_1(Arg<o_tab67_del>(-1), c); }},
        {kOmega, 72, [](CLIENT *c) -> void * { return o_proc72_1(Arg<o_tab72_put>(-1), c); }},
        {kOmega, 73, [](CLIENT *c) -> void * { return o_proc73_1(Arg<o_tab72_key>(-1), c); }},
        {kOmega, 74, [](CLIENT *c) -> void * { return o_proc74_1(Arg<o_tab72_sel>(-1), c); }},
        {kOmega, 75, [](CLIENT *c) -> void * { return o_proc75_1(Arg<o_tab72_del>(-1), c); }},
        {kOmega, 76, [](CLIENT *c) -> void * { return o_proc76_1(Arg<o_p76_arg>(-1), c); }},
        {kOmega, 77, [](CLIENT *c) -> void * { return o_proc77_1(Arg<o_tab35_rec>(-1), c); }},
        {kOmega, 78, [](CLIENT *c) -> void * { return o_proc78_1(Arg<o_tab62_sel2>(-1), c); }},
        {kOmega, 79, [](CLIENT *c) -> void * { return o_proc79_1(Arg<sxchar>(-1), c); }},
        {kOmega, 80, [](CLIENT *c) -> void * { return o_proc80_1(Arg<sxchar>(-1), c); }},
        {kOmega, 81, [](CLIENT *c) -> void * { return o_proc81_1(Arg<o_tab79_rec>(-1), c); }},
        {kOmega, 82, [](CLIENT *c) -> void * { return o_proc82_1(Arg<sxchar>(-1), c); }},
        {kOmega, 83, [](CLIENT *c) -> void * { return o_proc83_1(Arg<o_tab79_sel>(-1), c); }},
        {kOmega, 84, [](CLIENT *c) -> void * { return o_proc84_1(Arg<o_tab79_sel2>(-1), c); }},
        {kOmega, 85, [](CLIENT *c) -> void * { return o_proc85_1(Arg<o_p85_arg>(-1), c); }},
        {kOmega, 86, [](CLIENT *c) -> void * { return o_proc86_1(Arg<o_tab67_sel2>(-1), c); }},
        {kOmega, 87, [](CLIENT *c) -> void * { return o_proc87_1(Arg<o_tab15_sel>(-1), c); }},
        {kOmega, 88, [](CLIENT *c) -> void * { return o_proc88_1(Arg<o_tab58_sel2>(-1), c); }},
        {kOmega, 89, [](CLIENT *c) -> void * { return o_proc89_1(Arg<o_tab72_key2>(-1), c); }},
        {kOmega, 90, [](CLIENT *c) -> void * { return o_proc90_1(Arg<o_tab107_key>(-1), c); }},
        {kOmega, 93, [](CLIENT *c) -> void * { return o_proc93_1(Arg<route_sel>(-1), c); }},
        {kOmega, 97, [](CLIENT *c) -> void * { return o_proc97_1(Arg<o_tab97_rec>(-1), c); }},
        {kOmega, 98, [](CLIENT *c) -> void * { return o_proc98_1(Arg<o_tab97_del>(-1), c); }},
        {kOmega, 101, [](CLIENT *c) -> void * { return o_proc101_1(Arg<bool_t>(-1), c); }},
        {kOmega, 106, [](CLIENT *c) -> void * { return o_proc106_1(Arg<config_sel>(-1), c); }},
        {kOmega, 107, [](CLIENT *c) -> void * { return o_proc107_1(Arg<o_tab107_put>(-1), c); }},
        {kOmega, 108, [](CLIENT *c) -> void * { return o_proc108_1(Arg<o_tab107_del>(-1), c); }},
        {kOmega, 109, [](CLIENT *c) -> void * { return o_proc109_1(Arg<o_tab107_sel>(-1), c); }},
        {kOmega, 111, [](CLIENT *c) -> void * { return o_proc111_1(Arg<o_tab97_sel>(-1), c); }},
        {kOmega, 112, [](CLIENT *c) -> void * { return o_proc112_1(Arg<o_tab97_key>(-1), c); }},
        {kOmega, 113, [](CLIENT *c) -> void * { return o_proc113_1(Arg<o_p113_arg>(-1), c); }},
        {kOmega, 114, [](CLIENT *c) -> void * { return o_proc114_1(Arg<int>(-1), c); }},
        {kOmega, 115, [](CLIENT *c) -> void * { return o_proc115_1(nullptr, c); }},
    };
    ExpectProcedureNumbers(rows);
}

TEST_F(OtherStubs, ProcedureWithoutArgumentOrResult)
{
    server->Answer(kAlpha, 1, Wire());
    void *res = a_proc1_1(nullptr, alpha.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(*static_cast<char *>(res), 0);
    EXPECT_TRUE(OnlyCall(kAlpha, 1).empty());
}

TEST_F(OtherStubs, ListArgumentPassedAsItsFirstNode)
{
    str21_node second = {nullptr, {}}, first = {&second, {}};
    tela::FieldSet(first.name, "4711");
    tela::FieldSet(second.name, "4712");
    server->Answer(kAlpha, 1000, Wire().boolean(true));
    bool_t *ok = a_proc1000_1(&first, alpha.get());
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(*ok, 1);
    EXPECT_EQ(OnlyCall(kAlpha, 1000),
              Wire().present(true).present(false).str21("4712").str21("4711").bytes());
}

TEST_F(OtherStubs, LinkFirstListComesBackInTheSendersOrder)
{
    server->Answer(kAlpha, 1006,
                   Wire()
                       .present(true)
                       .present(true)
                       .present(false)
                       .str11("u2")
                       .str81("second")
                       .i32(2)
                       .str11("u1")
                       .str81("first")
                       .i32(1)
                       .i32(2));
    int16_t kind = -1;
    a_p1006_res *res = a_proc1006_1(&kind, alpha.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(OnlyCall(kAlpha, 1006), Wire().i16(-1).bytes());
    ASSERT_NE(res->first, nullptr);
    EXPECT_EQ(tela::FieldText(res->first->f2), "first");
    ASSERT_NE(res->first->next, nullptr);
    EXPECT_EQ(tela::FieldText(res->first->next->f2), "second");
    EXPECT_EQ(res->first->next->next, nullptr);
    EXPECT_EQ(res->f2, 2);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_a_p1006_res), reinterpret_cast<char *>(res));
    EXPECT_EQ(res->first, nullptr);
}

TEST_F(OtherStubs, LinkLastListAndNestedLists)
{
    Wire w;
    w.u32(1);
    for (int i = 1; i <= 13; ++i)
        w.i16(static_cast<int16_t>(i));
    w.present(true).str11("a").i32(1).i32(2).present(true).str11("b").i32(3).i32(4).present(false);
    w.i32(15).i32(16).boolean(true).boolean(false);
    server->Answer(kOmega, 114, w);
    int which = 7;
    o_p114_res *res = o_proc114_1(&which, omega.get());
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(OnlyCall(kOmega, 114), Wire().i32(7).bytes());
    ASSERT_EQ(res->vers, 1);
    const o_p114_res_v1 &v = res->o_p114_res_u.v1;
    EXPECT_EQ(v.f13, 13);
    ASSERT_NE(v.first, nullptr);
    EXPECT_EQ(tela::FieldText(v.first->f1), "a");
    ASSERT_NE(v.first->next, nullptr);
    EXPECT_EQ(v.first->next->f3, 4);
    EXPECT_EQ(v.f16, 16);
    EXPECT_EQ(v.f17, 1);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_o_p114_res), reinterpret_cast<char *>(res));

    server->Reset();
    server->Answer(kOmega, 53,
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
                       .boolean(true));
    o_p53_arg arg = {};
    tela::FieldSet(arg.f1, "host");
    o_p53_res *groups = o_proc53_1(&arg, omega.get());
    ASSERT_NE(groups, nullptr);
    EXPECT_EQ(OnlyCall(kOmega, 53), Wire().str36("host").str11("").str11("").bytes());
    ASSERT_NE(groups->first, nullptr);
    EXPECT_EQ(tela::FieldText(groups->first->name), "g1");
    ASSERT_NE(groups->first->members, nullptr);
    EXPECT_EQ(tela::FieldText(groups->first->members->name), "m1");
    ASSERT_NE(groups->first->members->next, nullptr);
    EXPECT_EQ(tela::FieldText(groups->first->members->next->name), "m2");
    ASSERT_NE(groups->first->next, nullptr);
    EXPECT_EQ(groups->first->next->members, nullptr);
    EXPECT_EQ(groups->f2, 1);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_o_p53_res), reinterpret_cast<char *>(groups));
    EXPECT_EQ(groups->first, nullptr);
}

TEST_F(OtherStubs, WrappersOfAlphaAndOmega)
{
    // a wrapper without result: 0 on success, the argument as the plain stub sends it
    a_p12_arg a12 = {};
    tela::FieldSet(a12.f1, "u1");
    a12.f2 = -5;
    server->Answer(kAlpha, 12, Wire());
    EXPECT_EQ(a_proc12_r1(alpha.get(), &a12), 0u);
    EXPECT_EQ(OnlyCall(kAlpha, 12), Wire().str11("u1").i32(-5).bytes());

    // a fixed-string result into the caller's field
    server->Reset();
    server->Answer(kAlpha, 74, Wire().str81("value"));
    a_p74_arg a74 = {};
    str81 value;
    std::memset(value, 'x', sizeof value);
    EXPECT_EQ(a_proc74_r1(alpha.get(), &a74, &value), 0u);
    EXPECT_EQ(tela::FieldText(value), "value");

    // an argument-less wrapper, and an omega one
    server->Reset();
    server->Answer(kAlpha, 75, Wire().i32(1).i32(15));
    compat_rec compat;
    EXPECT_EQ(a_get_compat_r1(alpha.get(), nullptr, &compat), 0u);
    EXPECT_EQ(compat.level, 15);
    server->Answer(kOmega, 49, Wire().str81("cfg"));
    str11 key = {};
    tela::FieldSet(key, "k");
    EXPECT_EQ(o_get_config_r1(omega.get(), &key, &value), 0u);
    EXPECT_EQ(tela::FieldText(value), "cfg");

    // a refused procedure
    a_p1010_arg a1010 = {};
    a1010.vers = 1;
    int16_t status = 0;
    EXPECT_EQ(a_proc1010_r1(alpha.get(), &a1010, &status), tela::kWrapperRpcError);
}

// Interfaces A and B have no program of their own here: the wrappers take whatever client the
// caller made; the test server takes their procedures on the alpha program number.
TEST_F(OtherStubs, WrappersOfTheFurtherInterfaces)
{
    xb_p2_arg b2 = {};
    b2.f1[0] = '\xE9';
    b2.f2 = 2;
    std::memcpy(b2.f6, "text", 4);
    b2.f10 = 10;
    server->Answer(kAlpha, 2, Wire());
    EXPECT_EQ(xb_proc2_r1(alpha.get(), &b2), 0u);
    EXPECT_EQ(OnlyCall(kAlpha, 2), Wire()
                                       .str(11, "\xE9")
                                       .i32(2)
                                       .i32(0)
                                       .i32(0)
                                       .i32(0)
                                       .str(121, "text")
                                       .i32(0)
                                       .i32(0)
                                       .i32(0)
                                       .i32(10)
                                       .bytes());

    server->Reset();
    Wire r7;
    r7.i16(3).i32(1000);
    for (int i = 0; i < 1000; ++i)
        r7.i32(i);
    server->Answer(kAlpha, 7, r7);
    xa_p7_arg a7 = {4, 5};
    auto res7 = std::make_unique<xa_p7_res>();
    EXPECT_EQ(xa_proc7_r1(alpha.get(), &a7, res7.get()), 0u);
    EXPECT_EQ(OnlyCall(kAlpha, 7), Wire().i16(4).i32(5).bytes());
    EXPECT_EQ(res7->f1, 3);
    EXPECT_EQ(res7->f3[999], 999);

    server->Reset();
    server->Answer(kAlpha, 15, Wire().present(true).present(false).u32(1).str81("line").i32(1).i16(0));
    a_p1009_arg a15 = {};
    a_p1009_res res15;
    EXPECT_EQ(xa_proc15_r1(alpha.get(), &a15, &res15), 0u);
    EXPECT_EQ(OnlyCall(kAlpha, 15).size(), 64u);
    ASSERT_NE(res15.first, nullptr);
    EXPECT_EQ(res15.first->entry.vers, 1);
    EXPECT_EQ(tela::FieldText(res15.first->entry.a_p1009_rec_u.v1.f1), "line");
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_a_p1009_res), reinterpret_cast<char *>(&res15));

    server->Reset();
    server->Answer(kAlpha, 10, Wire().i16(0).blob("bytes"));
    xa_p10_arg a10 = {};
    xa_p10_res res10;
    EXPECT_EQ(xa_proc10_r1(alpha.get(), &a10, &res10), 0u);
    ASSERT_EQ(res10.f2.blob_len, 5u);
    EXPECT_EQ(std::string(res10.f2.blob_val, 5), "bytes");
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_xa_p10_res), reinterpret_cast<char *>(&res10));

    // no client: nothing is sent
    server->Reset();
    int count = 0;
    EXPECT_EQ(xa_proc2_r1(nullptr, nullptr, &count), tela::kWrapperRpcError);
    EXPECT_EQ(xb_proc2_r1(nullptr, &b2), tela::kWrapperRpcError);
    EXPECT_TRUE(server->Calls().empty());
}

}  // namespace
