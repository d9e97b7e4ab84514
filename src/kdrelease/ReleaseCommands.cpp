#include "ReleaseCommands.h"

#include "kdrelease/KeyCoding.h"
#include "kdrelease/ReleaseCrypto.h"
#include "kdrelease/ReleaseFiles.h"
#include "kdrelease/ReleaseOptions.h"
#include "kdrelease/ReleaseReport.h"
#include "kdrelease/ReleaseRoads.h"
#include "kdrelease/ReleaseUpdateIni.h"

#include "update/auInfoFile.h"
#include "update/auSignedInfo.h"

#include <algorithm>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Problems found while checking the inputs, all told at once.
class Problems {
public:
    void Add(const std::string& problem)
    {
        if (!problem.empty())
            text_ += (text_.empty() ? "" : "\n") + problem;
    }
    void ThrowAny() const
    {
        if (!text_.empty())
            throw ReleaseError(text_);
    }

private:
    std::string text_;
};

int Keygen(const ReleaseOptions& options, std::ostream& out)
{
    const P256Key key = GenerateP256Key();
    WriteReleaseFile(PathOfUtf8(options.operands[0]), PrivateKeyPem(key), options.force, /*privateFile=*/true);
    out << "wrote the private key " << options.operands[0] << " (keep it private); for update.ini:\n"
        << "PublicKey=" << PublicKeyLine(key.xy) << "\n";
    return 0;
}

P256Key ReadKey(const std::string& name)
{
    const P256KeyRead read = ReadPrivateKeyPem(ReadFileBytes(PathOfUtf8(name)));
    if (!read.key)
        throw ReleaseError(name + ": " + read.failure);
    return *read.key;
}

std::string ReadMessage(const std::string& name, Problems& problems)
{
    std::string message = ReadFileBytes(PathOfUtf8(name));
    if (message.starts_with("\xEF\xBB\xBF"))
        message.erase(0, 3);
    if (const std::string problem = MessageProblem(message); !problem.empty())
        problems.Add(name + ": " + problem);
    return message;
}

ReleaseSettings CheckedSettings(const ReleaseOptions& options, std::chrono::system_clock::time_point now,
                                Problems& problems)
{
    ReleaseSettings settings{
        options.version, options.product, ReleaseBase(options.baseURL), {}, options.moreInfo, {}, {}};
    problems.Add(VersionProblem(options.version));
    problems.Add(ProductProblem(options.product));
    problems.Add(BaseURLProblem(options.baseURL, options.allowHttp));
    if (!options.moreInfo.empty())
        problems.Add(MoreInfoProblem(options.moreInfo));
    if (!options.messageFile.empty())
        settings.message = ReadMessage(options.messageFile, problems);
    if (!options.rollout.empty()) {
        const std::string problem = RolloutProblem(options.rollout);
        problems.Add(problem);
        if (problem.empty())
            settings.rollout = std::stoi(options.rollout);
    }
    // A file that never expires can be replayed for ever to hold copies at
    // this release: it takes the publisher's word to write one.
    const std::string days = options.expiresDays.empty() ? std::to_string(DefaultExpiryDays) : options.expiresDays;
    const std::string problem = ExpiryDaysProblem(days);
    problems.Add(problem);
    if (problem.empty() && !options.noExpiry)
        settings.expires = UtcTimeOf(now + std::chrono::days(std::stoi(days)));
    return settings;
}

// The earlier releases make --previous names, within the limit, each a folder.
RoadSettings CheckedRoadSettings(const ReleaseOptions& options, Problems& problems)
{
    RoadSettings settings;
    settings.replace = options.force;
    const std::string limit = options.previousLimit.empty() ? std::to_string(DefaultPreviousLimit) : options.previousLimit;
    const std::string limitProblem = PreviousLimitProblem(limit);
    problems.Add(limitProblem);
    if (limitProblem.empty() && options.previous.size() > std::stoul(limit))
        problems.Add("--previous names " + std::to_string(options.previous.size()) +
                     " earlier releases, more than the limit of " + limit + " (--previous-limit)");
    if (!options.patchShare.empty()) {
        const std::string shareProblem = PatchShareProblem(options.patchShare);
        problems.Add(shareProblem);
        if (shareProblem.empty())
            settings.patchShare = std::stod(options.patchShare);
    }
    for (const std::string& name : options.previous) {
        std::error_code error;
        if (!fs::is_directory(PathOfUtf8(name), error))
            problems.Add(name + ": --previous names no folder of an earlier release there");
        settings.previous.push_back(PathOfUtf8(name));
    }
    return settings;
}

