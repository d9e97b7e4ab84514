#include "HttpRequest.h"

#include "core/StrCon.h"

#include <algorithm>

std::string RequestURL(std::string_view url)
{
    if (url.find("://") != std::string_view::npos)
        return std::string(url);
    return "http://" + std::string(url);
}

std::string RequestHeaderText(const std::vector<std::string>& addHeaders, std::int64_t startRange,
                              std::int64_t endRange)
{
    std::string text;
    for (const std::string& line : addHeaders)
        text += line + "\r\n";
    startRange = std::max<std::int64_t>(startRange, 0);
    endRange = std::max<std::int64_t>(endRange, 0);
    if (startRange == 0 && endRange == 0)
        return text;
    text += "RANGE: bytes=" + std::to_string(startRange) + "-";
    if (endRange != 0)
        text += std::to_string(endRange);
    return text + "\r\n";
}

std::string PercentDecode(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? HexDigitValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigitValue(text[i + 2]) : -1;
        if (low < 0) {
            decoded += text[i];
            continue;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return decoded;
}
