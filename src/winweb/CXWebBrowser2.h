#pragma once
// The browser site with the page's way back into the launcher: window.external offering "AppLogin"
// and "IsDownLoadComplete", answered only while the launcher's own page is showing.

#include <functional>
#include <string>

#include "window/Bridge.h"
#include "winweb/CXWebBrowser.h"

namespace veltrano {

class CXWebBrowser2 : public CXWebBrowser {
public:
    static constexpr DISPID kAppLogin = 500;
    static constexpr DISPID kIsDownLoadComplete = 501;

    using LoginSink = std::function<void(const std::string& message)>;

    // trustedUrl: the configured page; localPagePath: the local page's path (or file: address), or
    // empty. The login message reaches onLogin as UTF-8.
    CXWebBrowser2(std::string trustedUrl, std::string localPagePath, LoginSink onLogin,
                  std::function<bool()> isDownloadComplete);

    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;
    STDMETHODIMP GetExternal(IDispatch** out) override;

    const BridgeTrust& trust() const { return trust_; }

protected:
    // The address of the document showing now, empty when there is none.
    virtual std::string currentPageUrl();

private:
    HRESULT appLogin(DISPPARAMS* params);

    BridgeTrust trust_;
    LoginSink onLogin_;
    std::function<bool()> isDownloadComplete_;
};

// A file address in the one form both the launcher and the engine's reports reduce to: a file:
// address built from the path, drive letter in capitals, query and fragment dropped. A Windows path
// (drive letter or UNC) counts as a file address; anything else is returned unchanged.
std::string canonicalFileAddress(const std::string& address);

}  // namespace veltrano
