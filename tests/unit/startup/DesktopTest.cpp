#include "platform/Desktop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "TempHome.h"

using namespace veltrano;

namespace {

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
    TempHome home;
    EXPECT_EQ(userDataDirectory(), home.path("home/.local/share"));
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(userDataDirectory(), home.path("home/.local/share"));
    setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(userDataDirectory(), home.path("home/.local/share"));

    EXPECT_EQ(desktopDirectory(), home.path("home/Desktop"));
    TempHome::write(home.path("home/.config/user-dirs.dirs"),
                    "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
                    "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(desktopDirectory(), home.path("home/Schreibtisch"));
    TempHome::write(home.path("home/.config/user-dirs.dirs"), "XDG_DESKTOP_DIR=\"/srv/desk/\"\n");
    EXPECT_EQ(desktopDirectory(), "/srv/desk");
    setenv("XDG_DESKTOP_DIR", home.path("env-desk").c_str(), 1);
    EXPECT_EQ(desktopDirectory(), home.path("env-desk"));
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
    TempHome home;
    const std::string target = home.path("game dir/veltrano");
    const std::string link = home.path("home/Desktop/Star Tale.desktop");
    ASSERT_TRUE(createShortcut(target, "", link, home.path("game dir/res/icon.png")));
    const std::string text = TempHome::read(link);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(keyValue(text, "Type"), "Application");
    EXPECT_EQ(keyValue(text, "Name"), "Star Tale");
    EXPECT_EQ(keyValue(text, "Exec"), "\"" + target + "\"");
    EXPECT_EQ(keyValue(text, "Path"), home.path("game dir"));
    EXPECT_EQ(keyValue(text, "Icon"), home.path("game dir/res/icon.png"));
    EXPECT_EQ(keyValue(text, "X-UninstallString"), "");
    struct stat st {};
    ASSERT_EQ(stat(link.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST(Shortcut, ReplacesAnEarlierOneAndLeavesNoTemporaryFile) {
    TempHome home;
    const std::string link = home.path("home/Desktop/G.desktop");
    TempHome::write(link, "old content that is much longer than anything else\n");
    ASSERT_TRUE(createShortcut("/opt/g/launcher", "", link, ""));
    const std::string text = TempHome::read(link);
    EXPECT_EQ(text.find("old content"), std::string::npos);
    EXPECT_EQ(keyValue(text, "Icon"), "");
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(home.path("home/Desktop"))) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(Shortcut, MissingDesktopFolderIsAFailureNotACreation) {
    TempHome home;
    EXPECT_FALSE(createShortcut("/opt/g/launcher", "", home.path("nowhere/G.desktop"), ""));
    EXPECT_FALSE(std::filesystem::exists(home.path("nowhere")));
}

TEST(Shortcut, PathRefusesNamesThatAreNoFileNames) {
    TempHome home;
    EXPECT_EQ(shortcutPathForName("Star Tale"), home.path("home/Desktop/Star Tale.desktop"));
    EXPECT_EQ(shortcutPathForName(""), "");
    EXPECT_EQ(shortcutPathForName(".."), "");
    EXPECT_EQ(shortcutPathForName("../../etc/x"), "");
}

TEST(UninstallEntry, MenuEntryCarriesTheUninstallValues) {
    TempHome home;
    const std::string data = home.path("home/.local/share");
    ASSERT_TRUE(writeUninstallEntry("Star Tale", "/opt/g/veltrano", "/opt/g/res/icon.png"));
    EXPECT_EQ(uninstallEntryPath(), data + "/applications/qrvn.desktop");
    const std::string text = TempHome::read(data + "/applications/qrvn.desktop");
    EXPECT_EQ(keyValue(text, "Name"), "Star Tale");
    EXPECT_EQ(keyValue(text, "Exec"), "\"/opt/g/veltrano\"");
    EXPECT_EQ(keyValue(text, "Icon"), "/opt/g/res/icon.png");
    EXPECT_EQ(keyValue(text, "X-UninstallString"), data + "/QRVN-FLASH/uninstall.exe");
    EXPECT_EQ(keyValue(text, "X-DisplayIcon"), data + "/QRVN-FLASH/Launcher-FlashGame-QRVN.exe");
}

TEST(UninstallEntry, NamelessLauncherStillGetsAValidEntry) {
    TempHome home;
    ASSERT_TRUE(writeUninstallEntry("", "/opt/g/veltrano", ""));
    const std::string text = TempHome::read(uninstallEntryPath());
    EXPECT_EQ(keyValue(text, "Name"), "veltrano");
}

TEST(UninstallEntry, NoHomeMeansNoEntry) {
    TempHome home;
    unsetenv("HOME");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(uninstallEntryPath(), "");
    EXPECT_FALSE(writeUninstallEntry("G", "/opt/g/veltrano", ""));
}
