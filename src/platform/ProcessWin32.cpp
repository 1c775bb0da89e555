#include "platform/Process.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/Wide.h"

namespace veltrano {

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The user SID of a process as bytes; empty when it cannot be read.
std::vector<unsigned char> processUser(HANDLE process) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return {};
    Handle token(raw);
    DWORD size = 0;
    GetTokenInformation(raw, TokenUser, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(raw, TokenUser, buffer.data(), size, &size)) return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid)) return {};
    const auto* bytes = static_cast<const unsigned char*>(sid);
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid));
}

const std::vector<unsigned char>& ownUser() {
    static const std::vector<unsigned char> user = processUser(GetCurrentProcess());
    return user;
}

bool sameUser(HANDLE process) {
    const std::vector<unsigned char> user = processUser(process);
    return !user.empty() && user == ownUser();
}

std::string imagePath(HANDLE process) {
    std::wstring buf(32768, L'\0');
    DWORD size = static_cast<DWORD>(buf.size());
    if (!QueryFullProcessImageNameW(process, 0, buf.data(), &size)) return {};
    buf.resize(size);
    return fromWide(buf);
}

template <typename Visit>
void walkProcesses(Visit visit) {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (!visit(entry)) break;
    }
}

bool createProcess(const std::string& commandLine, const std::string& workingDirectory, DWORD flags,
                   ProcessId* pid, int* error) {
    int dummyError = 0;
    if (!error) error = &dummyError;
    std::wstring cmd = toWide(commandLine);
    const std::wstring dir = toWide(workingDirectory);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Handle inheritance off: the launcher's files, locks and sockets stay its own.
    if (cmd.empty() || !CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                       dir.empty() ? nullptr : dir.c_str(), &startup, &info)) {
        *error = cmd.empty() ? ERROR_FILE_NOT_FOUND : static_cast<int>(GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (pid) *pid = static_cast<ProcessId>(info.dwProcessId);
    *error = 0;
    return true;
}

}  // namespace

ProcessId currentProcessId() {
    return static_cast<ProcessId>(GetCurrentProcessId());
}

std::string processExecutablePath(ProcessId pid) {
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    return process ? imagePath(process.get()) : std::string();
}

std::vector<ProcessEntry> listUserProcesses() {
    std::vector<ProcessEntry> result;
    const DWORD self = GetCurrentProcessId();
    walkProcesses([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID == self || entry.th32ProcessID == 0) return true;
        Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        // A process that cannot even be queried belongs to someone else.
        if (!process || !sameUser(process.get())) return true;
        ProcessEntry item;
        item.pid = static_cast<ProcessId>(entry.th32ProcessID);
        item.exeName = fromWide(entry.szExeFile);
        item.exePath = imagePath(process.get());
        result.push_back(std::move(item));
        return true;
    });
    std::sort(result.begin(), result.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return result;
}

bool killProcess(ProcessId pid) {
    if (pid <= 0 || static_cast<DWORD>(pid) == GetCurrentProcessId()) return false;
    Handle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (!process || !sameUser(process.get())) return false;
    return TerminateProcess(process.get(), 9) != 0;
}

bool spawnProcess(const std::vector<std::string>& argv, const std::string& workingDirectory, ProcessId* pid,
                  int* error) {
    if (argv.empty() || argv[0].empty()) {
        if (error) *error = ERROR_FILE_NOT_FOUND;
        return false;
    }
    // The program name is always quoted: it ends at the next quote and never at a blank.
    std::string cmd = "\"" + argv[0] + "\"";
    for (size_t i = 1; i < argv.size(); ++i) cmd += " " + quoteWindowsArgument(argv[i]);
    return createProcess(cmd, workingDirectory, 0, pid, error);
}

bool startProcess(const std::string& commandLine, const std::string& workingDirectory, ProcessId* pid,
                  int* error) {
    return createProcess(commandLine, workingDirectory, CREATE_NEW_CONSOLE, pid, error);
}

std::string findParentProcessExeName() {
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    walkProcesses([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID != self) return true;
        parent = entry.th32ParentProcessID;
        return false;
    });
    std::string name;
    if (parent == 0) return name;
    walkProcesses([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID != parent) return true;
        name = fromWide(entry.szExeFile);
        return false;
    });
    return name;
}

bool lowerCurrentThreadPriority(int levels) {
    return SetThreadPriority(GetCurrentThread(),
                             levels >= 2 ? THREAD_PRIORITY_LOWEST : THREAD_PRIORITY_BELOW_NORMAL) != 0;
}

}  // namespace veltrano
