#pragma once
// The window the player sees: skin, progress bar, status line and close button. It also runs the
// update and turns the updater's reports into drawing, reports and messages.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "game/Game.h"
#include "ui/CBaseDialog.h"
#include "window/LoginGate.h"
#include "window/ProgressModel.h"
#include "window/WindowServices.h"

namespace veltrano {

class CVeltranoDlg : public CBaseDialog, public GameStartHost {
public:
    static constexpr unsigned kTimerPeriodMs = 30;

    CVeltranoDlg(DialogOwner* owner, WindowServices services);
    ~CVeltranoDlg() override;

    // The updater callback; may run on the extraction thread, so it only stores.
    void OnUpdaterEvent(unsigned state, int code, double total, double done);
    void OnLoginReady(const std::string& uid, const std::string& gameToken, const std::string& callbackInfo) {
        login_.OnLoginReady(uid, gameToken, callbackInfo);
    }
    // The game start the login begins; its pauses run the main loop.
    LoginGate& login() { return login_; }
    // Recomposes the window when what it shows changed; true when a redraw was queued.
    bool UpdateView();
    void pollUpdater();
    void FindSystemFont();
    // One timer tick: scheduler, view, poll.
    void tick();
    // A copy-data message: quits when its dwData is the configured quit type.
    bool OnCopyData(uint64_t dwData);
    // The main window ignores close requests; the close button closes the owner instead.
    void OnClose() override {}
    void handleCloseMessage() override { OnClose(); }
    void OnMove(int x, int y) override;
    // Left button at client point (x, y): the close button, else a window drag.
    void OnLButtonDown(int x, int y, GdkEventButton* event);

    // Called when the update finished and the page may log in.
    void setDownloadCompleteListener(std::function<void()> listener) {
        onDownloadComplete_ = std::move(listener);
    }
    // Called when an error message was acknowledged.
    void setErrorAcknowledgedListener(std::function<void()> listener) {
        onErrorAcknowledged_ = std::move(listener);
    }

    const std::string& fontName() const { return fontName_; }
    const ViewFrame& lastFrame() const { return frame_; }
    ProgressModel& model() { return *model_; }
    unsigned redrawCount() const { return redraws_; }

    // The visible points of a game start.
    void gameStarted() override;
    void showStartError(const std::string& message) override;
    void startErrorAcknowledged() override { OnClose(); }
    // Waits in a nested loop, so the window keeps painting and ticking.
    void wait(int milliseconds) override;

protected:
    GtkWidget* createWidget() override;
    bool OnInitDialog() override;

private:
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean onButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self);
    static gboolean onTimer(gpointer self);
    void draw(cairo_t* cr);
    void showError(int code);

    WindowServices services_;
    // Shared with the updater's callback, which may outlive the window and runs on other threads.
    std::shared_ptr<ProgressModel> model_;
    cairo_surface_t* bgImage_ = nullptr;
    cairo_surface_t* processImage_ = nullptr;
    cairo_surface_t* processBgImage_ = nullptr;
    cairo_surface_t* closeImage_ = nullptr;
    std::string fontName_ = "Arial";
    LoginGate login_;
    ViewFrame frame_;
    bool framed_ = false;
    unsigned redraws_ = 0;
    guint timer_ = 0;
    GtkWidget* messageBox_ = nullptr;
    std::function<void()> onDownloadComplete_;
    std::function<void()> onErrorAcknowledged_;
};

}  // namespace veltrano
