// The LDAP query object: session through the LDAP tool code, search with retries, values
// converted to ISO-8859-15.
#define LDAP_DEPRECATED 1  // ldap_get_values and friends

#include "genldap/genldap.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "os/sysutil.h"
#include "os/textcopy.h"
#include "rpcrt/rpcrt.h"
#include "tools/args.h"
#include "tools/common.h"
#include "uc2/uc2.h"

const char ldap_tool_private_options[] = "";
int ldap_tool_deref = -1;

// What this program gives the LDAP tool option parser, from the start of the process: no
// option letters of its own, the usage hook, and the hook that accepts every other letter.
ToolOptionHooks tool_option_hooks = {ldap_tool_private_options, ldap_tool_usage, ldap_tool_option_hook};

namespace {

// The query whose re_open is running on this thread, for the set-up hook.
thread_local LdapQuery *connecting = nullptr;

// The tool settings and the library's TLS state are process-wide: freed once, at exit.
void FreeToolSettingsAtExit()
{
    tool_free_settings();
}

void RegisterExitCleanup()
{
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(FreeToolSettingsAtExit); });
}

const int kMaxRetries = 2;

// Longest wait for the connect and for an answer without a time limit of its own.
const struct timeval kConnectionBound = tela::kCallTimeout;

}  // namespace

LdapQuery::LdapQuery(const char *host, const char *scheme, int port, const char *caCertFile, const char *dn,
                     const char *password, int timeLimit, int debug)
{
    RegisterExitCleanup();
    const char *h = host ? host : "";
    const char *s = scheme ? scheme : "";
    if (strcasecmp(s, "startTLS") == 0) {
        std::snprintf(url, sizeof url, "ldap://%s:%d", h, port);
        startTls = 1;
    } else {
        std::snprintf(url, sizeof url, "%s://%s:%d", s, h, port);
        startTls = 0;
    }
    TextCopy(bindDn, dn);
    TextCopy(bindPassword, password);
    TextCopy(caCert, caCertFile);
    timeout = timeLimit;
    debugLevel = debug;
    if (port < 1 || port > 65535)
        std::snprintf(settingError, sizeof settingError, "port %d out of range (1 to 65535)", port);
    else if (timeLimit <= 0)
        std::snprintf(settingError, sizeof settingError, "time limit %d out of range (must be positive)",
                      timeLimit);
}

LdapQuery::~LdapQuery()
{
    (void)LDAPDeleteQuery(LINE_NONE);  // always 0
    if (ld)
        tool_close_session(ld);
}

GdResult LdapQuery::LDAPOpenServer(LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPOpenServer", lineNo, &rc);
    if (ld) {
        GD_TRACE(TRACE_DEBUG, lineNo, "LDAPOpenServer: handle exists\n");
        return rc;
    }
    if (settingError[0]) {
        GD_TRACE(TRACE_ERROR, lineNo, "LDAPOpenServer: %s\n", settingError);
        rc = GDERR_FAILED;
        return rc;
    }
    tool_set_kind(TOOL_KIND_QUERY);
    rc = re_open(lineNo);
    if (rc != 0) {
        GD_TRACE(TRACE_ERROR, lineNo, "LDAPOpenServer: %s\n", ErrorText(rc).Text());
        return rc;
    }
    GD_TRACE(TRACE_DEBUG, lineNo, "LDAPOpenServer ok\n");
    return rc;
}

namespace {

// Sets the library's global debug level again with its own value when it is not zero, and
// traces it; GdLdapError of the library's code when that fails.
GdResult KeepLdapDebugLevel(LineNo lineNo)
{
    int level = 0;
    ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
    if (level != 0) {
        int ldapCode = ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
        if (ldapCode != LDAP_OPT_SUCCESS) {
            GD_TRACE(TRACE_ERROR, lineNo, "Could not set LDAP_OPT_DEBUG_LEVEL %d\n", level);
            return GdLdapError(ldapCode);
        }
    }
    GD_TRACE(TRACE_DEBUG, lineNo, "LDAP_OPT_DEBUG_LEVEL %d\n", level);
    return 0;
}

}  // namespace

