#pragma once
// `TauAutoUpgrader`: the update engine an application keeps on its main
// window: checks for a newer version, downloads it, replaces the program and
// restarts it. It is the HTTP client extended with the upgrade steps; this
// unit holds its public face: settings with their defaults, events and
// operations, creation, loading and destruction. Main thread only; every
// event is raised on the main thread with the engine as Sender.
//
// The engine never raises from its operations, except EOutOfResources from
// SetAutoCheck when the check timer cannot be created. After each event it
// raises it goes on only if the handler neither destroyed it nor called
// AbortUpgrade, so a handler may do either.

#include "http/auHTTP.h"
#include "http/HttpProgress.h"
#include "update/auCheckState.h"
#include "update/auInfoFile.h"
#include "update/auResume.h"
#include "update/auRoadChoice.h"
#include "update/auUpgraderDialogs.h"
#include "update/auUpgraderLanguage.h"
#include "update/auUpgradeTypes.h"
#include "update/stub/ManifestWriter.h"
#include "winutil/ErrorText.h"
#include "winutil/MessageWindow.h"
#include "winutil/UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TauCalendarDate;

enum TacMiscFilesUpgradeBehavior { mfuAlwaysDownload, mfuOnlyIfSizeDifferent };
enum TauAutoUpgraderShowMessage {
    mAskUpgrade,
    mConnLost,
    mHostUnreachable,
    mLostFile,
    mNoInfoFile,
    mNoUpdateAvailable,
    mPasswordRequest,
    // A release the engine may not install (OnReleaseRefused): message 31.
    mReleaseRefused
};

// A set of TauAutoUpgraderShowMessage values.
class TauAutoUpgraderShowMessages {
public:
    constexpr TauAutoUpgraderShowMessages() = default;
    constexpr TauAutoUpgraderShowMessages(std::initializer_list<TauAutoUpgraderShowMessage> items)
    {
        for (TauAutoUpgraderShowMessage item : items)
            bits_ |= Bit(item);
    }

    constexpr bool Contains(TauAutoUpgraderShowMessage item) const { return (bits_ & Bit(item)) != 0; }
    constexpr void Include(TauAutoUpgraderShowMessage item) { bits_ |= Bit(item); }
    constexpr void Exclude(TauAutoUpgraderShowMessage item) { bits_ &= ~Bit(item); }
    constexpr bool operator==(const TauAutoUpgraderShowMessages&) const = default;

private:
    static constexpr unsigned Bit(TauAutoUpgraderShowMessage item) { return 1u << item; }
    unsigned bits_ = 0;
};

// A system resource ran out (here: timers); the message is the system's text.
class EOutOfResources : public EWin32Error {
public:
    using EWin32Error::EWin32Error;
};

// Design-time record; the running engine never reads it.
struct TauAutoUpgraderInfo {
    std::vector<std::string> Files;
    TacUpgradeMethod UpgradeMethod = umSelfUpgrade;
    std::string UpgradeMsg;
};

// Settings of the progress wizard.
class TauAutoUpgraderWizard {
public:
    TauAutoUpgraderWizard();

    bool Enabled = true;
    bool StayOnTop = true;

    // Keeps a copy of the picture; null clears it.
    void SetPic118x218(HBITMAP picture);
    HBITMAP Pic118x218() const { return static_cast<HBITMAP>(picture_.get()); }

    TauAutoUpgraderLanguage Language() const { return language_; }
    // Selects the language of every engine text of the process (the last one set wins).
    void SetLanguage(TauAutoUpgraderLanguage language);

private:
    UniqueGdiObject picture_;
    TauAutoUpgraderLanguage language_ = wlAuto;
};

// The language the engine texts use: the one assigned last to any wizard.
TauAutoUpgraderLanguage UpgraderLanguage();

class TauAutoUpgrader;

using TauNotifyEvent = std::function<void(TauAutoUpgrader& Sender)>;
using TauBeginUpgradeEvent =
    std::function<void(TauAutoUpgrader& Sender, const std::string& UpgradeMsg, TacUpgradeMethod UpgradeMethod,
                       std::vector<std::string>& Files, bool& CanUpgrade)>;
using TauProgressEvent =
    std::function<void(TauAutoUpgrader& Sender, const std::string& FileURL, std::int64_t FileSize,
                       std::int64_t BytesRead, int ElapsedTime, int EstimatedTimeLeft, std::uint8_t PercentsDone,
                       std::uint8_t TotalPercentsDone, float TransferRate)>;
