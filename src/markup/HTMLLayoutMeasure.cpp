#include "markup/HTMLLayoutState.h"

#include "core/Utf8.h"
#include "markup/MarkupText.h"

namespace keldora::markup {

namespace {

// Runs longer than this are measured by their start first.
constexpr std::size_t kFirstProbe = 256;

} // namespace

// The first pass over the line's text: what fits, measured and kept in
// the line's items. A word that turns out not to fit, glued to runs
// already placed, sends the pass back to the line's start to end the
// line before that word.
LineBox HTMLLayout::MeasureLine(FormatState& state, std::string_view text, int lineWidth, int gh)
{
    const FormatState lineStart = state;
    const LineBox box = RunLine(state, text, lineWidth, gh);
    if (box.rewrapAt == std::string_view::npos)
        return box;
    state = lineStart;
    SelectFont(state.font);
    ResetFinders(); // they only go forward
    return RunLine(state, text.substr(0, box.rewrapAt), lineWidth, gh);
}

LineBox HTMLLayout::RunLine(FormatState& state, std::string_view text, int lineWidth, int gh)
{
    LineBox box;
    box.height = box.gh = gh;
    const auto base = static_cast<std::size_t>(text.data() - text_.data());
    LineCursor cursor;
    cursor.lineWidth = lineWidth;
    items_.clear();
    lineTags_.clear();
    shownText_.clear();
    std::size_t pos = 0;
    bool ended = false;
    while (pos < text.size() && !ended) {
        const auto tagAt = static_cast<std::size_t>(tags_.Next(text.data() + pos) - text.data());
        std::size_t runEnd = std::min(tagAt, text.size());
        if (runEnd > pos && !params_.ellipsis) {
            const auto blank = static_cast<std::size_t>(blanks_.Next(text.data() + pos) - text.data());
            if (blank < runEnd)
                runEnd = blank + 1; // a run takes its blank
            runEnd = breaks_.Next(base + pos, base + runEnd) - base;
        }
        if (runEnd > pos) {
            const bool entities = ampersands_.Next(text.data() + pos) < text.data() + runEnd;
            const std::size_t placed =
                MeasureRun(state, text.substr(pos, runEnd - pos), entities, pos, box, cursor);
            pos += placed;
            if (pos < runEnd || box.discardRest)
                break;
        }
        if (pos >= text.size() || text[pos] != '<')
            continue;
        if (text.size() - pos < 3) {
            pos = text.size();
            break;
        }
        const std::size_t close = text.find('>', pos);
        const std::size_t tagEnd = close == std::string_view::npos ? text.size() : close + 1;
        const LineTag& tag = ReadTag(text.substr(pos, tagEnd - pos));
        const TagEffect effect = DoTag(state, tag, Pass::measure, box, cursor);
        if (effect == TagEffect::lineFull || tag.tag.kind == MarkupTagKind::none) {
            lineTags_.pop_back();
        } else {
            items_.push_back({.kind = LineItem::Kind::tag, .tag = static_cast<std::uint32_t>(lineTags_.size() - 1)});
        }
        if (effect == TagEffect::lineFull)
            break;
        pos = tagEnd;
        ended = effect == TagEffect::endsLine;
    }
    box.consumed = pos;
    box.width = std::max(0, cursor.x - cursor.trailingBlank);
    return box;
}

// The tag read into the line's table. A label repeats its FONT and P
// tags word for word: the last of them is kept, so that one is read once.
const LineTag& HTMLLayout::ReadTag(std::string_view text)
{
    if (text == lastValued_.tag.text)
        return lineTags_.emplace_back(lastValued_);
    LineTag& tag = lineTags_.emplace_back(text);
    if (tag.tag.face)
        tag.face = NameIndex(DecodeAttribute(*tag.tag.face));
    if (tag.tag.kind == MarkupTagKind::font || tag.tag.kind == MarkupTagKind::paragraph)
        lastValued_ = tag;
    return tag;
}

// The bytes of the run placed on the line: all of it, none when it is
// left for the next line, or the characters that fit of a run wider than
// the line. A hidden run counts only for the line's height.
std::size_t HTMLLayout::MeasureRun(const FormatState& state, std::string_view raw, bool entities, std::size_t at,
                                   LineBox& box, LineCursor& cursor)
{
    const bool whole = raw.size() <= kFirstProbe || params_.ellipsis;
    MarkupSize size = whole ? canvas_.TextExtent(entities ? Shown(raw) : raw) : MeasureLongRun(raw, cursor.lineWidth);
    box.height = std::max(box.height, size.cy);
    if (state.sub)
        box.sub = std::max(box.sub, size.cy / 4);
    if (state.sup)
        box.sup = std::max(box.sup, size.cy / 4);
    if (state.hidden) {
        items_.push_back({.kind = LineItem::Kind::hiddenRun});
        return raw.size();
    }
    const int before = cursor.x;
    cursor.x = Add(cursor.x, size.cx);
    const std::size_t fits = cursor.x < cursor.lineWidth ? raw.size() : Fits(raw, size.cx, cursor, box);
    if (fits == 0)
        return 0;
    if (fits < raw.size() || !whole) {
        raw = raw.substr(0, fits);
        size = canvas_.TextExtent(Shown(raw));
        cursor.x = Add(before, size.cx);
    }
    Placed(raw, cursor);
    KeepRun(raw, entities, at, size);
    return raw.size();
}

void HTMLLayout::KeepRun(std::string_view raw, bool entities, std::size_t at, const MarkupSize& size)
{
    LineItem& item = items_.emplace_back(LineItem{.raw = raw, .at = at, .size = size});
    if (!entities)
        return;
    const std::string_view shown = Shown(raw);
    // Entities shorten a run: one as long as it shows as written.
    if (shown.size() == raw.size())
        return;
    item.shownIsRaw = false;
    item.shownFrom = shownText_.size();
    item.shownLength = shown.size();
    shownText_ += shown;
}

// The size of a long run, or of a start of it already wider than the
// line, which is all the line rule needs to know: so a long text without
// blanks is not measured whole on every line.
MarkupSize HTMLLayout::MeasureLongRun(std::string_view raw, int lineWidth)
{
    std::size_t end = 0;
    for (std::size_t probe = kFirstProbe; probe < raw.size(); probe *= 2) {
        while (end < probe)
            end = NextCharacter(raw, end);
        if (end >= raw.size())
            break;
        const MarkupSize size = canvas_.TextExtent(Shown(raw.substr(0, end)));
        if (size.cx > lineWidth)
            return size;
    }
    return canvas_.TextExtent(Shown(raw));
}

void HTMLLayout::Placed(std::string_view raw, LineCursor& cursor)
{
    cursor.endsInBlank = raw.back() == ' ';
    cursor.trailingBlank = cursor.endsInBlank ? BlankWidth() : 0;
    cursor.holdsText = true;
    cursor.lastRun = raw;
}

// The run as drawn: its entities replaced. The last one is kept, since
// a run is measured and then kept.
std::string_view HTMLLayout::Shown(std::string_view raw)
{
    if (raw.find('&') == std::string_view::npos)
        return raw;
    if (raw.data() != scratchOf_.data() || raw.size() != scratchOf_.size()) {
        scratch_.clear();
        AppendRunEntities(scratch_, raw);
        scratchOf_ = raw;
    }
    return scratch_;
}

// Measuring, for a run that reaches the line's width: the bytes of the
// run that stay on the line (see MeasureRun). A run that does not fit
// moves to the next line where the line may break before it; a run glued
// to the text before it goes down with its word. Where the line may not
// break at all (one word, a line that holds no text yet) the run stays,
// broken between characters when it does not fit.
std::size_t HTMLLayout::Fits(std::string_view raw, int runWidth, LineCursor& cursor, LineBox& box)
{
    if (params_.ellipsis) {
        if (cursor.x > cursor.lineWidth && cursor.holdsText)
            box.discardRest = true;
        return raw.size();
    }
    const int before = cursor.x - runWidth;
    const bool breakBefore = cursor.holdsText && BreaksBefore(cursor.lastRun, raw);
    if (!breakBefore && cursor.holdsText) {
        if (const std::size_t wordStart = LastBreak(); wordStart != std::string_view::npos) {
            box.rewrapAt = wordStart;
            cursor.x = before;
            return 0;
        }
    }
    std::size_t fits = breakBefore ? 0 : FittingPrefix(raw, cursor.lineWidth - before);
    if (fits == 0 && !cursor.holdsText)
        fits = NextCharacter(raw, 0); // a line holds at least one character
    if (fits == 0) {
        cursor.x = before;
        return 0;
    }
    // The run's blank, its last character, stays with it, past the edge,
    // as a trailing blank always has.
    return fits + (fits < raw.size() && raw[fits] == ' ' ? 1 : 0);
}

char32_t HTMLLayout::FirstCharacter(std::string_view raw)
{
    const Utf8Char c = DecodeUtf8At(raw, 0);
    return c.valid ? c.code : 0xFFFD;
}

// Whether a line may end between these neighbouring runs.
bool HTMLLayout::BreaksBefore(std::string_view before, std::string_view run)
{
    return before.back() == ' ' || BreaksBetween(CharacterBefore(before, before.size()), FirstCharacter(run));
}

// The start of the last run of the line before which the line may end;
// npos when the line holds one word.
std::size_t HTMLLayout::LastBreak() const
{
    const LineItem* after = nullptr;
    for (auto item = items_.rbegin(); item != items_.rend(); ++item) {
        if (item->kind != LineItem::Kind::run)
            continue;
        if (after && BreaksBefore(item->raw, after->raw))
            return after->at;
        after = &*item;
    }
    return std::string_view::npos;
}

// The longest start of the run, ending between characters, that is at
// most `room` wide (0 when not even one character is); the whole run is
// wider. Found by doubling, then halving, so that a line of k characters
// costs measurements of about k log k characters however long the run.
std::size_t HTMLLayout::FittingPrefix(std::string_view raw, int room)
{
    std::vector<std::size_t>& ends = characterEnds_;
    ends.clear();
    const auto available = [&](std::size_t wanted) {
        std::size_t end = ends.empty() ? 0 : ends.back();
        while (ends.size() < wanted && end < raw.size()) {
            end = NextCharacter(raw, end);
            ends.push_back(end);
        }
        return std::min(wanted, ends.size());
    };
    const auto fits = [&](std::size_t characters) {
        return canvas_.TextExtent(Shown(raw.substr(0, ends[characters - 1]))).cx <= room;
    };
    std::size_t fitting = 0;
    std::size_t over = 0;
    for (std::size_t wanted = 1; over == 0; wanted *= 2) {
        const std::size_t characters = available(wanted);
        if (!fits(characters))
            over = characters;
        else if (characters < wanted)
            return raw.size();
        else
            fitting = characters;
    }
    while (over - fitting > 1) {
        const std::size_t middle = fitting + (over - fitting) / 2;
        if (fits(middle))
            fitting = middle;
        else
            over = middle;
    }
    return fitting == 0 ? 0 : ends[fitting - 1];
}

} // namespace keldora::markup
