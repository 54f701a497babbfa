// dirprobe: resolves telephone extensions the way the telephony driver does and prints what it
// found; with -c it goes on with extensions typed at a prompt.
#include <ldap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

int main(int argc, char **argv)
{
    SetUpOutputCharset();  // UTF-8 output in a UTF-8 locale, else the bytes as they are
    int verbosity = 1;
    int continuous = 0;
    SetLdapDebugLevel(0);
    SetTraceVerbosity(verbosity);
    const char defaultLineId[11] = "";

    if (argc < 2)
        usage();
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
    if (tela::OptInd >= argc)
        GD_TRACE(TRACE_ERROR, LINE_NONE, "no extension\n");

    if (std::getenv("OMEGAHOST") == nullptr)
        InitEnv(&argc, argv);
    rpc_runtime_init();

    char alphaHost[36];
    const char *host = GetAlphaHost();
    if (std::strlen(host) > 35) {
        // A cut name would reach another host.
        GD_TRACE(TRACE_ERROR, LINE_NONE, "alpha host name too long: %s\n", host);
        return 1;
    }
    BoundedCopy(alphaHost, host, sizeof alphaHost - 1);
    CLIENT *alpha = nullptr;
    CLIENT *omega = nullptr;
    Resolver *resolver = nullptr;
    // A start-up failure ends the program; what was made so far is released first. Its RPC text
    // is followed by an empty line.
    auto fail = [&] {
        delete resolver;
        TelaSetServerClients(nullptr, nullptr);
        DestroyClient(omega);
        DestroyClient(alpha);
        return 1;
    };
    alpha = CreateAlphaClient(alphaHost);
    if (!alpha) {
        TraceRpcText(TRACE_ERROR, LINE_NONE, CreateErrorText(alphaHost), true);
        return fail();
    }
    long level = 0;
    {
        tela::XdrResult compat(a_get_compat_1(nullptr, alpha), xdr_compat_rec);
        if (!compat) {
            TraceRpcText(TRACE_ERROR, LINE_NONE, ClientErrorText(alpha, "a_get_compat"), true);
            return fail();
        }
        level = compat->level;
    }
    if (level < 16) {
        if (verbosity < 2) {
            GD_TRACE(TRACE_ALWAYS, LINE_NONE, "old alpha compat=%d\n", static_cast<int>(level));
        }
        const char *omegaHost = GetOmegaHost();
        omega = CreateOmegaClient(omegaHost);
        if (!omega) {
            TraceRpcText(TRACE_ERROR, LINE_NONE, CreateErrorText(omegaHost), true);
            return fail();
        }
    }
    TelaSetServerClients(alpha, omega);

    // Lives until the program ends.
    resolver = new Resolver(GetAlphaHost(), defaultLineId);
    GdResult rc = resolver->ResolverInit();
    if (rc != 0) {
        GD_TRACE(TRACE_ERROR, LINE_NONE, "ResolverInit Error 0x%x\n", rc);
        return fail();
    }
    SetHarnessResolver(resolver);
    std::printf("ok.\n");

    char extension[36];
    for (int i = tela::OptInd; i < argc; ++i) {
        BoundedCopy(extension, argv[i], sizeof extension - 1);
        GD_TRACE(TRACE_ALWAYS, LINE_NONE, "resolving %s\n", extension);
        ResolveAndPrint(extension);
    }
    if (continuous) {
        for (;;) {
            std::printf("next extension (stop with 000): ");
            // The end of the input ends the loop like "000".
            if (!std::fgets(extension, sizeof extension, stdin))
                break;
            extension[std::strcspn(extension, "\n")] = '\0';
            if (std::strcmp(extension, "000") == 0)
                break;
            ResolveAndPrint(extension);
        }
    }
    rpc_runtime_cleanup();
    return 0;
}
