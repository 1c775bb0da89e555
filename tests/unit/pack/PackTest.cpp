#include "pack/Pack.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/FileUtils.h"
#include "support/TestEnv.h"
#include "support/TestUtil.h"
#include "update/Digest.h"
#include "update/Manifest.h"
#include "update/Unzip.h"
#include "util/Encoding.h"

using namespace veltrano;
using veltrano::test::VeltranoTest;

namespace {

#ifndef _WIN32
std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Entry names as an independent reader lists them.
std::string listing(const std::string& zip) {
    return commandOutput("unzip -Z1 '" + zip + "'");
}

bool unzipTests(const std::string& zip) {
    std::string command = "unzip -tq '" + zip + "' >/dev/null 2>&1";
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}
#endif

}  // namespace

class PackTest : public VeltranoTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(env.writeFile("src/bin/run.sh", "#!/bin/sh\necho hi\n"));
        ASSERT_TRUE(env.writeFile("src/data/levels/1.dat", std::string(70000, 'L')));
        ASSERT_TRUE(env.writeFile("src/data/empty.txt", ""));
        ASSERT_TRUE(env.writeFile("src/version", "stale"));
        ASSERT_TRUE(env.writeFile("src/readme.txt", "hello"));
    }
    PackOptions options(bool dirs = true) {
        PackOptions o;
        o.gameDir = env.path("src");
        o.version = "2.0.1";
        o.archivePath = env.path("out.zip");
        o.directoryEntries = dirs;
        return o;
    }
};

TEST_F(PackTest, ArchiveHoldsVersionDirectoriesAndFilesReadableByOtherTools) {
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: the archive is checked with the unzip program";
#else
    PackResult r;
    std::string error;
    ASSERT_TRUE(packGame(options(), &r, &error)) << error;
    EXPECT_EQ(
        listing(env.path("out.zip")),
        "bin/\nbin/run.sh\ndata/\ndata/empty.txt\ndata/levels/\ndata/levels/1.dat\nreadme.txt\nversion\n");
    EXPECT_TRUE(unzipTests(env.path("out.zip")));
    EXPECT_EQ(r.name, "out.zip");
    EXPECT_EQ(r.entries, 8u);
    EXPECT_EQ(r.md5, fileMd5(env.path("out.zip")));
    EXPECT_EQ(static_cast<size_t>(r.size), env.readFile("out.zip").size());

    ASSERT_TRUE(env.writeFile("dest/.keep", ""));
    ASSERT_TRUE(uncompressDir(env.path("out.zip").c_str(), env.path("dest/").c_str(), nullptr));
    EXPECT_EQ(env.readFile("dest/version"), "2.0.1");
    EXPECT_EQ(env.readFile("dest/data/levels/1.dat"), std::string(70000, 'L'));
#endif
}

TEST_F(PackTest, WithoutDirectoryEntries) {
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: the archive is checked with the unzip program";
#else
    PackResult r;
    ASSERT_TRUE(packGame(options(false), &r, nullptr));
    EXPECT_EQ(listing(env.path("out.zip")),
              "bin/run.sh\ndata/empty.txt\ndata/levels/1.dat\nreadme.txt\nversion\n");
    EXPECT_EQ(r.entries, 5u);
#endif
}

