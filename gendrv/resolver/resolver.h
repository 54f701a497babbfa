// The resolver: turns a telephone extension into the user or group that alpha routes it to, adds
// the user's LDAP and IMAP settings (per-user properties on the user's alpha server, cached per
// route for directory users) and the user's directory attributes.
//
// Any number of threads may call GetLineIDInfo at once. Three locks, never held together:
// routeLock_ around every use of the alpha client and the per-user client (route requests and
// property reads), cacheLock_ around searching and extending the route cache, ldapLock_ around
// each directory lookup.
#pragma once

#include <rpc/rpc.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "drvif/drvif.h"

class LdapQuery;

// A user's LDAP and IMAP settings, read from the user's properties. Every text holds a whole
// property value (at most 80 characters).
struct UserConfig {
    char acceptAll[128];
    char ldapHost[128];
    int ldapDebug;
    char scheme[128];
    int port;
    char caCert[128];
    char bindDn[128];
    char bindPassword[128];
    char searchBase[256];
    char filterTemplate[256];
    char languageAttr[256];
    char givenNameAttr[256];
    char surnameAttr[256];
    char tsiAttr[256];
    char extAttr[256];
    int timeout;
    int ldr2t;
    char imapHost[128];
    char imapSendFolder[128];
    char imapDeletedFolder[128];
    char smtpHost[128];
    char imapUserAttr[256];
    char smtpDomain[128];
};

// Frees a settings record, which is allocated cleared with calloc.
struct FreeUserConfig {
    void operator()(UserConfig *config) const { std::free(config); }
};
using UserConfigPtr = std::unique_ptr<UserConfig, FreeUserConfig>;

// A route's user settings and LDAP query object, both owned by the entry: a route cache entry
// of a directory user (never changed once it is cached), or a request's own entry for settings
// that are not cached (its query, if any, lives only for the request).
struct RouteEntry {
    char routeId[50] = "";
    char userId[11] = "";
    char server[36] = "";
    UserConfigPtr settings;
    std::unique_ptr<LdapQuery> query;
    std::unique_ptr<RouteEntry> next;  // the cache's next entry

    ~RouteEntry();  // where LdapQuery is complete
};

// The route cache: a list that only grows, new entries at the tail, keyed by route id, user id
// and server (compared exactly). Not locked: the resolver holds its cache lock around each use.
class RouteCache {
public:
    RouteCache() = default;
    // Frees every entry with its settings and query object, in list order.
    ~RouteCache();
    RouteCache(const RouteCache &) = delete;
    RouteCache &operator=(const RouteCache &) = delete;

    // The entry of the route, or nullptr.
    RouteEntry *Find(const char *routeId, const char *userId, const char *server) const;
    // Appends *fresh at the tail when no entry of its route is there yet (*fresh is empty then);
    // else leaves *fresh to the caller. Returns the cached entry of the route.
    RouteEntry *Adopt(std::unique_ptr<RouteEntry> *fresh);
    // Frees every entry, in list order.
    void Clear();

private:
    std::unique_ptr<RouteEntry> head_;
};

class Resolver {
public:
    // Copies the alpha host (at most 35 characters) and the default line id (at most 11). Makes
    // no connection.
    Resolver(const char *alphaHost, const char *defaultLineId);
    // Frees the route cache with its settings and query objects and destroys the clients.
    ~Resolver();
    Resolver(const Resolver &) = delete;
    Resolver &operator=(const Resolver &) = delete;

    // Connects to alpha, reads its compatibility level and, below level 16, connects to omega.
    // 0 or GDERR_RPC; a client made before a failure stays.
    [[nodiscard]] GdResult ResolverInit();

    // Resolves one extension into the caller's record, which is cleared first. namesWanted
    // non-zero also reads the language and name attributes of a directory user.
    [[nodiscard]] GdResult GetLineIDInfo(const char *extension, int namesWanted, LineNo lineNo,
                                         LineIDInfo *info);

    int Compat() const { return compat_; }
    CLIENT *OmegaClient() const { return omega_; }

private:
    // Tests reach the internal steps through resolver_testing.h.
    friend struct ResolverTesting;

    // Routes the extension on alpha into *info (route, user, group, route extra); 0, GDERR_RPC
    // or GDERR_FAILED.
    [[nodiscard]] GdResult ApplyRoute(const char *extension, LineNo lineNo, LineIDInfo *info);
    // Replaces the alpha or the omega client by a new one: 1, or 0 (the old client stays) when
    // none can be made or the client is neither of them.
    int ReconnectClient(CLIENT *client);
    // Reads the user's settings into *config. *readFailed (when given) is set when a property
    // could not be read because of the transport, so the record must not be cached.
    [[nodiscard]] GdResult GetLDAPQuery(UserInfo user, int namesWanted, LineNo lineNo, UserConfig *config,
                                        bool *readFailed = nullptr);
    [[nodiscard]] GdResult GetUserProp(const UserInfo *user, const char *key, LineNo lineNo, char *value,
                                       bool *transportFailed = nullptr);
    [[nodiscard]] GdResult OpenUserAlpha(const char *server);
    [[nodiscard]] GdResult LDAPBuildQuery(RouteEntry *entry, LineNo lineNo);
    [[nodiscard]] GdResult GetLDAPResult(LineIDInfo *info, RouteEntry *entry, int namesWanted, LineNo lineNo);

    // The steps of GetLineIDInfo for a routed user.
    [[nodiscard]] GdResult FindCachedRoute(const LineIDInfo *info, LineNo lineNo, RouteEntry **entry);
    [[nodiscard]] GdResult ReadUserSettings(const LineIDInfo *info, int namesWanted, LineNo lineNo,
                                            UserConfigPtr *settings, bool *readFailed);
    [[nodiscard]] GdResult CacheRoute(LineIDInfo *info, UserConfigPtr settings, LineNo lineNo,
                                      RouteEntry **entry);
    [[nodiscard]] GdResult LookUpDirectory(LineIDInfo *info, RouteEntry *entry, int namesWanted,
                                           LineNo lineNo);

    char alphaHost_[36];
    int compat_ = 0;
    char defaultLineId_[12];
    std::mutex routeLock_;
    CLIENT *alpha_ = nullptr;
    CLIENT *omega_ = nullptr;
    char userServer_[36];
    CLIENT *userAlpha_ = nullptr;
    std::mutex cacheLock_;
    RouteCache routeCache_;
    std::mutex ldapLock_;
    bool ldapDebug_ = false;  // the LDAP library's debug level was set when the resolver was made
};

// Takes the TSI out of a free-form text: the first "TSI", blanks, "=", blanks and a quoted value
// (backslash escapes; the closing quote may be missing). At most size - 1 characters are kept.
// 0, or GDERR_FAILED with an empty buffer when "=" or the opening quote is missing.
[[nodiscard]] GdResult ParseExtAttrTSI(const char *text, char *out, size_t size, LineNo lineNo);

// Builds a search filter from a template: every "%s" becomes the value escaped for an LDAP filter
// (RFC 4515: "*", "(", ")", "\" and NUL), "%%" becomes "%", any other "%" stays as it is. Never
// treats the template as a printf format. false when the filter does not fit size - 1 characters.
bool FormatLdapFilter(const char *templ, const char *value, char *out, size_t size);

// Lower case of an ISO-8859-15 text, in place.
void LowerIso885915(char *text);
