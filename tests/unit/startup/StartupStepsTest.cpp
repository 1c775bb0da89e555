#include "app/StartupSteps.h"

#include <gtest/gtest.h>

#include <limits>

using veltrano::fileParamFromExeName;
using veltrano::parseDecimalInt64;
using veltrano::parseStartupCommandLine;
using veltrano::splitString;
using Parts = std::vector<std::string>;

TEST(SplitString, KeepsInnerAndLeadingEmptyPartsButNoTrailingOne) {
    EXPECT_EQ(splitString("a=b", "="), (Parts{"a", "b"}));
    EXPECT_EQ(splitString("a=", "="), (Parts{"a"}));
    EXPECT_EQ(splitString("a=b=c", "="), (Parts{"a", "b", "c"}));
    EXPECT_EQ(splitString("=b", "="), (Parts{"", "b"}));
    EXPECT_EQ(splitString("a==b", "="), (Parts{"a", "", "b"}));
    EXPECT_EQ(splitString("abc", "="), (Parts{"abc"}));
}

TEST(SplitString, EmptyTextOrSeparatorGivesNothing) {
    EXPECT_TRUE(splitString("", "=").empty());
    EXPECT_TRUE(splitString("a=b", "").empty());
}

TEST(SplitString, MultiCharacterSeparatorIsSkippedWhole) {
    EXPECT_EQ(splitString("a::b::", "::"), (Parts{"a", "b"}));
    EXPECT_EQ(splitString("a:b", "::"), (Parts{"a:b"}));
}

TEST(ParseDecimal, ReadsLikeTheCRuntime) {
    EXPECT_EQ(parseDecimalInt64("123"), 123);
    EXPECT_EQ(parseDecimalInt64("  -42xyz"), -42);
    EXPECT_EQ(parseDecimalInt64("+7"), 7);
    EXPECT_EQ(parseDecimalInt64("abc"), 0);
    EXPECT_EQ(parseDecimalInt64(""), 0);
    EXPECT_EQ(parseDecimalInt64("-"), 0);
    EXPECT_EQ(parseDecimalInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(parseDecimalInt64("99999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(parseDecimalInt64("-99999999999999999999"), std::numeric_limits<int64_t>::min());
}

TEST(StartupCommandLine, SetsOnlyTheOptionsGiven) {
    const auto o = parseStartupCommandLine("--token=abc --serverid=12");
    EXPECT_EQ(o.token, "abc");
    EXPECT_EQ(o.serverid, "12");
    EXPECT_FALSE(o.source.has_value());
    EXPECT_FALSE(o.fcext.has_value());
    EXPECT_FALSE(o.parentWindow.has_value());
    EXPECT_EQ(o.userName, "");
    EXPECT_TRUE(o.makeShortcut);
}

TEST(StartupCommandLine, TokensThatDoNotSplitInTwoAreIgnored) {
    EXPECT_FALSE(parseStartupCommandLine("--token=a=b").token.has_value());
    EXPECT_FALSE(parseStartupCommandLine("--token=").token.has_value());
    EXPECT_FALSE(parseStartupCommandLine("--token").token.has_value());
    // An ignored token does not undo what an earlier one set.
    EXPECT_EQ(parseStartupCommandLine("--token=x --token=a=b").token, "x");
}

TEST(StartupCommandLine, LaterTokenWins) {
    EXPECT_EQ(parseStartupCommandLine("--token=x --token=y").token, "y");
    EXPECT_EQ(parseStartupCommandLine("--winid=5 --winid=6").parentWindow, 6);
}

TEST(StartupCommandLine, OptionMayStandAnywhereInTheToken) {
    const auto o = parseStartupCommandLine("x--sourcey=v");
    EXPECT_EQ(o.source, "v");
    EXPECT_FALSE(o.token.has_value());
}

TEST(StartupCommandLine, EveryOptionReachesItsField) {
    const auto o =
        parseStartupCommandLine("--token=t --source=s --serverid=v --fcext=f --winid=77 --noicon=bob");
    EXPECT_EQ(o.token, "t");
    EXPECT_EQ(o.source, "s");
    EXPECT_EQ(o.serverid, "v");
    EXPECT_EQ(o.fcext, "f");
    EXPECT_EQ(o.parentWindow, 77);
    EXPECT_EQ(o.userName, "bob");
    EXPECT_TRUE(o.makeShortcut);
}

TEST(StartupCommandLine, NoIconOneSuppressesTheShortcutAndNamesTheUser) {
    auto o = parseStartupCommandLine("--noicon=1");
    EXPECT_FALSE(o.makeShortcut);
    EXPECT_EQ(o.userName, "1");
    o = parseStartupCommandLine("--noicon=0");
    EXPECT_TRUE(o.makeShortcut);
    EXPECT_EQ(o.userName, "0");
    // Only exactly "1" suppresses it.
    EXPECT_TRUE(parseStartupCommandLine("--noicon=11").makeShortcut);
    EXPECT_TRUE(parseStartupCommandLine("--noicon=1 --noicon=0").makeShortcut);
}

TEST(StartupCommandLine, WindowIdIsASignedDecimal) {
    EXPECT_EQ(parseStartupCommandLine("--winid=abc").parentWindow, 0);
    EXPECT_EQ(parseStartupCommandLine("--winid=-1").parentWindow, -1);
    EXPECT_EQ(static_cast<uint64_t>(*parseStartupCommandLine("--winid=-1").parentWindow), ~uint64_t{0});
    EXPECT_EQ(parseStartupCommandLine("--winid=12ab").parentWindow, 12);
}

TEST(StartupCommandLine, TwoBlanksGiveAnEmptyTokenThatMatchesNothing) {
    const auto o = parseStartupCommandLine("--token=a  --source=b");
    EXPECT_EQ(o.token, "a");
    EXPECT_EQ(o.source, "b");
    const auto empty = parseStartupCommandLine("  ");
    EXPECT_FALSE(empty.token.has_value());
    EXPECT_FALSE(empty.parentWindow.has_value());
    EXPECT_TRUE(empty.makeShortcut);
}

TEST(FileParam, SecondPartOfTheNameWithoutExtension) {
    EXPECT_EQ(fileParamFromExeName("setup_abc.exe"), "abc");
    EXPECT_EQ(fileParamFromExeName("setup_abc_x.exe"), "abc");
    EXPECT_EQ(fileParamFromExeName("game_tag7.exe"), "tag7");
    EXPECT_EQ(fileParamFromExeName("game_tag7"), "tag7");
    EXPECT_EQ(fileParamFromExeName("game_tag7_linux"), "tag7");
    EXPECT_EQ(fileParamFromExeName("_abc.exe"), "abc");  // an empty first part still counts
}

TEST(FileParam, NamesWithoutAParameterGiveNothing) {
    EXPECT_EQ(fileParamFromExeName(""), "");
    EXPECT_EQ(fileParamFromExeName("a_b"), "");  // four characters or fewer
    EXPECT_EQ(fileParamFromExeName("a_bc"), "");
    EXPECT_EQ(fileParamFromExeName("bash"), "");
    EXPECT_EQ(fileParamFromExeName("gnome-shell"), "");
    EXPECT_EQ(fileParamFromExeName("setup_.exe"), "");
    EXPECT_EQ(fileParamFromExeName("setup__x.exe"), "");
}
