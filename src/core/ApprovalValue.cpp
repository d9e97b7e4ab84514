#include "core/ApprovalValue.h"

#include "core/StrCon.h"

TApproval ApprovalOf(bool binary, std::string_view bytes)
{
    if (!binary || bytes.size() < kMinApprovalSize || bytes.size() > kMaxApprovalSize)
        return TApproval::apNone;
    return (static_cast<unsigned char>(bytes.front()) & 1) ? TApproval::apDisabled : TApproval::apEnabled;
}

std::string ApprovalHex(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::optional<std::string> ApprovalFromHex(std::string_view text)
{
    if (text.size() % 2 != 0 || text.size() > 2 * kMaxApprovalSize)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]), low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
    }
    if (ApprovalOf(/*binary=*/true, bytes) == TApproval::apNone)
        return std::nullopt;
    return bytes;
}
