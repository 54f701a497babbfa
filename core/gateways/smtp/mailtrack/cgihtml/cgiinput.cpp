// CGI input: choosing the source of a request, reading it with bounds, and decoding url-encoded,
// multipart/form-data and cookie texts into entry lists.
#include "cgihtml/cgihtml.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Fail(CgiError error)
{
    std::fputs(CgiErrorMessage(error), stderr);
    std::exit(1);
}

// A byte source that gives at most `left` bytes of `in`.
struct Body {
    FILE *in;
    unsigned long left;
};

int GetByte(Body &body)
{
    if (body.left == 0 || body.in == nullptr)
        return EOF;
    int c = std::getc(body.in);
    if (c == EOF)
        body.left = 0;
    else
        --body.left;
    return c;
}

// One line of at most n characters (a newline read is stored and ends it), NUL behind.
int ReadLine(Body &body, char *buffer, int n)
{
    int count = 0;
    while (count < n) {
        int c = GetByte(body);
        if (c == EOF)
            break;
        buffer[count++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    buffer[count] = '\0';
    return count;
}

// Appends (name, value) behind *last, after %XX decoding of both when decode is set.
void AddPair(CgiEntry **list, CgiEntry **last, std::string &name, std::string &value, bool decode)
{
    if (decode) {
        CgiUnescape(name.data());
        name.resize(std::strlen(name.c_str()));
        CgiUnescape(value.data());
        value.resize(std::strlen(value.c_str()));
    }
    *last = CgiListInsertAfter(list, *last, name.c_str(), value.c_str());
}

// The splitter shared by form texts and cookies: "&" (and for cookies ";") ends a pair, the first
// "=" of a pair ends its name, a token without "=" is dropped. A form text that would give more
// than CGI_MAX_ENTRIES entries fails with CGI_ERR_TOO_MANY (the entries so far stay in *list);
// *count holds the entries added.
CgiError SplitPairs(CgiEntry **list, const char *text, bool cookie, int *count)
{
    CgiEntry *last = nullptr;
    std::string name;
    std::string value;
    bool inValue = false;
    *count = 0;
    auto add = [&] {
        if (!cookie && *count >= CGI_MAX_ENTRIES)
            return false;
        AddPair(list, &last, name, value, !cookie);
        ++*count;
        return true;
    };
    for (const char *p = text; *p != '\0'; ++p) {
        char c = *p;
        if (c == '&' || (cookie && c == ';')) {
            if (inValue && !add())
                return CGI_ERR_TOO_MANY;
            name.clear();
            value.clear();
            inValue = false;
            if (c == ';' && p[1] == ' ')
                ++p;
        } else if (c == '=' && !inValue) {
            inValue = true;
        } else {
            if (c == '+' && !cookie)
                c = ' ';
            (inValue ? value : name) += c;
        }
    }
    if (inValue && !add())
        return CGI_ERR_TOO_MANY;
    return CGI_OK;
}

// CgiParseForm without the exit: the list is made empty first.
CgiError ParseFormText(CgiEntry **list, const char *text, int *count)
{
    CgiListInit(list);
    *count = 0;
    if (text == nullptr)
        return CGI_OK;
    return SplitPairs(list, text, false, count);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(text[i]);
        unsigned char b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// The multipart reader reads lines of at most this many characters.
constexpr int kLineMax = 512;
// A delimiter line ("--", boundary, "--", CR LF) must fit one line of the reader.
constexpr size_t kBoundaryMax = kLineMax - 6;
// Header lines are kept up to this length; the rest of a longer line is dropped.
constexpr size_t kHeaderMax = 8192;

// The boundary named in a multipart CONTENT_TYPE, or "" when there is none or it is too long.
std::string Boundary(const char *contentType)
{
    if (contentType == nullptr)
        return {};
    const char *at = std::strstr(contentType, "boundary=");
    if (at == nullptr)
        return {};
    std::string_view rest(at + std::strlen("boundary="));
    std::string_view boundary;
    if (!rest.empty() && rest.front() == '"') {
        size_t close = rest.find('"', 1);
        if (close == std::string_view::npos)
            return {};
        boundary = rest.substr(1, close - 1);
    } else {
        boundary = TrimBlanks(rest.substr(0, rest.find(';')));
    }
    if (boundary.empty() || boundary.size() > kBoundaryMax ||
        boundary.find_first_of("\r\n") != std::string_view::npos)
        return {};
    return std::string(boundary);
}

// What the parameters of a Content-Disposition line name.
struct Disposition {
    bool hasName = false;
    std::string name;
    bool hasFile = false;
    std::string file;
};

// Reads the name and filename parameters of a Content-Disposition header line, wherever they
// stand. A quoted value runs to the next double quote; a value without its closing quote is
// ignored.
Disposition ParseDisposition(std::string_view line)
{
    Disposition d;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return d;
    std::string_view rest = line.substr(colon + 1);
    // Skip the disposition type ("form-data").
    size_t semi = rest.find(';');
    if (semi == std::string_view::npos)
        return d;
    rest.remove_prefix(semi + 1);
    while (!rest.empty()) {
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
        size_t stop = rest.find_first_of("=;");
        std::string_view key = TrimBlanks(rest.substr(0, stop));
        if (stop == std::string_view::npos)
            break;
        if (rest[stop] == ';') {
            rest.remove_prefix(stop + 1);
            continue;
        }
        rest.remove_prefix(stop + 1);
        std::string_view value;
        bool ok = true;
        if (!rest.empty() && rest.front() == '"') {
            size_t close = rest.find('"', 1);
            if (close == std::string_view::npos) {
                ok = false;
                rest = {};
            } else {
                value = rest.substr(1, close - 1);
                rest.remove_prefix(close + 1);
            }
        } else {
            size_t end = rest.find(';');
            value = TrimBlanks(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        }
        // A NUL would cut the text anyway; keep what stands before it.
        value = value.substr(0, value.find('\0'));
        if (ok && EqualsNoCase(key, "name") && !d.hasName) {
            d.hasName = true;
            d.name = std::string(value);
        } else if (ok && EqualsNoCase(key, "filename") && !d.hasFile) {
            d.hasFile = true;
            d.file = std::string(value);
        }
        size_t next = rest.find(';');
        if (next == std::string_view::npos)
            break;
        rest.remove_prefix(next + 1);
    }
    return d;
}

// The last path component of a client's file name ("/" and "\" both separate); "" for a name
// that must not become a file.
std::string UploadName(const std::string &clientName)
{
    size_t slash = clientName.find_last_of("/\\");
    std::string base = slash == std::string::npos ? clientName : clientName.substr(slash + 1);
    if (base == "." || base == "..")
        return {};
    return base;
}

// Creates dir/name exclusively, never through a symbolic link, and writes the content.
bool WriteUpload(const char *dir, const std::string &name, const std::string &content)
{
    std::string path = std::string(dir) + "/" + name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    bool ok = true;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0)
        ok = false;
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}

// Reads the body line by line and tells delimiter lines from others.
struct MultipartReader {
    Body body;
    std::string open;   // "--" boundary
    std::string close;  // "--" boundary "--"
    char buffer[kLineMax + 1];
    int count = 0;
    bool atLineStart = true;  // the next piece begins a line
    bool pieceStartsLine = false;

    enum Kind { End, Text, Open, Close };

    // Reads the next piece into buffer/count and classifies it.
    Kind Next()
    {
        pieceStartsLine = atLineStart;
        count = ReadLine(body, buffer, kLineMax);
        if (count == 0)
            return End;
        atLineStart = buffer[count - 1] == '\n';
        if (!pieceStartsLine)
            return Text;
        // A whole line: it ended with a newline, or the input ended (a shorter piece).
        if (!atLineStart && count == kLineMax)
            return Text;
        std::string_view line(buffer, static_cast<size_t>(count));
        if (!line.empty() && line.back() == '\n')
            line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line == open)
            return Open;
        if (line == close)
            return Close;
        return Text;
    }

    std::string_view Piece() const { return std::string_view(buffer, static_cast<size_t>(count)); }
};

void StripLineEnd(std::string &content)
{
    if (!content.empty() && content.back() == '\n') {
        content.pop_back();
        if (!content.empty() && content.back() == '\r')
            content.pop_back();
    }
}

}  // namespace

const char *CgiErrorMessage(CgiError error)
{
    switch (error) {
    case CGI_OK:
        return "";
    case CGI_ERR_METHOD:
        return "caught by cgihtml: REQUEST_METHOD invalid\n";
    case CGI_ERR_NO_LENGTH:
        return "caught by cgihtml: CONTENT_LENGTH is null\n";
    case CGI_ERR_BAD_LENGTH:
        return "caught by cgihtml: CONTENT_LENGTH invalid\n";
    case CGI_ERR_SHORT_INPUT:
        return "caught by cgihtml: input length < CONTENT_LENGTH\n";
    case CGI_ERR_NO_QUERY:
        return "caught by cgihtml: QUERY_STRING is null\n";
    case CGI_ERR_UPLOAD:
        return "cgihtml Error: cannot upload file\n";
    case CGI_ERR_MEMORY:
        return "caught by cgihtml: out of memory\n";
    case CGI_ERR_TOO_MANY:
        return "caught by cgihtml: too many entries\n";
    case CGI_ERR_LONG_LINE:
        return "caught by cgihtml: input line too long\n";
    }
    return "caught by cgihtml: unknown error\n";
}

CgiRequest CgiProcessRequest()
{
    CgiRequest request;
    request.requestMethod = std::getenv("REQUEST_METHOD");
    request.queryString = std::getenv("QUERY_STRING");
    request.contentLength = std::getenv("CONTENT_LENGTH");
    request.contentType = std::getenv("CONTENT_TYPE");
    request.in = stdin;
    request.err = stderr;
    request.uploadDir = "/tmp";
    return request;
}

CgiError CgiContentLength(const char *text, unsigned long *length)
{
    if (text == nullptr || *text == '\0')
        return CGI_ERR_BAD_LENGTH;
    unsigned long value = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return CGI_ERR_BAD_LENGTH;
        value = value * 10 + static_cast<unsigned long>(*p - '0');
        if (value > CGI_MAX_CONTENT_LENGTH)
            return CGI_ERR_BAD_LENGTH;
    }
    *length = value;
    return CGI_OK;
}

