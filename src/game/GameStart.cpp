#include "game/Game.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "config/LauncherConfig.h"
#include "config/Log.h"
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

bool isIntConversion(char c) {
    return c == 'd' || c == 'i' || c == 'u' || c == 'o' || c == 'x' || c == 'X' || c == 'c';
}

// Drops a trailing partial UTF-8 sequence left by a cut.
void trimPartialUtf8(std::string& text) {
    size_t i = text.size();
    size_t continuation = 0;
    while (i > 0 && (static_cast<unsigned char>(text[i - 1]) & 0xC0) == 0x80 && continuation < 3) {
        --i;
        ++continuation;
    }
    if (i == 0) return;
    unsigned char lead = static_cast<unsigned char>(text[i - 1]);
    size_t need = 0;
    if ((lead & 0xE0) == 0xC0) {
        need = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        need = 2;
    } else if ((lead & 0xF8) == 0xF0) {
        need = 3;
    } else {
        return;
    }
    if (continuation < need) text.resize(i - 1);
}

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
    std::string out;
    bool used = false;
    size_t i = 0;
    const size_t n = format.size();
    while (i < n && out.size() < kErrorTextBuffer) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        if (i + 1 < n && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // Parse one conversion: flags, width, precision, length, conversion character.
        size_t j = i + 1;
        std::string conversion = "%";
        while (j < n && std::string("-+ #0").find(format[j]) != std::string::npos) conversion += format[j++];
        size_t digits = 0;
        while (j < n && format[j] >= '0' && format[j] <= '9') {
            conversion += format[j++];
            ++digits;
        }
        if (j < n && format[j] == '.') {
            conversion += format[j++];
            while (j < n && format[j] >= '0' && format[j] <= '9') {
                conversion += format[j++];
                ++digits;
            }
        }
        while (j < n && std::string("hlLqjzt").find(format[j]) != std::string::npos) ++j;
        // Widths beyond the buffer add nothing but cost; such a conversion is kept as written.
        if (j < n && isIntConversion(format[j]) && !used && digits <= 3) {
            conversion += format[j];
            char piece[kErrorTextBuffer * 2];
            std::snprintf(piece, sizeof piece, conversion.c_str(), code);
            out += piece;
            used = true;
            i = j + 1;
        } else {
            size_t end = j < n ? j + 1 : n;
            out.append(format, i, end - i);
            i = end;
        }
    }
    if (out.size() > kErrorTextBuffer - 1) out.resize(kErrorTextBuffer - 1);
    trimPartialUtf8(out);
    return out;
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
    host->wait(1000);
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
