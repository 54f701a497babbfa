// The harness's driver-interface bridge and its view of one extension.
#include "harness/testged.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apicln/tela.h"
#include "resolver/resolver.h"

int globalLanguageByLDAP = 0;

namespace {
Resolver *theResolver = nullptr;
char language[128] = "";
}  // namespace

void SetHarnessResolver(Resolver *resolver)
{
    theResolver = resolver;
}

const char *HarnessLanguage()
{
    return language;
}

GdResult GetLineIDInfo(const char *extension, LineIDInfo *info)
{
    GdResult rc = 0;  // the scope always reports ok; the resolver's result is returned as it is
    TraceScope scope("GetLineIDInfo", LINE_NONE, &rc);
    if (!theResolver) {
        std::memset(info, 0, sizeof *info);
        return GDERR_FAILED;
    }
    return theResolver->GetLineIDInfo(extension, 1, LINE_NONE, info);
}

GdResult LocalGetExtensionData(const char *extension, int namesWanted, LineIDInfo *info)
{
    return TelaGetExtensionData(extension, namesWanted, info);
}

GdResult LocalGetUserProperty2(const UserInfo *user, const char *name, char *value)
{
    return TelaGetUserProperty2(user, name, value);
}

GdResult GetExtensionData(const char *extension, LineIDInfo *info, int flag)
{
    globalLanguageByLDAP = 0;
    std::printf("GetExtensionData %s flag %d\n", extension, flag);
    GdResult rc = LocalGetExtensionData(extension, flag == 2 ? 1 : 0, info);
    if (rc != 0) {
        std::printf("LocalGetExtensionData failed\n");
        return rc;
    }
    if (!info->userFound) {
        std::printf("User not found\n");
        if (info->user.userId[0] == '\0')
            return 0;
    }
    if (info->languageByLdap) {
        std::printf("Check Language by LDAP\n");
        globalLanguageByLDAP = 1;
        std::snprintf(language, sizeof language, "%s", info->language);
    }
    if (flag == 2) {
        if (!info->imapUser)
            std::printf("No IMAP\n");
        char record[128] = "";
        char silence[128] = "";
        // A value that cannot be read counts as empty.
        if (LocalGetUserProperty2(&info->user, "GD_VRREC", record) != 0)
            record[0] = '\0';
        if (LocalGetUserProperty2(&info->user, "GD_VRSIL", silence) != 0)
            silence[0] = '\0';
        int recordTimeout = std::atoi(record);
        if (recordTimeout > 0)
            std::printf("SetRecordTimeout %d\n", recordTimeout);
        int silenceTimeout = std::atoi(silence);
        if (silenceTimeout > 0)
            std::printf("SetSilenceTimeout %d\n", silenceTimeout);
    }
    if (info->acceptAll)
        std::printf("AcceptAll\n");
    return rc;
}
