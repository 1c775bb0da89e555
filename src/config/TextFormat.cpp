#include "config/TextFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "config/Log.h"
#include "util/Encoding.h"

namespace veltrano {

namespace {

// A width or precision beyond this many digits only costs time (a million digits take a second).
constexpr size_t kMaxDigits = 3;

// strchr would also find the terminator, and configured texts may hold a NUL.
bool inSet(const char* set, char c) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool fits(char conv, FormatArg::Kind kind) {
    switch (kind) {
        case FormatArg::Int:
            return inSet("diouxXc", conv);
        case FormatArg::Double:
            return inSet("fFeEgGaA", conv);
        case FormatArg::Text:
            return conv == 's';
    }
    return false;
}

size_t skipDigits(const std::string& text, size_t at, size_t* count) {
    size_t end = at;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    *count = end - at;
    return end;
}

std::string convert(const std::string& conversion, char conv, const FormatArg& a) {
    char buf[2048];
    int n = 0;
    if (a.kind == FormatArg::Int) {
        if (conv == 'c' || conv == 'd' || conv == 'i')
            n = std::snprintf(buf, sizeof buf, conversion.c_str(), static_cast<int>(a.i));
        else
            n = std::snprintf(buf, sizeof buf, conversion.c_str(), static_cast<unsigned>(a.i));
    } else if (a.kind == FormatArg::Double) {
        n = std::snprintf(buf, sizeof buf, conversion.c_str(), a.d);
    } else {
        n = std::snprintf(buf, sizeof buf, conversion.c_str(), a.s ? a.s : "");
    }
    if (n <= 0) return std::string();
    return std::string(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

}  // namespace

std::string checkedFormat(const std::string& format, const std::vector<FormatArg>& args, size_t maxBytes) {
    std::string out;
    size_t next = 0;  // values before this one are used or passed over
    bool complained = false;
    size_t i = 0;
    // Past the cut nothing more is shown, so a long text costs no more than its first part.
    while (i < format.size() && out.size() <= maxBytes) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // Flags, width and precision as digits only; '*' and positional arguments are refused.
        size_t j = i + 1;
        while (j < format.size() && inSet("-+ #0", format[j])) ++j;
        size_t widthDigits = 0, precisionDigits = 0;
        j = skipDigits(format, j, &widthDigits);
        if (j < format.size() && format[j] == '.') j = skipDigits(format, j + 1, &precisionDigits);
        size_t lengthStart = j;  // length modifiers are dropped: each value is passed at its own type
        while (j < format.size() && inSet("hlLqjzt", format[j])) ++j;
        if (j >= format.size()) {
            out.append(format, i, std::string::npos);
            break;
        }
        const char conv = format[j];
        size_t take = next;
        while (take < args.size() && !fits(conv, args[take].kind)) ++take;
        if (take < args.size() && widthDigits <= kMaxDigits && precisionDigits <= kMaxDigits) {
            out += convert(format.substr(i, lengthStart - i) + conv, conv, args[take]);
            next = take + 1;
        } else {
            if (!complained) {
                writeLog("format \"%s\": conversion %s has no value that fits, shown as text", format.c_str(),
                         format.substr(i, j + 1 - i).c_str());
                complained = true;
            }
            out.append(format, i, j + 1 - i);
        }
        i = j + 1;
    }
    out.resize(utf8CutLength(out, maxBytes));
    return out;
}

}  // namespace veltrano
