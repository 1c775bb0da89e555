#include "winui/CVeltranoDlg.h"

#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <chrono>
#include <vector>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "platform/CommandLine.h"
#include "platform/Wide.h"
#include "winui/Game_MainDialog.h"

namespace veltrano {

CVeltranoDlg::CVeltranoDlg(Game_MainDialog* owner, HWND parent, WindowServices services)
    : CBaseDialog(owner, parent),
      services_(std::move(services)),
      model_(std::make_shared<ProgressModel>(skinLayoutFrom(*LauncherConfig::instance()),
                                             LauncherConfig::instance()->downlaod_text())),
      login_(this, owner, services_) {
    icon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(135));
    bgImage_ = loadImage(skinImagePath("/res/bg.png"));
    processImage_ = loadImage(skinImagePath("/res/process.png"));
    processBgImage_ = loadImage(skinImagePath("/res/process_bg.png"));
    closeImage_ = loadImage(skinImagePath("/res/close.png"));
}

CVeltranoDlg::~CVeltranoDlg() {
    if (hwnd_) KillTimer(hwnd_, kTimerId);
}

bool CVeltranoDlg::OnInitDialog() {
    const LauncherConfig& cfg = *LauncherConfig::instance();
    placeCentred(cfg.win_width(), cfg.win_height());
    FindSystemFont();
    writeLog("CVeltranoDlg FindSystemFont end");
    login_.starter().setLauncherCommandLine(applicationCommandLine());
    if (icon_) {
        SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    }
    SetTimer(hwnd_, kTimerId, kTimerPeriodMs, nullptr);
    startUpdate(services_, model_);
    writeLog("CVeltranoDlg Updater start");
    UpdateView();
    login_.listen();
    writeLog("CVeltranoDlg End UpdateView");
    return true;
}

LRESULT CVeltranoDlg::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (wParam == kTimerId) tick();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(icon_);
        case WM_LBUTTONDOWN:
            OnLButtonDown(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return 0;
        case WM_MOVING: {
            const auto* r = reinterpret_cast<const RECT*>(lParam);
            if (r) OnMove(r->left, r->top);
            return TRUE;
        }
        case WM_EXITSIZEMOVE:
            // A window system may raise the dragged window above the ones it owns (wine without a
            // window manager does): the page and the mask go back on top.
            if (owner_) owner_->restackChildren();
            return 0;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMaxSize.x = GetSystemMetrics(SM_CXMAXIMIZED) - 2 * GetSystemMetrics(SM_CXFRAME);
            info->ptMaxSize.y = GetSystemMetrics(SM_CYMAXIMIZED) - 2 * GetSystemMetrics(SM_CYFRAME);
            info->ptMinTrackSize.x = 200;
            info->ptMinTrackSize.y = 100;
            return defaultProcessing(message, wParam, lParam);
        }
        case WM_COPYDATA: {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (data) OnCopyData(static_cast<uint64_t>(data->dwData));
            return TRUE;
        }
        default:
            return CBaseDialog::handleMessage(message, wParam, lParam);
    }
}

void CVeltranoDlg::OnUpdaterEvent(unsigned state, int code, double total, double done) {
    model_->onUpdaterEvent(state, code, total, done);
}

void CVeltranoDlg::gameStarted() {
    if (owner_) owner_->quit();
}

void CVeltranoDlg::showStartError(const std::string& message) {
    MessageBoxW(nullptr, toWide(message).c_str(), L"系统提示", MB_OK);
}

void CVeltranoDlg::wait(int milliseconds) {
    if (milliseconds <= 0) return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        // Wakes for every message, and at the end of the pause at the latest.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Left for the owner's loop, which ends on it.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void CVeltranoDlg::FindSystemFont() {
    std::vector<std::string> families;
    Gdiplus::InstalledFontCollection installed;
    const INT count = installed.GetFamilyCount();
    if (count > 0) {
        std::vector<Gdiplus::FontFamily> list(static_cast<size_t>(count));
        INT found = 0;
        installed.GetFamilies(count, list.data(), &found);
        for (INT i = 0; i < found; ++i) {
            WCHAR name[LF_FACESIZE] = {};
            if (list[static_cast<size_t>(i)].GetFamilyName(name, LANG_NEUTRAL) == Gdiplus::Ok)
                families.push_back(fromWide(name));
        }
    }
    fontName_ = chooseFont(families, LauncherConfig::instance()->font());
}

