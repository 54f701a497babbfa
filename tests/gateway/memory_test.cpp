// Peak memory of a log export against an alpha server that answers with canned bytes: a child
// process runs the export, and its high-water mark comes back through wait4.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

#include "mailtrack/jobfiles.h"
#include "rpcrt/rpcrt.h"
#include "stub_server.h"
#include "testsupport.h"

namespace {

using namespace xdrtest;

using testsupport::kComparePeaks;
using testsupport::kMiB;

// Runs fn in a child process; its exit code (fn's result) and its peak resident size in KiB.
struct ChildRun {
    int exitCode = -1;
    long peakKiB = 0;
};

ChildRun RunChild(const std::function<int()> &fn)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    ChildRun run;
    if (pid < 0)
        return run;
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.peakKiB = usage.ru_maxrss;
    return run;
}

// A log answer: ok, the next line, then `links` presence units of 1 and nothing behind them
// (no end of the list, no line text), so that only the presence units reach the client.
Wire AnnouncedLines(std::size_t links)
{
    Wire w;
    w.boolean(true).i32(10);
    for (std::size_t i = 0; i < links; ++i)
        w.present(true);
    return w;
}

// The export of the answers above, each call in a child of its own; the server writes a large
// answer that the child stops reading, so its writes may meet a closed connection.
TEST(ExportLogMemory, AnswersThatAnnounceManyLines)
{
    std::signal(SIGPIPE, SIG_IGN);
    StubServer *server = StubServer::Get();
    ASSERT_NE(server, nullptr);
    testsupport::TempDir dir("exportmem");
    const struct {
        const char *name;
        std::size_t links;
        long boundKiB;
    } cases[] = {
        {"a million lines announced in 4 MB", 1000000, 64 * kMiB},
        {"one more line than the export keeps", EXPORT_LOG_MAX_LINES + 1, 64 * kMiB},
    };
    for (const auto &c : cases) {
        server->Reset();
        server->Answer(kAlpha, 72, AnnouncedLines(c.links));
        const std::string path = dir.file("log");
        // The server is done with the last child's connection: no thread of this process is
        // inside the allocator when the next child is forked.
        ASSERT_TRUE(testsupport::WaitFor([&] { return server->OpenConnections() == 0; })) << c.name;
        ChildRun run = RunChild([&] {
            rpc_runtime_init();
            CLIENT *client = ConnectTo(kAlpha);
            if (client == nullptr)
                return 2;
            int done = ExportLog(client, "u", 1, 0, "", path.c_str());
            CLNT_DESTROY(client);
            return done;
        });
        EXPECT_EQ(run.exitCode, 0) << c.name << ": the export fails";
        if (kComparePeaks) {
            EXPECT_LT(run.peakKiB, c.boundKiB) << c.name;
        }
        EXPECT_NE(access(path.c_str(), F_OK), 0) << c.name << ": no file is left";
        std::printf("%s: peak %ld KiB\n", c.name, run.peakKiB);
    }
    server->Reset();
}

}  // namespace
