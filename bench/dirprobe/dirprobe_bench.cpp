// Extensions resolved per second by dirprobe in continuous mode with a warm route cache, against
// the simulated alpha server and slapd on loopback, beside the floor: a minimal client that
// makes the same RPC requests and one LDAP search per extension.
#include <benchmark/benchmark.h>

#include <ldap.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "rpcrt/rpcrt.h"
#include "simserver.h"
#include "slapd.h"
#include "xdr/alpha.h"

namespace {

using nlohmann::json;

const char kLdif[] =
    "dn: dc=example,dc=test\n"
    "objectClass: dcObject\nobjectClass: organization\no: Example\ndc: example\n\n"
    "dn: ou=people,dc=example,dc=test\nobjectClass: organizationalUnit\nou: people\n\n"
    "dn: uid=u1,ou=people,dc=example,dc=test\n"
    "objectClass: inetOrgPerson\nuid: u1\ncn: One\nsn: One\ngivenName: User\ntelephoneNumber: 6001\n\n";

struct Servers {
    testsupport::Slapd slapd;
    testsupport::SimServer sim;
    bool ok = false;
    std::string base = "ou=people,dc=example,dc=test";

    Servers()
    {
        testsupport::SlapdOptions so;
        so.ldif = kLdif;
        so.tls = false;
        if (!slapd.Start(so))
            return;
        json dir = {{"SG_LDE", "1"},
                    {"GD_LDH", "127.0.0.1"},
                    {"GD_LDPRT", std::to_string(slapd.port())},
                    {"GD_LDBAS", base},
                    {"GD_LDFIL", "(telephoneNumber=%s)"},
                    {"GREETING", "100"}};
        json f = {
            {"compat", {{"valid", 1}, {"level", 16}}},
            {"routes",
             json::array(
                 {{{"line_id", "6001"}, {"route_id", "R6001"}, {"server", "127.0.0.1"}, {"user", "u1"}}})},
            {"properties", {{"u1", dir}}},
            {"jobs", json::array({{{"user", "u1"},
                                   {"kind", 2},
                                   {"job", 100},
                                   {"pages",
                                    json::array({{{"page", 1}, {"variants", {{"14", {{"size", 8}}}}}}})}}})}};
        ok = sim.Start(f.dump());
    }
};

Servers &TheServers()
{
    static Servers servers;
    return servers;
}

std::string Dirprobe()
{
    const char *bin = std::getenv("TELA_BINARY_DIR");
    return std::string(bin ? bin : ".") + "/core/driver/dirprobe/dirprobe";
}

testsupport::RunOptions Env(const Servers &s, const std::string &input)
{
    testsupport::RunOptions o;
    o.env = {s.sim.RpcMapEnv(), "ALPHAHOST=127.0.0.1", "OMEGAHOST=127.0.0.1", "LDAPNOINIT=1"};
    o.unset = {"TELAMORPCPORT", "TELAMORPCOFFSET", "RPCTRANSPORT"};
    o.input = input;
    o.timeoutMs = 600000;
    return o;
}

// dirprobe -c with one extension on the command line (the cache miss) and `typed` more at the
// prompt; the time per typed extension is what a warm cache costs.
void BM_DirprobeWarm(benchmark::State &state)
{
    Servers &s = TheServers();
    if (!s.ok) {
        state.SkipWithError("servers did not start");
        return;
    }
    const int typed = static_cast<int>(state.range(0));
    std::string input;
    for (int i = 0; i < typed; ++i)
        input += "6001\n";
    input += "000\n";
    // One run with only the command-line extension: its requests are the start-up and the miss.
    s.sim.ClearRequests();
    auto first = testsupport::RunProgram({Dirprobe(), "-c", "6001"}, Env(s, "000\n"));
    if (first.exitCode != 0) {
        state.SkipWithError("dirprobe failed");
        return;
    }
    const size_t startAndMiss = s.sim.Calls().size();
    const size_t startUp = s.sim.Calls("alpha", 75).size();
    int64_t resolved = 0;
    size_t rpcAfter = 0;
    for (auto _ : state) {
        state.PauseTiming();
        s.sim.ClearRequests();
        state.ResumeTiming();
        auto r = testsupport::RunProgram({Dirprobe(), "-c", "6001"}, Env(s, input));
        state.PauseTiming();
        if (r.exitCode != 0) {
            state.SkipWithError("dirprobe failed");
            return;
        }
        rpcAfter = s.sim.Calls().size();
        state.ResumeTiming();
        resolved += typed;
    }
    state.counters["ext_per_s"] =
        benchmark::Counter(static_cast<double>(resolved), benchmark::Counter::kIsRate);
    state.counters["rpc_per_miss"] = static_cast<double>(startAndMiss - startUp);
    state.counters["rpc_per_hit"] = static_cast<double>(rpcAfter - startAndMiss) / typed;
}

// The same requests per extension as dirprobe's warm path, made directly: the route, the
// greeting and timeout properties, the greeting page, and one directory search.
void BM_Floor(benchmark::State &state)
{
    Servers &s = TheServers();
    if (!s.ok) {
        state.SkipWithError("servers did not start");
        return;
    }
    setenv("TELAMORPCMAP", s.sim.RpcMap().c_str(), 1);
    rpc_runtime_init();
    CLIENT *alpha = tela::clnt_create("127.0.0.1", ALPHA_PROG, ALPHA_VERS, "tcp");
    CLIENT *user = tela::clnt_create("127.0.0.1", ALPHA_PROG, ALPHA_VERS, "tcp");
    LDAP *ld = nullptr;
    std::string url = "ldap://127.0.0.1:" + std::to_string(s.slapd.port());
    if (!alpha || !user || ldap_initialize(&ld, url.c_str()) != LDAP_SUCCESS) {
        state.SkipWithError("no connection");
        return;
    }
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval cred{0, nullptr};
    ldap_sasl_bind_s(ld, "", LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    const char *keys[] = {"GREETING", "GOODBYE", "VGREETING", "VGOODBYE", "GD_VRREC", "GD_VRSIL"};
    char *attrs[] = {const_cast<char *>("sn"), const_cast<char *>("givenName"), nullptr};
    int64_t resolved = 0;
    for (auto _ : state) {
        route_req rq;
        std::memset(&rq, 0, sizeof rq);
        rq.vers = 2;
        std::strcpy(rq.route_req_u.v2.line_id, "6001");
        rq.route_req_u.v2.full = 1;
        route_res *rr = a_apply_route_new_1(&rq, alpha);
        if (rr)
            xdr_free(reinterpret_cast<xdrproc_t>(xdr_route_res), reinterpret_cast<char *>(rr));
        for (const char *k : keys) {
            usrconf_new_req q;
            std::memset(&q, 0, sizeof q);
            q.vers = 1;
            std::strcpy(q.usrconf_new_req_u.v1.user, "u1");
            std::strcpy(q.usrconf_new_req_u.v1.key, k);
            usrconf_new_res *res = a_get_usrconf_new_1(&q, user);
            if (res)
                xdr_free(reinterpret_cast<xdrproc_t>(xdr_usrconf_new_res), reinterpret_cast<char *>(res));
        }
        pageb_req pq;
        std::memset(&pq, 0, sizeof pq);
        std::strcpy(pq.user, "u1");
        pq.kind = 2;
        pq.job = 100;
        pq.page = 1;
        pq.variant = 14;
        pageb_res *pr = a_get_pageb_1(&pq, user);
        if (pr)
            xdr_free(reinterpret_cast<xdrproc_t>(xdr_pageb_res), reinterpret_cast<char *>(pr));
        LDAPMessage *msg = nullptr;
        timeval tv{10, 0};
        ldap_search_ext_s(ld, s.base.c_str(), LDAP_SCOPE_SUBTREE, "(telephoneNumber=6001)", attrs, 0, nullptr,
                          nullptr, &tv, 0, &msg);
        ldap_msgfree(msg);
        ++resolved;
    }
    state.counters["ext_per_s"] =
        benchmark::Counter(static_cast<double>(resolved), benchmark::Counter::kIsRate);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    clnt_destroy(alpha);
    clnt_destroy(user);
}

}  // namespace

BENCHMARK(BM_DirprobeWarm)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Floor)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
