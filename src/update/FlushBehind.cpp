#include "update/FlushBehind.h"

#include <system_error>
#include <utility>

#include "config/Log.h"

namespace veltrano {

FlushBehind::FlushBehind(uint64_t step, std::function<void()> flush)
    : step_(step), flush_(std::move(flush)) {}

FlushBehind::~FlushBehind() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    wanted_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void FlushBehind::wrote(uint64_t bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unflushed_ += bytes;
        if (unflushed_ < step_ || broken_) return;
        unflushed_ = 0;
        requested_ = true;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error& e) {
                writeLog("no flushing behind the writes: %s", e.what());
                broken_ = true;
            }
            return;
        }
    }
    wanted_.notify_one();
}

void FlushBehind::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wanted_.wait(lock, [this] { return requested_ || ending_; });
        if (ending_) return;
        requested_ = false;
        lock.unlock();
        flush_();
        lock.lock();
    }
}

}  // namespace veltrano
