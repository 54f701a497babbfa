// Lines per second through the trace library: level W lines, each flushed to the file as it is
// written (the library flushes every line), with size rotation on, from 1 and from 8 threads.
// Beside it, in the same run, spdlog's rotating file sink with a flush after every line, a
// pattern of the same shape and the same rotation size. Rounds alternate between the two; the
// table gives the median of the rounds.
//
// Every round is bounded by a line count and a time limit; everything is written below a private
// temporary directory that is removed at the end.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include "benchflags.h"
#include "testsupport.h"
#include "trace/trace.h"
#include "trace/trace_params.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int lines = 500000;  // lines per round, shared by the threads
    int seconds = 20;    // time per round at most
    int rounds = 5;      // rounds of each library, alternating
    int fileKiB = 1024;  // size at which a file is rotated
};

constexpr int kLevelW = 1;  // the trace library's level W
// The source file both libraries name in a line (the trace library keeps a path whole).
const char kFile[] = "trace_bench.cpp";
const char kText[] = "bench line %d of thread %d: dialling +49 30 9876543, connected";

struct Round {
    long lines = 0;  // lines written
    double seconds = 0;
    double Rate() const { return seconds > 0 ? static_cast<double>(lines) / seconds : 0; }
};

// `threads` threads write their share of `lines` through `write(thread, index)` until done or
// until the time limit.
template <typename Write>
Round Drive(int threads, int lines, int seconds, Write write)
{
    std::atomic<long> written{0};
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            const int share = lines / threads;
            long n = 0;
            for (int i = 0; i < share; ++i) {
                write(t, i);
                ++n;
                if ((i & 1023) == 1023 && Clock::now() >= deadline)
                    break;
            }
            written += n;
        });
    }
    for (std::thread &t : pool)
        t.join();
    Round r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.lines = written.load();
    return r;
}

// Lines holding the bench text in the files of `dir`, how many files there are and their bytes.
long CountLines(const std::string &dir, int *files, long *bytes)
{
    long lines = 0;
    *files = 0;
    *bytes = 0;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return 0;
    std::vector<ino_t> seen;
    while (dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == "trace.cfg" || name == "fallback.txt")
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        // The trace library's fixed name is a hard link to its current file: counted once.
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            std::find(seen.begin(), seen.end(), st.st_ino) != seen.end())
            continue;
        seen.push_back(st.st_ino);
        ++*files;
        const std::string text = testsupport::ReadFile(path);
        *bytes += static_cast<long>(text.size());
        for (size_t at = text.find("bench line "); at != std::string::npos;
             at = text.find("bench line ", at + 1))
            ++lines;
    }
    closedir(d);
    return lines;
}

// One round of the trace library into a fresh directory.
bool TraceRound(const Options &o, int threads, const std::string &dir, Round *round)
{
    mkdir(dir.c_str(), 0700);
    testsupport::WriteFile(dir + "/trace.cfg", "TraceLevel=W\nTraceRollMode=rollsize\nTraceFilesize=" +
                                                   std::to_string(o.fileKiB * 1024) + "\nTraceMinFiles=0\n");
    FILE *fallback = fopen((dir + "/fallback.txt").c_str(), "w");
    TraceSetFallbackStream(fallback);
    bool ok = TraceOpen(dir.c_str(), "bench", nullptr, 5, 0) == 0;
    if (ok)
        *round = Drive(threads, o.lines, o.seconds,
                       [](int t, int i) { Trace(kFile, __LINE__, kLevelW, kText, i, t); });
    TraceClose();
    TraceSetFallbackStream(nullptr);
    if (fallback != nullptr)
        fclose(fallback);
    ResetTraceParams();
    return ok;
}

