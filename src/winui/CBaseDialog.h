#pragma once
// Common ground of the launcher's skinned windows on Windows: borderless popups owned by the
// launcher's invisible owner window, drawn as layered windows whose picture's alpha decides what is
// visible and what takes clicks.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "winui/WindowTarget.h"

namespace Gdiplus {
class Graphics;
class Image;
}  // namespace Gdiplus

namespace veltrano {

class Game_MainDialog;

// Sizes a window and centres it on the work area of its screen.
void centreWindow(HWND hwnd, int width, int height);

// Draws a whole window anew from a transparent picture of its size and hands it to the system with
// its per-pixel alpha. `extraExStyle` is added with WS_EX_LAYERED when the window is not layered
// yet. False when the picture could not be made (a window of no size): the window keeps its last one.
bool composeLayered(HWND hwnd, const BLENDFUNCTION& blend, DWORD extraExStyle,
                    const std::function<void(Gdiplus::Graphics&, int w, int h)>& draw);

class CBaseDialog : public WindowTarget {
public:
    // `parent` becomes the window's owner in the system's sense, which keeps it above that window.
    CBaseDialog(Game_MainDialog* owner, HWND parent);
    virtual ~CBaseDialog();

    // Close request: passed to the owner when there is one and forwarding is on, else the default
    // close (the window is destroyed).
    virtual void OnClose();
    virtual int OnInit() { return 1; }
    virtual void OnMove(int /*x*/, int /*y*/) {}
    void setForwardCloseToOwner(bool forward) { forwardCloseToOwner_ = forward; }
    const RECT& initialRect() const { return initialRect_; }
    // Places the window's top-left at (x, y) on the screen, keeping its size.
    void moveTo(int x, int y);
    virtual void show();
    // Creates the hidden window and runs its initialisation; false when the window cannot be made.
    bool create();

    Game_MainDialog* owner() const { return owner_; }

    // A PNG (or any image GDI+ reads); null for a missing or unreadable file, which draws nothing.
    static std::unique_ptr<Gdiplus::Image> loadImage(const std::string& utf8Path);
    // Paints a whole image stretched over (x, y, w, h); nothing for a null image.
    static void drawImage(Gdiplus::Graphics& g, Gdiplus::Image* image, int x, int y, int w, int h);

protected:
    // The window class (one per kind of window) and the name the window carries.
    virtual const wchar_t* className() const = 0;
    virtual std::wstring windowText() const { return {}; }
    // Extended styles the window is created with.
    virtual DWORD extendedStyle() const { return WS_EX_TOOLWINDOW; }
    // The window's message map; what it does not handle goes to defaultProcessing.
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT defaultProcessing(UINT message, WPARAM wParam, LPARAM lParam);
    // The base initialisation: the init hook, then the initial rectangle.
    virtual bool OnInitDialog();
    // Sizes the window and centres it on the work area of its screen.
    void placeCentred(int width, int height) { centreWindow(hwnd_, width, height); }

    bool composeLayered(DWORD extraExStyle,
                        const std::function<void(Gdiplus::Graphics&, int w, int h)>& draw) {
        return veltrano::composeLayered(hwnd_, blend_, extraExStyle, draw);
    }

    Game_MainDialog* owner_;
    HWND parent_;
    bool forwardCloseToOwner_ = true;
    RECT initialRect_{0, 0, 0, 0};
    BLENDFUNCTION blend_{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
};

}  // namespace veltrano
