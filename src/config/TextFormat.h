#pragma once
// Configured texts (the status line, the error message) are printf formats written by whoever
// ships the launcher; they are filled here without ever reading a value of the wrong type.

#include <cstddef>
#include <string>
#include <vector>

namespace veltrano {

struct FormatArg {
    enum Kind { Int, Double, Text } kind;
    long long i = 0;
    double d = 0;
    const char* s = "";
};

// Each conversion takes the next unused value that fits it (integers: diouxXc, doubles: fFeEgGaA,
// texts: s), passing over values that do not; a conversion without such a value, or with '*', a
// position, or a width or precision of more than three digits, is copied as written. The result
// is cut to maxBytes, never inside a UTF-8 character.
std::string checkedFormat(const std::string& format, const std::vector<FormatArg>& args, size_t maxBytes);

}  // namespace veltrano
