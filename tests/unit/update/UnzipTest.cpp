#include "update/Unzip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "support/TestEnv.h"
#include "update/Pack.h"

using namespace veltrano;
using veltrano::test::VeltranoTest;

namespace {

struct Entry {
    std::string name;
    std::string bytes;  // ignored for names ending in "/"
    int level = 6;
};

class UnzipTest : public VeltranoTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(env.writeConfig("{}"));
        ASSERT_TRUE(env.loadConfig());
        ASSERT_TRUE(env.writeFile("dest/.keep", ""));
        dest = env.path("dest/");
        zip = env.path("game.zip");
    }

    void makeZip(const std::vector<Entry>& entries) {
        ZipWriter w;
        ASSERT_TRUE(w.open(zip)) << w.error();
        for (const auto& e : entries) {
            if (!e.name.empty() && e.name.back() == '/')
                ASSERT_TRUE(w.addDirectory(e.name)) << w.error();
            else
                ASSERT_TRUE(w.addBytes(e.name, e.bytes, e.level)) << w.error();
        }
        ASSERT_TRUE(w.close()) << w.error();
    }

    bool extract(std::vector<std::pair<uint32_t, uint32_t>>* calls = nullptr) {
        return uncompressDir(zip.c_str(), dest.c_str(), [calls](uint32_t i, uint32_t n) {
            if (calls != nullptr) calls->emplace_back(i, n);
        });
    }

    std::string log() const { return env.readFile("Veltrano.log"); }

    std::string dest, zip;
};

// Offset of the first byte of an entry's stored data (after its local header).
size_t dataOffset(const std::string& archive, const std::string& name) {
    size_t at = archive.find(name);
    return at == std::string::npos ? at : at + name.size();
}

}  // namespace

