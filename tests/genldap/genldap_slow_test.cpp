// The query object's own 25-second bounds, which do not depend on the search's time limit: a
// directory that takes the connection and never answers the bind, and one whose connect never
// completes. Each case takes about 25 s.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "genldap/genldap.h"
#include "ldaptest.h"

namespace {

using ldaptest::CaptureFd;

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A listener on 127.0.0.1 that never accepts: connections complete in the kernel's queue (up to
// the backlog) and nothing sent on them is ever read or answered.
class SilentListener {
public:
    explicit SilentListener(int backlog)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(0);
        socklen_t len = sizeof a;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            listen(fd_, backlog) != 0 || getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener()
    {
        for (int fd : fillers_)
            close(fd);
        if (fd_ >= 0)
            close(fd_);
    }
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;
    int port() const { return port_; }
    // Fills the accept queue, so that further connection requests are dropped and a connect
    // stalls as to an unreachable host.
    void Fill()
    {
        sockaddr_in a = Loopback(port_);
        for (int i = 0; i < 4; i++) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
            fillers_.push_back(fd);
        }
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The open against the listener with a search time limit of 2 s: it fails, and only after the
// 25 s bound. Returns what the tool code printed.
std::string OpenFailsAfterTheBound(const SilentListener &listener)
{
    LdapQuery q("127.0.0.1", "ldap", listener.port(), "", ldaptest::kReaderDn, ldaptest::kReaderPassword, 2,
                0);
    CaptureFd err(2);
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(q.LDAPOpenServer(LINE_NONE), 0u);
    double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 24.0);
    EXPECT_LT(elapsed, 60.0);
    EXPECT_EQ(q.session(), nullptr);
    return err.Text();
}

TEST(LdapQueryBound, BindNeverAnsweredIsGivenUpAfter25Seconds)
{
    SilentListener listener(4);
    ASSERT_NE(listener.port(), 0);
    std::string text = OpenFailsAfterTheBound(listener);
    EXPECT_EQ(text, "ldap_result: Timed out (-5)\nmy_tool_bind failed\n");
}

TEST(LdapQueryBound, ConnectThatNeverCompletesIsGivenUpAfter25Seconds)
{
    SilentListener listener(0);
    ASSERT_NE(listener.port(), 0);
    listener.Fill();
    std::string text = OpenFailsAfterTheBound(listener);
    EXPECT_EQ(text.rfind("ldap_sasl_bind(SIMPLE): ", 0), 0u) << text;
    EXPECT_NE(text.find("my_tool_bind failed\n"), std::string::npos) << text;
}

}  // namespace