// A game file over 4 GiB needs the archive's 64-bit sizes; the file is sparse and compresses to
// almost nothing, so the test stays cheap on disk.
TEST_F(PackTest, AFileOverFourGigabytesKeepsItsWholeSize) {
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: the archive is checked with the unzip program";
#else
    const uint64_t huge = (uint64_t(1) << 32) + (1 << 20) + 7;
    std::filesystem::resize_file(env.path("src/readme.txt"), 0);
    { std::ofstream(env.path("src/huge.bin")); }
    std::filesystem::resize_file(env.path("src/huge.bin"), huge);
    PackOptions o = options();
    o.level = 1;
    PackResult r;
    std::string error;
    ASSERT_TRUE(packGame(o, &r, &error)) << error;

    Archive archive;
    std::string problem;
    ASSERT_TRUE(archive.open(env.path("out.zip"), &problem)) << problem;
    bool seen = false;
    for (const ArchiveEntry& e : archive.entries()) {
        if (e.name != "huge.bin") continue;
        seen = true;
        EXPECT_EQ(e.size, huge);
        EXPECT_LT(e.compressedSize, uint64_t(64) << 20);
    }
    EXPECT_TRUE(seen);
    // Another reader agrees on the size.
    const std::string out = commandOutput("unzip -Zl '" + env.path("out.zip") + "' huge.bin");
    EXPECT_NE(out.find(std::to_string(huge)), std::string::npos) << out;
    // The entry after it is still found and read.
    ASSERT_TRUE(env.writeFile("dest/.keep", ""));
    for (const ArchiveEntry& e : archive.entries()) {
        if (e.name != "version") continue;
        std::vector<char> buffer(kUnzipCopyBufferSize);
        EXPECT_TRUE(extractEntry(archive, e, env.path("dest/"), &buffer));
    }
    EXPECT_EQ(env.readFile("dest/version"), "2.0.1");
#endif
}

TEST_F(PackTest, FailuresLeaveNoArchive) {
    PackOptions o = options();
    o.gameDir = env.path("nowhere");
    std::string error;
    EXPECT_FALSE(packGame(o, nullptr, &error));
    EXPECT_FALSE(error.empty());
    o = options();
    o.version = "";
    EXPECT_FALSE(packGame(o, nullptr, &error));
    EXPECT_FALSE(env.exists("out.zip"));
    o = options();
    o.archivePath = env.path("no/such/folder/out.zip");
    EXPECT_FALSE(packGame(o, nullptr, &error));
}

TEST_F(PackTest, AFailedRunKeepsTheArchiveAlreadyThere) {
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: the archive is checked with the unzip program";
#else
    ASSERT_TRUE(env.writeFile("out.zip", "released"));
    PackOptions o = options();
    o.gameDir = env.path("nowhere");
    std::string error;
    EXPECT_FALSE(packGame(o, nullptr, &error));
    EXPECT_EQ(env.readFile("out.zip"), "released");

    PackResult r;
    ASSERT_TRUE(packGame(options(), &r, &error)) << error;
    EXPECT_EQ(r.md5, fileMd5(env.path("out.zip")));
    EXPECT_TRUE(unzipTests(env.path("out.zip")));
    EXPECT_FALSE(env.exists("out.zip.part"));
#endif
}

