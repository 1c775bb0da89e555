#include "XvfbSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "support/DevServer.h"

namespace veltrano::test {

XvfbSession::~XvfbSession() {
    if (pid_ > 0) stopChild(pid_, SIGTERM);
}

bool XvfbSession::start() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    std::string error;
    // -displayfd makes Xvfb choose a free display and write its number to the descriptor.
    pid_ = spawnChild({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                      fds[1], &error);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && std::chrono::steady_clock::now() < end && number.find('\n') == std::string::npos) {
        if (poll(&p, 1, 200) > 0) {
            char buf[32];
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, static_cast<size_t>(n));
        }
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) return false;
    display_ = ":" + number.substr(0, number.find('\n'));
    setenv("DISPLAY", display_.c_str(), 1);
    return true;
}

XvfbSession* sharedXvfb() {
    static XvfbSession session;
    static bool started = session.start();
    return started ? &session : nullptr;
}

std::string capture(const std::vector<std::string>& argv, int* exitStatus) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    std::string error;
    pid_t pid = spawnChild(argv, fds[1], &error);
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = -1;
    if (pid > 0) waitpid(pid, &status, 0);
    if (exitStatus) *exitStatus = status;
    return out;
}

}  // namespace veltrano::test
