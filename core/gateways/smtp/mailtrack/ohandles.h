// Server handles of the gateway and its omega call wrappers. One alpha and one omega client can
// be kept in module state or in a variable of the caller. The wrappers make sure an omega client
// exists, cut every text to its field, call the plain stub and turn the answer into a status
// number (0 success, 1 no omega client, 22 no answer, 24 bad argument, 25 not found, 32 other
// version, 34 refused, else the server's own status).
//
// Every wrapper takes the omega client first, or null for the module omega client (created on
// demand for the default omega host). When a call gets no answer the wrapper returns 22 and the
// module client, if that was the one used, is forgotten (not destroyed: callers may hold copies
// of it from omega_ensure); the next wrapper call creates a new one. A client passed in by the
// caller is never destroyed by a wrapper. The module clients are not locked.
#pragma once

#include <cstdint>

#include "rpcrt/rpcrt.h"
#include "xdr/omega.h"

// ---- client handles -----------------------------------------------------------------------

// Client handles. A slot is the address of the caller's client variable; null means the module
// client. alpha_create: 0, 2 when creation failed (slot untouched), 24 for a host without a slot.
int alpha_create(CLIENT **slot, const char *host);
// Destroys the given client, or with null the module client (2 when there is none). The module
// variable is cleared whenever the client destroyed is the module client.
int alpha_destroy(CLIENT *client);
// Makes *slot hold a client: its own, else the module client (created on demand). Returns 0, or
// the creation's result (2) with *slot null. A null slot gives 24.
int alpha_get(CLIENT **slot);
// Clears the module alpha client when it is this client.
void alpha_forget(CLIENT *client);
// omega_create stores the outcome, null included, in the slot or the module client; 1 when null.
int omega_create(CLIENT **slot, const char *host);
// As alpha_destroy; 1 when null is given and there is no module omega client.
int omega_destroy(CLIENT *client);
// As alpha_get, for omega: 0, or 1 with *slot null when no client could be created.
int omega_ensure(CLIENT **slot);
void omega_forget(CLIENT *client);

// ---- omega call wrappers ------------------------------------------------------------------
// Texts are cut to the width given in brackets. Outputs are written only where a result of 0
// says so, unless stated otherwise.

// Omega 94: applies the route of line id [10] and number [20]. 0 with server (char[36]), user
// and group (char[11] each) filled; the answer's nonzero status as it is; 32 for an answer of
// another version than 0.
int o_apply_route_new(CLIENT *client, const char *lineId, const char *number, char *server, char *user,
                      char *group);
// Omega 71: 0 with both values, or 32 when the first value is 0.
int o_get_compat(CLIENT *client, int32_t *valid, int32_t *level);

// The configuration entry of a key (cut to 10 characters) into value (at least 81 characters):
// 0, or 25 when omega has none (value empty), 22 without an answer, 1 without a client.
int o_get_config(CLIENT *client, const char *key, char *value);
// Omega 48: stores key [10] = value [80]. 0, or 22 without an answer or when omega refuses.
int o_put_config(CLIENT *client, const char *key, const char *value);
// Omega 50: 0, or 25 when omega refuses (no such entry).
int o_del_config(CLIENT *client, const char *key);

// Table 7 (omega 7 to 10). Records are sent as given. Get: 25 when the answer's id is empty.
// List: 25 for an empty table (list untouched), else the count and the nodes go to the caller,
// who frees them with o_free_tab7_list. Put and delete: 34 when omega refuses.
int o_put_tab7(CLIENT *client, const o_tab7_rec *rec);
int o_get_tab7(CLIENT *client, const char *id, o_tab7_rec *rec);
int o_list_tab7(CLIENT *client, o_tab7_list *list);
int o_del_tab7(CLIENT *client, const char *id);

// Table 11 (omega 11 to 14), as table 7; the list takes a selector that is sent as given.
int o_put_tab11(CLIENT *client, const o_tab11_rec *rec);
int o_get_tab11(CLIENT *client, const char *id, o_tab11_rec *rec);
int o_list_tab11(CLIENT *client, int32_t selector, o_tab11_list *list);
int o_del_tab11(CLIENT *client, const char *id);

// Table 102 (omega 102 to 105). Put: 1 without a client, as every wrapper; then 24 for a record
// of another version than 0 (nothing sent), else omega's status. Get: omega's nonzero status, 32 for a record
// of another version, else 0 with the record. List: omega's nonzero status, 25 when the answer holds no
// records (list untouched), 32 when the first record is of another version, else 0 with count, nodes and
// status handed to the caller (free with o_free_tab102_list). Delete: omega's status.
int o_put_tab102(CLIENT *client, const o_tab102_rec *rec);
int o_get_tab102(CLIENT *client, const char *id, o_tab102_rec *rec);
int o_list_tab102(CLIENT *client, int32_t selector, o_tab102_list *list);
int o_del_tab102(CLIENT *client, const char *id);
// Omega 110 for id [10]: omega's status.
int o_proc110(CLIENT *client, const char *id);

// Omega 92: omega's nonzero status, 32 for a route of another version, else 0 with the route.
int o_get_route(CLIENT *client, const char *routeId, route_rec *route);
// Omega 91: stores a version-0 route from route id [10], route text [30], line id [10], aux id
// [20], server [35], user [10], group [10], extra [35] and the extra value. Omega's status.
int o_put_route(CLIENT *client, const char *routeId, const char *routeText, const char *lineId,
                const char *auxId, const char *server, const char *user, const char *group,
                const char *routeExtra, int32_t routeExtraValue);

// Free the nodes of a list handed out by the matching list wrapper; the list is left empty.
void o_free_tab7_list(o_tab7_list *list);
void o_free_tab11_list(o_tab11_list *list);
void o_free_tab102_list(o_tab102_list *list);

// ---- instance entry and small helpers -----------------------------------------------------

// The omega entry "user@host" of a gateway instance ("SMTPnative" for a negative instance, else
// "SMTP%d"): 1 with host (char[36]) and user (char[11]) filled, else 0 with both empty.
// Messages go to the standard error; on no answer the client is destroyed and *slot cleared.
int smtp_o_config(CLIENT **slot, int instance, char *host, char *user);

// A two-level list of texts: keys (at most 35 characters) with their values (at most 11).
struct pair_value_node {
    pair_value_node *next;
    char value[12];
};
struct pair_key_node {
    pair_key_node *next;
    char key[36];
    pair_value_node *values;
};
// Adds value under key (both cut to their widths, compared exactly): 1 when added (a new key in
// front of the list, a new value in front of its key's values), 0 when the pair was there.
// Throws std::bad_alloc when out of memory.
int pair_list_add(pair_key_node **head, const char *key, const char *value);
// Frees every node of the list and sets *head to null.
void pair_list_free(pair_key_node **head);

// True when the host name (or dotted address) resolves to an IPv4 address.
bool host_resolves(const char *host);
