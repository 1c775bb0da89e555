#pragma once
// What the launcher window needs from the rest of the launcher, as replaceable functions, so the
// window can be driven in tests without servers, reports or a game.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "window/ProgressModel.h"

namespace veltrano {

using LoginHandler = std::function<void(const std::string& uid, const std::string& gameToken,
                                        const std::string& callbackInfo)>;

struct WindowServices {
    // Delivers finished and running HTTP transfers on the UI thread.
    std::function<void(float dt)> tickScheduler;
    // A report; adTrackingId empty means no extra record.
    std::function<void(unsigned dataType, const std::string& adTrackingId)> sendReport;
    std::function<void(bool)> setDownloadComplete;
    std::function<bool()> isDownloadComplete;
    std::function<void(LoginHandler)> setLoginHandler;
    std::function<void(const std::string& message)> onLogin;
    std::function<std::string()> buildWebUrl;
    std::function<void(int64_t windowId)> setSenderWindow;
    std::function<void()> notifyParentClosing;
    // Starts the update run with the window's callback installed.
    std::function<void(std::function<void(unsigned, int, double, double)>)> startUpdater;
    // Download start time and base bytes of the current run, for the speed.
    std::function<int64_t()> downloadStartTime;
    std::function<uint64_t()> baseBytes;
    // Starts the game; true when it runs and the launcher should end.
    std::function<bool(const std::string& uid, const std::string& gameToken, const std::string& callbackInfo)>
        startGame;
    // Whole seconds since 1970.
    std::function<int64_t()> now;
};

// The launcher's real services.
WindowServices defaultWindowServices();

// The window's clock: services.now, else the system clock.
int64_t windowNow(const WindowServices& services);

// The model's frame at the window's clock, with the current run's download start and base bytes.
ViewFrame currentFrame(ProgressModel& model, const WindowServices& services);

// Starts the update run with the model as the updater's callback. The model is shared: the callback
// may outlive the window and runs on other threads.
void startUpdate(const WindowServices& services, const std::shared_ptr<ProgressModel>& model);

// What one poll of the progress model tells the rest of the launcher, whatever toolkit draws the
// window: the finish is published, an error reported with its code, the speed reported as 1015 with
// speedText (and logged). Showing the error and telling the page stay with the window.
void reportPoll(const ProgressModel::PollResult& poll, const std::string& speedText,
                const WindowServices& services);

}  // namespace veltrano
