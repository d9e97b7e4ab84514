#include "auDownloadNames.h"

#include "core/Utf8.h"
#include "update/auHTTPRequest.h"

#include <array>
#include <cmath>

namespace {

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    }
    return true;
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && EqualsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

bool IsRejectedCharacter(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 32 || std::string_view("<>\"|?*/\\:").find(c) != std::string_view::npos;
}

// The system opens a device for these names whatever extension follows
// them; the numbered ones also with a superscript digit.
bool IsDeviceName(std::string_view name)
{
    const std::string_view base = name.substr(0, name.find('.'));
    static constexpr std::array<std::string_view, 4> plain = {"CON", "PRN", "AUX", "NUL"};
    for (std::string_view device : plain) {
        if (EqualsIgnoringCase(base, device))
            return true;
    }
    const std::string_view stem = base.substr(0, 3);
    if (base.size() < 4 || !(EqualsIgnoringCase(stem, "COM") || EqualsIgnoringCase(stem, "LPT")))
        return false;
    const std::string_view number = base.substr(3);
    if (number.size() == 1)
        return number[0] >= '1' && number[0] <= '9';
    return number == "\u00B9" || number == "\u00B2" || number == "\u00B3";
}

bool IsPlainFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || !IsValidUtf8(name))
        return false;
    if (name.back() == '.' || name.back() == ' ')
        return false;
    for (char c : name) {
        if (IsRejectedCharacter(c))
            return false;
    }
    return !IsDeviceName(name) && !EndsWithIgnoringCase(name, PendingSuffix);
}

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
