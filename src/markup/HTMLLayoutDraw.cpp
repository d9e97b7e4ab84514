#include "markup/HTMLLayoutState.h"

#include "markup/MarkupText.h"

namespace keldora::markup {

// The second pass: the line's items drawn, or hit-tested, where the
// first pass placed them.
void HTMLLayout::DrawLine(FormatState& state, Pass pass, const LineBox& box, int lineWidth)
{
    if (pass == Pass::draw) {
        SelectFont(state.font);
        canvas_.SetBrush(state.brush);
    }
    candidate_ = {};
    LineCursor cursor;
    cursor.lineWidth = lineWidth;
    if (pass == Pass::draw && state.paragraphBackground && state.brush != clNone)
        canvas_.FillRect({params_.rect.left, box.top, params_.rect.right, box.bottom}, state.brush);
    LineBox line = box;
    for (const LineItem& item : items_) {
        if (item.kind == LineItem::Kind::tag) {
            DoTag(state, lineTags_[item.tag], pass, line, cursor);
            continue;
        }
        DrawRun(state, item, pass, line, cursor);
        // A line cut with "..." shows its first run only.
        if (box.discardRest)
            break;
    }
    CloseHit(line, cursor);
    if (candidate_.found)
        Report(candidate_);
}

void HTMLLayout::Report(const TextHit& hit)
{
    result_.hit = true;
    result_.anchor = DecodeAttribute(hit.value);
    result_.anchorNumber = hit.number;
    result_.anchorRect = hit.rect;
}

void HTMLLayout::CloseHit(const LineBox& box, const LineCursor& cursor)
{
    if (!candidate_.open)
        return;
    candidate_.open = false;
    candidate_.rect = {Add(box.left, cursor.linkStartX), box.top, Add(box.left, cursor.x), box.bottom};
    if (imageHit_)
        Report(candidate_);
    imageHit_ = false;
}

std::string_view HTMLLayout::ShownText(const LineItem& item) const
{
    return item.shownIsRaw ? item.raw : std::string_view(shownText_).substr(item.shownFrom, item.shownLength);
}

void HTMLLayout::DrawRun(const FormatState& state, const LineItem& run, Pass pass, const LineBox& box,
                         LineCursor& cursor)
{
    if (state.hidden)
        return;
    const int before = cursor.x;
    cursor.x = Add(cursor.x, run.size.cx);
    if (state.inLink)
        canvas_.LinkPlaced(state.links, state.linkValue, ShownText(run),
                           {Add(box.left, before), box.top, Add(box.left, cursor.x), box.Bottom()});
    if (pass == Pass::draw)
        DrawText(state, ShownText(run), box, before, cursor.x);
    if (!state.inLink)
        return;
    // The link is found over the run's whole text, whatever its font.
    const int bottom = RunBottom(state, box);
    if (params_.mouseX >= Add(box.left, before) && params_.mouseX < Add(box.left, cursor.x) &&
        params_.mouseY >= bottom - run.size.cy && params_.mouseY < bottom) {
        candidate_.found = true;
        candidate_.open = true;
        candidate_.value = state.linkValue;
        candidate_.number = state.links;
    }
}

int HTMLLayout::RunBottom(const FormatState& state, const LineBox& box) const
{
    int bottom = box.bottom - box.sub;
    if (state.sup)
        bottom -= box.sup;
    if (state.sub)
        bottom += box.sub;
    return bottom - box.imageOffset;
}

void HTMLLayout::DrawText(const FormatState& state, std::string_view shown, const LineBox& box, int from, int to)
{
    const MarkupRect rect{Add(box.left, from), box.top, params_.ellipsis ? params_.rect.right : Add(box.left, to),
                          RunBottom(state, box)};
    if (state.shadow && params_.shadowColor != clNone) {
        const int offset = params_.shadowOffset;
        canvas_.DrawText(shown, {rect.left + offset, rect.top + offset, rect.right + offset, rect.bottom + offset},
                         params_.shadowColor, params_.ellipsis);
    }
    canvas_.DrawText(shown, rect, state.font.color, params_.ellipsis);
    if (state.errorMark)
        DrawZigzag(rect.left, Add(box.left, to), rect.bottom);
}

// The phase follows the x position, so that the marks of adjacent runs join.
void HTMLLayout::DrawZigzag(int from, int to, int bottom)
{
    std::vector<int> points;
    for (int x = from; x <= to; x += 2) {
        const int step = x >= 0 ? x / 2 : (x - 1) / 2;
        points.push_back(x);
        points.push_back(step % 2 == 0 ? bottom + 1 : bottom - 1);
    }
    if (points.size() >= 4)
        canvas_.Polyline(points.data(), static_cast<int>(points.size() / 2), clRed);
}

} // namespace keldora::markup
