#include "ReleaseInfo.h"

#include "core/StrCon.h"
#include "core/Utf8.h"
#include "kdrelease/KeyCoding.h"
#include "update/auDownloadNames.h"
#include "update/auInfoFile.h"
#include "update/auSignedInfo.h"
#include "update/auURL.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::string_view LineEnd = "\r\n";

bool IsKeyCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The first "#name=" in a text: the engine would take it for a key of its
// own wherever it stands.
std::string KeyInside(std::string_view text)
{
    for (std::size_t at = text.find('#'); at != std::string_view::npos; at = text.find('#', at + 1)) {
        std::size_t end = at + 1;
        while (end < text.size() && IsKeyCharacter(text[end]))
            ++end;
        if (end > at + 1 && end < text.size() && text[end] == '=')
            return std::string(text.substr(at, end + 1 - at));
    }
    return {};
}

bool HasControlCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

// A value that is one line of the file and holds no key of its own.
std::string LineValueProblem(std::string_view what, std::string_view value)
{
    if (HasControlCharacter(value))
        return std::string(what) + " holds a control character (a line break, a tab)";
    if (const std::string key = KeyInside(value); !key.empty())
        return std::string(what) + " holds \"" + key + "\", which the engine would read as a key of its own";
    return {};
}

std::string Decimal(std::uint64_t value)
{
    return std::to_string(value);
}

std::string Line(std::string_view key, std::string_view value)
{
    return "#" + std::string(key) + "=" + std::string(value) + std::string(LineEnd);
}

// A whole number of decimal digits from `low` to `high`; nothing otherwise.
std::optional<int> WholeNumber(std::string_view text, int low, int high)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int value = std::stoi(std::string(text));
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

}  // namespace

std::string VersionProblem(std::string_view version)
{
    if (IsPlainVersion(version))
        return {};
    return "the version \"" + std::string(version) +
           "\" is not one to four decimal numbers (2, 2.0, 2.0.1.7): the engine refuses any other signed version";
}

std::string ProductProblem(std::string_view product)
{
    if (product.empty())
        return "the product name is empty";
    return LineValueProblem("the product name", product);
}

std::string BaseURLProblem(std::string_view url, bool allowHttp)
{
    if (!WebPageAddress(url))
        return "the base URL \"" + std::string(url) + "\" is no http or https address of a host";
    if (url.find_first_of("?#") != std::string_view::npos)
        return "the base URL has a query or fragment (\"?\", \"#\"); the file names follow it";
    if (!IsHttpsAddress(url) && !allowHttp)
        return "the base URL is not https; plain http is for test servers only (--allow-http)";
    return {};
}

std::string ReleaseBase(std::string_view url)
{
    return url.ends_with('/') ? std::string(url) : std::string(url) + "/";
}

std::string MoreInfoProblem(std::string_view url)
{
    if (!WebPageAddress(url))
        return "the more-info address \"" + std::string(url) + "\" is no http or https address of a host";
    return LineValueProblem("the more-info address", url);
}

std::string MessageProblem(std::string_view message)
{
    if (!IsValidUtf8(message))
        return "the message is not UTF-8 text";
    if (const std::size_t brace = message.find('}'); brace != std::string_view::npos)
        return "the message holds \"}\", which ends the message block (write &#125; in the markup)";
    if (const std::string key = KeyInside(message); !key.empty())
        return "the message holds \"" + key + "\", which the engine would read as a key of its own";
    return {};
}

std::string FileNameProblem(std::string_view name, std::string_view address)
{
    if (!IsValidUtf8(name))
        return "its name is not UTF-8";
    const auto pending = PendingNameOfURL(address);
    if (!pending)
        return "the engine refuses this name (a reserved character or device name, a trailing dot or blank, "
               "or a pending .uTMP name)";
    const std::string stored = pending->substr(0, pending->size() - PendingSuffix.size());
    if (stored != name)
        return "the engine would store it as \"" + stored + "\" (from its address " + std::string(address) + ")";
    return {};
}

std::string RolloutProblem(std::string_view percent)
{
    if (WholeNumber(percent, 0, 100))
        return {};
    return "the rollout \"" + std::string(percent) + "\" is not a whole percentage from 0 to 100";
}

std::string ExpiryDaysProblem(std::string_view days)
{
    if (WholeNumber(days, 1, 36500))
        return {};
    return "the expiry \"" + std::string(days) + "\" is not a whole number of days from 1 to 36500";
}

std::string PercentEncoded(std::string_view name)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsKeyCharacter(c) || c == '-' || c == '.' || c == '~') {
            encoded += c;
            continue;
        }
        encoded += '%';
        encoded += digits[byte >> 4];
        encoded += digits[byte & 0xF];
    }
    return encoded;
}

std::string ReleaseAddress(std::string_view base, std::string_view name)
{
    return std::string(base) + PercentEncoded(name);
}

std::string RoadAddress(std::string_view base, std::string_view roadName)
{
    return std::string(base) + RoadsFolder + "/" + PercentEncoded(roadName);
}

std::string PreviousLimitProblem(std::string_view limit)
{
    const std::string text(limit);
    if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoi(text) < 1 || std::stoul(text) > PatchLimit)
        return "the limit of earlier releases \"" + text + "\" is not a whole number from 1 to " +
               Decimal(PatchLimit) + " (the patches an installed copy reads per file)";
    return {};
}