CgiError CgiReadInputFrom(const CgiRequest &request, CgiEntry **list, int *count)
{
    *count = 0;
    if (request.contentType != nullptr && std::strstr(request.contentType, "multipart/form-data"))
        return CgiParseMultipartFrom(request, list, count);

    char *text = nullptr;
    CgiError error = CGI_OK;
    if (request.requestMethod == nullptr) {
        text = CgiReadInteractiveFrom(request.in, request.err, &error);
    } else if (std::strcmp(request.requestMethod, "POST") == 0) {
        error = CgiReadPostFrom(request, &text);
    } else if (std::strcmp(request.requestMethod, "GET") == 0) {
        error = CgiReadGetFrom(request, &text);
    } else {
        error = CGI_ERR_METHOD;
    }
    if (error != CGI_OK)
        return error;
    error = ParseFormText(list, text, count);
    std::free(text);
    return error;
}

char *CgiReadInteractiveFrom(FILE *in, FILE *err, CgiError *error)
{
    CgiError ignored = CGI_OK;
    if (error == nullptr)
        error = &ignored;
    *error = CGI_OK;
    if (err != nullptr) {
        std::fputs("\n--- cgihtml Interactive Mode ---\n", err);
        std::fputs("Enter CGI input string.  Remember to encode appropriate ", err);
        std::fputs("characters.\nPress ENTER when done:\n\n", err);
    }

    size_t room = 1024;  // characters, plus one byte for the NUL
    auto *text = static_cast<char *>(std::malloc(room + 1));
    if (text == nullptr) {
        *error = CGI_ERR_MEMORY;
        return nullptr;
    }
    size_t length = 0;
    for (;;) {
        int c = in != nullptr ? std::getc(in) : EOF;
        if (c == EOF || c == '\n')
            break;
        // The line is bounded like a POST body: what lies behind the ceiling stays unread.
        if (length == CGI_MAX_CONTENT_LENGTH) {
            std::free(text);
            *error = CGI_ERR_LONG_LINE;
            return nullptr;
        }
        if (length == room) {
            auto *bigger = static_cast<char *>(std::realloc(text, 2 * room + 1));
            if (bigger == nullptr) {
                std::free(text);
                *error = CGI_ERR_MEMORY;
                return nullptr;
            }
            text = bigger;
            room *= 2;
        }
        text[length++] = static_cast<char>(c);
    }
    text[length] = '\0';

    if (err != nullptr) {
        std::fprintf(err, "\n Input string: %s\nString length: %d\n", text,
                     length > INT_MAX ? INT_MAX : static_cast<int>(length));
        std::fputs("--- end cgihtml Interactive Mode ---\n\n", err);
    }
    return text;
}

