#include <curl/curl.h>
#include <gtest/gtest.h>

#include <memory>

#include "net/DownloadFile.h"
#include "net/HTTPRequest.h"

namespace veltrano {
namespace {

std::unique_ptr<DownloadFile> plan(uint64_t size, unsigned count) {
    return std::unique_ptr<DownloadFile>(
        DownloadFile::create(nullptr, "http://127.0.0.1:1/f", "/x/game.zip", size, count));
}

TEST(DownloadPlanTest, EvenSplit) {
    auto task = plan(1000, 10);
    const auto& s = task->segments();
    ASSERT_EQ(s.size(), 10u);
    for (unsigned i = 0; i < 10; ++i) {
        EXPECT_EQ(s[i].start, i * 100u);
        EXPECT_EQ(s[i].end, i * 100u + 99);
        EXPECT_EQ(s[i].length, 100u);
        EXPECT_EQ(s[i].index, static_cast<int>(i));
        EXPECT_EQ(s[i].url, "http://127.0.0.1:1/f");
        EXPECT_FALSE(s[i].done);
    }
    EXPECT_EQ(task->getDownloadedTotal(), 0u);
}

TEST(DownloadPlanTest, LastRangeIsShorter) {
    auto task = plan(10, 3);
    const auto& s = task->segments();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].start, 0u);
    EXPECT_EQ(s[0].end, 3u);
    EXPECT_EQ(s[1].start, 4u);
    EXPECT_EQ(s[1].end, 7u);
    EXPECT_EQ(s[2].start, 8u);
    EXPECT_EQ(s[2].end, 9u);
    EXPECT_EQ(s[2].length, 2u);
}

TEST(DownloadPlanTest, SizesBeyondFourGiB) {
    const uint64_t size = (5ull << 30) + 3;
    auto task = plan(size, 10);
    const auto& s = task->segments();
    ASSERT_EQ(s.size(), 10u);
    uint64_t next = 0;
    for (const auto& seg : s) {
        EXPECT_EQ(seg.start, next);
        EXPECT_EQ(seg.length, seg.end - seg.start + 1);
        next = seg.end + 1;
    }
    EXPECT_EQ(next, size);
    EXPECT_GT(s[9].start, 0xFFFFFFFFull);
}

TEST(DownloadPlanTest, DegenerateInputsGiveNoEmptyRanges) {
    auto tiny = plan(10, 20);
    ASSERT_EQ(tiny->segments().size(), 10u);
    EXPECT_EQ(tiny->segments()[9].start, 9u);
    EXPECT_EQ(tiny->segments()[9].end, 9u);

    auto uneven = plan(10, 4);  // chunk 3: 0-2, 3-5, 6-8, 9-9
    ASSERT_EQ(uneven->segments().size(), 4u);
    EXPECT_EQ(uneven->segments()[3].length, 1u);

    auto noCount = plan(10, 0);
    ASSERT_EQ(noCount->segments().size(), 1u);
    EXPECT_EQ(noCount->segments()[0].end, 9u);

    EXPECT_TRUE(plan(0, 10)->segments().empty());
}

TEST(PostBodyTest, SortedEscapedAndAmpersandTerminated) {
    CURL* h = curl_easy_init();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(HTTPRequest::encodePostFields(h, {{"b", "x y"}, {"a", "1"}}), "a=1&b=x%20y&");
    EXPECT_EQ(HTTPRequest::encodePostFields(h, {{"e", ""}}), "e=&");
    EXPECT_EQ(HTTPRequest::encodePostFields(h, {}), "");
    EXPECT_EQ(HTTPRequest::encodePostFields(h, {{"k&=", "\xc3\xa9+/"}}), "k%26%3D=%C3%A9%2B%2F&");
    // Byte order, not locale order: upper case sorts before lower case.
    EXPECT_EQ(HTTPRequest::encodePostFields(h, {{"b", "1"}, {"B", "2"}, {"a", "3"}}), "B=2&a=3&b=1&");
    curl_easy_cleanup(h);
}

}  // namespace
}  // namespace veltrano
