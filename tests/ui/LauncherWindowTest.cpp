// The real launcher under Xvfb, against a devserver: what the player sees on screen and what the
// launcher does when the player clicks.

#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "XvfbSession.h"
#include "platform/WindowMessage.h"
#include "support/DevServer.h"
#include "support/TestEnv.h"
#include "support/TestUtil.h"
#include "util/Encoding.h"

namespace veltrano::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Rgb {
    int r, g, b;
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "rgb(" << c.r << "," << c.g << "," << c.b << ")";
}

// Skin and page colours, far apart so a pixel tells which part it belongs to.
constexpr Rgb kBg{192, 48, 48};
constexpr Rgb kTrack{48, 48, 48};
constexpr Rgb kFill{32, 192, 32};
constexpr Rgb kClose{48, 48, 192};
constexpr Rgb kMask{255, 255, 0};
constexpr Rgb kPage{0, 255, 255};
constexpr Rgb kButton{255, 0, 255};

// Layout of the test skin (pixels inside the window).
constexpr int kWinW = 800, kWinH = 500;
constexpr int kWebX = 50, kWebY = 60, kWebW = 400, kWebH = 250;
constexpr int kTrackX = 100, kTrackY = 400, kTrackW = 420, kTrackH = 30;
constexpr int kFillW = 400, kFillH = 20;
constexpr int kCloseX = 750, kCloseY = 10, kCloseW = 30, kCloseH = 30;
// A mask square laid over the page's login button.
constexpr int kButtonMarkX = kWebX + 100, kButtonMarkY = kWebY + 50;

bool near(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) <= 12 && std::abs(a.g - b.g) <= 12 && std::abs(a.b - b.b) <= 12;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

bool writePng(const std::string& path, int w, int h, const std::function<void(cairo_t*)>& paint) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    paint(cr);
    cairo_destroy(cr);
    fs::create_directories(fs::path(path).parent_path());
    bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

