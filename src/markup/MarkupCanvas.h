#pragma once
// What the markup layout needs from a drawing surface, platform-free: text
// measuring and drawing in a font, fills, lines and pictures. Text and font
// names are UTF-8. The GDI canvas is one implementation, the tests' recording
// canvas another.
#include "markup/MarkupColor.h"

#include <string>
#include <string_view>

struct MarkupRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const MarkupRect&) const = default;
};

struct MarkupSize {
    int cx = 0;
    int cy = 0;
};

struct MarkupFont {
    std::string name;
    int size = 8; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    TColor color = clBlack;
    int escapement = 0; // tenths of a degree

    bool operator==(const MarkupFont&) const = default;
};

class MarkupCanvas {
public:
    virtual ~MarkupCanvas() = default;

    virtual MarkupFont Font() const = 0;
    virtual void SetFont(const MarkupFont& font) = 0;
    // clNone is a clear brush: text is drawn without a background.
    virtual TColor Brush() const = 0;
    virtual void SetBrush(TColor color) = 0;
    // A plain colour for any colour value (system colours looked up).
    virtual TColor ToRGB(TColor color) const = 0;
    virtual int DpiX() const = 0;
    virtual int DpiY() const = 0;

    // Size of one line of text in the current font, with mnemonic-prefix
    // processing ("&&" is one "&").
    virtual MarkupSize TextExtent(std::string_view text) = 0;
    // One line bottom-aligned in the rectangle, in the colour (clNone draws
    // nothing), on the brush unless it is clear; cut with "..." at the
    // rectangle's right edge when `ellipsis` is set.
    virtual void DrawText(std::string_view text, const MarkupRect& rect, TColor color, bool ellipsis) = 0;
    virtual void FillRect(const MarkupRect& rect, TColor color) = 0;
    virtual void Polyline(const int* xy, int points, TColor color) = 0;

    // Pictures named by an image source of the markup. The size is the
    // layout size in device pixels; false when there is no such picture.
    virtual bool ImageSize(std::string_view source, MarkupSize& size) = 0;
    // At natural size at the rectangle's top-left, or stretched into it.
    virtual void DrawImage(std::string_view source, const MarkupRect& rect, bool stretch) = 0;
    // Repeated from the area's top-left over the whole area, clipped to it.
    virtual void TileImage(std::string_view source, const MarkupRect& area) = 0;

    // Where the pass that draws or hit-tests placed each run and picture of
    // a link: the link's number (from 1), its address, the run's text as
    // given to DrawText (empty for a picture) and its rectangle. Keyboard
    // focus and screen readers find links here; nothing by default.
    virtual void LinkPlaced(int /*link*/, std::string_view /*address*/, std::string_view /*text*/,
                            const MarkupRect& /*rect*/)
    {
    }
};
