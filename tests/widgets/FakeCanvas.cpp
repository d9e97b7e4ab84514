#include "FakeCanvas.h"

#include "core/Utf8.h"
#include "widgets/LineBreak.h"
#include "widgets/MarkupText.h"

#include <algorithm>

TColor FakeCanvas::ToRGB(TColor color) const
{
    return IsSystemColor(color) ? MakeColor(SystemColorIndex(color), 0, 0) : color & 0xFFFFFF;
}

// Characters as the text's UTF-8 decoding counts them; an ideograph counts two.
long long FakeCanvas::Columns(std::string_view text)
{
    long long columns = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = DecodeUtf8At(text, at);
        columns += c.valid && IsIdeographic(c.code) ? 2 : 1;
        at += c.length;
    }
    return columns;
}

MarkupSize FakeCanvas::TextExtent(std::string_view text)
{
    // One pass finds what needs more work; plain ASCII, the usual case, needs none.
    bool prefixed = false;
    unsigned char bytes = 0;
    for (const char c : text) {
        prefixed |= c == '&';
        bytes |= static_cast<unsigned char>(c);
    }
    long long columns = static_cast<long long>(text.size());
    if (prefixed || bytes >= 0x80) {
        const std::string shown = prefixed ? PrefixProcessed(text) : std::string(text);
        columns = bytes >= 0x80 ? Columns(shown) : static_cast<long long>(shown.size());
    }
    const long long width = columns * CharWidth(font_);
    return {static_cast<int>(std::min<long long>(width, 1 << 28)), LineHeight(font_)};
}

void FakeCanvas::DrawText(std::string_view text, const MarkupRect& rect, TColor color, bool)
{
    if (record_)
        texts.push_back({std::string(text), rect, color, font_, brush_});
}

void FakeCanvas::FillRect(const MarkupRect& rect, TColor color)
{
    if (record_)
        fills.push_back({rect, color});
}

void FakeCanvas::Polyline(const int* xy, int points, TColor)
{
    if (record_)
        lines.emplace_back(xy, xy + 2 * points);
}

bool FakeCanvas::ImageSize(std::string_view source, MarkupSize& size)
{
    const auto found = pictures_.find(source);
    if (found == pictures_.end())
        return false;
    size = found->second;
    return true;
}

void FakeCanvas::DrawImage(std::string_view source, const MarkupRect& rect, bool stretch)
{
    if (record_)
        images.push_back({std::string(source), rect, stretch});
}

void FakeCanvas::TileImage(std::string_view source, const MarkupRect& area)
{
    if (record_)
        tiles.push_back({std::string(source), area, false});
}
