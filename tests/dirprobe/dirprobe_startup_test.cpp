// Without a sanitizer dirprobe carries its C++ runtime: the dynamic linker loads no libstdc++ and
// no libgcc_s for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dirprobe_env.h"

namespace {

#if TELA_STATIC_RUNTIME
TEST(DirprobeStart, CarriesItsCxxRuntime)
{
    std::vector<std::string> loaded;
    std::string error;
    ASSERT_TRUE(testsupport::LoadedLibraries(dirprobe_test::DirprobePath(), &loaded, &error)) << error;
    ASSERT_FALSE(loaded.empty());
    for (const std::string &name : loaded) {
        EXPECT_NE(name.rfind("libstdc++", 0), 0u) << name;
        EXPECT_NE(name.rfind("libgcc_s", 0), 0u) << name;
    }
}
#else
TEST(DirprobeStart, CarriesItsCxxRuntime)
{
    GTEST_SKIP() << "a sanitizer build links the shared C++ runtime";
}
#endif

}  // namespace
