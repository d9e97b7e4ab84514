#include "HTMLLayout.h"

#include "core/StrCon.h"
#include "core/Utf8.h"
#include "widgets/Gradient.h"
#include "widgets/LineBreak.h"
#include "widgets/MarkupTag.h"
#include "widgets/MarkupText.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <type_traits>
#include <vector>

namespace {

constexpr int kListStep = 12; // at 96 dots per inch
constexpr int kMaxListDpi = 96 * 16;
// Runs longer than this are measured by their start first.
constexpr std::size_t kFirstProbe = 256;
constexpr int kMarkupGradientBands = 64;
// Positions stay within this, whatever the text asks for, so that no sum overflows.
constexpr int kPositionLimit = INT_MAX / 4;

int Add(int a, int b)
{
    return static_cast<int>(std::clamp(static_cast<long long>(a) + b, static_cast<long long>(-kPositionLimit),
                                       static_cast<long long>(kPositionLimit)));
}

int Scale(int value, double factor)
{
    return static_cast<int>(std::clamp(value * factor, 0.0, static_cast<double>(kPositionLimit)));
}

enum class Pass { measure, draw, hitTest };
enum class TagEffect { none, endsLine, lineFull };

// A font of the markup, its name an index into the call's table of names,
// so that tags copy and compare it as a few numbers.
struct Font {
    std::uint32_t name = 0;
    int size = 8;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    TColor color = clBlack;
    int escapement = 0;

    // Compared at nearly every tag: as its bytes, which are all value.
    bool operator==(const Font& other) const { return std::memcmp(this, &other, sizeof(Font)) == 0; }
};
static_assert(std::has_unique_object_representations_v<Font>);

// Formatting that tags change; one copy runs through the measuring passes
// and one through the drawing passes, each carried from line to line.
struct FormatState {
    Font font;
    TColor brush = clNone;
    MarkupAlign align = MarkupAlign::left;
    int indent = 0;
    int listLevel = 0;
    bool sub = false;
    bool sup = false;
    bool shadow = false;
    bool hidden = false;
    bool errorMark = false;
    bool inLink = false;
    bool paragraphBackground = false;
    bool fontBrushSaved = false;
    TColor fontBrush = clNone;
    bool highlightSaved = false;
    TColor highlightText = clNone;
    TColor highlightBrush = clNone;
    TColor paragraphBrush = clNone;
    TColor linkBrush = clNone;
    int links = 0;
    int images = 0;
    std::string_view linkValue;
};

// A line as measured by the first pass and placed before the second.
struct LineBox {
    std::size_t consumed = 0;
    bool discardRest = false;
    // Where the line must end instead: before a word that does not fit, whose
    // runs the first pass had already placed.
    std::size_t rewrapAt = std::string_view::npos;
    int width = 0;
    int height = 0;
    int gh = 0; // the height of "gh" in the line's first font
    int sub = 0;
    int sup = 0;
    int imageOffset = 0;
    int left = 0;
    int top = 0;
    int bottom = 0; // once placed

    int Bottom() const { return Add(Add(Add(top, height), sub), sup); }
};

// Where one pass over a line stands.
struct LineCursor {
    int x = 0;
    int lineWidth = 0;
    int trailingBlank = 0;
    bool endsInBlank = false;
    bool holdsText = false;
    bool holdsItem = false;
    int linkStartX = 0;
    std::string_view lastRun; // the text placed last on the line
};

// What the first pass placed on a line, in order: the runs with their
// measured size and shown text, and the tags as read. The second pass draws
// or hit-tests from it, without scanning, reading or measuring again.
struct LineItem {
    enum class Kind : std::uint8_t { run, hiddenRun, tag };
    Kind kind = Kind::run;
    bool shownIsRaw = true; // else the run's shown text is in the line's buffer
    std::uint32_t tag = 0;  // a tag's place among the line's tags
    std::string_view raw{}; // a run as placed
    std::size_t at = 0;     // where the run starts in the line's text
    std::size_t shownFrom = 0;
    std::size_t shownLength = 0;
    MarkupSize size{};
};

struct LineTag {
    LineTag() = default;
    // Read straight into the line's table, not through a copy.
    explicit LineTag(std::string_view text) : tag(ReadMarkupTag(text)) {}

