#pragma once
// UTF-8 texts to and from the wide (UTF-16) form the Windows API takes. Windows sources only.

#include <string>

#include "util/Encoding.h"

namespace veltrano {

inline std::wstring toWide(const std::string& text) {
    const std::u16string u = utf8ToUtf16(text);
    return std::wstring(u.begin(), u.end());
}

inline std::string fromWide(const wchar_t* text) {
    if (!text) return {};
    std::u16string u;
    for (; *text; ++text) u.push_back(static_cast<char16_t>(*text));
    return utf16ToUtf8(u);
}

inline std::string fromWide(const std::wstring& text) {
    return utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

// Windows takes both separators in file names, but some calls (the shell's, UNC paths) only "\".
inline std::wstring toWidePath(const std::string& path) {
    std::wstring w = toWide(path);
    for (auto& c : w) {
        if (c == L'/') c = L'\\';
    }
    return w;
}

}  // namespace veltrano
