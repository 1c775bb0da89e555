// DownloadFile against the loopback devserver: ranges, resume, retries, faults and the digest.

#include "net/DownloadFile.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <algorithm>
#include <set>

#include "NetTestSupport.h"
#include "platform/FileUtils.h"
#include "support/TestEnv.h"
#include "util/Encoding.h"

namespace veltrano::test {
namespace {

struct Events {
    std::vector<unsigned> list;
    std::vector<uint64_t> totals;
    std::vector<DownloadSegment> finalSegments;
    std::string digest;
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

    void startDownload(unsigned segments, const std::string& path = "/f.bin", const std::string& md5 = "") {
        events = Events{};
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
                    events.digest = t->getDigest();
                }
            },
            server.url(path), savePath, source.size(), segments, md5);
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
        return std::filesystem::exists(DownloadFile::partPath(savePath)) ||
               std::filesystem::exists(DownloadFile::planPath(savePath));
    }

    std::string sourceMd5() const { return md5Of(source); }

    // A first run that gives up when the range at 60000 fails for good, while the range at 30000
    // is still trickling in: some ranges are whole, one is partial, one has nothing. Returns the
    // bytes it left on disk.
    uint64_t leaveAnInterruptedDownload(const std::string& md5) {
        source = randomBytes(100000, 3);
        writeFile(web.file("f.bin"), source);
        EXPECT_TRUE(server.addFault(R"([{"path":"/f.bin","range":"bytes=60000-","status":500,"times":5},
                                         {"path":"/f.bin","range":"bytes=30000-","rate":20000,"times":1}])"));
        startDownload(10, "/f.bin", md5);
        run();
        EXPECT_EQ(events.list.back(), kDownloadFileFailed);
        EXPECT_TRUE(server.clearFaults());
        EXPECT_TRUE(server.clearRequests());
        uint64_t kept = 0;
        for (const auto& seg : events.finalSegments) kept += seg.downloaded;
        return kept;
    }

    TestEnv env;
    TempFolder web, work;
    DevServer server;
    std::string source, savePath;
    Events events;
};

