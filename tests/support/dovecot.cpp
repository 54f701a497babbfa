// Private dovecot IMAP server for tests.
#include "dovecot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace testsupport {

Dovecot::Dovecot() : dir_("dovecot") {}

Dovecot::~Dovecot()
{
    Stop();
}

bool Dovecot::Start(const DovecotOptions &options)
{
    if (!HaveProgram("/usr/sbin/dovecot")) {
        error_ = "dovecot is not installed";
        return false;
    }
    // The login and mail processes run as unprivileged users and must reach the directory.
    chmod(dir_.path().c_str(), 0755);
    const std::string mail = dir_.file("mail");
    mkdir(mail.c_str(), 0777);
    chmod(mail.c_str(), 0777);
    mkdir(dir_.file("run").c_str(), 0755);
    mkdir(dir_.file("state").c_str(), 0755);

    std::ostringstream users;
    for (const auto &u : options.users)
        users << u.first << ":{PLAIN}" << u.second << "\n";
    WriteFile(dir_.file("users"), users.str(), 0644);

    const bool tls = !options.certFile.empty();
    // Ports taken by another program after the check: dovecot ends, and others are tried.
    int base = StartOnFreePorts(2, [&](int first) {
        port_ = first;
        tlsPort_ = tls ? first + 1 : 0;
        return Launch(tls, options);
    });
    if (base == 0) {
        error_ = "dovecot started on no free ports: " + error_;
        return false;
    }
    return true;
}

bool Dovecot::Launch(bool tls, const DovecotOptions &options)
{
    const std::string mail = dir_.file("mail");
    std::ostringstream conf;
    conf << "protocols = imap\n"
         << "listen = 127.0.0.1\n"
         << "base_dir = " << dir_.file("run") << "\n"
         << "state_dir = " << dir_.file("state") << "\n"
         << "instance_name = tela-dovecot-" << port_ << "\n"
         << "log_path = " << dir_.file("dovecot.log") << "\n"
         << "auth_verbose = yes\n"
         << "auth_failure_delay = 0\n"
         << "disable_plaintext_auth = no\n"
         << "auth_mechanisms = plain login cram-md5\n"
         << "first_valid_uid = 1\n"
         << "mail_location = maildir:" << mail << "/%u/Maildir\n"
         << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " << dir_.file("users") << "\n}\n"
         << "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=" << mail << "/%u\n}\n"
         << "service imap-login {\n"
         << "  inet_listener imap {\n    address = 127.0.0.1\n    port = " << port_ << "\n  }\n"
         << "  inet_listener imaps {\n    address = 127.0.0.1\n    port = " << tlsPort_ << "\n"
         << (tls ? "    ssl = yes\n" : "") << "  }\n"
         << "}\n";
    if (tls) {
        conf << "ssl = yes\n"
             << "ssl_cert = <" << options.certFile << "\n"
             << "ssl_key = <" << options.keyFile << "\n";
    } else {
        conf << "ssl = no\n";
    }
    const std::string confPath = dir_.file("dovecot.conf");
    WriteFile(confPath, conf.str(), 0644);

    server_ = std::make_unique<ServerProcess>("dovecot");
    if (!server_->Start({"/usr/sbin/dovecot", "-F", "-c", confPath}, {}, dir_.file("stdout.log"))) {
        error_ = "cannot start dovecot";
        return false;
    }
    if (!server_->WaitListening(port_, 15000) || (tls && !server_->WaitListening(tlsPort_, 15000))) {
        error_ = "dovecot did not start listening: " + Log();
        server_->Stop();
        return false;
    }
    return true;
}

void Dovecot::Stop()
{
    if (server_)
        server_->Stop();
    server_.reset();
}

std::string Dovecot::Log() const
{
    std::string log = ReadFile(dir_.file("dovecot.log"));
    if (server_)
        log += server_->Log();
    return log;
}

int Dovecot::PasswordMismatches() const
{
    std::istringstream in(ReadFile(dir_.file("dovecot.log")));
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        if (line.find("Password mismatch") != std::string::npos)
            ++n;
    }
    return n;
}

}  // namespace testsupport
