#pragma once
// What the launcher window knows about the update run, and what it does about it each tick,
// without any drawing: the window feeds it the clock and acts on its answers.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "window/ViewMath.h"

namespace veltrano {

// The four values of the last updater report. The extraction thread writes them while the UI
// thread reads them, so each is published whole; no order among them is relied on.
struct UpdaterSnapshot {
    std::atomic<double> total{0};
    std::atomic<double> done{0};
    std::atomic<unsigned> state{0};
    std::atomic<int> code{0};

    void store(unsigned newState, int newCode, double newTotal, double newDone);
};

// One composed picture of the window's dynamic parts; equal frames need no redraw.
struct ViewFrame {
    FillRect fill;
    bool hasText = false;
    std::string text;

    bool operator==(const ViewFrame& o) const {
        return fill.x == o.fill.x && fill.y == o.fill.y && fill.width == o.fill.width &&
               fill.height == o.fill.height && hasText == o.hasText && text == o.text;
    }
    bool operator!=(const ViewFrame& o) const { return !(*this == o); }
};

class ProgressModel {
public:
    // Window state after the finish has been seen; the updater itself never reports it.
    static constexpr unsigned kFinishSeen = 4;
    static constexpr int kErrorShown = 1100;

    ProgressModel(const SkinLayout& layout, std::vector<std::string> texts);

    UpdaterSnapshot& snapshot() { return snapshot_; }
    // The updater callback: stores only.
    void onUpdaterEvent(unsigned state, int code, double total, double done) {
        snapshot_.store(state, code, total, done);
    }

    // The bar and the status line for the current snapshot; also refreshes the speed text.
    ViewFrame frame(int64_t now, int64_t downloadStartTime, uint64_t baseBytes);

    struct PollResult {
        bool downloadComplete = false;  // the finish was seen just now
        int errorCode = 0;              // an error to report and show, once
        bool speedReport = false;       // a speed report with speedText() is due
    };
    PollResult poll(int64_t now);

    const std::string& speedText() const { return speedText_; }

private:
    SkinLayout layout_;
    std::vector<std::string> texts_;
    UpdaterSnapshot snapshot_;
    int64_t lastSpeedReport_ = 0;
    std::string speedText_;
};

}  // namespace veltrano
