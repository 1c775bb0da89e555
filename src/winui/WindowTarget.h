#pragma once
// A C++ object that owns one window of its own class and receives the window's messages.

#include <windows.h>

#include <string>

namespace veltrano {

class WindowTarget {
public:
    WindowTarget() = default;
    // Destroys the window; its last messages no longer reach the object.
    virtual ~WindowTarget();
    WindowTarget(const WindowTarget&) = delete;
    WindowTarget& operator=(const WindowTarget&) = delete;

    HWND hwnd() const { return hwnd_; }

protected:
    virtual LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // A hidden popup without caption or frame, of the class (registered on first use), owned by
    // `parent`; its messages come to handleMessage from WM_NCCREATE on. False when it cannot be made.
    bool createWindow(const wchar_t* className, DWORD exStyle, const std::wstring& text, HWND parent);

    HWND hwnd_ = nullptr;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace veltrano
