#include "trace/fieldread.h"

#include <sys/statvfs.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "os/textcopy.h"
#include "trace/support_testing.h"
#include "trace/timetext.h"

namespace {

// One number as the runtime's scanf conversions read it: leading white space, a sign, for base
// 16 an optional 0x, then digits. Digits beyond 32 bits are consumed and flagged.
struct ScannedNumber {
    bool read = false;
    bool negative = false;
    bool overflow = false;
    uint64_t magnitude = 0;
    const char *end = nullptr;
};

int DigitValue(char c, int base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

ScannedNumber ScanNumber(const char *p, int base)
{
    ScannedNumber n;
    n.end = p;
    while (isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '+' || *p == '-')
        n.negative = *p++ == '-';
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2], 16) >= 0)
        p += 2;
    for (int d; (d = DigitValue(*p, base)) >= 0; ++p) {
        n.read = true;
        if (!n.overflow) {
            n.magnitude = n.magnitude * base + d;
            if (n.magnitude > UINT32_MAX)
                n.overflow = true;
        }
    }
    if (n.read)
        n.end = p;
    return n;
}

// An unsigned number of at most max; a minus sign wraps it as the unsigned conversions do.
bool ReadUnsigned(const char *text, int base, uint32_t max, uint32_t *value)
{
    ScannedNumber n = ScanNumber(text, base);
    if (!n.read || n.overflow || n.magnitude > max)
        return false;
    uint32_t v = static_cast<uint32_t>(n.magnitude);
    if (n.negative)
        v = static_cast<uint32_t>(-v) & max;
    *value = v;
    return true;
}

