// Hand-built RPC calls over TCP with record marking.
#include "rawrpc.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace rawrpc {

Wire &Wire::U32(uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        data_.push_back(static_cast<char>((v >> shift) & 0xFF));
    return *this;
}

Wire &Wire::Str(const std::string &text, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        I32(i < text.size() ? static_cast<signed char>(text[i]) : 0);
    return *this;
}

bool Reader::U32(uint32_t &v)
{
    if (left() < 4)
        return false;
    v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<unsigned char>(b_[pos_ + i]);
    pos_ += 4;
    return true;
}

int32_t Reader::I32()
{
    uint32_t v = 0;
    U32(v);
    return static_cast<int32_t>(v);
}

std::string Reader::Str(size_t n)
{
    std::string s;
    bool ended = false;
    for (size_t i = 0; i < n; ++i) {
        char c = static_cast<char>(I32() & 0xFF);
        if (c == 0)
            ended = true;
        if (!ended)
            s.push_back(c);
    }
    return s;
}

namespace {

bool ReadFull(int fd, char *p, size_t n, std::chrono::steady_clock::time_point until)
{
    while (n > 0) {
        int ms = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count());
        if (ms <= 0)
            return false;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, ms) <= 0)
            return false;
        ssize_t got = read(fd, p, n);
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

Reply Call(int port, uint32_t prog, uint32_t vers, uint32_t proc, const std::string &args, int timeoutMs)
{
    Reply reply;
    Wire msg;
    msg.U32(0x1234567).U32(0).U32(2).U32(prog).U32(vers).U32(proc);
    msg.U32(0).U32(0).U32(0).U32(0);  // credential and verifier: AUTH_NONE, empty
    msg.Bytes(args);
    Wire record;
    record.U32(0x80000000u | static_cast<uint32_t>(msg.size())).Bytes(msg.data());

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return reply;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        write(fd, record.data().data(), record.size()) != static_cast<ssize_t>(record.size())) {
        close(fd);
        return reply;
    }
    std::string body;
    for (bool last = false; !last;) {
        char mark[4];
        if (!ReadFull(fd, mark, 4, until)) {
            close(fd);
            return reply;
        }
        uint32_t m = 0;
        for (char c : mark)
            m = (m << 8) | static_cast<unsigned char>(c);
        last = (m & 0x80000000u) != 0;
        std::string frag(m & 0x7FFFFFFFu, '\0');
        if (!ReadFull(fd, frag.data(), frag.size(), until)) {
            close(fd);
            return reply;
        }
        body += frag;
    }
    close(fd);
    Reader r(body);
    uint32_t xid = 0, type = 0, flavor = 0, len = 0;
    if (!r.U32(xid) || !r.U32(type) || !r.U32(reply.replyStat))
        return reply;
    if (reply.replyStat == 0) {
        if (!r.U32(flavor) || !r.U32(len) || len != 0 || !r.U32(reply.acceptStat))
            return reply;
        reply.result = body.substr(body.size() - r.left());
    }
    reply.received = true;
    return reply;
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

}  // namespace rawrpc
