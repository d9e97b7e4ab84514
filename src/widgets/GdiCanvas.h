#pragma once
// The markup canvas over a GDI device context. Text comes in UTF-8 and is
// measured and drawn through the wide ("W") calls, so every script shows,
// whatever the system's code page. Fonts are created on demand, kept for the
// canvas's life and freed with it (at most a few dozen at a time, whatever
// the markup asks for), so no font outlives a paint; the context's own font,
// colours and background mode come back at the end. Pictures are looked up
// through a MarkupPictures source.
//
// Fonts are made for the dots per inch given (a window's, under Per-Monitor
// awareness), else the context's. In high-contrast mode only the system's
// colours are drawn: a markup colour gives way to the button-text colour for
// text and lines, and to nothing for fills and text backgrounds.
#include <windows.h>

#include "markup/MarkupCanvas.h"
#include "winutil/UniqueHandle.h"

#include <vector>

// Where the pictures of the markup come from (image lists, system icons,
// named and cached pictures). Sizes are in device pixels.
class MarkupPictures {
public:
    virtual ~MarkupPictures() = default;
    virtual bool Size(std::string_view source, HDC dc, MarkupSize& size) = 0;
    virtual void Draw(std::string_view source, HDC dc, const RECT& rect, bool stretch) = 0;
};

// A colour value as a GDI colour: system colours looked up.
COLORREF ColorToRGB(TColor color);

// The font's description for a device of this many dots per inch.
LOGFONTW LogFontOf(const MarkupFont& font, int dpiY);

class GdiCanvas : public MarkupCanvas {
public:
    // `pictures` may be null (no pictures) and must outlive the canvas;
    // `dpi` 0 stands for the context's.
    GdiCanvas(HDC dc, const MarkupFont& font, MarkupPictures* pictures, int dpi = 0);
    ~GdiCanvas() override;
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    MarkupFont Font() const override { return font_; }
    void SetFont(const MarkupFont& font) override;
    TColor Brush() const override { return brush_; }
    void SetBrush(TColor color) override { brush_ = Contrasted(color, clNone); }
    void SetHighContrast(bool on) { highContrast_ = on; }
    TColor ToRGB(TColor color) const override { return ColorToRGB(color); }
    int DpiX() const override;
    int DpiY() const override;
    MarkupSize TextExtent(std::string_view text) override;
    void DrawText(std::string_view text, const MarkupRect& rect, TColor color, bool ellipsis) override;
    void FillRect(const MarkupRect& rect, TColor color) override;
    void Polyline(const int* xy, int points, TColor color) override;
    bool ImageSize(std::string_view source, MarkupSize& size) override;
    void DrawImage(std::string_view source, const MarkupRect& rect, bool stretch) override;
    void TileImage(std::string_view source, const MarkupRect& area) override;

private:
    struct CachedFont {
        MarkupFont font; // colour ignored
        UniqueGdiObject handle;
    };
    HFONT FontFor(const MarkupFont& font);
    // The colour drawn for a colour of the markup.
    TColor Contrasted(TColor color, TColor instead) const;
    void DrawAtMeasuredAdvances(std::wstring_view text, const MarkupRect& rect);

    HDC dc_;
    int savedState_;
    MarkupFont font_;
    TColor brush_ = clNone;
    MarkupPictures* pictures_;
    int dpi_;
    bool highContrast_ = false;
    std::vector<CachedFont> fonts_;
};
