#include "platform/PositionalFile.h"

#include <windows.h>

#include <cerrno>

#include "platform/Wide.h"
#include "platform/Win32Error.h"

namespace veltrano {

namespace {

HANDLE handleOf(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string describe(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n > 0 && text ? fromWide(text) : "system error " + std::to_string(error);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
    return out;
}

// Records the last system error both as text and in errno.
std::string lastError() {
    const DWORD error = GetLastError();
    errno = errnoFromSystemError(error);
    return describe(error);
}

OVERLAPPED at(uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// Windows takes at most 4 GiB less one byte in one call.
constexpr size_t kMaxCall = 1u << 30;

}  // namespace

PositionalFile::~PositionalFile() {
    close();
}

bool PositionalFile::open(const std::string& path, bool create) {
    close();
    // Shared like a POSIX descriptor: another reader or a rename of the finished file is not refused.
    HANDLE h = CreateFileW(toWidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = lastError();
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool PositionalFile::openForReading(const std::string& path) {
    close();
    // Without backup semantics a folder cannot be opened, so what opens is a file.
    HANDLE h = CreateFileW(toWidePath(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = lastError();
        return false;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        error_ = "not a file";
        CloseHandle(h);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

void PositionalFile::close() {
    if (handle_ != -1) CloseHandle(handleOf(handle_));
    handle_ = -1;
}

bool PositionalFile::reset(uint64_t size) {
    HANDLE h = handleOf(handle_);
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = 0;
    if (!SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end)) {
        error_ = lastError();
        return false;
    }
    if (size == 0) return true;
    // Reserving the clusters first keeps a later write from failing for space.
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(h, FileAllocationInfo, &allocation, sizeof allocation)) {
        const DWORD error = GetLastError();
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_FILE_TOO_LARGE) {
            SetLastError(error);
            error_ = lastError();
            return false;
        }
    }
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end)) {
        error_ = lastError();
        return false;
    }
    return true;
}

bool PositionalFile::size(uint64_t* out) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handleOf(handle_), &size)) {
        error_ = lastError();
        return false;
    }
    *out = static_cast<uint64_t>(size.QuadPart);
    return true;
}

void PositionalFile::startWriteOut(uint64_t, uint64_t) {
    // Windows has no way to start the writing without waiting for it; its cache writes on its own.
}

bool PositionalFile::writeAt(const void* data, size_t n, uint64_t offset) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        OVERLAPPED o = at(offset);
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(n < kMaxCall ? n : kMaxCall);
        if (!WriteFile(handleOf(handle_), p, chunk, &written, &o)) {
            lastError();
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        p += written;
        n -= written;
        offset += written;
    }
    return true;
}

long long PositionalFile::readAt(void* data, size_t n, uint64_t offset) {
    char* p = static_cast<char*>(data);
    size_t got = 0;
    while (got < n) {
        OVERLAPPED o = at(offset + got);
        DWORD read = 0;
        const size_t left = n - got;
        const DWORD chunk = static_cast<DWORD>(left < kMaxCall ? left : kMaxCall);
        if (!ReadFile(handleOf(handle_), p + got, chunk, &read, &o)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            lastError();
            return -1;
        }
        if (read == 0) break;
        got += read;
    }
    return static_cast<long long>(got);
}

}  // namespace veltrano
