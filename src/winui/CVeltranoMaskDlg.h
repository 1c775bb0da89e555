#pragma once
// The click-through overlay above the page, drawn once from "res/mask.png".

#include <memory>

#include "winui/CBaseDialog.h"

namespace veltrano {

class CVeltranoMaskDlg : public CBaseDialog {
public:
    CVeltranoMaskDlg(Game_MainDialog* owner, HWND parent);
    ~CVeltranoMaskDlg() override;

    // Moving only moves this window: the main window leads the stack.
    void OnMove(int /*x*/, int /*y*/) override {}
    // A close request closes the mask itself.
    void OnClose() override { defaultProcessing(WM_CLOSE, 0, 0); }

protected:
    const wchar_t* className() const override { return L"CVeltranoMaskDlg"; }
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnInitDialog() override;

private:
    std::unique_ptr<Gdiplus::Image> maskImage_;
};

}  // namespace veltrano
