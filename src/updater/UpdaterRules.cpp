#include "UpdaterRules.h"

#include <limits>

TUpdaterMode UpdaterModeOf(const std::vector<std::string>& arguments)
{
    if (arguments.size() != 2)
        return TUpdaterMode::umLauncher;
    return arguments[0] == "/silent" ? TUpdaterMode::umSilent : TUpdaterMode::umVisible;
}

std::uintptr_t ParseWindowHandle(std::string_view text)
{
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty())
        return 0;
    constexpr std::uintptr_t largest = std::numeric_limits<std::uintptr_t>::max();
    // A negative value must fit the signed range once extended.
    const std::uintptr_t limit = negative ? largest / 2 + 1 : largest;
    std::uintptr_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        const auto digit = static_cast<std::uintptr_t>(c - '0');
        if (value > (limit - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return negative ? std::uintptr_t{0} - value : value;
}

std::string DownloadStatusText(std::string_view fileURL, std::int64_t fileSize, std::int64_t bytesRead)
{
    const auto slash = fileURL.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? std::string_view() : fileURL.substr(slash + 1);
    return "Status: Downloading \"" + std::string(name) + "\"... " + std::to_string(bytesRead / 1024) + " kb/ " +
           std::to_string(fileSize / 1024) + " kb";
}
