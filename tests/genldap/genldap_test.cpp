// The LDAP query object against private slapd instances (plain, ldaps, StartTLS, two CAs, a
// restart) and a fake server for the retry paths of the search.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "drvtrace/drvtrace.h"
#include "genldap/genldap.h"
#include "ldaptest.h"
#include "slapd.h"
#include "tools/common.h"

namespace {

using testsupport::CaptureFd;

const char kUserFilter[] = "(uid=jdoe)";

std::unique_ptr<LdapQuery> MakeQuery(const char *scheme, int port, const std::string &ca = "",
                                     const char *dn = ldaptest::kReaderDn,
                                     const char *password = ldaptest::kReaderPassword, int timeout = 10)
{
    return std::make_unique<LdapQuery>("127.0.0.1", scheme, port, ca.c_str(), dn, password, timeout, 0);
}

// Base, subtree scope and the attributes the tests read.
void Prepare(LdapQuery &q, const char *filter = kUserFilter)
{
    ASSERT_EQ(q.LDAPSetSearchRoot(ldaptest::kBase, LINE_NONE), 0u);
    ASSERT_EQ(q.LDAPSetSearchMode(LDAP_SCOPE_SUBTREE, LINE_NONE), 0u);
    for (const char *a :
         {"sn", "givenName", "uid", "preferredLanguage", "title", "description", "telephoneNumber"})
        ASSERT_EQ(q.LDAPAddField(a, LINE_NONE), 0u);
    ASSERT_EQ(q.LDAPSetFilter(filter, LINE_NONE), 0u);
}

std::string Field(LdapQuery &q, const char *name, int valueNo = 1, size_t size = 64)
{
    std::string buf(size, 'x');
    EXPECT_EQ(q.LDAPGetResultField(name, buf.data(), size, LINE_NONE, valueNo), 0u) << name;
    return std::string(buf.c_str());
}

int Count(LdapQuery &q)
{
    int count = -1;
    EXPECT_EQ(q.LDAPGetResultCount(&count, LINE_NONE), 0u);
    return count;
}

size_t Occurrences(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

TEST(LdapQueryUrl, SchemeTable)
{
    struct Case {
        const char *scheme;
        int port;
        const char *url;
        int startTls;
    } cases[] = {
        {"ldap", 389, "ldap://127.0.0.1:389", 0},       {"ldaps", 636, "ldaps://127.0.0.1:636", 0},
        {"LDAPS", 636, "LDAPS://127.0.0.1:636", 0},     {"startTLS", 389, "ldap://127.0.0.1:389", 1},
        {"STARTTLS", 1389, "ldap://127.0.0.1:1389", 1}, {"ldapi", 1, "ldapi://127.0.0.1:1", 0},
        {"ldap", 40000, "ldap://127.0.0.1:40000", 0},
    };
    for (const Case &c : cases) {
        LdapQuery q("127.0.0.1", c.scheme, c.port, "", "", "", 10, 0);
        EXPECT_STREQ(q.Url(), c.url) << c.scheme;
        EXPECT_EQ(q.StartTls(), c.startTls) << c.scheme;
    }
    std::string host(400, 'h');
    LdapQuery q(host.c_str(), "ldap", 389, "", "", "", 10, 0);
    EXPECT_EQ(std::string(q.Url()).size(), 255u);
}

TEST(LdapQueryRange, PortAndTimeLimitOutOfRangeAreRefused)
{
    struct Case {
        int port, timeout;
        const char *message;
    } cases[] = {
        {0, 10, "LDAPOpenServer: port 0 out of range (1 to 65535)\n"},
        {65536, 10, "LDAPOpenServer: port 65536 out of range (1 to 65535)\n"},
        {-389, 10, "LDAPOpenServer: port -389 out of range (1 to 65535)\n"},
        {389, 0, "LDAPOpenServer: time limit 0 out of range (must be positive)\n"},
        {389, -5, "LDAPOpenServer: time limit -5 out of range (must be positive)\n"},
    };
    SetTraceVerbosity(1);
    for (const Case &c : cases) {
        LdapQuery q("127.0.0.1", "ldap", c.port, "", "", "", c.timeout, 0);
        CaptureFd out(1);
        EXPECT_EQ(q.LDAPOpenServer(LINE_NONE), GDERR_FAILED);
        EXPECT_EQ(out.Text(), c.message);
        EXPECT_EQ(q.session(), nullptr);
    }
    LdapQuery q("127.0.0.1", "ldap", 389, "", "", "", 10, 0);
    CaptureFd out(1);
    EXPECT_EQ(q.LDAPSetTimeout(0, LINE_NONE), GDERR_FAILED);
    EXPECT_EQ(q.LDAPSetTimeout(5, LINE_NONE), 0u);
    EXPECT_EQ(out.Text(), "LDAPSetTimeout: time limit 0 out of range (must be positive)\n");
}

TEST(LdapQueryNoSearch, UsesBeforeASearchFail)
{
    SetTraceVerbosity(1);
    LdapQuery q("127.0.0.1", "ldap", 389, "", "", "", 10, 0);
    CaptureFd out(1);
    int count = 7;
    EXPECT_EQ(q.LDAPGetResultCount(&count, LINE_NONE), GDERR_FAILED);
    EXPECT_EQ(count, 0);
    char buf[8] = "xxxxxxx";
    EXPECT_EQ(q.LDAPGetResultField("sn", buf, sizeof buf, LINE_NONE, 1), GDERR_FAILED);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(q.LDAPNextResult(LINE_NONE), GDERR_FAILED);
    EXPECT_EQ(q.LDAPExecute(LINE_NONE), GDERR_FAILED);
    ASSERT_EQ(q.LDAPSetFilter("(uid=x)", LINE_NONE), 0u);
    EXPECT_EQ(q.LDAPExecute(LINE_NONE), GDERR_FAILED);
    ASSERT_EQ(q.LDAPAddField("sn", LINE_NONE), 0u);
    EXPECT_EQ(q.LDAPExecute(LINE_NONE), GDERR_FAILED);  // no session
    EXPECT_EQ(out.Text(),
              "warning: query not executed\n"
              "warning: query not executed\n"
              "warning: query not executed\n"
              "filter is missing!\n"
              "no fields requested!\n"
              "LDAPExecute: no open session\n");
}

TEST(LdapQueryTrace, ScopeLinesAtCallVerbosity)
{
    SetTraceVerbosity(3);
    LdapQuery q("127.0.0.1", "ldap", 389, "", "", "", 10, 0);
    CaptureFd out(1);
    EXPECT_EQ(q.LDAPSetSearchMode(2, LINE_NONE), 0u);
    EXPECT_EQ(q.LDAPExecute(LINE_NONE), GDERR_FAILED);
    SetTraceVerbosity(1);
    EXPECT_EQ(out.Text(),
              "-->LDAPSetSearchMode()\n<--LDAPSetSearchMode()=ok\n"
              "-->LDAPExecute()\nfilter is missing!\n<--LDAPExecute()=0x10000001\n");
}

// Two TLS servers with CAs of their own; the first also knows an equality rule for fax numbers.
class LdapQueryServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        first_ = new testsupport::Slapd;
        testsupport::SlapdOptions o;
        o.ldif = ldaptest::DirectoryLdif();
        o.faxEquality = true;
        o.ca = std::make_shared<testsupport::TestCa>("first");
        ASSERT_TRUE(first_->Start(o)) << first_->error();
        second_ = new testsupport::Slapd;
        o.faxEquality = false;
        o.ca = std::make_shared<testsupport::TestCa>("second");
        ASSERT_TRUE(second_->Start(o)) << second_->error();
    }
    static void TearDownTestSuite()
    {
        delete first_;
        delete second_;
        first_ = second_ = nullptr;
    }
    void SetUp() override
    {
        SetTraceVerbosity(1);
        ASSERT_TRUE(first_ && first_->Running());
        ASSERT_TRUE(second_ && second_->Running());
    }
    static testsupport::Slapd *first_;
    static testsupport::Slapd *second_;
};
testsupport::Slapd *LdapQueryServer::first_ = nullptr;
testsupport::Slapd *LdapQueryServer::second_ = nullptr;

