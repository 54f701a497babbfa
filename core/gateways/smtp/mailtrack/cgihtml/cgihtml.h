// cgihtml: the small CGI library of the report program.
//
// Input: the request (query string, POST body, multipart/form-data body, or a line typed by hand
// when no web server started the program) is decoded into an ordered list of name/value entries.
// Output: HTTP header lines and fixed HTML fragments written with printf to the standard output.
//
// Include as "cgihtml/cgihtml.h" or "cgihtml.h"; link the target `cgihtml`.
//
// Every byte of the request comes from whoever can reach the web server: all readers are bounded,
// and a request that cannot be read ends the program (exit code 1) before anything is written to
// the standard output, with one of the texts of CgiErrorMessage on the standard error.
#pragma once

#include <cstdio>
#include <string>

// One node of an entry list. The node owns both texts (copies made when the node is created, in
// the node's own malloc'd block; CgiListClear frees them with the node).
struct CgiEntry {
    char *name;
    char *value;
    CgiEntry *next;
};

// A list is a pointer to its first node; the empty list is a null pointer. Nodes keep the order in
// which the request gave the pairs; a name may occur more than once.

// Largest accepted CONTENT_LENGTH, and the bound of every request body and of the typed line.
constexpr unsigned long CGI_MAX_CONTENT_LENGTH = 1024UL * 1024UL;
// Most entries that one url-encoded text (query string, POST body, typed line) may give: as many
// as a body of the largest length holds pairs of one-character names and values ("a=1&"). An
// entry costs more memory than the two bytes of an empty pair ("=&"); the ceiling keeps a body
// within its bound from taking more than a few megabytes.
constexpr int CGI_MAX_ENTRIES = static_cast<int>(CGI_MAX_CONTENT_LENGTH / 4);

// ---------------------------------------------------------------------------------------------
// Input from the process (environment, standard input). These print the message and exit(1) on
// a request that cannot be read.

// Chooses the source (multipart when CONTENT_TYPE contains "multipart/form-data"; else by
// REQUEST_METHOD: unset -> interactive, "POST", "GET", anything else -> exit 1), reads it and
// parses it into *list. Returns the number of entries.
int CgiReadInput(CgiEntry **list);
// The typed input line (prompts on the standard error), malloc'd, never freed by the library. A
// line of more than CGI_MAX_CONTENT_LENGTH characters ends the program.
char *CgiReadInteractive();
// The POST body of CONTENT_LENGTH bytes with a NUL behind, malloc'd.
char *CgiReadPost();
// A malloc'd copy of QUERY_STRING.
char *CgiReadGet();
// Parses url-encoded text into *list (made empty first). Returns the number of entries added; a
// text of more than CGI_MAX_ENTRIES entries ends the program.
int CgiParseForm(CgiEntry **list, const char *text);
// Decodes %XX escapes in place; a "%" with fewer than two characters behind it stays as it is.
void CgiUnescape(char *text);
// The character that the two characters digits[0], digits[1] give as hexadecimal digits (not
// checked to be hexadecimal).
char CgiHexChar(const char *digits);
// Parses a multipart/form-data body from the standard input (CONTENT_TYPE, CONTENT_LENGTH).
// File parts are stored in /tmp (see CgiParseMultipartFrom). Returns the number of entries.
int CgiParseMultipart(CgiEntry **list);
// Reads one line of the standard input: see CgiReadLineFrom.
int CgiReadLine(char *buffer, int n);
// Parses HTTP_COOKIE into *list. Unset: returns 0 and leaves *list unchanged.
int CgiReadCookies(CgiEntry **list);
// True when HTTP_ACCEPT is set and contains "image".
bool CgiAcceptsImage();

// ---------------------------------------------------------------------------------------------
// The same readers over a given request, for callers that must not exit (tests, fuzzers). They
// return CGI_OK or the failure; the functions above print CgiErrorMessage of it and exit(1).

enum CgiError {
    CGI_OK = 0,
    CGI_ERR_METHOD,       // REQUEST_METHOD neither "POST" nor "GET"
    CGI_ERR_NO_LENGTH,    // POST without CONTENT_LENGTH
    CGI_ERR_BAD_LENGTH,   // CONTENT_LENGTH not a decimal number in 0..CGI_MAX_CONTENT_LENGTH
    CGI_ERR_SHORT_INPUT,  // POST body shorter than CONTENT_LENGTH
    CGI_ERR_NO_QUERY,     // GET without QUERY_STRING
    CGI_ERR_UPLOAD,       // upload file cannot be created
    CGI_ERR_MEMORY,       // out of memory
    CGI_ERR_TOO_MANY,     // a url-encoded text of more than CGI_MAX_ENTRIES entries
    CGI_ERR_LONG_LINE,    // a typed line of more than CGI_MAX_CONTENT_LENGTH characters
};

