#include "window/ViewMath.h"

#include <gtest/gtest.h>

#include <climits>

namespace veltrano {
namespace {

SkinLayout barLayout() {
    SkinLayout l;
    l.processX = 100;
    l.processY = 500;
    l.processBgWidth = 411;
    l.processBgHeight = 25;
    l.processWidth = 400;
    l.processHeight = 20;
    l.closeX = 1000;
    l.closeY = 10;
    l.closeWidth = 30;
    l.closeHeight = 20;
    return l;
}

TEST(ProgressBar, WidthFollowsPhaseThirds) {
    SkinLayout l = barLayout();
    EXPECT_EQ(progressFill(l, 0, 0, 0).width, 0u);
    EXPECT_EQ(progressFill(l, 1, 1000, 500).width, 199u);
    EXPECT_EQ(progressFill(l, 2, 10, 0).width, 266u);
    EXPECT_EQ(progressFill(l, 3, 0, 0).width, 399u);
    EXPECT_EQ(progressFill(l, 4, 0, 0).width, 400u);
    // Beyond the last phase the bar never outgrows its image.
    EXPECT_EQ(progressFill(l, 2, 1, 5).width, 400u);
}

TEST(ProgressBar, FillIsCentredInTrackDroppingRemainders) {
    FillRect r = progressFill(barLayout(), 1, 0, 0);
    EXPECT_EQ(r.x, 105);  // (411 - 400) / 2 = 5
    EXPECT_EQ(r.y, 502);  // (25 - 20) / 2 = 2
    EXPECT_EQ(r.height, 20u);
}

TEST(ProgressBar, ZeroTotalCountsAsOneAndNegativeShareDrawsNothing) {
    EXPECT_FLOAT_EQ(overallPercent(1, 0, 0), 33.333f);
    EXPECT_EQ(fillWidth(400, -3.0f), 0u);
}

TEST(SpeedText, ThresholdIsStrictlyAboveOneMebibyte) {
    EXPECT_EQ(speedText(1048576.0f), "1024.0 Kb/S");
    EXPECT_EQ(speedText(1048577.0f), "1.0 Mb/S");
    EXPECT_EQ(speedText(0.0f), "0.0 Kb/S");
    EXPECT_EQ(speedText(-2048.0f), "-2.0 Kb/S");
}

TEST(SpeedText, ElapsedTimeIsAtLeastOneSecond) {
    EXPECT_FLOAT_EQ(downloadSpeed(3000, 1000, 100, 110), 200.0f);
    EXPECT_FLOAT_EQ(downloadSpeed(3000, 1000, 100, 100), 2000.0f);
    EXPECT_FLOAT_EQ(downloadSpeed(3000, 1000, 120, 100), 2000.0f);
    EXPECT_FLOAT_EQ(downloadSpeed(5, 100, 0, 1), -95.0f);
}

TEST(StatusText, SelectionNeedsFourEntriesAndOneForTheState) {
    std::vector<std::string> four = {"a", "b", "c", "d"};
    std::vector<std::string> five = {"a", "b", "c", "d", "e"};
    std::vector<std::string> three = {"a", "b", "c"};
    ASSERT_NE(progressFormat(four, 3), nullptr);
    EXPECT_EQ(*progressFormat(four, 3), "d");
    EXPECT_EQ(progressFormat(four, 4), nullptr);
    ASSERT_NE(progressFormat(five, 4), nullptr);
    EXPECT_EQ(*progressFormat(five, 4), "e");
    EXPECT_EQ(progressFormat(three, 0), nullptr);
}

TEST(StatusText, FormatsPercentAndSpeedWithinNinetyNineBytes) {
    EXPECT_EQ(formatProgressText("Downloading %0.1f%% %s", 49.5, "1.0 Mb/S"), "Downloading 49.5% 1.0 Mb/S");
    EXPECT_EQ(formatProgressText("Ready", 0, "x"), "Ready");
    std::string longFormat(150, 'x');
    EXPECT_EQ(formatProgressText(longFormat + "%s", 0, "y").size(), 99u);
    // The cut keeps whole characters: 98 bytes, then a 3-byte one that would end at 101.
    EXPECT_EQ(formatProgressText(std::string(98, 'a') + "\xE6\xB8\xB8", 0, "y"), std::string(98, 'a'));
    EXPECT_EQ(formatProgressText(std::string(96, 'a') + "\xE6\xB8\xB8", 0, "y"),
              std::string(96, 'a') + "\xE6\xB8\xB8");
}

TEST(StatusText, WidthAndPrecisionBeyondThreeDigitsAreShownNotComputed) {
    // Filled 33 times a second: a million digits would hold the window.
    for (const char* format : {"%.99999999f", "%99999999f", "%1000s", "%.1000s", "%0000001.0000001f"}) {
        EXPECT_EQ(formatProgressText(format, 1, "k"), format);
    }
    EXPECT_EQ(formatProgressText("%999.0f|", 1, "k"), std::string(99, ' '));
    EXPECT_EQ(formatProgressText("%.3f %999s", 1, "k").substr(0, 7), "1.000  ");
}

TEST(StatusText, MismatchedConversionsAreShownNotRead) {
    // A text conversion where the percent belongs must not read the double as a pointer.
    EXPECT_EQ(formatProgressText("%s %s", 10, "k"), "k %s");
    EXPECT_EQ(formatProgressText("%d%%", 10, "k"), "%d%");
    EXPECT_EQ(formatProgressText("%f %s %s", 1, "k"), "1.000000 k %s");
    EXPECT_EQ(formatProgressText("%n%*d%1$s", 1, "k"), "%n%*d%1$s");
    EXPECT_EQ(formatProgressText("tail %", 1, "k"), "tail %");
    // An embedded NUL is text, not a flag or a length modifier.
    EXPECT_EQ(formatProgressText(std::string("a%\0f", 4), 1, "k"), std::string("a%\0f", 4));
}

TEST(CheckedFormat, IntegerConversionsTakeIntegersOnly) {
    FormatArg code{FormatArg::Int};
    code.i = 1101;
    EXPECT_EQ(checkedFormat("%05d|%x", {code}, 499), "01101|%x");
    EXPECT_EQ(checkedFormat("%s", {code}, 499), "%s");
    EXPECT_EQ(checkedFormat(std::string(600, 'e'), {code}, 499).size(), 499u);
}

TEST(CloseButton, EveryEdgeIsInside) {
    SkinLayout l = barLayout();
    EXPECT_TRUE(closeButtonHit(l, 1000, 10));
    EXPECT_TRUE(closeButtonHit(l, 1030, 30));
    EXPECT_TRUE(closeButtonHit(l, 1015, 20));
    EXPECT_FALSE(closeButtonHit(l, 1031, 20));
    EXPECT_FALSE(closeButtonHit(l, 1015, 31));
    EXPECT_FALSE(closeButtonHit(l, 999, 20));
    EXPECT_FALSE(closeButtonHit(l, 1015, 9));
    EXPECT_FALSE(closeButtonHit(l, -1, -1));
}

TEST(FontChoice, PreferredWinsThenLastCandidateThenArial) {
    EXPECT_EQ(chooseFont({"DejaVu Sans", "宋体", "Noto"}, "Noto"), "Noto");
    // The preferred family wins even when a candidate came first.
    EXPECT_EQ(chooseFont({"宋体", "Noto"}, "Noto"), "Noto");
    // A later installed candidate replaces an earlier one, whatever the candidates' order.
    EXPECT_EQ(chooseFont({"黑体", "微软雅黑", "宋体"}, "Missing"), "宋体");
    EXPECT_EQ(chooseFont({"楷体", "DejaVu Sans"}, ""), "楷体");
    EXPECT_EQ(chooseFont({"DejaVu Sans"}, ""), "Arial");
    EXPECT_EQ(chooseFont({}, "Noto"), "Arial");
    // Names compare exactly.
    EXPECT_EQ(chooseFont({"noto"}, "Noto"), "Arial");
}

TEST(CopyDataQuit, ComparesWithDecimalReadingOfTheConfiguredType) {
    EXPECT_TRUE(isQuitRequest(1234, "1234"));
    EXPECT_FALSE(isQuitRequest(1235, "1234"));
    EXPECT_TRUE(isQuitRequest(77, " 77abc"));
    EXPECT_TRUE(isQuitRequest(0, "none"));
    EXPECT_TRUE(isQuitRequest(0, ""));
    EXPECT_FALSE(isQuitRequest(1, ""));
    EXPECT_EQ(parseDataType("-5"), -5);
    EXPECT_EQ(parseDataType("99999999999999999999999"), LLONG_MAX);
}

}  // namespace
}  // namespace veltrano
