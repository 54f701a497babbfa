#include "mailtrack/gwutils.h"

#include <strings.h>

#include "rpcrt/servers.h"

MediaType MediaFromFlags(uint32_t flags)
{
    if (flags & SEND_FLAG_SMS)
        return MEDIA_SMS;
    if (flags & SEND_FLAG_VIDEO)
        return MEDIA_VIDEO;
    if (flags & SEND_FLAG_VOICE)
        return MEDIA_VOICE;
    if (flags & SEND_FLAG_TELEX)
        return MEDIA_TELEX;
    return MEDIA_FAX;
}

const char *MediaName(int media)
{
    switch (media) {
    case MEDIA_TELEX:
        return "telex";
    case MEDIA_VOICE:
        return "voice";
    case MEDIA_VIDEO:
        return "video";
    case MEDIA_SMS:
        return "sms";
    default:
        return "fax";
    }
}

MediaType MediaCode(const char *name)
{
    static const struct {
        const char *name;
        MediaType code;
    } names[] = {{"fax", MEDIA_FAX},
                 {"telex", MEDIA_TELEX},
                 {"voice", MEDIA_VOICE},
                 {"video", MEDIA_VIDEO},
                 {"sms", MEDIA_SMS}};
    if (name != nullptr)
        for (const auto &n : names)
            if (strcasecmp(name, n.name) == 0)
                return n.code;
    return MEDIA_FAX;
}

const char *TxStateName(int state)
{
    static const char *const names[] = {"idle",      "busy line",      "transmission", "too many retries",
                                        "canceled",  "done",           "no line",      "transmission error",
                                        "no answer", "driver timeout", "device error", "unknown"};
    int16_t s = static_cast<int16_t>(state);
    if (s >= 0 && s <= 11)
        return names[s];
    if (s >= 12 && s <= 17)
        return "in process by lcr";
    return "unknown";
}

CLIENT *CreateOmegaClient(const char *host)
{
    return tela::CreateServerClient(host, tela::ServerProgram::Omega, tela::kServerTransport,
                                    tela::kGatewayRetryPauseMs);
}

CLIENT *CreateAlphaClient(const char *host)
{
    return tela::CreateServerClient(host, tela::ServerProgram::Alpha, tela::kServerTransport,
                                    tela::kGatewayRetryPauseMs);
}

void DestroyClient(CLIENT *client)
{
    CLNT_DESTROY(client);
}

const char *ClientErrorText(CLIENT *client, const char *procedure)
{
    return clnt_sperror(client, procedure);
}

const char *CreateErrorText(const char *host)
{
    return clnt_spcreateerror(host);
}

enum clnt_stat CallClient(CLIENT *client, rpcproc_t procedure, xdrproc_t argRoutine, void *argument,
                          xdrproc_t resultRoutine, void *result)
{
    return tela::clnt_call(client, procedure, argRoutine, argument, resultRoutine, result,
                           tela::kCallTimeout);
}
