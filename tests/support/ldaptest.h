// Helpers of the LDAP tests: the test directory data, a suite's private slapd holding it, and a
// small fake LDAP server for the failure paths slapd cannot be made to show.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "slapd.h"

namespace ldaptest {

// LDIF of the test directory below dc=example,dc=test: people jdoe (UTF-8 names, several
// telephone numbers, fax 4711), anna (fax 4712) and bare (no names), and the bind entry
// cn=reader with password "readpw".
std::string DirectoryLdif();
extern const char kReaderDn[];
extern const char kReaderPassword[];
extern const char kBase[];

// A suite's private slapd without TLS holding DirectoryLdif(): started before the suite's first
// test, stopped after its last.
class DirectorySlapdSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    static inline testsupport::Slapd *slapd_ = nullptr;
};

// A fake LDAP server on 127.0.0.1: answers every bind with success, `bindDelayMs` after it
// arrived, and every search as the mode says. Counts connections, binds and searches and keeps
// the bytes of the last search request.
class FakeLdap {
public:
    enum Mode {
        kCloseOnSearch,        // drop the connection when a search arrives (server down)
        kStallSearches,        // leave the first `stalled` searches unanswered, then answer "done"
        kEndlessEntries,       // answer each search with entries of `entryBytes` bytes without end
        kAnnounceHugeMessage,  // answer a search with a message announced as 1 GiB, then zeros
    };
    FakeLdap(Mode mode, int stalled = 0, int bindDelayMs = 0, size_t entryBytes = 200);
    ~FakeLdap();
    FakeLdap(const FakeLdap &) = delete;
    FakeLdap &operator=(const FakeLdap &) = delete;
    int port() const { return port_; }
    int connections() const { return connections_; }
    int binds() const { return binds_; }
    int searches() const { return searches_; }
    std::string lastSearch();

private:
    void AcceptLoop();
    void Serve(int fd);
    void Flood(int fd, int id);

    Mode mode_;
    size_t entryBytes_;
    std::string lastSearch_;
    int stalled_;
    int bindDelayMs_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> binds_{0};
    std::atomic<int> searches_{0};
    std::thread acceptThread_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<int> clientFds_;
};

}  // namespace ldaptest
