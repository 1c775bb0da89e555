#include "platform/SingleInstance.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "support/TestEnv.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

using veltrano::SingleInstance;
using veltrano::test::TestEnv;

TEST(SingleInstance, LockLivesInTheRuntimeFolderElseInTmpPerUser) {
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: Windows names a mutex instead of a lock file";
#else
    TestEnv env;
    EXPECT_EQ(SingleInstance::lockPath(), env.root() + "/runtime/QRVN_FLASH_Mutex");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::lockPath(), "/tmp/QRVN_FLASH_Mutex-" + std::to_string(getuid()));
#endif
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    TestEnv env;
    SingleInstance first;
    SingleInstance second;
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(first.held());
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::exists(env.root() + "/runtime/QRVN_FLASH_Mutex"));
#endif
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
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: Windows programs inherit no handle unless asked to";
#else
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
#endif
}
