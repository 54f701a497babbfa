// Helpers shared by the RPC runtime's tests: environment and standard-error scopes, descriptor
// counts, our small RPC server as a child process, and bare loopback listeners.
#pragma once

#include "rpcrt/rpcrt.h"
#include "testsupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace rpcrt_test {

// A program number outside the port map's table: TELAMORPCPORT alone is its port.
constexpr rpcprog_t kTestProgram = 0x20001234;
constexpr rpcprog_t kAlphaProgram = 16011967;
constexpr rpcprog_t kOmegaProgram = 16011931;
constexpr rpcproc_t kProcNull = 0;
constexpr rpcproc_t kProcEcho = 1;
constexpr rpcproc_t kProcString = 2;
constexpr rpcproc_t kProcSlowEcho = 3;

// Any XDR routine as libtirpc's xdrproc_t (through void (*)(), which casts without warnings).
template <typename Function>
xdrproc_t Xdr(Function *proc)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(proc));
}

// Sets (or, with nullptr, removes) variables for one scope and puts the old values back after.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ScopedEnv(std::initializer_list<std::pair<const char *, const char *>> values)
    {
        for (const auto &[name, value] : values)
            Set(name, value);
    }
    ~ScopedEnv()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->hadValue)
                setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                unsetenv(it->name.c_str());
        }
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

    void Set(const char *name, const char *value)
    {
        const char *old = getenv(name);
        saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }

private:
    struct Saved {
        std::string name;
        bool hadValue;
        std::string value;
    };
    std::vector<Saved> saved_;
};

// Everything written to the standard error (fd 2) while the object lives.
class StderrCapture {
public:
    StderrCapture() : file_(tmpfile())
    {
        fflush(stderr);
        saved_ = dup(2);
        dup2(fileno(file_), 2);
    }
    ~StderrCapture()
    {
        Restore();
        fclose(file_);
    }
    std::string Text()
    {
        Restore();
        std::string text;
        rewind(file_);
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file_)) > 0)
            text.append(buffer, n);
        return text;
    }

private:
    void Restore()
    {
        if (saved_ < 0)
            return;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    FILE *file_;
    int saved_ = -1;
};

inline int OpenDescriptorCount()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

inline struct sockaddr_in LoopbackAddress(int port)
{
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

inline int LocalPort(int fd)
{
    struct sockaddr_in addr = {};
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&addr), &len) != 0)
        return -1;
    return ntohs(addr.sin_port);
}

// Our test server (rpcrt_test_server) serving `programs` on 127.0.0.1:port, TCP and UDP.
class TestServer {
public:
    explicit TestServer(std::vector<rpcprog_t> programs, int port = 0, bool registerIt = false)
        : process_("rpcrt_test_server"), port_(port != 0 ? port : testsupport::FreePort())
    {
        std::vector<std::string> argv = {testsupport::BinaryDir() + "/tests/rpcrt/rpcrt_test_server",
                                         "--port", std::to_string(port_)};
        for (rpcprog_t program : programs) {
            argv.push_back("--prog");
            argv.push_back(std::to_string(program));
        }
        if (registerIt)
            argv.push_back("--register");
        started_ = port_ != 0 && process_.Start(argv) &&
                   process_.WaitUntil([this] { return process_.Log().find("ready") != std::string::npos; });
    }
    bool started() const { return started_; }
    int port() const { return port_; }
    std::string Log() const { return process_.Log(); }

private:
    testsupport::ServerProcess process_;
    int port_;
    bool started_ = false;
};

// A TCP listener on 127.0.0.1 that never accepts and never answers: connections complete in
// the kernel's queue, requests are never read.
class SilentListener {
public:
    explicit SilentListener(int backlog = 16)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        struct sockaddr_in addr = LoopbackAddress(0);
        if (bind(fd_, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr) != 0 ||
            listen(fd_, backlog) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~SilentListener()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;
    int fd() const { return fd_; }
    int port() const { return fd_ >= 0 ? LocalPort(fd_) : 0; }

private:
    int fd_ = -1;
};

// A listener whose accept queue is full: further connection requests are dropped, so a
// connect to it stalls like one to an unreachable host.
class FullListener {
public:
    FullListener() : listener_(0)
    {
        struct sockaddr_in addr = LoopbackAddress(listener_.port());
        for (int i = 0; i < 4; ++i) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr);
            fillers_.push_back(fd);
        }
    }
    ~FullListener()
    {
        for (int fd : fillers_)
            close(fd);
    }
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;
    int port() const { return listener_.port(); }

private:
    SilentListener listener_;
    std::vector<int> fillers_;
};

// A struct of two strings, for replies that carry only one of them.
struct TwoStrings {
    char *first;
    char *second;
};

inline bool_t XdrTwoStrings(XDR *xdrs, TwoStrings *value)
{
    return xdr_wrapstring(xdrs, &value->first) && xdr_wrapstring(xdrs, &value->second);
}

}  // namespace rpcrt_test
