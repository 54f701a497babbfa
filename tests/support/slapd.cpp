// Starter for a private slapd: slapd.conf, schema, test certificates, slapadd, start and stop.
#include "slapd.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

const char kSchemaDir[] = "/etc/ldap/schema";

bool Run(const std::vector<std::string> &argv, std::string *error, const std::string &workDir = "")
{
    RunOptions options;
    options.workDir = workDir;
    options.timeoutMs = 60000;
    RunResult r = RunProgram(argv, options);
    if (r.exitCode == 0)
        return true;
    std::string command;
    for (const std::string &a : argv)
        command += a + " ";
    *error = "command failed (" + std::to_string(r.exitCode) + "): " + command + "\n" + r.out + r.err;
    return false;
}

std::string HostName()
{
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0)
        return "";
    return name;
}

// The stock core schema with an equality and substring rule for facsimileTelephoneNumber
// (2.5.4.23), the telephone-number rules and syntax.
bool WriteFaxSchema(const std::string &path, std::string *error)
{
    std::string core = ReadFile(std::string(kSchemaDir) + "/core.schema");
    const std::string start = "attributetype ( 2.5.4.23 ";
    size_t at = core.find(start);
    size_t end = at == std::string::npos ? at : core.find(")\n", at);
    if (end == std::string::npos) {
        *error = "facsimileTelephoneNumber not found in core.schema";
        return false;
    }
    const std::string replacement =
        "attributetype ( 2.5.4.23 NAME ( 'facsimileTelephoneNumber' 'fax' )\n"
        "\tDESC 'Facsimile (Fax) Telephone Number, with matching rules for tests'\n"
        "\tEQUALITY telephoneNumberMatch\n"
        "\tSUBSTR telephoneNumberSubstringsMatch\n"
        "\tSYNTAX 1.3.6.1.4.1.1466.115.121.1.50{32} )\n";
    core.replace(at, end + 2 - at, replacement);
    WriteFile(path, core);
    return true;
}

}  // namespace

TestCa::TestCa(const std::string &tag) : tag_(tag), dir_("tela-ca") {}

bool TestCa::Make()
{
    if (made_)
        return true;
    const std::string d = dir_.path();
    caFile_ = d + "/ca.pem";
    certFile_ = d + "/server.pem";
    keyFile_ = d + "/server.key";
    const std::string caKey = d + "/ca.key";
    const std::string csr = d + "/server.csr";
    const std::string ext = d + "/server.ext";
    std::string san = "IP:127.0.0.1,DNS:localhost";
    std::string host = HostName();
    if (!host.empty() && host != "localhost")
        san += ",DNS:" + host;
    WriteFile(ext,
              "basicConstraints=CA:FALSE\n"
              "keyUsage=critical,digitalSignature,keyEncipherment\n"
              "extendedKeyUsage=serverAuth\n"
              "subjectAltName=" +
                  san + "\n");
    if (!Run({"openssl",
              "req",
              "-x509",
              "-newkey",
              "ec",
              "-pkeyopt",
              "ec_paramgen_curve:prime256v1",
              "-nodes",
              "-keyout",
              caKey,
              "-out",
              caFile_,
              "-days",
              "3",
              "-subj",
              "/O=Tela tests/CN=Test CA " + tag_,
              "-addext",
              "basicConstraints=critical,CA:TRUE",
              "-addext",
              "keyUsage=critical,keyCertSign,cRLSign"},
             &error_))
        return false;
    if (!Run({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
              "-keyout", keyFile_, "-out", csr, "-subj", "/O=Tela tests/CN=127.0.0.1"},
             &error_))
        return false;
    if (!Run({"openssl", "x509", "-req", "-in", csr, "-CA", caFile_, "-CAkey", caKey, "-CAcreateserial",
              "-out", certFile_, "-days", "3", "-extfile", ext},
             &error_))
        return false;
    made_ = true;
    return true;
}

std::string SlapdPath()
{
    for (const char *p : {"/usr/sbin/slapd"}) {
        if (access(p, X_OK) == 0)
            return p;
    }
    return "";
}

Slapd::Slapd() : dir_("tela-slapd") {}

Slapd::~Slapd()
{
    Stop();
}

std::string Slapd::Url() const
{
    return "ldap://127.0.0.1:" + std::to_string(port_);
}

std::string Slapd::TlsUrl() const
{
    return "ldaps://127.0.0.1:" + std::to_string(tlsPort_);
}

