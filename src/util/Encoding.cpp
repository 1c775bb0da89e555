#include "util/Encoding.h"

#include <chrono>
#include <cstring>

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

// The 64 steps written out: a loop that picks the round function and word index at run time
// hashes at about half the speed, and the archive digest runs over every downloaded byte.
#define VELTRANO_MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f(b, c, d) + (x) + (t);                  \
    a = rotl(a, s) + b

inline uint32_t md5F(uint32_t b, uint32_t c, uint32_t d) {
    return d ^ (b & (c ^ d));
}
inline uint32_t md5G(uint32_t b, uint32_t c, uint32_t d) {
    return c ^ (d & (b ^ c));
}
inline uint32_t md5H(uint32_t b, uint32_t c, uint32_t d) {
    return b ^ c ^ d;
}
inline uint32_t md5I(uint32_t b, uint32_t c, uint32_t d) {
    return c ^ (b | ~d);
}

void md5Block(uint32_t abcd[4], const unsigned char* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    }
    uint32_t a = abcd[0], b = abcd[1], c = abcd[2], d = abcd[3];

    VELTRANO_MD5_STEP(md5F, a, b, c, d, x[0], 0xd76aa478, 7);
    VELTRANO_MD5_STEP(md5F, d, a, b, c, x[1], 0xe8c7b756, 12);
    VELTRANO_MD5_STEP(md5F, c, d, a, b, x[2], 0x242070db, 17);
    VELTRANO_MD5_STEP(md5F, b, c, d, a, x[3], 0xc1bdceee, 22);
    VELTRANO_MD5_STEP(md5F, a, b, c, d, x[4], 0xf57c0faf, 7);
    VELTRANO_MD5_STEP(md5F, d, a, b, c, x[5], 0x4787c62a, 12);
    VELTRANO_MD5_STEP(md5F, c, d, a, b, x[6], 0xa8304613, 17);
    VELTRANO_MD5_STEP(md5F, b, c, d, a, x[7], 0xfd469501, 22);
    VELTRANO_MD5_STEP(md5F, a, b, c, d, x[8], 0x698098d8, 7);
    VELTRANO_MD5_STEP(md5F, d, a, b, c, x[9], 0x8b44f7af, 12);
    VELTRANO_MD5_STEP(md5F, c, d, a, b, x[10], 0xffff5bb1, 17);
    VELTRANO_MD5_STEP(md5F, b, c, d, a, x[11], 0x895cd7be, 22);
    VELTRANO_MD5_STEP(md5F, a, b, c, d, x[12], 0x6b901122, 7);
    VELTRANO_MD5_STEP(md5F, d, a, b, c, x[13], 0xfd987193, 12);
    VELTRANO_MD5_STEP(md5F, c, d, a, b, x[14], 0xa679438e, 17);
    VELTRANO_MD5_STEP(md5F, b, c, d, a, x[15], 0x49b40821, 22);

    VELTRANO_MD5_STEP(md5G, a, b, c, d, x[1], 0xf61e2562, 5);
    VELTRANO_MD5_STEP(md5G, d, a, b, c, x[6], 0xc040b340, 9);
    VELTRANO_MD5_STEP(md5G, c, d, a, b, x[11], 0x265e5a51, 14);
    VELTRANO_MD5_STEP(md5G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    VELTRANO_MD5_STEP(md5G, a, b, c, d, x[5], 0xd62f105d, 5);
    VELTRANO_MD5_STEP(md5G, d, a, b, c, x[10], 0x02441453, 9);
    VELTRANO_MD5_STEP(md5G, c, d, a, b, x[15], 0xd8a1e681, 14);
    VELTRANO_MD5_STEP(md5G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    VELTRANO_MD5_STEP(md5G, a, b, c, d, x[9], 0x21e1cde6, 5);
    VELTRANO_MD5_STEP(md5G, d, a, b, c, x[14], 0xc33707d6, 9);
    VELTRANO_MD5_STEP(md5G, c, d, a, b, x[3], 0xf4d50d87, 14);
    VELTRANO_MD5_STEP(md5G, b, c, d, a, x[8], 0x455a14ed, 20);
    VELTRANO_MD5_STEP(md5G, a, b, c, d, x[13], 0xa9e3e905, 5);
    VELTRANO_MD5_STEP(md5G, d, a, b, c, x[2], 0xfcefa3f8, 9);
    VELTRANO_MD5_STEP(md5G, c, d, a, b, x[7], 0x676f02d9, 14);
    VELTRANO_MD5_STEP(md5G, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    VELTRANO_MD5_STEP(md5H, a, b, c, d, x[5], 0xfffa3942, 4);
    VELTRANO_MD5_STEP(md5H, d, a, b, c, x[8], 0x8771f681, 11);
    VELTRANO_MD5_STEP(md5H, c, d, a, b, x[11], 0x6d9d6122, 16);
    VELTRANO_MD5_STEP(md5H, b, c, d, a, x[14], 0xfde5380c, 23);
    VELTRANO_MD5_STEP(md5H, a, b, c, d, x[1], 0xa4beea44, 4);
    VELTRANO_MD5_STEP(md5H, d, a, b, c, x[4], 0x4bdecfa9, 11);
    VELTRANO_MD5_STEP(md5H, c, d, a, b, x[7], 0xf6bb4b60, 16);
    VELTRANO_MD5_STEP(md5H, b, c, d, a, x[10], 0xbebfbc70, 23);
    VELTRANO_MD5_STEP(md5H, a, b, c, d, x[13], 0x289b7ec6, 4);
    VELTRANO_MD5_STEP(md5H, d, a, b, c, x[0], 0xeaa127fa, 11);
    VELTRANO_MD5_STEP(md5H, c, d, a, b, x[3], 0xd4ef3085, 16);
    VELTRANO_MD5_STEP(md5H, b, c, d, a, x[6], 0x04881d05, 23);
    VELTRANO_MD5_STEP(md5H, a, b, c, d, x[9], 0xd9d4d039, 4);
    VELTRANO_MD5_STEP(md5H, d, a, b, c, x[12], 0xe6db99e5, 11);
    VELTRANO_MD5_STEP(md5H, c, d, a, b, x[15], 0x1fa27cf8, 16);
    VELTRANO_MD5_STEP(md5H, b, c, d, a, x[2], 0xc4ac5665, 23);

    VELTRANO_MD5_STEP(md5I, a, b, c, d, x[0], 0xf4292244, 6);
    VELTRANO_MD5_STEP(md5I, d, a, b, c, x[7], 0x432aff97, 10);
    VELTRANO_MD5_STEP(md5I, c, d, a, b, x[14], 0xab9423a7, 15);
    VELTRANO_MD5_STEP(md5I, b, c, d, a, x[5], 0xfc93a039, 21);
    VELTRANO_MD5_STEP(md5I, a, b, c, d, x[12], 0x655b59c3, 6);
    VELTRANO_MD5_STEP(md5I, d, a, b, c, x[3], 0x8f0ccc92, 10);
    VELTRANO_MD5_STEP(md5I, c, d, a, b, x[10], 0xffeff47d, 15);
    VELTRANO_MD5_STEP(md5I, b, c, d, a, x[1], 0x85845dd1, 21);
    VELTRANO_MD5_STEP(md5I, a, b, c, d, x[8], 0x6fa87e4f, 6);
    VELTRANO_MD5_STEP(md5I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    VELTRANO_MD5_STEP(md5I, c, d, a, b, x[6], 0xa3014314, 15);
    VELTRANO_MD5_STEP(md5I, b, c, d, a, x[13], 0x4e0811a1, 21);
    VELTRANO_MD5_STEP(md5I, a, b, c, d, x[4], 0xf7537e82, 6);
    VELTRANO_MD5_STEP(md5I, d, a, b, c, x[11], 0xbd3af235, 10);
    VELTRANO_MD5_STEP(md5I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    VELTRANO_MD5_STEP(md5I, b, c, d, a, x[9], 0xeb86d391, 21);

    abcd[0] += a;
    abcd[1] += b;
    abcd[2] += c;
    abcd[3] += d;
}

#undef VELTRANO_MD5_STEP

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

size_t utf8CutLength(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    // Back to the lead byte of the character the cut falls into; a sequence is at most four bytes.
    size_t cut = maxBytes;
    for (int i = 0; i < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++i) --cut;
    return (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80 ? maxBytes : cut;
}

double nowSeconds() {
    using namespace std::chrono;
    return static_cast<double>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace veltrano