TEST_F(LdapQueryServer, SearchReadsConvertedValues)
{
    auto q = MakeQuery("ldap", first_->port());
    Prepare(*q);
    SetTraceVerbosity(2);
    {
        CaptureFd out(1);
        ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
        EXPECT_EQ(out.Text(), "tool_conn_setup ldap://127.0.0.1:" + std::to_string(first_->port()) +
                                  "\nLDAPOpenServer ok\n");
    }
    LDAP *session = q->session();
    {
        CaptureFd out(1);
        EXPECT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
        EXPECT_EQ(out.Text(), "LDAPOpenServer: handle exists\n");
        EXPECT_EQ(q->session(), session);
    }
    SetTraceVerbosity(1);
    ASSERT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*q), 1);
    EXPECT_EQ(Field(*q, "sn"), "M\xfcller");
    EXPECT_EQ(Field(*q, "givenName"), "J\xfcrgen");
    EXPECT_EQ(Field(*q, "preferredLanguage"), "DE");
    // € en-dash “ ” ‘ ’ and the apostrophe of O'Neill
    EXPECT_EQ(Field(*q, "description"), "Preis 10 \xa4 \x8d \x85Top\x86 \x60x\x27 O'Neill");
    EXPECT_EQ(Field(*q, "title"), "Dr ");  // Cyrillic letters have no ISO-8859-15 form
    EXPECT_EQ(Field(*q, "sn", 1, 4), "M\xfcl");
    EXPECT_EQ(Field(*q, "mail"), "");  // not requested, no values
}

