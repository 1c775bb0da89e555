#include "app/StartupSteps.h"

#include <cctype>
#include <limits>

namespace veltrano {

std::vector<std::string> splitString(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    if (separator.empty()) return parts;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t found = text.find(separator, pos);
        if (found == std::string::npos) {
            parts.push_back(text.substr(pos));
            break;
        }
        parts.push_back(text.substr(pos, found - pos));
        pos = found + separator.size();
    }
    return parts;
}

int64_t parseDecimalInt64(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate towards the sign so that the most negative value is reachable.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = text[i] - '0';
        if (negative) {
            if (value < (kMin + digit) / 10) return kMin;
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10) return kMax;
            value = value * 10 + digit;
        }
    }
    return value;
}

namespace {

// The value of an option=value token, or nothing when it does not split into exactly two parts.
std::optional<std::string> optionValue(const std::string& token) {
    std::vector<std::string> parts = splitString(token, "=");
    if (parts.size() != 2) return std::nullopt;
    return std::move(parts[1]);
}

bool contains(const std::string& token, const char* option) {
    return token.find(option) != std::string::npos;
}

}  // namespace

StartupOptions parseStartupCommandLine(const std::string& commandLine) {
    StartupOptions options;
    for (const std::string& token : splitString(commandLine, " ")) {
        // The same token may feed several tests, in this order.
        if (contains(token, "--noicon")) {
            if (auto value = optionValue(token)) options.userName = *value;
        }
        if (contains(token, "--winid")) {
            if (auto value = optionValue(token)) options.parentWindow = parseDecimalInt64(*value);
        }
        if (contains(token, "--token")) {
            if (auto value = optionValue(token)) options.token = std::move(*value);
        }
        if (contains(token, "--source")) {
            if (auto value = optionValue(token)) options.source = std::move(*value);
        }
        if (contains(token, "--serverid")) {
            if (auto value = optionValue(token)) options.serverid = std::move(*value);
        }
        if (contains(token, "--fcext")) {
            if (auto value = optionValue(token)) options.fcext = std::move(*value);
        }
        if (contains(token, "--noicon")) {
            if (auto value = optionValue(token)) options.makeShortcut = *value != "1";
        }
    }
    return options;
}

std::string fileParamFromExeName(const std::string& exeName) {
    if (exeName.size() <= 4) return {};
    std::string stem = exeName;
    // Installers elsewhere carry a three-letter extension; ours usually carry none.
    if (stem[stem.size() - 4] == '.') stem.resize(stem.size() - 4);
    const std::vector<std::string> parts = splitString(stem, "_");
    if (parts.size() < 2 || parts[1].empty()) return {};
    return parts[1];
}

}  // namespace veltrano
