#pragma once
// The lines of a text (a record file, a program's output) without their line
// feeds; a last line without one counts too, an empty text has none.
// Platform-free.
#include <string>
#include <vector>

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}
