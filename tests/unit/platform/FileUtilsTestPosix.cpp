#include "platform/FileUtils.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "platform/FileUtilsPosix.h"
#include "support/TestEnv.h"

extern char** environ;

namespace veltrano {
namespace {

using test::VeltranoTest;

constexpr const char* kReplacedReport = "VELTRANO_TEST_REPLACED_EXE_REPORT";

// Inside the copy started by ExecutableReplacedOnDiskKeepsItsPathAndFolder, before any test: the copy
// removes its own file, as an update replacing the launcher does, and writes what it then sees.
[[maybe_unused]] const bool kRanAsReplacedCopy = [] {
    const char* report = std::getenv(kReplacedReport);
    if (!report) return false;
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::read_symlink("/proc/self/exe", ignored), ignored);
    FileUtilsPosix files;
    const bool ok = files.init();
    std::ofstream(report) << files.executablePath() << "\n" << files.writableDirectory();
    _exit(ok ? 0 : 1);
}();

FileUtils* fu() {
    return FileUtils::instance();
}

bool isDir(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FileUtilsTest : public VeltranoTest {};

TEST_F(FileUtilsTest, LauncherDirectoryComesFromTheExecutable) {
    FileUtilsPosix fresh;
    ASSERT_TRUE(fresh.init());
    const std::string dir = fresh.launcherDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir.front(), '/');
    const std::string exe = fresh.executablePath();
    EXPECT_EQ(exe.rfind(dir, 0), 0u) << exe;
    EXPECT_EQ(exe.find('/', dir.size()), std::string::npos);
    EXPECT_TRUE(fresh.fileExists(exe));
    EXPECT_EQ(fresh.launcherDirectoryNative() + "/", dir);
}

TEST_F(FileUtilsTest, FilesAndDirectoriesBesideTheExecutable) {
    ASSERT_TRUE(env.writeFile("launcher.cfg", "{}"));
    ASSERT_TRUE(env.writeFile("res/index.html", "<p>"));
    EXPECT_TRUE(fu()->fileExists("launcher.cfg"));
    EXPECT_TRUE(fu()->fileExists(env.path("launcher.cfg")));
    EXPECT_FALSE(fu()->fileExists("res"));
    EXPECT_TRUE(fu()->directoryExists("res"));
    EXPECT_TRUE(fu()->directoryExists(env.path("res")));
    EXPECT_FALSE(fu()->directoryExists("launcher.cfg"));
    EXPECT_FALSE(fu()->fileExists("nothing.txt"));
    EXPECT_FALSE(fu()->fileExists(""));
    EXPECT_FALSE(fu()->directoryExists("nothing"));
}

TEST_F(FileUtilsTest, NameNormalisation) {
    ASSERT_TRUE(env.writeFile("res/index.html", "x"));
    ASSERT_TRUE(env.writeFile("a/b", "x"));
    ASSERT_TRUE(env.writeFile("ver/x", "x"));
    const std::string want = env.path("res/index.html");
    for (const char* name : {"res/index.html", "./res/index.html", ".\\res\\index.html", "res\\index.html",
                             "res//index.html", "res/./index.html"}) {
        EXPECT_EQ(fu()->fullPath(name), want) << name;
    }
    // "." before a separator disappears and ".." never steps up.
    EXPECT_EQ(fu()->fullPath("a/../b"), env.path("a/b"));
    EXPECT_EQ(fu()->fullPath("ver./x"), env.path("ver/x"));
}

TEST_F(FileUtilsTest, RelativeNamesNeverEscapeTheLauncherDirectory) {
    ASSERT_TRUE(env.writeFile("../outside.txt", "secret"));
    EXPECT_EQ(fu()->fullPath("../outside.txt"), "");
    EXPECT_FALSE(fu()->fileExists("../outside.txt"));
    EXPECT_EQ(fu()->readText("../outside.txt"), "");
}

TEST_F(FileUtilsTest, AbsolutePaths) {
    EXPECT_TRUE(fu()->isAbsolutePath("/x"));
    EXPECT_TRUE(fu()->isAbsolutePath("//server/share"));
    EXPECT_TRUE(fu()->isAbsolutePath("C:x"));
    EXPECT_TRUE(fu()->isAbsolutePath("z:/dir"));
    EXPECT_FALSE(fu()->isAbsolutePath("C:"));
    EXPECT_FALSE(fu()->isAbsolutePath("1:x"));
    EXPECT_FALSE(fu()->isAbsolutePath("x/y"));
    EXPECT_FALSE(fu()->isAbsolutePath(""));
    // A real absolute path is not prefixed with the launcher directory.
    ASSERT_TRUE(env.writeFile("abs.txt", "abs"));
    EXPECT_EQ(fu()->fullPath(env.path("abs.txt")), env.path("abs.txt"));
    EXPECT_EQ(fu()->readText(env.path("abs.txt")), "abs");
}

TEST_F(FileUtilsTest, CacheKeepsHitsButNotMisses) {
    EXPECT_EQ(fu()->fullPath("late.txt"), "");
    ASSERT_TRUE(env.writeFile("late.txt", "now"));
    EXPECT_EQ(fu()->fullPath("late.txt"), env.path("late.txt")) << "a miss must not be cached";

    ASSERT_EQ(unlink(env.path("late.txt").c_str()), 0);
    EXPECT_EQ(fu()->fullPath("late.txt"), env.path("late.txt")) << "a hit stays until the cache is cleared";
    fu()->clearPathCache();
    EXPECT_EQ(fu()->fullPath("late.txt"), "");
}

TEST_F(FileUtilsTest, CacheIsSafeAcrossThreads) {
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(env.writeFile("f" + std::to_string(i), "x"));
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const std::string name = "f" + std::to_string((round + t) % 20);
                if (fu()->fullPath(name) != env.path(name)) ++wrong;
                if (!fu()->directoryExists(".")) ++wrong;
                if (t == 0 && round % 50 == 0) fu()->clearPathCache();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(FileUtilsTest, ReadStatuses) {
    std::string text = "old";
    ResizableBufferAdapter<std::string> adapter(&text);
    EXPECT_EQ(fu()->readInto("", &adapter), ReadStatus::Missing);
    EXPECT_EQ(fu()->readInto("missing.txt", &adapter), ReadStatus::Missing);
    EXPECT_EQ(fu()->readInto(env.path("missing.txt"), &adapter), ReadStatus::Missing);
    ASSERT_TRUE(env.writeFile("dir/inner", "x"));
    EXPECT_EQ(fu()->readInto("dir", &adapter), ReadStatus::Missing);

    ASSERT_TRUE(env.writeFile("empty.txt", ""));
    EXPECT_EQ(fu()->readInto("empty.txt", &adapter), ReadStatus::Ok);
    EXPECT_EQ(text, "");
    EXPECT_EQ(fu()->readText("missing.txt"), "");

    ASSERT_EQ(mkfifo(env.path("pipe").c_str(), 0644), 0);
    EXPECT_EQ(fu()->readInto("pipe", &adapter), ReadStatus::CannotOpen) << "a FIFO is never opened";

    if (geteuid() != 0) {
        ASSERT_TRUE(env.writeFile("locked.txt", "x"));
        ASSERT_EQ(chmod(env.path("locked.txt").c_str(), 0), 0);
        EXPECT_EQ(fu()->readInto("locked.txt", &adapter), ReadStatus::CannotOpen);
    }
}

TEST_F(FileUtilsTest, TextWritesTruncateAndReadsKeepEveryByte) {
    const std::string bytes("\0\x01\xff\r\n\0", 6);
    ASSERT_TRUE(env.writeFile("bin", "a much longer text than the bytes"));
    ASSERT_TRUE(fu()->writeText(bytes, env.path("bin")));
    EXPECT_EQ(fu()->readText("bin"), bytes);
    ASSERT_TRUE(fu()->writeText("short", env.path("bin")));
    EXPECT_EQ(env.readFile("bin"), "short") << "writeText truncates";

    EXPECT_FALSE(fu()->writeText("x", env.path("no/such/dir/file"))) << "no directory is created";
    EXPECT_FALSE(env.exists("no"));

    std::string s;
    ResizableBufferAdapter<std::string> text(&s);
    EXPECT_EQ(text.buffer(), nullptr);
    text.resize(4);
    EXPECT_EQ(s.size(), 4u);
    EXPECT_NE(text.buffer(), nullptr);
}

TEST_F(FileUtilsTest, CreateDirectoryMakesEveryLevel) {
    const std::string target = env.path("a/b/c/");
    EXPECT_TRUE(fu()->createDirectory(target));
    EXPECT_TRUE(isDir(env.path("a")));
    EXPECT_TRUE(isDir(env.path("a/b")));
    EXPECT_TRUE(isDir(env.path("a/b/c")));
    EXPECT_TRUE(fu()->createDirectory(target));
    EXPECT_TRUE(fu()->createDirectory(env.path("a/b/d")));
    EXPECT_TRUE(isDir(env.path("a/b/d")));
    // Relative paths are created under the launcher directory, not the working directory.
    EXPECT_TRUE(fu()->createDirectory("rel/x/"));
    EXPECT_TRUE(isDir(env.path("rel/x")));

    ASSERT_TRUE(env.writeFile("blocker", "x"));
    EXPECT_FALSE(fu()->createDirectory(env.path("blocker/sub/")));
}

TEST_F(FileUtilsTest, RemoveDirectoryWithReadOnlyContent) {
    ASSERT_TRUE(env.writeFile("game/data/ro.txt", "x"));
    ASSERT_TRUE(env.writeFile("game/top.txt", "y"));
    ASSERT_TRUE(env.writeFile("keep.txt", "keep"));
    ASSERT_EQ(chmod(env.path("game/data/ro.txt").c_str(), 0444), 0);
    ASSERT_EQ(chmod(env.path("game/data").c_str(), 0555), 0);
    ASSERT_EQ(symlink(env.path("keep.txt").c_str(), env.path("game/link").c_str()), 0);

    EXPECT_TRUE(fu()->removeDirectory(env.path("game/")));
    EXPECT_FALSE(env.exists("game"));
    EXPECT_EQ(env.readFile("keep.txt"), "keep") << "links are removed, not followed";

    EXPECT_FALSE(fu()->removeDirectory(env.path("game/")));
    ASSERT_TRUE(env.writeFile("nodir", "x"));
    EXPECT_FALSE(fu()->removeDirectory(env.path("nodir")));
    EXPECT_TRUE(env.exists("nodir"));
}

TEST_F(FileUtilsTest, RenameReplacesAndRemoveFile) {
    ASSERT_TRUE(env.writeFile("new.bin", "new"));
    ASSERT_TRUE(env.writeFile("old.bin", "old"));
    EXPECT_TRUE(fu()->renameFile(env.path("new.bin"), env.path("old.bin")));
    EXPECT_EQ(env.readFile("old.bin"), "new");
    EXPECT_FALSE(env.exists("new.bin"));

    EXPECT_FALSE(fu()->renameFile(env.path("gone.bin"), env.path("old.bin")));
    EXPECT_EQ(env.readFile("old.bin"), "new") << "a failed rename loses nothing";

    EXPECT_TRUE(fu()->removeFile(env.path("old.bin")));
    EXPECT_FALSE(env.exists("old.bin"));
    EXPECT_FALSE(fu()->removeFile(env.path("old.bin")));
}

TEST_F(FileUtilsTest, FileSizeIsSixtyFourBit) {
    ASSERT_TRUE(env.writeFile("small", "12345"));
    EXPECT_EQ(fu()->fileSize(env.path("small")), 5u);
    EXPECT_EQ(fu()->fileSize(env.path("missing")), 0u);

    const uint64_t big = (uint64_t(5) << 30) + 7;  // sparse: takes no disk space
    const int fd = open(env.path("big").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(big)), 0);
    close(fd);
    EXPECT_EQ(fu()->fileSize(env.path("big")), big);
}

TEST_F(FileUtilsTest, WritableDirectoryUnderDataHome) {
    const std::string exe = fu()->executablePath();
    const std::string name = exe.substr(exe.find_last_of('/') + 1);
    const std::string want = env.root() + "/data/" + name + "/";
    EXPECT_EQ(fu()->writableDirectory(), want);
    EXPECT_TRUE(isDir(want));

    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(fu()->writableDirectory(), env.root() + "/home/.local/share/" + name + "/");

    ASSERT_TRUE(env.writeFile("plainfile", "x"));
    setenv("XDG_DATA_HOME", env.path("plainfile").c_str(), 1);
    EXPECT_EQ(fu()->writableDirectory(), env.launcherDir()) << "falls back when it cannot be created";

    fu()->setWritableDirectory(env.root() + "/override/");
    EXPECT_EQ(fu()->writableDirectory(), env.root() + "/override/");
}

TEST_F(FileUtilsTest, ExecutableReplacedOnDiskKeepsItsPathAndFolder) {
    std::string copy = env.root() + "/launcher-copy";
    const std::string report = env.root() + "/report";
    ASSERT_TRUE(std::filesystem::copy_file("/proc/self/exe", copy));
    ASSERT_EQ(chmod(copy.c_str(), 0755), 0);

    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) vars.emplace_back(*e);
    vars.push_back(std::string(kReplacedReport) + "=" + report);
    std::vector<char*> envp;
    for (std::string& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    char* argv[] = {copy.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, copy.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_FALSE(std::filesystem::exists(copy));

    std::ifstream in(report);
    std::string exe, writable;
    std::getline(in, exe);
    std::getline(in, writable);
    EXPECT_EQ(exe, copy);
    EXPECT_EQ(writable, env.root() + "/data/launcher-copy/");
}

}  // namespace
}  // namespace veltrano