CgiError CgiReadPostFrom(const CgiRequest &request, char **text)
{
    *text = nullptr;
    if (request.contentLength == nullptr)
        return CGI_ERR_NO_LENGTH;
    unsigned long length = 0;
    CgiError error = CgiContentLength(request.contentLength, &length);
    if (error != CGI_OK)
        return error;
    auto *body = static_cast<char *>(std::malloc(length + 1));
    if (body == nullptr)
        return CGI_ERR_MEMORY;
    size_t got = 0;
    if (length > 0 && request.in != nullptr)
        got = std::fread(body, 1, length, request.in);
    if (got < length) {
        std::free(body);
        return CGI_ERR_SHORT_INPUT;
    }
    body[length] = '\0';
    *text = body;
    return CGI_OK;
}

CgiError CgiReadGetFrom(const CgiRequest &request, char **text)
{
    *text = nullptr;
    if (request.queryString == nullptr)
        return CGI_ERR_NO_QUERY;
    *text = CgiStrDup(request.queryString);
    return *text != nullptr ? CGI_OK : CGI_ERR_MEMORY;
}

int CgiParseForm(CgiEntry **list, const char *text)
{
    int count = 0;
    CgiError error = ParseFormText(list, text, &count);
    if (error != CGI_OK)
        Fail(error);
    return count;
}

