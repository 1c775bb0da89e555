#include "window/ClosingSequence.h"

#include "config/Log.h"

namespace veltrano {

ClosingSequence::ClosingSequence(Steps& steps, const WindowServices& services)
    : steps_(steps), sendReport_(services.sendReport), notifyParentClosing_(services.notifyParentClosing) {}

void ClosingSequence::requestClose() {
    if (closing_ || loopEnded_) return;
    if (start_ && start_->starting()) {
        if (!closeAfterStart_)
            writeLog("close requested while the game starts: closing once the start ended");
        closeAfterStart_ = true;
        start_->cancel();
        return;
    }
    closing_ = true;
    if (sendReport_) sendReport_(1014, std::string());
    // Waited in the loop, not by blocking it: the report goes out and the windows keep painting.
    steps_.startCloseWait(kWaitMs);
}

void ClosingSequence::gameStartEnded() {
    if (!closeAfterStart_) return;
    closeAfterStart_ = false;
    requestClose();
}

void ClosingSequence::waitEnded() {
    steps_.closeChildren();
    if (notifyParentClosing_) notifyParentClosing_();
    quit();
}

void ClosingSequence::quit() {
    if (loopEnded_) return;
    loopEnded_ = true;
    steps_.endLoop();
}

}  // namespace veltrano
