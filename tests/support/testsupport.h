// Test support: private temporary directories, free loopback ports, server processes with
// captured logs, and child runs of the programs under test. Nothing here talks to anything but
// 127.0.0.1 and the local file system.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Peak memory in tests: ru_maxrss (and peakrss) count KiB. A sanitizer's shadow memory and
// quarantine inflate every peak past meaning: such a build runs the cases and checks their
// results, not their peaks.
constexpr long kMiB = 1024;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kComparePeaks = false;
#else
constexpr bool kComparePeaks = true;
#endif

// The source and build trees, from TELA_SOURCE_DIR / TELA_BINARY_DIR (set by CTest).
std::string SourceDir();
std::string BinaryDir();

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644);
// True when an executable of that name is on PATH (or the path itself is executable).
bool HaveProgram(const std::string &name);
// True when the environment variable CI is set and not empty. There a test that cannot find a
// tool it needs fails instead of skipping (TELA_NEED_TOOL in needtool.h).
bool InCi();

// Redirects a descriptor (1 or 2) into an unnamed temporary file until Text() or destruction;
// the standard streams are flushed at both ends.
class CaptureFd {
public:
    explicit CaptureFd(int fd);
    ~CaptureFd();
    CaptureFd(const CaptureFd &) = delete;
    CaptureFd &operator=(const CaptureFd &) = delete;
    // Restores the descriptor and returns what was written meanwhile (the same text each call).
    std::string Text();

private:
    void Restore();
    int fd_;
    int saved_ = -1;
    int file_ = -1;
    std::string text_;
};

// 127.0.0.1:port.
sockaddr_in LoopbackAddress(int port);
// A socket of `type` (SOCK_STREAM or SOCK_DGRAM) bound with SO_REUSEADDR to host:port (port 0:
// the system picks one; host in network order, 127.0.0.1 unless given); a stream socket also
// listens with `backlog`. -1 when a step failed; *error, when given, then says which:
// "socket: <reason>" or "bind <port>: <reason>".
int LoopbackSocket(int type, int port = 0, int backlog = 16, in_addr_t host = htonl(INADDR_LOOPBACK),
                   std::string *error = nullptr);
// The local port of a bound socket, -1 when it cannot be read.
int LocalPort(int fd);