using TauFileStartEvent = std::function<void(TauAutoUpgrader& Sender, const std::string& FileURL,
                                             std::int64_t FileSize, OleDate FileTime, bool& CanUpgrade)>;
using TauFileDoneEvent = std::function<void(TauAutoUpgrader& Sender, const std::string& FileName)>;
using TauHostUnreachableEvent =
    std::function<void(TauAutoUpgrader& Sender, const std::string& URL, const std::string& Hostname)>;
using TauLostFileEvent = std::function<void(TauAutoUpgrader& Sender, const std::string& FileURL, int ErrorCode,
                                            bool& ContinueUpgrade)>;
using TauPasswordRequestEvent =
    std::function<void(TauAutoUpgrader& Sender, const std::string& Realm, bool& TryAgain)>;
using TauReleaseRefusedEvent = std::function<void(TauAutoUpgrader& Sender, const std::string& Reason)>;

class TauAutoUpgrader : public TauCustomHTTP {
public:
    static constexpr const char* DefaultInfoFileURL = "http://";
    static constexpr const char* DefaultRestartParams = "/afterupgrade";
    static constexpr TauAutoUpgraderShowMessages DefaultShowMessages = {mAskUpgrade, mConnLost, mLostFile,
                                                                        mPasswordRequest, mReleaseRefused};

    TauAutoUpgrader();
    ~TauAutoUpgrader() override;

    // Call once the stored settings have been applied: raises OnAfterRestart
    // when the program's first argument is exactly RestartParams.
    void Loaded();

    // Starts the check for a newer version; returns at once.
    void CheckUpdate();
    // Stops everything and raises OnAborted.
    void AbortUpgrade();
    // Hands the address to the browser when it is an http, https or ftp
    // address (http:// is put in front of one without a scheme); false,
    // opening nothing, for any other.
    bool OpenURL(const std::string& url);

    TThreadPriority ThreadPriority() { return WorkerThread().Priority(); }
    void SetThreadPriority(TThreadPriority priority) { WorkerThread().SetPriority(priority); }

    bool AutoCheck() const { return autoCheck_; }
    void SetAutoCheck(bool autoCheck);

    const std::string& RestartParams() const { return restartParams_; }
    // An empty text is kept as a single blank.
    void SetRestartParams(const std::string& params);

    bool VersionDateAutoSet() const { return versionDateAutoSet_; }
    // Refreshes VersionDate only while designing, which a running program never is.
    void SetVersionDateAutoSet(bool autoSet) { versionDateAutoSet_ = autoSet; }

    TauAutoUpgraderInfo InfoFile;
    std::string InfoFileURL = DefaultInfoFileURL;
    TacMiscFilesUpgradeBehavior MiscFilesUpgrade = mfuAlwaysDownload;
    TauAutoUpgraderVersionControl VersionControl = byDate;
    std::string VersionDate;  // month/day/year; today when created
    std::string VersionNumber;
    TauAutoUpgraderShowMessages ShowMessages = DefaultShowMessages;
    TauAutoUpgraderWizard Wizard;
    // The publisher's public keys as update.ini holds them (each the base64
    // of the DER SubjectPublicKeyInfo of a P-256 key, up to three separated
    // by blanks: PublisherKeysXY). When set, an information file is read only
    // when its signature verifies under one of them and its signed text
    // agrees with Product, has not expired and (byNumber) gives a plain
    // version; each release file is kept only when its SHA-256 matches the
    // signed digest. An expired file is no update (logged, no box).
    std::string PublisherKey;
    // The product this program is, as "#product=" of a signed information
    // file must name it (ASCII case ignored). Required with PublisherKey:
    // without it every release is refused (message 33). It also keys the
    // check state, with InfoFileURL.
    std::string Product;
    // Without a publisher key a newer release is installed only when its
    // information file and every file came over https, every step of the
    // way (TransferSource). True drops that check: for test servers only.
    bool AllowUnverifiedUpdates = false;
    // The most bytes a release file may have when the signed information
    // file gives no size for it (a signed "#size" is the limit otherwise):
    // a longer download is stopped, as a file that cannot be stored here.
    std::int64_t MaxDownloadSize = std::int64_t{4} << 30;
    // Where the update state is kept (the machine's rollout value and the
    // product's check state, auUpdateState); empty:
    // %LOCALAPPDATA%\Keldora\Updates\.
    std::string StateFolder;

