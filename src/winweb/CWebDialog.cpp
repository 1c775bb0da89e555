#include "winweb/CWebDialog.h"

#include <utility>

#include "config/Log.h"
#include "platform/FileUtils.h"
#include "platform/Wide.h"
#include "winweb/CXWebBrowser2.h"

namespace veltrano {

namespace {

const wchar_t kWindowClass[] = L"VeltranoWebDialog";

std::string localPagePath() {
    FileUtils* files = FileUtils::instance();
    return files ? files->launcherDirectory() + "res/index.html" : std::string();
}

}  // namespace

CWebDialog::CWebDialog(std::string pageAddress, Hooks hooks)
    : pageAddress_(std::move(pageAddress)), hooks_(std::move(hooks)) {}

CWebDialog::~CWebDialog() {
    Close();
    // Deleted here, not when the window goes: a close may arrive while a page's call is still
    // running inside the browser object.
    delete browser_;
}

bool CWebDialog::Create(HWND owner, int x, int y, int width, int height) {
    if (hwnd_) return false;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!GetClassInfoExW(instance, kWindowClass, &wc)) {
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = windowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = kWindowClass;
        if (!RegisterClassExW(&wc)) {
            writeLog("web dialog: window class not registered, error %lu", GetLastError());
            return false;
        }
    }
    width_ = width;
    height_ = height;
    if (!CreateWindowExW(0, kWindowClass, L"", WS_POPUP | WS_CLIPCHILDREN, x, y, width, height, owner,
                         nullptr, instance, this)) {
        writeLog("web dialog: window not created, error %lu", GetLastError());
        hwnd_ = nullptr;
        return false;
    }
    // A browser from an earlier window of this object is replaced.
    delete browser_;
    browser_ = nullptr;
    auto* browser =
        new CXWebBrowser2(pageAddress_, localPagePath(), hooks_.onLogin, hooks_.isDownloadComplete);
    if (browser->create(hwnd_)) {
        browser_ = browser;
        // Script errors of the portal page never open the engine's dialogs over the launcher.
        browser_->setSilent(true);
    } else {
        writeLog("web dialog: the browser control could not be created");
        delete browser;
    }
    return true;
}

void CWebDialog::loadPages() {
    if (!browser_) return;
    const std::string local = localPagePath();
    FileUtils* files = FileUtils::instance();
    if (files && !local.empty() && files->fileExists(local)) browser_->navigate(toWidePath(local));
    std::string portal = hooks_.buildWebUrl ? hooks_.buildWebUrl() : std::string();
    if (portal.empty()) portal = pageAddress_;
    browser_->navigate(toWide(portal));
}

void CWebDialog::Show(bool visible) {
    if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
}

void CWebDialog::moveTo(int x, int y) {
    if (hwnd_) SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool CWebDialog::preTranslateMessage(MSG* msg) {
    return browser_ && browser_->translateAccelerator(msg);
}

void CWebDialog::Close() {
    if (hwnd_) DestroyWindow(hwnd_);
}

void CWebDialog::applyRoundedRegion() {
    RECT client;
    if (!hwnd_ || !GetClientRect(hwnd_, &client)) return;
    HRGN region = CreateRoundRectRgn(client.left, client.top, client.right, client.bottom, kCornerEllipse,
                                     kCornerEllipse);
    // The window owns the region once it is set.
    if (region && !SetWindowRgn(hwnd_, region, TRUE)) DeleteObject(region);
}

LRESULT CALLBACK CWebDialog::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<CWebDialog*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CWebDialog*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
        case WM_SIZE:
            // The region is the window's own and moves with it; only a new size needs a new one.
            self->applyRoundedRegion();
            break;
        case WM_DESTROY:
            if (self->browser_) self->browser_->close();
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace veltrano