int CgiParseCookies(CgiEntry **list, const char *cookie)
{
    if (cookie == nullptr)
        return 0;
    CgiListInit(list);
    int count = 0;
    // A cookie text is one header line, which the web server bounds: no ceiling of entries.
    (void)SplitPairs(list, cookie, true, &count);
    return count;
}

void CgiUnescape(char *text)
{
    char *w = text;
    for (const char *r = text; *r != '\0';) {
        if (r[0] == '%' && r[1] != '\0' && r[2] != '\0') {
            *w++ = CgiHexChar(r + 1);
            r += 3;
        } else {
            *w++ = *r++;
        }
    }
    *w = '\0';
}

char CgiHexChar(const char *digits)
{
    auto value = [](char ch) {
        int d = static_cast<unsigned char>(ch);
        return d <= 0x40 ? d - 0x30 : (d & 0xDF) - 55;
    };
    int v = 16 * value(digits[0]) + value(digits[1]);
    return static_cast<char>(static_cast<unsigned char>(v & 0xFF));
}

int CgiReadLineFrom(FILE *in, char *buffer, int n)
{
    Body body{in, ULONG_MAX};
    return ReadLine(body, buffer, n < 0 ? 0 : n);
}

CgiError CgiParseMultipartFrom(const CgiRequest &request, CgiEntry **list, int *count)
{
    *count = 0;
    if (request.contentLength == nullptr)
        return CGI_OK;
    unsigned long length = 0;
    CgiError error = CgiContentLength(request.contentLength, &length);
    if (error != CGI_OK)
        return error;
    CgiListInit(list);
    std::string boundary = Boundary(request.contentType);
    if (boundary.empty())
        return CGI_OK;

    MultipartReader reader{Body{request.in, length}, "--" + boundary, "--" + boundary + "--", {}};
    // Skip everything up to the opening delimiter.
    for (;;) {
        MultipartReader::Kind kind = reader.Next();
        if (kind == MultipartReader::End || kind == MultipartReader::Close)
            return CGI_OK;
        if (kind == MultipartReader::Open)
            break;
    }

    CgiEntry *last = nullptr;
    for (;;) {
        // Header lines up to the blank line; a delimiter here ends a part without content.
        Disposition disposition;
        std::string line;
        bool lineKept = true;
        MultipartReader::Kind kind = MultipartReader::Text;
        bool inHeaders = true;
        while (inHeaders) {
            kind = reader.Next();
            if (kind == MultipartReader::End)
                return CGI_OK;  // cut off inside the headers: the part gives nothing
            if (kind != MultipartReader::Text)
                break;
            std::string_view piece = reader.Piece();
            if (line.size() + piece.size() <= kHeaderMax)
                line.append(piece);
            else
                lineKept = false;
            if (piece.back() != '\n')
                continue;
            if (line == "\r\n" || line == "\n") {
                inHeaders = false;
            } else if (lineKept && StartsWithNoCase(line, "content-disposition:")) {
                disposition = ParseDisposition(line);
            }
            line.clear();
            lineKept = true;
        }

        std::string content;
        while (kind == MultipartReader::Text) {
            kind = reader.Next();
            if (kind == MultipartReader::Text)
                content.append(reader.Piece());
            else if (kind != MultipartReader::End)
                StripLineEnd(content);  // the line end before a delimiter belongs to it
        }

        if (disposition.hasName) {
            if (disposition.hasFile) {
                last = CgiListInsertAfter(list, last, disposition.name.c_str(), disposition.file.c_str());
                ++*count;
                std::string name = UploadName(disposition.file);
                if (request.uploadDir != nullptr && !name.empty() &&
                    !WriteUpload(request.uploadDir, name, content))
                    return CGI_ERR_UPLOAD;
            } else {
                last = CgiListInsertAfter(list, last, disposition.name.c_str(), content.c_str());
                ++*count;
            }
        }
        if (kind != MultipartReader::Open)
            return CGI_OK;  // closing delimiter or end of the input
    }
}