    TauBeginUpgradeEvent OnBeginUpgrade;
    TauNotifyEvent OnEndUpgrade;
    TauNotifyEvent OnLaterUpgrade;
    TauProgressEvent OnProgress;
    TauFileStartEvent OnFileStart;
    TauFileDoneEvent OnFileDone;
    TauNotifyEvent OnDoOwnCloseAppMethod;
    TauNotifyEvent OnAfterRestart;
    TauNotifyEvent OnConfirmUpgrade;
    TauNotifyEvent OnAborted;
    TauNotifyEvent OnConnLost;
    TauHostUnreachableEvent OnHostUnreachable;
    TauNotifyEvent OnNoUpdateAvailable;
    TauNotifyEvent OnNoInfoFile;
    // ErrorCode is the server's status, or minus the system's error code when
    // the file could not be stored here or its name is no plain file name of
    // the program's folder.
    TauLostFileEvent OnLostFile;
    TauPasswordRequestEvent OnPasswordRequest;
    // A release the engine may not install: unverified (no key and not all
    // over https), a signature or digest that does not check, another
    // product, an expired file, a version that is not plain. Raised instead
    // of the outage events, once per check, after the downloads of the
    // upgrade are deleted; the upgrade ends there (no OnAborted). Reason is
    // the engine's English explanation, also in LastFailure.
    TauReleaseRefusedEvent OnReleaseRefused;
    // The engine's notes for a log: why a release was refused, and once per
    // process, without a publisher key, which rule lets a release in. Each
    // also goes to OutputDebugString.
    std::function<void(TauAutoUpgrader& Sender, const std::string& Text)> OnLog;

    // The dialogs and the browser; tests put their own answers here.
    TauUpgraderPrompts Prompts = DefaultUpgraderPrompts();
    // The question after a release file was not served (Yes: skip it and go
    // on); a warning box with Yes and No unless a test answers here.
    std::function<bool(const std::wstring& text, const std::wstring& caption)> AskSkipFile;

    // The product's process (0: none): the stub waits until it has ended
    // before it replaces anything, and never starts the program while it runs.
    DWORD ProductProcessId = 0;

    // The application's main window: closed when the stub has taken over and
    // OnDoOwnCloseAppMethod is not assigned; the message loop is then ended.
    HWND MainWindow = nullptr;

    // Run-time state.
    const std::vector<std::string>& FileList() const { return fileList_; }
    const std::string& MoreInfoURL() const { return moreInfoURL_; }
    bool InfoFileMode() const { return infoFileMode_; }
    bool Aborted() const { return aborted_; }
    bool AutoCheckRunning() const { return autoCheckRunning_; }
    HWND MessageWindow() const { return window_.get(); }
    // 0-based index in FileList of the file being downloaded.
    int CurrentFileIndex() const { return currentFileIndex_; }
    // Last-Modified of the current download in local time; 0 when not sent.
    OleDate FileTime() const { return fileTime_; }
    // Full path of the current download's temporary file beside the program.
    const std::string& TempFileName() const { return tempFileName_; }
    // Why the last check or upgrade refused the release (OnReleaseRefused),
    // or why its expired information file was no update; empty when it
    // refused none. Cleared by CheckUpdate.
    const std::string& LastFailure() const { return lastFailure_; }
    // The text of the last OnLostFile when the file could not be stored on
    // this side (disk full, read-only or denied folder, too large): a local
    // failure, no fault of the server. Empty for the server's lost files.
    const std::wstring& LocalFailureText() const { return localFailure_; }
    // The last refusal's text for the user, in the chosen language: message
    // 33 when update.ini holds a key but no product, else message 31 with
    // LastFailure. Empty when the last check refused nothing.
    const std::wstring& RefusalText() const { return refusalText_; }

protected:
    // The engine handles its own transfers.
    void DoDone(const std::string& contentType, std::int64_t dataSize, TauDataStream* data) override;
    void DoTransferStopped() override;
    void DoServerUnreachable() override;
    void DoHTTPError(int statusCode, TauDataStream* data) override;
    void DoConnectionLost(const std::string& contentType, std::int64_t contentLength, std::int64_t bytesTransferred,
                          TauDataStream* data) override;
    bool DoHeaderInfo() override;
    void DoTransferProgress(const TransferProgress& progress, TauDataStream* data) override;
    bool DoPasswordRequest(const std::string& realm) override;
    bool WantsHeaderInfo() const override { return true; }
    bool WantsProgress() const override { return true; }
    bool WantsPasswordRequest() const override { return true; }

private:
    // The client's transfer events are the engine's own business: an
    // application neither sees nor replaces them.
    using TauCustomHTTP::OnConnectionLost;
    using TauCustomHTTP::OnDone;
    using TauCustomHTTP::OnHeaderInfo;
    using TauCustomHTTP::OnHTTPError;
    using TauCustomHTTP::OnServerUnreachable;
    using TauCustomHTTP::OnTransferProgress;
    using TauCustomHTTP::OnTransferStopped;