TEST_F(LdapQueryServer, SeveralValuesOfOneAttribute)
{
    auto q = MakeQuery("ldap", first_->port());
    Prepare(*q);
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Field(*q, "telephoneNumber", 1), "4711");
    EXPECT_EQ(Field(*q, "telephoneNumber", 2), "+49 89 4711");
    EXPECT_EQ(Field(*q, "telephoneNumber", 3), "0815");
    EXPECT_EQ(Field(*q, "telephoneNumber", 4), "");
    EXPECT_EQ(Field(*q, "telephoneNumber", 0), "");
}

TEST_F(LdapQueryServer, EntriesOneAfterTheOther)
{
    auto q = MakeQuery("ldap", first_->port());
    Prepare(*q, "(&(objectClass=inetOrgPerson)(telephoneNumber=471*))");
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    ASSERT_EQ(Count(*q), 3);
    std::vector<std::string> uids = {Field(*q, "uid")};
    ASSERT_EQ(q->LDAPNextResult(LINE_NONE), 0u);
    uids.push_back(Field(*q, "uid"));
    ASSERT_EQ(q->LDAPNextResult(LINE_NONE), 0u);
    uids.push_back(Field(*q, "uid"));
    EXPECT_EQ(q->LDAPNextResult(LINE_NONE), GDERR_NO_MORE);
    EXPECT_EQ(Field(*q, "uid"), uids.back());  // entry unchanged at the end
    // A new search starts again at the first entry.
    ASSERT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Field(*q, "uid"), uids.front());
    std::sort(uids.begin(), uids.end());
    EXPECT_EQ(uids, (std::vector<std::string>{"anna", "bare", "jdoe"}));
}

TEST_F(LdapQueryServer, FaxFilterMatchesOnlyWithAnEqualityRule)
{
    auto withRule = MakeQuery("ldap", first_->port());
    Prepare(*withRule, "facsimileTelephoneNumber=4711");
    ASSERT_EQ(withRule->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(withRule->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*withRule), 1);
    EXPECT_EQ(Field(*withRule, "uid"), "jdoe");

    auto stock = MakeQuery("ldap", second_->port());
    Prepare(*stock, "facsimileTelephoneNumber=4711");
    ASSERT_EQ(stock->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(stock->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*stock), 0);
    EXPECT_EQ(Field(*stock, "uid"), "");
}

