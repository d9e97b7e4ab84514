#include "ReleaseReport.h"

#include "update/auDownloadNames.h"
#include "update/auInfoFile.h"
#include "update/auSignedInfo.h"
#include "update/auVersion.h"

#include <algorithm>

namespace {

class Report {
public:
    explicit Report(const VerifyRequest& request) : request_(request) {}

    void Fail(std::string rule, std::string reason)
    {
        if (!reason.empty())
            report_.failures.push_back({std::move(rule), std::move(reason)});
    }

    // The text the other rules read: the signed part when the file splits.
    std::string CheckSignature(const SignatureCheck& verify)
    {
        const std::string& text = request_.infoText;
        if (text.size() > TauInfoFileText::Limit)
            Fail("size", "the engine reads at most " + std::to_string(TauInfoFileText::Limit) +
                             " bytes; this file has " + std::to_string(text.size()));
        const TauPublisherKeys keys = PublisherKeysXY(PublicKeyOfLine(request_.publicKey));
        Fail("publisher key", keys.failure);
        TauSignedInfo parts = SplitSignedInfo(text);
        Fail("signature line", parts.failure);
        if (!parts.failure.empty())
            return text;
        const bool verified = std::any_of(keys.keys.begin(), keys.keys.end(), [&](const std::string& key) {
            return verify(key, parts.signedText, parts.signature);
        });
        if (!keys.keys.empty() && !verified)
            Fail("signature", keys.keys.size() == 1
                                  ? "the signature of the information file does not verify with the publisher key"
                                  : "the signature of the information file verifies with none of the publisher keys");
        return std::move(parts.signedText);
    }

    void CheckRules(const TauInfoFileText& info)
    {
        if (request_.product.empty() && !info.Has("product"))
            Fail("product",
                 "the information file names no product (#product=); a copy whose update.ini names "
                 "its Product refuses it");
        Fail("product", ProductFailure(info, request_.product));
        Fail("expiry", ExpiryFailure(info, request_.now));
        Fail("version", VersionFormFailure(info));
        if (!RolloutPercent(info))
            Fail("rollout", "the rollout is not a whole percentage from 0 to 100: \"" + info.Value("rollout") + "\"");
        if (info.FileList().empty())
            Fail("files", "the information file lists no file (#url=): an installed copy finds no update");
        if (info.Method() != umRedirectToURL)
            Fail("digests", ReleaseDigests(info).failure);
        for (const auto& [url, number] : info.NumberedFiles()) {
            if (!PendingNameOfURL(url))
                Fail("file names", "the engine refuses the name of " + url);
            if (!SizeOf(info, number) && info.Has(SizeKey(number)))
                Fail("sizes",
                     "the size of " + url + " is not a decimal number: \"" + info.Value(SizeKey(number)) + "\"");
        }
    }

    void CheckFolder(const TauInfoFileText& info, const std::vector<ReleaseFile>& folder)
    {
        std::vector<std::string> listed;
        for (const auto& [url, number] : info.NumberedFiles()) {
            const auto pending = PendingNameOfURL(url);
            if (!pending)
                continue;
            const std::string name = pending->substr(0, pending->size() - PendingSuffix.size());
            listed.push_back(name);
            const auto file = std::find_if(folder.begin(), folder.end(),
                                           [&](const ReleaseFile& candidate) { return candidate.name == name; });
            if (file == folder.end()) {
                Fail("folder", name + " is not in the folder");
                continue;
            }
            const auto digest = DecodeSha256Hex(number.empty() ? info.Value("sha256") : info.Value("sha256_" + number));
            if (digest && *digest != file->sha256)
                Fail("folder", "the SHA-256 of " + name + " differs from its signed digest");
            const auto size = SizeOf(info, number);
            if (size && *size != file->size)
                Fail("folder", name + " has " + std::to_string(file->size) + " bytes; the information file says " +
                                   std::to_string(*size));
        }
        for (const ReleaseFile& file : folder) {
            if (std::find(listed.begin(), listed.end(), file.name) == listed.end())
                Fail("folder", file.name + " is in the folder but not in the information file");
        }
    }

    VerifyReport Outcome(const TauInfoFileText& info)
    {
        if (!report_.failures.empty())
            return std::move(report_);
        const std::string version = info.Value("version");
        if (!request_.installed.empty() && CompareVersions(version, request_.installed) <= 0) {
            report_.outcome =
                "an installed " + request_.installed + " would find no update (the file offers " + version + ")";
            return std::move(report_);
        }
        const std::size_t count = info.FileList().size();
        std::string outcome = "would install " + version + " (" + std::to_string(count) +
                              (count == 1 ? " file" : " files") + ") for product " + info.Value("product");
        outcome += info.Has("expires") ? ", expires " + info.Value("expires") : ", never expires";
        if (const auto expires = ParseUtcTime(info.Value("expires")); expires && *expires < request_.warnBefore)
            report_.warning = "warning: the information file expires at " + info.Value("expires") + ", within " +
                              std::to_string(ExpiryWarningDays) +
                              " days; installed copies then find no update until a release is signed anew";
        if (const int rollout = RolloutPercent(info).value_or(100); rollout < 100)
            outcome += ", for " + std::to_string(rollout) + "% of installed copies";
        report_.outcome = std::move(outcome);
        return std::move(report_);
    }

private:
    static std::string SizeKey(const std::string& number) { return number.empty() ? "size" : "size_" + number; }

    // The "#size" of a file: decimal digits, at most 19.
    static std::optional<std::uint64_t> SizeOf(const TauInfoFileText& info, const std::string& number)
    {
        const std::string text = info.Value(SizeKey(number));
        if (text.empty() || text.size() > 19 ||
            !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        return std::stoull(text);
    }

    const VerifyRequest& request_;
    VerifyReport report_;
};

}  // namespace

VerifyReport VerifyRelease(const VerifyRequest& request, const SignatureCheck& verify)
{
    Report report(request);
    const TauInfoFileText info(report.CheckSignature(verify));
    report.CheckRules(info);
    if (request.folder)
        report.CheckFolder(info, *request.folder);
    return report.Outcome(info);
}

std::string PublicKeyOfLine(std::string_view line)
{
    constexpr std::string_view prefix = "PublicKey=";
    return std::string(line.starts_with(prefix) ? line.substr(prefix.size()) : line);
}