    // Posted when the information file names a newer release.
    static constexpr UINT UpgradeMessage = WM_APP + 1;
    static TauCalendarDate Today();

    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void ArmAutoCheck();
    void AutoCheckTimerFired();
    // True when the engine may go on after an event: still alive, not aborted.
    bool GoOn(const std::weak_ptr<char>& alive) const { return !alive.expired() && !aborted_; }

    void TransferDone(TauDataStream* data);
    void ReadInfoFile(const std::string& text);
    // The text of the information file the engine may read: all of it
    // without a publisher key; with one, the part the publisher signed, or
    // nothing (and `failure` says why) when a check of it fails.
    std::optional<std::string> TrustedInfoText(const std::string& text, std::string& failure);
    // Takes the digests and sizes the file gives (all digests under a key);
    // false with `failure` when one is malformed or missing.
    bool ReadFileChecks(const TauInfoFileText& info, std::string& failure);
    bool RequiresHttps() const { return PublisherKey.empty() && !AllowUnverifiedUpdates; }
    // Why the release read may not be installed for lack of a signature; empty when it may.
    std::string UnverifiedFailure() const;
    // Ends the check or upgrade of a release that may not be installed.
    void ReleaseRefused(const std::string& reason);
    void Log(const std::string& text);
    // The signed digest of a release file's address; null when it has none.
    const std::string* SignedDigest(const std::string& url) const;
    std::optional<std::uint64_t> SignedSize(const std::string& url) const;
    bool PrepareCurrent(const std::string& url);
    std::optional<TauResumeRecord> ResumableRecord(const std::string& url, const std::string& download) const;
    void ResumeSettings(const std::string& url);
    bool ResumableDownload(const std::string& download) const;
    void KeepCutDownload();
    bool RecordDownload(std::int64_t length);
    void CheckpointDownload(TauDataStream* data);
    void RestartWhole(const std::string& reason);
    bool KeepInstalled(const std::string& url, const std::string& target);
    std::vector<TauRoad> ChooseRoads(const std::string& url, const std::string& download,
                                     const std::optional<std::string>& installedSha256) const;
    void PlanDownloads();
    std::optional<std::int64_t> PlannedBytes(std::size_t index, const std::string& download) const;
    // Counts the transfer about to start in the progress of the whole list.
    void CountTransfer(std::int64_t size);
    void FetchCurrent();
    void FetchRoad(const TauRoad& road);
    void DropRoadBody();
    void RoadFailed(const std::string& reason);
    void RoadDone();
    // The address of the release file being fetched, whatever road it takes.
    const std::string& CurrentFileURL() const;
    // A release file that may not be installed: deleted with the other
    // downloads, and the release refused.
    void ReleaseFileRefused(const std::string& reason);
    bool IsNewer(const TauInfoFileText& info) const;
    // Whether this copy's bucket is within the release's "#rollout=" share;
    // a copy whose state cannot be kept waits for the full release.
    bool InRollout(const TauInfoFileText& info, int percent);
    // Raises OnNoUpdateAvailable, then with showBox the box of a check the
    // user started.
    void NoUpdateAvailable(const std::weak_ptr<char>& alive, bool showBox);
    // A 503 or 429 whose Retry-After is usable: kept, and the check ends
    // without an error. False for any other answer.
    bool ServerAskedToWait(int statusCode);
    std::string StateFolderPath() const;
    // Writes the product's check state when it changed.
    void KeepCheckState(TauCheckState state);
    // Raises OnBeginUpgrade and asks, for the release ReadInfoFile found.
    void Upgrade();
    // The what's-new hooks of Prompts; More Info falls back to OpenURL.
    TauMoreInfo MoreInfoHooks();
    void InfoFileMissing();
    void HostUnreachable();
    void StartUncachedTransfer(const std::vector<std::string>& extraHeaders = {});
    void ConnectionLost();
    void PasswordRequest(const std::string& realm, bool& tryAgain);
    void ShowErrorIf(TauAutoUpgraderShowMessage member, const std::wstring& text);

