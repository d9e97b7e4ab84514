#pragma once
// One icon in the notification area: kept there when the taskbar is
// recreated ("TaskbarCreated"), the shell's callback messages turned into
// click, double-click, mouse and balloon events, a popup menu opened at the
// cursor, balloon tips, optional icon cycling, and hiding the owner window
// at start or when it is minimised.
// All icons of the process share one hidden top-level handler window (it
// must get the "TaskbarCreated" broadcast), created with the first component
// and freed with the last. Main thread only; an exception
// raised by an event handler goes to the general error handling
// (AppMessages), never through the message loop.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "agent/PopupMenu.h"
#include "agent/SimpleTimer.h"
#include "winutil/UniqueHandle.h"

#include <functional>
#include <string>

namespace keldora::winutil {
template <class Member>
class SharedMessageWindow;
} // namespace keldora::winutil

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
enum class TBalloonHintIcon { bitNone, bitInfo, bitWarning, bitError };

// Shift state bits, as the mouse events report them.
enum : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };

// The callback message the shell sends to the handler window.
constexpr UINT WM_TRAYNOTIFY = WM_USER + 1024;
constexpr UINT kTrayFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The notify-icon record size the running shell understands: the wide layout
// with balloon fields (936 bytes for 32-bit programs, 952 for 64-bit) from
// shell version 5 on, the first layout before. Texts (UTF-8) are cut to the
// record's limits in UTF-16 code units, never inside a character.
DWORD NotifyIconDataSize();

class TCoolTrayIcon {
public:
    using TNotifyEvent = std::function<void()>;
    using TMouseEvent = std::function<void(TMouseButton button, unsigned shift, POINT at)>;
    using TMouseMoveEvent = std::function<void(unsigned shift, POINT at)>;
    using TCycleEvent = std::function<void(int nextIndex)>;
    using TStartupEvent = std::function<void(bool& showMainForm)>;

    // `owner` is the program's main window (may be null): hidden by
    // OnStartup's answer and by MinimizeToTray.
    explicit TCoolTrayIcon(HWND owner);
    virtual ~TCoolTrayIcon();
    TCoolTrayIcon(const TCoolTrayIcon&) = delete;
    TCoolTrayIcon& operator=(const TCoolTrayIcon&) = delete;

    // The component is set up: asks OnStartup whether the owner is to be
    // shown, then applies the icon, visibility, cycling and enter/exit watch.
    void Loaded();

    HIMAGELIST IconList() const { return FIconList; }
    void SetIconList(HIMAGELIST list);  // not owned
    bool CycleIcons() const { return FCycleIcons; }
    void SetCycleIcons(bool cycle);
    UINT CycleInterval() const { return FCycleTimer.Interval(); }
    void SetCycleInterval(UINT ms) { FCycleTimer.SetInterval(ms); }
    bool Enabled = true;
    const std::string& Hint() const { return FHint; }
    void SetHint(const std::string& hint);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool show);
    HICON Icon() const { return FIcon.get(); }
    void SetIcon(UniqueIcon icon);  // the old icon is destroyed
    bool IconVisible() const { return FIconVisible; }
    void SetIconVisible(bool visible);
    int IconIndex() const { return FIconIndex; }
    void SetIconIndex(int index);
    TPopupMenu* PopupMenu = nullptr;  // not owned
    bool LeftPopup = false;
    bool WantEnterExitEvents() const { return FWantEnterExit; }
    void SetWantEnterExitEvents(bool want);
    bool MinimizeToTray = false;

    TNotifyEvent OnClick, OnDblClick, OnMouseEnter, OnMouseExit;
    TMouseEvent OnMouseDown, OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TCycleEvent OnCycle;
    TNotifyEvent OnBalloonHintClick, OnBalloonHintHide, OnBalloonHintTimeout, OnMinimizeToTray;
    TStartupEvent OnStartup;

    bool ShowBalloonHint(const std::string& title, const std::string& text, TBalloonHintIcon icon, int seconds);
    bool HideBalloonHint();
    // The balloon's text as last sent; empty after HideBalloonHint.
    const std::string& BalloonText() const { return FBalloonText; }

    virtual bool ShowIcon();
    virtual bool HideIcon();
    virtual bool ModifyIcon();

    // The record sent to the shell, filled from the properties.
    NOTIFYICONDATAW NotifyData(UINT flags) const;
    UINT Id() const { return FId; }
    // The handler window the shell's messages for every icon go to.
    static HWND HandlerWindow();

protected:
    virtual void Click();
    virtual void DblClick();
    virtual void CycleIcon();
    virtual void MouseDown(TMouseButton button, unsigned shift, POINT at);
    virtual void MouseUp(TMouseButton button, unsigned shift, POINT at);
    virtual void MouseMove(unsigned shift, POINT at);
    virtual void MouseEnter();
    virtual void MouseExit();
    virtual void DoMinimizeToTray();

private:
    static keldora::winutil::SharedMessageWindow<TCoolTrayIcon>& SharedWindow();
    static bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    static LRESULT CALLBACK OwnerHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR data);
    void HandleNotify(UINT code);
    bool Notify(DWORD message, UINT flags);
    void PopupAtCursor();
    void ClickTimerTick();
    void ExitTimerTick();

    UINT FId = 0;
    HWND FOwner;
    UniqueIcon FIcon;
    std::string FHint;
    bool FShowHint = true;
    bool FIconVisible = false;
    HIMAGELIST FIconList = nullptr;
    bool FCycleIcons = false;
    int FIconIndex = 0;
    bool FWantEnterExit = false;
    bool FClickPending = false;
    bool FPointerInside = false;
    POINT FLastPointer = {};
    std::string FBalloonText, FBalloonTitle;
    UINT FBalloonTimeout = 0;
    DWORD FBalloonFlags = 0;
    TSimpleTimer FCycleTimer;
    TSimpleTimer FClickTimer;
    TSimpleTimer FExitTimer;
};
