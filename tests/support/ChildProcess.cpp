#include "support/ChildProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace veltrano::test {

namespace {

std::string findInPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start);
        candidate = (candidate.empty() ? "." : candidate) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return name;
}

}  // namespace

pid_t spawnChild(const std::vector<std::string>& argv, const ChildOptions& options, std::string* error) {
    if (argv.empty()) {
        if (error) *error = "nothing to start";
        return -1;
    }
    // Everything the child needs is prepared here: after fork only async-signal-safe calls.
    const std::string program = findInPath(argv[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText = options.env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool overridden = false;
        for (const std::string& x : options.env) overridden = overridden || x.rfind(name, 0) == 0;
        if (!overridden) envText.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        if (error) *error = std::string("fork: ") + std::strerror(errno);
        return -1;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (options.stdoutFd >= 0) dup2(options.stdoutFd, STDOUT_FILENO);
        if (options.stderrFd >= 0) dup2(options.stderrFd, STDERR_FILENO);
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

void stopChild(pid_t pid, int sig) {
    if (pid <= 0) return;
    kill(pid, sig);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace veltrano::test
