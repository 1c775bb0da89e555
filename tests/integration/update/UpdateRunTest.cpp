// veltrano-update end to end against veltrano-devserver.

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "UpdateFixture.h"
#include "net/DownloadFile.h"
#include "pack/Pack.h"
#include "support/TestEnv.h"
#include "update/Digest.h"

namespace veltrano::test {
namespace {

namespace fs = std::filesystem;
using veltrano::test::treeSnapshot;

// How treeSnapshot shows a file the updater wrote.
#ifdef _WIN32
const std::string kPlainFile = "rw ";
// veltrano-update keeps its archives in the user's local application data, which a test cannot point
// into a folder of its own on Windows.
#define VELTRANO_SEES_DOWNLOADS 0
#else
const std::string kPlainFile = "420 ";
#define VELTRANO_SEES_DOWNLOADS 1
#endif
constexpr const char* kSharedDownloads =
    "the download folder is the user's local application data on Windows, shared by all tests";

std::string manifestWith(const std::string& version, const std::string& name, long long size,
                         const std::string& md5, const std::string& extraEntry = "",
                         const std::string& extraTop = "") {
    return "{" + extraTop + "\"version\":\"" + version + "\",\"games\":{\"" + version + "\":{\"name\":\"" +
           name + "\",\"size\":" + std::to_string(size) + ",\"md5\":\"" + md5 + "\"" + extraEntry + "}}}";
}

std::vector<std::string> reportTypes(DevServer& server) {
    std::vector<std::string> types;
    for (const auto& r : server.reports())
        types.push_back(r.fields.count("data_type") ? r.fields.at("data_type") : "?");
    return types;
}

bool contains(const std::vector<std::string>& v, const std::string& x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

class UpdateRun : public UpdateFixture {
protected:
    void SetUp() override {
        UpdateFixture::SetUp();
        if (HasFatalFailure()) return;
        makeGameFolder();
        pack("1.0.7");
        writeConfig();
    }
    int archiveRequests(const std::string& path = "/game-1.0.7.zip") { return server.requestCount(path); }
};

TEST_F(UpdateRun, FirstInstallDownloadsExtractsAndReports) {
    RunResult r = runUpdate();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(env.readFile("game/version"), "1.0.7");
    EXPECT_EQ(env.readFile("game/data/readme.txt"), "hello");
    EXPECT_EQ(env.readFile("game/data/maps/world.bin"),
              readAbsolute(env.root() + "/src/data/maps/world.bin"));
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(env.path("game/run.sh").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0100, 0u);
#endif
    EXPECT_EQ(archiveRequests(), 11);  // the default ten ranges, and the end fetched first
    EXPECT_TRUE(env.exists("Install.log"));
    EXPECT_NE(r.out.find("finished: the game is up to date"), std::string::npos);
#if VELTRANO_SEES_DOWNLOADS
    // The archive stays; no piece is left.
    EXPECT_TRUE(fs::exists(downloadDir() + "game-1.0.7.zip"));
    EXPECT_FALSE(fs::exists(downloadDir() + "game-1.0.7.zip.tmp0"));
#endif
    auto types = reportTypes(server);
    for (const char* t : {"1001", "1003", "1007", "1008", "1010", "1012"})
        EXPECT_TRUE(contains(types, t)) << t;
    std::string log = env.readFile("Veltrano.log");
    EXPECT_NE(log.find("m_svrVer:1.0.7 m_curVer:1.0.0"), std::string::npos);
}

TEST_F(UpdateRun, EqualVersionsFinishWithoutDownload) {
    ASSERT_TRUE(env.writeFile("game/version", "1.0.7"));
    ASSERT_TRUE(writeWww("version.json", manifestWith("1.0.7", "game-1.0.7.zip", packedSize(), packedMd5(),
                                                      ",\"force\":true")));
    RunResult r = runUpdate({"--json"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(archiveRequests(), 0);
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"code\":0,\"status\":0"), std::string::npos);
    EXPECT_FALSE(env.exists("game/data/readme.txt"));
    EXPECT_TRUE(env.exists("Install.log"));
}

TEST_F(UpdateRun, ALineBreakAfterTheLocalVersionMakesItDiffer) {
    ASSERT_TRUE(env.writeFile("game/version", "1.0.7\n"));
    ASSERT_TRUE(writeWww("version.json", manifestWith("1.0.7", "game-1.0.7.zip", packedSize(), packedMd5(),
                                                      ",\"force\":true")));
    RunResult r = runUpdate();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_GT(archiveRequests(), 0);
    EXPECT_EQ(env.readFile("game/version"), "1.0.7");
}

TEST_F(UpdateRun, OnlyForceTrueUpdatesAnInstalledGame) {
    const std::string md5 = packedMd5();
    const long long size = packedSize();
    for (const char* force : {"", ",\"force\":1", ",\"force\":\"true\"", ",\"force\":false"}) {
        SCOPED_TRACE(force);
        ASSERT_TRUE(env.writeFile("game/version", "1.0.8"));
        ASSERT_TRUE(writeWww("version.json", manifestWith("1.0.7", "game-1.0.7.zip", size, md5, force)));
        server.clearRequests();
        RunResult r = runUpdate();
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(archiveRequests(), 0);
        EXPECT_EQ(env.readFile("game/version"), "1.0.8");
    }
    // An older offered version is installed when forced, and a hand-placed file goes with the old game.
    ASSERT_TRUE(env.writeFile("game/mods/hand-placed.txt", "mine"));
    ASSERT_TRUE(
        writeWww("version.json", manifestWith("1.0.7", "game-1.0.7.zip", size, md5, ",\"force\":true")));
    RunResult r = runUpdate();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(env.readFile("game/version"), "1.0.7");
    EXPECT_FALSE(env.exists("game/mods/hand-placed.txt"));
    EXPECT_FALSE(env.exists("game/mods"));
}

TEST_F(UpdateRun, FallsBackToTheSecondVersionUrl) {
    ASSERT_TRUE(writeWww("down.json", "{}"));
    ASSERT_TRUE(server.addFault(R"({"path":"/down.json","reset_after":0})"));
    writeConfig(server.url("/down.json"), server.url("/version.json"));
    RunResult r = runUpdate();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(server.requestCount("/down.json"), 3);
    EXPECT_EQ(server.requestCount("/version.json"), 1);
}

TEST_F(UpdateRun, BothVersionUrlsDownEndsWith1101) {
    ASSERT_TRUE(writeWww("down1.json", "{}"));
    ASSERT_TRUE(writeWww("down2.json", "{}"));
    ASSERT_TRUE(server.addFault(
        R"([{"path":"/down1.json","reset_after":0},{"path":"/down2.json","reset_after":0}])"));
    writeConfig(server.url("/down1.json"), server.url("/down2.json"));
    RunResult r = runUpdate({"--json"});
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(server.requestCount("/down1.json"), 3);
    EXPECT_EQ(server.requestCount("/down2.json"), 2);
    EXPECT_NE(r.out.find("\"code\":1101"), std::string::npos);
    EXPECT_NE(env.readFile("Veltrano.log").find("downloadVerFile errcode:"), std::string::npos);
}

TEST_F(UpdateRun, ErrorStatusesAndJunkCountAsFailedAttempts) {
    // 404 on the first URL, then two non-JSON answers on the second: 1101, never a silent stall.
    ASSERT_TRUE(writeWww("junk.json", "<html>maintenance</html>"));
    writeConfig(server.url("/missing.json"), server.url("/junk.json"));
    RunResult r = runUpdate();
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_EQ(server.requestCount("/missing.json"), 3);
    EXPECT_EQ(server.requestCount("/junk.json"), 2);
    std::string log = env.readFile("Veltrano.log");
    EXPECT_NE(log.find("downloadVerFile data:<html>maintenance</html>"), std::string::npos);
    EXPECT_NE(log.find("downloadVerFile json err"), std::string::npos);
}

TEST_F(UpdateRun, ManifestWithoutAnEntryOrWithWrongTypesEndsWith1101) {
    for (const std::string& body :
         {std::string(R"({"version":"1.0.7","games":{"1.0.6":{"name":"a.zip","size":1,"md5":"x"}}})"),
          std::string(R"({"version":"1.0.7","games":{"1.0.7":{"name":"a.zip","size":"12","md5":"x"}}})"),
          std::string(R"({"version":7})"), std::string(R"({"games":{}})")}) {
        SCOPED_TRACE(body);
        ASSERT_TRUE(writeWww("version.json", body));
        server.clearRequests();
        RunResult r = runUpdate();
        EXPECT_EQ(r.status, 3) << r.out;
        EXPECT_EQ(server.requestCount("/version.json"), 1);
    }
}

TEST_F(UpdateRun, DigestNeverMatchingTriesThreeTimesOnEachBase) {
    fs::create_directories(wwwPath("a"));
    fs::create_directories(wwwPath("b"));
    fs::copy_file(wwwPath("game-1.0.7.zip"), wwwPath("a/game-1.0.7.zip"));
    fs::copy_file(wwwPath("game-1.0.7.zip"), wwwPath("b/game-1.0.7.zip"));
    ASSERT_TRUE(writeWww("version.json",
                         manifestWith("1.0.7", "game-1.0.7.zip", packedSize(),
                                      "00000000000000000000000000000000", "", "\"downloadThread\":1,")));
    writeConfig("", "", server.url("/a/"), server.url("/b/"));
    RunResult r = runUpdate({"--json"});
    EXPECT_EQ(r.status, 4) << r.out;
    EXPECT_EQ(server.requestCount("/a/game-1.0.7.zip"), 4);  // the first attempt also fetched the end
    EXPECT_EQ(server.requestCount("/b/game-1.0.7.zip"), 3);
#if VELTRANO_SEES_DOWNLOADS
    EXPECT_FALSE(fs::exists(downloadDir() + "game-1.0.7.zip"));
#endif
    EXPECT_FALSE(env.exists("game"));
    std::string log = env.readFile("Veltrano.log");
    size_t mismatches = 0;
    for (size_t at = log.find("md5 mismatch"); at != std::string::npos; at = log.find("md5 mismatch", at + 1))
        ++mismatches;
    EXPECT_EQ(mismatches, 6u);
}

TEST_F(UpdateRun, UpperCaseDigestAndGameUrlJoinedVerbatim) {
    fs::create_directories(wwwPath("files"));
    fs::copy_file(wwwPath("game-1.0.7.zip"), wwwPath("files/game-1.0.7.zip"));
    std::string upper = packedMd5();
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(writeWww("version.json", manifestWith("1.0.7", "1.0.7.zip", packedSize(), upper)));
    // "game_url" ends in "game-": the name is appended with nothing in between.
    writeConfig("", "", server.url("/files/game-"), server.url("/files/game-"));
    RunResult r = runUpdate();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(server.requestCount("/files/game-1.0.7.zip"), 11);  // ten ranges and the end
    EXPECT_EQ(env.readFile("game/version"), "1.0.7");
}

TEST_F(UpdateRun, FailedInstallationKeepsTheInstalledGame) {
    ASSERT_EQ(runUpdate().status, 0);
    const auto installed = treeSnapshot(env.path("game"));
    ASSERT_EQ(installed.at("version"), kPlainFile + "1.0.7");

    // Damaged: the digest matches, one entry's data does not.
    pack("1.0.8");
    std::string zip = readAbsolute(wwwPath("game-1.0.8.zip"));
    size_t at = zip.find("data/maps/world.bin");
    ASSERT_NE(at, std::string::npos);
    for (size_t i = at + 200; i < at + 2000; ++i) zip[i] = static_cast<char>(zip[i] ^ 0x33);
    ASSERT_TRUE(writeWww("bad.zip", zip));
    // Mismatch: the 1.0.6 archive offered as 1.0.8.
    pack("1.0.6");
    struct Case {
        const char* archive;
        int status;
        const char* logged;
    };
    for (const Case& c :
         {Case{"bad.zip", 5, "can not read zip file data/maps/world.bin"},
          Case{"game-1.0.6.zip", 6, "version after extraction \"1.0.6\" differs from \"1.0.8\""}}) {
        SCOPED_TRACE(c.archive);
        ASSERT_TRUE(writeWww(
            "version.json",
            manifestWith("1.0.8", c.archive, static_cast<long long>(fs::file_size(wwwPath(c.archive))),
                         fileMd5(wwwPath(c.archive)), ",\"force\":true")));
        RunResult r = runUpdate();
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_EQ(treeSnapshot(env.path("game")), installed);
        EXPECT_FALSE(env.exists("game.veltrano-staging"));
        EXPECT_FALSE(env.exists("game.veltrano-old"));
        EXPECT_NE(env.readFile("Veltrano.log").find(c.logged), std::string::npos);
    }
#if VELTRANO_SEES_DOWNLOADS
    // A failed extraction removes its archive, so the next start downloads it again.
    EXPECT_FALSE(fs::exists(downloadDir() + "bad.zip"));
#endif
}

TEST_F(UpdateRun, KilledInstallationLeavesTheOldGameWholeUntilTheUpdateRunsAgain) {
    ASSERT_EQ(runUpdate().status, 0);
    const auto gameA = treeSnapshot(env.path("game"));
    const std::string savedA = env.root() + "/saved-a";
    fs::copy(env.path("game"), savedA, fs::copy_options::recursive);
    ASSERT_EQ(treeSnapshot(savedA), gameA);

    // Many stored entries, so that the installation takes a while to get through.
    const std::string big = env.root() + "/big";
    fs::create_directories(big + "/levels");
    uint32_t x = 99;
    for (int f = 0; f < 1500; ++f) {
        std::string bytes(24 * 1024, '\0');
        for (char& c : bytes) {
            x = x * 1664525u + 1013904223u;
            c = static_cast<char>(x >> 24);
        }
        std::ofstream(big + "/levels/" + std::to_string(f) + ".dat", std::ios::binary) << bytes;
    }
    pack("2.0.0", {"--level", "0", "--force", "true"}, "big");
    auto gameB = treeSnapshot(big);
    gameB["version"] = kPlainFile + "2.0.0";
    const std::string staging = env.path("game.veltrano-staging");
    auto stagedFiles = [&staging]() {
        size_t n = 0;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec)) ++n;
        return n;
    };

