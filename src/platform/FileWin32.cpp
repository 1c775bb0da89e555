#include "platform/File.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>

#include "platform/Wide.h"
#include "platform/Win32Error.h"

namespace veltrano {

namespace {

int64_t unixSeconds(const FILETIME& t) {
    const uint64_t ticks = (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    // 100 ns ticks since 1601-01-01.
    return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

void describe(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& written, PathInfo* info) {
    *info = PathInfo{};
    info->directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->regular = !info->directory && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
    info->size = info->directory ? 0 : (uint64_t(sizeHigh) << 32) | sizeLow;
    info->modified = unixSeconds(written);
    info->permissions = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    if (info->directory) info->permissions |= 0111;
}

}  // namespace

FILE* openFile(const std::string& path, const char* mode) {
    if (path.empty() || !mode) return nullptr;
    return _wfopen(toWide(path).c_str(), toWide(mode).c_str());
}

bool pathInfo(const std::string& path, PathInfo* info, bool followLinks) {
    if (path.empty()) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data)) return false;
    if (info) {
        describe(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime, info);
        info->link = !followLinks && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    return true;
}

bool openFileInfo(FILE* file, PathInfo* info) {
    if (!file) return false;
    const intptr_t handle = _get_osfhandle(_fileno(file));
    if (handle == -1) return false;
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &data)) return false;
    if (info)
        describe(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime, info);
    return true;
}

bool setPermissions(const std::string& path, unsigned permissions) {
    const std::wstring wide = toWide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    DWORD wanted = (permissions & 0200) ? attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)
                                        : attributes | FILE_ATTRIBUTE_READONLY;
    if (wanted == attributes) return true;
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(wide.c_str(), wanted) != 0;
}

FILE* openNewFile(const std::string& path) {
    if (path.empty()) return nullptr;
    // CREATE_NEW fails on anything at the path, a link included, so nothing is written through one.
    HANDLE h = CreateFileW(toWidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrnoFromSystem();
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(toWidePath(path).c_str());
        return nullptr;
    }
    FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        DeleteFileW(toWidePath(path).c_str());
    }
    return file;
}

bool setOpenFilePermissions(FILE* file, unsigned permissions) {
    if (!file) return false;
    const intptr_t handle = _get_osfhandle(_fileno(file));
    if (handle == -1) return false;
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(reinterpret_cast<HANDLE>(handle), FileBasicInfo, &basic, sizeof basic))
        return false;
    const DWORD was = basic.FileAttributes;
    DWORD wanted =
        (permissions & 0200) ? was & ~DWORD(FILE_ATTRIBUTE_READONLY) : was | FILE_ATTRIBUTE_READONLY;
    if (wanted == was) return true;
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    basic.FileAttributes = wanted;
    return SetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), FileBasicInfo, &basic,
                                      sizeof basic) != 0;
}

bool closeWrittenFile(FILE* file) {
    if (!file) return false;
    bool ok = std::fflush(file) == 0;
    const intptr_t handle = _get_osfhandle(_fileno(file));
    ok = ok && handle != -1 && FlushFileBuffers(reinterpret_cast<HANDLE>(handle));
    return std::fclose(file) == 0 && ok;
}

bool createDirectoryNoFollow(const std::string& path) {
    const std::wstring wide = toWidePath(path);
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExW(toWidePath(from).c_str(), toWidePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    setErrnoFromSystem();
    return false;
}

bool deleteFile(const std::string& path) {
    return !path.empty() && DeleteFileW(toWide(path).c_str()) != 0;
}

bool appendToFile(const std::string& path, const std::string& bytes) {
    // Shared for reading, writing and deleting: a reader of the log never blocks the next line.
    HANDLE file = CreateFileW(toWide(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() ||
                    (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size());
    return CloseHandle(file) && ok;
}

bool isSystemAbsolutePath(const std::string& path) {
    if (path.size() >= 2 && ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z')) &&
        path[1] == ':')
        return true;
    return path.size() >= 2 && (path[0] == '/' || path[0] == '\\') && (path[1] == '/' || path[1] == '\\');
}

std::string absolutePath(const std::string& path) {
    const std::wstring wide = toWide(path);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n) return path;
    full.resize(got);
    std::string out = fromWide(full);
    for (auto& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

bool localTime(std::time_t t, std::tm* out) {
    // The runtime's localtime keeps its result per thread.
    const std::tm* local = out ? std::localtime(&t) : nullptr;
    if (!local) return false;
    *out = *local;
    return true;
}

}  // namespace veltrano
