#include "platform/CommandLine.h"

namespace veltrano {

namespace {

std::vector<std::string>& storedArguments() {
    // Never destroyed: read by whoever builds a command line, possibly late during exit.
    static auto* args = new std::vector<std::string>();
    return *args;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

void setApplicationArguments(int argc, const char* const* argv) {
    std::vector<std::string>& args = storedArguments();
    args.clear();
    for (int i = 0; argv && i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
}

std::string quoteWindowsArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        // Backslashes count only in front of a quote: double them there, and escape the quote.
        if (c == '"') {
            out.append(slashes * 2 + 1, '\\');
        } else {
            out.append(slashes, '\\');
        }
        slashes = 0;
        out += c;
    }
    // The closing quote follows, so trailing backslashes are doubled too.
    out.append(slashes * 2, '\\');
    out += '"';
    return out;
}

std::string applicationCommandLine() {
    const std::vector<std::string>& args = storedArguments();
    std::string text;
    for (size_t i = 1; i < args.size(); ++i) {
        if (i > 1) text += ' ';
        text += quoteWindowsArgument(args[i]);
    }
    return text;
}

std::vector<std::string> splitWindowsCommandLine(const std::string& text, bool programNameFirst) {
    std::vector<std::string> result;
    size_t p = 0;
    const size_t n = text.size();
    auto at = [&](size_t i) { return i < n ? text[i] : '\0'; };

    if (programNameFirst) {
        while (p < n && isBlank(text[p])) ++p;
        if (p < n) {
            std::string name;
            bool inQuotes = false;
            while (p < n && (inQuotes || !isBlank(text[p]))) {
                if (text[p] == '"') {
                    inQuotes = !inQuotes;
                } else {
                    name += text[p];
                }
                ++p;
            }
            result.push_back(std::move(name));
        }
    }

    bool inQuotes = false;
    for (;;) {
        while (p < n && isBlank(text[p])) ++p;
        if (p >= n) break;
        std::string arg;
        for (;;) {
            bool copy = true;
            size_t slashes = 0;
            while (at(p) == '\\') {
                ++p;
                ++slashes;
            }
            if (at(p) == '"') {
                if (slashes % 2 == 0) {
                    if (inQuotes && at(p + 1) == '"') {
                        ++p;
                    } else {
                        copy = false;
                        inQuotes = !inQuotes;
                    }
                }
                slashes /= 2;
            }
            arg.append(slashes, '\\');
            if (p >= n || (!inQuotes && isBlank(text[p]))) break;
            if (copy) arg += text[p];
            ++p;
        }
        result.push_back(std::move(arg));
    }
    return result;
}

}  // namespace veltrano
