#include "auAutoUpgrader.h"

#include "common/AppMessages.h"
#include "common/Utils.h"
#include "update/auConnection.h"
#include "update/auDownloadNames.h"
#include "update/auCng.h"
#include "http/auHTTPHeaders.h"
#include "http/auHTTPProgress.h"
#include "update/auReleaseRules.h"
#include "update/auResume.h"
#include "update/auRoadDecode.h"
#include "update/auRollout.h"
#include "update/auSignedInfo.h"
#include "update/auStubLaunch.h"
#include "update/auURL.h"
#include "update/auUpdateState.h"
#include "update/auUpgraderTexts.h"
#include "update/auVersion.h"
#include "winutil/ErrorText.h"
#include "winutil/WholeFile.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* EngineWindowClass = "TauAutoUpgraderWindow";
constexpr UINT_PTR AutoCheckTimer = 1;
constexpr UINT AutoCheckInterval = 10000;
// Posted when the information file names a newer release.
constexpr UINT WM_AUUPGRADE = WM_APP + 1;
// Said once per process: more engines would only repeat it.
std::atomic<bool> unverifiedNoted{false};

TauCalendarDate Today()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
}

TauUtcTime UtcNow()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return {{now.wYear, now.wMonth, now.wDay}, now.wHour, now.wMinute, now.wSecond};
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

std::string FirstArgument()
{
    const std::vector<std::string> arguments = ProgramArguments();
    return arguments.size() > 1 ? arguments[1] : std::string();
}

std::string FileNameOf(const std::string& path)
{
    return path.substr(path.find_last_of("/\\") + 1);
}

// The SHA-256 of an installed file; none when it cannot be read, so that it
// is neither kept nor patched. A link is never read: it is downloaded and
// replaced instead.
std::optional<std::string> InstalledDigest(const std::string& path)
{
    const UniqueFile file = OpenInstalledFile(path);
    std::string digest = file ? Sha256OfFile(file.get()) : std::string();
    return digest.empty() ? std::nullopt : std::optional<std::string>(std::move(digest));
}

std::optional<TauResumeRecord> ReadResumeRecord(const std::string& download)
{
    const auto text = ReadWholeFile(download + std::string(ResumeSuffix), 4096);
    return text ? ParseResumeRecord(*text) : std::nullopt;
}

void DeleteQuietly(const std::string& path)
{
    const std::wstring wide = WideFromUtf8(path);
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(wide.c_str());
}

// The file a download replaces: its name without the pending suffix.
std::string TargetNameOf(const std::string& download)
{
    const std::string name = FileNameOf(download);
    return name.substr(0, name.size() - PendingSuffix.size());
}

std::optional<std::int64_t> SizeOfFile(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Gives a finished download the server's time as its creation and last-write
// time; a time the file system cannot hold is left out.
void SetDownloadTime(const std::string& path, OleDate time)
{
    const auto local = LocalFileTimeOf(time);
    if (!local)
        return;
    FILETIME localTime{static_cast<DWORD>(*local), static_cast<DWORD>(*local >> 32)};
    FILETIME utc{};
    if (!LocalFileTimeToFileTime(&localTime, &utc))
        return;
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (file)
        SetFileTime(file.get(), &utc, nullptr, &utc);
}

// A signed size past what a body can be counted to is no bound at all.
std::int64_t BodyLimit(std::optional<std::uint64_t> signedSize, std::int64_t otherwise)
{
    return signedSize && *signedSize <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? static_cast<std::int64_t>(*signedSize)
               : otherwise;
}

bool AskSkipFileBox(const std::wstring& text, const std::wstring& caption)
{
    return MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONWARNING | MB_TASKMODAL) == IDYES;
}

}  // namespace

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

bool TauAutoUpgrader::ServerAskedToWait(int statusCode)
{
    const std::int64_t now = UtcSecondsNow();
    const auto value = HeaderValue(Result().rawHeaders, "Retry-After");
    const auto until = value ? RetryAfterUntil(*value, now) : std::nullopt;
    if (!until)
        return false;
    TauCheckState state = checkState_;
    // Through the rule every check reads the wait with, which holds a
    // plain-http answer to a day.
    state.retryAfter = *until;
    state = StateForCheck(state, checkState_.owner, now);
    KeepCheckState(state);
    Log("the update server answered " + std::to_string(statusCode) + " and asked to wait " +
        std::to_string(state.retryAfter - now) + " s: no check of " + URL + " until then");
    NoUpdateAvailable(alive_, /*showBox=*/false);
    return true;
}

std::string TauAutoUpgrader::StateFolderPath() const
{
    return StateFolder.empty() ? DefaultUpdateStateFolder() : StateFolder;
}

