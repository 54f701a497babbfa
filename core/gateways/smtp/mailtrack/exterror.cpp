#include "mailtrack/exterror.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "mailtrack/exterror_testing.h"

#include "os/sysutil.h"
#include "os/textcopy.h"
#include "xdr/alpha.h"
#include "xdr/xdrresult.h"

namespace {

const char *const kGatewayTexts[] = {
    "Failed",
    "Timeout",
    "Not found",
    "Network error",
    "Send failed",
    "To be implemented\n",
    "FAXROOT not set\n",
    "Send to default address failed",
    "Temporary Send Failure",
    "Invalid Address",
    "Unknown Error",
    "Socket closed",
    "Daemon POP3 Timeout",
};

const char *const kConversionTexts[] = {
    "Failed",
    "Uninitialized Client",
    "Network Error",
    "Document type not supported",
    "Message too long (smslen exceeded)",
};

CLIENT **textClient = nullptr;

// The LDAP library's run-time name comes from the build; the library is loaded at the first LD
// text only, and stays loaded: its texts are static strings handed out to the callers.
#ifndef TELA_LDAP_LIBRARY
#error "TELA_LDAP_LIBRARY (the LDAP library's run-time name) is set by the build"
#endif
constexpr const char kLdapLibrary[] = TELA_LDAP_LIBRARY;
std::atomic<const char *> ldapLibraryName{nullptr};

using LdapErrorTextFunction = char *(*)(int);

struct LdapTextSource {
    const char *library;              // the name that was loaded, or tried
    LdapErrorTextFunction errorText;  // null when the library or the function could not be had
};

// Looked up once, thread-safe through the function-local static.
const LdapTextSource &LdapTexts()
{
    static const LdapTextSource source = [] {
        LdapTextSource s{LdapLibraryName(), nullptr};
        const char *override = ldapLibraryName.load();
        if (override != nullptr)
            s.library = override;
        if (void *library = SysLoadLibrary(s.library))
            s.errorText =
                reinterpret_cast<LdapErrorTextFunction>(SysGetProcAddress(library, "ldap_err2string"));
        return s;
    }();
    return source;
}

// Appends at most `room` - 1 characters of the text that alpha 73 gives for `key`, or the key
// itself when there is no client or no answer.
void AppendConfigText(const char *key, char *out, size_t room)
{
    if (room == 0)
        return;
    CLIENT *client = textClient != nullptr ? *textClient : nullptr;
    if (client != nullptr) {
        text_req request;
        memset(&request, 0, sizeof request);
        snprintf(request.language, sizeof request.language, "%s", "english_us.8859");
        request.key.blob_len = static_cast<u_int>(strlen(key) + 1);
        request.key.blob_val = const_cast<char *>(key);
        tela::XdrResult reply(a_get_text_1(&request, client), xdr_blob);
        if (reply) {
            TextCopyN(out, room, reply->blob_val,
                      reply->blob_val != nullptr ? strnlen(reply->blob_val, reply->blob_len) : 0);
            return;
        }
    }
    TextCopy(out, room, key);
}

}  // namespace

const char *LdapLibraryName()
{
    return kLdapLibrary;
}

void SetLdapLibraryName(const char *library)
{
    ldapLibraryName.store(library);
}

const char *LdapResultText(int code)
{
    const LdapTextSource &source = LdapTexts();
    const char *text = source.errorText != nullptr ? source.errorText(code) : nullptr;
    if (text != nullptr && text[0] != '\0')
        return text;
    // Per thread: the caller copies the text before it asks for another.
    thread_local char fallback[160];
    if (source.errorText == nullptr)
        snprintf(fallback, sizeof fallback, "LDAP result code %d (%s not loaded)", code, source.library);
    else
        snprintf(fallback, sizeof fallback, "LDAP result code %d", code);
    return fallback;
}

void SetErrorTextClient(CLIENT **client)
{
    textClient = client;
}

void ErrorCodeText(ErrorCode code, char *buffer, size_t length)
{
    if (buffer == nullptr || length == 0)
        return;
    char work[EXT_ERROR_TEXT_SIZE];
    memset(work, 0, sizeof work);
    const ErrorCode family = code & EC_FAMILY_MASK;
    const uint32_t number = code & EC_NUMBER_MASK;
    int prefix = 0;
    switch (family) {
    case EC_SY:
        prefix = snprintf(work, sizeof work, "SY%" PRIx32 ": ", number);
        SysErrorText(static_cast<int>(number), work + prefix, sizeof work - prefix);
        break;
    case EC_GW: {
        uint32_t index = code - EC_GW;
        snprintf(work, sizeof work, "GW%" PRIx32 ": %s", number,
                 index < std::size(kGatewayTexts) ? kGatewayTexts[index] : "Unknown Error");
        break;
    }
    case EC_CV: {
        uint32_t index = code - (EC_CV + 1);  // number 0 wraps round and has no text
        snprintf(work, sizeof work, "CV%" PRIx32 ": %s", number,
                 index < std::size(kConversionTexts) ? kConversionTexts[index] : "Unknown Error");
        break;
    }
    case EC_LD: {
        snprintf(work, sizeof work, "LD%" PRIx32 ": %s", number, LdapResultText(static_cast<int>(number)));
        break;
    }
    case EC_CF: {
        prefix = snprintf(work, sizeof work, "CF%" PRIx32 ": ", number);
        char key[32];
        snprintf(key, sizeof key, "$EC_%" PRIu32 ":", number);
        AppendConfigText(key, work + prefix, sizeof work - prefix);
        break;
    }
    default:
        if (code == 0)
            snprintf(work, sizeof work, "OK.");
        else
            snprintf(work, sizeof work, "Unknown Error %" PRIx32 ". ", code);
        break;
    }
    work[sizeof work - 1] = '\0';
    TextCopy(buffer, length, work);
}
