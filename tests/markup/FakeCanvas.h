#pragma once
// A canvas with fixed metrics that records what is drawn, for exact layout
// tests, the fuzz target and the benchmark. Each shown byte of the UTF-8 text
// is half the point size wide (at least 1 pixel), so characters further from
// ASCII are wider (a CJK ideograph three times a Latin letter); a line is the
// point size plus 2 high.
#include "markup/MarkupCanvas.h"

#include <map>
#include <string>
#include <vector>

class FakeCanvas : public MarkupCanvas {
public:
    struct TextCall {
        std::string text;
        MarkupRect rect;
        TColor color;
        MarkupFont font;
        TColor brush;
    };
    struct FillCall {
        MarkupRect rect;
        TColor color;
    };
    struct ImageCall {
        std::string source;
        MarkupRect rect;
        bool stretch;
    };

    explicit FakeCanvas(bool record = true) : record_(record) {}

    static int CharWidth(const MarkupFont& font) { return font.size / 2 > 1 ? font.size / 2 : 1; }
    static int LineHeight(const MarkupFont& font) { return font.size + 2; }

    MarkupFont Font() const override { return font_; }
    void SetFont(const MarkupFont& font) override { font_ = font; }
    TColor Brush() const override { return brush_; }
    void SetBrush(TColor color) override { brush_ = color; }
    TColor ToRGB(TColor color) const override;
    int DpiX() const override { return 96; }
    int DpiY() const override { return 96; }
    MarkupSize TextExtent(std::string_view text) override;
    void DrawText(std::string_view text, const MarkupRect& rect, TColor color, bool ellipsis) override;
    void FillRect(const MarkupRect& rect, TColor color) override;
    void Polyline(const int* xy, int points, TColor color) override;
    bool ImageSize(std::string_view source, MarkupSize& size) override;
    void DrawImage(std::string_view source, const MarkupRect& rect, bool stretch) override;
    void TileImage(std::string_view source, const MarkupRect& area) override;

    void AddPicture(const std::string& source, MarkupSize size) { pictures_[source] = size; }

    // What was drawn, in order.
    std::vector<TextCall> texts;
    std::vector<FillCall> fills;
    std::vector<std::vector<int>> lines;
    std::vector<ImageCall> images;
    std::vector<ImageCall> tiles;

private:
    bool record_;
    MarkupFont font_{"Arial", 10};
    TColor brush_ = clNone;
    std::map<std::string, MarkupSize, std::less<>> pictures_;
};
