#include "config/Log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

#include "config/LauncherConfig.h"
#include "platform/File.h"

namespace veltrano {

namespace {

constexpr size_t kFirstBuffer = 16384;
constexpr size_t kPiece = 16384;
// A format that keeps failing would otherwise double the buffer forever.
constexpr size_t kMaxBuffer = size_t(1) << 28;

std::mutex& logLock() {
    static std::mutex* lock = new std::mutex();
    return *lock;
}

// False when the entry has to be dropped.
bool formatMessage(const char* format, va_list args, std::vector<char>* out) {
    size_t size = kFirstBuffer;
    for (;;) {
        try {
            out->resize(size);
        } catch (const std::bad_alloc&) {
            return false;
        }
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(out->data(), out->size(), format, copy);
        va_end(copy);
        if (n < 0) {
            if (size >= kMaxBuffer) return false;
            size *= 2;
            continue;
        }
        if (static_cast<size_t>(n) > size - 3) {
            size = static_cast<size_t>(n) + 3;
            continue;
        }
        out->resize(static_cast<size_t>(n));
        return true;
    }
}

}  // namespace

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localTime(now, &local);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%4d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buf;
}

void writeLog(const char* format, ...) {
    if (!format) return;
    std::lock_guard<std::mutex> guard(logLock());

    std::vector<char> message;
    va_list args;
    va_start(args, format);
    const bool ok = formatMessage(format, args, &message);
    va_end(args);
    if (!ok) return;
    message.push_back('\n');

    for (size_t at = 0; at < message.size(); at += kPiece) {
        const size_t len = message.size() - at < kPiece ? message.size() - at : kPiece;
        std::fwrite(message.data() + at, 1, len, stdout);
    }
    std::fflush(stdout);

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

    appendToFile(path, line);
}

}  // namespace veltrano
