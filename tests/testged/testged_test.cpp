// The harness's bridge of the driver interface without a resolver set.
#include <gtest/gtest.h>

#include <cstring>

#include "harness/testged.h"

namespace {

TEST(HarnessBridge, WithoutResolverTheRecordIsClearedAndTheCallFails)
{
    LineIDInfo info;
    std::memset(&info, 0x55, sizeof info);
    EXPECT_EQ(GetLineIDInfo("4711", &info), GDERR_FAILED);
    LineIDInfo cleared;
    std::memset(&cleared, 0, sizeof cleared);
    EXPECT_EQ(std::memcmp(&info, &cleared, sizeof info), 0);
    EXPECT_STREQ(HarnessLanguage(), "");
}

}  // namespace
