// LDAP tool session set-up and bind against a private slapd (plain, ldaps, StartTLS).
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <ctime>

#include <memory>
#include <string>

#include "ldaptest.h"
#include "slapd.h"
#include "tools/common.h"

// When set, the next copy of a text into a counted value fails as when memory runs out; every
// other call goes to the library's function.
static bool failNextTextCopy = false;

extern "C" struct berval *ber_str2bv(const char *text, ber_len_t len, int dup, struct berval *bv)
{
    if (failNextTextCopy) {
        failNextTextCopy = false;
        return nullptr;
    }
    using Copy = struct berval *(*)(const char *, ber_len_t, int, struct berval *);
    static Copy real = reinterpret_cast<Copy>(dlsym(RTLD_NEXT, "ber_str2bv"));
    return real(text, len, dup, bv);
}

namespace {

using testsupport::CaptureFd;

// Back to the settings of a fresh process (as far as these tests touch them).
void ResetSettings()
{
    ToolSettings &s = tool_settings;
    tool_set_text(&s.uri_list, nullptr);
    tool_set_text(&s.bind_dn, nullptr);
    tool_set_password(nullptr);
    tool_set_text(&s.ldap_host, nullptr);
    s.ldap_port = 0;
    s.protocol_version = 3;
    s.auth_method = LDAP_AUTH_SIMPLE;
    s.start_tls_level = 0;
    s.verbose = 0;
    s.ppolicy = 0;
    s.sessiontracking = 0;
    s.prompt_for_password = 0;
    s.password_file = nullptr;
}

// The URL list with the library's own tail of each URL (path and query, "/??base") cut off:
// what is ours is the default port, the order and the single blanks between the URLs.
std::string UrlsWithoutTails(const char *list)
{
    std::string out;
    std::string text = list ? list : "";
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(' ', start);
        std::string url = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t hostStart = url.find("://");
        size_t tail = url.find('/', hostStart == std::string::npos ? 0 : hostStart + 3);
        if (!out.empty())
            out += ' ';
        out += url.substr(0, tail);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

int OpenDescriptors()
{
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (readdir(d))
        n++;
    closedir(d);
    return n;
}

class LdapToolSetup : public ::testing::Test {
protected:
    void SetUp() override { ResetSettings(); }
    void TearDown() override { ResetSettings(); }
};

TEST_F(LdapToolSetup, DontConnectPrintsNothingAndGivesNoSession)
{
    CaptureFd err(2);
    EXPECT_EQ(my_tool_conn_setup(1, nullptr), nullptr);
    EXPECT_EQ(err.Text(), "");
}

// The URL list comes back in the library's text form, joined by single blanks.
TEST_F(LdapToolSetup, UrlListIsNormalised)
{
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"ldap://127.0.0.1:1389", "ldap://127.0.0.1:1389"},
        {"ldap://dir.example.test", "ldap://dir.example.test:389"},
        {"ldap://a:1389,ldaps://b", "ldap://a:1389 ldaps://b:636"},
        {"ldap://a:1389   ldap://b:2389", "ldap://a:1389 ldap://b:2389"},
        {"ldap://h:1389/dc=x", "ldap://h:1389"},
    };
    for (const Case &c : cases) {
        tool_set_text(&tool_settings.uri_list, c.in);
        CaptureFd err(2);
        LDAP *ld = my_tool_conn_setup(0, nullptr);
        ASSERT_NE(ld, nullptr) << c.in << err.Text();
        EXPECT_EQ(UrlsWithoutTails(tool_settings.uri_list), c.out) << c.in;
        EXPECT_EQ(std::string(tool_settings.uri_list).find("  "), std::string::npos) << c.in;
        tool_close_session(ld);
    }
}

TEST_F(LdapToolSetup, HostAndPortMakeAPlainUrl)
{
    tool_set_text(&tool_settings.ldap_host, "127.0.0.1");
    tool_settings.ldap_port = 1389;
    tool_settings.verbose = 1;
    CaptureFd err(2);
    LDAP *ld = my_tool_conn_setup(0, nullptr);
    ASSERT_NE(ld, nullptr);
    EXPECT_STREQ(tool_settings.uri_list, "ldap://127.0.0.1:1389");
    EXPECT_EQ(err.Text(), "ldap_initialize( ldap://127.0.0.1:1389 )\n");
    tool_close_session(ld);
}

