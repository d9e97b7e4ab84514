#include "MarkupText.h"

#include "core/StrCon.h"
#include "core/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

struct Entity {
    std::string_view name;
    std::string_view replacement;
};

constexpr Entity kEntities[] = {
    {"&amp;", "&&"},
    {"&quot;", "\""},
    {"&sect;", "\u00A7"},
    {"&permil;", "\u2030"},
    {"&reg;", "\u00AE"},
    {"&copy;", "\u00A9"},
    {"&para;", "\u00B6"},
    {"&trade;", "\u2122"},
    {"&euro;", "\u20AC"},
};

constexpr char32_t kReplacement = 0xFFFD;

// What Windows-1252 puts at 0x80 to 0x9F, where Unicode has control codes:
// pages written for that code page refer to these signs by those numbers.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
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

// Entity names are written in lower case; the text may use any case.
bool NameAt(std::string_view text, std::size_t at, std::string_view name)
{
    if (text.size() - at < name.size())
        return false;
    for (std::size_t i = 1; i < name.size(); ++i)
        if (LowerAscii(text[at + i]) != name[i])
            return false;
    return true;
}

template <std::size_t N>
const Entity* EntityAt(std::string_view text, std::size_t at, const Entity (&table)[N])
{
    if (at + 1 >= text.size())
        return nullptr;
    const char second = LowerAscii(text[at + 1]);
    for (const Entity& entity : table)
        if (entity.name[1] == second && NameAt(text, at, entity.name))
            return &entity;
    return nullptr;
}

