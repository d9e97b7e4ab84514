#include "ReleaseRoads.h"

#include "core/StrCon.h"
#include "delta/DeltaDecoder.h"
#include "delta/DeltaEncoder.h"
#include "kdrelease/ReleaseCrypto.h"
#include "kdrelease/ReleaseFiles.h"
#include "update/auSignedInfo.h"

#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

// Level 19 with long matching: what every installed copy may fetch.
constexpr int CompressedLevel = 19;
// Level 22 with a window over both files: worth its time, made once.
constexpr int PatchLevel = 22;

std::span<const std::uint8_t> Bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Text(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

std::string DigestOf(std::string_view bytes)
{
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Finish();
}

// The files of the earlier releases by digest, and by name in each.
struct EarlierFile {
    std::string name;
    std::string sha256;
    fs::path path;
};
std::vector<std::vector<EarlierFile>> EarlierReleases(const std::vector<fs::path>& previous)
{
    std::vector<std::vector<EarlierFile>> releases;
    for (const fs::path& folder : previous) {
        std::vector<EarlierFile>& release = releases.emplace_back();
        for (const ReleaseFile& file : ReadReleaseFolder(folder, {InfoFileName, RoadsFolder}).files)
            release.push_back({file.name, file.sha256, folder / PathOfUtf8(file.name)});
    }
    return releases;
}

ReleaseRoad WriteRoad(const fs::path& roads, const std::string& name, const std::string& bytes,
                      const std::string& sourceSha256, bool replace)
{
    WriteReleaseFile(roads / PathOfUtf8(name), bytes, replace);
    return {name, bytes.size(), DigestOf(bytes), sourceSha256};
}

}  // namespace

std::vector<std::string> MakeRoads(const fs::path& folder, std::vector<ReleaseFile>& files,
                                   const RoadSettings& settings)
{
    const auto earlier = EarlierReleases(settings.previous);
    const fs::path roads = folder / RoadsFolder;
    std::error_code error;
    fs::create_directory(roads, error);
    if (error)
        throw ReleaseError("cannot make the folder " + Utf8OfPath(roads) + ": " + error.message());
    std::vector<std::string> notes;
    for (ReleaseFile& file : files) {
        const std::string bytes = ReadFileBytes(folder / PathOfUtf8(file.name));
        file.roads.clear();
        std::uint64_t cheapest = file.size;
        if (const std::string compressed = Text(EncodeCompressed(Bytes(bytes), CompressedLevel));
            compressed.size() < file.size) {
            cheapest = compressed.size();
            file.roads.push_back(WriteRoad(roads, file.name + ".zst", compressed, {}, settings.replace));
        }
        std::set<std::string> sources = {file.sha256};
        for (const auto& release : earlier) {
            for (const EarlierFile& old : release) {
                if (LowerAscii(old.name) != LowerAscii(file.name) || !sources.insert(old.sha256).second)
                    continue;
                const std::string patch = Text(EncodePatch(Bytes(ReadFileBytes(old.path)), Bytes(bytes), PatchLevel));
                if (static_cast<double>(patch.size()) > settings.patchShare * static_cast<double>(cheapest)) {
                    notes.push_back("no patch of " + file.name + " from " + Utf8OfPath(old.path) + ": its " +
                                    std::to_string(patch.size()) + " bytes are more than the share of the " +
                                    std::to_string(cheapest) + " of the cheapest other road");
                    continue;
                }
                const std::string name = file.name + "." + HexOfBytes(old.sha256.substr(0, 8)) + ".patch";
                file.roads.push_back(WriteRoad(roads, name, patch, old.sha256, settings.replace));
            }
        }
    }
    return notes;
}

namespace {

// The road's file in the folder of roads, found by its address.
struct RoadFiles {
    std::map<std::string, fs::path> byAddress;  // the part after the release's base

