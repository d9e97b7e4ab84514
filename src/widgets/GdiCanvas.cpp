#include "GdiCanvas.h"

#include "winutil/WideText.h"

#include <algorithm>
#include <climits>

namespace {

constexpr UINT kTextFlags = DT_BOTTOM | DT_SINGLELINE | DT_EXPANDTABS;
// Enough for every font of an ordinary text; past it the cache starts again.
constexpr std::size_t kMaxCachedFonts = 32;

bool SameFace(const MarkupFont& a, const MarkupFont& b)
{
    return a.size == b.size && a.bold == b.bold && a.italic == b.italic && a.underline == b.underline &&
           a.strikeOut == b.strikeOut && a.escapement == b.escapement && a.name == b.name;
}

RECT ToRect(const MarkupRect& rect)
{
    return {rect.left, rect.top, rect.right, rect.bottom};
}

int TextLength(std::wstring_view text)
{
    return static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
}

bool HasSurrogates(std::wstring_view text)
{
    return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0xD800 && c <= 0xDFFF; });
}

// Text that DrawText shows as it stands: no mnemonic prefixes, no tabs.
bool IsPlainText(std::string_view text)
{
    return text.find_first_of("&\t") == std::string_view::npos;
}

} // namespace

COLORREF ColorToRGB(TColor color)
{
    if (IsSystemColor(color))
        return GetSysColor(SystemColorIndex(color));
    return color & 0xFFFFFF;
}

LOGFONTW LogFontOf(const MarkupFont& font, int dpiY)
{
    LOGFONTW logFont = {};
    logFont.lfHeight = -MulDiv(font.size, dpiY, 72);
    logFont.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    logFont.lfItalic = font.italic;
    logFont.lfUnderline = font.underline;
    logFont.lfStrikeOut = font.strikeOut;
    logFont.lfEscapement = logFont.lfOrientation = font.escapement;
    logFont.lfCharSet = DEFAULT_CHARSET;
    logFont.lfOutPrecision = font.escapement ? OUT_TT_PRECIS : OUT_DEFAULT_PRECIS;
    const std::wstring face = WideFromUtf8(font.name);
    std::size_t nameLength = std::min(face.size(), std::size(logFont.lfFaceName) - 1);
    if (nameLength > 0 && IS_HIGH_SURROGATE(face[nameLength - 1]))
        --nameLength; // a cut name keeps no half of a pair
    face.copy(logFont.lfFaceName, nameLength);
    return logFont;
}

GdiCanvas::GdiCanvas(HDC dc, const MarkupFont& font, MarkupPictures* pictures, int dpi)
    : dc_(dc), savedState_(SaveDC(dc)), pictures_(pictures), dpi_(dpi)
{
    SetBkMode(dc_, TRANSPARENT);
    SetFont(font);
}

GdiCanvas::~GdiCanvas()
{
    // Restoring the saved state selects the context's own font again before
    // ours are deleted.
    RestoreDC(dc_, savedState_);
}

int GdiCanvas::DpiX() const
{
    return dpi_ > 0 ? dpi_ : GetDeviceCaps(dc_, LOGPIXELSX);
}

int GdiCanvas::DpiY() const
{
    return dpi_ > 0 ? dpi_ : GetDeviceCaps(dc_, LOGPIXELSY);
}

TColor GdiCanvas::Contrasted(TColor color, TColor instead) const
{
    return highContrast_ && color != clNone && !IsSystemColor(color) ? instead : color;
}

HFONT GdiCanvas::FontFor(const MarkupFont& font)
{
    for (const CachedFont& cached : fonts_)
        if (SameFace(cached.font, font))
            return static_cast<HFONT>(cached.handle.get());
    if (fonts_.size() >= kMaxCachedFonts) {
        SelectObject(dc_, GetStockObject(SYSTEM_FONT));
        fonts_.clear();
    }
    const LOGFONTW logFont = LogFontOf(font, DpiY());
    fonts_.push_back({font, UniqueGdiObject(CreateFontIndirectW(&logFont))});
    return static_cast<HFONT>(fonts_.back().handle.get());
}

void GdiCanvas::SetFont(const MarkupFont& font)
{
    font_ = font;
    if (const HFONT handle = FontFor(font))
        SelectObject(dc_, handle);
}

