#include "platform/PositionalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltrano {

namespace {
int descriptor(intptr_t handle) {
    return static_cast<int>(handle);
}
}  // namespace

PositionalFile::~PositionalFile() {
    close();
}

bool PositionalFile::open(const std::string& path, bool create) {
    close();
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd < 0) error_ = std::strerror(errno);
    handle_ = fd;
    return fd >= 0;
}

bool PositionalFile::openForReading(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = "not a file";
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

void PositionalFile::close() {
    if (handle_ != -1) ::close(descriptor(handle_));
    handle_ = -1;
}

bool PositionalFile::reset(uint64_t size) {
    if (::ftruncate(descriptor(handle_), 0) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    // Not posix_fallocate: where reserving is unsupported it would write every block instead.
    if (size > 0 && ::fallocate(descriptor(handle_), 0, 0, static_cast<off_t>(size)) == 0) return true;
    if (errno == ENOSPC || errno == EFBIG) {
        error_ = std::strerror(errno);
        return false;
    }
    if (::ftruncate(descriptor(handle_), static_cast<off_t>(size)) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    return true;
}

bool PositionalFile::size(uint64_t* out) {
    struct stat st {};
    if (::fstat(descriptor(handle_), &st) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    *out = static_cast<uint64_t>(st.st_size);
    return true;
}

void PositionalFile::startWriteOut(uint64_t offset, uint64_t n) {
#ifdef __linux__
    if (handle_ != -1 && n > 0)
        ::sync_file_range(descriptor(handle_), static_cast<off_t>(offset), static_cast<off_t>(n),
                          SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)n;
#endif
}

bool PositionalFile::writeAt(const void* data, size_t n, uint64_t offset) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::pwrite(descriptor(handle_), p, n, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
    return true;
}

long long PositionalFile::readAt(void* data, size_t n, uint64_t offset) {
    char* p = static_cast<char*>(data);
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::pread(descriptor(handle_), p + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<long long>(got);
}

}  // namespace veltrano
