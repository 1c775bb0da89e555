#include "app/LaunchParams.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/WindowMessage.h"
#include "support/TestEnv.h"
#include "util/Encoding.h"

namespace veltrano {
namespace {

struct Login {
    std::string uid, token, callbackInfo;
};

class LaunchParamsTest : public test::VeltranoTest {
protected:
    void SetUp() override {
        params().reset();
        params().setLoginHandler(
            [this](const std::string& uid, const std::string& token, const std::string& cb) {
                logins.push_back({uid, token, cb});
            });
    }
    void TearDown() override { params().reset(); }
    static LaunchParams& params() { return *LaunchParams::instance(); }

    Login loginWith(const std::string& message) {
        logins.clear();
        params().onLogin(message);
        EXPECT_EQ(logins.size(), 1u) << message;
        return logins.empty() ? Login{} : logins.back();
    }

    std::vector<Login> logins;
};

TEST_F(LaunchParamsTest, LoginHandsOverUidTokenAndCallbackInfo) {
    const std::string message = R"({"uid":12345,"callback_info":"abc"})";
    const Login l = loginWith(message);
    EXPECT_EQ(l.uid, "12345");
    EXPECT_EQ(l.token, "eyJ1aWQiOjEyMzQ1LCJjYWxsYmFja19pbmZvIjoiYWJjIn0=");
    EXPECT_EQ(l.callbackInfo, "abc");
    EXPECT_EQ(params().loginMessage(), message);
}

TEST_F(LaunchParamsTest, UidMustBeASixtyFourBitInteger) {
    EXPECT_EQ(loginWith(R"({"uid":"12345"})").uid, "0");
    EXPECT_EQ(loginWith(R"({"uid":"12345"})").token, "eyJ1aWQiOiIxMjM0NSJ9");
    EXPECT_EQ(loginWith(R"({"uid":-7})").uid, "-7");
    EXPECT_EQ(loginWith(R"({"uid":1.5})").uid, "0");
    EXPECT_EQ(loginWith(R"({"uid":0})").uid, "0");
    EXPECT_EQ(loginWith(R"({"uid":9223372036854775807})").uid, "9223372036854775807");
    EXPECT_EQ(loginWith(R"({"uid":-9223372036854775808})").uid, "-9223372036854775808");
    EXPECT_EQ(loginWith(R"({"uid":9223372036854775808})").uid, "0");
    EXPECT_EQ(loginWith(R"({"uid":123456789012345678901234567890})").uid, "0");
    EXPECT_EQ(loginWith(R"({"uid":null,"callback_info":7})").callbackInfo, "");
    EXPECT_EQ(loginWith(R"({"uid":true})").uid, "0");
}

TEST_F(LaunchParamsTest, NonJsonStillReachesTheHandler) {
    Login l = loginWith("hello");
    EXPECT_EQ(l.uid, "0");
    EXPECT_EQ(l.token, "aGVsbG8=");
    EXPECT_EQ(l.callbackInfo, "");
    l = loginWith(R"([{"uid":5,"callback_info":"x"}])");
    EXPECT_EQ(l.uid, "0");
    EXPECT_EQ(l.callbackInfo, "");
    l = loginWith("");
    EXPECT_EQ(l.uid, "0");
    EXPECT_EQ(l.token, "");
    l = loginWith(R"({"uid":5,"callback_info":"x")");
    EXPECT_EQ(l.uid, "0") << "a truncated object is not JSON";
    // Deep nesting is just another message that is not an object.
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    l = loginWith(deep);
    EXPECT_EQ(l.uid, "0");
    EXPECT_EQ(l.token, base64Encode(deep));
}

TEST_F(LaunchParamsTest, WithoutHandlerTheLoginIsOnlyStored) {
    params().setLoginHandler(nullptr);
    params().onLogin(R"({"uid":1})");
    EXPECT_EQ(params().loginMessage(), R"({"uid":1})");
    params().setLoginHandler([this](const std::string& uid, const std::string&, const std::string&) {
        logins.push_back({uid, "", ""});
    });
    EXPECT_TRUE(logins.empty()) << "nothing is queued for a later handler";
    params().onLogin(R"({"uid":2})");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].uid, "2");
}

