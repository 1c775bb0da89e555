#include "platform/CommandLine.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/Wide.h"

namespace veltrano {

std::vector<std::string> systemArguments(int argc, const char* const* argv) {
    std::vector<std::string> args;
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) args.push_back(fromWide(wide[i]));
        LocalFree(wide);
        if (count == argc) return args;
        args.clear();
    }
    // The wide line does not match what main was given (a foreign start-up): keep argv.
    for (int i = 0; argv && i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}

}  // namespace veltrano
