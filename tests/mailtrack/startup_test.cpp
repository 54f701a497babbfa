// What the dynamic linker loads when mailtrack starts: a CGI program is started for every
// request, so the LDAP library (and the TLS, SASL and Kerberos libraries it pulls in) must not be
// among its dependencies, and without a sanitizer the C++ runtime is linked in.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "testsupport.h"

namespace {

// Shared objects that only the LDAP library brings.
const char *const kDirectoryLibraries[] = {"libldap",    "liblber",    "libgnutls", "libsasl2", "libnettle",
                                           "libhogweed", "libp11-kit", "libgmp",    "libtasn1", "libidn2"};

std::vector<std::string> Matching(const std::vector<std::string> &names, const char *const *prefixes,
                                  size_t count)
{
    std::vector<std::string> found;
    for (const std::string &name : names)
        for (size_t i = 0; i < count; ++i)
            if (name.compare(0, strlen(prefixes[i]), prefixes[i]) == 0)
                found.push_back(name);
    return found;
}

std::string Joined(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &n : names)
        text += (text.empty() ? "" : " ") + n;
    return text;
}

TEST(MailtrackStart, LoadsNoDirectoryLibrary)
{
    std::vector<std::string> needed, loaded;
    std::string error;
    ASSERT_TRUE(testsupport::NeededLibraries(MAILTRACK_BIN, &needed, &error)) << error;
    ASSERT_TRUE(testsupport::LoadedLibraries(MAILTRACK_BIN, &loaded, &error)) << error;
    ASSERT_FALSE(loaded.empty());
    EXPECT_EQ(Joined(Matching(needed, kDirectoryLibraries, std::size(kDirectoryLibraries))), "")
        << "named by mailtrack: " << Joined(needed);
    EXPECT_EQ(Joined(Matching(loaded, kDirectoryLibraries, std::size(kDirectoryLibraries))), "")
        << "loaded at start: " << Joined(loaded);
}

#if TELA_STATIC_RUNTIME
TEST(MailtrackStart, CarriesItsCxxRuntime)
{
    const char *const runtime[] = {"libstdc++", "libgcc_s"};
    std::vector<std::string> loaded;
    std::string error;
    ASSERT_TRUE(testsupport::LoadedLibraries(MAILTRACK_BIN, &loaded, &error)) << error;
    EXPECT_EQ(Joined(Matching(loaded, runtime, std::size(runtime))), "")
        << "loaded at start: " << Joined(loaded);
}
#endif

}  // namespace
