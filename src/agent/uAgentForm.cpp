#include "uAgentForm.h"

#include "AdminCheck.h"
#include "AgentQuitEvent.h"
#include "AgentResources.h"
#include "FileInfoManager.h"
#include "IconText.h"
#include "ProgramFacts.h"
#include "uAppConfig.h"
#include "common/AppMessages.h"
#include "common/LogFile.h"
#include "common/ProcessManager.h"
#include "core/Quote.h"
#include "core/StrCon.h"
#include "common/Utils.h"
#include "startup/StartupItemFields.h"
#include "winutil/ComApartment.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/RuntimeLink.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <shlobj.h>

namespace {

constexpr const char* kFormClass = "TAgentForm";
// Posted to itself: work held during a modal loop runs now.
constexpr UINT kRunHeldWork = WM_APP + 1;
constexpr UINT kLocationsChanged = WM_APP + 2;
constexpr const char* kAgentExe = "kdAgent.exe";
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

TMenuItemPtr NewItem(const char* caption)
{
    return std::make_shared<TMenuItem>(caption);
}

std::string DefaultUserFolder()
{
    const std::string local = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA);
    return local.empty() ? std::string() : AddBackslash(local) + "Keldora\\";
}

// The settings the agent itself must remember; the product's other settings
// live only in the shared file.
constexpr const char* kOwnSettings[] = {"Common\\ShowBallon", "Setup\\ShowIcon"};

} // namespace

// Only XP's tray draws the full-colour icon well; every other system gets 16 colours.
const wchar_t* TrayIconResource(std::uint8_t windowsKind)
{
    return windowsKind > 10 ? L"ICO_TRAY" : L"ICO_TRAY16";
}

std::vector<UINT> MessagesFromLowerIntegrity()
{
    return {RegisterWindowMessageW(L"TaskbarCreated")};
}

TMessageFilter AllowShellMessages(HWND window)
{
    using FilterExFn = BOOL WINAPI(HWND, UINT, DWORD, void*);
    using FilterFn = BOOL WINAPI(UINT, DWORD);
    constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW, and MSGFLT_ADD for the older call
    const std::vector<UINT> messages = MessagesFromLowerIntegrity();
    bool allowed = true;
    try {
        const auto filterEx = BindFunctionAs<FilterExFn>("user32.dll", "ChangeWindowMessageFilterEx");
        for (const UINT message : messages)
            allowed = filterEx(window, message, kAllow, nullptr) && allowed;
        return allowed ? TMessageFilter::mfAllowed : TMessageFilter::mfFailed;
    } catch (const std::runtime_error&) {
    }
    try {
        const auto filter = BindFunctionAs<FilterFn>("user32.dll", "ChangeWindowMessageFilter");
        for (const UINT message : messages)
            allowed = filter(message, kAllow) && allowed;
        return allowed ? TMessageFilter::mfAllowed : TMessageFilter::mfFailed;
    } catch (const std::runtime_error&) {
        // Before Vista nothing filters messages.
        return TMessageFilter::mfUnavailable;
    }
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
    FCoolTrayIcon->PopupMenu = &FPopupMenu;
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
    RegisterAgentItem();
    SaveSettings();
    EnableTimer(kRefreshIntervalMs);
    std::string quitRefusal;
    UniqueKernelHandle quitEvent = CreateAgentQuitEvent(quitRefusal);
    if (!quitRefusal.empty())
        AppendLogFile(LogFile(), quitRefusal);
    FChangeWatch = WatchLocations({0, 1, 8, 9}, FMachineWide, Handle(), kLocationsChanged,
                                  {std::move(quitEvent), UM_QUIT});
    FCreated = true;
    // A take-over that fails is reported and tried again on the next tick.
    Refresh();
}

// The first-run greeting and, once per session, that the machine-wide
// entries wait for an elevated start; one balloon holds both.
void TAgentForm::ShowStartBalloon()
{
    std::string text = FShowBalloon ? LoadResourceString(IDS_BALLOON_TEXT) : std::string();
    if (!FMachineWide)
        text += (text.empty() ? "" : "\r\n") + LoadResourceString(IDS_NEED_ELEVATION);
    if (!FShowIcon || text.empty())
        return;
    FCoolTrayIcon->ShowBalloonHint(LoadResourceString(IDS_BALLOON_TITLE), text, TBalloonHintIcon::bitInfo,
                                   /*seconds=*/kBalloonMs / 1000);
    FStartBalloonShown = GetTickCount();
}

