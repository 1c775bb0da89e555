// DownloadFile against the loopback devserver: ranges, resume, retries, faults and joining.

#include "net/DownloadFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <set>

#include "NetTestSupport.h"
#include "support/TestEnv.h"

namespace veltrano::test {
namespace {

struct Events {
    std::vector<unsigned> list;
    std::vector<uint64_t> totals;
    std::vector<DownloadSegment> finalSegments;
    bool final = false;
    size_t watched = 0;  // segment whose downloaded count is traced
    std::vector<uint64_t> watchedCounts;
};

class DownloadFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = randomBytes(1000, 11);
        writeFile(web.file("f.bin"), source);
        savePath = work.file("game.zip");
        ASSERT_TRUE(server.start({.root = web.path()})) << server.error();
    }

    void startDownload(unsigned segments, const std::string& path = "/f.bin") {
        DownloadFile* task = DownloadFile::create(
            [this](unsigned event, DownloadFile* t) {
                events.list.push_back(event);
                if (event == kDownloadFileProgress) {
                    events.totals.push_back(t->getDownloadedTotal());
                    if (events.watched < t->segments().size())
                        events.watchedCounts.push_back(t->segments()[events.watched].downloaded);
                } else {
                    events.final = true;
                    events.finalSegments = t->segments();
                }
            },
            server.url(path), savePath, source.size(), segments);
        task->start();
    }

    // Runs to the final event, then keeps ticking a while to catch anything that follows it.
    void run() {
        ASSERT_TRUE(pumpUntil([&] { return events.final; }));
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
        pumpUntil([&] { return std::chrono::steady_clock::now() > until; });
    }

    // A loaded machine may fail a transfer now and then; each retry asks for its range again.
    size_t expectedRequests() const {
        size_t n = events.finalSegments.size();
        for (const auto& seg : events.finalSegments) n += static_cast<size_t>(seg.retries);
        return n;
    }

    unsigned finalEvents() const {
        return static_cast<unsigned>(std::count_if(events.list.begin(), events.list.end(),
                                                   [](unsigned e) { return e != kDownloadFileProgress; }));
    }

    bool anyPieceLeft() const {
        for (int i = 0; i < 12; ++i)
            if (std::filesystem::exists(savePath + ".tmp" + std::to_string(i))) return true;
        return false;
    }

    TestEnv env;
    TempFolder web, work;
    DevServer server;
    std::string source, savePath;
    Events events;
};

TEST_F(DownloadFileTest, RangesArriveAndAreJoinedOverAnOldFile) {
    source = randomBytes(100000, 5);
    writeFile(web.file("f.bin"), source);
    writeFile(savePath, std::string(200000, 'o'));  // replaced, not appended to
    startDownload(10);
    run();
    EXPECT_EQ(events.list.back(), kDownloadFileCompleted);
    EXPECT_EQ(finalEvents(), 1u);
    EXPECT_TRUE(readFile(savePath) == source);
    EXPECT_FALSE(anyPieceLeft());
    EXPECT_TRUE(std::is_sorted(events.totals.begin(), events.totals.end()));
    for (uint64_t t : events.totals) EXPECT_LE(t, source.size());

    auto ranges = server.ranges("/f.bin");
    std::set<std::string> seen(ranges.begin(), ranges.end());
    std::set<std::string> expected;
    for (int i = 0; i < 10; ++i)
        expected.insert("bytes=" + std::to_string(i * 10000) + "-" + std::to_string(i * 10000 + 9999));
    EXPECT_EQ(ranges.size(), expectedRequests());
    EXPECT_EQ(seen, expected);
}

