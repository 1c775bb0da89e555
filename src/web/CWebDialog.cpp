#include "web/CWebDialog.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "config/LauncherConfig.h"
#include "platform/FileUtils.h"

namespace veltrano {

CWebDialog::CWebDialog(std::string pageAddress, DialogOwner* owner, WindowServices services)
    : CBaseDialog(owner), pageAddress_(std::move(pageAddress)), services_(std::move(services)) {}

CWebDialog::~CWebDialog() {
    delete browser_;
}

GtkWidget* CWebDialog::createWidget() {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    // A clip set in the view's own draw has no effect, so the container clips and draws the view.
    g_signal_connect(box, "draw", G_CALLBACK(onDraw), this);
    return box;
}

bool CWebDialog::createBrowser(GtkWidget* host, CXWebBrowser2** out) {
    FileUtils* fu = FileUtils::instance();
    std::string local = (fu ? fu->launcherDirectory() : std::string()) + "res/index.html";
    auto sink = [this](const std::string& message) {
        if (services_.onLogin) services_.onLogin(message);
    };
    bool complete = services_.isDownloadComplete && services_.isDownloadComplete();
    auto* browser = new CXWebBrowser2(pageAddress_, local, sink, complete);
    if (!browser->create(host)) {
        delete browser;
        return false;
    }
    *out = browser;
    return true;
}

bool CWebDialog::OnInitDialog() {
    const LauncherConfig& cfg = *LauncherConfig::instance();
    width_ = cfg.web_size_width();
    height_ = cfg.web_size_height();
    setRect(cfg.web_x(), cfg.web_y(), width_, height_);
    if (createBrowser(widget_, &browser_)) {
        // Clicks on the cut corners belong to what lies below, as the drawing does.
        g_signal_connect(browser_->view(), "size-allocate", G_CALLBACK(onViewAllocated), this);
        browser_->setSilent(false);
        FileUtils* fu = FileUtils::instance();
        std::string local = (fu ? fu->launcherDirectory() : std::string()) + "res/index.html";
        std::string portal = services_.buildWebUrl ? services_.buildWebUrl() : pageAddress_;
        if (fu && fu->fileExists(local) && browser_->navigate(local)) {
            // A second load started before the local page is drawn would leave an empty area until the
            // portal page arrives; once drawn, the local page stays up while the portal page loads.
            CXWebBrowser2* browser = browser_;
            browser_->whenLoadFinished([browser, portal] {
                browser->whenFrameShown([browser, portal] { browser->navigate(portal); });
            });
        } else {
            browser_->navigate(portal);
        }
    }
    return true;
}

void CWebDialog::OnMove(int, int) {
    // The corners are clipped at every draw from the current size, so a move keeps them.
    if (widget_) gtk_widget_queue_draw(widget_);
}

void CWebDialog::downloadCompleted() {
    if (browser_) browser_->setDownloadComplete(true);
}

void CWebDialog::onViewAllocated(GtkWidget* view, GdkRectangle* allocation, gpointer) {
    cairo_region_t* region = roundedRegion(allocation->width, allocation->height, kCornerEllipse);
    gtk_widget_input_shape_combine_region(view, region);
    // The overlay holds the part in a window of its own, which would take the corner clicks too.
    GtkWidget* host = gtk_widget_get_parent(view);
    GdkWindow* hostWindow = host ? gtk_widget_get_window(host) : nullptr;
    if (hostWindow && hostWindow != gtk_widget_get_window(view))
        gdk_window_input_shape_combine_region(hostWindow, region, 0, 0);
    cairo_region_destroy(region);
}

gboolean CWebDialog::onDraw(GtkWidget* widget, cairo_t* cr, gpointer self) {
    auto* dlg = static_cast<CWebDialog*>(self);
    double w = gtk_widget_get_allocated_width(widget);
    double h = gtk_widget_get_allocated_height(widget);
    double r = std::min({kCornerEllipse / 2.0, w / 2, h / 2});
    cairo_save(cr);
    cairo_new_sub_path(cr);
    cairo_arc(cr, w - r, r, r, -M_PI / 2, 0);
    cairo_arc(cr, w - r, h - r, r, 0, M_PI / 2);
    cairo_arc(cr, r, h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, r, r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
    cairo_clip(cr);
    if (dlg->browser_ && dlg->browser_->view())
        gtk_container_propagate_draw(GTK_CONTAINER(widget), GTK_WIDGET(dlg->browser_->view()), cr);
    cairo_restore(cr);
    return TRUE;
}

}  // namespace veltrano
