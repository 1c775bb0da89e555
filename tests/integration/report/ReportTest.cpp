#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/Log.h"
#include "net/Scheduler.h"
#include "report/Report.h"
#include "support/DevServer.h"
#include "support/TestEnv.h"
#include "support/TestUtil.h"
#include "util/Encoding.h"

namespace veltrano {
namespace {

using test::DevServer;
using test::DevServerReport;
using test::pumpUntil;

const std::set<std::string> kAlwaysSent = {
    "app_id",      "app_name",     "data_type",    "install_time",   "main_channel", "phone_uuid", "platform",
    "sub_channel", "system_brand", "system_model", "system_version", "time",         "user_name"};

// Percent-encoding of the wire: everything but letters, digits and "-._~".
std::string escape(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// "00-1A-2B-3C-4D-5E" (upper-case hexadecimal) or the fallback "00:00:00:00".
bool isMachineId(const std::string& id) {
    if (id == "00:00:00:00") return true;
    if (id.size() != 17) return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const bool ok =
            i % 3 == 2 ? id[i] == '-'
                       : std::isdigit(static_cast<unsigned char>(id[i])) || (id[i] >= 'A' && id[i] <= 'F');
        if (!ok) return false;
    }
    return true;
}

// Whole seconds written with "%f".
bool isWholeSecondsText(const std::string& text) {
    const size_t dot = text.find('.');
    if (dot == 0 || dot == std::string::npos || text.substr(dot) != ".000000") return false;
    return text.find_first_not_of("0123456789") == dot;
}

std::set<std::string> names(const DevServerReport& r) {
    std::set<std::string> out;
    for (const auto& [name, value] : r.fields) out.insert(name);
    return out;
}

class Reports : public test::VeltranoTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start({.root = env.root()})) << server.error();
        configure(server.url("/report"));
        initReport("player one%");
    }
    void TearDown() override {
        // Deliver whatever is still in flight before the folder goes away.
        pumpUntil([] { return Scheduler::instance()->size() == 0; });
    }
    void configure(const std::string& reportUrl) {
        ASSERT_TRUE(env.writeConfig(R"({"report_url": ")" + reportUrl + R"(",
            "app_name": "Veltrano Demo/\u6d4b", "app_id": "77~x.y_z-1", "main_channel": "a&b=c+d"})"));
        ASSERT_TRUE(env.loadConfig());
    }
    std::vector<DevServerReport> waitForReports(size_t n) {
        std::vector<DevServerReport> got;
        pumpUntil([&] { return (got = server.reports()).size() >= n; });
        return got;
    }
    bool waitForLog(const std::string& text) {
        return pumpUntil([&] { return log().find(text) != std::string::npos; });
    }
    std::string log() const { return env.readFile("Veltrano.log"); }

    DevServer server;
};

TEST_F(Reports, WireFormatIsSortedEscapedAndAmpersandTerminated) {
    sendReport(1001);
    const auto got = waitForReports(1);
    ASSERT_EQ(got.size(), 1u);
    const DevServerReport& r = got[0];
    EXPECT_EQ(r.path, "/report");
    EXPECT_EQ(r.contentType, "application/x-www-form-urlencoded");

    const ReportInfo* info = ReportInfo::instance();
#ifdef _WIN32
    const std::string platform = "windows";
#else
    const std::string platform = "linux";
#endif
    EXPECT_EQ(info->platform, platform);
    EXPECT_TRUE(isMachineId(info->phone_uuid)) << info->phone_uuid;
    const std::string expected =
        "app_id=77~x.y_z-1&app_name=Veltrano%20Demo%2F%E6%B5%8B&data_type=1001&"
        "install_time=&main_channel=a%26b%3Dc%2Bd&phone_uuid=" +
        escape(info->phone_uuid) + "&platform=" + platform +
        "&sub_channel=77~x.y_z-1&system_brand=" + escape(info->system_brand) +
        "&system_model=" + escape(info->system_model) + "&system_version=" + escape(info->system_version) +
        "&time=&user_name=player%20one%25&";
    EXPECT_EQ(r.body, expected);
    EXPECT_EQ(names(r), kAlwaysSent);
    EXPECT_EQ(r.fields.at("sub_channel"), r.fields.at("app_id"));
    EXPECT_EQ(r.fields.at("install_time"), "");
    EXPECT_EQ(r.fields.at("time"), "");

    EXPECT_TRUE(waitForLog("report kCCHTTPRequestStateCompleted dataType 1001  200 ok\r\n")) << log();
}

