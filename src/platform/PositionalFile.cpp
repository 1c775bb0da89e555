#include "platform/PositionalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltrano {

PositionalFile::~PositionalFile() {
    close();
}

bool PositionalFile::open(const std::string& path, bool create) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd_ < 0) error_ = std::strerror(errno);
    return fd_ >= 0;
}

void PositionalFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool PositionalFile::reset(uint64_t size) {
    if (::ftruncate(fd_, 0) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    // Not posix_fallocate: where reserving is unsupported it would write every block instead.
    if (size > 0 && ::fallocate(fd_, 0, 0, static_cast<off_t>(size)) == 0) return true;
    if (errno == ENOSPC || errno == EFBIG) {
        error_ = std::strerror(errno);
        return false;
    }
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    return true;
}

bool PositionalFile::size(uint64_t* out) {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    *out = static_cast<uint64_t>(st.st_size);
    return true;
}

bool PositionalFile::writeAt(const void* data, size_t n, uint64_t offset) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
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
        ssize_t r = ::pread(fd_, p + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<long long>(got);
}

}  // namespace veltrano
