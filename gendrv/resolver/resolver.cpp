// The resolver: route application, route cache with user settings, directory lookup, and the
// one operation callers use, GetLineIDInfo.
#include "resolver/resolver.h"

#include <ldap.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "console/client.h"
#include "genldap/genldap.h"
#include "os/hostvars.h"
#include "os/textcopy.h"
#include "rpcrt/servers.h"
#include "xdr/fieldtext.h"
#include "xdr/wrappers.h"
#include "xdr/xdrresult.h"

namespace {

// The LDAP library's global debug level; the directory lookup's debug lines need it non-zero.
// Read once when the resolver is made (the program sets it before), so that threads never read
// the library's globals while a connection sets its options.
bool LdapDebugOn()
{
    int level = 0;
    ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
    return level != 0;
}

// The fields that both forms of a route answer carry, into the record.
template <typename Answer>
void CopyRoute(const Answer &a, LineIDInfo *info)
{
    TextCopy(info->user.userId, tela::FieldText(a.user));
    TextCopy(info->user.server, tela::FieldText(a.server));
    TextCopy(info->routeExtra, tela::FieldText(a.route_extra));
    info->routeExtraValue = a.route_extra_value;
    TextCopy(info->groupId, tela::FieldText(a.group));
}

int AtoiOr(const char *text, int fallback)
{
    if (text[0] == '\0')
        return fallback;
    int v = std::atoi(text);
    return v == 0 ? fallback : v;
}

}  // namespace

// ---- Object, start, route application ----------------------------------------------------------

Resolver::Resolver(const char *alphaHost, const char *defaultLineId)
{
    TextCopy(alphaHost_, alphaHost);
    TextCopy(defaultLineId_, defaultLineId);
    userServer_[0] = '\0';
    ldapDebug_ = LdapDebugOn();
}

Resolver::~Resolver()
{
    routeCache_.Clear();  // the entries go before the clients
    if (alpha_)
        DestroyClient(alpha_);
    if (omega_)
        DestroyClient(omega_);
    if (userAlpha_)
        DestroyClient(userAlpha_);
}

GdResult Resolver::ResolverInit()
{
    GdResult rc = 0;
    TraceScope scope("ResolverInit", LINE_NONE, &rc);
    std::lock_guard<std::mutex> guard(routeLock_);

    alpha_ = CreateAlphaClient(alphaHost_);
    if (!alpha_) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, CreateErrorText(alphaHost_));
        rc = GDERR_RPC;
        return rc;
    }
    tela::XdrResult compat(a_get_compat_1(nullptr, alpha_), xdr_compat_rec);
    if (!compat) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, ClientErrorText(alpha_, "a_get_compat"));
        rc = GDERR_RPC;
        return rc;
    }
    compat_ = compat->level;
    if (compat_ < COMPAT_ALPHA_ONLY) {
        GD_TRACE(TRACE_DEBUG, LINE_NONE, "old alpha compat=%d\n", compat_);
        const char *omegaHost = GetOmegaHost();
        omega_ = CreateOmegaClient(omegaHost);
        if (!omega_) {
            TraceRpcText(TRACE_ERROR, LINE_NONE, CreateErrorText(omegaHost));
            rc = GDERR_RPC;
        }
    }
    return rc;
}

int Resolver::ReconnectClient(CLIENT *client)
{
    const bool isAlpha = client == alpha_;
    if (!isAlpha && client != omega_)
        return 0;
    const char *host = isAlpha ? alphaHost_ : GetOmegaHost();
    CLIENT *fresh = isAlpha ? CreateAlphaClient(host) : CreateOmegaClient(host);
    if (!fresh) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, CreateErrorText(host));
        return 0;  // the old client stays
    }
    CLIENT *&slot = isAlpha ? alpha_ : omega_;
    DestroyClient(slot);
    slot = fresh;
    GD_TRACE(TRACE_DEBUG, LINE_NONE, isAlpha ? "alpha reconnected.\n" : "omega reconnected.\n");
    return 1;
}

