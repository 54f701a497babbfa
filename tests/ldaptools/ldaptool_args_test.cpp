// The common LDAP tool option parser: accepted options as tables in this process, refusals in
// death-test children (exit status and the message on stderr).
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "genldap/genldap.h"
#include "ldaptest.h"
#include "lutil/lutil.h"
#include "tools/args.h"

namespace {

using testsupport::CaptureFd;

// The settings and the parser hooks of a fresh process, taken before any test changes them.
const ToolSettings kInitial = tool_settings;
const ToolOptionHooks kInstalledHooks = tool_option_hooks;

void ResetSettings()
{
    ToolSettings &s = tool_settings;
    for (char **text : {&s.uri_list, &s.ldap_host, &s.bind_dn, &s.assertion, &s.authzid, &s.proxydn,
                        &s.preread_attrs, &s.postread_attrs, &s.f_argument})
        ber_memfree(*text);
    ber_memfree(s.passwd.bv_val);
    for (int i = 0; i < s.extra_control_count; i++) {
        ber_memfree(s.extra_controls[i].ldctl_oid);
        ber_memfree(s.extra_controls[i].ldctl_value.bv_val);
    }
    ber_memfree(s.extra_controls);
    tool_settings = kInitial;
    scan_index = 1;
    scan_position = 1;
    scan_argument = nullptr;
    tool_option_hooks = kInstalledHooks;
}

// Owns a writable argument vector "prog <words...>".
struct Args {
    explicit Args(const std::vector<std::string> &words)
    {
        storage.push_back("ldaptool");
        storage.insert(storage.end(), words.begin(), words.end());
        for (std::string &w : storage)
            argv.push_back(w.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(argv.size()) - 1; }
    std::vector<std::string> storage;
    std::vector<char *> argv;
};

// The vector stays until the next call: -y keeps the argument itself.
void Parse(const std::vector<std::string> &words)
{
    static std::unique_ptr<Args> last;
    last = std::make_unique<Args>(words);
    tool_parse_args(last->argc(), last->argv.data());
}

// The text as an extended regular expression matching itself.
std::string Literal(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (std::strchr(".[]{}()\\*+?|^$", c))
            out += '\\';
        out += c;
    }
    return out;
}

class ToolArgs : public ::testing::Test {
protected:
    void SetUp() override { ResetSettings(); }
    void TearDown() override { ResetSettings(); }
};

TEST_F(ToolArgs, DefaultsAfterNoOptions)
{
    Parse({});
    EXPECT_EQ(tool_settings.protocol_version, 3);
    EXPECT_EQ(tool_settings.auth_method, LDAP_AUTH_SIMPLE);
    EXPECT_EQ(tool_settings.nettimeout.tv_sec, -1);
}

TEST_F(ToolArgs, AcceptedOptionsFillTheSettings)
{
    struct Case {
        std::vector<std::string> words;
        bool (*check)(const ToolSettings &);
    };
    const Case cases[] = {
        {{"-h", "dir", "-p", "1389"},
         [](const ToolSettings &s) { return std::strcmp(s.ldap_host, "dir") == 0 && s.ldap_port == 1389; }},
        {{"-H", "ldap://a ldap://b"},
         [](const ToolSettings &s) { return std::strcmp(s.uri_list, "ldap://a ldap://b") == 0; }},
        {{"-d", "1", "-d", "4"}, [](const ToolSettings &s) { return s.debug_level == 5; }},
        {{"-c", "-c", "-C", "-M", "-n", "-N", "-v", "-ZZ"},
         [](const ToolSettings &s) {
             return s.c_count == 2 && s.chase_referrals == 1 && s.manageDSAit == 1 && s.dry_run == 1 &&
                    s.no_reverse_dns == 1 && s.verbose == 1 && s.start_tls_level == 2;
         }},
        {{"-P", "2"}, [](const ToolSettings &s) { return s.protocol_version == 2 && s.auth_method == -1; }},
        {{"-x", "-D", "cn=a", "-f", "file"},
         [](const ToolSettings &s) {
             return s.auth_method == LDAP_AUTH_SIMPLE && std::strcmp(s.bind_dn, "cn=a") == 0 &&
                    std::strcmp(s.f_argument, "file") == 0;
         }},
        {{"-y", "pwfile", "-W"},
         [](const ToolSettings &s) {
             return std::strcmp(s.password_file, "pwfile") == 0 && s.prompt_for_password == 1;
         }},
        {{"-e", "!authzid=dn:cn=x"},
         [](const ToolSettings &s) { return std::strcmp(s.authzid, "dn:cn=x") == 0; }},
        {{"-e", "!proxydn=cn=x"}, [](const ToolSettings &s) { return std::strcmp(s.proxydn, "cn=x") == 0; }},
        // "=" with nothing after it is an empty value, not a missing one.
        {{"-e", "!authzid="}, [](const ToolSettings &s) { return s.authzid && s.authzid[0] == '\0'; }},
        {{"-e", "!proxydn="}, [](const ToolSettings &s) { return s.proxydn && s.proxydn[0] == '\0'; }},
        {{"-e", "ASSERT=(cn=a)", "-e", "!noop", "-e", "manageDIT"},
         [](const ToolSettings &s) {
             return s.assert_level == 1 && std::strcmp(s.assertion, "(cn=a)") == 0 && s.noop == 2 &&
                    s.relax == 1;
         }},
        {{"-e", "!manageDSAit", "-e", "ppolicy", "-e", "sessiontracking"},
         [](const ToolSettings &s) {
             return s.manageDSAit == 2 && s.ppolicy == 1 && s.sessiontracking == 1;
         }},
        {{"-e", "!preread=cn,sn", "-e", "postread"},
         [](const ToolSettings &s) {
             return s.preread == 2 && std::strcmp(s.preread_attrs, "cn,sn") == 0 && s.postread == 1 &&
                    s.postread_attrs == nullptr;
         }},
        {{"-e", "chaining=chainingRequired/referralsPreferred"},
         [](const ToolSettings &s) {
             return s.chaining == 1 && s.chaining_resolve == 1 && s.chaining_continuation == 2;
         }},
        {{"-e", "chaining", "-e", "!chaining"},
         [](const ToolSettings &s) {
             return s.chaining == 2 && s.chaining_resolve == -1 && s.chaining_continuation == -1;
         }},
        {{"-e", "abandon"},
         [](const ToolSettings &s) { return s.interrupt_action == 1 && s.interrupt_pending == 0; }},
        {{"-e", "!ignore"},
         [](const ToolSettings &s) { return s.interrupt_action == 3 && s.interrupt_pending == 3; }},
        {{"-e", "!cancel"},
         [](const ToolSettings &s) { return s.interrupt_action == 2 && s.interrupt_pending == 2; }},
        {{"-o", "nettimeout=none"}, [](const ToolSettings &s) { return s.nettimeout.tv_sec == 0; }},
        {{"-o", "NetTimeout=max"}, [](const ToolSettings &s) { return s.nettimeout.tv_sec == INT_MAX; }},
        {{"-o", "nettimeout=30"}, [](const ToolSettings &s) { return s.nettimeout.tv_sec == 30; }},
        // Beyond 32 bits the time-out is the maximum, not a wrapped value.
        {{"-o", "nettimeout=99999999999"},
         [](const ToolSettings &s) { return s.nettimeout.tv_sec == INT_MAX; }},
        {{"-o", "ldif-wrap"}, [](const ToolSettings &s) { return s.ldif_wrap == 76; }},
        {{"-o", "ldif-wrap=NO"}, [](const ToolSettings &s) { return s.ldif_wrap == UINT_MAX; }},
        {{"-o", "ldif-wrap=100"}, [](const ToolSettings &s) { return s.ldif_wrap == 100; }},
    };
    for (const Case &c : cases) {
        std::string joined;
        for (const std::string &w : c.words)
            joined += w + " ";
        SCOPED_TRACE(joined);
        ResetSettings();
        CaptureFd err(2);
        Parse(c.words);
        EXPECT_EQ(err.Text(), "");
        EXPECT_TRUE(c.check(tool_settings));
    }
}

TEST_F(ToolArgs, ExtraControlByObjectIdentifier)
{
    Parse({"-e", "1.3.6.1.4.1.4203.666.5.99=AAEC", "-e", "!1.2.3"});
    ASSERT_EQ(tool_settings.extra_control_count, 2);
    const LDAPControl &a = tool_settings.extra_controls[0];
    EXPECT_STREQ(a.ldctl_oid, "1.3.6.1.4.1.4203.666.5.99");
    EXPECT_EQ(a.ldctl_iscritical, 0);
    ASSERT_EQ(a.ldctl_value.bv_len, 3u);
    EXPECT_EQ(std::string(a.ldctl_value.bv_val, 3), std::string("\x00\x01\x02", 3));
    const LDAPControl &b = tool_settings.extra_controls[1];
    EXPECT_STREQ(b.ldctl_oid, "1.2.3");
    EXPECT_EQ(b.ldctl_iscritical, 1);
    EXPECT_EQ(b.ldctl_value.bv_len, 0u);
}

TEST_F(ToolArgs, PasswordIsTakenAndWipedFromTheArguments)
{
    Args a({"-w", "secret"});
    tool_parse_args(a.argc(), a.argv.data());
    EXPECT_EQ(std::string(tool_settings.passwd.bv_val, tool_settings.passwd.bv_len), "secret");
    EXPECT_EQ(std::memcmp(a.argv[2], "\0\0\0\0\0\0", 6), 0);
}

// The query object's hooks are the parser's without anyone installing them.
TEST_F(ToolArgs, TheQueryObjectsHooksAreInPlace)
{
    EXPECT_STREQ(kInstalledHooks.options, "");
    EXPECT_EQ(kInstalledHooks.usage, &ldap_tool_usage);
    EXPECT_EQ(kInstalledHooks.option, &ldap_tool_option_hook);
}

// The system's private hook takes every other letter, even the scanner's '?'.
TEST_F(ToolArgs, UnknownLetterGoesToThePrivateHook)
{
    CaptureFd err(2);
    Parse({"-q", "-x"});
    EXPECT_NE(err.Text().find("illegal option"), std::string::npos);
    EXPECT_EQ(tool_settings.auth_method, LDAP_AUTH_SIMPLE);
}

TEST_F(ToolArgs, OneVersionOptionPrintsAndGoesOn)
{
    CaptureFd err(2);
    Parse({"-V"});
    EXPECT_EQ(err.Text(), std::string(program_invocation_short_name) +
                              ": 2.4.45\t(LDAP library: " LDAP_VENDOR_NAME " " +
                              std::to_string(LDAP_VENDOR_VERSION) + ")\n");
}

using ToolArgsDeathTest = ToolArgs;

TEST_F(ToolArgsDeathTest, RefusalsEndTheProcess)
{
    struct Case {
        std::vector<std::string> words;
        int status;
        std::string message;
    };
    const std::string p = std::string(program_invocation_short_name) + ": ";
    const Case cases[] = {
        {{"-d", "x"}, 1, p + "unable to parse debug value \"x\"\n"},
        {{"-D", "a", "-D", "b"}, 1, p + "-D previously specified\n"},
        {{"-f", "a", "-f", "b"}, 1, p + "-f previously specified\n"},
        {{"-h", "a", "-h", "b"}, 1, p + "-h previously specified\n"},
        {{"-H", "a", "-H", "b"}, 1, p + "-H previously specified\n"},
        {{"-I"}, 1, p + "was not compiled with SASL support\n"},
        {{"-Y", "PLAIN"}, 1, p + "not compiled with SASL support\n"},
        {{"-Q"}, 1, p + "not compiled with SASL support\n"},
        {{"-p", "1", "-p", "2"}, 1, p + "-p previously specified\n"},
        {{"-p", "12x"}, 1, p + "unable to parse port number \"12x\"\n"},
        // Would wrap to 389 in a 32-bit int.
        {{"-p", "4294967685"}, 1, p + "unable to parse port number \"4294967685\"\n"},
        {{"-P", "x"}, 1, p + "unable to parse protocol version \"x\"\n"},
        {{"-P", "3", "-P", "2"}, 1, p + "-P 2 incompatible with version 3\n"},
        {{"-P", "2", "-P", "3"}, 1, p + "-P 3 incompatible with version 2\n"},
        {{"-P", "4"}, 1, p + "protocol version should be 2 or 3\n"},
        {{"-e", "assert=a", "-e", "assert=b"}, 1, "assert control previously specified\n"},
        {{"-e", "assert"}, 1, "assert: control value expected\n"},
        {{"-e", "authzid=dn:x"}, 1, "authzid: must be marked critical\n"},
        {{"-e", "!authzid"}, 1, "authzid: control value expected\n"},
        {{"-e", "authzid="}, 1, "authzid: must be marked critical\n"},
        {{"-e", "!proxydn"}, 1, "proxydn: control value expected\n"},
        {{"-e", "proxydn="}, 1, "proxydn: must be marked critical\n"},
        {{"-e", "!proxydn=x", "-e", "!authzid=y"}, 1, "authzid control incompatible with proxydn\n"},
        {{"-e", "!authzid=y", "-e", "!proxydn=x"}, 1, "proxydn control incompatible with authzid\n"},
        {{"-e", "proxydn=x"}, 1, "proxydn: must be marked critical\n"},
        {{"-e", "relax", "-e", "manageDIT"}, 1, "relax control previously specified\n"},
        {{"-e", "relax=1"}, 1, "relax: no control value expected\n"},
        {{"-e", "noop=1"}, 1, "noop: no control value expected\n"},
        {{"-e", "manageDSAit=1"}, 1, "manageDSAit: no control value expected\n"},
        {{"-e", "!ppolicy"}, 1, "ppolicy: critical flag not allowed\n"},
        {{"-e", "ppolicy", "-e", "ppolicy"}, 1, "ppolicy control previously specified\n"},
        {{"-e", "preread", "-e", "preread"}, 1, "preread control previously specified\n"},
        {{"-e", "!sessiontracking"}, 1, "sessiontracking: critical flag not allowed\n"},
        {{"-e", "sessiontracking", "-e", "sessiontracking"},
         1,
         p + "session tracking can be only specified once\n"},
        {{"-e", "chaining=bogus"}, 1, "chaining behavior control resolve value \"bogus\" invalid\n"},
        {{"-e", "chaining=chainingRequired/bogus"},
         1,
         "chaining behavior control continuation value \"bogus\" invalid\n"},
        {{"-e", "1.02"}, 1, "Invalid general control name: 1.02\n"},
        {{"-e", "nosuch"}, 1, "Invalid general control name: nosuch\n"},
        {{"-e", "1.2.3=A!!!"}, 1, "Unable to parse value of general control 1.2.3\n"},
        {{"-o", "nettimeout=1", "-o", "nettimeout=2"}, 1, "nettimeout option previously specified\n"},
        {{"-o", "nettimeout"}, 1, "nettimeout: option value expected\n"},
        {{"-o", "nettimeout=5s"}, 1, "Unable to parse network timeout \"5s\"\n"},
        {{"-o", "nettimeout=-5"}, 1, p + "invalid network timeout (-5) specified\n"},
        {{"-o", "ldif-wrap=wide"}, 1, "Unable to parse ldif-wrap=\"wide\"\n"},
        {{"-o", "colour=red"}, 1, "Invalid general option name: colour\n"},
        {{"-H", "ldap://a", "-h", "b"}, 1, p + "-H incompatible with -h\n"},
        {{"-H", "ldap://a", "-p", "1"}, 1, p + "-H incompatible with -p\n"},
        {{"-p", "389"}, 1, p + "-p without -h is invalid.\n"},
        {{"-P", "2", "-e", "noop"}, 1, p + "-e/-M incompatible with LDAPv2\n"},
        {{"-P", "2", "-M"}, 1, p + "-e/-M incompatible with LDAPv2\n"},
        {{"-P", "2", "-Z"}, 1, p + "-Z incompatible with LDAPv2\n"},
        // Reported only after all options were read.
        {{"-w", "pw", "-W", "-x"}, 1, p + "-W incompatible with -w\n"},
        {{"-y", "file", "-w", "pw"}, 1, p + "-y incompatible with -w\n"},
        {{"-V", "-V"},
         0,
         p + "2.4.45\t(LDAP library: " LDAP_VENDOR_NAME " " + std::to_string(LDAP_VENDOR_VERSION) + ")\n"},
    };
    for (const Case &c : cases) {
        std::string joined;
        for (const std::string &w : c.words)
            joined += w + " ";
        SCOPED_TRACE(joined);
        EXPECT_EXIT(Parse(c.words), ::testing::ExitedWithCode(c.status),
                    std::string("^").append(Literal(c.message)).append("$"));
    }
}

// A usage refusal goes through the query object's hook: the message on stderr, then "usage"
// (no line end) on stdout, status 1. Stdout is sent to stderr in the child to see both.
TEST_F(ToolArgsDeathTest, UsageRefusalsEndThroughTheUsageHook)
{
    const char *const refusals[][2] = {
        {"ppolicy=1", "ppolicy: no control value expected\n"},
        {"authzid=dn:x", "authzid: must be marked critical\n"},
        {"nosuch", "Invalid general control name: nosuch\n"},
    };
    for (const auto &r : refusals) {
        SCOPED_TRACE(r[0]);
        EXPECT_EXIT(
            {
                dup2(2, 1);
                Parse({"-e", r[0]});
            },
            ::testing::ExitedWithCode(1),
            std::string("^").append(Literal(std::string(r[1]) + "usage")).append("$"));
    }
}

// Without a usage hook the parser ends with 1 itself.
TEST_F(ToolArgsDeathTest, UsageWithoutAHookStillEnds)
{
    tool_option_hooks = {"", nullptr, nullptr};
    EXPECT_EXIT(Parse({"-e", "ppolicy=1"}), ::testing::ExitedWithCode(1),
                "^ppolicy: no control value expected\n$");
    EXPECT_EXIT(Parse({"-q"}), ::testing::ExitedWithCode(1), "unrecognized option -q\n$");
}

TEST_F(ToolArgs, HelpShowsTheProgramsLettersAndTheSubLines)
{
    {
        CaptureFd err(2);
        tool_print_common_options();
        EXPECT_EQ(err.Text(),
                  "Common options:\n"
                  "             nettimeout=<timeout> (in seconds, or \"none\" or \"max\")\n"
                  "             ldif-wrap=<width> (in columns, or \"no\" for no wrapping)\n");
    }
    {
        ResetSettings();
        CaptureFd err(2);
        tool_option_hooks.options = "xZ:";
        tool_print_common_options();
        EXPECT_EQ(err.Text(),
                  "Common options:\n"
                  "             nettimeout=<timeout> (in seconds, or \"none\" or \"max\")\n"
                  "             ldif-wrap=<width> (in columns, or \"no\" for no wrapping)\n"
                  "  -x         Simple authentication\n"
                  "  -Z         Start TLS request (-ZZ to require successful response)\n");
    }
}

}  // namespace
