#include "auWebUpdateInfo.h"

#include "update/auURL.h"
#include "winutil/WideText.h"
#include "winutil/WindowDpi.h"

#include <vector>

namespace {

constexpr const wchar_t* kWindowClass = L"Tfrm_ShowInfoUpdate";
constexpr const wchar_t* kCaption = L"What's New?";
constexpr int kWindowWidth = 530;
constexpr int kWindowHeight = 453;
constexpr int kBottomPanelHeight = 41;
// The panel's lowered outer bevel and its inner space bevel, one pixel each.
constexpr int kPanelBevels = 2;
constexpr RECT kOkButton = {230, 10, 230 + 75, 10 + 25};

Tfrm_ShowInfoUpdate* g_instance = nullptr;

std::wstring Trimmed(const std::wstring& text)
{
    const std::size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos)
        return {};
    return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

// The thread's other enabled windows, disabled while a modal window runs.
class ModalScope {
public:
    explicit ModalScope(HWND modal) : modal_(modal)
    {
        EnumThreadWindows(GetCurrentThreadId(), Disable, reinterpret_cast<LPARAM>(this));
    }
    ~ModalScope()
    {
        for (const HWND window : disabled_)
            EnableWindow(window, TRUE);
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    static BOOL CALLBACK Disable(HWND window, LPARAM scope)
    {
        auto* self = reinterpret_cast<ModalScope*>(scope);
        if (window != self->modal_ && IsWindowVisible(window) && IsWindowEnabled(window)) {
            EnableWindow(window, FALSE);
            self->disabled_.push_back(window);
        }
        return TRUE;
    }

    HWND modal_;
    std::vector<HWND> disabled_;
};

} // namespace

Tfrm_ShowInfoUpdate& Tfrm_ShowInfoUpdate::Instance()
{
    if (!g_instance)
        g_instance = new Tfrm_ShowInfoUpdate();
    return *g_instance;
}

Tfrm_ShowInfoUpdate* Tfrm_ShowInfoUpdate::Existing()
{
    return g_instance;
}

void Tfrm_ShowInfoUpdate::FreeInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

// Its layout is not scaled yet: the window and everything in it are made
// DPI-unaware with GDI scaling, so the system enlarges it with sharp text.
Tfrm_ShowInfoUpdate::Tfrm_ShowInfoUpdate()
{
    const GdiScaledWindowsScope unscaled;
    RegisterOwnedWindowClass(kWindowClass, OwnedWindowProc<Tfrm_ShowInfoUpdate>);
    const int left = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    // The window's procedure takes the handle into window_ as it is created.
    CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kWindowClass, kCaption,
                    WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN, left, top, kWindowWidth, kWindowHeight, nullptr, nullptr,
                    GetModuleHandleW(nullptr), this);
    if (!window_)
        throw std::runtime_error("Cannot create the What's New window");

    RECT client;
    GetClientRect(window_.get(), &client);
    const int panelTop = client.bottom - kBottomPanelHeight;
    okButton_ = CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                                kOkButton.left, panelTop + kOkButton.top, kOkButton.right - kOkButton.left,
                                kOkButton.bottom - kOkButton.top, window_.get(),
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), GetModuleHandleW(nullptr), nullptr);
    font_.reset(CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Sans Serif"));
    SendMessageW(okButton_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    try {
        browser_ = std::make_unique<TWebBrowser>(window_.get(), BrowserBounds());
    } catch (const EOleError& error) {
        lastNavigationError_ = error.what();
    }
}

Tfrm_ShowInfoUpdate::~Tfrm_ShowInfoUpdate()
{
    browser_.reset();
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
}

RECT Tfrm_ShowInfoUpdate::BrowserBounds() const
{
    RECT client;
    GetClientRect(window_.get(), &client);
    client.bottom -= kBottomPanelHeight;
    InflateRect(&client, -kPanelBevels, -kPanelBevels);
    return client;
}

void Tfrm_ShowInfoUpdate::Navigate(const std::string& address)
{
    if (address.empty() || !browser_)
        return;
    // The address comes from the network: a file or a share must never open here.
    const auto page = WebPageAddress(address);
    if (!page) {
        lastNavigationError_ = "not an http or https address: " + address;
        return;
    }
    try {
        browser_->Navigate(WideFromUtf8(*page));
        lastNavigationError_.clear();
    } catch (const EOleError& error) {
        lastNavigationError_ = error.what();
    }
}

std::wstring Tfrm_ShowInfoUpdate::LocationURL() const
{
    return browser_ ? browser_->LocationURL() : std::wstring();
}

int Tfrm_ShowInfoUpdate::ShowModal()
{
    modalResult_ = 0;
    const ModalScope scope(window_.get());
    ShowWindow(window_.get(), SW_SHOW);
    SetForegroundWindow(window_.get());
    SetFocus(okButton_);
    MSG msg;
    while (modalResult_ == 0) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            modalResult_ = IDCANCEL;
        } else if (got == -1) {
            modalResult_ = IDCANCEL;
        } else if (!IsDialogMessageW(window_.get(), &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    ShowWindow(window_.get(), SW_HIDE);
    return modalResult_;
}

void Tfrm_ShowInfoUpdate::WMPaint()
{
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window_.get(), &paint);
    RECT panel = BrowserBounds();
    InflateRect(&panel, kPanelBevels, kPanelBevels);
    DrawEdge(dc, &panel, BDR_SUNKENOUTER, BF_RECT);
    EndPaint(window_.get(), &paint);
}

void Tfrm_ShowInfoUpdate::WMCommand(WPARAM wParam)
{
    if (LOWORD(wParam) == IDOK)
        modalResult_ = IDYES;
    else if (LOWORD(wParam) == IDCANCEL)
        modalResult_ = IDCANCEL;
}

void Tfrm_ShowInfoUpdate::WindowAttached(HWND window)
{
    window_.reset(window);
}

void Tfrm_ShowInfoUpdate::WindowDetached()
{
    static_cast<void>(window_.release());
}

LRESULT Tfrm_ShowInfoUpdate::WindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        WMPaint();
        return 0;
    case WM_COMMAND:
        WMCommand(wParam);
        return 0;
    case WM_CLOSE:
        modalResult_ = IDCANCEL;
        return 0;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) == okButton_) {
            SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // the hand
            return TRUE;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window_.get(), message, wParam, lParam);
}

bool ShowInfoUpdate(const std::string& address, bool show)
{
    Tfrm_ShowInfoUpdate& form = Tfrm_ShowInfoUpdate::Instance();
    if (!show) {
        form.Navigate(address);
        return false;
    }
    if (!Trimmed(form.LocationURL()).empty())
        form.Navigate(address);
    return form.ShowModal() == IDYES;
}

void PlugWhatsNewWindow(TauUpgraderPrompts& prompts)
{
    prompts.PreloadInfo = [](const std::string& url) { ShowInfoUpdate(url, false); };
    prompts.ShowInfo = [](const std::string& url) { ShowInfoUpdate(url, true); };
}
