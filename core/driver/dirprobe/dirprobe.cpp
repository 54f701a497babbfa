// dirprobe: resolves telephone extensions the way the telephony driver does and prints what it
// found; with -c it goes on with extensions typed at a prompt.
#include <ldap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "apicln/tela.h"
#include "console/client.h"
#include "drvtrace/drvtrace.h"
#include "harness/testged.h"
#include "os/cfenv.h"
#include "os/hostvars.h"
#include "os/unixcompat.h"
#include "outcharset.h"
#include "resolveprint.h"
#include "resolver/resolver.h"
#include "rpcrt/rpcrt.h"
#include "rpcrt/servers.h"
#include "xdr/alpha.h"
#include "xdr/xdrresult.h"

namespace {

[[noreturn]] void usage()
{
    std::fputs("usage: dirprobe [-v] [-d] [-c] <extension> [<extension> ....]\n", stderr);
    std::fputs("\t-c continuous mode\n", stderr);
    std::fputs("\t-d for ldap debug\n", stderr);
    std::fputs("\t-v verbose\n", stderr);
    std::exit(1);
}

void SetLdapDebugLevel(int level)
{
    ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
}

struct Options {
    int verbosity = 1;
    bool continuous = false;
};

// The defaults, then the command line ("?cdv"): -c continuous mode, -d the LDAP library's debug
// output, -v verbose; no argument at all or any other option gives the usage (exit code 1).
// No extension after the options is reported and the program goes on.
Options ParseOptions(int argc, char **argv)
{
    Options options;
    SetLdapDebugLevel(0);
    SetTraceVerbosity(options.verbosity);
    if (argc < 2)
        usage();
    int opt;
    while ((opt = tela::GetOpt(argc, argv, "?cdv")) != -1) {
        switch (opt) {
        case 'c':
            options.continuous = true;
            break;
        case 'd':
            SetLdapDebugLevel(-1);
            break;
        case 'v':
            options.verbosity = 2;
            SetTraceVerbosity(options.verbosity);
            break;
        default:
            usage();
        }
    }
    if (tela::OptInd >= argc)
        GD_TRACE(TRACE_ERROR, LINE_NONE, "no extension\n");
    return options;
}

// The installation environment, unless OMEGAHOST is set (an empty value too); InitEnv ends the
// program when it finds no environment file.
void LoadEnvironment(int *argc, char **argv)
{
    if (std::getenv("OMEGAHOST") == nullptr)
        InitEnv(argc, argv);
}

// The alpha host into its buffer; false (reported) when the name does not fit, since a cut name
// would reach another host.
bool CopyAlphaHost(char (&alphaHost)[36])
{
    const char *host = GetAlphaHost();
    if (std::strlen(host) > sizeof alphaHost - 1) {
        GD_TRACE(TRACE_ERROR, LINE_NONE, "alpha host name too long: %s\n", host);
        return false;
    }
    BoundedCopy(alphaHost, host, sizeof alphaHost - 1);
    return true;
}

// The start-up's alpha and omega clients, which the client API uses. When start-up fails they
// are taken back from the client API and destroyed; once it succeeded, Keep leaves them open
// until the program ends.
class ServerClients {
public:
    ServerClients() = default;
    ~ServerClients()
    {
        if (kept_)
            return;
        TelaSetServerClients(nullptr, nullptr);
        DestroyClient(omega);
        DestroyClient(alpha);
    }
    ServerClients(const ServerClients &) = delete;
    ServerClients &operator=(const ServerClients &) = delete;

    void Keep() { kept_ = true; }

    CLIENT *alpha = nullptr;
    CLIENT *omega = nullptr;

private:
    bool kept_ = false;
};

// The alpha client and alpha's compatibility level; false (reported, an empty line after the
// RPC text) when either cannot be had.
bool ConnectAlpha(const char *alphaHost, ServerClients *clients, long *level)
{
    clients->alpha = CreateAlphaClient(alphaHost);
    if (!clients->alpha) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, CreateErrorText(alphaHost), true);
        return false;
    }
    tela::XdrResult compat(a_get_compat_1(nullptr, clients->alpha), xdr_compat_rec);
    if (!compat) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, ClientErrorText(clients->alpha, "a_get_compat"), true);
        return false;
    }
    *level = compat->level;
    return true;
}

// Below the level at which alpha names the groups, the omega client; its line about the old
// level comes from the resolver with -v, so it is printed once either way. false (reported) when
// omega cannot be reached. The client API gets both clients.
bool ConnectOmega(long level, int verbosity, ServerClients *clients)
{
    if (level < COMPAT_ALPHA_ONLY) {
        if (verbosity < 2) {
            GD_TRACE(TRACE_ALWAYS, LINE_NONE, "old alpha compat=%d\n", static_cast<int>(level));
        }
        const char *omegaHost = GetOmegaHost();
        clients->omega = CreateOmegaClient(omegaHost);
        if (!clients->omega) {
            TraceRpcText(TRACE_ERROR, LINE_NONE, CreateErrorText(omegaHost), true);
            return false;
        }
    }
    TelaSetServerClients(clients->alpha, clients->omega);
    return true;
}

// The resolver for the alpha host with an empty default line id, started (it makes its own
// clients and asks alpha's level once more) and handed to the harness; nullptr (reported) when
// ResolverInit fails.
std::unique_ptr<Resolver> StartResolver()
{
    const char defaultLineId[11] = "";
    auto resolver = std::make_unique<Resolver>(GetAlphaHost(), defaultLineId);
    GdResult rc = resolver->ResolverInit();
    if (rc != 0) {
        GD_TRACE(TRACE_ERROR, LINE_NONE, "ResolverInit Error 0x%x\n", rc);
        return nullptr;
    }
    SetHarnessResolver(resolver.get());
    return resolver;
}

// Every extension after the options, each cut to 35 characters.
void ResolveArguments(int argc, char **argv)
{
    char extension[36];
    for (int i = tela::OptInd; i < argc; ++i) {
        BoundedCopy(extension, argv[i], sizeof extension - 1);
        GD_TRACE(TRACE_ALWAYS, LINE_NONE, "resolving %s\n", extension);
        ResolveAndPrint(extension);
    }
}

// Continuous mode: extensions typed at the prompt, read in pieces of at most 35 characters,
// until "000" or the end of the input.
void ResolveTyped()
{
    char extension[36];
    for (;;) {
        std::printf("next extension (stop with 000): ");
        if (!std::fgets(extension, sizeof extension, stdin))
            break;
        extension[std::strcspn(extension, "\n")] = '\0';
        if (std::strcmp(extension, "000") == 0)
            break;
        ResolveAndPrint(extension);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    SetUpOutputCharset();  // UTF-8 output in a UTF-8 locale, else the bytes as they are
    const Options options = ParseOptions(argc, argv);
    LoadEnvironment(&argc, argv);
    rpc_runtime_init();

    char alphaHost[36];
    if (!CopyAlphaHost(alphaHost))
        return 1;
    // A start-up failure releases what was made so far, the resolver first.
    ServerClients clients;
    long level = 0;
    if (!ConnectAlpha(alphaHost, &clients, &level) || !ConnectOmega(level, options.verbosity, &clients))
        return 1;
    std::unique_ptr<Resolver> resolver = StartResolver();
    if (!resolver)
        return 1;
    std::printf("ok.\n");

    ResolveArguments(argc, argv);
    if (options.continuous)
        ResolveTyped();
    rpc_runtime_cleanup();
    // The clients and the resolver (with its directory connections; the harness holds it) stay
    // until the program ends: nothing is closed or unbound before it.
    clients.Keep();
    resolver.release();
    return 0;
}
