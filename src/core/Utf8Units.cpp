#include "core/Utf8.h"

// The per-character steps, apart from the converters that build strings: a
// program that must not link the standard library's allocating parts (the
// self-upgrade stub) uses only these.

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

std::size_t EncodeUtf8(char32_t code, char out[4])
{
    if (code > 0x10FFFF)
        code = Replacement;
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

std::size_t EncodeUtf16(char32_t code, char16_t out[2])
{
    if (code > 0x10FFFF)
        code = Replacement;
    if (code < 0x10000) {
        out[0] = static_cast<char16_t>(code);
        return 1;
    }
    out[0] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    return 2;
}

char32_t DecodeUtf16At(std::u16string_view text, std::size_t& at)
{
    const char32_t unit = text[at++];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    if (high && at < text.size() && text[at] >= 0xDC00 && text[at] <= 0xDFFF)
        return 0x10000 + ((unit - 0xD800) << 10) + (text[at++] - 0xDC00);
    return unit;
}