GdResult Resolver::ApplyRoute(const char *extension, LineNo lineNo, LineIDInfo *info)
{
    std::lock_guard<std::mutex> guard(routeLock_);
    const char *lineId = (extension && extension[0]) ? extension : defaultLineId_;

    route_req req;
    std::memset(&req, 0, sizeof req);
    if (compat_ <= COMPAT_ROUTE_V0_LAST) {
        if (std::strlen(lineId) > 10) {
            GD_TRACE(TRACE_ERROR, lineNo, "a_apply_route_new(): unsupported long lineid %s (old server)\n",
                     lineId);
            return GDERR_RPC;
        }
        req.vers = 0;
        TextCopy(req.route_req_u.v0.line_id, lineId);
    } else if (compat_ <= COMPAT_ROUTE_V1_LAST) {
        req.vers = 1;
        TextCopy(req.route_req_u.v1.line_id, lineId);
    } else {
        req.vers = 2;
        TextCopy(req.route_req_u.v2.line_id, lineId);
        req.route_req_u.v2.full = 1;
    }
    // The line id as it is sent (cut to its field).
    char sent[21];
    TextCopy(sent, req.vers == 0   ? req.route_req_u.v0.line_id
                   : req.vers == 1 ? req.route_req_u.v1.line_id
                                   : req.route_req_u.v2.line_id);
    GD_TRACE(TRACE_DEBUG, lineNo, "a_apply_ron(%s)\n", sent);

    route_res res;
    std::memset(&res, 0, sizeof res);
    tela::XdrResult held(&res, xdr_route_res);

    GdResult call = a_apply_route_new_r1(alpha_, &req, &res);
    if (call != 0) {
        held.Clear();
        if (ReconnectClient(alpha_) == 1)
            call = a_apply_route_new_r1(alpha_, &req, &res);
        // Without a client there is no call error to show: the reconnection said why.
        if (call != 0 && alpha_) {
            TraceRpcText(TRACE_ERROR, lineNo, ClientErrorText(alpha_, "a_apply_route_new_r1"));
        }
    }
    // A full-form answer refused: the server cannot give the full form; ask for the short one.
    if (call == 0 && req.vers == 2 && res.vers == 1 && res.route_res_u.v1.ec == SERVER_FULL_FORM_REFUSED) {
        held.Clear();
        req.route_req_u.v2.full = 0;
        call = a_apply_route_new_r1(alpha_, &req, &res);
    }
    if (call != 0) {
        TraceRpcText(TRACE_ERROR, lineNo, clnt_spcreateerror("a_apply_ron"));
        return GDERR_RPC;
    }

    // The answer is read in the form it carries.
    const bool full = res.vers == 1;
    short ec = full ? res.route_res_u.v1.ec : res.route_res_u.v0.ec;
    if (ec == SERVER_NOT_FOUND) {
        held.Clear();
        res.vers = full ? 1 : 0;
        ec = 0;
    } else if (ec != SERVER_OK) {
        GD_TRACE(TRACE_ERROR, lineNo, "a_apply_route_new() returned EC_%hd\n", ec);
        return GDERR_FAILED;
    }

    TextCopy(info->lineId, extension ? extension : "");
    if (full) {
        CopyRoute(res.route_res_u.v1, info);
        TextCopy(info->routeId, tela::FieldText(res.route_res_u.v1.route_id));
    } else {
        CopyRoute(res.route_res_u.v0, info);
        // An answer that routes nothing has no route id either.
        if (info->user.userId[0] || info->user.server[0]) {
            std::snprintf(info->routeId, sizeof info->routeId, "%s@%s", info->user.userId, info->user.server);
        }
    }
    TextCopy(info->user.number, info->lineId);

    const bool group = info->groupId[0] != '\0';
    GD_TRACE(TRACE_DEBUG, lineNo, "a_apply_ron (%s): user %s@%s%s%s\n", info->user.number, info->user.userId,
             info->user.server, group ? ", group " : "", group ? info->groupId : "");
    info->userFound = info->user.userId[0] != '\0' && info->user.server[0] != '\0';
    info->isGroup = group;
    info->hasRouteExtra = info->routeExtra[0] != '\0' && info->routeExtraValue != 0;
    return 0;
}

// ---- User settings -----------------------------------------------------------------------------

GdResult Resolver::OpenUserAlpha(const char *server)
{
    if (userAlpha_ && std::strcmp(userServer_, server) == 0)
        return 0;
    if (userAlpha_)
        DestroyClient(userAlpha_);
    userAlpha_ = nullptr;
    userServer_[0] = '\0';
    userAlpha_ = CreateAlphaClient(server);
    if (!userAlpha_) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, CreateErrorText(server));
        return GDERR_RPC;
    }
    TextCopy(userServer_, server);
    return 0;
}

