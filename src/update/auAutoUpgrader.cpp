#include "auAutoUpgrader.h"

#include "common/AppMessages.h"
#include "common/Utils.h"
#include "update/auConnection.h"
#include "update/auURL.h"
#include "update/auUpgraderTexts.h"
#include "update/auVersion.h"
#include "winutil/ErrorText.h"
#include "winutil/WideText.h"


#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* EngineWindowClass = "TauAutoUpgraderWindow";
constexpr UINT_PTR AutoCheckTimer = 1;
constexpr UINT AutoCheckInterval = 10000;
// Posted when the information file names a newer release.
constexpr UINT WM_AUUPGRADE = WM_APP + 1;

TauCalendarDate Today()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
}

std::string ReadAll(TauDataStream* data)
{
    std::string text;
    if (!data)
        return text;
    data->Seek(0);
    char block[4096];
    while (text.size() < TauInfoFileText::Limit) {
        const std::size_t n = data->Read(block, sizeof block);
        if (n == 0)
            break;
        text.append(block, n);
    }
    return text;
}

std::string ComputeStubPath()
{
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    std::string path = length > 0 && length <= MAX_PATH ? std::string(folder, length) : std::string();
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        path = GetAppFolder();
    if (path.back() != '\\')
        path += '\\';
    return path + "Zeredira3.exe";
}

std::string FirstArgument()
{
    return __argc > 1 ? __argv[1] : "";
}

void RegisterEngineWindowClass(WNDPROC windowProc)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing{};
    if (GetClassInfoA(instance, EngineWindowClass, &existing))
        return;
    WNDCLASSA wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = EngineWindowClass;
    if (!RegisterClassA(&wc))
        throw EWin32Error("TauAutoUpgrader: RegisterClass", GetLastError());
}

}  // namespace

const std::string& StubPath()
{
    static const std::string path = ComputeStubPath();
    return path;
}

TauAutoUpgraderLanguage UpgraderLanguage()
{
    return SelectedUpgraderLanguage();
}

TauAutoUpgraderWizard::TauAutoUpgraderWizard()
{
    SetLanguage(wlAuto);
}

void TauAutoUpgraderWizard::SetPic118x218(HBITMAP picture)
{
    picture_.reset(picture ? CopyImage(picture, IMAGE_BITMAP, 0, 0, 0) : nullptr);
}

void TauAutoUpgraderWizard::SetLanguage(TauAutoUpgraderLanguage language)
{
    language_ = language;
    SelectUpgraderLanguage(language);
}