std::string Slapd::caFile() const
{
    return options_.tls && options_.ca ? options_.ca->caFile() : "";
}

std::string Slapd::Log() const
{
    return server_ ? server_->Log() : std::string();
}

bool Slapd::Running()
{
    return server_ && server_->Running();
}

bool Slapd::Start(const SlapdOptions &options)
{
    options_ = options;
    const std::string d = dir_.path();
    if (SlapdPath().empty()) {
        error_ = "slapd is not installed";
        return false;
    }
    if (options_.tls) {
        if (!options_.ca)
            options_.ca = std::make_shared<TestCa>("slapd");
        if (!options_.ca->Make()) {
            error_ = options_.ca->error();
            return false;
        }
    }

    std::ostringstream conf;
    if (options_.faxEquality) {
        if (!WriteFaxSchema(d + "/core.schema", &error_))
            return false;
        conf << "include " << d << "/core.schema\n";
    } else {
        conf << "include " << kSchemaDir << "/core.schema\n";
    }
    conf << "include " << kSchemaDir << "/cosine.schema\n"
         << "include " << kSchemaDir << "/inetorgperson.schema\n"
         << "pidfile " << d << "/slapd.pid\n"
         << "argsfile " << d << "/slapd.args\n"
         << "modulepath /usr/lib/ldap\n"
         << "moduleload back_mdb\n";
    for (const std::string &module : options_.modules)
        conf << "moduleload " << module << "\n";
    if (options_.tls) {
        conf << "TLSCACertificateFile " << options_.ca->caFile() << "\n"
             << "TLSCertificateFile " << options_.ca->certFile() << "\n"
             << "TLSCertificateKeyFile " << options_.ca->keyFile() << "\n";
    }
    conf << "database mdb\n"
         << "maxsize 16777216\n"
         << "suffix \"" << options_.suffix << "\"\n"
         << "rootdn \"" << options_.rootDn << "\"\n"
         << "rootpw " << options_.rootPassword << "\n"
         << "directory " << d << "/db\n";
    if (options_.access.empty()) {
        conf << "access to attrs=userPassword by anonymous auth by * none\n"
             << "access to * by * read\n";
    } else {
        for (const std::string &line : options_.access)
            conf << line << "\n";
    }
    for (const std::string &line : options_.databaseLines)
        conf << line << "\n";
    WriteFile(d + "/slapd.conf", conf.str());
    WriteFile(d + "/data.ldif", options_.ldif);
    if (!Run({"mkdir", "-p", d + "/db"}, &error_))
        return false;
    if (!options_.ldif.empty() &&
        !Run({"/usr/sbin/slapadd", "-q", "-f", d + "/slapd.conf", "-l", d + "/data.ldif"}, &error_))
        return false;

    // A port pair taken by another program after the check: slapd ends, and another pair is tried.
    int base = StartOnFreePorts(2, [&](int first) {
        port_ = first;
        tlsPort_ = first + 1;
        return Launch();
    });
    if (base == 0) {
        error_ = "slapd started on no free port pair:\n" + error_;
        return false;
    }
    return true;
}

bool Slapd::Launch()
{
    const std::string d = dir_.path();
    std::string urls = Url() + "/";
    if (options_.tls)
        urls.append(" ").append(TlsUrl()).append("/");
    server_ = std::make_unique<ServerProcess>("slapd");
    // -d keeps slapd in the foreground; level 256 ("stats") logs connections and operations.
    std::string log = d + "/slapd-" + std::to_string(++launches_) + ".log";
    if (!server_->Start({SlapdPath(), "-f", d + "/slapd.conf", "-h", urls, "-d", "256"}, {}, log)) {
        error_ = "slapd did not start";
        return false;
    }
    if (!server_->WaitListening(port_, 15000) || (options_.tls && !server_->WaitListening(tlsPort_, 15000))) {
        error_ = "slapd does not listen on its ports:\n" + server_->Log();
        server_->Stop();
        return false;
    }
    return true;
}

void Slapd::Stop()
{
    if (server_)
        server_->Stop();
}

bool Slapd::Restart()
{
    Stop();
    // The clients know the ports: while another program holds one for a moment, try again.
    const auto start = std::chrono::steady_clock::now();
    bool started = false;
    while (!(started = Launch()) && SecondsSince(start) < 30) {
    }
    return started;
}

}  // namespace testsupport
