#include "uAgentForm.h"

#include "AdminCheck.h"
#include "AgentQuitEvent.h"
#include "AgentResources.h"
#include "FileInfoManager.h"
#include "common/AppMessages.h"
#include "common/LogFile.h"
#include "common/ProcessManager.h"
#include "core/Quote.h"
#include "core/StrCon.h"
#include "common/SystemFacts.h"
#include "common/AppPaths.h"
#include "startup/StoreLock.h"
#include "winutil/ComApartment.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <shlobj.h>

namespace {

constexpr const char* kFormClass = "TAgentForm";
// Posted to itself: work held during a modal loop runs now.
constexpr UINT kRunHeldWork = WM_APP + 1;
constexpr UINT kLocationsChanged = WM_APP + 2;
constexpr const char* kConfigExe = "KdConfig.exe";

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

HICON AppIcon()
{
    return LoadIconW(Instance(), L"ICO_001");
}

// A top-level window: the product's other programs find it by its class,
// and it takes part in the end of the session.
keldora::winutil::MessageWindowOptions FormWindowOptions()
{
    return {.kind = keldora::winutil::WindowKind::HiddenTopLevel,
            .className = kFormClass,
            .icon = AppIcon(),
            .cursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)),  // the arrow
            .style = WS_OVERLAPPEDWINDOW,
            .exStyle = 0,
            .x = CW_USEDEFAULT,
            .y = CW_USEDEFAULT,
            .width = 400,
            .height = 300};
}

// The stores for the agent's own item, unless a quit is asked first (the
// window's message, the quit event, which is then taken, or `ending`, for an
// Exit or a session end that a sent message's own loop took in): an agent
// started while a /restore empties them is asked once the restore is done
// with them, and so quits at once rather than after the lock's waits. The
// wait keeps its place in the system's queue, so the other agents'
// take-overs cannot pass it again and again, and answers sent messages
// meanwhile. False when asked.
bool LockStoresUnlessAskedToQuit(std::optional<TStoreLock>& stores, HWND window, HANDLE quitEvent,
                                 const std::function<bool()>& ending)
{
    // Its peek, with no PM_QS_ flag, also marks the posted messages seen, so
    // that they do not wake the wait again.
    const auto askedToQuit = [&] {
        MSG asked;
        return ending() || PeekMessageW(&asked, window, UM_QUIT, UM_QUIT, PM_NOREMOVE) ||
               PeekMessageW(&asked, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) ||
               (quitEvent && WaitForSingleObject(quitEvent, 0) == WAIT_OBJECT_0);
    };
    if (askedToQuit())
        return false;
    bool asked = false;
    stores.emplace(kStoreLockTimeoutMs, [&](HANDLE granted, DWORD timeoutMs) -> DWORD {
        const ULONGLONG until = GetTickCount64() + timeoutMs;
        const HANDLE handles[] = {granted, quitEvent};
        for (;;) {
            // A quit asked with the grant wins: the lock given up is let go.
            if (askedToQuit()) {
                asked = true;
                return WAIT_IO_COMPLETION;
            }
            if (WaitForSingleObject(granted, 0) == WAIT_OBJECT_0)
                return WAIT_OBJECT_0;
            const ULONGLONG now = GetTickCount64();
            if (now >= until)
                return WAIT_TIMEOUT;
            const DWORD woke = MsgWaitForMultipleObjectsEx(quitEvent ? 2 : 1, handles, static_cast<DWORD>(until - now),
                                                           QS_SENDMESSAGE | QS_POSTMESSAGE, 0);
            if (woke == WAIT_FAILED)
                return woke;
            if (woke == WAIT_OBJECT_0 + 1 && quitEvent) {
                asked = true;
                return WAIT_IO_COMPLETION;
            }
            MSG sent;
            PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    });
    return !asked;
}

TMenuItemPtr NewItem(const char* caption)
{
    return std::make_shared<TMenuItem>(caption);
}

std::string DefaultUserFolder()
{
    const std::string local = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA);
    return local.empty() ? std::string() : AddBackslash(local) + "Keldora\\";
}

} // namespace

// Only XP's tray draws the full-colour icon well; every other system gets 16 colours.
const wchar_t* TrayIconResource(std::uint8_t windowsKind)
{
    return windowsKind > 10 ? L"ICO_TRAY" : L"ICO_TRAY16";
}

