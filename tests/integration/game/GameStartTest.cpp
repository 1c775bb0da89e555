#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "GameTestUtil.h"
#include "game/Game.h"
#include "net/Scheduler.h"
#include "platform/CommandLine.h"
#include "report/Report.h"
#include "support/DevServer.h"
#include "support/TestEnv.h"
#include "support/TestUtil.h"
#include "util/Encoding.h"

namespace veltrano {
namespace {

using test::DevServer;
using test::DevServerReport;
using test::pumpUntil;

class RecordingHost : public GameStartHost {
public:
    void gameStarted() override { events.push_back("started"); }
    void showStartError(const std::string& text) override {
        events.push_back("error");
        message = text;
    }
    void startErrorAcknowledged() override { events.push_back("acknowledged"); }
    void wait(int milliseconds) override {
        if (beforeWait) beforeWait(waits.size());
        waits.push_back(milliseconds);
    }

    std::vector<int> waits;
    std::vector<std::string> events;
    std::string message;
    // Lets a test hold a pause until something has happened, instead of sleeping.
    std::function<void(size_t index)> beforeWait;
};

class GameStart : public test::VeltranoTest {
protected:
    void SetUp() override { ASSERT_TRUE(server.start({.root = env.root()})) << server.error(); }
    void TearDown() override {
        pumpUntil([] { return Scheduler::instance()->size() == 0; });
    }

    void configure(const std::string& exeName) {
        ASSERT_TRUE(env.writeConfig(R"({"game_dir": "g", "game_exe_name": ")" + exeName +
                                    R"(", "report_url": ")" + server.url("/report") +
                                    R"(", "error_text": "\u542f\u52a8\u5931\u8d25 %d, %s"})"));
        ASSERT_TRUE(env.loadConfig());
        initReport("");
    }
    std::vector<DevServerReport> waitForReports(size_t n) {
        std::vector<DevServerReport> got;
        pumpUntil([&] { return (got = server.reports()).size() >= n; });
        return got;
    }
    std::string log() const { return env.readFile("Veltrano.log"); }

    DevServer server;
    RecordingHost host;
};

const char kLauncherArgs[] = "--source=web \"--fcext=a b\" x\\\"y 100%s%n";

TEST_F(GameStart, StartsTheGameWithTheBuiltCommandLine) {
    configure("game_argv");
    ASSERT_TRUE(copyHelper("game_argv", env.path("g/game_argv")));
    const std::string token = base64Encode(R"({"uid":7,"callback_info":"cb"})");
    const std::string dir = env.launcherDir() + "/g/";

    GameStarter starter(&host);
    starter.setLauncherCommandLine(kLauncherArgs);
    host.beforeWait = [&](size_t i) {
        if (i == 1) waitForReports(1);
    };
    starter.OnLoginReady("7", token, "cb");
    EXPECT_EQ(starter.uid(), "7");
    EXPECT_EQ(starter.gameToken(), token);
    EXPECT_EQ(starter.callbackInfo(), "cb");

    EXPECT_EQ(host.events, std::vector<std::string>{"started"});
    EXPECT_EQ(host.waits, (std::vector<int>{1000, 500}));
    ASSERT_GT(starter.startedPid(), 0);
    ASSERT_TRUE(endsCleanly(starter.startedPid(), dir + "argv.txt"));
    EXPECT_EQ(readArgs(dir + "argv.txt"),
              (std::vector<std::string>{dir + "game_argv", "-workdir", dir, "--source=web", "--fcext=a b",
                                        "x\"y", "100%s%n", "-uid:7", "-gametoken:" + token, "-cbinfo:cb"}));
#ifndef _WIN32
    EXPECT_NE(readFile(dir + "facts.txt").find("session_leader=1\n"), std::string::npos);
#endif

    const std::string cmd = "\"" + dir + "game_argv\" -workdir \"" + dir + "\" " + kLauncherArgs +
                            " -uid:7 -gametoken:" + token + " -cbinfo:cb";
    EXPECT_EQ(starter.gameCommandLine(), cmd);
    const std::string text = log();
    const size_t logged = text.find(" " + cmd + "\r\n");
    EXPECT_NE(logged, std::string::npos) << text;
    EXPECT_GT(text.find("CreateProcess: Success\r\n"), logged);
    EXPECT_EQ(text.find("CreateProcess faild"), std::string::npos);

    const auto got = server.reports();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].fields.at("data_type"), "1013");
}

