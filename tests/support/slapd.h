// Debian's slapd on loopback ports with a temporary slapd.conf and an mdb database loaded from
// the caller's LDIF with slapadd. Listens on ldap:// and, with TLS, on ldaps:// (StartTLS on the
// plain port) with a certificate of a test CA made with openssl for 127.0.0.1, localhost and
// the machine's host name. Clients should run with LDAPNOINIT=1.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testsupport.h"

namespace testsupport {

// A test certificate authority and one server certificate it signed, in a directory of its
// own. Two of them give two CAs that do not trust each other's certificates.
class TestCa {
public:
    explicit TestCa(const std::string &tag = "ca");
    TestCa(const TestCa &) = delete;
    TestCa &operator=(const TestCa &) = delete;
    // Makes the CA and the server certificate (once); false with the reason in error().
    bool Make();
    const std::string &caFile() const { return caFile_; }
    const std::string &certFile() const { return certFile_; }
    const std::string &keyFile() const { return keyFile_; }
    const std::string &error() const { return error_; }

private:
    std::string tag_;
    TempDir dir_;
    std::string caFile_, certFile_, keyFile_, error_;
    bool made_ = false;
};

struct SlapdOptions {
    std::string suffix = "dc=example,dc=test";
    std::string rootDn = "cn=admin,dc=example,dc=test";
    std::string rootPassword = "secret";
    // Entries loaded before the start, the suffix entry included.
    std::string ldif;
    // Listen on ldaps:// and offer StartTLS; the certificate comes from `ca`, or from a CA of
    // the server's own when `ca` is null.
    bool tls = true;
    std::shared_ptr<TestCa> ca;
    // Give facsimileTelephoneNumber an equality (and substring) rule, which the stock schema
    // lacks, so that a filter on it can match.
    bool faxEquality = false;
    // Access lines of the database; empty: users and anonymous may read, passwords only bind.
    std::vector<std::string> access;
    // Further modules of /usr/lib/ldap to load (for example "ppolicy").
    std::vector<std::string> modules;
    // Further lines for the database section (for example "limits ..." or "security ...").
    std::vector<std::string> databaseLines;
};

// The directory and the command of Debian's slapd, or "" when it is not installed.
std::string SlapdPath();

class Slapd {
public:
    Slapd();
    ~Slapd();
    Slapd(const Slapd &) = delete;
    Slapd &operator=(const Slapd &) = delete;

    // Writes the configuration, loads the LDIF, picks the ports (below 32768) and starts slapd;
    // waits until it accepts connections. False with the reason in error() and Log().
    bool Start(const SlapdOptions &options);
    // Stops the server; the database and the ports stay for Restart().
    void Stop();
    // Starts it again on the same ports with the same database.
    bool Restart();
    bool Running();

    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    std::string Url() const;     // "ldap://127.0.0.1:<port>"
    std::string TlsUrl() const;  // "ldaps://127.0.0.1:<tlsPort>"
    // The CA file that signed the server's certificate ("" without TLS).
    std::string caFile() const;
    const std::string &error() const { return error_; }
    // slapd's own output (connection and operation lines at log level "stats").
    std::string Log() const;
    const std::string &dir() const { return dir_.path(); }

private:
    bool Launch();

    TempDir dir_;
    SlapdOptions options_;
    std::unique_ptr<ServerProcess> server_;
    int port_ = 0;
    int tlsPort_ = 0;
    std::string error_;
    int launches_ = 0;
};

}  // namespace testsupport
