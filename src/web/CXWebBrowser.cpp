#include "web/CXWebBrowser.h"

namespace veltrano {

CXWebBrowser::~CXWebBrowser() {
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
