// Password input, the option scanner, text copies and the number, time and duration helpers of
// the LDAP tool code.
#include "lutil/lutil.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// A required pointer argument is missing: a programming error. Checked in every build type.
#define REQUIRE(expr)                                                                   \
    do {                                                                                \
        if (!(expr)) {                                                                  \
            std::fprintf(stderr, "utils(%d): assertion failed: %s\n", __LINE__, #expr); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

char *prompt_password(const char *prompt)
{
    static char buffer[512];
    std::fprintf(stderr, "%s", prompt ? prompt : "Password: ");
    std::fflush(stderr);
    size_t length = 0;
    int c;
    while ((c = std::getchar()) != EOF) {
        if (c == '\n' || c == '\r') {
            buffer[length] = '\0';
            return buffer;
        }
        if (length < sizeof buffer - 1)
            buffer[length++] = static_cast<char>(c);
    }
    return nullptr;
}

int read_password_file(const char *path, struct berval *value)
{
    FILE *f = std::fopen(path, "r");
    if (!f) {
        std::perror(path);
        return -1;
    }
    size_t capacity = 4096;
    struct stat st;
    if (fstat(fileno(f), &st) == 0) {
        if (st.st_mode & (S_IROTH | S_IWOTH))
            std::fprintf(stderr, "Warning: Password file %s is publicly readable/writeable\n", path);
        if (st.st_size > 0)
            capacity = static_cast<size_t>(st.st_size);
    }
    char *buf = static_cast<char *>(ber_memalloc(capacity + 1));
    if (!buf) {
        std::perror(path);
        std::fclose(f);
        return -1;
    }
    // A read error or a failed growth: nothing is kept.
    auto fail = [&] {
        std::perror(path);
        ber_memfree(buf);
        value->bv_val = nullptr;
        value->bv_len = 0;
        std::fclose(f);
        return -1;
    };
    size_t length = 0;
    for (;;) {
        size_t got = std::fread(buf + length, 1, capacity - length, f);
        length += got;
        if (std::ferror(f))
            break;
        if (length < capacity) {
            if (std::feof(f))
                break;
            continue;
        }
        // Full: the file may have grown since its status was read.
        int c = std::fgetc(f);
        if (c == EOF)
            break;
        size_t grown = capacity * 2;
        char *bigger = static_cast<char *>(ber_memrealloc(buf, grown + 1));
        if (!bigger)
            return fail();
        buf = bigger;
        capacity = grown;
        buf[length++] = static_cast<char>(c);
    }
    if (std::ferror(f))
        return fail();
    buf[length] = '\0';
    value->bv_val = buf;
    value->bv_len = static_cast<ber_len_t>(length);
    std::fclose(f);
    return 0;
}

int scan_index = 1;
int scan_position = 1;
char *scan_argument = nullptr;
int scan_letter = 0;
int scan_report_errors = 1;

namespace {

// "<program><message><letter>\n" on descriptor 2 in one write, bounded however long argv[0] is.
void report_scan_error(const char *program, const char *message, int letter)
{
    if (!scan_report_errors)
        return;
    char line[4098];
    int n = std::snprintf(line, sizeof line, "%s%s%c\n", program ? program : "", message, letter);
    if (n < 0)
        return;
    size_t length = static_cast<size_t>(n);
    if (length >= sizeof line) {
        length = sizeof line - 1;
        line[length - 1] = '\n';
    }
    ssize_t ignored = write(2, line, length);
    (void)ignored;
}

}  // namespace

int scan_option(int argc, char *const *argv, const char *letters)
{
    if (scan_position == 1) {
        if (scan_index >= argc || argv[scan_index][0] != '-' || argv[scan_index][1] == '\0')
            return -1;
        if (std::strcmp(argv[scan_index], "--") == 0) {
            scan_index++;
            return -1;
        }
    }
    const char *arg = argv[scan_index];
    scan_letter = static_cast<unsigned char>(arg[scan_position]);
    const char *found = scan_letter == ':' ? nullptr : std::strchr(letters, scan_letter);
    if (!found) {
        report_scan_error(argv[0], ": illegal option--", scan_letter);
        if (arg[++scan_position] == '\0') {
            scan_index++;
            scan_position = 1;
        }
        return '?';
    }
    if (found[1] == ':') {
        if (arg[scan_position + 1] != '\0') {
            scan_argument = const_cast<char *>(&arg[scan_position + 1]);
            scan_index++;
        } else if (++scan_index >= argc) {
            report_scan_error(argv[0], ": option requires an argument--", scan_letter);
            scan_position = 1;
            return '?';
        } else {
            scan_argument = argv[scan_index++];
        }
        scan_position = 1;
    } else {
        if (arg[++scan_position] == '\0') {
            scan_position = 1;
            scan_index++;
        }
        scan_argument = nullptr;
    }
    return scan_letter;
}

char *copy_text(char *dest, const char *src)
{
    if (!dest || !src)
        return dest;
    while ((*dest = *src) != '\0') {
        dest++;
        src++;
    }
    return dest;
}

char *copy_text_n(char *dest, const char *src, size_t n)
{
    if (n == 0 || !dest || !src)
        return dest;
    for (size_t written = 1;; written++, dest++, src++) {
        *dest = *src;
        if (*dest == '\0' || written == n + 1)
            return dest;
    }
}

char *copy_bytes_end(void *dest, const void *src, size_t n)
{
    std::memcpy(dest, src, n);
    return static_cast<char *>(dest) + n;
}

namespace {

// strtoX over the whole text: 0 or -1. Strict: no leading blank and no range error.
template <typename T, typename Conv>
int ParseWhole(T *value, const char *text, int base, bool isUnsigned, bool strict, Conv conv)
{
    REQUIRE(value != nullptr);
    REQUIRE(text != nullptr);
    if (isUnsigned && text[0] == '-')
        return -1;
    if (strict && std::isspace(static_cast<unsigned char>(text[0])))
        return -1;
    char *end = nullptr;
    errno = 0;
    T v = conv(text, &end, base);
    if (end == text || *end != '\0')
        return -1;
    if (strict && errno != 0)
        return -1;
    *value = v;
    return 0;
}

}  // namespace

int parse_unsigned(unsigned long *value, const char *text, int base)
{
    return ParseWhole(value, text, base, true, false, std::strtoul);
}

int parse_long(long *value, const char *text, int base)
{
    return ParseWhole(value, text, base, false, false, std::strtol);
}

int parse_long_strict(long *value, const char *text, int base)
{
    return ParseWhole(value, text, base, false, true, std::strtol);
}

int parse_unsigned_strict(unsigned long *value, const char *text, int base)
{
    return ParseWhole(value, text, base, true, true, std::strtoul);
}

int parse_long_long_strict(long long *value, const char *text, int base)
{
    return ParseWhole(value, text, base, false, true, std::strtoll);
}

int parse_unsigned_long_long_strict(unsigned long long *value, const char *text, int base)
{
    return ParseWhole(value, text, base, true, true, std::strtoull);
}

namespace {

// Reads `count` decimal digits; false when one is not a digit.
bool Digits(const char *&p, int count, int *out)
{
    int v = 0;
    for (int i = 0; i < count; i++, p++) {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
        v = v * 10 + (*p - '0');
    }
    *out = v;
    return true;
}

}  // namespace

int parse_generalized_time(const char *text, BrokenDownTime *tm)
{
    REQUIRE(text != nullptr);
    REQUIRE(tm != nullptr);
    const char *p = text;
    int year, mon, mday, hour, min, sec;
    if (!Digits(p, 4, &year) || !Digits(p, 2, &mon) || !Digits(p, 2, &mday) || !Digits(p, 2, &hour) ||
        !Digits(p, 2, &min) || !Digits(p, 2, &sec))
        return -1;
    if (mon < 1 || mon > 12 || mday < 1 || mday > 31 || hour > 23 || min > 59 || sec > 61)
        return -1;
    int usec = 0;
    if (*p == '.') {
        p++;
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return -1;
        int digits = 0;
        for (; std::isdigit(static_cast<unsigned char>(*p)); p++) {
            if (digits < 6) {
                usec = usec * 10 + (*p - '0');
                digits++;
            }
        }
        for (; usec != 0 && digits < 6; digits++)
            usec *= 10;
    }
    if (*p != 'Z')
        return -1;
    tm->year = year - 1900;
    tm->mon = mon - 1;
    tm->mday = mday;
    tm->hour = hour;
    tm->min = min;
    tm->sec = sec;
    tm->usec = usec;
    return 0;
}

int broken_down_to_seconds(const BrokenDownTime *tm, SecondsTime *out)
{
    static const int kMonthDays[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    REQUIRE(tm != nullptr);
    REQUIRE(out != nullptr);
    out->usec = tm->usec;
    if (tm->year == -1900 && tm->mon == 0 && tm->mday == 1 && tm->hour == 0 && tm->min == 0 && tm->sec == 0) {
        out->high = 0;
        out->low = 0;
        return 0;
    }
    long long year = tm->year + 1900LL;
    // Years divisible by 4 from 1970 up to the year before.
    long long days = 365 * (year - 1970) + (year - 1969) / 4;
    days += kMonthDays[tm->mon % 12];
    if (year % 4 == 0 && tm->mon > 1)
        days++;
    days += tm->mday - 1;
    // days * 86400 = (days * 675) << 7: the part above bit 25 goes to the high word.
    long long scaled = days * 675;
    long long high = scaled >> 25;
    unsigned long long low = static_cast<unsigned long long>(scaled & 0x1FFFFFF) << 7;
    low += static_cast<unsigned long long>(tm->hour * 3600LL + tm->min * 60 + tm->sec);
    high += static_cast<long long>(low >> 32);
    out->high = static_cast<int>(high);
    out->low = static_cast<unsigned int>(low & 0xFFFFFFFFu);
    return 0;
}

size_t format_generalized_time(char *buf, size_t size, const struct tm *tm, long offset)
{
    if (size <= 15)
        return 0;
    size_t n = std::strftime(buf, size, "%Y%m%d%H%M%SZ", tm);
    if (n == 0)
        return 0;
    if (offset == 0 || size < 20)
        return n;
    long magnitude = offset < 0 ? -offset : offset;
    std::snprintf(buf + n - 1, size - (n - 1), "%c%02ld%02ld", offset < 0 ? '-' : '+', magnitude / 3600,
                  (magnitude % 3600) / 60);
    return n + 4;
}

int parse_duration(const char *text, unsigned long *seconds)
{
    static const char kUnits[] = "dhms";
    static const unsigned long kFactors[] = {86400, 3600, 60, 1};
    REQUIRE(text != nullptr);
    REQUIRE(seconds != nullptr);
    unsigned long total = 0;
    int nextUnit = 0;
    const char *p = text;
    while (*p != '\0') {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return -1;  // also a "-" sign
        char *end = nullptr;
        errno = 0;
        unsigned long v = std::strtoul(p, &end, 10);
        if (errno != 0)
            return -1;
        int unit = 3;  // a last number without unit counts as seconds
        if (*end != '\0') {
            const char *u = std::strchr(kUnits, *end);
            if (!u)
                return -1;
            unit = static_cast<int>(u - kUnits);
            end++;
        }
        if (unit < nextUnit)
            return -1;
        total += v * kFactors[unit];
        nextUnit = unit + 1;
        p = end;
    }
    *seconds = total;
    return 0;
}

int format_duration(char *buf, size_t size, unsigned long seconds)
{
    static const char kUnits[] = "dhms";
    unsigned long parts[4] = {seconds / 86400, (seconds % 86400) / 3600, (seconds % 3600) / 60, seconds % 60};
    size_t used = 0;
    if (seconds == 0) {
        int n = std::snprintf(buf, size, "%lu%c", 0UL, 's');
        return n < 0 || static_cast<size_t>(n) >= size ? -1 : 0;
    }
    for (int i = 0; i < 4; i++) {
        if (parts[i] == 0)
            continue;
        int n = std::snprintf(buf + used, size - used, "%lu%c", parts[i], kUnits[i]);
        if (n < 0 || static_cast<size_t>(n) >= size - used)
            return -1;
        used += static_cast<size_t>(n);
    }
    return 0;
}

unsigned int multiply_add_big(unsigned char *num, size_t len, unsigned int factor, unsigned int add)
{
    unsigned long long carry = add;
    for (size_t i = len; i-- > 0;) {
        unsigned long long v = static_cast<unsigned long long>(num[i]) * factor + carry;
        num[i] = static_cast<unsigned char>(v & 0xFF);
        carry = v >> 8;
    }
    return static_cast<unsigned int>(carry);
}

namespace {

// One chunk of at most 8 digits through strtoul; false when it is not all digits.
bool ParseChunk(const char *digits, size_t count, int base, unsigned long *out)
{
    char chunk[9];
    std::memcpy(chunk, digits, count);
    chunk[count] = '\0';
    if (!std::isxdigit(static_cast<unsigned char>(chunk[0])))
        return false;
    char *end = nullptr;
    *out = std::strtoul(chunk, &end, base);
    return *end == '\0';
}

}  // namespace

int parse_big_integer(const struct berval *in, struct berval *out)
{
    REQUIRE(in != nullptr && out != nullptr);
    if (out->bv_len < in->bv_len)
        return -1;
    const char *text = in->bv_val;
    size_t length = in->bv_len;
    unsigned char *dest = reinterpret_cast<unsigned char *>(out->bv_val);

    const char *hex = nullptr;
    size_t hexCount = 0;
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        hex = text + 2;
        hexCount = length - 2;
    } else if (length > 3 && text[0] == '\'' && text[length - 2] == '\'' && text[length - 1] == 'H') {
        hex = text + 1;
        hexCount = length - 3;
    }
    if (hex) {
        size_t written = 0;
        size_t chunk = hexCount % 8 ? hexCount % 8 : 8;
        for (size_t pos = 0; pos < hexCount; pos += chunk, chunk = 8) {
            unsigned long v;
            if (!ParseChunk(hex + pos, chunk, 16, &v))
                return -1;
            size_t bytes = (chunk + 1) / 2;
            for (size_t b = bytes; b-- > 0;) {
                dest[written + b] = static_cast<unsigned char>(v & 0xFF);
                v >>= 8;
            }
            written += bytes;
        }
        out->bv_len = static_cast<ber_len_t>(written);
        return 0;
    }

    bool negative = length > 0 && text[0] == '-';
    const char *digits = negative ? text + 1 : text;
    size_t count = negative ? length - 1 : length;
    if (count == 0)
        return -1;
    size_t room = out->bv_len;
    unsigned char small[64];
    std::vector<unsigned char> large;
    unsigned char *work = small;
    if (room > sizeof small) {
        large.assign(room, 0);
        work = large.data();
    } else {
        std::memset(small, 0, sizeof small);
    }
    size_t chunk = count % 8 ? count % 8 : 8;
    for (size_t pos = 0; pos < count; pos += chunk, chunk = 8) {
        unsigned long v;
        if (!ParseChunk(digits + pos, chunk, 10, &v))
            return -1;
        unsigned int factor = 1;
        for (size_t i = 0; i < chunk; i++)
            factor *= 10;
        multiply_add_big(work, room, factor, static_cast<unsigned int>(v));
    }
    if (negative) {
        // Two's complement: invert and add one.
        for (size_t i = 0; i < room; i++)
            work[i] = static_cast<unsigned char>(~work[i]);
        multiply_add_big(work, room, 1, 1);
    }
    unsigned char fill = negative ? 0xFF : 0x00;
    size_t first = 0;
    while (first + 1 < room && work[first] == fill)
        first++;
    bool topSet = (work[first] & 0x80) != 0;
    if (topSet != negative && first > 0)
        first--;  // keep one sign byte
    size_t used = room - first;
    std::memmove(dest, work + first, used);
    out->bv_len = static_cast<ber_len_t>(used);
    return 0;
}

int format_bounded(char *buf, size_t size, char **end, size_t *length, const char *format, ...)
{
    REQUIRE(buf != nullptr);
    REQUIRE(end != nullptr);
    REQUIRE(length != nullptr);
    REQUIRE(format != nullptr);
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, size, format, args);
    va_end(args);
    if (n < 0)
        return n;
    *length = static_cast<size_t>(n);
    if (static_cast<size_t>(n) < size) {
        *end = buf + n;
        return 0;
    }
    *end = size > 0 ? buf + size - 1 : buf;
    return 1;
}

void to_backslashes(char *text)
{
    for (; text && *text; text++) {
        if (*text == '/')
            *text = '\\';
    }
}

char *program_base_name(char *defaultName, int argc, char **argv)
{
    if (argc == 0 || !argv || !argv[0])
        return defaultName;
    to_backslashes(argv[0]);
    char *base = std::strrchr(argv[0], '\\');
    base = base ? base + 1 : argv[0];
    size_t len = std::strlen(base);
    if (len > 4 && strcasecmp(base + len - 4, ".exe") == 0)
        base[len - 4] = '\0';
    return base;
}

void *find_last_byte(const void *buf, int c, size_t n)
{
    const unsigned char *p = static_cast<const unsigned char *>(buf);
    for (size_t i = n; i-- > 0;) {
        if (p[i] == static_cast<unsigned char>(c))
            return const_cast<unsigned char *>(p + i);
    }
    return nullptr;
}

int create_unique_file(char *nameTemplate)
{
    // mkstemp creates the file with O_EXCL and mode 0600.
    return mkstemp(nameTemplate);
}
