// Media and transmission-state names, and the gateway's RPC client functions. The client
// functions share their names with the console tool's; the two sets live in different libraries
// and never meet in one program. The gateway's creators make one attempt and return at once.
#pragma once

#include <cstdint>

#include "rpcrt/rpcrt.h"

// The media of a message or of a configuration value.
enum MediaType : int {
    MEDIA_FAX = 1,
    MEDIA_TELEX = 2,
    MEDIA_VOICE = 4,
    MEDIA_VIDEO = 5,
    MEDIA_SMS = 6,
};

// Media bits of a send record's flag word.
constexpr uint32_t SEND_FLAG_SMS = 0x400;
constexpr uint32_t SEND_FLAG_VIDEO = 0x200;
constexpr uint32_t SEND_FLAG_VOICE = 0x100;
constexpr uint32_t SEND_FLAG_TELEX = 0x80;

// The first media bit set, tested sms, video, voice, telex; none of them: fax.
MediaType MediaFromFlags(uint32_t flags);
// The name of a media code; a code without a name ("0", 3, ...) gives "fax". Static text.
const char *MediaName(int media);
// The code of a media name compared without regard to case; any other text (null too) gives fax.
MediaType MediaCode(const char *name);
// The name of a transmission state, taken as a 16-bit signed number. Static text.
const char *TxStateName(int state);

// Clients for omega and alpha (the server table of rpcrt/servers.h, which also sets this set's
// contracts beside the console set's), program numbers moved by TELAMORPCOFFSET, version 1,
// over "tcp"; one attempt. nullptr on failure (CreateErrorText tells why).
[[nodiscard]] CLIENT *CreateOmegaClient(const char *host);
[[nodiscard]] CLIENT *CreateAlphaClient(const char *host);
// Destroys the client and its lock. The client must not be null.
void DestroyClient(CLIENT *client);
// The RPC library's text of the client's last call failure, with the procedure name in front.
// Static text, valid until the next call of the library's error functions.
const char *ClientErrorText(CLIENT *client, const char *procedure);
// The RPC library's text of the last creation failure, with the host name in front. Static text.
const char *CreateErrorText(const char *host);
// The locked call with a time-out of 25 s.
enum clnt_stat CallClient(CLIENT *client, rpcproc_t procedure, xdrproc_t argRoutine, void *argument,
                          xdrproc_t resultRoutine, void *result);
