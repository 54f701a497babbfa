#include "mailtrack/gwsetup.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "mailtrack/gwconfig.h"
#include "mailtrack/gwutils.h"
#include "mailtrack/ohandles.h"
#include "os/sysutil.h"
#include "os/textcopy.h"
#include "trace/timetext.h"
#include "trace/trace.h"
#include "trace/trace_params.h"

namespace {

const char kSource[] = "utils";

// The SY code of the calling thread's last system error.
ErrorCode LastSystemCode()
{
    return EC_SY | (static_cast<ErrorCode>(SysGetLastError()) & EC_NUMBER_MASK);
}

}  // namespace

ErrorCode OSMkDir(const char *name)
{
    std::string path = std::string(PublishedConfig()->directory) + "/" + (name != nullptr ? name : "");
    if (SysAccess(path.c_str(), 0) == 0 && SysMkDir(path.c_str(), 0755) == 0) {
        ErrorCode code = LastSystemCode();
        Trace(kSource, __LINE__, 0, "OSMkDir(%s) failed: %s\n", path.c_str(), ExtErrorText(code).Text());
        return code;
    }
    // Prove the directory writable with a file that is removed at once.
    path += "/file.dat";
    FILE *probe = fopen(path.c_str(), "w");
    if (probe == nullptr) {
        ErrorCode code = LastSystemCode();
        Trace(kSource, __LINE__, 0, "mailbox dir is not writeable. can not create '%s': %s\n", path.c_str(),
              ExtErrorText(code).Text());
        return code;
    }
    fclose(probe);
    SysDeleteFile(path.c_str());
    return 0;
}

namespace {

bool IsAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsAsciiAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A caller's buffer that takes characters while there is room and always ends terminated.
struct OutText {
    char *buffer;
    size_t size;
    size_t length = 0;

    void Put(char c)
    {
        if (length + 1 < size)
            buffer[length++] = c;
    }
    void End()
    {
        if (size > 0)
            buffer[std::min(length, size - 1)] = '\0';
    }
};

}  // namespace

int ParseExtAttr(const char *text, size_t *cursor, char *name, size_t nameSize, char *value, size_t valueSize)
{
    OutText outName{name, nameSize};
    OutText outValue{value, valueSize};
    size_t pos = *cursor;
    auto skipSpace = [&] {
        while (IsAsciiSpace(text[pos]))
            ++pos;
    };

    skipSpace();
    if (text[pos] == '\0') {
        outName.End();
        outValue.End();
        *cursor = pos;
        return 0;
    }
    bool ok = false;
    do {
        if (!IsAsciiAlnum(text[pos]))
            break;
        while (IsAsciiAlnum(text[pos]))
            outName.Put(text[pos++]);
        skipSpace();
        if (text[pos] != '=')
            break;
        ++pos;
        skipSpace();
        if (text[pos] == '\0')
            break;
        bool quoted = text[pos] == '"';
        if (quoted)
            ++pos;
        for (;;) {
            char c = text[pos];
            if (c == '\0') {
                ok = !quoted;  // the closing quote is missing
                break;
            }
            if (quoted && c == '"') {
                ++pos;
                ok = true;
                break;
            }
            if (!quoted && IsAsciiSpace(c)) {
                ok = true;
                break;
            }
            if (c == '\\' && text[pos + 1] == '"') {
                outValue.Put('"');
                pos += 2;
                continue;
            }
            outValue.Put(c);
            ++pos;
        }
    } while (false);

    outName.End();
    outValue.End();
    *cursor = pos;
    if (ok)
        return 1;
    Trace(kSource, __LINE__, 0, "syntax error in extension attribute!\n");
    for (size_t i = 0; i <= pos; ++i) {
        if (text[i] != '\0')
            TracePlain(kSource, __LINE__, 0, "%c", text[i]);
    }
    TracePlain(kSource, __LINE__, 0, "<--here!\n");
    return 0;
}

int ParseExtAttr(const char *text, size_t *cursor, char *name, char *value)
{
    size_t size = strlen(text) + 1;
    return ParseExtAttr(text, cursor, name, size, value, size);
}

