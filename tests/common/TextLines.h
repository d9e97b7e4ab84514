#pragma once
// The lines of a text (a record file, a program's output) without their line
// feeds. Platform-free.
#include <string>
#include <vector>

// A last line without a line feed counts too; an empty text has none.
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

// The lines a writer has ended so far (a record another process still
// appends to): a last line without its line feed is left out, and a carriage
// return before a line feed goes with it.
inline std::vector<std::string> EndedLines(const std::string& text)
{
    std::vector<std::string> lines = Lines(text.substr(0, text.rfind('\n') + 1));
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    }
    return lines;
}
