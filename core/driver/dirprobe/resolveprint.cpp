// Printing one resolved extension, the password prompt and the IMAP login check.
#include "resolveprint.h"

#include <ldap.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "harness/testged.h"
#include "imapcheck.h"

namespace {

// The terminal mode before echo was switched off, restored by SetConsoleEcho(1), by the signal
// handlers and at exit.
struct termios savedMode;
volatile sig_atomic_t echoOff = 0;
struct sigaction oldInt, oldTerm;

void RestoreEcho()
{
    if (echoOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
        echoOff = 0;
    }
}

void OnSignal(int sig)
{
    RestoreEcho();
    // Let the signal do what it did before.
    sigaction(sig, sig == SIGINT ? &oldInt : &oldTerm, nullptr);
    raise(sig);
}

int LdapDebugLevel()
{
    int level = 0;
    ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
    return level;
}

}  // namespace

void SetConsoleEcho(int on)
{
    static bool atExitSet = false;
    struct termios mode;
    if (tcgetattr(STDIN_FILENO, &mode) != 0)
        return;  // not a terminal
    if (on) {
        if (!echoOff) {
            mode.c_lflag |= ECHO;
            tcsetattr(STDIN_FILENO, TCSANOW, &mode);
            return;
        }
        savedMode.c_lflag |= ECHO;
        RestoreEcho();
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
        return;
    }
    if (echoOff)
        return;
    savedMode = mode;
    if (!atExitSet) {
        std::atexit(RestoreEcho);
        atExitSet = true;
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
    // A signal the program ignores stays ignored: it must not turn the echo on mid-password.
    if (oldInt.sa_handler == SIG_IGN)
        sigaction(SIGINT, &oldInt, nullptr);
    if (oldTerm.sa_handler == SIG_IGN)
        sigaction(SIGTERM, &oldTerm, nullptr);
    mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
    echoOff = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &mode);
}

bool ReadSecretLine(std::FILE *in, char *buf, size_t size)
{
    size_t n = 0;
    bool any = false;
    int ch;
    while ((ch = std::getc(in)) != EOF) {
        any = true;
        if (ch == '\n')
            break;
        if (n + 1 < size)
            buf[n++] = static_cast<char>(ch);
    }
    if (n > 0 && buf[n - 1] == '\r')
        --n;
    buf[n] = '\0';
    return any;
}

void ResolveAndPrint(const char *extension)
{
    LineIDInfo info;
    std::memset(&info, 0, sizeof info);
    // Its failures print their own lines; the record is shown as far as it was filled.
    (void)GetExtensionData(extension, &info, 2);

    if (LdapDebugLevel() != 0)
        std::printf("\n\n");
    std::printf("globalLanguageByLDAP = %s\n", globalLanguageByLDAP ? "TRUE" : "FALSE");
    if (globalLanguageByLDAP)
        std::printf("lang=%s\n", HarnessLanguage());
    std::printf("\n");
    if (info.acceptAll)
        std::printf("AcceptAll\n");
    if (info.userFound) {
        std::printf("User ID = %s, name = %s\n", info.user.userId, info.user.name);
        if (info.imapUserName[0])
            std::printf("IMAP User %s\n", info.imapUserName);
    }
    if (info.isGroup)
        std::printf("Group ID = %s, name = %s\n", info.groupId, info.groupName);
    if (info.tsi[0])
        std::printf("TSI = %s\n", info.tsi);
    std::printf("\n");
    if (!info.userFound)
        return;

    const char *kind = info.imapUser ? "ldap" : "native";
    if (info.hasGreeting)
        std::printf("%s user has greeting\n", kind);
    if (info.hasGoodbye)
        std::printf("%s user has goodbye\n", kind);
    if (info.hasVideoGreeting)
        std::printf("%s user has video greeting\n", kind);
    if (info.hasVideoGoodbye)
        std::printf("%s user has video goodbye\n", kind);
    if (!info.imapUser)
        return;

    std::printf("IMAP Host\t= %s\n", info.imapHost);
    std::printf("IMAP User\t= %s\n", info.imapUserName);
    std::printf("IMAP SendFolder\t= %s\n", info.imapSendFolder);
    std::printf("IMAP DeleteItemsFolder\t= %s\n", info.imapDeletedFolder);
    std::printf("SMTP Host\t= %s\n", info.smtpHost);
    std::printf("SMTP Domain\t= %s\n", info.smtpDomain);

    if (info.imapUserName[0]) {
        char password[128];
        SetConsoleEcho(0);
        std::printf("enter password for user %s: ", info.imapUserName);
        std::fflush(stdout);
        bool got = ReadSecretLine(stdin, password, sizeof password);
        SetConsoleEcho(1);
        std::printf("checking IMAP login ... \n");
        std::fflush(stdout);
        // No password at all (end of input): no login attempt.
        if (got && CheckImapLogin(info.imapHost, info.imapUserName, password)) {
            std::printf("ok.\n");
            std::printf("The LDAP/IMAP4 configuration seems to be OK.\n");
        } else {
            std::printf("failed!\n");
        }
        explicit_bzero(password, sizeof password);
    }
    std::printf("\n\n");
}