TEST_F(UnzipTest, ExtractsFilesAndDirectoriesWithProgressInArchiveOrder) {
    makeZip({{"version", "1.0.7"}, {"data/", ""}, {"data/a.bin", std::string(100000, 'x')}, {"data/b/", ""}});
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    ASSERT_TRUE(extract(&calls));
    EXPECT_EQ(env.readFile("dest/version"), "1.0.7");
    EXPECT_EQ(env.readFile("dest/data/a.bin"), std::string(100000, 'x'));
    struct stat st {};
    EXPECT_EQ(::stat(env.path("dest/data/b").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_FALSE(env.exists("dest/data/a.bin.tmp"));
    std::vector<std::pair<uint32_t, uint32_t>> expected{{0, 4}, {1, 4}, {2, 4}, {3, 4}};
    EXPECT_EQ(calls, expected);
}

TEST_F(UnzipTest, EmptyArchiveSucceedsWithoutProgress) {
    makeZip({});
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    EXPECT_TRUE(extract(&calls));
    EXPECT_TRUE(calls.empty());
}

TEST_F(UnzipTest, CreatesMissingParentsAndReplacesExistingFiles) {
    makeZip({{"a/b/c.txt", "deep"}, {"top.txt", "new", 0}});
    ASSERT_TRUE(env.writeFile("dest/top.txt", "old content that is longer"));
    ASSERT_TRUE(extract());
    EXPECT_EQ(env.readFile("dest/a/b/c.txt"), "deep");
    EXPECT_EQ(env.readFile("dest/top.txt"), "new");
}

TEST_F(UnzipTest, RefusesUnsafeNamesAndWritesNothingOutside) {
    const std::vector<std::string> bad = {"../escape.txt", "ok/../../escape.txt", "/tmp/escape.txt",
                                          "C:escape.txt",  "dir\\escape.txt",     std::string(600, 'n')};
    for (const auto& name : bad) {
        SCOPED_TRACE(name.substr(0, 40));
        makeZip({{"first.txt", "1"}, {name, "evil"}});
        EXPECT_FALSE(extract());
        EXPECT_EQ(env.readFile("dest/first.txt"), "1");
        EXPECT_FALSE(env.exists("escape.txt"));
        EXPECT_NE(log().find("refusing entry " + name.substr(0, 20)), std::string::npos);
    }
    struct stat st {};
    EXPECT_NE(::stat("/tmp/escape.txt", &st), 0);
}

TEST(UnsafeEntryName, ClassifiesNames) {
    EXPECT_EQ(unsafeEntryNameReason("a/b/c.txt"), nullptr);
    EXPECT_EQ(unsafeEntryNameReason("a..b/..c"), nullptr);
    EXPECT_EQ(unsafeEntryNameReason("dir/"), nullptr);
    EXPECT_NE(unsafeEntryNameReason(".."), nullptr);
    EXPECT_NE(unsafeEntryNameReason("a/.."), nullptr);
    EXPECT_NE(unsafeEntryNameReason("../"), nullptr);
    EXPECT_NE(unsafeEntryNameReason("/abs"), nullptr);
    EXPECT_NE(unsafeEntryNameReason("z:/x"), nullptr);
    EXPECT_NE(unsafeEntryNameReason("a\\b"), nullptr);
    EXPECT_NE(unsafeEntryNameReason(""), nullptr);
}

TEST_F(UnzipTest, CorruptEntryFailsAfterEarlierEntriesAreExtracted) {
    // Deflated: the stream breaks; stored: only the checksum tells.
    for (int level : {6, 0}) {
        SCOPED_TRACE(level);
        std::string payload;
        for (int i = 0; i < 20000; ++i) payload += std::to_string(i * 7919 % 1000);
        makeZip({{"good.txt", "fine"}, {"bad.bin", payload, level}, {"after.txt", "never"}});
        std::string bytes;
        {
            std::ifstream in(zip, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        size_t at = dataOffset(bytes, "bad.bin");
        ASSERT_NE(at, std::string::npos);
        for (size_t i = at + 100; i < at + 400; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
        {
            std::ofstream out(zip, std::ios::binary | std::ios::trunc);
            out << bytes;
        }
        EXPECT_FALSE(extract());
        EXPECT_EQ(env.readFile("dest/good.txt"), "fine");
        EXPECT_FALSE(env.exists("dest/bad.bin"));
        EXPECT_FALSE(env.exists("dest/after.txt"));
        EXPECT_NE(log().find("can not read zip file bad.bin, error code is -"), std::string::npos);
    }
}

TEST_F(UnzipTest, NotAnArchiveAndMissingArguments) {
    ASSERT_TRUE(env.writeFile("game.zip", "this is not a zip archive"));
    EXPECT_FALSE(extract());
    EXPECT_NE(log().find("uncompressDir unzOpen 0"), std::string::npos);
    EXPECT_NE(log().find("unzGetGlobalInfo not ok"), std::string::npos);
    EXPECT_FALSE(uncompressDir(nullptr, dest.c_str(), nullptr));
    EXPECT_NE(log().find("source zip is null or dest path is null!"), std::string::npos);
}

TEST_F(UnzipTest, UnwritableDestinationFailsWithItsPath) {
    makeZip({{"x/", ""}, {"x/f.txt", "1"}});
    ASSERT_TRUE(env.writeFile("dest/x", "a file where a folder should be"));
    EXPECT_FALSE(extract());
    EXPECT_NE(log().find("can not open destination file " + dest + "x/f.txt"), std::string::npos);
}

TEST_F(UnzipTest, KeepsExecutableBits) {
    ASSERT_TRUE(env.writeFile("src/run.sh", "#!/bin/sh\n"));
    ASSERT_EQ(::chmod(env.path("src/run.sh").c_str(), 0755), 0);
    ZipWriter w;
    ASSERT_TRUE(w.open(zip));
    ASSERT_TRUE(w.addFile("run.sh", env.path("src/run.sh")));
    ASSERT_TRUE(w.addBytes("data.txt", "d", 6, 0644));
    ASSERT_TRUE(w.close());
    ASSERT_TRUE(extract());
    struct stat st {};
    ASSERT_EQ(::stat(env.path("dest/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(::stat(env.path("dest/data.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0u);
}

TEST_F(UnzipTest, AsyncReportsProgressThenOneOutcomeOnItsOwnThread) {
    makeZip({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::vector<uint32_t>> events;
    bool done = false;
    std::thread::id worker;
    uncompressDirAsync(
        zip, dest,
        [&](uint32_t kind, uint32_t a, uint32_t b) {
            std::lock_guard<std::mutex> g(m);
            events.push_back({kind, a, b});
            worker = std::this_thread::get_id();
            if (kind != UnzipProgress) {
                done = true;
                cv.notify_all();
            }
        },
        true);
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return done; }));
    std::vector<std::vector<uint32_t>> expected{{2, 0, 3}, {2, 1, 3}, {2, 2, 3}, {1, 0, 0}};
    EXPECT_EQ(events, expected);
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST_F(UnzipTest, AsyncFailureWithoutProgress) {
    ASSERT_TRUE(env.writeFile("game.zip", "garbage"));
    std::mutex m;
    std::condition_variable cv;
    std::vector<uint32_t> kinds;
    uncompressDirAsync(
        zip, dest,
        [&](uint32_t kind, uint32_t, uint32_t) {
            std::lock_guard<std::mutex> g(m);
            kinds.push_back(kind);
            cv.notify_all();
        },
        false);
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return !kinds.empty(); }));
    EXPECT_EQ(kinds, std::vector<uint32_t>{UnzipFailed});
}
