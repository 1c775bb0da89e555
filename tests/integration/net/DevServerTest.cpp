// The loopback server every networking and update test relies on.

#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "support/DevServer.h"

namespace veltrano::test {
namespace {

class DevServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        data = randomBytes(1000);
        writeFile(folder.file("f.bin"), data);
        ASSERT_TRUE(server.start({.root = folder.path()})) << server.error();
    }
    TempFolder folder;
    DevServer server;
    std::string data;
};

TEST_F(DevServerTest, ServesFilesAndByteRanges) {
    Fetched whole = fetch(server.url("/f.bin"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, data);

    Fetched mid = fetch(server.url("/f.bin"), "140-199");
    EXPECT_EQ(mid.status, 206);
    EXPECT_EQ(mid.contentRange, "bytes 140-199/1000");
    EXPECT_EQ(mid.body, data.substr(140, 60));

    Fetched open = fetch(server.url("/f.bin"), "990-");
    EXPECT_EQ(open.contentRange, "bytes 990-999/1000");
    EXPECT_EQ(open.body, data.substr(990));

    Fetched suffix = fetch(server.url("/f.bin"), "-5");
    EXPECT_EQ(suffix.body, data.substr(995));

    Fetched clamped = fetch(server.url("/f.bin"), "900-5000");
    EXPECT_EQ(clamped.contentRange, "bytes 900-999/1000");

    EXPECT_EQ(fetch(server.url("/f.bin"), "1000-1100").status, 416);
    EXPECT_EQ(fetch(server.url("/missing.bin")).status, 404);
    // Escaping the root would reach this very file through its parent folder.
    std::string name = folder.path().substr(folder.path().rfind('/') + 1);
    EXPECT_EQ(fetch(server.url("/%2e%2e/" + name + "/f.bin")).status, 404);

    std::vector<std::string> ranges = server.ranges("/f.bin");
    ASSERT_EQ(ranges.size(), 6u);
    EXPECT_EQ(ranges[0], "");
    EXPECT_EQ(ranges[1], "bytes=140-199");
}

TEST_F(DevServerTest, StatusFaultsApplyToTheFirstRequestsOnly) {
    ASSERT_TRUE(server.addFault(R"({"path":"/f.bin","status":503,"times":2})")) << server.error();
    EXPECT_EQ(fetch(server.url("/f.bin")).status, 503);
    EXPECT_EQ(fetch(server.url("/f.bin")).status, 503);
    EXPECT_EQ(fetch(server.url("/f.bin")).status, 200);
    EXPECT_EQ(server.requestCount("/f.bin"), 3);

    // A rule can single out one range of a file.
    ASSERT_TRUE(server.addFault(R"({"path":"/f.bin","range":"bytes=100-","status":500})"));
    EXPECT_EQ(fetch(server.url("/f.bin"), "0-99").status, 206);
    EXPECT_EQ(fetch(server.url("/f.bin"), "100-199").status, 500);
    ASSERT_TRUE(server.clearFaults());
    EXPECT_EQ(fetch(server.url("/f.bin"), "100-199").status, 206);
}

TEST_F(DevServerTest, BodyFaults) {
    ASSERT_TRUE(server.addFault(R"([{"path":"/f.bin","ignore_range":true,"times":1},
                                     {"path":"/f.bin","short_by":10,"times":1},
                                     {"path":"/f.bin","reset_after":300,"times":1}])"));
    Fetched ignored = fetch(server.url("/f.bin"), "100-199");
    EXPECT_EQ(ignored.status, 200);
    EXPECT_EQ(ignored.body, data);

    // Looks complete to the client: only the length tells.
    Fetched cut = fetch(server.url("/f.bin"), "100-199");
    EXPECT_EQ(cut.result, CURLE_OK);
    EXPECT_EQ(cut.status, 206);
    EXPECT_EQ(cut.body, data.substr(100, 90));

    Fetched reset = fetch(server.url("/f.bin"));
    EXPECT_NE(reset.result, CURLE_OK);
    EXPECT_EQ(reset.body, data.substr(0, 300));

    EXPECT_EQ(fetch(server.url("/f.bin")).body, data);
}

TEST_F(DevServerTest, RedirectsAndRateLimitedBodiesArriveWhole) {
    ASSERT_TRUE(server.addFault(R"({"path":"/old","redirect":"/f.bin"})"));
    ASSERT_TRUE(server.addFault(R"({"path":"/f.bin","rate":20000,"delay_ms":50})"));
    Fetched moved = fetch(server.url("/old"));
    EXPECT_EQ(moved.status, 301);
    Fetched slow = fetch(server.url("/f.bin"), "0-499");
    EXPECT_EQ(slow.body, data.substr(0, 500));
}

TEST_F(DevServerTest, CollectsFormPostsAndRejectsBadRules) {
    CURL* curl = curl_easy_init();
    std::string url = server.url("/report");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "b=x%20y&a=1&e=&c=%26%3D+&");
    std::string answer;
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* u) {
            static_cast<std::string*>(u)->append(d, s * n);
            return s * n;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
    curl_easy_cleanup(curl);
    EXPECT_EQ(answer, "ok");

    auto reports = server.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].path, "/report");
    EXPECT_EQ(reports[0].body, "b=x%20y&a=1&e=&c=%26%3D+&");
    std::map<std::string, std::string> expected = {{"a", "1"}, {"b", "x y"}, {"c", "&= "}, {"e", ""}};
    EXPECT_EQ(reports[0].fields, expected);
    ASSERT_TRUE(server.clearReports());
    EXPECT_TRUE(server.reports().empty());

    EXPECT_FALSE(server.addFault("{not json"));
    EXPECT_FALSE(server.addFault(R"({"path":"/f.bin","stauts":500})"));
    EXPECT_EQ(fetch(server.url("/f.bin")).status, 200);
}

}  // namespace
}  // namespace veltrano::test
