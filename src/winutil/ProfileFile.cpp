#include "ProfileFile.h"

#include "core/StrCon.h"

#include <charconv>
#include <cstring>

namespace {

// Profile keys are looked up by name; a value longer than this is not ours.
constexpr DWORD MaxValueLength = 65536;

bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Protect(std::string_view value)
{
    if (value.empty())
        return {};
    const char first = value.front(), last = value.back();
    const bool quoted = value.size() > 1 && (first == '"' || first == '\'') && first == last;
    if (IsBlank(first) || IsBlank(last) || quoted)
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

} // namespace

bool ParseInteger(std::string_view text, long& value)
{
    const std::string trimmed = TrimUpTo(text, ' ');
    const char* begin = trimmed.data();
    const char* end = begin + trimmed.size();
    if (begin != end && *begin == '+')
        ++begin;
    long parsed = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, parsed);
    if (ec != std::errc() || ptr != end || begin == end)
        return false;
    value = parsed;
    return true;
}

std::vector<std::string> ProfileFile::SectionNames() const
{
    std::vector<char> buffer(4096);
    for (;;) {
        const DWORD length = GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()),
                                                            path_.c_str());
        if (length + 2 < buffer.size())
            break;
        buffer.resize(buffer.size() * 2);
    }
    std::vector<std::string> names;
    for (const char* p = buffer.data(); *p; p += strlen(p) + 1)
        names.emplace_back(p);
    return names;
}

bool ProfileFile::HasKey(std::string_view section, std::string_view key) const
{
    // A default that no stored value can equal tells "absent" from "empty".
    const char* const absent = "\x01\x02kd-absent\x03";
    return ReadString(section, key, absent) != absent;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const
{
    const std::string s(section), k(key), f(fallback);
    std::vector<char> buffer(1024);
    for (;;) {
        const DWORD length = GetPrivateProfileStringA(s.c_str(), k.c_str(), f.c_str(), buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), path_.c_str());
        if (length + 1 < buffer.size() || buffer.size() >= MaxValueLength)
            return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 4);
    }
}

long ProfileFile::ReadInteger(std::string_view section, std::string_view key, long fallback) const
{
    long value = fallback;
    return ParseInteger(ReadString(section, key), value) ? value : fallback;
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) const
{
    return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(), Protect(value).c_str(),
                                      path_.c_str()) != FALSE;
}

bool ProfileFile::WriteInteger(std::string_view section, std::string_view key, long value) const
{
    return WriteString(section, key, std::to_string(value));
}

bool ProfileFile::EraseSection(std::string_view section) const
{
    return WritePrivateProfileStringA(std::string(section).c_str(), nullptr, nullptr, path_.c_str()) != FALSE;
}

bool ProfileFile::HasSection(std::string_view section) const
{
    char probe[4] = {};
    return GetPrivateProfileSectionA(std::string(section).c_str(), probe, sizeof probe, path_.c_str()) > 0;
}

bool ProfileFile::WriteSection(std::string_view section,
                               const std::vector<std::pair<std::string, std::string>>& values) const
{
    std::string lines;
    for (const auto& [key, value] : values)
        lines += key + "=" + Protect(value) + '\0';
    lines += '\0';
    return WritePrivateProfileSectionA(std::string(section).c_str(), lines.c_str(), path_.c_str()) != FALSE;
}
