#include "game/Game.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "config/TextFormat.h"
#include "platform/CommandLine.h"
#include "platform/FileUtils.h"
#include "platform/Process.h"
#include "report/Report.h"

namespace veltrano {

namespace {

constexpr unsigned kReportGameStart = 1013;
constexpr int kGameStartFailed = 1115;
constexpr size_t kErrorTextBuffer = 500;

class FallbackHost : public GameStartHost {
public:
    void gameStarted() override {}
    void showStartError(const std::string& message) override {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
};

}  // namespace

void GameStartHost::wait(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string buildGameCommandLine(const std::string& launcherDir, const std::string& gameDir,
                                 const std::string& exeName, const std::string& launcherCommandLine,
                                 const std::string& uid, const std::string& gameToken,
                                 const std::string& callbackInfo) {
    // The launcher directory ends in "/", so D holds "//"; the game has always been given it so.
    const std::string dir = launcherDir + "/" + gameDir + "/";
    std::string cmd;
    cmd += "\"";
    cmd += dir;
    cmd += exeName;
    cmd += "\" -workdir \"";
    cmd += dir;
    cmd += "\"";
    cmd += " ";
    cmd += launcherCommandLine;
    cmd += " -uid:" + uid;
    cmd += " -gametoken:" + gameToken;
    cmd += " -cbinfo:" + callbackInfo;
    return cmd;
}

std::string formatErrorText(const std::string& format, int code) {
    FormatArg value{FormatArg::Int};
    value.i = code;
    return checkedFormat(format, {value}, kErrorTextBuffer - 1);
}

GameStarter::GameStarter(GameStartHost* host) : host_(host), launcherCommandLine_(applicationCommandLine()) {}

void GameStarter::OnLoginReady(const std::string& uid, const std::string& gameToken,
                               const std::string& callbackInfo) {
    uid_ = uid;
    gameToken_ = gameToken;
    callbackInfo_ = callbackInfo;
    startGame();
}

std::string GameStarter::gameCommandLine() const {
    const LauncherConfig* cfg = LauncherConfig::instance();
    FileUtils* files = FileUtils::instance();
    const std::string launcherDir = files ? files->launcherDirectory() : std::string();
    return buildGameCommandLine(launcherDir, cfg->game_dir(), cfg->game_exe_name(), launcherCommandLine_,
                                uid_, gameToken_, callbackInfo_);
}

bool GameStarter::startGame() {
    FallbackHost fallback;
    GameStartHost* host = host_ ? host_ : &fallback;

    const std::string cmd = gameCommandLine();
    cancelled_ = false;
    host->wait(1000);
    if (cancelled_) {
        writeLog("game start cancelled before it ran: %s", cmd.c_str());
        return false;
    }
    writeLog("%s", cmd.c_str());

    ProcessId pid = 0;
    int error = 0;
    const bool started = startProcess(cmd, std::string(), &pid, &error);
    sendReport(kReportGameStart);
    host->wait(500);

    if (started) {
        startedPid_ = pid;
        writeLog("CreateProcess: Success");
        host->gameStarted();
        return true;
    }

    writeLog("CreateProcess faild path  %s", cmd.c_str());
    writeLog("CreateProcessA: error  %d", error);
    host->wait(500);
    sendReport(kGameStartFailed);
    host->wait(1000);
    host->showStartError(formatErrorText(LauncherConfig::instance()->error_text(), kGameStartFailed));
    host->wait(1000);
    host->startErrorAcknowledged();
    return false;
}

}  // namespace veltrano
