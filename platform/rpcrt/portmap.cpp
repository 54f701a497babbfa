// Server port map from the environment (TELAMORPCMAP, TELAMORPCPORT, TELAMORPCOFFSET) and the
// portmapper query used when the environment gives no port.
#include "rpcrt/rpcrt.h"

#include "rpcrt/rpcrt_internal.h"
#include "rpcrt/servers.h"

#include <rpc/pmap_prot.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tela {

namespace {

// The map without its blanks, ended by two NULs; nullptr when out of memory.
char *CopyWithoutBlanks(const char *map)
{
    size_t length = strlen(map);
    auto *copy = static_cast<char *>(malloc(length + 2));
    if (copy == nullptr)
        return nullptr;
    size_t n = 0;
    for (const char *p = map; *p != '\0'; ++p)
        if (*p != ' ')
            copy[n++] = *p;
    copy[n] = '\0';
    copy[n + 1] = '\0';
    return copy;
}

// The base port the map gives `host` (before the slot is added), scanning entries
// "host:port" separated by ";". Positions in messages count from 1 in the blank-free copy.
// Returns false when the host has no entry or the map is malformed before it.
bool ScanMap(const char *copy, const char *host, uint16_t slot, unsigned short *port)
{
    size_t hostLength = strlen(host);
    const char *p = copy;
    for (;;) {
        while (*p == ':')
            ++p;
        if (*p == '\0')
            return false;
        const char *field = p;
        while (*p != '\0' && *p != ':')
            ++p;
        size_t fieldLength = static_cast<size_t>(p - field);
        ++p;  // the ":" that ends the host field, or past the end onto the second NUL
        const char *lookedFor = p;
        while (*p == ';')
            ++p;
        if (*p == '\0') {
            fprintf(stderr, "bad TELAMORPCMAP: syntax error near character %d\n",
                    static_cast<int>(lookedFor - copy) + 1);
            return false;
        }
        const char *portField = p;
        while (*p != '\0' && *p != ';')
            ++p;
        const char *portEnd = p;
        if (*p == ';')
            ++p;
        if (fieldLength == hostLength && memcmp(field, host, hostLength) == 0) {
            char *end = nullptr;
            long value = strtol(portField, &end, 10);
            // The number as a 32-bit long reads it.
            if (value > INT32_MAX)
                value = INT32_MAX;
            if (value < INT32_MIN)
                value = INT32_MIN;
            if (end < portEnd)
                fprintf(stderr, "bad TELAMORPCMAP: number expected near character %d\n",
                        static_cast<int>(portField - copy) + 1);
            *port = static_cast<unsigned short>(static_cast<uint32_t>(value) + slot);
            return true;
        }
    }
}

}  // namespace

unsigned short rpclib(const char *host, rpcprog_t prog, rpcvers_t /*vers*/)
{
    unsigned short port = 0;
    char *copy = nullptr;
    const char *map = getenv("TELAMORPCMAP");
    if (map != nullptr) {
        copy = CopyWithoutBlanks(map);
        if (copy == nullptr) {
            fprintf(stderr, "rpclib: out of memory\n");
            return 0;
        }
    } else if (const char *base = getenv("TELAMORPCPORT")) {
        port = static_cast<unsigned short>(atoi(base));
    }
    uint32_t program = prog;
    if (const char *offset = getenv("TELAMORPCOFFSET"))
        program -= static_cast<uint32_t>(atoi(offset));

    const ServerProgramEntry *entry = ServerProgramByNumber(program);
    if (entry == nullptr) {
        free(copy);
        return port;
    }
    const auto slot = static_cast<uint16_t>(entry->program);
    if (copy == nullptr)
        return port != 0 ? static_cast<unsigned short>(port + slot) : 0;

    if (host == nullptr || !ScanMap(copy, host, slot, &port))
        port = 0;
    free(copy);
    return port;
}

u_short pmap_getport(struct sockaddr_in *address, u_long prog, u_long vers, u_int prot)
{
    u_short port = 0;
    int sock = -1;
    address->sin_port = htons(PMAPPORT);
    const char *transport = getenv("RPCTRANSPORT");
    struct timeval total = {rpcrt_internal::kPmapTimeoutMs / 1000, 0};
    CLIENT *client;
    if (transport != nullptr && strcasecmp(transport, "tcp") == 0)
        client = rpcrt_internal::CreateTcpClient(address, PMAPPROG, PMAPVERS, &sock, 400, 400,
                                                 rpcrt_internal::kPmapTimeoutMs);
    else
        client = tela::clntudp_bufcreate(address, PMAPPROG, PMAPVERS, total, &sock, 400, 400);
    if (client != nullptr) {
        struct pmap mapping = {};
        mapping.pm_prog = prog;
        mapping.pm_vers = vers;
        mapping.pm_prot = prot;
        mapping.pm_port = 0;
        enum clnt_stat status =
            tela::clnt_call(client, PMAPPROC_GETPORT, reinterpret_cast<xdrproc_t>(xdr_pmap), &mapping,
                            reinterpret_cast<xdrproc_t>(xdr_u_short), &port, total);
        if (status != RPC_SUCCESS) {
            rpc_createerr.cf_stat = RPC_PMAPFAILURE;
            CLNT_GETERR(client, &rpc_createerr.cf_error);
            port = 0;
        } else if (port == 0) {
            rpc_createerr.cf_stat = RPC_PROGNOTREGISTERED;
        }
        CLNT_DESTROY(client);
    }
    address->sin_port = 0;
    return port;
}

}  // namespace tela