// A TCP listener on 127.0.0.1 (a port the system picked) that never accepts and never answers:
// connections complete in the kernel's queue up to the backlog, requests are never read.
class SilentListener {
public:
    explicit SilentListener(int backlog = 16);
    ~SilentListener();
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;
    int fd() const { return fd_; }
    int port() const { return port_; }
    // Fills the accept queue, so that further connection requests are dropped and a connect
    // stalls as to an unreachable host.
    void Fill();

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

// A fresh directory below TMPDIR (or /tmp), removed with all it holds when the object dies.
class TempDir {
public:
    explicit TempDir(const std::string &tag = "tela");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A port in [low, high] that is free on 127.0.0.1 for TCP and UDP now, and that no other test
// process on this machine is handed while this process lives (a lock file per port, held open).
// Daemons that cannot bind port 0 and report it (slapd, dovecot, lighttpd) get their port here.
// Returns 0 when no port could be found.
int FreePort(int low = 20000, int high = 32000);
// Count of consecutive free ports starting at the returned one (for servers with several ports).
int FreePortRange(int count, int low = 20000, int high = 32000);

// True once something accepts a TCP connection on host:port.
bool TcpAccepts(int port, const std::string &host = "127.0.0.1");

// True when process `pid` itself holds a TCP socket listening on `port`: the port answers as
// that server and not as another program that took it.
bool ProcessListensOn(pid_t pid, int port);

// Starts a server on `count` consecutive free ports: `launch(base)` starts it there and returns
// true once it serves on them. Another program of the machine can take a port between the check
// and the server's bind; launch then returns false (the server ended, or does not listen as
// itself) and another range is tried. Returns the base that served, 0 when every attempt failed.
int StartOnFreePorts(int count, const std::function<bool(int base)> &launch, int attempts = 10);

// Holds `count` consecutive loopback TCP ports closed while the object lives: each is bound
// without SO_REUSEADDR and not listening, so connections are refused and no other program can
// bind it meanwhile. port() is the first of them, 0 when no range could be held.
class ClosedPorts {
public:
    explicit ClosedPorts(int count = 1);
    ~ClosedPorts();
    ClosedPorts(const ClosedPorts &) = delete;
    ClosedPorts &operator=(const ClosedPorts &) = delete;
    int port() const { return port_; }

private:
    std::vector<int> fds_;
    int port_ = 0;
};

// Polls `ready` every `pollMs` until it returns true (true) or `timeoutMs` has passed (false,
// unless it holds at the last look). The one wait of the tests for a condition.
bool WaitFor(const std::function<bool()> &ready, int timeoutMs = 10000, int pollMs = 20);

// True when `signo` is pending for process `pid` (for the process or one of its threads), read
// from /proc: a signal it ignores or has taken is pending no more.
bool SignalPending(pid_t pid, int signo);

// A thread running `body`, returned once the thread has entered it: its start-up is over. A test
// that forks a child which goes on running code (not exec) starts its server threads this way: a
// fork while a thread is still starting may copy a lock of the sanitizers' run-time that is held
// for good in the child, whose first allocation then waits for ever.
std::thread StartedThread(std::function<void()> body);

// Seconds (with fractions) since `start` on the steady clock.
double SecondsSince(std::chrono::steady_clock::time_point start);

// A server (or any long-running child) with its standard output and error in a log file. The
// destructor stops it, so a failing test leaves nothing running.
class ServerProcess {
public:
    explicit ServerProcess(std::string name);
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // Starts argv[0] (searched on PATH) with the current environment plus `env` (NAME=value
    // entries override). The log goes to `logPath`, or to a file in a private directory.
    bool Start(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
               const std::string &logPath = "", const std::string &workDir = "");
    // Waits until `ready` returns true, polling every 20 ms; false on time-out or when the
    // process ended first.
    bool WaitUntil(const std::function<bool()> &ready, int timeoutMs = 10000);
    bool WaitTcp(int port, int timeoutMs = 10000, const std::string &host = "127.0.0.1");
    // Waits until this process itself listens on the TCP port (ProcessListensOn).
    bool WaitListening(int port, int timeoutMs = 10000);
    // SIGTERM, then SIGKILL after timeoutMs. Returns the wait status, or -1 when not running.
    int Stop(int timeoutMs = 5000);
    bool Running();
    pid_t pid() const { return pid_; }
    const std::string &name() const { return name_; }
    const std::string &logPath() const { return logPath_; }
    std::string Log() const;

private:
    std::string name_;
    std::string logPath_;
    std::string ownDir_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// One run of a program to its end.
struct RunResult {
    int exitCode = -1;  // exit code, or 128 + signal number
    bool timedOut = false;
    std::string out;
    std::string err;
    long maxRssKb = 0;  // peak resident size of the program and the children it waited for, KiB
};

struct RunOptions {
    std::vector<std::string> env;    // NAME=value entries added to (or overriding) the environment
    bool clearEnv = false;           // start from an empty environment (only `env`, plus PATH)
    std::vector<std::string> unset;  // names removed from the inherited environment
    std::string input;               // written to the standard input, which is then closed
    std::string workDir;
    int timeoutMs = 60000;
};

RunResult RunProgram(const std::vector<std::string> &argv, const RunOptions &options = {});

// The shared objects that a program names itself (its DT_NEEDED entries, read with readelf -d),
// and every shared object the dynamic linker loads for it at start (ldd), as their run-time
// names ("libc.so.6"). False with *error set when the tool failed.
bool NeededLibraries(const std::string &program, std::vector<std::string> *names, std::string *error);
bool LoadedLibraries(const std::string &program, std::vector<std::string> *names, std::string *error);

}  // namespace testsupport