TEST_F(DownloadFileTest, ExistingPiecesAreResumedOrDiscarded) {
    writeFile(savePath + ".tmp1", source.substr(100, 40));  // resumed from 140
    writeFile(savePath + ".tmp2", std::string(150, 'x'));   // longer than its range
    writeFile(savePath + ".tmp3", source.substr(300, 99));  // lacks only its last byte
    writeFile(savePath + ".tmp4", std::string(100, 'y'));   // already whole: fetched again
    // Slow enough that the resumed range is still running when progress is reported.
    ASSERT_TRUE(server.addFault(R"({"path":"/f.bin","range":"bytes=140-","rate":40})"));
    events.watched = 1;
    startDownload(10);
    run();
    ASSERT_EQ(events.list.back(), kDownloadFileCompleted);
    EXPECT_TRUE(readFile(savePath) == source);
    EXPECT_FALSE(anyPieceLeft());

    auto ranges = server.ranges("/f.bin");
    std::set<std::string> seen(ranges.begin(), ranges.end());
    EXPECT_TRUE(seen.count("bytes=140-199"));
    EXPECT_TRUE(seen.count("bytes=200-299"));
    EXPECT_TRUE(seen.count("bytes=399-399"));
    EXPECT_TRUE(seen.count("bytes=400-499"));
    EXPECT_EQ(ranges.size(), expectedRequests());
    ASSERT_FALSE(events.watchedCounts.empty());
    // The resumed range counts the bytes it already had.
    EXPECT_GE(*std::min_element(events.watchedCounts.begin(), events.watchedCounts.end()), 40u);
}

TEST_F(DownloadFileTest, WholeFileAnswerCountsForASingleRange) {
    ASSERT_TRUE(server.addFault(R"({"path":"/f.bin","ignore_range":true})"));
    startDownload(1);
    run();
    EXPECT_EQ(events.list.back(), kDownloadFileCompleted);
    EXPECT_TRUE(readFile(savePath) == source);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].status, 200);
}

TEST_F(DownloadFileTest, RangeFailingFourTimesStillCompletes) {
    ASSERT_TRUE(server.addFault(R"({"path":"/f.bin","range":"bytes=300-","status":500,"times":4})"));
    startDownload(10);
    run();
    EXPECT_EQ(events.list.back(), kDownloadFileCompleted);
    EXPECT_EQ(finalEvents(), 1u);
    EXPECT_TRUE(readFile(savePath) == source);
    ASSERT_EQ(events.finalSegments.size(), 10u);
    EXPECT_EQ(events.finalSegments[3].retries, 4);
    EXPECT_EQ(events.finalSegments[2].retries, 0);
    auto ranges = server.ranges("/f.bin");
    EXPECT_EQ(std::count(ranges.begin(), ranges.end(), "bytes=300-399"), 5);
}

TEST_F(DownloadFileTest, FifthFailureGivesOneFailedEventAndNothingAfter) {
    ASSERT_TRUE(server.addFault(R"([{"path":"/f.bin","range":"bytes=600-","reset_after":10,"times":5},
                                     {"path":"/f.bin","range":"bytes=0-","rate":40}])"));
    Scheduler::instance()->tick(0.03f);
    size_t idle = Scheduler::instance()->size();
    startDownload(10);
    ASSERT_TRUE(pumpUntil([&] { return events.final; }));
    // The slow range was stopped before the event, so no transfer can touch a piece any more; what it
    // had received stays for a later resume.
    Scheduler::instance()->tick(0.03f);
    EXPECT_EQ(Scheduler::instance()->size(), idle);
    EXPECT_TRUE(std::filesystem::exists(savePath + ".tmp0"));
    run();
    EXPECT_EQ(events.list.back(), kDownloadFileFailed);
    EXPECT_EQ(finalEvents(), 1u);
    EXPECT_FALSE(std::filesystem::exists(savePath));
    ASSERT_EQ(events.finalSegments.size(), 10u);
    EXPECT_EQ(events.finalSegments[6].retries, 5);
    auto ranges = server.ranges("/f.bin");
    EXPECT_EQ(std::count(ranges.begin(), ranges.end(), "bytes=600-699"), 5);
}

TEST_F(DownloadFileTest, EveryRangeFailingStillGivesOneFailedEvent) {
    startDownload(3, "/missing.bin");
    run();
    EXPECT_EQ(events.list.back(), kDownloadFileFailed);
    EXPECT_EQ(finalEvents(), 1u);
    EXPECT_FALSE(std::filesystem::exists(savePath));
}

