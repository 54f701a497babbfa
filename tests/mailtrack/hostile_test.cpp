// The report program against alpha servers that never finish an answer: the end signals of a
// web server end it at once, also in the middle of a call, and under lighttpd with the package's
// snippet a request whose client has gone is ended. No temporary file is left.
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
