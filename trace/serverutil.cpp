#include "trace/serverutil.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "os/hostvars.h"
#include "os/textcopy.h"
#include "trace/fieldread.h"
#include "trace/posixemu.h"
#include "trace/timetext.h"

namespace {

const char *const stateNames[SERVER_STATE_COUNT] = {"stopped", "running", "shutdown", "sync", "converting"};
const char statusFile[] = "server.sta";
const char adminUser[] = "FAXADM";

constexpr size_t ROOT_MAX = 210;   // characters of FAXROOT used
constexpr size_t PATH_SIZE = 260;  // a logging path, terminator included

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using FileHolder = std::unique_ptr<FILE, FileCloser>;

// Appends text to the terminated text in buffer without passing its size.
void AppendError(char *buffer, size_t size, const char *text)
{
    if (buffer == nullptr || size == 0)
        return;
    size_t used = strnlen(buffer, size - 1);
    AppendString(buffer + used, size - used, text);
}

// "$FAXROOT/<dir>/<name>" into path (PATH_SIZE bytes); false when FAXROOT is not set or the
// path does not fit.
bool InstallationPath(const char *dir, const char *name, char *path)
{
    const char *value = getenv("FAXROOT");
    if (value == nullptr || name == nullptr)
        return false;
    char root[ROOT_MAX + 1];
    TextCopy(root, value);
    int n = snprintf(path, PATH_SIZE, "%s/%s/%s", root, dir, name);
    return n >= 0 && static_cast<size_t>(n) < PATH_SIZE;
}

}  // namespace

const char *ServerStateName(int state)
{
    return state >= 0 && state < SERVER_STATE_COUNT ? stateNames[state] : nullptr;
}

int ReadServerStatus(uint32_t *pid, int32_t *time, int *state)
{
    FileHolder file(fopen(statusFile, "r"));
    if (!file)
        return 12;
    char name[FIELD_WIDTH_LONG + 1];
    if (frdline_lu(file.get(), pid) != 1 || frdline_date(file.get(), time) != 1 ||
        frdline(file.get(), FIELD_WIDTH_LONG, name) != 1)
        return 13;
    file.reset();
    for (int i = 0; i < SERVER_STATE_COUNT; ++i) {
        if (strcmp(name, stateNames[i]) == 0) {
            *state = i;
            return 0;
        }
    }
    return 14;
}

int WriteServerStatus(int state)
{
    const char *name = ServerStateName(state);
    if (name == nullptr)
        return 10;
    FILE *file = fopen(statusFile, "w");
    if (file == nullptr)
        return 9;
    char now[TIME_TEXT_SIZE];
    TimeToString(TimeNow(), now);
    if (fprintf(file, "%u\n%s\n%s\n", static_cast<unsigned>(getpid()), now, name) < 0) {
        fclose(file);
        return 10;
    }
    return fclose(file) == 0 ? 0 : 11;
}

const char *GetLocalHostName()
{
    static char name[36];
    static struct utsname host;
    if (name[0] != '\0')
        return name;
    GetEnvCopy("LOCALHOSTNAME", sizeof name - 1, name);
    if (name[0] != '\0')
        return name;
    if (uname(&host) != 0)
        host.nodename[0] = '\0';
    return host.nodename;
}

const char *GetDevelopLogo()
{
    static char logo[11];
    char path[PATH_SIZE];
    if (!InstallationPath("config", "develop.logo", path))
        return logo;
    FileHolder file(fopen(path, "r"));
    if (!file)
        return logo;
    if (frdline(file.get(), sizeof logo - 1, logo) != 1)
        logo[0] = '\0';
    return logo;
}

int PublishLog(const char *file, const char *name)
{
    char target[PATH_SIZE];
    if (file == nullptr || !InstallationPath("logging", name, target))
        return 0;
    unlink(target);
    link(file, target);
    return 0;
}

int PublishLogKeepOld(const char *file, const char *name, const char *oldName)
{
    char target[PATH_SIZE];
    char old[PATH_SIZE];
    if (file == nullptr || !InstallationPath("logging", name, target) ||
        !InstallationPath("logging", oldName, old))
        return 0;
    unlink(old);
    rename(target, old);
    link(file, target);
    return 0;
}

const char *ErrnoText()
{
    static char text[512];
    int number = errno;
    snprintf(text, sizeof text, "errno: %d, msg text: '%s'", number, strerror(number));
    return text;
}

void ClearErrno()
{
    errno = 0;
}

unsigned SleepSeconds(unsigned seconds)
{
    return sleep(seconds);
}

int32_t CurrentTime()
{
    return GetTimeNow(nullptr);
}

int32_t MakeTime(int day, int month, int year, int hour, int minute, int second, int weekday)
{
    struct tm local = {};
    local.tm_mday = day;
    local.tm_mon = month - 1;
    local.tm_year = year;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_wday = weekday;
    local.tm_isdst = -1;
    time_t t = mktime(&local);
    if (t < INT32_MIN || t > INT32_MAX)
        return -1;
    return static_cast<int32_t>(t);
}

