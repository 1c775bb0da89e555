#include "winweb/CXWebBrowser.h"

namespace veltrano {

namespace {

// navNoReadFromCache | navNoWriteToCache: the portal page is always fetched anew.
constexpr LONG kNavigateFlags = 0x04 | 0x08;

}  // namespace

CXWebBrowser::~CXWebBrowser() {
    close();
    if (oleInitialized_) OleUninitialize();
}

// Newest first, as create obtained them.
void CXWebBrowser::close() {
    if (point_) {
        if (cookie_) point_->Unadvise(cookie_);
        point_->Release();
        point_ = nullptr;
        cookie_ = 0;
    }
    if (pointContainer_) {
        pointContainer_->Release();
        pointContainer_ = nullptr;
    }
    if (browser_) {
        browser_->Release();
        browser_ = nullptr;
    }
    if (inPlace_) {
        inPlace_->Release();
        inPlace_ = nullptr;
    }
    if (oleObject_) {
        oleObject_->SetClientSite(nullptr);
        oleObject_->Close(OLECLOSE_NOSAVE);
        CoDisconnectObject(oleObject_, 0);
        oleObject_->Release();
        oleObject_ = nullptr;
    }
    if (storage_) {
        storage_->Release();
        storage_ = nullptr;
    }
}

bool CXWebBrowser::create(HWND host) {
    if (!oleInitialized_) oleInitialized_ = SUCCEEDED(OleInitialize(nullptr));
    if (!host || !IsWindow(host)) return false;
    refs_ = 0;
    host_ = host;
    if (FAILED(
            StgCreateDocfile(nullptr, STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0, &storage_))) {
        storage_ = nullptr;
        return false;
    }
    RECT rect;
    bool ok =
        SUCCEEDED(OleCreate(CLSID_WebBrowser, IID_IOleObject, OLERENDER_DRAW, nullptr,
                            static_cast<IOleClientSite*>(this), storage_,
                            reinterpret_cast<void**>(&oleObject_))) &&
        oleObject_ && SUCCEEDED(OleSetContainedObject(oleObject_, FALSE)) &&
        SUCCEEDED(oleObject_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace_))) &&
        SUCCEEDED(oleObject_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser_))) &&
        GetClientRect(host_, &rect) &&
        SUCCEEDED(oleObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0,
                                     host_, &rect)) &&
        SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer,
                                           reinterpret_cast<void**>(&pointContainer_))) &&
        SUCCEEDED(pointContainer_->FindConnectionPoint(DIID_DWebBrowserEvents2, &point_)) &&
        SUCCEEDED(point_->Advise(static_cast<IDispatch*>(this), &cookie_));
    if (!ok) {
        close();
        host_ = nullptr;
    }
    return ok;
}

bool CXWebBrowser::navigate(const std::wstring& address) {
    if (!browser_) return false;
    VARIANT url;
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocStringLen(address.data(), static_cast<UINT>(address.size()));
    VARIANT flags;
    VariantInit(&flags);
    flags.vt = VT_I4;
    flags.lVal = kNavigateFlags;
    VARIANT empty;
    VariantInit(&empty);
    HRESULT hr = url.bstrVal ? browser_->Navigate2(&url, &flags, &empty, &empty, &empty) : E_OUTOFMEMORY;
    VariantClear(&url);
    return SUCCEEDED(hr);
}

bool CXWebBrowser::setSilent(bool silent) {
    return browser_ && SUCCEEDED(browser_->put_Silent(silent ? VARIANT_TRUE : VARIANT_FALSE));
}

bool CXWebBrowser::translateAccelerator(MSG* msg) {
    if (!browser_ || !msg || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return false;
    if (msg->hwnd != host_ && !IsChild(host_, msg->hwnd)) return false;
    IOleInPlaceActiveObject* active = nullptr;
    if (FAILED(browser_->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active))) ||
        !active)
        return false;
    const bool taken = active->TranslateAccelerator(msg) == S_OK;
    active->Release();
    return taken;
}

