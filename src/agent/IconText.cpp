#include "IconText.h"

#include "agent/IniDocument.h"

namespace {

bool IsTrimmed(char c)
{
    return static_cast<unsigned char>(c) <= static_cast<unsigned char>('"');
}

} // namespace

std::string TrimIconText(std::string_view iconText)
{
    while (!iconText.empty() && IsTrimmed(iconText.front()))
        iconText.remove_prefix(1);
    while (!iconText.empty() && IsTrimmed(iconText.back()))
        iconText.remove_suffix(1);
    return std::string(iconText);
}

IconSource ParseIconText(std::string_view iconText)
{
    IconSource source;
    const std::string trimmed = TrimIconText(iconText);
    source.file = TrimIconText(std::string_view(trimmed).substr(0, trimmed.find(',')));
    const std::size_t lastComma = iconText.rfind(',');
    std::int32_t index = 0;
    if (lastComma != std::string_view::npos && ParseIniInteger(iconText.substr(lastComma + 1), index))
        source.index = index;
    return source;
}

std::string WithoutExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    const std::size_t separator = name.find_last_of("\\:");
    if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator))
        return std::string(name);
    return std::string(name.substr(0, dot));
}
