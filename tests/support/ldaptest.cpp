#include "ldaptest.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "testsupport.h"

namespace ldaptest {

// No system or user LDAP configuration in any test, also when a test program runs outside
// CTest: libldap reads it at its first use, after this.
const bool kNoSystemConfig = setenv("LDAPNOINIT", "1", 1) == 0;

const char kReaderDn[] = "cn=reader,dc=example,dc=test";
const char kReaderPassword[] = "readpw";
const char kBase[] = "ou=people,dc=example,dc=test";

std::string DirectoryLdif()
{
    return "dn: dc=example,dc=test\n"
           "objectClass: dcObject\n"
           "objectClass: organization\n"
           "dc: example\n"
           "o: Example\n"
           "\n"
           "dn: cn=reader,dc=example,dc=test\n"
           "objectClass: organizationalRole\n"
           "objectClass: simpleSecurityObject\n"
           "cn: reader\n"
           "userPassword: readpw\n"
           "\n"
           "dn: ou=people,dc=example,dc=test\n"
           "objectClass: organizationalUnit\n"
           "ou: people\n"
           "\n"
           "dn: uid=jdoe,ou=people,dc=example,dc=test\n"
           "objectClass: inetOrgPerson\n"
           "uid: jdoe\n"
           "cn: J\xc3\xbcrgen M\xc3\xbcller\n"
           "givenName: J\xc3\xbcrgen\n"
           "sn: M\xc3\xbcller\n"
           "telephoneNumber: 4711\n"
           "telephoneNumber: +49 89 4711\n"
           "telephoneNumber: 0815\n"
           "facsimileTelephoneNumber: 4711\n"
           // "Preis 10 € – “Top” ‘x’ O'Neill" with an en dash, typographic quotes and an apostrophe
           "description: Preis 10 \xe2\x82\xac \xe2\x80\x93 \xe2\x80\x9cTop\xe2\x80\x9d "
           "\xe2\x80\x98x\xe2\x80\x99 O'Neill\n"
           // Cyrillic "Иван", which has no ISO-8859-15 form
           "title: Dr \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd\n"
           "preferredLanguage: DE\n"
           "\n"
           "dn: uid=anna,ou=people,dc=example,dc=test\n"
           "objectClass: inetOrgPerson\n"
           "uid: anna\n"
           "cn: Anna Berg\n"
           "givenName: Anna\n"
           "sn: Berg\n"
           "telephoneNumber: 4712\n"
           "facsimileTelephoneNumber: 4712\n"
           "\n"
           "dn: uid=bare,ou=people,dc=example,dc=test\n"
           "objectClass: inetOrgPerson\n"
           "uid: bare\n"
           "cn: bare\n"
           "sn: bare\n"
           "telephoneNumber: 4713\n";
}

FakeLdap::FakeLdap(Mode mode, int stalled, int bindDelayMs, size_t entryBytes)
    : mode_(mode), entryBytes_(entryBytes), stalled_(stalled), bindDelayMs_(bindDelayMs)
{
    // A port the system picks: no other program can take it between a check and the bind.
    listenFd_ = testsupport::LoopbackSocket(SOCK_STREAM, 0, 8);
    if (listenFd_ < 0)
        return;
    port_ = testsupport::LocalPort(listenFd_);
    acceptThread_ = testsupport::StartedThread([this] { AcceptLoop(); });
}

FakeLdap::~FakeLdap()
{
    stop_ = true;
    if (acceptThread_.joinable())
        acceptThread_.join();
    if (listenFd_ >= 0)
        close(listenFd_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : clientFds_)
            shutdown(fd, SHUT_RDWR);
    }
    for (std::thread &t : workers_)
        t.join();
    for (int fd : clientFds_)
        close(fd);
}

void FakeLdap::AcceptLoop()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            continue;
        connections_++;
        std::lock_guard<std::mutex> lock(mutex_);
        clientFds_.push_back(fd);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