    MarkupTag tag;
    std::uint32_t face = 0; // a FONT FACE's name in the table
};

// Metrics of one font, measured once.
struct FontMetrics {
    Font font;
    int blank = -1; // the width of a blank
    int gh = -1;    // the height of "gh"
};

// The next "<" (or blank, or "&") at or after a position that only moves
// forward, found once for the whole text rather than once per run, so that
// a long stretch without one is searched once.
class ByteFinder {
public:
    ByteFinder(std::string_view text, char byte) : end_(text.data() + text.size()), byte_(byte) {}

    const char* Next(const char* from)
    {
        if (!next_ || next_ < from) {
            next_ = static_cast<const char*>(std::memchr(from, byte_, static_cast<std::size_t>(end_ - from)));
            if (!next_)
                next_ = end_;
        }
        return next_;
    }

private:
    const char* end_;
    char byte_;
    const char* next_ = nullptr;
};

class HTMLLayout {
public:
    HTMLLayout(MarkupCanvas& canvas, const HTMLDrawParams& params) : canvas_(canvas), params_(params) {}

    HTMLDrawResult Run()
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

private:
    struct TextHit {
        bool found = false;
        bool open = false; // its rectangle is still growing
        std::string_view value;
        int number = -1;
        MarkupRect rect{-1, -1, -1, -1};
    };

    // The first pass over the line's text: what fits, measured and kept in
    // the line's items. A word that turns out not to fit, glued to runs
    // already placed, sends the pass back to the line's start to end the
    // line before that word.
    void ResetFinders()
    {
        tags_ = ByteFinder(text_, '<');
        blanks_ = ByteFinder(text_, ' ');
        ampersands_ = ByteFinder(text_, '&');
    }

    LineBox MeasureLine(FormatState& state, std::string_view text, int lineWidth, int gh)
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

    LineBox RunLine(FormatState& state, std::string_view text, int lineWidth, int gh)
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
    const LineTag& ReadTag(std::string_view text)
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

    // The second pass: the line's items drawn, or hit-tested, where the
    // first pass placed them.
    void DrawLine(FormatState& state, Pass pass, const LineBox& box, int lineWidth)
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

    void Place(const FormatState& state, LineBox& box, int top) const
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

    void Report(const TextHit& hit)
    {
        result_.hit = true;
        result_.anchor = DecodeAttribute(hit.value);
        result_.anchorNumber = hit.number;
        result_.anchorRect = hit.rect;
    }

    void CloseHit(const LineBox& box, const LineCursor& cursor)
    {
        if (!candidate_.open)
            return;
        candidate_.open = false;
        candidate_.rect = {Add(box.left, cursor.linkStartX), box.top, Add(box.left, cursor.x), box.bottom};
        if (imageHit_)
            Report(candidate_);
        imageHit_ = false;
    }

    bool Highlighted(int link) const { return !params_.hoverStyle || link == params_.hoverLink; }

    std::string_view ShownText(const LineItem& item) const
    {
        return item.shownIsRaw ? item.raw : std::string_view(shownText_).substr(item.shownFrom, item.shownLength);
    }

    void DrawRun(const FormatState& state, const LineItem& run, Pass pass, const LineBox& box, LineCursor& cursor)
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

    // The bytes of the run placed on the line: all of it, none when it is
    // left for the next line, or the characters that fit of a run wider than
    // the line. A hidden run counts only for the line's height.
    std::size_t MeasureRun(const FormatState& state, std::string_view raw, bool entities, std::size_t at, LineBox& box,
                           LineCursor& cursor)
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

    void KeepRun(std::string_view raw, bool entities, std::size_t at, const MarkupSize& size)
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
    MarkupSize MeasureLongRun(std::string_view raw, int lineWidth)
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

    void Placed(std::string_view raw, LineCursor& cursor)
    {
        cursor.endsInBlank = raw.back() == ' ';
        cursor.trailingBlank = cursor.endsInBlank ? BlankWidth() : 0;
        cursor.holdsText = true;
        cursor.lastRun = raw;
    }