TEST_F(LdapQueryServer, EmptyAttributeNamesInTheList)
{
    auto q = MakeQuery("ldap", first_->port());
    ASSERT_EQ(q->LDAPSetSearchRoot(ldaptest::kBase, LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPSetSearchMode(LDAP_SCOPE_SUBTREE, LINE_NONE), 0u);
    for (const char *a : {"sn", "givenName", "uid", "", "", ""})
        ASSERT_EQ(q->LDAPAddField(a, LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPSetFilter(kUserFilter, LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*q), 1);
    EXPECT_EQ(Field(*q, "uid"), "jdoe");
}

TEST_F(LdapQueryServer, SearchErrorsWithAndWithoutAResult)
{
    auto q = MakeQuery("ldap", first_->port());
    Prepare(*q, "(((uid=jdoe)");
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    {
        CaptureFd out(1);
        EXPECT_EQ(q->LDAPExecute(LINE_NONE), GdLdapError(LDAP_FILTER_ERROR));
        EXPECT_EQ(out.Text(), "ldap_search_st() failed: Bad search filter\n");
    }
    {
        CaptureFd out(1);  // the failed search kept no result
        int count = 5;
        EXPECT_EQ(q->LDAPGetResultCount(&count, LINE_NONE), GDERR_FAILED);
        EXPECT_EQ(out.Text(), "warning: query not executed\n");
    }
    // A base that does not exist: the server's answer is a result without entries.
    ASSERT_EQ(q->LDAPSetFilter(kUserFilter, LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPSetSearchRoot("ou=nowhere,dc=example,dc=test", LINE_NONE), 0u);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*q), 0);
    EXPECT_EQ(Field(*q, "uid"), "");
}

// A result cut by the server's size limit still counts as a result.
TEST(LdapQuerySizeLimit, PartialResultIsKept)
{
    testsupport::Slapd slapd;
    testsupport::SlapdOptions o;
    o.tls = false;
    o.ldif = ldaptest::DirectoryLdif();
    o.databaseLines = {"limits * size.soft=1 size.hard=1"};
    ASSERT_TRUE(slapd.Start(o)) << slapd.error();
    auto q = MakeQuery("ldap", slapd.port());
    Prepare(*q, "(objectClass=inetOrgPerson)");
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    CaptureFd out(1);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*q), 1);
    EXPECT_EQ(out.Text(), "");
}

TEST_F(LdapQueryServer, BindRefused)
{
    auto q = MakeQuery("ldap", first_->port(), "", ldaptest::kReaderDn, "wrong");
    Prepare(*q);
    CaptureFd out(1);
    CaptureFd err(2);
    EXPECT_EQ(q->LDAPOpenServer(LINE_NONE), 0x50000031u);
    EXPECT_EQ(err.Text(), "ldap_bind: Invalid credentials (49)\nmy_tool_bind failed\n");
    EXPECT_EQ(q->session(), nullptr);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), GDERR_FAILED);
    EXPECT_EQ(out.Text(), "LDAPOpenServer: 0x50000031\nLDAPExecute: no open session\n");
}

TEST_F(LdapQueryServer, AnonymousBindWithEmptyDn)
{
    auto q = MakeQuery("ldap", first_->port(), "", "", "");
    Prepare(*q);
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*q), 1);
}

TEST_F(LdapQueryServer, LdapsAndStartTlsWithTheServersCa)
{
    auto ldaps = MakeQuery("ldaps", first_->tlsPort(), first_->caFile());
    Prepare(*ldaps);
    SetTraceVerbosity(2);
    {
        CaptureFd out(1);
        ASSERT_EQ(ldaps->LDAPOpenServer(LINE_NONE), 0u);
        std::string text = out.Text();
        EXPECT_NE(text.find("LDAP_OPT_X_TLS_CACERTFILE " + first_->caFile() + "\n"), std::string::npos)
            << text;
    }
    SetTraceVerbosity(1);
    ASSERT_EQ(ldaps->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*ldaps), 1);

    auto startTls = MakeQuery("StartTLS", first_->port(), first_->caFile());
    Prepare(*startTls);
    CaptureFd err(2);
    ASSERT_EQ(startTls->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(startTls->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*startTls), 1);
    EXPECT_EQ(err.Text(), "");
}

TEST_F(LdapQueryServer, WrongCaFails)
{
    auto q = MakeQuery("ldaps", first_->tlsPort(), second_->caFile());
    Prepare(*q);
    CaptureFd err(2);
    EXPECT_NE(q->LDAPOpenServer(LINE_NONE), 0u);
    EXPECT_EQ(q->session(), nullptr);
    EXPECT_NE(err.Text().find("my_tool_bind failed"), std::string::npos);
}

TEST_F(LdapQueryServer, MissingCaFileFailsTheOpen)
{
    auto q = MakeQuery("ldaps", first_->tlsPort(), "/nonexistent/ca.pem");
    Prepare(*q);
    CaptureFd out(1);
    EXPECT_NE(q->LDAPOpenServer(LINE_NONE), 0u);
    EXPECT_EQ(q->session(), nullptr);
    EXPECT_NE(out.Text().find("Could not set LDAP_OPT_X_TLS_CACERTFILE /nonexistent/ca.pem\n"),
              std::string::npos);
}

