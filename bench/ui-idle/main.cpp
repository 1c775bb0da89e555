// Measures the launcher's CPU over 10 s under Xvfb: once idle after the update has finished, once
// while a throttled download runs. Prints the launcher's own share and its web processes' share.
// With --stall, instead runs one unthrottled update of a game of the given size in the real window and
// reports how long its main loop was deaf at worst: the answer time of window-manager pings
// (_NET_WM_PING, what a desktop uses to call a window "not responding") sent to it all along.
//
//   bench_ui_idle [seconds]
//   bench_ui_idle --stall MIB

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <cairo.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Children speak only through the output the benchmark reads; their chatter would hide the figures.
pid_t spawn(const std::vector<std::string>& argv, int stdoutFd) {
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = veltrano::test::spawnChild(argv, {.stdoutFd = stdoutFd, .stderrFd = null}, nullptr);
    if (null >= 0) close(null);
    return pid;
}

void stop(pid_t pid) {
    veltrano::test::stopChild(pid, SIGTERM);
}

// The first line a child writes to its standard output, within ten seconds.
std::string firstLine(const std::vector<std::string>& argv, pid_t* pid) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    *pid = spawn(argv, fds[1]);
    close(fds[1]);
    std::string text;
    pollfd p{fds[0], POLLIN, 0};
    auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end && text.find('\n') == std::string::npos) {
        if (poll(&p, 1, 200) <= 0) continue;
        char buf[256];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    size_t nl = text.find('\n');
    return nl == std::string::npos ? std::string() : text.substr(0, nl);
}

void png(const std::string& path, int w, int h, double r, double g, double b) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, r, g, b);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(s, path.c_str());
    cairo_surface_destroy(s);
}

struct ProcTimes {
    unsigned long long self = 0;      // clock ticks of the launcher
    unsigned long long children = 0;  // clock ticks of the processes it started (web engine)
};

bool readStat(pid_t pid, pid_t* ppid, unsigned long long* ticks) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return false;
    size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream rest(line.substr(close + 2));
    std::string state;
    long long fields[13] = {};
    rest >> state;
    for (long long& f : fields) rest >> f;
    *ppid = static_cast<pid_t>(fields[0]);
    *ticks = static_cast<unsigned long long>(fields[10] + fields[11]);  // utime + stime
    return true;
}

ProcTimes sample(pid_t launcher) {
    ProcTimes t;
    pid_t ppid = 0;
    readStat(launcher, &ppid, &t.self);
    std::vector<pid_t> family = {launcher};
    // Descendants in any depth: walk until no new ones appear.
    for (bool grew = true; grew;) {
        grew = false;
        DIR* d = opendir("/proc");
        if (!d) break;
        while (dirent* e = readdir(d)) {
            pid_t pid = static_cast<pid_t>(atoi(e->d_name));
            if (pid <= 0) continue;
            bool known = false;
            for (pid_t f : family) known = known || f == pid;
            if (known) continue;
            unsigned long long ticks = 0;
            if (!readStat(pid, &ppid, &ticks)) continue;
            for (pid_t f : family) {
                if (ppid == f) {
                    family.push_back(pid);
                    grew = true;
                    break;
                }
            }
        }
        closedir(d);
    }
    for (size_t i = 1; i < family.size(); ++i) {
        unsigned long long ticks = 0;
        if (readStat(family[i], &ppid, &ticks)) t.children += ticks;
    }
    return t;
}

struct Share {
    double self = 0;
    double children = 0;
};

Share measure(pid_t launcher, int seconds) {
    ProcTimes a = sample(launcher);
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    ProcTimes b = sample(launcher);
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    double tck = static_cast<double>(sysconf(_SC_CLK_TCK));
    Share s;
    s.self = 100.0 * static_cast<double>(b.self - a.self) / tck / wall;
    // Web processes may have come or gone; a negative difference means one ended.
    s.children =
        b.children >= a.children ? 100.0 * static_cast<double>(b.children - a.children) / tck / wall : 0;
    return s;
}