TEST_F(LdapToolSetup, BadOrEmptyUrlListFails)
{
    tool_set_text(&tool_settings.uri_list, "ldap://ok:1 foo://x");
    {
        CaptureFd err(2);
        EXPECT_EQ(my_tool_conn_setup(0, nullptr), nullptr);
        std::string text = err.Text();  // the number is the library's parse error code
        EXPECT_EQ(text.rfind("Could not parse LDAP URI(s)=ldap://ok:1 foo://x (", 0), 0u) << text;
        EXPECT_EQ(text.substr(text.rfind(')')), ")\nmy_tool_conn_setup failed\n") << text;
    }
    tool_set_text(&tool_settings.uri_list, " , ");
    CaptureFd err(2);
    EXPECT_EQ(my_tool_conn_setup(0, nullptr), nullptr);
    EXPECT_EQ(err.Text(), "my_tool_conn_setup failed\n");
}

// Host lists from DNS service records are not looked up: such a URL is dropped.
TEST_F(LdapToolSetup, HostlessUrlWithDnIsNotSupported)
{
    tool_set_text(&tool_settings.uri_list, "ldap:///dc=example%2Cdc=invalid");
    {
        CaptureFd err(2);
        EXPECT_EQ(my_tool_conn_setup(0, nullptr), nullptr);
        EXPECT_EQ(err.Text(),
                  "DNS SRV: Could not turn domain=example.invalid into a hostlist\n"
                  "my_tool_conn_setup failed\n");
    }
    tool_set_text(&tool_settings.uri_list, "ldap:///dc=example%2Cdc=invalid ldap://kept:1389");
    CaptureFd err(2);
    LDAP *ld = my_tool_conn_setup(0, nullptr);
    ASSERT_NE(ld, nullptr);
    EXPECT_EQ(UrlsWithoutTails(tool_settings.uri_list), "ldap://kept:1389");
    tool_close_session(ld);
    EXPECT_EQ(err.Text(), "DNS SRV: Could not turn domain=example.invalid into a hostlist\n");
}

TEST_F(LdapToolSetup, HookRunsOnTheNewSession)
{
    static LDAP *seen = nullptr;
    tool_set_text(&tool_settings.uri_list, "ldap://127.0.0.1:1389");
    LDAP *ld = my_tool_conn_setup(0, [](LDAP *session) { seen = session; });
    ASSERT_NE(ld, nullptr);
    EXPECT_EQ(seen, ld);
    tool_close_session(ld);
}

TEST(LdapToolPrintError, Layout)
{
    char ref1[] = "ldap://a/";
    char ref2[] = "ldap://b/";
    char *refs[] = {ref1, ref2, nullptr};
    char *noRefs[] = {nullptr};
    struct Case {
        const char *tail, *matched, *info;
        char **refs;
        std::string out;
    } cases[] = {
        {nullptr, nullptr, nullptr, nullptr, "f: Invalid credentials (49)\n"},
        {"", "", "", noRefs, "f: Invalid credentials (49)\n"},
        {" tail", "dc=x", "why", refs,
         "f: Invalid credentials (49) tail\n\tmatched DN: dc=x\n\tadditional info: why\n"
         "\treferrals:\n\t\tldap://a/\n\t\tldap://b/\n"},
    };
    for (const Case &c : cases) {
        CaptureFd err(2);
        tool_print_error("f", 49, c.tail, c.matched, c.info, c.refs);
        EXPECT_EQ(err.Text(), c.out);
    }
}

