#pragma once
// Windows only: the errno value for a system error, since callers log strerror(errno) on both systems.

#include <windows.h>

#include <cerrno>

namespace veltrano {

inline int errnoFromSystemError(DWORD error) {
    switch (error) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_TOO_LARGE:
            return EFBIG;
        default:
            return EIO;
    }
}

// Sets errno from GetLastError().
inline void setErrnoFromSystem() {
    errno = errnoFromSystemError(GetLastError());
}

}  // namespace veltrano