TEST_F(DownloadFileTest, WrongAnswersAreFailedAttempts) {
    ASSERT_TRUE(server.addFault(R"([{"path":"/f.bin","range":"bytes=500-","ignore_range":true,"times":2},
                                     {"path":"/f.bin","range":"bytes=700-","short_by":30,"times":2},
                                     {"path":"/f.bin","range":"bytes=800-","status":416,"times":1}])"));
    startDownload(10);
    run();
    ASSERT_EQ(events.list.back(), kDownloadFileCompleted);
    EXPECT_TRUE(readFile(savePath) == source);
    ASSERT_EQ(events.finalSegments.size(), 10u);
    EXPECT_EQ(events.finalSegments[5].retries, 2);
    EXPECT_EQ(events.finalSegments[7].retries, 2);
    EXPECT_EQ(events.finalSegments[8].retries, 1);
    auto ranges = server.ranges("/f.bin");
    EXPECT_EQ(std::count(ranges.begin(), ranges.end(), "bytes=500-599"), 3);
    EXPECT_EQ(std::count(ranges.begin(), ranges.end(), "bytes=700-799"), 3);
}

TEST_F(DownloadFileTest, PiecesThatCannotBeStoredAreNotFetched) {
    savePath = work.file("no/such/folder/game.zip");
    startDownload(2);
    run();
    EXPECT_EQ(events.list, std::vector<unsigned>{kDownloadFileFailed});
    ASSERT_EQ(events.finalSegments.size(), 2u);
    EXPECT_EQ(std::max(events.finalSegments[0].retries, events.finalSegments[1].retries), 5);
    EXPECT_EQ(server.requestCount("/f.bin"), 0);
}

TEST_F(DownloadFileTest, WriteFailureWhileJoiningIsAFailure) {
    source = randomBytes(100000, 9);
    writeFile(web.file("f.bin"), source);
    // Pieces of 10000 bytes fit under the limit, the joined file does not: like a disk filling up.
    struct sigaction ignore {
    }, previousAction{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previousAction);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 50000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    startDownload(10);
    pumpUntil([&] { return events.final; });
    setrlimit(RLIMIT_FSIZE, &previous);
    sigaction(SIGXFSZ, &previousAction, nullptr);
    run();

    EXPECT_EQ(events.list.back(), kDownloadFileFailed);
    EXPECT_EQ(finalEvents(), 1u);
    EXPECT_FALSE(std::filesystem::exists(savePath));
    // The pieces stay for a later attempt.
    EXPECT_TRUE(std::filesystem::exists(savePath + ".tmp0"));
}

TEST_F(DownloadFileTest, OffsetsBeyondFourGiBAreRequestedAsIs) {
    // Every answer fails, so no byte of the (absent) 5 GiB file is ever sent.
    ASSERT_TRUE(server.addFault(R"({"path":"/huge.bin","status":503})"));
    const uint64_t size = 5ull << 30;
    DownloadFile::create([this](unsigned event, DownloadFile*) { events.list.push_back(event); },
                         server.url("/huge.bin"), savePath, size, 10)
        ->start();
    ASSERT_TRUE(pumpUntil([&] { return !events.list.empty() && events.list.back() == kDownloadFileFailed; }));
    auto ranges = server.ranges("/huge.bin");
    std::set<std::string> seen(ranges.begin(), ranges.end());
    EXPECT_TRUE(seen.count("bytes=4831838208-5368709119")) << ranges.size() << " requests";
    EXPECT_TRUE(seen.count("bytes=0-536870911"));
}

TEST_F(DownloadFileTest, EmptyFileCompletesAtOnce) {
    source.clear();
    writeFile(savePath, "old");
    startDownload(10);
    EXPECT_EQ(events.list, std::vector<unsigned>{kDownloadFileCompleted});
    EXPECT_TRUE(std::filesystem::exists(savePath));
    EXPECT_EQ(std::filesystem::file_size(savePath), 0u);
    EXPECT_EQ(server.requestCount("/f.bin"), 0);
}

}  // namespace
}  // namespace veltrano::test
