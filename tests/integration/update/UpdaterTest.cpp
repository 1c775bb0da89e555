// The Updater driven in-process: its callback contract, seen from the window's side.

#include "update/Updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "UpdateFixture.h"
#include "config/LauncherConfig.h"
#include "net/DownloadFile.h"
#include "net/HTTPRequest.h"
#include "net/Scheduler.h"
#include "platform/FileUtils.h"
#include "support/TestUtil.h"

namespace veltrano::test {
namespace {

struct Event {
    int state;
    int code;
    double a, b;
    bool onCaller;
};

class UpdaterRun : public UpdateFixture {
protected:
    // Runs a fresh Updater to its outcome the way the window does: 30 ms ticks on this thread.
    std::vector<Event> run(Updater* updater, int timeoutSeconds = 60) {
        std::mutex m;
        std::vector<Event> events;
        std::atomic<bool> ended{false};
        const auto caller = std::this_thread::get_id();
        updater->m_callback = [&](Updater::UpdaterState s, Updater::UpdaterCode c, double a, double b) {
            std::lock_guard<std::mutex> g(m);
            events.push_back({s, c, a, b, std::this_thread::get_id() == caller});
            if (c != Updater::Progress) ended = true;
        };
        updater->start();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            Scheduler::instance()->tick(0.03f);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        // Late calls after the outcome would show up here.
        for (int i = 0; i < 10; ++i) {
            Scheduler::instance()->tick(0.03f);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        std::lock_guard<std::mutex> g(m);
        updater->m_callback = nullptr;
        return events;
    }

    Updater* fresh() {
        EXPECT_TRUE(env.loadConfig());
        updaters.push_back(std::make_unique<Updater>());
        return updaters.back().get();
    }

    // A game of one stored file of 2 MiB, so that a throttled download can be caught midway.
    std::string packBigGame(const std::string& version, const std::string& threads) {
        std::filesystem::create_directories(env.root() + "/big");
        std::string blob;
        uint32_t x = 7;
        for (size_t i = 0; i < (2u << 20); ++i) {
            x = x * 1664525u + 1013904223u;
            blob += static_cast<char>(x >> 24);
        }
        std::ofstream(env.root() + "/big/blob.bin", std::ios::binary) << blob;
        pack(version, {"--level", "0", "--download-thread", threads}, "big");
        return blob;
    }

    std::vector<std::unique_ptr<Updater>> updaters;
};

TEST_F(UpdaterRun, ArchiveOf250EntriesGives250ProgressCallsThenOneFinish) {
    std::filesystem::create_directories(env.root() + "/many");
    for (int i = 0; i < 249; ++i)
        std::ofstream(env.root() + "/many/f" + std::to_string(1000 + i) + ".txt") << "file " << i;
    pack("3.1.0", {"--no-dir-entries", "--download-thread", "3"}, "many");
    writeConfig();
    Updater* updater = fresh();
    EXPECT_TRUE(updater->m_noLocalVersion);
    EXPECT_EQ(updater->m_curVer, "1.0.0");

    std::vector<Event> events = run(updater);
    ASSERT_FALSE(events.empty());
    std::vector<Event> unzip, download;
    for (const auto& e : events) {
        if (e.code != Updater::Progress) continue;
        (e.state == Updater::Decompress ? unzip : download).push_back(e);
    }
    ASSERT_EQ(unzip.size(), 250u);
    for (size_t i = 0; i < unzip.size(); ++i) {
        EXPECT_EQ(unzip[i].a, 250);
        EXPECT_EQ(unzip[i].b, static_cast<double>(i));
        EXPECT_FALSE(unzip[i].onCaller);  // extraction runs on its own thread
    }
    double last = 0;
    for (const auto& e : download) {
        EXPECT_EQ(e.a, static_cast<double>(packedSize()));
        EXPECT_GE(e.b, last);
        last = e.b;
        EXPECT_TRUE(e.onCaller);
    }
    const Event& end = events.back();
    EXPECT_EQ(end.state, Updater::Finish);
    EXPECT_EQ(end.code, Updater::Ok);
    EXPECT_EQ(end.a, 0);
    EXPECT_EQ(end.b, 0);
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const Event& e) { return e.code != Updater::Progress; }),
              1);
    EXPECT_TRUE(updater->ended());
    EXPECT_EQ(updater->m_downloadThread, 3);
    EXPECT_EQ(updater->m_curVer, "3.1.0");
    EXPECT_EQ(env.readFile("game/f1248.txt"), "file 248");
}

