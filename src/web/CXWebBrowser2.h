#pragma once
// The browser host with the page's way back into the launcher: window.external with AppLogin and
// IsDownLoadComplete, offered only to the launcher's own pages.

#include <functional>
#include <string>

#include "web/CXWebBrowser.h"
#include "window/Bridge.h"

namespace veltrano {

class CXWebBrowser2 : public CXWebBrowser {
public:
    using LoginSink = std::function<void(const std::string& message)>;

    // trustedUrl: the configured page; localPagePath: the local page's absolute path or empty.
    CXWebBrowser2(std::string trustedUrl, std::string localPagePath, LoginSink onLogin, bool complete);
    ~CXWebBrowser2() override;

    bool create(GtkWidget* host) override;
    // The answer of IsDownLoadComplete from now on, in the page showing and in later pages.
    void setDownloadComplete(bool complete);

    unsigned loginCount() const { return logins_; }
    unsigned rejectedCount() const { return rejected_; }

protected:
    void onCommitted() override;

private:
    static void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self);
    void installScript();
    void pushComplete();

    BridgeTrust trust_;
    std::string secret_;
    LoginSink onLogin_;
    bool complete_;
    unsigned logins_ = 0;
    unsigned rejected_ = 0;
};

}  // namespace veltrano