// ---- IUnknown ----

STDMETHODIMP CXWebBrowser::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, DIID_DWebBrowserEvents2))
        *out = static_cast<IDispatch*>(this);
    else if (IsEqualIID(riid, IID_IOleClientSite))
        *out = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceSite))
        *out = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame))
        *out = static_cast<IOleInPlaceFrame*>(this);
    else if (IsEqualIID(riid, IID_IDocHostUIHandler))
        *out = static_cast<IDocHostUIHandler*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

// The owner deletes the object; a count of 0 does not.
STDMETHODIMP_(ULONG) CXWebBrowser::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) CXWebBrowser::Release() {
    return static_cast<ULONG>(InterlockedDecrement(&refs_));
}

// ---- IDispatch: the event sink answers nothing ----

STDMETHODIMP CXWebBrowser::GetTypeInfoCount(UINT*) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return S_OK;
}

// ---- IOleClientSite ----

STDMETHODIMP CXWebBrowser::SaveObject() {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::GetContainer(IOleContainer** container) {
    if (container) *container = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::ShowObject() {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::OnShowWindow(BOOL) {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::RequestNewObjectLayout() {
    return S_OK;
}

// ---- IOleWindow ----

STDMETHODIMP CXWebBrowser::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = host_;
    return host_ ? S_OK : E_FAIL;
}
STDMETHODIMP CXWebBrowser::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

// ---- IOleInPlaceSite ----

STDMETHODIMP CXWebBrowser::CanInPlaceActivate() {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::OnInPlaceActivate() {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::OnUIActivate() {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                            LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
    if (frame) {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
    }
    if (doc) {
        *doc = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
    }
    RECT client = {};
    if (host_) GetClientRect(host_, &client);
    if (pos) *pos = client;
    if (clip) *clip = client;
    if (info) {
        info->cb = sizeof(OLEINPLACEFRAMEINFO);
        info->fMDIApp = FALSE;
        info->hwndFrame = host_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
    }
    return S_OK;
}
STDMETHODIMP CXWebBrowser::Scroll(SIZE) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::OnUIDeactivate(BOOL) {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::OnInPlaceDeactivate() {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::DiscardUndoState() {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::DeactivateAndUndo() {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::OnPosRectChange(LPCRECT) {
    return S_OK;
}

// ---- IOleInPlaceFrame ----

STDMETHODIMP CXWebBrowser::GetBorder(LPRECT border) {
    if (border && host_) GetClientRect(host_, border);
    return S_OK;
}
STDMETHODIMP CXWebBrowser::RequestBorderSpace(LPCBORDERWIDTHS) {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::SetBorderSpace(LPCBORDERWIDTHS) {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::SetMenu(HMENU, HOLEMENU, HWND) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::RemoveMenus(HMENU) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::SetStatusText(LPCOLESTR) {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::EnableModeless(BOOL) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::TranslateAccelerator(LPMSG, WORD) {
    return S_OK;
}

// ---- IDocHostUIHandler: the engine's defaults, except the context menu ----

// Claimed and not shown: the page never gets the engine's menu.
STDMETHODIMP CXWebBrowser::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) {
    return S_OK;
}
STDMETHODIMP CXWebBrowser::GetHostInfo(DOCHOSTUIINFO*) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                  IOleInPlaceUIWindow*) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::HideUI() {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::UpdateUI() {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::OnDocWindowActivate(BOOL) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::OnFrameWindowActivate(BOOL) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::TranslateAccelerator(LPMSG, const GUID*, DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::GetOptionKeyPath(LPOLESTR* key, DWORD) {
    if (key) *key = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::GetDropTarget(IDropTarget*, IDropTarget** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::GetExternal(IDispatch** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::TranslateUrl(DWORD, LPWSTR, LPWSTR* out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP CXWebBrowser::FilterDataObject(IDataObject*, IDataObject** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

}  // namespace veltrano
