// LDAP tool session set-up and simple bind over the process-wide ToolSettings.
#include "tools/common.h"

#include "lutil/lutil.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// Exported by libldap without a public declaration; frees the library's global TLS state.
extern "C" void ldap_pvt_tls_destroy(void);

ToolSettings tool_settings = {
    .tool_kind = 0,
    .prog_name = nullptr,
    .uri_list = nullptr,
    .ldap_host = nullptr,
    .ldap_port = 0,
    .protocol_version = -1,
    .start_tls_level = 0,
    .chase_referrals = 0,
    .nettimeout = {-1, 0},
    .debug_level = 0,
    .verbose = 0,
    .auth_method = -1,
    .bind_dn = nullptr,
    .passwd = {0, nullptr},
    .prompt_for_password = 0,
    .password_file = nullptr,
    .assert_level = 0,
    .assertion = nullptr,
    .assertion_value = {0, nullptr},
    .authzid = nullptr,
    .proxydn = nullptr,
    .relax = 0,
    .manageDSAit = 0,
    .noop = 0,
    .ppolicy = 0,
    .preread = 0,
    .preread_attrs = nullptr,
    .postread = 0,
    .postread_attrs = nullptr,
    .chaining = 0,
    .chaining_resolve = -1,
    .chaining_continuation = -1,
    .sessiontracking = 0,
    .session_tracking_value = {0, nullptr},
    .extra_controls = nullptr,
    .extra_control_count = 0,
    .interrupt_action = 0,
    .interrupt_pending = 0,
    .ldif_output = 0,
    .ldif_wrap = 0,
    .paged_cookie = {0, nullptr},
    .paged_more = 1,
    .c_count = 0,
    .f_argument = nullptr,
    .dry_run = 0,
    .version_count = 0,
    .no_reverse_dns = 0,
    .free_once = 0,
};

