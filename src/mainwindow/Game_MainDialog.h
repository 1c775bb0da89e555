#pragma once
// The launcher's toplevel: one undecorated RGBA window holding the stack of parts (main window,
// web page, mask) in an overlay. It creates them, keeps them together and runs the closing.

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <vector>

#include "ui/CBaseDialog.h"
#include "window/ClosingSequence.h"
#include "window/WindowServices.h"

namespace veltrano {

class CVeltranoDlg;
class CVeltranoMaskDlg;
class CWebDialog;
class WindowMessageReceiver;

class Game_MainDialog : public DialogOwner, private ClosingSequence::Steps {
public:
    static constexpr unsigned kShowStepMs = 100;

    explicit Game_MainDialog(WindowServices services);
    ~Game_MainDialog();
    Game_MainDialog(const Game_MainDialog&) = delete;
    Game_MainDialog& operator=(const Game_MainDialog&) = delete;

    // Builds the toplevel and the parts; false when the window cannot be made.
    bool OnInitDialog();
    // Runs the main loop until the launcher closes or quits.
    void run();
    // The closing sequence: report 1014, the wait, the parts closed, the portal told, loop ended.
    // During a game start it calls the start off if the game has not run yet, and closes once the
    // start has ended (nothing more when the game runs).
    void OnClose() override { closing_.requestClose(); }
    void gameStartEnded() override { closing_.gameStartEnded(); }
    // Ends the loop without the closing sequence (the game started, or a quit request).
    void quit() override { closing_.quit(); }
    int moveChildren(CBaseDialog* skip, int x, int y) override;

    GtkWidget* toplevel() const { return window_; }
    CVeltranoDlg* mainWindow() const { return mainDlg_; }
    CWebDialog* webDialog() const { return webDlg_; }
    CVeltranoMaskDlg* mask() const { return maskDlg_; }
    const std::vector<CBaseDialog*>& children() const { return children_; }
    const std::vector<DialogPoint>& offsets() const { return offsets_; }
    bool closing() const override { return closing_.closing(); }
    // The loop has been asked to end (or will not start).
    bool loopEnded() const { return closing_.loopEnded(); }

private:
    static gboolean onDrawBackground(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean onDelete(GtkWidget* widget, GdkEvent* event, gpointer self);
    static gboolean onWindowMessage(gint fd, GIOCondition condition, gpointer self);
    static gboolean onConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer self);
    void addChild(CBaseDialog* child, DialogPoint offset);
    void showChildrenFrom(size_t index);
    void startCloseWait(unsigned milliseconds) override;
    void closeChildren() override;
    void endLoop() override;

    WindowServices services_;
    GtkWidget* window_ = nullptr;
    GtkWidget* overlay_ = nullptr;
    std::vector<CBaseDialog*> children_;
    std::vector<DialogPoint> offsets_;
    CVeltranoDlg* mainDlg_ = nullptr;
    CWebDialog* webDlg_ = nullptr;
    CVeltranoMaskDlg* maskDlg_ = nullptr;
    bool composited_ = false;
    ClosingSequence closing_{*this, services_};
    bool running_ = false;
    int lastX_ = 0, lastY_ = 0;
    bool placed_ = false;
    std::vector<guint> timeouts_;
    std::unique_ptr<WindowMessageReceiver> receiver_;
    guint receiverWatch_ = 0;
};

}  // namespace veltrano
