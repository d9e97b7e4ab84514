#include "winutil/WideText.h"

#include "core/Utf8.h"

#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 code units");

std::wstring WideFromUtf8(std::string_view text)
{
    const std::u16string wide = Utf16FromUtf8(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string Utf8FromWide(std::wstring_view text)
{
    return Utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::string Utf8FromWide(const wchar_t* text)
{
    return text ? Utf8FromWide(std::wstring_view(text)) : std::string();
}

std::wstring WideFromAnsi(std::string_view text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8FromPublisherText(std::string_view text)
{
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    const bool marked = text.substr(0, byteOrderMark.size()) == byteOrderMark;
    if (marked)
        text.remove_prefix(byteOrderMark.size());
    if (IsValidUtf8(text))
        return std::string(text);
    if (!marked)
        return Utf8FromWide(WideFromAnsi(text));
    std::string repaired;
    repaired.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = DecodeUtf8At(text, at);
        AppendUtf8(repaired, c.valid ? c.code : 0xFFFD);
        at += c.length;
    }
    return repaired;
}
