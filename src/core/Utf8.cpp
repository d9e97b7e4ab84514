#include "core/Utf8.h"

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

bool IsSurrogate(char32_t code)
{
    return code >= 0xD800 && code <= 0xDFFF;
}

}  // namespace

Utf8Char DecodeUtf8At(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return {lead, 1, true, false};
    std::size_t length = 0;
    char32_t code = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, smallest = 0x10000;
    } else {
        return {Replacement, 1, false, false};
    }
    std::size_t taken = 1;
    for (; taken < length; ++taken) {
        if (at + taken >= text.size() || !IsContinuation(static_cast<unsigned char>(text[at + taken])))
            return {Replacement, taken, false, false};
        code = (code << 6) | (static_cast<unsigned char>(text[at + taken]) & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF)
        return {Replacement, length, false, false};
    if (IsSurrogate(code))
        return {code, length, false, true};
    return {code, length, true, false};
}

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
    if (code > 0x10FFFF)
        code = Replacement;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string Utf8FromUtf16(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string Utf16FromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = DecodeUtf8At(text, at);
        at += c.length;
        if (c.code < 0x10000) {
            out += static_cast<char16_t>(c.code);
        } else {
            out += static_cast<char16_t>(0xD800 + ((c.code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c.code - 0x10000) & 0x3FF));
        }
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