TEST_F(UpdaterRun, EqualVersionsNotifyOnlyFinish) {
    makeGameFolder();
    pack("1.0.7", {"--download-thread", "7"});
    writeConfig();
    ASSERT_TRUE(env.writeFile("game/version", "1.0.7"));
    Updater* updater = fresh();
    EXPECT_FALSE(updater->m_noLocalVersion);
    std::vector<Event> events = run(updater);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].state, Updater::Finish);
    EXPECT_EQ(events[0].code, Updater::Ok);
    EXPECT_TRUE(events[0].onCaller);
    // Stored although nothing is downloaded.
    EXPECT_EQ(updater->m_downloadThread, 7);
    EXPECT_EQ(updater->m_svrVer, "1.0.7");
}

TEST_F(UpdaterRun, ResumedBytesAreTheSpeedBase) {
    packBigGame("1.1.0", "1");
    writeConfig();
    ASSERT_TRUE(server.addFault(R"({"path":"/game-1.1.0.zip","rate":1000000})"));
    // An earlier run of the same plan stopped after 600000 bytes or more.
    const std::string zipPath = FileUtils::instance()->writableDirectory() + "game-1.1.0.zip";
    bool ended = false;
    DownloadFile* earlier = DownloadFile::create(
        [&](unsigned event, DownloadFile*) { ended |= event != kDownloadFileProgress; },
        server.url("/game-1.1.0.zip"), zipPath, static_cast<uint64_t>(packedSize()), 1, packedMd5());
    earlier->start();
    ASSERT_TRUE(pumpUntil([&] { return ended || earlier->getDownloadedTotal() >= 600000; }));
    ASSERT_FALSE(ended);
    earlier->cancel();
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    const std::vector<uint64_t> kept = DownloadFile::recordedCounts(zipPath);
    ASSERT_EQ(kept.size(), 1u);
    ASSERT_GE(kept[0], 600000u);
    server.clearRequests();

    Updater* updater = fresh();
    std::vector<Event> events = run(updater);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().code, Updater::Ok);
    EXPECT_GE(updater->m_baseBytes.load(), kept[0]);
    EXPECT_LT(updater->m_baseBytes.load(), static_cast<uint64_t>(packedSize()));
    auto ranges = server.ranges("/game-1.1.0.zip");
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0], "bytes=" + std::to_string(kept[0]) + "-" + std::to_string(packedSize() - 1));
}

TEST_F(UpdaterRun, AnEngineDestroyedMidDownloadStopsAndTheNextOneFinishes) {
    const std::string blob = packBigGame("1.2.0", "2");
    writeConfig();
    ASSERT_TRUE(server.addFault(R"({"path":"/game-1.2.0.zip","rate":400000})"));
    {
        Updater* first = fresh();
        std::atomic<bool> downloading{false};
        first->m_callback = [&](Updater::UpdaterState s, Updater::UpdaterCode c, double, double done) {
            if (s == Updater::Download && c == Updater::Progress && done > 0) downloading = true;
        };
        first->start();
        ASSERT_TRUE(pumpUntil([&] { return downloading.load(); }));
        updaters.clear();
    }
    // Its transfers were stopped, not left to finish on their own.
    ASSERT_TRUE(pumpUntil([] { return HTTPRequest::liveCount() == 0; }));
    EXPECT_LT(server.bytesSent("/game-1.2.0.zip"), static_cast<uint64_t>(packedSize()));

    server.clearFaults();
    Updater* second = fresh();
    std::vector<Event> events = run(second);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().code, Updater::Ok);
    EXPECT_EQ(env.readFile("game/blob.bin"), blob);
    updaters.clear();
    EXPECT_TRUE(pumpUntil([] { return HTTPRequest::liveCount() == 0; }));
}

