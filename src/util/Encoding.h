#pragma once
// Small stateless text and data helpers shared by every module. All text inside the launcher is
// UTF-8 in narrow strings; these are the only places where another encoding is produced or read.

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltrano {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks). `out` must hold at least
// 4 * ceil(n / 3) characters; it is not terminated. Returns the number of characters written.
size_t base64Encode(const unsigned char* bytes, size_t n, char* out);
// Convenience form used by callers that want a text.
std::string base64Encode(const std::string& bytes);

// RFC 1321 MD5, fed incrementally.
struct Md5Context {
    uint32_t count[2];  // message length in bits, low word first
    uint32_t abcd[4];   // chaining words
    unsigned char buf[64];
};
void md5Init(Md5Context* ctx);
void md5Append(Md5Context* ctx, const unsigned char* bytes, size_t n);
void md5Finish(Md5Context* ctx, unsigned char digest[16]);
// The 16 digest bytes as 32 lowercase hexadecimal characters.
std::string md5DigestHex(const unsigned char digest[16]);

// Invalid UTF-8 sequences become U+FFFD.
std::u16string utf8ToUtf16(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const std::u16string& text);

// The longest prefix of text of at most maxBytes that does not end inside a UTF-8 sequence.
size_t utf8CutLength(const std::string& text, size_t maxBytes);

// Whole seconds since 1970-01-01 UTC, as a double.
double nowSeconds();

}  // namespace veltrano
