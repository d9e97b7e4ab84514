#pragma once
// The text `kdAgent.exe /list` prints: a header line, then one line per
// stored item, fields separated by tabs, lines ended by CR LF, UTF-8. A
// field's own backslash, tab, carriage return and line feed are written
// "\\", "\t", "\r" and "\n", so every line splits back into its fields.
// Platform-free.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TListedItem {
    std::uint8_t location = 0;
    std::string caption;
    std::string name;
    std::string cmdLine;
    bool enabled = false;
    std::int32_t delay = 0;
    std::int32_t order = 0;
    // Empty when the store did not record it; printed "unknown".
    std::string takenOver;
};

std::string ListingHeader();
std::string ListingLine(const TListedItem& item);
// The fields of one line (without its line end), escapes undone.
std::vector<std::string> ListingFields(std::string_view line);
