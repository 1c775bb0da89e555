// A download of several MiB in ten ranges from a real web server.

#include <gtest/gtest.h>

#include "NetTestSupport.h"
#include "net/DownloadFile.h"
#include "support/Nginx.h"
#include "support/TestEnv.h"
#include "util/Encoding.h"

namespace veltrano::test {
namespace {

TEST(NginxDownloadTest, SeveralMiBInTenRangesMatchTheDigest) {
#ifdef _WIN32
    GTEST_SKIP() << "nginx is a Linux program, which a Windows test cannot start; ranged downloads are "
                    "tested against the dev server";
#endif
    if (Nginx::executable().empty()) GTEST_SKIP() << "nginx is not installed";
    TestEnv env;
    TempFolder web, work, download;
    std::string source = randomBytes((6 << 20) + 12345, 21);
    writeFile(web.file("game.zip"), source);
    Nginx nginx;
    ASSERT_TRUE(nginx.start(web.path(), work.path())) << nginx.error();

    std::string savePath = download.file("game.zip");
    std::vector<unsigned> events;
    DownloadFile::create([&](unsigned event, DownloadFile*) { events.push_back(event); },
                         nginx.url("/game.zip"), savePath, source.size(), 10)
        ->start();
    ASSERT_TRUE(pumpUntil([&] { return !events.empty() && events.back() != kDownloadFileProgress; }));
    EXPECT_EQ(events.back(), kDownloadFileCompleted);
    std::string got = readFile(savePath);
    EXPECT_EQ(got.size(), source.size());
    EXPECT_EQ(md5Of(got), md5Of(source));
    // Every range was asked for and answered with 206.
    std::string log = readFile(work.file("access.log"));
    size_t partial = 0;
    for (size_t pos = 0; (pos = log.find("\" 206 ", pos)) != std::string::npos; ++pos) ++partial;
    EXPECT_EQ(partial, 10u);
}

}  // namespace
}  // namespace veltrano::test
