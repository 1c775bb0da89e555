#include "config/Log.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "config/LauncherConfig.h"
#include "util/Encoding.h"

namespace veltrano {

namespace {

constexpr size_t kFirstBuffer = 16384;
// One entry quotes at most this much; whatever a server sends cannot flood the log.
constexpr size_t kMaxMessage = 65536;

std::mutex& logLock() {
    static std::mutex* lock = new std::mutex();
    return *lock;
}

// Set once standard output turned out closed: the console copy ends there, the file goes on.
bool consoleClosed = false;

// False when the entry has to be dropped.
bool formatMessage(const char* format, va_list args, std::string* out) {
    std::vector<char> buffer;
    size_t size = kFirstBuffer;
    for (;;) {
        try {
            buffer.resize(size);
        } catch (const std::bad_alloc&) {
            return false;
        }
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (n < 0) return false;
        const size_t full = static_cast<size_t>(n);
        // One byte past the cut shows whether the cut falls inside a character.
        const size_t wanted = std::min(full, kMaxMessage + 1);
        if (wanted >= size) {
            size = wanted + 1;
            continue;
        }
        out->assign(buffer.data(), wanted);
        if (full > kMaxMessage) {
            out->resize(utf8CutLength(*out, kMaxMessage));
            *out += " [" + std::to_string(full - out->size()) + " more bytes not logged]";
        }
        return true;
    }
}

// Never waits: a reader that does not keep up loses lines, a closed output costs no signal.
void writeConsole(const std::string& bytes) {
    if (consoleClosed) return;
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
}

void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%4d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buf;
}

void writeLog(const char* format, ...) {
    if (!format) return;
    std::lock_guard<std::mutex> guard(logLock());

    std::string message;
    va_list args;
    va_start(args, format);
    const bool ok = formatMessage(format, args, &message);
    va_end(args);
    if (!ok) return;
    message += '\n';
    writeConsole(message);

    const std::string& path = LauncherConfig::instance()->logPath();
    if (path.empty()) return;

    // The file keeps the line ends the text mode of the original platform produced.
    std::string line = timeStamp();
    line += ' ';
    line.reserve(line.size() + message.size() * 2 + 3);
    for (char c : message) {
        if (c == '\n') line += '\r';
        line += c;
    }
    line += "\r\r\n";

    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    writeAll(fd, line);
    ::close(fd);
}

}  // namespace veltrano