GdResult LdapQuery::re_open(LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("re_open", lineNo, &rc);
    ToolSettings &s = tool_settings;

    s.start_tls_level = startTls;
    s.auth_method = LDAP_AUTH_SIMPLE;
    s.protocol_version = LDAP_VERSION3;
    if (!tool_set_text(&s.uri_list, url) || !tool_set_text(&s.bind_dn, bindDn) ||
        !tool_set_password(bindPassword)) {
        rc = GdLastSystemError();
        GD_TRACE(TRACE_ERROR, lineNo, "strdup() failed: %s\n", ErrorText(rc).Text());
        return rc;
    }

    if (caCert[0]) {
        rc = KeepLdapDebugLevel(lineNo);
        if (rc != 0)
            return rc;
        // The CA file itself goes into the new session's own TLS context (set-up hook), so
        // that each query really uses its own CA.
    }

    openLine = lineNo;
    sessionOptionsCode = 0;
    connecting = this;
    LDAP *fresh = my_tool_conn_setup(0, ldap_tool_setup_hook);
    connecting = nullptr;
    if (!fresh) {
        rc = GdLdapError(sessionOptionsCode ? sessionOptionsCode : LDAP_CONNECT_ERROR);
        return rc;
    }
    if (sessionOptionsCode != 0) {
        tool_close_session(fresh);
        rc = GdLdapError(sessionOptionsCode);
        return rc;
    }
    GD_TRACE(TRACE_DEBUG, lineNo, "tool_conn_setup %s\n", url);

    int ldapCode = my_tool_bind(fresh);
    if (ldapCode != 0) {
        rc = GdLdapError(ldapCode);  // the bind has closed the new session
        return rc;
    }
    ldapCode = ldap_set_option(fresh, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    if (ldapCode != LDAP_OPT_SUCCESS) {
        tool_close_session(fresh);
        rc = GdLdapError(ldapCode);
        return rc;
    }
    if (ld)
        tool_close_session(ld);
    ld = fresh;
    return rc;
}

void LdapQuery::ApplySessionOptions(LDAP *session)
{
    // A directory that takes the connection and never answers must not hold the lookup for
    // ever: the connect, and every wait for an answer that has no limit of its own (StartTLS,
    // bind), end after 25 s, the bound of every RPC call, whatever the search's time limit.
    static const struct {
        int option;
        const char *name;
    } bounds[] = {{LDAP_OPT_NETWORK_TIMEOUT, "LDAP_OPT_NETWORK_TIMEOUT"},
                  {LDAP_OPT_TIMEOUT, "LDAP_OPT_TIMEOUT"}};
    for (const auto &b : bounds) {
        int code = ldap_set_option(session, b.option, &kConnectionBound);
        if (code != LDAP_OPT_SUCCESS) {
            GD_TRACE(TRACE_ERROR, openLine, "Could not set %s %ld\n", b.name,
                     static_cast<long>(kConnectionBound.tv_sec));
            sessionOptionsCode = code;
            return;
        }
    }

    // liblber allocates the length a message announces before reading it: a longer message
    // than any answer of a lookup fails the read instead.
    Sockbuf *sb = nullptr;
    ber_len_t maxIncoming = kLdapMaxMessageBytes;
    int code = ldap_get_option(session, LDAP_OPT_SOCKBUF, &sb);
    if (code != LDAP_OPT_SUCCESS || !sb ||
        ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &maxIncoming) != 1) {
        GD_TRACE(TRACE_ERROR, openLine, "Could not set LBER_SB_OPT_SET_MAX_INCOMING %ld\n",
                 kLdapMaxMessageBytes);
        sessionOptionsCode = code != LDAP_OPT_SUCCESS ? code : LDAP_LOCAL_ERROR;
        return;
    }

    if (!caCert[0])
        return;
    code = ldap_set_option(session, LDAP_OPT_X_TLS_CACERTFILE, caCert);
    if (code == LDAP_OPT_SUCCESS) {
        int isServer = 0;
        code = ldap_set_option(session, LDAP_OPT_X_TLS_NEWCTX, &isServer);
    }
    if (code != LDAP_OPT_SUCCESS) {
        GD_TRACE(TRACE_ERROR, openLine, "Could not set LDAP_OPT_X_TLS_CACERTFILE %s\n", caCert);
        sessionOptionsCode = code;
        return;
    }
    GD_TRACE(TRACE_DEBUG, openLine, "LDAP_OPT_X_TLS_CACERTFILE %s\n", caCert);
}

void ldap_tool_setup_hook(LDAP *session)
{
    if (ldap_tool_deref != -1 &&
        ldap_set_option(session, LDAP_OPT_DEREF, &ldap_tool_deref) != LDAP_OPT_SUCCESS)
        GD_TRACE(TRACE_ERROR, LINE_NONE, "Could not set LDAP_OPT_DEREF %d\n", ldap_tool_deref);
    if (connecting)
        connecting->ApplySessionOptions(session);
}

