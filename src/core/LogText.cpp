#include "core/LogText.h"

std::string AppendLogLine(std::string_view log, std::string_view line, std::size_t cap)
{
    std::string text(log);
    text.append(line.substr(0, cap >= 2 ? cap - 2 : 0));
    text.append("\r\n");
    if (text.size() <= cap)
        return text;
    // Keep the newest lines: cut at the first line start that leaves the rest under the cap.
    std::size_t start = text.size() - cap;
    if (start > 0 && text[start - 1] != '\n') {
        const std::size_t next = text.find('\n', start);
        start = next == std::string::npos ? text.size() : next + 1;
    }
    return text.substr(start);
}
