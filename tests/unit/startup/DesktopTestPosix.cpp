#include "platform/Desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include <fstream>
#include <sstream>

#include "support/TestEnv.h"
#include "support/TestUtil.h"

using namespace veltrano;
using veltrano::test::readFile;
using veltrano::test::TestEnv;

namespace {

void writeAll(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The value of one key of a desktop entry text; empty when absent.
std::string keyValue(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return {};
}

}  // namespace

TEST(DesktopFolders, FollowTheBaseDirectoryRules) {
    TestEnv env;
    EXPECT_EQ(userDataDirectory(), env.root() + "/data");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(userDataDirectory(), env.root() + "/home/.local/share");
    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(userDataDirectory(), env.root() + "/home/.local/share");

    EXPECT_EQ(desktopDirectory(), env.root() + "/Desktop");
    unsetenv("XDG_DESKTOP_DIR");
    EXPECT_EQ(desktopDirectory(), env.root() + "/home/Desktop");
    writeAll(env.root() + "/config/user-dirs.dirs",
             "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
             "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(desktopDirectory(), env.root() + "/home/Schreibtisch");
    writeAll(env.root() + "/config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/desk/\"\n");
    EXPECT_EQ(desktopDirectory(), "/srv/desk");
    setenv("XDG_DESKTOP_DIR", (env.root() + "/env-desk").c_str(), 1);
    EXPECT_EQ(desktopDirectory(), env.root() + "/env-desk");
}

TEST(DesktopEntryText, EscapesValuesAndQuotesTheProgram) {
    EXPECT_EQ(desktopEntryString("a\\b\nc"), "a\\\\b\\nc");
    EXPECT_EQ(desktopExecArgument("/opt/game/run"), "/opt/game/run");
    EXPECT_EQ(desktopExecArgument("/opt/game/run", true), "\"/opt/game/run\"");
    EXPECT_EQ(desktopExecArgument("/opt/my game/run"), "\"/opt/my game/run\"");
    // Inside quotes `"`, `$`, "`" and "\" get a backslash, then the string level doubles backslashes.
    EXPECT_EQ(desktopExecArgument("/a$b"), "\"/a\\\\$b\"");
    EXPECT_EQ(desktopExecArgument("100%"), "100%%");
    EXPECT_EQ(desktopExecArgument(""), "\"\"");
}

TEST(Shortcut, NamesTheLauncherItsFolderAndIcon) {
    TestEnv env;
    const std::string target = env.root() + "/game dir/veltrano";
    const std::string link = env.root() + "/Desktop/Star Tale.desktop";
    ASSERT_TRUE(createShortcut(target, "", link, env.root() + "/game dir/res/icon.png"));
    const std::string text = readFile(link);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(keyValue(text, "Type"), "Application");
    EXPECT_EQ(keyValue(text, "Name"), "Star Tale");
    EXPECT_EQ(keyValue(text, "Exec"), "\"" + target + "\"");
    EXPECT_EQ(keyValue(text, "Path"), env.root() + "/game dir");
    EXPECT_EQ(keyValue(text, "Icon"), env.root() + "/game dir/res/icon.png");
    EXPECT_EQ(keyValue(text, "X-UninstallString"), "");
    struct stat st {};
    ASSERT_EQ(stat(link.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST(Shortcut, ReplacesAnEarlierOneAndLeavesNoTemporaryFile) {
    TestEnv env;
    const std::string link = env.root() + "/Desktop/G.desktop";
    writeAll(link, "old content that is much longer than anything else\n");
    ASSERT_TRUE(createShortcut("/opt/g/launcher", "", link, ""));
    const std::string text = readFile(link);
    EXPECT_EQ(text.find("old content"), std::string::npos);
    EXPECT_EQ(keyValue(text, "Icon"), "");
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(env.root() + "/Desktop")) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(Shortcut, MissingDesktopFolderIsAFailureNotACreation) {
    TestEnv env;
    EXPECT_FALSE(createShortcut("/opt/g/launcher", "", env.root() + "/nowhere/G.desktop", ""));
    EXPECT_FALSE(std::filesystem::exists(env.root() + "/nowhere"));
}

TEST(Shortcut, PathRefusesNamesThatAreNoFileNames) {
    TestEnv env;
    EXPECT_EQ(shortcutPathForName("Star Tale"), env.root() + "/Desktop/Star Tale.desktop");
    EXPECT_EQ(shortcutPathForName(""), "");
    EXPECT_EQ(shortcutPathForName(".."), "");
    EXPECT_EQ(shortcutPathForName("../../etc/x"), "");
}

TEST(UninstallEntry, MenuEntryCarriesTheUninstallValues) {
    TestEnv env;
    const std::string data = env.root() + "/data";
    ASSERT_TRUE(writeUninstallEntry("Star Tale", "/opt/g/veltrano", "/opt/g/res/icon.png"));
    EXPECT_EQ(uninstallEntryPath(), data + "/applications/qrvn.desktop");
    const std::string text = readFile(data + "/applications/qrvn.desktop");
    EXPECT_EQ(keyValue(text, "Name"), "Star Tale");
    EXPECT_EQ(keyValue(text, "Exec"), "\"/opt/g/veltrano\"");
    EXPECT_EQ(keyValue(text, "Icon"), "/opt/g/res/icon.png");
    EXPECT_EQ(keyValue(text, "X-UninstallString"), data + "/QRVN-FLASH/uninstall.exe");
    EXPECT_EQ(keyValue(text, "X-DisplayIcon"), data + "/QRVN-FLASH/Launcher-FlashGame-QRVN.exe");
}

TEST(UninstallEntry, NamelessLauncherStillGetsAValidEntry) {
    TestEnv env;
    ASSERT_TRUE(writeUninstallEntry("", "/opt/g/veltrano", ""));
    const std::string text = readFile(uninstallEntryPath());
    EXPECT_EQ(keyValue(text, "Name"), "veltrano");
}

TEST(UninstallEntry, NoHomeMeansNoEntry) {
    TestEnv env;
    unsetenv("HOME");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(uninstallEntryPath(), "");
    EXPECT_FALSE(writeUninstallEntry("G", "/opt/g/veltrano", ""));
}
