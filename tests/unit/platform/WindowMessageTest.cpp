#include "platform/WindowMessage.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <random>

namespace veltrano {
namespace {

// Ids unique enough that parallel test processes never share an endpoint.
int64_t freshId() {
    static std::mt19937_64 rng(std::random_device{}());
    return static_cast<int64_t>(rng() >> 2) + 1;
}

#ifndef _WIN32
bool sendRaw(int64_t target, const std::string& bytes) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string name = windowEndpointName(target);
    std::memcpy(addr.sun_path, name.data(), name.size());
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    const bool ok = sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&addr), len) ==
                    static_cast<ssize_t>(bytes.size());
    close(fd);
    return ok;
}
#endif

TEST(CopyDataFormat, HeaderLayoutIsLittleEndianWithoutPadding) {
    const std::string payload = "hi";
    const std::string bytes = encodeCopyData(-2, 0x0102030405060708ull, payload.data(), 2);
    ASSERT_EQ(bytes.size(), 26u);
    const unsigned char want[] = {0x4A, 0,    0,    0,                             // message id
                                  0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // word parameter -2
                                  8,    7,    6,    5,    4,    3,    2,    1,     // dwData
                                  2,    0,    0,    0,                             // cbData
                                  'h',  'i'};
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(want), sizeof want));

    auto back = decodeCopyData(bytes.data(), bytes.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->wordParam, -2);
    EXPECT_EQ(back->dwData, 0x0102030405060708ull);
    EXPECT_EQ(back->data, payload);
    EXPECT_EQ(windowEndpointName(42), std::string("\0veltrano-window-42", 19));
}

TEST(CopyDataFormat, MalformedDatagramsAreRefused) {
    const std::string good = encodeCopyData(1, 1, "abc", 3);
    EXPECT_FALSE(decodeCopyData(good.data(), 23));
    EXPECT_FALSE(decodeCopyData(good.data(), good.size() - 1)) << "cbData larger than the payload";
    std::string longer = good + "x";
    EXPECT_FALSE(decodeCopyData(longer.data(), longer.size())) << "cbData smaller than the payload";
    std::string otherMessage = good;
    otherMessage[0] = 0x10;
    EXPECT_FALSE(decodeCopyData(otherMessage.data(), otherMessage.size()));
    const std::string empty = encodeCopyData(0, 0, nullptr, 0);
    ASSERT_TRUE(decodeCopyData(empty.data(), empty.size()));
}

TEST(WindowMessages, DeliveredToTheReceiverOfTheId) {
    WindowMessageReceiver receiver(freshId());
    ASSERT_TRUE(receiver.isOpen());
    const int64_t id = receiver.windowId();
    EXPECT_FALSE(receiver.poll());

    const std::string payload("a\0b", 3);
    ASSERT_TRUE(sendCopyData(id, 777, 9, payload.data(), 3));
    ASSERT_TRUE(sendCopyData(id, 778, 10, nullptr, 0));
    auto first = receiver.wait(2000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->message, kWmCopyData);
    EXPECT_EQ(first->wordParam, 777);
    EXPECT_EQ(first->dwData, 9u);
    EXPECT_EQ(first->data, payload);
    auto second = receiver.poll();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->wordParam, 778);
    EXPECT_TRUE(second->data.empty());
    EXPECT_FALSE(receiver.wait(20)) << "nothing else was sent";
}

TEST(WindowMessages, NobodyListening) {
    const int64_t id = freshId();
    EXPECT_FALSE(sendCopyData(id, 1, 1, "x", 1));
    int64_t gone = 0;
    {
        WindowMessageReceiver receiver(id);
        ASSERT_TRUE(receiver.isOpen());
        gone = receiver.windowId();
#ifndef _WIN32  // Windows names its windows itself: every receiver gets a handle of its own.
        WindowMessageReceiver twin(id);
        EXPECT_FALSE(twin.isOpen()) << "an id has one receiver";
        EXPECT_FALSE(twin.poll());
        EXPECT_FALSE(twin.wait(10));
#endif
    }
    EXPECT_FALSE(sendCopyData(gone, 1, 1, "x", 1)) << "the endpoint goes away with its receiver";
}

#ifdef _WIN32
TEST(WindowMessages, DatagramChecks) {
    GTEST_SKIP() << "tested on Linux only: malformed and foreign datagrams belong to the Linux transport; "
                    "Windows delivers WM_COPYDATA itself";
}
#else

TEST(WindowMessages, MalformedDatagramsAreSkipped) {
    const int64_t id = freshId();
    WindowMessageReceiver receiver(id);
    ASSERT_TRUE(receiver.isOpen());
    ASSERT_TRUE(sendRaw(id, "short"));
    std::string bad = encodeCopyData(5, 5, "abc", 3);
    bad.pop_back();
    ASSERT_TRUE(sendRaw(id, bad));
    ASSERT_TRUE(sendCopyData(id, 6, 6, "ok", 2));
    auto msg = receiver.wait(2000);
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->wordParam, 6);
    EXPECT_EQ(msg->data, "ok");
    EXPECT_EQ(receiver.rejected(), 2u);
}

TEST(WindowMessages, OtherUsersAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to send as another user";
    const int64_t id = freshId();
    WindowMessageReceiver receiver(id);
    ASSERT_TRUE(receiver.isOpen());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        _exit(sendCopyData(id, 66, 1, "evil", 4) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the foreign datagram was sent";
    ASSERT_TRUE(sendCopyData(id, 67, 1, "mine", 4));
    auto msg = receiver.wait(2000);
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->wordParam, 67);
    EXPECT_EQ(receiver.rejected(), 1u);
}

#endif

}  // namespace
}  // namespace veltrano
