// Process-wide settings of the LDAP tool code and the functions that turn them into an open,
// bound LDAP session. The settings are not locked: callers serialise all use (the LDAP query
// object does so under its owner's lock). Diagnostics go to stderr; results are LDAP codes.
#pragma once

#include <lber.h>
#include <ldap.h>

#include <sys/time.h>
#include <csignal>

// Kind values of tool_set_kind.
enum { TOOL_KIND_QUERY = 1 };

struct ToolSettings {
    // Identity and connection
    int tool_kind;
    const char *prog_name;  // not owned; unset in this system
    char *uri_list;         // blank-separated LDAP URLs
    char *ldap_host;
    int ldap_port;
    int protocol_version;  // -1 until set
    int start_tls_level;   // 0 none, 1 try, 2 or more require
    int chase_referrals;
    struct timeval nettimeout;  // applied when tv_sec > 0
    int debug_level;
    int verbose;
    // Bind
    int auth_method;  // LDAP_AUTH_SIMPLE (128) or LDAP_AUTH_SASL (163); -1 until set
    char *bind_dn;
    struct berval passwd;
    int prompt_for_password;
    const char *password_file;  // not owned
    // Request controls
    int assert_level;
    char *assertion;
    struct berval assertion_value;
    char *authzid;
    char *proxydn;
    int relax;
    int manageDSAit;
    int noop;
    int ppolicy;
    int preread;
    char *preread_attrs;
    int postread;
    char *postread_attrs;
    int chaining;
    int chaining_resolve;       // -1 unset
    int chaining_continuation;  // -1 unset
    int sessiontracking;
    struct berval session_tracking_value;
    LDAPControl *extra_controls;
    int extra_control_count;
    // Interrupts
    int interrupt_action;  // 0 nothing, 1 abandon, 2 cancel, 3 ignore
    volatile sig_atomic_t interrupt_pending;
    // Printed output
    int ldif_output;
    unsigned int ldif_wrap;
    struct berval paged_cookie;
    int paged_more;
    // Other options
    int c_count;
    char *f_argument;
    int dry_run;
    int version_count;
    int no_reverse_dns;
    // Bookkeeping
    int free_once;
};

// The one instance of the process.
extern ToolSettings tool_settings;

// Callback run on a new session right after it is created, before any option is set on it.
using ToolSetupHook = void (*)(LDAP *ld);

void tool_set_kind(int kind);

// Applies the debug level and the interrupt handler; with dont_connect non-zero returns nullptr
// there. Else normalises uri_list, creates the session, runs the hook, sets referrals, protocol
// version, StartTLS and network time-out. Returns the session (owned by the caller), or nullptr
// after "my_tool_conn_setup failed" with any session already closed.
LDAP *my_tool_conn_setup(int dont_connect, ToolSetupHook hook);

// Simple bind with the settings' DN and password. 0 when bound; else an LDAP code, and the
// session has been closed: the caller must drop it.
int my_tool_bind(LDAP *ld);

// Removes the session's server controls and unbinds it; returns the unbind's result.
int tool_close_session(LDAP *ld);

// Frees the owned texts of the settings and the library's TLS state; acts on its first call
// only. Meant for the end of the process.
void tool_free_settings();

// "<func>: <text> (<code>)<tail>" and the matched DN, additional information and referrals,
// each on its own line when present.
void tool_print_error(const char *func, int code, const char *tail, const char *matched, const char *info,
                      char **referrals);

// Fills tool_settings.session_tracking_value; `unused` is not read. 0 or -1.
int make_session_tracking_value(LDAP *ld, struct berval *unused);

// SIGINT handler installed when interrupt_action is set: stores the action and nothing else.
void on_interrupt_signal(int signo);

// Replaces an owned text setting by a copy of `value` (nullptr clears it); frees the old one.
// Returns false when the copy could not be made (the setting is then cleared).
bool tool_set_text(char **setting, const char *value);
// Replaces the password by a copy of `value` with its length; false when the copy failed.
bool tool_set_password(const char *value);

// Exiting forms of the set-up and the bind: the same steps and messages, but a failure ends the
// process through tool_end_process (status 1 for the set-up; for the bind the LDAP code of the
// failure, -12 for SASL and -2 when no result could be had) instead of returning.
LDAP *tool_conn_setup_or_exit(int dont_connect, ToolSetupHook hook);
void tool_bind_or_exit(LDAP *ld);

// Closes the session (when not null), frees the settings and ends the process with `status`.
[[noreturn]] void tool_end_process(LDAP *ld, int status);

// Acts on a pending interrupt for the operation `msgid`: 1 abandons it, 2 cancels it, 3 ignores
// it; each of those returns -1. 0 when nothing is pending.
int tool_check_interrupt(LDAP *ld, int msgid);

// 1 when the text is a dotted decimal object identifier, else 0. A number part that starts with
// 0 must be followed by a dot ("1.0.3" is one, "1.02" and "1.0" are not).
int tool_is_dotted_oid(const char *text);

// Returns the process-wide pending value and resets it to 0.
int take_pending_value();
