#include "update/FlushBehind.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

using namespace veltrano;

namespace {

// A flush that holds until the test lets it go, so every step is ordered by conditions alone.
struct HeldFlush {
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    int released = 0;
    int ended = 0;

    void operator()() {
        std::unique_lock<std::mutex> lock(mutex);
        const int mine = ++started;
        changed.notify_all();
        changed.wait(lock, [&] { return released >= mine; });
        ++ended;
        changed.notify_all();
    }
    void waitStarted(int n) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return started >= n; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        ++released;
        changed.notify_all();
    }
    int count(int HeldFlush::*field) {
        std::lock_guard<std::mutex> lock(mutex);
        return this->*field;
    }
};

}  // namespace

TEST(FlushBehind, FlushesPerStepOnItsOwnThreadAndOnceMoreForStepsWrittenMeanwhile) {
    HeldFlush held;
    std::optional<FlushBehind> flusher(std::in_place, 100, [&] { held(); });
    flusher->wrote(60);
    flusher->wrote(39);
    flusher->wrote(1);  // the first step is whole
    held.waitStarted(1);
    flusher->wrote(250);  // two and a half steps while the flush runs: one more flush
    held.release();
    held.waitStarted(2);
    EXPECT_EQ(held.count(&HeldFlush::ended), 1);
    std::thread ending([&] { flusher.reset(); });
    held.release();
    ending.join();
    EXPECT_EQ(held.count(&HeldFlush::started), 2);
    EXPECT_EQ(held.count(&HeldFlush::ended), 2);
}
