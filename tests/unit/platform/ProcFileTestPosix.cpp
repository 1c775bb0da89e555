#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/Process.h"

namespace veltrano {
namespace {

// The files the process list reads, opened while the process lived and read after it was reaped:
// the kernel answers ESRCH, which must come back as "gone", never as an exception or an abort.
TEST(ProcFiles, AProcessEndingBetweenOpenAndReadReadsAsGone) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        pause();
        _exit(0);
    }
    const std::string dir = "/proc/" + std::to_string(child) + "/";
    const char* names[] = {"stat", "status", "comm"};
    int fds[3];
    for (int i = 0; i < 3; ++i) fds[i] = open((dir + names[i]).c_str(), O_RDONLY | O_CLOEXEC);
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    for (int i = 0; i < 3; ++i) {
        ASSERT_GE(fds[i], 0) << names[i];
        std::string text = "stale";
        EXPECT_FALSE(readToEnd(fds[i], &text)) << names[i];
        EXPECT_EQ(text, "") << names[i];
        close(fds[i]);
    }

    const int self = open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(self, 0);
    std::string stat;
    EXPECT_TRUE(readToEnd(self, &stat));
    EXPECT_EQ(stat.rfind(std::to_string(getpid()) + " (", 0), 0u) << stat;
    close(self);
}

}  // namespace
}  // namespace veltrano
