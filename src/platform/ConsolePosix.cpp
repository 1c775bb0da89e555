#include "platform/Console.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>

namespace veltrano {

// Never waits: a reader that does not keep up loses lines, a closed output costs no signal.
bool writeConsoleNoWait(const std::string& bytes) {
    bool consoleClosed = false;
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    size_t done = 0;
    while (done < bytes.size()) {
        pollfd p{STDOUT_FILENO, POLLOUT, 0};
        const int ready = ::poll(&p, 1, 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && (p.revents & (POLLERR | POLLNVAL)) != 0) consoleClosed = true;
        if (ready <= 0 || (p.revents & POLLOUT) == 0) break;
        // At most one pipe buffer, which a writable pipe takes without blocking.
        const ssize_t n =
            ::write(STDOUT_FILENO, bytes.data() + done, std::min<size_t>(bytes.size() - done, PIPE_BUF));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EPIPE || errno == EBADF)) consoleClosed = true;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    if (consoleClosed && !sigismember(&previous, SIGPIPE)) {
        const timespec now{};
        while (sigtimedwait(&pipeSignal, nullptr, &now) > 0) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return !consoleClosed;
}

void ignoreClosedOutputSignal() {
    std::signal(SIGPIPE, SIG_IGN);
}

FILE* detachStandardOutput(bool toStandardError) {
    const int outFd = ::dup(STDOUT_FILENO);
    FILE* out = outFd >= 0 ? ::fdopen(outFd, "w") : nullptr;
    if (out == nullptr) {
        if (outFd >= 0) ::close(outFd);
        return nullptr;
    }
    const int sink = toStandardError ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink >= 0) {
        std::fflush(stdout);
        ::dup2(sink, STDOUT_FILENO);
        ::close(sink);
    }
    return out;
}

bool isTerminal(FILE* stream) {
    return stream && ::isatty(fileno(stream));
}

}  // namespace veltrano
