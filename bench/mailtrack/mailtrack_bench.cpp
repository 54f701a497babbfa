// The cost of one delivery report. In one run the program starts the simulated alpha server and
// three lighttpd instances of the same configuration: one serves mailtrack, one a trivial CGI
// program that prints a fixed page of the same size, and one the same trivial program as a client
// of the RPC library (it loads libtirpc, the floor of any client of the alpha and omega servers).
// A small multi-connection HTTP client on loopback loads them in turn: requests per second and
// median latency of the report, of mailtrack's start alone (the "Unknown program" page, which
// asks no server) and of the two fixed pages, side by side, and their ratios. The same four are
// then started directly (fork and exec with a crafted CGI environment), alternating, for the
// median time of one run. Last it runs the report for a 10-line and a 10,000-line transmission
// log and reports the peak memory (max RSS) of each run, taken by the small launcher rss_probe.
//
// Every loop is bounded by a count and a time limit; only 127.0.0.1 is used.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "benchflags.h"
#include "lighttpd.h"
#include "simserver.h"
#include "testsupport.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

struct Options {
    int connections = 8;                    // concurrent client connections
    int requests = 2000;                    // requests per measurement at most
    int seconds = 6;                        // time per measurement at most
    int rounds = 7;                         // measurements of each program, alternating (short rounds
                                            // keep the drift of a shared machine out of the ratios)
    int warmup = 50;                        // requests to each program before the first round
    int directRuns = 40;                    // direct runs of each program per round
    int memoryRuns = 3;                     // direct runs per log size
    std::string mailtrack = MAILTRACK_BIN;  // the report program (another build's, to compare)
};

const char kUser[] = "alice";
const char kRecipient[] = "bob@example.org";
const int kPageJob = 4711;   // the message whose report the load asks for (12 log lines)
const int kShortJob = 10;    // 10 log lines
const int kLongJob = 10000;  // 10,000 log lines

// A log line of 70 characters, like the gateway's own.
std::string LogLine(int index)
{
    char line[101];
    snprintf(line, sizeof line, "%02d:%02d:%02d page %5d: dialling +49 30 9876543, connected at 14400 bit/s",
             10 + index / 3600 % 14, index / 60 % 60, index % 60, index);
    return line;
}

json Record(int job)
{
    return {{"user", kUser},
            {"job", job},
            {"version", 1},
            {"final", 0},
            {"record",
             {{"job", job},
              {"flags", 0},
              {"subject", "Quarterly report"},
              {"submit_time", 1394010307},
              {"last_attempt", 1394010367},
              {"state", 2},
              {"retries", 1},
              {"recipient", kRecipient},
              {"originator", "Alice Sender"},
              {"status_text", "waiting for line"}}}};
}

json Log(int job, int count)
{
    json lines = json::array();
    for (int i = 1; i <= count; ++i)
        lines.push_back(LogLine(i));
    return {{"user", kUser}, {"kind", 0}, {"job", job}, {"lines", lines}};
}

std::string Fixture()
{
    json f = {{"compat", {{"valid", 1}, {"level", 16}}},
              {"send_records", json::array({Record(kPageJob), Record(kShortJob), Record(kLongJob)})},
              {"logs", json::array({Log(kPageJob, 12), Log(kShortJob, 10), Log(kLongJob, 10000)})}};
    return f.dump();
}

std::string Query(int job)
{
    return "p=0&a=127.0.0.1&u=" + std::string(kUser) + "&r=" + std::to_string(job) + "&n=" + kRecipient;
}

// The body of a CGI answer or an HTTP response: what follows the first blank line.
std::string Body(const std::string &text)
{
    size_t end = text.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : text.substr(end + 4);
}

size_t Count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

size_t FilesIn(const std::string &dir)
{
    size_t n = 0;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                ++n;
        closedir(d);
    }
    return n;
}

// ---------------------------------------------------------------------------------------------
// Load generator