namespace {

// Reads exactly n bytes; false at end of stream.
bool ReadFull(int fd, unsigned char *buf, size_t n)
{
    while (n > 0) {
        ssize_t got = read(fd, buf, n);
        if (got <= 0)
            return false;
        buf += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// One LDAP message: its id, the tag of its operation and its bytes.
bool ReadMessage(int fd, int *id, int *op, std::string *raw)
{
    unsigned char head[2];
    if (!ReadFull(fd, head, 2) || head[0] != 0x30)
        return false;
    raw->assign(reinterpret_cast<const char *>(head), 2);
    size_t length = head[1];
    if (length & 0x80) {
        unsigned char bytes[4];
        size_t count = length & 0x7f;
        if (count == 0 || count > 4 || !ReadFull(fd, bytes, count))
            return false;
        raw->append(reinterpret_cast<const char *>(bytes), count);
        length = 0;
        for (size_t i = 0; i < count; i++)
            length = length << 8 | bytes[i];
    }
    std::vector<unsigned char> body(length);
    if (length == 0 || !ReadFull(fd, body.data(), length))
        return false;
    raw->append(reinterpret_cast<const char *>(body.data()), length);
    if (body.size() < 3 || body[0] != 0x02)
        return false;
    size_t idLength = body[1];
    int value = 0;
    for (size_t i = 0; i < idLength && 2 + i < body.size(); i++)
        value = value << 8 | body[2 + i];
    *id = value;
    *op = 2 + idLength < body.size() ? body[2 + idLength] : -1;
    return true;
}

// A response of the given application tag with result code success and empty texts.
void SendResult(int fd, int id, unsigned char tag)
{
    unsigned char msg[] = {0x30, 0x0c, 0x02, 0x01, static_cast<unsigned char>(id),
                           tag,  0x07, 0x0a, 0x01, 0x00,
                           0x04, 0x00, 0x04, 0x00};
    ssize_t ignored = write(fd, msg, sizeof msg);
    (void)ignored;
}

// BER element: tag, length in the four-byte long form, content.
std::string Tlv(unsigned char tag, const std::string &content)
{
    size_t n = content.size();
    std::string out(1, static_cast<char>(tag));
    out += static_cast<char>(0x84);
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(n >> shift & 0xff);
    return out + content;
}

// A search entry of message `id`, cn=endless with an attribute sn that makes it `bytes` long.
std::string SearchEntry(int id, size_t bytes)
{
    const std::string dn = Tlv(0x04, "cn=endless");
    const std::string type = Tlv(0x04, "sn");
    const size_t overhead = 6 + 3 + 6 + dn.size() + 6 + 6 + type.size() + 6 + 6 + 7;
    std::string value = "endless";
    if (bytes > overhead)
        value += std::string(bytes - overhead, 'x');
    std::string attrs = Tlv(0x30, Tlv(0x30, type + Tlv(0x31, Tlv(0x04, value))));
    return Tlv(0x30, std::string{0x02, 0x01, static_cast<char>(id)} + Tlv(0x64, dn + attrs));
}

// Writes all of data; false when the connection is gone.
bool SendAll(int fd, const std::string &data)
{
    for (size_t at = 0; at < data.size();) {
        ssize_t put = send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
        if (put <= 0)
            return false;
        at += static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

std::string FakeLdap::lastSearch()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastSearch_;
}

void FakeLdap::Flood(int fd, int id)
{
    std::string chunk;
    if (mode_ == kEndlessEntries) {
        const std::string entry = SearchEntry(id, entryBytes_);
        while (chunk.size() < 65536)
            chunk += entry;
    } else {
        // A message of 1 GiB announced, then its content as zeros until 1 GiB is sent.
        const char head[] = {0x30, static_cast<char>(0x84), 0x40, 0x00, 0x00, 0x00};
        if (!SendAll(fd, std::string(head, sizeof head)))
            return;
        chunk.assign(65536, '\0');
    }
    for (size_t sent = 0; !stop_ && sent < (size_t{1} << 30); sent += chunk.size()) {
        if (!SendAll(fd, chunk))
            return;
    }
}

void FakeLdap::Serve(int fd)
{
    int id = 0;
    int op = 0;
    std::string raw;
    while (ReadMessage(fd, &id, &op, &raw)) {
        if (op == 0x60) {  // bind request
            binds_++;
            // In small steps, so that the destructor need not wait for the whole delay.
            for (int waited = 0; waited < bindDelayMs_ && !stop_; waited += 10)
                usleep(10000);
            SendResult(fd, id, 0x61);
        } else if (op == 0x63) {  // search request
            int number = ++searches_;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                lastSearch_ = raw;
            }
            if (mode_ == kCloseOnSearch)
                break;
            if (mode_ == kEndlessEntries || mode_ == kAnnounceHugeMessage) {
                Flood(fd, id);
                break;
            }
            if (number > stalled_)
                SendResult(fd, id, 0x65);  // search result done
        } else if (op == 0x42) {           // unbind
            break;
        }
    }
    shutdown(fd, SHUT_RDWR);
}

void DirectorySlapdSuite::SetUpTestSuite()
{
    slapd_ = new testsupport::Slapd;
    testsupport::SlapdOptions o;
    o.ldif = DirectoryLdif();
    o.tls = false;
    ASSERT_TRUE(slapd_->Start(o)) << slapd_->error();
}

void DirectorySlapdSuite::TearDownTestSuite()
{
    delete slapd_;
    slapd_ = nullptr;
}

}  // namespace ldaptest
