#include "update/Install.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#ifdef __linux__
#include <unistd.h>
#endif

#include "support/TestEnv.h"
#include "support/TestUtil.h"
#include "update/Updater.h"

using namespace veltrano;
using veltrano::test::treeSnapshot;
using veltrano::test::VeltranoTest;

namespace {

namespace fs = std::filesystem;

class InstallTest : public VeltranoTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(env.writeConfig(R"({"game_dir":"game"})"));
        ASSERT_TRUE(env.loadConfig());
        paths = installPaths(env.path("") + "/game/");
        // Beside the game folder, never the launcher's to touch.
        ASSERT_TRUE(env.writeFile("game.bak/keep", "mine"));
        ASSERT_TRUE(env.writeFile("game-staging/keep", "mine"));
    }
    std::string log() const { return env.readFile("Veltrano.log"); }

    InstallPaths paths;
};

TEST_F(InstallTest, FoldersLieBesideTheGameFolder) {
    EXPECT_EQ(paths.game, env.path("game"));
    EXPECT_EQ(paths.staging, env.path("game.veltrano-staging"));
    EXPECT_EQ(paths.old, env.path("game.veltrano-old"));
    EXPECT_EQ(installPaths("/l//a/./game/").game, "/l/a/game");
}

TEST_F(InstallTest, StartRepairsWhatAnInterruptedUpdateLeft) {
    struct Case {
        const char* what;
        bool game, staging, old;
        const char* expectedVersion;  // of the game folder afterwards, "" for none
        const char* logged;
    };
    const Case cases[] = {
        {"killed while extracting", true, true, false, "A", "removed the unfinished update in"},
        {"killed between the two renames", false, true, true, "A", "put the game from"},
        {"killed while removing the old tree", true, false, true, "B", "removed the replaced game in"},
        {"first install killed while extracting", false, true, false, "", "removed the unfinished update in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* dir : {"game", "game.veltrano-staging", "game.veltrano-old"})
            fs::remove_all(env.path(dir));
        if (c.game) {
            ASSERT_TRUE(env.writeFile("game/version", c.old ? "B" : "A"));
        }
        if (c.staging) {
            ASSERT_TRUE(env.writeFile("game.veltrano-staging/version", "B"));
        }
        if (c.old) {
            ASSERT_TRUE(env.writeFile("game.veltrano-old/version", "A"));
            ASSERT_TRUE(env.writeFile("game.veltrano-old/bin/run.sh", "#!/bin/sh\n"));
        }

        // The version check of a start sees the repaired folder.
        Updater updater;
        EXPECT_EQ(env.readFile("game/version"), c.expectedVersion);
        EXPECT_EQ(updater.m_noLocalVersion, std::string(c.expectedVersion).empty());
        if (!std::string(c.expectedVersion).empty()) {
            EXPECT_EQ(updater.m_curVer, c.expectedVersion);
        }
        if (!c.game && c.old) {
            EXPECT_EQ(env.readFile("game/bin/run.sh"), "#!/bin/sh\n");
        }
        // The leftovers go when the run starts, on its worker thread.
        recoverInterruptedInstall(paths);
        EXPECT_EQ(env.readFile("game/version"), c.expectedVersion);
        EXPECT_FALSE(env.exists("game.veltrano-staging"));
        EXPECT_FALSE(env.exists("game.veltrano-old"));
        EXPECT_NE(log().find(c.logged), std::string::npos) << log();
        EXPECT_EQ(env.readFile("game.bak/keep"), "mine");
        EXPECT_EQ(env.readFile("game-staging/keep"), "mine");
    }
}

TEST_F(InstallTest, StagingIsFreshAndALinkLeftInItIsNotFollowed) {
    VELTRANO_LINUX_ONLY("Windows makes links only with a privilege the tests do not have");
    ASSERT_TRUE(env.writeFile("outside/precious", "keep"));
    ASSERT_TRUE(env.writeFile("game.veltrano-staging/stale", "x"));
    fs::create_directory_symlink(env.path("outside"), env.path("game.veltrano-staging/data"));
    ASSERT_TRUE(prepareStaging(paths));
    EXPECT_TRUE(treeSnapshot(paths.staging).empty());
    EXPECT_EQ(env.readFile("outside/precious"), "keep");
}

TEST_F(InstallTest, ExchangeReplacesTheWholeTree) {
    ASSERT_TRUE(env.writeFile("game/version", "A"));
    ASSERT_TRUE(env.writeFile("game/mods/hand-placed.txt", "mine"));
    ASSERT_TRUE(prepareStaging(paths));
    ASSERT_TRUE(env.writeFile("game.veltrano-staging/version", "B"));
    ASSERT_TRUE(env.writeFile("game.veltrano-staging/data/x", "new"));
    const auto staged = treeSnapshot(paths.staging);

    ASSERT_TRUE(putStagingInPlace(paths));
    EXPECT_EQ(treeSnapshot(paths.game), staged);
    EXPECT_FALSE(env.exists("game.veltrano-staging"));
    EXPECT_FALSE(env.exists("game.veltrano-old"));
    EXPECT_EQ(env.readFile("game.bak/keep"), "mine");

    // First install: nothing to move aside.
    fs::remove_all(paths.game);
    ASSERT_TRUE(prepareStaging(paths));
    ASSERT_TRUE(env.writeFile("game.veltrano-staging/version", "C"));
    ASSERT_TRUE(putStagingInPlace(paths));
    EXPECT_EQ(env.readFile("game/version"), "C");
}

#ifdef __linux__
bool threadSleeps(pid_t tid) {
    const std::string stat = veltrano::test::readFile("/proc/self/task/" + std::to_string(tid) + "/stat");
    const size_t end = stat.rfind(") ");
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

// A closing launcher may end during an update, but never between the two renames of an exchange.
TEST_F(InstallTest, EndingTheProcessWaitsForAnExchangeThatHasBegun) {
    ASSERT_TRUE(env.writeFile("game/version", "A"));
    ASSERT_TRUE(prepareStaging(paths));
    ASSERT_TRUE(env.writeFile("game.veltrano-staging/version", "B"));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atomic<int> phase{0};  // 1: the exchange is half done; 2: it may go on
            setExchangeMidpointForTesting([&] {
                phase = 1;
                while (phase.load() != 2) std::this_thread::yield();
            });
            std::thread exchange([&] { putStagingInPlace(paths); });
            while (phase.load() != 1) std::this_thread::yield();
            std::atomic<pid_t> tid{0};
            std::atomic<bool> held{false};
            std::thread closing([&] {
                tid = gettid();
                holdInstallExchanges();
                held = true;
            });
            // Either the hold came back at once (wrong) or it sleeps until the exchange is done.
            while (!held && !(tid != 0 && threadSleeps(tid))) std::this_thread::yield();
            const bool cameBackEarly = held;
            phase = 2;
            closing.join();
            exchange.join();
            const int code = cameBackEarly ? 1 : env.readFile("game/version") == "B" ? 0 : 2;
            // This child runs the test afresh with a folder of its own, which _Exit would leave behind.
            veltrano::test::removeTree(env.root());
            std::_Exit(code);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
