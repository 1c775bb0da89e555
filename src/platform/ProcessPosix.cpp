#include "platform/Process.h"

#include "platform/CommandLine.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace veltrano {

namespace {

std::string readLink(const std::string& path) {
    std::string buf(4096, '\0');
    ssize_t len = readlink(path.c_str(), buf.data(), buf.size());
    if (len <= 0 || static_cast<size_t>(len) >= buf.size()) return "";
    buf.resize(static_cast<size_t>(len));
    // An executable replaced on disk (an update) is still the same program.
    static const std::string deleted = " (deleted)";
    if (buf.size() > deleted.size() && buf.compare(buf.size() - deleted.size(), deleted.size(), deleted) == 0)
        buf.resize(buf.size() - deleted.size());
    return buf;
}

std::string baseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A /proc file read whole; false when the process ended before or while it was read.
bool readProcFile(const std::string& path, std::string* out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = readToEnd(fd, out);
    close(fd);
    return ok;
}

std::string readFirstLine(const std::string& path) {
    std::string text;
    if (!readProcFile(path, &text)) return "";
    return text.substr(0, text.find('\n'));
}

// The real user id from /proc/<pid>/status; false when the process is gone or unreadable.
bool readRealUid(const std::string& procDir, uid_t* uid) {
    std::string text;
    if (!readProcFile(procDir + "/status", &text)) return false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 4, "Uid:") == 0) {
            std::istringstream fields(line.substr(4));
            unsigned long value = 0;
            if (!(fields >> value)) return false;
            *uid = static_cast<uid_t>(value);
            return true;
        }
    }
    return false;
}

bool parsePid(const char* name, ProcessId* pid) {
    if (!name || !*name) return false;
    long value = 0;
    for (const char* c = name; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + (*c - '0');
        if (value > 0x7fffffff) return false;
    }
    *pid = static_cast<ProcessId>(value);
    return value > 0;
}

// The state letter of /proc/<pid>/stat; it follows the command name, which may hold ")" itself.
// 'X' (dead) when the process ended meanwhile.
char readState(const std::string& procDir) {
    std::string stat;
    if (!readProcFile(procDir + "/stat", &stat)) return 'X';
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

ProcessEntry describeProcess(ProcessId pid) {
    ProcessEntry entry;
    entry.pid = pid;
    const std::string dir = "/proc/" + std::to_string(pid);
    entry.exePath = processExecutablePath(pid);
    entry.exeName = entry.exePath.empty() ? readFirstLine(dir + "/comm") : baseName(entry.exePath);
    return entry;
}

}  // namespace

bool readToEnd(int fd, std::string* out) {
    out->clear();
    char buf[4096];
    for (;;) {
        const ssize_t got = read(fd, buf, sizeof buf);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            out->clear();
            return false;
        }
        out->append(buf, static_cast<size_t>(got));
    }
}

ProcessId currentProcessId() {
    return getpid();
}

std::string processExecutablePath(ProcessId pid) {
    return readLink("/proc/" + std::to_string(pid) + "/exe");
}

std::vector<ProcessEntry> listUserProcesses() {
    std::vector<ProcessEntry> result;
    DIR* proc = opendir("/proc");
    if (!proc) return result;
    const ProcessId self = getpid();
    const uid_t me = getuid();
    while (dirent* item = readdir(proc)) {
        ProcessId pid = 0;
        if (!parsePid(item->d_name, &pid) || pid == self) continue;
        uid_t owner = 0;
        const std::string dir = std::string("/proc/") + item->d_name;
        if (!readRealUid(dir, &owner) || owner != me) continue;
        // An ended process waiting to be reaped no longer runs anything.
        const char state = readState(dir);
        if (state == 'Z' || state == 'X') continue;
        result.push_back(describeProcess(pid));
    }
    closedir(proc);
    std::sort(result.begin(), result.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return result;
}

bool killProcess(ProcessId pid) {
    if (pid <= 0 || pid == getpid()) return false;
    return kill(pid, SIGKILL) == 0;
}

bool spawnProcess(const std::vector<std::string>& argv, const std::string& workingDirectory, ProcessId* pid,
                  int* error) {
    int dummyError = 0;
    if (!error) error = &dummyError;
    if (argv.empty() || argv[0].empty()) {
        *error = ENOENT;
        return false;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        *error = ENOMEM;
        return false;
    }
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        *error = ENOMEM;
        return false;
    }
    // Only the standard streams go to the child: a held lock or socket must not outlive the launcher.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!workingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    // A clean signal state: the starter may have blocked or ignored signals for its own threads.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    ProcessId child = 0;
    const bool searchPath = argv[0].find('/') == std::string::npos;
    int rc = searchPath ? posix_spawnp(&child, args[0], &actions, &attr, args.data(), environ)
                        : posix_spawn(&child, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *error = rc;
        return false;
    }
    if (pid) *pid = child;
    *error = 0;
    return true;
}

bool startProcess(const std::string& commandLine, const std::string& workingDirectory, ProcessId* pid,
                  int* error) {
    return spawnProcess(splitWindowsCommandLine(commandLine, true), workingDirectory, pid, error);
}

std::string findParentProcessExeName() {
    // The parent pid is the fourth field, after the command name in parentheses (which may hold blanks).
    std::string stat;
    if (!readProcFile("/proc/self/stat", &stat)) return "";
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    long ppid = 0;
    if (!(fields >> state >> ppid) || ppid <= 0) return "";
    return describeProcess(static_cast<ProcessId>(ppid)).exeName;
}

bool lowerCurrentThreadPriority(int levels) {
    // On Linux a nice value belongs to a thread, addressed by its own id.
    const id_t thread = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0) return false;
    return ::setpriority(PRIO_PROCESS, thread, std::min(current + 5 * levels, 19)) == 0;
}

}  // namespace veltrano
