#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/CommandLine.h"

namespace veltrano {
namespace {

using Args = std::vector<std::string>;

TEST(SplitWindowsCommandLine, FollowsTheRuntimeRules) {
    struct Case {
        const char* text;
        Args expected;
    };
    const Case cases[] = {
        {"", {}},
        {"  \t ", {}},
        {"a  b\tc ", {"a", "b", "c"}},
        {"\"a b c\" d e", {"a b c", "d", "e"}},
        {"\"ab\\\"c\" \"\\\\\" d", {"ab\"c", "\\", "d"}},
        {"a\\\\\\b d\"e f\"g h", {"a\\\\\\b", "de fg", "h"}},
        {"a\\\\\\\"b c d", {"a\\\"b", "c", "d"}},
        {"a\\\\\\\\\"b c\" d e", {"a\\\\b c", "d", "e"}},
        // "" inside quotes is a literal quote and the quoted part goes on.
        {"a\"b\"\" c d", {"ab\" c d"}},
        {"\"\" x", {"", "x"}},
        {"\"open to the end", {"open to the end"}},
        {"trail\\", {"trail\\"}},
        {"C:\\dir\\ -x", {"C:\\dir\\", "-x"}},
    };
    for (const Case& c : cases) EXPECT_EQ(splitWindowsCommandLine(c.text), c.expected) << c.text;
}

TEST(SplitWindowsCommandLine, ProgramNameNeverEscapes) {
    // As a program name the backslash before the closing quote is literal; as an argument it is not.
    EXPECT_EQ(splitWindowsCommandLine("\"C:\\g\\\" x", true), (Args{"C:\\g\\", "x"}));
    EXPECT_EQ(splitWindowsCommandLine("\"C:\\g\\\" x", false), (Args{"C:\\g\" x"}));
    EXPECT_EQ(splitWindowsCommandLine("  \"/a b/run\"x \"-workdir\" \"/a b/\"", true),
              (Args{"/a b/runx", "-workdir", "/a b/"}));
    EXPECT_EQ(splitWindowsCommandLine("run \"a\\\"b\"", true), (Args{"run", "a\"b"}));
}

TEST(ApplicationCommandLine, JoinsArgumentsAfterTheProgramName) {
    const char* plain[] = {"/opt/launcher", "--token=abc", "--source=web"};
    setApplicationArguments(3, plain);
    EXPECT_EQ(applicationCommandLine(), "--token=abc --source=web");

    const char* only[] = {"/opt/launcher"};
    setApplicationArguments(1, only);
    EXPECT_EQ(applicationCommandLine(), "");

    const char* quoted[] = {"launcher", "--noicon=a b", "say \"hi\"", "C:\\x\\", "tab\there"};
    setApplicationArguments(5, quoted);
    EXPECT_EQ(applicationCommandLine(), "\"--noicon=a b\" \"say \\\"hi\\\"\" C:\\x\\ \"tab\there\"");
    setApplicationArguments(0, nullptr);
}

TEST(ApplicationCommandLine, SplitsBackIntoTheSameArguments) {
    const std::vector<std::string> args = {"launcher",
                                           "plain",
                                           "with blank",
                                           "",
                                           "q\"uote",
                                           "trail\\",
                                           "trail blank\\",
                                           "back\\\\\"x y",
                                           "\\\\server\\share dir\\",
                                           "\"",
                                           "\\\"",
                                           "--fcext=a=b&c",
                                           "unicode \xE6\xB8\xB8\xE6\x88\x8F"};
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    setApplicationArguments(static_cast<int>(argv.size()), argv.data());
    const std::vector<std::string> back = splitWindowsCommandLine(applicationCommandLine());
    EXPECT_EQ(back, std::vector<std::string>(args.begin() + 1, args.end()));
    setApplicationArguments(0, nullptr);
}

TEST(QuoteWindowsArgument, LeavesSafeArgumentsAlone) {
    EXPECT_EQ(quoteWindowsArgument("--serverid=12"), "--serverid=12");
    EXPECT_EQ(quoteWindowsArgument("a\\b"), "a\\b");
    EXPECT_EQ(quoteWindowsArgument(""), "\"\"");
    EXPECT_EQ(quoteWindowsArgument("a b\\"), "\"a b\\\\\"");
}

}  // namespace
}  // namespace veltrano
