// Shared set-up of the dirprobe end-to-end tests: the simulated alpha/omega server with a
// fixture built in the test, and runs of the real binary against it.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "simserver.h"
#include "testsupport.h"

namespace dirprobe_test {

using nlohmann::json;

inline std::string DirprobePath()
{
    return testsupport::BinaryDir() + "/core/driver/dirprobe/dirprobe";
}

// A fixture with the plain users of most tests: jdoe (greeting and goodbye pages, voice
// timeouts), asmith (accept all, a video greeting), a hunt group on 200.
inline json BaseFixture(int level = 16)
{
    return json{
        {"compat", {{"valid", 1}, {"level", level}}},
        {"routes",
         json::array({
             {{"line_id", "4711"}, {"route_id", "R4711"}, {"server", "127.0.0.1"}, {"user", "jdoe"}},
             {{"line_id", "4712"}, {"route_id", "R4712"}, {"server", "127.0.0.1"}, {"user", "asmith"}},
             {{"line_id", "200"}, {"route_id", "G200"}, {"group", "sales"}},
         })},
        {"users", json::array({{{"server", "127.0.0.1"}, {"user", "jdoe"}, {"name", "John Doe"}},
                               {{"server", "127.0.0.1"}, {"user", "asmith"}, {"name", "Anna Smith"}}})},
        {"properties",
         {{"jdoe", {{"GREETING", "100"}, {"GOODBYE", "101"}, {"GD_VRREC", "30"}, {"GD_VRSIL", "5"}}},
          {"asmith", {{"GD_ACPTALL", "1"}, {"VGREETING", "300"}}}}},
        {"groups", json::array({{{"id", "sales"}, {"name", "Sales Team"}}})},
        {"jobs", json::array({
                     {{"user", "jdoe"},
                      {"kind", 2},
                      {"job", 100},
                      {"pages", json::array({{{"page", 1}, {"variants", {{"14", {{"text", "hello"}}}}}}})}},
                     {{"user", "asmith"},
                      {"kind", 2},
                      {"job", 300},
                      {"pages", json::array({{{"page", 1}, {"variants", {{"15", {{"size", 64}}}}}}})}},
                 })},
    };
}

// The environment of a run against `sim`: hosts on loopback, no environment file, no system
// LDAP configuration.
inline testsupport::RunOptions RunEnv(const testsupport::SimServer &sim, const std::string &input = "")
{
    testsupport::RunOptions o;
    o.env = {sim.RpcMapEnv(), "ALPHAHOST=127.0.0.1", "OMEGAHOST=127.0.0.1", "LDAPNOINIT=1"};
    // Under the leak checker: a known leak of the IMAP library's TLS set-up is not ours.
    const char *lsan = std::getenv("LSAN_OPTIONS");
    o.env.push_back(std::string("LSAN_OPTIONS=") + (lsan && *lsan ? std::string(lsan) + ":" : "") +
                    "suppressions=" + testsupport::SourceDir() + "/tests/dirprobe/cclient.supp");
    // The locale decides the output's character set: none from the caller's environment.
    o.unset = {"TELAMORPCPORT", "TELAMORPCOFFSET", "RPCTRANSPORT", "LOCALHOST", "FAXROOT",
               "LANG",          "LANGUAGE",        "LC_ALL",       "LC_CTYPE"};
    o.input = input;
    o.timeoutMs = 60000;
    return o;
}

inline testsupport::RunResult RunDirprobe(const std::vector<std::string> &args,
                                          const testsupport::RunOptions &o)
{
    std::vector<std::string> argv = {DirprobePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::RunProgram(argv, o);
}

// Connections accepted by `prog`, once the count reached `n` or after 2 s: the server logs an
// accept on its own time, which for a connection that carried no call can be after the client
// has gone.
inline int AcceptsReaching(const testsupport::SimServer &sim, const std::string &prog, int n)
{
    testsupport::WaitFor([&] { return sim.Accepts(prog) >= n; }, 2000);
    return sim.Accepts(prog);
}

// The property keys of the "call" lines of one procedure, in order.
inline std::vector<std::string> PropertyKeys(const testsupport::SimServer &sim)
{
    std::vector<std::string> keys;
    for (const auto &r : sim.Calls("alpha", 144))
        keys.push_back(r.args.value("key", ""));
    return keys;
}

}  // namespace dirprobe_test
