#pragma once
// A tag of the label markup read once into what it does and its values,
// platform-free, so that the layout applies it in both passes over a line
// without reading the text again. The letter after "<" (or "</") chooses the
// tag, and where needed the next letter; each value is the first
// double-quoted string after its name anywhere in the tag (AttributeValue),
// the names of one tag found in a single scan.
#include "markup/MarkupColor.h"

#include <cstdint>
#include <optional>
#include <string_view>

enum class MarkupTagKind : std::uint8_t {
    none, // unknown tags, and closing tags too short to say anything
    link,
    bold,
    lineBreak,
    body,
    blink,
    errorMark,
    font,
    highlight,
    rule,
    italic,
    indent,
    image,
    listItem,
    paragraph,
    rotate,
    strikeOut,
    subscript,
    superscript,
    shadow,
    underline,
    list,
    hidden,
    linkEnd,
    boldEnd,
    colorEnd, // "</B" with more letters
    errorMarkEnd,
    fontEnd,
    highlightEnd,
    italicEnd,
    listItemEnd,
    paragraphEnd,
    rotateEnd,
    scriptEnd,
    shadowEnd,
    strikeOutEnd,
    underlineEnd,
    listEnd,
    hiddenEnd,
};

enum class MarkupAlign : std::uint8_t { left, right, center };

struct MarkupTag {
    MarkupTagKind kind = MarkupTagKind::none;
    // The whole tag (pictures and the body read theirs when drawn); for a
    // link, its value: the first double-quoted string, entities undecoded.
    std::string_view text;
    std::optional<std::string_view> face;  // FONT FACE as written
    std::optional<TColor> color;           // FONT COLOR
    std::optional<TColor> background;      // FONT and P BGCOLOR
    std::optional<TColor> backgroundTo;    // P BGCOLORTO
    // FONT SIZE in points, P INDENT, IND X (only when all digits), R's angle
    // in tenths of a degree.
    std::optional<int> number;
    std::optional<MarkupAlign> align;      // P ALIGN
};

// `tag` runs from "<" to its ">" (or to the end of the text) and holds at
// least 3 bytes.
MarkupTag ReadMarkupTag(std::string_view tag);
