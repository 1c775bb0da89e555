// bench_update_stall --dir LAUNCHER_DIR [--download-dir DIR]: runs one update of the launcher
// directory on a GLib main loop driven, like the launcher window, by a 30 ms timer that ticks the
// Scheduler, and reports the longest gap between two ticks: how long the window would stop
// painting at worst. The window's own drawing is not included. The longest tick is the time spent
// inside one tick: the rest of a gap is the wait for the system to wake the loop and give it a core.
// Exit status 0 when the update finished.

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "config/LauncherConfig.h"
#include "net/HTTPRequest.h"
#include "net/Scheduler.h"
#include "platform/FileUtils.h"
#include "report/Report.h"
#include "update/Updater.h"

using namespace veltrano;

namespace {

using Clock = std::chrono::steady_clock;

struct Probe {
    GMainLoop* loop = nullptr;
    Updater* updater = nullptr;
    Clock::time_point begin, last;
    std::vector<double> gaps;  // ms
    double longest = 0;
    double longestAt = 0;  // s since the start
    int longestState = 0;
    double longestTick = 0;  // ms spent inside one tick: the loop's own share of a gap
    std::mutex mutex;        // the engine's callback also runs on the extraction thread
    int state = Updater::CheckVersion;
    int code = -1;
    bool ended = false;
    bool draining = false;
};

gboolean onTick(gpointer data) {
    auto* p = static_cast<Probe*>(data);
    const auto now = Clock::now();
    const double gap = std::chrono::duration<double, std::milli>(now - p->last).count();
    p->last = now;
    int state = 0;
    bool ended = false;
    {
        std::lock_guard<std::mutex> lock(p->mutex);
        state = p->state;
        ended = p->ended;
    }
    if (!p->draining) {
        p->gaps.push_back(gap);
        if (gap > p->longest) {
            p->longest = gap;
            p->longestAt = std::chrono::duration<double>(now - p->begin).count();
            p->longestState = state;
        }
    }
    Scheduler::instance()->tick(0.03f);
    const double spent = std::chrono::duration<double, std::milli>(Clock::now() - now).count();
    if (!p->draining) p->longestTick = std::max(p->longestTick, spent);
    if (ended && !p->draining) {
        p->draining = true;
        HTTPRequest::cancelAll();
    }
    if (p->draining && HTTPRequest::liveCount() == 0) g_main_loop_quit(p->loop);
    return G_SOURCE_CONTINUE;
}

gboolean onStart(gpointer data) {
    static_cast<Probe*>(data)->updater->start();
    return G_SOURCE_REMOVE;
}

const char* stateName(int state) {
    static const char* names[] = {"checking", "downloading", "installing", "finished"};
    return state >= 0 && state < 4 ? names[state] : "?";
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir, downloadDir;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
        if (std::strcmp(argv[i], "--download-dir") == 0) downloadDir = argv[i + 1];
    }
    FileUtils* fu = FileUtils::instance();
    if (dir.empty() || fu == nullptr) {
        std::fprintf(stderr, "usage: bench_update_stall --dir LAUNCHER_DIR [--download-dir DIR]\n");
        return 1;
    }
    fu->setLauncherDirectory(dir);
    if (!downloadDir.empty()) {
        if (downloadDir.back() != '/') downloadDir += '/';
        fu->createDirectory(downloadDir);
        fu->setWritableDirectory(downloadDir);
    }
    if (!LauncherConfig::instance()->load()) {
        std::fprintf(stderr, "cannot read %slauncher.cfg\n", fu->launcherDirectory().c_str());
        return 1;
    }
    initReport("");

    Probe probe;
    Updater updater;
    probe.updater = &updater;
    updater.m_callback = [&probe](Updater::UpdaterState state, Updater::UpdaterCode code, double, double) {
        std::lock_guard<std::mutex> lock(probe.mutex);
        probe.state = state;
        probe.code = code;
        if (code != Updater::Progress) probe.ended = true;
    };
    probe.loop = g_main_loop_new(nullptr, FALSE);
    probe.begin = probe.last = Clock::now();
    // As in the window: the timer runs first, the update is started from the loop.
    g_timeout_add(30, onTick, &probe);
    g_idle_add(onStart, &probe);
    g_main_loop_run(probe.loop);
    g_main_loop_unref(probe.loop);

    std::vector<double> sorted = probe.gaps;
    std::sort(sorted.begin(), sorted.end());
    const double p99 = sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100];
    const double seconds = std::chrono::duration<double>(probe.last - probe.begin).count();
    // Standard output carries the launcher's log lines.
    std::fprintf(stderr,
                 "main loop over %.2f s, %zu ticks of the 30 ms timer: longest gap %.1f ms (at %.2f s, %s), "
                 "99th percentile %.1f ms (goal: longest under 50 ms); longest tick %.1f ms; outcome %d\n",
                 seconds, probe.gaps.size(), probe.longest, probe.longestAt, stateName(probe.longestState),
                 p99, probe.longestTick, probe.code);
    return probe.code == Updater::Ok ? 0 : 2;
}