// One round of spdlog's rotating sink (thread-safe variant) into a fresh directory.
bool SpdlogRound(const Options &o, int threads, const std::string &dir, Round *round)
{
    mkdir(dir.c_str(), 0700);
    try {
        auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            dir + "/bench.log", static_cast<size_t>(o.fileKiB) * 1024, 1000);
        auto logger = std::make_shared<spdlog::logger>("bench", sink);
        // The trace library's line: "<stamp> <file>(<line>):<letter>: <text>".
        logger->set_pattern("%d.%m.%y %H:%M:%S %s(%#):%L: %v");
        logger->set_level(spdlog::level::warn);
        logger->flush_on(spdlog::level::trace);
        spdlog::source_loc where{kFile, __LINE__, ""};
        *round = Drive(threads, o.lines, o.seconds, [&](int t, int i) {
            logger->log(where, spdlog::level::warn,
                        "bench line {} of thread {}: dialling +49 30 9876543, connected", i, t);
        });
        logger->flush();
    } catch (const spdlog::spdlog_ex &e) {
        fprintf(stderr, "spdlog: %s\n", e.what());
        return false;
    }
    return true;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool ParseOptions(int argc, char **argv, Options *o)
{
    const benchflags::IntFlag flags[] = {{"--lines", &o->lines, 1000, 10000000},
                                         {"--seconds", &o->seconds, 1, 600},
                                         {"--rounds", &o->rounds, 1, 20},
                                         {"--file-kib", &o->fileKiB, 10, 1 << 20}};
    for (int i = 1; i < argc; ++i) {
        benchflags::Taken taken = benchflags::TakeIntFlag(argc, argv, &i, flags);
        if (taken == benchflags::Taken::kBadValue)
            return false;
        if (taken == benchflags::Taken::kNo) {
            fprintf(stderr, "usage: %s [--lines N] [--seconds N] [--rounds N] [--file-kib N]\n", argv[0]);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!ParseOptions(argc, argv, &o))
        return 2;
    testsupport::TempDir tmp("tracebench");
    printf(
        "%d lines a round, %d rounds of each library alternating, files rotated at %d KiB, flush per line\n",
        o.lines, o.rounds, o.fileKiB);
    bool ok = true;
    struct Row {
        int threads;
        double trace;
        double spdlog;
    };
    std::vector<Row> rows;
    int serial = 0;
    for (int threads : {1, 8}) {
        std::vector<double> traceRates, spdlogRates;
        for (int round = 1; round <= o.rounds; ++round) {
            for (int which = 0; which < 2; ++which) {
                const std::string dir = tmp.file(std::string("r").append(std::to_string(++serial)));
                Round r;
                const bool done =
                    which == 0 ? TraceRound(o, threads, dir, &r) : SpdlogRound(o, threads, dir, &r);
                int files = 0;
                long bytes = 0;
                const long found = CountLines(dir, &files, &bytes);
                const char *name = which == 0 ? "trace" : "spdlog";
                printf(
                    "  %d threads round %d %-6s %8ld lines %6.2f s %10.0f lines/s (%ld in %d files, %.0f "
                    "bytes a line)\n",
                    threads, round, name, r.lines, r.seconds, r.Rate(), found, files,
                    found > 0 ? static_cast<double>(bytes) / static_cast<double>(found) : 0.0);
                if (!done || r.lines == 0 || found != r.lines) {
                    fprintf(stderr, "%s: %ld lines written, %ld found in the files\n", name, r.lines, found);
                    ok = false;
                }
                (which == 0 ? traceRates : spdlogRates).push_back(r.Rate());
                testsupport::RunProgram({"rm", "-rf", dir});
            }
        }
        rows.push_back({threads, Median(traceRates), Median(spdlogRates)});
    }
    printf(
        "\n| threads | trace library, lines/s | spdlog rotating sink, lines/s | trace / spdlog |\n"
        "|---|---|---|---|\n");
    for (const Row &r : rows)
        printf("| %d | %.0f | %.0f | %.2f |\n", r.threads, r.trace, r.spdlog,
               r.spdlog > 0 ? r.trace / r.spdlog : 0.0);
    return ok ? 0 : 1;
}