std::string config(const std::string& base, const std::string& gamePath) {
    std::ostringstream c;
    c << "{\"ver_url\":\"" << base << "/version.json\",\"ver_src_url\":\"" << base << "/version.json\","
      << "\"game_url\":\"" << base << gamePath << "\",\"game_src_url\":\"" << base << gamePath << "\","
      << "\"game_dir\":\"game\",\"game_exe_name\":\"none\",\"report_url\":\"" << base << "/report\","
      << "\"web_url\":\"" << base << "/page.html\",\"app_name\":\"Veltrano Bench\",\"win_width\":800,"
      << "\"win_height\":500,\"process_x\":100,\"process_y\":400,\"process_bg_width\":420,"
      << "\"process_bg_height\":30,\"process_width\":400,\"process_height\":20,\"close_btn_x\":750,"
      << "\"close_btn_y\":10,\"close_btn_width\":30,\"close_btn_height\":30,\"download_text_x\":100,"
      << "\"download_text_y\":360,\"font_size\":14,\"font_color_r\":255,\"font_color_g\":255,\"font_color_"
         "b\":255,"
      << "\"downlaod_text\":[\"Checking %0.0f%%\",\"Downloading %0.0f%% %s\",\"Unpacking "
         "%0.0f%%\",\"Done\",\"Ready\"],"
      << "\"error_text\":\"failed "
         "%d\",\"web_x\":50,\"web_y\":60,\"web_size_width\":400,\"web_size_height\":250}";
    return c.str();
}