GdResult Resolver::GetUserProp(const UserInfo *user, const char *key, LineNo lineNo, char *value,
                               bool *transportFailed)
{
    if (!value) {
        GD_TRACE(TRACE_ERROR, lineNo, "GetUserProp: prop value is NULL\n");
        return GDERR_FAILED;
    }
    value[0] = '\0';
    GdResult rc = OpenUserAlpha(user->server);
    if (rc != 0) {
        GD_TRACE(TRACE_ERROR, lineNo, "OpenUserAlpha(%s) failed: %s\n", user->server, ErrorText(rc).Text());
        if (transportFailed)
            *transportFailed = true;
        return rc;
    }

    usrconf_new_req req;
    std::memset(&req, 0, sizeof req);
    req.vers = 1;
    tela::FieldSet(req.usrconf_new_req_u.v1.user, std::string_view(user->userId, strnlen(user->userId, 10)));
    tela::FieldSet(req.usrconf_new_req_u.v1.key, std::string_view(key, strnlen(key, 30)));
    usrconf_new_res res;
    std::memset(&res, 0, sizeof res);
    tela::XdrResult held(&res, xdr_usrconf_new_res);

    GdResult call = a_get_usrconf_new_r1(userAlpha_, &req, &res);
    if (call != 0) {
        held.Clear();
        userServer_[0] = '\0';
        GdResult reopened = OpenUserAlpha(user->server);
        if (reopened == 0)
            call = a_get_usrconf_new_r1(userAlpha_, &req, &res);
        if (call != 0) {
            // After a failed reconnection there is no client: its creation error was reported.
            if (reopened == 0) {
                TraceRpcText(TRACE_ERROR, lineNo, ClientErrorText(userAlpha_, "a_get_usrconf_new_r1"));
            }
            if (transportFailed)
                *transportFailed = true;
            return GDERR_RPC;
        }
    }
    rc = 0;
    if (res.ec == SERVER_OK) {
        TextCopy(value, 81, tela::FieldText(res.value));
    } else if (res.ec != SERVER_NOT_FOUND) {
        GD_TRACE(TRACE_ERROR, lineNo, "a_get_usrconf_new_1 : error EC_%d\n", res.ec);
        rc = GDERR_FAILED;
    }
    return rc;
}

