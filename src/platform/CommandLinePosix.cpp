#include "platform/CommandLine.h"

namespace veltrano {

std::vector<std::string> systemArguments(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; argv && i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}

}  // namespace veltrano
