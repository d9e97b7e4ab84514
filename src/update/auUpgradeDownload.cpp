// TauAutoUpgrader's downloads: each release file kept, fetched by its
// cheapest road or whole, resumed, checked and failed; then the hand-over
// to the stub and the application's close.
#include "auAutoUpgrader.h"

#include "common/AppPaths.h"
#include "http/HttpHeaders.h"
#include "http/FileSha256.h"
#include "update/auDownloadNames.h"
#include "update/auResume.h"
#include "update/auRoadDecode.h"
#include "update/auStubLaunch.h"
#include "update/auURL.h"
#include "update/auUpdateState.h"
#include "update/auUpgraderTexts.h"
#include "winutil/ErrorText.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

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

// The download's path beside the program; empty when the name from the
// network is no plain file name of the program's folder.
std::string DownloadPathOf(const std::string& url)
{
    const auto name = PendingNameOfURL(url);
    const std::string path = name ? GetAppFolder() + *name : std::string();
    return path.size() < MAX_PATH ? path : std::string();
}

std::optional<std::int64_t> Countable(std::uint64_t size)
{
    return size <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? std::optional<std::int64_t>(static_cast<std::int64_t>(size))
               : std::nullopt;
}

// A signed size past what a body can be counted to is no bound at all.
std::int64_t BodyLimit(std::optional<std::uint64_t> signedSize, std::int64_t otherwise)
{
    return signedSize ? Countable(*signedSize).value_or(otherwise) : otherwise;
}

}  // namespace

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
    PlanDownloads();
    DownloadCurrent();
}

// The installed files are hashed once, here, before the first byte comes:
// which are kept and which patches apply make the total in bytes.
void TauAutoUpgrader::PlanDownloads()
{
    installedDigests_.clear();
    plannedBytes_.clear();
    countBytes_ = true;
    std::int64_t total = 0;
    for (std::size_t index = 0; index < fileList_.size(); ++index) {
        const std::string download = DownloadPathOf(fileList_[index]);
        installedDigests_.push_back(SignedDigest(fileList_[index]) && !download.empty()
                                        ? InstalledDigest(GetAppFolder() + TargetNameOf(download))
                                        : std::nullopt);
        const auto planned = PlannedBytes(index, download);
        countBytes_ = countBytes_ && planned;
        plannedBytes_.push_back(planned.value_or(0));
        total += std::min(planned.value_or(0), std::numeric_limits<std::int64_t>::max() - total);
    }
    listProgress_.Start(total);
    countedFile_ = -1;
}

// A file's cost as planned: nothing when it is kept (or cannot be taken),
// its first road's bytes, or the whole file's less what a cut download
// kept; unknown when the whole file's size is not signed.
std::optional<std::int64_t> TauAutoUpgrader::PlannedBytes(std::size_t index, const std::string& download) const
{
    const std::string& url = fileList_[index];
    const std::string* digest = SignedDigest(url);
    if (download.empty() || (digest && installedDigests_[index] == *digest))
        return 0;
    const std::vector<TauRoad> roads = ChooseRoads(url, download, installedDigests_[index]);
    if (!roads.empty())
        return Countable(roads.front().size);
    const auto size = SignedSize(url);
    const auto whole = size ? Countable(*size) : std::nullopt;
    const auto record = whole ? ResumableRecord(url, download) : std::nullopt;
    return record ? std::max<std::int64_t>(*whole - static_cast<std::int64_t>(record->length), 0) : whole;
}

// A file's first transfer is the one planned; each after it is a fallback.
// What the transfer before fetched is still in Result().
void TauAutoUpgrader::CountTransfer(std::int64_t size)
{
    const bool first = countedFile_ != currentFileIndex_;
    countedFile_ = currentFileIndex_;
    listProgress_.Next(Result().bytesTransferred, first ? plannedBytes_[currentFileIndex_] : size, first);
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
    roads_ = ChooseRoads(fileList_[currentFileIndex_], tempFileName_, installedDigests_[currentFileIndex_]);
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
    CountTransfer(BodyLimit(SignedSize(url), 0));
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
    tempFileName_ = DownloadPathOf(url);
    // A name from the network that is no plain file of the program's folder
    // is never written: the file counts as not served.
    if (tempFileName_.empty()) {
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
std::optional<TauResumeRecord> TauAutoUpgrader::ResumableRecord(const std::string& url,
                                                                const std::string& download) const
{
    const std::string* digest = SignedDigest(url);
    auto record = digest && !wholeOnly_ ? ReadResumeRecord(download) : std::nullopt;
    const auto size = SizeOfFile(download);
    if (record && (record->url != url || record->sha256 != *digest || !size ||
                   static_cast<std::uint64_t>(*size) < record->length))
        record.reset();
    return record;
}

void TauAutoUpgrader::ResumeSettings(const std::string& url)
{
    KeepPartialFile = SignedDigest(url) != nullptr;
    validator_.clear();
    resume_ = ResumableRecord(url, tempFileName_);
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
std::vector<TauRoad> TauAutoUpgrader::ChooseRoads(const std::string& url, const std::string& download,
                                                  const std::optional<std::string>& installedSha256) const
{
    const auto size = SignedSize(url);
    const auto found = std::find_if(releaseRoads_.begin(), releaseRoads_.end(),
                                    [&](const TauFileRoads& roads) { return roads.url == url; });
    if (!size || !SignedDigest(url) || found == releaseRoads_.end() || wholeOnly_ ||
        ResumableRecord(url, download))
        return {};
    std::vector<TauRoad> roads = CheaperRoads(*found, installedSha256, *size);
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
    CountTransfer(BodyLimit(road.size, 0));
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

// An installed file that already holds the release's digest (as hashed when
// the downloads began) costs no byte of the network: the stub is told to
// keep it, and checks it again. The same digest chooses the patch.
bool TauAutoUpgrader::KeepInstalled(const std::string& url, const std::string& target)
{
    const std::string* digest = SignedDigest(url);
    if (!digest || installedDigests_[currentFileIndex_] != *digest)
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
            continueUpgrade =
                AskSkipFile(text, UpgraderText(umsgError) + L" #" + WideFromUtf8(std::to_string(errorCode)));
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
