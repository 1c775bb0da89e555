#include "web/CXWebBrowser.h"

#include "config/Log.h"

namespace veltrano {

CXWebBrowser::~CXWebBrowser() {
    if (frameDeadline_) g_source_remove(frameDeadline_);
    if (frameWait_) {
        // The pending call still completes, as cancelled, and then leaves this object alone.
        g_cancellable_cancel(frameWait_);
        g_object_unref(frameWait_);
    }
    if (view_) {
        g_signal_handlers_disconnect_by_data(view_, this);
        g_object_unref(view_);
    }
    if (content_) g_object_unref(content_);
}

bool CXWebBrowser::create(GtkWidget* host) {
    if (!host || !GTK_IS_CONTAINER(host) || view_) return false;
    host_ = host;
    // Ephemeral and document-viewer caching: nothing of the page is kept on disk or reused.
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
    g_object_unref(data);
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    content_ = webkit_user_content_manager_new();
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "user-content-manager", content_, nullptr));
    g_object_unref(context);
    if (!view) return false;
    view_ = WEBKIT_WEB_VIEW(g_object_ref_sink(view));
    g_signal_connect(view_, "context-menu", G_CALLBACK(onContextMenu), this);
    g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
    gtk_widget_set_hexpand(view, TRUE);
    gtk_widget_set_vexpand(view, TRUE);
    gtk_container_add(GTK_CONTAINER(host), view);
    gtk_widget_show(view);
    return true;
}

bool CXWebBrowser::navigate(const std::string& address) {
    if (!view_ || address.empty()) return false;
    std::string uri = address;
    if (address[0] == '/') {
        gchar* fileUri = g_filename_to_uri(address.c_str(), nullptr, nullptr);
        if (!fileUri) return false;
        uri = fileUri;
        g_free(fileUri);
    }
    webkit_web_view_load_uri(view_, uri.c_str());
    return true;
}

bool CXWebBrowser::setSilent(bool silent) {
    if (!view_) return false;
    silent_ = silent;
    return true;
}

gboolean CXWebBrowser::onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                     gpointer) {
    return TRUE;
}

gboolean CXWebBrowser::onScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self) {
    return static_cast<CXWebBrowser*>(self)->silent_ ? TRUE : FALSE;
}

void CXWebBrowser::whenFrameShown(std::function<void()> listener) {
    if (!view_ || frameWait_) {
        if (listener) listener();
        return;
    }
    onFrameShown_ = std::move(listener);
    frameWait_ = g_cancellable_new();
    // A callback of the second animation frame runs once the first one was drawn. A load finished
    // is not yet drawn: a navigation started before that leaves the area empty until the next page
    // arrives.
    static const char kTwoFrames[] =
        "return new Promise(function (done) {"
        "  requestAnimationFrame(function () { requestAnimationFrame(function () { done(true); }); });"
        "});";
    webkit_web_view_call_async_javascript_function(view_, kTwoFrames, -1, nullptr, nullptr, nullptr,
                                                   frameWait_, onFramesRendered, this);
    frameDeadline_ = g_timeout_add_seconds(5, onFrameWaitOver, this);
}

void CXWebBrowser::onFramesRendered(GObject* view, GAsyncResult* result, gpointer self) {
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (value) g_object_unref(value);
    const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (error) g_error_free(error);
    // Cancelled: the browser is gone.
    if (!cancelled) static_cast<CXWebBrowser*>(self)->frameShown();
}

gboolean CXWebBrowser::onFrameWaitOver(gpointer self) {
    auto* browser = static_cast<CXWebBrowser*>(self);
    browser->frameDeadline_ = 0;
    writeLog("web page: no frame drawn within 5 s, going on");
    browser->frameShown();
    return G_SOURCE_REMOVE;
}

void CXWebBrowser::frameShown() {
    if (frameDeadline_) {
        g_source_remove(frameDeadline_);
        frameDeadline_ = 0;
    }
    std::function<void()> listener = std::move(onFrameShown_);
    onFrameShown_ = nullptr;
    if (listener) listener();
}

void CXWebBrowser::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* browser = static_cast<CXWebBrowser*>(self);
    if (event == WEBKIT_LOAD_COMMITTED) browser->onCommitted();
    // A failed load is followed by FINISHED too.
    if (event == WEBKIT_LOAD_FINISHED && browser->onFinished_) {
        std::function<void()> listener = std::move(browser->onFinished_);
        browser->onFinished_ = nullptr;
        listener();
    }
}

}  // namespace veltrano
