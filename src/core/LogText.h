#pragma once
// A program's log of problems it did not show: plain lines, oldest first,
// kept under a size cap by dropping the oldest whole lines. Platform-free.
#include <cstddef>
#include <string>
#include <string_view>

constexpr std::size_t kLogCap = 64 * 1024;

// `log` with `line` and CR LF appended, then as many of its first lines
// dropped as the cap needs. A line longer than the cap alone is cut to it.
std::string AppendLogLine(std::string_view log, std::string_view line, std::size_t cap = kLogCap);