bool ReadSigned32(const char *text, int32_t *value)
{
    ScannedNumber n = ScanNumber(text, 10);
    if (!n.read || n.overflow)
        return false;
    int64_t v = n.negative ? -static_cast<int64_t>(n.magnitude) : static_cast<int64_t>(n.magnitude);
    if (v < INT32_MIN || v > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

// Reads one field line of the given width into buffer (width + 1 bytes).
bool ReadField(FILE *stream, int width, char *buffer)
{
    return frdline(stream, width, buffer) == 1;
}

// One field line of at most width (up to FIELD_WIDTH_LONG) characters read as an unsigned number.
bool ReadUnsignedField(FILE *stream, int width, int base, uint32_t max, uint32_t *value)
{
    char text[FIELD_WIDTH_LONG + 1];
    return ReadField(stream, width, text) && ReadUnsigned(text, base, max, value);
}

int SystemDiskSpace(const char *path, uint64_t *available, uint64_t *total)
{
    // Like a drive's root, an existing directory above a path that does not exist yet answers.
    std::string p = (path == nullptr || *path == '\0') ? std::string(".") : std::string(path);
    struct statvfs fs;
    while (statvfs(p.c_str(), &fs) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return -1;
        while (p.size() > 1 && p.back() == '/')
            p.pop_back();
        size_t slash = p.find_last_of('/');
        if (slash == std::string::npos) {
            if (p == ".")
                return -1;
            p.assign(1, '.');
        } else if (slash == 0) {
            if (p == "/")
                return -1;
            p = "/";
        } else {
            p.resize(slash);
        }
    }
    *available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    *total = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
    return 0;
}

DiskSpaceQuery diskSpaceQuery = SystemDiskSpace;

}  // namespace

int frdline(FILE *stream, int width, char *buffer)
{
    if (width < 0)
        width = 0;
    int length = 0;
    int c = getc(stream);
    if (c == EOF) {
        buffer[0] = '\0';
        return 0;
    }
    while (c != EOF && c != '\n' && length < width) {
        buffer[length++] = static_cast<char>(c);
        c = getc(stream);
    }
    // A line longer than the width: the rest up to and including its newline is dropped.
    while (c != EOF && c != '\n')
        c = getc(stream);
    buffer[length] = '\0';
    // A NUL inside the line ends the text, as for any C string.
    length = static_cast<int>(strlen(buffer));
    while (length > 0 && isspace(static_cast<unsigned char>(buffer[length - 1])))
        buffer[--length] = '\0';
    return 1;
}

int frdline_byte(FILE *stream, uint8_t *value)
{
    char text[FIELD_WIDTH_LONG + 1];
    if (!ReadField(stream, FIELD_WIDTH_LONG, text))
        return 0;
    uint32_t number = 0;
    if (!ReadUnsigned(text, 16, UINT32_MAX, &number)) {
        *value = 0;
        return 0;
    }
    *value = static_cast<uint8_t>(number & 0xff);
    return number < 256 ? 1 : 0;
}

int frdline_c(FILE *stream, char *value)
{
    int c = getc(stream);
    if (c == EOF)
        return 0;
    *value = c == '\n' ? '\0' : static_cast<char>(c);
    while (c != EOF && c != '\n')
        c = getc(stream);
    return 1;
}

int frdline_hu(FILE *stream, uint16_t *value)
{
    uint32_t number = 0;
    if (!ReadUnsignedField(stream, FIELD_WIDTH_SHORT, 10, UINT16_MAX, &number))
        return 0;
    *value = static_cast<uint16_t>(number);
    return 1;
}

int frdline_d(FILE *stream, int32_t *value)
{
    char text[FIELD_WIDTH_SHORT + 1];
    if (!ReadField(stream, FIELD_WIDTH_SHORT, text))
        return 0;
    return ReadSigned32(text, value) ? 1 : 0;
}

int frdline_lu(FILE *stream, uint32_t *value)
{
    return ReadUnsignedField(stream, FIELD_WIDTH_LONG, 10, UINT32_MAX, value) ? 1 : 0;
}

int frdline_lx(FILE *stream, uint32_t *value)
{
    return ReadUnsignedField(stream, FIELD_WIDTH_LONG, 16, UINT32_MAX, value) ? 1 : 0;
}

int frdline_byte(FILE *stream, char *value)
{
    uint8_t byte = 0;
    int result = frdline_byte(stream, &byte);
    *value = static_cast<char>(byte);
    return result;
}

int frdline_hu(FILE *stream, int16_t *value)
{
    uint16_t number = 0;
    if (frdline_hu(stream, &number) != 1)
        return 0;
    *value = static_cast<int16_t>(number);
    return 1;
}

int frdline_lu(FILE *stream, int32_t *value)
{
    uint32_t number = 0;
    if (frdline_lu(stream, &number) != 1)
        return 0;
    *value = static_cast<int32_t>(number);
    return 1;
}

int frdline_lx(FILE *stream, int32_t *value)
{
    uint32_t number = 0;
    if (frdline_lx(stream, &number) != 1)
        return 0;
    *value = static_cast<int32_t>(number);
    return 1;
}

int frdline_time(FILE *stream, int flags, int32_t *value)
{
    if ((flags & TIME_FLAG_SECONDS) == 0)
        return frdline_date(stream, value);
    char text[FIELD_WIDTH_LONG + 1];
    if (!ReadField(stream, FIELD_WIDTH_LONG, text))
        return 0;
    if (text[0] == '\0') {
        *value = 0;
        return 1;
    }
    uint32_t seconds = 0;
    if (!ReadUnsigned(text, 10, UINT32_MAX, &seconds))
        return 0;
    *value = static_cast<int32_t>(seconds);
    return 1;
}

int frdline_date(FILE *stream, int32_t *value)
{
    char text[FIELD_WIDTH_LONG + 1];
    if (!ReadField(stream, FIELD_WIDTH_LONG, text))
        return 0;
    return ParseDateTime(text, value);
}

int ParseDateTime(const char *text, int32_t *value)
{
    if (text == nullptr || *text == '\0') {
        *value = 0;
        return 1;
    }
    // Up to six numbers, each of the first five followed by one separator character; count
    // counts numbers and separators read. A number beyond 16 bits is read but marked unusable.
    int k[6] = {};
    bool bad[6] = {};
    char sep[5] = {};
    int count = 0;
    const char *p = text;
    for (int i = 0; i < 6; ++i) {
        ScannedNumber n = ScanNumber(p, 10);
        if (!n.read)
            break;
        k[i] = static_cast<int>(n.magnitude & 0xffff);
        bad[i] = n.overflow || n.negative || n.magnitude > UINT16_MAX;
        ++count;
        p = n.end;
        if (i == 5 || *p == '\0')
            break;
        sep[i] = *p++;
        ++count;
    }
    if (count == 1) {
        ScannedNumber n = ScanNumber(text, 10);
        if (!n.negative && !n.overflow && n.magnitude > 315529199) {
            if (n.magnitude > INT32_MAX)
                return 0;
            *value = static_cast<int32_t>(n.magnitude);
            return 1;
        }
    }
    if (count < 1)
        return 0;

    struct tm local = {};
    int first = 0;     // index of the first time field
    int rest = count;  // items read from the first time field on
    if (count >= 7) {
        if (sep[0] != '.' || sep[1] != '.' || sep[2] != ' ')
            return 0;
        if (bad[0] || bad[1] || bad[2])
            return 0;
        int year = k[2] % 100;
        local.tm_mday = k[0];
        local.tm_mon = k[1] - 1;
        local.tm_year = year < 69 ? 100 + year : year;
        local.tm_isdst = -1;
        first = 3;
        rest = count - 6;
    } else {
        time_t now = time(nullptr);
        if (localtime_r(&now, &local) == nullptr)
            return 0;
    }
    if (bad[first])
        return 0;
    local.tm_hour = k[first];
    local.tm_min = 0;
    local.tm_sec = 0;
    if (rest > 1 && sep[first] != ':')
        return 0;
    if (rest > 2) {
        if (bad[first + 1])
            return 0;
        local.tm_min = k[first + 1];
    }
    if (rest > 3 && sep[first + 1] != ':')
        return 0;
    if (rest > 4) {
        if (bad[first + 2])
            return 0;
        local.tm_sec = k[first + 2];
    }
    if (rest > 5)
        return 0;
    time_t t = mktime(&local);
    if (t == static_cast<time_t>(-1) || t < INT32_MIN || t > INT32_MAX)
        return 0;
    *value = static_cast<int32_t>(t);
    return 1;
}

int FormatDateTime(char *buffer, int flags, int32_t t)
{
    if (flags & TIME_FLAG_SECONDS)
        return snprintf(buffer, TIME_TEXT_SIZE, "%" PRIu32, static_cast<uint32_t>(t));
    if (t != 0)
        return TimeToString(t, buffer);
    buffer[0] = '\0';
    return 0;
}

const char *DoubleToString(double value)
{
    static char text[40];
    char *p = text;
    char *end = text + sizeof text;
    *p = '\0';
    if (value < 0) {
        p = AppendString(p, end - p, "-");
        value = -value;
    }
    if (value < 2147483647.0) {
        double whole = std::floor(value);
        p += snprintf(p, end - p, "%" PRIu32 ".", static_cast<uint32_t>(whole));
        // 1 + fraction keeps the leading zeros of the decimals; its leading 1 is not written.
        char decimals[16];
        snprintf(decimals, sizeof decimals, "%" PRIu32,
                 static_cast<uint32_t>((value - whole + 1.0) * 1000000000.0));
        AppendString(p, end - p, decimals + 1);
    } else {
        AppendString(p, end - p, "*****************");
    }
    return text;
}

char *AppendString(char *dest, size_t size, const char *text)
{
    return dest + TextCopy(dest, size, text);
}

int ValueOrZero(const int *value)
{
    return value == nullptr ? 0 : *value;
}

const char *GetBannerText()
{
    return "Messaging server support library";
}

DiskSpaceQuery SetDiskSpaceQuery(DiskSpaceQuery query)
{
    DiskSpaceQuery before = diskSpaceQuery;
    diskSpaceQuery = query == nullptr ? SystemDiskSpace : query;
    return before;
}

int CheckDiskSpace(const char *path)
{
    uint64_t available = 0;
    uint64_t total = 0;
    if (diskSpaceQuery(path, &available, &total) != 0 || total == 0)
        return 37;
    double ratio = static_cast<double>(available) / static_cast<double>(total);
    if (ratio > 0.05)
        return 0;
    if (ratio > 0.02)
        return 72;
    return 73;
}

const char *TrueFalseText(int flag)
{
    return flag ? "true" : "false";
}

const char *OkText(int flag)
{
    return flag ? "ok" : "not ok";
}

char UpperChar(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

char *UpperString(char *text)
{
    for (char *p = text; p != nullptr && *p != '\0'; ++p)
        *p = UpperChar(*p);
    return text;
}

bool IsYes(char c)
{
    char u = UpperChar(c);
    return u == 'J' || u == 'Y';
}

char YesNoChar(int flag)
{
    return flag ? 'J' : 'N';
}