// Each query's connection uses its own CA, also after another CA was used in the process.
TEST_F(LdapQueryServer, EachConnectionUsesItsOwnCa)
{
    auto a = MakeQuery("ldaps", first_->tlsPort(), first_->caFile());
    auto b = MakeQuery("ldaps", second_->tlsPort(), second_->caFile());
    auto wrong = MakeQuery("ldaps", first_->tlsPort(), second_->caFile());
    Prepare(*a);
    Prepare(*b);
    Prepare(*wrong);
    ASSERT_EQ(a->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(b->LDAPOpenServer(LINE_NONE), 0u);
    {
        CaptureFd err(2);
        EXPECT_NE(wrong->LDAPOpenServer(LINE_NONE), 0u);
    }
    ASSERT_EQ(a->LDAPExecute(LINE_NONE), 0u);
    ASSERT_EQ(b->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*a), 1);
    EXPECT_EQ(Count(*b), 1);
}

// Destroying a query closes its own session only: others go on, new ones still connect.
TEST_F(LdapQueryServer, DestroyingOneQueryLeavesTheOthers)
{
    auto a = MakeQuery("ldaps", first_->tlsPort(), first_->caFile());
    auto b = MakeQuery("StartTLS", first_->port(), first_->caFile());
    Prepare(*a);
    Prepare(*b);
    ASSERT_EQ(a->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(b->LDAPOpenServer(LINE_NONE), 0u);
    a.reset();
    ASSERT_EQ(b->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*b), 1);
    auto c = MakeQuery("ldaps", second_->tlsPort(), second_->caFile());
    Prepare(*c);
    ASSERT_EQ(c->LDAPOpenServer(LINE_NONE), 0u);
    ASSERT_EQ(c->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(Count(*c), 1);
}

TEST_F(LdapQueryServer, UnusableUrlFailsTheOpen)
{
    LdapQuery q("bad host", "ldap", first_->port(), "", "", "", 10, 0);
    CaptureFd out(1);
    CaptureFd err(2);
    EXPECT_EQ(q.LDAPOpenServer(LINE_NONE), GdLdapError(LDAP_CONNECT_ERROR));
    std::string text = err.Text();  // the number in brackets is the library's parse error code
    EXPECT_EQ(
        text.rfind("Could not parse LDAP URI(s)=ldap://bad host:" + std::to_string(first_->port()) + " (", 0),
        0u)
        << text;
    EXPECT_NE(text.find(")\nmy_tool_conn_setup failed\n"), std::string::npos) << text;
    EXPECT_EQ(q.session(), nullptr);
    EXPECT_EQ(out.Text(), "LDAPOpenServer: 0xfffffff5\n");
}

// The process-wide settings and TLS state are freed once at exit, with sessions still open.
TEST_F(LdapQueryServer, ProcessEndsCleanlyWithOpenTlsSessions)
{
    EXPECT_EXIT(
        {
            auto *a = new LdapQuery("127.0.0.1", "ldaps", first_->tlsPort(), first_->caFile().c_str(),
                                    ldaptest::kReaderDn, ldaptest::kReaderPassword, 10, 0);
            LdapQuery b("127.0.0.1", "ldaps", first_->tlsPort(), first_->caFile().c_str(),
                        ldaptest::kReaderDn, ldaptest::kReaderPassword, 10, 0);
            bool ok = a->LDAPOpenServer(LINE_NONE) == 0 && b.LDAPOpenServer(LINE_NONE) == 0;
            delete a;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A plain slapd of the test's own, and a query with an open session to it.
class LdapQueryRestart : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::SlapdOptions o;
        o.tls = false;
        o.ldif = ldaptest::DirectoryLdif();
        ASSERT_TRUE(slapd.Start(o)) << slapd.error();
        q = MakeQuery("ldap", slapd.port());
        Prepare(*q);
        ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    }
    testsupport::Slapd slapd;
    std::unique_ptr<LdapQuery> q;
};

TEST_F(LdapQueryRestart, ServerDownAndBackIsSearchedAgain)
{
    ASSERT_TRUE(slapd.Restart()) << slapd.error();
    SetTraceVerbosity(2);
    CaptureFd out(1);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    SetTraceVerbosity(1);
    std::string text = out.Text();
    EXPECT_EQ(Occurrences(text, "re_open after LDAP_SERVER_DOWN\n"), 1u) << text;
    EXPECT_EQ(Count(*q), 1);
}

TEST_F(LdapQueryRestart, ServerGoneForGood)
{
    LDAP *session = q->session();
    slapd.Stop();
    CaptureFd err(2);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0xFFFFFFFFu);
    std::string text = err.Text();
    EXPECT_EQ(text.rfind("ldap_sasl_bind(SIMPLE): ", 0), 0u) << text;
    EXPECT_NE(text.find(" (-1)\nmy_tool_bind failed\n"), std::string::npos) << text;
    EXPECT_EQ(q->session(), session);  // a failed re-open keeps the old session
}

// A server that binds but drops every search: three searches, two reconnections, then -1.
TEST(LdapQueryRetry, DownAtEveryAttempt)
{
    ldaptest::FakeLdap fake(ldaptest::FakeLdap::kCloseOnSearch);
    ASSERT_NE(fake.port(), 0);
    auto q = MakeQuery("ldap", fake.port());
    Prepare(*q);
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    SetTraceVerbosity(2);
    CaptureFd out(1);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0xFFFFFFFFu);
    SetTraceVerbosity(1);
    std::string text = out.Text();
    EXPECT_EQ(Occurrences(text, "re_open after LDAP_SERVER_DOWN\n"), 2u) << text;
    EXPECT_EQ(text.find("warning"), std::string::npos) << text;
    EXPECT_EQ(fake.searches(), 3);
    EXPECT_EQ(fake.binds(), 3);
}

