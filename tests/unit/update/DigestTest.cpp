#include "update/Digest.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TestEnv.h"
#include "support/TestUtil.h"

using namespace veltrano;

TEST(FileMd5, StreamsLargeFilesAndGivesEmptyForNothing) {
    veltrano::test::TestEnv env;
    std::string big;
    for (int i = 0; i < 300000; ++i) big += static_cast<char>((i * 31) ^ (i >> 7));
    ASSERT_TRUE(env.writeFile("big.bin", big));
    EXPECT_EQ(fileMd5(env.path("big.bin")), veltrano::test::md5Of(big));
    ASSERT_TRUE(env.writeFile("abc", "abc"));
    EXPECT_EQ(fileMd5(env.path("abc")), "900150983cd24fb0d6963f7d28e17f72");
    ASSERT_TRUE(env.writeFile("empty", ""));
    EXPECT_EQ(fileMd5(env.path("empty")), "");
    EXPECT_EQ(fileMd5(env.path("missing")), "");
    EXPECT_EQ(fileMd5(env.path("")), "");  // a folder
}