// "2 roads" after a file's size: its compressed form and patches.
std::string RoadsText(const ReleaseFile& file)
{
    if (file.roads.empty())
        return {};
    const bool compressed = file.roads.front().sourceSha256.empty();
    const std::size_t patches = file.roads.size() - (compressed ? 1 : 0);
    return std::string(compressed ? "; compressed " + std::to_string(file.roads.front().size) + " bytes" : "") +
           (patches ? "; " + std::to_string(patches) + (patches == 1 ? " patch" : " patches") : "");
}

// The release's update.ini against what is signed; --force never passes these.
std::vector<std::string> ReleaseIniProblems(const ReleaseOptions& options, const fs::path& folder,
                                            const std::vector<ReleaseFile>& files, const std::string& version,
                                            const std::string& product, const std::string& signingKey)
{
    UpdateIniCheck check{std::nullopt, version, product, signingKey, {}, InstalledFileNames(options.installedFiles)};
    for (const ReleaseFile& file : files) {
        check.files.push_back(file.name);
        if (SameProductName(file.name, "update.ini"))
            check.iniText = ReadFileBytes(folder / PathOfUtf8(file.name));
    }
    return UpdateIniProblems(check);
}

// Signs and checks what was signed: a key whose public part is not its
// private key's would sign files that no installed copy accepts.
std::string SignedText(const std::string& text, const P256Key& key, const std::string& keyName)
{
    const std::string rs = SignP256(key, text);
    if (!VerifyP256(key.xy, text, rs))
        throw ReleaseError(keyName + ": the public key in the file does not belong to its private key");
    return text + SignatureLine(rs);
}

int Make(const ReleaseOptions& options, std::ostream& out, std::chrono::system_clock::time_point now)
{
    Problems problems;
    const ReleaseSettings settings = CheckedSettings(options, now, problems);
    const RoadSettings roadSettings = CheckedRoadSettings(options, problems);
    const fs::path folder = PathOfUtf8(options.operands[0]);
    const fs::path output = folder / InfoFileName;
    std::error_code error;
    if (!fs::is_directory(folder, error))
        throw ReleaseError(options.operands[0] + " is not a folder");
    if (!options.force && fs::exists(output, error))
        problems.Add(Utf8OfPath(output) + " already exists; --force replaces it");
    const P256Key key = ReadKey(options.key);
    // The update.ini rules compare its PublicKey with the key's public part,
    // so a public part that is not the key's own is told first.
    SignedText("", key, options.key);
    ReleaseFolder release = ReadReleaseFolder(folder, {InfoFileName, RoadsFolder});
    for (const std::string& problem : release.problems)
        problems.Add(problem);
    if (release.files.empty())
        problems.Add(options.operands[0] + " holds no file to release");
    if (IsInFolder(PathOfUtf8(options.key), folder))
        problems.Add(options.key + ": the private key is in the release folder, which is published; keep it elsewhere");
    for (const std::string& problem :
         ReleaseIniProblems(options, folder, release.files, options.version, options.product, key.xy))
        problems.Add(problem);
    for (const ReleaseFile& file : release.files) {
        if (const std::string problem = FileNameProblem(file.name, ReleaseAddress(settings.baseURL, file.name));
            !problem.empty())
            problems.Add(file.name + ": " + problem);
    }
    problems.ThrowAny();

    const std::vector<std::string> notes =
        roadSettings.previous.empty() ? std::vector<std::string>() : MakeRoads(folder, release.files, roadSettings);
    const std::string signedFile = SignedText(ReleaseInfoText(settings, release.files), key, options.key);
    if (const std::string problem = ReadBackProblem(signedFile, settings, release.files); !problem.empty())
        throw ReleaseError("the information file would not read back as written: " + problem);
    WriteReleaseFile(output, signedFile, options.force);
    out << "wrote " << Utf8OfPath(output) << ": version " << settings.version << " of " << settings.product << ", "
        << release.files.size() << (release.files.size() == 1 ? " file" : " files");
    if (settings.expires)
        out << ", expires " << UtcTimeText(*settings.expires);
    if (settings.rollout)
        out << ", rollout " << *settings.rollout << "%";
    out << "\n";
    for (const ReleaseFile& file : release.files)
        out << "  " << ReleaseAddress(settings.baseURL, file.name) << " (" << file.size << " bytes" << RoadsText(file)
            << ")\n";
    for (const std::string& note : notes)
        out << "  " << note << "\n";
    out << "signed with PublicKey=" << PublicKeyLine(key.xy) << "\n";
    if (const std::string warning = UpdaterWarning(release.files); !warning.empty())
        out << warning << "\n";
    return 0;
}

