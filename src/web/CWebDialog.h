#pragma once
// The part that carries the portal's login page, at its configured size and place, with rounded
// corners.

#include <memory>
#include <string>

#include "ui/CBaseDialog.h"
#include "web/CXWebBrowser2.h"
#include "window/WindowServices.h"

namespace veltrano {

class CWebDialog : public CBaseDialog {
public:
    // Corner ellipse of the page's rounded rectangle.
    static constexpr int kCornerEllipse = 100;

    CWebDialog(std::string pageAddress, DialogOwner* owner, WindowServices services);
    ~CWebDialog() override;

    // Allocates and creates the browser in the host; on failure nothing is kept.
    bool createBrowser(GtkWidget* host, CXWebBrowser2** out);
    void OnMove(int x, int y) override;
    // The update finished: the page's IsDownLoadComplete answers true from now on.
    void downloadCompleted();

    CXWebBrowser2* browser() const { return browser_; }
    int width() const { return width_; }
    int height() const { return height_; }

protected:
    GtkWidget* createWidget() override;
    bool OnInitDialog() override;

private:
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static void onViewAllocated(GtkWidget* view, GdkRectangle* allocation, gpointer self);

    std::string pageAddress_;
    WindowServices services_;
    CXWebBrowser2* browser_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace veltrano
