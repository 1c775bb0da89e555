#pragma once
// Helpers of the Windows tests.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/Wide.h"

namespace veltrano::test {

// Polls a condition until it holds or a generous bound passes; the bound only stops a broken run.
inline bool waitFor(const std::function<bool()>& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The temporary folder with "/" separators and a trailing "/".
inline std::string tempRoot() {
    wchar_t buf[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, buf);
    std::string dir = fromWide(buf);
    for (auto& c : dir) {
        if (c == '\\') c = '/';
    }
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace veltrano::test
