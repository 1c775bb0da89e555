#include "platform/WindowMessage.h"

#include <cstring>

namespace veltrano {

namespace {

template <typename T>
void putLe(std::string& out, T value) {
    auto v = static_cast<uint64_t>(value);
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

template <typename T>
T getLe(const unsigned char* p) {
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(p[i]) << (8 * i);
    return static_cast<T>(v);
}

}  // namespace

std::string windowEndpointName(int64_t windowId) {
    return std::string(1, '\0') + "veltrano-window-" + std::to_string(windowId);
}

std::string encodeCopyData(int64_t senderWindow, uint64_t dwData, const void* data, uint32_t size) {
    std::string out;
    out.reserve(kCopyDataHeaderSize + size);
    putLe(out, kWmCopyData);
    putLe(out, senderWindow);
    putLe(out, dwData);
    putLe(out, size);
    if (size) out.append(static_cast<const char*>(data), size);
    return out;
}

std::optional<CopyDataMessage> decodeCopyData(const void* bytes, size_t size) {
    if (size < kCopyDataHeaderSize) return std::nullopt;
    const auto* p = static_cast<const unsigned char*>(bytes);
    CopyDataMessage msg;
    msg.message = getLe<uint32_t>(p);
    msg.wordParam = getLe<int64_t>(p + 4);
    msg.dwData = getLe<uint64_t>(p + 12);
    const uint32_t cbData = getLe<uint32_t>(p + 20);
    if (msg.message != kWmCopyData || cbData != size - kCopyDataHeaderSize) return std::nullopt;
    msg.data.assign(reinterpret_cast<const char*>(p + kCopyDataHeaderSize), cbData);
    return msg;
}

}  // namespace veltrano