namespace {

const char kPasswordPolicyOid[] = "1.3.6.1.4.1.42.2.27.8.5.1";
const char kSessionTrackingOid[] = "1.3.6.1.4.1.21008.108.63.1";
const char kSessionTrackingFormat[] = "1.3.6.1.4.1.21008.108.63.1.3";

const char *ProgramName()
{
    return tool_settings.prog_name ? tool_settings.prog_name : program_invocation_short_name;
}

// Host lists from DNS service records are not looked up in this build: always "not supported".
int LookUpServiceHosts(const char * /*domain*/, char **hostList)
{
    *hostList = nullptr;
    return LDAP_NOT_SUPPORTED;
}

// A URL with a DN and no host would be expanded through DNS service records; the look-up is not
// available, so this only reports which step stopped it. Adds nothing to `urls`.
void ExpandServiceRecordUrl(const LDAPURLDesc *url)
{
    char *domain = nullptr;
    if (ldap_dn2domain(url->lud_dn, &domain) != 0 || domain == nullptr) {
        std::fprintf(stderr, "DNS SRV: Could not turn DN=\"%s\" into a domain\n", url->lud_dn);
        ldap_memfree(domain);
        return;
    }
    char *hostList = nullptr;
    if (LookUpServiceHosts(domain, &hostList) != LDAP_SUCCESS)
        std::fprintf(stderr, "DNS SRV: Could not turn domain=%s into a hostlist\n", domain);
    ldap_memfree(hostList);
    ldap_memfree(domain);
}

// Splits at blanks and commas, as the library's list parser does.
std::vector<std::string> SplitUrlList(const char *list)
{
    std::vector<std::string> parts;
    std::string current;
    for (const char *p = list; *p; p++) {
        if (*p == ' ' || *p == ',') {
            if (!current.empty())
                parts.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty())
        parts.push_back(current);
    return parts;
}

struct UrlDescFree {
    void operator()(LDAPURLDesc *url) const { ldap_free_urldesc(url); }
};
struct LdapMemFree {
    void operator()(char *text) const { ldap_memfree(text); }
};
using UrlDesc = std::unique_ptr<LDAPURLDesc, UrlDescFree>;
using LdapText = std::unique_ptr<char, LdapMemFree>;

// Parses every URL of the list into *parsed; false after a message when one cannot be parsed.
bool ParseUrlList(const char *list, std::vector<UrlDesc> *parsed)
{
    for (const std::string &part : SplitUrlList(list)) {
        LDAPURLDesc *url = nullptr;
        int rc = ldap_url_parse(part.c_str(), &url);
        if (rc != LDAP_URL_SUCCESS) {
            std::fprintf(stderr, "Could not parse LDAP URI(s)=%s (%d)\n", list, rc);
            return false;
        }
        parsed->emplace_back(url);
    }
    return true;
}

// The URLs in the library's text form, those without a host left out (after their message);
// false when one cannot be written out.
bool UrlTexts(const std::vector<UrlDesc> &parsed, std::vector<LdapText> *texts)
{
    for (const UrlDesc &url : parsed) {
        if (url->lud_dn && url->lud_dn[0] && (!url->lud_host || !url->lud_host[0])) {
            ExpandServiceRecordUrl(url.get());
            continue;
        }
        LdapText text(ldap_url_desc2str(url.get()));
        if (!text) {
            std::fprintf(stderr, "DNS SRV: out of memory?\n");
            return false;
        }
        texts->push_back(std::move(text));
    }
    return true;
}

// Rewrites uri_list in the library's text form; false after a message when it cannot.
bool NormaliseUrlList()
{
    ToolSettings &s = tool_settings;
    if ((s.ldap_host != nullptr || s.ldap_port != 0) && s.uri_list == nullptr) {
        LDAPURLDesc url;
        std::memset(&url, 0, sizeof url);
        url.lud_scheme = const_cast<char *>("ldap");
        url.lud_host = s.ldap_host;
        url.lud_port = s.ldap_port;
        url.lud_scope = LDAP_SCOPE_DEFAULT;
        s.uri_list = ldap_url_desc2str(&url);
        return true;
    }
    if (s.uri_list == nullptr)
        return true;  // the library's default URL

    std::vector<UrlDesc> parsed;
    std::vector<LdapText> texts;
    if (!ParseUrlList(s.uri_list, &parsed) || !UrlTexts(parsed, &texts) || texts.empty())
        return false;
    std::string joined;
    for (const LdapText &t : texts) {
        if (!joined.empty())
            joined += ' ';
        joined += t.get();
    }
    char *copy = ber_strdup(joined.c_str());
    if (!copy)
        return false;
    ldap_memfree(s.uri_list);
    s.uri_list = copy;
    return true;
}

// How the set-up and the bind end on a failure: return a code, or end the process.
enum class FailMode { kReturn, kExit };

// The returning form reports and closes the session; the exiting form ends the process with
// status 1, closing the session when one was made.
LDAP *SetupFailed(LDAP *ld, FailMode mode)
{
    if (mode == FailMode::kExit)
        tool_end_process(ld, 1);
    std::fprintf(stderr, "my_tool_conn_setup failed\n");
    if (ld)
        tool_close_session(ld);
    return nullptr;
}

// `code` is the returning form's result, `status` the exiting form's exit status.
int BindFailed(LDAP *ld, int code, int status, FailMode mode)
{
    if (mode == FailMode::kExit)
        tool_end_process(ld, status);
    std::fprintf(stderr, "my_tool_bind failed\n");
    if (ld)
        tool_close_session(ld);
    return code;
}

}  // namespace

void on_interrupt_signal(int /*signo*/)
{
    tool_settings.interrupt_pending = tool_settings.interrupt_action;
}

void tool_set_kind(int kind)
{
    tool_settings.tool_kind = kind;
}

namespace {

// The tool settings' options of a new session (referrals, protocol version, StartTLS, network
// time-out); false after a message when one that must hold cannot be set.
bool SetSessionOptions(LDAP *ld)
{
    ToolSettings &s = tool_settings;
    if (ldap_set_option(ld, LDAP_OPT_REFERRALS, s.chase_referrals ? LDAP_OPT_ON : LDAP_OPT_OFF) !=
        LDAP_OPT_SUCCESS) {
        std::fprintf(stderr, "Could not set LDAP_OPT_REFERRALS %s\n", s.chase_referrals ? "on" : "off");
        return false;
    }
    if (ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &s.protocol_version) != LDAP_OPT_SUCCESS) {
        std::fprintf(stderr, "Could not set LDAP_OPT_PROTOCOL_VERSION %d\n", s.protocol_version);
        return false;
    }
    if (s.start_tls_level != 0) {
        int rc = ldap_start_tls_s(ld, nullptr, nullptr);
        if (rc != LDAP_SUCCESS) {
            char *diagnostic = nullptr;
            ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic);
            tool_print_error("ldap_start_tls", rc, nullptr, nullptr, diagnostic, nullptr);
            ldap_memfree(diagnostic);
            if (s.start_tls_level > 1)
                return false;
        }
    }
    if (s.nettimeout.tv_sec > 0) {
        if (ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &s.nettimeout) != LDAP_OPT_SUCCESS) {
            std::fprintf(stderr, "Could not set LDAP_OPT_NETWORK_TIMEOUT %ld\n",
                         static_cast<long>(s.nettimeout.tv_sec));
            return false;
        }
    }
    return true;
}

