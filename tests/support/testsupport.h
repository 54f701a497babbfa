// Test support: private temporary directories, free loopback ports, server processes with
// captured logs, and child runs of the programs under test. Nothing here talks to anything but
// 127.0.0.1 and the local file system.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// The source and build trees, from TELA_SOURCE_DIR / TELA_BINARY_DIR (set by CTest).
std::string SourceDir();
std::string BinaryDir();

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644);
// True when an executable of that name is on PATH (or the path itself is executable).
bool HaveProgram(const std::string &name);

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
