#pragma once
// Plays the window's timer for in-process tests.

#include <chrono>
#include <functional>
#include <thread>

#include "net/Scheduler.h"

namespace veltrano::test {

// Ticks the Scheduler until done() holds or the limit passes; false when it never held.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::seconds limit = std::chrono::seconds(60)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Scheduler::instance()->tick(0.03f);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace veltrano::test
