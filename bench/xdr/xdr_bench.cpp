// Wire-format costs of the road records and of one road call.
//
// - Encode/Decode: records per second through an xdrmem stream, for every request and answer
//   of the two programs' roads. Decode includes the xdr_free that every caller of a stub or
//   wrapper pays after reading the answer.
// - Call: calls per second of alpha 117 (route), 144 (user property), 137 (send record) and 72
//   (transmission log) against the simulated server on loopback, through the plain stub and
//   the re-entrant wrapper, with the one-call latency (median and 99th percentile); beside them
//   the floor of libtirpc's own client making the route call, and a call on a new connection.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "rpcrt/rpcrt.h"
#include "samples.h"
#include "simserver.h"
#include "xdr/alpha.h"
#include "xdr/wrappers.h"

namespace {

using namespace xdrsamples;

template <class T>
using Proc = bool_t (*)(XDR *, T *);

// Frees what a record holds (lists, counted bytes); nothing for flat records.
template <class T>
void Release(Proc<T> proc, T &rec)
{
    xdr_free(reinterpret_cast<xdrproc_t>(proc), reinterpret_cast<char *>(&rec));
}

// Wire size of a record, or 0 when it does not encode into `cap` bytes.
template <class T>
unsigned Encode(Proc<T> proc, T &rec, char *buf, unsigned cap)
{
    XDR x;
    xdrmem_create(&x, buf, cap, XDR_ENCODE);
    unsigned n = proc(&x, &rec) ? xdr_getpos(&x) : 0;
    xdr_destroy(&x);
    return n;
}

constexpr unsigned kBufSize = 4u << 20;  // room for a log answer of 10,000 lines

template <class T>
void BM_Encode(benchmark::State &state, Proc<T> proc, void (*fill)(T &))
{
    T rec;
    fill(rec);
    std::vector<char> buf(kBufSize);
    const unsigned wire = Encode(proc, rec, buf.data(), kBufSize);
    if (wire == 0) {
        state.SkipWithError("sample does not encode");
        Release(proc, rec);
        return;
    }
    for (auto _ : state) {
        XDR x;
        xdrmem_create(&x, buf.data(), kBufSize, XDR_ENCODE);
        bool_t ok = proc(&x, &rec);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
        xdr_destroy(&x);
    }
    Release(proc, rec);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * wire);
    state.counters["wire_bytes"] = wire;
    state.counters["records_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Encodes a filled sample into buf and releases the sample; its wire size, or 0.
template <class T, class Fill>
unsigned EncodeSample(Proc<T> proc, Fill &&fill, std::vector<char> &buf)
{
    T rec;
    fill(rec);
    unsigned wire = Encode(proc, rec, buf.data(), static_cast<unsigned>(buf.size()));
    Release(proc, rec);
    return wire;
}

// Decodes the `wire` bytes of buf into a cleared record and releases it, once per iteration.
template <class T>
void DecodeLoop(benchmark::State &state, Proc<T> proc, std::vector<char> &buf, unsigned wire)
{
    for (auto _ : state) {
        T rec;
        std::memset(&rec, 0, sizeof rec);
        XDR x;
        xdrmem_create(&x, buf.data(), wire, XDR_DECODE);
        bool_t ok = proc(&x, &rec);
        xdr_destroy(&x);
        if (!ok) {
            state.SkipWithError("sample does not decode");
            Release(proc, rec);
            return;
        }
        benchmark::DoNotOptimize(rec);
        Release(proc, rec);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * wire);
}

template <class T>
void BM_Decode(benchmark::State &state, Proc<T> proc, void (*fill)(T &))
{
    std::vector<char> buf(kBufSize);
    const unsigned wire = EncodeSample(proc, fill, buf);
    if (wire == 0) {
        state.SkipWithError("sample does not encode");
        return;
    }
    DecodeLoop(state, proc, buf, wire);
    state.counters["wire_bytes"] = wire;
    state.counters["records_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// A transmission log answer of state.range(0) lines: the cost per line of a list.
void BM_DecodeLogLines(benchmark::State &state)
{
    const int lines = static_cast<int>(state.range(0));
    std::vector<char> buf(16 + static_cast<size_t>(lines) * 108);  // ok, next_line, the list
    const unsigned wire = EncodeSample(
        xdr_log_res, [&](log_res &r) { FillLogRes(r, lines); }, buf);
    if (wire == 0) {
        state.SkipWithError("sample does not encode");
        return;
    }
    DecodeLoop(state, xdr_log_res, buf, wire);
    state.counters["lines_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * lines, benchmark::Counter::kIsRate);
}

// ---- Calls against the simulated server ----------------------------------------------------

using nlohmann::json;

struct Server {
    testsupport::SimServer sim;
    bool ok = false;

    Server()
    {
        json log = json::array();
        for (int i = 0; i < 10; ++i)
            log.push_back("10:05:0" + std::to_string(i) + " step " + std::to_string(i + 1));
        json f = {{"compat", {{"valid", 1}, {"level", 16}}},
                  {"routes", json::array({{{"line_id", "4711"},
                                           {"route_id", "R4711"},
                                           {"route_text", "John Doe"},
                                           {"server", "127.0.0.1"},
                                           {"user", "jdoe"}}})},
                  {"properties", {{"jdoe", {{"GD_LDFIL", "(telephoneNumber=%s)"}}}}},
                  {"send_records", json::array({{{"user", "alice"},
                                                 {"job", 4711},
                                                 {"version", 1},
                                                 {"final", 0},
                                                 {"record",
                                                  {{"job", 4711},
                                                   {"subject", "Quarterly figures"},
                                                   {"recipient", "bob@example.org"},
                                                   {"originator", "Alice"},
                                                   {"status_text", "waiting for line"},
                                                   {"state", 2}}}}})},
                  {"logs", json::array({{{"user", "alice"}, {"kind", 0}, {"job", 4711}, {"lines", log}}})}};
        ok = sim.Start(f.dump());
        if (ok) {
            setenv("TELAMORPCMAP", sim.RpcMap().c_str(), 1);
            unsetenv("TELAMORPCPORT");
            unsetenv("TELAMORPCOFFSET");
            rpc_runtime_init();
        }
    }
};

Server &TheServer()
{
    static Server server;
    return server;
}

struct ClientDeleter {
    void operator()(CLIENT *c) const { clnt_destroy(c); }
};
using ClientPtr = std::unique_ptr<CLIENT, ClientDeleter>;

ClientPtr AlphaClient()
{
    return ClientPtr(tela::clnt_create("127.0.0.1", ALPHA_PROG, ALPHA_VERS, "tcp"));
}

// One-call latencies of a run, reported as median and 99th percentile in microseconds.
class Latencies {
public:
    explicit Latencies(benchmark::State &state) : state_(state) { samples_.reserve(1 << 16); }
    template <class F>
    bool Time(F &&call)
    {
        auto t0 = std::chrono::steady_clock::now();
        bool ok = call();
        auto t1 = std::chrono::steady_clock::now();
        if (samples_.size() < (1u << 20))
            samples_.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        return ok;
    }
    ~Latencies()
    {
        state_.counters["calls_per_s"] =
            benchmark::Counter(static_cast<double>(state_.iterations()), benchmark::Counter::kIsRate);
        if (samples_.empty())
            return;
        std::sort(samples_.begin(), samples_.end());
        auto at = [&](double q) { return samples_[static_cast<size_t>(q * (samples_.size() - 1))]; };
        state_.counters["lat_p50_us"] = benchmark::Counter(at(0.5), benchmark::Counter::kAvgThreads);
        state_.counters["lat_p99_us"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
    }

private:
    benchmark::State &state_;
    std::vector<double> samples_;
};

// Runs `call(client)` once per iteration on a client of the calling thread, or on one handle
// shared by all threads of the benchmark when `shared` is set.
template <class F>
void RunCalls(benchmark::State &state, bool shared, F &&call)
{
    Server &s = TheServer();
    if (!s.ok) {
        state.SkipWithError("simulated server did not start");
        return;
    }
    static std::mutex sharedLock;
    static ClientPtr sharedClient;
    ClientPtr own;
    CLIENT *clnt = nullptr;
    if (shared) {
        std::lock_guard<std::mutex> g(sharedLock);
        if (!sharedClient)
            sharedClient = AlphaClient();
        clnt = sharedClient.get();
    } else {
        own = AlphaClient();
        clnt = own.get();
    }
    if (clnt == nullptr) {
        state.SkipWithError("no client");
        return;
    }
    {
        Latencies lat(state);
        for (auto _ : state) {
            if (!lat.Time([&] { return call(clnt); })) {
                state.SkipWithError("call failed");
                break;
            }
        }
    }
}

bool RouteStub(CLIENT *clnt)
{
    route_req rq;
    FillRouteReqV2(rq);
    route_res *r = a_apply_route_new_1(&rq, clnt);
    if (r == nullptr)
        return false;
    bool ok = r->vers == 1 && r->route_res_u.v1.ec == 0;
    Release(xdr_route_res, *r);
    return ok;
}

bool RouteWrapper(CLIENT *clnt)
{
    route_req rq;
    FillRouteReqV2(rq);
    route_res r;
    if (a_apply_route_new_r1(clnt, &rq, &r) != 0)
        return false;
    bool ok = r.vers == 1 && r.route_res_u.v1.ec == 0;
    Release(xdr_route_res, r);
    return ok;
}

bool UsrconfWrapper(CLIENT *clnt)
{
    usrconf_new_req rq;
    FillUsrconfNewReq(rq);
    usrconf_new_res r;
    if (a_get_usrconf_new_r1(clnt, &rq, &r) != 0)
        return false;
    bool ok = r.ec == 0;
    Release(xdr_usrconf_new_res, r);
    return ok;
}

bool SRecStub(CLIENT *clnt)
{
    s_rec_req rq;
    FillSRecReq(rq);
    s_rec_res *r = a_get_s_rec_new_1(&rq, clnt);
    if (r == nullptr)
        return false;
    Release(xdr_s_rec_res, *r);
    return true;
}

bool LogStub(CLIENT *clnt)
{
    log_req rq;
    FillLogReq(rq);
    log_res *r = a_get_log_1(&rq, clnt);
    if (r == nullptr)
        return false;
    bool ok = r->ok && r->lines != nullptr;
    Release(xdr_log_res, *r);
    return ok;
}

// The floor under the route call: libtirpc's own TCP client on a socket of ours, called
// without the handle's lock or the tracking of partly decoded results.
void BM_CallRouteFloor(benchmark::State &state)
{
    Server &s = TheServer();
    if (!s.ok) {
        state.SkipWithError("simulated server did not start");
        return;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(s.sim.AlphaPort()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            close(fd);
        state.SkipWithError("no connection");
        return;
    }
    netbuf server = {sizeof addr, sizeof addr, &addr};
    CLIENT *raw = clnt_vc_create(fd, &server, ALPHA_PROG, ALPHA_VERS, 0, 0);
    if (raw == nullptr) {
        close(fd);
        state.SkipWithError("no client");
        return;
    }
    const timeval timeout = {25, 0};
    {
        Latencies lat(state);
        for (auto _ : state) {
            bool ok = lat.Time([&] {
                route_req rq;
                FillRouteReqV2(rq);
                route_res r;
                std::memset(&r, 0, sizeof r);
                if (CLNT_CALL(raw, 117, reinterpret_cast<xdrproc_t>(xdr_route_req),
                              reinterpret_cast<char *>(&rq), reinterpret_cast<xdrproc_t>(xdr_route_res),
                              reinterpret_cast<char *>(&r), timeout) != RPC_SUCCESS)
                    return false;
                Release(xdr_route_res, r);
                return true;
            });
            if (!ok) {
                state.SkipWithError("call failed");
                break;
            }
        }
    }
    clnt_destroy(raw);
    close(fd);
}

// A new connection for one call, as the resolver's per-user client costs when the server
// changes: client creation (port from the map, connect), one property read, destroy.
void BM_ConnectAndCall(benchmark::State &state)
{
    if (!TheServer().ok) {
        state.SkipWithError("simulated server did not start");
        return;
    }
    Latencies lat(state);
    for (auto _ : state) {
        bool ok = lat.Time([] {
            ClientPtr clnt = AlphaClient();
            return clnt != nullptr && UsrconfWrapper(clnt.get());
        });
        if (!ok) {
            state.SkipWithError("call failed");
            break;
        }
    }
}

void BM_CallRouteStub(benchmark::State &state)
{
    RunCalls(state, true, RouteStub);
}
void BM_CallRouteWrapper(benchmark::State &state)
{
    RunCalls(state, false, RouteWrapper);
}
void BM_CallUsrconfWrapper(benchmark::State &state)
{
    RunCalls(state, false, UsrconfWrapper);
}
void BM_CallUsrconfWrapperShared(benchmark::State &state)
{
    RunCalls(state, true, UsrconfWrapper);
}
void BM_CallSRecStub(benchmark::State &state)
{
    RunCalls(state, true, SRecStub);
}
void BM_CallLogStub(benchmark::State &state)
{
    RunCalls(state, true, LogStub);
}

}  // namespace

#define ROAD_RECORD(name, proc, fill)               \
    BENCHMARK_CAPTURE(BM_Encode, name, proc, fill); \
    BENCHMARK_CAPTURE(BM_Decode, name, proc, fill)

ROAD_RECORD(compat_rec, xdr_compat_rec, FillCompat);
ROAD_RECORD(route_req_v0, xdr_route_req, FillRouteReqV0);
ROAD_RECORD(route_req_v1, xdr_route_req, FillRouteReqV1);
ROAD_RECORD(route_req_v2, xdr_route_req, FillRouteReqV2);
ROAD_RECORD(route_res_v0, xdr_route_res, FillRouteResV0);
ROAD_RECORD(route_res_v1, xdr_route_res, FillRouteResV1);
ROAD_RECORD(usrconf_new_req, xdr_usrconf_new_req, FillUsrconfNewReq);
ROAD_RECORD(usrconf_new_res, xdr_usrconf_new_res, FillUsrconfNewRes);
ROAD_RECORD(user_key, xdr_user_key, FillUserKey);
ROAD_RECORD(a_user_rec, xdr_a_user_rec, FillUserRec);
ROAD_RECORD(group_rec, xdr_group_rec, FillGroupRec);
ROAD_RECORD(pageb_req, xdr_pageb_req, FillPagebReq);
ROAD_RECORD(pageb_res_1024, xdr_pageb_res, FillPagebRes1024);
ROAD_RECORD(page_list, xdr_page_list, FillPageList);
ROAD_RECORD(s_rec_req, xdr_s_rec_req, FillSRecReq);
ROAD_RECORD(s_rec_res_v0, xdr_s_rec_res, FillSRecResV0);
ROAD_RECORD(s_rec_res_v1, xdr_s_rec_res, FillSRecResV1);
ROAD_RECORD(log_req, xdr_log_req, FillLogReq);
ROAD_RECORD(log_res_10, xdr_log_res, FillLogRes10);

BENCHMARK(BM_DecodeLogLines)->Arg(1)->Arg(100)->Arg(10000)->Arg(100000);

BENCHMARK(BM_CallRouteFloor)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CallRouteStub)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CallRouteWrapper)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CallUsrconfWrapper)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(1)->Threads(4);
BENCHMARK(BM_CallUsrconfWrapperShared)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(4);
BENCHMARK(BM_ConnectAndCall)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CallSRecStub)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_CallLogStub)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
