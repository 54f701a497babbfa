#include "mailtrack/ohandles.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "mailtrack/otools.h"
#include "os/hostvars.h"
#include "os/textcopy.h"
#include "rpcrt/servers.h"
#include "trace/timetext.h"
#include "xdr/xdrresult.h"

namespace {

// Status numbers of the wrappers.
constexpr int kNoOmega = 1;
constexpr int kNoAlpha = 2;
constexpr int kNoAnswer = 22;
constexpr int kBadArgument = 24;
constexpr int kNotFound = SERVER_NOT_FOUND;  // the servers' own number for it
constexpr int kOtherVersion = 32;
constexpr int kRefused = 34;

CLIENT *g_alpha = nullptr;
CLIENT *g_omega = nullptr;

CLIENT *CreateClient(const char *host, tela::ServerProgram program)
{
    return tela::CreateServerClient(host, program, GetRpcTransport(), tela::kGatewayRetryPauseMs);
}

// Destroys a client and clears the module variable when it held that client, so that the
// module never hands out a destroyed client.
int DestroyOne(CLIENT *client, CLIENT *&module, int none)
{
    if (client == nullptr) {
        if (module == nullptr)
            return none;
        client = module;
    }
    if (client == module)
        module = nullptr;
    CLNT_DESTROY(client);
    return 0;
}

// The common road of a wrapper: make sure of a client, call the stub, evaluate the answer and
// free it. No answer forgets the client (when it is the module client) and gives 22.
template <class Res, class Arg, class Eval>
int Wrap(CLIENT *client, Res *(*stub)(Arg *, CLIENT *), tela::XdrRoutine<Res> resXdr, Arg *arg, Eval eval)
{
    int rc = omega_ensure(&client);
    if (rc != 0)
        return rc;
    tela::XdrResult res(stub(arg, client), resXdr);
    if (!res) {
        omega_forget(client);
        return kNoAnswer;
    }
    return eval(*res);
}

int RefusedIfFalse(const bool_t &answer)
{
    return answer ? 0 : kRefused;
}
int Status(const short &answer)
{
    return answer;
}

}  // namespace

// ---- client handles -----------------------------------------------------------------------

int alpha_create(CLIENT **slot, const char *host)
{
    CLIENT *client;
    if (host != nullptr && *host != '\0') {
        if (slot == nullptr)
            return kBadArgument;
        client = CreateClient(host, tela::ServerProgram::Alpha);
    } else {
        client = CreateClient(GetAlphaHost(), tela::ServerProgram::Alpha);
    }
    if (client == nullptr)
        return kNoAlpha;
    (slot != nullptr ? *slot : g_alpha) = client;
    return 0;
}

int alpha_destroy(CLIENT *client)
{
    return DestroyOne(client, g_alpha, kNoAlpha);
}

int alpha_get(CLIENT **slot)
{
    if (slot == nullptr)
        return kBadArgument;
    if (*slot != nullptr)
        return 0;
    int rc = g_alpha == nullptr ? alpha_create(nullptr, nullptr) : 0;
    *slot = g_alpha;
    return rc;
}

void alpha_forget(CLIENT *client)
{
    if (client == g_alpha)
        g_alpha = nullptr;
}

int omega_create(CLIENT **slot, const char *host)
{
    CLIENT *client =
        CreateClient(host != nullptr && *host != '\0' ? host : GetOmegaHost(), tela::ServerProgram::Omega);
    (slot != nullptr ? *slot : g_omega) = client;
    return client == nullptr ? kNoOmega : 0;
}

int omega_destroy(CLIENT *client)
{
    return DestroyOne(client, g_omega, kNoOmega);
}

int omega_ensure(CLIENT **slot)
{
    if (slot == nullptr)
        return kBadArgument;
    if (*slot != nullptr)
        return 0;
    int rc = g_omega == nullptr ? omega_create(nullptr, "") : 0;
    *slot = g_omega;
    return rc;
}

void omega_forget(CLIENT *client)
{
    if (client == g_omega)
        g_omega = nullptr;
}

// ---- routes and compatibility -------------------------------------------------------------

