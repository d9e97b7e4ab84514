#include "core/Utf8.h"

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = DecodeUtf8At(text, at);
        if (!c.valid)
            return false;
        at += c.length;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t code)
{
    char bytes[4];
    out.append(bytes, EncodeUtf8(code, bytes));
}

std::string Utf8FromUtf16(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();)
        AppendUtf8(out, DecodeUtf16At(text, at));
    return out;
}

std::u16string Utf16FromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = DecodeUtf8At(text, at);
        at += c.length;
        char16_t units[2];
        out.append(units, EncodeUtf16(c.code, units));
    }
    return out;
}

std::size_t Utf8PrefixLength(std::string_view text, std::size_t units)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const Utf8Char c = DecodeUtf8At(text, at);
        const std::size_t needed = c.code < 0x10000 ? 1 : 2;
        if (needed > units)
            break;
        units -= needed;
        at += c.length;
    }
    return at;
}
