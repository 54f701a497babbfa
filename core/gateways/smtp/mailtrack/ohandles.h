// Server handles of the gateway and its omega call wrappers. One alpha and one omega client can
// be kept in module state or in a variable of the caller. The wrappers make sure an omega client
// exists, cut every text to its field, call the plain stub and turn the answer into a status
// number (0 success, 1 no omega client, 22 no answer, 24 bad argument, 25 not found, 32 other
// version, 34 refused, else the server's own status).
#pragma once

#include <cstdint>

#include "rpcrt/rpcrt.h"
#include "xdr/omega.h"

// Client handles. A slot is the address of the caller's client variable; null means the module
// client. alpha_create: 0, 2 when creation failed (slot untouched), 24 for a host without a slot.
int alpha_create(CLIENT **slot, const char *host);
// Destroys the given client, or with null the module client (2 when there is none).
int alpha_destroy(CLIENT *client);
// Makes *slot hold a client: its own, else the module client (created on demand).
int alpha_get(CLIENT **slot);
// Clears the module alpha client when it is this client.
void alpha_forget(CLIENT *client);
// omega_create stores the outcome, null included, in the slot or the module client; 1 when null.
int omega_create(CLIENT **slot, const char *host);
int omega_destroy(CLIENT *client);
int omega_ensure(CLIENT **slot);
void omega_forget(CLIENT *client);

// The configuration entry of a key (cut to 10 characters) into value (at least 81 characters):
// 0, or 25 when omega has none (value empty), 22 without an answer, 1 without a client.
int o_get_config(CLIENT *client, const char *key, char *value);

// The omega entry "user@host" of a gateway instance ("SMTPnative" for a negative instance, else
// "SMTP%d"): 1 with host (char[36]) and user (char[11]) filled, else 0 with both empty.
int smtp_o_config(CLIENT **slot, int instance, char *host, char *user);