// The exact standard-error text of a failure ("caught by cgihtml: ...\n" or "cgihtml Error: ...\n");
// "" for CGI_OK.
const char *CgiErrorMessage(CgiError error);

// Where a request is read from. Null texts are unset variables.
struct CgiRequest {
    const char *requestMethod = nullptr;  // REQUEST_METHOD
    const char *queryString = nullptr;    // QUERY_STRING
    const char *contentLength = nullptr;  // CONTENT_LENGTH
    const char *contentType = nullptr;    // CONTENT_TYPE
    FILE *in = nullptr;                   // request body or typed input; null reads as empty
    FILE *err = nullptr;                  // prompts and echo of the interactive mode
    // Directory of uploaded files; null stores no file (the entries are still made).
    const char *uploadDir = "/tmp";
};

// The process's request: the environment variables, stdin, stderr and "/tmp".
CgiRequest CgiProcessRequest();

// CgiReadInput over a request: on CGI_OK *count holds the number of entries (on CGI_ERR_TOO_MANY
// the entries made so far stay in *list).
[[nodiscard]] CgiError CgiReadInputFrom(const CgiRequest &request, CgiEntry **list, int *count);
// The POST body (malloc'd into *text) of request.contentLength bytes read from request.in.
[[nodiscard]] CgiError CgiReadPostFrom(const CgiRequest &request, char **text);
// A malloc'd copy of request.queryString into *text.
[[nodiscard]] CgiError CgiReadGetFrom(const CgiRequest &request, char **text);
// The typed line from `in` (prompts and echo to `err` unless null), malloc'd. Null when memory
// runs out or the line has more than CGI_MAX_CONTENT_LENGTH characters (nothing behind them is
// read, and nothing is echoed); *error, unless null, then says which (else CGI_OK).
char *CgiReadInteractiveFrom(FILE *in, FILE *err, CgiError *error = nullptr);
// Checks a CONTENT_LENGTH text: plain decimal digits, value at most CGI_MAX_CONTENT_LENGTH.
[[nodiscard]] CgiError CgiContentLength(const char *text, unsigned long *length);
// Multipart parse of request.in. CONTENT_LENGTH unset: *count 0, list unchanged, nothing read;
// invalid: CGI_ERR_BAD_LENGTH; at most that many bytes are read. No "boundary=" in CONTENT_TYPE
// (or a boundary too long for one delimiter line): empty list, nothing read. Parsing ends at the
// closing delimiter or the end of the input. A file part gives the entry (part name, file name)
// and its content is written to uploadDir under the last path component of the file name, created
// exclusively (O_EXCL, no symbolic link followed, mode 0600); an empty name, "." or ".." writes
// no file. CGI_ERR_UPLOAD when the file cannot be created (entries made so far stay in *list).
[[nodiscard]] CgiError CgiParseMultipartFrom(const CgiRequest &request, CgiEntry **list, int *count);
// Reads characters from `in` until a newline, the end of the input or n characters stored; a
// newline read is stored behind them (a newline after the n-th character stays unread). Returns
// the count stored (0 only at the end of the input) and writes a NUL behind: buffer needs n + 1.
int CgiReadLineFrom(FILE *in, char *buffer, int n);
// Parses a cookie text (the value of HTTP_COOKIE) into *list; null: 0 and *list unchanged.
int CgiParseCookies(CgiEntry **list, const char *cookie);

// ---------------------------------------------------------------------------------------------
// Lookups (names and values compared case-sensitively and in full).

// Value of the first entry with that name, or null. The text belongs to the entry.
const char *CgiValue(const CgiEntry *list, const char *name);
// Null when no entry has the name; else a malloc'd array of the values of all entries with the
// name, in list order, ended by a null pointer. Free the array (not its texts) with free().
const char **CgiValues(const CgiEntry *list, const char *name);
// Name of the first entry whose value equals the text, or null.
const char *CgiNameOf(const CgiEntry *list, const char *value);
// Like CgiValues, the names of all entries whose value equals the text.
const char **CgiNamesOf(const CgiEntry *list, const char *value);
// True when every entry's value is empty (also for the empty list).
bool CgiFormEmpty(const CgiEntry *list);
bool CgiFieldExists(const CgiEntry *list, const char *name);
// True when the name is missing or its value is empty.
bool CgiFieldEmpty(const CgiEntry *list, const char *name);

