#pragma once
// A fresh, private world for one test.
//
// Creating a TestEnv makes a new temporary folder <root> and points the whole launcher into it:
//   HOME=<root>/home, XDG_DATA_HOME=<root>/data, XDG_CONFIG_HOME=<root>/config,
//   XDG_RUNTIME_DIR=<root>/runtime (mode 0700), XDG_DESKTOP_DIR=<root>/Desktop (all created);
//   on Windows USERPROFILE=HOME=<root>/home with LOCALAPPDATA and APPDATA below it, as Windows lays them out;
//   the launcher directory = <root>/launcher/ (created), the FileUtils name cache cleared, the
//   writable-directory override cleared, and LauncherConfig back to its defaults.
// Destroying it restores the previous environment and launcher directory, resets LauncherConfig and
// removes <root> with everything in it (read-only files and folders included).
//
// Use one per test, e.g. as a member of a fixture: `class MyTest : public ::testing::Test { TestEnv env; };`
// or the ready-made fixture VeltranoTest below. Not for concurrent use by several threads.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace veltrano::test {

class TestEnv {
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    // The temporary folder, without trailing "/".
    const std::string& root() const { return root_; }
    // The launcher directory, with trailing "/".
    const std::string& launcherDir() const { return launcherDir_; }
    // An absolute path inside the launcher directory (relative may be empty).
    std::string path(const std::string& relative) const { return launcherDir_ + relative; }

    // Writes bytes to a file below the launcher directory, creating missing folders. False on failure.
    bool writeFile(const std::string& relative, const std::string& bytes) const;
    // The whole file below the launcher directory; empty when missing.
    std::string readFile(const std::string& relative) const;
    bool exists(const std::string& relative) const;

    // Writes launcher.cfg with the given text (usually a JSON object).
    bool writeConfig(const std::string& jsonText) const;
    // Resets LauncherConfig and loads launcher.cfg; returns what load() returned.
    bool loadConfig() const;

private:
    std::string root_;
    std::string launcherDir_;
    std::string previousLauncherDir_;
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> savedEnv_;
};

// Everything below dir, for comparing whole trees: relative name -> permission bits (on Windows the
// read-only attribute) and the file's bytes ("dir" for folders, "link -> target" for links). Empty when dir
// is missing.
std::map<std::string, std::string> treeSnapshot(const std::string& dir);

// Ends the running test on Windows as skipped, with the reason printed.
#ifdef _WIN32
#define VELTRANO_LINUX_ONLY(reason) GTEST_SKIP() << "tested on Linux only: " << reason
#else
#define VELTRANO_LINUX_ONLY(reason) static_cast<void>(0)
#endif

// Fixture that gives every test its own TestEnv as `env`.
class VeltranoTest : public ::testing::Test {
protected:
    TestEnv env;
};

}  // namespace veltrano::test
