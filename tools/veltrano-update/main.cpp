// veltrano-update: the launcher without its window. Same launcher.cfg, log, launch options and
// reports; runs the update to its outcome and optionally hands a login over to start the game.

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/LaunchParams.h"
#include "app/StartupSteps.h"
#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "game/Game.h"
#include "net/HTTPRequest.h"
#include "net/Scheduler.h"
#include "platform/CommandLine.h"
#include "platform/Console.h"
#include "platform/Desktop.h"
#include "platform/File.h"
#include "platform/FileUtils.h"
#include "platform/SingleInstance.h"
#include "report/Report.h"
#include "runner/RunProgress.h"
#include "update/Install.h"
#include "update/Updater.h"

using namespace veltrano;

namespace {

const char kUsage[] =
    "Usage: veltrano-update [options] [--token=T] [--source=S] [--serverid=V] [--fcext=F] [--noicon=USER]\n"
    "\n"
    "Brings the game of a launcher directory up to the version its update server offers, exactly as the\n"
    "launcher window does (same launcher.cfg, log, reports and download folder), and shows the progress.\n"
    "\n"
    "Options:\n"
    "  --dir DIR             launcher directory holding launcher.cfg (default: this program's folder)\n"
    "  --login JSON          after a successful update, hand this login message over as the web page's\n"
    "                        AppLogin does, which starts the game with uid, game token and callback info\n"
    "  --json                one JSON object per line on standard output (events: phase, progress,\n"
    "                        result, game) instead of text\n"
    "  --interval SECONDS    time between plain progress lines when output is not a terminal (default 1)\n"
    "  --stall-timeout SEC   give up when nothing changed for this long (default 300)\n"
    "  --download-dir DIR    where the archive and its pieces are kept (default: the launcher's folder\n"
    "                        under $XDG_DATA_HOME, shared with the window, so either resumes the other)\n"
    "  --verbose             copy the launcher's log lines to standard error\n"
    "  -h, --help            this text\n"
    "\n"
    "Options of the form --name=value that the launcher itself takes (--token, --source, --serverid,\n"
    "--fcext, --winid, --noicon) are used as the launcher uses them and passed on to the game.\n"
    "\n"
    "On a terminal the progress is one refreshing line: phase, percent, amount, speed and time left.\n"
    "\n"
    "Exit status:\n"
    "   0  the game is up to date (and, with --login, the game was started)\n"
    "   1  bad usage\n"
    "   2  launcher.cfg missing or not a JSON object\n"
    "   3  no usable version manifest (code 1101)\n"
    "   4  no download with a matching digest (code 1102)\n"
    "   5  the archive could not be extracted (code 1106)\n"
    "   6  the installed version differs from the offered one (code 1113)\n"
    "   7  \"game_dir\" is not a dedicated sub-directory (code 1120)\n"
    "   8  the login was handed over but the game did not start\n"
    "   9  nothing happened for the stall timeout\n"
    "  10  another launcher is running\n"
    "  12  not enough free disk space for the download or the installation (code 1121)\n";

// Values the Updater's callback hands to the loop; the callback also runs on the extraction thread.
struct Shared {
    std::mutex mutex;
    int state = Updater::CheckVersion;
    int code = -1;
    double total = 0;
    double done = 0;
    uint64_t events = 0;
    unsigned phasesSeen = 1;  // bit per state, so a phase passed between two looks is still shown
    bool ended = false;
};

enum class Mode { Tty, Plain, Json };

class Output {
public:
    Output(FILE* out, Mode mode, double interval) : out_(out), mode_(mode), interval_(interval) {}

    void phase(int state) {
        if (closed_) return;
        if (mode_ == Mode::Json) {
            std::fprintf(out_, "{\"event\":\"phase\",\"phase\":\"%s\"}\n", phaseName(state));
            flush();
        } else if (mode_ == Mode::Plain) {
            std::fprintf(out_, "%s\n", phaseName(state));
            flush();
        } else {
            std::fprintf(out_, "\r\033[K%s", phaseName(state));
            flush();
            lineOpen_ = true;
        }
    }

    // Throttled: a terminal line 5 times a second, JSON 4 times, plain lines every interval.
    void progress(const ProgressView& view, double now, bool force) {
        if (closed_) return;
        double every = mode_ == Mode::Tty ? 0.2 : mode_ == Mode::Json ? 0.25 : interval_;
        if (!force && now - last_ < every) return;
        // Logs and scripts get a line only when something changed.
        std::string text = mode_ == Mode::Json ? progressJson(view) : progressText(view);
        if (!force && mode_ != Mode::Tty && text == lastText_) return;
        lastText_ = text;
        last_ = now;
        if (mode_ == Mode::Tty) {
            std::fprintf(out_, "\r\033[K%s", progressText(view).c_str());
            lineOpen_ = true;
        } else if (mode_ == Mode::Json) {
            std::fprintf(out_, "%s\n", progressJson(view).c_str());
        } else {
            std::fprintf(out_, "%s\n", progressText(view).c_str());
        }
        flush();
    }

