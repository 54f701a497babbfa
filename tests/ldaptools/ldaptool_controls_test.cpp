// Request controls from the settings and the printers of response controls: hand-made
// response controls for the exact texts, and a private slapd for controls on a real search.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <lber.h>
#include <ldif.h>

#include "ldaptest.h"
#include "slapd.h"
#include "tools/controls.h"

namespace {

using testsupport::CaptureFd;

const ToolSettings kInitial = tool_settings;

void ResetSettings()
{
    ToolSettings &s = tool_settings;
    ber_memfree(s.paged_cookie.bv_val);
    ber_memfree(s.assertion_value.bv_val);
    tool_settings = kInitial;
}

// A response control whose value is encoded with ber_printf; owns the value.
struct HandControl {
    HandControl(const char *oid, BerElement *ber, bool critical = false)
    {
        control.ldctl_oid = const_cast<char *>(oid);
        control.ldctl_iscritical = critical ? 1 : 0;
        control.ldctl_value = {0, nullptr};
        if (ber) {
            struct berval *flat = nullptr;
            if (ber_flatten(ber, &flat) == 0) {
                control.ldctl_value = *flat;
                ber_memfree(flat);
            }
            ber_free(ber, 1);
        }
    }
    ~HandControl() { ber_memfree(control.ldctl_value.bv_val); }
    LDAPControl control;
};

BerElement *NewBer()
{
    return ber_alloc_t(LBER_USE_DER);
}

// A session that never connects: the library's parsers want one.
LDAP *Session()
{
    static LDAP *ld = [] {
        LDAP *made = nullptr;
        ldap_initialize(&made, "ldap://127.0.0.1:1");
        return made;
    }();
    return ld;
}

// What tool_print_controls writes for one control.
std::string Printed(LDAPControl *control)
{
    LDAPControl *list[] = {control, nullptr};
    CaptureFd out(1);
    tool_print_controls(Session(), list);
    std::fflush(stdout);
    return out.Text();
}

class ToolControlPrinters : public ::testing::Test {
protected:
    void SetUp() override { ResetSettings(); }
    void TearDown() override { ResetSettings(); }
};

TEST_F(ToolControlPrinters, ExactTexts)
{
    struct berval cookie = {3, const_cast<char *>("abc")};
    struct berval empty = {0, nullptr};
    struct berval context = {2, const_cast<char *>("xy")};

    BerElement *paged = NewBer();
    ber_printf(paged, "{iO}", 7, &cookie);
    BerElement *pagedEnd = NewBer();
    ber_printf(pagedEnd, "{iO}", 0, &empty);
    BerElement *grace = NewBer();
    ber_printf(grace, "{t{ti}N}", static_cast<ber_tag_t>(0xA0), static_cast<ber_tag_t>(0x81), 3);
    BerElement *expireAndError = NewBer();
    ber_printf(expireAndError, "{t{ti}tiN}", static_cast<ber_tag_t>(0xA0), static_cast<ber_tag_t>(0x80), 60,
               static_cast<ber_tag_t>(0x81), 2);
    BerElement *sortOk = NewBer();
    ber_printf(sortOk, "{eN}", 0);
    BerElement *sortAttr = NewBer();
    ber_printf(sortAttr, "{etsN}", 16, static_cast<ber_tag_t>(0x80), "cn");
    BerElement *vlv = NewBer();
    ber_printf(vlv, "{iieON}", 2, 10, 0, &context);
    BerElement *failed = NewBer();
    ber_printf(failed, "[ss]", "1.2.3", "4.5.6");

    HandControl controls[] = {
        {LDAP_CONTROL_PAGEDRESULTS, paged},
        {LDAP_CONTROL_PAGEDRESULTS, pagedEnd},
        {LDAP_CONTROL_PASSWORDPOLICYRESPONSE, grace},
        {LDAP_CONTROL_PASSWORDPOLICYRESPONSE, expireAndError},
        {LDAP_CONTROL_SORTRESPONSE, sortOk},
        {LDAP_CONTROL_SORTRESPONSE, sortAttr},
        {LDAP_CONTROL_VLVRESPONSE, vlv},
        {"1.3.6.1.4.1.4203.666.5.17", failed},
        {"1.2.3.4", nullptr, true},
    };
    const char *expected[] = {
        "control: 1.2.840.113556.1.4.319 false MAgCAQcEA2FiYw==\npagedresults: estimate=7 cookie=YWJj\n",
        "control: 1.2.840.113556.1.4.319 false MAUCAQAEAA==\npagedresults: cookie=\n",
        "control: 1.3.6.1.4.1.42.2.27.8.5.1 false MAWgA4EBAw==\nppolicy: grace=3\n",
        "control: 1.3.6.1.4.1.42.2.27.8.5.1 false MAigA4ABPIEBAg==\n"
        "ppolicy: expire=60 error=2 (Password must be changed)\n",
        "control: 1.2.840.113556.1.4.474 false MAMKAQA=\nsortResult: (0) Success\n",
        "control: 1.2.840.113556.1.4.474 false MAcKARCAAmNu\nsortResult: (16) No such attribute cn\n",
        "control: 2.16.840.1.113730.3.4.10 false MA0CAQICAQoKAQAEAnh5\n"
        "vlvResult: pos=2 count=10 context=eHk= (0) Success\n",
        "control: 1.3.6.1.4.1.4203.666.5.17 false MQ4EBTEuMi4zBAU0LjUuNg==\n"
        "# what failed:\n# 1.2.3\n# 4.5.6\n",
        "control: 1.2.3.4 true\n",
    };
    for (size_t i = 0; i < sizeof controls / sizeof controls[0]; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Printed(&controls[i].control), expected[i]);
    }
    EXPECT_EQ(vlv_target_position, 2);
    EXPECT_EQ(vlv_list_count, 10);
    EXPECT_EQ(std::string(vlv_context.bv_val, vlv_context.bv_len), "xy");
    // The last cookie (the empty one) is kept; the first was freed when it was replaced.
    EXPECT_EQ(tool_settings.paged_cookie.bv_len, 0u);
}

