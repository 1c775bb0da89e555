// The demo as a player meets it: the launcher window under a virtual display updates the demo game
// from the demo server, the player presses "Play" once it is enabled, and the game starts with the
// login while the launcher ends.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TestEnv.h"
#include "support/TestUtil.h"
#include "util/Encoding.h"

#ifdef VELTRANO_PATH

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using veltrano::test::readFile;
using veltrano::test::spawnChild;
using veltrano::test::TestEnv;

namespace {

// Reads lines from a descriptor until one starts with `prefix`; empty after the deadline.
std::string readLineStartingWith(int fd, const std::string& prefix, std::chrono::seconds limit) {
    std::string buffer;
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        size_t start = 0;
        for (size_t nl; (nl = buffer.find('\n', start)) != std::string::npos; start = nl + 1) {
            const std::string line = buffer.substr(start, nl - start);
            if (line.rfind(prefix, 0) == 0) return line;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    return {};
}

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// The login page's player id for a name: 32-bit FNV-1a, folded into 1..1000000.
unsigned playerId(const std::string& name) {
    uint32_t h = 0x811c9dc5u;
    for (unsigned char c : name) {
        h ^= c;
        h *= 0x01000193u;
    }
    return h % 1000000 + 1;
}

struct Screenshot {
    int width = 0, height = 0;
    std::string rgb;
    bool orange(int x, int y) const {
        const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) + 3 * (size_t(y) * width + x);
        return p[0] > 220 && p[1] > 100 && p[1] < 225 && p[2] < 150;
    }
};

Screenshot takeScreenshot(const std::string& display) {
    Screenshot shot;
    const std::string ppm = run("import -display " + display + " -window root -depth 8 ppm:- 2>/dev/null");
    int maxval = 0, used = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &shot.width, &shot.height, &maxval, &used) != 3) return {};
    const size_t size = size_t(shot.width) * shot.height * 3;
    if (maxval != 255 || ppm.size() < size_t(used) + 1 + size) return {};
    shot.rgb = ppm.substr(used + 1, size);
    return shot;
}

// The centre of the enabled "Play" button: at least 30 stacked rows with 200 or more orange pixels
// each. The progress fill of the same colours is much flatter, and the gold title has far fewer
// such pixels in a row. False while there is none.
bool findPlayButton(const Screenshot& shot, int* x, int* y) {
    int stacked = 0;
    for (int row = 0; row < shot.height; ++row) {
        int count = 0, first = -1, last = -1;
        for (int col = 0; col < shot.width; ++col) {
            if (!shot.orange(col, row)) continue;
            ++count;
            if (first < 0) first = col;
            last = col;
        }
        if (count < 200) {
            if (stacked >= 30) break;
            stacked = 0;
            continue;
        }
        ++stacked;
        if (stacked >= 30) {
            *x = (first + last) / 2;
            *y = row - stacked / 2;
        }
    }
    return stacked >= 30;
}

// Ends a child process on every way out of the test.
struct ChildGuard {
    pid_t pid = -1;
    ~ChildGuard() { veltrano::test::stopChild(pid, SIGTERM); }
};

std::set<std::string> reportTypes(const std::string& reportsFile) {
    std::set<std::string> types;
    std::istringstream in(readFile(reportsFile));
    std::string line;
    const std::string key = "\"data_type\":\"";
    while (std::getline(in, line)) {
        const size_t at = line.find(key);
        if (at == std::string::npos) continue;
        const size_t start = at + key.size();
        types.insert(line.substr(start, line.find('"', start) - start));
    }
    return types;
}

std::string launchValue(const std::string& record, const std::string& name) {
    std::istringstream in(record);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
    return "<absent>";
}

}  // namespace