void CheckOrDie(int ok, const char *text)
{
    if (ok)
        return;
    char message[260];
    TextCopy(message, text);
    perror(message);
    fputs("!!!\nProgram terminated\n", stderr);
    exit(13);
}

int CheckTSI(const char *tsi, char *errorText, size_t errorSize)
{
    if (tsi == nullptr || strlen(tsi) < 5) {
        AppendError(errorText, errorSize, "TSI too short, ");
        return 0;
    }
    char illegal[256];
    size_t count = 0;
    for (const char *p = tsi; *p != '\0'; ++p) {
        char c = *p;
        bool ok = c == ' ' || c == '+' || c == '>' || c == '<' || (c >= '0' && c <= '9') ||
                  (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!ok && count < sizeof illegal - 1)
            illegal[count++] = c;
        else if (!ok)
            break;  // enough collected to name the fault
    }
    illegal[count] = '\0';
    if (count == 0)
        return 1;
    char complaint[sizeof illegal + 20];
    snprintf(complaint, sizeof complaint, "illegal char \"%s\", ", illegal);
    AppendError(errorText, errorSize, complaint);
    return 0;
}

int DigitSimilarity(const char *a, const char *b)
{
    constexpr int MAX_DIGITS = 30;
    char da[MAX_DIGITS];
    char db[MAX_DIGITS];
    int la = 0;
    int lb = 0;
    int nb = 0;
    for (const char *p = a; p != nullptr && *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9' && la < MAX_DIGITS)
            da[la++] = *p;
        if (*p != ' ')
            ++nb;
    }
    for (const char *p = b; p != nullptr && *p != '\0'; ++p)
        if (*p >= '0' && *p <= '9' && lb < MAX_DIGITS)
            db[lb++] = *p;
    for (int run = la; run >= 3; --run) {
        for (int i = 0; i + run <= la; ++i) {
            for (int j = 0; j + run <= lb; ++j) {
                if (memcmp(da + i, db + j, run) == 0) {
                    // Integer part of the sum of both terms, not the sum of their integer parts.
                    long long num = 500LL * run * nb + 500LL * run * lb;
                    return static_cast<int>(num / (static_cast<long long>(lb) * nb));
                }
            }
        }
    }
    return 0;
}

bool IsNameChar(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '#' ||
           u == '+' || u == '-' || u == '.' || u == '_' || (u >= 0x81 && u <= 0xFE);
}

bool IsValidName(const char *text)
{
    for (const char *p = text; p != nullptr && *p != '\0'; ++p)
        if (!IsNameChar(*p))
            return false;
    return true;
}

bool IsOwnerOrAdmin(const char *owner, const char *user)
{
    if (user == nullptr)
        return false;
    return strcmp(user, adminUser) == 0 || (owner != nullptr && strcmp(user, owner) == 0);
}

bool CheckOwner(const char *owner, const char *user, char *errorText, size_t errorSize)
{
    if (IsOwnerOrAdmin(owner, user))
        return true;
    char complaint[80];
    snprintf(complaint, sizeof complaint, "illegal user %.11s (owner %.11s), ", user == nullptr ? "" : user,
             owner == nullptr ? "" : owner);
    AppendError(errorText, errorSize, complaint);
    return false;
}

int MakeJobName(char *buffer, uint32_t job, int part, int letter)
{
    return snprintf(buffer, JOB_NAME_SIZE, "%" PRIx32 ".%d%c", job,
                    static_cast<int>(static_cast<int16_t>(part)), static_cast<char>('a' + letter));
}

int ParseHexLong(const char *text, uint32_t *value)
{
    *value = 0;
    if (text == nullptr)
        return 0;
    // As "%lx" reads: white space, a sign, an optional 0x, hexadecimal digits. A minus sign
    // wraps the number as the unsigned conversion does, so "-1" gives 0xffffffff.
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (!isxdigit(static_cast<unsigned char>(*p)))
        return 0;  // strtoull would take white space or a second sign here
    errno = 0;
    unsigned long long number = strtoull(p, nullptr, 16);
    if (errno == ERANGE || number > UINT32_MAX)
        return 0;
    uint32_t magnitude = static_cast<uint32_t>(number);
    *value = negative ? 0u - magnitude : magnitude;
    return 1;
}

uint32_t BitMask(int n)
{
    return 1u << (static_cast<unsigned>(n) & 31u);
}

uint32_t SetBit(uint32_t *word, int n, int flag)
{
    if (flag)
        *word |= BitMask(n);
    else
        *word &= ~BitMask(n);
    return *word;
}

int TestBit(uint32_t word, int n)
{
    return (word & BitMask(n)) != 0 ? 1 : 0;
}

int32_t LocalTimeOffset()
{
    return 0;
}

int32_t CachedLocalTimeOffset()
{
    static const int32_t offset = LocalTimeOffset();
    return offset;
}

const char *NewlineText()
{
    return "\n";
}

int QueryNotSupported(const void *, int32_t *value)
{
    *value = 0;
    return 34;
}
