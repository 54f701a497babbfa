// Client API: group and user names, greeting pages and user properties.
#include "apicln/tela.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "console/client.h"
#include "os/textcopy.h"
#include "rpcrt/servers.h"
#include "xdr/alpha.h"
#include "xdr/fieldtext.h"
#include "xdr/omega.h"
#include "xdr/xdrresult.h"

namespace {

CLIENT *alphaClient = nullptr;
CLIENT *omegaClient = nullptr;
CLIENT *userClient = nullptr;
char connectedServer[36] = "";

// Key of a property: the user id in its first 10 characters, the property name behind it.
constexpr size_t kUserLen = 10;
constexpr size_t kNameLen = 30;
constexpr size_t kValueLen = 80;  // characters of a property value

struct PropKey {
    char text[kUserLen + kNameLen + 1];
};

PropKey MakeKey(const char *userId, const char *name)
{
    PropKey k;
    std::memset(&k, 0, sizeof k);
    TextCopyPadded(k.text, kUserLen, userId);
    TextCopyPadded(k.text + kUserLen, kNameLen, name);
    return k;
}

}  // namespace

void TelaSetServerClients(CLIENT *alpha, CLIENT *omega)
{
    alphaClient = alpha;
    omegaClient = omega;
}

GdResult OpenUserAlpha(const char *server)
{
    GdResult rc = 0;
    TraceScope scope("OpenUserAlpha", LINE_NONE, &rc);
    if (userClient && std::strcmp(connectedServer, server) == 0)
        return rc;
    if (userClient)
        DestroyClient(userClient);
    userClient = nullptr;
    connectedServer[0] = '\0';
    userClient = CreateAlphaClient(server);
    if (!userClient) {
        rc = GDERR_RPC;
        TraceRpcText(TRACE_ERROR, LINE_NONE, clnt_spcreateerror(server));
        return rc;
    }
    TextCopy(connectedServer, server);
    return rc;
}

GdResult get_prop(const char *server, const char *key, char *value)
{
    GdResult rc = 0;
    TraceScope scope("get_prop", LINE_NONE, &rc);
    rc = OpenUserAlpha(server);
    if (rc != 0) {
        GD_TRACE(TRACE_ERROR, LINE_NONE, "OpenUserAlpha(%s) failed: %s\n", server, ErrorText(rc).Text());
        return rc;
    }
    usrconf_new_req req;
    std::memset(&req, 0, sizeof req);
    req.vers = 1;
    TextCopyPadded(req.usrconf_new_req_u.v1.user, kUserLen, key);
    TextCopyPadded(req.usrconf_new_req_u.v1.key, kNameLen, key + kUserLen);
    tela::XdrResult res(a_get_usrconf_new_1(&req, userClient), xdr_usrconf_new_res);
    if (!res) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, clnt_sperror(userClient, "a_get_usrconf_new_1"));
        rc = GDERR_FAILED;
        return rc;
    }
    if (res->ec == SERVER_OK) {
        TextCopy(value, kValueLen + 1, tela::FieldText(res->value));
    } else if (res->ec == SERVER_NOT_FOUND) {
        value[0] = '\0';
    } else {
        GD_TRACE(TRACE_ERROR, LINE_NONE, "a_get_usrconf_new_1 : error EC_%d", res->ec);
        rc = GDERR_FAILED;
    }
    return rc;
}

GdResult TelaGetUserProperty2(const UserInfo *user, const char *name, char *value)
{
    GdResult rc = 0;
    TraceScope scope("TelaGetUserProperty2", LINE_NONE, &rc);
    if (user->userId[0] == '\0') {
        GD_TRACE(TRACE_ERROR, LINE_NONE, "not a valid User\n");
        rc = GDERR_FAILED;
        return rc;
    }
    PropKey key = MakeKey(user->userId, name);
    rc = get_prop(user->server, key.text, value);
    return rc;
}

GdResult GetDEVEdaID(const UserInfo *user, const char *name, int video, int32_t *pageId)
{
    GdResult rc = 0;
    TraceScope scope("GetDEVEdaID", LINE_NONE, &rc);
    *pageId = -1;
    PropKey key = MakeKey(user->userId, name);
    char value[81] = "";
    rc = get_prop(user->server, key.text, value);
    if (rc != 0)
        return rc;
    if (value[0] == '\0')
        return rc;
    *pageId = std::atoi(value);

    pageb_req req;
    std::memset(&req, 0, sizeof req);
    TextCopyPadded(req.user, kUserLen, user->userId);
    req.kind = 2;
    req.job = *pageId;
    req.page = 1;
    req.variant = video ? 15 : 14;
    req.offset = 0;
    req.max_bytes = 0;
    tela::XdrResult res(a_get_pageb_1(&req, userClient), xdr_pageb_res);
    if (!res) {
        rc = GDERR_RPC;
        TraceRpcText(TRACE_ERROR, LINE_NONE, clnt_sperror(userClient, "a_get_pageb_1"));
        return rc;
    }
    if (!res->found)
        *pageId = -1;
    return rc;
}

