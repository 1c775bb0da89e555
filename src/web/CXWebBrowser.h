#pragma once
// Hosts a web view inside a container widget: creation, navigation without cache, silent mode and
// the suppressed context menu.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace veltrano {

class CXWebBrowser {
public:
    CXWebBrowser() = default;
    virtual ~CXWebBrowser();
    CXWebBrowser(const CXWebBrowser&) = delete;
    CXWebBrowser& operator=(const CXWebBrowser&) = delete;

    // Creates the view over the host's whole area; false for a missing or unusable host.
    virtual bool create(GtkWidget* host);
    // Loads the address (a URL or an absolute file path), bypassing caches; false when refused.
    bool navigate(const std::string& address);
    // Silent: the page's script dialogs are swallowed instead of shown.
    bool setSilent(bool silent);

    // Called once, when the next load has finished (successfully or not).
    void whenLoadFinished(std::function<void()> listener) { onFinished_ = std::move(listener); }
    // Called once, when the page showing has put a frame on the screen; at the latest after a few
    // seconds, so that a page that never draws (or runs no script) holds nothing up.
    void whenFrameShown(std::function<void()> listener);

    WebKitWebView* view() const { return view_; }
    bool silent() const { return silent_; }

protected:
    // Called when the top frame of a new document was committed.
    virtual void onCommitted() {}

    GtkWidget* host_ = nullptr;
    WebKitWebView* view_ = nullptr;
    WebKitUserContentManager* content_ = nullptr;

private:
    static gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                  gpointer);
    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static void onFramesRendered(GObject* view, GAsyncResult* result, gpointer self);
    static gboolean onFrameWaitOver(gpointer self);
    void frameShown();

    bool silent_ = false;
    std::function<void()> onFinished_;
    std::function<void()> onFrameShown_;
    GCancellable* frameWait_ = nullptr;
    guint frameDeadline_ = 0;
};

}  // namespace veltrano
