#include "window/ProgressModel.h"

#include <gtest/gtest.h>

#include <thread>

namespace veltrano {
namespace {

SkinLayout layout400() {
    SkinLayout l;
    l.processBgWidth = 400;
    l.processBgHeight = 20;
    l.processWidth = 400;
    l.processHeight = 20;
    return l;
}

const std::vector<std::string> kFive = {"Checking %0.0f%%", "Downloading %0.0f%% %s", "Unpacking %0.0f%%",
                                        "Done", "Ready to play"};

TEST(ProgressModelFrame, BarAndTextFollowTheRun) {
    ProgressModel m(layout400(), kFive);
    ViewFrame f = m.frame(100, 100, 0);
    EXPECT_EQ(f.fill.width, 0u);
    EXPECT_EQ(f.text, "Checking 0%");

    m.onUpdaterEvent(1, 1, 1000, 500);
    f = m.frame(110, 100, 0);
    EXPECT_EQ(f.fill.width, 199u);
    EXPECT_EQ(f.text, "Downloading 50% 0.0 Kb/S");
    EXPECT_EQ(m.speedText(), "0.0 Kb/S");  // 50 bytes per second

    m.onUpdaterEvent(3, 0, 0, 0);
    EXPECT_EQ(m.frame(111, 100, 0).fill.width, 399u);
    EXPECT_TRUE(m.poll(111).downloadComplete);
    f = m.frame(111, 100, 0);
    EXPECT_EQ(f.fill.width, 400u);
    EXPECT_EQ(f.text, "Ready to play");
    // The finish is announced once.
    EXPECT_FALSE(m.poll(112).downloadComplete);
}

TEST(ProgressModelFrame, FourEntriesShowNothingAfterTheFinishAndThreeNeverShowText) {
    ProgressModel four(layout400(), {"a", "b", "c", "d"});
    four.onUpdaterEvent(3, 0, 0, 0);
    EXPECT_TRUE(four.frame(1, 0, 0).hasText);
    four.poll(1);
    EXPECT_FALSE(four.frame(1, 0, 0).hasText);

    ProgressModel three(layout400(), {"a", "b", "c"});
    EXPECT_FALSE(three.frame(1, 0, 0).hasText);
    EXPECT_EQ(three.speedText(), "");
}

TEST(ProgressModelFrame, EqualSnapshotsGiveEqualFramesSoIdleNeedsNoRedraw) {
    ProgressModel m(layout400(), kFive);
    m.onUpdaterEvent(1, 1, 1000, 200);
    ViewFrame a = m.frame(50, 40, 0);
    EXPECT_EQ(a, m.frame(50, 40, 0));
    m.onUpdaterEvent(1, 1, 1000, 600);
    EXPECT_NE(a, m.frame(50, 40, 0));
}

TEST(ProgressModelPoll, ErrorIsReportedOnceAndBarFallsBackToPhaseStart) {
    ProgressModel m(layout400(), kFive);
    m.onUpdaterEvent(1, 1102, 0, 0);
    EXPECT_EQ(m.poll(5).errorCode, 1102);
    EXPECT_EQ(m.snapshot().code.load(), ProgressModel::kErrorShown);
    EXPECT_EQ(m.poll(6).errorCode, 0);
    EXPECT_EQ(m.frame(6, 0, 0).fill.width, 133u);
}

TEST(ProgressModelPoll, SpeedReportEveryTenSecondsFromFirstProgress) {
    ProgressModel m(layout400(), kFive);
    EXPECT_FALSE(m.poll(1000).speedReport);  // no progress yet
    m.onUpdaterEvent(1, 1, 100, 1);
    EXPECT_FALSE(m.poll(1003).speedReport);
    EXPECT_FALSE(m.poll(1012).speedReport);
    EXPECT_TRUE(m.poll(1013).speedReport);
    EXPECT_FALSE(m.poll(1013).speedReport);
    EXPECT_FALSE(m.poll(1022).speedReport);
    EXPECT_TRUE(m.poll(1023).speedReport);
}

TEST(ProgressModelSnapshot, WriterThreadAndTickThreadDoNotTearValues) {
    ProgressModel m(layout400(), kFive);
    std::thread writer([&m] {
        for (int i = 1; i <= 20000; ++i) m.onUpdaterEvent(2, 1, 20000, i);
    });
    double last = 0;
    for (int i = 0; i < 20000; ++i) {
        double done = m.snapshot().done.load();
        EXPECT_GE(done, last);
        last = done;
        m.frame(1, 0, 0);
    }
    writer.join();
    EXPECT_EQ(m.snapshot().done.load(), 20000);
    EXPECT_EQ(m.frame(1, 0, 0).fill.width, 399u);
}

}  // namespace
}  // namespace veltrano
