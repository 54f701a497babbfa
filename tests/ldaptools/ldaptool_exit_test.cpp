// Exiting forms of the LDAP tool set-up and bind (in death-test children against a private
// slapd), the interrupt check and the object-identifier test.
#include <gtest/gtest.h>

#include <string>

#include "ldaptest.h"
#include "slapd.h"
#include "tools/common.h"

namespace {

using testsupport::CaptureFd;

TEST(ToolDottedOid, Table)
{
    struct Case {
        const char *text;
        int expected;
    };
    const Case cases[] = {
        {"1.3.6.1.4.1.4203.666.5.12", 1},
        {"1..2", 1},
        {"1.2.", 0},
        {"1.02", 0},
        {"1.0", 0},
        {"1.0.3", 1},
        {"0", 0},
        {"7", 1},
        {"10.20", 1},
        {".1", 0},
        {"1.2a", 0},
        {"a.1", 0},
        {"", 0},
        {"assert", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(tool_is_dotted_oid(c.text), c.expected) << c.text;
}

TEST(ToolPendingValue, TakenOnce)
{
    EXPECT_EQ(take_pending_value(), 0);
    EXPECT_EQ(take_pending_value(), 0);
}

TEST(ToolEndProcessDeathTest, EndsWithTheStatus)
{
    EXPECT_EXIT(tool_end_process(nullptr, 7), ::testing::ExitedWithCode(7), "^$");
}

class ToolExitForms : public ldaptest::DirectorySlapdSuite {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(slapd_ && slapd_->Running());
        Settings(slapd_->Url().c_str(), ldaptest::kReaderDn, ldaptest::kReaderPassword);
    }
    void TearDown() override
    {
        Settings(nullptr, nullptr, nullptr);
        tool_settings.interrupt_pending = 0;
        tool_settings.start_tls_level = 0;
        tool_settings.auth_method = LDAP_AUTH_SIMPLE;
    }
    static void Settings(const char *url, const char *dn, const char *password)
    {
        tool_set_text(&tool_settings.uri_list, url);
        tool_set_text(&tool_settings.bind_dn, dn);
        tool_set_password(password);
        tool_settings.protocol_version = 3;
        tool_settings.auth_method = LDAP_AUTH_SIMPLE;
    }
};

TEST_F(ToolExitForms, SuccessReturnsABoundSession)
{
    CaptureFd err(2);
    LDAP *ld = tool_conn_setup_or_exit(0, nullptr);
    ASSERT_NE(ld, nullptr);
    tool_bind_or_exit(ld);
    struct berval *who = nullptr;
    ASSERT_EQ(ldap_whoami_s(ld, &who, nullptr, nullptr), LDAP_SUCCESS);
    ASSERT_NE(who, nullptr);
    EXPECT_EQ(std::string(who->bv_val, who->bv_len), std::string("dn:") + ldaptest::kReaderDn);
    ber_bvfree(who);
    tool_close_session(ld);
    EXPECT_EQ(err.Text(), "");
}

using ToolExitFormsDeathTest = ToolExitForms;

TEST_F(ToolExitFormsDeathTest, RefusedBindEndsWithTheServersCode)
{
    tool_set_password("wrong");
    LDAP *ld = my_tool_conn_setup(0, nullptr);
    ASSERT_NE(ld, nullptr);
    EXPECT_EXIT(tool_bind_or_exit(ld), ::testing::ExitedWithCode(LDAP_INVALID_CREDENTIALS),
                "^ldap_bind: Invalid credentials \\(49\\)\n$");
    tool_close_session(ld);
}

// -12 and -2 survive only as their low 8 bits.
TEST_F(ToolExitFormsDeathTest, SaslAndLocalFailuresEndWithLibraryCodes)
{
    tool_settings.auth_method = LDAP_AUTH_SASL;
    LDAP *ld = my_tool_conn_setup(0, nullptr);
    ASSERT_NE(ld, nullptr);
    EXPECT_EXIT(tool_bind_or_exit(ld), ::testing::ExitedWithCode(LDAP_NOT_SUPPORTED & 0xff),
                "not compiled with SASL support\n$");
    tool_close_session(ld);
}

TEST_F(ToolExitFormsDeathTest, SetupFailuresEndWithOne)
{
    tool_set_text(&tool_settings.uri_list, "nosuch://x");
    EXPECT_EXIT(tool_conn_setup_or_exit(0, nullptr), ::testing::ExitedWithCode(1),
                "^Could not parse LDAP URI\\(s\\)=nosuch://x \\([0-9-]+\\)\n$");

    // StartTLS required from a server without TLS: the report, no "failed" line.
    tool_set_text(&tool_settings.uri_list, slapd_->Url().c_str());
    tool_settings.start_tls_level = 2;
    EXPECT_EXIT(tool_conn_setup_or_exit(0, nullptr), ::testing::ExitedWithCode(1),
                "^ldap_start_tls: Protocol error \\(2\\)\n\tadditional info: [^\n]*\n$");
}

TEST_F(ToolExitForms, InterruptCheck)
{
    LDAP *ld = my_tool_conn_setup(0, nullptr);
    ASSERT_NE(ld, nullptr);
    ASSERT_EQ(my_tool_bind(ld), 0);
    int msgid = -1;
    ASSERT_EQ(ldap_search_ext(ld, ldaptest::kBase, LDAP_SCOPE_SUBTREE, "(objectClass=*)", nullptr, 0, nullptr,
                              nullptr, nullptr, 0, &msgid),
              LDAP_SUCCESS);
    {
        CaptureFd err(2);
        tool_settings.interrupt_pending = 0;
        EXPECT_EQ(tool_check_interrupt(ld, msgid), 0);
        tool_settings.interrupt_pending = 3;  // ignore: nothing is sent
        EXPECT_EQ(tool_check_interrupt(ld, msgid), -1);
        EXPECT_EQ(err.Text(), "");
    }
    CaptureFd err(2);
    tool_settings.interrupt_pending = 1;
    EXPECT_EQ(tool_check_interrupt(ld, msgid), -1);
    EXPECT_EQ(err.Text(), "got interrupt, abandon got 0: Success\n");
    // The abandoned operation gives no more results.
    LDAPMessage *result = nullptr;
    struct timeval wait = {0, 200000};
    EXPECT_LE(ldap_result(ld, msgid, LDAP_MSG_ALL, &wait, &result), 0);
    ldap_msgfree(result);
    tool_close_session(ld);
}

}  // namespace