std::string PatchShareProblem(std::string_view share)
{
    const std::string text(share);
    char* end = nullptr;
    const double value = text.empty() ? 0 : std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !(value > 0 && value <= 1))
        return "the patch share \"" + text + "\" is not a number above 0 and at most 1 (0.9: a patch is published "
               "when it is at most 90% of the compressed file)";
    return {};
}

std::string FileKeyNumber(std::size_t index)
{
    if (index == 0)
        return {};
    return index == 1 ? "0" : Decimal(index + 1);
}

std::string ReleaseInfoText(const ReleaseSettings& settings, const std::vector<ReleaseFile>& files)
{
    std::string text = Line("version", settings.version) + Line("product", settings.product);
    if (settings.expires)
        text += Line("expires", UtcTimeText(*settings.expires));
    if (settings.rollout)
        text += Line("rollout", Decimal(static_cast<std::uint64_t>(*settings.rollout)));
    if (!settings.moreInfoURL.empty())
        text += Line("moreinfourl", settings.moreInfoURL);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string number = FileKeyNumber(i);
        const std::string separator = number.empty() ? "" : "_";
        text += Line("url" + number, ReleaseAddress(settings.baseURL, files[i].name));
        text += Line("sha256" + separator + number, HexOfBytes(files[i].sha256));
        text += Line("size" + separator + number, Decimal(files[i].size));
        std::size_t patch = 0;
        for (const ReleaseRoad& road : files[i].roads) {
            const std::string address = RoadAddress(settings.baseURL, road.name);
            if (road.sourceSha256.empty()) {
                text += Line("zurl" + separator + number, address);
                text += Line("zsha256" + separator + number, HexOfBytes(road.sha256));
                text += Line("zsize" + separator + number, Decimal(road.size));
                continue;
            }
            text += Line("patch" + separator + number + "_" + Decimal(++patch),
                         HexOfBytes(road.sourceSha256) + " " + HexOfBytes(road.sha256) + " " + Decimal(road.size) +
                             " " + address);
        }
    }
    if (!settings.message.empty())
        text += "#message={" + settings.message + "}" + std::string(LineEnd);
    return text;
}

std::string SignatureLine(std::string_view rs)
{
    return Line("signature", EncodeBase64(EcdsaSignatureDer(rs)));
}

std::string ReadBackProblem(std::string_view signedFile, const ReleaseSettings& settings,
                            const std::vector<ReleaseFile>& files)
{
    const TauSignedInfo parts = SplitSignedInfo(signedFile);
    if (!parts.failure.empty())
        return parts.failure;
    const TauInfoFileText info(parts.signedText);
    std::vector<std::pair<std::string, std::string>> expected;
    for (const ReleaseFile& file : files)
        expected.emplace_back(ReleaseAddress(settings.baseURL, file.name), file.sha256);
    const TauReleaseDigests digests = ReleaseDigests(info);
    if (!digests.failure.empty() || digests.files != expected)
        return "the engine would read another list of files or digests";
    const TauReleaseRoads roads = ReleaseRoads(info);
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::vector<std::string> written, read;
        for (const ReleaseRoad& road : files[i].roads)
            written.push_back(road.sourceSha256 + road.sha256 + Decimal(road.size) + RoadAddress(settings.baseURL, road.name));
        const TauFileRoads& file = roads.files[i];
        if (file.compressed)
            read.push_back(file.compressed->sha256 + Decimal(file.compressed->size) + file.compressed->url);
        for (const TauPatch& patch : file.patches)
            read.push_back(patch.sourceSha256 + patch.sha256 + Decimal(patch.size) + patch.url);
        if (read != written)
            return "the engine would read other compressed forms or patches of " + files[i].name;
    }
    if (info.Value("version") != settings.version || info.Value("product") != settings.product ||
        info.Value("moreinfourl") != settings.moreInfoURL || info.Block("message") != settings.message ||
        info.Method() != umSelfUpgrade)
        return "the engine would read another version, product, more-info address, message or method";
    const std::string expires = settings.expires ? UtcTimeText(*settings.expires) : std::string();
    if (info.Value("expires") != expires || RolloutPercent(info) != settings.rollout.value_or(100))
        return "the engine would read another expiry or rollout";
    return {};
}

std::string UtcTimeText(const TauUtcTime& time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time.date.year, time.date.month, time.date.day,
                  time.hour, time.minute, time.second);
    return text;
}

TauUtcTime UtcTimeOf(std::chrono::system_clock::time_point moment)
{
    using namespace std::chrono;
    const auto second = floor<seconds>(moment);
    const auto day = floor<days>(second);
    const year_month_day date(day);
    const hh_mm_ss time(second - day);
    return {{static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
             static_cast<int>(static_cast<unsigned>(date.day()))},
            static_cast<int>(time.hours().count()),
            static_cast<int>(time.minutes().count()),
            static_cast<int>(time.seconds().count())};
}

std::string UpdaterWarning(const std::vector<ReleaseFile>& files)
{
    std::string programs;
    for (const ReleaseFile& file : files) {
        const std::string name = UpperText(file.name);
        if (name == "FRESHET.EXE")
            return {};
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".EXE") == 0)
            programs += (programs.empty() ? "" : ", ") + file.name;
    }
    if (programs.empty())
        return {};
    return "warning: the release holds program files (" + programs +
           ") but not freshet.exe: installed copies keep the updater they have and install each program under its "
           "own name; a program new to the product is never taken for a renamed updater";
}
