#pragma once
// Task Manager's choice for one startup entry, as Windows 8 and later record
// it: a binary value named like the entry whose first byte is even (02, 06)
// for enabled and odd (03, 07) for disabled, followed by the FILETIME of the
// change. A value of another type, shorter than those 12 bytes or longer than
// kMaxApprovalSize is no choice at all: it is left alone and the entry counts
// as enabled. Platform-free; any bytes are accepted.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

enum class TApproval { apNone, apEnabled, apDisabled };

inline constexpr std::size_t kMinApprovalSize = 12;
inline constexpr std::size_t kMaxApprovalSize = 1024;

TApproval ApprovalOf(bool binary, std::string_view bytes);

// The bytes as upper-case hexadecimal text, two digits a byte, for an INI file.
std::string ApprovalHex(std::string_view bytes);
// The bytes of such a text; nothing when it is no whole hexadecimal text or
// names no choice (ApprovalOf).
std::optional<std::string> ApprovalFromHex(std::string_view text);
