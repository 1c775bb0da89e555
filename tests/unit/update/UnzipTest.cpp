#include "update/Unzip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include "pack/Pack.h"
#include "support/TestEnv.h"
#include "support/TestUtil.h"

using namespace veltrano;
using veltrano::test::treeSnapshot;
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

TEST_F(UnzipTest, ExtractsFilesAndDirectoriesWithOneProgressCallPerEntryInOrder) {
    std::vector<Entry> entries{{"version", "1.0.7"}, {"data/", ""}, {"data/b/", ""}};
    // Sizes that differ, in several folders made on the fly, so that the workers share them.
    std::map<std::string, std::string> files{{"version", "1.0.7"}};
    for (int i = 0; i < 40; ++i) {
        std::string name = "data/" + std::to_string(i % 5) + "/f" + std::to_string(i);
        std::string bytes(static_cast<size_t>(i) * 3001 % 70000, static_cast<char>('a' + i % 26));
        entries.push_back({name, bytes, i % 2 == 0 ? 6 : 0});
        files[name] = bytes;
    }
    makeZip(entries);
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    ASSERT_TRUE(extract(&calls));
    std::map<std::string, std::string> got;
    for (const auto& [name, value] : treeSnapshot(dest)) {
        if (name != ".keep" && value.substr(value.find(' ')) != " dir")
            got[name] = env.readFile("dest/" + name);
    }
    EXPECT_EQ(got, files);
    EXPECT_TRUE(std::filesystem::is_directory(env.path("dest/data/b")));
    std::vector<std::pair<uint32_t, uint32_t>> expected;
    for (uint32_t i = 0; i < entries.size(); ++i)
        expected.emplace_back(i, static_cast<uint32_t>(entries.size()));
    EXPECT_EQ(calls, expected);
}

TEST_F(UnzipTest, AnArchiveStillArrivingIsReadOnlyWhereItsBytesHaveArrived) {
    std::vector<Entry> entries{{"data/", ""}};
    std::map<std::string, std::string> files;
    uint32_t x = 3;
    for (int i = 0; i < 30; ++i) {
        std::string name = "data/f" + std::to_string(i);
        std::string bytes(static_cast<size_t>(i) * 977 % 20000 + 1, '\0');
        for (char& c : bytes) {
            x = x * 1664525u + 1013904223u;
            c = static_cast<char>('a' + (x >> 28));
        }
        entries.push_back({name, bytes, i % 3 == 0 ? 0 : 6});
        files[name] = bytes;
    }
    makeZip(entries);
    const std::string whole = env.readFile("game.zip");
    // The file as a download prepares it: full size, nothing in it yet. Its directory comes apart.
    const std::string part = env.path("game.zip.part");
    std::ofstream(part, std::ios::binary) << std::string(whole.size(), '\0');
    const std::string tail = whole.substr(whole.size() - std::min<size_t>(whole.size(), 8192));
    Archive shortTail;
    std::string problem;
    EXPECT_FALSE(shortTail.openArriving(part, whole.size(), whole.substr(whole.size() - 100), &problem));
    Archive archive;
    ASSERT_TRUE(archive.openArriving(part, whole.size(), tail, &problem)) << problem;

    // Blocks arrive in a scrambled order, one each time the extraction waits: whatever it reads
    // before its bytes arrived would be zeros, and its checksum would fail.
    constexpr size_t kBlock = 4096;
    std::vector<size_t> order((whole.size() + kBlock - 1) / kBlock);
    for (size_t b = 0; b < order.size(); ++b) order[b] = b;
    std::shuffle(order.begin(), order.end(), std::mt19937(20261209));
    std::vector<bool> present(order.size(), false);
    size_t next = 0;
    std::mutex m;
    ArrivingBytes arriving;
    arriving.ready = [&](uint64_t from, uint64_t to) {
        std::lock_guard<std::mutex> lock(m);
        for (uint64_t b = from / kBlock; b * kBlock < to; ++b)
            if (!present[b]) return false;
        return true;
    };
    arriving.wait = [&] {
        std::lock_guard<std::mutex> lock(m);
        if (next == order.size()) return;
        const size_t b = order[next++];
        std::fstream f(part, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(b * kBlock));
        f << whole.substr(b * kBlock, kBlock);
        f.close();
        present[b] = true;
    };
    ASSERT_TRUE(extractArchive(archive, dest, nullptr, nullptr, &arriving)) << log();
    std::map<std::string, std::string> got;
    for (const auto& [name, value] : treeSnapshot(dest)) {
        if (name != ".keep" && value.substr(value.find(' ')) != " dir")
            got[name] = env.readFile("dest/" + name);
    }
    EXPECT_EQ(got, files);
}

TEST_F(UnzipTest, EmptyArchiveSucceedsWithoutProgress) {
    makeZip({});
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    EXPECT_TRUE(extract(&calls));
    EXPECT_TRUE(calls.empty());
}

