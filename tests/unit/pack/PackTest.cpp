#include "pack/Pack.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/wait.h>

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

// Entry names as an independent reader lists them.
std::string listing(const std::string& zip) {
    std::string command = "unzip -Z1 '" + zip + "' 2>&1";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

bool unzipTests(const std::string& zip) {
    std::string command = "unzip -tq '" + zip + "' >/dev/null 2>&1";
    int rc = std::system(command.c_str());
    return WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

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
}

TEST_F(PackTest, WithoutDirectoryEntries) {
    PackResult r;
    ASSERT_TRUE(packGame(options(false), &r, nullptr));
    EXPECT_EQ(listing(env.path("out.zip")),
              "bin/run.sh\ndata/empty.txt\ndata/levels/1.dat\nreadme.txt\nversion\n");
    EXPECT_EQ(r.entries, 5u);
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
}

TEST_F(PackTest, RefusesNamesTheLauncherWouldNotExtract) {
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