namespace {

// Which users read a setting: directory users, those of them whose names are wanted, IMAP users.
enum SettingGroup { kDirectory, kNames, kImap };

// How the text of a setting's property becomes its field.
enum SettingKind {
    kText,       // copied, cut to the field; `text` when empty
    kNumber,     // atoi, so 0 when empty
    kNumberOr,   // atoi; `number` when empty or 0
    kPort,       // atoi; 636 for the scheme "ldaps" (any case), else 389, when empty or 0
    kNumberSet,  // atoi; `number` only when empty
};

// One field of the user's settings: its property key and the fallback keys read in turn while
// the value is still empty, and how the value fills the field (at `offset` in UserConfig).
struct SettingRead {
    const char *keys[3];
    SettingGroup group;
    SettingKind kind;
    size_t offset;
    size_t size;       // of a text field
    const char *text;  // default of a text field, or nullptr
    int number;        // default of a number
};

#define TEXT_FIELD(name) offsetof(UserConfig, name), sizeof(UserConfig::name)
#define NUMBER_FIELD(name) offsetof(UserConfig, name), sizeof(int)

// In the order of the reads on the wire.
const SettingRead kSettingReads[] = {
    {{"GD_LDH", "SG_LDH"}, kDirectory, kText, TEXT_FIELD(ldapHost), "localhost", 0},
    {{"GD_LDDL"}, kDirectory, kNumber, NUMBER_FIELD(ldapDebug), nullptr, 0},
    {{"GD_LDTYPE", "SG_LDTYPE"}, kDirectory, kText, TEXT_FIELD(scheme), "ldap", 0},
    {{"GD_LDCERT", "SG_LDCERT"}, kDirectory, kText, TEXT_FIELD(caCert), nullptr, 0},
    {{"GD_LDPRT", "SG_LDP"}, kDirectory, kPort, NUMBER_FIELD(port), nullptr, 0},
    {{"GD_LDTO", "SG_LDTO"}, kDirectory, kNumberOr, NUMBER_FIELD(timeout), nullptr, 10},
    {{"GD_LDU", "SG_LDBNAM"}, kDirectory, kText, TEXT_FIELD(bindDn), nullptr, 0},
    {{"GD_LDP", "SG_LDBPWD"}, kDirectory, kText, TEXT_FIELD(bindPassword), nullptr, 0},
    {{"GD_LDBAS", "SG_LDMBB", "SG_LDUDB"}, kDirectory, kText, TEXT_FIELD(searchBase), nullptr, 0},
    {{"GD_LDFIL"}, kDirectory, kText, TEXT_FIELD(filterTemplate), "facsimileTelephoneNumber=%s", 0},
    {{"GD_LDLNG"}, kNames, kText, TEXT_FIELD(languageAttr), nullptr, 0},
    {{"GD_LDAGN"}, kNames, kText, TEXT_FIELD(givenNameAttr), "givenName", 0},
    {{"GD_LDASN"}, kNames, kText, TEXT_FIELD(surnameAttr), "sn", 0},
    {{"GD_LDATS"}, kDirectory, kText, TEXT_FIELD(tsiAttr), nullptr, 0},
    {{"GD_LDAED"}, kDirectory, kText, TEXT_FIELD(extAttr), nullptr, 0},
    {{"GD_LDR2T"}, kDirectory, kNumberSet, NUMBER_FIELD(ldr2t), nullptr, 1},
    {{"GD_IMH"}, kImap, kText, TEXT_FIELD(imapHost), "localhost", 0},
    {{"GD_IMS"}, kImap, kText, TEXT_FIELD(imapSendFolder), nullptr, 0},
    {{"GD_IMD"}, kImap, kText, TEXT_FIELD(imapDeletedFolder), nullptr, 0},
    {{"GD_SMH"}, kImap, kText, TEXT_FIELD(smtpHost), nullptr, 0},
    {{"GD_LDAIU"}, kImap, kText, TEXT_FIELD(imapUserAttr), "uid", 0},
    {{"SG_MYDOM"}, kImap, kText, TEXT_FIELD(smtpDomain), nullptr, 0},
};

#undef TEXT_FIELD
#undef NUMBER_FIELD

}  // namespace

GdResult Resolver::GetLDAPQuery(UserInfo user, int namesWanted, LineNo lineNo, UserConfig *c,
                                bool *readFailed)
{
    std::lock_guard<std::mutex> guard(routeLock_);
    if (!c) {
        GD_TRACE(TRACE_ERROR, lineNo, "GetLDAPQuery: result pointer is NULL\n");
        return GDERR_FAILED;
    }
    std::memset(c, 0, sizeof *c);
    if (user.userId[0] == '\0' || user.server[0] == '\0') {
        GD_TRACE(TRACE_ERROR, lineNo, "GetLDAPQuery: no user.\n");
        return GDERR_FAILED;
    }
    bool failed = false;
    // A property that cannot be read counts as not set.
    auto read = [&](const char *key, char *out, size_t size) {
        char v[81];
        (void)GetUserProp(&user, key, lineNo, v, &failed);  // empty on a failure, which it traced
        TextCopy(out, size, v);
    };
    char scratch[81];

    read("GD_ACPTALL", c->acceptAll, sizeof c->acceptAll);
    read("GD_IMU", scratch, sizeof scratch);
    const bool imap = scratch[0] != '\0';
    bool directory = imap;
    if (!imap) {
        read("SG_LDE", scratch, sizeof scratch);
        directory = scratch[0] != '\0' && std::atoi(scratch) > 0;
    }
    if (!directory)
        GD_TRACE(TRACE_DEBUG, lineNo, "GD_IMU or SG_LDE not defined, no IMAP or LDAP!\n");

    char *const record = reinterpret_cast<char *>(c);
    for (const SettingRead &s : kSettingReads) {
        const bool wanted = s.group == kImap    ? imap
                            : s.group == kNames ? directory && namesWanted
                                                : directory;
        if (!wanted)
            continue;
        const bool text = s.kind == kText;
        char *out = text ? record + s.offset : scratch;
        const size_t size = text ? s.size : sizeof scratch;
        for (size_t k = 0; k < sizeof s.keys / sizeof s.keys[0] && s.keys[k]; ++k) {
            if (k == 0 || out[0] == '\0')
                read(s.keys[k], out, size);
        }
        int *number = reinterpret_cast<int *>(record + s.offset);
        switch (s.kind) {
        case kText:
            if (out[0] == '\0' && s.text)
                TextCopy(out, size, s.text);
            break;
        case kNumber:
            *number = std::atoi(scratch);
            break;
        case kNumberOr:
            *number = AtoiOr(scratch, s.number);
            break;
        case kPort:
            *number = AtoiOr(scratch, strcasecmp(c->scheme, "ldaps") == 0 ? 636 : 389);
            break;
        case kNumberSet:
            *number = scratch[0] ? std::atoi(scratch) : s.number;
            break;
        }
    }
    if (readFailed)
        *readFailed = failed;
    return 0;
}

