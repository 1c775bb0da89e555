#pragma once
// Desktop integration: the menu entry that also records how to uninstall the game, and the
// shortcut on the user's desktop. Both are freedesktop.org desktop entry files.

#include <string>

namespace veltrano {

// $XDG_DATA_HOME, else ~/.local/share; no trailing "/". Empty without a usable home.
std::string userDataDirectory();
// $XDG_DESKTOP_DIR, else XDG_DESKTOP_DIR of user-dirs.dirs, else ~/Desktop; no trailing "/".
std::string desktopDirectory();

// Escapes for the string and exec value types of desktop entries.
std::string desktopEntryString(const std::string& text);
// One argument of an Exec line, quoted when needed, then escaped as a string value.
std::string desktopExecArgument(const std::string& argument, bool alwaysQuote = false);

struct DesktopEntry {
    std::string name;
    std::string exec;             // the program's path; quoted when written
    std::string arguments;        // already an Exec argument list, appended after a blank when not empty
    std::string workingDir;       // empty: no Path key
    std::string icon;             // empty: no Icon key
    std::string uninstallString;  // empty: no X-UninstallString key
    std::string displayIcon;      // empty: no X-DisplayIcon key
};

// The whole file text of an entry.
std::string formatDesktopEntry(const DesktopEntry& entry);
// Writes the file whole (or leaves any earlier one untouched) and marks it executable, which
// file managers ask of launchers. False when it could not be written.
bool writeDesktopEntry(const DesktopEntry& entry, const std::string& path);

// The shortcut: `target` started with `arguments` in the target's folder, with the given icon.
bool createShortcut(const std::string& target, const std::string& arguments, const std::string& shortcutPath,
                    const std::string& iconPath);

// $XDG_DATA_HOME/applications/qrvn.desktop naming the launcher, with the uninstall program and the
// display icon under $XDG_DATA_HOME/QRVN-FLASH/. Written on every start.
bool writeUninstallEntry(const std::string& appName, const std::string& launcherPath,
                         const std::string& iconPath);
// Where writeUninstallEntry writes; empty without a data folder.
std::string uninstallEntryPath();

// The path of the desktop shortcut for an application name, or empty when the name cannot be a
// file name (empty, ".", "..", or holding "/").
std::string shortcutPathForName(const std::string& appName);

}  // namespace veltrano
