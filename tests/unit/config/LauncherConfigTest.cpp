#include "config/LauncherConfig.h"

#include <gtest/gtest.h>

#include "support/TestEnv.h"

namespace veltrano {
namespace {

class LauncherConfigTest : public test::VeltranoTest {
protected:
    const LauncherConfig& cfg() { return *LauncherConfig::instance(); }

    void expectDefaults() {
        EXPECT_EQ(cfg().logPath(), "");
        EXPECT_EQ(cfg().win_width(), 1136);
        EXPECT_EQ(cfg().win_height(), 640);
        EXPECT_EQ(cfg().font_size(), 16);
        EXPECT_EQ(cfg().web_url(), "");
        EXPECT_EQ(cfg().game_dir(), "");
        EXPECT_TRUE(cfg().downlaod_text().empty());
        EXPECT_EQ(cfg().web_x(), 0);
        EXPECT_TRUE(cfg().tls_verify());
        EXPECT_EQ(cfg().ca_file(), "");
    }
};

TEST_F(LauncherConfigTest, MissingFileKeepsDefaults) {
    EXPECT_FALSE(env.loadConfig());
    expectDefaults();
}

TEST_F(LauncherConfigTest, RootsThatAreNotObjectsCountAsMissing) {
    for (const char* text : {"[1, 2, 3]", "null", "{\"web_url\": \"http://x/\"", "", "\"text\"", "42",
                             "{\"web_url\": \"a\"} trailing"}) {
        ASSERT_TRUE(env.writeConfig(text));
        EXPECT_FALSE(env.loadConfig()) << text;
        expectDefaults();
    }
    // Nesting deep enough to exhaust a recursive reader's stack.
    ASSERT_TRUE(env.writeConfig("{\"downlaod_text\":" + std::string(1000000, '[')));
    EXPECT_FALSE(env.loadConfig());
    expectDefaults();
}

TEST_F(LauncherConfigTest, LogPathFromLogName) {
    ASSERT_TRUE(env.writeConfig(R"({"log_name": "x.log"})"));
    EXPECT_TRUE(env.loadConfig());
    EXPECT_EQ(cfg().logPath(), env.launcherDir() + "/x.log");
    EXPECT_EQ(cfg().win_width(), 1136);
    EXPECT_EQ(cfg().web_url(), "");

    ASSERT_TRUE(env.writeConfig(R"({"app_name": "Demo"})"));
    EXPECT_TRUE(env.loadConfig());
    EXPECT_EQ(cfg().logPath(), env.launcherDir() + "/Veltrano.log");
    EXPECT_NE(cfg().logPath().find("//Veltrano.log"), std::string::npos);

    ASSERT_TRUE(env.writeConfig(R"({"log_name": 7})"));
    EXPECT_TRUE(env.loadConfig());
    EXPECT_EQ(cfg().logPath(), env.launcherDir() + "/Veltrano.log") << "a non-text log_name is absent";
}

TEST_F(LauncherConfigTest, EveryKeyIsRead) {
    ASSERT_TRUE(env.writeConfig(R"({
        "ver_url": "v", "ver_src_url": "vs", "game_url": "g", "game_src_url": "gs", "game_dir": "game",
        "game_exe_name": "game.exe", "parent_name": "p", "launcher_name": "l", "launcher_icon": "i.png",
        "report_url": "r", "app_name": "\u4e2d", "app_id": "id", "main_channel": "mc", "font": "Sans",
        "web_url": "http://w/", "error_text": "e", "process_data_type": "77", "process_data_msg": "m",
        "font_size": 20, "win_width": 800, "win_height": 600, "process_x": 1, "process_y": 2,
        "download_text_x": 3, "download_text_y": 4, "font_color_r": 5, "font_color_g": 6, "font_color_b": 7,
        "process_bg_width": 8, "process_bg_height": 9, "process_width": 10, "process_height": 11,
        "close_btn_x": 12, "close_btn_y": 13, "close_btn_width": 14, "close_btn_height": 15,
        "web_size_width": 16, "web_size_height": 17, "web_x": -18, "web_y": 19,
        "downlaod_text": ["one", "two", "three"], "ca_file": "/etc/ca.pem", "tls_verify": true,
        "unknown": {"nested": 1}
    })"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_EQ(cfg().ver_url(), "v");
    EXPECT_EQ(cfg().ver_src_url(), "vs");
    EXPECT_EQ(cfg().game_url(), "g");
    EXPECT_EQ(cfg().game_src_url(), "gs");
    EXPECT_EQ(cfg().game_dir(), "game");
    EXPECT_EQ(cfg().game_exe_name(), "game.exe");
    EXPECT_EQ(cfg().parent_name(), "p");
    EXPECT_EQ(cfg().launcher_name(), "l");
    EXPECT_EQ(cfg().launcher_icon(), "i.png");
    EXPECT_EQ(cfg().report_url(), "r");
    EXPECT_EQ(cfg().app_name(), "\xe4\xb8\xad");
    EXPECT_EQ(cfg().app_id(), "id");
    EXPECT_EQ(cfg().main_channel(), "mc");
    EXPECT_EQ(cfg().font(), "Sans");
    EXPECT_EQ(cfg().web_url(), "http://w/");
    EXPECT_EQ(cfg().error_text(), "e");
    EXPECT_EQ(cfg().process_data_type(), "77");
    EXPECT_EQ(cfg().process_data_msg(), "m");
    EXPECT_EQ(cfg().ca_file(), "/etc/ca.pem");
    EXPECT_TRUE(cfg().tls_verify());
    const int numbers[] = {cfg().font_size(),
                           cfg().win_width(),
                           cfg().win_height(),
                           cfg().process_x(),
                           cfg().process_y(),
                           cfg().download_text_x(),
                           cfg().download_text_y(),
                           cfg().font_color_r(),
                           cfg().font_color_g(),
                           cfg().font_color_b(),
                           cfg().process_bg_width(),
                           cfg().process_bg_height(),
                           cfg().process_width(),
                           cfg().process_height(),
                           cfg().close_btn_x(),
                           cfg().close_btn_y(),
                           cfg().close_btn_width(),
                           cfg().close_btn_height(),
                           cfg().web_size_width(),
                           cfg().web_size_height(),
                           cfg().web_x(),
                           cfg().web_y()};
    const int want[] = {20, 800, 600, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, -18, 19};
    for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(numbers[i], want[i]) << "number #" << i;
    EXPECT_EQ(cfg().downlaod_text(), (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(LauncherConfigTest, WrongTypesCountAsAbsent) {
    ASSERT_TRUE(env.writeConfig(R"({
        "win_width": "800", "win_height": 1.5, "font_size": 4294967296, "web_x": null, "process_x": true,
        "web_url": 5, "game_dir": ["x"], "app_name": {"a": 1}, "tls_verify": "no", "ca_file": 1,
        "downlaod_text": "just one"
    })"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_EQ(cfg().win_width(), 1136);
    EXPECT_EQ(cfg().win_height(), 640);
    EXPECT_EQ(cfg().font_size(), 16);
    EXPECT_EQ(cfg().web_x(), 0);
    EXPECT_EQ(cfg().process_x(), 0);
    EXPECT_EQ(cfg().web_url(), "");
    EXPECT_EQ(cfg().game_dir(), "");
    EXPECT_EQ(cfg().app_name(), "");
    EXPECT_TRUE(cfg().tls_verify());
    EXPECT_EQ(cfg().ca_file(), "");
    EXPECT_TRUE(cfg().downlaod_text().empty());

    ASSERT_TRUE(env.writeConfig(R"({"downlaod_text": ["a", 1, null, "b", ["c"]]})"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_EQ(cfg().downlaod_text(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(LauncherConfigTest, GeometryWithoutDefaultIsZeroWhenAbsent) {
    ASSERT_TRUE(env.writeConfig(R"({"web_x": 5})"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_EQ(cfg().web_x(), 5);
    for (int v : {cfg().process_bg_width(), cfg().process_bg_height(), cfg().process_width(),
                  cfg().process_height(), cfg().close_btn_x(), cfg().close_btn_y(), cfg().close_btn_width(),
                  cfg().close_btn_height(), cfg().web_size_width(), cfg().web_size_height(), cfg().web_y()})
        EXPECT_EQ(v, 0);
}

TEST_F(LauncherConfigTest, TlsVerifyOffIsLogged) {
    ASSERT_TRUE(env.writeConfig(R"({"tls_verify": false, "log_name": "t.log"})"));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(env.loadConfig());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(cfg().tls_verify());
    EXPECT_NE(env.readFile("t.log").find(" tls_verify is off: server certificates are not checked\r\n"),
              std::string::npos);
    EXPECT_EQ(out, "tls_verify is off: server certificates are not checked\n");

    ASSERT_TRUE(env.writeConfig(R"({"log_name": "quiet.log"})"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_FALSE(env.exists("quiet.log"));
}

TEST_F(LauncherConfigTest, ResetRestoresDefaults) {
    ASSERT_TRUE(env.writeConfig(R"({"win_width": 10, "downlaod_text": ["a"], "log_name": "l"})"));
    ASSERT_TRUE(env.loadConfig());
    LauncherConfig::instance()->reset();
    expectDefaults();
}

}  // namespace
}  // namespace veltrano
