#include "MarkupText.h"

#include "core/StrCon.h"

#include <cstring>

namespace {

struct Entity {
    std::string_view name;
    std::string_view replacement;
};

constexpr Entity kEntities[] = {
    {"&amp;", "&&"},
    {"&quot;", "\""},
    {"&sect;", "\xA7"},
    {"&permil;", "\x89"},
    {"&reg;", "\xAE"},
    {"&copy;", "\xA9"},
    {"&para;", "\xB6"},
    {"&trade;", "\x99"},
    {"&euro;", "\x80"},
};

constexpr Entity kRunEntities[] = {
    {"&nbsp;", " "},
    {"&lt;", "<"},
    {"&gt;", ">"},
};

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

template <std::size_t N>
const Entity* EntityAt(std::string_view text, std::size_t at, const Entity (&table)[N])
{
    if (at + 1 >= text.size())
        return nullptr;
    const char second = LowerAscii(text[at + 1]);
    for (const Entity& entity : table)
        if (entity.name[1] == second && StartsWithNoCase(text.substr(at), entity.name))
            return &entity;
    return nullptr;
}

// Removes every open ... close span (exact case) with its content; an
// unclosed span drops the rest of the text.
std::string RemoveSpans(std::string_view text, std::string_view open, std::string_view close)
{
    std::string out;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t start = text.find(open, from);
        if (start == std::string_view::npos)
            break;
        out.append(text.substr(from, start - from));
        const std::size_t end = text.find(close, start + open.size());
        if (end == std::string_view::npos)
            return out;
        from = end + close.size();
    }
    if (from < text.size())
        out.append(text.substr(from));
    return out;
}

} // namespace

std::size_t FindNoCase(std::string_view text, std::string_view sub, std::size_t from)
{
    if (sub.empty())
        return from <= text.size() ? from : std::string_view::npos;
    const char first = LowerAscii(sub.front());
    const char firstUpper = UpperChar(sub.front());
    for (std::size_t i = from; i + sub.size() <= text.size(); ++i) {
        if (text[i] != first && text[i] != firstUpper)
            continue;
        if (SameText(text.substr(i, sub.size()), sub))
            return i;
    }
    return std::string_view::npos;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::string ReplaceEntities(std::string_view text)
{
    // An "&amp;" leaves its second ampersand in place of its ";", in front of
    // the text after it, where it may begin the next entity.
    std::string rest(text);
    std::string out;
    out.reserve(rest.size());
    std::size_t i = 0;
    while (i < rest.size()) {
        const std::size_t ampersand = rest.find('&', i);
        if (ampersand == std::string::npos) {
            out.append(rest, i);
            break;
        }
        out.append(rest, i, ampersand - i);
        const Entity* entity = EntityAt(rest, ampersand, kEntities);
        if (!entity) {
            out.push_back('&');
            i = ampersand + 1;
        } else if (entity == &kEntities[0]) {
            out.push_back('&');
            i = ampersand + entity->name.size() - 1;
            rest[i] = '&';
        } else {
            out.append(entity->replacement);
            i = ampersand + entity->name.size();
        }
    }
    return out;
}

std::string PrepareMarkup(std::string_view text)
{
    std::string prepared = HasChar('&', text) ? ReplaceEntities(text) : std::string(text);
    const std::size_t hash = prepared.find("<#");
    if (hash != std::string::npos) {
        const std::size_t close = prepared.find('>', hash + 2);
        if (close != std::string::npos)
            prepared.erase(close, 1);
        prepared.erase(hash, 2);
    }
    if (prepared.find_first_of("\r\n") == std::string::npos)
        return prepared;
    std::string out;
    out.reserve(prepared.size());
    for (const char c : prepared) {
        if (c == '\n')
            continue;
        if (c == '\r')
            out.append("<BR>");
        else
            out.push_back(c);
    }
    return out;
}

std::string ReplaceRunEntities(std::string_view run)
{
    std::string out;
    out.reserve(run.size());
    std::size_t i = 0;
    while (i < run.size()) {
        if (run[i] != '&') {
            out.push_back(run[i++]);
            continue;
        }
        const bool escaped = i + 1 < run.size() && run[i + 1] == '&';
        const std::size_t at = escaped ? i + 1 : i;
        if (escaped)
            out.append("&&");
        if (const Entity* entity = EntityAt(run, at, kRunEntities)) {
            out.append(entity->replacement);
            i = at + entity->name.size();
        } else {
            if (!escaped)
                out.push_back('&');
            i = at + 1;
        }
    }
    return out;
}

std::string StripHTML(std::string_view markup)
{
    std::string lines;
    lines.reserve(markup.size());
    std::size_t from = 0;
    while (from < markup.size()) {
        const std::size_t tag = markup.find('<', from);
        if (tag == std::string_view::npos)
            break;
        lines.append(markup.substr(from, tag - from));
        const std::string_view at = markup.substr(tag);
        if (StartsWithNoCase(at, "<BR>") || StartsWithNoCase(at, "<HR>")) {
            lines.append("\r\n");
            from = tag + 4;
        } else {
            lines.push_back('<');
            from = tag + 1;
        }
    }
    if (from < markup.size())
        lines.append(markup.substr(from));

    const std::string visible = RemoveSpans(RemoveSpans(lines, "<z>", "</z>"), "<Z>", "</Z>");
    std::string plain;
    plain.reserve(visible.size());
    for (std::size_t i = 0; i < visible.size(); ++i) {
        if (visible[i] != '<') {
            plain.push_back(visible[i]);
            continue;
        }
        const std::size_t close = visible.find('>', i);
        if (close == std::string::npos)
            break;
        i = close;
    }
    return plain;
}

std::string PrefixProcessed(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            shown.push_back(text[i]);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '&') {
            shown.push_back('&');
            ++i;
        }
    }
    return shown;
}

std::optional<std::string_view> AttributeValue(std::string_view tag, std::string_view name)
{
    const std::size_t at = FindNoCase(tag, name);
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::size_t open = tag.find('"', at + name.size());
    if (open == std::string_view::npos)
        return std::nullopt;
    const std::size_t close = tag.find('"', open + 1);
    if (close != std::string_view::npos)
        return tag.substr(open + 1, close - open - 1);
    std::string_view rest = tag.substr(open + 1);
    if (!rest.empty() && rest.back() == '>')
        rest.remove_suffix(1);
    return rest;
}

int MarkupNumber(std::string_view value)
{
    int number = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            break;
        number = number * 10 + (c - '0');
        if (number >= kMaxMarkupNumber)
            return kMaxMarkupNumber;
    }
    return number;
}

bool IsMarkupNumber(std::string_view value)
{
    if (value.empty())
        return false;
    for (const char c : value)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool IsShellOpenableLink(std::string_view link)
{
    for (const std::string_view scheme : {"http://", "https://", "ftp://", "mailto:"})
        if (StartsWithNoCase(link, scheme))
            return true;
    return false;
}

bool IsLocalPictureSource(std::string_view source)
{
    for (const std::string_view prefix : {"FILE:", "SSYS:", "LSYS:", "\\\\", "//"})
        if (StartsWithNoCase(source, prefix))
            return true;
    return false;
}
