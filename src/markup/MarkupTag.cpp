#include "MarkupTag.h"

#include "core/StrCon.h"
#include "markup/MarkupText.h"

#include <array>

namespace {

constexpr int kPointsPerSizeStep[] = {8, 10, 12, 14, 16};

char UpperAt(std::string_view text, std::size_t i)
{
    const char c = i < text.size() ? text[i] : '\0';
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

template <std::size_t N>
std::array<std::optional<std::string_view>, N> Values(std::string_view tag, const std::string_view (&names)[N])
{
    std::array<std::optional<std::string_view>, N> values;
    AttributeValues(tag, names, values);
    return values;
}

std::optional<TColor> ColorOf(const std::optional<std::string_view>& value)
{
    return value ? std::optional<TColor>(ParseHTMLColor(*value)) : std::nullopt;
}

void ReadFont(MarkupTag& tag)
{
    // COLOR follows a blank, so that BGCOLOR is not taken for it.
    static constexpr std::string_view kNames[] = {"FACE", " COLOR", "BGCOLOR", "SIZE"};
    const auto [face, color, background, size] = Values(tag.text, kNames);
    tag.face = face;
    tag.color = ColorOf(color);
    tag.background = ColorOf(background);
    if (size) {
        const int number = MarkupNumber(*size);
        tag.number = number >= 1 && number <= 5 ? kPointsPerSizeStep[number - 1] : number;
    }
}

void ReadParagraph(MarkupTag& tag)
{
    static constexpr std::string_view kNames[] = {"ALIGN", "INDENT", "BGCOLOR", "BGCOLORTO"};
    const auto [align, indent, background, backgroundTo] = Values(tag.text, kNames);
    if (align) {
        // Tested in this order, a later match winning.
        if (FindNoCase(*align, "RIGHT") != std::string_view::npos)
            tag.align = MarkupAlign::right;
        if (FindNoCase(*align, "LEFT") != std::string_view::npos)
            tag.align = MarkupAlign::left;
        if (FindNoCase(*align, "CENTER") != std::string_view::npos)
            tag.align = MarkupAlign::center;
    }
    if (indent)
        tag.number = MarkupNumber(*indent);
    tag.background = ColorOf(background);
    tag.backgroundTo = ColorOf(backgroundTo);
}

MarkupTagKind OpeningKind(std::string_view tag)
{
    const char second = UpperAt(tag, 2);
    switch (UpperAt(tag, 1)) {
    case 'A':
        return MarkupTagKind::link;
    case 'B':
        if (second == '>')
            return MarkupTagKind::bold;
        if (second == 'R')
            return MarkupTagKind::lineBreak;
        if (second == 'O')
            return MarkupTagKind::body;
        if (second == 'L')
            return MarkupTagKind::blink;
        return MarkupTagKind::none;
    case 'E':
        return MarkupTagKind::errorMark;
    case 'F':
        return MarkupTagKind::font;
    case 'H':
        if (second == 'I')
            return MarkupTagKind::highlight;
        return second == 'R' ? MarkupTagKind::rule : MarkupTagKind::none;
    case 'I':
        if (second == '>')
            return MarkupTagKind::italic;
        if (second == 'N')
            return MarkupTagKind::indent;
        return second == 'M' ? MarkupTagKind::image : MarkupTagKind::none;
    case 'L':
        return MarkupTagKind::listItem;
    case 'P':
        return MarkupTagKind::paragraph;
    case 'R':
        return MarkupTagKind::rotate;
    case 'S':
        if (StartsWithNoCase(tag, "<SUB>"))
            return MarkupTagKind::subscript;
        if (StartsWithNoCase(tag, "<SUP>"))
            return MarkupTagKind::superscript;
        if (second == 'H')
            return MarkupTagKind::shadow;
        return second == '>' ? MarkupTagKind::strikeOut : MarkupTagKind::none;
    case 'U':
        return second == '>' ? MarkupTagKind::underline : MarkupTagKind::list;
    case 'Z':
        return MarkupTagKind::hidden;
    default:
        return MarkupTagKind::none;
    }
}

MarkupTagKind ClosingKind(std::string_view tag)
{
    if (tag.size() <= 3)
        return MarkupTagKind::none;
    const char second = UpperAt(tag, 3);
    switch (UpperAt(tag, 2)) {
    case 'A':
        return MarkupTagKind::linkEnd;
    case 'B':
        return second == '>' ? MarkupTagKind::boldEnd : MarkupTagKind::colorEnd;
    case 'E':
        return MarkupTagKind::errorMarkEnd;
    case 'F':
        return MarkupTagKind::fontEnd;
    case 'H':
        return MarkupTagKind::highlightEnd;
    case 'I':
        return MarkupTagKind::italicEnd;
    case 'L':
        return MarkupTagKind::listItemEnd;
    case 'P':
        return MarkupTagKind::paragraphEnd;
    case 'R':
        return MarkupTagKind::rotateEnd;
    case 'S':
        if (second == 'U')
            return MarkupTagKind::scriptEnd;
        return second == 'H' ? MarkupTagKind::shadowEnd : MarkupTagKind::strikeOutEnd;
    case 'U':
        return second == '>' ? MarkupTagKind::underlineEnd : MarkupTagKind::listEnd;
    case 'Z':
        return MarkupTagKind::hiddenEnd;
    default:
        return MarkupTagKind::none;
    }
}

} // namespace

MarkupTag ReadMarkupTag(std::string_view text)
{
    MarkupTag tag;
    tag.text = text;
    tag.kind = text[1] == '/' ? ClosingKind(text) : OpeningKind(text);
    switch (tag.kind) {
    case MarkupTagKind::link:
        tag.text = AttributeValue(text, "").value_or(std::string_view());
        break;
    case MarkupTagKind::font:
        ReadFont(tag);
        break;
    case MarkupTagKind::paragraph:
        ReadParagraph(tag);
        break;
    case MarkupTagKind::indent:
        if (const auto x = AttributeValue(text, "X"); x && IsMarkupNumber(*x))
            tag.number = MarkupNumber(*x);
        break;
    case MarkupTagKind::rotate:
        if (const auto angle = AttributeValue(text.substr(2), "A"))
            tag.number = MarkupNumber(*angle) * 10;
        break;
    default:
        break;
    }
    return tag;
}
