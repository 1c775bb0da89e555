#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/Game.h"
#include "platform/CommandLine.h"

namespace veltrano {
namespace {

using Args = std::vector<std::string>;

TEST(BuildGameCommandLine, AssemblesThePiecesInOrder) {
    EXPECT_EQ(buildGameCommandLine("C:/L/", "g", "run.exe", "--source=web", "7", "", "cb"),
              "\"C:/L//g/run.exe\" -workdir \"C:/L//g/\" --source=web -uid:7 -gametoken: -cbinfo:cb");
    // Without a launcher command line two blanks stand before -uid:.
    EXPECT_EQ(buildGameCommandLine("C:/L/", "g", "run.exe", "", "7", "", "cb"),
              "\"C:/L//g/run.exe\" -workdir \"C:/L//g/\"  -uid:7 -gametoken: -cbinfo:cb");
    EXPECT_EQ(buildGameCommandLine("/srv/v/", "", "", "", "", "", ""),
              "\"/srv/v///\" -workdir \"/srv/v///\"  -uid: -gametoken: -cbinfo:");
}

TEST(BuildGameCommandLine, GameSeesUnescapedValuesSplit) {
    const std::string cmd =
        buildGameCommandLine("/home/p/Veltrano/", "game", "run", "--token=t \"--fcext=a b\"", "12 34",
                             "eyJ1aWQiOjEyfQ==", "say \"hi\"");
    EXPECT_EQ(splitWindowsCommandLine(cmd, true),
              (Args{"/home/p/Veltrano//game/run", "-workdir", "/home/p/Veltrano//game/", "--token=t",
                    "--fcext=a b", "-uid:12", "34", "-gametoken:eyJ1aWQiOjEyfQ==", "-cbinfo:say", "hi"}));
}

TEST(FormatErrorText, FillsTheFirstIntegerConversion) {
    EXPECT_EQ(formatErrorText("\xE5\x90\xAF\xE5\x8A\xA8\xE5\xA4\xB1\xE8\xB4\xA5 (%d)", 1115),
              "\xE5\x90\xAF\xE5\x8A\xA8\xE5\xA4\xB1\xE8\xB4\xA5 (1115)");
    EXPECT_EQ(formatErrorText("code %06d|%-6i|%x|%X|%o|%u", 1115), "code 001115|%-6i|%x|%X|%o|%u");
    EXPECT_EQ(formatErrorText("%#x", 1115), "0x45b");
    EXPECT_EQ(formatErrorText("%ld and %lld", 1115), "1115 and %lld");
    EXPECT_EQ(formatErrorText("no number", 1115), "no number");
    EXPECT_EQ(formatErrorText("", 1115), "");
}

TEST(FormatErrorText, KeepsEveryOtherConversionAsWritten) {
    EXPECT_EQ(formatErrorText("%s failed: %d", 1115), "%s failed: 1115");
    EXPECT_EQ(formatErrorText("%n%p%f %d", 1115), "%n%p%f 1115");
    EXPECT_EQ(formatErrorText("100%% sure %d%%", 1115), "100% sure 1115%");
    EXPECT_EQ(formatErrorText("%*d %d", 1115), "%*d 1115");
    EXPECT_EQ(formatErrorText("ends in %", 1115), "ends in %");
    EXPECT_EQ(formatErrorText("%99999d", 1115), "%99999d");
}

TEST(FormatErrorText, CutsAtTheBufferWithoutSplittingCharacters) {
    const std::string ascii(600, 'a');
    EXPECT_EQ(formatErrorText(ascii, 1115), std::string(499, 'a'));
    EXPECT_EQ(formatErrorText(std::string(495, 'a') + "%d", 1115), std::string(495, 'a') + "1115");
    EXPECT_EQ(formatErrorText(std::string(496, 'a') + "%d", 1115), std::string(496, 'a') + "111");
    // 498 bytes, then a three-byte character that would end at 501: it goes entirely.
    const std::string han = "\xE6\xB8\xB8";
    EXPECT_EQ(formatErrorText(std::string(498, 'a') + han + "x", 1115), std::string(498, 'a'));
    EXPECT_EQ(formatErrorText(std::string(496, 'a') + han + "x", 1115), std::string(496, 'a') + han);
}

}  // namespace
}  // namespace veltrano