// ---- Directory lookup --------------------------------------------------------------------------

GdResult Resolver::LDAPBuildQuery(RouteEntry *entry, LineNo lineNo)
{
    const UserConfig *c = entry->settings.get();
    LdapQuery *q = entry->query.get();
    const bool debug = ldapDebug_;
    GdResult rc = q->LDAPSetSearchRoot(c->searchBase, lineNo);
    if (rc != 0)
        return rc;
    if (debug)
        GD_TRACE(TRACE_DEBUG, lineNo, "resolver: search base = %s\n", c->searchBase);
    rc = q->LDAPSetSearchMode(2, lineNo);
    if (rc != 0)
        return rc;
    if (debug) {
        GD_TRACE(TRACE_DEBUG, lineNo, "resolver: search scope = %d\n", 2);
        GD_TRACE(TRACE_DEBUG, lineNo, "resolver: ldap-attributes=\n");
    }
    const char *attrs[] = {c->surnameAttr,  c->givenNameAttr, c->imapUserAttr,
                           c->languageAttr, c->tsiAttr,       c->extAttr};
    for (const char *attr : attrs) {
        rc = q->LDAPAddField(attr, lineNo);
        if (rc != 0)
            return rc;
        if (debug && attr[0])
            GD_TRACE(TRACE_DEBUG, lineNo, "\t%s\n", attr);
    }
    return 0;
}

GdResult Resolver::GetLDAPResult(LineIDInfo *info, RouteEntry *entry, int /*namesWanted*/, LineNo lineNo)
{
    std::lock_guard<std::mutex> guard(ldapLock_);
    const UserConfig *c = entry->settings.get();
    LdapQuery *q = entry->query.get();
    const bool debug = ldapDebug_;

    GdResult rc = q->LDAPOpenServer(lineNo);
    if (rc != 0) {
        GD_TRACE(TRACE_ERROR, lineNo, "LDAP Open %s:%d %s *** failed\n", c->ldapHost, c->port, c->bindDn);
        return rc;
    }
    char filter[1024];
    if (!FormatLdapFilter(c->filterTemplate, info->lineId, filter, sizeof filter)) {
        GD_TRACE(TRACE_ERROR, lineNo, "GetLDAPResult: filter too long\n");
        return GDERR_FAILED;
    }
    rc = q->LDAPSetFilter(filter, lineNo);
    if (rc != 0)
        return rc;
    rc = q->LDAPExecute(lineNo);
    if (rc != 0)
        return rc;
    int count = 0;
    rc = q->LDAPGetResultCount(&count, lineNo);
    if (rc != 0 || count == 0) {
        GD_TRACE(TRACE_DEBUG, lineNo, "LDAP: Base %s Filter %s : no matching entry found\n", c->searchBase,
                 filter);
        info->userFound = 0;
        return rc;
    }
    info->userFound = 1;

    auto readAttr = [&](const char *attr, char *out, int size) {
        GdResult r = q->LDAPGetResultField(attr, out, size, lineNo, 1);
        if (debug)
            GD_TRACE(TRACE_DEBUG, lineNo, "%s = %s\n", attr, out);
        return r;
    };
    char value[64];
    if (c->languageAttr[0]) {
        info->languageByLdap = 1;
        value[0] = '\0';
        if (q->LDAPGetResultField(c->languageAttr, value, sizeof value, lineNo, 1) != 0) {
            GD_TRACE(TRACE_ERROR, lineNo, "GetLDAPResult: Language not found\n");
        }
        TextCopy(info->language, value);
        LowerIso885915(info->language);
        if (debug)
            GD_TRACE(TRACE_DEBUG, lineNo, "%s = %s\n", c->languageAttr, value);
        GD_TRACE(TRACE_DEBUG, lineNo, "Language set to '%s'\n", info->language);
    }
    char surname[64] = "", given[64] = "";
    readAttr(c->surnameAttr, surname, sizeof surname);
    readAttr(c->givenNameAttr, given, sizeof given);
    std::snprintf(info->user.name, sizeof info->user.name, "%s %s", given, surname);
    if (c->tsiAttr[0]) {
        info->tsi[0] = '\0';
        readAttr(c->tsiAttr, info->tsi, sizeof info->tsi);
        GD_TRACE(TRACE_DEBUG, lineNo, "TSI(%s): %s\n", c->tsiAttr, info->tsi);
    }
    if (c->extAttr[0]) {
        char ext[1024] = "";
        readAttr(c->extAttr, ext, sizeof ext);
        (void)ParseExtAttrTSI(ext, info->tsi, sizeof info->tsi, lineNo);  // no TSI in it: empty
        GD_TRACE(TRACE_DEBUG, lineNo, "TSI(%s) %s\n", c->extAttr, info->tsi);
    }
    if (info->imapUser) {
        value[0] = '\0';
        readAttr(c->imapUserAttr, value, sizeof value);
        TextCopy(info->imapUserName, value);
    }
    return 0;
}

