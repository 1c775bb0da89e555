#pragma once
// The part that carries the portal's login page on Windows: a borderless popup owned by the launcher
// window, with rounded corners, hosting the browser control.

#include <windows.h>

#include <functional>
#include <string>

namespace veltrano {

class CXWebBrowser2;

class CWebDialog {
public:
    // Corner ellipse of the page's rounded rectangle.
    static constexpr int kCornerEllipse = 100;

    // What the page reaches in the launcher. Every question is asked at the time of the page's call,
    // so nothing has to be pushed into the dialog when the update finishes.
    struct Hooks {
        // The page's AppLogin message as text.
        std::function<void(const std::string& message)> onLogin;
        // The answer of IsDownLoadComplete.
        std::function<bool()> isDownloadComplete;
        // The portal address to load after the local page; empty or unset means the page address.
        std::function<std::string()> buildWebUrl;
    };

    // pageAddress: the configured page; its origin (or the page itself) and the local page get the
    // bridge.
    CWebDialog(std::string pageAddress, Hooks hooks);
    ~CWebDialog();
    CWebDialog(const CWebDialog&) = delete;
    CWebDialog& operator=(const CWebDialog&) = delete;

    // Creates the hidden window owned by `owner` at (x, y) in screen coordinates with the given size,
    // then the browser over its client area. False only when the window cannot be made; a browser
    // that cannot be created leaves the window empty and browser() null.
    bool Create(HWND owner, int x, int y, int width, int height);
    // Loads "res/index.html" beside the launcher when it exists, then the portal address.
    void loadPages();
    void Show(bool visible);
    // Moves the window (screen coordinates) without resizing it or changing the z-order.
    void moveTo(int x, int y);
    // For the launcher's message loop, before dispatching: keyboard messages of the page go to the
    // browser control first. True when the message was taken and must not be dispatched.
    bool preTranslateMessage(MSG* msg);
    // Destroys the window and closes the browser control in it, as a WM_CLOSE to the window does.
    void Close();

    HWND hwnd() const { return hwnd_; }
    CXWebBrowser2* browser() const { return browser_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void applyRoundedRegion();

    std::string pageAddress_;
    Hooks hooks_;
    HWND hwnd_ = nullptr;
    CXWebBrowser2* browser_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace veltrano
