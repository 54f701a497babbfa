// The LD texts where the LDAP library cannot be loaded: a text that names the code, never an
// empty one. A program of its own, since the library is looked up once per process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mailtrack/exterror.h"
#include "mailtrack/exterror_testing.h"

namespace {

constexpr const char kMissing[] = "libtela-no-such-ldap.so.0";

std::string Text(ErrorCode code)
{
    char buffer[EXT_ERROR_TEXT_SIZE];
    ErrorCodeText(code, buffer, sizeof buffer);
    return buffer;
}

TEST(LdapTextFallback, NamesTheCode)
{
    SetLdapLibraryName(kMissing);
    struct Case {
        ErrorCode code;
        const char *text;
    } cases[] = {
        {0x30000000u, "LD0: LDAP result code 0 (libtela-no-such-ldap.so.0 not loaded)"},
        {0x30000020u, "LD20: LDAP result code 32 (libtela-no-such-ldap.so.0 not loaded)"},
        {0x30000031u, "LD31: LDAP result code 49 (libtela-no-such-ldap.so.0 not loaded)"},
        {0x3fffffffu, "LDfffffff: LDAP result code 268435455 (libtela-no-such-ldap.so.0 not loaded)"},
        {0x30003039u, "LD3039: LDAP result code 12345 (libtela-no-such-ldap.so.0 not loaded)"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Text(cases[i].code), cases[i].text) << "case " << i;
    EXPECT_STREQ(LdapResultText(-1), "LDAP result code -1 (libtela-no-such-ldap.so.0 not loaded)");
    // The other families do not depend on the library.
    EXPECT_EQ(Text(0x20000001u), "GW1: Timeout");
}

}  // namespace
