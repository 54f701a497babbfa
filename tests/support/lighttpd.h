// Debian's lighttpd on a loopback port with a temporary configuration that runs one CGI program,
// and a small HTTP/1.0 client to ask it. lighttpd builds the CGI environment afresh, so the
// variables the program needs (port map, TZ, TMPDIR...) go through the configuration.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "testsupport.h"

namespace testsupport {

struct LighttpdOptions {
    std::string cgiProgram;             // path of the CGI program (linked into cgi-bin)
    std::string cgiName = "mailtrack";  // served as /cgi-bin/<cgiName>
    // Variables handed to the CGI program (setenv.add-environment).
    std::vector<std::pair<std::string, std::string>> environment;
    // Serve the program through the package's lighttpd snippet instead (as /cgi-bin/mailtrack,
    // with the snippet's limits); cgiName must then be "mailtrack".
    bool packagedSnippet = false;
};

// The path of Debian's lighttpd, or "" when it is not installed.
std::string LighttpdPath();

class Lighttpd {
public:
    Lighttpd();
    ~Lighttpd();
    Lighttpd(const Lighttpd &) = delete;
    Lighttpd &operator=(const Lighttpd &) = delete;

    // Writes the configuration, starts lighttpd in the foreground and waits until it accepts
    // connections. False (with the reason in Log()) when it does not come up.
    bool Start(const LighttpdOptions &options);
    void Stop();
    int port() const { return port_; }
    pid_t pid() const { return process_.pid(); }
    // "/cgi-bin/<cgiName>" followed by `suffix` (for example "?p=0&a=...").
    std::string CgiPath(const std::string &suffix = "") const;
    // "http://127.0.0.1:<port>" + path.
    std::string Url(const std::string &path) const;
    // lighttpd's own output and its error log.
    std::string Log() const;

private:
    // Writes the configuration for port_ and starts lighttpd there.
    bool Launch(const LighttpdOptions &options);

    TempDir dir_;
    ServerProcess process_;
    std::string cgiName_;
    int port_ = 0;
};

struct HttpResponse {
    int status = 0;       // 0 when no answer could be read
    std::string headers;  // the header block as received (status line included)
    std::string body;
    std::string error;  // why there is no answer
};

// One HTTP/1.0 request to 127.0.0.1:port; `headers` are extra header lines without CRLF. The
// answer is read until the server closes the connection.
HttpResponse HttpRequest(int port, const std::string &method, const std::string &path,
                         const std::vector<std::string> &headers = {}, const std::string &body = "",
                         int timeoutMs = 60000);

}  // namespace testsupport
