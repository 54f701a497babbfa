// Printing one resolved extension, the password prompt and the IMAP login check.
#include "resolveprint.h"

#include <ldap.h>
#include <string.h>

#include <cstdio>
#include <cstring>

#include "harness/testged.h"
#include "imapcheck.h"
#include "secretinput.h"

namespace {

int LdapDebugLevel()
{
    int level = 0;
    ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
    return level;
}

}  // namespace

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