int o_apply_route_new(CLIENT *client, const char *lineId, const char *number, char *server, char *user,
                      char *group)
{
    route_req arg{};
    arg.vers = 0;
    TextCopy(arg.route_req_u.v0.line_id, lineId);
    TextCopy(arg.route_req_u.v0.aux_id, number);
    return Wrap(client, o_apply_route_new_1, xdr_route_res, &arg, [&](const route_res &res) {
        // The status sits in the arm that came; only a version-0 answer is read further.
        short ec = res.vers == 0 ? res.route_res_u.v0.ec : res.route_res_u.v1.ec;
        if (ec != SERVER_OK)
            return static_cast<int>(ec);
        if (res.vers != 0)
            return kOtherVersion;
        TextCopy(server, sizeof res.route_res_u.v0.server, res.route_res_u.v0.server);
        TextCopy(user, sizeof res.route_res_u.v0.user, res.route_res_u.v0.user);
        TextCopy(group, sizeof res.route_res_u.v0.group, res.route_res_u.v0.group);
        return 0;
    });
}

int o_get_compat(CLIENT *client, int32_t *valid, int32_t *level)
{
    return Wrap(client, o_get_compat_1, xdr_compat_rec, static_cast<void *>(nullptr),
                [&](const compat_rec &res) {
                    if (res.valid == 0)
                        return kOtherVersion;
                    *valid = res.valid;
                    *level = res.level;
                    return 0;
                });
}

int o_get_route(CLIENT *client, const char *routeId, route_rec *route)
{
    route_key arg{};
    arg.vers = 0;
    TextCopy(arg.route_key_u.v0.route_id, routeId);
    return Wrap(client, o_get_route_1, xdr_route_rec_res, &arg, [&](const route_rec_res &res) {
        if (res.ec != SERVER_OK)
            return static_cast<int>(res.ec);
        if (res.route.vers != 0)
            return kOtherVersion;
        *route = res.route;
        return 0;
    });
}

int o_put_route(CLIENT *client, const char *routeId, const char *routeText, const char *lineId,
                const char *auxId, const char *server, const char *user, const char *group,
                const char *routeExtra, int32_t routeExtraValue)
{
    route_rec arg{};
    arg.vers = 0;
    route_rec_v0 &r = arg.route_rec_u.v0;
    TextCopy(r.route_id, routeId);
    TextCopy(r.route_text, routeText);
    TextCopy(r.line_id, lineId);
    TextCopy(r.aux_id, auxId);
    TextCopy(r.server, server);
    TextCopy(r.user, user);
    TextCopy(r.group, group);
    TextCopy(r.route_extra, routeExtra);
    r.route_extra_value = routeExtraValue;
    return Wrap(client, o_put_route_1, xdr_short, &arg, Status);
}

// ---- configuration entries ----------------------------------------------------------------

int o_get_config(CLIENT *client, const char *key, char *value)
{
    int rc = omega_ensure(&client);
    if (rc != 0)
        return rc;
    value[0] = '\0';
    str11 arg{};
    TextCopy(arg, key);
    return Wrap(client, o_get_config_1, xdr_str81, static_cast<sxchar *>(arg), [&](const sxchar &res) {
        const char *text = &res;  // the stub's str81
        if (text[0] == '\0')
            return kNotFound;
        BoundedCopy(value, text, static_cast<int16_t>(sizeof(str81) - 1));
        return 0;
    });
}

int o_put_config(CLIENT *client, const char *key, const char *value)
{
    config_rec arg{};
    TextCopy(arg.key, key);
    TextCopy(arg.value, value);
    arg.f3 = FALSE;
    return Wrap(client, o_put_config_1, xdr_bool, &arg,
                [](const bool_t &answer) { return answer ? 0 : kNoAnswer; });
}

int o_del_config(CLIENT *client, const char *key)
{
    str11 arg{};
    TextCopy(arg, key);
    return Wrap(client, o_del_config_1, xdr_bool, static_cast<sxchar *>(arg),
                [](const bool_t &answer) { return answer ? 0 : kNotFound; });
}

// ---- tables 7 and 11 ----------------------------------------------------------------------