TEST_F(DownloadFileTest, RangesArriveAndReplaceAnOldFile) {
    source = randomBytes(100000, 5);
    writeFile(web.file("f.bin"), source);
    writeFile(savePath, std::string(200000, 'o'));  // replaced, not appended to
    startDownload(10);
    run();
    EXPECT_EQ(events.list.back(), kDownloadFileCompleted);
    EXPECT_EQ(finalEvents(), 1u);
    EXPECT_TRUE(readFile(savePath) == source);
    EXPECT_EQ(events.digest, sourceMd5());
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

TEST_F(DownloadFileTest, ARunOfTheSamePlanFetchesOnlyWhatIsMissing) {
    const uint64_t kept = leaveAnInterruptedDownload("ABCDEF0123456789ABCDEF0123456789");
    const std::vector<DownloadSegment> before = events.finalSegments;
    ASSERT_EQ(before.size(), 10u);
    EXPECT_EQ(DownloadFile::recordedCounts(savePath).size(), 10u);

    startDownload(10, "/f.bin", "abcdef0123456789abcdef0123456789");  // the same digest in other letters
    run();
    ASSERT_EQ(events.list.back(), kDownloadFileCompleted);
    EXPECT_TRUE(readFile(savePath) == source);
    // Bytes kept from the first run went into the digest too.
    EXPECT_EQ(events.digest, sourceMd5());
    EXPECT_FALSE(anyPieceLeft());

    std::set<std::string> missing;
    for (const auto& seg : before)
        if (seg.downloaded < seg.length)
            missing.insert("bytes=" + std::to_string(seg.end + 1 - seg.length + seg.downloaded) + "-" +
                           std::to_string(seg.end));
    auto ranges = server.ranges("/f.bin");
    EXPECT_EQ(std::set<std::string>(ranges.begin(), ranges.end()), missing);
    EXPECT_EQ(ranges.size(), missing.size());
    EXPECT_EQ(server.bytesSent("/f.bin"), source.size() - kept);
}

TEST_F(DownloadFileTest, AnotherPlanStartsOver) {
    struct Row {
        const char* what;
        unsigned segments;
        std::string md5;
    };
    for (const Row& row : {Row{"another range count", 4, ""}, Row{"another archive", 10, "0123"}}) {
        SCOPED_TRACE(row.what);
        ASSERT_GT(leaveAnInterruptedDownload(""), 0u);
        startDownload(row.segments, "/f.bin", row.md5);
        run();
        ASSERT_EQ(events.list.back(), kDownloadFileCompleted);
        EXPECT_TRUE(readFile(savePath) == source);
        EXPECT_EQ(events.digest, sourceMd5());
        auto ranges = server.ranges("/f.bin");
        EXPECT_EQ(ranges.size(), row.segments);
        EXPECT_EQ(server.bytesSent("/f.bin"), source.size());
        std::filesystem::remove(savePath);
    }
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
    EXPECT_TRUE(std::filesystem::exists(DownloadFile::partPath(savePath)));
    EXPECT_TRUE(std::filesystem::exists(DownloadFile::planPath(savePath)));
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
    ASSERT_TRUE(server.addFault(R"([{"path":"/f.bin","range":"bytes=500-","status":404,"times":2},
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

TEST_F(DownloadFileTest, ServerIgnoringRangesGivesOneWholeTransfer) {
    source = randomBytes(100000, 4);
    writeFile(web.file("f.bin"), source);
    ASSERT_TRUE(server.addFault(R"({"path":"/f.bin","ignore_range":true})"));
    startDownload(10);
    run();
    ASSERT_EQ(events.list.back(), kDownloadFileCompleted);
    EXPECT_TRUE(readFile(savePath) == source);
    EXPECT_EQ(events.digest, sourceMd5());
    // Every range stopped at its answer's head and was never tried again; the file came once.
    auto ranges = server.ranges("/f.bin");
    EXPECT_EQ(std::count(ranges.begin(), ranges.end(), "bytes=0-99999"), 1);
    for (int i = 0; i < 10; ++i) {
        std::string range = "bytes=" + std::to_string(i * 10000) + "-" + std::to_string(i * 10000 + 9999);
        EXPECT_LE(std::count(ranges.begin(), ranges.end(), range), 1) << range;
    }
    EXPECT_LE(ranges.size(), 11u);
    for (const auto& seg : events.finalSegments) EXPECT_EQ(seg.retries, 0);
}

TEST_F(DownloadFileTest, AFileThatCannotBeStoredIsNotFetched) {
    source = randomBytes(100000, 9);
    writeFile(web.file("f.bin"), source);
    struct Row {
        const char* what;
        std::string path;
        unsigned long long sizeLimit;  // 0: none
    };
    // The limit plays a disk too small for the file; Windows has no such limit, only the first row.
    std::vector<Row> rows{{"missing folder", work.file("no/such/folder/game.zip"), 0}};
#ifndef _WIN32
    rows.push_back({"file size limit", work.file("game.zip"), 50000});
#endif
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        savePath = row.path;
#ifndef _WIN32
        struct sigaction ignore {
        }, previousAction{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previousAction);
        rlimit previous{};
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        if (row.sizeLimit) limited.rlim_cur = std::min(static_cast<rlim_t>(row.sizeLimit), previous.rlim_max);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
#endif
        startDownload(10);
        pumpUntil([&] { return events.final; });
#ifndef _WIN32
        setrlimit(RLIMIT_FSIZE, &previous);
        sigaction(SIGXFSZ, &previousAction, nullptr);
#endif
        run();
        EXPECT_EQ(events.list, std::vector<unsigned>{kDownloadFileFailed});
        EXPECT_FALSE(std::filesystem::exists(savePath));
        EXPECT_EQ(server.requestCount("/f.bin"), 0);
    }
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
