// TauAutoUpgrader's public face: creation and destruction, the transfer's
// events told apart for the check and the downloads, the automatic check,
// and the outage events and boxes. The check lives in auUpgradeCheck.cpp,
// the downloads and the hand-over in auUpgradeDownload.cpp.
#include "auAutoUpgrader.h"

#include "common/AppMessages.h"
#include "common/Environment.h"
#include "update/auConnection.h"
#include "update/auReleaseRules.h"
#include "update/auStubLaunch.h"
#include "update/auURL.h"
#include "update/auUpgraderTexts.h"
#include "update/auVersion.h"
#include "winutil/WideText.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* EngineWindowClass = "TauAutoUpgraderWindow";
constexpr UINT_PTR AutoCheckTimer = 1;
constexpr UINT AutoCheckInterval = 10000;

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

std::string FirstArgument()
{
    const std::vector<std::string> arguments = ProgramArguments();
    return arguments.size() > 1 ? arguments[1] : std::string();
}

bool AskSkipFileBox(const std::wstring& text, const std::wstring& caption)
{
    return MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONWARNING | MB_TASKMODAL) == IDYES;
}

}  // namespace

TauAutoUpgrader::TauAutoUpgrader()
    : VersionDate(FormatInfoDate(Today())),
      AskSkipFile(AskSkipFileBox),
      window_({.kind = keldora::winutil::WindowKind::HiddenTopLevel, .className = EngineWindowClass},
              [this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                  return !windowDetached_ && HandleMessage(message, wParam, lParam, result);
              },
              HandleCurrentException)
{
    HideTempFile = true;
    RemoveStalePrivateFolders();
}

TauAutoUpgrader::~TauAutoUpgrader()
{
    autoCheck_ = false;
    KillTimer(window_.get(), AutoCheckTimer);
    windowDetached_ = true;
    // The transfer's handlers use this engine's members, which go before the
    // HTTP client part does.
    if (Busy())
        CancelTransfer();
    DiscardDownloads();
    FreeUpgraderWizardOf(this);
}

void TauAutoUpgrader::DoDone(const std::string&, std::int64_t, TauDataStream* data)
{
    TransferDone(data);
}

void TauAutoUpgrader::DoHTTPError(int statusCode, TauDataStream*)
{
    if (!infoFileMode_) {
        FileFailed(statusCode);
        return;
    }
    // Only an answer to our own validators: a 304 to anything else says nothing.
    if (statusCode == 304 && !ConditionalHeaders(checkState_).empty()) {
        Log("the information file is unchanged since the last check (304): no update");
        NoUpdateAvailable(alive_, /*showBox=*/true);
        return;
    }
    if ((statusCode == 503 || statusCode == 429) && ServerAskedToWait(statusCode))
        return;
    InfoFileMissing();
}

void TauAutoUpgrader::DoServerUnreachable()
{
    if (!infoFileMode_ && !roads_.empty()) {
        RoadFailed("its server cannot be reached");
        return;
    }
    HostUnreachable();
}

void TauAutoUpgrader::DoConnectionLost(const std::string&, std::int64_t, std::int64_t, TauDataStream*)
{
    if (!infoFileMode_ && Result().localError != NO_ERROR)
        FileFailed(200);
    else if (!infoFileMode_ && !roads_.empty())
        RoadFailed("the connection was lost");
    else
        ConnectionLost();
}

bool TauAutoUpgrader::DoHeaderInfo()
{
    if (infoFileMode_)
        return true;
    // A redirect may have left https: nothing of that answer is stored.
    const std::string source = TransferSource(URL, Result().redirects, Result().finalURL);
    if (RequiresHttps() && !IsHttpsAddress(source)) {
        pendingRefusal_ = "the download of " + URL + " came from " + source +
                          ", not over https, and update.ini holds no publisher key (PublicKey)";
        return false;
    }
    bool continueTransfer = true;
    // A resumed file counts whole: the bytes kept are part of it.
    FileHeaders(Result().contentLength.value_or(0) + Result().resumedFrom, Result().lastModified, continueTransfer);
    return continueTransfer;
}