TEST_F(UpdaterRun, AnEngineDestroyedDuringExtractionIsJoinedAndTheNextOneFinishes) {
    std::filesystem::create_directories(env.root() + "/many");
    for (int i = 0; i < 400; ++i)
        std::ofstream(env.root() + "/many/f" + std::to_string(1000 + i) + ".txt")
            << std::string(4000, 'a' + i % 26);
    pack("3.2.0", {"--no-dir-entries"}, "many");
    writeConfig();
    std::atomic<bool> extracting{false};
    std::atomic<int> afterEnd{0};
    std::atomic<bool> destroyed{false};
    {
        Updater* first = fresh();
        first->m_callback = [&](Updater::UpdaterState s, Updater::UpdaterCode, double, double) {
            if (destroyed) ++afterEnd;
            if (s == Updater::Decompress) extracting = true;
        };
        first->start();
        ASSERT_TRUE(pumpUntil([&] { return extracting.load(); }));
        updaters.clear();  // joins the extraction thread, wherever it was
        destroyed = true;
    }
    EXPECT_EQ(afterEnd.load(), 0);
    // A stopped extraction leaves no staging folder; a finished one left a complete game.
    EXPECT_FALSE(env.exists("game.veltrano-staging"));
    if (env.exists("game/version")) {
        EXPECT_EQ(env.readFile("game/f1399.txt"), std::string(4000, 'a' + 399 % 26));
    }

    std::filesystem::remove_all(env.path("game"));
    Updater* second = fresh();
    std::vector<Event> events = run(second);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().code, Updater::Ok);
    EXPECT_EQ(env.readFile("game/f1000.txt"), std::string(4000, 'a'));
    updaters.clear();
}

// Entries are extracted while the archive arrives, yet nothing of it is reported before the
// archive matched its digest; when bytes were written twice meanwhile, it starts over from the
// finished archive.
TEST_F(UpdaterRun, ExtractionBeginsWhileTheArchiveArrivesAndCountsOnlyAfterItsDigest) {
    std::filesystem::create_directories(env.root() + "/early");
    std::map<std::string, std::string> files;
    uint32_t x = 11;
    for (int i = 0; i < 12; ++i) {
        std::string bytes(50000, '\0');
        for (char& c : bytes) {
            x = x * 1664525u + 1013904223u;
            c = static_cast<char>(x >> 24);
        }
        files["f" + std::to_string(i) + ".bin"] = bytes;
        std::ofstream(env.root() + "/early/f" + std::to_string(i) + ".bin", std::ios::binary) << bytes;
    }
    struct Case {
        const char* version;
        bool writtenTwice;
    };
    for (const Case& c : {Case{"3.3.0", false}, Case{"3.3.1", true}}) {
        SCOPED_TRACE(c.version);
        pack(c.version, {"--level", "0", "--download-thread", "3", "--force", "true"}, "early");
        writeConfig();
        const std::string archive = std::string("/game-") + c.version + ".zip";
        const uint64_t size = static_cast<uint64_t>(packedSize());
        const uint64_t chunk = (size + 2) / 3;
        // The last range waits until the test lets it go; the first may break once midway.
        ASSERT_TRUE(server.addFault(R"({"path":")" + archive + R"(","range":"bytes=)" +
                                    std::to_string(2 * chunk) + R"(-","delay_ms":600000})"));
        const std::string first = "bytes=0-" + std::to_string(chunk - 1);
        ASSERT_NE(("bytes=0-" + std::to_string(size - 1)).rfind(first, 0), 0u);  // not the end's fetch
        if (c.writtenTwice) {
            ASSERT_TRUE(server.addFault(R"({"path":")" + archive + R"(","range":")" + first +
                                        R"(","reset_after":20000,"times":1})"));
        }
        Updater* updater = fresh();
        std::mutex m;
        std::vector<Event> events;
        updater->m_callback = [&](Updater::UpdaterState st, Updater::UpdaterCode code, double a, double b) {
            std::lock_guard<std::mutex> g(m);
            events.push_back({st, code, a, b, false});
        };
        updater->start();
        const std::string began = std::string("extracting game-") + c.version + ".zip while it downloads";
        ASSERT_TRUE(pumpUntil([&] {
            return env.readFile("Veltrano.log").find(began) != std::string::npos &&
                   (c.writtenTwice || env.exists("game.veltrano-staging/f0.bin"));
        }));
        {
            std::lock_guard<std::mutex> g(m);
            for (const Event& e : events) EXPECT_NE(e.state, Updater::Decompress);
        }
        server.clearFaults();
        ASSERT_TRUE(pumpUntil([&] {
            std::lock_guard<std::mutex> g(m);
            return !events.empty() && events.back().code != Updater::Progress;
        }));
        std::vector<Event> seen;
        {
            std::lock_guard<std::mutex> g(m);
            seen = events;
        }
        EXPECT_EQ(seen.back().state, Updater::Finish);
        std::vector<double> indices;
        bool downloadAfter = false;
        for (const Event& e : seen) {
            if (e.state == Updater::Decompress) indices.push_back(e.b);
            downloadAfter = downloadAfter || (e.state == Updater::Download && !indices.empty());
        }
        EXPECT_FALSE(downloadAfter);
        ASSERT_EQ(indices.size(), files.size() + 1);  // and the version file
        for (size_t i = 0; i < indices.size(); ++i) EXPECT_EQ(indices[i], static_cast<double>(i));
        EXPECT_EQ(env.readFile("Veltrano.log").find("extraction starts over") != std::string::npos,
                  c.writtenTwice);
        for (const auto& [name, bytes] : files) EXPECT_EQ(env.readFile("game/" + name), bytes) << name;
        updaters.clear();
    }
}

