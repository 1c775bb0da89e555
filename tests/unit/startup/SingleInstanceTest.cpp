#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "support/TestEnv.h"

extern char** environ;

using veltrano::SingleInstance;
using veltrano::test::TestEnv;

TEST(SingleInstance, LockLivesInTheRuntimeFolderElseInTmpPerUser) {
    TestEnv env;
    EXPECT_EQ(SingleInstance::lockPath(), env.root() + "/runtime/QRVN_FLASH_Mutex");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::lockPath(), "/tmp/QRVN_FLASH_Mutex-" + std::to_string(getuid()));
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    TestEnv env;
    SingleInstance first;
    SingleInstance second;
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(first.held());
    EXPECT_TRUE(std::filesystem::exists(env.root() + "/runtime/QRVN_FLASH_Mutex"));
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(second.held());
    first.release();
    EXPECT_TRUE(second.acquire());
}

TEST(SingleInstance, EndOfScopeReleases) {
    TestEnv env;
    {
        SingleInstance scoped;
        ASSERT_TRUE(scoped.acquire());
    }
    SingleInstance next;
    EXPECT_TRUE(next.acquire());
}

TEST(SingleInstance, ProgramsStartedByTheLauncherDoNotInheritTheLock) {
    TestEnv env;
    auto first = std::make_unique<SingleInstance>();
    ASSERT_TRUE(first->acquire());
    // A long-lived child, as the game is: the lock must go with the launcher, not with the game.
    pid_t child = 0;
    char sleepArg0[] = "sleep";
    char sleepArg1[] = "30";
    char* argv[] = {sleepArg0, sleepArg1, nullptr};
    ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    first.reset();
    SingleInstance next;
    EXPECT_TRUE(next.acquire());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}
