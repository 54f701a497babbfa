// LdapQuery: one LDAP session and one prepared search (base, scope, filter, attributes, time
// limit) with its last result and a current entry. The session is made and bound by the LDAP
// tool code from the process-wide tool settings, which every connection of this object
// rewrites. Not thread-safe: the owner serialises every use of every LdapQuery under one lock
// (also because the tool settings are shared by all of them).
#pragma once

#include <ldap.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

#include "drvif/drvif.h"

// Largest LDAP message a session accepts (a longer one fails the read as a lost connection),
// and most entries a search keeps: together they bound the memory of one answer (16 MiB).
// The lookup reads the first entry only; its attributes take a few hundred bytes.
constexpr long kLdapMaxMessageBytes = 1L << 20;
constexpr size_t kLdapMaxEntries = 16;

class LdapQuery {
public:
    // Builds the URL "<scheme>://<host>:<port>" ("ldap://" with StartTLS when the scheme is
    // "startTLS" in any case) and copies the texts, cut to their fields. Makes no connection.
    // A port outside 1 to 65535 or a time limit that is not positive is kept as an error that
    // LDAPOpenServer reports.
    LdapQuery(const char *host, const char *scheme, int port, const char *caCert, const char *bindDn,
              const char *bindPassword, int timeout, int debugLevel);
    // Frees the search data and closes this object's own session. It touches nothing shared
    // with other queries (the process-wide tool settings and the library's TLS state are freed
    // once, at the end of the process), so it needs only that no one else uses this object.
    ~LdapQuery();
    LdapQuery(const LdapQuery &) = delete;
    LdapQuery &operator=(const LdapQuery &) = delete;

    // Makes sure a bound session exists (0 at once when one does).
    [[nodiscard]] GdResult LDAPOpenServer(LineNo lineNo);
    // Frees filter, base, attribute list and result; 0.
    [[nodiscard]] GdResult LDAPDeleteQuery(LineNo lineNo);
    // Keep a copy of the text; GDERR_SYSTEM (field then empty) when the copy fails.
    [[nodiscard]] GdResult LDAPSetFilter(const char *filter, LineNo lineNo);
    [[nodiscard]] GdResult LDAPSetSearchRoot(const char *base, LineNo lineNo);
    // LDAP search scope (LDAP_SCOPE_SUBTREE is 2); 0.
    [[nodiscard]] GdResult LDAPSetSearchMode(int scope, LineNo lineNo);
    // Search time limit in seconds; GDERR_FAILED for a value that is not positive.
    [[nodiscard]] GdResult LDAPSetTimeout(int seconds, LineNo lineNo);
    // Appends an attribute to request; GDERR_SYSTEM when the list cannot grow.
    [[nodiscard]] GdResult LDAPAddField(const char *name, LineNo lineNo);
    // Runs the search; reconnects and searches again (at most twice in all) when the server is
    // down or the time limit passes. 0, GDERR_FAILED without filter or attributes, else
    // GDERR_LDAP with the LDAP code. The answer is read one message at a time, each at most
    // kLdapMaxMessageBytes; after kLdapMaxEntries entries the rest is abandoned and what was
    // read is kept, as a result cut by the server's size limit is.
    [[nodiscard]] GdResult LDAPExecute(LineNo lineNo);
    // Number of entries of the last result; GDERR_FAILED (count 0) when no search ran.
    [[nodiscard]] GdResult LDAPGetResultCount(int *count, LineNo lineNo);
    // Value number `valueNo` (from 1) of the attribute of the current entry (the first entry
    // until LDAPNextResult), converted from UTF-8 to ISO-8859-15 into buf (at most size - 1
    // characters; characters without a form are left out). No such value: empty buf, 0.
    [[nodiscard]] GdResult LDAPGetResultField(const char *name, char *buf, size_t size, LineNo lineNo,
                                              int valueNo);
    // Moves to the next entry; GDERR_NO_MORE at the end (entry unchanged).
    [[nodiscard]] GdResult LDAPNextResult(LineNo lineNo);
    // Connects and binds a new session and replaces the current one; on failure the current
    // session stays.
    [[nodiscard]] GdResult re_open(LineNo lineNo);

    // Used by the session set-up hook while this object connects.
    void ApplySessionOptions(LDAP *ld);

    LDAP *session() const { return ld; }
    const char *Url() const { return url; }
    int StartTls() const { return startTls; }

private:
    LDAP *ld = nullptr;
    char url[256] = "";
    int startTls = 0;
    char bindDn[128] = "";
    char bindPassword[128] = "";
    int timeout = 0;
    char caCert[256] = "";
    int debugLevel = 0;
    struct FreeText {
        void operator()(char *text) const { std::free(text); }
    };
    struct FreeMessage {
        void operator()(LDAPMessage *message) const { ldap_msgfree(message); }
    };
    using Text = std::unique_ptr<char, FreeText>;

    Text filter;
    Text base;
    int scope = 0;
    std::vector<Text> attrNames;  // the attributes asked for (a failed copy stays as null)
    std::vector<char *> attrs;    // their list as the search takes it, null at the end
    using Message = std::unique_ptr<LDAPMessage, FreeMessage>;
    // Reads the answer to search `msgid` into `entries` within the time limit: the LDAP code
    // of the answer (LDAP_SIZELIMIT_EXCEEDED when cut after kLdapMaxEntries), or LDAP_TIMEOUT
    // or the code of a failed read, with entries then empty.
    int ReadAnswer(int msgid, LineNo lineNo);

    bool executed = false;         // the last search gave a result (perhaps without entries)
    std::vector<Message> entries;  // its entries, one message each
    size_t entry = 0;              // the current one

    char settingError[128] = "";  // a refused port or time limit, reported by LDAPOpenServer
    LineNo openLine = LINE_NONE;  // line of the running re_open, for the set-up hook's trace
    int sessionOptionsCode = 0;   // LDAP code of a failed session option in the set-up hook
};

// What the LDAP tool code asks of the program that embeds it. The option letters, the usage
// hook and the private-option hook also make up the option parser's tool_option_hooks, which
// this library defines.
// Option letters of the program for the tool option parser: none.
extern const char ldap_tool_private_options[];
// Alias dereferencing for new sessions; -1 leaves the library's default.
extern int ldap_tool_deref;
// Prints "usage" on stdout and ends the process with status 1.
[[noreturn]] void ldap_tool_usage();
// Accepts every private option letter: returns it.
int ldap_tool_option_hook(int letter);
// Session set-up callback: dereferencing; a bound of 25 s on the connect and on every wait for
// an answer that has no time limit of its own (the bind's); the largest message the session
// accepts (kLdapMaxMessageBytes); and the CA file of the connecting LdapQuery in a TLS context
// of the session's own. A bound, the message size or the CA that cannot be set fails the re_open.
void ldap_tool_setup_hook(LDAP *ld);
