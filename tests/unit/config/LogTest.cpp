#include "config/Log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "support/TestEnv.h"

namespace veltrano {
namespace {

const std::string kStamp = R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})";

class LogTest : public test::VeltranoTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(env.writeConfig(R"({"log_name": "app.log"})"));
        ASSERT_TRUE(env.loadConfig());
    }
    std::string logged() { return env.readFile("app.log"); }
    // Runs fn while swallowing the console copy, returns what reached stdout.
    template <typename Fn>
    std::string quietly(Fn fn) {
        testing::internal::CaptureStdout();
        fn();
        return testing::internal::GetCapturedStdout();
    }
};

TEST(TimeStamp, Format) {
    EXPECT_TRUE(std::regex_match(timeStamp(), std::regex(kStamp))) << timeStamp();
}

TEST_F(LogTest, StoredBytesOfOneLine) {
    const std::string out = quietly([] { writeLog("abc"); });
    EXPECT_EQ(out, "abc\n");
    const std::string file = logged();
    ASSERT_TRUE(std::regex_match(file, std::regex(kStamp + " abc\r\n\r\r\n"))) << file;
    EXPECT_EQ(file.size(), 19u + 1 + 3 + 5);
}

TEST_F(LogTest, LineFeedsInsideAndAtTheEnd) {
    quietly([] { writeLog("abc\n"); });
    EXPECT_TRUE(std::regex_match(logged(), std::regex(kStamp + " abc\r\n\r\n\r\r\n")));
    ASSERT_EQ(unlink(env.path("app.log").c_str()), 0);
    quietly([] { writeLog("a\nb\rc"); });
    EXPECT_TRUE(std::regex_match(logged(), std::regex(kStamp + " a\r\nb\rc\r\n\r\r\n")))
        << "file is re-created";
}

TEST_F(LogTest, FormatsAndAppends) {
    quietly([] {
        writeLog("n=%d s=%s", 42, "x");
        writeLog("%s", "100%");
    });
    EXPECT_TRUE(
        std::regex_match(logged(), std::regex(kStamp + " n=42 s=x\r\n\r\r\n" + kStamp + " 100%\r\n\r\r\n")));
}

TEST_F(LogTest, MessagesBeyondTheFirstBuffer) {
    for (size_t len : {16380u, 16381u, 16382u, 40000u}) {
        unlink(env.path("app.log").c_str());
        const std::string text(len, 'q');
        const std::string out = quietly([&] { writeLog("%s", text.c_str()); });
        EXPECT_EQ(out, text + "\n") << len;
        const std::string file = logged();
        ASSERT_EQ(file.size(), 20 + len + 5) << len;
        EXPECT_EQ(file.substr(20, len), text);
        EXPECT_EQ(file.substr(20 + len), "\r\n\r\r\n");
    }
}

TEST_F(LogTest, NoFileWithoutLogPath) {
    ASSERT_EQ(unlink(env.path("launcher.cfg").c_str()), 0);
    EXPECT_FALSE(env.loadConfig());
    const std::string out = quietly([] { writeLog("console only"); });
    EXPECT_EQ(out, "console only\n");
    EXPECT_FALSE(env.exists("app.log"));
    EXPECT_FALSE(env.exists("Veltrano.log"));
}

TEST_F(LogTest, UnwritableLogIsSkippedSilently) {
    ASSERT_TRUE(env.writeConfig(R"({"log_name": "missing-dir/app.log"})"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_EQ(quietly([] { writeLog("still here"); }), "still here\n");
    EXPECT_FALSE(env.exists("missing-dir"));
}

TEST_F(LogTest, ThreadsNeverInterleave) {
    constexpr int kPerThread = 200;
    const std::string a(3000, 'a'), b(5000, 'b');
    quietly([&] {
        std::thread ta([&] {
            for (int i = 0; i < kPerThread; ++i) writeLog("%s", a.c_str());
        });
        std::thread tb([&] {
            for (int i = 0; i < kPerThread; ++i) writeLog("%s", b.c_str());
        });
        ta.join();
        tb.join();
    });
    const std::string file = logged();
    const std::regex stamp(kStamp + " ");
    size_t at = 0;
    int as = 0, bs = 0;
    while (at < file.size()) {
        const size_t end = file.find("\r\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const std::string one = file.substr(at, end + 3 - at);
        ASSERT_TRUE(std::regex_match(one.substr(0, 20), stamp)) << "entry at byte " << at;
        const std::string body = one.substr(20);
        ASSERT_TRUE(body == a + "\r\n\r\r\n" || body == b + "\r\n\r\r\n")
            << "entry at byte " << at << " is torn";
        (body[0] == 'a' ? as : bs)++;
        at = end + 3;
    }
    EXPECT_EQ(as, kPerThread);
    EXPECT_EQ(bs, kPerThread);
}

}  // namespace
}  // namespace veltrano
