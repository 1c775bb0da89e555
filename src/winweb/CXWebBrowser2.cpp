#include "winweb/CXWebBrowser2.h"

#include <mshtml.h>
#include <shlwapi.h>

#include <cstring>
#include <cwctype>
#include <utility>

#include "config/Log.h"
#include "platform/Wide.h"

namespace veltrano {

namespace {

std::string fromBstr(BSTR text) {
    return text ? fromWide(std::wstring(text, SysStringLen(text))) : std::string();
}

bool isWindowsPath(const std::string& a) {
    const bool drive = a.size() >= 3 && ((a[0] >= 'A' && a[0] <= 'Z') || (a[0] >= 'a' && a[0] <= 'z')) &&
                       a[1] == ':' && (a[2] == '/' || a[2] == '\\');
    const bool unc = a.size() >= 3 && (a[0] == '/' || a[0] == '\\') && (a[1] == '/' || a[1] == '\\');
    return drive || unc;
}

}  // namespace

std::string canonicalFileAddress(const std::string& address) {
    std::wstring path;
    if (isWindowsPath(address)) {
        path = toWidePath(address);
    } else if (_strnicmp(address.c_str(), "file:", 5) == 0) {
        wchar_t buf[2048];
        DWORD size = ARRAYSIZE(buf);
        if (PathCreateFromUrlW(toWide(withoutQuery(address)).c_str(), buf, &size, 0) != S_OK) return address;
        path.assign(buf, size);
        for (auto& c : path) {
            if (c == L'/') c = L'\\';
        }
    } else {
        return address;
    }
    if (path.size() >= 2 && path[1] == L':') path[0] = static_cast<wchar_t>(std::towupper(path[0]));
    wchar_t url[2048];
    DWORD size = ARRAYSIZE(url);
    if (UrlCreateFromPathW(path.c_str(), url, &size, 0) != S_OK) return address;
    return fromWide(std::wstring(url, size));
}

CXWebBrowser2::CXWebBrowser2(std::string trustedUrl, std::string localPagePath, LoginSink onLogin,
                             std::function<bool()> isDownloadComplete)
    : onLogin_(std::move(onLogin)), isDownloadComplete_(std::move(isDownloadComplete)) {
    trust_ = bridgeTrust(canonicalFileAddress(trustedUrl),
                         localPagePath.empty() ? std::string() : canonicalFileAddress(localPagePath));
}

std::string CXWebBrowser2::currentPageUrl() {
    if (!browser_) return {};
    IDispatch* document = nullptr;
    if (FAILED(browser_->get_Document(&document)) || !document) return {};
    std::string url;
    IHTMLDocument2* html = nullptr;
    if (SUCCEEDED(document->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&html))) && html) {
        BSTR text = nullptr;
        if (SUCCEEDED(html->get_URL(&text))) url = fromBstr(text);
        SysFreeString(text);
        html->Release();
    }
    document->Release();
    return url;
}

STDMETHODIMP CXWebBrowser2::GetExternal(IDispatch** out) {
    if (!out) return E_POINTER;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP CXWebBrowser2::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    const wchar_t* name = names[0] ? names[0] : L"";
    if (wcscmp(name, L"AppLogin") == 0) {
        ids[0] = kAppLogin;
    } else if (wcscmp(name, L"IsDownLoadComplete") == 0) {
        ids[0] = kIsDownLoadComplete;
    } else {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
}

STDMETHODIMP CXWebBrowser2::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) {
    if (id != kAppLogin && id != kIsDownLoadComplete) return E_NOTIMPL;
    // Asked at every call: the page showing may have changed since window.external was handed out.
    const std::string page = canonicalFileAddress(currentPageUrl());
    if (!isTrustedPage(page, trust_)) {
        writeLog("web bridge: call from %s refused", page.empty() ? "(no page)" : page.c_str());
        return E_ACCESSDENIED;
    }
    if (id == kAppLogin) return appLogin(params);
    if (result) {
        VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal = isDownloadComplete_ && isDownloadComplete_() ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
}

HRESULT CXWebBrowser2::appLogin(DISPPARAMS* params) {
    if (!params || params->cArgs == 0 || !params->rgvarg) return DISP_E_BADPARAMCOUNT;
    // Arguments come last to first.
    VARIANT text;
    VariantInit(&text);
    HRESULT hr = VariantCopyInd(&text, &params->rgvarg[params->cArgs - 1]);
    if (SUCCEEDED(hr) && text.vt != VT_BSTR) hr = VariantChangeType(&text, &text, 0, VT_BSTR);
    if (FAILED(hr)) {
        VariantClear(&text);
        return hr;
    }
    // UTF-8, not the system code page: nothing the page sends is lost, and the game token is the
    // same on every system.
    const std::string message = fromBstr(text.bstrVal);
    VariantClear(&text);
    if (onLogin_) onLogin_(message);
    return S_OK;
}

}  // namespace veltrano
