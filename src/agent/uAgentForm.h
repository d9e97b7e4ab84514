#pragma once
// The agent's hidden main window, class "TAgentForm": tray icon and menu,
// the five-minute take-over of the watched startup locations, and the
// messages through which the product's other programs steer it:
//   1125 UMQUIT          quit without a last take-over
//   1126 UMShowTrayIcon  low byte of WParam: show (non-zero) or hide the icon
//   1127 UMRefreshMenu   take over, reload and rebuild the menu now
//   WM_QUERYENDSESSION   take over (unless quitting), answer 1
// Main thread only. Modal loops (the popup menu, message boxes, a program
// being started) dispatch timer ticks and messages; a refresh or quit asked
// for meanwhile is held and runs as soon as the loop has ended, so nothing a
// running handler uses is freed under it. Quick Launch entries keep their own
// copy of the command line they start. Errors of the startup-item managers
// are reported in a message box (AppMessages) and the agent goes on.
#include <windows.h>

#include "agent/CoolTrayIcon.h"
#include "agent/PopupMenu.h"
#include "startup/StartupMgrHelper.h"

#include <memory>
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
};

class TAgentForm {
public:
    // Creates the window and runs FormCreate; an error there is reported and
    // ends FormCreate at that step, the form staying usable.
    explicit TAgentForm(TAgentOptions options = {});
    // FormDestroy: a last refresh unless quitting.
    ~TAgentForm();
    TAgentForm(const TAgentForm&) = delete;
    TAgentForm& operator=(const TAgentForm&) = delete;

    HWND Handle() const { return FHandle.get(); }
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

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateWindowHandle();
    void CreateComponents();
    void FormCreate();
    void FormDestroy();
    void RefreshNow();
    void BeginModal();
    void EndModal();
    void RunHeldWork();
    void Terminate();
    void ShowError(const std::string& message);
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
    UniqueWindow FHandle;
    TPopupMenu FPopupMenu;
    std::unique_ptr<TCoolTrayIcon> FCoolTrayIcon;
    TMenuItemPtr FControlPanel, FQuickLaunch, FNoIcon, FRefresh, FExit;

    std::unique_ptr<TStartupMgrHelper> FStartupMgr;
    bool FQuitting = false;
    bool FShowBalloon = false;
    bool FShowIcon = false;

    int FModalDepth = 0;
    bool FRefreshing = false;
    bool FRefreshHeld = false;
    bool FCloseHeld = false;
};