int CgiReadInput(CgiEntry **list)
{
    int count = 0;
    CgiError error = CgiReadInputFrom(CgiProcessRequest(), list, &count);
    if (error != CGI_OK)
        Fail(error);
    return count;
}

char *CgiReadInteractive()
{
    CgiError error = CGI_OK;
    char *text = CgiReadInteractiveFrom(stdin, stderr, &error);
    if (text == nullptr)
        Fail(error);
    return text;
}

char *CgiReadPost()
{
    char *text = nullptr;
    CgiError error = CgiReadPostFrom(CgiProcessRequest(), &text);
    if (error != CGI_OK)
        Fail(error);
    return text;
}

char *CgiReadGet()
{
    char *text = nullptr;
    CgiError error = CgiReadGetFrom(CgiProcessRequest(), &text);
    if (error != CGI_OK)
        Fail(error);
    return text;
}

int CgiParseMultipart(CgiEntry **list)
{
    int count = 0;
    CgiError error = CgiParseMultipartFrom(CgiProcessRequest(), list, &count);
    if (error != CGI_OK)
        Fail(error);
    return count;
}

int CgiReadLine(char *buffer, int n)
{
    return CgiReadLineFrom(stdin, buffer, n);
}

int CgiReadCookies(CgiEntry **list)
{
    return CgiParseCookies(list, std::getenv("HTTP_COOKIE"));
}

bool CgiAcceptsImage()
{
    const char *accept = std::getenv("HTTP_ACCEPT");
    return accept != nullptr && std::strstr(accept, "image") != nullptr;
}
