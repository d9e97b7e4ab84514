#pragma once
// Platform-free placement of an image button's glyph and caption.
#include <string_view>

enum class TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

struct AlphaLayoutInput {
    int width = 0;        // client area
    int height = 0;
    int glyphWidth = 0;   // 0 by 0 without a glyph
    int glyphHeight = 0;
    int textWidth = 0;    // 0 by 0 without a caption
    int textHeight = 0;
    TButtonLayout layout = TButtonLayout::blGlyphLeft;
    int margin = -1;      // -1 centres
    int spacing = 4;      // -1 spreads evenly
    bool pressed = false; // shifts both by one pixel right and down
};

struct AlphaLayoutResult {
    int glyphX = 0, glyphY = 0;
    int textX = 0, textY = 0;
};

AlphaLayoutResult LayoutAlphaButton(const AlphaLayoutInput& in);

// Whether a point still counts as over a pressed button of this size: the
// right edge is outside and the bottom edge inside, as the button has
// always behaved.
constexpr bool InPressBounds(int x, int y, int width, int height)
{
    return x >= 0 && x < width && y >= 0 && y <= height;
}

// The accelerator of a UTF-8 caption: the character after a single "&" (a
// doubled "&&" stands for the sign itself), upper-cased when it is an ASCII
// letter; 0 when there is none.
char32_t CaptionAccelerator(std::string_view caption);
