#include "TestEnv.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "config/LauncherConfig.h"
#include "platform/FileUtils.h"

namespace veltrano::test {

namespace {

const char* const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR",
                                  "XDG_DESKTOP_DIR"};

void makeDirs(const std::string& path, mode_t mode = 0755) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), mode);
    }
}

// Removes a tree even when tests left read-only folders in it; never follows links.
void removeAll(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    chmod(path.c_str(), 0700);
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") removeAll(path + "/" + name);
        }
        closedir(d);
    }
    rmdir(path.c_str());
}

}  // namespace

TestEnv::TestEnv() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/veltrano-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        ADD_FAILURE() << "cannot create a temporary folder from " << pattern;
        return;
    }
    root_ = buf.data();

    const std::string values[] = {root_ + "/home", root_ + "/data", root_ + "/config", root_ + "/runtime",
                                  root_ + "/Desktop"};
    for (size_t i = 0; i < std::size(kVariables); ++i) {
        const char* old = std::getenv(kVariables[i]);
        savedEnv_.push_back({kVariables[i], {old != nullptr, old ? old : ""}});
        makeDirs(values[i], i == 3 ? 0700 : 0755);
        setenv(kVariables[i], values[i].c_str(), 1);
    }

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
            setenv(name.c_str(), value.second.c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    if (!root_.empty()) removeAll(root_);
}

bool TestEnv::writeFile(const std::string& relative, const std::string& bytes) const {
    const std::string full = path(relative);
    const size_t slash = full.find_last_of('/');
    if (slash != std::string::npos) makeDirs(full.substr(0, slash));
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::string TestEnv::readFile(const std::string& relative) const {
    std::ifstream in(path(relative), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TestEnv::exists(const std::string& relative) const {
    struct stat st;
    return lstat(path(relative).c_str(), &st) == 0;
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

}  // namespace

std::map<std::string, std::string> treeSnapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    snapshotInto(dir, "", &out);
    return out;
}

}  // namespace veltrano::test
