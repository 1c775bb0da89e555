#include "net/Scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace veltrano {
namespace {

TEST(SchedulerTest, IdsCountUpAndAreNeverReused) {
    Scheduler s;
    EXPECT_EQ(s.schedule([](float) {}), 0);
    EXPECT_EQ(s.schedule([](float) {}), 1);
    s.unschedule(0);
    s.tick(0.03f);
    EXPECT_EQ(s.schedule([](float) {}), 2);
    EXPECT_EQ(s.size(), 2u);
}

TEST(SchedulerTest, TickCallsInIdOrderWithDt) {
    Scheduler s;
    std::vector<int> calls;
    float seen = 0;
    for (int i = 0; i < 3; ++i)
        s.schedule([&calls, &seen, i](float dt) {
            calls.push_back(i);
            seen = dt;
        });
    s.tick(0.03f);
    EXPECT_EQ(calls, (std::vector<int>{0, 1, 2}));
    EXPECT_FLOAT_EQ(seen, 0.03f);
}

TEST(SchedulerTest, RemovalTakesEffectAtTheNextTick) {
    Scheduler s;
    std::vector<int> calls;
    int second = -1;
    int first = s.schedule([&](float) {
        calls.push_back(0);
        s.unschedule(second);  // later in the order: still called in this tick
    });
    second = s.schedule([&](float) { calls.push_back(1); });
    s.tick(0.03f);
    EXPECT_EQ(calls, (std::vector<int>{0, 1}));
    calls.clear();
    s.unschedule(first);
    s.unschedule(first);  // queued twice
    s.unschedule(12345);  // never registered
    s.tick(0.03f);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(s.size(), 0u);
}

TEST(SchedulerTest, EntriesAddedDuringATickWaitForTheNext) {
    Scheduler s;
    int inner = 0;
    int self = -1;
    self = s.schedule([&](float) {
        s.schedule([&](float) { ++inner; });
        s.unschedule(self);
    });
    s.tick(0.03f);
    EXPECT_EQ(inner, 0);
    s.tick(0.03f);
    EXPECT_EQ(inner, 1);
    s.tick(0.03f);
    EXPECT_EQ(inner, 2);
}

TEST(SchedulerTest, AnEntryMayDestroyWhatItsFunctionCaptured) {
    Scheduler s;
    auto owner = std::make_shared<std::vector<int>>(1000, 7);
    int id = -1;
    int sum = 0;
    id = s.schedule([&s, &id, &owner, &sum, weak = std::weak_ptr<std::vector<int>>(owner)](float) {
        s.unschedule(id);
        owner.reset();  // the owner goes away while its function runs
        sum += weak.expired() ? 1 : 0;
    });
    s.tick(0.03f);
    s.tick(0.03f);
    EXPECT_EQ(sum, 1);
}

TEST(SchedulerTest, ScheduleAndUnscheduleFromOtherThreadsWhileTicking) {
    Scheduler s;
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                int id = s.schedule([&calls](float) { calls.fetch_add(1); });
                if (i % 2) s.unschedule(id);
            }
        });
    }
    std::thread ticker([&] {
        while (!stop.load()) s.tick(0.03f);
    });
    for (auto& w : workers) w.join();
    stop = true;
    ticker.join();
    s.tick(0.03f);
    EXPECT_EQ(s.size(), 400u);
    EXPECT_GT(calls.load(), 0);
}

}  // namespace
}  // namespace veltrano
