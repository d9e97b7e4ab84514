#include "BaseSubFormUnit.h"

#include "updater/Settings.h"
#include "winutil/WideText.h"
#include "winutil/WindowDpi.h"

#include <iterator>
#include <stdexcept>
#include <utility>

namespace {

constexpr const wchar_t* kWindowClass = L"TBaseSubForm";
constexpr const char* kGlyphResourceType = "BMP32";
constexpr int kFontHeight = 11; // pixels at 96 dots per inch

UINT ReleaseMessage()
{
    static const UINT message = RegisterWindowMessageW(L"KeldoraSubFormRelease");
    return message;
}

TWindowState StoredState(long value)
{
    if (value == static_cast<long>(TWindowState::wsMinimized))
        return TWindowState::wsMinimized;
    if (value == static_cast<long>(TWindowState::wsMaximized))
        return TWindowState::wsMaximized;
    return TWindowState::wsNormal;
}

int ShowCommand(TWindowState state)
{
    switch (state) {
    case TWindowState::wsMinimized:
        return SW_SHOWMINIMIZED;
    case TWindowState::wsMaximized:
        return SW_SHOWMAXIMIZED;
    default:
        return SW_SHOWNORMAL;
    }
}

} // namespace

TBaseSubForm::HandlerScope::~HandlerScope()
{
    if (--form_.busy_ == 0 && form_.releasePending_) {
        form_.releasePending_ = false;
        PostMessageW(form_.window_, ReleaseMessage(), 0, 0);
    }
}

TBaseSubForm::TBaseSubForm() = default;

TBaseSubForm::~TBaseSubForm()
{
    host_.reset();
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

TBaseSubForm::WindowLayout TBaseSubForm::Layout() const
{
    return {};
}

void TBaseSubForm::Create(HWND owner)
{
    RegisterOwnedWindowClass(kWindowClass, OwnedWindowProc<TBaseSubForm>);
    const WindowLayout layout = Layout();
    window_ = CreateWindowExW(layout.exStyle, kWindowClass, WideFromUtf8(layout.caption).c_str(), layout.style,
                              CW_USEDEFAULT, CW_USEDEFAULT, layout.width, layout.height, owner, nullptr,
                              GetModuleHandleW(nullptr), this);
    if (!window_)
        throw std::runtime_error("the window could not be created");
    dpi_ = WindowDpi(window_);
    MakeFont();
    host_ = std::make_unique<TGraphicHost>(window_);
    try {
        FormCreate();
    } catch (...) {
        host_.reset();
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(std::exchange(window_, nullptr));
        throw;
    }
}

void TBaseSubForm::FormCreate()
{
    LoadGlyphs();
}

int TBaseSubForm::Scale(int value) const
{
    return ScaleForDpi(value, dpi_);
}

void TBaseSubForm::MakeFont()
{
    LOGFONTW logFont = {};
    logFont.lfHeight = -Scale(kFontHeight);
    logFont.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(logFont.lfFaceName, L"MS Sans Serif", static_cast<int>(std::size(logFont.lfFaceName)));
    font_.reset(CreateFontIndirectW(&logFont));
}

void TBaseSubForm::SetClientSize(int width, int height)
{
    SetClientSizeForDpi(window_, Scale(width), Scale(height), dpi_);
}

void TBaseSubForm::DpiChanged() {}

// The old font stays selected in the children until the derived window
// hands them the new one, so it is freed only after that.
void TBaseSubForm::OnDpiChanged(int dpi, const RECT& suggested)
{
    dpi_ = dpi;
    const UniqueGdiObject old(font_.release());
    MakeFont();
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    DpiChanged();
}

void TBaseSubForm::LoadGlyphs()
{
    GlyphList glyphs;
    RegisterGlyphs(glyphs);
    for (const GlyphEntry& entry : glyphs)
        entry.button->Glyph().LoadFromResource(GetModuleHandleW(nullptr), entry.resourceName.c_str(),
                                               kGlyphResourceType);
}

void TBaseSubForm::RegisterGlyphs(GlyphList&) {}

std::string TBaseSubForm::GetDescription() const
{
    return "[No description]";
}

void TBaseSubForm::FormClose() {}

void TBaseSubForm::Show()
{
    ShowWindow(window_, ShowCommand(pendingState_));
    UpdateWindow(window_);
}

void TBaseSubForm::Close()
{
    SendMessageW(window_, WM_CLOSE, 0, 0);
}

TWindowState TBaseSubForm::WindowState() const
{
    if (IsIconic(window_))
        return TWindowState::wsMinimized;
    if (IsZoomed(window_))
        return TWindowState::wsMaximized;
    return IsWindowVisible(window_) ? TWindowState::wsNormal : pendingState_;
}

void TBaseSubForm::SetWindowState(TWindowState state)
{
    pendingState_ = state;
    if (IsWindowVisible(window_))
        ShowWindow(window_, ShowCommand(state));
}

void TBaseSubForm::SavePlacement()
{
    const TSettings settings(placementFile_);
    const TWindowState state = WindowState();
    settings.WriteInteger(placementSection_, "WindowState", static_cast<long>(state));
    RECT bounds = {};
    if (state == TWindowState::wsNormal) {
        GetWindowRect(window_, &bounds);
    } else {
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        if (GetWindowPlacement(window_, &placement))
            bounds = placement.rcNormalPosition;
    }
    settings.WriteInteger(placementSection_, "WindowLeft", bounds.left);
    settings.WriteInteger(placementSection_, "WindowTop", bounds.top);
    settings.WriteInteger(placementSection_, "WindowWidth", bounds.right - bounds.left);
    settings.WriteInteger(placementSection_, "WindowHeight", bounds.bottom - bounds.top);
}

void TBaseSubForm::LoadPlacement()
{
    const TSettings settings(placementFile_);
    const long left = settings.ReadInteger(placementSection_, "WindowLeft");
    const long top = settings.ReadInteger(placementSection_, "WindowTop");
    const long width = settings.ReadInteger(placementSection_, "WindowWidth");
    const long height = settings.ReadInteger(placementSection_, "WindowHeight");
    if (left != 0 && top != 0 && width != 0 && height != 0) {
        // A minimised or maximised window keeps its state and gets the bounds it restores to.
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        if ((IsIconic(window_) || IsZoomed(window_)) && GetWindowPlacement(window_, &placement)) {
            placement.rcNormalPosition = {left, top, left + width, top + height};
            SetWindowPlacement(window_, &placement);
        } else {
            SetWindowPos(window_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    SetWindowState(StoredState(settings.ReadInteger(placementSection_, "WindowState")));
}

void TBaseSubForm::OnClose()
{
    ShowWindow(window_, SW_HIDE);
    FormClose();
    if (freeOnClose_)
        PostMessageW(window_, ReleaseMessage(), 0, 0);
}

void TBaseSubForm::OnRelease()
{
    if (busy_ > 0) {
        releasePending_ = true;
        return;
    }
    delete this;
}

LRESULT TBaseSubForm::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        OnClose();
        return 0;
    }
    if (message == ReleaseMessage()) {
        OnRelease();
        return 0;
    }
    if (message == WM_DPICHANGED) {
        OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void TBaseSubForm::WindowAttached(HWND window)
{
    window_ = window;
}

void TBaseSubForm::WindowDetached()
{
    host_.reset();
    window_ = nullptr;
}

LRESULT TBaseSubForm::WindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (host_ && host_->HandleMessage(message, wParam, lParam, result))
        return result;
    return WindowProc(message, wParam, lParam);
}
