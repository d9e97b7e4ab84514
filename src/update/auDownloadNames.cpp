#include "auDownloadNames.h"

#include "http/HttpRequest.h"

#include <cmath>

namespace {

constexpr std::int64_t TicksPerSecond = 10000000;

}  // namespace

std::optional<std::string> PendingNameOfURL(std::string_view url)
{
    const std::size_t cut = url.find_last_of("/\\:");
    const std::string name = PercentDecode(cut == std::string_view::npos ? url : url.substr(cut + 1));
    if (!IsPlainFileName(name))
        return std::nullopt;
    return name + std::string(PendingSuffix);
}

std::optional<std::uint64_t> LocalFileTimeOf(OleDate date)
{
    static const std::int64_t oleEpoch = *SecondsFromParts(1899, 12, 30);
    static const std::int64_t fileEpoch = *SecondsFromParts(1601, 1, 1);
    static const std::int64_t first = *SecondsFromParts(1980, 1, 1);
    static const std::int64_t last = *SecondsFromParts(2107, 12, 31, 23, 59, 58);
    if (date == 0 || !std::isfinite(date))
        return std::nullopt;
    const double seconds = std::floor(date * 86400.0 + 0.5) + static_cast<double>(oleEpoch);
    if (seconds < static_cast<double>(first) || seconds > static_cast<double>(last))
        return std::nullopt;
    std::int64_t whole = static_cast<std::int64_t>(seconds);
    whole -= whole % 2;
    return static_cast<std::uint64_t>(whole - fileEpoch) * TicksPerSecond;
}