TEST_F(UnzipTest, CreatesMissingParentsAndReplacesExistingFiles) {
    // A name held twice ends with its last entry, as one pass in order would leave it.
    makeZip({{"a/b/c.txt", "deep"},
             {"top.txt", "new", 0},
             {"twice.bin", std::string(1 << 20, 'x')},
             {"twice.bin", "last"}});
    ASSERT_TRUE(env.writeFile("dest/top.txt", "old content that is longer"));
    ASSERT_TRUE(extract());
    EXPECT_EQ(env.readFile("dest/a/b/c.txt"), "deep");
    EXPECT_EQ(env.readFile("dest/top.txt"), "new");
    EXPECT_EQ(env.readFile("dest/twice.bin"), "last");
}

TEST_F(UnzipTest, RefusesUnsafeNamesAndWritesNothingOutside) {
    const std::vector<std::string> bad = {"../escape.txt",   "ok/../../escape.txt", "/tmp/escape.txt",
                                          "C:escape.txt",    "dir\\escape.txt",     std::string(600, 'n'),
                                          "forged\nlog line"};
    for (const auto& name : bad) {
        SCOPED_TRACE(name.substr(0, 40));
        makeZip({{"first.txt", "1"}, {name, "evil"}});
        EXPECT_FALSE(extract());
        // Names are all checked before the first entry is written.
        EXPECT_FALSE(env.exists("dest/first.txt"));
        EXPECT_FALSE(env.exists("escape.txt"));
        EXPECT_NE(log().find("refusing entry " + name.substr(0, 6)), std::string::npos);
        EXPECT_EQ(log().find("\nlog line"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists("/tmp/escape.txt"));
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
    EXPECT_NE(unsafeEntryNameReason("a\nb"), nullptr);
    EXPECT_NE(unsafeEntryNameReason("a\tb/"), nullptr);
    EXPECT_NE(unsafeEntryNameReason("del\x7f"), nullptr);
}

TEST_F(UnzipTest, CorruptEntryFailsAndLeavesNoPartOfIt) {
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
        // No partial or temporary file of the failed entry stays; the others may have been
        // extracted by other workers meanwhile, and whole.
        auto left = treeSnapshot(dest);
        EXPECT_EQ(left.erase(".keep"), 1u);
        if (left.count("good.txt")) {
            EXPECT_EQ(env.readFile("dest/good.txt"), "fine");
        }
        if (left.count("after.txt")) {
            EXPECT_EQ(env.readFile("dest/after.txt"), "never");
        }
        left.erase("good.txt");
        left.erase("after.txt");
        EXPECT_TRUE(left.empty()) << left.begin()->first;
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

TEST_F(UnzipTest, KeepsExecutableBitsButNeverWritableByOthers) {
    VELTRANO_LINUX_ONLY("Windows files have no permission bits");
    const std::vector<std::pair<unsigned, unsigned>> modes = {
        {0755, 0755}, {0777, 0755}, {0666, 0644}, {0700, 0700}, {0444, 0644}};
    ZipWriter w;
    ASSERT_TRUE(w.open(zip));
    for (const auto& [stored, expected] : modes)
        ASSERT_TRUE(w.addBytes("f" + std::to_string(stored), "d", 6, stored));
    ASSERT_TRUE(w.close());
    ASSERT_TRUE(extract());
    for (const auto& [stored, expected] : modes) {
        struct stat st {};
        ASSERT_EQ(::stat(env.path("dest/f" + std::to_string(stored)).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, expected) << std::oct << stored;
    }
}

// Point-by-point behaviour of one entry's extraction.
TEST_F(UnzipTest, EntriesExtractSafely) {
    ASSERT_TRUE(env.writeFile("outside/precious", "keep"));
    // A temporary name of one entry is never another entry's name.
    makeZip({{"data.bin.tmp", "first"}, {"data.bin", "second"}});
    ASSERT_TRUE(extract());
    EXPECT_EQ(env.readFile("dest/data.bin.tmp"), "first");
    EXPECT_EQ(env.readFile("dest/data.bin"), "second");

    // Links in the way are never written through, for a folder or for the file itself. (Windows
    // makes links only with a privilege the tests do not have.)
#ifdef _WIN32
    for (const char* name : std::vector<const char*>{}) {
#else
    for (const char* name : {"linked/x.txt", "top.txt"}) {
#endif
        SCOPED_TRACE(name);
        std::filesystem::remove_all(env.path("dest"));
        ASSERT_TRUE(env.writeFile("dest/.keep", ""));
        std::filesystem::create_directory_symlink(env.path("outside"), env.path("dest/linked"));
        std::filesystem::create_symlink(env.path("outside/precious"), env.path("dest/top.txt"));
        makeZip({{name, "overwritten"}});
        EXPECT_FALSE(extract());
        EXPECT_EQ(treeSnapshot(env.path("outside")).size(), 1u);
        EXPECT_EQ(env.readFile("outside/precious"), "keep");
    }

    // Only what is really decoded: stored and deflate. bzip2 (12) would come out as raw bytes.
    makeZip({{"packed.bin", "0123456789", 0}});
    std::string bytes = env.readFile("game.zip");
    bytes[8] = 12;  // the local header's method
    size_t central = bytes.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(central, std::string::npos);
    bytes[central + 10] = 12;
    ASSERT_TRUE(env.writeFile("game.zip", bytes));
    std::filesystem::remove_all(env.path("dest"));
    ASSERT_TRUE(env.writeFile("dest/.keep", ""));
    EXPECT_FALSE(extract());
    EXPECT_FALSE(env.exists("dest/packed.bin"));
    EXPECT_NE(log().find("can not extract packed.bin: compression method 12 is not supported"),
              std::string::npos);
}

namespace {

void put16(std::string* s, uint16_t v) {
    s->push_back(static_cast<char>(v & 0xff));
    s->push_back(static_cast<char>(v >> 8));
}
void put32(std::string* s, uint32_t v) {
    put16(s, static_cast<uint16_t>(v & 0xffff));
    put16(s, static_cast<uint16_t>(v >> 16));
}
void put64(std::string* s, uint64_t v) {
    put32(s, static_cast<uint32_t>(v & 0xffffffffu));
    put32(s, static_cast<uint32_t>(v >> 32));
}

// A stored entry whose local header starts beyond 4 GiB (a hole before it keeps the file cheap),
// with sizes and offset only in the zip64 extra field, and the zip64 end records.
bool writeFarArchive(const std::string& path, const std::string& name, const std::string& data) {
    const uint64_t at = (uint64_t{1} << 32) + 4096;
    const uint32_t crc = static_cast<uint32_t>(crc32(
        crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    std::string local;
    put32(&local, 0x04034b50);
    put16(&local, 45), put16(&local, 0), put16(&local, 0), put16(&local, 0), put16(&local, 0);
    put32(&local, crc), put32(&local, 0xffffffffu), put32(&local, 0xffffffffu);
    put16(&local, static_cast<uint16_t>(name.size())), put16(&local, 20);
    local += name;
    put16(&local, 1), put16(&local, 16), put64(&local, data.size()), put64(&local, data.size());
    local += data;

    std::string central;
    put32(&central, 0x02014b50);
    put16(&central, (3 << 8) | 45), put16(&central, 45), put16(&central, 0), put16(&central, 0);
    put16(&central, 0), put16(&central, 0);
    put32(&central, crc), put32(&central, 0xffffffffu), put32(&central, 0xffffffffu);
    put16(&central, static_cast<uint16_t>(name.size())), put16(&central, 28), put16(&central, 0);
    put16(&central, 0), put16(&central, 0), put32(&central, 0100644u << 16), put32(&central, 0xffffffffu);
    central += name;
    put16(&central, 1), put16(&central, 24), put64(&central, data.size()), put64(&central, data.size());
    put64(&central, at);

    const uint64_t cdAt = at + local.size();
    std::string end;
    const uint64_t zip64EndAt = cdAt + central.size();
    put32(&end, 0x06064b50), put64(&end, 44), put16(&end, 45), put16(&end, 45), put32(&end, 0),
        put32(&end, 0);
    put64(&end, 1), put64(&end, 1), put64(&end, central.size()), put64(&end, cdAt);
    put32(&end, 0x07064b50), put32(&end, 0), put64(&end, zip64EndAt), put32(&end, 1);
    put32(&end, 0x06054b50), put16(&end, 0), put16(&end, 0), put16(&end, 0xffff), put16(&end, 0xffff);
    put32(&end, 0xffffffffu), put32(&end, 0xffffffffu), put16(&end, 0);

    const std::string tail = local + central + end;
#ifdef _WIN32
    std::ofstream out(test::pathOf(path), std::ios::binary | std::ios::trunc);
    out.seekp(static_cast<std::streamoff>(at));
    out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    return static_cast<bool>(out.flush());
#else
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok =
        ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(tail.size());
    return ::close(fd) == 0 && ok;
#endif
}

}  // namespace

TEST_F(UnzipTest, ReadsZip64SizesAndOffsets) {
    ASSERT_TRUE(writeFarArchive(zip, "far/away.txt", "beyond four GiB"));
    Archive archive;
    std::string problem;
    ASSERT_TRUE(archive.open(zip, &problem)) << problem;
    ASSERT_EQ(archive.entries().size(), 1u);
    EXPECT_EQ(archive.entries()[0].localHeaderOffset, (uint64_t{1} << 32) + 4096);
    EXPECT_EQ(archive.entries()[0].size, 15u);
    ASSERT_TRUE(extract());
    EXPECT_EQ(env.readFile("dest/far/away.txt"), "beyond four GiB");
}
