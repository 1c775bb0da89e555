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

namespace {

// Starts Xvfb on a display it picks itself (the first free one, claimed under its lock file, so two
// sessions starting at once never share one); the pid once it reports the display, or -1. No reset:
// the server would otherwise restart when its last client leaves, refusing the next one meanwhile.
pid_t startXvfb(int* display) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    std::string error;
    pid_t pid = spawnChild(
        {"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
        fds[1], &error);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    // A safety net only: a first start on a busy machine can take long.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (pid > 0 && std::chrono::steady_clock::now() < end && number.find('\n') == std::string::npos) {
        if (poll(&p, 1, 200) > 0) {
            char buf[32];
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, static_cast<size_t>(n));
        }
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        if (pid > 0) stopChild(pid, SIGTERM);
        return -1;
    }
    *display = std::atoi(number.c_str());
    return pid;
}

}  // namespace

bool XvfbSession::start() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int display = -1;
        pid_t pid = startXvfb(&display);
        if (pid <= 0) continue;
        // Only a display a client reaches counts.
        int status = -1;
        capture(
            {"/usr/bin/env", "DISPLAY=:" + std::to_string(display), "/usr/bin/xdotool", "getdisplaygeometry"},
            &status);
        if (status != 0) {
            stopChild(pid, SIGTERM);
            continue;
        }
        pid_ = pid;
        display_ = ":" + std::to_string(display);
        setenv("DISPLAY", display_.c_str(), 1);
        return true;
    }
    return false;
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

// GTK and WebKit keep their caches until the process exits; in this test program the leak report
// would list only those.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