// ---- Route cache -------------------------------------------------------------------------------

RouteEntry::~RouteEntry() = default;

RouteCache::~RouteCache()
{
    Clear();
}

RouteEntry *RouteCache::Find(const char *routeId, const char *userId, const char *server) const
{
    for (RouteEntry *e = head_.get(); e; e = e->next.get()) {
        // A route id that serves several users must not hand one user's settings to another.
        if (std::strcmp(e->routeId, routeId) == 0 && std::strcmp(e->userId, userId) == 0 &&
            std::strcmp(e->server, server) == 0) {
            return e;
        }
    }
    return nullptr;
}

RouteEntry *RouteCache::Adopt(std::unique_ptr<RouteEntry> *fresh)
{
    RouteEntry *cached = Find((*fresh)->routeId, (*fresh)->userId, (*fresh)->server);
    if (cached)
        return cached;
    std::unique_ptr<RouteEntry> *tail = &head_;
    while (*tail)
        tail = &(*tail)->next;
    *tail = std::move(*fresh);
    return tail->get();
}

void RouteCache::Clear()
{
    // One entry at a time, so that a long list is not freed by recursion.
    while (head_)
        head_ = std::move(head_->next);
}

// ---- Resolving one extension -------------------------------------------------------------------

namespace {

// The query object of a directory user's settings.
std::unique_ptr<LdapQuery> MakeQuery(const UserConfig &c)
{
    return std::make_unique<LdapQuery>(c.ldapHost, c.scheme, c.port, c.caCert, c.bindDn, c.bindPassword,
                                       c.timeout, c.ldapDebug);
}

// Copies what the user's settings say about the line into the record.
void ApplySettings(const UserConfig &c, LineIDInfo *info)
{
    info->acceptAll = c.acceptAll[0] != '\0' && std::strcmp(c.acceptAll, "0") != 0;
    info->languageByLdap = c.languageAttr[0] != '\0';
    if (c.imapHost[0]) {
        info->imapUser = 1;
        TextCopy(info->imapSendFolder, c.imapSendFolder);
        TextCopy(info->imapDeletedFolder, c.imapDeletedFolder);
        TextCopy(info->imapHost, c.imapHost);
        TextCopy(info->smtpHost, c.smtpHost);
        TextCopy(info->smtpDomain, c.smtpDomain);
    }
}

}  // namespace

// The route's entry in the cache into *entry (nullptr when there is none); GDERR_FAILED for an
// entry that lacks its settings or its query object.
GdResult Resolver::FindCachedRoute(const LineIDInfo *info, LineNo lineNo, RouteEntry **entry)
{
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        *entry = routeCache_.Find(info->routeId, info->user.userId, info->user.server);
    }
    if (!*entry)
        return 0;
    GD_TRACE(TRACE_DEBUG, lineNo, "GetLineIDInfo: routeid %s found\n", info->routeId);
    if (!(*entry)->settings || !(*entry)->query) {
        GD_TRACE(TRACE_ERROR, lineNo, "GetLineIDInfo: internal error\n");
        return GDERR_FAILED;
    }
    return 0;
}

