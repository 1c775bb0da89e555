#pragma once
// Common ground of the launcher's skinned parts. On this platform every part is a widget placed in
// the owner's one toplevel (an overlay), so "window positions" are offsets inside that toplevel.

#include <gtk/gtk.h>

#include <string>

#include "window/LoginGate.h"

namespace veltrano {

class CBaseDialog;

// What a part asks of the dialog that owns the stack. The owner sits above the parts (it creates
// them all, the page included), so the parts know it only through this.
class DialogOwner : public GameStartOwner {
public:
    // The closing sequence.
    virtual void OnClose() = 0;
    // Ends the loop without the closing sequence.
    virtual void quit() = 0;
    // Puts every part but skip back at its offset; the number of parts.
    virtual int moveChildren(CBaseDialog* skip, int x, int y) = 0;

protected:
    virtual ~DialogOwner() = default;
};

struct DialogRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct DialogPoint {
    int x = 0;
    int y = 0;
};

class CBaseDialog {
public:
    explicit CBaseDialog(DialogOwner* owner);
    virtual ~CBaseDialog();
    CBaseDialog(const CBaseDialog&) = delete;
    CBaseDialog& operator=(const CBaseDialog&) = delete;

    // Close request: passed to the owner when there is one and forwarding is on, else the
    // default close (the part is hidden).
    virtual void OnClose();
    // A close message from the owner; parts that list no close handling get the default close.
    virtual void handleCloseMessage() { defaultClose(); }
    virtual int OnInit() { return 1; }
    virtual void OnMove(int /*x*/, int /*y*/) {}
    void setForwardCloseToOwner(bool forward) { forwardCloseToOwner_ = forward; }
    bool forwardCloseToOwner() const { return forwardCloseToOwner_; }
    // Places the part's top-left at (x, y), keeping its size.
    void moveTo(int x, int y);
    virtual void show();
    // Builds the widget and runs the part's initialisation; false when the widget could not be made.
    bool create();

    GtkWidget* widget() const { return widget_; }
    DialogOwner* owner() const { return owner_; }
    // Position inside the owner's toplevel and size.
    DialogRect rect() const;
    bool closed() const { return closed_; }

    // Whether transparent pixels really show what lies behind the window; without a compositing
    // manager they would show black, so the owner paints an opaque fallback instead.
    static bool screenComposited(GtkWidget* widget);
    // A PNG as a cairo surface, or null (a missing or broken file draws nothing).
    static cairo_surface_t* loadImage(const std::string& path);
    // The rounded rectangle (0, 0, w, h) with the given corner ellipse, as whole pixels: a pixel is
    // inside when its centre is. The caller destroys it.
    static cairo_region_t* roundedRegion(int w, int h, int ellipse);
    // Paints a whole image stretched over (x, y, w, h); nothing for a null image.
    static void drawImage(cairo_t* cr, cairo_surface_t* image, double x, double y, double w, double h);

protected:
    virtual GtkWidget* createWidget() = 0;
    // The base initialisation: the init hook, then the initial rectangle.
    virtual bool OnInitDialog();
    virtual void defaultClose();
    void setRect(int x, int y, int width, int height);

    DialogOwner* owner_;
    bool forwardCloseToOwner_ = true;
    GtkWidget* widget_ = nullptr;
    bool closed_ = false;
};

}  // namespace veltrano
