// Test support: temporary directories, free ports, server processes and child runs.
#include "testsupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace testsupport {
namespace {

std::string EnvOr(const char *name, const std::string &fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

bool BindsOn(int type, int port)
{
    int fd = LoopbackSocket(type, port);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

// Holds a lock file open for each handed-out port until the process ends, so that parallel
// test processes never get the same port.
bool ClaimPort(int port)
{
    static std::mutex mu;
    static std::map<int, int> held;
    std::lock_guard<std::mutex> guard(mu);
    if (held.count(port))
        return false;
    std::string dir = "/tmp/tela-test-ports";
    mkdir(dir.c_str(), 01777);
    std::string path = dir + "/" + std::to_string(port);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    held[port] = fd;
    return true;
}

std::vector<char *> MakeEnv(std::vector<std::string> &storage, const std::vector<std::string> &add,
                            bool clear, const std::vector<std::string> &unset)
{
    std::map<std::string, std::string> env;
    if (!clear) {
        for (char **e = environ; *e; ++e) {
            std::string s = *e;
            auto eq = s.find('=');
            if (eq != std::string::npos)
                env[s.substr(0, eq)] = s;
        }
    } else if (const char *path = std::getenv("PATH")) {
        env["PATH"] = std::string("PATH=") + path;
    }
    for (const auto &name : unset)
        env.erase(name);
    for (const auto &s : add) {
        auto eq = s.find('=');
        if (eq != std::string::npos)
            env[s.substr(0, eq)] = s;
    }
    storage.clear();
    for (auto &kv : env)
        storage.push_back(kv.second);
    std::vector<char *> out;
    for (auto &s : storage)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

std::vector<char *> MakeArgv(const std::vector<std::string> &argv)
{
    std::vector<char *> out;
    for (const auto &a : argv)
        out.push_back(const_cast<char *>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

}  // namespace

std::string SourceDir()
{
    return EnvOr("TELA_SOURCE_DIR", ".");
}
std::string BinaryDir()
{
    return EnvOr("TELA_BINARY_DIR", ".");
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string &path, const std::string &text, mode_t mode)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out)
            throw std::runtime_error("cannot write " + path);
        out << text;
    }
    chmod(path.c_str(), mode);
}

bool HaveProgram(const std::string &name)
{
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0;
    std::stringstream path(EnvOr("PATH", "/usr/bin:/bin"));
    std::string dir;
    while (std::getline(path, dir, ':')) {
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0)
            return true;
    }
    for (const char *d : {"/usr/sbin", "/sbin"}) {
        if (access((std::string(d) + "/" + name).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

bool InCi()
{
    const char *ci = std::getenv("CI");
    return ci && *ci;
}

CaptureFd::CaptureFd(int fd) : fd_(fd)
{
    std::fflush(stdout);
    std::fflush(stderr);
    FILE *file = std::tmpfile();
    if (!file)
        return;
    file_ = dup(fileno(file));
    std::fclose(file);
    saved_ = dup(fd_);
    if (file_ < 0 || saved_ < 0 || dup2(file_, fd_) < 0) {
        if (saved_ >= 0)
            close(saved_);
        saved_ = -1;
    }
}

CaptureFd::~CaptureFd()
{
    Restore();
    if (file_ >= 0)
        close(file_);
}

void CaptureFd::Restore()
{
    if (saved_ < 0)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
    char buffer[4096];
    ssize_t n;
    off_t at = 0;
    while ((n = pread(file_, buffer, sizeof buffer, at)) > 0) {
        text_.append(buffer, static_cast<size_t>(n));
        at += n;
    }
}

std::string CaptureFd::Text()
{
    Restore();
    return text_;
}

sockaddr_in LoopbackAddress(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int LoopbackSocket(int type, int port, int backlog, in_addr_t host, std::string *error)
{
    int fd = socket(AF_INET, type, 0);
    if (fd < 0) {
        if (error)
            *error = std::string("socket: ") + strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = LoopbackAddress(port);
    a.sin_addr.s_addr = host;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && listen(fd, backlog) != 0)) {
        int saved = errno;
        if (error)
            *error = "bind " + std::to_string(port) + ": " + strerror(saved);
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int LocalPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return -1;
    return ntohs(a.sin_port);
}

SilentListener::SilentListener(int backlog) : fd_(LoopbackSocket(SOCK_STREAM, 0, backlog))
{
    if (fd_ >= 0)
        port_ = LocalPort(fd_);
}

SilentListener::~SilentListener()
{
    for (int fd : fillers_)
        close(fd);
    if (fd_ >= 0)
        close(fd_);
}

void SilentListener::Fill()
{
    sockaddr_in a = LoopbackAddress(port_);
    for (int i = 0; i < 4; i++) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        fillers_.push_back(fd);
    }
}

TempDir::TempDir(const std::string &tag)
{
    std::string templ = EnvOr("TMPDIR", "/tmp") + "/" + tag + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
    path_ = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int FreePort(int low, int high)
{
    return FreePortRange(1, low, high);
}

int FreePortRange(int count, int low, int high)
{
    if (count < 1 || high - low + 1 < count)
        return 0;
    std::mt19937 rng(static_cast<unsigned>(getpid()) ^
                     static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> pick(low, high - count + 1);
    for (int attempt = 0; attempt < 500; ++attempt) {
        int base = pick(rng);
        bool ok = true;
        for (int p = base; p < base + count && ok; ++p)
            ok = BindsOn(SOCK_STREAM, p) && BindsOn(SOCK_DGRAM, p);
        if (!ok)
            continue;
        int claimed = 0;
        while (claimed < count && ClaimPort(base + claimed))
            ++claimed;
        if (claimed == count)
            return base;
    }
    return 0;
}

bool TcpAccepts(int port, const std::string &host)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host == "localhost" ? "127.0.0.1" : host.c_str(), &a.sin_addr) != 1) {
        close(fd);
        return false;
    }
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

namespace {

// The inodes of the TCP sockets listening on `port`, from /proc/net/tcp and tcp6.
std::set<unsigned long> ListeningInodes(int port)
{
    std::set<unsigned long> inodes;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(ReadFile(table));
        std::string line;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            // "  0: 0100007F:4E20 00000000:0000 0A ... uid timeout inode ..."
            std::istringstream words(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            unsigned long inode = 0;
            if (!(words >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                  timeout >> inode))
                continue;
            size_t colon = local.rfind(':');
            if (state != "0A" || colon == std::string::npos)
                continue;
            if (std::strtol(local.c_str() + colon + 1, nullptr, 16) == port)
                inodes.insert(inode);
        }
    }
    return inodes;
}

}  // namespace

bool ProcessListensOn(pid_t pid, int port)
{
    std::set<unsigned long> inodes = ListeningInodes(port);
    if (inodes.empty() || pid <= 0)
        return false;
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *fds = opendir(dir.c_str());
    if (!fds)
        return false;
    bool found = false;
    while (dirent *e = readdir(fds)) {
        char target[64];
        ssize_t n = readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        unsigned long inode = 0;
        if (std::sscanf(target, "socket:[%lu]", &inode) == 1 && inodes.count(inode)) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

int StartOnFreePorts(int count, const std::function<bool(int base)> &launch, int attempts)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        int base = FreePortRange(count);
        if (base != 0 && launch(base))
            return base;
    }
    return 0;
}

ClosedPorts::ClosedPorts(int count)
{
    for (int attempt = 0; attempt < 50 && port_ == 0; ++attempt) {
        int base = FreePortRange(count);
        if (base == 0)
            continue;
        for (int p = base; p < base + count; ++p) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a = LoopbackAddress(p);
            if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
                fds_.push_back(fd);
                continue;
            }
            if (fd >= 0)
                close(fd);
            break;
        }
        if (static_cast<int>(fds_.size()) == count) {
            port_ = base;
        } else {
            for (int fd : fds_)
                close(fd);
            fds_.clear();
        }
    }
}

ClosedPorts::~ClosedPorts()
{
    for (int fd : fds_)
        close(fd);
}

bool WaitFor(const std::function<bool()> &ready, int timeoutMs, int pollMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return ready();
}

std::thread StartedThread(std::function<void()> body)
{
    // The promise's state is shared: the starter may go before the thread is done setting it.
    std::promise<void> entered;
    std::future<void> started = entered.get_future();
    std::thread thread([entered = std::move(entered), body = std::move(body)]() mutable {
        entered.set_value();
        body();
    });
    started.wait();
    return thread;
}

bool SignalPending(pid_t pid, int signo)
{
    std::istringstream lines(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    const unsigned long long bit = 1ULL << (signo - 1);
    for (std::string line; std::getline(lines, line);) {
        // "SigPnd:\t0000000000000002", "ShdPnd:\t..."
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
            if (std::strtoull(line.c_str() + 7, nullptr, 16) & bit)
                return true;
        }
    }
    return false;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

ServerProcess::ServerProcess(std::string name) : name_(std::move(name)) {}

ServerProcess::~ServerProcess()
{
    Stop();
    if (!ownDir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(ownDir_, ec);
    }
}

bool ServerProcess::Start(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                          const std::string &logPath, const std::string &workDir)
{
    if (argv.empty() || pid_ > 0)
        return false;
    logPath_ = logPath;
    if (logPath_.empty()) {
        if (ownDir_.empty()) {
            std::string templ = EnvOr("TMPDIR", "/tmp") + "/" + name_ + "-log-XXXXXX";
            std::vector<char> buf(templ.begin(), templ.end());
            buf.push_back('\0');
            if (!mkdtemp(buf.data()))
                return false;
            ownDir_ = buf.data();
        }
        logPath_ = ownDir_ + "/" + name_ + ".log";
    }
    int logFd = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd < 0)
        return false;
    std::vector<std::string> envStorage;
    auto envp = MakeEnv(envStorage, env, false, {});
    auto args = MakeArgv(argv);
    pid_t pid = fork();
    if (pid < 0) {
        close(logFd);
        return false;
    }
    if (pid == 0) {
        setpgid(0, 0);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(127);
        environ = envp.data();
        execvp(args[0], args.data());
        dprintf(2, "exec %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    close(logFd);
    pid_ = pid;
    status_ = -1;
    return true;
}

bool ServerProcess::Running()
{
    if (pid_ <= 0)
        return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = st;
        pid_ = -1;
        return false;
    }
    return true;
}

bool ServerProcess::WaitUntil(const std::function<bool()> &ready, int timeoutMs)
{
    bool ended = false;
    bool ok = WaitFor(
        [&] {
            if (ready())
                return true;
            ended = !Running();
            return ended;
        },
        timeoutMs);
    return ok && !ended;
}

bool ServerProcess::WaitTcp(int port, int timeoutMs, const std::string &host)
{
    return WaitUntil([&] { return TcpAccepts(port, host); }, timeoutMs);
}

bool ServerProcess::WaitListening(int port, int timeoutMs)
{
    return WaitUntil([&] { return ProcessListensOn(pid_, port); }, timeoutMs);
}

int ServerProcess::Stop(int timeoutMs)
{
    if (!Running())
        return status_;
    kill(pid_, SIGTERM);
    WaitFor([&] { return !Running(); }, timeoutMs, 10);
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        int st = 0;
        waitpid(pid_, &st, 0);
        status_ = st;
        pid_ = -1;
    }
    return status_;
}

std::string ServerProcess::Log() const
{
    return logPath_.empty() ? std::string() : ReadFile(logPath_);
}

RunResult RunProgram(const std::vector<std::string> &argv, const RunOptions &options)
{
    RunResult result;
    if (argv.empty())
        return result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        return result;
    std::vector<std::string> envStorage;
    auto envp = MakeEnv(envStorage, options.env, options.clearEnv, options.unset);
    auto args = MakeArgv(argv);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0)
            _exit(127);
        environ = envp.data();
        execvp(args[0], args.data());
        dprintf(2, "exec %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return result;
    }
    // Feed the input and drain both outputs without blocking on any one of them. A program may
    // end without reading all its input: the write then fails with EPIPE, and the SIGPIPE it
    // raises in this thread is kept blocked and taken back, so that it does not end the test.
    struct PipeSignalBlocked {
        sigset_t pipe, before;
        PipeSignalBlocked()
        {
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, &before);
        }
        ~PipeSignalBlocked()
        {
            const timespec now = {0, 0};
            while (sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
            }
            pthread_sigmask(SIG_SETMASK, &before, nullptr);
        }
    } pipeSignalBlocked;
    size_t written = 0;
    int inFd = in[1];
    if (options.input.empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    int outFd = out[0], errFd = err[0];
    char buf[65536];
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (outFd >= 0)
            fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, n, static_cast<int>(std::min<long>(left.count(), 1000))) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == inFd) {
                ssize_t w = write(inFd, options.input.data() + written, options.input.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN)
                    written = options.input.size();
                if (written >= options.input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            ssize_t r = read(fds[i].fd, buf, sizeof buf);
            if (r > 0) {
                (fds[i].fd == outFd ? result.out : result.err).append(buf, static_cast<size_t>(r));
            } else if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) {
                if (fds[i].fd == outFd) {
                    close(outFd);
                    outFd = -1;
                } else {
                    close(errFd);
                    errFd = -1;
                }
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
    if (outFd >= 0)
        close(outFd);
    if (errFd >= 0)
        close(errFd);
    int st = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    if (wait4(pid, &st, 0, &usage) == pid)
        result.maxRssKb = usage.ru_maxrss;
    if (WIFEXITED(st))
        result.exitCode = WEXITSTATUS(st);
    else if (WIFSIGNALED(st))
        result.exitCode = 128 + WTERMSIG(st);
    return result;
}

bool NeededLibraries(const std::string &program, std::vector<std::string> *names, std::string *error)
{
    names->clear();
    RunResult r = RunProgram({"readelf", "-d", program});
    if (r.exitCode != 0) {
        *error = "readelf -d " + program + " exited " + std::to_string(r.exitCode) + ": " + r.err;
        return false;
    }
    // " 0x0000000000000001 (NEEDED)             Shared library: [libc.so.6]"
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("(NEEDED)") == std::string::npos)
            continue;
        size_t open = line.find('['), close = line.rfind(']');
        if (open != std::string::npos && close != std::string::npos && close > open)
            names->push_back(line.substr(open + 1, close - open - 1));
    }
    return true;
}

bool LoadedLibraries(const std::string &program, std::vector<std::string> *names, std::string *error)
{
    names->clear();
    RunResult r = RunProgram({"ldd", program});
    if (r.exitCode != 0) {
        *error = "ldd " + program + " exited " + std::to_string(r.exitCode) + ": " + r.err;
        return false;
    }
    // "\tlibtirpc.so.3 => /lib/x86_64-linux-gnu/libtirpc.so.3 (0x...)", "\t/lib64/ld-linux-x86-64.so.2
    // (0x...)"
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        if (words >> name) {
            size_t slash = name.rfind('/');
            names->push_back(slash == std::string::npos ? name : name.substr(slash + 1));
        }
    }
    return true;
}

}  // namespace testsupport
