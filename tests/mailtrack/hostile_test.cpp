// The report program against alpha servers that never finish an answer: the end signals of a
// web server, and every other signal that ends a program, end it at once, also in the middle of
// a call; the report ends by itself at its own bound, directly and under lighttpd with the
// package's snippet; and a request whose client has gone is ended. No temporary file is left.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "hostile_env.h"

namespace {

using namespace hostile_env;

TEST(HostileReport, EndSignalInTheMiddleOfACall)
{
    // The server never answers: once the record request has reached it the program is sent the
    // signal, and it must be gone within one more second, its temporary file removed.
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start("silent", 0, 60)) << server.Log();
    for (int signo : {SIGTERM, SIGINT, SIGHUP}) {
        testsupport::TempDir tmp("mailtrack-signal");
        testsupport::ServerProcess cgi("mailtrack");
        ASSERT_TRUE(cgi.Start({MAILTRACK_BIN}, {"REQUEST_METHOD=GET", "QUERY_STRING=" + Query(), "TZ=UTC",
                                                "TMPDIR=" + tmp.path(), server.RpcMapEnv()}));
        const int callsBefore = server.Calls();
        ASSERT_TRUE(cgi.WaitUntil([&] {
            return EntryCount(tmp.path()) == 1 && server.Calls() > callsBefore;
        })) << cgi.Log()
            << server.Log();
        ASSERT_TRUE(cgi.Running()) << "signal " << signo << ": ended before the signal\n" << cgi.Log();
        kill(cgi.pid(), signo);
        auto sent = Clock::now();
        testsupport::WaitFor([&] { return !cgi.Running(); }, 5000, 10);
        EXPECT_LT(SecondsSince(sent), 1.0) << "signal " << signo;
        int status = cgi.Stop();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo)
            << "signal " << signo << ": wait status " << status;
        EXPECT_EQ(EntryCount(tmp.path()), 0) << "signal " << signo << ": temporary file left behind";
    }
}

// The report's bound in mailtrack_quickbound; a report there must end well before the 25 s of
// one call, and long before a server that answers for ever stops.
constexpr double kBound = QUICKBOUND_SECONDS;
constexpr double kEndedWithin = kBound + 12;
TEST(HostileReport, ReportEndsAtItsOwnBound)
{
    const struct {
        const char *mode;
        double delay;  // before each answer (slow) or between trickled bytes
        const char *message;
        bool table;
    } cases[] = {
        // Every log call answered with more lines: the export never ends by itself.
        {"slow", 0.3, kExportFailed.c_str(), true},
        // The record in time, the first log call past the bound.
        {"slow", kBound * 0.4, kExportFailed.c_str(), true},
        {"silent", 0, "a_get_s_rec_new_1: RPC: Timed out", false},
        {"trickle", 0.2, "a_get_s_rec_new_1: RPC: Timed out", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string what = "case " + std::to_string(i) + " (" + cases[i].mode + ")";
        testsupport::HostileAlpha server;
        ASSERT_TRUE(server.Start(cases[i].mode, cases[i].delay, 120)) << server.Log();
        testsupport::TempDir tmp("mailtrack-bound");
        double elapsed = 0;
        testsupport::RunResult r = RunReport(QUICKBOUND_BIN, server, tmp.path(), &elapsed);
        EXPECT_FALSE(r.timedOut) << what;
        EXPECT_EQ(r.exitCode, 0) << what << "\n" << r.err;
        ExpectCutPage(r.out, cases[i].message, cases[i].table, what);
        EXPECT_LT(elapsed, kEndedWithin) << what;
        EXPECT_EQ(EntryCount(tmp.path()), 0) << what << ": temporary file left behind";
    }
}

TEST(HostileReport, EveryEndSignalDuringTheExportRemovesTheFile)
{
    // The export runs for ever (one slow answer after the other); a signal whose default action
    // ends the program ends it by that signal, and the temporary file goes with it. The
    // core-dumping ones (SIGQUIT, SIGXCPU, SIGXFSZ) are left out: they would write a core file.
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start("slow", 0.2, 120)) << server.Log();
    const std::vector<int> signals = {SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,  SIGPOLL,
                                      SIGPWR,  SIGTERM, SIGINT,  SIGHUP,    SIGRTMIN, SIGRTMAX};
    for (int signo : signals) {
        testsupport::TempDir tmp("mailtrack-signal");
        testsupport::ServerProcess cgi("mailtrack");
        ASSERT_TRUE(cgi.Start({MAILTRACK_BIN}, {"REQUEST_METHOD=GET", "QUERY_STRING=" + Query(), "TZ=UTC",
                                                "TMPDIR=" + tmp.path(), server.RpcMapEnv()}));
        ASSERT_TRUE(cgi.WaitUntil([&] { return WritesInto(cgi.pid(), tmp.path()); }, 30000))
            << "signal " << signo << ": no export seen\n"
            << cgi.Log();
        kill(cgi.pid(), signo);
        EXPECT_TRUE(cgi.WaitUntil([&] { return !cgi.Running(); }, 10000)) << "signal " << signo;
        int status = cgi.Stop();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo)
            << "signal " << signo << ": wait status " << status;
        EXPECT_EQ(EntryCount(tmp.path()), 0) << "signal " << signo << ": temporary file left behind";
    }
}

