#include "platform/FileUtilsPosix.h"

#include "platform/Desktop.h"
#include "platform/Process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace veltrano {

namespace {

std::string slashes(std::string s) {
    for (auto& c : s) {
        if (c == '\\') c = '/';
    }
    return s;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool makeDirectories(const std::string& path) {
    std::string prefix;
    for (size_t i = 0; i < path.size(); ++i) {
        prefix += path[i];
        if ((path[i] == '/' || i + 1 == path.size()) && prefix != "/") {
            if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return isDirectory(path);
}

bool FileUtilsPosix::init() {
    return FileUtils::init();
}

std::string FileUtilsPosix::executablePath() {
    return processExecutablePath(getpid());
}

std::string FileUtilsPosix::computeLauncherDirectory() {
    const std::string exe = executablePath();
    const size_t slash = exe.find_last_of('/');
    if (slash != std::string::npos) return exe.substr(0, slash + 1);
    // No /proc: the working directory is the best remaining guess.
    std::vector<char> cwd(4096);
    if (getcwd(cwd.data(), cwd.size())) {
        std::string dir = cwd.data();
        if (dir.empty() || dir.back() != '/') dir += '/';
        return dir;
    }
    return "./";
}

std::string FileUtilsPosix::writableDirectory() {
    if (!writableDirectoryOverride_.empty()) return writableDirectoryOverride_;

    std::string name = executablePath();
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);

    const std::string base = userDataDirectory();
    if (!base.empty() && !name.empty()) {
        const std::string dir = base + "/" + name + "/";
        if (makeDirectories(dir)) return dir;
    }
    return launcherDirectory_;
}

std::string FileUtilsPosix::toNativePath(const std::string& path) {
    return path;
}

bool FileUtilsPosix::isAbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return true;
    if (path.size() > 2 && path[1] == ':' &&
        ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z')))
        return true;
    return false;
}

bool FileUtilsPosix::fileExistsInternal(const std::string& path) {
    if (path.empty()) return false;
    struct stat st;
    return stat(anchored(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FileUtilsPosix::directoryExistsInternal(const std::string& path) {
    return !path.empty() && isDirectory(anchored(path));
}

bool FileUtilsPosix::createDirectory(const std::string& path) {
    if (path.empty()) return false;
    if (directoryExists(path)) return true;
    const std::string full = anchored(slashes(path));

    struct stat st;
    if (stat(full.c_str(), &st) == 0) return true;  // something is there already; not replaced

    std::string prefix;
    for (size_t i = 0; i < full.size(); ++i) {
        prefix += full[i];
        const bool pieceEnd = full[i] == '/' || i + 1 == full.size();
        if (!pieceEnd || prefix == "/") continue;
        if (directoryExistsInternal(prefix)) continue;
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool FileUtilsPosix::removeTree(const std::string& dir) {
    // A read-only directory would keep its entries; make it writable first.
    struct stat self;
    if (lstat(dir.c_str(), &self) == 0 && S_ISDIR(self.st_mode) && (self.st_mode & S_IWUSR) == 0)
        chmod(dir.c_str(), (self.st_mode & 07777) | S_IRWXU);

    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    bool ok = true;
    while (dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string child = dir + name;
        struct stat st;
        if (lstat(child.c_str(), &st) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (ok && !removeTree(child + "/")) ok = false;
        } else {
            // Symbolic links are removed, never followed out of the tree.
            if (!S_ISLNK(st.st_mode)) chmod(child.c_str(), 0644);
            if (ok && unlink(child.c_str()) != 0) ok = false;
        }
    }
    closedir(d);
    if (!ok) return false;
    return rmdir(dir.c_str()) == 0;
}

bool FileUtilsPosix::removeDirectory(const std::string& path) {
    if (path.empty()) return false;
    std::string dir = anchored(slashes(path));
    if (dir.back() != '/') dir += '/';
    // A symbolic link named as the directory is not followed.
    struct stat st;
    if (lstat(dir.substr(0, dir.size() - 1).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return removeTree(dir);
}

bool FileUtilsPosix::removeFile(const std::string& path) {
    if (path.empty()) return false;
    return unlink(anchored(path).c_str()) == 0;
}

bool FileUtilsPosix::renameFile(const std::string& oldPath, const std::string& newPath) {
    if (oldPath.empty() || newPath.empty()) return false;
    // rename() replaces an existing target atomically, so the target is never lost on failure.
    return std::rename(anchored(oldPath).c_str(), anchored(newPath).c_str()) == 0;
}

uint64_t FileUtilsPosix::fileSize(const std::string& path) {
    if (path.empty()) return 0;
    struct stat st;
    if (stat(anchored(path).c_str(), &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool FileUtilsPosix::freeSpace(const std::string& path, uint64_t* bytes) {
    struct statvfs st;
    if (path.empty() || statvfs(anchored(path).c_str(), &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
    return true;
}

bool FileUtilsPosix::syncFileSystem(const std::string& path) {
    int fd = open(anchored(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // One call for the whole file system is far cheaper than a flush per extracted file.
    bool ok = syncfs(fd) == 0;
    close(fd);
    return ok;
}

}  // namespace veltrano