bool CVeltranoDlg::UpdateView() {
    ViewFrame f = currentFrame(*model_, services_);
    // The picture stays with the system between compositions; only a change needs a new one.
    if (framed_ && f == frame_) return false;
    frame_ = std::move(f);
    if (!composeLayered(0, [this](Gdiplus::Graphics& g, int w, int h) { draw(g, w, h); })) return false;
    framed_ = true;
    ++redraws_;
    return true;
}

void CVeltranoDlg::draw(Gdiplus::Graphics& g, int w, int h) {
    const LauncherConfig& cfg = *LauncherConfig::instance();
    drawImage(g, bgImage_.get(), 0, 0, w, h);
    drawImage(g, closeImage_.get(), cfg.close_btn_x(), cfg.close_btn_y(), cfg.close_btn_width(),
              cfg.close_btn_height());
    drawImage(g, processBgImage_.get(), cfg.process_x(), cfg.process_y(), cfg.process_bg_width(),
              cfg.process_bg_height());
    const FillRect& fill = frame_.fill;
    if (processImage_ && fill.width > 0 && fill.height > 0) {
        // Cropped from the left at the image's own scale, never stretched.
        const INT fw = static_cast<INT>(fill.width), fh = static_cast<INT>(fill.height);
        g.DrawImage(processImage_.get(), Gdiplus::Rect(fill.x, fill.y, fw, fh), 0, 0, fw, fh,
                    Gdiplus::UnitPixel);
    }
    if (frame_.hasText && !frame_.text.empty()) {
        const std::wstring family = toWide(fontName_);
        const std::wstring text = toWide(frame_.text);
        Gdiplus::FontFamily fontFamily(family.c_str());
        Gdiplus::Font font(&fontFamily, static_cast<Gdiplus::REAL>(cfg.font_size()),
                           Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
        Gdiplus::SolidBrush brush(Gdiplus::Color(255, static_cast<BYTE>(cfg.font_color_r()),
                                                 static_cast<BYTE>(cfg.font_color_g()),
                                                 static_cast<BYTE>(cfg.font_color_b())));
        Gdiplus::StringFormat format;
        format.SetAlignment(Gdiplus::StringAlignmentCenter);
        format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
        // Grey-scale smoothing: coloured sub-pixels would show as fringes over the transparent parts.
        g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
        Gdiplus::RectF box(static_cast<Gdiplus::REAL>(cfg.download_text_x()),
                           static_cast<Gdiplus::REAL>(cfg.download_text_y()),
                           static_cast<Gdiplus::REAL>(cfg.process_bg_width()),
                           static_cast<Gdiplus::REAL>(cfg.process_bg_height()));
        g.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, box, &format, &brush);
    }
}

void CVeltranoDlg::pollUpdater() {
    const ProgressModel::PollResult r = model_->poll(windowNow(services_));
    reportPoll(r, model_->speedText(), services_);
    if (r.errorCode) showError(r.errorCode);
}

void CVeltranoDlg::tick() {
    if (services_.tickScheduler) services_.tickScheduler(kTimerPeriodMs / 1000.0f);
    UpdateView();
    pollUpdater();
}

void CVeltranoDlg::showError(int code) {
    const std::string text = formatErrorText(LauncherConfig::instance()->error_text(), code);
    writeLog("CVeltranoDlg error box: %s", text.c_str());
    // The box's own loop keeps dispatching the timer; the code is already marked shown, so the
    // ticks meanwhile open no second box.
    MessageBoxW(nullptr, toWide(text).c_str(), L"系统提示", MB_OK);
    // The window's own close request, which it ignores.
    SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

bool CVeltranoDlg::OnCopyData(uint64_t dwData) {
    if (isQuitRequest(dwData, LauncherConfig::instance()->process_data_type()) && owner_) owner_->quit();
    return true;
}

void CVeltranoDlg::OnMove(int /*x*/, int /*y*/) {
    if (!owner_ || !hwnd_) return;
    // The window rectangle, not the client point WM_MOVE carries: the stack follows the window's corner.
    RECT r;
    GetWindowRect(hwnd_, &r);
    if (HWND ownerWindow = owner_->hwnd())
        SetWindowPos(ownerWindow, nullptr, r.left, r.top, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    owner_->moveChildren(this, r.left, r.top);
}

void CVeltranoDlg::OnLButtonDown(int x, int y) {
    if (closeButtonHit(skinLayoutFrom(*LauncherConfig::instance()), x, y)) {
        if (owner_ && owner_->hwnd()) SendMessageW(owner_->hwnd(), WM_CLOSE, 0, 0);
        return;
    }
    // The system drags the window with the mouse, as if the caption had been grabbed.
    SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

}  // namespace veltrano