LDAP *ConnSetup(int dont_connect, ToolSetupHook hook, FailMode mode)
{
    ToolSettings &s = tool_settings;
    if (s.debug_level != 0) {
        if (ber_set_option(nullptr, LBER_OPT_DEBUG_LEVEL, &s.debug_level) != LBER_OPT_SUCCESS)
            std::fprintf(stderr, "Could not set LBER_OPT_DEBUG_LEVEL %d\n", s.debug_level);
        if (ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &s.debug_level) != LDAP_OPT_SUCCESS)
            std::fprintf(stderr, "Could not set LDAP_OPT_DEBUG_LEVEL %d\n", s.debug_level);
    }
    if (s.interrupt_action != 0) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = on_interrupt_signal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
    }
    if (dont_connect)
        return nullptr;

    if (!NormaliseUrlList())
        return SetupFailed(nullptr, mode);

    if (s.verbose)
        std::fprintf(stderr, "ldap_initialize( %s )\n", s.uri_list ? s.uri_list : "<DEFAULT>");

    LDAP *ld = nullptr;
    int rc = ldap_initialize(&ld, s.uri_list);
    if (rc != LDAP_SUCCESS) {
        std::fprintf(stderr, "Could not create LDAP session handle for URI=%s (%d): %s\n",
                     s.uri_list ? s.uri_list : "<DEFAULT>", rc, ldap_err2string(rc));
        if (ld)
            ldap_unbind_ext(ld, nullptr, nullptr);
        return SetupFailed(nullptr, mode);
    }

    if (hook)
        hook(ld);

    if (!SetSessionOptions(ld))
        return SetupFailed(ld, mode);
    return ld;
}

// The request controls of the bind: password policy and session tracking, as set. Owns the
// copy of the tracking value that the session-tracking control points to.
struct BindControls {
    LDAPControl controls[2] = {};
    LDAPControl *list[3] = {nullptr, nullptr, nullptr};
    int count = 0;
    struct berval tracking = {0, nullptr};

    BindControls() = default;
    BindControls(const BindControls &) = delete;
    BindControls &operator=(const BindControls &) = delete;
    ~BindControls() { ber_memfree(tracking.bv_val); }

    void Add(const char *oid, struct berval value)
    {
        LDAPControl &c = controls[count];
        c.ldctl_oid = const_cast<char *>(oid);
        c.ldctl_value = value;
        c.ldctl_iscritical = 0;
        list[count] = &c;
        count++;
    }
    LDAPControl **List() { return count ? list : nullptr; }
};

// What ldap_parse_result gives of the bind's answer, freed on every way out.
struct BindAnswer {
    int code = LDAP_SUCCESS;
    char *matched = nullptr;
    char *info = nullptr;
    char **referrals = nullptr;
    LDAPControl **controls = nullptr;

    BindAnswer() = default;
    BindAnswer(const BindAnswer &) = delete;
    BindAnswer &operator=(const BindAnswer &) = delete;
    ~BindAnswer()
    {
        ldap_memfree(matched);
        ldap_memfree(info);
        ber_memvfree(reinterpret_cast<void **>(referrals));
        ldap_controls_free(controls);
    }
};

// Where the bind stopped: the returning form's result and the exiting form's status.
struct BindStop {
    int code;
    int status;
};

bool BuildControls(LDAP *ld, BindControls *controls, BindStop *stop)
{
    ToolSettings &s = tool_settings;
    if (s.ppolicy)
        controls->Add(kPasswordPolicyOid, {0, nullptr});
    if (s.sessiontracking) {
        if ((s.session_tracking_value.bv_val == nullptr && make_session_tracking_value(ld, nullptr) != 0) ||
            !ber_dupbv(&controls->tracking, &s.session_tracking_value)) {
            *stop = {LDAP_OTHER, 1};
            return false;
        }
        controls->Add(kSessionTrackingOid, controls->tracking);
    }
    return true;
}

// The password from the password file or the prompt, when one of them is asked for.
bool ReadPassword(BindStop *stop)
{
    ToolSettings &s = tool_settings;
    if (s.password_file != nullptr) {
        struct berval value = {0, nullptr};
        if (read_password_file(s.password_file, &value) != 0) {
            *stop = {LDAP_OTHER, 1};
            return false;
        }
        ber_memfree(s.passwd.bv_val);
        s.passwd = value;
    } else if (s.prompt_for_password) {
        const char *entered = prompt_password("Enter LDAP Password: ");
        // A password that cannot be kept fails the bind, as one that cannot be read from its file.
        if (entered && !tool_set_password(entered)) {
            *stop = {LDAP_OTHER, 1};
            return false;
        }
    }
    return true;
}