TEST(LdapQueryRetry, TimeLimitTwiceThenAnswered)
{
    ldaptest::FakeLdap fake(ldaptest::FakeLdap::kStallSearches, 2);
    ASSERT_NE(fake.port(), 0);
    auto q = MakeQuery("ldap", fake.port(), "", ldaptest::kReaderDn, ldaptest::kReaderPassword, 1);
    Prepare(*q);
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    SetTraceVerbosity(2);
    CaptureFd out(1);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    SetTraceVerbosity(1);
    std::string text = out.Text();
    EXPECT_EQ(Occurrences(text, "re_open after LDAP_TIMEOUT\n"), 2u) << text;
    EXPECT_EQ(fake.searches(), 3);
    EXPECT_EQ(Count(*q), 0);
}

TEST(LdapQueryRetry, TimeLimitEveryTime)
{
    ldaptest::FakeLdap fake(ldaptest::FakeLdap::kStallSearches, 100);
    ASSERT_NE(fake.port(), 0);
    auto q = MakeQuery("ldap", fake.port(), "", ldaptest::kReaderDn, ldaptest::kReaderPassword, 1);
    Prepare(*q);
    ASSERT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    CaptureFd out(1);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0xFFFFFFFBu);
    EXPECT_EQ(out.Text(), "warning: timeout on LDAP query\n");
    EXPECT_EQ(fake.searches(), 3);
    int count = 5;
    EXPECT_EQ(q->LDAPGetResultCount(&count, LINE_NONE), GDERR_FAILED);
}

// A directory that answers the bind only after the search's time limit is still bound: the
// time limit is the search's alone, and the tool settings keep their network time-out unset.
TEST(LdapQueryLateBind, AnswerAfterTheTimeLimitStillBinds)
{
    ldaptest::FakeLdap fake(ldaptest::FakeLdap::kStallSearches, 0, 2500);
    ASSERT_NE(fake.port(), 0);
    auto q = MakeQuery("ldap", fake.port(), "", ldaptest::kReaderDn, ldaptest::kReaderPassword, 1);
    Prepare(*q);
    CaptureFd err(2);
    EXPECT_EQ(q->LDAPOpenServer(LINE_NONE), 0u);
    EXPECT_EQ(err.Text(), "");
    EXPECT_NE(q->session(), nullptr);
    EXPECT_EQ(fake.binds(), 1);
    EXPECT_EQ(tool_settings.nettimeout.tv_sec, -1);
    EXPECT_EQ(tool_settings.nettimeout.tv_usec, 0);
    EXPECT_EQ(q->LDAPExecute(LINE_NONE), 0u);
    EXPECT_EQ(fake.searches(), 1);
}

}  // namespace