    for (size_t files : {size_t{1}, size_t{800}}) {
        SCOPED_TRACE(files);
        bool caught = false;
        for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
            fs::remove_all(env.path("game"));
            fs::copy(savedA, env.path("game"), fs::copy_options::recursive);
            std::string error;
            const ChildId child = spawnChild({VELTRANO_UPDATE_PATH, "--dir", env.launcherDir()}, -1, &error);
            ASSERT_GT(child, 0) << error;
            bool ended = false;
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            while (!(ended = childEnded(child, nullptr)) && stagedFiles() < files &&
                   std::chrono::steady_clock::now() < giveUp) {
            }
            if (!ended) killChild(child);
            // Killed too late (the new game already in place) does not show what this is about.
            caught = !ended && env.readFile("game/version") != "2.0.0";
        }
        ASSERT_TRUE(caught) << "the installation was never caught in progress";

        writeConfig("http://127.0.0.1:1/version.json", "http://127.0.0.1:1/version.json");
        RunResult down = runUpdate();
        EXPECT_EQ(down.status, 3) << down.out;
        EXPECT_EQ(treeSnapshot(env.path("game")), gameA);
        EXPECT_FALSE(fs::exists(staging));

        writeConfig();
        RunResult up = runUpdate();
        EXPECT_EQ(up.status, 0) << up.out;
        EXPECT_EQ(treeSnapshot(env.path("game")), gameB);
    }
}

