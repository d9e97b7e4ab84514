#include "WebBrowserHost.h"
#include "core/Format.h"
#include "winutil/UniqueShell.h"

namespace {

std::string ResultText(HRESULT result)
{
    return "0x" + PaddedHex(static_cast<unsigned long>(result), 8);
}

struct BstrTraits {
    using Type = BSTR;
    static Type invalid() { return nullptr; }
    static void close(Type text) { SysFreeString(text); }
};
using UniqueBstr = UniqueHandle<BstrTraits>;

} // namespace

EOleError::EOleError(const std::string& what, HRESULT result)
    : std::runtime_error(what + " (" + ResultText(result) + ")"), result_(result)
{
}

// The container's side of the control: one object for the client site, the
// in-place site and the in-place frame. It belongs to its TWebBrowser, which
// outlives the control's references to it, so counting does not free it.
class TWebBrowser::Site : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    Site(HWND parent, const RECT& bounds) : parent_(parent), bounds_(bounds) {}
    virtual ~Site() = default;

    void SetBounds(const RECT& bounds) { bounds_ = bounds; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
            *object = static_cast<IOleInPlaceFrame*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, shared by the in-place site and the frame
    STDMETHODIMP GetWindow(HWND* window) override
    {
        *window = parent_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        *frame = this;
        AddRef();
        *document = nullptr;
        *position = bounds_;
        *clip = bounds_;
        info->fMDIApp = FALSE;
        info->hwndFrame = parent_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    HWND parent_;
    RECT bounds_;
    ULONG references_ = 1;
};

TWebBrowser::TWebBrowser(HWND parent, const RECT& bounds) : parent_(parent), site_(std::make_unique<Site>(parent, bounds))
{
    HRESULT result = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                      reinterpret_cast<void**>(object_.put()));
    if (FAILED(result))
        throw EOleError("Cannot create the web browser control", result);
    object_.get()->SetClientSite(site_.get());
    OleSetContainedObject(object_.get(), TRUE);
    RECT position = bounds;
    result = object_.get()->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, parent, &position);
    if (FAILED(result))
        throw EOleError("Cannot activate the web browser control", result);
    result = object_.get()->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(browser_.put()));
    if (FAILED(result))
        throw EOleError("The web browser control has no IWebBrowser2", result);
    SetBounds(bounds);
}

TWebBrowser::~TWebBrowser()
{
    browser_.reset();
    if (!object_)
        return;
    UniqueCom<IOleInPlaceObject> inPlace;
    if (SUCCEEDED(object_.get()->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(inPlace.put()))))
        inPlace.get()->InPlaceDeactivate();
    object_.get()->Close(OLECLOSE_NOSAVE);
    object_.get()->SetClientSite(nullptr);
    object_.reset();
}

void TWebBrowser::SetBounds(const RECT& bounds)
{
    site_->SetBounds(bounds);
    UniqueCom<IOleInPlaceObject> inPlace;
    if (SUCCEEDED(object_.get()->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(inPlace.put()))))
        inPlace.get()->SetObjectRects(&bounds, &bounds);
}

void TWebBrowser::Navigate(const std::wstring& address)
{
    const UniqueBstr url(SysAllocStringLen(address.data(), static_cast<UINT>(address.size())));
    VARIANT empty;
    VariantInit(&empty);
    const HRESULT result = browser_.get()->Navigate(url.get(), &empty, &empty, &empty, &empty);
    if (FAILED(result))
        throw EOleError("Cannot navigate to the page", result);
}

std::wstring TWebBrowser::LocationURL() const
{
    UniqueBstr location;
    if (FAILED(browser_.get()->get_LocationURL(location.put())) || !location)
        return {};
    return std::wstring(location.get(), SysStringLen(location.get()));
}
