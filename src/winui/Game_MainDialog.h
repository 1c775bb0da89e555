#pragma once
// The launcher's owner window on Windows: wholly transparent, it creates the stack of windows (main
// window, web page, mask), keeps them together, runs the launcher's message loop and the closing.

#include <windows.h>

#include <memory>
#include <vector>

#include "window/ClosingSequence.h"
#include "window/WindowServices.h"
#include "winui/WindowTarget.h"

namespace veltrano {

class CBaseDialog;
class CVeltranoDlg;
class CVeltranoMaskDlg;
class CWebDialog;

class Game_MainDialog : public WindowTarget, public GameStartOwner, private ClosingSequence::Steps {
public:
    static constexpr UINT kShowStepMs = 100;

    explicit Game_MainDialog(WindowServices services);
    ~Game_MainDialog();

    // Creates the owner window and the stack; false when the owner or the main window cannot be made.
    bool OnInitDialog();
    // The launcher's message loop, until the launcher closes or quits.
    void run();
    // The closing sequence: report 1014, the wait, the children closed, the portal told, loop ended.
    // During a game start it calls the start off if the game has not run yet, and closes once the
    // start has ended (nothing more when the game runs).
    void OnClose() { closing_.requestClose(); }
    void gameStartEnded() override { closing_.gameStartEnded(); }
    // Ends the loop without the closing sequence (the game started, or a quit request).
    void quit() { closing_.quit(); }
    // Moves every child but `skip` to (x, y) plus its offset; returns the number of children.
    int moveChildren(const void* skip, int x, int y);
    // Puts the children above the main window again, in their order.
    void restackChildren();

    CVeltranoDlg* mainWindow() const { return mainDlg_; }
    CVeltranoMaskDlg* mask() const { return maskDlg_; }
    CWebDialog* webDialog() const { return webDlg_; }
    bool closing() const override { return closing_.closing(); }

private:
    // A child of the stack: a skinned window, or the web page.
    struct Child {
        CBaseDialog* dialog = nullptr;
        CWebDialog* web = nullptr;
        POINT offset{0, 0};
        HWND hwnd() const;
        void show() const;
        void close() const;
    };

    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void createWebDialog(HWND parent, int x, int y);
    void showNextChild();
    void startCloseWait(unsigned milliseconds) override;
    void closeChildren() override;
    void endLoop() override;

    WindowServices services_;
    std::vector<Child> children_;
    CVeltranoDlg* mainDlg_ = nullptr;
    CWebDialog* webDlg_ = nullptr;
    CVeltranoMaskDlg* maskDlg_ = nullptr;
    size_t nextToShow_ = 0;
    ClosingSequence closing_{*this, services_};
};

}  // namespace veltrano
