// Starter for the simulated alpha/omega server.
#include "simserver.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace testsupport {

std::string SimServerBinary()
{
    if (const char *bin = std::getenv("SIMSERVER_BIN"); bin && *bin)
        return bin;
    const std::string rel = "/tests/simserver/simserver";
    if (const char *dir = std::getenv("TELA_BINARY_DIR"); dir && *dir)
        return dir + rel;
    // Without the variable: the build tree that holds the test's working directory.
    std::filesystem::path p = std::filesystem::current_path();
    for (;; p = p.parent_path()) {
        if (access((p.string() + rel).c_str(), X_OK) == 0)
            return p.string() + rel;
        if (p == p.root_path())
            break;
    }
    return BinaryDir() + rel;
}

namespace {

int CountEvents(const std::string &log, const std::string &event)
{
    int n = 0;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        auto j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_discarded() && j.value("event", "") == event)
            ++n;
    }
    return n;
}

}  // namespace

SimServer::SimServer() : dir_("simserver"), process_("simserver") {}

SimServer::~SimServer()
{
    Stop();
}

bool SimServer::Start(const std::string &fixtureJson, const SimServerOptions &options)
{
    std::string path = dir_.file("fixture.json");
    WriteFile(path, fixtureJson);
    return Launch(path, options);
}

bool SimServer::StartFile(const std::string &fixturePath, const SimServerOptions &options)
{
    return Launch(fixturePath, options);
}

bool SimServer::Launch(const std::string &fixturePath, const SimServerOptions &options)
{
    fixturePath_ = fixturePath;
    logPath_ = dir_.file("requests.log");
    std::string ready = dir_.file("ready.json");
    unlink(ready.c_str());
    hosts_ = options.hosts;
    argv_.clear();
    env_ = options.env;
    // A port taken by another program after the check: the server ends before it is ready, and
    // other ports are tried.
    for (int attempt = 0; attempt < 10; ++attempt) {
        bases_.clear();
        std::vector<std::string> argv = {SimServerBinary(),
                                         "--fixture",
                                         fixturePath,
                                         "--log",
                                         logPath_,
                                         "--ready",
                                         ready,
                                         "--offset",
                                         std::to_string(options.offset)};
        for (auto &h : hosts_) {
            int base = FreePortRange(6);
            if (base == 0)
                return false;
            bases_.push_back(base);
            argv.push_back("--listen");
            argv.push_back(h + ":" + std::to_string(base));
        }
        if (!options.alpha)
            argv.push_back("--no-alpha");
        if (!options.omega)
            argv.push_back("--no-omega");
        argv_ = argv;
        if (!process_.Start(argv, options.env, dir_.file("server.out")))
            return false;
        if (process_.WaitUntil([&] { return access(ready.c_str(), F_OK) == 0; }))
            return true;
        if (process_.Running())
            return false;
    }
    return false;
}

bool SimServer::Restart()
{
    if (argv_.empty())
        return false;
    Stop();
    std::string ready = dir_.file("ready.json");
    unlink(ready.c_str());
    // The old process's sockets may linger a moment, and another program may hold a port for a
    // while: try until a generous bound.
    return WaitFor(
        [&] {
            return process_.Start(argv_, env_, dir_.file("server.out")) &&
                   process_.WaitUntil([&] { return access(ready.c_str(), F_OK) == 0; });
        },
        30000, 100);
}

bool SimServer::Reload(const std::string &fixtureJson)
{
    if (!process_.Running())
        return false;
    int before = CountEvents(ReadFile(logPath_), "reload");
    WriteFile(fixturePath_, fixtureJson);
    kill(process_.pid(), SIGHUP);
    bool done = process_.WaitUntil([&] { return CountEvents(ReadFile(logPath_), "reload") > before; });
    if (!done)
        return false;
    bool ok = false;
    for (auto &r : Requests())
        if (r.event == "reload")
            ok = r.line.value("ok", false);
    return ok;
}

void SimServer::Stop()
{
    if (process_.pid() > 0 && process_.Running())
        process_.Stop();
}

bool SimServer::Running()
{
    return process_.Running();
}

std::string SimServer::RpcMap() const
{
    std::string map;
    for (size_t i = 0; i < hosts_.size(); ++i)
        map += (i ? ";" : "") + hosts_[i] + ":" + std::to_string(bases_[i]);
    return map;
}

std::string SimServer::RawRequestLog() const
{
    std::string log = access(logPath_.c_str(), F_OK) == 0 ? ReadFile(logPath_) : "";
    return logSkip_ < log.size() ? log.substr(logSkip_) : "";
}

void SimServer::ClearRequests()
{
    logSkip_ = access(logPath_.c_str(), F_OK) == 0 ? ReadFile(logPath_).size() : 0;
}

std::vector<SimRequest> SimServer::Requests() const
{
    std::vector<SimRequest> out;
    std::istringstream in(RawRequestLog());
    std::string line;
    while (std::getline(in, line)) {
        auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded())
            continue;
        SimRequest r;
        r.event = j.value("event", "");
        r.prog = j.value("prog", "");
        r.proc = j.value("proc", -1);
        r.name = j.value("name", "");
        r.conn = j.value("conn", 0L);
        r.args = j.contains("args") ? j["args"] : nlohmann::json::object();
        r.raw = j.value("raw", "");
        r.line = j;
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<SimRequest> SimServer::Calls(const std::string &prog, int proc) const
{
    std::vector<SimRequest> out;
    for (auto &r : Requests())
        if (r.event == "call" && (prog.empty() || r.prog == prog) && (proc < 0 || r.proc == proc))
            out.push_back(r);
    return out;
}

int SimServer::Accepts(const std::string &prog) const
{
    int n = 0;
    for (auto &r : Requests())
        if (r.event == "accept" && (prog.empty() || r.prog == prog))
            ++n;
    return n;
}

std::string SimFixturePath(const std::string &name)
{
    return SourceDir() + "/tests/simserver/fixtures/" + name;
}

}  // namespace testsupport