TEST_F(LaunchParamsTest, ALoginDuringTheStartOfAnotherIsIgnored) {
    // The handler's pauses run the main loop, where the page may log in again.
    int calls = 0;
    params().setLoginHandler([&](const std::string& uid, const std::string&, const std::string&) {
        ++calls;
        if (uid == "1") params().onLogin(R"({"uid":2})");
    });
    params().onLogin(R"({"uid":1})");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(params().loginMessage(), R"({"uid":1})");
    // Once the start has ended, a login is taken again.
    params().onLogin(R"({"uid":3})");
    EXPECT_EQ(calls, 2);
}

TEST_F(LaunchParamsTest, DownloadCompleteFlag) {
    EXPECT_FALSE(params().isDownloadComplete());
    params().setDownloadComplete(true);
    EXPECT_TRUE(params().isDownloadComplete());
}

TEST_F(LaunchParamsTest, WebUrlQuery) {
    ASSERT_TRUE(env.writeConfig(R"({"web_url": "http://portal/login?x=1"})"));
    ASSERT_TRUE(env.loadConfig());
    const std::string base = "http://portal/login?x=1";
    EXPECT_EQ(params().buildWebUrl(), base + "?");

    params().setFileparam("P");
    EXPECT_EQ(params().buildWebUrl(), base + "?fileparam=P");
    params().setServerid("V");
    EXPECT_EQ(params().buildWebUrl(), base + "?serverid=V&fileparam=P");
    params().setServerid("");
    params().setFcext("F");
    EXPECT_EQ(params().buildWebUrl(), base + "?fcext=F&fileparam=P");

    params().setToken("T");
    params().setSource("S");
    params().setServerid("V");
    EXPECT_EQ(params().buildWebUrl(), base + "?token=T&source=S&serverid=V&fcext=F&fileparam=P");

    params().reset();
    params().setToken("a&b=c d");
    EXPECT_EQ(params().buildWebUrl(), base + "?token=a&b=c d") << "values are not escaped";
}

TEST_F(LaunchParamsTest, ClosingNoticeReachesTheParentWindow) {
    std::mt19937_64 rng(std::random_device{}());
    WindowMessageReceiver portal(static_cast<int64_t>(rng() >> 2) + 1);
    ASSERT_TRUE(portal.isOpen());
    params().setParentWindow(portal.windowId());
    params().setSenderWindow(4242);
    ASSERT_TRUE(params().notifyParentClosing());

    auto msg = portal.wait(2000);
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->message, kWmCopyData);
    EXPECT_EQ(msg->wordParam, 4242);
    EXPECT_EQ(msg->dwData, 1u);
    ASSERT_EQ(msg->data.size(), 528u);
    std::string want(528, '\0');
    want[0] = 1;
    want[4] = '1';
    want[524] = 1;
    EXPECT_EQ(msg->data, want);
    EXPECT_FALSE(portal.wait(20)) << "one notice, no retry";
}

TEST_F(LaunchParamsTest, NoNoticeWithoutParentWindow) {
    WindowMessageReceiver nullWindow(0);
    params().setSenderWindow(1);
    EXPECT_FALSE(params().notifyParentClosing());
    if (nullWindow.isOpen()) {
        EXPECT_FALSE(nullWindow.wait(50));
    }

    std::mt19937_64 rng(std::random_device{}());
    params().setParentWindow(static_cast<int64_t>(rng() >> 2) + 1);
    EXPECT_FALSE(params().notifyParentClosing()) << "a portal that is gone is not an error beyond the result";
}

}  // namespace
}  // namespace veltrano
