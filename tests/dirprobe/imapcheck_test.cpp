// The IMAP login check against servers that never finish their greeting: it gives up when its
// whole time is up, or when its memory ceiling is reached, and reports a failed login.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "hostileimap.h"
#include "imapcheck.h"
#include "imapcheck_testing.h"
#include "testsupport.h"

namespace {

struct HostileCase {
    const char *name;
    int kind;            // 0 silent listener, 1 endless line at full speed, 2 endless line trickled
    const char *notice;  // the notice on the standard error
};

// The peak resident size of the children this process waited for, KiB.
long ChildrenMaxRssKb()
{
    struct rusage usage;
    if (getrusage(RUSAGE_CHILDREN, &usage) != 0)
        return -1;
    return usage.ru_maxrss;
}

TEST(ImapCheck, HostileServersGiveAFailedLoginWithinTheBound)
{
    const HostileCase cases[] = {
        {"silent", 0, "IMAP: login check given up after 3 s\n"},
        {"endless line", 1, "IMAP: login check ended "},
        {"trickled line", 2, "IMAP: login check given up after 3 s\n"},
    };
    ImapCheckSetBoundMs(3000);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const HostileCase &c = cases[i];
        testsupport::SilentListener silent;
        std::unique_ptr<testsupport::EndlessImapGreeting> endless;
        int port = silent.port();
        if (c.kind != 0) {
            endless = std::make_unique<testsupport::EndlessImapGreeting>(c.kind == 2 ? 50 : 0);
            ASSERT_TRUE(endless->ok()) << c.name;
            port = endless->port();
        }
        ASSERT_GT(port, 0) << c.name;
        const std::string mailbox = "{127.0.0.1:" + std::to_string(port) + "/imap/notls}";
        testsupport::CaptureFd err(2);
        auto start = std::chrono::steady_clock::now();
        int ok = CheckImapLogin(mailbox.c_str(), "jdoe", "s3cret");
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::string notices = err.Text();
        EXPECT_EQ(ok, 0) << c.name;
        EXPECT_LT(elapsed, 30.0) << c.name;
        EXPECT_NE(notices.find(c.notice), std::string::npos) << c.name << ": " << notices;
        EXPECT_EQ(ImapLoginAttempts(), 0) << c.name;
        if (c.kind != 0) {
            EXPECT_GT(endless->sent(), 0) << c.name;
        }
        if (testsupport::kComparePeaks) {
            EXPECT_LT(ChildrenMaxRssKb(), 64 * testsupport::kMiB) << c.name;
        }
    }
    ImapCheckSetBoundMs(0);
}

// A host that refuses the connection: the library's own notice still reaches the standard error,
// and the check ends long before its bound.
TEST(ImapCheck, LibraryNoticesReachTheStandardError)
{
    // Bound but not listening: every connection is refused.
    int held = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(held, 0);
    sockaddr_in a = testsupport::LoopbackAddress(0);
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    int port = testsupport::LocalPort(held);
    const std::string mailbox = "{127.0.0.1:" + std::to_string(port) + "/imap/notls}";
    testsupport::CaptureFd err(2);
    int ok = CheckImapLogin(mailbox.c_str(), "jdoe", "s3cret");
    std::string notices = err.Text();
    close(held);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(notices.rfind("IMAP: ", 0), 0u) << notices;
    EXPECT_EQ(notices.find("login check"), std::string::npos) << notices;
}

}  // namespace
