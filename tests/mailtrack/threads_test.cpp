// The report program's waiting thread, which takes the end signals and removes the temporary
// file, in each way a report ends: a complete page, a page cut by the report's bound, and a
// signal during the export. Labelled threads, so that the ThreadSanitizer run covers it: any
// report of a race shows on the program's standard error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostile_env.h"
#include "pages.h"
#include "simserver.h"

namespace {

using namespace hostile_env;

// The program's environment for one request; a sanitizer's options go along.
std::vector<std::string> Environment(const std::string &query, const std::string &tmp, const std::string &map)
{
    std::vector<std::string> env = {"REQUEST_METHOD=GET", "QUERY_STRING=" + query, "TZ=UTC", "TMPDIR=" + tmp,
                                    map};
    if (const char *options = getenv("TSAN_OPTIONS"))
        env.push_back(std::string("TSAN_OPTIONS=") + options);
    return env;
}

void ExpectNoRaceReport(const std::string &err, const std::string &what)
{
    EXPECT_EQ(err.find("ThreadSanitizer"), std::string::npos) << what << "\n" << err;
}

TEST(ReportWaitingThread, PageEndsWhileTheThreadWaits)
{
    // A complete page, and one cut by the report's bound: the release removes the file while
    // the waiting thread is there.
    testsupport::SimServer sim;
    ASSERT_TRUE(sim.StartFile(testsupport::SourceDir() + "/tests/mailtrack/fixtures/report.json"))
        << sim.Log();
    testsupport::HostileAlpha slow;
    ASSERT_TRUE(slow.Start("slow", 0.3, 120)) << slow.Log();
    const struct {
        const char *program;
        std::string query;
        std::string map;
        std::string tail;
    } cases[] = {
        {MAILTRACK_BIN, "p=0&a=" + sim.Host() + "&u=alice&r=100&n=bob@example.com", sim.RpcMapEnv(),
         "line 25<br></p></p>" + pages::END},
        {QUICKBOUND_BIN, Query(), slow.RpcMapEnv(),
         pages::E("can not export logfile: GW0: Failed\n") + "</p>" + pages::END},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string what = "case " + std::to_string(i);
        testsupport::TempDir tmp("mailtrack-threads");
        testsupport::RunOptions options;
        options.clearEnv = true;
        options.env = Environment(cases[i].query, tmp.path(), cases[i].map);
        options.timeoutMs = 100000;
        testsupport::RunResult r = testsupport::RunProgram({cases[i].program}, options);
        EXPECT_EQ(r.exitCode, 0) << what << "\n" << r.err;
        EXPECT_TRUE(r.out.size() >= cases[i].tail.size() &&
                    r.out.compare(r.out.size() - cases[i].tail.size(), cases[i].tail.size(), cases[i].tail) ==
                        0)
            << what << "\n"
            << r.out;
        ExpectNoRaceReport(r.err, what);
        EXPECT_EQ(EntryCount(tmp.path()), 0) << what << ": temporary file left behind";
    }
}

TEST(ReportWaitingThread, SignalDuringTheExport)
{
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start("slow", 0.2, 120)) << server.Log();
    for (int signo : {SIGTERM, SIGUSR1}) {
        const std::string what = "signal " + std::to_string(signo);
        testsupport::TempDir tmp("mailtrack-threads");
        testsupport::ServerProcess cgi("mailtrack");
        ASSERT_TRUE(cgi.Start({MAILTRACK_BIN}, Environment(Query(), tmp.path(), server.RpcMapEnv())));
        ASSERT_TRUE(cgi.WaitUntil([&] { return WritesInto(cgi.pid(), tmp.path()); }, 30000))
            << what << ": no export seen\n"
            << cgi.Log();
        kill(cgi.pid(), signo);
        EXPECT_TRUE(cgi.WaitUntil([&] { return !cgi.Running(); }, 20000)) << what;
        int status = cgi.Stop();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo) << what << ": wait status " << status;
        ExpectNoRaceReport(cgi.Log(), what);
        EXPECT_EQ(EntryCount(tmp.path()), 0) << what << ": temporary file left behind";
    }
}

}  // namespace
