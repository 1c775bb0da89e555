#pragma once
// A picture laid over the page and the main window, drawn once from its image, that lets every
// click through to what lies below.

#include "ui/CBaseDialog.h"

namespace veltrano {

class CVeltranoMaskDlg : public CBaseDialog {
public:
    explicit CVeltranoMaskDlg(DialogOwner* owner);
    ~CVeltranoMaskDlg() override;

    // The mask moves with the stack by itself.
    void OnMove(int, int) override {}
    bool hasImage() const { return composed_ != nullptr; }

protected:
    GtkWidget* createWidget() override;
    bool OnInitDialog() override;

private:
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static void onRealize(GtkWidget* widget, gpointer self);

    cairo_surface_t* maskImage_ = nullptr;
    // The composition, made once; later draws only paint it again.
    cairo_surface_t* composed_ = nullptr;
};

}  // namespace veltrano
