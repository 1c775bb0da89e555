#include "util/Encoding.h"

#include <chrono>
#include <cstring>

#include "platform/FileUtils.h"

namespace veltrano {

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr char16_t kReplacement = 0xFFFD;

}  // namespace

size_t base64Encode(const unsigned char* bytes, size_t n, char* out) {
    size_t o = 0;
    size_t i = 0;
    for (; n - i >= 3; i += 3) {
        const unsigned b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
        out[o++] = kBase64Alphabet[b0 >> 2];
        out[o++] = kBase64Alphabet[((b0 << 4) & 0x30) + (b1 >> 4)];
        out[o++] = kBase64Alphabet[((b1 << 2) & 0x3c) + (b2 >> 6)];
        out[o++] = kBase64Alphabet[b2 & 0x3f];
    }
    if (n - i == 1) {
        const unsigned b0 = bytes[i];
        out[o++] = kBase64Alphabet[b0 >> 2];
        out[o++] = kBase64Alphabet[(b0 << 4) & 0x30];
        out[o++] = '=';
        out[o++] = '=';
    } else if (n - i == 2) {
        const unsigned b0 = bytes[i], b1 = bytes[i + 1];
        out[o++] = kBase64Alphabet[b0 >> 2];
        out[o++] = kBase64Alphabet[((b0 << 4) & 0x30) + (b1 >> 4)];
        out[o++] = kBase64Alphabet[(b1 << 2) & 0x3c];
        out[o++] = '=';
    }
    return o;
}

std::string base64Encode(const std::string& bytes) {
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    if (!out.empty()) {
        const size_t written =
            base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
        out.resize(written);
    }
    return out;
}

// ---- MD5 (RFC 1321) ----

namespace {

inline uint32_t rotl(uint32_t x, int c) {
    return (x << c) | (x >> (32 - c));
}

const uint32_t kMd5T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

const int kMd5S[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
                       14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                       4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

void md5Block(uint32_t abcd[4], const unsigned char* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    }
    uint32_t a = abcd[0], b = abcd[1], c = abcd[2], d = abcd[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t next = b + rotl(a + f + kMd5T[i] + x[g], kMd5S[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    abcd[0] += a;
    abcd[1] += b;
    abcd[2] += c;
    abcd[3] += d;
}

}  // namespace

void md5Init(Md5Context* ctx) {
    ctx->count[0] = ctx->count[1] = 0;
    ctx->abcd[0] = 0x67452301;
    ctx->abcd[1] = 0xefcdab89;
    ctx->abcd[2] = 0x98badcfe;
    ctx->abcd[3] = 0x10325476;
    std::memset(ctx->buf, 0, sizeof ctx->buf);
}

void md5Append(Md5Context* ctx, const unsigned char* bytes, size_t n) {
    if (n == 0) return;
    size_t used = (ctx->count[0] >> 3) & 63;
    const uint64_t bits = (uint64_t(ctx->count[1]) << 32 | ctx->count[0]) + uint64_t(n) * 8;
    ctx->count[0] = uint32_t(bits);
    ctx->count[1] = uint32_t(bits >> 32);

    if (used) {
        const size_t take = n < 64 - used ? n : 64 - used;
        std::memcpy(ctx->buf + used, bytes, take);
        bytes += take;
        n -= take;
        used += take;
        if (used < 64) return;
        md5Block(ctx->abcd, ctx->buf);
    }
    for (; n >= 64; bytes += 64, n -= 64) md5Block(ctx->abcd, bytes);
    if (n) std::memcpy(ctx->buf, bytes, n);
}

void md5Finish(Md5Context* ctx, unsigned char digest[16]) {
    unsigned char length[8];
    for (int i = 0; i < 4; ++i) {
        length[i] = static_cast<unsigned char>(ctx->count[0] >> (8 * i));
        length[i + 4] = static_cast<unsigned char>(ctx->count[1] >> (8 * i));
    }
    static const unsigned char kPad[64] = {0x80};
    const size_t used = (ctx->count[0] >> 3) & 63;
    md5Append(ctx, kPad, used < 56 ? 56 - used : 120 - used);
    md5Append(ctx, length, 8);
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<unsigned char>(ctx->abcd[i / 4] >> (8 * (i % 4)));
}

std::string md5DigestHex(const unsigned char digest[16]) {
    static const char kHex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 0; i < 16; ++i) {
        out[i * 2] = kHex[digest[i] >> 4];
        out[i * 2 + 1] = kHex[digest[i] & 15];
    }
    return out;
}

// ---- UTF-8 / UTF-16 ----

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        // Each maximal ill-formed subpart becomes one U+FFFD.
        int need;
        uint32_t cp;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            cp = c & 0x0F;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            cp = c & 0x07;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < need; ++k, ++j) {
            if (j >= n || s[j] < lo || s[j] > hi) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (s[j] & 0x3F);
            lo = 0x80;
            hi = 0xBF;
        }
        if (!ok) {
            out.push_back(kReplacement);
            i = j;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i = j;
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string utf8ToAnsi(const std::string& text) {
    return text;
}

double nowSeconds() {
    using namespace std::chrono;
    return static_cast<double>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace veltrano