class TAgentForm::ModalScope {
public:
    explicit ModalScope(TAgentForm& form) : form_(form) { form_.BeginModal(); }
    ~ModalScope() { form_.EndModal(); }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    TAgentForm& form_;
};

TAgentForm::TAgentForm(TAgentOptions options)
    : FAgentFolder(options.agentFolder.empty() ? GetAppFolder() : options.agentFolder),
      FUserFolder(options.userFolder.empty() ? DefaultUserFolder() : options.userFolder),
      FWindow(FormWindowOptions(),
              [this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                  return HandleMessage(message, wParam, lParam, result);
              },
              HandleCurrentException),
      FMachineWide(options.machineWide ? *options.machineWide : CurrentAdminState() == TAdminState::asElevated),
      FTakeOverWorker(std::make_unique<TWorkerThread>()),
      FIconWorker(std::make_unique<TWorkerThread>()),
      FNoticeWorker(std::make_unique<TWorkerThread>())
{
    SetStartUnelevated(true);
    CreateComponents();
    SetErrorHandler([this](const std::string& message) { ShowError(message); });
    FCoolTrayIcon->Loaded();
    AllowShellMessages(Handle());
    AllowShellMessages(TCoolTrayIcon::HandlerWindow());
    try {
        FormCreate();
    } catch (...) {
        HandleCurrentException();
    }
}

TAgentForm::~TAgentForm()
{
    try {
        FormDestroy();
    } catch (...) {
        HandleCurrentException();
    }
    // Apart from the teardown, so that its failure cannot cost the one bound.
    try {
        // Menu starts still stuck hold the end for one bound, not one each.
        std::vector<const TStoppableThread*> starts;
        for (const std::unique_ptr<TStoppableThread>& start : FStarts)
            starts.push_back(start.get());
        StopTogether(starts);
    } catch (...) {
        HandleCurrentException();
    }
    SetErrorHandler(nullptr);
}

void TAgentForm::CreateComponents()
{
    FControlPanel = NewItem("Config");
    FControlPanel->Default = true;
    FQuickLaunch = NewItem("Quick Launch");
    FQuickLaunch->SubMenu = true;
    FNoIcon = NewItem("Show tray icon");
    FNoIcon->Checked = true;
    FRefresh = NewItem("Refresh");
    FRefresh->OnClick = [this](TMenuItem&) { miRefreshClick(); };
    FExit = NewItem("Exit");
    for (const TMenuItemPtr& item : {FControlPanel, FQuickLaunch, FNoIcon, NewItem("-"), FRefresh, NewItem("-"), FExit})
        FPopupMenu.Items.Add(item);
    FPopupMenu.OnPopup = [this] { BeginModal(); };
    FPopupMenu.OnClose = [this] { EndModal(); };

    FCoolTrayIcon = std::make_unique<TCoolTrayIcon>(Handle());
    FCoolTrayIcon->SetCycleInterval(0);
    FCoolTrayIcon->SetIconIndex(0);
    FCoolTrayIcon->MinimizeToTray = true;
    FCoolTrayIcon->OnClick = [this] { CoolTrayIconClick(); };
    FCoolTrayIcon->OnDblClick = [this] { CoolTrayIconDblClick(); };
    FCoolTrayIcon->OnBalloonHintClick = [this] { CoolTrayIconBalloonHintClick(); };
    FCoolTrayIcon->OnStartup = [this](bool& show) { CoolTrayIconStartup(show); };
}

