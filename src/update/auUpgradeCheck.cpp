// TauAutoUpgrader's check: the information file fetched, trusted or
// refused (signature, product, expiry, https, digests and roads), the
// newer-release and rollout decisions, the check state, and the question.
#include "auAutoUpgrader.h"

#include "http/HttpHeaders.h"
#include "update/auCng.h"
#include "update/auReleaseRules.h"
#include "update/auRollout.h"
#include "update/auSignedInfo.h"
#include "update/auURL.h"
#include "update/auUpdateState.h"
#include "update/auUpgraderTexts.h"
#include "update/auVersion.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Said once per process: more engines would only repeat it.
std::atomic<bool> unverifiedNoted{false};

TauUtcTime UtcNow()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return {{now.wYear, now.wMonth, now.wDay}, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace

TauCalendarDate TauAutoUpgrader::Today()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
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

bool TauAutoUpgrader::IsNewer(const TauInfoFileText& info) const
{
    if (VersionControl == byNumber)
        return CompareVersions(info.Value("version"), VersionNumber) > 0;
    return IsNewerByDate(info.Value("date"), VersionDate, Today());
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
    PostMessageW(window_.get(), UpgradeMessage, 0, 0);
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
