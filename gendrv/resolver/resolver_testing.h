// Seam of the resolver for its tests: the internal steps that a test drives on its own, without
// a whole GetLineIDInfo around them. Included by the resolver's tests only.
#pragma once

#include "resolver/resolver.h"

struct ResolverTesting {
    static int ReconnectClient(Resolver &resolver, CLIENT *client)
    {
        return resolver.ReconnectClient(client);
    }
    static GdResult GetLDAPQuery(Resolver &resolver, UserInfo user, int namesWanted, LineNo lineNo,
                                 UserConfig *config, bool *readFailed = nullptr)
    {
        return resolver.GetLDAPQuery(user, namesWanted, lineNo, config, readFailed);
    }
};
