#pragma once
// The what's-new window: a web page about a new release in the platform's
// browser control, above an OK button. One window per process, created on
// first use and hidden between uses; the program frees it at its end with
// FreeInstance, while COM is still initialised. Runs on the main thread (a
// single-threaded COM apartment).
//
// Navigation is best effort: an empty address is not navigated to, an
// address that is not http or https is refused (kept as
// LastNavigationError), and a failed navigation request is caught and kept
// there too, so the window still opens (showing no page). Where the browser control cannot
// be created at all, the window opens with an empty panel. Its layout is
// fixed in pixels: the window is DPI-unaware with GDI scaling (WindowDpi.h),
// which the system enlarges with sharp text on a screen of higher DPI.
#include <windows.h>

#include "update/auUpgraderDialogs.h"
#include "updater/WebBrowserHost.h"
#include "winutil/OwnedWindow.h"
#include "winutil/UniqueHandle.h"

#include <memory>
#include <string>

class Tfrm_ShowInfoUpdate {
public:
    static constexpr int kHelpContext = 1034;

    // The process's window, created when there is none yet.
    static Tfrm_ShowInfoUpdate& Instance();
    // The window when it exists, else null.
    static Tfrm_ShowInfoUpdate* Existing();
    static void FreeInstance();

    ~Tfrm_ShowInfoUpdate();
    Tfrm_ShowInfoUpdate(const Tfrm_ShowInfoUpdate&) = delete;
    Tfrm_ShowInfoUpdate& operator=(const Tfrm_ShowInfoUpdate&) = delete;

    HWND Handle() const { return window_.get(); }
    HWND OkButton() const { return okButton_; }
    bool HasBrowser() const { return browser_ != nullptr; }

    // Starts loading the page; nothing for an empty address or one that is
    // not an http or https address naming a host.
    void Navigate(const std::string& address);
    std::wstring LocationURL() const;
    const std::string& LastNavigationError() const { return lastNavigationError_; }

    // Shows the window, keeps the thread's other windows disabled until it
    // closes, and returns the modal result: IDYES through OK, IDCANCEL when
    // closed any other way.
    int ShowModal();

private:
    Tfrm_ShowInfoUpdate();
    template <class Owner>
    friend LRESULT CALLBACK OwnedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void WindowAttached(HWND window);
    void WindowDetached();
    LRESULT WindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void WMPaint();
    void WMCommand(WPARAM wParam);
    RECT BrowserBounds() const;

    UniqueWindow window_;
    HWND okButton_ = nullptr;
    UniqueGdiObject font_;
    std::unique_ptr<TWebBrowser> browser_;
    std::string lastNavigationError_;
    int modalResult_ = 0;
};

// Preloads (show false: navigates, returns false, the window stays hidden)
// or shows the page (show true: reloads it when the browser holds one, then
// shows the window modally; true when it was closed with OK).
bool ShowInfoUpdate(const std::string& address, bool show);

// Puts this window behind an engine's ask dialog: the dialog preloads the
// release page here and its More Info button shows it.
void PlugWhatsNewWindow(TauUpgraderPrompts& prompts);
