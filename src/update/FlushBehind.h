#pragma once
// Flushes the file system behind a long run of writes. Making written files durable costs about as
// much as writing them once more to the disk; done in steps while the writing goes on, the flush
// that must come before the files are used finds little left to do.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace veltrano {

class FlushBehind {
public:
    // flush runs on the object's own thread once per step of bytes written; steps written while a
    // flush runs make one more flush after it, not one each.
    FlushBehind(uint64_t step, std::function<void()> flush);
    // Waits for a running flush to end; starts no other.
    ~FlushBehind();
    FlushBehind(const FlushBehind&) = delete;
    FlushBehind& operator=(const FlushBehind&) = delete;

    // Any thread.
    void wrote(uint64_t bytes);

private:
    void run();

    const uint64_t step_;
    const std::function<void()> flush_;
    std::mutex mutex_;
    std::condition_variable wanted_;
    uint64_t unflushed_ = 0;
    bool requested_ = false;
    bool ending_ = false;
    bool broken_ = false;  // the thread could not be started: writing goes on unflushed
    std::thread thread_;   // started with the first step, so short writes cost no thread
};

}  // namespace veltrano