// Sends the simple bind and waits for its answer (the session's own time limit only, when its
// owner set one); the answer goes to *result.
bool SendBind(LDAP *ld, BindControls *controls, LDAPMessage **result, BindStop *stop)
{
    ToolSettings &s = tool_settings;
    int msgid = -1;
    int rc = ldap_sasl_bind(ld, s.bind_dn, LDAP_SASL_SIMPLE, &s.passwd, controls->List(), nullptr, &msgid);
    if (msgid == -1) {
        tool_print_error("ldap_sasl_bind(SIMPLE)", rc, nullptr, nullptr, nullptr, nullptr);
        *stop = {rc, rc};
        return false;
    }
    rc = ldap_result(ld, msgid, LDAP_MSG_ALL, nullptr, result);
    if (rc == -1) {
        tool_print_error("ldap_result", -1, nullptr, nullptr, nullptr, nullptr);
        *stop = {LDAP_OTHER, LDAP_LOCAL_ERROR};
        return false;
    }
    if (rc == 0) {
        tool_print_error("ldap_result", LDAP_TIMEOUT, nullptr, nullptr, nullptr, nullptr);
        *stop = {LDAP_TIMEOUT, LDAP_LOCAL_ERROR};
        return false;
    }
    return true;
}

// The password policy's text of the answer's controls into message (empty when there is none).
void PolicyText(LDAP *ld, LDAPControl **responseControls, char *message, size_t size)
{
    message[0] = '\0';
    if (!responseControls || !tool_settings.ppolicy)
        return;
    LDAPControl *control = ldap_control_find(kPasswordPolicyOid, responseControls, nullptr);
    ber_int_t expire = -1;
    ber_int_t grace = -1;
    LDAPPasswordPolicyError error = PP_noError;
    if (!control || ldap_parse_passwordpolicy_control(ld, control, &expire, &grace, &error) != LDAP_SUCCESS)
        return;
    size_t used = 0;
    if (error != PP_noError) {
        int n = std::snprintf(message, size, "; %s", ldap_passwordpolicy_err2txt(error));
        used = n > 0 ? std::min(static_cast<size_t>(n), size - 1) : 0;
    }
    if (expire >= 0)
        std::snprintf(message + used, size - used, " (Password expires in %d seconds)",
                      static_cast<int>(expire));
    else if (grace >= 0)
        std::snprintf(message + used, size - used, " (Password expired, %d grace logins remain)",
                      static_cast<int>(grace));
}

// Parses the answer (and frees it) and reports what it says; true when the bind succeeded.
bool ReadBindAnswer(LDAP *ld, LDAPMessage *result, BindStop *stop)
{
    BindAnswer a;
    int rc = ldap_parse_result(ld, result, &a.code, &a.matched, &a.info, &a.referrals, &a.controls, 1);
    if (rc != LDAP_SUCCESS) {
        tool_print_error("ldap_bind parse result", rc, nullptr, a.matched, a.info, a.referrals);
        *stop = {rc, LDAP_LOCAL_ERROR};
        return false;
    }
    char message[256];
    PolicyText(ld, a.controls, message, sizeof message);
    if (a.code == LDAP_SUCCESS && message[0] == '\0' && (!a.matched || !a.matched[0]) &&
        (!a.info || !a.info[0]) && !a.referrals)
        return true;
    tool_print_error("ldap_bind", a.code, message, a.matched, a.info, a.referrals);
    if (a.code == LDAP_SUCCESS)
        return true;
    *stop = {a.code, a.code};
    return false;
}

// The steps of the bind; false with *stop set when one fails. What they made is freed on return.
bool RunBind(LDAP *ld, BindStop *stop)
{
    BindControls controls;
    if (!BuildControls(ld, &controls, stop) || !ReadPassword(stop))
        return false;
    if (tool_settings.auth_method == LDAP_AUTH_SASL) {
        std::fprintf(stderr, "%s: not compiled with SASL support\n", ProgramName());
        *stop = {LDAP_OTHER, LDAP_NOT_SUPPORTED};
        return false;
    }
    LDAPMessage *result = nullptr;
    if (!SendBind(ld, &controls, &result, stop))
        return false;
    return ReadBindAnswer(ld, result, stop);
}

int Bind(LDAP *ld, FailMode mode)
{
    BindStop stop = {0, 0};
    if (RunBind(ld, &stop))
        return 0;
    return BindFailed(ld, stop.code, stop.status, mode);
}

}  // namespace

