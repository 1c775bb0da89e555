#include "update/Manifest.h"

#include <gtest/gtest.h>

using namespace veltrano;

namespace {

std::string manifest(const std::string& entryFields, const std::string& version = "1.0.7",
                     const std::string& extra = "") {
    return R"({)" + extra + R"("version":")" + version +
           R"(","games":{"1.0.6":{"name":"old.zip","size":1,"md5":"x"},")" + version + R"(":{)" +
           entryFields + R"(}}})";
}

const std::string kEntry = R"("name":"game.zip","size":4096,"md5":"0123456789abcdef0123456789ABCDEF")";

}  // namespace

TEST(JudgeManifest, EqualVersionsFinishWhateverGamesHolds) {
    auto d = judgeManifest(R"({"version":"1.0.7"})", "1.0.7", false);
    EXPECT_EQ(d.action, ManifestAction::Finish);
    EXPECT_EQ(d.svrVer, "1.0.7");
    // No local file reads as 1.0.0, which equals an offered 1.0.0.
    EXPECT_EQ(judgeManifest(R"({"version":"1.0.0","games":5})", "1.0.0", true).action,
              ManifestAction::Finish);
}

TEST(JudgeManifest, VersionsCompareByteForByte) {
    EXPECT_EQ(judgeManifest(manifest(kEntry), "1.0.7\n", true).action, ManifestAction::Download);
    EXPECT_EQ(judgeManifest(manifest(kEntry), "1.0.7 ", true).action, ManifestAction::Download);
    EXPECT_EQ(judgeManifest(manifest(kEntry, "1.0.10"), "1.0.1", true).action, ManifestAction::Download);
}

TEST(JudgeManifest, OnlyLiteralTrueForcesWhenALocalVersionExists) {
    EXPECT_EQ(judgeManifest(manifest(kEntry + R"(,"force":true)"), "1.0.8", false).action,
              ManifestAction::Download);
    for (const char* force :
         {"", R"(,"force":false)", R"(,"force":1)", R"(,"force":"true")", R"(,"force":null)"}) {
        SCOPED_TRACE(force);
        auto d = judgeManifest(manifest(kEntry + force), "1.0.8", false);
        EXPECT_EQ(d.action, ManifestAction::Finish);
        // Without a local version file the archive is always downloaded.
        EXPECT_EQ(judgeManifest(manifest(kEntry + force), "1.0.0", true).action, ManifestAction::Download);
    }
}

TEST(JudgeManifest, ReadsTheEntryOfTheOfferedVersionWithA64BitSize) {
    auto d = judgeManifest(manifest(R"("name":"big.zip","size":6442450944,"md5":"AB")"), "1.0.0", true);
    ASSERT_EQ(d.action, ManifestAction::Download);
    EXPECT_EQ(d.name, "big.zip");
    EXPECT_EQ(d.size, 6442450944LL);
    EXPECT_EQ(d.md5, "AB");
}

TEST(JudgeManifest, NonObjectsAreRetried) {
    for (const char* body : {"", "null", "[1,2]", "{\"version\":", "\"1.0.7\"", "<html>busy</html>"}) {
        SCOPED_TRACE(body);
        EXPECT_EQ(judgeManifest(body, "1.0.0", true).action, ManifestAction::Retry);
    }
}

TEST(JudgeManifest, DeepNestingIsRetriedNotACrash) {
    // From the network: any depth must end as a malformed manifest, closed or not.
    const std::string open(1000000, '[');
    for (const std::string& body : {open, open + std::string(1000000, ']'), "{\"a\":" + open}) {
        EXPECT_EQ(judgeManifest(body, "1.0.0", true).action, ManifestAction::Retry);
    }
}

