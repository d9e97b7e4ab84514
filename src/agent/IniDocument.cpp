#include "IniDocument.h"

#include "core/StrCon.h"

#include <algorithm>
#include <limits>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool HasAnyOf(std::string_view text, std::string_view chars)
{
    return text.find_first_of(chars) != std::string_view::npos;
}

const std::string_view kLineBreaks("\r\n\0", 3);

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace

IniDocument IniDocument::Parse(std::string_view text)
{
    IniDocument doc;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            doc.lines_.push_back(Classify(std::string(text.substr(start))));
            break;
        }
        doc.lines_.push_back(Classify(std::string(text.substr(start, end - start))));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return doc;
}

IniDocument::Line IniDocument::Classify(std::string raw)
{
    Line line;
    const std::string_view body = TrimBlanks(raw);
    if (!body.empty() && body.front() == '[') {
        const std::size_t close = body.find(']');
        if (close != std::string_view::npos) {
            line.kind = Kind::Section;
            line.name = std::string(TrimBlanks(body.substr(1, close - 1)));
        }
    } else if (!body.empty() && body.front() != ';') {
        const std::size_t equals = body.find('=');
        if (equals != std::string_view::npos && equals > 0) {
            line.kind = Kind::Key;
            line.name = std::string(TrimBlanks(body.substr(0, equals)));
        }
    }
    line.raw = std::move(raw);
    return line;
}

std::string IniDocument::Text() const
{
    std::string text;
    for (const Line& line : lines_) {
        text += line.raw;
        text += "\r\n";
    }
    return text;
}

// Index one past the last line that belongs to the section whose header is at `header`.
std::size_t IniDocument::SectionEnd(std::size_t header) const
{
    std::size_t end = header + 1;
    while (end < lines_.size() && lines_[end].kind != Kind::Section)
        ++end;
    return end;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view name) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Kind::Section || !SameText(lines_[i].name, section))
            continue;
        const std::size_t end = SectionEnd(i);
        for (std::size_t k = i + 1; k < end; ++k) {
            const Line& line = lines_[k];
            if (line.kind == Kind::Key && SameText(line.name, name))
                return std::string(TrimBlanks(std::string_view(line.raw).substr(line.raw.find('=') + 1)));
        }
    }
    return std::nullopt;
}

std::string IniDocument::KeyLine(std::string_view name, std::string_view value)
{
    std::string raw(name);
    raw += '=';
    raw += value;
    return raw;
}

bool IniDocument::CanHold(std::string_view section, std::string_view name, std::string_view value)
{
    if (section.empty() || HasAnyOf(section, kLineBreaks) || HasAnyOf(section, "]") || TrimBlanks(section) != section)
        return false;
    if (name.empty() || HasAnyOf(name, kLineBreaks) || HasAnyOf(name, "=") || TrimBlanks(name) != name ||
        name.front() == '[' || name.front() == ';')
        return false;
    return !HasAnyOf(value, kLineBreaks);
}

bool IniDocument::Set(std::string_view section, std::string_view name, std::string_view value)
{
    if (!CanHold(section, name, value))
        return false;
    std::size_t firstSection = lines_.size();
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Kind::Section || !SameText(lines_[i].name, section))
            continue;
        firstSection = std::min(firstSection, i);
        const std::size_t end = SectionEnd(i);
        for (std::size_t k = i + 1; k < end; ++k) {
            Line& line = lines_[k];
            if (line.kind == Kind::Key && SameText(line.name, name)) {
                line.raw = KeyLine(line.name, value);
                return true;
            }
        }
    }
    if (firstSection < lines_.size()) {
        // After the section's last key, so blank lines and comments that
        // separate it from the next section stay where they are.
        std::size_t at = firstSection + 1;
        for (std::size_t k = firstSection + 1; k < SectionEnd(firstSection); ++k)
            if (lines_[k].kind == Kind::Key)
                at = k + 1;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Classify(KeyLine(name, value)));
        return true;
    }
    if (!lines_.empty() && !TrimBlanks(lines_.back().raw).empty())
        lines_.push_back(Classify(std::string()));
    lines_.push_back(Classify("[" + std::string(section) + "]"));
    lines_.push_back(Classify(KeyLine(name, value)));
    return true;
}

bool ParseIniInteger(std::string_view text, std::int32_t& value)
{
    text = TrimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    // Hexadecimal takes the full 32-bit pattern, as FFFFFFFF for -1.
    const std::int64_t limit = base == 16 ? std::numeric_limits<std::uint32_t>::max()
                                          : std::int64_t(std::numeric_limits<std::int32_t>::max()) + (negative ? 1 : 0);
    std::int64_t result = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= base)
            return false;
        result = result * base + digit;
        if (result > limit)
            return false;
    }
    if (base == 16)
        result = static_cast<std::int32_t>(static_cast<std::uint32_t>(result));
    value = static_cast<std::int32_t>(negative ? -result : result);
    return true;
}

std::optional<KeyPath> SplitKeyPath(std::string_view path)
{
    std::string text = RemoveChar(path, ' ');
    if (!text.empty() && IsSeparator(text.back()))
        text.pop_back();
    if (!text.empty() && IsSeparator(text.front()))
        text.erase(0, 1);
    if (text.empty())
        return std::nullopt;
    const auto separator = std::find_if(text.begin(), text.end(), IsSeparator);
    KeyPath key;
    key.section.assign(text.begin(), separator);
    if (key.section.empty())
        return std::nullopt;
    if (separator != text.end())
        key.name.assign(separator + 1, text.end());
    std::replace_if(key.name.begin(), key.name.end(), IsSeparator, '.');
    if (key.name.empty())
        key.name = "Default";
    return key;
}