MarkupSize GdiCanvas::TextExtent(std::string_view text)
{
    // Measured without the bottom alignment: Wine places a measured line
    // above the rectangle's top when it is asked for both.
    RECT rect = {};
    const std::wstring wide = WideFromUtf8(text);
    ::DrawTextW(dc_, wide.data(), TextLength(wide), &rect,
                (kTextFlags & ~DT_BOTTOM) | DT_EXTERNALLEADING | DT_CALCRECT);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

void GdiCanvas::DrawText(std::string_view text, const MarkupRect& rect, TColor color, bool ellipsis)
{
    color = Contrasted(color, clBtnText);
    if (color == clNone)
        return;
    SetTextColor(dc_, ColorToRGB(color));
    if (brush_ == clNone) {
        SetBkMode(dc_, TRANSPARENT);
    } else {
        SetBkMode(dc_, OPAQUE);
        SetBkColor(dc_, ColorToRGB(brush_));
    }
    const std::wstring wide = WideFromUtf8(text);
    // Characters beyond the first 65536 come as surrogate pairs, which only
    // the drawing call itself keeps together.
    if (!ellipsis && IsPlainText(text) && !HasSurrogates(wide)) {
        DrawAtMeasuredAdvances(wide, rect);
        return;
    }
    // Not clipped at the run's right edge, where an italic glyph reaches past its advance.
    RECT area = ToRect(rect);
    ::DrawTextW(dc_, wide.data(), TextLength(wide), &area, kTextFlags | (ellipsis ? DT_END_ELLIPSIS : DT_NOCLIP));
}

// Under Wine some fonts draw their glyphs further apart than the extents they
// report, so runs placed by their measured widths overlap and lose the blank
// between them; explicit advances put every glyph where it was measured.
// Not clipped either, for the overhang of italic glyphs.
void GdiCanvas::DrawAtMeasuredAdvances(std::wstring_view text, const MarkupRect& rect)
{
    const int length = TextLength(text);
    std::vector<INT> advances(static_cast<std::size_t>(length));
    SIZE size = {};
    TEXTMETRICW metrics = {};
    if (length == 0 || !GetTextExtentExPointW(dc_, text.data(), length, 0, nullptr, advances.data(), &size) ||
        !GetTextMetricsW(dc_, &metrics))
        return;
    for (std::size_t i = advances.size() - 1; i > 0; --i)
        advances[i] -= advances[i - 1];
    ::ExtTextOutW(dc_, rect.left, rect.bottom - metrics.tmHeight, 0, nullptr, text.data(), static_cast<UINT>(length),
                  advances.data());
}

void GdiCanvas::FillRect(const MarkupRect& rect, TColor color)
{
    color = Contrasted(color, clNone);
    if (color == clNone)
        return;
    const UniqueGdiObject brush(CreateSolidBrush(ColorToRGB(color)));
    const RECT area = ToRect(rect);
    ::FillRect(dc_, &area, static_cast<HBRUSH>(brush.get()));
}

void GdiCanvas::Polyline(const int* xy, int points, TColor color)
{
    const UniqueGdiObject pen(CreatePen(PS_SOLID, 1, ColorToRGB(Contrasted(color, clBtnText))));
    const HGDIOBJ old = SelectObject(dc_, pen.get());
    std::vector<POINT> line(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i)
        line[static_cast<std::size_t>(i)] = {xy[2 * i], xy[2 * i + 1]};
    ::Polyline(dc_, line.data(), points);
    SelectObject(dc_, old);
}

bool GdiCanvas::ImageSize(std::string_view source, MarkupSize& size)
{
    return pictures_ && pictures_->Size(source, dc_, size);
}

void GdiCanvas::DrawImage(std::string_view source, const MarkupRect& rect, bool stretch)
{
    if (pictures_)
        pictures_->Draw(source, dc_, ToRect(rect), stretch);
}

void GdiCanvas::TileImage(std::string_view source, const MarkupRect& area)
{
    MarkupSize size;
    if (!ImageSize(source, size) || size.cx <= 0 || size.cy <= 0)
        return;
    const int saved = SaveDC(dc_);
    IntersectClipRect(dc_, area.left, area.top, area.right, area.bottom);
    for (int y = area.top; y < area.bottom; y += size.cy)
        for (int x = area.left; x < area.right; x += size.cx)
            pictures_->Draw(source, dc_, {x, y, x + size.cx, y + size.cy}, /*stretch=*/false);
    RestoreDC(dc_, saved);
}