TEST_F(Reports, ExtraRecordAddsOnlyItsNonEmptyFields) {
    ReportExtra speed;
    speed.ad_tracking_id = "1.5 Mb/S";
    sendReport(1015, &speed);
    auto got = waitForReports(1);
    ASSERT_EQ(got.size(), 1u);
    std::set<std::string> expectedNames = kAlwaysSent;
    expectedNames.insert("ad_tracking_id");
    EXPECT_EQ(names(got[0]), expectedNames);
    EXPECT_EQ(got[0].fields.at("ad_tracking_id"), "1.5 Mb/S");
    EXPECT_EQ(got[0].body.rfind("ad_tracking_id=1.5%20Mb%2FS&app_id=", 0), 0u) << got[0].body;

    ReportExtra full;
    full.user_name = "someone else";
    full.error = "disk full";
    full.error_no = -5;
    sendReport(1014, &full);
    got = waitForReports(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].fields.at("user_name"), "someone else");
    EXPECT_EQ(got[1].fields.at("error"), "disk full");
    EXPECT_EQ(got[1].fields.at("error_no"), "-5");
    EXPECT_EQ(got[1].fields.count("ad_tracking_id"), 0u);

    ReportExtra empty;
    sendReport(1003, &empty);
    got = waitForReports(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(names(got[2]), kAlwaysSent);
    EXPECT_EQ(got[2].fields.at("user_name"), "player one%");
}

TEST_F(Reports, LogIsAttachedAbove1100Only) {
    writeLog("%s", "line with % and & and = signs");
    sendReport(1100);
    auto got = waitForReports(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].fields.count("log"), 0u);

    ASSERT_TRUE(waitForLog("dataType 1100  200 ok"));
    const std::string before = log();
    sendReport(1101);
    sendReport(4294967295u);
    got = waitForReports(3);
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 1; i < 3; ++i) {
        ASSERT_EQ(got[i].fields.count("log"), 1u);
        EXPECT_EQ(got[i].fields.at("log"), before);
        EXPECT_NE(got[i].body.find("line%20with%20%25%20and%20%26%20and%20%3D%20signs"), std::string::npos);
    }
    std::set<std::string> types = {got[1].fields.at("data_type"), got[2].fields.at("data_type")};
    EXPECT_EQ(types, (std::set<std::string>{"1101", "4294967295"}));
}

TEST_F(Reports, MarkerPresentAtStartUpSilencesEveryReport) {
    ASSERT_TRUE(env.writeFile("Install.log", "1765180800.000000"));
    initReport("player one%");
    EXPECT_TRUE(ReportInfo::instance()->suppressed);
    EXPECT_EQ(buildReportFields(1001).at("install_time"), "1765180800.000000");
    EXPECT_EQ(buildReportFields(1001).at("time"), "1765180800.000000");

    sendReport(1001);
    sendReport(1115);
    ReportExtra extra;
    extra.error = "x";
    sendReport(1012, &extra);
    EXPECT_EQ(Scheduler::instance()->size(), 0u);
    EXPECT_EQ(log(), "");

    // A report sent once the marker is gone arrives alone: nothing from before was in flight.
    ASSERT_TRUE(std::remove(env.path("Install.log").c_str()) == 0);
    initReport("player one%");
    sendReport(1003);
    ASSERT_TRUE(waitForLog("dataType 1003  200 ok"));
    const auto got = server.reports();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].fields.at("data_type"), "1003");
    EXPECT_EQ(log().find("dataType 1001"), std::string::npos);
    EXPECT_EQ(log().find("dataType 1115"), std::string::npos);
}

TEST_F(Reports, InstallTimeIsWrittenOnceAndTheGateStaysOpenForTheRun) {
    const double before = nowSeconds();
    writeInstallTime();
    const double after = nowSeconds();
    const std::string written = env.readFile("Install.log");
    ASSERT_TRUE(isWholeSecondsText(written)) << written;
    EXPECT_GE(std::atof(written.c_str()), before);
    EXPECT_LE(std::atof(written.c_str()), after);

    ASSERT_TRUE(env.writeFile("Install.log", "kept as it is"));
    writeInstallTime();
    EXPECT_EQ(env.readFile("Install.log"), "kept as it is");

    sendReport(1012);
    const auto got = waitForReports(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].fields.at("install_time"), "");
}

TEST_F(Reports, ReportFromAWorkerThreadIsDeliveredOnTheTickingThread) {
    std::thread worker([] { sendReport(1012); });
    worker.join();
    EXPECT_TRUE(waitForLog("report kCCHTTPRequestStateCompleted dataType 1012  200 ok")) << log();
    EXPECT_EQ(waitForReports(1).size(), 1u);
}

TEST_F(Reports, ServerErrorsAreLoggedAndUnreachableServersAreSilent) {
    ASSERT_TRUE(server.addFault(R"({"path": "/report", "status": 503, "times": 1})"));
    sendReport(1007);
    EXPECT_TRUE(waitForLog("report kCCHTTPRequestStateCompleted dataType 1007  503 fault\r\n")) << log();

    // A port that was free a moment ago: the connection is refused.
    const int port = test::freeLoopbackPort();
    ASSERT_NE(port, 0);
    configure("http://127.0.0.1:" + std::to_string(port) + "/report");
    sendReport(1008);
    configure("");
    sendReport(1010);
    ASSERT_TRUE(pumpUntil([] { return Scheduler::instance()->size() == 0; }));
    EXPECT_EQ(log().find("dataType 1008"), std::string::npos);
    EXPECT_EQ(log().find("dataType 1010"), std::string::npos);
}

TEST_F(Reports, ReportsInFlightDoNotDisturbTheExit) {
    ASSERT_TRUE(server.addFault(R"({"path": "/report", "delay_ms": 1500})"));
    EXPECT_EXIT(
        {
            sendReport(1013);
            sendReport(1115);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace veltrano
