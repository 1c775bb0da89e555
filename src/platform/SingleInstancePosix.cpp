#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace veltrano {

namespace {

constexpr const char* kLockName = "QRVN_FLASH_Mutex";

std::string fallbackLockPath() {
    return "/tmp/" + std::string(kLockName) + "-" + std::to_string(getuid());
}

int openLockFile(const std::string& path) {
    // Close-on-exec: a game started by the launcher must not keep the launcher's lock alive.
    return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

}  // namespace

SingleInstance::~SingleInstance() {
    release();
}

std::string SingleInstance::lockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        std::string dir = runtime;
        if (dir.back() != '/') dir += '/';
        return dir + kLockName;
    }
    return fallbackLockPath();
}

bool SingleInstance::acquire() {
    if (fd_ >= 0) return true;
    std::string path = lockPath();
    int fd = openLockFile(path);
    if (fd < 0 && path != fallbackLockPath()) {
        path = fallbackLockPath();
        fd = openLockFile(path);
    }
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void SingleInstance::release() {
    if (fd_ < 0) return;
    // Closing drops the lock; the file stays so that no two launchers race on its creation.
    close(fd_);
    fd_ = -1;
}

}  // namespace veltrano
