#include "winui/WindowTarget.h"

namespace veltrano {

namespace {

// The icon in the program's resources.
constexpr int kIconResource = 135;

}  // namespace

WindowTarget::~WindowTarget() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

bool WindowTarget::createWindow(const wchar_t* className, DWORD exStyle, const std::wstring& text,
                                HWND parent) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
    wc.lpszClassName = className;
    // A second window of the same kind finds the class registered already.
    RegisterClassExW(&wc);
    // Nothing of the system's frame ever shows: the popup has none from the start.
    CreateWindowExW(exStyle, className, text.c_str(), WS_POPUP, 0, 0, 0, 0, parent, nullptr, instance, this);
    return hwnd_ != nullptr;
}

LRESULT CALLBACK WindowTarget::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* target = static_cast<WindowTarget*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(target));
        target->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<WindowTarget*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->handleMessage(message, wParam, lParam);
}

}  // namespace veltrano
