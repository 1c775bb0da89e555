#include "window/ProgressModel.h"

#include <utility>

namespace veltrano {

void UpdaterSnapshot::store(unsigned newState, int newCode, double newTotal, double newDone) {
    total.store(newTotal);
    done.store(newDone);
    state.store(newState);
    code.store(newCode);
}

ProgressModel::ProgressModel(const SkinLayout& layout, std::vector<std::string> texts)
    : layout_(layout), texts_(std::move(texts)) {}

ViewFrame ProgressModel::frame(int64_t now, int64_t downloadStartTime, uint64_t baseBytes) {
    double total = snapshot_.total.load();
    if (total == 0) {
        // Stored back as the window always did; a report arriving meanwhile keeps its own total.
        double expected = 0;
        snapshot_.total.compare_exchange_strong(expected, 1.0);
        total = 1;
    }
    double done = snapshot_.done.load();
    unsigned state = snapshot_.state.load();

    ViewFrame f;
    f.fill = progressFill(layout_, state, total, done);
    if (const std::string* format = progressFormat(texts_, state)) {
        speedText_ = veltrano::speedText(downloadSpeed(done, baseBytes, downloadStartTime, now));
        double percent = done / total * 100;
        if (percent > 100) percent = 100;
        f.hasText = true;
        f.text = formatProgressText(*format, percent, speedText_);
    }
    return f;
}

ProgressModel::PollResult ProgressModel::poll(int64_t now) {
    PollResult r;
    unsigned finish = 3;
    if (snapshot_.state.compare_exchange_strong(finish, kFinishSeen)) r.downloadComplete = true;

    int code = snapshot_.code.load();
    if (code > kErrorShown) {
        // Exchanged rather than stored, so a second error arriving meanwhile is not lost.
        if (snapshot_.code.compare_exchange_strong(code, kErrorShown)) r.errorCode = code;
    } else if (code == 1) {
        if (lastSpeedReport_ == 0) lastSpeedReport_ = now;
        if (now - lastSpeedReport_ > 9) {
            lastSpeedReport_ = now;
            r.speedReport = true;
        }
    }
    return r;
}

}  // namespace veltrano