TEST_F(GameStart, MissingGameLogsReportsAndShowsTheErrorText) {
    configure("missing.exe");
    GameStarter starter(&host);
    starter.setLauncherCommandLine("");
    host.beforeWait = [&](size_t i) {
        if (i == 1) waitForReports(1);
        if (i == 3) waitForReports(2);
    };
    starter.OnLoginReady("7", "", "cb");

    EXPECT_EQ(starter.startedPid(), 0);
    EXPECT_EQ(host.waits, (std::vector<int>{1000, 500, 500, 1000, 1000}));
    EXPECT_EQ(host.events, (std::vector<std::string>{"error", "acknowledged"}));
    EXPECT_EQ(host.message, "\xE5\x90\xAF\xE5\x8A\xA8\xE5\xA4\xB1\xE8\xB4\xA5 1115, %s");

    const std::string dir = env.launcherDir() + "/g/";
    const std::string cmd =
        "\"" + dir + "missing.exe\" -workdir \"" + dir + "\"  -uid:7 -gametoken: -cbinfo:cb";
    const std::string text = log();
    const size_t failed = text.find(" CreateProcess faild path  " + cmd + "\r\n");
    ASSERT_NE(failed, std::string::npos) << text;
    EXPECT_GT(text.find(" CreateProcessA: error  2\r\n"), failed);
    EXPECT_LT(text.find(" " + cmd + "\r\n"), failed);
    EXPECT_EQ(text.find("CreateProcess: Success"), std::string::npos);

    const auto got = server.reports();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].fields.at("data_type"), "1013");
    EXPECT_EQ(got[0].fields.count("log"), 0u);
    EXPECT_EQ(got[1].fields.at("data_type"), "1115");
    ASSERT_EQ(got[1].fields.count("log"), 1u);
    EXPECT_NE(got[1].fields.at("log").find("CreateProcessA: error  2"), std::string::npos);
}

TEST_F(GameStart, ACancelDuringTheFirstPauseRunsNothing) {
    configure("game_argv");
    ASSERT_TRUE(copyHelper("game_argv", env.path("g/game_argv")));
    GameStarter starter(&host);
    host.beforeWait = [&](size_t i) {
        if (i == 0) starter.cancel();
    };
    starter.OnLoginReady("7", "", "cb");
    EXPECT_EQ(starter.startedPid(), 0);
    EXPECT_EQ(host.waits, std::vector<int>{1000});
    EXPECT_TRUE(host.events.empty()) << "no message for a start the player called off";
    EXPECT_EQ(Scheduler::instance()->size(), 0u) << "no report";
    EXPECT_FALSE(env.exists("g/argv.txt"));

    // The next start is not called off by the earlier request.
    host.beforeWait = nullptr;
    EXPECT_TRUE(starter.startGame());
    ASSERT_TRUE(endsCleanly(starter.startedPid(), env.path("g/argv.txt")));
    EXPECT_TRUE(env.exists("g/argv.txt"));
}

TEST(GameStarter, LauncherCommandLineDefaultsToTheOwnArguments) {
    const char* argv[] = {"/opt/veltrano/veltrano", "--token=abc", "--noicon=a b"};
    setApplicationArguments(3, argv);
    GameStarter starter(nullptr);
    EXPECT_EQ(starter.launcherCommandLine(), "--token=abc \"--noicon=a b\"");
    setApplicationArguments(0, nullptr);
}

}  // namespace
}  // namespace veltrano
