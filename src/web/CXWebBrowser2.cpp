#include "web/CXWebBrowser2.h"

#include <jsc/jsc.h>

#include <utility>

#include "config/Log.h"
#include "window/Bridge.h"

namespace veltrano {

namespace {

std::string newSecret() {
    gchar* uuid = g_uuid_string_random();
    std::string s;
    for (const gchar* p = uuid; *p; ++p)
        if (*p != '-') s += *p;
    g_free(uuid);
    return s;
}

std::string stringProperty(JSCValue* object, const char* name) {
    std::string out;
    JSCValue* value = jsc_value_object_get_property(object, name);
    if (value && jsc_value_is_string(value)) {
        gchar* text = jsc_value_to_string(value);
        if (text) out = text;
        g_free(text);
    }
    if (value) g_object_unref(value);
    return out;
}

// A file address as the web engine reports it, however it was written; other addresses unchanged.
std::string canonicalAddress(const std::string& address) {
    // A plain path is a file name through and through, "?" and "#" included.
    gchar* path = nullptr;
    if (!address.empty() && address[0] == '/')
        path = g_strdup(address.c_str());
    else if (g_ascii_strncasecmp(address.c_str(), "file:", 5) == 0)
        path = g_filename_from_uri(withoutQuery(address).c_str(), nullptr, nullptr);
    if (!path) return address;
    gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
    g_free(path);
    std::string out = uri ? uri : address;
    g_free(uri);
    return out;
}

}  // namespace

CXWebBrowser2::CXWebBrowser2(std::string trustedUrl, std::string localPagePath, LoginSink onLogin,
                             bool complete)
    : secret_(newSecret()), onLogin_(std::move(onLogin)), complete_(complete) {
    trust_ = bridgeTrust(canonicalAddress(trustedUrl),
                         localPagePath.empty() ? "" : canonicalAddress(localPagePath));
}

CXWebBrowser2::~CXWebBrowser2() {
    if (content_) {
        g_signal_handlers_disconnect_by_data(content_, this);
        webkit_user_content_manager_unregister_script_message_handler(content_, bridgeHandlerName());
    }
}

bool CXWebBrowser2::create(GtkWidget* host) {
    if (!CXWebBrowser::create(host)) return false;
    std::string signal = std::string("script-message-received::") + bridgeHandlerName();
    g_signal_connect(content_, signal.c_str(), G_CALLBACK(onScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(content_, bridgeHandlerName());
    installScript();
    return true;
}

void CXWebBrowser2::installScript() {
    if (!content_) return;
    webkit_user_content_manager_remove_all_scripts(content_);
    std::string source = bridgeScript(secret_, complete_, trust_);
    WebKitUserScript* script =
        webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_, script);
    webkit_user_script_unref(script);
}

void CXWebBrowser2::pushComplete() {
    if (!view_) return;
    std::string source = bridgeCompleteUpdate(secret_, complete_);
    webkit_web_view_evaluate_javascript(view_, source.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                        nullptr);
}

void CXWebBrowser2::setDownloadComplete(bool complete) {
    if (complete == complete_) return;
    complete_ = complete;
    // Later pages get the value baked in; the page showing gets it pushed.
    installScript();
    pushComplete();
}

void CXWebBrowser2::onCommitted() {
    // A page committed while the script was being replaced may hold the older value.
    pushComplete();
}

void CXWebBrowser2::onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                    gpointer self) {
    auto* browser = static_cast<CXWebBrowser2*>(self);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    const gchar* uri = browser->view_ ? webkit_web_view_get_uri(browser->view_) : nullptr;
    bool trusted = uri && isTrustedPage(uri, browser->trust_);
    if (!value || !jsc_value_is_object(value) || !trusted ||
        stringProperty(value, "secret") != browser->secret_) {
        ++browser->rejected_;
        writeLog("web bridge: login message from %s refused", uri ? uri : "(no page)");
        return;
    }
    std::string message = stringProperty(value, "message");
    ++browser->logins_;
    if (browser->onLogin_) browser->onLogin_(message);
}

}  // namespace veltrano