void TAgentForm::EnableTimer(UINT interval)
{
    if (!SetTimer(Handle(), kRefreshTimerId, interval, nullptr))
        throw EWin32Error("SetTimer", GetLastError());
    FTimerInterval = interval;
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

std::string TAgentForm::ConfigFile() const
{
    return FAgentFolder + LoadResourceString(IDS_CONFIG_FILE);
}

std::string TAgentForm::UserConfigFile() const
{
    return FUserFolder.empty() ? std::string() : FUserFolder + LoadResourceString(IDS_CONFIG_FILE);
}

std::string TAgentForm::LogFile() const
{
    return FUserFolder.empty() ? std::string() : FUserFolder + "kdAgent.log";
}

// Each flag starts from its own default, so a file that cannot be read
// leaves the icon and the balloon on rather than turning them off for good.
// The user's copy, written where the shared file could not be, wins.
void TAgentForm::LoadSettings()
{
    TAppCfgIni shared, own;
    shared.Open(ConfigFile());
    own.Open(UserConfigFile());
    int showBalloon = 1;
    shared.ReadInteger("Common\\ShowBallon", showBalloon, 1);
    own.ReadInteger("Common\\ShowBallon", showBalloon, showBalloon);
    FShowBalloon = (showBalloon & 0xFF) != 0;
    int showIcon = 1;
    shared.ReadInteger("Setup\\ShowIcon", showIcon, 1);
    own.ReadInteger("Setup\\ShowIcon", showIcon, showIcon);
    FShowIcon = (showIcon & 0xFF) != 0;
    FNoIcon->Checked = FShowIcon;
}

// The shared file first. What it cannot take (under UAC the program's folder
// is not the user's to write) goes to the user's copy; a value the user's
// copy already holds is kept in step there too, since it wins on reading.
void TAgentForm::SaveSettings()
{
    TAppCfgIni shared, own;
    shared.Open(ConfigFile());
    if (!FUserFolder.empty())
        ForceDirectories(FUserFolder);
    own.Open(UserConfigFile());
    const int values[] = {0, FShowIcon ? 1 : 0};
    for (std::size_t i = 0; i < std::size(kOwnSettings); ++i) {
        std::string held;
        const bool ownHolds = own.ReadString(kOwnSettings[i], held, "") && !held.empty();
        if (!shared.WriteInteger(kOwnSettings[i], values[i]) || ownHolds)
            own.WriteInteger(kOwnSettings[i], values[i]);
    }
    shared.WriteInteger("Setup\\AutoCheck", 1);
}

// In the machine's store when this process may write it, else in the user's.
void TAgentForm::RegisterAgentItem()
{
    TStartupItem item;
    item.Desc = LoadResourceString(IDS_AGENT_ITEM_DESC);
    item.CmdLine = FAgentFolder + kAgentExe;
    if (FMachineWide) {
        try {
            if (CreateStartupMgr(0)->AddItem(item))
                return;
        } catch (const EStartupMgrErr&) {
        }
    }
    if (!CreateStartupMgr(1)->AddItem(item))
        throw EStartupMgrErr("Unable to register " + item.Desc.str() + " in the store of \"" +
                             RegistryPath(GetStpDesc(1).Path) + "\".");
}

bool TAgentForm::Busy() const
{
    return FMenuStale || FLogonGateWaiting || !FTakeOverWorker->Idle() || !FIconWorker->Idle();
}

void TAgentForm::Refresh()
{
    if (!FTakeOver || FSessionEnded || FTakeOverWorker->HasWaitingJob())
        return;
    auto result = std::make_shared<TTakeOverResult>();
    FTakeOverWorker->Post([takeOver = FTakeOver,
                           result] { *result = takeOver->Run(/*reload=*/true, LogonGateNow); },
                          [this, result, since = keldora::startup::TakeOverTimeNow()](const std::string& failure) {
                              TakeOverDone(std::move(*result), failure, since);
                          });
}

void TAgentForm::TakeOverDone(TTakeOverResult result, const std::string& failure, const std::string& since)
{
    if (FSessionEnded || FClosing)
        return;
    if (result.reloaded) {
        FItems = std::move(result.items);
        FMenuStale = true;
        AnnounceNewPrograms(since);
    }
    FLogonGateWaiting = result.waiting && SetTimer(Handle(), kLogonGateTimerId, kLogonGateRetryMs, nullptr);
    if (result.logonItems)
        StartLogonItemsOnce(*result.logonItems);
    if (!failure.empty())
        result.reports.push_back(failure);
    RebuildWhenFree();
    for (const std::string& report : result.reports)
        ShowError(report);
}

// The entries this take-over stamped (StartupItemFields.h), each named once
// in the agent's life; the agent's own item is no program that came in.
void TAgentForm::AnnounceNewPrograms(const std::string& since)
{
    const std::string agentItem = LoadResourceString(IDS_AGENT_ITEM_DESC);
    auto fresh = std::make_shared<std::vector<TStartupItem>>();
    for (const TStartupItem& item : FItems) {
        if (item.TakenOver.view() >= since && item.Desc.view() != agentItem &&
            FAnnounced.insert(std::to_string(item.Location) + "\n" + item.Desc.str()).second)
            fresh->push_back(item);
    }
    if (fresh->empty())
        return;
    auto programs = std::make_shared<std::vector<TNewProgram>>();
    // The log is written here too, in one go: a storm's thousands of lines
    // would hold up the window's thread.
    FNoticeWorker->Post(
        [fresh, programs, log = LogFile()] {
            std::vector<std::string> lines;
            for (const TStartupItem& item : *fresh) {
                programs->push_back(ReadProgramFacts(item));
                lines.push_back(NoticeLogLine(programs->back()));
            }
            AppendLogFile(log, lines);
        },
        [this, programs](const std::string&) { ShowNotice(*programs); });
}

void TAgentForm::ShowNotice(const std::vector<TNewProgram>& programs)
{
    if (FSessionEnded || FClosing || !FShowBalloon || !FShowIcon)
        return;
    FWaitingNotice.insert(FWaitingNotice.end(), programs.begin(), programs.end());
    // The start balloon is read first; what comes meanwhile is one notice after it.
    const DWORD shown = FStartBalloonShown ? GetTickCount() - *FStartBalloonShown : kBalloonMs;
    if (shown < kBalloonMs && SetTimer(Handle(), kNoticeTimerId, kBalloonMs - shown, nullptr))
        return;
    ShowWaitingNotice();
}

void TAgentForm::ShowWaitingNotice()
{
    KillTimer(Handle(), kNoticeTimerId);
    if (FWaitingNotice.empty() || FSessionEnded || FClosing)
        return;
    const TNoticeText notice = NoticeBalloon(FWaitingNotice);
    FWaitingNotice.clear();
    FCoolTrayIcon->ShowBalloonHint(notice.title, notice.text, TBalloonHintIcon::bitInfo, /*seconds=*/kBalloonMs / 1000);
    const std::string seam = GetEnvVar("KDAGENT_BALLOON_LOG");
    if (!seam.empty())
        AppendLogFile(seam, notice.title + "|" + ReplaceAll("\r\n", " / ", notice.text));
}

// What take-over moved out of the Startup folders, from the stores as the
// first run that read them whole gave them (LogonStart.h).
void TAgentForm::StartLogonItemsOnce(const std::vector<TStartupItem>& items)
{
    if (FLogonStartDone)
        return;
    FLogonStartDone = true;
    FLogonStarter = StartLogonItems(items, LogFile());
    if (!ReturnOlderMovesOnce())
        SetTimer(Handle(), kOlderMovesTimerId, kLogonGateRetryMs, nullptr);
}

// The all-users store's one-time return (TakeOver.h), on the take-over's
// worker once the logon start has started that store's files; false while
// it waits for them.
bool TAgentForm::ReturnOlderMovesOnce()
{
    if (FLogonStarter && !FLogonStarter->AllUsersStarted())
        return false;
    if (FOlderMovesReturned || !FTakeOver || FSessionEnded)
        return true;
    FOlderMovesReturned = true;
    FTakeOverWorker->Post(
        [takeOver = FTakeOver, log = LogFile()] {
            if (const std::string text = takeOver->ReturnOlderMoves(); !text.empty())
                AppendLogFile(log, text);
        },
        {});
    return true;
}

// The session ends, or the agent: the stores take in what came during the
// session. The process may end as soon as this returns, so nothing is
// shown; a take-over held up by an unreachable file runs on until the
// worker's end cancels it (WorkerThread.h).
void TAgentForm::LastTakeOver()
{
    if (!FTakeOver || FSessionEnded)
        return;
    FSessionEnded = true;
    FIconWorker->DropWaitingJobs();
    FTakeOverWorker->DropWaitingJobs();
    auto result = std::make_shared<TTakeOverResult>();
    FTakeOverWorker->Post([takeOver = FTakeOver, result] { *result = takeOver->Run(/*reload=*/false); }, {});
    if (!FTakeOverWorker->WaitIdle(kLastTakeOverMs)) {
        AppendLogFile(LogFile(), "The last take-over did not end within " + std::to_string(kLastTakeOverMs / 1000) +
                                     " seconds; it goes on until the program ends.");
        return;
    }
    for (const std::string& report : result->reports)
        AppendLogFile(LogFile(), report);
}

void TAgentForm::RebuildWhenFree()
{
    if (FModalDepth > 0 || !FMenuStale)
        return;
    FMenuStale = false;
    BuildQuickLaunchMenu();
    RequestIcons();
}

// Only what the icon cache holds already; the files are read on the worker.
void TAgentForm::BuildQuickLaunchMenu()
{
    FQuickLaunch->Clear();
    FEntryIcons.clear();
    for (const TStartupItem& item : FItems)
        FEntryIcons.push_back(item.Icon.str());
    FileInfoManager().BeginRebuild(FEntryIcons);
    FQuickLaunch->SubMenuImages = FileInfoManager().SmallImages();
    for (const TStartupItem& item : FItems) {
        auto entry = std::make_shared<TMenuItem>(MenuCaptionText(WithoutExtension(item.Desc.view())));
        entry->ImageIndex = FileInfoManager().IndexOf(item.Icon.view());
        // A copy: the list is replaced by the next reload.
        entry->OnClick = [this, commandLine = item.CmdLine.str()](TMenuItem&) { OnQuickLaunchItemClick(commandLine); };
        FQuickLaunch->Add(std::move(entry));
    }
}

// Each icon text once; a rebuild makes the answers to the earlier ones stale.
void TAgentForm::RequestIcons()
{
    const unsigned generation = ++FIconGeneration;
    FIconWorker->DropWaitingJobs();
    std::set<std::string> asked;
    for (const std::string& text : FEntryIcons) {
        if (!asked.insert(text).second)
            continue;
        auto read = std::make_shared<TFileInfoManager::IconRead>();
        FIconWorker->Post(
            [text, known = FileInfoManager().KnownStamps(text), read] {
                *read = TFileInfoManager::ReadIcons(text, known ? &*known : nullptr);
            },
            [this, text, read, generation](const std::string&) { IconArrived(text, std::move(*read), generation); });
    }
}

void TAgentForm::IconArrived(const std::string& iconText, TFileInfoManager::IconRead read, unsigned generation)
{
    if (generation != FIconGeneration || FSessionEnded)
        return;
    const int index = FileInfoManager().Store(iconText, std::move(read));
    for (std::size_t i = 0; i < FEntryIcons.size() && i < FQuickLaunch->Items.size(); ++i) {
        if (FEntryIcons[i] == iconText)
            FQuickLaunch->Items[i]->ImageIndex = index;
    }
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
        if (!FQuitting)
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

void TAgentForm::OnQuickLaunchItemClick(const std::string& commandLine)
{
    StartProgram(commandLine);
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
