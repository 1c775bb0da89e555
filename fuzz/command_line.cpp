// The launcher's command line: the split by the game's system rules, the launch option parser, and
// the quoting that hands the launcher's own arguments on to the game unchanged.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/StartupSteps.h"
#include "platform/CommandLine.h"

using namespace veltrano;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const StartupOptions options = parseStartupCommandLine(text);
    if (options.token) fuzz::require(text.find("--token") != std::string::npos, "a token from nowhere");

    for (bool programNameFirst : {false, true}) {
        const std::vector<std::string> args = splitWindowsCommandLine(text, programNameFirst);
        // Quoting every argument and splitting again must give the same arguments back.
        std::vector<std::string> plain;
        std::string joined;
        for (const std::string& a : args) {
            if (a.find('\0') != std::string::npos) continue;
            plain.push_back(a);
            if (plain.size() > 1) joined += ' ';
            joined += quoteWindowsArgument(a);
        }
        if (plain.empty()) continue;
        // The program-name rule differs; only the ordinary rule round-trips.
        const std::vector<std::string> again = splitWindowsCommandLine(joined, false);
        fuzz::require(again == plain, "quoted arguments do not split back: " + joined);
    }
    return 0;
}
