// Stands in for the game: records what it was started with into the folder given after "-workdir".
//   argv.txt   every argument, each followed by a NUL byte
//   facts.txt  "cwd=<dir>", "session_leader=<0|1>", "fds=<open descriptors, comma-separated>"
//              (on Windows only "cwd=<dir>")
// Each file appears complete (written beside, then renamed). Texts are UTF-8 on both systems.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.pop_back();
    return out;
}

std::wstring wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    out.pop_back();
    return out;
}

bool writeWhole(const std::string& path, const std::string& bytes) {
    const std::wstring tmp = wide(path + ".part");
    FILE* f = _wfopen(tmp.c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok && MoveFileExW(tmp.c_str(), wide(path).c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The arguments as the Windows rules split the wide command line.
std::vector<std::string> arguments(int, char**) {
    std::vector<std::string> out;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; list && i < count; ++i) out.push_back(utf8(list[i]));
    LocalFree(list);
    return out;
}

std::string facts() {
    wchar_t cwd[32768] = L"";
    GetCurrentDirectoryW(32768, cwd);
    return "cwd=" + utf8(cwd) + "\n";
}
#else

bool writeWhole(const std::string& path, const std::string& bytes) {
    const std::string tmp = path + ".part";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::string openDescriptors() {
    std::string list;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return "?";
    const int own = dirfd(dir);
    for (dirent* e = readdir(dir); e; e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        int fd = std::atoi(e->d_name);
        if (fd == own) continue;
        if (!list.empty()) list += ",";
        list += e->d_name;
    }
    closedir(dir);
    return list;
}

std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string facts() {
    // Gathered first, before this program opens anything itself.
    const std::string fds = openDescriptors();
    char cwd[4096] = "";
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
    return std::string("cwd=") + cwd + "\nsession_leader=" + (getsid(0) == getpid() ? "1" : "0") +
           "\nfds=" + fds + "\n";
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::string known = facts();
    const std::vector<std::string> args = arguments(argc, argv);
    std::string workdir;
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "-workdir") workdir = args[i + 1];
    }
    if (workdir.empty()) return 2;
    std::string recorded;
    for (const std::string& a : args) {
        recorded += a;
        recorded += '\0';
    }
    if (!writeWhole(workdir + "/facts.txt", known)) return 3;
    if (!writeWhole(workdir + "/argv.txt", recorded)) return 3;
    return 0;
}
