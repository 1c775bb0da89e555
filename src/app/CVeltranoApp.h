#pragma once
// The launcher's application object: everything that happens before the first window, then the
// owner dialog's loop, which is the launcher's only main loop.

#include <functional>
#include <string>
#include <vector>

#include "platform/SingleInstance.h"

namespace veltrano {

class CVeltranoApp {
public:
    CVeltranoApp(int argc, char** argv);
    CVeltranoApp(const CVeltranoApp&) = delete;
    CVeltranoApp& operator=(const CVeltranoApp&) = delete;

    // Runs the owner dialog until it ends. Without one, start-up ends after its preparations.
    void setOwnerDialogRunner(std::function<void()> runner);

    // The start-up routine. Always false: the process ends once it returns. A second launcher
    // returns at once without touching anything.
    bool InitInstance();
    int ExitInstance();

    const std::string& userName() const { return userName_; }
    // False when another launcher was running, so this one did nothing.
    bool ranStartup() const { return ranStartup_; }

private:
    std::vector<std::string> arguments_;
    std::function<void()> ownerDialogRunner_;
    std::string userName_;
    SingleInstance instanceMutex_;
    bool ranStartup_ = false;
};

}  // namespace veltrano
