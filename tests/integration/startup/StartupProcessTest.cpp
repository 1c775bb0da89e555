// The launcher's start-up as a player's machine sees it: a real process started by a parent of a
// given name, in a private home, watched from outside.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/DevServer.h"
#include "support/TestEnv.h"
#include "support/TestUtil.h"

extern char** environ;

namespace fs = std::filesystem;
using veltrano::test::DevServer;
using veltrano::test::readFile;
using veltrano::test::TestEnv;

namespace {

// A child with a pipe on its standard input and its standard output read into a text.
class Child {
public:
    bool start(const std::vector<std::string>& argv) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        if (rc != 0) pid_ = -1;
        return rc == 0;
    }
    ~Child() {
        closeInput();
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) close(stdout_);
    }

    void closeInput() {
        if (stdin_ >= 0) close(stdin_);
        stdin_ = -1;
    }

    // Reads output until `text` appears or the deadline passes.
    bool waitForOutput(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (output_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !readSome(200)) return false;
        }
        return true;
    }

    // Waits for the end (killing it after the limit, which the caller sees as -1).
    int wait(std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (true) {
            readSome(50);
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) break;
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return -1;
            }
        }
        pid_ = -1;
        while (readSome(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    const std::string& output() const { return output_; }

private:
    // False at end of output.
    bool readSome(int timeoutMs) {
        if (stdout_ < 0) return false;
        pollfd p{stdout_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return true;
        char buf[4096];
        const ssize_t n = read(stdout_, buf, sizeof buf);
        if (n <= 0) {
            close(stdout_);
            stdout_ = -1;
            return false;
        }
        output_.append(buf, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string output_;
};

// Every file below a folder with its content and modification time.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        if (lstat(e.path().c_str(), &st) != 0) continue;
        std::string state = std::to_string(st.st_mode) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
                            std::to_string(st.st_mtim.tv_nsec);
        if (e.is_regular_file()) state += ":" + std::to_string(std::hash<std::string>{}(readFile(e.path())));
        files[e.path().string()] = state;
    }
    return files;
}

// A value the headless launcher printed as "name=value" on its own line.
std::string printed(const std::string& output, const std::string& name) {
    std::istringstream in(output);
    std::string line;
    std::string value = "<absent>";
    while (std::getline(in, line))
        if (line.rfind(name + "=", 0) == 0) value = line.substr(name.size() + 1);
    return value;
}

class StartupProcess : public ::testing::Test {
protected:
    void SetUp() override {
        launcher_ = env.path("veltrano");
        fs::copy_file(STARTUP_HEADLESS_LAUNCHER, launcher_);
        fs::create_directories(env.root() + "/bin");
        ASSERT_TRUE(env.writeConfig(R"({"app_name": "Star Tale", "launcher_icon": "res/icon.png",
                                        "log_name": "Veltrano.log"})"));
    }

    // The launcher started by a parent program of the given name.
    std::string parentNamed(const std::string& name) {
        const std::string path = env.root() + "/bin/" + name;
        if (!fs::exists(path)) fs::copy_file(std::string(VELTRANO_TEST_HELPER_DIR) + "/startup_parent", path);
        return path;
    }

    int run(const std::string& parent, const std::vector<std::string>& args, std::string* output = nullptr) {
        std::vector<std::string> argv{parentNamed(parent), launcher_};
        argv.insert(argv.end(), args.begin(), args.end());
        Child child;
        if (!child.start(argv)) return -2;
        child.closeInput();
        const int status = child.wait();
        if (output) *output = child.output();
        return status;
    }

    TestEnv env;
    std::string launcher_;
};

}  // namespace

TEST_F(StartupProcess, FileParameterComesFromTheInstallerNameThenFromTheFile) {
    std::string out;
    ASSERT_EQ(run("game_tag7", {"--noicon=1"}, &out), 0) << out;
    EXPECT_EQ(printed(out, "fileparam"), "tag7");
    EXPECT_EQ(env.readFile("fileparam.txt"), "tag7");

    // A later start from something else reads the parameter back and leaves the file alone.
    ASSERT_EQ(run("portal", {"--noicon=1"}, &out), 0) << out;
    EXPECT_EQ(printed(out, "fileparam"), "tag7");
    EXPECT_EQ(env.readFile("fileparam.txt"), "tag7");

    // The file is taken whole, as written by hand too.
    ASSERT_TRUE(env.writeFile("fileparam.txt", "x y\n"));
    ASSERT_EQ(run("portal", {"--noicon=1"}, &out), 0) << out;
    EXPECT_EQ(printed(out, "fileparam"), "x y");
}

TEST_F(StartupProcess, ParentWithoutParameterAndNoFileGivesNone) {
    std::string out;
    ASSERT_EQ(run("setup", {"--noicon=1"}, &out), 0) << out;
    EXPECT_EQ(printed(out, "fileparam"), "");
    EXPECT_FALSE(env.exists("fileparam.txt"));
}

TEST_F(StartupProcess, CommandLineFillsTheLaunchValues) {
    std::string out;
    ASSERT_EQ(
        run("portal", {"--token=abc", "--serverid=12", "--winid=-1", "--source=a=b", "--noicon=1"}, &out), 0)
        << out;
    EXPECT_EQ(printed(out, "token"), "abc");
    EXPECT_EQ(printed(out, "serverid"), "12");
    EXPECT_EQ(printed(out, "source"), "");
    EXPECT_EQ(printed(out, "fcext"), "");
    EXPECT_EQ(printed(out, "parentWindow"), "-1");
    EXPECT_EQ(printed(out, "userName"), "1");
    EXPECT_EQ(printed(out, "url"), "?token=abc&serverid=12");
}

TEST_F(StartupProcess, WritesMenuEntryShortcutAndDirectoryLogLines) {
    std::string out;
    ASSERT_EQ(run("portal", {"--noicon=0"}, &out), 0) << out;
    const std::string shortcut = readFile(env.root() + "/Desktop/Star Tale.desktop");
    EXPECT_NE(shortcut.find("Exec=\"" + launcher_ + "\"\n"), std::string::npos) << shortcut;
    EXPECT_NE(shortcut.find("Icon=" + env.path("res/icon.png") + "\n"), std::string::npos) << shortcut;
    const std::string menu = readFile(env.root() + "/data/applications/qrvn.desktop");
    EXPECT_NE(menu.find("Name=Star Tale\n"), std::string::npos) << menu;
    EXPECT_NE(menu.find("X-UninstallString=" + env.root() + "/data/QRVN-FLASH/uninstall.exe\n"),
              std::string::npos)
        << menu;

    const std::string log = readFile(env.path("Veltrano.log"));
    const size_t dir = log.find(" " + env.launcherDir() + "\r\n");
    const size_t cmd = log.find(" cmd line6\r\n");
    ASSERT_NE(dir, std::string::npos) << log;
    ASSERT_NE(cmd, std::string::npos) << log;
    EXPECT_LT(dir, cmd);
}

TEST_F(StartupProcess, NoIconOneMakesNoShortcutButStillTheMenuEntry) {
    ASSERT_EQ(run("portal", {"--noicon=1"}), 0);
    EXPECT_FALSE(fs::exists(env.root() + "/Desktop/Star Tale.desktop"));
    EXPECT_TRUE(fs::exists(env.root() + "/data/applications/qrvn.desktop"));
}

TEST_F(StartupProcess, SecondLauncherEndsAtOnceWithoutTouchingAnything) {
    Child first;
    setenv("STARTUP_TEST_HOLD", "1", 1);
    ASSERT_TRUE(first.start({parentNamed("portal"), launcher_, "--noicon=1"}));
    unsetenv("STARTUP_TEST_HOLD");
    ASSERT_TRUE(first.waitForOutput("owner dialog running")) << first.output();

    parentNamed("setup_other");
    const auto before = snapshot(env.root());
    // Everything this start would change if it ran: the file parameter, the shortcut, the log.
    std::string out;
    EXPECT_EQ(run("setup_other", {"--noicon=0", "--token=t"}, &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(snapshot(env.root()), before);

    first.closeInput();
    EXPECT_EQ(first.wait(), 0);
    // With the first one gone, the next start runs normally again.
    ASSERT_EQ(run("setup_other", {"--noicon=1"}, &out), 0);
    EXPECT_EQ(printed(out, "fileparam"), "other");
}

TEST_F(StartupProcess, StartIsReportedWithTheUserName) {
    DevServer server;
    ASSERT_TRUE(server.start({.root = env.root()})) << server.error();
    ASSERT_TRUE(env.writeConfig(R"({"app_name": "Star Tale", "app_id": "st", "main_channel": "web",
                                    "report_url": ")" +
                                server.url("/report") + R"("})"));
    Child launcher;
    setenv("STARTUP_TEST_HOLD", "1", 1);
    ASSERT_TRUE(launcher.start({parentNamed("portal"), launcher_, "--noicon=bob"}));
    unsetenv("STARTUP_TEST_HOLD");
    ASSERT_TRUE(launcher.waitForOutput("owner dialog running")) << launcher.output();

    std::vector<veltrano::test::DevServerReport> reports;
    for (int i = 0; i < 200 && reports.empty(); ++i) {
        reports = server.reports();
        if (reports.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    launcher.closeInput();
    EXPECT_EQ(launcher.wait(), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].fields["data_type"], "1001");
    EXPECT_EQ(reports[0].fields["user_name"], "bob");
    EXPECT_EQ(reports[0].fields["app_name"], "Star Tale");
}
