#include "markup/HTMLLayoutState.h"

#include "core/StrCon.h"
#include "markup/Gradient.h"
#include "markup/MarkupText.h"

namespace keldora::markup {

namespace {

constexpr int kListStep = 12; // at 96 dots per inch
constexpr int kMaxListDpi = 96 * 16;
constexpr int kMarkupGradientBands = 64;

int Scale(int value, double factor)
{
    return static_cast<int>(std::clamp(value * factor, 0.0, static_cast<double>(kPositionLimit)));
}

} // namespace

// The canvas follows the state's font; nothing is drawn or measured in
// a hit test.
TagEffect HTMLLayout::DoTag(FormatState& state, const LineTag& tag, Pass pass, LineBox& box, LineCursor& cursor)
{
    const TagEffect effect = ApplyTag(state, tag.tag, tag.face, pass, box, cursor);
    if (pass != Pass::hitTest)
        SelectFont(state.font);
    return effect;
}

TagEffect HTMLLayout::ApplyTag(FormatState& state, const MarkupTag& tag, std::uint32_t face, Pass pass,
                               LineBox& box, LineCursor& cursor)
{
    const bool drawing = pass == Pass::draw;
    switch (tag.kind) {
    case MarkupTagKind::link:
        OpenLink(state, tag.text, pass, cursor);
        break;
    case MarkupTagKind::bold:
        state.font.bold = true;
        break;
    case MarkupTagKind::lineBreak:
        return TagEffect::endsLine;
    case MarkupTagKind::body:
        if (drawing)
            DrawBody(tag.text);
        break;
    case MarkupTagKind::blink:
        state.font.color = startBrush_;
        break;
    case MarkupTagKind::errorMark:
        state.errorMark = true;
        break;
    case MarkupTagKind::font:
        DoFont(state, tag, face);
        break;
    case MarkupTagKind::highlight:
        state.highlightSaved = true;
        state.highlightText = state.font.color;
        state.highlightBrush = state.brush;
        SetBrush(state, clHighlight);
        state.font.color = clHighlightText;
        break;
    case MarkupTagKind::rule:
        if (drawing) {
            const int y = box.bottom + 1;
            const int line[] = {params_.rect.left, y, params_.rect.right, y};
            canvas_.Polyline(line, 2, clBlack);
        }
        return TagEffect::endsLine;
    case MarkupTagKind::italic:
        state.font.italic = true;
        break;
    case MarkupTagKind::indent:
        if (tag.number && *tag.number > cursor.x)
            cursor.x = *tag.number;
        break;
    case MarkupTagKind::image:
        return DoImage(state, tag.text, pass, box, cursor);
    case MarkupTagKind::listItem:
        return DoListItem(state, pass, box, cursor);
    case MarkupTagKind::paragraph:
        DoParagraph(state, tag, pass, box);
        break;
    case MarkupTagKind::rotate:
        if (tag.number)
            state.font.escapement = *tag.number;
        break;
    case MarkupTagKind::strikeOut:
        state.font.strikeOut = true;
        break;
    case MarkupTagKind::subscript:
        state.sub = true;
        break;
    case MarkupTagKind::superscript:
        state.sup = true;
        break;
    case MarkupTagKind::shadow:
        state.shadow = true;
        break;
    case MarkupTagKind::underline:
        state.font.underline = true;
        break;
    case MarkupTagKind::list:
        state.listLevel = std::min(state.listLevel + 1, kMaxMarkupNumber);
        return TagEffect::endsLine;
    case MarkupTagKind::hidden:
        state.hidden = true;
        break;
    default:
        return ApplyClosingTag(state, tag, pass, box, cursor);
    }
    return TagEffect::none;
}

TagEffect HTMLLayout::ApplyClosingTag(FormatState& state, const MarkupTag& tag, Pass pass,
                                      const LineBox& box, const LineCursor& cursor)
{
    switch (tag.kind) {
    case MarkupTagKind::linkEnd:
        CloseLink(state, pass, box, cursor);
        break;
    case MarkupTagKind::boldEnd:
        state.font.bold = false;
        break;
    case MarkupTagKind::colorEnd:
        state.font.color = base_.color;
        break;
    case MarkupTagKind::errorMarkEnd:
        state.errorMark = false;
        break;
    case MarkupTagKind::fontEnd:
        state.font.name = base_.name;
        state.font.size = base_.size;
        state.font.color = base_.color;
        if (state.fontBrushSaved) {
            state.fontBrushSaved = false;
            SetBrush(state, state.fontBrush);
        }
        break;
    case MarkupTagKind::highlightEnd:
        if (state.highlightSaved) {
            state.highlightSaved = false;
            state.font.color = state.highlightText;
            SetBrush(state, state.highlightBrush);
        }
        break;
    case MarkupTagKind::italicEnd:
        state.font.italic = false;
        break;
    case MarkupTagKind::listItemEnd:
        return TagEffect::endsLine;
    case MarkupTagKind::paragraphEnd:
        SetBrush(state, state.paragraphBrush);
        state.paragraphBackground = false;
        return TagEffect::endsLine;
    case MarkupTagKind::rotateEnd:
        state.font.escapement = 0;
        break;
    case MarkupTagKind::scriptEnd:
        state.sub = state.sup = false;
        break;
    case MarkupTagKind::shadowEnd:
        state.shadow = false;
        break;
    case MarkupTagKind::strikeOutEnd:
        state.font.strikeOut = false;
        break;
    case MarkupTagKind::underlineEnd:
        state.font.underline = false;
        break;
    case MarkupTagKind::listEnd:
        if (state.listLevel > 0)
            --state.listLevel;
        else
            state.font.underline = false;
        break;
    case MarkupTagKind::hiddenEnd:
        state.hidden = false;
        break;
    default:
        break;
    }
    return TagEffect::none;
}

void HTMLLayout::OpenLink(FormatState& state, std::string_view value, Pass pass, LineCursor& cursor)
{
    ++state.links;
    state.inLink = true;
    state.linkValue = value;
    cursor.linkStartX = cursor.x;
    if (pass == Pass::measure && state.links == params_.focusLink)
        result_.focusAnchor = DecodeAttribute(state.linkValue);
    const bool hovered = state.links == params_.hoverLink;
    if (Highlighted(state.links)) {
        state.font.underline = true;
        if (params_.hoverColor != clNone && pass == Pass::draw) {
            state.linkBrush = state.brush;
            SetBrush(state, params_.hoverColor);
        }
    }
    TColor color = params_.linkColor;
    if (hovered && Highlighted(state.links) && params_.hoverFontColor != clNone)
        color = params_.hoverFontColor;
    if (color != clNone)
        state.font.color = color;
}

void HTMLLayout::CloseLink(FormatState& state, Pass pass, const LineBox& box, const LineCursor& cursor)
{
    if (Highlighted(state.links)) {
        state.font.underline = false;
        if (params_.hoverColor != clNone && pass == Pass::draw)
            SetBrush(state, state.linkBrush);
    }
    state.font.color = base_.color;
    state.inLink = false;
    if (pass != Pass::measure && candidate_.number == state.links)
        CloseHit(box, cursor);
}

void HTMLLayout::DoFont(FormatState& state, const MarkupTag& tag, std::uint32_t face)
{
    if (tag.face)
        state.font.name = face;
    if (tag.color)
        state.font.color = *tag.color;
    if (tag.background) {
        state.fontBrushSaved = true;
        state.fontBrush = state.brush;
        SetBrush(state, *tag.background);
    }
    if (tag.number)
        state.font.size = *tag.number;
}

void HTMLLayout::DoParagraph(FormatState& state, const MarkupTag& tag, Pass pass, const LineBox& box)
{
    if (tag.align)
        state.align = *tag.align;
    if (tag.number)
        state.indent = *tag.number;
    if (!tag.background)
        return;
    state.paragraphBrush = state.brush;
    state.paragraphBackground = true;
    const MarkupRect line{params_.rect.left, box.top, params_.rect.right, box.Bottom()};
    if (tag.backgroundTo) {
        SetBrush(state, clNone);
        if (pass == Pass::draw)
            FillGradient(canvas_, {line.left, line.top, line.right, line.bottom + 2}, *tag.background,
                         *tag.backgroundTo, kMarkupGradientBands, /*leftToRight=*/true);
        return;
    }
    SetBrush(state, *tag.background);
    if (pass == Pass::draw)
        canvas_.FillRect(line, *tag.background);
}

void HTMLLayout::DrawBody(std::string_view tag)
{
    const MarkupRect& rect = params_.rect;
    if (const auto value = AttributeValue(tag, "BACKGROUND")) {
        const std::string picture = DecodeAttribute(*value);
        MarkupSize size;
        if (canvas_.ImageSize(picture, size))
            canvas_.TileImage(picture, rect);
    }
    const auto background = AttributeValue(tag, "BGCOLOR");
    if (!background)
        return;
    const MarkupRect area{rect.left - 2, rect.top, rect.right, rect.bottom};
    const TColor color = ParseHTMLColor(*background);
    const auto to = AttributeValue(tag, "BGCOLORTO");
    if (!to) {
        canvas_.FillRect(area, color);
        return;
    }
    const auto direction = AttributeValue(tag, "DIR");
    FillGradient(canvas_, area, color, ParseHTMLColor(*to), kMarkupGradientBands,
                 !direction || SameText(*direction, "H"));
}

TagEffect HTMLLayout::DoListItem(FormatState& state, Pass pass, const LineBox& box, LineCursor& cursor)
{
    if (cursor.holdsItem)
        return TagEffect::lineFull;
    cursor.holdsItem = true;
    if (state.hidden)
        return TagEffect::none;
    const int level = std::max(state.listLevel, 1);
    // The indent grows with the dots per inch, as the fonts do.
    const int step = kListStep * std::clamp(canvas_.DpiX(), 1, kMaxListDpi) / 96;
    const int bulletX = Add(cursor.x, (level - 1) * step);
    cursor.x = Add(cursor.x, level * step);
    if (pass != Pass::draw)
        return TagEffect::none;
    Font bulletFont = state.font;
    if (!symbolName_)
        symbolName_ = NameIndex("Symbol");
    bulletFont.name = *symbolName_;
    bulletFont.underline = false;
    SelectFont(bulletFont);
    // 0xB7 is the Symbol font's bullet: the system maps U+0020 to U+00FF to
    // a symbol font's own codes, as the narrow calls did with that byte.
    const std::string_view bullet = level % 2 == 1 ? "\u00B7" : "o";
    canvas_.DrawText(bullet, {Add(box.left, bulletX), box.top, Add(box.left, cursor.x), RunBottom(state, box)},
                     state.font.color, /*ellipsis=*/false);
    SelectFont(state.font);
    return TagEffect::none;
}

TagEffect HTMLLayout::DoImage(FormatState& state, std::string_view tag, Pass pass, LineBox& box, LineCursor& cursor)
{
    ++state.images;
    const auto value = AttributeValue(tag, "SRC");
    if (!value || state.hidden)
        return TagEffect::none;
    const std::string source = DecodeAttribute(*value);
    MarkupSize size;
    if (!canvas_.ImageSize(source, size))
        return TagEffect::none;
    const int width = MarkupNumber(AttributeValue(tag, "WIDTH").value_or(""));
    const int height = MarkupNumber(AttributeValue(tag, "HEIGHT").value_or(""));
    const bool stretch = width >= 1 && height >= 1;
    if (stretch)
        size = {width * canvas_.DpiX() / 96, height * canvas_.DpiY() / 96};
    size = {Scale(size.cx, params_.imageScale), Scale(size.cy, params_.imageScale)};
    if (pass == Pass::measure) {
        if (Add(cursor.x, size.cx) > cursor.lineWidth && size.cx < cursor.lineWidth && cursor.x > 0)
            return TagEffect::lineFull;
        cursor.x = Add(cursor.x, size.cx);
        box.height = std::max(box.height, size.cy);
        AlignImage(tag, box);
        return TagEffect::none;
    }
    const MarkupRect rect{Add(box.left, cursor.x), box.top, Add(Add(box.left, cursor.x), size.cx),
                          Add(box.top, size.cy)};
    cursor.x = Add(cursor.x, size.cx);
    if (state.inLink)
        canvas_.LinkPlaced(state.links, state.linkValue, {}, rect);
    const bool underMouse = rect.Contains(params_.mouseX, params_.mouseY);
    if (underMouse && state.inLink) {
        candidate_ = {true, true, state.linkValue, state.links, {}};
        imageHit_ = true;
    }
    if (pass == Pass::draw) {
        const auto alternative = AttributeValue(tag, "ALT");
        canvas_.DrawImage(underMouse && alternative ? DecodeAttribute(*alternative) : source, rect, stretch);
    }
    return TagEffect::none;
}

void HTMLLayout::AlignImage(std::string_view tag, LineBox& box)
{
    const std::size_t align = FindNoCase(tag, "ALIGN");
    if (align == std::string_view::npos)
        return;
    const std::string_view rest = tag.substr(align);
    if (FindNoCase(rest, "\"TOP") != std::string_view::npos)
        box.imageOffset = box.height - box.gh;
    else if (FindNoCase(rest, "\"MIDDLE") != std::string_view::npos)
        box.imageOffset = (box.height - box.gh) / 2;
}

} // namespace keldora::markup
