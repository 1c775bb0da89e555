#include "TestEnv.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include "config/LauncherConfig.h"
#include "platform/FileUtils.h"
#include "support/TestUtil.h"

namespace veltrano::test {

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// The shell's folders (local data, roaming data, the desktop) all follow the profile folder.
const char* const kVariables[] = {"USERPROFILE", "LOCALAPPDATA", "APPDATA", "HOME"};
const char* const kFolders[] = {"/home", "/home/AppData/Local", "/home/AppData/Roaming", "/home"};
#else
const char* const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR",
                                  "XDG_DESKTOP_DIR"};
const char* const kFolders[] = {"/home", "/data", "/config", "/runtime", "/Desktop"};
#endif

void makeDirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(pathOf(path), ec);
}

}  // namespace

TestEnv::TestEnv() {
    root_ = makeTempFolder("veltrano-test-");
    if (root_.empty()) {
        ADD_FAILURE() << "cannot create a temporary folder";
        return;
    }

    for (size_t i = 0; i < std::size(kVariables); ++i) {
        const char* old = std::getenv(kVariables[i]);
        savedEnv_.push_back({kVariables[i], {old != nullptr, old ? old : ""}});
        const std::string value = root_ + kFolders[i];
        makeDirs(value);
        setEnv(kVariables[i], value);
    }
#ifndef _WIN32
    chmod((root_ + "/runtime").c_str(), 0700);
#endif

    launcherDir_ = root_ + "/launcher/";
    makeDirs(root_ + "/launcher");
    FileUtils* files = FileUtils::instance();
    previousLauncherDir_ = files->launcherDirectory();
    files->setLauncherDirectory(launcherDir_);
    files->setWritableDirectory("");
    files->clearPathCache();
    LauncherConfig::instance()->reset();
}

TestEnv::~TestEnv() {
    FileUtils* files = FileUtils::instance();
    if (!previousLauncherDir_.empty()) files->setLauncherDirectory(previousLauncherDir_);
    files->setWritableDirectory("");
    files->clearPathCache();
    LauncherConfig::instance()->reset();
    for (const auto& [name, value] : savedEnv_) {
        if (value.first) {
            setEnv(name, value.second);
        } else {
            unsetEnv(name);
        }
    }
    if (!root_.empty()) removeTree(root_);
}

bool TestEnv::writeFile(const std::string& relative, const std::string& bytes) const {
    const std::string full = path(relative);
    const size_t slash = full.find_last_of('/');
    if (slash != std::string::npos) makeDirs(full.substr(0, slash));
    std::ofstream out(pathOf(full), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::string TestEnv::readFile(const std::string& relative) const {
    return test::readFile(path(relative));
}

bool TestEnv::exists(const std::string& relative) const {
    std::error_code ec;
    return fs::symlink_status(pathOf(path(relative)), ec).type() != fs::file_type::not_found && !ec;
}

bool TestEnv::writeConfig(const std::string& jsonText) const {
    return writeFile("launcher.cfg", jsonText);
}

bool TestEnv::loadConfig() const {
    LauncherConfig::instance()->reset();
    FileUtils::instance()->clearPathCache();
    return LauncherConfig::instance()->load();
}

namespace {

#ifdef _WIN32
// Windows has no permission bits to compare; the read-only attribute stands for them.
void snapshotInto(const std::string& dir, const std::string& prefix,
                  std::map<std::string, std::string>* out) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(pathOf(dir), ec); !ec && it != fs::end(it); it.increment(ec)) {
        const std::string name = utf8Of(it->path().filename());
        const std::string path = dir + "/" + name;
        const DWORD attributes = GetFileAttributesW(it->path().c_str());
        std::string value = (attributes & FILE_ATTRIBUTE_READONLY) ? "ro " : "rw ";
        if (it->is_directory(ec)) {
            (*out)[prefix + name] = value + "dir";
            snapshotInto(path, prefix + name + "/", out);
        } else {
            (*out)[prefix + name] = value + readFile(path);
        }
    }
}
#else
void snapshotInto(const std::string& dir, const std::string& prefix,
                  std::map<std::string, std::string>* out) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        std::string value = std::to_string(st.st_mode & 07777) + " ";
        if (S_ISDIR(st.st_mode)) {
            (*out)[prefix + name] = value + "dir";
            snapshotInto(path, prefix + name + "/", out);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(path.c_str(), target, sizeof target);
            (*out)[prefix + name] =
                value + "link -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else {
            std::ifstream in(path, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            (*out)[prefix + name] = value + bytes.str();
        }
    }
    closedir(d);
}

#endif

}  // namespace

std::map<std::string, std::string> treeSnapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    snapshotInto(dir, "", &out);
    return out;
}

}  // namespace veltrano::test
