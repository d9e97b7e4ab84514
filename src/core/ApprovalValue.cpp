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
    if (text.size() > 2 * kMaxApprovalSize)
        return std::nullopt;
    std::optional<std::string> bytes = BytesOfHex(text);
    if (!bytes || ApprovalOf(/*binary=*/true, *bytes) == TApproval::apNone)
        return std::nullopt;
    return bytes;
}