TEST_F(HostileWeb, SlowEndlessLogEndsAtTheReportBound)
{
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start("slow", 0.3, 120)) << server.Log();
    StartWeb(server, QUICKBOUND_BIN);
    auto start = Clock::now();
    testsupport::HttpResponse response =
        testsupport::HttpRequest(web_.port(), "GET", web_.CgiPath("?" + Query()), {}, "", 90000);
    EXPECT_LT(SecondsSince(start), kEndedWithin) << response.error;
    EXPECT_EQ(response.status, 200) << response.error;
    ExpectCutPage(pages::H + response.body, kExportFailed, true, "under lighttpd");
    EXPECT_TRUE(WaitCgiGone(60)) << web_.Log();
}

TEST_F(HostileWeb, ThirtySlowReportsAtOnceEachGetAWholePage)
{
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start("slow", 0.3, 180)) << server.Log();
    StartWeb(server, QUICKBOUND_BIN);
    constexpr int kClients = 30;
    std::vector<testsupport::HttpResponse> responses(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] {
            responses[i] =
                testsupport::HttpRequest(web_.port(), "GET", web_.CgiPath("?" + Query()), {}, "", 120000);
        });
    for (std::thread &client : clients)
        client.join();
    auto requestsDone = Clock::now();
    for (int i = 0; i < kClients; ++i) {
        const std::string what = "client " + std::to_string(i);
        EXPECT_EQ(responses[i].status, 200) << what << ": " << responses[i].error;
        ExpectCutPage(pages::H + responses[i].body, kExportFailed, true, what);
    }
    EXPECT_TRUE(WaitCgiGone(60)) << Children(web_.pid()).size() << " programs left\n" << web_.Log();
    EXPECT_LT(SecondsSince(requestsDone), 60.0);
}

TEST_F(HostileWeb, ClientThatLeavesEndsItsReport)
{
    testsupport::HostileAlpha server;
    ASSERT_TRUE(server.Start("silent", 0, 60)) << server.Log();
    StartWeb(server);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(web_.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    std::string request = "GET " + web_.CgiPath("?" + Query()) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    // The report is under way once its call has reached the server and its file exists.
    ASSERT_TRUE(testsupport::WaitFor(
        [&] { return server.Calls() > 0 && !Children(web_.pid()).empty() && EntryCount(tmp_.path()) == 1; },
        30000))
        << "the report did not get under way\n"
        << web_.Log();
    close(fd);
    auto left = Clock::now();
    EXPECT_TRUE(WaitCgiGone(10)) << web_.Log();
    EXPECT_LT(SecondsSince(left), 3.0) << web_.Log();
}

}  // namespace