// ---------------------------------------------------------------------------------------------
// List operations.

// Makes the list empty (does not free; see CgiListClear).
void CgiListInit(CgiEntry **list);
CgiEntry *CgiListNext(const CgiEntry *node);
// True when node is not null.
bool CgiListNodeOk(const CgiEntry *list, const CgiEntry *node);
// True when node is one of the list's nodes (false for null).
bool CgiListContains(const CgiEntry *list, const CgiEntry *node);
// Calls fn(name, value) for every node in order.
void CgiListForEach(const CgiEntry *list, void (*fn)(const char *name, const char *value));
// Copies both texts into a new node. Empty list: the node becomes the whole list (node is not
// looked at); else it is linked in directly after node. Returns the new node. A non-empty list
// with a null node, or no memory, ends the program with exit code 1.
CgiEntry *CgiListInsertAfter(CgiEntry **list, CgiEntry *node, const char *name, const char *value);
// Frees the nodes and their texts, the last node first; the list is empty afterwards.
void CgiListClear(CgiEntry **list);

// ---------------------------------------------------------------------------------------------
// Strings. Results are malloc'd (free with free()); null when memory runs out.

char *CgiStrDup(const char *text);
// Null for a null text. A negative start becomes length - 1 + start; null when the start is then
// below 0 or above the length; else the count characters from start (fewer at the text's end;
// none for a negative count).
char *CgiSubstr(const char *text, int start, int count);
// Copy in which every character that is not an ASCII letter or digit has a backslash in front.
char *CgiEscapeShell(const char *text);

// ---------------------------------------------------------------------------------------------
// HTTP header lines, written to the standard output. A CR or LF inside an argument would start a
// header of the client's making: each argument is written up to its first CR or LF.

void HtmlContentType();                   // "Content-type: text/html\r\n\r\n"
void HtmlMimeType(const char *type);      // "Content-type: %s\r\n\r\n"
void HtmlNphStatus(const char *status);   // "HTTP/1.0 %s\r\n", "Server: CGI using cgihtml\r\n"
void HtmlRedirect(const char *location);  // "Location: %s\r\n\r\n"
void HtmlStatus(const char *status);      // "Status: %s\r\n"
void HtmlPragma(const char *pragma);      // "Pragma: %s\r\n"
// "Set-Cookie: name=value;" then " EXPIRES=..;", " PATH=..;", " DOMAIN=..;" for the non-null
// ones, " SECURE" when secure is nonzero, then "\r\n".
void HtmlSetCookie(const char *name, const char *value, const char *expires, const char *path,
                   const char *domain, short secure);

// HTML fragments, written to the standard output.

// "<html> <head>\n<title>%s</title>\n</head>\n\n<body>\n"; the title is written as given.
void HtmlBegin(const char *title);
void HtmlEnd();  // "</body> </html>\n"
// "<hN>%s</hN>\n"; the text is written as given.
void HtmlH1(const char *text);
void HtmlH2(const char *text);
void HtmlH3(const char *text);
void HtmlH4(const char *text);
void HtmlH5(const char *text);
void HtmlH6(const char *text);
// "<input type=hidden name=\"%s\" value=\"%s\">\n" with both texts passed through HtmlEscape.
void HtmlHiddenField(const char *name, const char *value);
// "<dl>\n", per entry "  <dt> <b>%s</b>\n" and "  <dd> %s\n" (name and value through
// HtmlEscapeAngles), "</dl>\n".
void CgiPrintEntries(const CgiEntry *list);
// One line "NAME = %s<br>\n" for each of 17 CGI variables that is set (values through
// HtmlEscapeAngles); "<p>" in front of SERVER_SOFTWARE, "</p>" behind CONTENT_LENGTH.
void CgiPrintEnv();

// Malloc'd copy with "<" replaced by "&lt;" and ">" by "&gt;"; null when memory runs out.
char *HtmlEscapeAngles(const char *text);
// The text with &, <, >, " and ' replaced by &amp; &lt; &gt; &quot; &#39;, fit for element
// content and quoted attribute values. Null gives "".
std::string HtmlEscape(const char *text);
