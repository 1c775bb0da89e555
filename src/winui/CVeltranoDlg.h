#pragma once
// The window the player sees on Windows: skin, progress bar, status line and close button. It also
// runs the update and turns the updater's reports into drawing, reports and messages.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "game/Game.h"
#include "window/LoginGate.h"
#include "window/ProgressModel.h"
#include "window/WindowServices.h"
#include "winui/CBaseDialog.h"

namespace veltrano {

class CVeltranoDlg : public CBaseDialog, public GameStartHost {
public:
    static constexpr UINT_PTR kTimerId = 1000;
    static constexpr UINT kTimerPeriodMs = 30;

    CVeltranoDlg(Game_MainDialog* owner, HWND parent, WindowServices services);
    ~CVeltranoDlg() override;

    // The updater callback; may run on the extraction thread, so it only stores.
    void OnUpdaterEvent(unsigned state, int code, double total, double done);
    void OnLoginReady(const std::string& uid, const std::string& gameToken, const std::string& callbackInfo) {
        login_.OnLoginReady(uid, gameToken, callbackInfo);
    }
    // The game start the login begins; its pauses run the message loop.
    LoginGate& login() { return login_; }
    // Recomposes the window when what it shows changed; true when it was drawn.
    bool UpdateView();
    void pollUpdater();
    void FindSystemFont();
    // One timer tick: scheduler, view, poll.
    void tick();
    // A copy-data message: quits when its dwData is the configured quit type.
    bool OnCopyData(uint64_t dwData);
    // The main window ignores close requests; the close button closes the owner instead.
    void OnClose() override {}
    void OnMove(int x, int y) override;
    // Left button at client point (x, y): the close button, else a window drag.
    void OnLButtonDown(int x, int y);

    const std::string& fontName() const { return fontName_; }
    const ViewFrame& lastFrame() const { return frame_; }
    unsigned redrawCount() const { return redraws_; }

    // The visible points of a game start.
    void gameStarted() override;
    void showStartError(const std::string& message) override;
    void startErrorAcknowledged() override { OnClose(); }
    // Waits with the message loop running, so the window keeps painting and ticking.
    void wait(int milliseconds) override;

protected:
    const wchar_t* className() const override { return L"CVeltranoDlg"; }
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnInitDialog() override;

private:
    void draw(Gdiplus::Graphics& g, int w, int h);
    void showError(int code);

    WindowServices services_;
    // Shared with the updater's callback, which may outlive the window and runs on other threads.
    std::shared_ptr<ProgressModel> model_;
    std::unique_ptr<Gdiplus::Image> bgImage_, processImage_, processBgImage_, closeImage_;
    HICON icon_ = nullptr;
    std::string fontName_ = "Arial";
    LoginGate login_;
    ViewFrame frame_;
    bool framed_ = false;
    unsigned redraws_ = 0;
};

}  // namespace veltrano
