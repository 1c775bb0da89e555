// Stands in for the game: records what it was started with into the folder given after "-workdir".
//   argv.txt   every argument, each followed by a NUL byte
//   facts.txt  "cwd=<dir>", "session_leader=<0|1>", "fds=<open descriptors, comma-separated>"
// Each file appears complete (written beside, then renamed).
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    // Gathered first, before this program opens anything itself.
    const std::string fds = openDescriptors();
    std::string workdir;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-workdir") == 0) workdir = argv[i + 1];
    }
    if (workdir.empty()) return 2;
    std::string args;
    for (int i = 0; i < argc; ++i) {
        args += argv[i];
        args += '\0';
    }
    char cwd[4096] = "";
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
    const std::string facts = std::string("cwd=") + cwd +
                              "\nsession_leader=" + (getsid(0) == getpid() ? "1" : "0") + "\nfds=" + fds +
                              "\n";
    if (!writeWhole(workdir + "/facts.txt", facts)) return 3;
    if (!writeWhole(workdir + "/argv.txt", args)) return 3;
    return 0;
}