    void result(int code, int status) {
        if (closed_) return;
        if (mode_ == Mode::Json) {
            std::fprintf(out_, "{\"event\":\"result\",\"code\":%d,\"status\":%d,\"message\":%s}\n", code,
                         status, jsonString(describeCode(code)).c_str());
        } else {
            endLine();
            if (code == Updater::Ok)
                std::fprintf(out_, "finished: %s\n", describeCode(code));
            else
                std::fprintf(out_, "failed (%d): %s\n", code, describeCode(code));
        }
        flush();
    }

    void message(const std::string& event, const std::string& text, bool ok) {
        if (closed_) return;
        if (mode_ == Mode::Json) {
            std::fprintf(out_, "{\"event\":%s,\"ok\":%s,\"message\":%s}\n", jsonString(event).c_str(),
                         ok ? "true" : "false", jsonString(text).c_str());
        } else {
            endLine();
            std::fprintf(out_, "%s\n", text.c_str());
        }
        flush();
    }

    void endLine() {
        if (closed_) return;
        if (lineOpen_) std::fputc('\n', out_);
        lineOpen_ = false;
    }

private:
    // A reader that went away (veltrano-update | head -1) ends the display, never the update.
    void flush() {
        if (std::fflush(out_) != 0 || std::ferror(out_)) closed_ = true;
    }

    FILE* out_;
    bool closed_ = false;
    Mode mode_;
    double interval_;
    double last_ = -1e9;
    std::string lastText_;
    bool lineOpen_ = false;
};

class HeadlessHost : public GameStartHost {
public:
    explicit HeadlessHost(Output* output) : output_(output) {}
    void gameStarted() override { started = true; }
    void showStartError(const std::string& message) override { output_->message("game", message, false); }
    bool started = false;

private:
    Output* output_;
};

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The folder the window keeps its download in: the same rule, with the window's program name.
std::string windowDownloadDirectory() {
    const std::string base = userDataDirectory();
    return base.empty() ? std::string() : base + "/veltrano/";
}

bool parseSeconds(const char* text, double* out) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v > 0) || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