    // The run as drawn: its entities replaced. The last one is kept, since
    // a run is measured and then kept.
    std::string_view Shown(std::string_view raw)
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
    std::size_t Fits(std::string_view raw, int runWidth, LineCursor& cursor, LineBox& box)
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

    static char32_t FirstCharacter(std::string_view raw)
    {
        const Utf8Char c = DecodeUtf8At(raw, 0);
        return c.valid ? c.code : 0xFFFD;
    }

    // Whether a line may end between these neighbouring runs.
    static bool BreaksBefore(std::string_view before, std::string_view run)
    {
        return before.back() == ' ' || BreaksBetween(CharacterBefore(before, before.size()), FirstCharacter(run));
    }

    // The start of the last run of the line before which the line may end;
    // npos when the line holds one word.
    std::size_t LastBreak() const
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
    std::size_t FittingPrefix(std::string_view raw, int room)
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

    int RunBottom(const FormatState& state, const LineBox& box) const
    {
        int bottom = box.bottom - box.sub;
        if (state.sup)
            bottom -= box.sup;
        if (state.sub)
            bottom += box.sub;
        return bottom - box.imageOffset;
    }

    void DrawText(const FormatState& state, std::string_view shown, const LineBox& box, int from, int to)
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
    void DrawZigzag(int from, int to, int bottom)
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

    // The index of a font name in the call's table, added when new.
    std::uint32_t NameIndex(std::string_view name)
    {
        const auto found = nameIndex_.find(name);
        if (found != nameIndex_.end())
            return found->second;
        const auto index = static_cast<std::uint32_t>(canvasFonts_.size());
        canvasFonts_.push_back({std::string(name)});
        nameIndex_.emplace(name, index);
        return index;
    }

    void SelectFont(const Font& font)
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
    FontMetrics& Metrics()
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
    int BlankWidth()
    {
        FontMetrics& metrics = Metrics();
        if (metrics.blank < 0)
            metrics.blank = canvas_.TextExtent(" ").cx;
        return metrics.blank;
    }

    // The height of "gh" in the selected font, measured once per font.
    int Gh()
    {
        FontMetrics& metrics = Metrics();
        if (metrics.gh < 0)
            metrics.gh = canvas_.TextExtent("gh").cy;
        return metrics.gh;
    }

    void SetBrush(FormatState& state, TColor color)
    {
        state.brush = color;
        canvas_.SetBrush(color);
    }

    // The canvas follows the state's font; nothing is drawn or measured in
    // a hit test.
    TagEffect DoTag(FormatState& state, const LineTag& tag, Pass pass, LineBox& box, LineCursor& cursor)
    {
        const TagEffect effect = ApplyTag(state, tag.tag, tag.face, pass, box, cursor);
        if (pass != Pass::hitTest)
            SelectFont(state.font);
        return effect;
    }

    TagEffect ApplyTag(FormatState& state, const MarkupTag& tag, std::uint32_t face, Pass pass, LineBox& box,
                       LineCursor& cursor)
    {
        const bool drawing = pass == Pass::draw;
        switch (tag.kind) {
        case MarkupTagKind::link:
            OpenLink(state, tag.text, pass, cursor);
            break;
        case MarkupTagKind::bold:
            state.font.bold = true;
            break;
        case MarkupTagKind::lineBreak:
            return TagEffect::endsLine;
        case MarkupTagKind::body:
            if (drawing)
                DrawBody(tag.text);
            break;
        case MarkupTagKind::blink:
            state.font.color = startBrush_;
            break;
        case MarkupTagKind::errorMark:
            state.errorMark = true;
            break;
        case MarkupTagKind::font:
            DoFont(state, tag, face);
            break;
        case MarkupTagKind::highlight:
            state.highlightSaved = true;
            state.highlightText = state.font.color;
            state.highlightBrush = state.brush;
            SetBrush(state, clHighlight);
            state.font.color = clHighlightText;
            break;
        case MarkupTagKind::rule:
            if (drawing) {
                const int y = box.bottom + 1;
                const int line[] = {params_.rect.left, y, params_.rect.right, y};
                canvas_.Polyline(line, 2, clBlack);
            }
            return TagEffect::endsLine;
        case MarkupTagKind::italic:
            state.font.italic = true;
            break;
        case MarkupTagKind::indent:
            if (tag.number && *tag.number > cursor.x)
                cursor.x = *tag.number;
            break;
        case MarkupTagKind::image:
            return DoImage(state, tag.text, pass, box, cursor);
        case MarkupTagKind::listItem:
            return DoListItem(state, pass, box, cursor);
        case MarkupTagKind::paragraph:
            DoParagraph(state, tag, pass, box);
            break;
        case MarkupTagKind::rotate:
            if (tag.number)
                state.font.escapement = *tag.number;
            break;
        case MarkupTagKind::strikeOut:
            state.font.strikeOut = true;
            break;
        case MarkupTagKind::subscript:
            state.sub = true;
            break;
        case MarkupTagKind::superscript:
            state.sup = true;
            break;
        case MarkupTagKind::shadow:
            state.shadow = true;
            break;
        case MarkupTagKind::underline:
            state.font.underline = true;
            break;
        case MarkupTagKind::list:
            state.listLevel = std::min(state.listLevel + 1, kMaxMarkupNumber);
            return TagEffect::endsLine;
        case MarkupTagKind::hidden:
            state.hidden = true;
            break;
        default:
            return ApplyClosingTag(state, tag, pass, box, cursor);
        }
        return TagEffect::none;
    }

