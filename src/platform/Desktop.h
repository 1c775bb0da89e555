#pragma once
// Desktop integration: the entry that records how to uninstall the game, and the shortcut on the
// user's desktop. On Windows a registry key and a shell link (.lnk); elsewhere freedesktop.org desktop
// entry files (the menu entry carries the uninstall values).

#include <string>

namespace veltrano {

// The shortcut: `target` started with `arguments` in the target's folder, with the given icon.
bool createShortcut(const std::string& target, const std::string& arguments, const std::string& shortcutPath,
                    const std::string& iconPath);

// The uninstall entry naming the launcher, with the uninstall program and the display icon under
// the roaming data folder's QRVN-FLASH. Written on every start. On Windows the key
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\qrvn holds only those two
// values; elsewhere $XDG_DATA_HOME/applications/qrvn.desktop also starts the launcher.
bool writeUninstallEntry(const std::string& appName, const std::string& launcherPath,
                         const std::string& iconPath);

// The path of the desktop shortcut for an application name ("<desktop>/<name>.lnk" on Windows,
// ".desktop" elsewhere), or empty when the name cannot be a file name (empty, ".", "..", or holding
// a separator).
std::string shortcutPathForName(const std::string& appName);

// The user's local data folder: $XDG_DATA_HOME, else ~/.local/share; on Windows the local
// application-data folder. UTF-8 with "/" separators and no trailing "/"; empty when there is none.
std::string userDataDirectory();

#ifndef _WIN32

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

// Where writeUninstallEntry writes; empty without a data folder.
std::string uninstallEntryPath();
#endif

}  // namespace veltrano