int usage(const std::string& problem) {
    std::fprintf(stderr, "veltrano-update: %s\n\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // Write errors are handled where they happen; a signal would end the update half-way.
    ignoreClosedOutputSignal();
    // UTF-8 arguments on every system (folder names beyond the ANSI code page on Windows).
    const std::vector<std::string> utf8Args = systemArguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (const std::string& a : utf8Args) utf8Argv.push_back(const_cast<char*>(a.c_str()));
    utf8Argv.push_back(nullptr);
    argv = utf8Argv.data();
    std::string dir, login, downloadDir;
    bool json = false, verbose = false, haveLogin = false;
    double interval = 1, stallTimeout = 300;
    std::vector<std::string> launchArgs;
    static const char* launchOptions[] = {
        "--token=", "--source=", "--serverid=", "--fcext=", "--winid=", "--noicon="};

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string name = arg, inlineValue;
        bool hasInline = false;
        bool isLaunch = false;
        for (const char* prefix : launchOptions)
            if (arg.rfind(prefix, 0) == 0) isLaunch = true;
        if (isLaunch) {
            launchArgs.push_back(arg);
            continue;
        }
        if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
            hasInline = true;
        }
        auto value = [&](std::string* out) {
            if (hasInline) {
                *out = inlineValue;
                return true;
            }
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (name == "-h" || name == "--help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (name == "--json" && !hasInline) {
            json = true;
        } else if (name == "--verbose" && !hasInline) {
            verbose = true;
        } else if (name == "--dir") {
            if (!value(&dir) || dir.empty()) return usage("--dir needs a folder");
        } else if (name == "--download-dir") {
            if (!value(&downloadDir) || downloadDir.empty()) return usage("--download-dir needs a folder");
        } else if (name == "--login") {
            if (!value(&login)) return usage("--login needs a JSON message");
            haveLogin = true;
        } else if (name == "--interval") {
            if (!value(&v) || !parseSeconds(v.c_str(), &interval)) return usage("--interval needs seconds");
        } else if (name == "--stall-timeout") {
            if (!value(&v) || !parseSeconds(v.c_str(), &stallTimeout))
                return usage("--stall-timeout needs seconds");
        } else {
            return usage("unknown argument " + arg);
        }
    }

    // The log copies every line to standard output; keep that free for the progress display.
    FILE* out = detachStandardOutput(verbose);
    if (out == nullptr) return kExitInternal;
    const Mode mode = json ? Mode::Json : isTerminal(out) ? Mode::Tty : Mode::Plain;
    Output output(out, mode, interval);

    // The game sees the launch options as the window's game would see the launcher's command line.
    std::vector<const char*> gameArgv{argv[0]};
    for (const auto& a : launchArgs) gameArgv.push_back(a.c_str());
    setApplicationArguments(static_cast<int>(gameArgv.size()), gameArgv.data());

    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr) {
        output.message("config", "cannot determine the launcher directory", false);
        return kExitConfig;
    }
    if (!dir.empty()) {
        fu->setLauncherDirectory(absolutePath(dir));
    }
    if (downloadDir.empty()) downloadDir = windowDownloadDirectory();
    if (!downloadDir.empty()) {
        downloadDir = absolutePath(downloadDir);
        if (downloadDir.back() != '/') downloadDir += '/';
        fu->createDirectory(downloadDir);
        fu->setWritableDirectory(downloadDir);
    }

    SingleInstance instanceLock;
    if (!instanceLock.acquire()) {
        output.message("config", "another launcher is running (" + SingleInstance::lockPath() + ")", false);
        return kExitAlreadyRunning;
    }
    if (!LauncherConfig::instance()->load()) {
        output.message("config", "cannot read " + fu->launcherDirectory() + "launcher.cfg as a JSON object",
                       false);
        return kExitConfig;
    }

    const StartupOptions options = parseStartupCommandLine(applicationCommandLine());
    LaunchParams* params = LaunchParams::instance();
    if (options.token) params->setToken(*options.token);
    if (options.source) params->setSource(*options.source);
    if (options.serverid) params->setServerid(*options.serverid);
    if (options.fcext) params->setFcext(*options.fcext);
    if (options.parentWindow) params->setParentWindow(*options.parentWindow);
    initReport(options.userName);
    sendReport(1001);

    Shared shared;
    // Owned here rather than the process-wide one, so that returning from main joins its threads.
    Updater engine;
    Updater* updater = &engine;
    updater->m_callback = [&shared](Updater::UpdaterState state, Updater::UpdaterCode code, double a,
                                    double b) {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.state = state;
        shared.code = code;
        shared.total = a;
        shared.done = b;
        ++shared.events;
        shared.phasesSeen |= 1u << (state & 3);
        if (code != Updater::Progress) shared.ended = true;
    };
    output.phase(Updater::CheckVersion);
    updater->start();

    Scheduler* scheduler = Scheduler::instance();
    int shownState = Updater::CheckVersion;
    uint64_t seenEvents = 0;
    double lastChange = monotonicSeconds();
    int code = -1;
    for (;;) {
        scheduler->tick(0.03f);
        Shared now;
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            now.state = shared.state;
            now.code = shared.code;
            now.total = shared.total;
            now.done = shared.done;
            now.events = shared.events;
            now.phasesSeen = shared.phasesSeen;
            now.ended = shared.ended;
        }
        const double t = monotonicSeconds();
        if (now.events != seenEvents) {
            seenEvents = now.events;
            lastChange = t;
        }
        for (int phase = shownState + 1; phase <= now.state && phase < Updater::Finish; ++phase) {
            if ((now.phasesSeen & (1u << phase)) == 0) continue;
            output.endLine();
            output.phase(phase);
            shownState = phase;
        }
        if (now.ended) {
            code = now.code;
            break;
        }
        if (now.code == Updater::Progress) {
            ProgressView view{now.state, now.total, now.done, -1};
            if (now.state == Updater::Download) {
                double elapsed = wallSeconds() - static_cast<double>(updater->m_downloadStartTime.load());
                view.bytesPerSecond = (now.done - static_cast<double>(updater->m_baseBytes.load())) /
                                      (elapsed < 1 ? 1 : elapsed);
                if (view.bytesPerSecond < 0) view.bytesPerSecond = 0;
            }
            output.progress(view, t, false);
        }
        if (t - lastChange > stallTimeout) {
            output.message("result", "no progress for " + formatDuration(stallTimeout) + ", giving up",
                           false);
            writeLog("veltrano-update: no progress for %.0f s, giving up", stallTimeout);
            std::fflush(out);
            holdInstallExchanges();
            std::_Exit(kExitStalled);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }

    int status = exitStatusForCode(code);
    if (code == Updater::Ok && mode == Mode::Json)
        output.progress(ProgressView{Updater::Finish, 0, 0, -1}, monotonicSeconds(), true);
    output.result(code, status);
    if (code == Updater::Ok) {
        params->setDownloadComplete(true);
        if (haveLogin) {
            HeadlessHost host(&output);
            GameStarter starter(&host);
            starter.setLauncherCommandLine(applicationCommandLine());
            params->setLoginHandler([&starter](const std::string& uid, const std::string& token,
                                               const std::string& callbackInfo) {
                starter.OnLoginReady(uid, token, callbackInfo);
            });
            params->onLogin(login);
            params->setLoginHandler(nullptr);
            if (host.started) {
                output.message("game", "game started (pid " + std::to_string(starter.startedPid()) + ")",
                               true);
            } else {
                status = kExitGameStartFailed;
            }
        }
    }

    // Reports are fire-and-forget requests; give the ones in flight a moment to leave, then stop
    // the rest and wait until every transfer thread has been joined.
    const double drainUntil = monotonicSeconds() + 3;
    while (HTTPRequest::liveCount() > 0 && monotonicSeconds() < drainUntil) {
        scheduler->tick(0.03f);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    HTTPRequest::cancelAll();
    while (HTTPRequest::liveCount() > 0) {
        scheduler->tick(0.03f);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fflush(out);
    std::fclose(out);
    return status;
}
