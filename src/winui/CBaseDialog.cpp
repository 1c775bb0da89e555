#include "winui/CBaseDialog.h"

// GDI+'s headers expect the COM declarations and the min/max helpers of the Windows headers.
#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <cstring>

#include "platform/Wide.h"
#include "winui/Game_MainDialog.h"

namespace veltrano {

CBaseDialog::CBaseDialog(Game_MainDialog* owner, HWND parent) : owner_(owner), parent_(parent) {}

CBaseDialog::~CBaseDialog() = default;

bool CBaseDialog::create() {
    if (!createWindow(className(), extendedStyle(), windowText(), parent_)) return false;
    return OnInitDialog();
}

bool CBaseDialog::OnInitDialog() {
    OnInit();
    GetWindowRect(hwnd_, &initialRect_);
    return true;
}

LRESULT CBaseDialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_MOVE:
            OnMove(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return 0;
        default:
            return defaultProcessing(message, wParam, lParam);
    }
}

LRESULT CBaseDialog::defaultProcessing(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void CBaseDialog::OnClose() {
    if (owner_ && forwardCloseToOwner_ && owner_->hwnd()) {
        SendMessageW(owner_->hwnd(), WM_CLOSE, 0, 0);
        return;
    }
    if (hwnd_) defaultProcessing(WM_CLOSE, 0, 0);
}

void CBaseDialog::moveTo(int x, int y) {
    if (hwnd_) SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
}

void CBaseDialog::show() {
    if (hwnd_) ShowWindow(hwnd_, SW_SHOW);
}

void centreWindow(HWND hwnd, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &info)) area = info.rcWork;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(hwnd, HWND_TOP, x, y, width, height, SWP_NOACTIVATE);
}

bool composeLayered(HWND hwnd, const BLENDFUNCTION& blend, DWORD extraExStyle,
                    const std::function<void(Gdiplus::Graphics&, int w, int h)>& draw) {
    if (!hwnd) return false;
    RECT r;
    GetWindowRect(hwnd, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const LONG_PTR ex = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    if (!(ex & WS_EX_LAYERED)) SetWindowLongPtrW(hwnd, GWL_EXSTYLE, ex | WS_EX_LAYERED | extraExStyle);
    if (w <= 0 || h <= 0) return false;

    HDC screen = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    // Rows top-down, so that the GDI+ bitmap below can draw straight into them.
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(w) * 4 * static_cast<DWORD>(h);
    void* bits = nullptr;
    HBITMAP dib = memory ? CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    bool ok = dib && bits;
    if (ok) {
        std::memset(bits, 0, info.bmiHeader.biSizeImage);
        HGDIOBJ previous = SelectObject(memory, dib);
        {
            // Premultiplied, as the system wants the picture of a per-pixel-alpha window.
            Gdiplus::Bitmap canvas(w, h, w * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
            Gdiplus::Graphics g(&canvas);
            g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
            g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
            draw(g, w, h);
            g.Flush(Gdiplus::FlushIntentionSync);
        }
        POINT destination{r.left, r.top};
        SIZE size{w, h};
        POINT source{0, 0};
        ok = UpdateLayeredWindow(hwnd, screen, &destination, &size, memory, &source, 0,
                                 const_cast<BLENDFUNCTION*>(&blend), ULW_ALPHA);
        SelectObject(memory, previous);
    }
    if (dib) DeleteObject(dib);
    if (memory) DeleteDC(memory);
    ReleaseDC(hwnd, screen);
    return ok;
}

std::unique_ptr<Gdiplus::Image> CBaseDialog::loadImage(const std::string& utf8Path) {
    const std::wstring path = toWide(utf8Path);
    auto image = std::make_unique<Gdiplus::Image>(path.c_str());
    if (image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0 || image->GetHeight() == 0)
        return nullptr;
    return image;
}

void CBaseDialog::drawImage(Gdiplus::Graphics& g, Gdiplus::Image* image, int x, int y, int w, int h) {
    if (!image || w <= 0 || h <= 0) return;
    // Mirrored edges keep a stretched image from fading into transparency along its border.
    Gdiplus::ImageAttributes edges;
    edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    g.DrawImage(image, Gdiplus::Rect(x, y, w, h), 0, 0, static_cast<INT>(image->GetWidth()),
                static_cast<INT>(image->GetHeight()), Gdiplus::UnitPixel, &edges);
}

}  // namespace veltrano