    explicit RoadFiles(const fs::path& roads)
    {
        std::error_code error;
        if (!fs::is_directory(roads, error))
            return;
        for (const ReleaseFile& file : ReadReleaseFolder(roads, {}).files)
            byAddress[std::string(RoadsFolder) + "/" + PercentEncoded(file.name)] = roads / PathOfUtf8(file.name);
    }
    const fs::path* Find(const std::string& fileURL, const std::string& roadURL) const
    {
        const std::string base = fileURL.substr(0, fileURL.rfind('/') + 1);
        if (!roadURL.starts_with(base))
            return nullptr;
        const auto found = byAddress.find(roadURL.substr(base.size()));
        return found == byAddress.end() ? nullptr : &found->second;
    }
};

// Why the road does not rebuild the file; empty when it does.
std::string RebuildProblem(TDeltaDecoder decoder, const std::string& road, const std::string& sha256,
                           std::uint64_t size)
{
    std::string output;
    std::string problem = decoder.Feed(Bytes(road),
                                       [&](std::span<const std::uint8_t> piece) {
                                           output.append(reinterpret_cast<const char*>(piece.data()), piece.size());
                                       });
    if (problem.empty())
        problem = decoder.Finish();
    if (problem.empty() && (output.size() != size || DigestOf(output) != sha256))
        problem = "it makes " + std::to_string(output.size()) + " bytes that are not the file's signed digest and size";
    return problem;
}

}  // namespace

std::vector<std::string> RoadProblems(const TauInfoFileText& info, const fs::path& folder,
                                      const std::vector<fs::path>& previous, std::size_t& checked)
{
    std::vector<std::string> problems;
    const TauReleaseRoads roads = ReleaseRoads(info);
    for (const std::string& note : roads.notes)
        problems.push_back(note);
    const TauReleaseDigests digests = ReleaseDigests(info);
    const TauReleaseSizes sizes = ReleaseSizes(info);
    if (!digests.failure.empty() || !sizes.failure.empty())
        return problems;
    std::map<std::string, fs::path> sources;
    for (const auto& release : EarlierReleases(previous)) {
        for (const EarlierFile& file : release)
            sources.emplace(file.sha256, file.path);
    }
    const RoadFiles files(folder / RoadsFolder);
    for (std::size_t i = 0; i < roads.files.size(); ++i) {
        const TauFileRoads& file = roads.files[i];
        const std::string& sha256 = digests.files[i].second;
        const std::uint64_t size = sizes.files[i].second.value_or(0);
        const auto check = [&](const std::string& what, const std::string& url, const std::string& roadSha256,
                               std::uint64_t roadSize, const std::string* source) {
            const fs::path* path = files.Find(file.url, url);
            std::string problem;
            std::string bytes;
            if (!path)
                problem = url + " is no file of " + Utf8OfPath(folder / RoadsFolder);
            else if ((bytes = ReadFileBytes(*path)).size() != roadSize || DigestOf(bytes) != roadSha256)
                problem = Utf8OfPath(*path) + " is not the signed " + std::to_string(roadSize) + " bytes of its digest";
            else if (source)
                problem = RebuildProblem(TDeltaDecoder::Patch(Bytes(*source), size),
                                         bytes, sha256, size);
            else
                problem = RebuildProblem(TDeltaDecoder::Inflate(size), bytes, sha256, size);
            if (problem.empty())
                ++checked;
            else
                problems.push_back(what + " of " + file.url + ": " + problem);
        };
        if (file.compressed)
            check("the compressed form", file.compressed->url, file.compressed->sha256, file.compressed->size, nullptr);
        for (std::size_t j = 0; j < file.patches.size(); ++j) {
            const TauPatch& patch = file.patches[j];
            const std::string what = "patch " + std::to_string(j + 1);
            const auto source = sources.find(patch.sourceSha256);
            if (source == sources.end()) {
                problems.push_back(what + " of " + file.url + ": its source (SHA-256 " + HexOfBytes(patch.sourceSha256) +
                                   ") is in none of the --previous folders");
                continue;
            }
            const std::string bytes = ReadFileBytes(source->second);
            check(what, patch.url, patch.sha256, patch.size, &bytes);
        }
    }
    return problems;
}
