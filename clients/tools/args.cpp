// Common LDAP tool options into tool_settings.
#include "tools/args.h"

#include "lutil/lutil.h"

#include <strings.h>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char tool_common_options[] = "cCd:D:e:f:h:H:IMnNo:O:p:P:QR:U:vVw:WxX:y:Y:Z";
const char tool_version[] = "2.4.45";

namespace {

const char *ProgramName()
{
    return tool_settings.prog_name ? tool_settings.prog_name : program_invocation_short_name;
}

[[noreturn]] void Fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Fatal(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::exit(1);
}

[[noreturn]] void Usage(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Usage(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    if (tool_option_hooks.usage)
        tool_option_hooks.usage();
    std::exit(1);
}

char *Copy(const char *text)
{
    char *copy = ber_strdup(text);
    if (!copy)
        Fatal("%s: no memory?\n", ProgramName());
    return copy;
}

// A decimal number using every character of the text and within the range of an int; values
// beyond it would wrap when stored.
bool ParseInt(const char *text, int *value)
{
    char *end = nullptr;
    errno = 0;
    long n = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        return false;
    *value = static_cast<int>(n);
    return true;
}

int ChainingBehaviour(const char *text)
{
    static const char *const names[] = {"chainingPreferred", "chainingRequired", "referralsPreferred",
                                        "referralsRequired"};
    for (int i = 0; i < 4; i++)
        if (strcasecmp(text, names[i]) == 0)
            return i;
    return -1;
}

// Adds a request control given by object identifier; takes over `oid`.
void AddExtraControl(char *oid, const char *value, bool critical)
{
    ToolSettings &s = tool_settings;
    struct berval decoded = {0, nullptr};
    if (value) {
        size_t room = 3 * (std::strlen(value) / 4);
        decoded.bv_val = static_cast<char *>(ber_memalloc(room + 1));
        if (!decoded.bv_val)
            Fatal("%s: no memory?\n", ProgramName());
        int n = base64_decode(value, reinterpret_cast<unsigned char *>(decoded.bv_val), room);
        if (n < 0 || static_cast<size_t>(n) > room) {
            ber_memfree(decoded.bv_val);
            Usage("Unable to parse value of general control %s\n", oid);
        }
        decoded.bv_len = static_cast<ber_len_t>(n);
    }
    auto *grown = static_cast<LDAPControl *>(
        ber_memrealloc(s.extra_controls, (s.extra_control_count + 1) * sizeof(LDAPControl)));
    if (!grown)
        Fatal("%s: no memory?\n", ProgramName());
    s.extra_controls = grown;
    LDAPControl &c = s.extra_controls[s.extra_control_count++];
    c.ldctl_oid = oid;
    c.ldctl_value = decoded;
    c.ldctl_iscritical = critical ? 1 : 0;
}

// One -e argument.
void ParseExtension(const char *argument)
{
    ToolSettings &s = tool_settings;
    bool critical = false;
    if (*argument == '!') {
        critical = true;
        argument++;
    }
    char *control = Copy(argument);
    char *value = std::strchr(control, '=');
    if (value)
        *value++ = '\0';

    if (strcasecmp(control, "assert") == 0) {
        if (s.assert_level)
            Fatal("assert control previously specified\n");
        if (!value || !*value)
            Usage("assert: control value expected\n");
        s.assert_level = critical ? 2 : 1;
        s.assertion = Copy(value);
    } else if (strcasecmp(control, "authzid") == 0) {
        if (s.authzid)
            Fatal("authzid control previously specified\n");
        if (s.proxydn)
            Fatal("authzid control incompatible with proxydn\n");
        // Only a missing "=" means no value; "authzid=" gives an empty one.
        if (!value)
            Usage("authzid: control value expected\n");
        if (!critical)
            Usage("authzid: must be marked critical\n");
        s.authzid = Copy(value);
    } else if (strcasecmp(control, "proxydn") == 0) {
        if (s.proxydn)
            Fatal("proxydn control previously specified\n");
        if (s.authzid)
            Fatal("proxydn control incompatible with authzid\n");
        if (!value)
            Usage("proxydn: control value expected\n");
        if (!critical)
            Usage("proxydn: must be marked critical\n");
        s.proxydn = Copy(value);
    } else if (strcasecmp(control, "relax") == 0 || strcasecmp(control, "manageDIT") == 0) {
        if (s.relax)
            Fatal("relax control previously specified\n");
        if (value)
            Usage("relax: no control value expected\n");
        s.relax = critical ? 2 : 1;
    } else if (strcasecmp(control, "manageDSAit") == 0) {
        if (s.manageDSAit)
            Fatal("manageDSAit control previously specified\n");
        if (value)
            Usage("manageDSAit: no control value expected\n");
        s.manageDSAit = critical ? 2 : 1;
    } else if (strcasecmp(control, "noop") == 0) {
        if (s.noop)
            Fatal("noop control previously specified\n");
        if (value)
            Usage("noop: no control value expected\n");
        s.noop = critical ? 2 : 1;
    } else if (strcasecmp(control, "ppolicy") == 0) {
        if (s.ppolicy)
            Fatal("ppolicy control previously specified\n");
        if (value)
            Usage("ppolicy: no control value expected\n");
        if (critical)
            Usage("ppolicy: critical flag not allowed\n");
        s.ppolicy = 1;
    } else if (strcasecmp(control, "preread") == 0) {
        if (s.preread)
            Fatal("preread control previously specified\n");
        s.preread = critical ? 2 : 1;
        s.preread_attrs = value ? Copy(value) : nullptr;
    } else if (strcasecmp(control, "postread") == 0) {
        if (s.postread)
            Fatal("postread control previously specified\n");
        s.postread = critical ? 2 : 1;
        s.postread_attrs = value ? Copy(value) : nullptr;
    } else if (strcasecmp(control, "chaining") == 0) {
        s.chaining = critical ? 2 : 1;
        if (value) {
            char *continuation = std::strchr(value, '/');
            if (continuation) {
                *continuation++ = '\0';
                s.chaining_continuation = ChainingBehaviour(continuation);
                if (s.chaining_continuation == -1)
                    Fatal("chaining behavior control continuation value \"%s\" invalid\n", continuation);
            }
            s.chaining_resolve = ChainingBehaviour(value);
            if (s.chaining_resolve == -1)
                Fatal("chaining behavior control resolve value \"%s\" invalid\n", value);
        }
    } else if (strcasecmp(control, "sessiontracking") == 0) {
        if (s.sessiontracking)
            Fatal("%s: session tracking can be only specified once\n", ProgramName());
        s.sessiontracking = 1;
        if (critical)
            Usage("sessiontracking: critical flag not allowed\n");
    } else if (strcasecmp(control, "abandon") == 0 || strcasecmp(control, "cancel") == 0 ||
               strcasecmp(control, "ignore") == 0) {
        int action = strcasecmp(control, "abandon") == 0 ? 1 : strcasecmp(control, "cancel") == 0 ? 2 : 3;
        s.interrupt_action = action;
        if (critical)
            s.interrupt_pending = action;
    } else if (tool_is_dotted_oid(control)) {
        AddExtraControl(control, value, critical);
        return;  // the control keeps the text
    } else {
        Usage("Invalid general control name: %s\n", control);
    }
    ber_memfree(control);
}

// One -o argument.
void ParseGeneralOption(const char *argument)
{
    ToolSettings &s = tool_settings;
    char *option = Copy(argument);
    char *value = std::strchr(option, '=');
    if (value)
        *value++ = '\0';

    if (strcasecmp(option, "nettimeout") == 0) {
        if (s.nettimeout.tv_sec != -1)
            Fatal("nettimeout option previously specified\n");
        if (!value || !*value)
            Usage("nettimeout: option value expected\n");
        if (strcasecmp(value, "none") == 0) {
            s.nettimeout.tv_sec = 0;
        } else if (strcasecmp(value, "max") == 0) {
            s.nettimeout.tv_sec = INT_MAX;
        } else {
            char *end = nullptr;
            errno = 0;
            long seconds = std::strtol(value, &end, 10);
            if (*end != '\0')
                Fatal("Unable to parse network timeout \"%s\"\n", value);
            if (seconds < 0)
                Fatal("%s: invalid network timeout (%ld) specified\n", ProgramName(), seconds);
            // The time-out is a 32-bit count of seconds: larger values are the maximum.
            s.nettimeout.tv_sec = seconds > INT_MAX ? INT_MAX : seconds;
        }
    } else if (strcasecmp(option, "ldif-wrap") == 0) {
        if (!value) {
            s.ldif_wrap = 76;
        } else if (strcasecmp(value, "no") == 0) {
            s.ldif_wrap = UINT_MAX;
        } else {
            unsigned long width = 0;
            if (parse_unsigned(&width, value, 10) != 0 || width > UINT_MAX)
                Fatal("Unable to parse ldif-wrap=\"%s\"\n", value);
            s.ldif_wrap = static_cast<unsigned int>(width);
        }
    } else {
        Usage("Invalid general option name: %s\n", option);
    }
    ber_memfree(option);
}

void CheckLibraryVersion()
{
    ToolSettings &s = tool_settings;
    LDAPAPIInfo info;
    std::memset(&info, 0, sizeof info);
    info.ldapai_info_version = LDAP_API_INFO_VERSION;
    if (ldap_get_option(nullptr, LDAP_OPT_API_INFO, &info) != LDAP_OPT_SUCCESS)
        Fatal("%s: ldap_get_option(API_INFO) failed\n", ProgramName());
    if (info.ldapai_info_version != LDAP_API_INFO_VERSION)
        Fatal("LDAP APIInfo version mismatch: library %d, header %d\n", info.ldapai_info_version,
              LDAP_API_INFO_VERSION);
    if (info.ldapai_api_version != LDAP_API_VERSION)
        Fatal("LDAP API version mismatch: library %d, header %d\n", info.ldapai_api_version,
              LDAP_API_VERSION);
    if (!info.ldapai_vendor_name || std::strcmp(info.ldapai_vendor_name, LDAP_VENDOR_NAME) != 0)
        Fatal("LDAP vendor name mismatch: library %s, header %s\n",
              info.ldapai_vendor_name ? info.ldapai_vendor_name : "", LDAP_VENDOR_NAME);
    if (info.ldapai_vendor_version != LDAP_VENDOR_VERSION)
        Fatal("LDAP vendor version mismatch: library %d, header %d\n", info.ldapai_vendor_version,
              LDAP_VENDOR_VERSION);
    if (s.version_count) {
        std::fprintf(stderr, "%s: %s\t(LDAP library: %s %d)\n", ProgramName(), tool_version,
                     info.ldapai_vendor_name, info.ldapai_vendor_version);
        if (s.version_count > 1)
            std::exit(0);
    }
    ldap_memfree(info.ldapai_vendor_name);
    ber_memvfree(reinterpret_cast<void **>(info.ldapai_extensions));
}

}  // namespace

void tool_parse_args(int argc, char **argv)
{
    ToolSettings &s = tool_settings;
    const char *own = tool_option_hooks.options ? tool_option_hooks.options : "";
    std::string letters = std::string(tool_common_options) + own;
    int letter;
    while ((letter = scan_option(argc, argv, letters.c_str())) != -1) {
        const char *arg = scan_argument;
        switch (letter) {
        case 'c':
            s.c_count++;
            break;
        case 'C':
            s.chase_referrals++;
            break;
        case 'd': {
            int level = 0;
            if (!ParseInt(arg, &level))
                Fatal("%s: unable to parse debug value \"%s\"\n", ProgramName(), arg);
            s.debug_level |= level;
            break;
        }
        case 'D':
            if (s.bind_dn)
                Fatal("%s: -D previously specified\n", ProgramName());
            s.bind_dn = Copy(arg);
            break;
        case 'e':
            ParseExtension(arg);
            break;
        case 'f':
            if (s.f_argument)
                Fatal("%s: -f previously specified\n", ProgramName());
            s.f_argument = Copy(arg);
            break;
        case 'h':
            if (s.ldap_host)
                Fatal("%s: -h previously specified\n", ProgramName());
            s.ldap_host = Copy(arg);
            break;
        case 'H':
            if (s.uri_list)
                Fatal("%s: -H previously specified\n", ProgramName());
            s.uri_list = Copy(arg);
            break;
        case 'I':
            Fatal("%s: was not compiled with SASL support\n", ProgramName());
        case 'M':
            s.manageDSAit++;
            break;
        case 'n':
            s.dry_run++;
            break;
        case 'N':
            s.no_reverse_dns++;
            break;
        case 'o':
            ParseGeneralOption(arg);
            break;
        case 'O':
        case 'Q':
        case 'R':
        case 'U':
        case 'X':
        case 'Y':
            Fatal("%s: not compiled with SASL support\n", ProgramName());
        case 'p': {
            if (s.ldap_port)
                Fatal("%s: -p previously specified\n", ProgramName());
            int port = 0;
            if (!ParseInt(arg, &port))
                Fatal("%s: unable to parse port number \"%s\"\n", ProgramName(), arg);
            s.ldap_port = port;
            break;
        }
        case 'P': {
            int version = 0;
            if (!ParseInt(arg, &version))
                Fatal("%s: unable to parse protocol version \"%s\"\n", ProgramName(), arg);
            if (version == 2) {
                if (s.protocol_version == 3)
                    Fatal("%s: -P 2 incompatible with version %d\n", ProgramName(), s.protocol_version);
            } else if (version == 3) {
                if (s.protocol_version == 2)
                    Fatal("%s: -P 3 incompatible with version %d\n", ProgramName(), s.protocol_version);
            } else {
                Usage("%s: protocol version should be 2 or 3\n", ProgramName());
            }
            s.protocol_version = version;
            break;
        }
        case 'v':
            s.verbose++;
            break;
        case 'V':
            s.version_count++;
            break;
        case 'w':
            if (!tool_set_password(arg))
                Fatal("%s: no memory?\n", ProgramName());
            // Keep the password out of the process listing.
            for (char *p = scan_argument; p && *p; p++)
                *p = '\0';
            break;
        case 'W':
            s.prompt_for_password++;
            break;
        case 'x':
            if (s.auth_method != -1 && s.auth_method != LDAP_AUTH_SIMPLE)
                Fatal("%s: incompatible with previous authentication choice\n", ProgramName());
            s.auth_method = LDAP_AUTH_SIMPLE;
            break;
        case 'y':
            s.password_file = arg;
            break;
        case 'Z':
            s.start_tls_level++;
            break;
        default:
            if (!tool_option_hooks.option || tool_option_hooks.option(letter) == 0)
                Usage("%s: unrecognized option -%c\n", ProgramName(), scan_letter);
            break;
        }
    }

    CheckLibraryVersion();

    if (s.protocol_version == -1)
        s.protocol_version = 3;
    if (s.auth_method == -1 && s.protocol_version > 2)
        s.auth_method = LDAP_AUTH_SIMPLE;

    if (!s.uri_list) {
        if (s.ldap_port && !s.ldap_host)
            Fatal("%s: -p without -h is invalid.\n", ProgramName());
    } else {
        if (s.ldap_host)
            Fatal("%s: -H incompatible with -h\n", ProgramName());
        if (s.ldap_port)
            Fatal("%s: -H incompatible with -p\n", ProgramName());
    }

    if (s.protocol_version == 2) {
        if (s.assert_level || s.authzid || s.relax || s.manageDSAit || s.proxydn || s.chaining ||
            s.sessiontracking || s.noop || s.ppolicy || s.preread || s.postread)
            Fatal("%s: -e/-M incompatible with LDAPv2\n", ProgramName());
        if (s.start_tls_level)
            Fatal("%s: -Z incompatible with LDAPv2\n", ProgramName());
    }

    if ((s.password_file || s.prompt_for_password) && s.passwd.bv_val && s.passwd.bv_len)
        Fatal("%s: -%c incompatible with -w\n", ProgramName(), s.password_file ? 'y' : 'W');
}

void tool_print_common_options()
{
    static const char *const help[] = {
        "  -d level   set LDAP debugging level to `level'\n",
        "  -D binddn  bind DN\n",
        "  -e [!]<ext>[=<extparam>] general extensions (! indicates criticality)\n"
        "             [!]assert=<filter>     (RFC 4528; a RFC 4515 Filter string)\n"
        "             [!]authzid=<authzid>   (RFC 4370; \"dn:<dn>\" or \"u:<user>\")\n"
        "             [!]chaining[=<resolveBehavior>[/<continuationBehavior>]]\n"
        "                     one of \"chainingPreferred\", \"chainingRequired\",\n"
        "                     \"referralsPreferred\", \"referralsRequired\"\n"
        "             [!]manageDSAit         (RFC 3296)\n"
        "             [!]noop\n"
        "             ppolicy\n"
        "             [!]postread[=<attrs>]  (RFC 4527; comma-separated attr list)\n"
        "             [!]preread[=<attrs>]   (RFC 4527; comma-separated attr list)\n"
        "             [!]relax\n"
        "             [!]sessiontracking\n"
        "             abandon, cancel, ignore (SIGINT sends abandon/cancel,\n"
        "             or ignores response; if critical, doesn't wait for SIGINT.\n"
        "             not really controls)\n",
        "  -h host    LDAP server\n",
        "  -H URI     LDAP Uniform Resource Identifier(s)\n",
        "  -I         use SASL Interactive mode\n",
        "  -n         show what would be done but don't actually do it\n",
        "  -N         do not use reverse DNS to canonicalize SASL host name\n",
        "  -O props   SASL security properties\n",
        "  -o <opt>[=<optparam>] general options\n",
        "             nettimeout=<timeout> (in seconds, or \"none\" or \"max\")\n",
        "             ldif-wrap=<width> (in columns, or \"no\" for no wrapping)\n",
        "  -p port    port on LDAP server\n",
        "  -Q         use SASL Quiet mode\n",
        "  -R realm   SASL realm\n",
        "  -U authcid SASL authentication identity\n",
        "  -v         run in verbose mode (diagnostics to standard output)\n",
        "  -V         print version info (-VV only)\n",
        "  -w passwd  bind password (for simple authentication)\n",
        "  -W         prompt for bind password\n",
        "  -x         Simple authentication\n",
        "  -X authzid SASL authorization identity (\"dn:<dn>\" or \"u:<user>\")\n",
        "  -y file    Read password from file\n",
        "  -Y mech    SASL mechanism\n",
        "  -Z         Start TLS request (-ZZ to require successful response)\n",
    };
    const char *own = tool_option_hooks.options ? tool_option_hooks.options : "";
    std::fputs("Common options:\n", stderr);
    for (const char *entry : help) {
        char letter = entry[3];
        if (letter == ' ' || (letter != ':' && std::strchr(own, letter)))
            std::fputs(entry, stderr);
    }
    tool_free_settings();
}