// A cleared settings record filled from the routed user's properties into *settings.
GdResult Resolver::ReadUserSettings(const LineIDInfo *info, int namesWanted, LineNo lineNo,
                                    UserConfigPtr *settings, bool *readFailed)
{
    settings->reset(static_cast<UserConfig *>(std::calloc(1, sizeof(UserConfig))));
    if (!*settings) {
        GdResult rc = GdLastSystemError();
        GD_TRACE(TRACE_ERROR, lineNo, "GetLineIDInfo: calloc() failed: %s\n", ErrorText(rc).Text());
        return rc;
    }
    GdResult rc = GetLDAPQuery(info->user, namesWanted, lineNo, settings->get(), readFailed);
    if (rc != 0) {
        GD_TRACE(TRACE_ERROR, lineNo, "GetLiniIDInfo:  GetUserParams failed, 0x%x\n", rc);
        settings->reset();
    }
    return rc;
}

// Makes the route's cache entry from the settings with a prepared query object, outside every
// lock, and puts it into the cache, or takes the entry that another thread cached meanwhile.
// *entry is the cached entry; a failure frees the new entry with the settings (a query that
// cannot be built marks the record's directory lookup as failed).
GdResult Resolver::CacheRoute(LineIDInfo *info, UserConfigPtr settings, LineNo lineNo, RouteEntry **entry)
{
    std::unique_ptr<RouteEntry> fresh(new (std::nothrow) RouteEntry());
    if (!fresh) {
        GdResult rc = GdLastSystemError();
        GD_TRACE(TRACE_ERROR, lineNo, "GetLineIDInfo: calloc() failed: %s\n", ErrorText(rc).Text());
        return rc;
    }
    TextCopy(fresh->routeId, info->routeId);
    TextCopy(fresh->userId, info->user.userId);
    TextCopy(fresh->server, info->user.server);
    GD_TRACE(TRACE_DEBUG, lineNo, "GetLineIDInfo: new routeid %s\n", info->routeId);
    fresh->settings = std::move(settings);
    fresh->query = MakeQuery(*fresh->settings);
    GdResult rc = LDAPBuildQuery(fresh.get(), lineNo);
    if (rc != 0) {
        info->ldapFailed = 1;
        GD_TRACE(TRACE_ERROR, lineNo, "GetLineIDInfo: LDAPBuildQuery() failed: 0x%x\n", rc);
        return rc;
    }
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        *entry = routeCache_.Adopt(&fresh);
    }
    return 0;  // an entry that another thread cached first is freed here, outside the lock
}

// The directory lookup of a user whose settings name an LDAP host: with the cached entry's
// query, or, for an entry of this request only (which has no query yet), with a query made and
// closed for this request.
GdResult Resolver::LookUpDirectory(LineIDInfo *info, RouteEntry *entry, int namesWanted, LineNo lineNo)
{
    if (entry->settings->ldr2t == 0)
        info->userFound = 0;
    GdResult rc = 0;
    if (entry->query) {
        rc = GetLDAPResult(info, entry, namesWanted, lineNo);
    } else {
        entry->query = MakeQuery(*entry->settings);
        rc = LDAPBuildQuery(entry, lineNo);
        if (rc != 0) {
            info->ldapFailed = 1;
            GD_TRACE(TRACE_ERROR, lineNo, "GetLineIDInfo: LDAPBuildQuery() failed: 0x%x\n", rc);
            entry->query.reset();
            return rc;
        }
        rc = GetLDAPResult(info, entry, namesWanted, lineNo);
        // Its session is closed like every other LDAP use: one at a time.
        std::lock_guard<std::mutex> guard(ldapLock_);
        entry->query.reset();
    }
    if (rc != 0) {
        info->ldapFailed = 1;
        GD_TRACE(TRACE_ERROR, lineNo, "GetLineIDInfo: GetLDAPResult() failed: 0x%x\n", rc);
    }
    return rc;
}