int DigitValue(char c, bool hex)
{
    if (hex)
        return HexDigitValue(c);
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

// A numeric reference "&#169;" or "&#x4E2D;" at `at`: its length (0 when
// the text there is none) and its value, which saturates above U+10FFFF.
std::size_t NumericReferenceAt(std::string_view text, std::size_t at, char32_t& code)
{
    if (at + 1 >= text.size() || text[at + 1] != '#')
        return 0;
    std::size_t i = at + 2;
    const bool hex = i < text.size() && LowerAscii(text[i]) == 'x';
    if (hex)
        ++i;
    const std::size_t digits = i;
    code = 0;
    for (int digit; i < text.size() && (digit = DigitValue(text[i], hex)) >= 0; ++i)
        code = std::min<char32_t>(code * (hex ? 16 : 10) + static_cast<char32_t>(digit), 0x110000);
    if (i == digits || i >= text.size() || text[i] != ';')
        return 0;
    return i + 1 - at;
}

// The character a numeric reference names: U+FFFD for none, the signs of
// Windows-1252 for 128 to 159.
char32_t ReferencedCharacter(char32_t code)
{
    if (code >= 0x80 && code <= 0x9F)
        return kWindows1252High[code - 0x80];
    if (code == 0 || (code < 0x20 && code != '\t' && code != '\r' && code != '\n') || code == 0x7F ||
        (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return kReplacement;
    return code;
}

// What a numeric reference stands for in the prepared markup. The markup's
// own signs come escaped, so that they show rather than act; line breaks act
// as they do in the text.
void AppendReference(std::string& out, char32_t code)
{
    if (code == '&')
        out.append("&&");
    else if (code == '<')
        out.append("&lt;");
    else if (code == '>')
        out.append("&gt;");
    else
        AppendUtf8(out, ReferencedCharacter(code));
}

bool HasByte(std::string_view text, char byte)
{
    return std::memchr(text.data(), byte, text.size()) != nullptr;
}

// Whether an ampersand stands inside a tag ("<" to the first ">" after it),
// asked for positions that only grow: each byte is looked at about once.
class TagTracker {
public:
    explicit TagTracker(std::string_view text) : text_(text) {}

    bool InsideTag(std::size_t at)
    {
        // The last "<" before `at`, looked for back to the last question.
        for (std::size_t i = at; i > searched_;) {
            if (text_[--i] == '<') {
                open_ = i;
                break;
            }
        }
        searched_ = at;
        if (open_ == std::string_view::npos)
            return false;
        if (open_ != closeOf_) {
            closeOf_ = open_;
            // No ">" after an unclosed tag: none after any later "<" either.
            close_ = open_ > unclosedFrom_ ? std::string_view::npos : text_.find('>', open_ + 1);
            if (close_ == std::string_view::npos)
                unclosedFrom_ = std::min(unclosedFrom_, open_);
        }
        return close_ == std::string_view::npos || close_ > at;
    }

private:
    std::string_view text_;
    std::size_t searched_ = 0;
    std::size_t open_ = std::string_view::npos;
    std::size_t closeOf_ = std::string_view::npos;
    std::size_t close_ = std::string_view::npos;
    std::size_t unclosedFrom_ = std::string_view::npos;
};

// Appends the text with its entities replaced (see ReplaceEntities); with
// `tags`, the ampersands inside tags are left as written.
void AppendReplaced(std::string& out, std::string_view text, TagTracker* tags)
{
    // An "&amp;" leaves its second ampersand in place of its ";", in front of
    // the text after it, where it may begin the next named entity; never a
    // numeric reference, which is newer than that rule: "&amp;#169;" shows
    // "&#169;".
    bool chained = false; // an ampersand stands at i, in place of the ";" there
    std::size_t i = 0;    // the text before i is in `out`
    std::size_t from = 0; // where the next ampersand is looked for
    while (i < text.size()) {
        std::size_t ampersand = i;
        if (!chained) {
            const void* found = std::memchr(text.data() + from, '&', text.size() - from);
            if (!found) {
                out.append(text.substr(i));
                return;
            }
            ampersand = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
            from = ampersand + 1;
            if (tags && tags->InsideTag(ampersand))
                continue;
            out.append(text.substr(i, ampersand - i));
        }
        const bool completes = chained;
        chained = false;
        char32_t code = 0;
        const std::size_t reference = completes ? 0 : NumericReferenceAt(text, ampersand, code);
        const Entity* entity = reference ? nullptr : EntityAt(text, ampersand, kEntities);
        if (reference) {
            AppendReference(out, code);
            i = ampersand + reference;
        } else if (entity == &kEntities[0]) {
            out.push_back('&');
            i = ampersand + entity->name.size() - 1;
            chained = true;
        } else if (entity) {
            out.append(entity->replacement);
            i = ampersand + entity->name.size();
        } else {
            // An ampersand of no entity shows as itself: escaped, unless it
            // completes the escape of an "&amp;" or begins an entity of the
            // run ("&lt;"), which the run step replaces.
            if (!completes && !EntityAt(text, ampersand, kRunEntities))
                out.push_back('&');
            out.push_back('&');
            i = ampersand + 1;
        }
        from = i;
    }
}

// The first "<#": the first "#" after a "<", "#" being the rarer.
std::size_t FindHash(std::string_view text)
{
    for (std::size_t at = 1; at < text.size(); ++at) {
        const void* found = std::memchr(text.data() + at, '#', text.size() - at);
        if (!found)
            break;
        at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        if (text[at - 1] == '<')
            return at - 1;
    }
    return std::string_view::npos;
}

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Tags after which a line or a list item begins: a line break of the text
// there is no blank between words.
bool BeginsLine(std::string_view tag)
{
    std::size_t name = tag.size() > 1 && tag[1] == '/' ? 2 : 1;
    std::size_t end = name;
    while (end < tag.size() && IsLetter(tag[end]))
        ++end;
    const std::string_view letters = tag.substr(name, end - name);
    for (const std::string_view line : {"BR", "HR", "P", "UL", "LI"})
        if (SameText(letters, line))
            return true;
    return false;
}

bool AfterLineTag(std::string_view text)
{
    if (text.empty() || text.back() != '>')
        return false;
    const std::size_t open = text.rfind('<');
    return open != std::string_view::npos && text.find('>', open) == text.size() - 1 &&
           BeginsLine(text.substr(open));
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
    std::string out;
    out.reserve(text.size());
    AppendReplaced(out, text, nullptr);
    return out;
}

std::string PrepareMarkup(std::string_view text)
{
    std::string unhashed;
    const std::size_t hash = FindHash(text);
    if (hash != std::string_view::npos) {
        unhashed = text;
        const std::size_t close = unhashed.find('>', hash + 2);
        if (close != std::string::npos)
            unhashed.erase(close, 1);
        unhashed.erase(hash, 2);
        text = unhashed;
    }
    std::string prepared;
    prepared.reserve(text.size());
    if (HasByte(text, '&')) {
        // Tags stay as written: their values decode their own.
        TagTracker tags(text);
        AppendReplaced(prepared, text, &tags);
    } else {
        prepared.assign(text);
    }
    if (!HasByte(prepared, '\r') && !HasByte(prepared, '\n'))
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

std::string DecodeAttribute(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t ampersand = std::min(value.find('&', i), value.size());
        out.append(value.substr(i, ampersand - i));
        if (ampersand == value.size())
            break;
        char32_t code = 0;
        if (const std::size_t reference = NumericReferenceAt(value, ampersand, code)) {
            AppendUtf8(out, ReferencedCharacter(code));
            i = ampersand + reference;
        } else if (const Entity* entity = EntityAt(value, ampersand, kEntities)) {
            out.append(entity == &kEntities[0] ? "&" : entity->replacement);
            i = ampersand + entity->name.size();
        } else if (const Entity* runEntity = EntityAt(value, ampersand, kRunEntities)) {
            out.append(runEntity->replacement);
            i = ampersand + runEntity->name.size();
        } else {
            out.push_back('&');
            i = ampersand + 1;
        }
    }
    return out;
}

std::string BlanksForLineBreaks(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t lineBreak = std::min(text.find_first_of("\r\n", i), text.size());
        out.append(text.substr(i, lineBreak - i));
        if (lineBreak == text.size())
            break;
        i = std::min(text.find_first_not_of("\r\n", lineBreak), text.size());
        const bool atEdge = out.empty() || i == text.size();
        const bool besideBlank = !atEdge && (out.back() == ' ' || out.back() == '\t' || text[i] == ' ' || text[i] == '\t');
        if (!atEdge && !besideBlank && !AfterLineTag(out))
            out.push_back(' ');
    }
    return out;
}

void AppendRunEntities(std::string& out, std::string_view run)
{
    // Entities only shorten a run: it is written in place, then cut.
    const std::size_t start = out.size();
    out.resize(start + run.size());
    char* to = out.data() + start;
    std::size_t i = 0;
    while (i < run.size()) {
        if (run[i] != '&') {
            *to++ = run[i++];
            continue;
        }
        const bool escaped = i + 1 < run.size() && run[i + 1] == '&';
        const std::size_t at = escaped ? i + 1 : i;
        if (escaped)
            to = std::copy_n("&&", 2, to);
        if (const Entity* entity = EntityAt(run, at, kRunEntities)) {
            to = std::copy(entity->replacement.begin(), entity->replacement.end(), to);
            i = at + entity->name.size();
        } else {
            if (!escaped)
                *to++ = '&';
            i = at + 1;
        }
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
}

std::string ReplaceRunEntities(std::string_view run)
{
    std::string out;
    AppendRunEntities(out, run);
    return out;
}

std::size_t RunEntityLength(std::string_view run, std::size_t at)
{
    const Entity* entity = run[at] == '&' ? EntityAt(run, at, kRunEntities) : nullptr;
    return entity ? entity->name.size() : 0;
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

namespace {

// The first double-quoted string from `from` on (see AttributeValue).
std::optional<std::string_view> QuotedFrom(std::string_view tag, std::size_t from)
{
    const std::size_t open = tag.find('"', from);
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

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether `name`, upper case, stands at `at` in any case.
bool NameAtNoCase(std::string_view tag, std::size_t at, std::string_view name)
{
    if (tag.size() - at < name.size())
        return false;
    for (std::size_t i = 1; i < name.size(); ++i)
        if (UpperAscii(tag[at + i]) != name[i])
            return false;
    return true;
}

} // namespace

std::optional<std::string_view> AttributeValue(std::string_view tag, std::string_view name)
{
    const std::size_t at = FindNoCase(tag, name);
    if (at == std::string_view::npos)
        return std::nullopt;
    return QuotedFrom(tag, at + name.size());
}

void AttributeValues(std::string_view tag, std::span<const std::string_view> names,
                     std::span<std::optional<std::string_view>> values)
{
    // For each byte, the names that begin with it and are still looked for.
    std::uint8_t starting[256] = {};
    std::uint8_t missing = 0;
    for (std::size_t k = 0; k < names.size(); ++k) {
        values[k] = names[k].empty() ? QuotedFrom(tag, 0) : std::nullopt;
        if (names[k].empty())
            continue;
        const auto bit = static_cast<std::uint8_t>(1u << k);
        const char first = names[k][0];
        starting[static_cast<unsigned char>(first)] |= bit;
        if (first >= 'A' && first <= 'Z')
            starting[static_cast<unsigned char>(first - 'A' + 'a')] |= bit;
        missing |= bit;
    }
    for (std::size_t at = 0; at < tag.size() && missing != 0; ++at) {
        unsigned candidates = starting[static_cast<unsigned char>(tag[at])] & missing;
        for (std::size_t k = 0; candidates != 0; ++k, candidates >>= 1) {
            if ((candidates & 1) == 0 || !NameAtNoCase(tag, at, names[k]))
                continue;
            missing &= static_cast<std::uint8_t>(~(1u << k));
            values[k] = QuotedFrom(tag, at + names[k].size());
        }
    }
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