TEST_F(UpdaterRun, TheManifestTravelsWhileStaleGamesAreEndedAndIsReadAfterwards) {
    makeGameFolder();
    pack("1.0.7");
    writeConfig();
    std::mutex m;
    std::condition_variable cv;
    bool paused = false, released = false;
    Updater::setStarterPauseForTesting([&] {
        std::unique_lock<std::mutex> lock(m);
        paused = true;
        cv.wait(lock, [&] { return released; });
    });
    struct Unhook {
        ~Unhook() { Updater::setStarterPauseForTesting(nullptr); }
    } unhook;
    auto release = [&] {
        {
            std::lock_guard<std::mutex> lock(m);
            released = true;
        }
        cv.notify_all();
    };
    std::vector<Event> events;
    Updater* updater = fresh();
    updater->m_callback = [&](Updater::UpdaterState st, Updater::UpdaterCode code, double a, double b) {
        std::lock_guard<std::mutex> lock(m);
        events.push_back({st, code, a, b, false});
    };
    updater->start();
    // The answer arrived while the starting thread is held, and waits.
    const bool answered = pumpUntil([&] {
        std::lock_guard<std::mutex> lock(m);
        return paused && server.requestCount("/version.json") == 1 && HTTPRequest::liveCount() == 0;
    });
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_TRUE(events.empty());
    }
    EXPECT_EQ(env.readFile("Veltrano.log").find("Updater::downloadVerFile"), std::string::npos);
    release();
    ASSERT_TRUE(answered);
    ASSERT_TRUE(pumpUntil([&] {
        std::lock_guard<std::mutex> lock(m);
        return !events.empty() && events.back().code != Updater::Progress;
    }));
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_EQ(events.back().state, Updater::Finish);
    }
    EXPECT_EQ(server.requestCount("/version.json"), 1);
    const std::string log = env.readFile("Veltrano.log");
    EXPECT_LT(log.find("killGameProcess"), log.find("Updater::downloadVerFile"));
    EXPECT_EQ(env.readFile("game/version"), "1.0.7");
    updaters.clear();
}

TEST_F(UpdaterRun, ManifestHandlingEndsTheRunOnce) {
    writeConfig();
    Updater* updater = fresh();
    std::vector<Event> events;
    updater->m_callback = [&](Updater::UpdaterState s, Updater::UpdaterCode c, double a, double b) {
        events.push_back({s, c, a, b, true});
    };
    updater->handleManifest(R"({"version":"2.0","games":{}})");
    updater->handleManifest(R"({"version":"2.0","games":{}})");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].state, Updater::CheckVersion);
    EXPECT_EQ(events[0].code, Updater::VerFileFailed);
    EXPECT_NE(env.readFile("Veltrano.log").find("m_svrVer:2.0 m_curVer:1.0.0"), std::string::npos);
}

}  // namespace
}  // namespace veltrano::test
