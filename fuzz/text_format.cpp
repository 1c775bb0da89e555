// The configured texts (status line and error message) filled by the checked format: any text with
// any values ends quickly, within its byte limit, and never cuts a character of the text in two.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "config/TextFormat.h"
#include "util/Encoding.h"

using namespace veltrano;

namespace {

// Whether text is well-formed UTF-8 (no check of overlong forms, which do not matter here).
bool wholeCharacters(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t len = c < 0x80             ? 1
                           : (c & 0xE0) == 0xC0 ? 2
                           : (c & 0xF0) == 0xE0 ? 3
                           : (c & 0xF8) == 0xF0 ? 4
                                                : 0;
        if (len == 0 || i + len > text.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Header: value kinds (2 bits each, up to three values), an integer and a double; then the text.
    if (size < 17) return 0;
    std::vector<FormatArg> args;
    long long i = 0;
    double d = 0;
    std::memcpy(&i, data + 1, sizeof i);
    std::memcpy(&d, data + 9, sizeof d);
    static const char* const kTexts[] = {"1.0 Mb/S", "", "\xE6\xB8\xB8\xE6\x88\x8F"};
    for (int k = 0; k < 3; ++k) {
        const int kind = (data[0] >> (2 * k)) & 3;
        if (kind == 3) break;
        FormatArg a{static_cast<FormatArg::Kind>(kind)};
        a.i = i;
        a.d = d;
        a.s = kTexts[k];
        args.push_back(a);
    }
    const std::string format(reinterpret_cast<const char*>(data) + 17, size - 17);
    for (size_t limit : {size_t(99), size_t(499)}) {
        const std::string out = checkedFormat(format, args, limit);
        fuzz::require(out.size() <= limit, "longer than its limit");
        // A text without conversions is copied; its cut must keep whole characters.
        if (format.find('%') == std::string::npos && wholeCharacters(format)) {
            fuzz::require(wholeCharacters(out) && format.compare(0, out.size(), out) == 0,
                          "a plain text was not cut at a character boundary");
            fuzz::require(out.size() == format.size() || out.size() + 4 > limit,
                          "a plain text was cut short");
        }
    }
    return 0;
}