struct Measurement {
    long completed = 0;  // answers with status 200 and the expected body
    long failed = 0;     // no answer, another status or another body
    double seconds = 0;
    std::vector<double> latencyMs;  // of the completed requests
    std::string firstFailure;

    double Rate() const { return seconds > 0 ? static_cast<double>(completed) / seconds : 0; }
};

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    size_t k = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k];
}

// `connections` threads send GET `path` one after the other, each on a fresh connection (the
// servers close after every answer), until `maxRequests` were sent or `maxSeconds` passed.
Measurement Load(int port, const std::string &path, const std::string &expectedBody, int connections,
                 int maxRequests, int maxSeconds)
{
    std::atomic<long> issued{0};
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(maxSeconds);
    std::vector<Measurement> perThread(static_cast<size_t>(connections));
    std::vector<std::thread> threads;
    for (int t = 0; t < connections; ++t) {
        threads.emplace_back([&, t] {
            Measurement &m = perThread[static_cast<size_t>(t)];
            while (issued.fetch_add(1) < maxRequests && Clock::now() < deadline) {
                const auto t0 = Clock::now();
                testsupport::HttpResponse r = testsupport::HttpRequest(port, "GET", path, {}, "", 30000);
                const auto t1 = Clock::now();
                if (r.status == 200 && r.body == expectedBody) {
                    ++m.completed;
                    m.latencyMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                } else {
                    if (m.failed++ == 0)
                        m.firstFailure = "status " + std::to_string(r.status) + ", " +
                                         std::to_string(r.body.size()) + " bytes" +
                                         (r.error.empty() ? "" : ", " + r.error);
                }
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    Measurement all;
    all.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (Measurement &m : perThread) {
        all.completed += m.completed;
        all.failed += m.failed;
        all.latencyMs.insert(all.latencyMs.end(), m.latencyMs.begin(), m.latencyMs.end());
        if (all.firstFailure.empty())
            all.firstFailure = m.firstFailure;
    }
    return all;
}

// ---------------------------------------------------------------------------------------------
// Direct runs with the resource usage of the child

struct DirectRun {
    int exitCode = -1;  // 128 + signal when killed
    double seconds = 0;
    std::string out;
};

// Runs argv with exactly `env`, the standard input from /dev/null and the standard output into
// `outPath`, in a process group of its own that is killed after `timeoutSeconds`.
DirectRun Run(const std::vector<std::string> &args, const std::vector<std::string> &env,
              const std::string &outPath, int timeoutSeconds)
{
    DirectRun run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    const auto start = Clock::now();
    int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        fprintf(stderr, "cannot start %s: %s\n", argv[0], strerror(rc));
        return run;
    }
    // The end is awaited on a process descriptor: the time is taken when the child ends, not at
    // the next turn of a polling loop.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd ended = {pidfd, POLLIN, 0};
    int ready = 0;
    if (pidfd >= 0) {
        do
            ready = poll(&ended, 1, timeoutSeconds * 1000);
        while (ready < 0 && errno == EINTR);
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (pidfd >= 0 && ready == 0)
        kill(-pid, SIGKILL);
    if (pidfd >= 0)
        close(pidfd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            fprintf(stderr, "waitpid: %s\n", strerror(errno));
            return run;
        }
    }
    if (pidfd < 0)
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = testsupport::ReadFile(outPath);
    return run;
}

// The peak memory of one run of `program`, taken by rss_probe (see there why not directly).
// 0 when the probe wrote no figure.
long MaxRssKiB(const std::string &probeOut)
{
    long kib = 0;
    if (sscanf(probeOut.c_str(), "maxrss_kib %ld", &kib) != 1)
        return 0;
    return kib;
}

// Runs `program` under rss_probe; its figure goes to *kib (0 when there is none).
DirectRun RunProbed(const std::string &program, const std::vector<std::string> &env, const std::string &dir,
                    int timeoutSeconds, long *kib)
{
    const std::string figure = dir + "/rss.txt";
    unlink(figure.c_str());
    DirectRun run = Run({RSS_PROBE_BIN, figure, program}, env, dir + "/probed.out", timeoutSeconds);
    *kib = access(figure.c_str(), R_OK) == 0 ? MaxRssKiB(testsupport::ReadFile(figure)) : 0;
    return run;
}

// ---------------------------------------------------------------------------------------------

bool ParseOptions(int argc, char **argv, Options *o)
{
    const benchflags::IntFlag flags[] = {
        {"--connections", &o->connections, 1, 64}, {"--requests", &o->requests, 1, 100000},
        {"--seconds", &o->seconds, 1, 600},        {"--rounds", &o->rounds, 1, 20},
        {"--warmup", &o->warmup, 0, 10000},        {"--memory-runs", &o->memoryRuns, 1, 20},
        {"--direct-runs", &o->directRuns, 1, 1000}};
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--mailtrack") == 0 && i + 1 < argc) {
            o->mailtrack = argv[++i];
            continue;
        }
        benchflags::Taken taken = benchflags::TakeIntFlag(argc, argv, &i, flags);
        if (taken == benchflags::Taken::kBadValue)
            return false;
        if (taken == benchflags::Taken::kNo) {
            fprintf(stderr,
                    "usage: %s [--connections N] [--requests N] [--seconds N] [--rounds N] [--warmup N] "
                    "[--direct-runs N] [--memory-runs N] [--mailtrack PATH]\n",
                    argv[0]);
            return false;
        }
    }
    return true;
}

void PrintRow(const char *name, const Measurement &m)
{
    printf("  %-6s %7ld ok %4ld failed %7.2f s %8.1f req/s  median %6.2f ms  p90 %6.2f ms\n", name,
           m.completed, m.failed, m.seconds, m.Rate(), Percentile(m.latencyMs, 0.5),
           Percentile(m.latencyMs, 0.9));
    if (m.failed > 0)
        printf("             first failure: %s\n", m.firstFailure.c_str());
}

// What the measurements share: the CGI environment of a direct run and the report page.
struct Context {
    const testsupport::SimServer *sim;
    const testsupport::TempDir *tmp;
    std::string cgiTmp;                // TMPDIR of every mailtrack run
    std::vector<std::string> baseEnv;  // CGI environment without QUERY_STRING
    std::string page;                  // the report the load asks for, after the header
    const char *mailtrack;             // the report program

    std::vector<std::string> Env(const std::string &query) const
    {
        std::vector<std::string> env = baseEnv;
        env.push_back("QUERY_STRING=" + query);
        return env;
    }
};

// The page of the two fixed-page programs: as many bytes as the report.
std::string FixedPage(const Context &c)
{
    std::string page(c.page.size(), 'x');
    if (!page.empty())
        page.back() = '\n';
    return page;
}

const char kStartOnlyQuery[] = "p=1";  // "Unknown program 1": mailtrack's start and main alone

// The four programs side by side, as both sections show them.
enum { kReport, kStartOnly, kRpcPage, kFixedPage, kPrograms };
const char *const kLabels[kPrograms] = {"mailtrack, report with 12 log lines",
                                        "mailtrack, \"Unknown program\" page (no server asked)",
                                        "fixed page, client of libtirpc (C)", "fixed page, libc only (C)"};
const char *const kNames[kPrograms] = {"report", "start", "rpc", "fixed"};

// Four programs under the same load, alternating round by round: the report, mailtrack's own
// start alone, the fixed page as a client of the RPC library (the floor of any client of the
// servers) and the fixed page itself, the floor of any CGI program. True when every request got
// the expected page.
bool MeasureThroughput(const Options &o, const Context &c)
{
    testsupport::Lighttpd reportServer;
    testsupport::Lighttpd fixedServer;
    testsupport::Lighttpd rpcServer;
    testsupport::LighttpdOptions ro;
    ro.cgiProgram = c.mailtrack;
    ro.environment = {{"TELAMORPCMAP", c.sim->RpcMap()}, {"TZ", "UTC"}, {"TMPDIR", c.cgiTmp}};
    testsupport::LighttpdOptions fo;
    fo.cgiProgram = FIXED_PAGE_BIN;
    fo.cgiName = "fixed";
    fo.environment = {{"PAGE_BYTES", std::to_string(c.page.size())}};
    testsupport::LighttpdOptions po = fo;
    po.cgiProgram = RPC_PAGE_BIN;
    if (!reportServer.Start(ro) || !fixedServer.Start(fo) || !rpcServer.Start(po)) {
        fprintf(stderr, "lighttpd did not start:\n%s\n%s\n%s\n", reportServer.Log().c_str(),
                fixedServer.Log().c_str(), rpcServer.Log().c_str());
        return false;
    }
    const std::string fixedPage = FixedPage(c);
    DirectRun startOnly = Run({c.mailtrack}, c.Env(kStartOnlyQuery), c.tmp->file("start-only.out"), 60);

    struct Target {
        int port;
        std::string path;
        std::string body;
        std::vector<double> rates;
        std::vector<double> latencyMs;
    };
    std::vector<Target> targets = {
        {reportServer.port(), reportServer.CgiPath("?" + Query(kPageJob)), c.page, {}, {}},
        {reportServer.port(),
         reportServer.CgiPath(std::string("?") + kStartOnlyQuery),
         Body(startOnly.out),
         {},
         {}},
        {rpcServer.port(), rpcServer.CgiPath(), fixedPage, {}, {}},
        {fixedServer.port(), fixedServer.CgiPath(), fixedPage, {}, {}}};

    printf("\nunder lighttpd: %d connections, at most %d requests or %d s per measurement, %d rounds\n",
           o.connections, o.requests, o.seconds, o.rounds);
    for (size_t i = 0; i < targets.size() && o.warmup > 0; ++i) {
        const Target &t = targets[i];
        Measurement w = Load(t.port, t.path, t.body, o.connections, o.warmup, o.seconds);
        if (w.completed == 0) {
            fprintf(stderr, "warm-up of %s failed: %s\n", kNames[i], w.firstFailure.c_str());
            return false;
        }
    }
    long failures = 0;
    for (int round = 1; round <= o.rounds; ++round) {
        printf("round %d\n", round);
        for (size_t i = 0; i < targets.size(); ++i) {
            Target &t = targets[i];
            Measurement m = Load(t.port, t.path, t.body, o.connections, o.requests, o.seconds);
            PrintRow(kNames[i], m);
            t.rates.push_back(m.Rate());
            t.latencyMs.insert(t.latencyMs.end(), m.latencyMs.begin(), m.latencyMs.end());
            failures += m.failed;
        }
    }
    printf(
        "\n| program | page bytes | requests/s (median of %d rounds) | median latency |\n|---|---|---|---|\n",
        o.rounds);
    for (size_t i = 0; i < targets.size(); ++i)
        printf("| %s | %zu | %.0f | %.2f ms |\n", kLabels[i], targets[i].body.size(),
               Percentile(targets[i].rates, 0.5), Percentile(targets[i].latencyMs, 0.5));
    double median[kPrograms];
    for (size_t i = 0; i < targets.size(); ++i)
        median[i] = Percentile(targets[i].latencyMs, 0.5);
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    printf("median latency, report / libtirpc client: %.2f\n", ratio(median[kReport], median[kRpcPage]));
    printf("median latency, \"Unknown program\" / libtirpc client: %.2f\n",
           ratio(median[kStartOnly], median[kRpcPage]));
    printf("median latency, report / \"Unknown program\": %.2f\n",
           ratio(median[kReport], median[kStartOnly]));
    printf("median latency, libtirpc client / libc only: %.2f\n",
           ratio(median[kRpcPage], median[kFixedPage]));
    if (failures > 0)
        printf("WARNING: %ld requests failed\n", failures);
    return failures == 0;
}

// The same four programs started directly, one run at a time (fork and exec with the CGI
// environment, standard output into a file), alternating program by program within each round:
// the median wall time of one run, from the start to the child's end. True when every run wrote
// its page.
bool MeasureDirect(const Options &o, const Context &c)
{
    const std::string fixedPage = FixedPage(c);
    const std::vector<std::string> fixedEnv = {"PAGE_BYTES=" + std::to_string(c.page.size())};
    DirectRun startOnly = Run({c.mailtrack}, c.Env(kStartOnlyQuery), c.tmp->file("start-only.out"), 60);
    struct Program {
        const char *path;
        std::vector<std::string> env;
        std::string body;
        std::vector<double> ms;
    } programs[kPrograms] = {
        {c.mailtrack, c.Env(Query(kPageJob)), c.page, {}},
        {c.mailtrack, c.Env(kStartOnlyQuery), Body(startOnly.out), {}},
        {RPC_PAGE_BIN, fixedEnv, fixedPage, {}},
        {FIXED_PAGE_BIN, fixedEnv, fixedPage, {}},
    };
    const std::string out = c.tmp->file("direct.out");
    const auto deadline = Clock::now() + std::chrono::seconds(300);
    printf("\ndirect runs: %d rounds of %d runs of each program, alternating\n", o.rounds, o.directRuns);
    for (int round = 0; round < o.rounds && Clock::now() < deadline; ++round) {
        for (int run = 0; run < o.directRuns; ++run) {
            for (size_t i = 0; i < kPrograms; ++i) {
                Program &p = programs[i];
                DirectRun r = Run({p.path}, p.env, out, 30);
                if (r.exitCode != 0 || Body(r.out) != p.body) {
                    fprintf(stderr, "direct run of %s: exit %d, %zu bytes\n", kNames[i], r.exitCode,
                            r.out.size());
                    return false;
                }
                p.ms.push_back(1000 * r.seconds);
            }
        }
    }
    printf("\n| program | median of %zu direct runs | p90 |\n|---|---|---|\n", programs[0].ms.size());
    for (size_t i = 0; i < kPrograms; ++i)
        printf("| %s | %.2f ms | %.2f ms |\n", kLabels[i], Percentile(programs[i].ms, 0.5),
               Percentile(programs[i].ms, 0.9));
    double median[kPrograms];
    for (size_t i = 0; i < kPrograms; ++i)
        median[i] = Percentile(programs[i].ms, 0.5);
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    printf("direct, \"Unknown program\" / libtirpc client: %.2f\n",
           ratio(median[kStartOnly], median[kRpcPage]));
    printf("direct, report / libtirpc client: %.2f\n", ratio(median[kReport], median[kRpcPage]));
    printf("direct, libtirpc client / libc only: %.2f\n", ratio(median[kRpcPage], median[kFixedPage]));
    return true;
}

// Peak memory and time of one direct run: the report for a short and a long log, and for scale
// mailtrack's start alone and the fixed page. True when every run wrote its complete page.
bool MeasurePeakMemory(const Options &o, const Context &c)
{
    auto report = [](int lines) {
        return [lines](const std::string &body) {
            return Count(body, "<br>") == static_cast<size_t>(lines) &&
                   body.find("</p></p></body> </html>\n") != std::string::npos;
        };
    };
    struct Case {
        const char *label;
        const char *lines;
        const char *program;
        std::vector<std::string> env;
        std::function<bool(const std::string &)> complete;
    } cases[] = {
        {"mailtrack, report", "10", c.mailtrack, c.Env(Query(kShortJob)), report(10)},
        {"mailtrack, report", "10000", c.mailtrack, c.Env(Query(kLongJob)), report(10000)},
        {"mailtrack, \"Unknown program\" page", "-", c.mailtrack, c.Env("p=1"),
         [](const std::string &body) { return body.find("Unknown program 1") != std::string::npos; }},
        {"fixed page, client of libtirpc (C)",
         "-",
         RPC_PAGE_BIN,
         {"PAGE_BYTES=" + std::to_string(c.page.size())},
         [&c](const std::string &body) { return body.size() == c.page.size(); }},
        {"fixed page, libc only (C)",
         "-",
         FIXED_PAGE_BIN,
         {"PAGE_BYTES=" + std::to_string(c.page.size())},
         [&c](const std::string &body) { return body.size() == c.page.size(); }},
    };
    printf("\n| direct run | log lines | max RSS (median of %d runs) | time |\n|---|---|---|---|\n",
           o.memoryRuns);
    for (const Case &k : cases) {
        std::vector<double> rss, secs;
        for (int i = 0; i < o.memoryRuns; ++i) {
            long kib = 0;
            DirectRun run = RunProbed(k.program, k.env, c.tmp->path(), 120, &kib);
            const std::string body = Body(run.out);
            if (run.exitCode != 0 || kib == 0 || !k.complete(body)) {
                fprintf(stderr, "%s (%s log lines): exit %d, %zu bytes, %zu lines\n", k.label, k.lines,
                        run.exitCode, body.size(), Count(body, "<br>"));
                return false;
            }
            rss.push_back(static_cast<double>(kib));
            secs.push_back(run.seconds);
        }
        printf("| %s | %s | %.0f KiB | %.1f ms |\n", k.label, k.lines, Percentile(rss, 0.5),
               1000 * Percentile(secs, 0.5));
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!ParseOptions(argc, argv, &o))
        return 2;
    signal(SIGPIPE, SIG_IGN);
    setenv("SIMSERVER_BIN", SIMSERVER_BIN_PATH, 0);

    testsupport::SimServer sim;
    if (!sim.Start(Fixture())) {
        fprintf(stderr, "the simulated alpha server did not start:\n%s\n", sim.Log().c_str());
        return 1;
    }
    testsupport::TempDir tmp("mtbench");
    Context c;
    c.sim = &sim;
    c.tmp = &tmp;
    c.mailtrack = o.mailtrack.c_str();
    c.cgiTmp = tmp.file("cgi-tmp");
    mkdir(c.cgiTmp.c_str(), 0700);
    const char *path = getenv("PATH");
    c.baseEnv = {"REQUEST_METHOD=GET", sim.RpcMapEnv(), "TZ=UTC", "TMPDIR=" + c.cgiTmp,
                 std::string("PATH=") + (path ? path : "/usr/bin:/bin")};

    // The page the load asks for, from a direct run: it fixes the size of the fixed page and is
    // what every answer under load must be.
    DirectRun reference = Run({c.mailtrack}, c.Env(Query(kPageJob)), tmp.file("reference.out"), 60);
    c.page = Body(reference.out);
    if (reference.exitCode != 0 || Count(c.page, "<br>") != 12 ||
        c.page.find("Transmission Log") == std::string::npos) {
        fprintf(stderr, "mailtrack did not write the report (exit %d):\n%s\n", reference.exitCode,
                reference.out.c_str());
        return 1;
    }
    printf("mailtrack: %s\nreport page: %zu bytes of HTML after the header, 12 log lines\n", c.mailtrack,
           c.page.size());

    bool ok = true;
    if (testsupport::LighttpdPath().empty())
        printf("lighttpd is not installed: requests per second left out\n");
    else
        ok = MeasureThroughput(o, c);
    ok = MeasureDirect(o, c) && ok;
    ok = MeasurePeakMemory(o, c) && ok;
    const size_t left = FilesIn(c.cgiTmp);
    if (left > 0)
        printf("WARNING: %zu temporary files left behind\n", left);
    return ok && left == 0 ? 0 : 1;
}
