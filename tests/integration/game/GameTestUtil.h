#pragma once
// Small helpers shared by the game process tests.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "support/TestUtil.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace veltrano {

#ifdef _WIN32
constexpr const char* kExeSuffix = ".exe";
#else
constexpr const char* kExeSuffix = "";
#endif

inline std::string helperPath(const std::string& name) {
    return std::string(VELTRANO_TEST_HELPER_DIR) + "/" + name + kExeSuffix;
}

// A real copy (not a link): the process then runs under the copy's name. target names the program
// as the launcher does; Windows adds ".exe" to the file.
inline bool copyHelper(const std::string& name, const std::string& target) {
    std::error_code ec;
    const std::string file = target + kExeSuffix;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    std::filesystem::copy_file(helperPath(name), file, std::filesystem::copy_options::overwrite_existing, ec);
#ifdef _WIN32
    return !ec;
#else
    return !ec && chmod(file.c_str(), 0755) == 0;
#endif
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

#ifndef _WIN32
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
#endif

// True once a program the launcher started has ended with exit status 0. On Windows, where the
// launcher keeps no handle, a program that ended before it could be opened counts as such when it
// left its last file behind.
inline bool endsCleanly(ProcessId pid, const std::string& lastFile) {
#ifdef _WIN32
    HANDLE process =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return std::filesystem::exists(lastFile);
    DWORD code = 1;
    const bool ended =
        WaitForSingleObject(process, 20000) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return ended && code == 0;
#else
    (void)lastFile;
    int status = 0;
    return waitExit(pid, &status) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
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
