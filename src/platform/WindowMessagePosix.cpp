#include "platform/WindowMessage.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace veltrano {

namespace {

// Larger than any datagram the kernel lets through by default.
constexpr size_t kMaxDatagram = 256 * 1024;

socklen_t makeAddress(int64_t windowId, sockaddr_un* addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    const std::string name = windowEndpointName(windowId);
    std::memcpy(addr->sun_path, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
}

}  // namespace

bool sendCopyData(int64_t targetWindow, int64_t senderWindow, uint64_t dwData, const void* data,
                  uint32_t size) {
    if (size > 0 && !data) return false;
    const std::string datagram = encodeCopyData(senderWindow, dwData, data, size);
    if (datagram.size() > kMaxDatagram) return false;

    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // A full receiver queue would block a datagram send; bound the wait.
    timeval timeout{0, 500 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_un addr;
    const socklen_t len = makeAddress(targetWindow, &addr);
    ssize_t sent;
    do {
        sent = sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
                      len);
    } while (sent < 0 && errno == EINTR);
    close(fd);
    return sent == static_cast<ssize_t>(datagram.size());
}

WindowMessageReceiver::WindowMessageReceiver(int64_t windowId) : windowId_(windowId) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    const int on = 1;
    sockaddr_un addr;
    const socklen_t len = makeAddress(windowId, &addr);
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        close(fd);
        return;
    }
    fd_ = fd;
}

bool WindowMessageReceiver::isOpen() const {
    return fd_ >= 0;
}

WindowMessageReceiver::~WindowMessageReceiver() {
    if (fd_ >= 0) close(fd_);
}

std::optional<CopyDataMessage> WindowMessageReceiver::poll() {
    if (fd_ < 0) return std::nullopt;
    if (buffer_.size() != kMaxDatagram) buffer_.resize(kMaxDatagram);
    std::vector<unsigned char>& buf = buffer_;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    for (;;) {
        iovec iov{buf.data(), buf.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd_, &msg, MSG_TRUNC | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;  // EAGAIN: nothing waiting
        }
        bool sameUser = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
                c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
                ucred cred;
                std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
                sameUser = cred.uid == getuid();
            }
        }
        if (!sameUser || (msg.msg_flags & MSG_TRUNC) || static_cast<size_t>(n) > buf.size()) {
            ++rejected_;
            continue;
        }
        if (auto decoded = decodeCopyData(buf.data(), static_cast<size_t>(n))) return decoded;
        ++rejected_;
    }
}

std::optional<CopyDataMessage> WindowMessageReceiver::wait(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (auto msg = poll()) return msg;
        if (fd_ < 0) return std::nullopt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno != EINTR) return std::nullopt;
    }
}

}  // namespace veltrano