LDAP *my_tool_conn_setup(int dont_connect, ToolSetupHook hook)
{
    return ConnSetup(dont_connect, hook, FailMode::kReturn);
}

LDAP *tool_conn_setup_or_exit(int dont_connect, ToolSetupHook hook)
{
    return ConnSetup(dont_connect, hook, FailMode::kExit);
}

int my_tool_bind(LDAP *ld)
{
    return Bind(ld, FailMode::kReturn);
}

void tool_bind_or_exit(LDAP *ld)
{
    Bind(ld, FailMode::kExit);
}

void tool_end_process(LDAP *ld, int status)
{
    if (ld)
        tool_close_session(ld);
    tool_free_settings();
    std::exit(status);
}

int make_session_tracking_value(LDAP *ld, struct berval * /*unused*/)
{
    ToolSettings &s = tool_settings;
    char hostName[HOST_NAME_MAX + 1];
    char address[INET_ADDRSTRLEN];
    char *name = nullptr;
    char *ip = nullptr;
    if (gethostname(hostName, sizeof hostName) == 0) {
        hostName[sizeof hostName - 1] = '\0';
        name = hostName;
        struct addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_INET;
        struct addrinfo *found = nullptr;
        if (getaddrinfo(hostName, nullptr, &hints, &found) == 0 && found) {
            const auto *in = reinterpret_cast<const struct sockaddr_in *>(found->ai_addr);
            if (inet_ntop(AF_INET, &in->sin_addr, address, sizeof address))
                ip = address;
        }
        if (found)
            freeaddrinfo(found);
    }
    struct berval id = {0, nullptr};
    if (s.bind_dn)
        ber_str2bv(s.bind_dn, 0, 0, &id);
    if (ldap_create_session_tracking_value(ld, ip, name, const_cast<char *>(kSessionTrackingFormat), &id,
                                           &s.session_tracking_value) != LDAP_SUCCESS) {
        std::fprintf(stderr, "Session tracking control encoding error!\n");
        return -1;
    }
    return 0;
}

int tool_close_session(LDAP *ld)
{
    if (ldap_set_option(ld, LDAP_OPT_SERVER_CONTROLS, nullptr) != LDAP_OPT_SUCCESS)
        std::fprintf(stderr, "Could not unset controls\n");
    return ldap_unbind_ext(ld, nullptr, nullptr);
}

void tool_free_settings()
{
    ToolSettings &s = tool_settings;
    if (s.free_once++ != 0)
        return;
    ldap_pvt_tls_destroy();
    auto freeText = [](char *&text) {
        if (text) {
            ber_memfree(text);
            text = nullptr;
        }
    };
    freeText(s.uri_list);
    if (s.paged_cookie.bv_val) {
        ber_memfree(s.paged_cookie.bv_val);
        s.paged_cookie.bv_val = nullptr;
        s.paged_cookie.bv_len = 0;
    }
    freeText(s.bind_dn);
    if (s.passwd.bv_val) {
        ber_memfree(s.passwd.bv_val);
        s.passwd.bv_val = nullptr;
        s.passwd.bv_len = 0;
    }
    freeText(s.f_argument);
    freeText(s.assertion);
    freeText(s.authzid);
    freeText(s.proxydn);
    freeText(s.preread_attrs);
    freeText(s.postread_attrs);
}

void tool_print_error(const char *func, int code, const char *tail, const char *matched, const char *info,
                      char **referrals)
{
    std::fprintf(stderr, "%s: %s (%d)%s\n", func, ldap_err2string(code), code, tail ? tail : "");
    if (matched && *matched)
        std::fprintf(stderr, "\tmatched DN: %s\n", matched);
    if (info && *info)
        std::fprintf(stderr, "\tadditional info: %s\n", info);
    if (referrals && referrals[0]) {
        std::fprintf(stderr, "\treferrals:\n");
        for (char **r = referrals; *r; r++)
            std::fprintf(stderr, "\t\t%s\n", *r);
    }
}

bool tool_set_text(char **setting, const char *value)
{
    ber_memfree(*setting);
    *setting = nullptr;
    if (!value)
        return true;
    *setting = ber_strdup(value);
    return *setting != nullptr;
}

bool tool_set_password(const char *value)
{
    ToolSettings &s = tool_settings;
    ber_memfree(s.passwd.bv_val);
    s.passwd.bv_val = nullptr;
    s.passwd.bv_len = 0;
    if (!value)
        return true;
    return ber_str2bv(value, 0, 1, &s.passwd) != nullptr;
}
