#include "winui/Game_MainDialog.h"

#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "platform/Wide.h"
#include "winui/CVeltranoDlg.h"
#include "winui/CVeltranoMaskDlg.h"
#ifdef VELTRANO_WEB_DIALOG
#include "winweb/CWebDialog.h"
#endif

namespace veltrano {

namespace {

constexpr UINT_PTR kShowTimer = 1;
constexpr UINT_PTR kCloseTimer = 2;

}  // namespace

HWND Game_MainDialog::Child::hwnd() const {
#ifdef VELTRANO_WEB_DIALOG
    if (web) return web->hwnd();
#endif
    return dialog ? dialog->hwnd() : nullptr;
}

void Game_MainDialog::Child::show() const {
#ifdef VELTRANO_WEB_DIALOG
    if (web) web->Show(true);
#endif
    if (dialog) dialog->show();
}

void Game_MainDialog::Child::close() const {
#ifdef VELTRANO_WEB_DIALOG
    if (web) web->Close();
#endif
    if (dialog && dialog->hwnd()) SendMessageW(dialog->hwnd(), WM_CLOSE, 0, 0);
}

Game_MainDialog::Game_MainDialog(WindowServices services) : services_(std::move(services)) {}

Game_MainDialog::~Game_MainDialog() {
    // The owner window goes first: nothing of the closing may reach the children being deleted.
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        delete it->dialog;
#ifdef VELTRANO_WEB_DIALOG
        delete it->web;
#endif
    }
}

bool Game_MainDialog::OnInitDialog() {
    const LauncherConfig& cfg = *LauncherConfig::instance();
    if (!createWindow(L"Game_MainDialog", WS_EX_LAYERED, toWide(cfg.app_name()), nullptr)) {
        writeLog("the launcher's owner window cannot be created: error %lu", GetLastError());
        return false;
    }
    centreWindow(hwnd_, cfg.win_width(), cfg.win_height());
    // Wholly transparent through an empty picture rather than a constant alpha of 0: the picture's
    // alpha also hides the window where no compositing manager would apply a constant one.
    composeLayered(hwnd_, BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}, 0,
                   [](Gdiplus::Graphics&, int, int) {});
    if (services_.setSenderWindow)
        services_.setSenderWindow(static_cast<int64_t>(reinterpret_cast<intptr_t>(hwnd_)));

    mainDlg_ = new CVeltranoDlg(this, hwnd_, services_);
    if (!mainDlg_->create()) {
        writeLog("the launcher window cannot be created: error %lu", GetLastError());
        delete mainDlg_;
        mainDlg_ = nullptr;
        return false;
    }
    children_.push_back({mainDlg_, nullptr, {0, 0}});
    closing_.watch(&mainDlg_->login());

    RECT main;
    GetWindowRect(mainDlg_->hwnd(), &main);
    createWebDialog(mainDlg_->hwnd(), main.left + cfg.web_x(), main.top + cfg.web_y());

    HWND maskParent = webDlg_ ? children_.back().hwnd() : mainDlg_->hwnd();
    maskDlg_ = new CVeltranoMaskDlg(this, maskParent);
    if (maskDlg_->create()) {
        maskDlg_->show();
        children_.push_back({maskDlg_, nullptr, {0, 0}});
    } else {
        writeLog("the mask window cannot be created: error %lu", GetLastError());
        delete maskDlg_;
        maskDlg_ = nullptr;
    }

    // Brings the whole stack to the main window's place.
    GetWindowRect(mainDlg_->hwnd(), &main);
    SetWindowPos(hwnd_, nullptr, main.left, main.top, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    moveChildren(mainDlg_, main.left, main.top);

    ShowWindow(hwnd_, SW_SHOWNA);
    // The children appear from the top down, a short step apart, while the loop runs.
    nextToShow_ = children_.size();
    showNextChild();
    return true;
}

void Game_MainDialog::createWebDialog(HWND parent, int x, int y) {
#ifdef VELTRANO_WEB_DIALOG
    const LauncherConfig& cfg = *LauncherConfig::instance();
    CWebDialog::Hooks hooks;
    hooks.onLogin = services_.onLogin;
    hooks.isDownloadComplete = services_.isDownloadComplete;
    hooks.buildWebUrl = services_.buildWebUrl;
    auto* web = new CWebDialog(cfg.web_url(), std::move(hooks));
    if (!web->Create(parent, x, y, cfg.web_size_width(), cfg.web_size_height())) {
        writeLog("the web dialog cannot be created: error %lu", GetLastError());
        delete web;
        return;
    }
    web->loadPages();
    webDlg_ = web;
    children_.push_back({nullptr, web, {cfg.web_x(), cfg.web_y()}});
#else
    // SEAM: this build has no web dialog library; the launcher shows no page.
    (void)parent;
    (void)x;
    (void)y;
    writeLog("the web dialog is not part of this build");
#endif
}

void Game_MainDialog::showNextChild() {
    if (nextToShow_ == 0) {
        KillTimer(hwnd_, kShowTimer);
        return;
    }
    children_[--nextToShow_].show();
    if (nextToShow_ == 0)
        KillTimer(hwnd_, kShowTimer);
    else
        SetTimer(hwnd_, kShowTimer, kShowStepMs, nullptr);
}

int Game_MainDialog::moveChildren(const void* skip, int x, int y) {
    for (const Child& child : children_) {
        if (child.dialog == skip || child.web == skip) continue;
        if (HWND h = child.hwnd())
            SetWindowPos(h, nullptr, x + child.offset.x, y + child.offset.y, 0, 0,
                         SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return static_cast<int>(children_.size());
}

void Game_MainDialog::restackChildren() {
    for (const Child& child : children_) {
        if (child.dialog == mainDlg_) continue;
        if (HWND h = child.hwnd())
            SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void Game_MainDialog::run() {
    MSG msg;
    while (!closing_.loopEnded()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        // WM_QUIT (a started game) ends the loop as the end of the closing does.
        if (got <= 0) break;
#ifdef VELTRANO_WEB_DIALOG
        // The page's keys go to the browser control first.
        if (webDlg_ && webDlg_->preTranslateMessage(&msg)) continue;
#endif
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    closing_.loopStopped();
}

void Game_MainDialog::startCloseWait(unsigned milliseconds) {
    SetTimer(hwnd_, kCloseTimer, milliseconds, nullptr);
}

void Game_MainDialog::closeChildren() {
    for (const Child& child : children_) child.close();
}

void Game_MainDialog::endLoop() {
    // Wakes the loop, which then sees that it has ended.
    PostMessageW(hwnd_, WM_NULL, 0, 0);
}

LRESULT Game_MainDialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            OnClose();
            return 0;
        case WM_TIMER:
            if (wParam == kShowTimer) {
                showNextChild();
            } else if (wParam == kCloseTimer) {
                KillTimer(hwnd_, kCloseTimer);
                closing_.waitEnded();
            }
            return 0;
        default:
            return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

}  // namespace veltrano