TauAutoUpgrader::TauAutoUpgrader() : VersionDate(FormatInfoDate(Today()))
{
    HideTempFile = true;
    BindTransferEvents();
    DeleteFileA(StubPath().c_str());
    RegisterEngineWindowClass(WindowProc);
    window_.reset(CreateWindowExA(0, EngineWindowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr));
    if (!window_)
        throw EWin32Error("TauAutoUpgrader: CreateWindow", GetLastError());
    SetWindowLongPtrA(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TauAutoUpgrader::~TauAutoUpgrader()
{
    autoCheck_ = false;
    KillTimer(window_.get(), AutoCheckTimer);
    SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
    // The transfer's handlers use this engine's members, which go before the
    // HTTP client part does.
    if (Busy())
        CancelTransfer();
}

void TauAutoUpgrader::BindTransferEvents()
{
    OnDone = [this](TauCustomHTTP&, const std::string&, std::int64_t, TauDataStream* data) { TransferDone(data); };
    OnHTTPError = [this](TauCustomHTTP&, int, TauDataStream*) {
        if (infoFileMode_)
            InfoFileMissing();
    };
    OnServerUnreachable = [this](TauCustomHTTP&) { HostUnreachable(); };
    OnConnectionLost = [this](TauCustomHTTP&, const std::string&, std::int64_t, std::int64_t, TauDataStream*) {
        ConnectionLost();
    };
    TauCustomHTTP::OnPasswordRequest = [this](TauCustomHTTP&, const std::string& realm, bool& tryAgain) {
        PasswordRequest(realm, tryAgain);
    };
}

LRESULT CALLBACK TauAutoUpgrader::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION)
        return 1;
    const bool timer = message == WM_TIMER && wParam == AutoCheckTimer;
    if (timer || message == WM_AUUPGRADE) {
        auto* engine = reinterpret_cast<TauAutoUpgrader*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        try {
            if (engine && timer)
                engine->AutoCheckTimerFired();
            else if (engine)
                engine->Upgrade();
        } catch (...) {
            HandleCurrentException();
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void TauAutoUpgrader::AutoCheckTimerFired()
{
    if (!IsConnectedToNet() || !autoCheck_)
        return;
    autoCheckDone_ = true;
    KillTimer(window_.get(), AutoCheckTimer);
    CheckUpdate();
    autoCheckRunning_ = true;
}

void TauAutoUpgrader::Loaded()
{
    if (OnAfterRestart && FirstArgument() == restartParams_)
        OnAfterRestart(*this);
}

void TauAutoUpgrader::CheckUpdate()
{
    aborted_ = false;
    autoCheckRunning_ = false;
    if (Busy())
        return;
    infoFileMode_ = true;
    URL = InfoFileURL;
    FileName.clear();
    // The information file is always fetched fresh; the user's own setting
    // stays for the files (the transfer copies it when it starts).
    const bool useCache = UseCache;
    UseCache = false;
    bool started = false;
    try {
        started = StartTransfer();
    } catch (const std::exception&) {
        started = false;
    }
    UseCache = useCache;
    // A transfer that could not start (no thread) is reported as a request
    // that got no answer, as the engine reports every failure.
    if (!started)
        HostUnreachable();
}

void TauAutoUpgrader::TransferDone(TauDataStream* data)
{
    if (infoFileMode_)
        ReadInfoFile(ReadAll(data));
}

bool TauAutoUpgrader::IsNewer(const TauInfoFileText& info) const
{
    if (VersionControl == byNumber)
        return CompareVersions(info.Value("version"), VersionNumber) > 0;
    return IsNewerByDate(info.Value("date"), VersionDate, Today());
}

void TauAutoUpgrader::ReadInfoFile(const std::string& text)
{
    const TauInfoFileText info(text);
    fileList_ = info.FileList();
    moreInfoURL_ = info.Value("moreinfourl");
    const std::weak_ptr<char> alive = alive_;
    if (!IsNewer(info) || fileList_.empty()) {
        if (OnNoUpdateAvailable)
            OnNoUpdateAvailable(*this);
        if (GoOn(alive) && !autoCheckRunning_)
            ShowErrorIf(mNoUpdateAvailable, UpgraderText(umsgNoUpdate));
        return;
    }
    // The question is asked from the engine's own window, not inside the
    // transfer's call to this thread: a dialog there could not load pages
    // that call out of the apartment.
    upgradeMsg_ = info.Block("message");
    upgradeMethod_ = info.Method();
    PostMessageA(window_.get(), WM_AUUPGRADE, 0, 0);
}

TauMoreInfo TauAutoUpgrader::MoreInfoHooks()
{
    TauMoreInfo hooks{Prompts.PreloadInfo, Prompts.ShowInfo};
    if (!hooks.Show)
        hooks.Show = [this, alive = std::weak_ptr<char>(alive_)](const std::string& url) {
            if (!alive.expired())
                OpenURL(url);
        };
    return hooks;
}

void TauAutoUpgrader::Upgrade()
{
    if (aborted_)
        return;
    const std::weak_ptr<char> alive = alive_;
    const std::string upgradeMsg = upgradeMsg_;
    const TacUpgradeMethod method = upgradeMethod_;
    bool canUpgrade = true;
    if (OnBeginUpgrade)
        OnBeginUpgrade(*this, upgradeMsg, method, fileList_, canUpgrade);
    if (!GoOn(alive))
        return;
    const bool ask = ShowMessages.Contains(mAskUpgrade) && Prompts.AskUpgrade;
    const bool accepted = canUpgrade && (!ask || Prompts.AskUpgrade(upgradeMsg, moreInfoURL_, MoreInfoHooks()));
    if (!GoOn(alive))
        return;
    // A handler that emptied the list leaves nothing to open or download.
    if (!accepted || fileList_.empty()) {
        if (OnLaterUpgrade)
            OnLaterUpgrade(*this);
        return;
    }
    if (method == umRedirectToURL) {
        OpenURL(fileList_.front());
        return;
    }
    if (OnConfirmUpgrade)
        OnConfirmUpgrade(*this);
}

void TauAutoUpgrader::InfoFileMissing()
{
    const std::weak_ptr<char> alive = alive_;
    if (OnNoInfoFile)
        OnNoInfoFile(*this);
    if (GoOn(alive))
        ShowErrorIf(mNoInfoFile, UpgraderText(umsgNoInfoFile));
}

void TauAutoUpgrader::HostUnreachable()
{
    const std::weak_ptr<char> alive = alive_;
    const std::string host = HostOfURL(URL);
    if (OnHostUnreachable)
        OnHostUnreachable(*this, URL, host);
    if (!GoOn(alive))
        return;
    if (autoCheckRunning_) {
        autoCheckDone_ = false;
        ArmAutoCheck();
    } else {
        ShowErrorIf(mHostUnreachable, UpgraderText(umsgHostUnreachable, {WideFromAnsi("'http://" + host + "'")}));
    }
    if (!alive.expired())
        CancelTransfer();
}

void TauAutoUpgrader::ConnectionLost()
{
    const std::weak_ptr<char> alive = alive_;
    if (OnConnLost)
        OnConnLost(*this);
    if (!GoOn(alive))
        return;
    ShowErrorIf(mConnLost, UpgraderText(umsgConnectionLost));
    if (!alive.expired())
        CancelTransfer();
}

void TauAutoUpgrader::PasswordRequest(const std::string& realm, bool& tryAgain)
{
    const std::weak_ptr<char> alive = alive_;
    if (OnPasswordRequest)
        OnPasswordRequest(*this, realm, tryAgain);
    if (!GoOn(alive) || tryAgain || !ShowMessages.Contains(mPasswordRequest) || !Prompts.AskPassword)
        return;
    const std::string fileName = URL.substr(URL.find_last_of('/') + 1);
    tryAgain = Prompts.AskPassword(UpgraderText(umsgPasswordProtected, {WideFromAnsi(fileName)}), HTTPUsername,
                                   HTTPPassword);
    if (!tryAgain && !alive.expired())
        AbortUpgrade();
}

void TauAutoUpgrader::ShowErrorIf(TauAutoUpgraderShowMessage member, const std::wstring& text)
{
    if (ShowMessages.Contains(member) && Prompts.ShowError)
        Prompts.ShowError(text);
}

bool TauAutoUpgrader::OpenURL(const std::string& url)
{
    const auto address = BrowserAddress(url);
    if (!address || !Prompts.OpenBrowser)
        return false;
    Prompts.OpenBrowser(*address);
    return true;
}

void TauAutoUpgrader::AbortUpgrade()
{
    aborted_ = true;
    CancelTransfer();
    if (OnAborted)
        OnAborted(*this);
}

void TauAutoUpgrader::SetAutoCheck(bool autoCheck)
{
    autoCheck_ = autoCheck;
    ArmAutoCheck();
}

void TauAutoUpgrader::ArmAutoCheck()
{
    KillTimer(window_.get(), AutoCheckTimer);
    if (!autoCheck_ || autoCheckDone_)
        return;
    if (SetTimer(window_.get(), AutoCheckTimer, AutoCheckInterval, nullptr))
        return;
    const DWORD error = GetLastError();
    throw EOutOfResources("AutoCheck: SetTimer", error != NO_ERROR ? error : ERROR_NO_SYSTEM_RESOURCES);
}

void TauAutoUpgrader::SetRestartParams(const std::string& params)
{
    restartParams_ = params.empty() ? " " : params;
}
