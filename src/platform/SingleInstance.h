#pragma once
// One launcher per user session: an exclusive lock on a well-known file, held while the launcher runs
// and released by the kernel when the process ends, however it ends.

#include <string>

namespace veltrano {

class SingleInstance {
public:
    SingleInstance() = default;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

    // $XDG_RUNTIME_DIR/QRVN_FLASH_Mutex, or /tmp/QRVN_FLASH_Mutex-<uid> without a runtime folder.
    static std::string lockPath();

    // True when this process now holds the lock. False when another process holds it or no lock file
    // could be opened; nothing is written or reported then.
    bool acquire();
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace veltrano
