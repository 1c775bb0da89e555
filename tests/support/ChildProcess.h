#pragma once
// Programs the tests and benchmarks start beside themselves: servers, the launcher, the updater.
// No test framework in here, so that benchmarks can use it too.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace veltrano::test {

// A started child: its pid, or on Windows its process handle.
#ifdef _WIN32
using ChildId = intptr_t;
#else
using ChildId = pid_t;
#endif

struct ChildOptions {
    int stdoutFd = -1;               // -1: inherited
    int stderrFd = -1;               // -1: inherited
    std::vector<std::string> env{};  // "NAME=value" entries over this process's environment
};

// A new or emptied file for a child's output (not inherited by other children); -1 on failure.
int createOutputFile(const std::string& path);
void closeFile(int fd);

// Starts argv[0] (looked up in PATH when it holds no "/") with the given argv. The child gets
// SIGTERM when the starting thread ends (on Windows it is ended with this process), so nothing
// outlives a crashed test. -1 and *error on failure.
ChildId spawnChild(const std::vector<std::string>& argv, const ChildOptions& options, std::string* error);
inline ChildId spawnChild(const std::vector<std::string>& argv, int stdoutFd, std::string* error) {
    return spawnChild(argv, ChildOptions{.stdoutFd = stdoutFd}, error);
}

// Sends sig (Windows: ends the child at once), waits up to five seconds, then kills. Reaps the child.
void stopChild(ChildId child, int sig);

// Waits for the child's end and reaps it: its exit status, 128 + N when signal N ended it, -1 when it
// cannot be waited for.
int waitChild(ChildId child);
// The same without waiting: false while the child runs.
bool childEnded(ChildId child, int* status);
// Ends the child at once and reaps it.
void killChild(ChildId child);

}  // namespace veltrano::test