void ldap_tool_usage()
{
    std::fputs("usage", stdout);
    std::fflush(stdout);
    std::exit(1);
}

int ldap_tool_option_hook(int letter)
{
    return letter;
}

GdResult LdapQuery::LDAPDeleteQuery(LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPDeleteQuery", lineNo, &rc);
    filter.reset();
    base.reset();
    attrNames.clear();
    attrs.clear();
    executed = false;
    entries.clear();
    entry = 0;
    return rc;
}

namespace {

// Replaces *field by a copy of text; GDERR_SYSTEM (field empty) when the copy fails.
template <class Text>
GdResult KeepCopy(Text *field, const char *text, LineNo lineNo)
{
    field->reset(text ? strdup(text) : nullptr);
    if (text && !*field) {
        GdResult rc = GdLastSystemError();
        GD_TRACE(TRACE_ERROR, lineNo, "strdup() failed: %s\n", ErrorText(rc).Text());
        return rc;
    }
    return 0;
}

}  // namespace

GdResult LdapQuery::LDAPSetFilter(const char *text, LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPSetFilter", lineNo, &rc);
    rc = KeepCopy(&filter, text, lineNo);
    return rc;
}

GdResult LdapQuery::LDAPSetSearchRoot(const char *text, LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPSetSearchRoot", lineNo, &rc);
    rc = KeepCopy(&base, text, lineNo);
    return rc;
}

GdResult LdapQuery::LDAPSetSearchMode(int mode, LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPSetSearchMode", lineNo, &rc);
    scope = mode;
    return rc;
}

GdResult LdapQuery::LDAPSetTimeout(int seconds, LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPSetTimeout", lineNo, &rc);
    if (seconds <= 0) {
        GD_TRACE(TRACE_ERROR, lineNo, "LDAPSetTimeout: time limit %d out of range (must be positive)\n",
                 seconds);
        rc = GDERR_FAILED;
        return rc;
    }
    timeout = seconds;
    return rc;
}

GdResult LdapQuery::LDAPAddField(const char *name, LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPAddField", lineNo, &rc);
    try {
        attrNames.reserve(attrNames.size() + 1);
        attrs.reserve(attrNames.size() + 2);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        rc = GdLastSystemError();
        GD_TRACE(TRACE_ERROR, lineNo, "realloc() failed: %s\n", ErrorText(rc).Text());
        return rc;
    }
    Text copy(strdup(name ? name : ""));
    if (!copy) {
        rc = GdLastSystemError();
        GD_TRACE(TRACE_ERROR, lineNo, "strdup() failed: %s\n", ErrorText(rc).Text());
    }
    if (!attrs.empty())
        attrs.pop_back();  // the end of the list
    attrs.push_back(copy.get());
    attrs.push_back(nullptr);
    attrNames.push_back(std::move(copy));
    return rc;
}

GdResult LdapQuery::LDAPExecute(LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPExecute", lineNo, &rc);
    if (!filter) {
        GD_TRACE(TRACE_ERROR, lineNo, "filter is missing!\n");
        rc = GDERR_FAILED;
        return rc;
    }
    if (attrNames.empty()) {
        GD_TRACE(TRACE_ERROR, lineNo, "no fields requested!\n");
        rc = GDERR_FAILED;
        return rc;
    }
    if (!ld) {
        GD_TRACE(TRACE_ERROR, lineNo, "LDAPExecute: no open session\n");
        rc = GDERR_FAILED;
        return rc;
    }
    executed = false;
    entries.clear();
    entry = 0;

    int retries = 0;
    for (;;) {
        // The request of the library's plain search: its session size limit, the time limit
        // its default, no controls of its own.
        int sizeLimit = 0;
        int msgid = -1;
        int code = ldap_get_option(ld, LDAP_OPT_SIZELIMIT, &sizeLimit);
        if (code == LDAP_OPT_SUCCESS)
            code = ldap_search_ext(ld, base.get(), scope, filter.get(), attrs.data(), 0, nullptr, nullptr,
                                   nullptr, sizeLimit, &msgid);
        if (code == LDAP_SUCCESS)
            code = ReadAnswer(msgid, lineNo);
        if (code == LDAP_SUCCESS)
            return rc;
        if (code == LDAP_SERVER_DOWN || code == LDAP_TIMEOUT) {
            // Nothing of a failed attempt is kept.
            executed = false;
            entries.clear();
            if (retries >= kMaxRetries) {
                if (code == LDAP_TIMEOUT)
                    GD_TRACE(TRACE_WARNING, lineNo, "warning: timeout on LDAP query\n");
                rc = GdLdapError(code);
                return rc;
            }
            retries++;
            SysSleep(1000);
            GD_TRACE(TRACE_DEBUG, lineNo,
                     code == LDAP_SERVER_DOWN ? "re_open after LDAP_SERVER_DOWN\n"
                                              : "re_open after LDAP_TIMEOUT\n");
            rc = re_open(lineNo);
            if (rc != 0)
                return rc;
            continue;
        }
        if (executed)
            return rc;  // a partial result, such as one cut by a size limit
        rc = GdLdapError(code);
        GD_TRACE(TRACE_ERROR, lineNo, "ldap_search_st() failed: %s\n", ldap_err2string(code));
        return rc;
    }
}

