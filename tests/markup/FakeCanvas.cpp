#include "FakeCanvas.h"

#include "markup/MarkupText.h"

#include <algorithm>

TColor FakeCanvas::ToRGB(TColor color) const
{
    return IsSystemColor(color) ? MakeColor(SystemColorIndex(color), 0, 0) : color & 0xFFFFFF;
}

MarkupSize FakeCanvas::TextExtent(std::string_view text)
{
    const std::size_t shown = text.find('&') == std::string_view::npos ? text.size() : PrefixProcessed(text).size();
    const long long width = static_cast<long long>(shown) * CharWidth(font_);
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
