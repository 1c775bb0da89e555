#include "platform/Desktop.h"

#include "platform/FileUtilsPosix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace veltrano {

namespace {

std::string envPath(const char* name) {
    const char* value = std::getenv(name);
    // Relative values are invalid by the base-directory rules and are ignored.
    if (!value || value[0] != '/') return {};
    std::string path = value;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string homeDirectory() {
    return envPath("HOME");
}

// A base directory from its variable, else its default below the home directory.
std::string baseDirectory(const char* variable, const char* underHome) {
    std::string dir = envPath(variable);
    if (!dir.empty()) return dir;
    const std::string home = homeDirectory();
    return home.empty() ? std::string() : home + underHome;
}

std::string configDirectory() {
    return baseDirectory("XDG_CONFIG_HOME", "/.config");
}

// XDG_DESKTOP_DIR="$HOME/Desktop" or an absolute path, as xdg-user-dirs writes it.
std::string desktopFromUserDirs() {
    const std::string config = configDirectory();
    if (config.empty()) return {};
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DESKTOP_DIR=";
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0) {
            const std::string home = homeDirectory();
            if (home.empty()) return {};
            value = home + value.substr(5);
        }
        if (value.empty() || value[0] != '/') return {};
        while (value.size() > 1 && value.back() == '/') value.pop_back();
        return value;
    }
    return {};
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string userDataDirectory() {
    return baseDirectory("XDG_DATA_HOME", "/.local/share");
}

std::string desktopDirectory() {
    std::string dir = envPath("XDG_DESKTOP_DIR");
    if (!dir.empty()) return dir;
    dir = desktopFromUserDirs();
    if (!dir.empty()) return dir;
    const std::string home = homeDirectory();
    return home.empty() ? std::string() : home + "/Desktop";
}

std::string desktopEntryString(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string desktopExecArgument(const std::string& argument, bool alwaysQuote) {
    static const std::string kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string arg;
    bool quote = alwaysQuote || argument.empty();
    for (char c : argument) {
        if (kReserved.find(c) != std::string::npos) quote = true;
        // Field codes start with "%": a literal one is doubled.
        if (c == '%') {
            arg += "%%";
            continue;
        }
        if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
        arg += c;
    }
    if (quote) arg = "\"" + arg + "\"";
    return desktopEntryString(arg);
}

std::string formatDesktopEntry(const DesktopEntry& entry) {
    std::ostringstream out;
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Version=1.0\n"
        << "Name=" << desktopEntryString(entry.name) << "\n"
        << "Exec=" << desktopExecArgument(entry.exec, true);
    if (!entry.arguments.empty()) out << " " << entry.arguments;
    out << "\n";
    if (!entry.workingDir.empty()) out << "Path=" << desktopEntryString(entry.workingDir) << "\n";
    if (!entry.icon.empty()) out << "Icon=" << desktopEntryString(entry.icon) << "\n";
    out << "Terminal=false\n"
        << "Categories=Game;\n";
    if (!entry.uninstallString.empty())
        out << "X-UninstallString=" << desktopEntryString(entry.uninstallString) << "\n";
    if (!entry.displayIcon.empty()) out << "X-DisplayIcon=" << desktopEntryString(entry.displayIcon) << "\n";
    return out.str();
}

bool writeDesktopEntry(const DesktopEntry& entry, const std::string& path) {
    const std::string dir = parentOf(path);
    if (dir.empty()) return false;
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    // Written beside the target and renamed, so a reader never sees half a file.
    const std::string temp = path + ".tmp-" + std::to_string(getpid());
    const std::string text = formatDesktopEntry(entry);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0755);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    // The mode given to open is reduced by the umask; the executable bit is wanted regardless.
    const bool ok = done == text.size() && fchmod(fd, 0755) == 0;
    if (close(fd) != 0 || !ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

bool createShortcut(const std::string& target, const std::string& arguments, const std::string& shortcutPath,
                    const std::string& iconPath) {
    DesktopEntry entry;
    const size_t slash = shortcutPath.find_last_of('/');
    std::string name = slash == std::string::npos ? shortcutPath : shortcutPath.substr(slash + 1);
    const std::string suffix = ".desktop";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.resize(name.size() - suffix.size());
    entry.name = name;
    entry.exec = target;
    entry.arguments = arguments;
    entry.workingDir = parentOf(target);
    entry.icon = iconPath;
    return writeDesktopEntry(entry, shortcutPath);
}

std::string shortcutPathForName(const std::string& appName) {
    if (appName.empty() || appName == "." || appName == ".." || appName.find('/') != std::string::npos)
        return {};
    const std::string dir = desktopDirectory();
    if (dir.empty()) return {};
    return dir + "/" + appName + ".desktop";
}

std::string uninstallEntryPath() {
    const std::string data = userDataDirectory();
    return data.empty() ? std::string() : data + "/applications/qrvn.desktop";
}

bool writeUninstallEntry(const std::string& appName, const std::string& launcherPath,
                         const std::string& iconPath) {
    const std::string data = userDataDirectory();
    if (data.empty()) return false;
    if (!makeDirectories(data + "/applications")) return false;
    DesktopEntry entry;
    // A menu entry without a name is invalid; the launcher's file name stands in.
    entry.name = appName.empty() ? launcherPath.substr(launcherPath.find_last_of('/') + 1) : appName;
    entry.exec = launcherPath;
    entry.workingDir = parentOf(launcherPath);
    entry.icon = iconPath;
    entry.uninstallString = data + "/QRVN-FLASH/uninstall.exe";
    entry.displayIcon = data + "/QRVN-FLASH/Launcher-FlashGame-QRVN.exe";
    return writeDesktopEntry(entry, uninstallEntryPath());
}

}  // namespace veltrano