TEST(DemoEndToEnd, PlayerPressesPlayAndTheGameStartsWithTheLogin) {
    for (const char* tool : {"Xvfb", "xdotool", "import", "convert", "c++"})
        if (run(std::string("command -v ") + tool).empty()) GTEST_SKIP() << tool << " is not installed";
    TestEnv env;

    // A private display.
    int displayPipe[2];
    ASSERT_EQ(pipe(displayPipe), 0);
    ChildGuard xvfb;
    xvfb.pid =
        spawnChild({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"},
                   displayPipe[1], nullptr);
    ASSERT_GT(xvfb.pid, 0);
    close(displayPipe[1]);
    std::string number;
    for (char c; read(displayPipe[0], &c, 1) == 1 && c != '\n';) number += c;
    close(displayPipe[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    const std::string display = ":" + number;

    // The demo installation and its server, prepared by the demo script into this test's folder.
    const std::string out = env.root() + "/demo";
    int demoPipe[2];
    ASSERT_EQ(pipe2(demoPipe, O_CLOEXEC), 0);
    ChildGuard demo;
    demo.pid = spawnChild({std::string(VELTRANO_SOURCE_DIR) + "/demo/run.sh", VELTRANO_BINARY_DIR, "--out",
                           out, "--serve-only"},
                          {.stdoutFd = demoPipe[1], .env = {"DEMO_GAME_MIB=6", "DEMO_RATE=300000"}}, nullptr);
    close(demoPipe[1]);
    ASSERT_GT(demo.pid, 0);
    const std::string ready = readLineStartingWith(demoPipe[0], "demo ready: ", std::chrono::seconds(240));
    ASSERT_FALSE(ready.empty()) << "the demo script did not get ready";
    const std::string install = out + "/demo-install";
    ASSERT_TRUE(fs::exists(install + "/veltrano"));

    // The player starts the launcher the way the portal does.
    // GTK and WebKit keep allocations until exit that the leak checker would report.
    ChildGuard launcher;
    launcher.pid =
        spawnChild({install + "/veltrano", "--token=demo-portal-token", "--source=demo", "--serverid=7"},
                   {.env = {"DISPLAY=" + display, "ASAN_OPTIONS=detect_leaks=0"}}, nullptr);
    ASSERT_GT(launcher.pid, 0);

    const std::string record = install + "/game/launch.txt";
    bool clicked = false;
    const auto deadline = Clock::now() + std::chrono::seconds(180);
    while (!fs::exists(record) && Clock::now() < deadline) {
        int x = 0, y = 0;
        if (findPlayButton(takeScreenshot(display), &x, &y)) {
            run("DISPLAY=" + display + " xdotool mousemove --sync " + std::to_string(x) + " " +
                std::to_string(y) + " click 1");
            clicked = true;
        }
        for (int i = 0; i < 20 && !fs::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(clicked) << "the Play button never became enabled";
    ASSERT_TRUE(fs::exists(record)) << "the demo game did not start";

    // The launcher ends once the game runs.
    int status = -1;
    bool launcherEnded = false;
    for (int i = 0; i < 300 && !launcherEnded; ++i) {
        launcherEnded = waitpid(launcher.pid, &status, WNOHANG) == launcher.pid;
        if (!launcherEnded) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (launcherEnded) launcher.pid = -1;
    EXPECT_TRUE(launcherEnded);
    EXPECT_TRUE(launcherEnded && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    const std::string launch = readFile(record);
    const std::string uid = std::to_string(playerId("Traveller"));
    const std::string login = "{\"uid\":" + uid + ",\"callback_info\":\"realm7-" + uid + "\"}";
    EXPECT_EQ(launchValue(launch, "uid"), uid) << launch;
    EXPECT_EQ(launchValue(launch, "cbinfo"), "realm7-" + uid) << launch;
    EXPECT_EQ(launchValue(launch, "gametoken"), veltrano::base64Encode(login)) << launch;
    EXPECT_NE(launch.find("\narg=--token=demo-portal-token\n"), std::string::npos) << launch;
    const std::string gamePid = launchValue(launch, "pid");
    if (gamePid != "<absent>") kill(static_cast<pid_t>(std::stol(gamePid)), SIGKILL);

    const std::set<std::string> wanted{"1001", "1003", "1007", "1008", "1010", "1012", "1013"};
    std::set<std::string> types;
    for (int i = 0; i < 100; ++i) {
        types = reportTypes(out + "/demo-reports.jsonl");
        if (std::includes(types.begin(), types.end(), wanted.begin(), wanted.end())) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (const std::string& type : wanted) EXPECT_TRUE(types.count(type)) << "report " << type << " missing";

    close(demoPipe[0]);
}

#else

TEST(DemoEndToEnd, PlayerPressesPlayAndTheGameStartsWithTheLogin) {
    GTEST_SKIP() << "the windowed launcher is not part of this build";
}

#endif
