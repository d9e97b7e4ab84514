#pragma once
// The agent's hidden main window, class "TAgentForm": tray icon and menu,
// the five-minute take-over of the watched startup locations, and the
// messages through which the product's other programs steer it:
//   1125 UMQUIT          quit without a last take-over
//   1126 UMShowTrayIcon  low byte of WParam: show (non-zero) or hide the icon
//   1127 UMRefreshMenu   take over, reload and rebuild the menu now
//   WM_QUERYENDSESSION   take over (unless quitting), answer 1
// Main thread only. Modal loops (the popup menu, message boxes, a program
// being started) dispatch timer ticks and messages; a refresh asked
// for meanwhile is held and runs as soon as the loop has ended, so nothing a
// running handler uses is freed under it. Quick Launch entries keep their own
// copy of the command line they start. A quit asked for while a menu or a
// message box is open ends the loop at once.
// Errors of the startup-item managers are written to the user's log; each
// distinct message is also shown once per session in a message box (never
// while the session ends) and the agent goes on. An error before the first
// take-over leaves the form not Created(): the program ends.
#include <windows.h>

#include "agent/CoolTrayIcon.h"
#include "agent/LogonStart.h"
#include "agent/PopupMenu.h"
#include "startup/StartupMgrHelper.h"
#include "winutil/MessageWindow.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

constexpr UINT UM_QUIT = WM_USER + 101;
constexpr UINT UM_SHOW_TRAY_ICON = WM_USER + 102;
constexpr UINT UM_REFRESH_MENU = WM_USER + 103;
constexpr UINT kRefreshTimerId = 1;
constexpr UINT kRefreshIntervalMs = 300000;

struct TAgentOptions {
    // The agent folder, with its trailing backslash: config.dat, KdConfig.exe
    // and the agent's own command line. Empty: the folder of the program.
    std::string agentFolder;
    // The user's own folder, with its trailing backslash: the user's copy of
    // what the agent must remember when the shared config.dat cannot be
    // written, and the log of problems not shown. Empty: "Keldora" in the
    // user's local application-data folder.
    std::string userFolder;
    // Whether the machine-wide locations may be taken over and the agent's
    // own item stored under the machine's Run key. Empty: when the process
    // runs with the Administrators group enabled (elevated, or UAC off).
    std::optional<bool> machineWide;
};

// The tray icon's resource for a Windows classification (GetWindowsKind).
const wchar_t* TrayIconResource(std::uint8_t windowsKind);

// Lets the product's unelevated programs and Explorer reach an elevated
// window: "TaskbarCreated" and 1125 to 1127. How it went:
enum class TMessageFilter { mfAllowed, mfFailed, mfUnavailable };
TMessageFilter AllowProductMessages(HWND window);

class TAgentForm {
public:
    // Creates the window and runs FormCreate; an error there is reported and
    // ends FormCreate at that step, the form staying usable.
    explicit TAgentForm(TAgentOptions options = {});
    // FormDestroy: a last refresh unless quitting.
    ~TAgentForm();
    TAgentForm(const TAgentForm&) = delete;
    TAgentForm& operator=(const TAgentForm&) = delete;

    HWND Handle() const { return FWindow.get(); }
    bool Created() const { return FCreated; }
    bool MachineWide() const { return FMachineWide; }
    UINT TimerInterval() const { return FTimerInterval; }
    std::string LogFile() const;
    bool Quitting() const { return FQuitting; }
    bool ShowIcon() const { return FShowIcon; }
    bool ShowBalloon() const { return FShowBalloon; }
    TPopupMenu& PopupMenu() { return FPopupMenu; }
    TCoolTrayIcon& CoolTrayIcon() { return *FCoolTrayIcon; }
    TMenuItem& QuickLaunch() { return *FQuickLaunch; }
    const TStartupMgrHelper* StartupMgr() const { return FStartupMgr.get(); }

    void LoadSettings();
    void SaveSettings();
    void RegisterAgentItem();
    // SetupAll, RefreshAll, BuildQuickLaunchMenu; held while a modal loop runs.
    void Refresh();
    void MenuItemClick(TMenuItem& sender);
    void SetIconVisibility(bool visible);
    void BuildQuickLaunchMenu();

private:
    class ModalScope;

    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void CreateComponents();
    void FormCreate();
    void FormDestroy();
    void RefreshNow();
    void BeginModal();
    void EndModal();
    void RunHeldWork();
    void Terminate();
    void ShowError(const std::string& message);
    void ReportNotes();
    void ShowStartBalloon();
    void EnableTimer(UINT interval);
    std::string UserConfigFile() const;
    void StartProgram(const std::string& commandLine);
    std::string ConfigFile() const;

    void UMQUIT();
    void UMShowTrayIcon(WPARAM wParam);
    void UMRefreshMenu();
    LRESULT WMEndSessionQuery();
    void TimerTimer();
    void miRefreshClick();
    void CoolTrayIconClick();
    void CoolTrayIconDblClick();
    void CoolTrayIconBalloonHintClick();
    void CoolTrayIconStartup(bool& showMainForm);
    void OnQuickLaunchItemClick(const std::string& commandLine);

    const std::string FAgentFolder;
    const std::string FUserFolder;
    keldora::winutil::MessageWindow FWindow;
    TPopupMenu FPopupMenu;
    std::unique_ptr<TCoolTrayIcon> FCoolTrayIcon;
    TMenuItemPtr FControlPanel, FQuickLaunch, FNoIcon, FRefresh, FExit;

    std::unique_ptr<TStartupMgrHelper> FStartupMgr;
    std::unique_ptr<TLogonStarter> FLogonStarter;
    bool FQuitting = false;
    bool FShowBalloon = false;
    bool FShowIcon = false;
    bool FMachineWide = true;
    bool FCreated = false;
    bool FBoxesAllowed = true;
    UINT FTimerInterval = 0;
    std::set<std::string> FShownMessages;

    int FModalDepth = 0;
    bool FRefreshing = false;
    bool FRefreshHeld = false;
    bool FClosing = false;
};
