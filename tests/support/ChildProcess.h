#pragma once
// Programs the tests and benchmarks start beside themselves: servers, the launcher, the updater.
// No test framework in here, so that benchmarks can use it too.

#include <sys/types.h>

#include <string>
#include <vector>

namespace veltrano::test {

struct ChildOptions {
    int stdoutFd = -1;               // -1: inherited
    int stderrFd = -1;               // -1: inherited
    std::vector<std::string> env{};  // "NAME=value" entries over this process's environment
};

// Starts argv[0] (looked up in PATH when it holds no "/") with the given argv. The child gets
// SIGTERM when the starting thread ends, so nothing outlives a crashed test. -1 and *error on failure.
pid_t spawnChild(const std::vector<std::string>& argv, const ChildOptions& options, std::string* error);
inline pid_t spawnChild(const std::vector<std::string>& argv, int stdoutFd, std::string* error) {
    return spawnChild(argv, ChildOptions{.stdoutFd = stdoutFd}, error);
}

// Sends sig, waits up to five seconds, then kills. Reaps the child.
void stopChild(pid_t pid, int sig);

}  // namespace veltrano::test