TEST_F(PackTest, RefusesNamesTheLauncherWouldNotExtract) {
    VELTRANO_LINUX_ONLY("Windows file names cannot hold a backslash or a line break");
    std::string error;
    for (const std::string name : {"data/win\\path.dat", "data/two\nlines.dat"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(env.writeFile("src/" + name, "x"));
        EXPECT_FALSE(packGame(options(), nullptr, &error));
        EXPECT_NE(error.find(name), std::string::npos) << error;
        EXPECT_FALSE(env.exists("out.zip"));
        ASSERT_TRUE(std::filesystem::remove(env.path("src/" + name)));
    }

    const std::string deep =
        "src/" + std::string(250, 'a') + "/" + std::string(250, 'b') + "/" + std::string(20, 'c');
    ASSERT_TRUE(env.writeFile(deep, "x"));
    EXPECT_FALSE(packGame(options(), nullptr, &error));
    EXPECT_NE(error.find("too long"), std::string::npos) << error;
    EXPECT_FALSE(env.exists("out.zip"));
}

TEST_F(PackTest, LinkedFilesAndFoldersArePackedUnderTheirOwnNames) {
#ifdef _WIN32
    GTEST_SKIP() << "tested on Linux only: Windows makes links only with a privilege the tests do not have";
#else
    ASSERT_TRUE(env.writeFile("shared/music/theme.ogg", "la la"));
    ASSERT_TRUE(env.writeFile("shared/icon.png", "png"));
    std::filesystem::create_directory_symlink("../shared/music", env.path("src/music"));
    std::filesystem::create_symlink("../shared/icon.png", env.path("src/icon.png"));
    for (const std::string& dir : {env.path("src"), env.path("src") + "/"}) {
        PackOptions o = options(false);
        o.gameDir = dir;
        std::string error;
        ASSERT_TRUE(packGame(o, nullptr, &error)) << error;
        EXPECT_EQ(listing(env.path("out.zip")),
                  "bin/run.sh\ndata/empty.txt\ndata/levels/1.dat\nicon.png\nmusic/"
                  "theme.ogg\nreadme.txt\nversion\n");
    }
    ASSERT_TRUE(env.writeFile("dest/.keep", ""));
    ASSERT_TRUE(uncompressDir(env.path("out.zip").c_str(), env.path("dest/").c_str(), nullptr));
    EXPECT_EQ(env.readFile("dest/music/theme.ogg"), "la la");
    EXPECT_EQ(env.readFile("dest/icon.png"), "png");

    std::filesystem::create_directory_symlink("..", env.path("src/data/up"));
    std::string error;
    EXPECT_FALSE(packGame(options(), nullptr, &error));
    EXPECT_NE(error.find("data/up"), std::string::npos) << error;
#endif
}

TEST(MergeManifest, NewManifestIsJudgedAsADownload) {
    ManifestEntry e{"1.0.7", "game.zip", 123456789012, "ABCDEF", 1, 12};
    std::string out, error;
    ASSERT_TRUE(mergeManifest("", e, &out, &error)) << error;
    auto d = judgeManifest(out, "1.0.6", false);
    ASSERT_EQ(d.action, ManifestAction::Download);
    EXPECT_EQ(d.name, "game.zip");
    EXPECT_EQ(d.size, 123456789012);
    EXPECT_EQ(d.md5, "ABCDEF");
    EXPECT_EQ(d.downloadThread, 12);
}

TEST(MergeManifest, KeepsOtherVersionsAndReplacesTheSameOne) {
    std::string existing =
        R"({"version":"1.0.6","downloadThread":3,"note":"kept","games":{"1.0.6":{"name":"a.zip","size":1,"md5":"m"},)"
        R"("1.0.7":{"name":"stale.zip","size":2,"md5":"s","force":true}}})";
    ManifestEntry e{"1.0.7", "b.zip", 99, "cafe", -1, 0};
    std::string out;
    ASSERT_TRUE(mergeManifest(existing, e, &out, nullptr));
    rapidjson::Document doc;
    doc.Parse(out.c_str());
    ASSERT_TRUE(doc.IsObject());
    EXPECT_STREQ(doc["version"].GetString(), "1.0.7");
    EXPECT_EQ(doc["downloadThread"].GetInt(), 3);
    EXPECT_STREQ(doc["note"].GetString(), "kept");
    EXPECT_STREQ(doc["games"]["1.0.6"]["name"].GetString(), "a.zip");
    EXPECT_STREQ(doc["games"]["1.0.7"]["name"].GetString(), "b.zip");
    EXPECT_FALSE(doc["games"]["1.0.7"].HasMember("force"));
    EXPECT_EQ(doc["games"].MemberCount(), 2u);
}

TEST(MergeManifest, RefusesANonObject) {
    std::string error;
    EXPECT_FALSE(mergeManifest("[1]", ManifestEntry{"1", "a", 1, "m", -1, 0}, nullptr, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(mergeManifest("{broken", ManifestEntry{"1", "a", 1, "m", -1, 0}, nullptr, &error));
    // Deep nesting overflowed the stack when read and again when written back.
    const std::string deep = "{\"x\":" + std::string(1000000, '[') + std::string(1000000, ']') + "}";
    EXPECT_FALSE(mergeManifest(deep, ManifestEntry{"1", "a", 1, "m", -1, 0}, nullptr, &error));
    EXPECT_EQ(error, "the existing manifest is nested too deeply");
}
