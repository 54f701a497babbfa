// The directory search against fake servers that send without end: each search runs in a child
// process, whose peak resident size comes back through wait4; and the search request's bytes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "drvtrace/drvtrace.h"
#include "genldap/genldap.h"
#include "ldaptest.h"

namespace {

using testsupport::CaptureFd;

using testsupport::kComparePeaks;
using testsupport::kMiB;

std::unique_ptr<LdapQuery> FakeQuery(int port, int timeout)
{
    auto q = std::make_unique<LdapQuery>("127.0.0.1", "ldap", port, "", ldaptest::kReaderDn,
                                         ldaptest::kReaderPassword, timeout, 0);
    EXPECT_EQ(q->LDAPSetSearchRoot(ldaptest::kBase, LINE_NONE), 0u);
    EXPECT_EQ(q->LDAPSetSearchMode(LDAP_SCOPE_SUBTREE, LINE_NONE), 0u);
    for (const char *a : {"sn", "givenName", "uid"})
        EXPECT_EQ(q->LDAPAddField(a, LINE_NONE), 0u);
    EXPECT_EQ(q->LDAPSetFilter("(facsimileTelephoneNumber=4711)", LINE_NONE), 0u);
    return q;
}

// What a search in a child process gave: its result, entry count, first sn (its first 16
// characters), its peak resident size in KiB and its run time.
struct ChildSearch {
    bool ended = false;
    unsigned rc = 0;
    int count = -1;
    std::string sn;
    long peakKiB = 0;
    double seconds = 0;
};

ChildSearch SearchInChild(int port, int timeout)
{
    ChildSearch run;
    int fds[2];
    if (pipe(fds) != 0)
        return run;
    const auto start = std::chrono::steady_clock::now();
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // A safety net for the machine should the search not be bounded.
        struct rlimit limit = {size_t{3} << 30, size_t{3} << 30};
        if (kComparePeaks)
            setrlimit(RLIMIT_AS, &limit);
        auto q = FakeQuery(port, timeout);
        unsigned rc = q->LDAPOpenServer(LINE_NONE);
        if (rc == 0)
            rc = q->LDAPExecute(LINE_NONE);
        int count = -1;
        char sn[17] = "";
        if (rc == 0 && q->LDAPGetResultCount(&count, LINE_NONE) == 0)
            (void)q->LDAPGetResultField("sn", sn, sizeof sn, LINE_NONE, 1);
        char line[64];
        int n = std::snprintf(line, sizeof line, "%u %d %s\n", rc, count, sn);
        _exit(write(fds[1], line, static_cast<size_t>(n)) == n ? 0 : 1);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return run;
    }
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        char line[64] = "";
        ssize_t got = read(fds[0], line, sizeof line - 1);
        char sn[17] = "";
        run.ended = got > 0 && std::sscanf(line, "%u %d %16s", &run.rc, &run.count, sn) >= 2;
        run.sn = sn;
    }
    close(fds[0]);
    run.peakKiB = usage.ru_maxrss;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

// Entries without end are cut after the ceiling and kept as a result cut by a size limit; a
// message announced as 1 GiB fails its read as a lost connection, searched again twice.
TEST(LdapQueryMemory, AnswersWithoutEndStayBounded)
{
    const struct {
        const char *name;
        ldaptest::FakeLdap::Mode mode;
        size_t entryBytes;
        unsigned rc;
        int count;
        const char *sn;
    } cases[] = {
        {"small entries without end", ldaptest::FakeLdap::kEndlessEntries, 200, 0,
         static_cast<int>(kLdapMaxEntries), "endlessxxxxxxxxx"},
        {"entries of nearly the largest message without end", ldaptest::FakeLdap::kEndlessEntries,
         kLdapMaxMessageBytes - 4096, 0, static_cast<int>(kLdapMaxEntries), "endlessxxxxxxxxx"},
        {"a message announced as 1 GiB", ldaptest::FakeLdap::kAnnounceHugeMessage, 0,
         GdLdapError(LDAP_SERVER_DOWN), -1, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ldaptest::FakeLdap fake(c.mode, 0, 0, c.entryBytes);
        ASSERT_NE(fake.port(), 0);
        ChildSearch run = SearchInChild(fake.port(), 5);
        std::printf("%s: peak %ld KiB, %.1f s\n", c.name, run.peakKiB, run.seconds);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.rc, c.rc);
        EXPECT_EQ(run.count, c.count);
        EXPECT_EQ(run.sn, c.sn);
        EXPECT_LT(run.seconds, 60.0);
        if (kComparePeaks) {
            EXPECT_LT(run.peakKiB, 64 * kMiB);
        }
    }
}

// The cut is traced as a warning; the session answers the next search.
TEST(LdapQueryMemory, CutResultIsKeptAndTraced)
{
    ldaptest::FakeLdap fake(ldaptest::FakeLdap::kEndlessEntries);
    ASSERT_NE(fake.port(), 0);
    auto q = FakeQuery(fake.port(), 5);
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    SetTraceVerbosity(1);
    CaptureFd out(1);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(out.Text(), "warning: LDAP result cut after 16 entries\n");
    int count = 0;
    EXPECT_EQ(q->LDAPGetResultCount(&count, LINE_NONE), 0u);
    EXPECT_EQ(count, static_cast<int>(kLdapMaxEntries));
    for (size_t i = 1; i < kLdapMaxEntries; i++)
        EXPECT_EQ(q->LDAPNextResult(LINE_NONE), 0u);
    EXPECT_EQ(q->LDAPNextResult(LINE_NONE), GDERR_NO_MORE);
    EXPECT_EQ(fake.searches(), 1);
}

std::string Hex(const std::string &bytes)
{
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// The search request on the wire: base, subtree scope, no alias dereferencing, no size or
// time limit, attributes only off, the filter and the attributes, no controls.
TEST(LdapQueryWire, SearchRequestBytes)
{
    ldaptest::FakeLdap fake(ldaptest::FakeLdap::kStallSearches);
    ASSERT_NE(fake.port(), 0);
    auto q = FakeQuery(fake.port(), 5);
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Hex(fake.lastSearch()),
              "306a020102"                                                        // message 2
              "6365041c6f753d70656f706c652c64633d6578616d706c652c64633d74657374"  // base
              "0a01020a0100020100020100010100"  // subtree, never, no limits, not types only
              "a320041866616373696d696c6554656c6570686f6e654e756d626572040434373131"  // filter
              "30140402736e0409676976656e4e616d650403756964");                        // sn givenName uid
}

}  // namespace
