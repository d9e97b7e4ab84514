#include "CoolTrayIcon.h"

#include "common/AppMessages.h"
#include "core/Utf8.h"
#include "winutil/SharedMessageWindow.h"
#include "winutil/WideText.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Packed major.minor of a loaded system library (4.70 is 0x40046), 0 when unknown.
DWORD PackedDllVersion(const wchar_t* library)
{
    const HMODULE module = GetModuleHandleW(library);
    if (!module)
        return 0;
    const auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetVersion")));
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    if (!getVersion || FAILED(getVersion(&info)))
        return 0;
    return MAKELONG(info.dwMinorVersion, info.dwMajorVersion);
}

constexpr DWORD kComCtl470 = 262214;

UINT TaskbarCreatedMessage()
{
    static const UINT message =
        PackedDllVersion(L"comctl32.dll") > kComCtl470 ? RegisterWindowMessageW(L"TaskbarCreated") : 0;
    return message;
}

// At most maxLength UTF-16 code units of the text, never half a character.
template <std::size_t N>
void CopyText(wchar_t (&target)[N], const std::string& text, std::size_t maxLength)
{
    const std::wstring wide =
        WideFromUtf8(std::string_view(text).substr(0, Utf8PrefixLength(text, std::min(maxLength, N - 1))));
    std::memcpy(target, wide.data(), wide.size() * sizeof(wchar_t));
    target[wide.size()] = L'\0';
}

unsigned ShiftState(unsigned button)
{
    unsigned shift = button;
    if (GetAsyncKeyState(VK_SHIFT) < 0)
        shift |= ssShift;
    if (GetAsyncKeyState(VK_CONTROL) < 0)
        shift |= ssCtrl;
    if (GetAsyncKeyState(VK_MENU) < 0)
        shift |= ssAlt;
    return shift;
}

POINT CursorPos()
{
    POINT at = {};
    GetCursorPos(&at);
    return at;
}

constexpr UINT kBalloonHide = WM_USER + 3;
constexpr UINT kBalloonTimeout = WM_USER + 4;
constexpr UINT kBalloonUserClick = WM_USER + 5;
constexpr UINT kExitWatchMs = 20;

} // namespace

DWORD NotifyIconDataSize()
{
    static const DWORD size =
        PackedDllVersion(L"shell32.dll") >= MAKELONG(0, 5) ? NOTIFYICONDATAW_V2_SIZE : NOTIFYICONDATAW_V1_SIZE;
    return size;
}

using keldora::winutil::SharedMessageWindow;
using keldora::winutil::WindowKind;

SharedMessageWindow<TCoolTrayIcon>& TCoolTrayIcon::SharedWindow()
{
    static SharedMessageWindow<TCoolTrayIcon> shared(
        {.kind = WindowKind::HiddenTopLevel, .className = "TCoolTrayIconHandler"}, &TCoolTrayIcon::HandleMessage,
        HandleCurrentException);
    return shared;
}

TCoolTrayIcon::TCoolTrayIcon(HWND owner) : FOwner(owner)
{
    FId = static_cast<UINT>(SharedWindow().Join(*this));
    FCycleTimer.SetOnTimer([this] { CycleIcon(); });
    FClickTimer.SetAutoDisable(true);
    FClickTimer.SetOnTimer([this] { ClickTimerTick(); });
    FExitTimer.SetInterval(kExitWatchMs);
    FExitTimer.SetOnTimer([this] { ExitTimerTick(); });
    if (FOwner)
        SetWindowSubclass(FOwner, &TCoolTrayIcon::OwnerHook, FId, reinterpret_cast<DWORD_PTR>(this));
}

TCoolTrayIcon::~TCoolTrayIcon()
{
    if (FIconVisible)
        Notify(NIM_DELETE, 0);
    if (FOwner)
        RemoveWindowSubclass(FOwner, &TCoolTrayIcon::OwnerHook, FId);
    SharedWindow().Leave(FId);
}

HWND TCoolTrayIcon::HandlerWindow()
{
    return SharedWindow().Window();
}

void TCoolTrayIcon::Loaded()
{
    bool showMainForm = true;
    if (OnStartup)
        OnStartup(showMainForm);
    if (!showMainForm && FOwner)
        ShowWindow(FOwner, SW_HIDE);
    ModifyIcon();
    SetIconVisible(FIconVisible);
    SetCycleIcons(FCycleIcons);
    SetWantEnterExitEvents(FWantEnterExit);
    Notify(NIM_SETVERSION, 0);
}