void TauAutoUpgrader::KeepCheckState(TauCheckState state)
{
    state.owner = checkState_.owner;
    if (state == checkState_)
        return;
    checkState_ = state;
    if (!SaveCheckState(StateFolderPath(), state))
        Log("the check state cannot be kept in " + StateFolderPath());
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
    if (!timer && message != WM_AUUPGRADE)
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

void TauAutoUpgrader::CheckUpdate()
{
    aborted_ = false;
    autoCheckRunning_ = false;
    if (Busy())
        return;
    lastFailure_.clear();
    refusalText_.clear();
    pendingRefusal_.clear();
    if (PublisherKey.empty() && !unverifiedNoted.exchange(true))
        Log(AllowUnverifiedUpdates ? "no publisher key is set and AllowUnverifiedUpdates is on: releases are "
                                     "installed without any check"
                                   : "no publisher key is set: a release is installed only when its information "
                                     "file and every file come over https");
    const std::int64_t now = UtcSecondsNow();
    const TauCheckOwner owner{InfoFileURL, Product, VersionControl == byNumber ? VersionNumber : VersionDate};
    checkState_ = LoadCheckState(StateFolderPath(), owner, now);
    if (checkState_.retryAfter > now) {
        Log("the update server asked to wait " + std::to_string(checkState_.retryAfter - now) +
            " s more: no check until then");
        NoUpdateAvailable(alive_, /*showBox=*/false);
        return;
    }
    infoFileMode_ = true;
    HashBody = false;
    MaxBodySize = NoBodyLimit;
    URL = InfoFileURL;
    FileName.clear();
    Range = {};
    ResumeFile = false;
    KeepPartialFile = false;
    // The information file is always fetched fresh, or confirmed unchanged
    // by the server itself.
    StartUncachedTransfer(ConditionalHeaders(checkState_));
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

bool TauAutoUpgrader::IsNewer(const TauInfoFileText& info) const
{
    if (VersionControl == byNumber)
        return CompareVersions(info.Value("version"), VersionNumber) > 0;
    return IsNewerByDate(info.Value("date"), VersionDate, Today());
}

void TauAutoUpgrader::Log(const std::string& text)
{
    OutputDebugStringW(WideFromUtf8("TauAutoUpgrader: " + text + "\n").c_str());
    if (OnLog)
        OnLog(*this, text);
}

std::optional<std::string> TauAutoUpgrader::TrustedInfoText(const std::string& text, std::string& failure)
{
    verifying_ = !PublisherKey.empty();
    signedDigests_.clear();
    signedSizes_.clear();
    releaseRoads_.clear();
    if (!verifying_)
        return text;
    // Without a product any signed file of the publisher would pass: one of
    // another of its products could be served in its place.
    if (Product.empty()) {
        failure = "update.ini holds the publisher key (PublicKey) but names no product (Product=), so no signed "
                  "release can be told to be this program's";
        refusalMessage_ = umsgKeyWithoutProduct;
        return std::nullopt;
    }
    const TauPublisherKeys keys = PublisherKeysXY(PublisherKey);
    if (!keys.failure.empty()) {
        failure = keys.failure;
        return std::nullopt;
    }
    TauSignedInfo parts = SplitSignedInfo(text);
    if (!parts.failure.empty()) {
        failure = parts.failure;
        return std::nullopt;
    }
    const bool verified = std::any_of(keys.keys.begin(), keys.keys.end(), [&](const std::string& key) {
        return VerifyP256Signature(key, parts.signedText, parts.signature);
    });
    if (!verified) {
        failure = keys.keys.size() == 1
                      ? "the signature of the information file does not verify with the publisher key"
                      : "the signature of the information file verifies with none of the publisher keys";
        return std::nullopt;
    }
    const TauInfoFileText info(parts.signedText);
    failure = SignedReleaseFailure(info, {Product, UtcNow(), VersionControl == byNumber});
    if (!failure.empty()) {
        expired_ = failure == ExpiryFailure(info, UtcNow()) && ParseUtcTime(info.Value("expires"));
        return std::nullopt;
    }
    // A redirect only opens its address in the browser: nothing to check.
    if (info.Method() == umRedirectToURL)
        return std::move(parts.signedText);
    if (!ReadFileChecks(info, failure))
        return std::nullopt;
    return std::move(parts.signedText);
}

bool TauAutoUpgrader::ReadFileChecks(const TauInfoFileText& info, std::string& failure)
{
    // A digest is checked wherever the publisher gave one: over https too a
    // half-updated mirror could serve another release's file. Without a key
    // this runs only for a release that would be installed.
    TauReleaseDigests digests = verifying_ ? ReleaseDigests(info) : GivenDigests(info);
    if (!digests.failure.empty()) {
        failure = digests.failure;
        return false;
    }
    TauReleaseSizes sizes = ReleaseSizes(info);
    if (!sizes.failure.empty()) {
        failure = sizes.failure;
        return false;
    }
    // A malformed cheaper road costs nothing but itself: the whole file stays.
    TauReleaseRoads roads = ReleaseRoads(info);
    for (const std::string& note : roads.notes)
        Log(note);
    releaseRoads_ = std::move(roads.files);
    signedDigests_ = std::move(digests.files);
    for (auto& [url, size] : sizes.files) {
        if (size)
            signedSizes_.emplace_back(std::move(url), *size);
    }
    return true;
}

std::string TauAutoUpgrader::UnverifiedFailure() const
{
    return RequiresHttps() ? UnverifiedReleaseFailure(infoSource_, fileList_) : std::string();
}

const std::string* TauAutoUpgrader::SignedDigest(const std::string& url) const
{
    const auto found = std::find_if(signedDigests_.begin(), signedDigests_.end(),
                                    [&](const auto& file) { return file.first == url; });
    return found == signedDigests_.end() ? nullptr : &found->second;
}

std::optional<std::uint64_t> TauAutoUpgrader::SignedSize(const std::string& url) const
{
    const auto found = std::find_if(signedSizes_.begin(), signedSizes_.end(),
                                    [&](const auto& file) { return file.first == url; });
    return found == signedSizes_.end() ? std::nullopt : std::optional<std::uint64_t>(found->second);
}

void TauAutoUpgrader::ReadInfoFile(const std::string& text)
{
    infoSource_ = TransferSource(URL, Result().redirects, Result().finalURL);
    // Validators are kept only for an answer with nothing new, where a 304
    // means the same; any other is fetched in full the next time.
    const TauCheckState validators = ValidatorsOf(Result().rawHeaders, UtcSecondsNow());
    KeepCheckState({});
    std::string failure;
    expired_ = false;
    const std::optional<std::string> trusted = TrustedInfoText(text, failure);
    // An expired file is no fault of this copy: the publisher's next release
    // is signed anew, and until then there is nothing to install.
    // Its validators are not kept: this machine's clock decided, and a 304
    // must not hide the release from a copy whose clock is right.
    if (!trusted && expired_) {
        lastFailure_ = failure;
        Log(failure + ": no update");
        NoUpdateAvailable(alive_, /*showBox=*/false);
        return;
    }
    if (!trusted) {
        ReleaseRefused(failure);
        return;
    }
    const TauInfoFileText info(*trusted);
    fileList_ = info.FileList();
    moreInfoURL_ = info.Value("moreinfourl");
    const std::weak_ptr<char> alive = alive_;
    if (!IsNewer(info) || fileList_.empty()) {
        KeepCheckState(validators);
        NoUpdateAvailable(alive, /*showBox=*/true);
        return;
    }
    const std::optional<int> rollout = RolloutPercent(info);
    if (!rollout) {
        ReleaseRefused("the rollout is not a whole percentage from 0 to 100: \"" + info.Value("rollout") + "\"");
        return;
    }
    if (!InRollout(info, *rollout)) {
        KeepCheckState(validators);
        NoUpdateAvailable(alive, /*showBox=*/true);
        return;
    }
    // Nothing is asked about a release that could not be installed.
    failure = UnverifiedFailure();
    if (!failure.empty() || (!verifying_ && !ReadFileChecks(info, failure))) {
        ReleaseRefused(failure);
        return;
    }
    // The question is asked from the engine's own window, not inside the
    // transfer's call to this thread: a dialog there could not load pages
    // that call out of the apartment.
    upgradeMsg_ = Utf8FromPublisherText(info.Block("message"));
    upgradeMethod_ = info.Method();
    PostMessageW(window_.get(), WM_AUUPGRADE, 0, 0);
}

void TauAutoUpgrader::NoUpdateAvailable(const std::weak_ptr<char>& alive, bool showBox)
{
    if (OnNoUpdateAvailable)
        OnNoUpdateAvailable(*this);
    if (showBox && GoOn(alive) && !autoCheckRunning_)
        ShowErrorIf(mNoUpdateAvailable, UpgraderText(umsgNoUpdate));
}

bool TauAutoUpgrader::InRollout(const TauInfoFileText& info, int percent)
{
    if (percent >= RolloutBuckets)
        return true;
    const std::string release = "release " + info.Value("version") + " goes to " + std::to_string(percent) +
                                "% of installed copies";
    const std::string machine = MachineValue(StateFolderPath());
    if (machine.empty()) {
        Log(release + " and this copy has no bucket (its update state cannot be kept): no update until it goes "
                      "to every copy");
        return false;
    }
    const int bucket = RolloutBucket(machine, Product);
    if (TakesRollout(bucket, percent))
        return true;
    Log(release + ", this copy's bucket is " + std::to_string(bucket) + ": no update");
    return false;
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
    // The handler may have listed files of its own.
    if (const std::string failure = canUpgrade ? UnverifiedFailure() : std::string(); !failure.empty()) {
        ReleaseRefused(failure);
        return;
    }
    // The page behind More Info is loaded only from a web address.
    const std::string page = WebPageAddress(moreInfoURL_).value_or(std::string());
    const bool ask = ShowMessages.Contains(mAskUpgrade) && Prompts.AskUpgrade;
    const bool accepted = canUpgrade && (!ask || Prompts.AskUpgrade(upgradeMsg, page, MoreInfoHooks()));
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
    if (GoOn(alive))
        StartDownloads();
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

void TauAutoUpgrader::StartDownloads()
{
    infoFileMode_ = false;
    currentFileIndex_ = 0;
    wholeOnly_ = false;
    roads_.clear();
    downloaded_.clear();
    installSet_.clear();
    DeleteStalePendingFiles();
    if (Wizard.Enabled)
        ShowWizard();
    DownloadCurrent();
}

// Pending files of earlier runs (an install rolled back, files someone put
// there, a download cut off of another file or release) are never installed
// with this release; a cut download of one of its files, with its record,
// stays to be resumed (and is checked whole at the end).
void TauAutoUpgrader::DeleteStalePendingFiles()
{
    const std::string folder = GetAppFolder();
    for (const std::string& suffix : {std::string(PendingSuffix), std::string(PendingSuffix) + std::string(ResumeSuffix),
                                      std::string(PendingSuffix) + std::string(RoadSuffix)}) {
        WIN32_FIND_DATAW data;
        const UniqueFind find(FindFirstFileW(WideFromUtf8(folder + "*" + suffix).c_str(), &data));
        if (!find)
            continue;
        do {
            const std::string path = folder + Utf8FromWide(data.cFileName);
            const bool record = path.ends_with(ResumeSuffix);
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !ResumableDownload(record ? path.substr(0, path.size() - ResumeSuffix.size()) : path))
                DeleteQuietly(path);
        } while (FindNextFileW(find.get(), &data));
    }
}

bool TauAutoUpgrader::ResumableDownload(const std::string& download) const
{
    const auto record = ReadResumeRecord(download);
    if (!record || !SizeOfFile(download))
        return false;
    const std::string* digest = SignedDigest(record->url);
    const auto name = PendingNameOfURL(record->url);
    return digest && *digest == record->sha256 && name && SameFileName(GetAppFolder() + *name, download) &&
           std::find(fileList_.begin(), fileList_.end(), record->url) != fileList_.end();
}

void TauAutoUpgrader::ShowWizard()
{
    TauWizardLink link;
    link.Owner = this;
    link.StayOnTop = Wizard.StayOnTop;
    link.Picture = Wizard.Pic118x218();
    const std::weak_ptr<char> alive = alive_;
    link.ConfirmAbort = [this, alive](const std::wstring& text, const std::wstring& caption) {
        return alive.expired() || !Prompts.ConfirmAbort || Prompts.ConfirmAbort(text, caption);
    };
    link.Abort = [this, alive] {
        if (!alive.expired())
            AbortUpgrade();
    };
    ShowUpgraderWizard(std::move(link));
}

// Kept files are passed in a loop, not by recursion: a release may list
// thousands of them.
void TauAutoUpgrader::DownloadCurrent()
{
    for (;; ++currentFileIndex_) {
        if (currentFileIndex_ >= static_cast<int>(fileList_.size())) {
            FinishUpgrade();
            return;
        }
        const std::string& url = fileList_[currentFileIndex_];
        if (!PrepareCurrent(url))
            return;
        if (!KeepInstalled(url, TargetNameOf(tempFileName_)))
            break;
    }
    roads_ = ChooseRoads(fileList_[currentFileIndex_]);
    FetchCurrent();
}

// The current file by its first road left, or whole. Every download is
// hashed while it is stored: the stub checks the file again.
void TauAutoUpgrader::FetchCurrent()
{
    HashBody = true;
    localFailure_.clear();
    if (!roads_.empty()) {
        FetchRoad(roads_.front());
        return;
    }
    const std::string& url = fileList_[currentFileIndex_];
    URL = url;
    FileName = tempFileName_;
    ResumeSettings(url);
    MaxBodySize = BodyLimit(SignedSize(url), MaxDownloadSize);
    downloaded_.push_back(tempFileName_);
    // A cached copy could be an older release; the cache would also write
    // every byte a second time.
    StartUncachedTransfer();
}

// The current file's download name; false when the file cannot be taken
// (the failure is already told).
bool TauAutoUpgrader::PrepareCurrent(const std::string& url)
{
    SetWizardFile(url, currentFileIndex_ + 1, static_cast<int>(fileList_.size()));
    fileTime_ = 0;
    const auto name = PendingNameOfURL(url);
    tempFileName_ = name ? GetAppFolder() + *name : std::string();
    // A name from the network that is no plain file of the program's folder
    // is never written: the file counts as not served.
    if (!name || tempFileName_.size() >= MAX_PATH) {
        tempFileName_.clear();
        LostFile(-static_cast<int>(ERROR_INVALID_NAME), UpgraderText(umsgLostFile, {WideFromUtf8(FileNameOf(url))}),
                 true);
        return false;
    }
    // A handler of OnBeginUpgrade may have listed a file the publisher did not sign.
    if (verifying_ && !SignedDigest(url)) {
        tempFileName_.clear();
        ReleaseFileRefused("the information file gives no SHA-256 digest for " + url);
        return false;
    }
    // A second file of the same name replaces the first one's download.
    const std::string target = TargetNameOf(tempFileName_);
    std::erase_if(installSet_, [&](const ManifestEntry& entry) { return SameFileName(entry.name, target); });
    return true;
}

// A cut download of this very file (same address, same signed digest) goes
// on where it ended; only a file with a digest may be kept, since only the
// whole file's digest can tell the kept bytes good.
std::optional<TauResumeRecord> TauAutoUpgrader::ResumableRecord(const std::string& url) const
{
    const std::string* digest = SignedDigest(url);
    auto record = digest && !wholeOnly_ ? ReadResumeRecord(tempFileName_) : std::nullopt;
    const auto size = SizeOfFile(tempFileName_);
    if (record && (record->url != url || record->sha256 != *digest || !size ||
                   static_cast<std::uint64_t>(*size) < record->length))
        record.reset();
    return record;
}

void TauAutoUpgrader::ResumeSettings(const std::string& url)
{
    KeepPartialFile = SignedDigest(url) != nullptr;
    validator_.clear();
    resume_ = ResumableRecord(url);
    ResumeFile = resume_.has_value();
    checkpoint_ = resume_ ? static_cast<std::int64_t>(resume_->length) : 0;
    Range = {resume_ ? static_cast<std::int64_t>(resume_->length) : 0, 0};
    IfRange = resume_ ? resume_->validator : std::string();
    if (resume_)
        Log("resuming the download of " + url + " after the " + std::to_string(resume_->length) +
            " bytes kept from a run cut off");
}

// What a cut download got stays, with its record, for the next run.
namespace {

// The kept bytes reach the disk before a record vouches for them.
bool FlushKeptFile(const std::string& path)
{
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file && FlushFileBuffers(file.get());
}

} // namespace

void TauAutoUpgrader::KeepCutDownload()
{
    const auto size = SizeOfFile(tempFileName_);
    if (infoFileMode_ || !size || !FlushKeptFile(tempFileName_) || !RecordDownload(*size))
        return;
    std::erase(downloaded_, tempFileName_);
    Log("kept " + std::to_string(*size) + " bytes of the download of " + URL + ", cut off: the next run resumes it");
}

// The first `length` bytes of the current download are on the disk: the
// record says so, for a run that ends before the download does.
bool TauAutoUpgrader::RecordDownload(std::int64_t length)
{
    const std::string* digest = SignedDigest(URL);
    if (!digest || length <= 0 || validator_.empty())
        return false;
    const std::string text = ResumeRecordText({URL, *digest, validator_, static_cast<std::uint64_t>(length)});
    return !text.empty() && WriteAtomically(tempFileName_ + std::string(ResumeSuffix), text, /*replace=*/true);
}

// Every CheckpointBytes a download stores are flushed and recorded, so a run
// killed or cut off by a power loss resumes from the last of them. Progress
// runs while the storing thread is quiet.
void TauAutoUpgrader::CheckpointDownload(TauDataStream* data)
{
    constexpr std::int64_t CheckpointBytes = 1 << 20;
    const std::int64_t stored = Result().resumedFrom + Result().bytesTransferred;
    if (!data || !KeepPartialFile || !Result().statusOk || stored - checkpoint_ < CheckpointBytes || !data->Flush())
        return;
    checkpoint_ = stored;
    RecordDownload(stored);
}

// A resume that fails is no failure of the file: the whole file is fetched
// at once, in the same run.
void TauAutoUpgrader::RestartWhole(const std::string& reason)
{
    Log(reason + ": fetching the whole file");
    DeleteQuietly(tempFileName_);
    DeleteQuietly(tempFileName_ + std::string(ResumeSuffix));
    std::erase(downloaded_, tempFileName_);
    resume_.reset();
    wholeOnly_ = true;
    DownloadCurrent();
}

// The file's cheaper roads, tried before the whole file. Each needs the
// file's signed size and digest to check what it gives; a cut download of
// the whole file goes on instead, and after a failed resume nothing but the
// whole file is tried. Without a key, only https roads are taken, as only
// https files.
std::vector<TauRoad> TauAutoUpgrader::ChooseRoads(const std::string& url) const
{
    const auto size = SignedSize(url);
    const auto found = std::find_if(releaseRoads_.begin(), releaseRoads_.end(),
                                    [&](const TauFileRoads& roads) { return roads.url == url; });
    if (!size || !SignedDigest(url) || found == releaseRoads_.end() || wholeOnly_ || ResumableRecord(url))
        return {};
    std::vector<TauRoad> roads = CheaperRoads(*found, installedDigest_, *size);
    if (RequiresHttps())
        std::erase_if(roads, [](const TauRoad& road) { return !IsHttpsAddress(road.url); });
    return roads;
}

// A road's body is fetched whole, in one plain request, beside the download
// it becomes; it is never resumed (only the whole file is).
void TauAutoUpgrader::FetchRoad(const TauRoad& road)
{
    URL = road.url;
    FileName = tempFileName_ + std::string(RoadSuffix);
    ResumeFile = false;
    KeepPartialFile = false;
    Range = {};
    IfRange.clear();
    resume_.reset();
    validator_.clear();
    checkpoint_ = 0;
    MaxBodySize = BodyLimit(road.size, MaxDownloadSize);
    downloaded_.push_back(FileName);
    StartUncachedTransfer();
}

void TauAutoUpgrader::DropRoadBody()
{
    const std::string body = tempFileName_ + std::string(RoadSuffix);
    DeleteQuietly(body);
    std::erase(downloaded_, body);
}

// A road that fails costs the user nothing but its bytes: one line of the
// log, and the next road (in the end the whole file) in the same run.
void TauAutoUpgrader::RoadFailed(const std::string& reason)
{
    const TauRoad road = roads_.front();
    roads_.erase(roads_.begin());
    DropRoadBody();
    DeleteQuietly(tempFileName_);
    std::erase(downloaded_, tempFileName_);
    Log(std::string(RoadName(road)) + " of " + CurrentFileURL() + " (" + road.url + ") is not taken: " + reason +
        "; fetching " + (roads_.empty() ? std::string("the whole file") : std::string(RoadName(roads_.front()))) +
        " instead");
    FetchCurrent();
}

// The road's body is checked against its own signed size and digest before
// it is decoded, and what it gives against the file's before the manifest
// names it.
void TauAutoUpgrader::RoadDone()
{
    const TauRoad& road = roads_.front();
    const std::string url = CurrentFileURL();
    const auto received = static_cast<std::uint64_t>(Result().bytesTransferred);
    if (received != road.size) {
        RoadFailed("its download ended after " + std::to_string(received) + " of the " + std::to_string(road.size) +
                   " bytes signed for it");
        return;
    }
    if (Result().sha256 != road.sha256) {
        RoadFailed("its download does not match its SHA-256 digest");
        return;
    }
    const std::string target = TargetNameOf(tempFileName_);
    downloaded_.push_back(tempFileName_);
    const std::string failure =
        DecodeRoad(road, tempFileName_ + std::string(RoadSuffix),
                   {GetAppFolder() + target, tempFileName_, *SignedSize(url), *SignedDigest(url), HideTempFile});
    if (!failure.empty()) {
        RoadFailed(failure);
        return;
    }
    DropRoadBody();
    Log("fetched " + url + " as " + std::string(RoadName(road)) + " of " + std::to_string(road.size) + " bytes (" +
        road.url + ")");
    roads_.clear();
    FileCompleted(*SignedDigest(url));
}

const std::string& TauAutoUpgrader::CurrentFileURL() const
{
    return fileList_[currentFileIndex_];
}

// An installed file that already holds the release's digest costs no byte
// of the network: the stub is told to keep it, and checks it again. The
// digest found also chooses the patch.
bool TauAutoUpgrader::KeepInstalled(const std::string& url, const std::string& target)
{
    const std::string* digest = SignedDigest(url);
    installedDigest_ = digest ? InstalledDigest(GetAppFolder() + target) : std::nullopt;
    if (!digest || installedDigest_ != *digest)
        return false;
    Log("kept " + target + ": the installed file already is the release's (" + url + " not downloaded)");
    installSet_.push_back({target, *digest, /*keep=*/true});
    return true;
}

void TauAutoUpgrader::FileHeaders(std::int64_t contentLength, OleDate lastModified, bool& continueTransfer)
{
    // An error answer is no file to start; the client reports it when done.
    if (!Result().statusOk)
        return;
    const std::weak_ptr<char> alive = alive_;
    fileTime_ = lastModified;
    validator_ = RangeValidator(Result().rawHeaders);
    checkpoint_ = Result().resumedFrom;
    SetWizardFileSize(contentLength);
    bool canUpgrade = true;
    // A road's body is not the file: the file's own signed size is compared.
    const std::int64_t fileSize = roads_.empty() ? contentLength : static_cast<std::int64_t>(*SignedSize(CurrentFileURL()));
    if (MiscFilesUpgrade == mfuOnlyIfSizeDifferent && fileSize != 0 && fileList_.size() > 1) {
        const std::string target = tempFileName_.substr(0, tempFileName_.size() - PendingSuffix.size());
        const auto size = SizeOfFile(target);
        if (lstrcmpiW(WideFromUtf8(FileNameOf(target)).c_str(), WideFromUtf8(FileNameOf(GetAppPath())).c_str()) != 0 &&
            size)
            canUpgrade = *size != fileSize;
    }
    // The events name the release file, with the bytes actually fetched.
    if (OnFileStart)
        OnFileStart(*this, CurrentFileURL(), contentLength, fileTime_, canUpgrade);
    continueTransfer = canUpgrade && GoOn(alive);
}

void TauAutoUpgrader::FileProgress(std::int64_t contentLength, std::int64_t bytesRead, int elapsedTime,
                                   int estimatedTimeLeft, std::uint8_t percentsDone, float transferRate)
{
    if (!Result().statusOk)
        return;
    const std::uint8_t total =
        TotalPercentsDone(percentsDone, currentFileIndex_, static_cast<int>(fileList_.size()));
    SetWizardProgress(percentsDone, total, transferRate, estimatedTimeLeft);
    if (OnProgress)
        OnProgress(*this, CurrentFileURL(), contentLength, bytesRead, elapsedTime, estimatedTimeLeft, percentsDone,
                   total, transferRate);
}

void TauAutoUpgrader::FileDone()
{
    if (!roads_.empty()) {
        RoadDone();
        return;
    }
    DeleteQuietly(tempFileName_ + std::string(ResumeSuffix));
    if (verifying_ || SignedDigest(URL)) {
        const std::int64_t stored = Result().resumedFrom + Result().bytesTransferred;
        const std::string* digest = SignedDigest(URL);
        if (Result().resumedFrom > 0 && (!digest || Result().sha256 != *digest)) {
            RestartWhole("the resumed download of " + URL + " does not match its SHA-256 digest");
            return;
        }
        if (const auto size = SignedSize(URL); size && static_cast<std::uint64_t>(stored) != *size) {
            ReleaseFileRefused("the download of " + URL + " ended after " + std::to_string(stored) +
                               " of the " + std::to_string(*size) + " bytes signed for it");
            return;
        }
        if (!digest || Result().sha256 != *digest) {
            ReleaseFileRefused("the download of " + URL + " does not match its SHA-256 digest");
            return;
        }
    }
    FileCompleted(Result().sha256);
}

void TauAutoUpgrader::FileCompleted(const std::string& sha256)
{
    installSet_.push_back({TargetNameOf(tempFileName_), sha256});
    const std::weak_ptr<char> alive = alive_;
    SetDownloadTime(tempFileName_, fileTime_);
    if (OnFileDone)
        OnFileDone(*this, tempFileName_);
    if (GoOn(alive))
        NextFile();
}

// A file the header handler declined: a download of an earlier run under the
// same name must not be installed in its place.
void TauAutoUpgrader::FileSkipped()
{
    if (aborted_)
        return;
    DropRoadBody();
    const std::wstring temporary = WideFromUtf8(tempFileName_);
    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temporary.c_str());
    NextFile();
}

// A failure of this side (the temporary file cannot be created or written)
// is told with the system's reason and a negative ErrorCode, minus the
// system's error code; the server's answers keep their status.
void TauAutoUpgrader::FileFailed(int statusCode)
{
    const DWORD local = Result().localError;
    if (!roads_.empty()) {
        RoadFailed(local == ERROR_FILE_TOO_LARGE
                       ? "its download is larger than the " + std::to_string(roads_.front().size) +
                             " bytes signed for it"
                   : local != NO_ERROR ? "its download cannot be stored here: " + ErrorText(local)
                                       : "the server answered HTTP " + std::to_string(statusCode));
        return;
    }
    if (resume_ && local == NO_ERROR) {
        RestartWhole("the resumed download of " + URL + " was refused (HTTP " + std::to_string(statusCode) +
                     ", or a Content-Range or validator other than the one asked for)");
        return;
    }
    if (local == ERROR_FILE_TOO_LARGE && SignedSize(URL)) {
        ReleaseFileRefused("the download of " + URL + " is larger than the " + std::to_string(*SignedSize(URL)) +
                           " bytes signed for it");
        return;
    }
    if (local != NO_ERROR) {
        localFailure_ = UpgraderText(umsgLocalFailure, {WideFromUtf8(tempFileName_), WideFromUtf8(ErrorText(local))});
        LostFile(-static_cast<int>(local), localFailure_, false);
        return;
    }
    LostFile(statusCode, UpgraderText(umsgLostFile, {WideFromUtf8(FileNameOf(URL))}), true);
}

void TauAutoUpgrader::ReleaseFileRefused(const std::string& reason)
{
    ReleaseRefused(reason);
}

// The downloads go first, so not even a handler of OnReleaseRefused sees a
// refused file; a tampered release is told apart from an outage, and the
// user is not sent to a download page.
void TauAutoUpgrader::ReleaseRefused(const std::string& reason)
{
    lastFailure_ = reason;
    refusalText_ = UpgraderText(std::exchange(refusalMessage_, umsgReleaseRefused), {WideFromUtf8(reason)});
    Log("release refused: " + reason);
    CancelTransfer();
    DiscardDownloads();
    FreeUpgraderWindows();
    const std::weak_ptr<char> alive = alive_;
    if (OnReleaseRefused)
        OnReleaseRefused(*this, reason);
    if (GoOn(alive))
        ShowErrorIf(mReleaseRefused, refusalText_);
}

void TauAutoUpgrader::LostFile(int errorCode, const std::wstring& text, bool ask)
{
    const std::weak_ptr<char> alive = alive_;
    const std::string url = fileList_[currentFileIndex_];
    bool continueUpgrade = false;
    if (OnLostFile)
        OnLostFile(*this, url, errorCode, continueUpgrade);
    if (!GoOn(alive))
        return;
    if (ShowMessages.Contains(mLostFile)) {
        if (!ask)
            ShowErrorIf(mLostFile, text);
        else if (AskSkipFile)
            continueUpgrade = AskSkipFile(text, UpgraderText(umsgError) + L" #" + std::to_wstring(errorCode));
    }
    if (!GoOn(alive))
        return;
    if (continueUpgrade)
        NextFile();
    else
        AbortUpgrade();
}

void TauAutoUpgrader::NextFile()
{
    wholeOnly_ = false;
    roads_.clear();
    ++currentFileIndex_;
    DownloadCurrent();
}

void TauAutoUpgrader::FinishUpgrade()
{
    const std::weak_ptr<char> alive = alive_;
    if (UpgraderWizard()) {
        FinishUpgraderWizard();
        // A program told to quit meanwhile is not handed to the stub.
        if (!WaitForUpgraderWizard() && GoOn(alive))
            AbortUpgrade();
        if (!GoOn(alive))
            return;
    }
    if (OnEndUpgrade)
        OnEndUpgrade(*this);
    if (!GoOn(alive))
        return;
    // Without a running stub nothing would restart the program: the upgrade
    // fails instead of closing it.
    if (!StartStub()) {
        AbortUpgrade();
        return;
    }
    downloaded_.clear();
    CloseApplication();
}

bool TauAutoUpgrader::StartStub()
{
    const std::string program = GetAppPath();
    const std::string manifest = ManifestText(ProductIdentity(ProductProcessId), FileNameOf(program), installSet_);
    if (manifest.empty() || program.empty())
        return false;
    return LaunchStub(GetModuleHandleW(nullptr), program,
                      "+" + restartParams_ + (upgradeMethod_ == umUseExternalSetup ? "1" : "0"), manifest);
}

void TauAutoUpgrader::CloseApplication()
{
    if (OnDoOwnCloseAppMethod) {
        OnDoOwnCloseAppMethod(*this);
        return;
    }
    // Closing the window may destroy this engine with it.
    const HWND mainWindow = MainWindow;
    if (mainWindow && IsWindow(mainWindow))
        SendMessageW(mainWindow, WM_CLOSE, 0, 0);
    PostQuitMessage(0);
}

// The temporary files of an upgrade that did not hand over: a later stub run
// must not install them.
void TauAutoUpgrader::DiscardDownloads()
{
    for (const std::string& path : downloaded_)
        DeleteQuietly(path);
    downloaded_.clear();
}
