#pragma once
// Processes of the current user: finding them by executable name, ending them, starting new ones.

#include <sys/types.h>

#include <string>
#include <vector>

namespace veltrano {

struct ProcessEntry {
    pid_t pid = 0;
    // Base name of the executable; the kernel's short command name when the executable is unreadable.
    std::string exeName;
    // Full path of the executable; empty when it cannot be read.
    std::string exePath;
};

// Everything left to read from the descriptor. False on a read error, which for a /proc file means
// its process ended; never throws.
bool readToEnd(int fd, std::string* out);

// Full path of a running process's executable, the same after the file was replaced or removed on
// disk; empty when it cannot be read.
std::string processExecutablePath(pid_t pid);

// Every process of the current user except the calling one, in ascending pid order.
std::vector<ProcessEntry> listUserProcesses();

// Ends the process at once (SIGKILL). False when it could not be signalled.
bool killProcess(pid_t pid);

// Starts argv[0] with the given arguments in a new session, so it outlives its starter; no shell is
// involved and no descriptor beyond the standard three is passed on. A name without "/" is looked up
// in PATH. workingDirectory empty = inherit. True and *pid on success; false and *error (an errno
// value) otherwise.
bool spawnProcess(const std::vector<std::string>& argv, const std::string& workingDirectory, pid_t* pid,
                  int* error);

// Executable name of the parent process (basename of its executable, else its command name); empty
// when it cannot be found.
std::string findParentProcessExeName();

}  // namespace veltrano