NOTIFYICONDATAW TCoolTrayIcon::NotifyData(UINT flags) const
{
    NOTIFYICONDATAW data = {};
    data.cbSize = NotifyIconDataSize();
    data.hWnd = HandlerWindow();
    data.uID = FId;
    data.uFlags = flags;
    data.uCallbackMessage = WM_TRAYNOTIFY;
    data.hIcon = FIcon.get();
    const bool balloonLayout = data.cbSize >= NOTIFYICONDATAW_V2_SIZE;
    if (FShowHint)
        CopyText(data.szTip, FHint, balloonLayout ? 127 : 63);
    if (balloonLayout && (flags & NIF_INFO)) {
        CopyText(data.szInfo, FBalloonText, 255);
        CopyText(data.szInfoTitle, FBalloonTitle, 63);
        data.uTimeout = FBalloonTimeout;
        data.dwInfoFlags = FBalloonFlags;
    }
    return data;
}

bool TCoolTrayIcon::Notify(DWORD message, UINT flags)
{
    NOTIFYICONDATAW data = NotifyData(flags);
    return Shell_NotifyIconW(message, &data) != FALSE;
}

bool TCoolTrayIcon::ShowIcon()
{
    FIconVisible = true;
    return Notify(NIM_ADD, kTrayFlags);
}

bool TCoolTrayIcon::HideIcon()
{
    FIconVisible = false;
    return Notify(NIM_DELETE, 0);
}

bool TCoolTrayIcon::ModifyIcon()
{
    return FIconVisible && Notify(NIM_MODIFY, kTrayFlags);
}

void TCoolTrayIcon::SetIconVisible(bool visible)
{
    if (visible)
        ShowIcon();
    else if (FIconVisible)
        HideIcon();
}

void TCoolTrayIcon::SetIcon(UniqueIcon icon)
{
    FIcon = std::move(icon);
    ModifyIcon();
}

void TCoolTrayIcon::SetHint(const std::string& hint)
{
    FHint = hint;
    ModifyIcon();
}

void TCoolTrayIcon::SetShowHint(bool show)
{
    FShowHint = show;
    ModifyIcon();
}

void TCoolTrayIcon::SetIconList(HIMAGELIST list)
{
    FIconList = list;
    SetIconIndex(FIconIndex);
}

void TCoolTrayIcon::SetIconIndex(int index)
{
    if (FIconList) {
        const int count = ImageList_GetImageCount(FIconList);
        index = std::max(0, std::min(index, count - 1));
        if (count > 0)
            FIcon.reset(ImageList_GetIcon(FIconList, index, ILD_NORMAL));
    }
    FIconIndex = index;
    ModifyIcon();
}

void TCoolTrayIcon::SetCycleIcons(bool cycle)
{
    FCycleIcons = cycle;
    if (cycle && FIconList)
        FCycleTimer.Start();
    else
        FCycleTimer.Stop(true);
}

void TCoolTrayIcon::SetWantEnterExitEvents(bool want)
{
    FWantEnterExit = want;
    if (!want)
        FExitTimer.Stop(true);
}

bool TCoolTrayIcon::ShowBalloonHint(const std::string& title, const std::string& text, TBalloonHintIcon icon,
                                    int seconds)
{
    HideBalloonHint();
    FBalloonText = text;
    FBalloonTitle = title;
    FBalloonTimeout = static_cast<UINT>(std::max(seconds, 0)) * 1000;
    FBalloonFlags = static_cast<DWORD>(icon);
    return Notify(NIM_MODIFY, kTrayFlags | NIF_INFO);
}

bool TCoolTrayIcon::HideBalloonHint()
{
    FBalloonText.clear();
    return Notify(NIM_MODIFY, kTrayFlags | NIF_INFO);
}

void TCoolTrayIcon::Click()
{
    if (OnClick)
        OnClick();
}

void TCoolTrayIcon::DblClick()
{
    if (OnDblClick)
        OnDblClick();
}

void TCoolTrayIcon::CycleIcon()
{
    if (!FIconList || ImageList_GetImageCount(FIconList) == 0)
        return;
    const int count = ImageList_GetImageCount(FIconList);
    FIcon.reset(ImageList_GetIcon(FIconList, std::min(FIconIndex, count - 1), ILD_NORMAL));
    ModifyIcon();
    const int next = (FIconIndex + 1) % count;
    if (OnCycle)
        OnCycle(next);
    FIconIndex = next;
}

void TCoolTrayIcon::MouseDown(TMouseButton button, unsigned shift, POINT at)
{
    if (OnMouseDown)
        OnMouseDown(button, shift, at);
}

void TCoolTrayIcon::MouseUp(TMouseButton button, unsigned shift, POINT at)
{
    if (OnMouseUp)
        OnMouseUp(button, shift, at);
}

