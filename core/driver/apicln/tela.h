// Client API of the driver side: resolves an extension through the host's GetLineIDInfo and
// completes the record with what only the servers hold (group name, user name, greeting and
// goodbye pages), and reads single user properties.
//
// Serves one request at a time: the per-user client, the connected server name and the
// property-name buffers are process-wide, and the plain stubs return static results.
#pragma once

#include <rpc/rpc.h>

#include <cstdint>

#include "drvif/drvif.h"

// The host program's clients: alpha always, omega only for alpha servers below level 16
// (nullptr otherwise). Set before the first call; the host keeps ownership.
void TelaSetServerClients(CLIENT *alpha, CLIENT *omega);

// Resolves the extension into the caller's record and completes it: the group name (omega when
// an omega client is set, else alpha), and with namesWanted for a found user the user's name
// from alpha when the directory gave none and the four greeting/goodbye flags.
[[nodiscard]] GdResult TelaGetExtensionData(const char *extension, int namesWanted, LineIDInfo *info);

// One property of a resolved user into value (at least 81 characters). GDERR_FAILED for a
// record without user id.
[[nodiscard]] GdResult TelaGetUserProperty2(const UserInfo *user, const char *name, char *value);

// The page id held by a greeting property, or -1 when the property is empty or alpha has no
// such page (variant 15 for video, else 14).
[[nodiscard]] GdResult GetDEVEdaID(const UserInfo *user, const char *name, int video, int32_t *pageId);

// One property of a user of `server`. key holds 41 characters: the user id in the first 10
// (NUL-padded), the property name (up to 30) from the 11th on. The value is unchanged on a
// failure.
[[nodiscard]] GdResult get_prop(const char *server, const char *key, char *value);

// Connects the per-user client to `server` (reused while the server stays the same). GDERR_RPC
// when no client can be made (an empty name included); the old client is gone then.
[[nodiscard]] GdResult OpenUserAlpha(const char *server);

// Property names of the greeting and goodbye pages: "a"/"A" or "b"/"B" followed by the extension
// for IMAP users, else GREETING/VGREETING and GOODBYE/VGOODBYE. Static texts, one per kind.
const char *GetGreetingPropName(const LineIDInfo *info, int video);
const char *GetGoodbyePropName(const LineIDInfo *info, int video);
