#include "ProfileSections.h"

#include "core/StrCon.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string_view Unquoted(std::string_view value)
{
    if (value.size() > 1 && (value.front() == '"' || value.front() == '\'') && value.front() == value.back())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

std::optional<std::string> ProfileSection::Value(std::string_view key) const
{
    for (const auto& [name, value] : values)
        if (SameText(name, key))
            return value;
    return std::nullopt;
}

ProfileSections ProfileSections::Parse(std::string_view text)
{
    ProfileSections parsed;
    // Keys above the first header belong to no section the services name.
    ProfileSection* current = nullptr;
    while (!text.empty()) {
        // A lone CR ends a line too, as the services read it.
        const std::size_t end = text.find_first_of("\r\n");
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty())
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.rfind(']');
            if (close != std::string_view::npos) {
                parsed.sections_.push_back({std::string(Trimmed(line.substr(1, close - 1))), {}});
                current = &parsed.sections_.back();
                continue;
            }
        }
        if (!current)
            continue;
        const std::size_t equals = line.find('=');
        const std::string_view name = Trimmed(line.substr(0, equals));
        // A name without "=" holds no value, and hides later lines of its name.
        std::optional<std::string> value;
        if (equals != std::string_view::npos)
            value = std::string(Unquoted(Trimmed(line.substr(equals + 1))));
        current->values.emplace_back(std::string(name), std::move(value));
    }
    return parsed;
}

const ProfileSection* ProfileSections::First(std::string_view name) const
{
    for (const ProfileSection& section : sections_)
        if (SameText(section.name, name))
            return &section;
    return nullptr;
}