void TCoolTrayIcon::MouseMove(unsigned shift, POINT at)
{
    if (OnMouseMove)
        OnMouseMove(shift, at);
}

void TCoolTrayIcon::MouseEnter()
{
    if (OnMouseEnter)
        OnMouseEnter();
}

void TCoolTrayIcon::MouseExit()
{
    if (OnMouseExit)
        OnMouseExit();
}

void TCoolTrayIcon::DoMinimizeToTray()
{
    if (FOwner)
        ShowWindow(FOwner, SW_HIDE);
    SetIconVisible(true);
    if (OnMinimizeToTray)
        OnMinimizeToTray();
}

void TCoolTrayIcon::PopupAtCursor()
{
    POINT at = {};
    if (PopupMenu && PopupMenu->AutoPopup && GetCursorPos(&at))
        PopupMenu->Popup(at.x, at.y);
}

void TCoolTrayIcon::ClickTimerTick()
{
    if (!FClickPending)
        return;
    FClickPending = false;
    Click();
}

void TCoolTrayIcon::ExitTimerTick()
{
    const POINT at = CursorPos();
    if (at.x == FLastPointer.x && at.y == FLastPointer.y)
        return;
    FExitTimer.Stop(true);
    FPointerInside = false;
    MouseExit();
}

void TCoolTrayIcon::HandleNotify(UINT code)
{
    const POINT at = CursorPos();
    switch (code) {
    case WM_MOUSEMOVE:
        if (FWantEnterExit && !FPointerInside) {
            FPointerInside = true;
            FExitTimer.Start();
            MouseEnter();
        }
        MouseMove(ShiftState(0), at);
        FLastPointer = at;
        break;
    case WM_LBUTTONDOWN:
        if (OnDblClick) {
            FClickTimer.SetInterval(GetDoubleClickTime());
            FClickTimer.Start();
        }
        MouseDown(TMouseButton::mbLeft, ShiftState(ssLeft), at);
        FClickPending = true;
        if (LeftPopup)
            PopupAtCursor();
        break;
    case WM_LBUTTONUP:
        if (FClickPending && !FClickTimer.Enabled()) {
            FClickPending = false;
            Click();
        }
        MouseUp(TMouseButton::mbLeft, ShiftState(ssLeft), at);
        break;
    case WM_LBUTTONDBLCLK:
        FClickPending = false;
        FClickTimer.Stop(true);
        DblClick();
        if (PopupMenu && PopupMenu->AutoPopup && !LeftPopup)
            PopupMenu->ClickDefault();
        break;
    case WM_RBUTTONDOWN:
        MouseDown(TMouseButton::mbRight, ShiftState(ssRight), at);
        PopupAtCursor();
        break;
    case WM_RBUTTONUP:
        MouseUp(TMouseButton::mbRight, ShiftState(ssRight), at);
        break;
    case WM_MBUTTONDOWN:
        MouseDown(TMouseButton::mbMiddle, ShiftState(ssMiddle), at);
        break;
    case WM_MBUTTONUP:
        MouseUp(TMouseButton::mbMiddle, ShiftState(ssMiddle), at);
        break;
    case kBalloonHide:
        if (OnBalloonHintHide)
            OnBalloonHintHide();
        break;
    case kBalloonTimeout:
        if (OnBalloonHintTimeout)
            OnBalloonHintTimeout();
        break;
    case kBalloonUserClick:
        if (OnBalloonHintClick)
            OnBalloonHintClick();
        break;
    default:
        break;
    }
}

bool TCoolTrayIcon::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    if (message == WM_TRAYNOTIFY) {
        TCoolTrayIcon* icon = SharedWindow().Find(static_cast<UINT>(wParam));
        if (icon && icon->Enabled)
            icon->HandleNotify(static_cast<UINT>(lParam));
        return true;
    }
    if (message == TaskbarCreatedMessage() && message != 0) {
        for (TCoolTrayIcon* icon : SharedWindow().Members())
            if (icon->FIconVisible)
                icon->ShowIcon();
        return true;
    }
    switch (message) {
    case WM_DESTROY:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_QUIT:
    case WM_ENDSESSION:
    case WM_NCDESTROY:
        result = 1;
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK TCoolTrayIcon::OwnerHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR data)
{
    try {
        auto* icon = reinterpret_cast<TCoolTrayIcon*>(data);
        if (message == WM_SIZE && wParam == SIZE_MINIMIZED && icon->MinimizeToTray)
            icon->DoMinimizeToTray();
    } catch (...) {
        HandleCurrentException();
    }
    return DefSubclassProc(window, message, wParam, lParam);
}