// One slapd for the bind tests (TLS on), one without TLS for the refused StartTLS.
class LdapToolBind : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        tls_ = new testsupport::Slapd;
        testsupport::SlapdOptions o;
        o.ldif = ldaptest::DirectoryLdif();
        ASSERT_TRUE(tls_->Start(o)) << tls_->error();
        plain_ = new testsupport::Slapd;
        o.tls = false;
        ASSERT_TRUE(plain_->Start(o)) << plain_->error();
    }
    static void TearDownTestSuite()
    {
        delete tls_;
        delete plain_;
        tls_ = plain_ = nullptr;
    }
    void SetUp() override
    {
        ResetSettings();
        ASSERT_TRUE(tls_ && tls_->Running());
        ASSERT_TRUE(plain_ && plain_->Running());
    }
    void TearDown() override
    {
        ResetSettings();
        ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, nullptr);
    }
    // Set-up and bind; returns the bind's code (the session closed either way).
    int Connect(const std::string &url, const char *dn, const char *password, std::string *err)
    {
        tool_set_text(&tool_settings.uri_list, url.c_str());
        tool_set_text(&tool_settings.bind_dn, dn);
        tool_set_password(password);
        CaptureFd capture(2);
        LDAP *ld = my_tool_conn_setup(0, nullptr);
        int rc = ld ? my_tool_bind(ld) : -100;
        if (ld && rc == 0)
            tool_close_session(ld);
        *err = capture.Text();
        return rc;
    }
    static testsupport::Slapd *tls_;
    static testsupport::Slapd *plain_;
};
testsupport::Slapd *LdapToolBind::tls_ = nullptr;
testsupport::Slapd *LdapToolBind::plain_ = nullptr;

TEST_F(LdapToolBind, SimpleBindSucceeds)
{
    std::string err;
    EXPECT_EQ(Connect(plain_->Url(), ldaptest::kReaderDn, ldaptest::kReaderPassword, &err), 0);
    EXPECT_EQ(err, "");
    EXPECT_EQ(Connect(plain_->Url(), "cn=admin,dc=example,dc=test", "secret", &err), 0);
    EXPECT_EQ(err, "");
}

TEST_F(LdapToolBind, WrongPasswordClosesTheSessionAndReturns49)
{
    std::string err;
    int before = OpenDescriptors();
    EXPECT_EQ(Connect(plain_->Url(), ldaptest::kReaderDn, "wrong", &err), LDAP_INVALID_CREDENTIALS);
    EXPECT_EQ(err, "ldap_bind: Invalid credentials (49)\nmy_tool_bind failed\n");
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(LdapToolBind, ServerDownFailsTheBind)
{
    testsupport::Slapd down;
    testsupport::SlapdOptions o;
    o.tls = false;
    o.ldif = ldaptest::DirectoryLdif();
    ASSERT_TRUE(down.Start(o)) << down.error();
    std::string url = down.Url();
    down.Stop();
    std::string err;
    EXPECT_EQ(Connect(url, ldaptest::kReaderDn, ldaptest::kReaderPassword, &err), LDAP_SERVER_DOWN);
    EXPECT_EQ(err.rfind("ldap_sasl_bind(SIMPLE): ", 0), 0u) << err;
    EXPECT_NE(err.find(" (-1)\nmy_tool_bind failed\n"), std::string::npos) << err;
}

TEST_F(LdapToolBind, StartTlsRefusedGoesOnAtLevelOneAndFailsAtLevelTwo)
{
    std::string err;
    tool_settings.start_tls_level = 1;
    EXPECT_EQ(Connect(plain_->Url(), ldaptest::kReaderDn, ldaptest::kReaderPassword, &err), 0);
    EXPECT_EQ(err.rfind("ldap_start_tls: ", 0), 0u) << err;
    EXPECT_NE(err.find("\tadditional info: "), std::string::npos) << err;
    EXPECT_EQ(err.find("my_tool_conn_setup failed"), std::string::npos) << err;

    ResetSettings();
    tool_settings.start_tls_level = 2;
    EXPECT_EQ(Connect(plain_->Url(), ldaptest::kReaderDn, ldaptest::kReaderPassword, &err), -100);
    EXPECT_EQ(err.rfind("ldap_start_tls: ", 0), 0u) << err;
    EXPECT_NE(err.find("\nmy_tool_conn_setup failed\n"), std::string::npos) << err;
}

TEST_F(LdapToolBind, LdapsAndStartTlsWithTheTestCa)
{
    ASSERT_EQ(ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, tls_->caFile().c_str()), LDAP_OPT_SUCCESS);
    int zero = 0;
    ASSERT_EQ(ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &zero), LDAP_OPT_SUCCESS);
    std::string err;
    EXPECT_EQ(Connect(tls_->TlsUrl(), ldaptest::kReaderDn, ldaptest::kReaderPassword, &err), 0) << err;
    EXPECT_EQ(err, "");
    tool_settings.start_tls_level = 2;
    EXPECT_EQ(Connect(tls_->Url(), ldaptest::kReaderDn, ldaptest::kReaderPassword, &err), 0) << err;
    EXPECT_EQ(err, "");
}