void TAgentForm::FormCreate()
{
    // First: start-up lets sent messages in (the tray icon talks to the
    // shell), and a refresh asked for meanwhile must find the take-over.
    FTakeOver = std::make_shared<TTakeOver>(std::vector<std::uint8_t>{0, 1, 8, 9}, FMachineWide);
    FQuitting = false;
    const auto menuItemClick = [this](TMenuItem& sender) { MenuItemClick(sender); };
    FExit->Tag = 1;
    FControlPanel->Tag = 2;
    FNoIcon->Tag = 3;
    for (const TMenuItemPtr& item : {FExit, FControlPanel, FNoIcon})
        item->OnClick = menuItemClick;

    const wchar_t* trayIcon = TrayIconResource(GetWindowsKind());
    FCoolTrayIcon->SetIcon(UniqueIcon(static_cast<HICON>(LoadImageW(
        Instance(), trayIcon, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0))));
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(AppIcon()));

    FExit->Caption = LoadResourceString(IDS_MENU_EXIT);
    FControlPanel->Caption = LoadResourceString(IDS_MENU_CONFIG);
    FNoIcon->Caption = LoadResourceString(IDS_MENU_SHOW_ICON);
    FRefresh->Caption = LoadResourceString(IDS_MENU_REFRESH);
    FCoolTrayIcon->SetHint(LoadResourceString(IDS_TRAY_HINT));
    SetApplicationTitle(LoadResourceString(IDS_APP_TITLE));
    SetWindowTextW(Handle(), WideFromUtf8(ApplicationTitle()).c_str());

    LoadSettings();
    FCoolTrayIcon->SetIconVisible(FShowIcon);
    FNoIcon->Checked = FShowIcon;
    ShowStartBalloon();
    std::string quitRefusal;
    UniqueKernelHandle quitEvent = CreateAgentQuitEvent(quitRefusal);
    if (!quitRefusal.empty())
        AppendLogFile(LogFile(), quitRefusal);
    {
        std::optional<TStoreLock> stores;
        if (!LockStoresUnlessAskedToQuit(stores, Handle(), quitEvent.get(),
                                         [this] { return FQuitting || FClosing || FSessionEnded; })) {
            // Nothing was written: the loop ends at once on the quit.
            UMQUIT();
            FCreated = true;
            return;
        }
        if (!stores->Acquired() && !stores->HeldElsewhere())
            throw EStartupMgrErr(UnregisteredText(stores->Refusal()) + ".");
        if (stores->Acquired()) {
            RegisterAgentItem();
        } else {
            AppendLogFile(LogFile(), "The startup stores were not free within the start's wait (" + stores->Refusal() +
                                         "); " + LoadResourceString(IDS_AGENT_ITEM_DESC) +
                                         " registers itself before its first take-over.");
            FRegisterPending = true;
        }
    }
    SaveSettings();
    EnableTimer(kRefreshIntervalMs);
    FChangeWatch = WatchLocations({0, 1, 8, 9}, FMachineWide, Handle(), kLocationsChanged,
                                  {std::move(quitEvent), UM_QUIT});
    // Only now: a menu opened while the start waits for the stores would
    // keep them locked for as long as it stays open.
    FCoolTrayIcon->PopupMenu = &FPopupMenu;
    FCreated = true;
    // A take-over that fails is reported and tried again on the next tick.
    Refresh();
}


// The icon and the window go first: to the user the agent has ended, even
// while the workers' ends wait out a call stuck in the system.
void TAgentForm::FormDestroy()
{
    FCoolTrayIcon->SetIconVisible(false);
    ShowWindow(Handle(), SW_HIDE);
    if (!FQuitting)
        LastTakeOver();
}


void TAgentForm::MenuItemClick(TMenuItem& sender)
{
    switch (sender.Tag) {
    case 1:
        Terminate();
        break;
    case 2:
        StartProgram(QuoteText(FAgentFolder + kConfigExe, '"'));
        break;
    case 3:
        sender.Checked = !sender.Checked;
        if (!sender.Checked) {
            ModalScope modal(*this);
            ShowMessageBox(Handle(), LoadResourceString(IDS_ICON_HIDDEN), ApplicationTitle(),
                           MB_OK | MB_ICONINFORMATION);
        }
        SetIconVisibility(sender.Checked);
        break;
    default:
        break;
    }
}

void TAgentForm::SetIconVisibility(bool visible)
{
    FShowIcon = visible;
    FCoolTrayIcon->SetIconVisible(visible);
    SaveSettings();
}

void TAgentForm::StartProgram(const std::string& commandLine)
{
    std::erase_if(FStarts, [](const std::unique_ptr<TStoppableThread>& start) { return start->Ended(); });
    FStarts.push_back(std::make_unique<TStoppableThread>([commandLine, log = LogFile()] {
        const ComApartment apartment;
        if (!ExecuteFile(commandLine, /*wait=*/false) && !log.empty())
            AppendLogFile(log, "Unable to start \"" + commandLine + "\".");
    }));
}

void TAgentForm::BeginModal()
{
    ++FModalDepth;
}

