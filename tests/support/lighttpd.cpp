#include "lighttpd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace testsupport {

namespace {

// A text as a lighttpd configuration string: backslashes and quotes escaped.
std::string Quote(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string LighttpdPath()
{
    for (const char *path : {"/usr/sbin/lighttpd", "/usr/local/sbin/lighttpd"})
        if (access(path, X_OK) == 0)
            return path;
    return HaveProgram("lighttpd") ? "lighttpd" : "";
}

Lighttpd::Lighttpd() : dir_("lighttpd"), process_("lighttpd") {}

Lighttpd::~Lighttpd()
{
    Stop();
}

bool Lighttpd::Start(const LighttpdOptions &options)
{
    std::string binary = LighttpdPath();
    if (binary.empty())
        return false;
    cgiName_ = options.cgiName;
    std::string docs = dir_.file("htdocs");
    std::string cgiBin = dir_.file("cgi-bin");
    mkdir(docs.c_str(), 0755);
    mkdir(cgiBin.c_str(), 0755);
    WriteFile(docs + "/index.html", "ok\n");
    std::string target = cgiBin + "/" + cgiName_;
    unlink(target.c_str());
    if (symlink(options.cgiProgram.c_str(), target.c_str()) != 0)
        return false;

    // A port taken by another program after the check: lighttpd ends, and another is tried.
    return StartOnFreePorts(1, [&](int port) {
               port_ = port;
               return Launch(options);
           }) != 0;
}

bool Lighttpd::Launch(const LighttpdOptions &options)
{
    std::string docs = dir_.file("htdocs");
    std::string cgiBin = dir_.file("cgi-bin");
    std::string conf;
    if (options.packagedSnippet) {
        // The snippet as packaged, with the program's path put in, in a main configuration that
        // loads neither of the snippet's modules itself.
        std::string snippet = ReadFile(SourceDir() + "/packaging/lighttpd/10-tela-mailtrack.conf.in");
        const std::string placeholder = "@TELA_MAILTRACK_PATH@";
        for (size_t at; (at = snippet.find(placeholder)) != std::string::npos;)
            snippet.replace(at, placeholder.size(), options.cgiProgram);
        WriteFile(dir_.file("snippet.conf"), snippet);
        conf += "server.modules = (\"mod_setenv\")\n";
    } else {
        conf += "server.modules = (\"mod_alias\", \"mod_setenv\", \"mod_cgi\")\n";
    }
    conf += "server.document-root = " + Quote(docs) + "\n";
    conf += "server.bind = \"127.0.0.1\"\n";
    conf += "server.port = " + std::to_string(port_) + "\n";
    conf += "server.errorlog = " + Quote(dir_.file("error.log")) + "\n";
    conf += "server.follow-symlink = \"enable\"\n";
    conf += "server.max-keep-alive-requests = 0\n";
    if (options.packagedSnippet) {
        conf += "include " + Quote(dir_.file("snippet.conf")) + "\n";
    } else {
        conf += "alias.url = (\"/cgi-bin/\" => " + Quote(cgiBin + "/") + ")\n";
        conf += "$HTTP[\"url\"] =~ \"^/cgi-bin/\" {\n  cgi.assign = (\"\" => \"\")\n}\n";
    }
    if (!options.environment.empty()) {
        conf += "setenv.add-environment = (\n";
        for (size_t i = 0; i < options.environment.size(); ++i) {
            conf +=
                "  " + Quote(options.environment[i].first) + " => " + Quote(options.environment[i].second);
            conf += i + 1 < options.environment.size() ? ",\n" : "\n";
        }
        conf += ")\n";
    }
    std::string confPath = dir_.file("lighttpd.conf");
    WriteFile(confPath, conf);
    if (!process_.Start({LighttpdPath(), "-D", "-f", confPath}, {}, dir_.file("stdout.log")))
        return false;
    if (process_.WaitListening(port_, 10000))
        return true;
    process_.Stop();
    return false;
}

void Lighttpd::Stop()
{
    if (process_.Running())
        process_.Stop();
}

std::string Lighttpd::CgiPath(const std::string &suffix) const
{
    return "/cgi-bin/" + cgiName_ + suffix;
}

std::string Lighttpd::Url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string Lighttpd::Log() const
{
    std::string out = process_.Log();
    std::string errorLog = dir_.file("error.log");
    if (access(errorLog.c_str(), R_OK) == 0)
        out += ReadFile(errorLog);
    return out;
}

HttpResponse HttpRequest(int port, const std::string &method, const std::string &path,
                         const std::vector<std::string> &headers, const std::string &body, int timeoutMs)
{
    HttpResponse response;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        response.error = strerror(errno);
        return response;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        response.error = std::string("connect: ") + strerror(errno);
        close(fd);
        return response;
    }
    std::string request =
        method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    for (const std::string &h : headers)
        request += h + "\r\n";
    if (!body.empty() || method == "POST")
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            response.error = std::string("send: ") + strerror(errno);
            close(fd);
            return response;
        }
        sent += static_cast<size_t>(n);
    }
    std::string raw;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) {
            response.error = "time-out";
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char buf[8192];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        raw.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) {
        if (response.error.empty())
            response.error = "no header block in the answer";
        return response;
    }
    response.headers = raw.substr(0, end + 2);
    response.body = raw.substr(end + 4);
    if (raw.compare(0, 5, "HTTP/") == 0) {
        size_t blank = raw.find(' ');
        if (blank != std::string::npos)
            response.status = atoi(raw.c_str() + blank + 1);
    }
    return response;
}

}  // namespace testsupport
