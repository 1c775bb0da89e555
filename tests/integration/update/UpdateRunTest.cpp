// veltrano-update end to end against veltrano-devserver.

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "UpdateFixture.h"
#include "update/Pack.h"

namespace veltrano::test {
namespace {

namespace fs = std::filesystem;

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
    struct stat st {};
    ASSERT_EQ(::stat(env.path("game/run.sh").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0100, 0u);
    EXPECT_EQ(archiveRequests(), 10);  // the default ten ranges
    EXPECT_TRUE(env.exists("Install.log"));
    EXPECT_NE(r.out.find("finished: the game is up to date"), std::string::npos);
    // The archive stays; no piece is left.
    EXPECT_TRUE(fs::exists(downloadDir() + "game-1.0.7.zip"));
    EXPECT_FALSE(fs::exists(downloadDir() + "game-1.0.7.zip.tmp0"));
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
    EXPECT_EQ(server.requestCount("/a/game-1.0.7.zip"), 3);
    EXPECT_EQ(server.requestCount("/b/game-1.0.7.zip"), 3);
    EXPECT_FALSE(fs::exists(downloadDir() + "game-1.0.7.zip"));
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
    EXPECT_EQ(server.requestCount("/files/game-1.0.7.zip"), 10);
    EXPECT_EQ(env.readFile("game/version"), "1.0.7");
}

TEST_F(UpdateRun, VersionMismatchAfterExtractionEndsWith1113) {
    pack("1.0.6");
    // Offer the 1.0.6 archive as 1.0.7.
    ASSERT_TRUE(writeWww("version.json", manifestWith("1.0.7", "game-1.0.6.zip", packedSize(), packedMd5())));
    RunResult r = runUpdate({"--json"});
    EXPECT_EQ(r.status, 6) << r.out;
    EXPECT_EQ(env.readFile("game/version"), "1.0.6");
    EXPECT_NE(r.out.find("\"code\":1113"), std::string::npos);
    EXPECT_FALSE(env.exists("Install.log"));
}

TEST_F(UpdateRun, CorruptArchiveEndsWith1106AndIsRemoved) {
    std::string zip = readAbsolute(wwwPath("game-1.0.7.zip"));
    size_t at = zip.find("data/maps/world.bin");
    ASSERT_NE(at, std::string::npos);
    for (size_t i = at + 200; i < at + 2000; ++i) zip[i] = static_cast<char>(zip[i] ^ 0x33);
    ASSERT_TRUE(writeWww("bad.zip", zip));
    ASSERT_TRUE(writeWww("version.json", manifestWith("1.0.7", "bad.zip", static_cast<long long>(zip.size()),
                                                      fileMd5(wwwPath("bad.zip")))));
    RunResult r = runUpdate();
    EXPECT_EQ(r.status, 5) << r.out;
    EXPECT_FALSE(fs::exists(downloadDir() + "bad.zip"));
    // Entries before the damaged one are in place.
    EXPECT_EQ(env.readFile("game/version"), "1.0.7");
    EXPECT_EQ(env.readFile("game/bin/tool.dat"), std::string(5000, 'z'));
    EXPECT_FALSE(env.exists("game/data/readme.txt"));
    EXPECT_NE(env.readFile("Veltrano.log").find("can not read zip file data/maps/world.bin"),
              std::string::npos);
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

TEST_F(UpdateRun, KilledDownloadResumesItsPieces) {
    // Large enough, at this rate, to be caught mid-way even by a test thread that waits its turn long.
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
    ASSERT_TRUE(server.addFault(R"({"path":"/game-2.0.0.zip","rate":100000})"));

    std::vector<std::string> argv{VELTRANO_UPDATE_PATH, "--dir", env.launcherDir()};
    std::string error;
    pid_t pid = spawnChild(argv, -1, &error);
    ASSERT_GT(pid, 0) << error;
    // Wait until every piece holds something, then kill without warning.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool started = false;
    while (std::chrono::steady_clock::now() < deadline) {
        started = true;
        for (int i = 0; i < 4; ++i) {
            std::error_code ec;
            auto size = fs::file_size(downloadDir() + zip + ".tmp" + std::to_string(i), ec);
            if (ec || size < 50000) started = false;
        }
        if (started) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(started) << "the download never got going";
    ASSERT_FALSE(fs::exists(downloadDir() + zip));

    server.clearFaults();
    server.clearRequests();
    RunResult r = runUpdate();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(env.readFile("game/blob.bin"), blob);
    EXPECT_EQ(fileMd5(downloadDir() + zip), packedMd5());
    // Every piece continued after what it had, not from its start.
    auto ranges = server.ranges("/" + zip);
    ASSERT_EQ(ranges.size(), 4u);
    const long long chunk = (packedSize() + 3) / 4;
    for (const auto& range : ranges) {
        long long from = std::stoll(range.substr(range.find('=') + 1));
        EXPECT_NE(from % chunk, 0) << range;
    }
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

TEST_F(UpdateRun, LoginAfterTheUpdateStartsTheGame) {
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
        pid_t pid = spawnChild(args, -1, &error);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
