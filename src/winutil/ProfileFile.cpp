#include "ProfileFile.h"

#include "core/StrCon.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <charconv>
#include <cwchar>
#include <optional>

namespace {

// Profile keys are looked up by name; a value longer than this is not ours.
// The buffer holds the terminating zero, and a value that fills the rest may
// have been cut.
constexpr DWORD MaxValueLength = ProfileFile::LongestWholeValue + 2;
// A profile file larger than this is not converted.
constexpr std::size_t MaxProfileFileSize = 16 * 1024 * 1024;
constexpr char Utf16Mark[] = "\xFF\xFE";

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

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The text in the ANSI code page, when it holds every character exactly.
std::optional<std::string> AnsiOf(std::string_view text)
{
    if (IsAscii(text))
        return std::string(text);
    const std::wstring wide = WideFromUtf8(text);
    const int length = static_cast<int>(wide.size());
    BOOL lossy = FALSE;
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy)
        return std::nullopt;
    std::string ansi(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, ansi.data(), size, nullptr, &lossy);
    if (lossy || WideFromAnsi(ansi) != wide)
        return std::nullopt;
    return ansi;
}

std::string Utf16Bytes(std::string_view text)
{
    const std::wstring wide = WideFromUtf8(text);
    std::string bytes(Utf16Mark, 2);
    for (const wchar_t unit : wide) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>((unit >> 8) & 0xFF);
    }
    return bytes;
}

// A file written whole and flushed, hidden until it takes its place.
bool WriteHiddenFile(const std::wstring& path, std::string_view bytes)
{
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
                                      nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file.get());
}

} // namespace

ProfileEncoding ProfileEncodingOf(std::string_view bytes)
{
    return bytes.substr(0, 2) == std::string_view(Utf16Mark, 2) ? ProfileEncoding::Utf16 : ProfileEncoding::Ansi;
}

std::string ProfileTextFromBytes(std::string_view bytes)
{
    if (ProfileEncodingOf(bytes) == ProfileEncoding::Ansi)
        return Utf8FromWide(WideFromAnsi(bytes));
    std::wstring wide;
    for (std::size_t at = 2; at + 1 < bytes.size(); at += 2)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(bytes[at]) |
                                     (static_cast<unsigned char>(bytes[at + 1]) << 8));
    return Utf8FromWide(wide);
}

std::string ProfileBytesFromText(std::string_view text, ProfileEncoding encoding)
{
    if (encoding == ProfileEncoding::Ansi) {
        if (auto ansi = AnsiOf(text))
            return std::move(*ansi);
    }
    return Utf16Bytes(text);
}

bool FitsAnsiCodePage(std::string_view text)
{
    return AnsiOf(text).has_value();
}

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
    const std::wstring path = WideFromUtf8(path_);
    std::vector<wchar_t> buffer(4096);
    for (;;) {
        const DWORD length = GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()),
                                                            path.c_str());
        if (length + 2 < buffer.size())
            break;
        buffer.resize(buffer.size() * 2);
    }
    std::vector<std::string> names;
    for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1)
        names.push_back(Utf8FromWide(p));
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
    const std::wstring s = WideFromUtf8(section), k = WideFromUtf8(key), f = WideFromUtf8(fallback);
    const std::wstring path = WideFromUtf8(path_);
    std::vector<wchar_t> buffer(1024);
    for (;;) {
        const DWORD length = GetPrivateProfileStringW(s.c_str(), k.c_str(), f.c_str(), buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), path.c_str());
        if (length + 1 < buffer.size() || buffer.size() >= MaxValueLength)
            return Utf8FromWide(std::wstring_view(buffer.data(), length));
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
    const std::string protectedValue = Protect(value);
    return Prepare({section, key, protectedValue}) &&
           WritePrivateProfileStringW(WideFromUtf8(section).c_str(), WideFromUtf8(key).c_str(),
                                      WideFromUtf8(protectedValue).c_str(), WideFromUtf8(path_).c_str()) != FALSE;
}

bool ProfileFile::WriteInteger(std::string_view section, std::string_view key, long value) const
{
    return WriteString(section, key, std::to_string(value));
}

bool ProfileFile::EraseSection(std::string_view section) const
{
    return WritePrivateProfileStringW(WideFromUtf8(section).c_str(), nullptr, nullptr, WideFromUtf8(path_).c_str()) !=
           FALSE;
}

bool ProfileFile::HasSection(std::string_view section) const
{
    wchar_t probe[4] = {};
    return GetPrivateProfileSectionW(WideFromUtf8(section).c_str(), probe, 4, WideFromUtf8(path_).c_str()) > 0;
}

std::optional<ProfileSections> ProfileFile::ReadAll() const
{
    SetLastError(ERROR_SUCCESS);
    const auto bytes = ReadWholeFile(path_, MaxProfileFileSize);
    if (bytes)
        return ProfileSections::Parse(ProfileTextFromBytes(*bytes));
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return ProfileSections();
    SetLastError(error == ERROR_SUCCESS ? ERROR_FILE_TOO_LARGE : error);
    return std::nullopt;
}

bool ProfileFile::WriteSection(std::string_view section,
                               const std::vector<std::pair<std::string, std::string>>& values) const
{
    std::string lines;
    for (const auto& [key, value] : values)
        lines += key + "=" + Protect(value) + '\0';
    lines += '\0';
    return Prepare({section, lines}) &&
           WritePrivateProfileSectionW(WideFromUtf8(section).c_str(), WideFromUtf8(lines).c_str(),
                                       WideFromUtf8(path_).c_str()) != FALSE;
}

bool ProfileFile::Prepare(std::initializer_list<std::string_view> texts) const
{
    if (std::all_of(texts.begin(), texts.end(), FitsAnsiCodePage))
        return true;
    return ConvertToUtf16();
}

bool ProfileFile::ConvertToUtf16() const
{
    const std::wstring path = WideFromUtf8(path_);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
        // Nothing to keep: the mark alone makes a UTF-16 file. Another
        // writer may create the file meanwhile; then it is converted below.
        const UniqueFile created(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (created)
            return WriteFile(created.get(), Utf16Mark, 2, &written, nullptr) && written == 2;
        if (GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    const auto bytes = ReadWholeFile(path_, MaxProfileFileSize);
    if (!bytes)
        return false;
    if (ProfileEncodingOf(*bytes) == ProfileEncoding::Utf16)
        return true;
    const std::wstring converted = path + L".utf16";
    if (!WriteHiddenFile(converted, Utf16Bytes(ProfileTextFromBytes(*bytes))) ||
        !MoveFileExW(converted.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(converted.c_str());
        return false;
    }
    SetFileAttributesW(path.c_str(), attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_NORMAL : attributes);
    return true;
}
