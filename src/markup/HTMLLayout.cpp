#include "HTMLLayout.h"

#include "markup/HTMLLayoutState.h"
#include "markup/MarkupText.h"

namespace keldora::markup {

HTMLDrawResult HTMLLayout::Run()
{
    const std::string text = PrepareMarkup(params_.text);
    text_ = text;
    ResetFinders();
    breaks_ = IdeographBreaks(text);
    const MarkupFont base = canvas_.Font();
    canvasFonts_.push_back(base);
    base_ = {0, base.size, base.bold, base.italic, base.underline, base.strikeOut, base.color, base.escapement};
    startBrush_ = canvas_.Brush();
    canvas_.SetBrush(clNone);
    FormatState measuring, drawing;
    measuring.font = drawing.font = base_;
    int top = params_.rect.top;
    std::size_t pos = 0;
    while (pos < text.size()) {
        SelectFont(measuring.font);
        const int gh = Gh();
        const int lineWidth = std::max(0, params_.rect.Width() - measuring.indent);
        LineBox box = MeasureLine(measuring, std::string_view(text).substr(pos), lineWidth, gh);
        box.height = Add(box.height, params_.lineSpacing);
        result_.width = std::max(result_.width, box.width);
        Place(measuring, box, top);
        if (!params_.measureOnly)
            DrawLine(drawing, params_.hitTestOnly ? Pass::hitTest : Pass::draw, box, lineWidth);
        pos = box.discardRest ? text.size() : pos + box.consumed;
        const int advance = Add(Add(box.height, box.sub), box.sup);
        top = Add(top, advance);
        result_.height = Add(result_.height, advance);
        if (!params_.measureOnly && Add(top, gh) > params_.rect.bottom)
            break;
    }
    result_.linkCount = measuring.links;
    SelectFont(base_);
    if (result_.height == 0)
        result_.height = Gh();
    canvas_.SetBrush(startBrush_);
    return result_;
}

void HTMLLayout::ResetFinders()
{
    tags_ = ByteFinder(text_, '<');
    blanks_ = ByteFinder(text_, ' ');
    ampersands_ = ByteFinder(text_, '&');
}

void HTMLLayout::Place(const FormatState& state, LineBox& box, int top) const
{
    const MarkupRect& rect = params_.rect;
    box.left = rect.left;
    box.top = top;
    if (state.align == MarkupAlign::right && rect.right - box.width > box.left)
        box.left = rect.right - box.width;
    if (state.align == MarkupAlign::center && rect.Width() - box.width > 0)
        box.left += (rect.Width() - box.width) / 2;
    box.left = Add(box.left, state.indent);
    box.bottom = box.Bottom();
}

// The index of a font name in the call's table, added when new.
std::uint32_t HTMLLayout::NameIndex(std::string_view name)
{
    const auto found = nameIndex_.find(name);
    if (found != nameIndex_.end())
        return found->second;
    const auto index = static_cast<std::uint32_t>(canvasFonts_.size());
    canvasFonts_.push_back({std::string(name)});
    nameIndex_.emplace(name, index);
    return index;
}

void HTMLLayout::SelectFont(const Font& font)
{
    if (fontSelected_ && font == selected_)
        return;
    MarkupFont& canvasFont = canvasFonts_[font.name];
    canvasFont.size = font.size;
    canvasFont.bold = font.bold;
    canvasFont.italic = font.italic;
    canvasFont.underline = font.underline;
    canvasFont.strikeOut = font.strikeOut;
    canvasFont.color = font.color;
    canvasFont.escapement = font.escapement;
    canvas_.SetFont(canvasFont);
    selected_ = font;
    fontSelected_ = true;
    metrics_ = nullptr;
}

// The metrics of the selected font. Text goes back and forth between a
// few fonts: the metrics of some are kept, each in a place chosen by
// the font.
FontMetrics& HTMLLayout::Metrics()
{
    if (metrics_)
        return *metrics_;
    const Font& font = selected_;
    const std::size_t place =
        (font.name * 31u + static_cast<unsigned>(font.size) * 7u + font.color + (font.bold ? 1u : 0u) +
         (font.italic ? 2u : 0u) + static_cast<unsigned>(font.escapement)) %
        fontMetrics_.size();
    metrics_ = &fontMetrics_[place];
    if (!(metrics_->font == font))
        *metrics_ = {font};
    return *metrics_;
}

// The width of a blank in the selected font, measured once per font.
int HTMLLayout::BlankWidth()
{
    FontMetrics& metrics = Metrics();
    if (metrics.blank < 0)
        metrics.blank = canvas_.TextExtent(" ").cx;
    return metrics.blank;
}

// The height of "gh" in the selected font, measured once per font.
int HTMLLayout::Gh()
{
    FontMetrics& metrics = Metrics();
    if (metrics.gh < 0)
        metrics.gh = canvas_.TextExtent("gh").cy;
    return metrics.gh;
}

void HTMLLayout::SetBrush(FormatState& state, TColor color)
{
    state.brush = color;
    canvas_.SetBrush(color);
}

} // namespace keldora::markup

HTMLDrawResult DrawHTMLText(MarkupCanvas& canvas, const HTMLDrawParams& params)
{
    return keldora::markup::HTMLLayout(canvas, params).Run();
}
