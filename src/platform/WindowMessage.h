#pragma once
// Window messages between processes. On Windows a window id is a window handle and a copy-data
// message is WM_COPYDATA. Elsewhere a window id is a decimal number naming a local datagram endpoint
// (the abstract Unix socket "\0veltrano-window-<id>"), and a copy-data message is one datagram: u32
// message id, i64 word parameter (the sender's id), u64 dwData, u32 cbData, then cbData bytes;
// little-endian, no padding. Receivers accept only messages sent by the same user.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrano {

constexpr uint32_t kWmCopyData = 0x004A;
constexpr size_t kCopyDataHeaderSize = 24;

struct CopyDataMessage {
    uint32_t message = kWmCopyData;
    int64_t wordParam = 0;  // the sender's window id
    uint64_t dwData = 0;
    std::string data;  // cbData bytes
};

// The endpoint address of a window id, with its leading NUL byte.
std::string windowEndpointName(int64_t windowId);

// The datagram bytes of a copy-data message.
std::string encodeCopyData(int64_t senderWindow, uint64_t dwData, const void* data, uint32_t size);
// Parses one datagram; nothing when it is not a well-formed copy-data message.
std::optional<CopyDataMessage> decodeCopyData(const void* bytes, size_t size);

// Sends a copy-data message to a window. False when nobody listens there or the message cannot be
// delivered within about half a second; never blocks longer.
bool sendCopyData(int64_t targetWindow, int64_t senderWindow, uint64_t dwData, const void* data,
                  uint32_t size);

// The receiving end of one window id. On Windows the system names windows: the receiver is a
// message-only window of its own thread, and windowId() is its handle whatever id was asked for.
class WindowMessageReceiver {
public:
    explicit WindowMessageReceiver(int64_t windowId);
    ~WindowMessageReceiver();
    WindowMessageReceiver(const WindowMessageReceiver&) = delete;
    WindowMessageReceiver& operator=(const WindowMessageReceiver&) = delete;

    // False when the id is taken or the endpoint could not be made.
    bool isOpen() const;
    int64_t windowId() const { return windowId_; }
#ifndef _WIN32
    // Readable when a message may be waiting (for a main loop's watch).
    int fd() const {
        return fd_;
    }
#endif

    // The next accepted message, without waiting.
    std::optional<CopyDataMessage> poll();
    // The next accepted message, waiting at most timeoutMs milliseconds.
    std::optional<CopyDataMessage> wait(int timeoutMs);

    // Datagrams dropped so far: foreign user, no credentials, malformed or oversized.
    size_t rejected() const {
        return rejected_;
    }

private:
    int64_t windowId_ = 0;
    size_t rejected_ = 0;
#ifdef _WIN32
    struct Window;
    std::unique_ptr<Window> window_;
#else
    int fd_ = -1;
    std::vector<unsigned char> buffer_;
#endif
};

}  // namespace veltrano