pid_t startLauncher(const std::string& root, const std::string& name, const std::string& cfg) {
    std::string dir = root + "/" + name + "/";
    fs::create_directories(dir + "res");
    png(dir + "res/bg.png", 800, 500, 0.75, 0.2, 0.2);
    png(dir + "res/process_bg.png", 420, 30, 0.2, 0.2, 0.2);
    png(dir + "res/process.png", 400, 20, 0.1, 0.75, 0.1);
    png(dir + "res/close.png", 30, 30, 0.2, 0.2, 0.75);
    std::ofstream(dir + "launcher.cfg") << cfg;
    fs::copy_file(VELTRANO_PATH, dir + "veltrano", fs::copy_options::overwrite_existing);
    int out = open((dir + "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t pid = spawn({dir + "veltrano"}, out);
    close(out);
    return pid;
}

bool waitForFile(const std::string& path, int seconds) {
    auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        if (fs::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// A game of about mib MiB in files of 1 to 8 MiB, half random and half repeated text, so that the
// archive is compressed as a real game's would be.
void makeGame(const std::string& dir, int mib) {
    std::mt19937_64 rng(7);
    std::vector<char> noise(8 << 20);
    for (auto& c : noise) c = static_cast<char>(rng());
    const std::string text = "level data: tiles, sprites, sounds and scripts\n";
    uint64_t left = static_cast<uint64_t>(mib) << 20;
    for (int i = 0; left > 0; ++i) {
        const uint64_t size = std::min<uint64_t>(left, (1 + i % 8) << 20);
        fs::create_directories(dir + "/d" + std::to_string(i % 16));
        std::ofstream out(dir + "/d" + std::to_string(i % 16) + "/f" + std::to_string(i), std::ios::binary);
        for (uint64_t done = 0; done < size;) {
            const uint64_t n = std::min<uint64_t>(size - done, 64 << 10);
            if ((done >> 16) % 2 == 0) {
                out.write(noise.data() + (rng() % (noise.size() - n)), static_cast<std::streamsize>(n));
            } else {
                for (uint64_t k = 0; k < n; k += text.size())
                    out.write(text.data(),
                              static_cast<std::streamsize>(std::min<uint64_t>(text.size(), n - k)));
            }
            done += n;
        }
        left -= size;
    }
}

// The launcher's shown top-level windows that answer pings (GTK sets _NET_WM_PID and _NET_WM_PING on them).
std::vector<Window> pingableWindows(Display* x, pid_t pid) {
    std::vector<Window> found;
    Atom pidAtom = XInternAtom(x, "_NET_WM_PID", False), ping = XInternAtom(x, "_NET_WM_PING", False);
    Window root = DefaultRootWindow(x), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(x, root, &root, &parent, &children, &count)) return found;
    for (unsigned i = 0; i < count; ++i) {
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char* data = nullptr;
        bool ours = XGetWindowProperty(x, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                                       &items, &after, &data) == Success &&
                    data && items == 1 && static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data)) == pid;
        if (data) XFree(data);
        Atom* protocols = nullptr;
        int n = 0;
        // Only a window on screen can look "not responding"; before it is shown the launcher is starting.
        XWindowAttributes a;
        ours = ours && XGetWindowAttributes(x, children[i], &a) && a.map_state == IsViewable;
        if (ours && XGetWMProtocols(x, children[i], &protocols, &n)) {
            if (std::find(protocols, protocols + n, ping) != protocols + n) found.push_back(children[i]);
            XFree(protocols);
        }
    }
    if (children) XFree(children);
    return found;
}

struct Stall {
    std::vector<double> answers;  // ms, one per ping
    double longestAt = 0;         // s since the launcher started
    double finishedAt = 0;
    std::vector<std::pair<double, double>> slow;  // (s since the start, ms) of answers over 50 ms
    bool finished = false;
};

// Pings the launcher's window every 10 ms until its game reaches version 1.0.1 (or 600 s pass).
Stall pingUntilUpdated(const std::string& root, pid_t pid, Clock::time_point started) {
    Stall r;
    Display* x = XOpenDisplay(nullptr);
    if (!x) return r;
    // Windows come and go while they are looked at; a vanished one is simply not ours.
    XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });
    Window target = 0;
    XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
    Atom protocols = XInternAtom(x, "WM_PROTOCOLS", False), ping = XInternAtom(x, "_NET_WM_PING", False);
    const auto end = started + std::chrono::seconds(600);
    double longest = 0;
    for (unsigned long serial = 1; Clock::now() < end; ++serial) {
        if (target == 0) {
            auto windows = pingableWindows(x, pid);
            if (windows.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            target = windows.front();
        }
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = target;
        e.xclient.message_type = protocols;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(ping);
        e.xclient.data.l[1] = static_cast<long>(serial);
        e.xclient.data.l[2] = static_cast<long>(target);
        XSendEvent(x, target, False, NoEventMask, &e);
        XFlush(x);
        const auto sent = Clock::now();
        bool answered = false;
        while (!answered && Clock::now() < end) {
            pollfd p{ConnectionNumber(x), POLLIN, 0};
            if (XPending(x) == 0 && poll(&p, 1, 1000) <= 0) continue;
            XEvent reply;
            XNextEvent(x, &reply);
            answered = reply.type == ClientMessage && reply.xclient.message_type == protocols &&
                       static_cast<Atom>(reply.xclient.data.l[0]) == ping &&
                       static_cast<unsigned long>(reply.xclient.data.l[1]) == serial;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        r.answers.push_back(ms);
        const double at = std::chrono::duration<double>(sent - started).count();
        if (ms > 50) r.slow.emplace_back(at, ms);
        if (ms > longest) {
            longest = ms;
            r.longestAt = at;
        }
        std::ifstream version(root + "/stall/game/version");
        std::string v;
        if (version >> v && v == "1.0.1") {
            r.finished = true;
            r.finishedAt = std::chrono::duration<double>(Clock::now() - started).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    XCloseDisplay(x);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const bool stallMode = argc > 2 && std::strcmp(argv[1], "--stall") == 0;
    const int stallMib = stallMode ? std::max(1, atoi(argv[2])) : 0;
    int seconds = argc > 1 && !stallMode ? std::max(1, atoi(argv[1])) : 10;
    char tmpl[] = "/tmp/veltrano-ui-idle-XXXXXX";
    if (!mkdtemp(tmpl)) return 2;
    std::string root = tmpl;
    for (const char* v : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        std::string dir = root + "/env/" + v;
        fs::create_directories(dir);
        chmod(dir.c_str(), 0700);
        setenv(v, dir.c_str(), 1);
    }
    setenv("XDG_DESKTOP_DIR", (root + "/env/HOME").c_str(), 1);

    pid_t xvfb = -1, server = -1, idle = -1, busy = -1;
    int status = 1;
    do {
        std::string display = firstLine({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24",
                                         "-nolisten", "tcp", "-noreset"},
                                        &xvfb);
        if (display.empty()) {
            fprintf(stderr, "bench_ui_idle: Xvfb did not start\n");
            break;
        }
        setenv("DISPLAY", (":" + display).c_str(), 1);

        std::string game = root + "/gamesrc", srv = root + "/srv";
        fs::create_directories(game);
        fs::create_directories(srv + "/slow");
        if (stallMode) {
            makeGame(game, stallMib);
        } else {
            std::ifstream random("/dev/urandom", std::ios::binary);
            std::vector<char> bytes(8 << 20);
            random.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            std::ofstream(game + "/data.bin", std::ios::binary)
                .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
        pid_t pack = spawn({VELTRANO_PACK_PATH, "--game", game, "--version", "1.0.1", "--out-dir", srv,
                            "--level", stallMode ? "6" : "0"},
                           quiet);
        if (quiet >= 0) close(quiet);
        int packStatus = -1;
        waitpid(pack, &packStatus, 0);
        if (packStatus != 0) {
            fprintf(stderr, "bench_ui_idle: packing failed\n");
            break;
        }
        fs::copy_file(srv + "/game-1.0.1.zip", srv + "/slow/game-1.0.1.zip");
        std::ofstream(srv + "/page.html") << "<html><body style='background:#0ff'>Login page</body></html>";
        // 40 kB/s per range: the ten ranges take about 20 s for the 8 MB archive.
        std::string base = firstLine({VELTRANO_DEVSERVER_PATH, "--root", srv, "--port", "0", "--faults",
                                      R"({"path":"/slow/game-1.0.1.zip","rate":40000})"},
                                     &server);
        if (base.empty()) {
            fprintf(stderr, "bench_ui_idle: devserver did not start\n");
            break;
        }

        if (stallMode) {
            const auto started = Clock::now();
            idle = startLauncher(root, "stall", config(base, "/"));
            Stall r = pingUntilUpdated(root, idle, started);
            stop(idle);
            idle = -1;
            if (r.answers.empty()) {
                fprintf(stderr, "bench_ui_idle: no window of the launcher answered a ping\n");
                break;
            }
            std::vector<double> sorted = r.answers;
            std::sort(sorted.begin(), sorted.end());
            printf("update of a %d MiB game in the real window: %s after %.1f s\n", stallMib,
                   r.finished ? "finished" : "NOT finished", r.finishedAt);
            printf(
                "  %zu pings answered: longest %.1f ms (at %.1f s), 99th percentile %.1f ms, median %.1f ms"
                " (goal: longest under 50 ms)\n",
                sorted.size(), sorted.back(), r.longestAt, sorted[sorted.size() * 99 / 100],
                sorted[sorted.size() / 2]);
            for (const auto& [at, ms] : r.slow) printf("  slow answer at %.2f s: %.1f ms\n", at, ms);
            status = r.finished ? 0 : 1;
            break;
        }
        idle = startLauncher(root, "idle", config(base, "/"));
        if (!waitForFile(root + "/idle/game/version", 60)) {
            fprintf(stderr, "bench_ui_idle: the update did not finish\n");
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
        Share a = measure(idle, seconds);
        stop(idle);
        idle = -1;

        busy = startLauncher(root, "busy", config(base, "/slow/"));
        std::this_thread::sleep_for(std::chrono::seconds(3));
        Share b = measure(busy, seconds);
        bool stillDownloading = !fs::exists(root + "/busy/game/version");
        stop(busy);
        busy = -1;

        printf("launcher CPU over %d s (share of one core)\n", seconds);
        printf("  idle after the update:      launcher %5.2f %%   web processes %5.2f %%\n", a.self,
               a.children);
        printf("  during throttled download:  launcher %5.2f %%   web processes %5.2f %%%s\n", b.self,
               b.children, stillDownloading ? "" : "   (download ended early)");
        status = 0;
    } while (false);

    stop(busy);
    stop(idle);
    stop(server);
    stop(xvfb);
    std::error_code ec;
    fs::remove_all(root, ec);
    return status;
}