namespace {

// Store and delete answer a bool: false is a refusal.
template <class Rec>
int PutAsGiven(CLIENT *client, bool_t *(*stub)(Rec *, CLIENT *), const Rec *rec)
{
    Rec arg = *rec;
    return Wrap(client, stub, xdr_bool, &arg, RefusedIfFalse);
}

int DeleteById(CLIENT *client, bool_t *(*stub)(sxchar *, CLIENT *), const char *id)
{
    str11 arg{};
    TextCopy(arg, id);
    return Wrap(client, stub, xdr_bool, static_cast<sxchar *>(arg), RefusedIfFalse);
}

// A fetch answers the bare record; an empty id means there is none.
template <class Rec>
int GetById(CLIENT *client, Rec *(*stub)(sxchar *, CLIENT *), tela::XdrRoutine<Rec> resXdr, const char *id,
            Rec *rec)
{
    str11 arg{};
    TextCopy(arg, id);
    return Wrap(client, stub, resXdr, static_cast<sxchar *>(arg), [&](const Rec &res) {
        if (res.id[0] == '\0')
            return kNotFound;
        *rec = res;
        return 0;
    });
}

// Moves the count and the nodes of an answer to the caller's list; a count of 0 is empty.
template <class List>
int TakeList(List &res, List *list)
{
    if (res.count == 0)
        return kNotFound;
    list->count = res.count;
    list->first = res.first;
    res.count = 0;
    res.first = nullptr;
    return 0;
}

}  // namespace

int o_put_tab7(CLIENT *client, const o_tab7_rec *rec)
{
    return PutAsGiven(client, o_put_tab7_1, rec);
}

int o_get_tab7(CLIENT *client, const char *id, o_tab7_rec *rec)
{
    return GetById(client, o_get_tab7_1, xdr_o_tab7_rec, id, rec);
}

int o_list_tab7(CLIENT *client, o_tab7_list *list)
{
    return Wrap(client, o_list_tab7_1, xdr_o_tab7_list, static_cast<void *>(nullptr),
                [&](o_tab7_list &res) { return TakeList(res, list); });
}

int o_del_tab7(CLIENT *client, const char *id)
{
    return DeleteById(client, o_del_tab7_1, id);
}

int o_put_tab11(CLIENT *client, const o_tab11_rec *rec)
{
    return PutAsGiven(client, o_put_tab11_1, rec);
}

int o_get_tab11(CLIENT *client, const char *id, o_tab11_rec *rec)
{
    return GetById(client, o_get_tab11_1, xdr_o_tab11_rec, id, rec);
}

int o_list_tab11(CLIENT *client, int32_t selector, o_tab11_list *list)
{
    int arg = selector;
    return Wrap(client, o_list_tab11_1, xdr_o_tab11_list, &arg,
                [&](o_tab11_list &res) { return TakeList(res, list); });
}

int o_del_tab11(CLIENT *client, const char *id)
{
    return DeleteById(client, o_del_tab11_1, id);
}

// ---- table 102 and procedure 110 ----------------------------------------------------------

int o_put_tab102(CLIENT *client, const o_tab102_rec *rec)
{
    // As for every wrapper, no omega client gives 1 before the record is looked at.
    int rc = omega_ensure(&client);
    if (rc != 0)
        return rc;
    if (GetDebugLevel() >= 5)
        print_o_tab102_rec(stderr, rec, " ");
    if (rec->vers != 0)
        return kBadArgument;
    o_tab102_rec arg = *rec;
    return Wrap(client, o_put_tab102_1, xdr_short, &arg, Status);
}

int o_get_tab102(CLIENT *client, const char *id, o_tab102_rec *rec)
{
    o_tab102_key arg{};
    arg.vers = 0;
    TextCopy(arg.o_tab102_key_u.v0.id, id);
    return Wrap(client, o_get_tab102_1, xdr_o_tab102_res, &arg, [&](const o_tab102_res &res) {
        if (res.ec != SERVER_OK)
            return static_cast<int>(res.ec);
        if (res.entry.vers != 0)
            return kOtherVersion;
        *rec = res.entry;
        return 0;
    });
}

int o_list_tab102(CLIENT *client, int32_t selector, o_tab102_list *list)
{
    o_tab102_sel arg{};
    arg.vers = 0;
    arg.o_tab102_sel_u.v0.f1 = selector;
    return Wrap(client, o_list_tab102_1, xdr_o_tab102_list, &arg, [&](o_tab102_list &res) {
        if (res.ec != SERVER_OK)
            return static_cast<int>(res.ec);
        // An answer without records has no first record to look at: empty, like tables 7 and 11.
        if (res.first == nullptr)
            return kNotFound;
        if (res.first->entry.vers != 0)
            return kOtherVersion;
        list->count = res.count;
        list->first = res.first;
        list->ec = res.ec;
        res.count = 0;
        res.first = nullptr;
        return 0;
    });
}

