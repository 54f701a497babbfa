// Driver interface types: error codes, trace levels, line numbers, the trace scope, the
// error-text buffer and the records an extension is resolved into, plus the functions the
// driver host (in dirprobe, the test harness) provides for tracing and error texts.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Error codes. 0 is success; the top four bits name the family.
typedef uint32_t GdResult;

constexpr GdResult GDERR_FAILED = 0x10000001u;   // missing or bad argument, nothing to search with...
constexpr GdResult GDERR_RPC = 0x10000005u;      // a client cannot be created or an RPC call failed
constexpr GdResult GDERR_NO_MORE = 0x10000006u;  // no further directory entry
constexpr GdResult GDERR_SYSTEM = 0x40000000u;   // family of system failures (OR'ed with the errno)
constexpr GdResult GDERR_LDAP = 0x50000000u;     // family of LDAP failures (OR'ed with the LDAP code)

// A system failure: GDERR_SYSTEM with the low 28 bits of the system error number.
constexpr GdResult GdSystemError(int err)
{
    return GDERR_SYSTEM | (static_cast<uint32_t>(err) & 0x0FFFFFFFu);
}
// The same from errno; call it right after the failing call.
[[nodiscard]] GdResult GdLastSystemError();
// An LDAP failure: GDERR_LDAP OR'ed with the code taken as a signed int, so a negative client-side
// code (-1 server down, -5 timeout) keeps its value (-5 gives 0xFFFFFFFB).
constexpr GdResult GdLdapError(int ldapCode)
{
    return GDERR_LDAP | static_cast<uint32_t>(ldapCode);
}

// ---------------------------------------------------------------------------------------------
// Trace levels. A line is printed when its level is at most the host's verbosity.
constexpr int TRACE_ALWAYS = -1;
constexpr int TRACE_ERROR = 0;
constexpr int TRACE_WARNING = 1;
constexpr int TRACE_DEBUG = 2;
constexpr int TRACE_CALL = 3;  // entry and exit lines of a TraceScope

// Number of the telephone line a request serves.
typedef uint16_t LineNo;
constexpr LineNo LINE_NONE = 0xffff;  // no line

// ---------------------------------------------------------------------------------------------
// The driver interface: provided by the host (dirprobe's harness, library drvtrace).

// Prints fmt with its values when level <= verbosity and fmt is not empty. The format carries
// its own line end. File, line and lineNo say where the line comes from; the harness does not
// print them.
void DriverTrace(const char *file, int line, int level, LineNo lineNo, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));
// The same for the entry and exit lines of a TraceScope (no file, line 0).
void DriverTraceScope(const char *file, int line, int level, LineNo lineNo, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));
// Hooks around each scope line.
void DriverTraceBegin(int level, LineNo lineNo);
void DriverTraceEnd(int level, LineNo lineNo);
// Writes the text of an error code into buf (at most size characters, always terminated when
// size > 0).
void GetErrorText(GdResult code, char *buf, size_t size);
// The line the calling request serves (LINE_NONE in the harness).
LineNo GetCurrentLineNo();

struct LineIDInfo;
// Resolves one extension into the caller's record (the host forwards to its Resolver).
[[nodiscard]] GdResult GetLineIDInfo(const char *extension, LineIDInfo *info);

// ---------------------------------------------------------------------------------------------
// Message lines of the driver side, written through DriverTrace.

// A message line of the driver side with the caller's file and line:
//   GD_TRACE(TRACE_ERROR, lineNo, "GetLineIDInfo: ApplyRoute failed 0x%x\n", rc);
// Code that serves no line passes LINE_NONE.
#define GD_TRACE(level, lineNo, ...) DriverTrace(__FILE__, __LINE__, (level), (lineNo), __VA_ARGS__)
// One of the RPC library's error texts (clnt_sperror, clnt_spcreateerror; null: empty) as a
// message line. libtirpc gives them without the line end that other ONC RPC libraries put at
// their end: it is added when missing. emptyLineAfter adds one more line end.
void TraceRpcText(int level, LineNo lineNo, const char *text, bool emptyLineAfter = false);

// ---------------------------------------------------------------------------------------------
// The text of an error code, in a buffer of 2048 characters that lives as long as the object:
//   DriverTrace(..., "LDAPOpenServer: %s\n", ErrorText(rc).Text());
class ErrorText {
public:
    static constexpr size_t kSize = 2048;
    explicit ErrorText(GdResult code);
    ErrorText(const ErrorText &) = delete;
    ErrorText &operator=(const ErrorText &) = delete;
    const char *Text() const { return text_; }

private:
    char text_[kSize];
};

// Entry and exit lines of a public operation. Made as the first statement of the operation:
//   GdResult rc = 0;
//   TraceScope scope("LDAPExecute", lineNo, &rc);
//   ...
//   return rc;
// Construction writes a location-only line (the caller's file and line, empty text) and
// "-->name()\n"; destruction reads *result and writes "<--name()=ok\n" or "<--name()=<text>\n",
// on every way out of the operation.
class TraceScope {
public:
    TraceScope(const char *name, LineNo lineNo, const GdResult *result, int level = TRACE_CALL,
               const char *file = __builtin_FILE(), int line = __builtin_LINE());
    ~TraceScope();
    TraceScope(const TraceScope &) = delete;
    TraceScope &operator=(const TraceScope &) = delete;

private:
    const char *name_;
    LineNo lineNo_;
    int level_;
    const GdResult *result_;
};

// ---------------------------------------------------------------------------------------------
// Records of a resolved extension. The caller owns them; every text field is NUL-terminated.

struct UserInfo {
    char userId[11];  // alpha user id
    char server[36];  // host of the user's alpha server
    char number[32];  // the extension the user was resolved from
    char name[256];   // display name
};

struct LineIDInfo {
    char lineId[32];     // the extension as given (empty when the default line id was routed)
    char routeId[50];    // route id, the route cache key
    int acceptAll;       // GD_ACPTALL non-empty and not "0"
    char reserved[128];  // cleared, never used
    int userFound;       // the extension resolves to a user
    UserInfo user;
    int languageByLdap;  // the language comes from the directory
    char language[32];   // directory language, lower case
    int hasGreeting;
    int hasGoodbye;
    int hasVideoGreeting;
    int hasVideoGoodbye;
    int isGroup;  // the route names a group
    char groupId[11];
    char groupName[256];
    int hasRouteExtra;  // routeExtra non-empty and routeExtraValue non-zero
    char routeExtra[36];
    int routeExtraValue;
    int imapUser;    // IMAP is enabled for the user
    int ldapFailed;  // building the directory query or the lookup failed
    char imapUserName[128];
    char imapHost[128];
    char imapSendFolder[128];
    char imapDeletedFolder[128];
    char smtpHost[128];
    char smtpDomain[128];
    char tsi[21];  // fax station identifier
};
