#include "net/Scheduler.h"

#include <utility>

namespace veltrano {

Scheduler* Scheduler::instance() {
    static Scheduler* scheduler = new Scheduler();
    return scheduler;
}

int Scheduler::schedule(Function fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    int id = nextId_++;
    entries_[id] = std::move(fn);
    return id;
}

void Scheduler::unschedule(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    removals_.push_back(id);
}

void Scheduler::tick(float dt) {
    std::vector<Function> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int id : removals_) entries_.erase(id);
        removals_.clear();
        due.reserve(entries_.size());
        for (const auto& entry : entries_) due.push_back(entry.second);
    }
    // Called on copies outside the lock: an entry may unschedule itself, schedule others, or have its
    // owner deleted while it runs.
    for (auto& fn : due) {
        if (fn) fn(dt);
    }
}

size_t Scheduler::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

}  // namespace veltrano
