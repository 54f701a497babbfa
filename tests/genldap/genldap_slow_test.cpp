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

using testsupport::CaptureFd;
using testsupport::SilentListener;

using testsupport::SecondsSince;

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
