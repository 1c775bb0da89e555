#include "support/ChildProcess.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "platform/CommandLine.h"
#include "platform/Wide.h"
#else
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

namespace veltrano::test {

#ifdef _WIN32

int createOutputFile(const std::string& path) {
    return _wopen(toWidePath(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, 0600);
}

void closeFile(int fd) {
    if (fd >= 0) _close(fd);
}

namespace {

// Every child joins one job that ends them all when this process ends, however it ends.
HANDLE childJob() {
    static HANDLE job = [] {
        HANDLE h = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (h) SetInformationJobObject(h, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return h;
    }();
    return job;
}

HANDLE inheritableCopy(int fd, DWORD standard) {
    HANDLE source = fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : GetStdHandle(standard);
    HANDLE copy = nullptr;
    if (source == nullptr || source == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

// This process's environment with the given entries put over it (names compare without case).
std::wstring environmentBlock(const std::vector<std::string>& entries) {
    std::vector<std::wstring> all;
    for (const std::string& e : entries) all.push_back(toWide(e));
    auto nameOf = [](const std::wstring& entry) {
        std::wstring name = entry.substr(0, entry.find(L'=', 1));
        for (auto& c : name) c = static_cast<wchar_t>(towupper(c));
        return name;
    };
    const size_t own = all.size();
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            const std::wstring entry = p;
            bool overridden = false;
            for (size_t i = 0; i < own; ++i) overridden = overridden || nameOf(all[i]) == nameOf(entry);
            if (!overridden) all.push_back(entry);
        }
        FreeEnvironmentStringsW(block);
    }
    std::wstring out;
    for (const std::wstring& e : all) out += e + L'\0';
    return out + L'\0';
}

}  // namespace

ChildId spawnChild(const std::vector<std::string>& argv, const ChildOptions& options, std::string* error) {
    if (argv.empty()) {
        if (error) *error = "nothing to start";
        return -1;
    }
    std::string commandLine;
    for (const std::string& a : argv)
        commandLine += (commandLine.empty() ? "" : " ") + quoteWindowsArgument(a);
    std::wstring command = toWide(commandLine);
    std::wstring environment = environmentBlock(options.env);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const bool redirect = options.stdoutFd >= 0 || options.stderrFd >= 0;
    if (redirect) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inheritableCopy(-1, STD_INPUT_HANDLE);
        startup.hStdOutput = inheritableCopy(options.stdoutFd, STD_OUTPUT_HANDLE);
        startup.hStdError = inheritableCopy(options.stderrFd, STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, redirect,
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, environment.data(),
                                        nullptr, &startup, &info);
    const DWORD code = GetLastError();
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (h) CloseHandle(h);
    }
    if (!started) {
        if (error) *error = "cannot start " + argv[0] + ": system error " + std::to_string(code);
        return -1;
    }
    if (HANDLE job = childJob()) AssignProcessToJobObject(job, info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    return reinterpret_cast<ChildId>(info.hProcess);
}

int waitChild(ChildId child) {
    if (child <= 0) return -1;
    const HANDLE process = reinterpret_cast<HANDLE>(child);
    DWORD code = 0;
    const bool ok =
        WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return ok ? static_cast<int>(code) : -1;
}

bool childEnded(ChildId child, int* status) {
    if (child <= 0) return true;
    if (WaitForSingleObject(reinterpret_cast<HANDLE>(child), 0) != WAIT_OBJECT_0) return false;
    const int code = waitChild(child);
    if (status) *status = code;
    return true;
}

void killChild(ChildId child) {
    if (child <= 0) return;
    TerminateProcess(reinterpret_cast<HANDLE>(child), 137);
    waitChild(child);
}

void stopChild(ChildId child, int) {
    killChild(child);
}

#else

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

int createOutputFile(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void closeFile(int fd) {
    if (fd >= 0) close(fd);
}

ChildId spawnChild(const std::vector<std::string>& argv, const ChildOptions& options, std::string* error) {
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

namespace {

int statusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

}  // namespace

int waitChild(ChildId child) {
    if (child <= 0) return -1;
    int raw = 0;
    while (waitpid(child, &raw, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return statusOf(raw);
}

bool childEnded(ChildId child, int* status) {
    if (child <= 0) return true;
    int raw = 0;
    const pid_t r = waitpid(child, &raw, WNOHANG);
    if (r == 0) return false;
    if (status) *status = r == child ? statusOf(raw) : -1;
    return true;
}

void killChild(ChildId child) {
    if (child <= 0) return;
    kill(child, SIGKILL);
    waitChild(child);
}

void stopChild(ChildId pid, int sig) {
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

#endif

}  // namespace veltrano::test