TEST_F(ToolControlPrinters, ReadEntryInBothStyles)
{
    BerElement *ber = NewBer();
    ber_printf(ber, "{s{{s[ss]}{s[s]}}}", "cn=a,dc=x", "cn", "a", "b", "sn", "c");
    HandControl control(LDAP_CONTROL_PRE_READ, ber);
    tool_settings.ldif_wrap = UINT_MAX;  // the control line in one piece
    EXPECT_EQ(Printed(&control.control),
              "control: 1.3.6.1.1.13.1 false MCYECWNuPWEsZGM9eDAZMAwEAmNuMQYEAWEEAWIwCQQCc24xAwQBYw==\n"
              "# ==> preread\ndn: cn=a,dc=x\ncn: a\ncn: b\nsn: c\n# <== preread\n");
    tool_settings.ldif_output = 1;
    EXPECT_EQ(Printed(&control.control),
              "# control: 1.3.6.1.1.13.1 false MCYECWNuPWEsZGM9eDAZMAwEAmNuMQYEAWEEAWIwCQQCc24xAwQBYw==\n"
              "# ==> preread\ndn: cn=a,dc=x\n# cn: a\n# cn: b\n# sn: c\n# <== preread\n");
    // Style 2 leaves out the control line itself.
    tool_settings.ldif_output = 2;
    EXPECT_EQ(Printed(&control.control).substr(0, 14), "# ==> preread\n");
}

// A value that does not decode stops the printer after what it wrote, and leaks nothing.
TEST_F(ToolControlPrinters, BrokenValuesAreSkipped)
{
    BerElement *noValues = NewBer();
    ber_printf(noValues, "{s{{s[]}}}", "cn=a", "cn");
    HandControl readEntry(LDAP_CONTROL_POST_READ, noValues);
    EXPECT_EQ(Printed(&readEntry.control),
              "control: 1.3.6.1.1.13.2 false MBAEBGNuPWEwCDAGBAJjbjEA\n# ==> postread\ndn: cn=a\n");

    BerElement *garbage = NewBer();
    ber_printf(garbage, "{s}", "x");
    HandControl paged(LDAP_CONTROL_PAGEDRESULTS, garbage);
    EXPECT_EQ(Printed(&paged.control), "control: 1.2.840.113556.1.4.319 false MAMEAXg=\n");
}