int o_del_tab102(CLIENT *client, const char *id)
{
    o_tab102_del arg{};
    arg.vers = 0;
    TextCopy(arg.o_tab102_del_u.v0.id, id);
    return Wrap(client, o_del_tab102_1, xdr_short, &arg, Status);
}

int o_proc110(CLIENT *client, const char *id)
{
    o_key110 arg{};
    arg.vers = 0;
    TextCopy(arg.o_key110_u.v0.f1, id);
    return Wrap(client, o_proc110_1, xdr_short, &arg, Status);
}

// ---- lists handed out ---------------------------------------------------------------------

void o_free_tab7_list(o_tab7_list *list)
{
    tela::XdrFree(xdr_o_tab7_list, list);
    list->count = 0;
}

void o_free_tab11_list(o_tab11_list *list)
{
    tela::XdrFree(xdr_o_tab11_list, list);
    list->count = 0;
}

void o_free_tab102_list(o_tab102_list *list)
{
    tela::XdrFree(xdr_o_tab102_list, list);
    list->count = 0;
}

// ---- instance entry -----------------------------------------------------------------------

int smtp_o_config(CLIENT **slot, int instance, char *host, char *user)
{
    if (slot != nullptr && *slot != nullptr) {
        char key[16];
        if (instance < 0)
            std::snprintf(key, sizeof key, "SMTPnative");
        else
            std::snprintf(key, sizeof key, "SMTP%d", instance);
        char value[81];
        int rc = o_get_config(*slot, key, value);
        int result = 0;
        if (rc == kNotFound) {
            std::fprintf(stderr, "%s not configured ...\n", key);
        } else if (rc == kNoAnswer) {
            std::fprintf(stderr, "invalid omega client handle\n");
            omega_destroy(*slot);
            *slot = nullptr;
        } else if (rc != 0) {
            std::fprintf(stderr, "o_get_config %s returns EC=%d\n", key, rc);
        } else {
            result = 1;
            if (const char *at = std::strchr(value, '@')) {
                BoundedCopy(user, value, static_cast<int16_t>(std::min<ptrdiff_t>(at - value, 10)));
                BoundedCopy(host, at + 1, 35);
            } else if (instance < 0) {
                GetEnvCopy("SG_USER", 10, user);
                GetEnvCopy("ALPHAHOST", 35, host);
            } else {
                result = 0;
            }
        }
        if (result == 1)
            return 1;
    }
    host[0] = '\0';
    user[0] = '\0';
    return 0;
}

// ---- two-level list -----------------------------------------------------------------------

int pair_list_add(pair_key_node **head, const char *key, const char *value)
{
    char k[sizeof(pair_key_node::key)];
    char v[sizeof(pair_value_node::value)];
    TextCopy(k, key);
    TextCopy(v, value);
    pair_key_node *node = *head;
    while (node != nullptr && std::strcmp(node->key, k) != 0)
        node = node->next;
    if (node == nullptr) {
        // Zero-filled nodes; out of memory throws std::bad_alloc and leaves the list as it was.
        auto added = std::make_unique<pair_key_node>();
        std::memcpy(added->key, k, sizeof k);
        added->values = new pair_value_node{};
        std::memcpy(added->values->value, v, sizeof v);
        added->next = *head;
        *head = added.release();
        return 1;
    }
    for (pair_value_node *n = node->values; n != nullptr; n = n->next)
        if (std::strcmp(n->value, v) == 0)
            return 0;
    auto *added = new pair_value_node{};
    std::memcpy(added->value, v, sizeof v);
    added->next = node->values;
    node->values = added;
    return 1;
}

void pair_list_free(pair_key_node **head)
{
    while (*head != nullptr) {
        pair_key_node *node = *head;
        *head = node->next;
        while (node->values != nullptr) {
            pair_value_node *v = node->values;
            node->values = v->next;
            delete v;
        }
        delete node;
    }
}

// ---- host check ---------------------------------------------------------------------------

bool host_resolves(const char *host)
{
    if (host == nullptr)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0)
        return false;
    freeaddrinfo(found);
    return true;
}
