// The resolver's text helpers: the TSI parser, the LDAP filter builder and the lower-casing of
// directory values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resolver/resolver.h"

namespace {

struct TsiCase {
    const char *text;
    size_t size;
    GdResult rc;
    const char *tsi;
};

TEST(ParseExtAttrTSI, TakesTheQuotedValueBehindTheFirstTSI)
{
    const TsiCase cases[] = {
        {"TSI=\"+49 30 1234\"", 21, 0, "+49 30 1234"},
        {"TSI  =  \"abc\"", 21, 0, "abc"},
        {"X=\"1\"; TSI = \"fax one\"; Y=\"2\"", 21, 0, "fax one"},
        {"TSI=\"say \\\"hi\\\"\"", 21, 0, "say \"hi\""},
        {"TSI=\"ends in backslash\\", 21, 0, "ends in backslash"},
        {"TSI=\"no closing quote", 21, 0, "no closing quote"},
        {"TSI=unquoted", 21, GDERR_FAILED, ""},
        {"TSI \"missing equals\"", 21, GDERR_FAILED, ""},
        {"nothing here", 21, 0, ""},
        {"xTSIy=\"inside a word\"", 21, GDERR_FAILED, ""},
        {"xTSI=\"inside a word\"", 21, 0, "inside a word"},
        {"TSI=\"123456789012345678901234\" TSI=\"2\"", 21, 0, "12345678901234567890"},
        {"TSI=\"abcdef\"", 4, 0, "abc"},
        {"tsi=\"lower case\"", 21, 0, ""},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        char out[64];
        std::memset(out, 'Z', sizeof out);
        GdResult rc = ParseExtAttrTSI(cases[i].text, out, cases[i].size, LINE_NONE);
        EXPECT_EQ(rc, cases[i].rc) << "case " << i;
        EXPECT_STREQ(out, cases[i].tsi) << "case " << i;
        EXPECT_EQ(out[cases[i].size], 'Z') << "case " << i << " wrote past its buffer";
    }
}

struct FilterCase {
    const char *templ;
    const char *value;
    bool ok;
    const char *filter;
};

TEST(FormatLdapFilter, PutsTheEscapedValueInPlaceOfEachPercentS)
{
    const FilterCase cases[] = {
        {"facsimileTelephoneNumber=%s", "4711", true, "facsimileTelephoneNumber=4711"},
        {"(|(telephoneNumber=%s)(mobile=%s))", "4711", true, "(|(telephoneNumber=4711)(mobile=4711))"},
        {"(cn=%s)", "*", true, "(cn=\\2a)"},
        {"(cn=%s)", "x)(uid=*", true, "(cn=x\\29\\28uid=\\2a)"},
        {"(cn=%s)", "a\\b", true, "(cn=a\\5cb)"},
        {"(note=100%%)", "1", true, "(note=100%)"},
        {"(cn=%d%n%x)", "1", true, "(cn=%d%n%x)"},
        {"(cn=%s%s%s%s%s)", "1", true, "(cn=11111)"},
        {"trailing %", "1", true, "trailing %"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        char out[1024];
        EXPECT_EQ(FormatLdapFilter(cases[i].templ, cases[i].value, out, sizeof out), cases[i].ok)
            << "case " << i;
        EXPECT_STREQ(out, cases[i].filter) << "case " << i;
    }
}

TEST(FormatLdapFilter, RefusesAFilterThatDoesNotFitAndStaysInItsBuffer)
{
    std::string longValue(600, '1');
    char out[1025];
    std::memset(out, 'Z', sizeof out);
    EXPECT_FALSE(FormatLdapFilter("(|(a=%s)(b=%s))", longValue.c_str(), out, 1024));
    EXPECT_LT(std::strlen(out), 1024u);
    EXPECT_EQ(out[1024], 'Z');
}

TEST(LowerIso885915, LowersAsciiAndTheLatinCapitals)
{
    char text[] = "DE En \xC4\xD6\xDC \xA6\xB4\xBC\xBE \xD7 \xDF";
    LowerIso885915(text);
    EXPECT_STREQ(text, "de en \xE4\xF6\xFC \xA8\xB8\xBD\xFF \xD7 \xDF");
}

}  // namespace