// The key of the list that the file's signature verifies with; empty when none does.
std::string SigningKey(const std::string& keyList, const TauSignedInfo& parts)
{
    if (!parts.failure.empty())
        return {};
    for (const std::string& key : PublisherKeysXY(PublicKeyOfLine(keyList)).keys) {
        if (VerifyP256(key, parts.signedText, parts.signature))
            return key;
    }
    return {};
}

int Verify(const ReleaseOptions& options, std::ostream& out, std::chrono::system_clock::time_point now)
{
    const fs::path infoPath = PathOfUtf8(options.operands[0]);
    VerifyRequest request;
    request.infoText = ReadFileBytes(infoPath);
    request.publicKey = options.publicKey;
    request.product = options.product;
    request.installed = options.installed;
    request.now = UtcTimeOf(now);
    request.warnBefore = UtcTimeOf(now + std::chrono::days(ExpiryWarningDays));
    std::vector<std::string> folderProblems;
    std::vector<std::string> iniProblems;
    std::vector<std::string> roadProblems;
    std::size_t roads = 0;
    if (options.operands.size() == 2) {
        const fs::path folder = PathOfUtf8(options.operands[1]);
        std::vector<std::string> skip = {InfoFileName, RoadsFolder};
        if (IsInFolder(infoPath, folder))
            skip.push_back(Utf8OfPath(infoPath.filename()));
        ReleaseFolder release = ReadReleaseFolder(folder, skip);
        folderProblems = std::move(release.problems);
        // The update.ini rules of make, against what the file signs, once it verifies.
        const TauSignedInfo parts = SplitSignedInfo(request.infoText);
        const std::string signingKey = SigningKey(options.publicKey, parts);
        if (!signingKey.empty()) {
            const TauInfoFileText info(parts.signedText);
            const std::string product = options.product.empty() ? info.Value("product") : options.product;
            for (std::string& problem :
                 ReleaseIniProblems(options, folder, release.files, info.Value("version"), product, signingKey))
                iniProblems.push_back(std::move(problem));
            std::vector<fs::path> previous;
            for (const std::string& name : options.previous)
                previous.push_back(PathOfUtf8(name));
            roadProblems = RoadProblems(info, folder, previous, roads);
        }
        request.folder = std::move(release.files);
    }
    VerifyReport report = VerifyRelease(request, VerifyP256);
    for (std::string& problem : folderProblems)
        report.failures.push_back({"folder", std::move(problem)});
    for (std::string& problem : iniProblems)
        report.failures.push_back({"update.ini", std::move(problem)});
    for (std::string& problem : roadProblems)
        report.failures.push_back({"road", std::move(problem)});
    if (!report.failures.empty()) {
        out << options.operands[0] << ": an installed copy would refuse this release\n";
        for (const RuleFailure& failure : report.failures)
            out << "  " << failure.rule << ": " << failure.reason << "\n";
        return 1;
    }
    out << options.operands[0] << ": " << report.outcome << "\n";
    if (!report.warning.empty())
        out << report.warning << "\n";
    if (request.folder)
        out << options.operands[1] << ": "
            << (request.folder->size() == 1
                    ? "its file matches"
                    : "each of its " + std::to_string(request.folder->size()) + " files matches")
            << " its signed digest and size\n";
    if (roads > 0)
        out << options.operands[1] << ": " << (roads == 1 ? "its road rebuilds" : "each of its " + std::to_string(roads) + " roads rebuilds")
            << " its file (compressed forms inflated, patches applied to their sources)\n";
    return 0;
}