TEST_F(ToolControlPrinters, DerefValuesPrintableAndBinary)
{
    BerElement *ber = NewBer();
    ber_printf(ber, "{{sst{{s[ss]}}}}", "member", "cn=b,dc=x", static_cast<ber_tag_t>(0xA0), "uid", "bob",
               "\x01\x02");
    HandControl control("1.3.6.1.4.1.4203.666.5.16", ber);
    tool_settings.ldif_wrap = UINT_MAX;
    std::string out = Printed(&control.control);
    size_t line = out.find('\n');
    ASSERT_NE(line, std::string::npos);
    EXPECT_EQ(out.substr(line + 1), "# member: <uid=bob>;<uid:=AQI=>;cn=b,dc=x\n");
}

TEST_F(ToolControlPrinters, WrapWidthComesFromTheSettings)
{
    std::string value(100, 'v');
    {
        CaptureFd out(1);
        tool_write_ldif_line(LDIF_PUT_VALUE, "a", value.data(), value.size());
        std::fflush(stdout);
        std::string text = out.Text();
        EXPECT_NE(text.find("\n "), std::string::npos);  // folded at the default width
    }
    tool_settings.ldif_wrap = UINT_MAX;
    CaptureFd out(1);
    tool_write_ldif_line(LDIF_PUT_VALUE, "a", value.data(), value.size());
    std::fflush(stdout);
    EXPECT_EQ(out.Text(), "a: " + value + "\n");
}

// The list the settings build, read back from the session in its order.
class ToolRequestControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSettings();
        ASSERT_EQ(ldap_initialize(&ld_, "ldap://127.0.0.1:1"), LDAP_SUCCESS);
    }
    void TearDown() override
    {
        if (ld_)
            ldap_unbind_ext(ld_, nullptr, nullptr);
        ResetSettings();
    }
    std::vector<std::string> ReadBack()
    {
        LDAPControl **controls = nullptr;
        std::vector<std::string> out;
        if (ldap_get_option(ld_, LDAP_OPT_SERVER_CONTROLS, &controls) != LDAP_OPT_SUCCESS)
            return out;
        for (LDAPControl **c = controls; c && *c; c++)
            out.push_back(std::string((*c)->ldctl_oid) + ((*c)->ldctl_iscritical ? " !" : "") + " " +
                          std::to_string((*c)->ldctl_value.bv_len));
        ldap_controls_free(controls);
        return out;
    }
    LDAP *ld_ = nullptr;
};

TEST_F(ToolRequestControls, NothingSetLeavesTheSessionAlone)
{
    LDAPControl mark = {const_cast<char *>("1.2.3"), {0, nullptr}, 0};
    LDAPControl *list[] = {&mark, nullptr};
    ASSERT_EQ(ldap_set_option(ld_, LDAP_OPT_SERVER_CONTROLS, list), LDAP_OPT_SUCCESS);
    tool_set_server_controls(ld_, nullptr, 0);
    EXPECT_EQ(ReadBack(), std::vector<std::string>{"1.2.3 0"});
}

TEST_F(ToolRequestControls, TableOrderCriticalityAndValues)
{
    ToolSettings &s = tool_settings;
    s.assert_level = 2;
    s.assertion = const_cast<char *>("(cn=a)");
    s.authzid = const_cast<char *>("dn:cn=x");
    s.relax = 1;
    s.manageDSAit = 2;
    s.noop = 1;
    s.ppolicy = 1;
    s.preread = 2;
    s.preread_attrs = const_cast<char *>("cn,sn");
    s.postread = 1;
    s.chaining = 1;
    s.chaining_resolve = 1;
    s.chaining_continuation = 2;
    LDAPControl extra = {const_cast<char *>("1.9"), {0, nullptr}, 1};
    tool_set_server_controls(ld_, &extra, 1);
    std::vector<std::string> expected = {
        "1.3.6.1.1.12 ! 9",  // assertion filter (cn=a)
        "2.16.840.1.113730.3.4.18 ! 7",
        "1.3.6.1.4.1.4203.666.5.12 0",
        "2.16.840.1.113730.3.4.2 ! 0",
        "1.3.6.1.4.1.4203.666.5.2 0",
        "1.3.6.1.4.1.42.2.27.8.5.1 0",
        "1.3.6.1.1.13.1 ! 10",  // SEQUENCE { "cn", "sn" }
        "1.3.6.1.1.13.2 2",     // empty SEQUENCE
        "1.3.6.1.4.1.4203.666.11.3 8",
        "1.9 ! 0",
    };
    EXPECT_EQ(ReadBack(), expected);
    s.assertion = nullptr;
    s.authzid = nullptr;
    s.preread_attrs = nullptr;
}