int LdapQuery::ReadAnswer(int msgid, LineNo lineNo)
{
    using Clock = std::chrono::steady_clock;
    try {
        entries.reserve(kLdapMaxEntries);
    } catch (const std::bad_alloc &) {
        return LDAP_NO_MEMORY;
    }
    // One time limit for the whole answer, however many messages it has.
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeout);
    for (;;) {
        const long long left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        int type = 0;
        LDAPMessage *answer = nullptr;
        if (left > 0) {
            struct timeval limit = {static_cast<time_t>(left / 1000000),
                                    static_cast<suseconds_t>(left % 1000000)};
            type = ldap_result(ld, msgid, LDAP_MSG_ONE, &limit, &answer);
        }
        Message message(answer);
        if (type <= 0) {  // 0: the time limit passed; -1: the read failed
            entries.clear();
            int code = LDAP_TIMEOUT;
            if (type < 0 && ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code) != LDAP_OPT_SUCCESS)
                code = LDAP_OTHER;
            return code;
        }
        if (type == LDAP_RES_SEARCH_RESULT) {
            executed = true;
            return ldap_result2error(ld, answer, 0);
        }
        if (type != LDAP_RES_SEARCH_ENTRY)
            continue;  // references and other messages hold no entry
        if (entries.size() >= kLdapMaxEntries) {
            // Enough for any lookup: the server may send more without end.
            (void)ldap_abandon_ext(ld, msgid, nullptr, nullptr);
            GD_TRACE(TRACE_WARNING, lineNo, "warning: LDAP result cut after %zu entries\n", kLdapMaxEntries);
            executed = true;
            return LDAP_SIZELIMIT_EXCEEDED;
        }
        entries.push_back(std::move(message));
    }
}

GdResult LdapQuery::LDAPGetResultCount(int *count, LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPGetResultCount", lineNo, &rc);
    *count = 0;
    if (!executed) {
        GD_TRACE(TRACE_ERROR, lineNo, "warning: query not executed\n");
        rc = GDERR_FAILED;
        return rc;
    }
    *count = static_cast<int>(entries.size());
    return rc;
}

GdResult LdapQuery::LDAPGetResultField(const char *name, char *buf, size_t size, LineNo lineNo, int valueNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPGetResultField", lineNo, &rc);
    if (buf && size > 0)
        std::memset(buf, 0, size);
    if (!executed) {
        GD_TRACE(TRACE_WARNING, lineNo, "warning: query not executed\n");
        rc = GDERR_FAILED;
        return rc;
    }
    if (entry >= entries.size() || !name || !buf || size == 0)
        return rc;
    char **values = ldap_get_values(ld, entries[entry].get(), name);
    if (!values)
        return rc;
    if (valueNo >= 1 && ldap_count_values(values) >= valueNo) {
        if (!utf8_to_iso_buf(values[valueNo - 1], buf, size, nullptr))
            GD_TRACE(TRACE_WARNING, lineNo, "warning: utf8_to_iso failed\n");
    }
    ldap_value_free(values);
    return rc;
}

GdResult LdapQuery::LDAPNextResult(LineNo lineNo)
{
    GdResult rc = 0;
    TraceScope trace("LDAPNextResult", lineNo, &rc);
    if (!executed) {
        GD_TRACE(TRACE_ERROR, lineNo, "warning: query not executed\n");
        rc = GDERR_FAILED;
        return rc;
    }
    if (entry + 1 >= entries.size()) {
        rc = GDERR_NO_MORE;
        return rc;
    }
    entry++;
    return rc;
}
