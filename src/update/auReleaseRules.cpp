#include "auReleaseRules.h"

#include "update/auURL.h"

#include <algorithm>

namespace {

// The number of `digits` decimal digits at `at`, or -1.
int Digits(std::string_view text, std::size_t at, std::size_t digits)
{
    int value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

bool SameProductName(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<TauUtcTime> ParseUtcTime(std::string_view text)
{
    constexpr std::string_view shape = "0000-00-00T00:00:00Z";
    if (text.size() != shape.size())
        return std::nullopt;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] != '0' && text[i] != shape[i])
            return std::nullopt;
    const TauUtcTime time{{Digits(text, 0, 4), Digits(text, 5, 2), Digits(text, 8, 2)},
                          Digits(text, 11, 2), Digits(text, 14, 2), Digits(text, 17, 2)};
    if (!IsCalendarDate(time.date) || time.hour < 0 || time.hour > 23 || time.minute < 0 || time.minute > 59 ||
        time.second < 0 || time.second > 59)
        return std::nullopt;
    return time;
}

std::string SignedReleaseFailure(const TauInfoFileText& info, const TauReleaseExpectation& here)
{
    std::string failure = ProductFailure(info, here.product);
    if (failure.empty())
        failure = ExpiryFailure(info, here.now);
    if (failure.empty() && here.numberedVersion)
        failure = VersionFormFailure(info);
    return failure;
}

std::string ProductFailure(const TauInfoFileText& info, const std::string& product)
{
    if (product.empty())
        return {};
    if (!info.Has("product"))
        return "the information file names no product (#product=); this is " + product;
    const std::string named = info.Value("product");
    if (!SameProductName(named, product))
        return "the information file is for the product \"" + named + "\", not " + product;
    return {};
}

std::string ExpiryFailure(const TauInfoFileText& info, const TauUtcTime& now)
{
    if (!info.Has("expires"))
        return {};
    const std::string text = info.Value("expires");
    const auto expires = ParseUtcTime(text);
    if (!expires)
        return "the expiry of the information file is not a time YYYY-MM-DDTHH:MM:SSZ: \"" + text + "\"";
    if (*expires < now)
        return "the information file expired at " + text;
    return {};
}

std::string VersionFormFailure(const TauInfoFileText& info)
{
    const std::string version = info.Value("version");
    if (IsPlainVersion(version))
        return {};
    return "the version of the information file is not up to four decimal numbers: \"" + version + "\"";
}

std::optional<int> RolloutPercent(const TauInfoFileText& info)
{
    if (!info.Has("rollout"))
        return 100;
    const std::string text = info.Value("rollout");
    if (text.empty() || text.size() > 3)
        return std::nullopt;
    const int percent = Digits(text, 0, text.size());
    if (percent < 0 || percent > 100)
        return std::nullopt;
    return percent;
}

std::string TransferSource(std::string_view requested, const std::vector<std::string>& redirects,
                           std::string_view final)
{
    if (!IsHttpsAddress(requested))
        return std::string(requested);
    const auto plain = std::find_if_not(redirects.begin(), redirects.end(),
                                        [](const std::string& hop) { return IsHttpsAddress(hop); });
    return plain != redirects.end() ? *plain : std::string(final);
}

std::string UnverifiedReleaseFailure(std::string_view infoSource, const std::vector<std::string>& files)
{
    constexpr std::string_view why = " and update.ini holds no publisher key (PublicKey)";
    if (!IsHttpsAddress(infoSource))
        return "the information file did not come over https (" + std::string(infoSource) + ")" + std::string(why);
    const auto plain = std::find_if_not(files.begin(), files.end(), [](const std::string& file) {
        return IsHttpsAddress(file);
    });
    if (plain != files.end())
        return "the release file " + *plain + " is not an https address" + std::string(why);
    return {};
}