void SaveTraceSetup(int gateway)
{
    ReadTraceConfig(".");
    ConfigRecord *config = PublishedConfig();
    TextCopy(config->TRSTAMP, GetTraceStamptypeName());
    (gateway != 0 ? config->GWDL : config->DMDL) = GetTraceLevel();
    config->TRCNUM = GetTraceMinfiles();
    config->TRCDAYS = GetTraceMinage();
    config->TRCSIZE = static_cast<int32_t>(GetTraceFilesize() / 1024);
    TextCopy(config->TRCMODE, GetTraceRollmodeName());
}

namespace {

// One header line of at most 119 characters, its line end included.
void AddHeaderLine(std::string &header, const char *label, const char *value)
{
    char line[119];
    snprintf(line, sizeof line, "%s%s", label, value);
    header += line;
    header += '\n';
}

}  // namespace

void RestoreTraceSetup(const char *text, int gateway)
{
    char directory[260];
    if (getcwd(directory, sizeof directory) == nullptr)
        directory[0] = '\0';
    Trace(kSource, __LINE__, -1, "Path=%s\n", directory);
    char hostName[100];
    if (gethostname(hostName, sizeof hostName) != 0)
        hostName[0] = '\0';
    hostName[sizeof hostName - 1] = '\0';

    const ConfigRecord *config = PublishedConfig();
    std::string header;
    AddHeaderLine(header, "", text != nullptr ? text : "");
    AddHeaderLine(header, "Path=", directory);
    AddHeaderLine(header, "Host   = ", config->alphaHost);
    AddHeaderLine(header, "User   = ", config->user);
    AddHeaderLine(header, "MyName = ", hostName);
    TraceSetHeader(header.c_str());

    SetTraceStamptype(config->TRSTAMP);
    SetTraceLevel(gateway != 0 ? config->GWDL : config->DMDL);
    SetTraceMinfiles(config->TRCNUM);
    SetTraceMinage(config->TRCDAYS);
    // Units of 1024 bytes; a size beyond 32 bits of bytes is kept at the largest.
    uint64_t bytes = config->TRCSIZE > 0 ? static_cast<uint64_t>(config->TRCSIZE) * 1024u : 0;
    SetTraceFilesize(static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX)));
    SetTraceRollmode(config->TRCMODE);
    TraceSetPrintSettings(1);
    WriteTraceConfig(".");
}

namespace {

constexpr int kBackoffStep = 60;
constexpr int kBackoffMax = 900;

CLIENT *gAlphaClient = nullptr;
int gBackoff = 0;
int32_t gNextTry = 0;
int gFirstCall = 1;
AlphaClientClock gClock = nullptr;

int32_t Now()
{
    return gClock != nullptr ? gClock() : TimeNow();
}

}  // namespace

CLIENT *GetAlphaClient(int force)
{
    if (gFirstCall != 0) {
        // Configuration texts are looked up through whatever client is cached then.
        SetErrorTextClient(&gAlphaClient);
        gFirstCall = 0;
    }
    if (force != 0) {
        Trace(kSource, __LINE__, 2, "force reconnect, clnt %s\n",
              gAlphaClient != nullptr ? "exists" : "is null");
        if (gAlphaClient != nullptr)
            alpha_destroy(gAlphaClient);
        gAlphaClient = nullptr;
    }
    if (gAlphaClient != nullptr)
        return gAlphaClient;
    if (Now() < gNextTry)
        return nullptr;
    const char *host = PublishedConfig()->alphaHost;
    if (alpha_create(&gAlphaClient, host) != 0) {
        // The published host as it is: empty when the default alpha host was tried.
        Trace(kSource, __LINE__, 0, "alpha at %s unavailable\n", host);
        gAlphaClient = nullptr;
        gBackoff = MinInt(gBackoff + kBackoffStep, kBackoffMax);
        gNextTry = Now() + gBackoff;
        return nullptr;
    }
    gBackoff = 0;
    gNextTry = 0;
    return gAlphaClient;
}

void DropAlphaClient()
{
    if (gAlphaClient != nullptr)
        DestroyClient(gAlphaClient);
    gAlphaClient = nullptr;
}

bool HasAlphaClient()
{
    return gAlphaClient != nullptr;
}

AlphaClientClock SetAlphaClientClock(AlphaClientClock clock)
{
    AlphaClientClock before = gClock;
    gClock = clock;
    return before;
}

void ResetAlphaClientCache()
{
    DropAlphaClient();
    gBackoff = 0;
    gNextTry = 0;
    gFirstCall = 1;
    SetErrorTextClient(nullptr);
}
