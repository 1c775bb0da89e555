#pragma once
// The way back to the UI thread: functions registered here are called by the window's timer tick.

#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace veltrano {

class Scheduler {
public:
    using Function = std::function<void(float dt)>;

    // The process-wide instance; never destroyed.
    static Scheduler* instance();

    Scheduler() = default;
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // Ids count up from 0 and are never reused. Callable from any thread.
    int schedule(Function fn);
    // The entry stays callable until the start of the next tick. Unknown or repeated ids are harmless.
    void unschedule(int id);
    // UI thread only: drops the entries queued for removal, then calls every remaining entry in id
    // order. Entries added during the tick wait for the next one.
    void tick(float dt);

    // Registered entries, including those queued for removal.
    size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<int, Function> entries_;
    std::vector<int> removals_;
    int nextId_ = 0;
};

}  // namespace veltrano
