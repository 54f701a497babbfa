#include "os/hostvars.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "envguard.h"
#include "os/hostvars_testing.h"

using testsupport::EnvGuard;

namespace {

TEST(BoundedCopy, WritesAtMostCountAndTerminator)
{
    struct Case {
        const char *src;
        int16_t count;
        const char *expect;
    } cases[] = {
        {"ABCDEFGHIJKLMNO", 10, "ABCDEFGHIJ"},  // 15 characters into a field of 10
        {"abc", 10, "abc"},
        {"abc", 0, ""},
        {"abc", 3, "abc"},
        {"", 5, ""},
        {nullptr, 5, ""},
        {"abc", -4, ""},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case &c = cases[i];
        char buf[32];
        memset(buf, '#', sizeof buf);
        char *end = BoundedCopy(buf, c.src, c.count);
        size_t n = strlen(c.expect);
        EXPECT_STREQ(buf, c.expect) << "case " << i;
        EXPECT_EQ(end, buf + n) << "case " << i;
        // Nothing behind the terminator is touched.
        for (size_t k = n + 1; k < sizeof buf; ++k)
            ASSERT_EQ(buf[k], '#') << "case " << i;
    }
}

TEST(GetEnvCopy, CopiesBoundedOrEmpty)
{
    EnvGuard env;
    env.Set("TELA_T_VALUE", "0123456789abc");
    env.Unset("TELA_T_MISSING");
    char buf[16];
    EXPECT_STREQ(GetEnvCopy("TELA_T_VALUE", 10, buf), "0123456789");
    memset(buf, 'x', sizeof buf);
    EXPECT_STREQ(GetEnvCopy("TELA_T_MISSING", 10, buf), "");
}

class HostVars : public ::testing::Test {
protected:
    void SetUp() override { HostVarsResetCaches(); }
    void TearDown() override { HostVarsResetCaches(); }
    EnvGuard env;
};

TEST_F(HostVars, LocalHostDefaultsAndIsCut)
{
    struct Case {
        const char *value;  // nullptr: unset
        const char *expect;
    } cases[] = {
        {nullptr, "localhost"},
        {"", "localhost"},
        {"box1", "box1"},
        {"abcdefghijklmnopqrstuvwxyz0123456789ABCD", "abcdefghijklmnopqrstuvwxyz012345678"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        HostVarsResetCaches();
        if (cases[i].value)
            env.Set("LOCALHOST", cases[i].value);
        else
            env.Unset("LOCALHOST");
        EXPECT_STREQ(GetLocalHost(), cases[i].expect) << "case " << i;
    }
}

TEST_F(HostVars, LocalHostIsReadOnce)
{
    env.Set("LOCALHOST", "first");
    EXPECT_STREQ(GetLocalHost(), "first");
    env.Set("LOCALHOST", "second");
    EXPECT_STREQ(GetLocalHost(), "first");
}

TEST_F(HostVars, ServerHostsFallBackOnLocalHost)
{
    using Getter = const char *(*)();
    struct Case {
        const char *variable;
        Getter get;
    } cases[] = {
        {"ALPHAHOST", GetAlphaHost}, {"OMEGAHOST", GetOmegaHost}, {"LAMBDAHOST", GetLambdaHost},
        {"GAMMAHOST", GetGammaHost}, {"THETAHOST", GetThetaHost}, {"PIHOST", GetPiHost},
    };
    env.Set("LOCALHOST", "home");
    const std::string longName(60, 'h');  // not limited like LOCALHOST
    for (const Case &c : cases) {
        env.Unset(c.variable);
        EXPECT_STREQ(c.get(), "home") << c.variable << " unset";
        env.Set(c.variable, "");
        EXPECT_STREQ(c.get(), "home") << c.variable << " empty";
        env.Set(c.variable, longName);
        EXPECT_EQ(std::string(c.get()), longName) << c.variable;
    }
}

TEST_F(HostVars, RpcTransport)
{
    env.Unset("RPCTRANSPORT");
    EXPECT_STREQ(GetRpcTransport(), "tcp");
    env.Set("RPCTRANSPORT", "");
    EXPECT_STREQ(GetRpcTransport(), "");
    env.Set("RPCTRANSPORT", "udp");
    EXPECT_STREQ(GetRpcTransport(), "udp");
}

TEST_F(HostVars, ProgramNumberOffset)
{
    struct Case {
        const char *value;  // nullptr: unset
        uint32_t program;
        uint32_t expect;
    } cases[] = {
        {nullptr, 16011967u, 16011967u},
        {"100", 16011967u, 16012067u},
        {"-100", 16011967u, 16011867u},
        {"  42", 1u, 43u},
        {"x5", 16011931u, 16011931u},  // not a number: no offset
        {"7abc", 10u, 17u},
        {"1", 0xFFFFFFFFu, 0u},  // 32-bit arithmetic
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        HostVarsResetCaches();
        if (cases[i].value)
            env.Set("TELAMORPCOFFSET", cases[i].value);
        else
            env.Unset("TELAMORPCOFFSET");
        EXPECT_EQ(RpcProgramNumber(cases[i].program), cases[i].expect) << "case " << i;
    }
}

TEST_F(HostVars, ProgramNumberOffsetIsReadOnce)
{
    env.Set("TELAMORPCOFFSET", "100");
    EXPECT_EQ(RpcProgramNumber(16011967u), 16012067u);
    env.Set("TELAMORPCOFFSET", "5");
    EXPECT_EQ(RpcProgramNumber(16011967u), 16012067u);
    env.Unset("TELAMORPCOFFSET");
    EXPECT_EQ(RpcProgramNumber(16011931u), 16012031u);
}

TEST(Unquote, Cases)
{
    struct Case {
        const char *text;
        const char *expect;
    } cases[] =
        {
            {" \"abc\" ", "abc"},
            {"'abc'", "abc"},
            {" 'abc\" ", " 'abc\" "},  // quotes differ: unchanged, blanks included
            {"\"", "\""},              // a lone quote is not a pair
            {"\"\"", ""},
            {"  plain  ", "  plain  "},
            {"\"a\"b", "\"a\"b"},
            {"\t\"x y\"\n", "x y"},
        };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_STREQ(Unquote(cases[i].text), cases[i].expect) << "case " << i;
        char buf[64];
        EXPECT_EQ(Unquote(cases[i].text, buf, sizeof buf), buf);
        EXPECT_STREQ(buf, cases[i].expect) << "case " << i;
    }
    EXPECT_EQ(Unquote(nullptr), nullptr);
}

TEST(Unquote, ResultIsBounded)
{
    std::string longText(1500, 'a');
    EXPECT_EQ(strlen(Unquote(longText.c_str())), UNQUOTE_MAX);
    std::string quoted = "\"" + longText + "\"";
    EXPECT_EQ(strlen(Unquote(quoted.c_str())), UNQUOTE_MAX);
    char small[8];
    memset(small, '#', sizeof small);
    Unquote(quoted.c_str(), small, 5);
    EXPECT_STREQ(small, "aaaa");
    EXPECT_EQ(small[5], '#');
}

}  // namespace