TEST_F(LdapToolBind, SessionTrackingAndPasswordPolicyRequestsAreAccepted)
{
    tool_settings.sessiontracking = 1;
    tool_settings.ppolicy = 1;
    std::string err;
    EXPECT_EQ(Connect(plain_->Url(), ldaptest::kReaderDn, ldaptest::kReaderPassword, &err), 0) << err;
    EXPECT_NE(tool_settings.session_tracking_value.bv_len, 0u);
}

TEST_F(LdapToolBind, PasswordFromFile)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("pw"), ldaptest::kReaderPassword, 0600);
    std::string path = dir.file("pw");
    tool_settings.password_file = path.c_str();
    std::string err;
    EXPECT_EQ(Connect(plain_->Url(), ldaptest::kReaderDn, nullptr, &err), 0) << err;
    std::string missing = dir.file("missing");
    tool_settings.password_file = missing.c_str();
    EXPECT_EQ(Connect(plain_->Url(), ldaptest::kReaderDn, nullptr, &err), LDAP_OTHER);
    EXPECT_NE(err.find("my_tool_bind failed\n"), std::string::npos);
}

// A password typed at the prompt that cannot be kept fails the bind, instead of binding with an
// empty password.
TEST_F(LdapToolBind, PromptedPasswordThatCannotBeKeptFailsTheBind)
{
    struct Case {
        bool copyFails;
        int code;
        const char *err;
    };
    const Case cases[] = {
        {false, 0, "Enter LDAP Password: "},
        {true, LDAP_OTHER, "Enter LDAP Password: my_tool_bind failed\n"},
    };
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("typed"), std::string(ldaptest::kReaderPassword) + "\n");
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        ResetSettings();
        tool_set_text(&tool_settings.uri_list, plain_->Url().c_str());
        tool_set_text(&tool_settings.bind_dn, ldaptest::kReaderDn);
        tool_settings.prompt_for_password = 1;
        FILE *typed = std::fopen(dir.file("typed").c_str(), "r");
        ASSERT_NE(typed, nullptr);
        FILE *savedIn = stdin;
        stdin = typed;
        CaptureFd capture(2);
        LDAP *ld = my_tool_conn_setup(0, nullptr);
        int rc = -100;
        if (ld) {
            failNextTextCopy = cases[i].copyFails;
            rc = my_tool_bind(ld);
            failNextTextCopy = false;
        }
        if (ld && rc == 0)
            tool_close_session(ld);
        std::string err = capture.Text();
        stdin = savedIn;
        std::fclose(typed);
        EXPECT_EQ(rc, cases[i].code) << "case " << i << ": " << err;
        EXPECT_EQ(err, cases[i].err) << "case " << i;
    }
}

TEST_F(LdapToolBind, SaslIsNotCompiledIn)
{
    tool_settings.auth_method = LDAP_AUTH_SASL;
    tool_settings.prog_name = "probe";
    std::string err;
    EXPECT_EQ(Connect(plain_->Url(), nullptr, nullptr, &err), LDAP_OTHER);
    EXPECT_EQ(err, "probe: not compiled with SASL support\nmy_tool_bind failed\n");
    tool_settings.prog_name = nullptr;
}