    TagEffect ApplyClosingTag(FormatState& state, const MarkupTag& tag, Pass pass, const LineBox& box,
                              const LineCursor& cursor)
    {
        switch (tag.kind) {
        case MarkupTagKind::linkEnd:
            CloseLink(state, pass, box, cursor);
            break;
        case MarkupTagKind::boldEnd:
            state.font.bold = false;
            break;
        case MarkupTagKind::colorEnd:
            state.font.color = base_.color;
            break;
        case MarkupTagKind::errorMarkEnd:
            state.errorMark = false;
            break;
        case MarkupTagKind::fontEnd:
            state.font.name = base_.name;
            state.font.size = base_.size;
            state.font.color = base_.color;
            if (state.fontBrushSaved) {
                state.fontBrushSaved = false;
                SetBrush(state, state.fontBrush);
            }
            break;
        case MarkupTagKind::highlightEnd:
            if (state.highlightSaved) {
                state.highlightSaved = false;
                state.font.color = state.highlightText;
                SetBrush(state, state.highlightBrush);
            }
            break;
        case MarkupTagKind::italicEnd:
            state.font.italic = false;
            break;
        case MarkupTagKind::listItemEnd:
            return TagEffect::endsLine;
        case MarkupTagKind::paragraphEnd:
            SetBrush(state, state.paragraphBrush);
            state.paragraphBackground = false;
            return TagEffect::endsLine;
        case MarkupTagKind::rotateEnd:
            state.font.escapement = 0;
            break;
        case MarkupTagKind::scriptEnd:
            state.sub = state.sup = false;
            break;
        case MarkupTagKind::shadowEnd:
            state.shadow = false;
            break;
        case MarkupTagKind::strikeOutEnd:
            state.font.strikeOut = false;
            break;
        case MarkupTagKind::underlineEnd:
            state.font.underline = false;
            break;
        case MarkupTagKind::listEnd:
            if (state.listLevel > 0)
                --state.listLevel;
            else
                state.font.underline = false;
            break;
        case MarkupTagKind::hiddenEnd:
            state.hidden = false;
            break;
        default:
            break;
        }
        return TagEffect::none;
    }

    void OpenLink(FormatState& state, std::string_view value, Pass pass, LineCursor& cursor)
    {
        ++state.links;
        state.inLink = true;
        state.linkValue = value;
        cursor.linkStartX = cursor.x;
        if (pass == Pass::measure && state.links == params_.focusLink)
            result_.focusAnchor = DecodeAttribute(state.linkValue);
        const bool hovered = state.links == params_.hoverLink;
        if (Highlighted(state.links)) {
            state.font.underline = true;
            if (params_.hoverColor != clNone && pass == Pass::draw) {
                state.linkBrush = state.brush;
                SetBrush(state, params_.hoverColor);
            }
        }
        TColor color = params_.linkColor;
        if (hovered && Highlighted(state.links) && params_.hoverFontColor != clNone)
            color = params_.hoverFontColor;
        if (color != clNone)
            state.font.color = color;
    }