// The release folder's update.ini, whatever the case of its name.
fs::path UpdateIniOf(const fs::path& folder, const std::string& folderName)
{
    for (const ReleaseFile& file : ReadReleaseFolder(folder, {InfoFileName}).files) {
        if (SameProductName(file.name, "update.ini"))
            return folder / PathOfUtf8(file.name);
    }
    throw ReleaseError(folderName + " holds no update.ini to list the new key in");
}

// The keys the rotation leaves: those listed, the old one among them, the
// new one last.
std::string RotatedKeys(const std::optional<std::string>& listed, const P256Key& old, const P256Key& next)
{
    std::vector<std::string> keys;
    if (listed && !listed->empty()) {
        const TauPublisherKeys current = PublisherKeysXY(*listed);
        if (!current.failure.empty())
            throw ReleaseError("update.ini: " + current.failure);
        keys = current.keys;
    }
    if (std::find(keys.begin(), keys.end(), old.xy) == keys.end())
        keys.insert(keys.begin(), old.xy);
    if (std::find(keys.begin(), keys.end(), next.xy) == keys.end())
        keys.push_back(next.xy);
    if (keys.size() > PublisherKeyLimit)
        throw ReleaseError("update.ini would list " + std::to_string(keys.size()) + " keys, more than the " +
                           std::to_string(PublisherKeyLimit) + " an installed copy reads: drop a key no release is "
                           "signed with any more first");
    std::string text;
    for (const std::string& key : keys)
        text += (text.empty() ? "" : " ") + PublicKeyLine(key);
    return text;
}

int Rotate(const ReleaseOptions& options, std::ostream& out)
{
    const P256Key old = ReadKey(options.key);
    const P256Key next = ReadKey(options.newKey);
    SignedText("", old, options.key);
    SignedText("", next, options.newKey);
    if (old.xy == next.xy)
        throw ReleaseError(options.newKey + ": the new key is the old one");
    const fs::path folder = PathOfUtf8(options.operands[0]);
    std::error_code error;
    if (!fs::is_directory(folder, error))
        throw ReleaseError(options.operands[0] + " is not a folder");
    const fs::path ini = UpdateIniOf(folder, options.operands[0]);
    const std::string text = ReadFileBytes(ini);
    const std::string keys = RotatedKeys(UpdateIniValue(text, "PublicKey"), old, next);
    const auto rotated = WithPublicKeys(text, keys);
    if (!rotated)
        throw ReleaseError(Utf8OfPath(ini) + " is UTF-16; kdrelease rotates the keys of an ANSI update.ini only");
    // The publisher's file is replaced whole or not at all.
    const fs::path written = Utf8OfPath(ini) + ".new";
    WriteReleaseFile(written, *rotated, /*replace=*/true);
    fs::rename(written, ini, error);
    if (error)
        throw ReleaseError("cannot replace " + Utf8OfPath(ini) + ": " + error.message());
    out << "wrote " << Utf8OfPath(ini) << ": PublicKey=" << keys << "\n"
        << "make this release with --key " << options.key << "; installed copies that take it accept releases "
        << "signed with " << options.newKey << "; a later release signed with " << options.newKey
        << " may drop the old key from its update.ini\n";
    return 0;
}

}  // namespace

int RunRelease(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
               std::chrono::system_clock::time_point now)
{
    try {
        const ReleaseOptions options = ParseReleaseOptions(arguments);
        switch (options.verb) {
        case ReleaseVerb::Keygen:
            return Keygen(options, out);
        case ReleaseVerb::Make:
            return Make(options, out, now);
        case ReleaseVerb::Verify:
            return Verify(options, out, now);
        case ReleaseVerb::Rotate:
            return Rotate(options, out);
        case ReleaseVerb::Help:
            break;
        }
        out << ReleaseUsage();
        return arguments.empty() ? 2 : 0;
    } catch (const UsageError& error) {
        err << "kdrelease: " << error.what() << "\n" << ReleaseUsage();
        return 2;
    } catch (const std::exception& error) {
        std::istringstream lines(error.what());
        for (std::string line; std::getline(lines, line);)
            err << "kdrelease: " << line << "\n";
        return 1;
    }
}
