#pragma once
// Small helpers shared by the game process tests.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TestUtil.h"

namespace veltrano {

inline std::string helperPath(const std::string& name) {
    return std::string(VELTRANO_TEST_HELPER_DIR) + "/" + name;
}

// A real copy (not a link): the process then runs under the copy's name.
inline bool copyHelper(const std::string& name, const std::string& target) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ec);
    std::filesystem::copy_file(helperPath(name), target, std::filesystem::copy_options::overwrite_existing,
                               ec);
    return !ec && chmod(target.c_str(), 0755) == 0;
}

using test::readFile;

// The NUL-terminated arguments the argv helper recorded.
inline std::vector<std::string> readArgs(const std::string& path) {
    std::vector<std::string> args;
    const std::string bytes = readFile(path);
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\0') {
            args.push_back(bytes.substr(start, i - start));
            start = i + 1;
        }
    }
    return args;
}

// Reaps the child; false when it has not ended within the time limit.
inline bool waitExit(pid_t pid, int* status, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid) return true;
        if (r < 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

inline bool waitForFile(const std::string& path, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (std::filesystem::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace veltrano