GdResult Resolver::GetLineIDInfo(const char *extension, int namesWanted, LineNo lineNo, LineIDInfo *info)
{
    GdResult rc = 0;
    TraceScope scope("GetLineIDInfo", LINE_NONE, &rc);
    std::memset(info, 0, sizeof *info);

    rc = ApplyRoute(extension, lineNo, info);
    if (rc != 0) {
        GD_TRACE(TRACE_ERROR, lineNo, "GetLineIDInfo: ApplyRoute failed 0x%x\n", rc);
        return rc;
    }
    if (!info->userFound)
        return rc;

    RouteEntry *entry = nullptr;
    rc = FindCachedRoute(info, lineNo, &entry);
    if (rc != 0)
        return rc;
    // Settings of a user without the directory, or read while the server failed, serve this
    // request only.
    RouteEntry once;
    if (!entry) {
        bool readFailed = false;
        rc = ReadUserSettings(info, namesWanted, lineNo, &once.settings, &readFailed);
        if (rc != 0)
            return rc;
        if (once.settings->ldapHost[0] && !readFailed) {
            rc = CacheRoute(info, std::move(once.settings), lineNo, &entry);
            if (rc != 0)
                return rc;
        } else {
            TextCopy(once.routeId, info->routeId);
            entry = &once;
        }
    }

    ApplySettings(*entry->settings, info);
    if (entry->settings->ldapHost[0])
        rc = LookUpDirectory(info, entry, namesWanted, lineNo);
    return rc;
}

// ---- Helpers -----------------------------------------------------------------------------------

GdResult ParseExtAttrTSI(const char *text, char *out, size_t size, LineNo lineNo)
{
    if (!out || size == 0)
        return GDERR_FAILED;
    out[0] = '\0';
    const char *p = text ? std::strstr(text, "TSI") : nullptr;
    if (!p)
        return 0;
    p += 3;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f' || *p == '\v')
        ++p;
    if (*p != '=') {
        GD_TRACE(TRACE_ERROR, lineNo, "ParseExtAttrTSI: = expected.\n");
        return GDERR_FAILED;
    }
    ++p;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f' || *p == '\v')
        ++p;
    if (*p != '"') {
        GD_TRACE(TRACE_ERROR, lineNo, "ParseExtAttrTSI: \" expected.\n");
        return GDERR_FAILED;
    }
    ++p;
    size_t n = 0;
    while (*p && *p != '"') {
        if (*p == '\\') {
            ++p;
            if (!*p)
                break;  // a backslash at the very end is dropped
        }
        if (n + 1 < size)
            out[n++] = *p;
        ++p;
    }
    out[n] = '\0';
    return 0;
}

bool FormatLdapFilter(const char *templ, const char *value, char *out, size_t size)
{
    if (!out || size == 0)
        return false;
    size_t n = 0;
    auto put = [&](char ch) {
        if (n + 1 >= size)
            return false;
        out[n++] = ch;
        return true;
    };
    auto putEscaped = [&](unsigned char ch) {
        static const char hex[] = "0123456789abcdef";
        return put('\\') && put(hex[ch >> 4]) && put(hex[ch & 15]);
    };
    for (const char *t = templ ? templ : ""; *t; ++t) {
        bool ok = true;
        if (t[0] == '%' && t[1] == 's') {
            for (const unsigned char *v = reinterpret_cast<const unsigned char *>(value ? value : "");
                 *v && ok; ++v) {
                ok = (*v == '*' || *v == '(' || *v == ')' || *v == '\\') ? putEscaped(*v)
                                                                         : put(static_cast<char>(*v));
            }
            ++t;
        } else if (t[0] == '%' && t[1] == '%') {
            ok = put('%');
            ++t;
        } else {
            ok = put(*t);
        }
        if (!ok) {
            out[n] = '\0';
            return false;
        }
    }
    out[n] = '\0';
    return true;
}

void LowerIso885915(char *text)
{
    for (unsigned char *p = reinterpret_cast<unsigned char *>(text); *p; ++p) {
        unsigned char ch = *p;
        if (ch >= 'A' && ch <= 'Z')
            *p = static_cast<unsigned char>(ch + 32);
        else if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7)
            *p = static_cast<unsigned char>(ch + 32);
        else if (ch == 0xA6)
            *p = 0xA8;  // S caron
        else if (ch == 0xB4)
            *p = 0xB8;  // Z caron
        else if (ch == 0xBC)
            *p = 0xBD;  // ligature OE
        else if (ch == 0xBE)
            *p = 0xFF;  // Y diaeresis
    }
}