void TauAutoUpgrader::DoTransferProgress(const TransferProgress& p, TauDataStream* data)
{
    if (infoFileMode_)
        return;
    CheckpointDownload(data);
    FileProgress(Result().contentLength.value_or(0), Result().bytesTransferred, p.elapsedTime,
                     p.estimatedTimeLeft, p.percentsDone, p.transferRate);
}

// A download whose headers showed it may not be installed was stopped there.
void TauAutoUpgrader::DoTransferStopped()
{
    if (infoFileMode_)
        return;
    if (!pendingRefusal_.empty() && !roads_.empty())
        RoadFailed(std::exchange(pendingRefusal_, {}));
    else if (!pendingRefusal_.empty())
        ReleaseFileRefused(std::exchange(pendingRefusal_, {}));
    else
        FileSkipped();
}

bool TauAutoUpgrader::DoPasswordRequest(const std::string& realm)
{
    bool tryAgain = false;
    PasswordRequest(realm, tryAgain);
    return tryAgain;
}

bool TauAutoUpgrader::HandleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    result = 0;
    if (message == WM_QUERYENDSESSION) {
        result = 1;
        return true;
    }
    const bool timer = message == WM_TIMER && wParam == AutoCheckTimer;
    if (!timer && message != UpgradeMessage)
        return false;
    if (timer)
        AutoCheckTimerFired();
    else
        Upgrade();
    return true;
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

// Bypasses the cache and adds the extra header lines for this transfer only;
// the user's own settings stay for later ones (the transfer copies them when
// it starts), restored before any event may free the engine. A transfer that
// could not start (no thread) is reported as a request that got no answer,
// as the engine reports every failure.
void TauAutoUpgrader::StartUncachedTransfer(const std::vector<std::string>& extraHeaders)
{
    const bool useCache = UseCache;
    const std::vector<std::string> userHeaders = AddHeaders;
    UseCache = false;
    AddHeaders.insert(AddHeaders.end(), extraHeaders.begin(), extraHeaders.end());
    bool started = false;
    try {
        started = StartTransfer();
    } catch (const std::exception&) {
        started = false;
    }
    UseCache = useCache;
    AddHeaders = userHeaders;
    if (!started)
        HostUnreachable();
}

void TauAutoUpgrader::TransferDone(TauDataStream* data)
{
    if (infoFileMode_)
        ReadInfoFile(ReadAll(data));
    else
        FileDone();
}

void TauAutoUpgrader::Log(const std::string& text)
{
    OutputDebugStringW(WideFromUtf8("TauAutoUpgrader: " + text + "\n").c_str());
    if (OnLog)
        OnLog(*this, text);
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
        ShowErrorIf(mHostUnreachable, UpgraderText(umsgHostUnreachable, {WideFromUtf8("'http://" + host + "'")}));
    }
    if (alive.expired())
        return;
    CancelTransfer();
    DiscardDownloads();
    FreeUpgraderWindows();
}

void TauAutoUpgrader::ConnectionLost()
{
    const std::weak_ptr<char> alive = alive_;
    if (OnConnLost)
        OnConnLost(*this);
    if (!GoOn(alive))
        return;
    ShowErrorIf(mConnLost, UpgraderText(umsgConnectionLost));
    if (alive.expired())
        return;
    CancelTransfer();
    KeepCutDownload();
    DiscardDownloads();
    FreeUpgraderWindows();
}

void TauAutoUpgrader::PasswordRequest(const std::string& realm, bool& tryAgain)
{
    const std::weak_ptr<char> alive = alive_;
    if (OnPasswordRequest)
        OnPasswordRequest(*this, realm, tryAgain);
    if (!GoOn(alive) || tryAgain || !ShowMessages.Contains(mPasswordRequest) || !Prompts.AskPassword)
        return;
    const std::string fileName = URL.substr(URL.find_last_of('/') + 1);
    tryAgain = Prompts.AskPassword(UpgraderText(umsgPasswordProtected, {WideFromUtf8(fileName)}), HTTPUsername,
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
    DiscardDownloads();
    FreeUpgraderWindows();
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
