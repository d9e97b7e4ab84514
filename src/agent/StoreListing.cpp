#include "StoreListing.h"

namespace {

constexpr const char* kLineEnd = "\r\n";

std::string Escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    return out;
}

char Unescaped(char c)
{
    switch (c) {
    case 't': return '\t';
    case 'r': return '\r';
    case 'n': return '\n';
    default: return c;
    }
}

std::string Joined(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i ? "\t" : "") + fields[i];
    return line + kLineEnd;
}

} // namespace

std::string ListingHeader()
{
    return Joined({"Location", "Caption", "Name", "Command line", "Enabled", "Delay", "Order", "Taken over"});
}

std::string ListingLine(const TListedItem& item)
{
    return Joined({std::to_string(item.location), Escaped(item.caption), Escaped(item.name), Escaped(item.cmdLine),
                   item.enabled ? "1" : "0", std::to_string(item.delay), std::to_string(item.order),
                   item.takenOver.empty() ? "unknown" : Escaped(item.takenOver)});
}

std::vector<std::string> ListingFields(std::string_view line)
{
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t')
            fields.emplace_back();
        else if (line[i] == '\\' && i + 1 < line.size())
            fields.back() += Unescaped(line[++i]);
        else
            fields.back() += line[i];
    }
    return fields;
}
