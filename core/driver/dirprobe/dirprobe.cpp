// dirprobe: resolves telephone extensions the way the telephony driver does and prints what it
// found; with -c it goes on with extensions typed at a prompt.
#include <ldap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/client.h"
#include "drvtrace.h"
#include "os/cfenv.h"
#include "os/hostvars.h"
#include "os/unixcompat.h"
#include "resolveprint.h"
#include "resolver/resolver.h"
#include "rpcrt/rpcrt.h"
#include "tela.h"
#include "testged.h"
#include "xdr/alpha.h"
#include "xdr/xdrresult.h"

#define TRACE(level, ...) DriverTrace(__FILE__, __LINE__, level, LINE_NONE, __VA_ARGS__)

namespace {

[[noreturn]] void usage()
{
    std::fputs("usage: dirprobe [-v] [-d] [-c] <extension> [<extension> ....]\n", stderr);
    std::fputs("\t-c continuous mode\n", stderr);
    std::fputs("\t-d for ldap debug\n", stderr);
    std::fputs("\t-v verbose\n", stderr);
    std::exit(1);
}

// A start-up failure with one of the RPC library's error texts: the text ends in a line end
// (which libtirpc leaves out, unlike other ONC RPC libraries), then the message adds its own,
// which leaves an empty line after it.
void TraceStartupError(const char *text)
{
    size_t n = text ? std::strlen(text) : 0;
    TRACE(TRACE_ERROR, n > 0 && text[n - 1] == '\n' ? "%s\n" : "%s\n\n", text ? text : "");
}

void SetLdapDebugLevel(int level)
{
    ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
}

}  // namespace

int main(int argc, char **argv)
{
    int verbosity = 1;
    int continuous = 0;
    SetLdapDebugLevel(0);
    SetTraceVerbosity(verbosity);
    const char defaultLineId[11] = "";

    if (argc < 2) usage();
    int opt;
    while ((opt = tela::GetOpt(argc, argv, "?cdv")) != -1) {
        switch (opt) {
        case 'c':
            continuous = 1;
            break;
        case 'd':
            SetLdapDebugLevel(-1);
            break;
        case 'v':
            verbosity = 2;
            SetTraceVerbosity(verbosity);
            break;
        default:
            usage();
        }
    }
    if (tela::OptInd >= argc) TRACE(TRACE_ERROR, "no extension\n");

    if (std::getenv("OMEGAHOST") == nullptr) InitEnv(&argc, argv);
    rpc_runtime_init();

    char alphaHost[36];
    const char *host = GetAlphaHost();
    if (std::strlen(host) > 35) {
        // A cut name would reach another host.
        TRACE(TRACE_ERROR, "alpha host name too long: %s\n", host);
        return 1;
    }
    BoundedCopy(alphaHost, host, sizeof alphaHost - 1);
    CLIENT *alpha = nullptr;
    CLIENT *omega = nullptr;
    Resolver *resolver = nullptr;
    // A start-up failure ends the program; what was made so far is released first.
    auto fail = [&] {
        delete resolver;
        TelaSetServerClients(nullptr, nullptr);
        DestroyClient(omega);
        DestroyClient(alpha);
        return 1;
    };
    alpha = CreateAlphaClient(alphaHost);
    if (!alpha) {
        TraceStartupError(CreateErrorText(alphaHost));
        return fail();
    }
    long level = 0;
    {
        tela::XdrResult compat(a_get_compat_1(nullptr, alpha), xdr_compat_rec);
        if (!compat) {
            TraceStartupError(ClientErrorText(alpha, "a_get_compat"));
            return fail();
        }
        level = compat->level;
    }
    if (level < 16) {
        if (verbosity < 2) TRACE(TRACE_ALWAYS, "old alpha compat=%d\n", static_cast<int>(level));
        const char *omegaHost = GetOmegaHost();
        omega = CreateOmegaClient(omegaHost);
        if (!omega) {
            TraceStartupError(CreateErrorText(omegaHost));
            return fail();
        }
    }
    TelaSetServerClients(alpha, omega);

    // Lives until the program ends.
    resolver = new Resolver(GetAlphaHost(), defaultLineId);
    GdResult rc = resolver->ResolverInit();
    if (rc != 0) {
        TRACE(TRACE_ERROR, "ResolverInit Error 0x%x\n", rc);
        return fail();
    }
    SetHarnessResolver(resolver);
    std::printf("ok.\n");

    char extension[36];
    for (int i = tela::OptInd; i < argc; ++i) {
        BoundedCopy(extension, argv[i], sizeof extension - 1);
        TRACE(TRACE_ALWAYS, "resolving %s\n", extension);
        ResolveAndPrint(extension);
    }
    if (continuous) {
        for (;;) {
            std::printf("next extension (stop with 000): ");
            // The end of the input ends the loop like "000".
            if (!std::fgets(extension, sizeof extension, stdin)) break;
            extension[std::strcspn(extension, "\n")] = '\0';
            if (std::strcmp(extension, "000") == 0) break;
            ResolveAndPrint(extension);
        }
    }
    rpc_runtime_cleanup();
    return 0;
}
