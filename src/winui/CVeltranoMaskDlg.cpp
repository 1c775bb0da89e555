#include "winui/CVeltranoMaskDlg.h"

#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "window/ViewMath.h"

namespace veltrano {

CVeltranoMaskDlg::CVeltranoMaskDlg(Game_MainDialog* owner, HWND parent) : CBaseDialog(owner, parent) {
    maskImage_ = loadImage(skinImagePath("/res/mask.png"));
}

CVeltranoMaskDlg::~CVeltranoMaskDlg() = default;

LRESULT CVeltranoMaskDlg::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) writeLog("CVeltranoMaskDlg::OnCreate()");
    return CBaseDialog::handleMessage(message, wParam, lParam);
}

bool CVeltranoMaskDlg::OnInitDialog() {
    writeLog("CVeltranoMaskDlg::OnInitDialog()");
    const LauncherConfig& cfg = *LauncherConfig::instance();
    placeCentred(cfg.win_width(), cfg.win_height());
    // Layered and transparent together: every click passes through to the windows below.
    composeLayered(WS_EX_TRANSPARENT, [this](Gdiplus::Graphics& g, int w, int h) {
        drawImage(g, maskImage_.get(), 0, 0, w, h);
    });
    return true;
}

}  // namespace veltrano
