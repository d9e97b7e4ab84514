#pragma once
// The agent's hidden main window, class "TAgentForm": tray icon and menu,
// the five-minute take-over of the watched startup locations, and the
// messages through which the product's other programs steer it:
//   1125 UMQUIT          quit without a last take-over
//   1126 UMShowTrayIcon  low byte of WParam: show (non-zero) or hide the icon
//   1127 UMRefreshMenu   take over, reload and rebuild the menu now
// A change in a watched location (ChangeWatch.h) is taken over as soon as
// its burst has settled; the five-minute timer stays as the safety net.
// Entries a take-over stores for the first time are each one line of the log
// and, while balloons are on (config.dat), one balloon for them all
// (ProgramNotice.h), held back while the start balloon shows; test seam: KDAGENT_BALLOON_LOG names a file that gets
// "title|text" of each such balloon.
//   WM_QUERYENDSESSION   answered 1 at once
//   WM_ENDSESSION        when the session ends: the last take-over (unless
//                        quitting), waited for kLastTakeOverMs at most, with
//                        no menu or icon rebuilt; the Restart Manager's close
//                        (ENDSESSION_CLOSEAPP) ends the agent; a cancelled
//                        end changes nothing
// The first take-over waits for Explorer to start the Startup folders
// (LogonPlan.h), asking again every kLogonGateRetryMs.
// The window's thread never waits for a file: the take-over and the reload
// run on a worker thread (TakeOver.h), the icons are read on another, and
// programs start on threads of their own; the window's thread rebuilds the
// menu from what has arrived and fills the pictures in as they come. A
// refresh asked for while one waits to begin is that one. While a modal loop
// runs (the popup menu, a message box) the menu is not rebuilt; that waits
// until the loop has ended, so nothing a running handler uses is freed under
// it. Quick Launch entries keep their own copy of the command line they
// start. A quit asked for while a menu or a message box is open ends the
// loop at once. Programs start unelevated when the agent is elevated
// (SetStartUnelevated): the items come from places any program of the user
// may write.
// Errors of the startup-item managers are written to the user's log; each
// distinct message is also shown once per session in a message box (never
// while the session ends) and the agent goes on. An error before the first
// take-over leaves the form not Created(): the program ends. A quit asked
// while the start waits for the stores (a /restore holds them) ends the
// agent at once, with nothing written.
#include <windows.h>

#include "agent/ChangeWatch.h"
#include "agent/CoolTrayIcon.h"
#include "agent/FileInfoManager.h"
#include "agent/LogonStart.h"
#include "agent/MessageFilter.h"
#include "agent/PopupMenu.h"
#include "agent/ProgramNotice.h"
#include "agent/StoppableThread.h"
#include "agent/TakeOver.h"
#include "agent/WorkerThread.h"
#include "winutil/MessageWindow.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

constexpr UINT UM_QUIT = WM_USER + 101;
constexpr UINT UM_SHOW_TRAY_ICON = WM_USER + 102;
constexpr UINT UM_REFRESH_MENU = WM_USER + 103;
constexpr UINT kRefreshTimerId = 1;
// Holds a new-program notice back while the start balloon shows.
constexpr UINT kNoticeTimerId = 2;
constexpr UINT kBalloonMs = 10000;
constexpr UINT kRefreshIntervalMs = 300000;
constexpr UINT kLogonGateTimerId = 3;
constexpr UINT kLogonGateRetryMs = 1000;
// Asks as often whether the logon start has started the all-users files.
constexpr UINT kOlderMovesTimerId = 4;
// Windows shows "this app is preventing shutdown" after five seconds.
constexpr DWORD kLastTakeOverMs = 3000;

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
    // The merged item list of the last reload, ordered by Order.
    const std::vector<TStartupItem>& Items() const { return FItems; }
    // A take-over, a reload, a menu rebuild or icons still to come.
    bool Busy() const;

    void LoadSettings();
    void SaveSettings();
    void RegisterAgentItem();
    void RegisterAgentItemLater();
    // Why the agent's own item was not registered: the stores were not had.
    static std::string UnregisteredText(const std::string& refusal);
    // Take-over and reload on the worker, then the menu rebuild (held while a
    // modal loop runs) and the icons.
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
    void TakeOverDone(TTakeOverResult result, const std::string& failure, const std::string& since);
    void AnnounceNewPrograms(const std::string& since);
    void ShowNotice(const std::vector<TNewProgram>& programs);
    void ShowWaitingNotice();
    void StartLogonItemsOnce(const std::vector<TStartupItem>& items);
    bool ReturnOlderMovesOnce();
    void LastTakeOver();
    void RebuildWhenFree();
    void RequestIcons();
    void IconArrived(const std::string& iconText, TFileInfoManager::IconRead read, unsigned generation);
    void BeginModal();
    void EndModal();
    void RunHeldWork();
    void Terminate();
    void ShowError(const std::string& message);
    void ShowStartBalloon();
    void EnableTimer(UINT interval);
    std::string UserConfigFile() const;
    void StartProgram(const std::string& commandLine);
    std::string ConfigFile() const;

    void UMQUIT();
    void UMShowTrayIcon(WPARAM wParam);
    void UMRefreshMenu();
    LRESULT WMEndSessionQuery();
    void WMEndSession(bool ending, LPARAM reason);
    void TimerTimer();
    void LocationsChanged();
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

    // Used only by the take-over worker's jobs.
    std::shared_ptr<TTakeOver> FTakeOver;
    std::vector<TStartupItem> FItems;
    // The icon text of each Quick Launch entry, in menu order.
    std::vector<std::string> FEntryIcons;
    unsigned FIconGeneration = 0;
    // Made after the first take-over that read the stores.
    std::unique_ptr<TLogonStarter> FLogonStarter;
    // The all-users store's one-time return was asked of the worker (TakeOver.h).
    bool FOlderMovesReturned = false;
    bool FLogonStartDone = false;
    // The first take-over waits for Explorer; the gate's timer runs.
    bool FLogonGateWaiting = false;
    bool FQuitting = false;
    bool FShowBalloon = false;
    bool FShowIcon = false;
    bool FMachineWide = true;
    bool FCreated = false;
    // The start found the stores held past its wait (another session's
    // long take-over): the item is registered on the worker instead.
    bool FRegisterPending = false;
    bool FSessionEnded = false;
    UINT FTimerInterval = 0;
    std::set<std::string> FShownMessages;

    int FModalDepth = 0;
    bool FMenuStale = false;
    bool FClosing = false;

    std::unique_ptr<TChangeWatch> FChangeWatch;
    // Location and name of each entry a notice has named.
    std::set<std::string> FAnnounced;
    std::vector<TNewProgram> FWaitingNotice;
    // When the start balloon showed (GetTickCount), if it did.
    std::optional<DWORD> FStartBalloonShown;

    // Programs started from the menu, each on a thread of its own so that
    // one on a share that never answers holds up no other; joined at the end.
    std::vector<std::unique_ptr<TStoppableThread>> FStarts;

    // Last: they go first, dropping every job that refers to the form.
    std::unique_ptr<TWorkerThread> FTakeOverWorker;
    std::unique_ptr<TWorkerThread> FIconWorker;
    // Reads what a notice says of each new program (ProgramFacts.h).
    std::unique_ptr<TWorkerThread> FNoticeWorker;
};