    void StartDownloads();
    void DeleteStalePendingFiles();
    void ShowWizard();
    void DownloadCurrent();
    void FileHeaders(std::int64_t contentLength, OleDate lastModified, bool& continueTransfer);
    void FileProgress(std::int64_t contentLength, std::int64_t bytesRead, int elapsedTime, int estimatedTimeLeft,
                      std::uint8_t percentsDone, float transferRate);
    void FileDone();
    // The download of the current file holds it (SHA-256 `sha256`): into the manifest.
    void FileCompleted(const std::string& sha256);
    void FileSkipped();
    void FileFailed(int statusCode);
    void LostFile(int errorCode, const std::wstring& text, bool ask);
    void NextFile();
    void FinishUpgrade();
    bool StartStub();
    void CloseApplication();
    void DiscardDownloads();

    bool autoCheck_ = false;
    bool autoCheckDone_ = false;
    bool autoCheckRunning_ = false;
    bool infoFileMode_ = false;
    bool aborted_ = false;
    bool versionDateAutoSet_ = true;
    std::string restartParams_ = DefaultRestartParams;
    std::vector<std::string> fileList_;
    std::string moreInfoURL_;
    std::string upgradeMsg_;
    TacUpgradeMethod upgradeMethod_ = umSelfUpgrade;
    int currentFileIndex_ = 0;
    OleDate fileTime_ = 0;
    std::string tempFileName_;
    std::string lastFailure_;
    std::wstring localFailure_;
    std::wstring refusalText_;
    // The message the next refusal shows (31 unless said otherwise).
    TauUpgraderMessage refusalMessage_ = umsgReleaseRefused;
    // Set when the information file was refused only for having expired.
    bool expired_ = false;
    // Where the information file came from (TransferSource).
    std::string infoSource_;
    // Why the running download was stopped at its headers; raised when it has ended.
    std::string pendingRefusal_;
    // Set for a release read under a publisher key: every file is checked.
    bool verifying_ = false;
    // The product's check state as last read or written.
    TauCheckState checkState_;
    // Address and SHA-256 of each file of the signed release.
    std::vector<std::pair<std::string, std::string>> signedDigests_;
    // Address and signed size of each file of the signed release that has one.
    std::vector<std::pair<std::string, std::uint64_t>> signedSizes_;
    // Each file's cheaper roads as the (signed) information file gives them.
    std::vector<TauFileRoads> releaseRoads_;
    // The current file's roads not yet failed, the one being fetched first;
    // empty while the whole file is fetched.
    std::vector<TauRoad> roads_;
    // Each file's installed copy's SHA-256, hashed once when the downloads
    // begin; none when it cannot be read or the file has no digest.
    std::vector<std::optional<std::string>> installedDigests_;
    // What each file costs the network as planned when the downloads begin.
    std::vector<std::int64_t> plannedBytes_;
    // Progress is counted in bytes when every planned size is known, else in files.
    bool countBytes_ = false;
    ListProgress listProgress_;
    // The file whose first transfer has been counted; later ones are fallbacks.
    int countedFile_ = -1;
    // Temporary files this upgrade created; removed unless the stub takes them over.
    std::vector<std::string> downloaded_;
    // The files completely downloaded, with the SHA-256 of what was stored:
    // the manifest the stub installs from.
    std::vector<ManifestEntry> installSet_;
    // The current file's cut download being resumed, and its answer's validator.
    std::optional<TauResumeRecord> resume_;
    std::string validator_;
    // The resume of the current file failed: the whole file, once.
    bool wholeOnly_ = false;
    // Bytes of the current download last recorded.
    std::int64_t checkpoint_ = 0;
    // The window stops calling the engine once its destruction has begun.
    bool windowDetached_ = false;
    // A top-level window, so that it answers the end of the session.
    keldora::winutil::MessageWindow window_;
    // Expires with the engine, so a sequence of events stops when one of its
    // handlers destroyed it.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};
