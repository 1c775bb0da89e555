#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "GameTestUtil.h"
#include "game/Game.h"
#include "platform/Process.h"
#include "support/TestEnv.h"

namespace veltrano {
namespace {

using test::TestEnv;
using test::VeltranoTest;

class GameProcesses : public VeltranoTest {
protected:
    void TearDown() override {
        for (pid_t pid : children_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    pid_t start(const std::string& path) {
        pid_t pid = 0;
        int error = 0;
        EXPECT_TRUE(spawnProcess({path}, "", &pid, &error)) << path << " errno " << error;
        if (pid > 0) children_.push_back(pid);
        return pid;
    }
    void forget(pid_t pid) { std::erase(children_, pid); }
    std::vector<pid_t> children_;
};

TEST_F(GameProcesses, EndsEverySameNamedProcessButNotOtherCase) {
    ASSERT_TRUE(env.writeConfig(R"({"game_exe_name": "RunGame.bin"})"));
    ASSERT_TRUE(env.loadConfig());
    const std::string game = env.path("g/RunGame.bin");
    const std::string other = env.path("g/rungame.bin");
    ASSERT_TRUE(copyHelper("game_sleeper", game));
    ASSERT_TRUE(copyHelper("game_sleeper", other));

    const pid_t first = start(game);
    const pid_t second = start(game);
    const pid_t third = start(other);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    ASSERT_GT(third, 0);

    EXPECT_TRUE(killGameProcess());
    EXPECT_NE(env.readFile("Veltrano.log").find("killGameProcess:" + game + "\r\n"), std::string::npos)
        << env.readFile("Veltrano.log");

    terminateProcessesByName("RunGame.bin");
    for (pid_t pid : {first, second}) {
        int status = 0;
        ASSERT_TRUE(waitExit(pid, &status)) << "process " << pid << " still runs";
        forget(pid);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
    }
    EXPECT_EQ(waitpid(third, nullptr, WNOHANG), 0) << "the differently cased name was ended too";

    EXPECT_FALSE(killGameProcess());
    EXPECT_NE(env.readFile("Veltrano.log").find("killGameProcess:\r\n"), std::string::npos);
}

TEST(ThreadPriority, OnlyTheCallingThreadYields) {
    auto nice = [] { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))); };
    const int before = nice();
    int inside = before;
    std::thread([&] {
        ASSERT_TRUE(lowerCurrentThreadPriority());
        inside = nice();
    }).join();
    EXPECT_GT(inside, before);
    EXPECT_EQ(nice(), before);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid())), before);
}

TEST_F(GameProcesses, NothingMatchesAnEmptyName) {
    ASSERT_TRUE(env.writeConfig(R"({"game_exe_name": ""})"));
    ASSERT_TRUE(env.loadConfig());
    const pid_t pid = start(helperPath("game_sleeper"));
    ASSERT_GT(pid, 0);
    terminateProcessesByName("");
    EXPECT_FALSE(killGameProcess());
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);
}

TEST_F(GameProcesses, ListsOwnChildrenButNeverItself) {
    const std::string exe = env.path("bin/Some Game (x86).exe");
    ASSERT_TRUE(copyHelper("game_sleeper", exe));
    const pid_t pid = start(exe);
    ASSERT_GT(pid, 0);
    bool found = false;
    for (const ProcessEntry& p : listUserProcesses()) {
        EXPECT_NE(p.pid, getpid());
        if (p.pid == pid) {
            found = true;
            EXPECT_EQ(p.exeName, "Some Game (x86).exe");
            EXPECT_EQ(p.exePath, exe);
        }
    }
    EXPECT_TRUE(found);

    // Once ended but not yet reaped it is gone from the list.
    ASSERT_TRUE(killProcess(pid));
    for (int i = 0; i < 2000 && found; ++i) {
        found = false;
        for (const ProcessEntry& p : listUserProcesses()) found = found || p.pid == pid;
        if (found) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(found);
    EXPECT_FALSE(killProcess(getpid()));
    EXPECT_FALSE(killProcess(0));
}

TEST_F(GameProcesses, SpawnedProgramGetsExactArgumentsAndANewSession) {
    const std::string work = env.path("work");
    const std::string cwd = env.path("cwd");
    std::filesystem::create_directories(work);
    std::filesystem::create_directories(cwd);
    // A descriptor the child must not inherit.
    const int leaked = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);

    const std::vector<std::string> argv = {helperPath("game_argv"), "-workdir", work, "", "a b", "q\"uote",
                                           "\xE6\xB8\xB8 %s %n",    "-uid:7"};
    pid_t pid = 0;
    int error = -1;
    ASSERT_TRUE(spawnProcess(argv, cwd, &pid, &error));
    close(leaked);
    EXPECT_EQ(error, 0);
    int status = 0;
    ASSERT_TRUE(waitExit(pid, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    EXPECT_EQ(readArgs(work + "/argv.txt"), argv);
    const std::string facts = readFile(work + "/facts.txt");
    EXPECT_NE(facts.find("cwd=" + std::filesystem::canonical(cwd).string() + "\n"), std::string::npos)
        << facts;
    EXPECT_NE(facts.find("session_leader=1\n"), std::string::npos) << facts;
    EXPECT_NE(facts.find("fds=0,1,2\n"), std::string::npos) << facts;
}

TEST_F(GameProcesses, SpawnFailuresReportTheSystemError) {
    pid_t pid = 123;
    int error = 0;
    EXPECT_FALSE(spawnProcess({env.path("missing/run.exe")}, "", &pid, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(pid, 123);

    ASSERT_TRUE(env.writeFile("plain.txt", "not a program"));
    EXPECT_FALSE(spawnProcess({env.path("plain.txt")}, "", &pid, &error));
    EXPECT_EQ(error, EACCES);

    EXPECT_FALSE(spawnProcess({}, "", &pid, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(spawnProcess({helperPath("game_sleeper")}, env.path("no/such/dir"), &pid, &error));
    EXPECT_EQ(error, ENOENT);
}

TEST(ParentProcess, NamesTheStartingProgram) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string name = findParentProcessExeName();
        ssize_t ignored = write(fds[1], name.data(), name.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::string name;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) name.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(name, std::filesystem::read_symlink("/proc/self/exe").filename().string());
}

}  // namespace
}  // namespace veltrano
