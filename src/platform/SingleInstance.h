#pragma once
// One launcher per user session: the named mutex "QRVN_FLASH_Mutex" on Windows, elsewhere an exclusive
// lock on a well-known file. Held while the launcher runs and released by the system when the process
// ends, however it ends.

#include <string>

namespace veltrano {

class SingleInstance {
public:
    SingleInstance() = default;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

    // $XDG_RUNTIME_DIR/QRVN_FLASH_Mutex, or /tmp/QRVN_FLASH_Mutex-<uid> without a runtime folder; on
    // Windows the mutex's name.
    static std::string lockPath();

    // True when this process now holds the lock. False when another process holds it or no lock file
    // could be opened; nothing is written or reported then.
    bool acquire();
    void release();
#ifdef _WIN32
    bool held() const {
        return mutex_ != nullptr;
    }

private:
    void* mutex_ = nullptr;
#else
    bool held() const {
        return fd_ >= 0;
    }

private:
    int fd_ = -1;
#endif
};

}  // namespace veltrano