// A server with the password-policy overlay: a bind with the policy request reports the
// warning of the response as the tail of a success report.
TEST_F(LdapToolSetup, PasswordPolicyWarningsOfASuccessfulBind)
{
    char now[32];
    time_t t = time(nullptr) - 60;  // changed a minute ago: expires in 59 minutes
    strftime(now, sizeof now, "%Y%m%d%H%M%SZ", gmtime(&t));
    testsupport::Slapd slapd;
    testsupport::SlapdOptions o;
    o.tls = false;
    o.modules = {"ppolicy"};
    o.databaseLines = {"overlay ppolicy", "ppolicy_default \"cn=policy,dc=example,dc=test\""};
    std::string user = "objectClass: account\nobjectClass: simpleSecurityObject\nuserPassword: pw\n";
    o.ldif =
        "dn: dc=example,dc=test\nobjectClass: dcObject\nobjectClass: organization\ndc: example\n"
        "o: Example\n\n"
        "dn: cn=policy,dc=example,dc=test\nobjectClass: organizationalRole\n"
        "objectClass: pwdPolicy\ncn: policy\npwdAttribute: userPassword\npwdMaxAge: 3600\n"
        "pwdExpireWarning: 3600\npwdGraceAuthnLimit: 3\npwdMustChange: TRUE\n\n"
        "dn: uid=fresh,dc=example,dc=test\nuid: fresh\n" +
        user + "pwdChangedTime: " + now +
        "\n\n"
        "dn: uid=old,dc=example,dc=test\nuid: old\n" +
        user +
        "pwdChangedTime: 20000101000000Z\n\n"
        "dn: uid=reset,dc=example,dc=test\nuid: reset\n" +
        user + "pwdChangedTime: " + now + "\npwdReset: TRUE\n";
    ASSERT_TRUE(slapd.Start(o)) << slapd.error() << slapd.Log();

    // Each report is `before`, a number and `after`.
    struct Case {
        const char *dn;
        std::string before, after;
    } cases[] = {
        {"uid=fresh,dc=example,dc=test", "ldap_bind: Success (0) (Password expires in ", " seconds)\n"},
        {"uid=old,dc=example,dc=test", "ldap_bind: Success (0) (Password expired, ",
         " grace logins remain)\n"},
        {"uid=reset,dc=example,dc=test",
         "ldap_bind: Success (0); Password must be changed (Password expires in ", " seconds)\n"},
    };
    for (const Case &c : cases) {
        ResetSettings();
        tool_settings.ppolicy = 1;
        tool_set_text(&tool_settings.uri_list, slapd.Url().c_str());
        tool_set_text(&tool_settings.bind_dn, c.dn);
        tool_set_password("pw");
        CaptureFd err(2);
        LDAP *ld = my_tool_conn_setup(0, nullptr);
        ASSERT_NE(ld, nullptr);
        EXPECT_EQ(my_tool_bind(ld), 0);
        tool_close_session(ld);
        std::string text = err.Text();
        bool framed = text.size() > c.before.size() + c.after.size() && text.rfind(c.before, 0) == 0 &&
                      text.compare(text.size() - c.after.size(), c.after.size(), c.after) == 0;
        std::string number =
            framed ? text.substr(c.before.size(), text.size() - c.before.size() - c.after.size()) : "";
        EXPECT_TRUE(framed && number.find_first_not_of("0123456789") == std::string::npos) << text;
    }
    // Without the request the same bind is silent.
    ResetSettings();
    tool_set_text(&tool_settings.uri_list, slapd.Url().c_str());
    tool_set_text(&tool_settings.bind_dn, "uid=fresh,dc=example,dc=test");
    tool_set_password("pw");
    CaptureFd err(2);
    LDAP *ld = my_tool_conn_setup(0, nullptr);
    ASSERT_NE(ld, nullptr);
    EXPECT_EQ(my_tool_bind(ld), 0);
    tool_close_session(ld);
    EXPECT_EQ(err.Text(), "");
}

// Runs last in its own process image: the first call frees, the second does nothing.
TEST(LdapToolFreeSettingsDeathTest, SecondCallFreesNothing)
{
    EXPECT_EXIT(
        {
            tool_set_text(&tool_settings.uri_list, "ldap://x");
            tool_free_settings();
            bool cleared = tool_settings.uri_list == nullptr;
            tool_set_text(&tool_settings.uri_list, "ldap://y");
            tool_free_settings();
            bool kept = tool_settings.uri_list != nullptr && tool_settings.free_once == 2;
            std::exit(cleared && kept ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
