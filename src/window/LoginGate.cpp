#include "window/LoginGate.h"

#include "config/Log.h"

namespace veltrano {

LoginGate::LoginGate(GameStartHost* host, GameStartOwner* owner, const WindowServices& services)
    : host_(host),
      owner_(owner),
      startGame_(services.startGame),
      setLoginHandler_(services.setLoginHandler),
      starter_(host) {}

LoginGate::~LoginGate() {
    if (listening_) setLoginHandler_({});
}

void LoginGate::listen() {
    if (!setLoginHandler_) return;
    setLoginHandler_([this](const std::string& uid, const std::string& token, const std::string& cb) {
        OnLoginReady(uid, token, cb);
    });
    listening_ = true;
}

void LoginGate::OnLoginReady(const std::string& uid, const std::string& gameToken,
                             const std::string& callbackInfo) {
    if (owner_ && owner_->closing()) {
        // The portal is being told that the launcher closes; a game now would contradict it.
        writeLog("login ignored: the launcher is closing");
        return;
    }
    uid_ = uid;
    gameToken_ = gameToken;
    callbackInfo_ = callbackInfo;
    starting_ = true;
    if (startGame_) {
        if (startGame_(uid, gameToken, callbackInfo) && host_) host_->gameStarted();
    } else {
        starter_.OnLoginReady(uid, gameToken, callbackInfo);
    }
    starting_ = false;
    if (owner_) owner_->gameStartEnded();
}

}  // namespace veltrano
