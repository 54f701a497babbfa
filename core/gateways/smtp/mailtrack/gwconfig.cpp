#include "mailtrack/gwconfig.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mailtrack/gwsetup.h"
#include "mailtrack/ohandles.h"
#include "os/hostvars.h"
#include "os/textcopy.h"
#include "trace/trace.h"
#include "trace/trace_params.h"
#include "xdr/alpha.h"

namespace {

const char kSource[] = "gwconfig";

// The size written in the table must be the size of the field it names.
template <size_t Actual, int32_t Given>
consteval int32_t CheckedSize()
{
    static_assert(Actual == static_cast<size_t>(Given), "table size differs from the field");
    return Given;
}

}  // namespace

#define KEY(name, field, type, size, settable, read, bare, kind, text, number)                          \
    {                                                                                                   \
#name, type, offsetof(ConfigRecord, field), CheckedSize < sizeof(ConfigRecord::field), size>(), \
            settable, read, bare, kind, text, number                                                    \
    }

// Key, field, type, size, user-settable, read place, no "SG_" prefix, default.
constinit const ConfigKey ConfigKeyTable[] = {
    KEY(ADMTEXT, ADMTEXT, FIELD_TEXT, 81, 1, 4, 0, DEFAULT_VALUE, "", 0),
    KEY(ADMUSER, ADMUSER, FIELD_TEXT, 81, 1, 3, 0, DEFAULT_VALUE, "trkr", 0),
    KEY(AGEM, AGEM, FIELD_LONG, 4, 0, 103, 0, DEFAULT_VALUE, nullptr, 172800),
    KEY(AGENR, AGENR, FIELD_INT, 4, 0, 102, 0, DEFAULT_VALUE, nullptr, 10),
    KEY(AGEP, AGEP, FIELD_TEXT, 81, 0, 101, 0, DEFAULT_VALUE, "", 0),
    KEY(AGET, AGET, FIELD_LONG, 4, 0, 100, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(COVER, COVERID, FIELD_LONG, 4, 1, 0, 0, DEFAULT_NONE, nullptr, 0),
    KEY(COVERID, COVERID, FIELD_LONG, 4, 1, 83, 1, DEFAULT_VALUE, nullptr, 0),
    KEY(CPI, CPI, FIELD_TEXT, 21, 1, 86, 1, DEFAULT_VALUE, "", 0),
    KEY(CPI_CE, CPI_CE, FIELD_INT, 4, 0, 89, 0, DEFAULT_FROM_KEY, "LDE", 0),
    KEY(CPI_CPR, CPI_CPR, FIELD_TEXT, 256, 0, 91, 0, DEFAULT_VALUE, "", 0),
    KEY(CPI_CSK, CPI_CSK, FIELD_INT, 4, 0, 90, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(CVTPDF, CVTPDF, FIELD_INT, 4, 1, 54, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(CVTTXT, CVTTXT, FIELD_INT, 4, 1, 55, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(CVTWIN, CVTWIN, FIELD_INT, 4, 1, 53, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(DEFNET, DEFNET, FIELD_MEDIA, 4, 1, 57, 0, DEFAULT_VALUE, "fax", 0),
    KEY(DMDL, DMDL, FIELD_INT, 4, 0, 21, 0, DEFAULT_TRACE_LEVEL, nullptr, 0),
    KEY(DMH, DMH, FIELD_TEXT, 256, 0, 9, 0, DEFAULT_HOST_NAME, nullptr, 0),
    KEY(DMLIO, DMLIO, FIELD_INT, 4, 0, 20, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(DMMAXS, DMMAXS, FIELD_INT, 4, 1, 22, 0, DEFAULT_VALUE, nullptr, 1024),
    KEY(DMNU, DMNU, FIELD_INT, 4, 0, 18, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(DMP3A, DMP3A, FIELD_TEXT, 32, 0, 14, 0, DEFAULT_VALUE, "0.0.0.0", 0),
    KEY(DMP3P, DMP3P, FIELD_INT, 4, 0, 15, 0, DEFAULT_VALUE, nullptr, 110),
    KEY(DMP3TH, DMP3TH, FIELD_INT, 4, 0, 16, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(DMP3TO, DMP3TO, FIELD_INT, 4, 0, 17, 0, DEFAULT_VALUE, nullptr, 3600),
    KEY(DMSPA, DMSPA, FIELD_TEXT, 32, 0, 12, 0, DEFAULT_VALUE, "0.0.0.0", 0),
    KEY(DMSPP, DMSPP, FIELD_INT, 4, 0, 13, 0, DEFAULT_VALUE, nullptr, 25),
    KEY(DRASMSG, DRASMSG, FIELD_INT, 4, 1, 51, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(DRFROM, ADMUSER, FIELD_TEXT, 81, 0, 1, 0, DEFAULT_VALUE, "trkr", 0),
    KEY(DRFTXT, ADMTEXT, FIELD_TEXT, 81, 0, 2, 0, DEFAULT_VALUE, "", 0),
    KEY(GWDL, GWDL, FIELD_INT, 4, 0, 28, 0, DEFAULT_TRACE_LEVEL, nullptr, 0),
    KEY(GWEDLL, GWEDLL, FIELD_TEXT, 1024, 0, 37, 0, DEFAULT_VALUE, "", 0),
    KEY(GWEXPF, GWEXPF, FIELD_INT, 4, 1, 24, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(GWFDR, GWFDR, FIELD_INT, 4, 1, 30, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(GWFLR, GWFLR, FIELD_INT, 4, 1, 35, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(GWGIVUP, GWGIVUP, FIELD_INT, 4, 0, 40, 0, DEFAULT_VALUE, nullptr, 4),
    KEY(GWHTR, GWHTR, FIELD_TEXT, 1024, 1, 36, 0, DEFAULT_HELP_PAGE, nullptr, 0),
    KEY(GWI, GWI, FIELD_INT, 4, 0, 23, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(GWIATT, GWIATT, FIELD_TEXT, 1024, 1, 29, 0, DEFAULT_VALUE, "\\.att$", 0),
    KEY(GWMAXP, GWMAXP, FIELD_INT, 4, 1, 34, 0, DEFAULT_VALUE, nullptr, 100),
    KEY(GWNI, GWNI, FIELD_INT, 4, 0, 32, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(GWNO, GWNO, FIELD_INT, 4, 0, 31, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(GWNR, GWNR, FIELD_INT, 4, 0, 33, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(GWNRP, GWNRP, FIELD_TEXT, 21, 0, 26, 0, DEFAULT_VALUE, "", 0),
    KEY(GWPWD, GWPWD, FIELD_TEXT, 11, 0, 25, 0, DEFAULT_VALUE, "", 0),
    KEY(GWRTRY, GWRTRY, FIELD_INT, 4, 0, 38, 0, DEFAULT_VALUE, nullptr, 60),
    KEY(GWSPP, GWSPP, FIELD_INT, 4, 0, 27, 0, DEFAULT_VALUE, nullptr, 25),
    KEY(GWWARN, GWWARN, FIELD_INT, 4, 0, 39, 0, DEFAULT_VALUE, nullptr, 24),
    KEY(HEADFIN, HEADFIN, FIELD_INT, 4, 0, 84, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(HEADFMT, HEADFMT, FIELD_TEXT, 129, 0, 85, 0, DEFAULT_VALUE, "%s", 0),
    KEY(HEADLINE, HEADLINE, FIELD_TEXT, 129, 1, 82, 1, DEFAULT_VALUE, "", 0),
    KEY(INLOG, INLOG, FIELD_INT, 4, 1, 56, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(KEEPTMP, KEEPTMP, FIELD_INT, 4, 1, 52, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(LDALB, LDALB, FIELD_TEXT, 256, 0, 72, 0, DEFAULT_FROM_KEY, "LDUDB", 0),
    KEY(LDALF, LDALF, FIELD_TEXT, 256, 0, 74, 0, DEFAULT_FROM_KEY, "LDUDF", 0),
    KEY(LDALS, LDALS, FIELD_INT, 4, 0, 73, 0, DEFAULT_FROM_KEY, "LDUDS", 0),
    KEY(LDBNAM, LDBNAM, FIELD_TEXT, 256, 0, 60, 0, DEFAULT_VALUE, "", 0),
    KEY(LDBPWD, LDBPWD, FIELD_TEXT, 256, 0, 61, 0, DEFAULT_VALUE, "", 0),
    KEY(LDCERT, LDCERT, FIELD_TEXT, 256, 0, 65, 0, DEFAULT_VALUE, "", 0),
    KEY(LDDL, LDDL, FIELD_INT, 4, 0, 66, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(LDE, LDE, FIELD_INT, 4, 0, 58, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(LDH, LDH, FIELD_TEXT, 256, 0, 59, 0, DEFAULT_LOCAL_HOST, nullptr, 0),
    KEY(LDMBA, LDMBA, FIELD_TEXT, 256, 0, 78, 0, DEFAULT_VALUE, "rfc822Mailbox", 0),
    KEY(LDMBB, LDMBB, FIELD_TEXT, 256, 0, 75, 0, DEFAULT_FROM_KEY, "LDUDB", 0),
    KEY(LDMBF, LDMBF, FIELD_TEXT, 256, 0, 77, 0, DEFAULT_VALUE,
        "(|(faxLineId=%1%0)(facsimileTelephoneNumber=%1%0))", 0),
    KEY(LDMBS, LDMBS, FIELD_INT, 4, 0, 76, 0, DEFAULT_FROM_KEY, "LDUDS", 0),
    KEY(LDOUTP, LDOUTP, FIELD_TEXT, 256, 0, 79, 0, DEFAULT_VALUE, "", 0),
    KEY(LDP, LDP, FIELD_INT, 4, 0, 64, 0, DEFAULT_LDAP_PORT, nullptr, 0),
    KEY(LDTO, LDTO, FIELD_INT, 4, 0, 62, 0, DEFAULT_VALUE, nullptr, 10),
    KEY(LDTYPE, LDTYPE, FIELD_TEXT, 256, 0, 63, 0, DEFAULT_VALUE, "ldap", 0),
    KEY(LDUDA, LDUDA, FIELD_TEXT, 256, 0, 70, 0, DEFAULT_VALUE,
        "givenName,sn,facsimileTelephoneNumber,faxLineId,faxHeadLine,faxCoverId,faxPinCode,faxCpi,Extension-"
        "Attribute-10",
        0),
    KEY(LDUDB, LDUDB, FIELD_TEXT, 256, 0, 67, 0, DEFAULT_VALUE, "", 0),
    KEY(LDUDD, LDUDD, FIELD_TEXT, 256, 0, 71, 0, DEFAULT_VALUE, "%0 %1", 0),
    KEY(LDUDF, LDUDF, FIELD_TEXT, 256, 0, 69, 0, DEFAULT_VALUE, "rfc822Mailbox=%0", 0),
    KEY(LDUDS, LDUDS, FIELD_INT, 4, 0, 68, 0, DEFAULT_VALUE, nullptr, 2),
    KEY(MADEFU, MADEFU, FIELD_TEXT, 128, 0, 7, 0, DEFAULT_VALUE, "", 0),
    KEY(MAHOST, MAHOST, FIELD_TEXT, 128, 0, 6, 0, DEFAULT_VALUE, "", 0),
    KEY(MAXESLP, MAXESLP, FIELD_INT, 4, 0, 47, 0, DEFAULT_VALUE, nullptr, 30),
    KEY(MAXIDLE, MAXIDLE, FIELD_INT, 4, 0, 45, 0, DEFAULT_VALUE, nullptr, 30),
    KEY(MINESLP, MINESLP, FIELD_INT, 4, 0, 46, 0, DEFAULT_VALUE, nullptr, 10),
    KEY(MINIDLE, MINIDLE, FIELD_INT, 4, 0, 44, 0, DEFAULT_VALUE, nullptr, 10),
    KEY(MYDOM, MYDOM, FIELD_TEXT, 128, 1, 5, 0, DEFAULT_HOST_NAME, nullptr, 0),
    KEY(NRMBX, NRMBX, FIELD_INT, 4, 0, 10, 0, DEFAULT_VALUE, nullptr, 1),
    KEY(NRSES, NRSES, FIELD_INT, 4, 0, 11, 0, DEFAULT_VALUE, nullptr, 10),
    KEY(OUTPREF, OUTPREF, FIELD_TEXT, 31, 1, 81, 0, DEFAULT_VALUE, "", 0),
    KEY(PINCODE, PINCODE, FIELD_TEXT, 21, 1, 88, 1, DEFAULT_VALUE, "", 0),
    KEY(PIPE, PIPE, FIELD_TEXT, 1024, 1, 43, 0, DEFAULT_VALUE, "", 0),
    KEY(RRTO, RRTO, FIELD_TEXT, 1024, 1, 42, 0, DEFAULT_VALUE, "", 0),
    KEY(SAP, SAP, FIELD_INT, 4, 0, 80, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(SMSCUT, SMSCUT, FIELD_TEXT, 256, 1, 106, 0, DEFAULT_VALUE, "", 0),
    KEY(SMSHFMT, SMSHFMT, FIELD_TEXT, 256, 1, 105, 0, DEFAULT_VALUE, "", 0),
    KEY(SMSLEN, SMSLEN, FIELD_INT, 4, 1, 107, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(SMSSCH, SMSSCH, FIELD_TEXT, 21, 1, 104, 0, DEFAULT_VALUE, "", 0),
    KEY(SNDAL, SNDAL, FIELD_INT, 4, 1, 19, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(TCPTMO, TCPTMO, FIELD_INT, 4, 0, 8, 0, DEFAULT_VALUE, nullptr, 120),
    KEY(TRCDAYS, TRCDAYS, FIELD_INT, 4, 0, 95, 0, DEFAULT_TRACE_MINAGE, nullptr, 0),
    KEY(TRCMODE, TRCMODE, FIELD_TEXT, 21, 0, 96, 0, DEFAULT_TRACE_ROLLMODE, nullptr, 0),
    KEY(TRCNUM, TRCNUM, FIELD_INT, 4, 0, 97, 0, DEFAULT_TRACE_MINFILES, nullptr, 0),
    KEY(TRCSIZE, TRCSIZE, FIELD_LONG, 4, 0, 98, 0, DEFAULT_TRACE_FILESIZE, nullptr, 0),
    KEY(TRSTAMP, TRSTAMP, FIELD_TEXT, 21, 0, 99, 0, DEFAULT_TRACE_STAMPTYPE, nullptr, 0),
    KEY(TSI, TSI, FIELD_TEXT, 21, 1, 87, 1, DEFAULT_VALUE, "", 0),
    KEY(TSI_CE, TSI_CE, FIELD_INT, 4, 0, 92, 0, DEFAULT_FROM_KEY, "LDE", 0),
    KEY(TSI_CPR, TSI_CPR, FIELD_TEXT, 256, 0, 94, 0, DEFAULT_VALUE, "", 0),
    KEY(TSI_CSK, TSI_CSK, FIELD_INT, 4, 0, 93, 0, DEFAULT_VALUE, nullptr, 0),
    KEY(TXTFAX, TXTFAX, FIELD_TEXT, 1024, 1, 48, 0, DEFAULT_VALUE, "", 0),
    KEY(TXTVID, TXTVID, FIELD_TEXT, 1024, 1, 50, 0, DEFAULT_VALUE, "", 0),
    KEY(TXTVOC, TXTVOC, FIELD_TEXT, 1024, 1, 49, 0, DEFAULT_VALUE, "", 0),
    KEY(WAVGSM, WAVGSM, FIELD_INT, 4, 1, 41, 0, DEFAULT_VALUE, nullptr, 0),
};

#undef KEY

constinit const int ConfigKeyCount = sizeof ConfigKeyTable / sizeof ConfigKeyTable[0];

namespace {

ConfigRecord gWork;
ConfigRecord gPublished;
int gLoaded = 0;
// What the load that set the loaded flag returned; later calls return it again.
ErrorCode gLoadResult = 0;

constexpr ErrorCode kGwFailed = EC_GW | 0;
constexpr ErrorCode kGwNotSet = EC_GW | 2;
constexpr ErrorCode kGwUnavailable = EC_GW | 3;
constexpr ErrorCode kGwNoRoot = EC_GW | 6;

// The longest property value alpha keeps.
constexpr int16_t kPropertyValueMax = 80;
constexpr int16_t kPropertyKeyMax = 10;

constexpr int32_t kTwoMonths = 4838400;

int LowerAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

// strcasecmp over ASCII letters only, whatever the locale.
int CompareNoCase(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        int ca = LowerAscii(static_cast<unsigned char>(*a));
        int cb = LowerAscii(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

// "%d" as sscanf reads it (white space and a sign before the digits, anything after them
// ignored), but a number outside 32 bits is no number rather than a cut one.
bool ScanInt32(const char *text, int32_t *out)
{
    if (text == nullptr)
        return false;
    char *end = nullptr;
    errno = 0;
    long long value = strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        return false;
    *out = static_cast<int32_t>(value);
    return true;
}

template <typename T>
T *FieldOf(ConfigRecord *record, const ConfigKey &entry)
{
    return reinterpret_cast<T *>(reinterpret_cast<char *>(record) + entry.offset);
}

// Passwords are not written to trace files.
bool IsSecret(const ConfigKey &entry)
{
    return entry.offset == offsetof(ConfigRecord, GWPWD) || entry.offset == offsetof(ConfigRecord, LDBPWD);
}

void BadNumber(const char *key, const char *value)
{
    Trace(kSource, __LINE__, 2, "PutConf: bad value in extension attribute!\n");
    Trace(kSource, __LINE__, 2, "%s=%s\n", key, value);
}

// One call of an alpha stub through the cached client; when it gives no client or no reply,
// once more with a reconnect. call returns whether a reply came.
template <typename Call>
bool CallAlpha(const char *procedure, Call call)
{
    CLIENT *client = GetAlphaClient(0);
    if (client != nullptr && call(client))
        return true;
    client = GetAlphaClient(1);
    if (client != nullptr && call(client))
        return true;
    if (client != nullptr)
        Trace(kSource, __LINE__, 0, "%s\n", ClientErrorText(client, procedure));
    else
        Trace(kSource, __LINE__, 0, "%s : alpha unavailable\n", procedure);
    return false;
}

// The property into value (81 bytes): 0, or GW 3 when alpha cannot be reached.
ErrorCode GetProperty(const char *user, const char *key, char *value)
{
    usrconf_key request{};
    TextCopy(request.user, user);
    TextCopy(request.key, key);
    value[0] = '\0';
    bool ok = CallAlpha("a_get_usrconf_1", [&](CLIENT *client) {
        // The answer is a fixed text in the stub's static storage: nothing to free.
        sxchar *reply = a_get_usrconf_1(&request, client);
        if (reply == nullptr)
            return false;
        // A value of the field's full width comes without a terminator.
        TextCopy(value, kPropertyValueMax + 1, reply);
        return true;
    });
    return ok ? 0 : kGwUnavailable;
}

}  // namespace

int FindKey(const char *key)
{
    if (key == nullptr)
        return -1;
    int16_t lo = 0;
    int16_t hi = static_cast<int16_t>(ConfigKeyCount - 1);
    while (lo <= hi) {
        int16_t mid = static_cast<int16_t>((lo + hi + 1) / 2);
        int order = CompareNoCase(key, ConfigKeyTable[mid].key);
        if (order < 0)
            hi = static_cast<int16_t>(mid - 1);
        else if (order > 0)
            lo = static_cast<int16_t>(mid + 1);
        else
            return mid;
    }
    return -1;
}

ErrorCode PutConf(ConfigRecord *record, const char *key, const char *value, int force)
{
    int index = FindKey(key);
    if (index < 0) {
        Trace(kSource, __LINE__, 0, "PutConf: invalid Key %s\n", key != nullptr ? key : "");
        return kGwFailed;
    }
    const ConfigKey &entry = ConfigKeyTable[index];
    if (entry.userSettable == 0 && force == 0)
        return 0;
    if (value == nullptr)
        value = "";
    switch (entry.type) {
    case FIELD_TEXT: {
        char *field = FieldOf<char>(record, entry);
        TextCopyFilled(field, static_cast<size_t>(entry.size), value);
        Trace(kSource, __LINE__, 3, "PutConf: %s:\t%s\n", entry.key,
              IsSecret(entry) && field[0] != '\0' ? "********" : field);
        break;
    }
    case FIELD_INT:
    case FIELD_LONG: {
        int32_t number = 0;
        if (!ScanInt32(value, &number)) {
            BadNumber(key, value);
            break;
        }
        *FieldOf<int32_t>(record, entry) = number;
        if (entry.type == FIELD_INT)
            Trace(kSource, __LINE__, 3, "PutConf: %s:\t%d\n", entry.key, number);
        else
            Trace(kSource, __LINE__, 3, "PutConf: %s:\t%ld\n", entry.key, static_cast<long>(number));
        break;
    }
    case FIELD_MEDIA: {
        MediaType media = MediaCode(value);
        *FieldOf<MediaType>(record, entry) = media;
        Trace(kSource, __LINE__, 3, "PutConf: %s:\t%d\n", entry.key, static_cast<int>(media));
        break;
    }
    default:
        Trace(kSource, __LINE__, 0, "PutConf: invalid FieldType %d\n", static_cast<int>(entry.type));
        return kGwFailed;
    }
    return 0;
}

ErrorCode FetchVal(const char *user, const char *key, char *out)
{
    out[0] = '\0';
    char value[kPropertyValueMax + 1];
    if (ErrorCode rc = GetProperty(user, key, value))
        return rc;
    if (value[0] == '\0')
        return kGwNotSet;
    strcpy(out, value);

    // A key shorter than the key field may continue over key0 .. key9.
    char base[kPropertyKeyMax + 1];
    TextCopy(base, key);
    size_t length = strlen(base);
    if (length == static_cast<size_t>(kPropertyKeyMax))
        return 0;
    size_t used = strlen(out);
    for (int i = 0; i < 10; ++i) {
        char next[kPropertyKeyMax + 2];
        snprintf(next, sizeof next, "%s%d", base, i);
        if (ErrorCode rc = GetProperty(user, next, value))
            return rc;
        if (value[0] == '\0')
            break;
        size_t add = strlen(value);
        memcpy(out + used, value, add + 1);
        used += add;
    }
    return 0;
}

ErrorCode GetVal(const char *user, const char *key, const char *defaultValue, char *buffer, int len)
{
    char value[CONFIG_VALUE_SIZE];
    ErrorCode rc = FetchVal(user, key, value);
    if (rc != 0 && rc != kGwNotSet) {
        Trace(kSource, __LINE__, 0, "GetVal() failed: %s\n", ExtErrorText(rc).Text());
        return rc;
    }
    if (len <= 0)
        return 0;
    const char *text = rc == 0 ? value : defaultValue != nullptr ? defaultValue : "";
    // At most len - 1 characters, the rest of the buffer zero-filled.
    TextCopyFilled(buffer, static_cast<size_t>(len), text);
    return 0;
}

namespace {

constexpr int kNumberTextSize = 32;

// GetVal into a short buffer, with the getters' own message on failure.
ErrorCode GetNumberText(const char *user, const char *key, const char *defaultValue, char *buffer)
{
    ErrorCode rc = GetVal(user, key, defaultValue, buffer, kNumberTextSize);
    if (rc != 0)
        Trace(kSource, __LINE__, 0, "GetStr() failed: %s\n", ExtErrorText(rc).Text());
    return rc;
}

}  // namespace

ErrorCode GetStr(const char *user, const char *key, int32_t defaultValue, int32_t *out)
{
    char text[kNumberTextSize];
    snprintf(text, sizeof text, "%d", defaultValue);
    char buffer[kNumberTextSize];
    if (ErrorCode rc = GetNumberText(user, key, text, buffer))
        return rc;
    ScanInt32(buffer, out);
    return 0;
}

ErrorCode GetStr(const char *user, const char *key, long defaultValue, long *out)
{
    char text[kNumberTextSize];
    snprintf(text, sizeof text, "%ld", defaultValue);
    char buffer[kNumberTextSize];
    if (ErrorCode rc = GetNumberText(user, key, text, buffer))
        return rc;
    int32_t number = 0;
    if (ScanInt32(buffer, &number))
        *out = number;
    return 0;
}

ErrorCode GetStr(const char *user, const char *key, const char *defaultValue, MediaType *out)
{
    char buffer[kNumberTextSize];
    if (ErrorCode rc = GetNumberText(user, key, defaultValue, buffer))
        return rc;
    *out = MediaCode(buffer);
    return 0;
}

void PublishConfig()
{
    gPublished = gWork;
}

ConfigRecord *PublishedConfig()
{
    return &gPublished;
}

ConfigRecord *WorkConfig()
{
    return &gWork;
}

void ResetConfigState()
{
    gWork = ConfigRecord{};
    gPublished = ConfigRecord{};
    gLoaded = 0;
    gLoadResult = 0;
}

namespace {

// What OpenOmega's reads need besides the record.
struct ReadContext {
    const char *user;
    const char *hostName;
    const char *helpPage;
};

const ConfigKey &EntryOf(const char *key)
{
    return ConfigKeyTable[FindKey(key)];
}

const char *TextDefault(ConfigRecord *record, const ConfigKey &entry, const ReadContext &context)
{
    switch (entry.defaultKind) {
    case DEFAULT_FROM_KEY:
        return FieldOf<char>(record, EntryOf(entry.defaultText));
    case DEFAULT_HOST_NAME:
        return context.hostName;
    case DEFAULT_LOCAL_HOST:
        return GetLocalHost();
    case DEFAULT_HELP_PAGE:
        return context.helpPage;
    case DEFAULT_TRACE_ROLLMODE:
        return GetTraceRollmodeName();
    case DEFAULT_TRACE_STAMPTYPE:
        return GetTraceStamptypeName();
    default:
        return entry.defaultText != nullptr ? entry.defaultText : "";
    }
}

int32_t NumberDefault(ConfigRecord *record, const ConfigKey &entry)
{
    switch (entry.defaultKind) {
    case DEFAULT_FROM_KEY:
        return *FieldOf<int32_t>(record, EntryOf(entry.defaultText));
    case DEFAULT_LDAP_PORT:
        return CompareNoCase(record->LDTYPE, "ldaps") == 0 ? 636 : 389;
    case DEFAULT_TRACE_LEVEL:
        return GetTraceLevel();
    case DEFAULT_TRACE_MINAGE:
        return GetTraceMinage();
    case DEFAULT_TRACE_MINFILES:
        return GetTraceMinfiles();
    case DEFAULT_TRACE_FILESIZE:
        return static_cast<int32_t>(GetTraceFilesize() / 1024);
    default:
        return entry.defaultNumber;
    }
}

ErrorCode ReadSetting(ConfigRecord *record, const ConfigKey &entry, const ReadContext &context)
{
    char name[sizeof entry.key + 3];
    snprintf(name, sizeof name, entry.noPrefix != 0 ? "%s" : "SG_%s", entry.key);
    switch (entry.type) {
    case FIELD_TEXT:
        return GetVal(context.user, name, TextDefault(record, entry, context), FieldOf<char>(record, entry),
                      entry.size);
    case FIELD_INT:
        return GetStr(context.user, name, NumberDefault(record, entry), FieldOf<int32_t>(record, entry));
    case FIELD_LONG: {
        long number = *FieldOf<int32_t>(record, entry);
        ErrorCode rc = GetStr(context.user, name, static_cast<long>(NumberDefault(record, entry)), &number);
        // GetStr keeps a long within 32 bits.
        *FieldOf<int32_t>(record, entry) = static_cast<int32_t>(number);
        return rc;
    }
    case FIELD_MEDIA:
        return GetStr(context.user, name, TextDefault(record, entry, context),
                      FieldOf<MediaType>(record, entry));
    }
    return kGwFailed;
}

// The 107 settings in their read order; the first failing read ends it.
ErrorCode ReadSettings(ConfigRecord *record, const ReadContext &context)
{
    int order[sizeof ConfigKeyTable / sizeof ConfigKeyTable[0]] = {};
    int places = 0;
    for (int i = 0; i < ConfigKeyCount; ++i) {
        if (ConfigKeyTable[i].readPlace > 0) {
            order[ConfigKeyTable[i].readPlace - 1] = i;
            ++places;
        }
    }
    for (int place = 0; place < places; ++place) {
        if (ErrorCode rc = ReadSetting(record, ConfigKeyTable[order[place]], context))
            return rc;
    }
    return 0;
}

void FixUp(ConfigRecord *record)
{
    if (record->SAP > 0) {
        record->LDE = 0;
        record->DMNU = 1;
    }
    const struct {
        int32_t *field;
        const char *message;
    } atLeastOne[] = {
        {&record->GWNO, "SG_GWNO fixed to 1\n"},
        {&record->GWNI, "SG_GWNI fixed to 1\n"},
        {&record->GWNR, "SG_GWNR fixed to 1\n"},
    };
    for (const auto &item : atLeastOne) {
        if (*item.field < 1) {
            Trace(kSource, __LINE__, 1, "%s", item.message);
            *item.field = 1;
        }
    }
    if (record->DMNU != 0 && record->AGEM < kTwoMonths) {
        record->AGEM = kTwoMonths;
        Trace(kSource, __LINE__, 2, "minimum age set to two months.\n");
    }
}

// The load proper: steps up to the fix-ups; the omega client it makes is left in *omega.
ErrorCode Load(CLIENT **omega)
{
    gWork = ConfigRecord{};
    const char *faxRoot = getenv("FAXROOT");
    if (faxRoot == nullptr)
        return kGwNoRoot;

    gLoaded = 1;
    Trace(kSource, __LINE__, 3, "getting configuration data...\n");
    gWork = ConfigRecord{};
    char hostName[1024] = "";
    if (gethostname(hostName, sizeof hostName) != 0)
        hostName[0] = '\0';
    hostName[sizeof hostName - 1] = '\0';

    const char *omegaHost = GetOmegaHost();
    *omega = CreateOmegaClient(omegaHost);
    if (*omega == nullptr) {
        Trace(kSource, __LINE__, 0, "OpenOmega() failed: %s", CreateErrorText(omegaHost));
        return kGwUnavailable;
    }

    const char *user = gWork.user;
    const char *instanceText = getenv("CF_SMINST");
    if (instanceText != nullptr) {
        int32_t instance = 0;
        gLoaded = strncmp(instanceText, "SMTP", 4) == 0 && ScanInt32(instanceText + 4, &instance) ? 1 : 0;
        if (gLoaded == 0) {
            Trace(kSource, __LINE__, 0, "invalid environment CF_SMINST=%s\n", instanceText);
            return kGwFailed;
        }
        snprintf(gWork.directory, sizeof gWork.directory, "%s/gateway/smtp/smdm%d", faxRoot, instance);
        gLoaded = smtp_o_config(omega, instance, gWork.alphaHost, gWork.user);
        if (gLoaded == 0) {
            Trace(kSource, __LINE__, 0, "smtp_o_config(SMTP%d) invalid\n", instance);
            return kGwFailed;
        }
    } else {
        snprintf(gWork.directory, sizeof gWork.directory, "%s/gateway/smtp", faxRoot);
        if (smtp_o_config(omega, -1, gWork.alphaHost, gWork.user) != 1) {
            user = getenv("SG_USER");
            if (user == nullptr)
                user = "smtpgw";
            TextCopy(gWork.user, user);
            TextCopy(gWork.alphaHost, GetAlphaHost());
        }
    }

    char helpPage[CONFIG_VALUE_SIZE];
    snprintf(helpPage, sizeof helpPage, "%s/scripts/mailtrack", GetLocalHost());

    // The alpha client takes its host from the published record.
    PublishConfig();
    Trace(kSource, __LINE__, 2, "Host   = %s\n", gPublished.alphaHost);
    Trace(kSource, __LINE__, 2, "User   = %s\n", gPublished.user);
    Trace(kSource, __LINE__, 2, "MyName = %s\n", hostName);

    if (GetAlphaClient(0) == nullptr)
        return kGwUnavailable;
    if (ErrorCode rc = ReadSettings(&gWork, ReadContext{user, hostName, helpPage}))
        return rc;
    FixUp(&gWork);
    return 0;
}

}  // namespace

ErrorCode OpenOmega()
{
    if (gLoaded != 0) {
        // Loaded before: no new load; report how that load ended.
        PublishConfig();
        return gLoadResult;
    }
    CLIENT *omega = nullptr;
    ErrorCode result = Load(&omega);
    if (gLoaded != 0)
        gLoadResult = result;
    PublishConfig();
    if (omega != nullptr)
        DestroyClient(omega);
    return result;
}

ErrorCode PutVal(const char *key, const char *value)
{
    if (key == nullptr)
        key = "";
    usrconf_rec request{};
    TextCopy(request.user, gPublished.user);
    TextCopy(request.key, key);
    TextCopy(request.value, value);
    // Any reply counts as stored: the boolean in it is not looked at.
    if (!CallAlpha("a_put_usrconf_1",
                   [&](CLIENT *client) { return a_put_usrconf_1(&request, client) != nullptr; }))
        return kGwUnavailable;
    if (LowerAscii(key[0]) == 's' && LowerAscii(key[1]) == 'g' && key[2] == '_')
        key += 3;
    return PutConf(&gWork, key, value, 1);
}
