// Starter for the simulated alpha/omega server (tests/simserver): runs the binary on free
// loopback ports with a fixture, gives the TELAMORPCMAP value that reaches it, and reads its
// request log.
//
// The binary is $SIMSERVER_BIN, else $TELA_BINARY_DIR/tests/simserver/simserver, else
// tests/simserver/simserver in the nearest directory above the working directory that has it.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testsupport.h"

namespace testsupport {

// One line of the request log. `event` is "call", "accept", "close", "ready", "reload" or "stop".
struct SimRequest {
    std::string event;
    std::string prog;  // "alpha" or "omega"
    int proc = -1;
    std::string name;     // procedure name without _1
    long conn = 0;        // connection number (0: UDP)
    nlohmann::json args;  // the decoded argument, by field name
    std::string raw;      // the argument's wire bytes in hex
    nlohmann::json line;  // the whole log line
};

struct SimServerOptions {
    // Host names that get a port base each (all must be loopback addresses). The first is the
    // one that Host() names.
    std::vector<std::string> hosts = {"127.0.0.1"};
    bool alpha = true;
    bool omega = true;
    int offset = 0;                // added to both program numbers
    std::vector<std::string> env;  // NAME=value for the server process
};

class SimServer {
public:
    SimServer();
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // Writes the fixture (JSON text) into a private directory and starts the server; true once
    // it listens. On failure the server's own messages are in Log().
    bool Start(const std::string &fixtureJson, const SimServerOptions &options = {});
    // Starts from a fixture file as it is (for example one of tests/simserver/fixtures).
    bool StartFile(const std::string &fixturePath, const SimServerOptions &options = {});
    // Replaces the fixture (and its fault counters) while the server runs; true once it took it.
    bool Reload(const std::string &fixtureJson);
    void Stop();
    // Starts the server again on the same ports with the same fixture file (after Stop, or
    // to drop every connection at once); the request log goes on. True once it listens.
    bool Restart();
    bool Running();

    const std::string &Host() const { return hosts_.at(0); }
    // Port base of a host: alpha listens on base + 0, omega on base + 5.
    int Base(size_t hostIndex = 0) const { return bases_.at(hostIndex); }
    int AlphaPort(size_t hostIndex = 0) const { return Base(hostIndex); }
    int OmegaPort(size_t hostIndex = 0) const { return Base(hostIndex) + 5; }
    // "127.0.0.1:20000;127.0.0.2:20100": the TELAMORPCMAP value that names every host.
    std::string RpcMap() const;
    // "TELAMORPCMAP=..." ready for RunOptions::env.
    std::string RpcMapEnv() const { return "TELAMORPCMAP=" + RpcMap(); }

    const std::string &LogPath() const { return logPath_; }
    std::string Log() const { return process_.Log(); }  // the server's standard output and error
    std::string RawRequestLog() const;
    std::vector<SimRequest> Requests() const;
    // The "call" lines only, optionally of one program and procedure (-1: any).
    std::vector<SimRequest> Calls(const std::string &prog = "", int proc = -1) const;
    // Connections accepted so far by a program ("" for both).
    int Accepts(const std::string &prog = "") const;
    // Forgets what the log holds so far: later reads show only what follows.
    void ClearRequests();

private:
    bool Launch(const std::string &fixturePath, const SimServerOptions &options);

    std::vector<std::string> argv_;
    std::vector<std::string> env_;
    TempDir dir_;
    ServerProcess process_;
    std::vector<std::string> hosts_;
    std::vector<int> bases_;
    std::string fixturePath_;
    std::string logPath_;
    size_t logSkip_ = 0;  // bytes of the log that ClearRequests dropped
};

// The simulated server's binary, found as said above.
std::string SimServerBinary();

// The path of a sample fixture: $TELA_SOURCE_DIR/tests/simserver/fixtures/<name>.
std::string SimFixturePath(const std::string &name);

}  // namespace testsupport
