#include "ui/CBaseDialog.h"

#include <algorithm>
#include <cmath>

#include "config/Log.h"

namespace veltrano {

CBaseDialog::CBaseDialog(DialogOwner* owner) : owner_(owner) {}

CBaseDialog::~CBaseDialog() {
    if (widget_) g_object_unref(widget_);
}

void CBaseDialog::OnClose() {
    if (owner_ && forwardCloseToOwner_) {
        owner_->OnClose();
        return;
    }
    defaultClose();
}

void CBaseDialog::defaultClose() {
    closed_ = true;
    if (widget_) gtk_widget_hide(widget_);
}

bool CBaseDialog::create() {
    widget_ = createWidget();
    if (!widget_) return false;
    // Held by us as well as by the container, so the object outlives a container teardown.
    g_object_ref_sink(widget_);
    gtk_widget_set_halign(widget_, GTK_ALIGN_START);
    gtk_widget_set_valign(widget_, GTK_ALIGN_START);
    return OnInitDialog();
}

bool CBaseDialog::OnInitDialog() {
    OnInit();
    return true;
}

DialogRect CBaseDialog::rect() const {
    DialogRect r;
    if (!widget_) return r;
    int w = 0, h = 0;
    gtk_widget_get_size_request(widget_, &w, &h);
    r.left = gtk_widget_get_margin_start(widget_);
    r.top = gtk_widget_get_margin_top(widget_);
    r.right = r.left + (w > 0 ? w : 0);
    r.bottom = r.top + (h > 0 ? h : 0);
    return r;
}

void CBaseDialog::setRect(int x, int y, int width, int height) {
    if (!widget_) return;
    // Margins cannot be negative: a part placed left of or above the toplevel starts at its edge.
    gtk_widget_set_margin_start(widget_, x > 0 ? x : 0);
    gtk_widget_set_margin_top(widget_, y > 0 ? y : 0);
    gtk_widget_set_size_request(widget_, width > 0 ? width : 0, height > 0 ? height : 0);
}

void CBaseDialog::moveTo(int x, int y) {
    DialogRect r = rect();
    setRect(x, y, r.right - r.left, r.bottom - r.top);
    if (widget_) gtk_widget_queue_draw(widget_);
}

void CBaseDialog::show() {
    if (widget_) gtk_widget_show(widget_);
}

bool CBaseDialog::screenComposited(GtkWidget* widget) {
    GdkScreen* screen = widget ? gtk_widget_get_screen(widget) : gdk_screen_get_default();
    return screen && gdk_screen_is_composited(screen) && gdk_screen_get_rgba_visual(screen);
}

cairo_surface_t* CBaseDialog::loadImage(const std::string& path) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
    if (!pixbuf) {
        if (error) g_error_free(error);
        return nullptr;
    }
    cairo_surface_t* surface = gdk_cairo_surface_create_from_pixbuf(pixbuf, 1, nullptr);
    g_object_unref(pixbuf);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
}

cairo_region_t* CBaseDialog::roundedRegion(int w, int h, int ellipse) {
    cairo_region_t* region = cairo_region_create();
    if (w <= 0 || h <= 0) return region;
    double r = std::min({ellipse / 2.0, w / 2.0, h / 2.0});
    for (int y = 0; y < h; ++y) {
        double cy = y + 0.5;
        double dy = cy < r ? r - cy : (cy > h - r ? cy - (h - r) : 0);
        int inset = 0;
        if (dy > 0) {
            if (dy >= r) continue;
            // First pixel column whose centre lies within the corner circle.
            inset = static_cast<int>(std::ceil(r - std::sqrt(r * r - dy * dy) - 0.5));
            if (inset < 0) inset = 0;
        }
        cairo_rectangle_int_t row{inset, y, w - 2 * inset, 1};
        if (row.width > 0) cairo_region_union_rectangle(region, &row);
    }
    return region;
}

void CBaseDialog::drawImage(cairo_t* cr, cairo_surface_t* image, double x, double y, double w, double h) {
    if (!image || w <= 0 || h <= 0) return;
    int iw = cairo_image_surface_get_width(image);
    int ih = cairo_image_surface_get_height(image);
    if (iw <= 0 || ih <= 0) return;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, w / iw, h / ih);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace veltrano
