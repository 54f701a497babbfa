// LDAP query objects used from several threads the way their owner uses them: constructed and
// destroyed freely, every operation under one lock (the tool settings are shared).
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "drvtrace/drvtrace.h"
#include "genldap/genldap.h"
#include "ldaptest.h"
#include "slapd.h"

namespace {

TEST(LdapQueryThreads, SerialisedUseFromSeveralThreads)
{
    testsupport::Slapd slapd;
    testsupport::SlapdOptions o;
    o.ldif = ldaptest::DirectoryLdif();
    ASSERT_TRUE(slapd.Start(o)) << slapd.error();
    SetTraceVerbosity(1);

    std::mutex ldapLock;
    const int kThreads = 4;
    std::vector<int> found(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            // Even threads use ldaps with the CA, odd ones plain ldap.
            bool tls = t % 2 == 0;
            auto q = std::make_unique<LdapQuery>(
                "127.0.0.1", tls ? "ldaps" : "ldap", tls ? slapd.tlsPort() : slapd.port(),
                tls ? slapd.caFile().c_str() : "", ldaptest::kReaderDn, ldaptest::kReaderPassword, 10, 0);
            int total = 0;
            for (int round = 0; round < 5; round++) {
                std::lock_guard<std::mutex> lock(ldapLock);
                if (round == 0) {
                    EXPECT_EQ(q->LDAPSetSearchRoot(ldaptest::kBase, LINE_NONE), 0u);
                    EXPECT_EQ(q->LDAPSetSearchMode(LDAP_SCOPE_SUBTREE, LINE_NONE), 0u);
                    EXPECT_EQ(q->LDAPAddField("uid", LINE_NONE), 0u);
                    EXPECT_EQ(q->LDAPSetFilter(t % 2 ? "(uid=anna)" : "(uid=jdoe)", LINE_NONE), 0u);
                }
                int count = 0;
                if (q->LDAPOpenServer(LINE_NONE) == 0 && q->LDAPExecute(LINE_NONE) == 0 &&
                    q->LDAPGetResultCount(&count, LINE_NONE) == 0)
                    total += count;
            }
            std::lock_guard<std::mutex> lock(ldapLock);
            q.reset();
            found[t] = total;
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int t = 0; t < kThreads; t++)
        EXPECT_EQ(found[t], 5) << t;
}

}  // namespace
