#include "config/Log.h"

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
#include "platform/Console.h"
#include "platform/File.h"
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

    std::string message;
    va_list args;
    va_start(args, format);
    const bool ok = formatMessage(format, args, &message);
    va_end(args);
    if (!ok) return;
    message += '\n';
    if (!consoleClosed && !writeConsoleNoWait(message)) consoleClosed = true;

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