    void CloseLink(FormatState& state, Pass pass, const LineBox& box, const LineCursor& cursor)
    {
        if (Highlighted(state.links)) {
            state.font.underline = false;
            if (params_.hoverColor != clNone && pass == Pass::draw)
                SetBrush(state, state.linkBrush);
        }
        state.font.color = base_.color;
        state.inLink = false;
        if (pass != Pass::measure && candidate_.number == state.links)
            CloseHit(box, cursor);
    }

    void DoFont(FormatState& state, const MarkupTag& tag, std::uint32_t face)
    {
        if (tag.face)
            state.font.name = face;
        if (tag.color)
            state.font.color = *tag.color;
        if (tag.background) {
            state.fontBrushSaved = true;
            state.fontBrush = state.brush;
            SetBrush(state, *tag.background);
        }
        if (tag.number)
            state.font.size = *tag.number;
    }

    void DoParagraph(FormatState& state, const MarkupTag& tag, Pass pass, const LineBox& box)
    {
        if (tag.align)
            state.align = *tag.align;
        if (tag.number)
            state.indent = *tag.number;
        if (!tag.background)
            return;
        state.paragraphBrush = state.brush;
        state.paragraphBackground = true;
        const MarkupRect line{params_.rect.left, box.top, params_.rect.right, box.Bottom()};
        if (tag.backgroundTo) {
            SetBrush(state, clNone);
            if (pass == Pass::draw)
                FillGradient(canvas_, {line.left, line.top, line.right, line.bottom + 2}, *tag.background,
                             *tag.backgroundTo, kMarkupGradientBands, /*leftToRight=*/true);
            return;
        }
        SetBrush(state, *tag.background);
        if (pass == Pass::draw)
            canvas_.FillRect(line, *tag.background);
    }

    void DrawBody(std::string_view tag)
    {
        const MarkupRect& rect = params_.rect;
        if (const auto value = AttributeValue(tag, "BACKGROUND")) {
            const std::string picture = DecodeAttribute(*value);
            MarkupSize size;
            if (canvas_.ImageSize(picture, size))
                canvas_.TileImage(picture, rect);
        }
        const auto background = AttributeValue(tag, "BGCOLOR");
        if (!background)
            return;
        const MarkupRect area{rect.left - 2, rect.top, rect.right, rect.bottom};
        const TColor color = ParseHTMLColor(*background);
        const auto to = AttributeValue(tag, "BGCOLORTO");
        if (!to) {
            canvas_.FillRect(area, color);
            return;
        }
        const auto direction = AttributeValue(tag, "DIR");
        FillGradient(canvas_, area, color, ParseHTMLColor(*to), kMarkupGradientBands,
                     !direction || SameText(*direction, "H"));
    }

    TagEffect DoListItem(FormatState& state, Pass pass, const LineBox& box, LineCursor& cursor)
    {
        if (cursor.holdsItem)
            return TagEffect::lineFull;
        cursor.holdsItem = true;
        if (state.hidden)
            return TagEffect::none;
        const int level = std::max(state.listLevel, 1);
        // The indent grows with the dots per inch, as the fonts do.
        const int step = kListStep * std::clamp(canvas_.DpiX(), 1, kMaxListDpi) / 96;
        const int bulletX = Add(cursor.x, (level - 1) * step);
        cursor.x = Add(cursor.x, level * step);
        if (pass != Pass::draw)
            return TagEffect::none;
        Font bulletFont = state.font;
        if (!symbolName_)
            symbolName_ = NameIndex("Symbol");
        bulletFont.name = *symbolName_;
        bulletFont.underline = false;
        SelectFont(bulletFont);
        // 0xB7 is the Symbol font's bullet: the system maps U+0020 to U+00FF to
        // a symbol font's own codes, as the narrow calls did with that byte.
        const std::string_view bullet = level % 2 == 1 ? "\u00B7" : "o";
        canvas_.DrawText(bullet, {Add(box.left, bulletX), box.top, Add(box.left, cursor.x), RunBottom(state, box)},
                         state.font.color, /*ellipsis=*/false);
        SelectFont(state.font);
        return TagEffect::none;
    }

