#include "AlphaLayout.h"

#include "core/Utf8.h"

AlphaLayoutResult LayoutAlphaButton(const AlphaLayoutInput& in)
{
    const bool horizontal = in.layout == TButtonLayout::blGlyphLeft || in.layout == TButtonLayout::blGlyphRight;
    AlphaLayoutResult out;
    // Across the layout's axis both are centred.
    if (horizontal) {
        out.glyphY = (in.height - in.glyphHeight + 1) / 2;
        out.textY = (in.height - in.textHeight + 1) / 2;
    } else {
        out.glyphX = (in.width - in.glyphWidth + 1) / 2;
        out.textX = (in.width - in.textWidth + 1) / 2;
    }
    const int extent = horizontal ? in.width : in.height;
    const int glyph = horizontal ? in.glyphWidth : in.glyphHeight;
    const int text = horizontal ? in.textWidth : in.textHeight;
    const bool hasGlyph = in.glyphWidth > 0 && in.glyphHeight > 0;
    const bool hasText = in.textWidth > 0 && in.textHeight > 0;
    int margin = in.margin;
    int spacing = hasGlyph && hasText ? in.spacing : 0;
    if (margin == -1 && spacing == -1)
        margin = spacing = (extent - glyph - text) / 3;
    else if (margin == -1)
        margin = (extent - glyph - spacing - text) / 2;
    else if (spacing == -1)
        spacing = (extent - margin - glyph - text + 1) / 2;

    int glyphAt = 0, textAt = 0;
    if (in.layout == TButtonLayout::blGlyphLeft || in.layout == TButtonLayout::blGlyphTop) {
        glyphAt = margin;
        textAt = glyphAt + glyph + spacing;
    } else {
        glyphAt = extent - margin - glyph;
        textAt = glyphAt - spacing - text;
    }
    (horizontal ? out.glyphX : out.glyphY) = glyphAt;
    (horizontal ? out.textX : out.textY) = textAt;

    const int offset = in.pressed ? 1 : 0;
    out.glyphX += offset;
    out.glyphY += offset;
    out.textX += offset;
    out.textY += offset;
    return out;
}

char32_t CaptionAccelerator(std::string_view caption)
{
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        const Utf8Char c = DecodeUtf8At(caption, i + 1);
        if (!c.valid)
            return 0;
        return c.code >= 'a' && c.code <= 'z' ? c.code - 'a' + 'A' : c.code;
    }
    return 0;
}
