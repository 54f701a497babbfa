// The table of the server programs: the seven programs of the port map with their slots and
// numbers, looked up both ways, and what the port map gives each of them.
#include "rpcrt/servers.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(ServerPrograms, TableOfThePortMap)
{
    const struct {
        tela::ServerProgram program;
        rpcprog_t number;
        int slot;
    } cases[] = {
        {tela::ServerProgram::Alpha, 16011967, 0},      {tela::ServerProgram::Program1, 1481537, 1},
        {tela::ServerProgram::Program2, 1102104009, 2}, {tela::ServerProgram::Program3, 26011932, 3},
        {tela::ServerProgram::Program4, 302095104, 4},  {tela::ServerProgram::Omega, 16011931, 5},
        {tela::ServerProgram::Program6, 9081975, 6},
    };
    ASSERT_EQ(sizeof tela::ServerProgramTable / sizeof tela::ServerProgramTable[0], 7u);
    unsetenv("TELAMORPCMAP");
    unsetenv("TELAMORPCOFFSET");
    setenv("TELAMORPCPORT", "9000", 1);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const tela::ServerProgramEntry &entry = tela::ServerProgramOf(cases[i].program);
        EXPECT_EQ(entry.program, cases[i].program) << "case " << i;
        EXPECT_EQ(entry.number, cases[i].number) << "case " << i;
        EXPECT_EQ(entry.version, 1u) << "case " << i;
        EXPECT_EQ(static_cast<int>(entry.program), cases[i].slot) << "case " << i;
        EXPECT_EQ(tela::ServerProgramByNumber(cases[i].number), &entry) << "case " << i;
        EXPECT_EQ(tela::rpclib("somehost", cases[i].number, 1), 9000 + cases[i].slot) << "case " << i;
    }
    EXPECT_EQ(tela::ServerProgramByNumber(16011967 + 1), nullptr);
    EXPECT_EQ(tela::rpclib("somehost", 16011967 + 1, 1), 9000);
    unsetenv("TELAMORPCPORT");
}

TEST(ServerPrograms, StatusCodesAndLevels)
{
    EXPECT_EQ(SERVER_OK, 0);
    EXPECT_EQ(SERVER_FULL_FORM_REFUSED, 23);
    EXPECT_EQ(SERVER_NOT_FOUND, 25);
    const int levels[] = {COMPAT_ROUTE_V0_LAST, COMPAT_ROUTE_V1_FIRST, COMPAT_ROUTE_V1_LAST,
                          COMPAT_ALPHA_ONLY};
    const int expected[] = {12, 13, 15, 16};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(levels[i], expected[i]) << "level " << i;
}

}  // namespace
