// The dirprobe part of the demo: starts the simulated alpha/omega server with the sample data,
// a private slapd with a few directory entries and a private dovecot with one mailbox, all on
// loopback, then runs dirprobe on sample extensions (the IMAP password given on its standard
// input) and prints what it printed. Everything it started is stopped when it ends.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "dovecot.h"
#include "simserver.h"
#include "slapd.h"
#include "testsupport.h"

using nlohmann::json;

namespace {

const char kLdif[] =
    "dn: dc=example,dc=test\n"
    "objectClass: dcObject\nobjectClass: organization\no: Example\ndc: example\n\n"
    "dn: ou=people,dc=example,dc=test\nobjectClass: organizationalUnit\nou: people\n\n"
    "dn: uid=mmustermann,ou=people,dc=example,dc=test\n"
    "objectClass: inetOrgPerson\nuid: mmustermann\ncn: Max Mustermann\nsn: Mustermann\ngivenName: Max\n"
    "telephoneNumber: 5000\npreferredLanguage: DE\ndepartmentNumber: +49 30 5000\n\n";

int Fail(const std::string &what)
{
    std::cerr << "demo: " << what << "\n";
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return Fail("usage: dirprobe_demo DIRPROBE FIXTURE.json");
    const std::string dirprobe = argv[1];
    std::ifstream in(argv[2]);
    if (!in)
        return Fail(std::string("cannot read ") + argv[2]);
    json fixture = json::parse(in);

    testsupport::Slapd slapd;
    testsupport::SlapdOptions so;
    so.ldif = kLdif;
    so.tls = false;
    if (!slapd.Start(so))
        return Fail("slapd did not start: " + slapd.error());
    testsupport::Dovecot dovecot;
    testsupport::DovecotOptions dopt;
    dopt.users = {{"mmustermann", "demo-password"}};
    if (!dovecot.Start(dopt))
        return Fail("dovecot did not start: " + dovecot.error());

    // A directory user with a mailbox on the private IMAP server.
    fixture["routes"].push_back(
        {{"line_id", "5000"}, {"route_id", "R5000"}, {"server", "127.0.0.1"}, {"user", "mmuster"}});
    fixture["properties"]["mmuster"] = {{"GD_IMU", "1"},
                                        {"GD_LDH", "127.0.0.1"},
                                        {"GD_LDPRT", std::to_string(slapd.port())},
                                        {"GD_LDBAS", "ou=people,dc=example,dc=test"},
                                        {"GD_LDFIL", "(telephoneNumber=%s)"},
                                        {"GD_LDLNG", "preferredLanguage"},
                                        {"GD_LDATS", "departmentNumber"},
                                        {"GD_IMH", dovecot.HostPort()},
                                        {"GD_IMS", "Sent"},
                                        {"GD_IMD", "Trash"},
                                        {"GD_SMH", "127.0.0.1"},
                                        {"SG_MYDOM", "example.test"}};
    testsupport::SimServer sim;
    if (!sim.Start(fixture.dump()))
        return Fail("simulated server did not start: " + sim.Log());

    testsupport::RunOptions o;
    o.env = {sim.RpcMapEnv(), "ALPHAHOST=127.0.0.1", "OMEGAHOST=127.0.0.1", "LDAPNOINIT=1"};
    o.unset = {"TELAMORPCPORT", "TELAMORPCOFFSET", "RPCTRANSPORT"};
    o.input = "demo-password\n200\n000\n";
    std::cout << "$ dirprobe -c 4711 4712 5000     (typed: the IMAP password, 200, 000)\n";
    auto r = testsupport::RunProgram({dirprobe, "-c", "4711", "4712", "5000"}, o);
    std::cout << r.out;
    if (!r.err.empty())
        std::cout << "--- standard error ---\n" << r.err;
    std::cout << "--- exit code " << r.exitCode << "\n";
    return r.exitCode;
}
