#pragma once
// An X server of the test's own on a free display, and small process helpers for window tests.

#include <string>
#include <vector>

#include <sys/types.h>

namespace veltrano::test {

class XvfbSession {
public:
    XvfbSession() = default;
    ~XvfbSession();
    XvfbSession(const XvfbSession&) = delete;
    XvfbSession& operator=(const XvfbSession&) = delete;

    // Starts Xvfb on a display it picks itself and points DISPLAY at it. False when it did not come up.
    bool start();
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// One X server for the whole test program, started on first use: GTK keeps its display open for
// the life of the process, so a later server could not replace it.
XvfbSession* sharedXvfb();

// Runs a program to its end and returns its standard output; exitStatus gets the wait status.
std::string capture(const std::vector<std::string>& argv, int* exitStatus = nullptr);

}  // namespace veltrano::test
