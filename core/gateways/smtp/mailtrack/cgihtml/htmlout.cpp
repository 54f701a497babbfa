// HTTP header lines and HTML fragments on the standard output.
#include "cgihtml/cgihtml.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Length of a header argument up to its first CR or LF (null counts as empty).
int HeaderLen(const char *text)
{
    return text == nullptr ? 0 : static_cast<int>(std::strcspn(text, "\r\n"));
}

const char *Text(const char *text)
{
    return text != nullptr ? text : "";
}

struct FreeDeleter {
    void operator()(char *p) const { std::free(p); }
};
using Owned = std::unique_ptr<char, FreeDeleter>;

void Heading(int level, const char *text)
{
    std::printf("<h%d>%s</h%d>\n", level, Text(text), level);
}

}  // namespace

void HtmlContentType()
{
    std::printf("Content-type: text/html\r\n\r\n");
}

void HtmlMimeType(const char *type)
{
    std::printf("Content-type: %.*s\r\n\r\n", HeaderLen(type), Text(type));
}

void HtmlNphStatus(const char *status)
{
    std::printf("HTTP/1.0 %.*s\r\n", HeaderLen(status), Text(status));
    std::printf("Server: CGI using cgihtml\r\n");
}

void HtmlRedirect(const char *location)
{
    std::printf("Location: %.*s\r\n\r\n", HeaderLen(location), Text(location));
}

void HtmlStatus(const char *status)
{
    std::printf("Status: %.*s\r\n", HeaderLen(status), Text(status));
}

void HtmlPragma(const char *pragma)
{
    std::printf("Pragma: %.*s\r\n", HeaderLen(pragma), Text(pragma));
}

void HtmlSetCookie(const char *name, const char *value, const char *expires, const char *path,
                   const char *domain, short secure)
{
    std::printf("Set-Cookie: %.*s=%.*s;", HeaderLen(name), Text(name), HeaderLen(value), Text(value));
    if (expires != nullptr)
        std::printf(" EXPIRES=%.*s;", HeaderLen(expires), expires);
    if (path != nullptr)
        std::printf(" PATH=%.*s;", HeaderLen(path), path);
    if (domain != nullptr)
        std::printf(" DOMAIN=%.*s;", HeaderLen(domain), domain);
    if (secure != 0)
        std::printf(" SECURE");
    std::printf("\r\n");
}

void HtmlBegin(const char *title)
{
    std::printf("<html> <head>\n");
    std::printf("<title>%s</title>\n", Text(title));
    std::printf("</head>\n\n");
    std::printf("<body>\n");
}

void HtmlEnd()
{
    std::printf("</body> </html>\n");
}

void HtmlH1(const char *text)
{
    Heading(1, text);
}
void HtmlH2(const char *text)
{
    Heading(2, text);
}
void HtmlH3(const char *text)
{
    Heading(3, text);
}
void HtmlH4(const char *text)
{
    Heading(4, text);
}
void HtmlH5(const char *text)
{
    Heading(5, text);
}
void HtmlH6(const char *text)
{
    Heading(6, text);
}

void HtmlHiddenField(const char *name, const char *value)
{
    std::printf("<input type=hidden name=\"%s\" value=\"%s\">\n", HtmlEscape(name).c_str(),
                HtmlEscape(value).c_str());
}

void CgiPrintEntries(const CgiEntry *list)
{
    std::printf("<dl>\n");
    for (const CgiEntry *e = list; e != nullptr; e = e->next) {
        Owned name(HtmlEscapeAngles(Text(e->name)));
        Owned value(HtmlEscapeAngles(Text(e->value)));
        std::printf("  <dt> <b>%s</b>\n", name ? name.get() : "");
        std::printf("  <dd> %s\n", value ? value.get() : "");
    }
    std::printf("</dl>\n");
}

void CgiPrintEnv()
{
    static const char *const names[] = {
        "SERVER_SOFTWARE", "SERVER_NAME",    "GATEWAY_INTERFACE", "SERVER_PROTOCOL", "SERVER_PORT",
        "REQUEST_METHOD",  "PATH_INFO",      "PATH_TRANSLATED",   "SCRIPT_NAME",     "QUERY_STRING",
        "REMOTE_HOST",     "REMOTE_ADDR",    "AUTH_TYPE",         "REMOTE_USER",     "REMOTE_IDENT",
        "CONTENT_TYPE",    "CONTENT_LENGTH",
    };
    constexpr size_t count = sizeof names / sizeof names[0];
    for (size_t i = 0; i < count; ++i) {
        const char *value = std::getenv(names[i]);
        if (value == nullptr)
            continue;
        Owned escaped(HtmlEscapeAngles(value));
        std::printf("%s%s = %s<br>%s\n", i == 0 ? "<p>" : "", names[i], escaped ? escaped.get() : "",
                    i == count - 1 ? "</p>" : "");
    }
}

char *HtmlEscapeAngles(const char *text)
{
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text);
    auto *out = static_cast<char *>(std::malloc(4 * n + 1));
    if (out == nullptr)
        return nullptr;
    size_t j = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == '<') {
            std::memcpy(out + j, "&lt;", 4);
            j += 4;
        } else if (text[i] == '>') {
            std::memcpy(out + j, "&gt;", 4);
            j += 4;
        } else {
            out[j++] = text[i];
        }
    }
    out[j] = '\0';
    return out;
}

std::string HtmlEscape(const char *text)
{
    std::string out;
    if (text == nullptr)
        return out;
    for (const char *p = text; *p != '\0'; ++p) {
        switch (*p) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += *p;
            break;
        }
    }
    return out;
}
