#include "ui/CVeltranoMaskDlg.h"

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "window/ViewMath.h"

namespace veltrano {

CVeltranoMaskDlg::CVeltranoMaskDlg(DialogOwner* owner) : CBaseDialog(owner) {
    maskImage_ = loadImage(skinImagePath("/res/mask.png"));
}

CVeltranoMaskDlg::~CVeltranoMaskDlg() {
    if (maskImage_) cairo_surface_destroy(maskImage_);
    if (composed_) cairo_surface_destroy(composed_);
}

GtkWidget* CVeltranoMaskDlg::createWidget() {
    writeLog("CVeltranoMaskDlg::OnCreate()");
    GtkWidget* area = gtk_drawing_area_new();
    g_signal_connect(area, "draw", G_CALLBACK(onDraw), this);
    g_signal_connect(area, "realize", G_CALLBACK(onRealize), this);
    return area;
}

bool CVeltranoMaskDlg::OnInitDialog() {
    writeLog("CVeltranoMaskDlg::OnInitDialog()");
    const LauncherConfig& cfg = *LauncherConfig::instance();
    int w = cfg.win_width() > 0 ? cfg.win_width() : 0;
    int h = cfg.win_height() > 0 ? cfg.win_height() : 0;
    setRect(0, 0, w, h);
    if (maskImage_ && w > 0 && h > 0) {
        composed_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        if (cairo_surface_status(composed_) == CAIRO_STATUS_SUCCESS) {
            cairo_t* cr = cairo_create(composed_);
            cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
            drawImage(cr, maskImage_, 0, 0, w, h);
            cairo_destroy(cr);
        } else {
            cairo_surface_destroy(composed_);
            composed_ = nullptr;
        }
    }
    return true;
}

void CVeltranoMaskDlg::onRealize(GtkWidget* widget, gpointer) {
    // The overlay's pass-through alone still lets the area's own window take the clicks.
    if (GdkWindow* window = gtk_widget_get_window(widget)) gdk_window_set_pass_through(window, TRUE);
}

gboolean CVeltranoMaskDlg::onDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    auto* mask = static_cast<CVeltranoMaskDlg*>(self);
    if (mask->composed_) {
        cairo_set_source_surface(cr, mask->composed_, 0, 0);
        cairo_paint(cr);
    }
    return FALSE;
}

}  // namespace veltrano
