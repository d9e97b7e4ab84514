#include "startup/SectionValues.h"

#include "core/StrCon.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <cwchar>

bool EraseKey(const ProfileFile& ini, const std::string& section, const char* key)
{
    return WritePrivateProfileStringW(WideFromUtf8(section).c_str(), WideFromUtf8(key).c_str(), nullptr,
                                      WideFromUtf8(ini.path()).c_str()) != FALSE;
}

TSectionValues ValuesOf(const std::string& index, const std::string& name, const std::vector<std::string>& keys)
{
    const std::wstring section = WideFromUtf8(name), path = WideFromUtf8(index);
    std::vector<wchar_t> buffer(4096);
    for (;;) {
        const DWORD length = GetPrivateProfileSectionW(section.c_str(), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()), path.c_str());
        if (length + 2 < buffer.size() || buffer.size() >= kMaxIndexSize / sizeof(wchar_t))
            break;
        buffer.resize(buffer.size() * 4);
    }
    TSectionValues values;
    for (const std::string& key : keys)
        values.emplace_back(key, std::nullopt);
    for (const wchar_t* line = buffer.data(); *line; line += std::wcslen(line) + 1) {
        const std::string text = Utf8FromWide(line);
        const std::size_t equals = text.find('=');
        const std::size_t end = equals == std::string::npos || equals == 0
                                    ? std::string::npos
                                    : text.find_last_not_of(" \t", equals - 1);
        if (end == std::string::npos)
            continue;
        // The first line of a name counts, as for the profile services.
        for (auto& value : values)
            if (!value.second && SameText(value.first, std::string_view(text).substr(0, end + 1)))
                value.second = text.substr(equals + 1);
    }
    return values;
}

bool WriteRawKey(const ProfileFile& ini, const std::string& section, const std::string& key, const std::string& value)
{
    return WritePrivateProfileStringW(WideFromUtf8(section).c_str(), WideFromUtf8(key).c_str(),
                                      WideFromUtf8(value).c_str(), WideFromUtf8(ini.path()).c_str()) != FALSE;
}

std::string WasWord(const TSectionValues& before)
{
    std::string word = kWasHead;
    for (const auto& [key, value] : before) {
        if (word.size() > std::string_view(kWasHead).size())
            word += ',';
        word += key;
        if (value)
            word += '=' + HexOfBytes(*value);
    }
    return word;
}

// The index is the user's to write: a key that is not a plain name, the
// journal's own key, or a value that would break its line is refused.
std::optional<TSectionValues> ParseWas(std::string_view list, std::string_view journalKey)
{
    TSectionValues values;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string_view item = list.substr(at, comma - at);
        at = comma + 1;
        const std::size_t equals = item.find('=');
        const std::string key(item.substr(0, equals));
        const bool plain = !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        });
        if (!plain || SameText(key, journalKey))
            return std::nullopt;
        if (equals == std::string_view::npos) {
            values.emplace_back(key, std::nullopt);
            continue;
        }
        std::optional<std::string> value = BytesOfHex(item.substr(equals + 1));
        if (!value || value->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            return std::nullopt;
        values.emplace_back(key, std::move(value));
    }
    return values;
}
