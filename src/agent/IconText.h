#pragma once
// Reading an item's icon text ("file" or "file,index", quotes allowed) and
// its menu caption. Platform-free: no <windows.h> here.
#include <string>
#include <string_view>

struct IconSource {
    std::string file;
    int index = 0;
};

// The text trimmed at both ends of every character up to the double quote
// (blanks, control characters, "!" and quotes).
std::string TrimIconText(std::string_view iconText);
// The file: the trimmed text cut before its first comma and trimmed again,
// so that a quoted file with an index loses both its quotes. The index: the
// number after the last comma, 0 when there is none or it is not a number.
IconSource ParseIconText(std::string_view iconText);

// A name without its extension: the last dot after the last path separator
// and everything after it removed.
std::string WithoutExtension(std::string_view name);
