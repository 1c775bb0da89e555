#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace veltrano {

namespace {

void describe(const struct stat& st, PathInfo* info) {
    *info = PathInfo{};
    info->regular = S_ISREG(st.st_mode);
    info->directory = S_ISDIR(st.st_mode);
    info->link = S_ISLNK(st.st_mode);
    info->size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    info->modified = static_cast<int64_t>(st.st_mtime);
    info->permissions = static_cast<unsigned>(st.st_mode & 07777);
}

}  // namespace

FILE* openFile(const std::string& path, const char* mode) {
    if (path.empty() || !mode) return nullptr;
    // "e": close-on-exec, so a started game never holds the launcher's files open.
    std::string m = mode;
    m += 'e';
    return std::fopen(path.c_str(), m.c_str());
}

bool pathInfo(const std::string& path, PathInfo* info, bool followLinks) {
    struct stat st {};
    if (path.empty() || (followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return false;
    if (info) describe(st, info);
    return true;
}

bool openFileInfo(FILE* file, PathInfo* info) {
    struct stat st {};
    if (!file || fstat(fileno(file), &st) != 0) return false;
    if (info) describe(st, info);
    return true;
}

bool setPermissions(const std::string& path, unsigned permissions) {
    return chmod(path.c_str(), static_cast<mode_t>(permissions & 07777)) == 0;
}

FILE* openNewFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        unlink(path.c_str());
        errno = error;
    }
    return file;
}

bool setOpenFilePermissions(FILE* file, unsigned permissions) {
    return file && fchmod(fileno(file), static_cast<mode_t>(permissions & 07777)) == 0;
}

bool closeWrittenFile(FILE* file) {
    if (!file) return false;
    bool ok = std::fflush(file) == 0;
#ifdef __linux__
    // Starts the writing without waiting for it, so that the flush before the files are used finds
    // little left to do.
    if (ok) sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return std::fclose(file) == 0 && ok;
}

bool createDirectoryNoFollow(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0) return true;
    struct stat st {};
    return errno == EEXIST && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool deleteFile(const std::string& path) {
    return !path.empty() && unlink(path.c_str()) == 0;
}

bool appendToFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0 && done == bytes.size();
}

bool isSystemAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

bool localTime(std::time_t t, std::tm* out) {
    return out && localtime_r(&t, out) != nullptr;
}

}  // namespace veltrano
