// Host variables and string utilities.
#include "os/hostvars.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "os/hostvars_testing.h"

namespace {

// Capacity of the local host name cache, terminator not counted.
constexpr int16_t LOCALHOST_MAX = 35;

std::mutex cacheMutex;
char localHost[LOCALHOST_MAX + 1];
bool offsetRead = false;
int32_t programOffset = 0;

char unquoteBuffer[UNQUOTE_MAX + 1];

const char *HostOr(const char *variable)
{
    const char *value = getenv(variable);
    if (value && *value)
        return value;
    return GetLocalHost();
}

}  // namespace

char *BoundedCopy(char *dst, const char *src, int16_t count)
{
    char *d = dst;
    if (src) {
        while (count > 0 && *src) {
            *d++ = *src++;
            --count;
        }
    }
    *d = '\0';
    return d;
}

char *GetEnvCopy(const char *name, int16_t count, char *dst)
{
    const char *value = name ? getenv(name) : nullptr;
    BoundedCopy(dst, value ? value : "", count);
    return dst;
}

char *Unquote(const char *text, char *dst, size_t dstSize)
{
    if (!text)
        return nullptr;
    char *out = dst ? dst : unquoteBuffer;
    size_t room = dst ? dstSize : sizeof unquoteBuffer;
    if (room == 0)
        return dst;

    const char *from = text;
    size_t length = strlen(text);
    const char *p = text;
    while (*p && isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '"' || *p == '\'') {
        const char *last = text + length;
        while (last > p && isspace(static_cast<unsigned char>(last[-1])))
            --last;
        --last;  // the last character that is not white space
        if (last > p && *last == *p) {
            from = p + 1;
            length = static_cast<size_t>(last - from);
        }
    }
    if (length > room - 1)
        length = room - 1;
    memcpy(out, from, length);
    out[length] = '\0';
    return out;
}

const char *GetLocalHost()
{
    std::lock_guard<std::mutex> guard(cacheMutex);
    if (localHost[0] == '\0') {
        GetEnvCopy("LOCALHOST", LOCALHOST_MAX, localHost);
        if (localHost[0] == '\0')
            BoundedCopy(localHost, "localhost", LOCALHOST_MAX);
    }
    return localHost;
}

const char *GetAlphaHost()
{
    return HostOr("ALPHAHOST");
}
const char *GetOmegaHost()
{
    return HostOr("OMEGAHOST");
}
const char *GetLambdaHost()
{
    return HostOr("LAMBDAHOST");
}
const char *GetGammaHost()
{
    return HostOr("GAMMAHOST");
}
const char *GetThetaHost()
{
    return HostOr("THETAHOST");
}
const char *GetPiHost()
{
    return HostOr("PIHOST");
}

const char *GetRpcTransport()
{
    const char *value = getenv("RPCTRANSPORT");
    return value ? value : "tcp";
}

uint32_t RpcProgramNumber(uint32_t program)
{
    int32_t offset;
    {
        std::lock_guard<std::mutex> guard(cacheMutex);
        if (!offsetRead) {
            offsetRead = true;
            if (const char *value = getenv("TELAMORPCOFFSET")) {
                long number = 0;
                if (sscanf(value, "%ld", &number) == 1)
                    programOffset = static_cast<int32_t>(number);
            }
        }
        offset = programOffset;
    }
    return program + static_cast<uint32_t>(offset);
}

void HostVarsResetCaches()
{
    std::lock_guard<std::mutex> guard(cacheMutex);
    localHost[0] = '\0';
    offsetRead = false;
    programOffset = 0;
}
