#pragma once
// The main window's side of a game start, whatever toolkit draws the window: the login handler it
// installs, the rule that a closing launcher starts no game, and the owner told when a start ends.

#include <string>

#include "game/Game.h"
#include "window/WindowServices.h"

namespace veltrano {

// What a game start asks of the dialog that owns the launcher's windows.
class GameStartOwner {
public:
    // The launcher is closing (the portal is being told so).
    virtual bool closing() const = 0;
    // The main window's game start has ended, with or without a game.
    virtual void gameStartEnded() = 0;

protected:
    virtual ~GameStartOwner() = default;
};

class LoginGate {
public:
    // host: the window, for the visible points of the start; owner may be null. A services.startGame
    // replaces the real start.
    LoginGate(GameStartHost* host, GameStartOwner* owner, const WindowServices& services);
    // Takes the login handler back: a login arriving later must not reach a window that is gone.
    ~LoginGate();
    LoginGate(const LoginGate&) = delete;
    LoginGate& operator=(const LoginGate&) = delete;

    // Installs OnLoginReady as the launcher's login handler.
    void listen();
    // A login: ignored while the launcher closes; otherwise keeps the values and starts the game.
    void OnLoginReady(const std::string& uid, const std::string& gameToken, const std::string& callbackInfo);
    // From the login until the game runs or its start failed; the start's pauses run the window's
    // loop, so close requests arrive meanwhile.
    bool starting() const { return starting_; }
    // Calls off a start that has not run the game yet.
    void cancel() { starter_.cancel(); }

    GameStarter& starter() { return starter_; }
    const GameStarter& starter() const { return starter_; }
    const std::string& uid() const { return uid_; }
    const std::string& gameToken() const { return gameToken_; }
    const std::string& callbackInfo() const { return callbackInfo_; }

private:
    GameStartHost* host_;
    GameStartOwner* owner_;
    decltype(WindowServices::startGame) startGame_;
    decltype(WindowServices::setLoginHandler) setLoginHandler_;
    GameStarter starter_;
    std::string uid_, gameToken_, callbackInfo_;
    bool starting_ = false;
    bool listening_ = false;
};

}  // namespace veltrano