    TagEffect DoImage(FormatState& state, std::string_view tag, Pass pass, LineBox& box, LineCursor& cursor)
    {
        ++state.images;
        const auto value = AttributeValue(tag, "SRC");
        if (!value || state.hidden)
            return TagEffect::none;
        const std::string source = DecodeAttribute(*value);
        MarkupSize size;
        if (!canvas_.ImageSize(source, size))
            return TagEffect::none;
        const int width = MarkupNumber(AttributeValue(tag, "WIDTH").value_or(""));
        const int height = MarkupNumber(AttributeValue(tag, "HEIGHT").value_or(""));
        const bool stretch = width >= 1 && height >= 1;
        if (stretch)
            size = {width * canvas_.DpiX() / 96, height * canvas_.DpiY() / 96};
        size = {Scale(size.cx, params_.imageScale), Scale(size.cy, params_.imageScale)};
        if (pass == Pass::measure) {
            if (Add(cursor.x, size.cx) > cursor.lineWidth && size.cx < cursor.lineWidth && cursor.x > 0)
                return TagEffect::lineFull;
            cursor.x = Add(cursor.x, size.cx);
            box.height = std::max(box.height, size.cy);
            AlignImage(tag, box);
            return TagEffect::none;
        }
        const MarkupRect rect{Add(box.left, cursor.x), box.top, Add(Add(box.left, cursor.x), size.cx),
                              Add(box.top, size.cy)};
        cursor.x = Add(cursor.x, size.cx);
        if (state.inLink)
            canvas_.LinkPlaced(state.links, state.linkValue, {}, rect);
        const bool underMouse = rect.Contains(params_.mouseX, params_.mouseY);
        if (underMouse && state.inLink) {
            candidate_ = {true, true, state.linkValue, state.links, {}};
            imageHit_ = true;
        }
        if (pass == Pass::draw) {
            const auto alternative = AttributeValue(tag, "ALT");
            canvas_.DrawImage(underMouse && alternative ? DecodeAttribute(*alternative) : source, rect, stretch);
        }
        return TagEffect::none;
    }

    static void AlignImage(std::string_view tag, LineBox& box)
    {
        const std::size_t align = FindNoCase(tag, "ALIGN");
        if (align == std::string_view::npos)
            return;
        const std::string_view rest = tag.substr(align);
        if (FindNoCase(rest, "\"TOP") != std::string_view::npos)
            box.imageOffset = box.height - box.gh;
        else if (FindNoCase(rest, "\"MIDDLE") != std::string_view::npos)
            box.imageOffset = (box.height - box.gh) / 2;
    }

    MarkupCanvas& canvas_;
    const HTMLDrawParams& params_;
    Font base_;
    TColor startBrush_ = clNone;
    HTMLDrawResult result_;
    TextHit candidate_;
    bool imageHit_ = false;
    std::string_view text_;
    // A canvas font for each font name, the canvas's first, then each met:
    // a switch of fonts copies no name.
    std::vector<MarkupFont> canvasFonts_;
    std::map<std::string, std::uint32_t, std::less<>> nameIndex_;
    std::optional<std::uint32_t> symbolName_;
    Font selected_;
    bool fontSelected_ = false;
    std::array<FontMetrics, 16> fontMetrics_;
    FontMetrics* metrics_ = nullptr; // of the selected font, once asked for
    // The line's items and the shown text of its runs with entities.
    std::vector<LineItem> items_;
    std::vector<LineTag> lineTags_;
    LineTag lastValued_;
    std::string shownText_;
    // Where each character of a run being fitted ends (character i + 1 at
    // [i]), kept so that each line does not grow it anew.
    std::vector<std::size_t> characterEnds_;
    std::string scratch_;
    std::string_view scratchOf_;
    ByteFinder tags_{{}, '<'};
    ByteFinder blanks_{{}, ' '};
    ByteFinder ampersands_{{}, '&'};
    // Both measuring attempts of a line ask it about the same positions.
    IdeographBreaks breaks_{{}};
};

} // namespace

HTMLDrawResult DrawHTMLText(MarkupCanvas& canvas, const HTMLDrawParams& params)
{
    return HTMLLayout(canvas, params).Run();
}