TEST_F(UpdateRun, TooLittleDiskSpaceEndsWith1121BeforeAnythingIsRemoved) {
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: a small file system is mounted for it";
#else
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    struct Mounts {
        std::vector<std::string> points;
        ~Mounts() {
            for (const auto& p : points) ::umount2(p.c_str(), MNT_DETACH);
        }
    } mounts;
    // The launcher folder itself on 2 MiB: the game fits, the next version does not.
    if (::mount("tmpfs", env.launcherDir().c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    mounts.points.push_back(env.launcherDir());
    const std::string smallDownloads = env.root() + "/small-downloads";
    fs::create_directories(smallDownloads);
    ASSERT_EQ(::mount("tmpfs", smallDownloads.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    mounts.points.push_back(smallDownloads);
    writeConfig();
    ASSERT_EQ(runUpdate().status, 0);
    const auto installed = treeSnapshot(env.path("game"));

    fs::create_directories(env.root() + "/large");
    std::string blob(3 << 20, '\0');
    uint32_t x = 5;
    for (char& c : blob) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    std::ofstream(env.root() + "/large/blob.bin", std::ios::binary) << blob;
    pack("1.0.8", {"--force", "true"}, "large");

    struct Case {
        const char* what;
        std::vector<std::string> args;
        int archiveRequests;  // a full download folder is found out before the download
    };
    for (const Case& c : {Case{"download folder", {"--json", "--download-dir", smallDownloads}, 0},
                          Case{"game folder", {"--json"}, 11}}) {
        SCOPED_TRACE(c.what);
        server.clearRequests();
        RunResult r = runUpdate(c.args);
        EXPECT_EQ(r.status, 12) << r.out;
        EXPECT_NE(r.out.find("\"code\":1121"), std::string::npos) << r.out;
        EXPECT_EQ(archiveRequests("/game-1.0.8.zip"), c.archiveRequests);
        EXPECT_EQ(treeSnapshot(env.path("game")), installed);
        EXPECT_FALSE(env.exists("game.veltrano-staging"));
        EXPECT_NE(env.readFile("Veltrano.log").find("bytes needed,"), std::string::npos);
    }
    // The downloaded archive stays for when there is room.
    EXPECT_TRUE(fs::exists(downloadDir() + "game-1.0.8.zip"));
#endif
}

TEST_F(UpdateRun, OnlyTheCurrentArchiveStaysInTheDownloadFolder) {
    VELTRANO_LINUX_ONLY(kSharedDownloads);
    ASSERT_EQ(runUpdate().status, 0);
    ASSERT_TRUE(fs::exists(downloadDir() + "game-1.0.7.zip"));
    std::ofstream(downloadDir() + "game-1.0.7.zip.tmp3") << "a leftover piece";
    std::ofstream(downloadDir() + "notes.txt") << "not an archive of this launcher";
    pack("1.0.8", {"--force", "true"});
    ASSERT_EQ(runUpdate().status, 0);
    EXPECT_TRUE(fs::exists(downloadDir() + "game-1.0.8.zip"));
    EXPECT_FALSE(fs::exists(downloadDir() + "game-1.0.7.zip"));
    EXPECT_FALSE(fs::exists(downloadDir() + "game-1.0.7.zip.tmp3"));
    EXPECT_TRUE(fs::exists(downloadDir() + "notes.txt"));
}

TEST_F(UpdateRun, ArchiveReachingOutsideIsRefused) {
    ZipWriter w;
    ASSERT_TRUE(w.open(wwwPath("evil.zip")));
    ASSERT_TRUE(w.addBytes("version", "1.0.7"));
    ASSERT_TRUE(w.addBytes("../../evil.txt", "gotcha"));
    ASSERT_TRUE(w.close());
    ASSERT_TRUE(
        writeWww("version.json",
                 manifestWith("1.0.7", "evil.zip", static_cast<long long>(fs::file_size(wwwPath("evil.zip"))),
                              fileMd5(wwwPath("evil.zip")))));
    RunResult r = runUpdate();
    EXPECT_EQ(r.status, 5) << r.out;
    EXPECT_FALSE(fs::exists(env.root() + "/evil.txt"));
    EXPECT_FALSE(env.exists("evil.txt"));
    EXPECT_NE(env.readFile("Veltrano.log").find("refusing entry ../../evil.txt"), std::string::npos);
}

TEST_F(UpdateRun, ArchiveWithoutDirectoryEntriesInstalls) {
    pack("1.0.7", {"--no-dir-entries"});
    RunResult r = runUpdate();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(env.readFile("game/data/maps/world.bin"),
              readAbsolute(env.root() + "/src/data/maps/world.bin"));
}

TEST_F(UpdateRun, GameDirMustBeADedicatedSubdirectory) {
    ASSERT_TRUE(env.writeFile("keep.txt", "launcher file"));
    for (const char* dir : {"", ".", "../outside", "/abs"}) {
        SCOPED_TRACE(dir);
        writeConfig("", "", "", "", dir);
        server.clearRequests();
        RunResult r = runUpdate();
        EXPECT_EQ(r.status, 7) << r.out;
        EXPECT_EQ(server.requestCount("/version.json"), 0);
        EXPECT_EQ(env.readFile("keep.txt"), "launcher file");
        EXPECT_TRUE(env.exists("launcher.cfg"));
    }
}

TEST_F(UpdateRun, AKilledDownloadFetchesOnlyWhatItLacks) {
    VELTRANO_LINUX_ONLY(kSharedDownloads);
    fs::create_directories(env.root() + "/big");
    std::string blob;
    blob.reserve(4 << 20);
    uint32_t x = 12345;
    for (size_t i = 0; i < (4u << 20); ++i) {
        x = x * 1664525u + 1013904223u;
        blob += static_cast<char>(x >> 24);
    }
    { std::ofstream(env.root() + "/big/blob.bin", std::ios::binary) << blob; }
    pack("2.0.0", {"--level", "0", "--download-thread", "4"}, "big");
    const std::string zip = "game-2.0.0.zip";
    const uint64_t size = static_cast<uint64_t>(packedSize());
    const uint64_t chunk = (size + 3) / 4;
    // The first two pieces arrive whole; the last two trickle slowly enough to be caught on a busy machine.
    for (uint64_t i : {2, 3})
        ASSERT_TRUE(server.addFault("{\"path\":\"/" + zip + "\",\"range\":\"bytes=" +
                                    std::to_string(i * chunk) + "-\",\"rate\":100000}"));

    std::vector<std::string> argv{VELTRANO_UPDATE_PATH, "--dir", env.launcherDir()};
    std::string error;
    const ChildId child = spawnChild(argv, -1, &error);
    ASSERT_GT(child, 0) << error;
    auto caught = [&] {
        std::vector<uint64_t> c = DownloadFile::recordedCounts(downloadDir() + zip);
        return c.size() == 4 && c[0] == chunk && c[1] == chunk && c[2] >= 200000 && c[3] >= 200000;
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!caught() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    killChild(child);
    ASSERT_TRUE(caught()) << "the download never got that far";
    ASSERT_FALSE(fs::exists(downloadDir() + zip));
    const std::vector<uint64_t> kept = DownloadFile::recordedCounts(downloadDir() + zip);

    server.clearFaults();
    server.clearRequests();
    RunResult r = runUpdate();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(env.readFile("game/blob.bin"), blob);
    EXPECT_EQ(fileMd5(downloadDir() + zip), packedMd5());
    // The whole pieces are not asked for again, the others continue after what they had.
    std::vector<std::string> expected;
    for (uint64_t i : {2, 3})
        expected.push_back("bytes=" + std::to_string(i * chunk + kept[i]) + "-" +
                           std::to_string(std::min(size, (i + 1) * chunk) - 1));
    auto ranges = server.ranges("/" + zip);
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, expected);
    EXPECT_EQ(server.bytesSent("/" + zip), size - kept[0] - kept[1] - kept[2] - kept[3]);
}

TEST_F(UpdateRun, ProgressForScriptsAndForLogs) {
    // Stored, and slow enough for several progress samples.
    pack("1.0.7", {"--level", "0"});
    ASSERT_TRUE(server.addFault(R"({"path":"/game-1.0.7.zip","rate":40000})"));
    RunResult r = runUpdate({"--json"});
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        rapidjson::Document doc;
        doc.Parse(line.c_str());
        ASSERT_TRUE(doc.IsObject()) << line;
        ASSERT_TRUE(doc.HasMember("event")) << line;
        lines.push_back(line);
    }
    auto index = [&](const std::string& needle) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(needle) != std::string::npos) return static_cast<long>(i);
        return -1L;
    };
    long checking = index(R"({"event":"phase","phase":"checking"})");
    long downloading = index(R"({"event":"phase","phase":"downloading"})");
    long progress =
        index(R"({"event":"progress","phase":"downloading","total":)" + std::to_string(packedSize()));
    long installing = index(R"({"event":"phase","phase":"installing"})");
    long result = index(R"({"event":"result","code":0,"status":0)");
    EXPECT_EQ(checking, 0);
    EXPECT_GT(downloading, checking);
    EXPECT_GT(progress, downloading);
    EXPECT_GT(installing, progress);
    EXPECT_EQ(result, static_cast<long>(lines.size()) - 1);
    EXPECT_NE(index("\"bytesPerSecond\":"), -1);

    // Not a terminal and not JSON: plain lines, no cursor control.
    fs::remove_all(env.path("game"));
    fs::remove_all(downloadDir());
    r = runUpdate({"--interval", "0.2"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(r.out.find('\033'), std::string::npos);
    EXPECT_EQ(r.out.rfind("checking\ndownloading\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" left\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\ninstalling\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("finished: the game is up to date\n"), std::string::npos) << r.out;
}

TEST_F(UpdateRun, ADownloadThatNeverMovesEndsWithTheStallStatus) {
    // The archive's ranges are held far longer than the run may last.
    ASSERT_TRUE(server.addFault(R"({"path":"/game-1.0.7.zip","delay_ms":600000})"));
    RunResult r = runUpdate({"--stall-timeout", "1"}, 60);
    EXPECT_EQ(r.status, 9) << r.out;
    EXPECT_NE(r.out.find("no progress for"), std::string::npos) << r.out;
    EXPECT_FALSE(env.exists("game/version"));
}

TEST_F(UpdateRun, LoginAfterTheUpdateStartsTheGame) {
    VELTRANO_LINUX_ONLY("the stand-in game is a shell script");
    RunResult r =
        runUpdate({"--token=abc", "--source=web", "--login", R"({"uid":12345,"callback_info":"cb"})"});
    ASSERT_EQ(r.status, 0) << r.out;
    // The game writes its arguments; it runs detached, so give it a moment.
    std::string args;
    for (int i = 0; i < 250 && args.empty(); ++i) {
        args = env.readFile("game/args.txt");
        if (args.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(args.find("-uid:12345\n"), std::string::npos) << args;
    EXPECT_NE(args.find("-cbinfo:cb\n"), std::string::npos) << args;
    EXPECT_NE(args.find("--token=abc\n--source=web\n"), std::string::npos) << args;
    EXPECT_NE(args.find("-gametoken:eyJ1aWQiOjEyMzQ1LCJjYWxsYmFja19pbmZvIjoiY2IifQ==\n"), std::string::npos)
        << args;
}

TEST_F(UpdateRun, LoginWithAMissingGameFails) {
    writeConfig("", "", "", "", "game", "no-such-game");
    RunResult r = runUpdate({"--json", "--login", R"({"uid":1})"});
    EXPECT_EQ(r.status, 8) << r.out;
    EXPECT_NE(r.out.find("\"code\":0"), std::string::npos);
}

TEST_F(UpdateRun, PackerMergesReleasesAndRejectsBadUsage) {
    pack("1.0.8", {"--merge", wwwPath("version.json"), "--force", "true", "--download-thread", "6"});
    rapidjson::Document doc;
    std::string text = readAbsolute(wwwPath("version.json"));
    doc.Parse(text.c_str());
    ASSERT_TRUE(doc.IsObject()) << text;
    EXPECT_STREQ(doc["version"].GetString(), "1.0.8");
    EXPECT_EQ(doc["downloadThread"].GetInt(), 6);
    EXPECT_STREQ(doc["games"]["1.0.7"]["name"].GetString(), "game-1.0.7.zip");
    EXPECT_TRUE(doc["games"]["1.0.8"]["force"].GetBool());
    EXPECT_EQ(doc["games"]["1.0.8"]["size"].GetInt64(),
              static_cast<int64_t>(fs::file_size(wwwPath("game-1.0.8.zip"))));

    auto packStatus = [&](std::vector<std::string> args) {
        args.insert(args.begin(), VELTRANO_PACK_PATH);
        std::string error;
        return waitChild(spawnChild(args, -1, &error));
    };
    const std::string out = env.root() + "/packed";
    EXPECT_EQ(packStatus({"--version", "1"}), 1);
    EXPECT_EQ(packStatus({"--game", env.root() + "/src", "--version", "1", "--level", "12"}), 1);
    EXPECT_EQ(packStatus({"--game", env.root() + "/src", "--version", "1", "--name", "../x.zip"}), 1);
    EXPECT_EQ(packStatus({"--game", env.root() + "/nowhere", "--version", "1", "--out-dir", out}), 2);
    ASSERT_TRUE(writeWww("broken.json", "{not json"));
    EXPECT_EQ(packStatus({"--game", env.root() + "/src", "--version", "1", "--out-dir", out, "--merge",
                          wwwPath("broken.json")}),
              2);
    EXPECT_FALSE(fs::exists(out + "/version.json"));
    EXPECT_FALSE(fs::exists(out + "/game-1.zip"));
}

TEST_F(UpdateRun, AnOversizedManifestIsNeitherKeptNorLogged) {
    // Not JSON and far beyond any manifest: every attempt stops early and quotes nothing of it.
    ASSERT_TRUE(writeWww("version.json", std::string(16u << 20, 'x')));
    RunResult r = runUpdate();
    EXPECT_EQ(r.status, 3) << r.out;
    const std::string log = env.readFile("Veltrano.log");
    EXPECT_LT(log.size(), 256u * 1024);
    EXPECT_NE(log.find("response body larger than"), std::string::npos);
}

TEST_F(UpdateRun, AClosedOutputEndsTheDisplayNotTheUpdate) {
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: the test holds the manifest back on a POSIX socket until it "
                    "has closed the updater's output pipe";
#else
    // The manifest comes from a listener of the test's own, answered only once the reader is gone.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const std::string verUrl = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/version.json";
    writeConfig(verUrl, verUrl);
    ASSERT_TRUE(env.writeFile("game/version", "1.0.7"));

    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    std::string error;
    const pid_t pid = spawnChild({VELTRANO_UPDATE_PATH, "--dir", env.launcherDir()}, out[1], &error);
    ::close(out[1]);
    ASSERT_GT(pid, 0) << error;
    std::string first;
    char c = 0;
    while (first.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1) first += c;
    ::close(out[0]);  // as head -1 does
    EXPECT_EQ(first, "checking\n");

    // Answer every manifest request until the run ends (a slow machine may see a retry).
    const std::string body = R"({"version":"1.0.7","games":{}})";
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\nConnection: close\r\n\r\n" + body;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            FAIL() << "veltrano-update did not end";
        }
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int conn = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) continue;
        std::string request;
        char buf[4096];
        ssize_t n = 0;
        while (request.find("\r\n\r\n") == std::string::npos && (n = ::read(conn, buf, sizeof buf)) > 0)
            request.append(buf, static_cast<size_t>(n));
        EXPECT_EQ(::write(conn, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
        ::close(conn);
    }
    ::close(listener);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(env.readFile("Veltrano.log").find("m_svrVer:1.0.7 m_curVer:1.0.7"), std::string::npos);
#endif
}

TEST_F(UpdateRun, UsageAndConfigurationErrors) {
    EXPECT_EQ(runUpdate({"--bogus"}).status, 1);
    EXPECT_EQ(runUpdate({"--interval", "zero"}).status, 1);
    RunResult help = runUpdate({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
    fs::remove(env.path("launcher.cfg"));
    EXPECT_EQ(runUpdate().status, 2);
    ASSERT_TRUE(env.writeConfig("[1,2]"));
    EXPECT_EQ(runUpdate().status, 2);
}

}  // namespace
}  // namespace veltrano::test
