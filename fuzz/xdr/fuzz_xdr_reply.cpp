// One road call whose reply comes from arbitrary bytes: the client reads it through the locked
// call over a connected socket pair, as it would read a hostile or broken server.
//
// The first byte picks the call (road_calls.h); the rest is the accepted reply from its accept
// status on (status, then the result). The reply goes out as one record with the id of the
// call, the reply header and an empty verifier in front, and the sending side is shut after it,
// so a short reply ends the call at once instead of waiting for its time-out. Decoding failures
// must leave nothing allocated (leak check) and nothing that releasing once more would free
// twice.
//
// The verifier stays empty: libtirpc's TCP client loses a non-empty verifier when the rest of
// the reply fails to decode (up to 400 bytes a reply), which is outside the system's code.
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "road_calls.h"

namespace {

// The id set on every client before its call, and the id that the call then sends (libtirpc
// derives it from the one set; learnt once at start-up).
constexpr uint32_t kSetXid = 0x5eed0001;
uint32_t replyXid = 0;
// Stays well inside a socket pair's buffer, so writing the whole reply never blocks.
constexpr size_t kMaxReply = 60000;

bool WriteAll(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// A client on fds[0] of a new socket pair, with kSetXid set for its next call; the server side
// of the test writes and reads fds[1].
CLIENT *PairedClient(rpcprog_t prog, int fds[2])
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        std::abort();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(1);  // any port: the socket is connected already
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int sock = fds[0];
    CLIENT *clnt = tela::clnttcp_create(&addr, prog, 1, &sock, 0, 0);
    uint32_t next = kSetXid;
    if (clnt == nullptr || !CLNT_CONTROL(clnt, CLSET_XID, reinterpret_cast<char *>(&next)))
        std::abort();
    return clnt;
}

// Makes one call that gets no answer and reads the id from the request it sent.
uint32_t LearnXid()
{
    int fds[2];
    CLIENT *clnt = PairedClient(xdrfuzz::kAlpha, fds);
    if (shutdown(fds[1], SHUT_WR) != 0)
        std::abort();
    if (a_get_compat_1(nullptr, clnt) != nullptr)
        std::abort();
    uint32_t head[2];
    if (read(fds[1], head, sizeof head) != static_cast<ssize_t>(sizeof head))
        std::abort();
    clnt_destroy(clnt);
    close(fds[0]);
    close(fds[1]);
    return ntohl(head[1]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    rpc_runtime_init();
    replyXid = LearnXid();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size - 1 > kMaxReply)
        return 0;
    const xdrfuzz::RoadCall &road = xdrfuzz::kRoadCalls[data[0] % xdrfuzz::kRoadCallCount];
    int fds[2];
    CLIENT *clnt = PairedClient(road.prog, fds);
    // Record mark (last fragment), the call's id, REPLY, MSG_ACCEPTED, an empty AUTH_NONE
    // verifier, then the bytes of the input.
    const size_t body = size - 1;
    const uint32_t head[6] = {htonl(0x80000000u | static_cast<uint32_t>(20 + body)),
                              htonl(replyXid),
                              htonl(1),
                              htonl(0),
                              htonl(0),
                              htonl(0)};
    std::vector<uint8_t> reply(sizeof head + body);
    std::memcpy(reply.data(), head, sizeof head);
    if (body != 0)
        std::memcpy(reply.data() + sizeof head, data + 1, body);
    if (!WriteAll(fds[1], reply.data(), reply.size()) || shutdown(fds[1], SHUT_WR) != 0)
        std::abort();
    road.call(clnt);
    clnt_destroy(clnt);
    close(fds[0]);
    close(fds[1]);
    return 0;
}