namespace {

// A page property's name into its own buffer: the letter and the extension for IMAP users,
// else the fixed name.
const char *PagePropName(char (&buf)[21], const LineIDInfo *info, const char *letter, const char *fixed)
{
    if (info->imapUser) {
        std::snprintf(buf, sizeof buf, "%s%.19s", letter, info->lineId);
    } else {
        std::snprintf(buf, sizeof buf, "%s", fixed);
    }
    return buf;
}

}  // namespace

const char *GetGreetingPropName(const LineIDInfo *info, int video)
{
    static char greeting[21];
    static char videoGreeting[21];
    return video ? PagePropName(videoGreeting, info, "A", "VGREETING")
                 : PagePropName(greeting, info, "a", "GREETING");
}

const char *GetGoodbyePropName(const LineIDInfo *info, int video)
{
    static char goodbye[21];
    static char videoGoodbye[21];
    return video ? PagePropName(videoGoodbye, info, "B", "VGOODBYE")
                 : PagePropName(goodbye, info, "b", "GOODBYE");
}

namespace {

// The group's name from omega (with an omega client) or alpha into the record; the answer stays
// in `group`.
GdResult ReadGroupName(LineIDInfo *info, tela::XdrResult<group_rec> &group)
{
    char groupId[11];
    std::memset(groupId, 0, sizeof groupId);
    TextCopyPadded(groupId, 10, info->groupId);
    bool fromOmega = omegaClient != nullptr;
    group.Call([&] {
        return fromOmega ? o_get_group_1(groupId, omegaClient) : a_get_o_group_1(groupId, alphaClient);
    });
    if (!group) {
        TraceRpcText(TRACE_ERROR, LINE_NONE,
                     fromOmega ? clnt_sperror(omegaClient, "o_get_group_1")
                               : clnt_sperror(alphaClient, "a_get_o_group_1"));
        return GDERR_RPC;
    }
    TextCopy(info->groupName, tela::FieldText(group->name));
    return 0;
}

// The user's name from alpha into the record; the answer stays in `user`.
GdResult ReadUserName(LineIDInfo *info, tela::XdrResult<a_user_rec> &user)
{
    user_key key;
    std::memset(&key, 0, sizeof key);
    TextCopyPadded(key.server, sizeof key.server - 1, info->user.server);
    TextCopyPadded(key.user, sizeof key.user - 1, info->user.userId);
    user.Call([&] { return a_get_o_user_1(&key, alphaClient); });
    if (!user) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, clnt_sperror(alphaClient, "a_get_o_user_1"));
        return GDERR_RPC;
    }
    TextCopy(info->user.name, tela::FieldText(user->rec.name));
    return 0;
}

// Which of the four greeting and goodbye pages the user has, in this order; the first failure
// ends the chain and leaves the flags behind it as they are.
GdResult ReadPageFlags(LineIDInfo *info)
{
    struct Step {
        const char *name;
        int video;
        int *flag;
    };
    const Step steps[] = {
        {GetGreetingPropName(info, 0), 0, &info->hasGreeting},
        {GetGoodbyePropName(info, 0), 0, &info->hasGoodbye},
        {GetGreetingPropName(info, 1), 1, &info->hasVideoGreeting},
        {GetGoodbyePropName(info, 1), 1, &info->hasVideoGoodbye},
    };
    for (const Step &step : steps) {
        int32_t pageId = -1;
        GdResult rc = GetDEVEdaID(&info->user, step.name, step.video, &pageId);
        if (rc != 0) {
            GD_TRACE(TRACE_ERROR, LINE_NONE, "GetDEVEdaID() failed: %s\n", ErrorText(rc).Text());
            return rc;
        }
        *step.flag = pageId != -1;
    }
    return 0;
}

// The steps behind the route: the group's name, then (when wanted) the user's name and pages.
// `rc` is the route's result: the names leave it as it is when they are read, a failure and
// the page steps replace it.
GdResult ReadExtensionData(int namesWanted, LineIDInfo *info, tela::XdrResult<group_rec> &group,
                           tela::XdrResult<a_user_rec> &user, GdResult rc)
{
    GdResult failed = info->isGroup ? ReadGroupName(info, group) : 0;
    if (failed != 0)
        return failed;
    if (!namesWanted || !info->userFound)
        return rc;
    failed = info->user.name[0] == '\0' ? ReadUserName(info, user) : 0;
    if (failed != 0)
        return failed;
    return ReadPageFlags(info);
}

}  // namespace

GdResult TelaGetExtensionData(const char *extension, int namesWanted, LineIDInfo *info)
{
    GdResult rc = 0;
    TraceScope scope("TelaGetExtensionData", LINE_NONE, &rc);
    rc = GetLineIDInfo(extension, info);
    // Both answers are read until the end: released on every way out.
    tela::XdrResult<a_user_rec> user(nullptr, xdr_a_user_rec);
    tela::XdrResult<group_rec> group(nullptr, xdr_group_rec);
    rc = ReadExtensionData(namesWanted, info, group, user, rc);
    return rc;
}