void fillRect(cairo_t* cr, const Rgb& c, double x, double y, double w, double h) {
    cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

class Screenshot {
public:
    explicit Screenshot(cairo_surface_t* s) : surface_(s) {}
    ~Screenshot() {
        if (surface_) cairo_surface_destroy(surface_);
    }
    Screenshot(Screenshot&& o) noexcept : surface_(o.surface_) { o.surface_ = nullptr; }
    bool ok() const { return surface_ && cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
    Rgb at(int x, int y) const {
        if (!ok() || x < 0 || y < 0 || x >= cairo_image_surface_get_width(surface_) ||
            y >= cairo_image_surface_get_height(surface_))
            return {-1, -1, -1};
        cairo_surface_flush(surface_);
        const unsigned char* row =
            cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
        uint32_t px = reinterpret_cast<const uint32_t*>(row)[x];
        return {static_cast<int>((px >> 16) & 0xff), static_cast<int>((px >> 8) & 0xff),
                static_cast<int>(px & 0xff)};
    }

private:
    cairo_surface_t* surface_;
};

class LauncherWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(sharedXvfb(), nullptr);
        display_ = sharedXvfb()->display();
        writeSkin();
        ASSERT_TRUE(packGame());
        writePage();
        ASSERT_TRUE(server_.start({.root = srvDir()})) << server_.error();
    }

    void TearDown() override {
        if (launcher_ > 0) stopChild(launcher_, SIGTERM);
    }

    std::string srvDir() const { return env_.root() + "/srv"; }

    void writeSkin() {
        std::string res = env_.launcherDir() + "res/";
        ASSERT_TRUE(writePng(res + "bg.png", kWinW, kWinH,
                             [](cairo_t* cr) { fillRect(cr, kBg, 0, 0, kWinW, kWinH); }));
        ASSERT_TRUE(writePng(res + "process_bg.png", kTrackW, kTrackH,
                             [](cairo_t* cr) { fillRect(cr, kTrack, 0, 0, kTrackW, kTrackH); }));
        ASSERT_TRUE(writePng(res + "process.png", kFillW, kFillH,
                             [](cairo_t* cr) { fillRect(cr, kFill, 0, 0, kFillW, kFillH); }));
        ASSERT_TRUE(writePng(res + "close.png", kCloseW, kCloseH,
                             [](cairo_t* cr) { fillRect(cr, kClose, 0, 0, kCloseW, kCloseH); }));
        // Transparent but for two marks: one in the corner, one over the page's login button.
        ASSERT_TRUE(writePng(res + "mask.png", kWinW, kWinH, [](cairo_t* cr) {
            fillRect(cr, kMask, 0, 0, 20, 20);
            fillRect(cr, kMask, kButtonMarkX - 5, kButtonMarkY - 5, 10, 10);
        }));
    }

    bool packGame() {
        std::string game = env_.root() + "/gamesrc";
        fs::create_directories(game);
        fs::create_directories(srvDir());
        fs::copy_file(std::string(VELTRANO_TEST_HELPER_DIR) + "/ui_game", game + "/ui_game",
                      fs::copy_options::overwrite_existing);
        int status = -1;
        std::string out = capture(
            {VELTRANO_PACK_PATH, "--game", game, "--version", "1.0.1", "--out-dir", srvDir()}, &status);
        EXPECT_EQ(status, 0) << out;
        return status == 0 && fs::exists(srvDir() + "/version.json");
    }

    void writePage() {
        // Reports back to the devserver's collector what the bridge answered.
        std::ofstream(srvDir() + "/page.html") << R"(<!doctype html>
<html><head><style>html,body{margin:0;background:#00ffff;overflow:hidden}
#login{position:absolute;left:0;top:0;width:200px;height:100px;background:#ff00ff;border:0}</style></head>
<body><button id="login"></button>
<script>
function post(fields) {
  var body = Object.keys(fields).map(function (k) { return k + '=' + encodeURIComponent(fields[k]); }).join('&');
  fetch('/pagelog', {method: 'POST', headers: {'Content-Type': 'application/x-www-form-urlencoded'}, body: body});
}
var probes = {kind: 'probes', type: typeof window.external.AppLogin};
try { window.external.applogin('x'); probes.lower = 'called'; } catch (e) { probes.lower = 'error'; }
try { window.external.AppLogin(); probes.noarg = 'called'; } catch (e) { probes.noarg = 'error'; }
post(probes);
var seen = [];
var timer = setInterval(function () {
  var v = window.external.IsDownLoadComplete();
  if (seen[seen.length - 1] !== v) seen.push(v);
  if (v === true) { clearInterval(timer); post({kind: 'complete', seen: seen.join(',')}); }
}, 50);
document.getElementById('login').onclick = function () {
  window.external.AppLogin(JSON.stringify({uid: 12345, callback_info: 'abc'}));
};
</script></body></html>)";
    }

    std::string config(const std::string& verPath = "/version.json") const {
        std::string u = server_.baseUrl();
        std::ostringstream c;
        c << "{\"ver_url\":\"" << u << verPath << "\",\"ver_src_url\":\"" << u << verPath << "\","
          << "\"game_url\":\"" << u << "/\",\"game_src_url\":\"" << u << "/\",\"game_dir\":\"game\","
          << "\"game_exe_name\":\"ui_game\",\"report_url\":\"" << u << "/report\",\"web_url\":\"" << u
          << "/page.html\",\"app_name\":\"Veltrano UI\",\"win_width\":" << kWinW
          << ",\"win_height\":" << kWinH << ",\"process_x\":" << kTrackX << ",\"process_y\":" << kTrackY
          << ",\"process_bg_width\":" << kTrackW << ",\"process_bg_height\":" << kTrackH
          << ",\"process_width\":" << kFillW << ",\"process_height\":" << kFillH
          << ",\"close_btn_x\":" << kCloseX << ",\"close_btn_y\":" << kCloseY
          << ",\"close_btn_width\":" << kCloseW << ",\"close_btn_height\":" << kCloseH
          << ",\"download_text_x\":100,\"download_text_y\":360,"
          << "\"font_size\":14,\"font_color_r\":255,\"font_color_g\":255,\"font_color_b\":255,"
          << "\"downlaod_text\":[\"Checking %0.0f%%\",\"Downloading %0.0f%% %s\",\"Unpacking "
             "%0.0f%%\",\"Done\"],"
          << "\"error_text\":\"Update failed: %d\",\"process_data_type\":\"777\",\"web_x\":" << kWebX
          << ",\"web_y\":" << kWebY << ",\"web_size_width\":" << kWebW << ",\"web_size_height\":" << kWebH
          << "}";
        return c.str();
    }

    void startLauncher(const std::string& cfg, const std::vector<std::string>& args = {}) {
        ASSERT_TRUE(env_.writeConfig(cfg));
        std::string exe = env_.launcherDir() + "veltrano";
        fs::copy_file(VELTRANO_PATH, exe, fs::copy_options::overwrite_existing);
        // GTK and WebKit keep caches alive until exit; only their leaks would be reported.
        std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
        setenv("ASAN_OPTIONS", (asan.empty() ? std::string() : asan + ":").append("detect_leaks=0").c_str(),
               1);
        std::vector<std::string> argv = {exe};
        argv.insert(argv.end(), args.begin(), args.end());
        int out =
            open((env_.root() + "/launcher.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::string error;
        launcher_ = spawnChild(argv, out, &error);
        if (out >= 0) close(out);
        ASSERT_GT(launcher_, 0) << error;
        ASSERT_TRUE(waitFor([this] { return locateWindow(); }, 60000))
            << "the launcher window never appeared\n"
            << readFile(env_.root() + "/launcher.out");
    }

    // The launcher's toplevel position on the screen, read from the X server.
    bool locateWindow() {
        std::string ids = capture({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^Veltrano UI$"});
        std::istringstream in(ids);
        std::string id;
        while (in >> id) {
            std::string geo = capture({"/usr/bin/xdotool", "getwindowgeometry", id});
            size_t pos = geo.find("Position: ");
            size_t size = geo.find("Geometry: ");
            if (pos == std::string::npos || size == std::string::npos) continue;
            int w = 0, h = 0;
            if (sscanf(geo.c_str() + pos, "Position: %d,%d", &winX_, &winY_) != 2) continue;
            if (sscanf(geo.c_str() + size, "Geometry: %dx%d", &w, &h) == 2 && w == kWinW && h == kWinH)
                return true;
        }
        return false;
    }

    Screenshot screenshot() {
        std::string path = env_.root() + "/shot.png";
        capture({"/usr/bin/import", "-display", display_, "-window", "root", path});
        return Screenshot(cairo_image_surface_create_from_png(path.c_str()));
    }

    // Waits until the window pixel at (x, y) shows the colour.
    bool waitForPixel(int x, int y, const Rgb& colour, int timeoutMs, Rgb* last = nullptr) {
        return waitFor(
            [&] {
                Rgb seen = screenshot().at(winX_ + x, winY_ + y);
                if (last) *last = seen;
                return near(seen, colour);
            },
            timeoutMs);
    }

    void click(int x, int y) {
        capture({"/usr/bin/xdotool", "mousemove", std::to_string(winX_ + x), std::to_string(winY_ + y),
                 "click", "1"});
    }

    std::vector<DevServerReport> reportsOfKind(const std::string& field, const std::string& value) {
        std::vector<DevServerReport> out;
        for (auto& r : server_.reports())
            if (r.fields.count(field) && r.fields.at(field) == value) out.push_back(r);
        return out;
    }

    // True once the launcher process has ended (reaped here).
    bool launcherEnded() {
        if (launcher_ <= 0) return true;
        int status = 0;
        if (waitpid(launcher_, &status, WNOHANG) == launcher_) {
            launcher_ = -1;
            return true;
        }
        return false;
    }

    std::string log() const { return readFile(env_.launcherDir() + "Veltrano.log"); }

    TestEnv env_;
    DevServer server_;
    pid_t launcher_ = -1;
    std::string display_;
    int winX_ = 0, winY_ = 0;
};

TEST_F(LauncherWindowTest, SkinPageMaskAndFullBarAfterTheUpdate) {
    // The manifest is held back so the page, however slow the web engine starts, asks before the game
    // is ready.
    ASSERT_TRUE(server_.addFault(R"({"path":"/version.json","delay_ms":10000,"times":1})"));
    startLauncher(config());
    ASSERT_TRUE(waitFor([this] { return !reportsOfKind("kind", "complete").empty(); }, 60000))
        << "the page never saw the download complete\n"
        << log();
    EXPECT_EQ(reportsOfKind("kind", "complete")[0].fields["seen"], "false,true");

    const int fillX = kTrackX + (kTrackW - kFillW) / 2, fillY = kTrackY + (kTrackH - kFillH) / 2;
    Rgb last{};
    // Full bar: the last of the 400 fill pixels is drawn, the track shows right after it.
    EXPECT_TRUE(waitForPixel(fillX + kFillW - 1, fillY + kFillH / 2, kFill, 60000, &last)) << last;
    Screenshot shot = screenshot();
    ASSERT_TRUE(shot.ok());
    auto px = [&](int x, int y) { return shot.at(winX_ + x, winY_ + y); };
    EXPECT_PRED2(near, px(fillX, fillY + 5), kFill);
    EXPECT_PRED2(near, px(fillX + kFillW, fillY + 5), kTrack);
    EXPECT_PRED2(near, px(kTrackX + 2, kTrackY + 2), kTrack);
    EXPECT_PRED2(near, px(700, 300), kBg);
    EXPECT_PRED2(near, px(kCloseX + 15, kCloseY + 15), kClose);
    // The page at its offset, with its corners cut round.
    EXPECT_PRED2(near, px(kWebX + 300, kWebY + 200), kPage);
    EXPECT_PRED2(near, px(kWebX + 2, kWebY + 2), kBg);
    EXPECT_PRED2(near, px(kWebX + kWebW - 3, kWebY + kWebH - 3), kBg);
    EXPECT_PRED2(near, px(kWebX + kWebW / 2, kWebY + 1), kPage);
    EXPECT_PRED2(near, px(kWebX - 2, kWebY + 100), kBg);
    EXPECT_PRED2(near, px(kWebX + 20, kWebY + 80), kButton);
    // The mask lies above both.
    EXPECT_PRED2(near, px(5, 5), kMask);
    EXPECT_PRED2(near, px(kButtonMarkX, kButtonMarkY), kMask);

    // A right click on the page opens no menu over it.
    capture({"/usr/bin/xdotool", "mousemove", std::to_string(winX_ + kWebX + 250),
             std::to_string(winY_ + kWebY + 150), "click", "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    Screenshot after = screenshot();
    for (int d : {5, 20, 40, 60})
        EXPECT_PRED2(near, after.at(winX_ + kWebX + 250 + d, winY_ + kWebY + 150 + d), kPage)
            << "offset " << d;

    auto probes = reportsOfKind("kind", "probes");
    ASSERT_FALSE(probes.empty());
    EXPECT_EQ(probes[0].fields["type"], "function");
    EXPECT_EQ(probes[0].fields["lower"], "error");
    EXPECT_EQ(probes[0].fields["noarg"], "error");
    EXPECT_NE(log().find("CVeltranoDlg End UpdateView"), std::string::npos);
    EXPECT_NE(log().find("CVeltranoMaskDlg::OnInitDialog()"), std::string::npos);
}

TEST_F(LauncherWindowTest, ClickThroughTheMaskOnTheLoginButtonStartsTheGame) {
    startLauncher(config(), {"--token=tok1", "--serverid=9"});
    ASSERT_TRUE(waitFor([this] { return !reportsOfKind("kind", "complete").empty(); }, 60000)) << log();
    // Clicked exactly on the mask's mark: only a click that passes the mask reaches the button.
    click(kButtonMarkX, kButtonMarkY);
    std::string argvFile = env_.launcherDir() + "game/argv.txt";
    ASSERT_TRUE(waitFor([&] { return fs::exists(argvFile); }, 60000)) << "the game never started\n" << log();
    std::string message = R"({"uid":12345,"callback_info":"abc"})";
    std::string expected = "-workdir\n" + env_.launcherDir() +
                           "/game/\n--token=tok1\n--serverid=9\n-uid:12345\n" +
                           "-gametoken:" + base64Encode(message) + "\n-cbinfo:abc\n";
    EXPECT_EQ(readFile(argvFile), expected);
    EXPECT_TRUE(waitFor([this] { return launcherEnded(); }, 60000))
        << "the launcher did not end after the start";
}

TEST_F(LauncherWindowTest, APageOfAnotherOriginGetsNoBridge) {
    // Same server, other origin: "localhost" is not the configured "127.0.0.1".
    std::string foreign = "http://localhost:" + std::to_string(server_.port()) + "/foreign.html";
    std::ofstream(srvDir() + "/away.html") << "<script>location.href = '" << foreign << "';</script>";
    std::ofstream(srvDir() + "/foreign.html") << R"(<!doctype html><html><body><script>
var ext = window.external;
var fields = {kind: 'foreign', login: typeof (ext && ext.AppLogin), complete: typeof (ext && ext.IsDownLoadComplete)};
try {
  window.webkit.messageHandlers.veltranoBridge.postMessage({secret: 'guess', message: '{"uid":5}'});
  fields.posted = 'yes';
} catch (e) { fields.posted = 'no'; }
fetch('/pagelog', {method: 'POST', headers: {'Content-Type': 'application/x-www-form-urlencoded'},
                   body: Object.keys(fields).map(function (k) { return k + '=' + fields[k]; }).join('&')});
</script></body></html>)";
    std::string cfg = config();
    cfg.replace(cfg.find("/page.html"), 10, "/away.html");
    startLauncher(cfg);
    ASSERT_TRUE(waitFor([this] { return !reportsOfKind("kind", "foreign").empty(); }, 60000)) << log();
    auto r = reportsOfKind("kind", "foreign")[0];
    EXPECT_EQ(r.fields["login"], "undefined");
    EXPECT_EQ(r.fields["complete"], "undefined");
    ASSERT_TRUE(waitFor([this] { return log().find("refused") != std::string::npos; }, 60000)) << log();
    EXPECT_FALSE(fs::exists(env_.launcherDir() + "game/argv.txt"));
    EXPECT_EQ(log().find("ui_game"), std::string::npos) << "no game start may follow";
}

TEST_F(LauncherWindowTest, AConfiguredFilePageGetsTheBridge) {
    std::ofstream(srvDir() + "/file page.html") << R"(<!doctype html><html><body><script>
var timer = setInterval(function () {
  if (window.external.IsDownLoadComplete() !== true) return;
  clearInterval(timer);
  window.external.AppLogin(JSON.stringify({uid: 7, callback_info: 'f'}));
}, 50);
</script></body></html>)";
    std::string cfg = config();
    const std::string http = server_.baseUrl() + "/page.html";
    cfg.replace(cfg.find(http), http.size(), "file://" + srvDir() + "/file%20page.html");
    startLauncher(cfg);
    std::string argvFile = env_.launcherDir() + "game/argv.txt";
    ASSERT_TRUE(waitFor([&] { return fs::exists(argvFile); }, 60000)) << "the game never started\n" << log();
    EXPECT_NE(readFile(argvFile).find("-uid:7\n"), std::string::npos) << readFile(argvFile);
}

TEST_F(LauncherWindowTest, LocalPageShowsUntilThePortalPageArrives) {
    constexpr Rgb kLocal{255, 128, 0};
    ASSERT_TRUE(env_.writeFile("res/index.html",
                               "<html><body style='margin:0;background:#ff8000'>Loading</body></html>"));
    // The portal page is asked for once the local one is drawn; held back, it leaves the local page
    // on screen for that long.
    ASSERT_TRUE(server_.addFault(R"({"path":"/page.html","delay_ms":12000,"times":1})"));
    startLauncher(config());
    Rgb last{};
    EXPECT_TRUE(waitForPixel(kWebX + 300, kWebY + 200, kLocal, 60000, &last))
        << "local page not shown: " << last;
    EXPECT_TRUE(waitForPixel(kWebX + 300, kWebY + 200, kPage, 60000, &last))
        << "portal page not shown: " << last;
}

TEST_F(LauncherWindowTest, FailedGameStartShowsTheMessageAndKeepsTheWindow) {
    std::string cfg = config();
    cfg.replace(cfg.find("\"ui_game\""), 9, "\"no_such_game\"");
    startLauncher(cfg);
    ASSERT_TRUE(waitFor([this] { return !reportsOfKind("kind", "complete").empty(); }, 60000)) << log();
    click(kButtonMarkX, kButtonMarkY);
    ASSERT_TRUE(waitFor(
        [this] {
            return !capture({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^系统提示$"}).empty();
        },
        60000))
        << "no message box\n"
        << log();
    EXPECT_NE(log().find("CreateProcess faild path"), std::string::npos) << log();
    EXPECT_TRUE(waitFor([this] { return !reportsOfKind("data_type", "1115").empty(); }, 60000));
    // The player acknowledges; the launcher stays open.
    std::string box = capture({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^系统提示$"});
    box = box.substr(0, box.find('\n'));
    // Without a window manager the keyboard follows the pointer.
    capture({"/usr/bin/xdotool", "mousemove", "--window", box, "20", "20"});
    capture({"/usr/bin/xdotool", "key", "Return"});
    EXPECT_TRUE(waitFor(
        [this] {
            return capture({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^系统提示$"}).empty();
        },
        60000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(launcherEnded());
    EXPECT_TRUE(locateWindow());
}

TEST_F(LauncherWindowTest, CloseButtonReportsAndTellsThePortalBeforeEnding) {
    WindowMessageReceiver portal(static_cast<int64_t>(getpid()));
    ASSERT_TRUE(portal.isOpen());
    startLauncher(config(), {"--winid=" + std::to_string(getpid())});
    ASSERT_TRUE(waitForPixel(kCloseX + 15, kCloseY + 15, kClose, 60000));
    auto clicked = Clock::now();
    // The far corner of the button still counts.
    click(kCloseX + kCloseW, kCloseY + kCloseH);
    auto notice = portal.wait(30000);
    auto noticed = Clock::now();
    ASSERT_TRUE(notice.has_value()) << log();
    EXPECT_EQ(notice->dwData, 1u);
    EXPECT_EQ(notice->data.size(), 528u);
    EXPECT_EQ(notice->wordParam, static_cast<int64_t>(launcher_));
    EXPECT_GE(noticed - clicked, std::chrono::milliseconds(1900));
    EXPECT_FALSE(reportsOfKind("data_type", "1014").empty());
    EXPECT_TRUE(waitFor([this] { return launcherEnded(); }, 60000));
}

TEST_F(LauncherWindowTest, DraggingMovesTheWholeStack) {
    startLauncher(config());
    ASSERT_TRUE(waitForPixel(kWebX + 300, kWebY + 200, kPage, 60000));
    int startX = winX_, startY = winY_;
    // Grabbed at the page's cut corner: the click belongs to the main window below, as the picture does.
    const int grabX = kWebX + 3, grabY = kWebY + 3;
    capture({"/usr/bin/xdotool", "mousemove", std::to_string(winX_ + grabX), std::to_string(winY_ + grabY),
             "mousedown", "1"});
    for (int step = 1; step <= 6; ++step) {
        capture({"/usr/bin/xdotool", "mousemove", std::to_string(startX + grabX + 5 * step),
                 std::to_string(startY + grabY)});
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    capture({"/usr/bin/xdotool", "mouseup", "1"});
    ASSERT_TRUE(waitFor([&] { return locateWindow() && winX_ == startX + 30; }, 60000))
        << "window at " << winX_ << "," << winY_ << ", started at " << startX << "," << startY;
    EXPECT_EQ(winY_, startY);
    Rgb last{};
    EXPECT_TRUE(waitForPixel(kWebX + 300, kWebY + 200, kPage, 60000, &last)) << last;
    Screenshot shot = screenshot();
    EXPECT_PRED2(near, shot.at(winX_ + 5, winY_ + 5), kMask);
    EXPECT_PRED2(near, shot.at(winX_ + kWebX + 2, winY_ + kWebY + 2), kBg);
    EXPECT_PRED2(near, shot.at(winX_ + kCloseX + 15, winY_ + kCloseY + 15), kClose);
    // Where the window's left edge was is now screen background.
    EXPECT_FALSE(near(shot.at(startX + 10, startY + 250), kBg));
}

TEST_F(LauncherWindowTest, UpdateErrorShowsTheMessageOnceAndReportsIt) {
    startLauncher(config("/missing.json"));
    ASSERT_TRUE(waitFor(
        [this] {
            return !capture({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^系统提示$"}).empty();
        },
        60000))
        << "no message box\n"
        << log();
    EXPECT_NE(log().find("error box: Update failed: 1101"), std::string::npos) << log();
    EXPECT_TRUE(waitFor([this] { return !reportsOfKind("data_type", "1101").empty(); }, 60000));
    // The bar stays at the start of the failed phase.
    const int fillX = kTrackX + (kTrackW - kFillW) / 2;
    Rgb last{};
    EXPECT_TRUE(waitForPixel(fillX + 1, kTrackY + 15, kTrack, 30000, &last)) << last;
    std::string ids = capture({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^系统提示$"});
    EXPECT_EQ(std::count(ids.begin(), ids.end(), '\n'), 1);
    EXPECT_FALSE(launcherEnded());
}

TEST_F(LauncherWindowTest, CopyDataQuitsOnlyWithTheConfiguredType) {
    startLauncher(config());
    ASSERT_TRUE(sendCopyData(launcher_, 0, 778, "x", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_FALSE(launcherEnded());
    ASSERT_TRUE(sendCopyData(launcher_, 0, 777, "x", 1));
    EXPECT_TRUE(waitFor([this] { return launcherEnded(); }, 60000));
    // A quit request is no closing: no goodbye report.
    EXPECT_TRUE(reportsOfKind("data_type", "1014").empty());
}

TEST_F(LauncherWindowTest, WithoutADisplayTheLauncherFailsAndSaysWhy) {
    ASSERT_TRUE(env_.writeConfig(config()));
    std::string exe = env_.launcherDir() + "veltrano";
    fs::copy_file(VELTRANO_PATH, exe, fs::copy_options::overwrite_existing);
    int status = 0;
    // Leak reports would fail the exit status on their own.
    std::string out = capture({"/bin/sh", "-c",
                               "unset DISPLAY WAYLAND_DISPLAY GDK_BACKEND; "
                               "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 exec \"$0\" 2>&1",
                               exe},
                              &status);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_NE(WEXITSTATUS(status), 0) << out;
    EXPECT_NE(out.find("cannot open display"), std::string::npos) << out;
    EXPECT_NE(log().find("cannot open display"), std::string::npos) << log();
}

}  // namespace
}  // namespace veltrano::test
