#pragma once
// Processes of the current user: finding them by executable name, ending them, starting new ones.

#include <string>
#include <vector>

namespace veltrano {

// A process id of either system (a pid_t, or a Windows process id).
using ProcessId = int;

ProcessId currentProcessId();

struct ProcessEntry {
    ProcessId pid = 0;
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
std::string processExecutablePath(ProcessId pid);

// Every process of the current user except the calling one, in ascending pid order.
std::vector<ProcessEntry> listUserProcesses();

// Ends the process at once (SIGKILL; on Windows TerminateProcess with exit code 9). Never the calling
// process. False when it could not be ended.
bool killProcess(ProcessId pid);

// Starts argv[0] with the given arguments in a new session, so it outlives its starter; no shell is
// involved and no descriptor beyond the standard three is passed on. A name without "/" is looked up
// in PATH. workingDirectory empty = inherit. True and *pid on success; false and *error (an errno
// value; on Windows the system error) otherwise. On Windows the arguments are quoted into one command
// line by the rules splitWindowsCommandLine reverses.
bool spawnProcess(const std::vector<std::string>& argv, const std::string& workingDirectory, ProcessId* pid,
                  int* error);

// Starts a program from one command line: the quoted program path first, then its arguments. Windows
// hands the text to CreateProcessW in a new console; elsewhere it is split by the Windows rules
// (splitWindowsCommandLine with the program-name rule) and started like spawnProcess.
bool startProcess(const std::string& commandLine, const std::string& workingDirectory, ProcessId* pid,
                  int* error);

// Executable name of the parent process (basename of its executable, else its command name); empty
// when it cannot be found.
std::string findParentProcessExeName();

// The calling thread yields from now on: background work that must not slow the window. Each level
// yields more (five nice steps on Linux, one priority step on Windows). False when refused.
bool lowerCurrentThreadPriority(int levels = 1);

}  // namespace veltrano
