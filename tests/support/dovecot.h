// Debian's dovecot as a private IMAP server on a loopback port: temporary configuration, a
// passwd-file user database with plain passwords, maildir mailboxes in the temporary directory,
// and a log with the authentication lines (auth_verbose), so tests can count login attempts.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "testsupport.h"

namespace testsupport {

struct DovecotOptions {
    // user name and plain password of each mailbox user
    std::vector<std::pair<std::string, std::string>> users = {{"jdoe", "s3cret"}};
    // Offer TLS (imaps listener and STARTTLS) with this certificate and key.
    std::string certFile;
    std::string keyFile;
};

class Dovecot {
public:
    Dovecot();
    ~Dovecot();
    Dovecot(const Dovecot &) = delete;
    Dovecot &operator=(const Dovecot &) = delete;

    // False with the reason in error() (and the server's own output in Log()).
    bool Start(const DovecotOptions &options = {});
    void Stop();
    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    // "127.0.0.1:<port>"
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string &error() const { return error_; }
    std::string Log() const;
    // Lines of the log that report a refused password ("Password mismatch").
    int PasswordMismatches() const;

private:
    // Writes the configuration for port_ and tlsPort_ and starts dovecot there.
    bool Launch(bool tls, const DovecotOptions &options);

    TempDir dir_;
    std::unique_ptr<ServerProcess> server_;
    int port_ = 0;
    int tlsPort_ = 0;
    std::string error_;
};

}  // namespace testsupport
