#pragma once
// The game's process: ending stale copies before an update and starting it once the player has
// logged in. Used by the launcher window and by the headless runner alike.

#include <string>

#include "platform/Process.h"

namespace veltrano {

// What the surrounding program does at the visible points of a game start.
class GameStartHost {
public:
    virtual ~GameStartHost() = default;
    // The game runs; the launcher should end now.
    virtual void gameStarted() = 0;
    // Shows the failure message and returns once the player has acknowledged it.
    virtual void showStartError(const std::string& message) = 0;
    // Called after the acknowledged failure message and the pause that follows it.
    virtual void startErrorAcknowledged() {}
    // The blocking pauses of the start sequence; a window may keep itself alive in here.
    virtual void wait(int milliseconds);
};

// The game's command line: quoted program path, quoted -workdir, the launcher's own command line
// verbatim, then -uid:, -gametoken: and -cbinfo:. Values are neither quoted nor escaped.
std::string buildGameCommandLine(const std::string& launcherDir, const std::string& gameDir,
                                 const std::string& exeName, const std::string& launcherCommandLine,
                                 const std::string& uid, const std::string& gameToken,
                                 const std::string& callbackInfo);

// Fills a user-supplied printf-style text with one integer. Only the first integer conversion takes
// the value; every other conversion is kept as written, so no text can read missing arguments.
// The result is cut to 499 bytes, never inside a UTF-8 sequence.
std::string formatErrorText(const std::string& format, int code);

class GameStarter {
public:
    // host may be null: then waits sleep and the failure message goes to standard error.
    explicit GameStarter(GameStartHost* host);

    // Defaults to the launcher's own command line (applicationCommandLine).
    void setLauncherCommandLine(const std::string& text) { launcherCommandLine_ = text; }
    const std::string& launcherCommandLine() const { return launcherCommandLine_; }
    const std::string& uid() const { return uid_; }
    const std::string& gameToken() const { return gameToken_; }
    const std::string& callbackInfo() const { return callbackInfo_; }

    // Login handler: keeps the three values and starts the game.
    void OnLoginReady(const std::string& uid, const std::string& gameToken, const std::string& callbackInfo);

    // Starts the game with the kept values and the configuration; true when its process runs.
    bool startGame();
    // Asks the start under way to stop before it runs the game (a close request during its first
    // pause); such a start ends false without a message. No effect once the process is started.
    void cancel() { cancelled_ = true; }
    // The command line startGame would use now.
    std::string gameCommandLine() const;
    // Process id of the last game started, 0 when none.
    ProcessId startedPid() const { return startedPid_; }

private:
    GameStartHost* host_;
    std::string launcherCommandLine_;
    std::string uid_;
    std::string gameToken_;
    std::string callbackInfo_;
    ProcessId startedPid_ = 0;
    bool cancelled_ = false;
};

// Ends every process of the current user whose executable is named exactly exeName (case matters).
void terminateProcessesByName(const std::string& exeName);

// Logs and reports whether a process with the configured game executable name still runs.
bool killGameProcess();

}  // namespace veltrano
