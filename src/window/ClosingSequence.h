#pragma once
// How the launcher closes, whatever toolkit draws its windows: report 1014, a wait of 2 s with the
// loop running, the children closed, the portal told, the loop ended. A close requested while the
// main window starts the game calls the start off and closes once the start has ended.

#include <string>

#include "window/LoginGate.h"
#include "window/WindowServices.h"

namespace veltrano {

class ClosingSequence {
public:
    static constexpr unsigned kWaitMs = 2000;

    // What the owner dialog does with its toolkit.
    class Steps {
    public:
        // Calls waitEnded() once `milliseconds` have passed, with the loop running meanwhile.
        virtual void startCloseWait(unsigned milliseconds) = 0;
        virtual void closeChildren() = 0;
        // Asks the loop to end; called once.
        virtual void endLoop() = 0;

    protected:
        virtual ~Steps() = default;
    };

    ClosingSequence(Steps& steps, const WindowServices& services);

    // The main window's game start, which a close request waits for; null for none.
    void watch(LoginGate* start) { start_ = start; }

    // A close request; ignored while closing or once the loop has ended.
    void requestClose();
    void gameStartEnded();
    // The end of the wait: the rest of the sequence.
    void waitEnded();
    // Ends the loop without the sequence (the game started, or a quit request).
    void quit();
    // The loop ended by itself.
    void loopStopped() { loopEnded_ = true; }

    bool closing() const { return closing_; }
    // The loop has been asked to end (or will not start).
    bool loopEnded() const { return loopEnded_; }

private:
    Steps& steps_;
    decltype(WindowServices::sendReport) sendReport_;
    decltype(WindowServices::notifyParentClosing) notifyParentClosing_;
    LoginGate* start_ = nullptr;
    bool closing_ = false;
    bool closeAfterStart_ = false;
    bool loopEnded_ = false;
};

}  // namespace veltrano