TEST_F(ToolRequestControls, RefusedListIsReportedAndGoesOnWhenNothingIsCritical)
{
    // The library refuses a control without an object identifier.
    LDAPControl broken = {nullptr, {0, nullptr}, 0};
    CaptureFd err(2);
    tool_set_server_controls(ld_, &broken, 1);
    EXPECT_EQ(err.Text(), "Could not set controls\n");
}

TEST_F(ToolRequestControls, RefusedCriticalListEndsTheProcess)
{
    LDAPControl controls[] = {{nullptr, {0, nullptr}, 0}, {const_cast<char *>("1.9"), {0, nullptr}, 1}};
    EXPECT_EXIT(tool_set_server_controls(ld_, controls, 2), ::testing::ExitedWithCode(1),
                "^Could not set critical controls\n$");
}

// Controls on real searches.
class ToolControlsOnSlapd : public ldaptest::DirectorySlapdSuite {
protected:
    void SetUp() override
    {
        ResetSettings();
        ASSERT_TRUE(slapd_ && slapd_->Running());
        ASSERT_EQ(ldap_initialize(&ld_, slapd_->Url().c_str()), LDAP_SUCCESS);
        int version = 3;
        ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version);
    }
    void TearDown() override
    {
        if (ld_)
            ldap_unbind_ext(ld_, nullptr, nullptr);
        ResetSettings();
    }
    // Searches the base entry with the session's controls; the result code, and the response
    // controls printed.
    int Search(std::string *printed)
    {
        LDAPMessage *result = nullptr;
        int rc = ldap_search_ext_s(ld_, ldaptest::kBase, LDAP_SCOPE_BASE, "(objectClass=*)", nullptr, 0,
                                   nullptr, nullptr, nullptr, 0, &result);
        if (printed && result) {
            LDAPControl **controls = nullptr;
            int code = 0;
            ldap_parse_result(ld_, result, &code, nullptr, nullptr, nullptr, &controls, 0);
            CaptureFd out(1);
            tool_print_controls(ld_, controls);
            std::fflush(stdout);
            *printed = out.Text();
            ldap_controls_free(controls);
        }
        ldap_msgfree(result);
        return rc;
    }
    LDAP *ld_ = nullptr;
};

TEST_F(ToolControlsOnSlapd, AssertionDecidesTheSearch)
{
    tool_settings.assert_level = 1;
    tool_settings.assertion = const_cast<char *>("(objectClass=nosuch)");
    tool_set_server_controls(ld_, nullptr, 0);
    EXPECT_EQ(Search(nullptr), LDAP_ASSERTION_FAILED);
    tool_settings.assertion = nullptr;
}

TEST_F(ToolControlsOnSlapd, UnknownCriticalControlIsRefusedByTheServer)
{
    LDAPControl extra = {const_cast<char *>("1.3.6.1.4.1.4203.666.5.99"), {0, nullptr}, 1};
    tool_set_server_controls(ld_, &extra, 1);
    EXPECT_EQ(Search(nullptr), LDAP_UNAVAILABLE_CRITICAL_EXTENSION);
}

TEST_F(ToolControlsOnSlapd, PagedResultsResponseIsPrinted)
{
    LDAPControl *paged = nullptr;
    ASSERT_EQ(ldap_create_page_control(ld_, 10, nullptr, 0, &paged), LDAP_SUCCESS);
    tool_set_server_controls(ld_, paged, 1);
    ldap_control_free(paged);
    std::string printed;
    EXPECT_EQ(Search(&printed), LDAP_SUCCESS);
    EXPECT_NE(printed.find("control: 1.2.840.113556.1.4.319 false "), std::string::npos) << printed;
    EXPECT_NE(printed.find("\npagedresults: cookie=\n"), std::string::npos) << printed;
}

}  // namespace
