#include "util/Encoding.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/FileUtils.h"

namespace veltrano {
namespace {

std::string md5Of(const std::string& text, const std::vector<size_t>& pieces = {}) {
    Md5Context ctx;
    md5Init(&ctx);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t at = 0;
    for (size_t i = 0; at < text.size(); ++i) {
        size_t n = pieces.empty() ? text.size() : pieces[i % pieces.size()];
        if (n > text.size() - at) n = text.size() - at;
        md5Append(&ctx, bytes + at, n);
        at += n;
    }
    unsigned char digest[16];
    md5Finish(&ctx, digest);
    return md5DigestHex(digest);
}

TEST(Base64, PaddingAndAlphabet) {
    EXPECT_EQ(base64Encode(std::string()), "");
    EXPECT_EQ(base64Encode(std::string("a")), "YQ==");
    EXPECT_EQ(base64Encode(std::string("ab")), "YWI=");
    EXPECT_EQ(base64Encode(std::string("abc")), "YWJj");
    // RFC 4648 test vectors.
    EXPECT_EQ(base64Encode(std::string("f")), "Zg==");
    EXPECT_EQ(base64Encode(std::string("fo")), "Zm8=");
    EXPECT_EQ(base64Encode(std::string("foo")), "Zm9v");
    EXPECT_EQ(base64Encode(std::string("foob")), "Zm9vYg==");
    EXPECT_EQ(base64Encode(std::string("fooba")), "Zm9vYmE=");
    EXPECT_EQ(base64Encode(std::string("foobar")), "Zm9vYmFy");
    // High bits, "+" and "/" and bytes that are zero.
    EXPECT_EQ(base64Encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(base64Encode(std::string("\0\0\0\0", 4)), "AAAAAA==");
}

TEST(Base64, RawFormWritesExactlyTheCountItReturns) {
    const unsigned char in[] = {'a', 'b', 'c', 'd'};
    for (size_t n = 0; n <= 4; ++n) {
        std::string out(16, '#');
        const size_t written = base64Encode(in, n, out.data());
        EXPECT_EQ(written, (n + 2) / 3 * 4) << n;
        EXPECT_EQ(out.find_first_of('#'), written) << "no byte beyond the result is touched, n=" << n;
    }
}

TEST(Md5, Rfc1321SuiteWholeAndInOddPieces) {
    const std::vector<std::pair<std::string, std::string>> suite = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    const std::vector<std::vector<size_t>> feeds = {{}, {1}, {3, 7}, {13}, {63, 1, 2}, {64}, {65, 5}};
    for (const auto& [text, digest] : suite) {
        for (const auto& feed : feeds) EXPECT_EQ(md5Of(text, feed), digest) << '"' << text << '"';
    }
}

TEST(Md5, LongInputAcrossManyBlocks) {
    const std::string million(1000000, 'a');
    EXPECT_EQ(md5Of(million), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(md5Of(million, {4093, 1, 777}), "7707d6ae4e027c70eea2a935c2296f21");
    // Lengths around the padding boundary (55, 56, 63, 64 bytes) must agree whole and piecewise.
    for (size_t len : {55u, 56u, 57u, 63u, 64u, 119u, 120u}) {
        const std::string text(len, 'x');
        EXPECT_EQ(md5Of(text), md5Of(text, {1})) << len;
    }
    EXPECT_EQ(md5Of(std::string(56, 'x')), "668a72d5ba17f08e62dabcafad6db14b");
}

TEST(Utf, ChineseTextRoundTrips) {
    const std::string utf8 = "\xe4\xb8\xad\xe6\x96\x87 ok";  // two Chinese characters
    const std::u16string utf16 = utf8ToUtf16(utf8);
    ASSERT_EQ(utf16.size(), 5u);
    EXPECT_EQ(utf16[0], 0x4E2D);
    EXPECT_EQ(utf16[1], 0x6587);
    EXPECT_EQ(utf16[2], u' ');
    EXPECT_EQ(utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(utf8ToUtf16(""), u"");
    EXPECT_EQ(utf16ToUtf8(u""), "");
}

TEST(Utf, SupplementaryCharactersUseSurrogatePairs) {
    const std::string emoji = "\xf0\x9f\x98\x80";  // U+1F600
    EXPECT_EQ(utf8ToUtf16(emoji), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(utf16ToUtf8(std::u16string{0xD83D, 0xDE00}), emoji);
}

TEST(Utf, InvalidSequencesBecomeReplacementCharacters) {
    const char16_t R = 0xFFFD;
    EXPECT_EQ(utf8ToUtf16("a\xff"
                          "b"),
              (std::u16string{u'a', R, u'b'}));
    // Truncated three-byte sequence at the end: one replacement.
    EXPECT_EQ(utf8ToUtf16("x\xe4\xb8"), (std::u16string{u'x', R}));
    // Truncated sequence followed by ASCII keeps the ASCII.
    EXPECT_EQ(utf8ToUtf16("\xe4\xb8z"), (std::u16string{R, u'z'}));
    // Overlong "/" and a lone continuation byte.
    EXPECT_EQ(utf8ToUtf16("\xc0\xaf"), (std::u16string{R, R}));
    EXPECT_EQ(utf8ToUtf16("\x80"), (std::u16string{R}));
    // Encoded surrogate and a code point beyond U+10FFFF.
    EXPECT_EQ(utf8ToUtf16("\xed\xa0\x80"), (std::u16string{R, R, R}));
    EXPECT_EQ(utf8ToUtf16("\xf4\x90\x80\x80"), (std::u16string{R, R, R, R}));
    // Unpaired surrogates on the way back.
    EXPECT_EQ(utf16ToUtf8(std::u16string{u'a', 0xD800, u'b'}),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(utf16ToUtf8(std::u16string{0xDC00}), "\xef\xbf\xbd");
}

TEST(Utf, CutsFallBetweenCharacters) {
    const std::string han = "\xE6\xB8\xB8", face = "\xF0\x9F\x98\x80";
    const struct {
        std::string text;
        size_t max, cut;
    } rows[] = {
        {"abc", 5, 3},                   // short enough: whole
        {"abcdef", 4, 4},                // plain bytes: at the limit
        {"a" + han + "b", 2, 1},         // inside a 3-byte character: before it
        {"a" + han + "b", 4, 4},         // right after it
        {"ab" + face, 5, 2},             // inside a 4-byte character
        {"ab" + face + "c", 6, 6},       //
        {"\xC3\xA9\xC3\xA9", 3, 2},      // inside a 2-byte character
        {std::string(6, '\x80'), 4, 4},  // no lead byte in reach: at the limit
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(utf8CutLength(row.text, row.max), row.cut);
    }
}

TEST(Clock, WholeSecondsSinceEpoch) {
    const double a = nowSeconds();
    const std::time_t t = std::time(nullptr);
    EXPECT_EQ(a, static_cast<double>(static_cast<long long>(a))) << "milliseconds are dropped";
    EXPECT_NEAR(a, static_cast<double>(t), 2.0);
}

}  // namespace
}  // namespace veltrano