TEST(JudgeManifest, UnusableManifestsFail) {
    const std::vector<std::string> bodies = {
        R"({"games":{}})",
        R"({"version":107})",
        R"({"version":"1.0.7"})",
        R"({"version":"1.0.7","games":[]})",
        R"({"version":"1.0.7","games":{"1.0.6":{"name":"a","size":1,"md5":"x"}}})",
        manifest(R"("size":1,"md5":"x")"),
        manifest(R"("name":5,"size":1,"md5":"x")"),
        manifest(R"("name":"a.zip","size":"1","md5":"x")"),
        manifest(R"("name":"a.zip","size":1.5,"md5":"x")"),
        manifest(R"("name":"a.zip","size":0,"md5":"x")"),
        manifest(R"("name":"a.zip","size":1,"md5":7)"),
        manifest(R"("name":"../../a.zip","size":1,"md5":"x")"),
        manifest(R"("name":"sub/a.zip","size":1,"md5":"x")"),
        R"({"version":"1.0.7","games":{"1.0.7":"game.zip"}})",
    };
    for (const auto& body : bodies) {
        SCOPED_TRACE(body);
        auto d = judgeManifest(body, "1.0.0", true);
        EXPECT_EQ(d.action, ManifestAction::Fail);
        EXPECT_FALSE(d.problem.empty());
    }
}

TEST(JudgeManifest, AnInstalledGameIsKeptWhateverItsUnforcedEntryHolds) {
    for (const std::string& entry :
         {std::string(R"("size":1,"md5":"x")"), std::string(R"("name":"a.zip","size":"1","md5":"x")"),
          std::string(R"("name":"../a.zip","size":1,"md5":"x")")}) {
        SCOPED_TRACE(entry);
        auto kept = judgeManifest(manifest(entry), "1.0.6", false);
        EXPECT_EQ(kept.action, ManifestAction::Finish);
        EXPECT_FALSE(kept.problem.empty());
        // A download would follow: now the entry must be usable.
        EXPECT_EQ(judgeManifest(manifest(entry + R"(,"force":true)"), "1.0.6", false).action,
                  ManifestAction::Fail);
    }
}

TEST(JudgeManifest, DownloadThreadIsKeptAndClamped) {
    auto d = judgeManifest(R"({"downloadThread":4,"version":"1.0.7"})", "1.0.7", false);
    EXPECT_TRUE(d.hasDownloadThread);
    EXPECT_EQ(d.downloadThread, 4);
    EXPECT_EQ(judgeManifest(R"({"downloadThread":0,"version":"x"})", "x", false).downloadThread, 1);
    EXPECT_EQ(judgeManifest(R"({"downloadThread":-5,"version":"x"})", "x", false).downloadThread, 1);
    EXPECT_EQ(judgeManifest(R"({"downloadThread":65,"version":"x"})", "x", false).downloadThread, 64);
    EXPECT_EQ(judgeManifest(R"({"downloadThread":99999999999,"version":"x"})", "x", false).downloadThread,
              64);
    EXPECT_EQ(
        judgeManifest(R"({"downloadThread":18446744073709551615,"version":"x"})", "x", false).downloadThread,
        64);
    EXPECT_FALSE(judgeManifest(R"({"downloadThread":"8","version":"x"})", "x", false).hasDownloadThread);
    // Stored even when the manifest fails later.
    auto failed = judgeManifest(R"({"downloadThread":3})", "x", false);
    EXPECT_EQ(failed.action, ManifestAction::Fail);
    EXPECT_EQ(failed.downloadThread, 3);
}

TEST(SameDigest, IgnoresCaseOnly) {
    EXPECT_TRUE(sameDigest("0123abcdef", "0123ABCDEF"));
    EXPECT_FALSE(sameDigest("0123abcdef", "0123abcdee"));
    EXPECT_FALSE(sameDigest("0123abcdef", "0123abcdef0"));
    EXPECT_FALSE(sameDigest("", ""));
}

TEST(DedicatedGameDir, RefusesEverythingThatIsNotASubdirectory) {
    for (const char* ok : {"game", "games/qrvn", "game/", "./game", "a..b"}) {
        EXPECT_TRUE(isDedicatedGameDir(ok, nullptr)) << ok;
    }
    for (const char* bad : {"", ".", "./", "./.", "/", "/opt/game", "\\game", "C:/game", "c:game", "..",
                            "../game", "game/../..", "game/..", "a\\..\\b"}) {
        std::string why;
        EXPECT_FALSE(isDedicatedGameDir(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}