void TAgentForm::EndModal()
{
    if (--FModalDepth == 0 && FMenuStale)
        PostMessageW(Handle(), kRunHeldWork, 0, 0);
}

void TAgentForm::RunHeldWork()
{
    // The loop is ending: FormDestroy takes over once more unless quitting.
    if (!FClosing)
        RebuildWhenFree();
}

// Ends the message loop; the form is freed (and FormDestroy runs) after it.
// A menu is closed, and a message box's own loop ends on the quit message,
// so nobody has to answer anything first.
void TAgentForm::Terminate()
{
    FClosing = true;
    if (FModalDepth > 0)
        EndMenu();
    PostQuitMessage(0);
}

// Every report goes to the user's log; a box only for a message not shown
// before in this session, and never while the session ends.
void TAgentForm::ShowError(const std::string& message)
{
    AppendLogFile(LogFile(), message);
    if (FSessionEnded || FQuitting || !FShownMessages.insert(message).second)
        return;
    ModalScope modal(*this);
    ShowMessageBox(Handle(), message, ApplicationTitle(), MB_OK | MB_ICONERROR);
}

void TAgentForm::UMQUIT()
{
    FQuitting = true;
    Terminate();
}

void TAgentForm::UMShowTrayIcon(WPARAM wParam)
{
    const bool show = (wParam & 0xFF) != 0;
    FCoolTrayIcon->SetIconVisible(show);
    FNoIcon->Checked = show;
}

void TAgentForm::UMRefreshMenu()
{
    Refresh();
}

// Nothing that could take long: the session may end at once.
LRESULT TAgentForm::WMEndSessionQuery()
{
    return 1;
}

// LogonPlan.h says what each end asks for.
void TAgentForm::WMEndSession(bool ending, LPARAM reason)
{
    switch (EndSessionStepOf(ending, (reason & ENDSESSION_CLOSEAPP) != 0)) {
    case TEndSessionStep::esNothing:
        return;
    case TEndSessionStep::esEndAgent:
        Terminate();
        return;
    case TEndSessionStep::esLastTakeOver:
        // Before the start is done nothing was taken over yet, and its wait
        // for the stores ends on it.
        if (!FCreated)
            FSessionEnded = true;
        else if (!FQuitting)
            LastTakeOver();
        return;
    }
}

void TAgentForm::TimerTimer()
{
    if (!FQuitting)
        Refresh();
}

void TAgentForm::LocationsChanged()
{
    if (!FQuitting)
        Refresh();
}

void TAgentForm::miRefreshClick()
{
    Refresh();
}

void TAgentForm::CoolTrayIconClick() {}

void TAgentForm::CoolTrayIconDblClick()
{
    StartProgram(QuoteText(FAgentFolder + kConfigExe, '"'));
}

void TAgentForm::CoolTrayIconBalloonHintClick()
{
    FShowBalloon = false;
}

void TAgentForm::CoolTrayIconStartup(bool& showMainForm)
{
    showMainForm = false;
}

bool TAgentForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    result = 0;
    switch (message) {
    case UM_QUIT:
        UMQUIT();
        return true;
    case UM_SHOW_TRAY_ICON:
        UMShowTrayIcon(wParam);
        return true;
    case UM_REFRESH_MENU:
        UMRefreshMenu();
        return true;
    case WM_QUERYENDSESSION:
        result = WMEndSessionQuery();
        return true;
    case WM_ENDSESSION:
        WMEndSession(wParam != FALSE, lParam);
        return true;
    case WM_TIMER:
        if (wParam == kLogonGateTimerId) {
            KillTimer(Handle(), kLogonGateTimerId);
            FLogonGateWaiting = false;
            Refresh();
            return true;
        }
        if (wParam == kNoticeTimerId) {
            ShowWaitingNotice();
            return true;
        }
        if (wParam == kOlderMovesTimerId) {
            if (ReturnOlderMovesOnce())
                KillTimer(Handle(), kOlderMovesTimerId);
            return true;
        }
        if (wParam != kRefreshTimerId)
            return false;
        TimerTimer();
        return true;
    case WM_CLOSE:
        Terminate();
        return true;
    case kRunHeldWork:
        RunHeldWork();
        return true;
    case kLocationsChanged:
        LocationsChanged();
        return true;
    default:
        return false;
    }
}
