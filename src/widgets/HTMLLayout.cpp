#include "HTMLLayout.h"

#include "core/StrCon.h"
#include "core/Utf8.h"
#include "widgets/Gradient.h"
#include "widgets/LineBreak.h"
#include "widgets/MarkupText.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr int kListStep = 12; // at 96 dots per inch
constexpr int kMaxListDpi = 96 * 16;
// Runs longer than this are measured by their start first.
constexpr std::size_t kFirstProbe = 256;
constexpr int kMarkupGradientBands = 64;
// Positions stay within this, whatever the text asks for, so that no sum overflows.
constexpr int kPositionLimit = INT_MAX / 4;
constexpr int kPointsPerSizeStep[] = {8, 10, 12, 14, 16};

int Add(int a, int b)
{
    return static_cast<int>(std::clamp(static_cast<long long>(a) + b, static_cast<long long>(-kPositionLimit),
                                       static_cast<long long>(kPositionLimit)));
}

int Scale(int value, double factor)
{
    return static_cast<int>(std::clamp(value * factor, 0.0, static_cast<double>(kPositionLimit)));
}

enum class Align { left, right, center };
enum class Pass { measure, draw, hitTest };
enum class TagEffect { none, endsLine, lineFull };

// Formatting that tags change; one copy runs through the measuring passes
// and one through the drawing passes, each carried from line to line.
struct FormatState {
    MarkupFont font;
    TColor brush = clNone;
    Align align = Align::left;
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
    int width = 0;
    int height = 0;
    int sub = 0;
    int sup = 0;
    int imageOffset = 0;
    int left = 0;
    int top = 0;

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

// The next "<" (or blank) at or after a position that only moves forward,
// found once for the whole text rather than once per run, so that a long
// stretch without tags (or blanks) is searched once.
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

std::string_view FirstQuoted(std::string_view tag)
{
    return AttributeValue(tag, "").value_or(std::string_view());
}

char UpperAt(std::string_view text, std::size_t i)
{
    return i < text.size() ? UpperChar(text[i]) : '\0';
}

class HTMLLayout {
public:
    HTMLLayout(MarkupCanvas& canvas, const HTMLDrawParams& params) : canvas_(canvas), params_(params) {}

    HTMLDrawResult Run()
    {
        const std::string text = PrepareMarkup(params_.text);
        text_ = text;
        measuringTags_ = ByteFinder(text, '<');
        drawingTags_ = ByteFinder(text, '<');
        measuringBlanks_ = ByteFinder(text, ' ');
        drawingBlanks_ = ByteFinder(text, ' ');
        breaks_ = IdeographBreaks(text);
        const MarkupFont base = canvas_.Font();
        const TColor startBrush = canvas_.Brush();
        base_ = base;
        startBrush_ = startBrush;
        canvas_.SetBrush(clNone);
        FormatState measuring, drawing;
        measuring.font = drawing.font = base;
        int top = params_.rect.top;
        std::size_t pos = 0;
        while (pos < text.size()) {
            SelectFont(measuring.font);
            const int gh = canvas_.TextExtent("gh").cy;
            const int lineWidth = std::max(0, params_.rect.Width() - measuring.indent);
            LineBox box;
            box.height = gh;
            RunLine(measuring, std::string_view(text).substr(pos), Pass::measure, box, lineWidth, gh);
            box.height = Add(box.height, params_.lineSpacing);
            result_.width = std::max(result_.width, box.width);
            Place(measuring, box, top);
            if (!params_.measureOnly) {
                SelectFont(drawing.font);
                canvas_.SetBrush(drawing.brush);
                candidate_ = {};
                RunLine(drawing, std::string_view(text).substr(pos, box.consumed),
                        params_.hitTestOnly ? Pass::hitTest : Pass::draw, box, lineWidth, gh);
                ConfirmTextHit(box, gh);
            }
            pos = box.discardRest ? text.size() : pos + box.consumed;
            const int advance = Add(Add(box.height, box.sub), box.sup);
            top = Add(top, advance);
            result_.height = Add(result_.height, advance);
            if (!params_.measureOnly && Add(top, gh) > params_.rect.bottom)
                break;
        }
        result_.linkCount = measuring.links;
        if (result_.height == 0) {
            SelectFont(base);
            result_.height = canvas_.TextExtent("gh").cy;
        }
        SelectFont(base);
        canvas_.SetBrush(startBrush);
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

    void Place(const FormatState& state, LineBox& box, int top) const
    {
        const MarkupRect& rect = params_.rect;
        box.left = rect.left;
        box.top = top;
        if (state.align == Align::right && rect.right - box.width > box.left)
            box.left = rect.right - box.width;
        if (state.align == Align::center && rect.Width() - box.width > 0)
            box.left += (rect.Width() - box.width) / 2;
        box.left = Add(box.left, state.indent);
    }

    void ConfirmTextHit(const LineBox& box, int gh)
    {
        if (!candidate_.found)
            return;
        const int bottom = box.Bottom() - box.imageOffset;
        if (params_.mouseY > bottom - gh && params_.mouseY < bottom)
            Report(candidate_);
    }

    void Report(const TextHit& hit)
    {
        result_.hit = true;
        result_.anchor = std::string(hit.value);
        result_.anchorNumber = hit.number;
        result_.anchorRect = hit.rect;
    }

    void CloseHit(const LineBox& box, const LineCursor& cursor)
    {
        if (!candidate_.open)
            return;
        candidate_.open = false;
        candidate_.rect = {Add(box.left, cursor.linkStartX), box.top, Add(box.left, cursor.x), box.Bottom()};
        if (imageHit_)
            Report(candidate_);
        imageHit_ = false;
    }

    bool Highlighted(int link) const { return !params_.hoverStyle || link == params_.hoverLink; }

    void RunLine(FormatState& state, std::string_view text, Pass pass, LineBox& box, int lineWidth, int gh)
    {
        ByteFinder& tags = pass == Pass::measure ? measuringTags_ : drawingTags_;
        ByteFinder& blanks = pass == Pass::measure ? measuringBlanks_ : drawingBlanks_;
        const auto base = static_cast<std::size_t>(text.data() - text_.data());
        LineCursor cursor;
        cursor.lineWidth = lineWidth;
        if (pass == Pass::draw && state.paragraphBackground && state.brush != clNone)
            canvas_.FillRect({params_.rect.left, box.top, params_.rect.right, box.Bottom()}, state.brush);
        std::string scratch;
        std::size_t pos = 0;
        bool ended = false;
        while (pos < text.size() && !ended) {
            const auto tagAt = static_cast<std::size_t>(tags.Next(text.data() + pos) - text.data());
            std::size_t runEnd = std::min(tagAt, text.size());
            if (!params_.ellipsis) {
                const auto blank = static_cast<std::size_t>(blanks.Next(text.data() + pos) - text.data());
                if (blank < runEnd)
                    runEnd = blank + 1;
                runEnd = breaks_.Next(base + pos, base + runEnd) - base;
            }
            if (runEnd > pos) {
                const std::size_t placed = PlaceRun(state, text.substr(pos, runEnd - pos), pass, box, cursor, scratch);
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
            const TagEffect effect = DoTag(state, text.substr(pos, tagEnd - pos), pass, box, cursor, gh);
            if (effect == TagEffect::lineFull)
                break;
            pos = tagEnd;
            ended = effect == TagEffect::endsLine;
        }
        if (pass == Pass::measure) {
            box.consumed = pos;
            box.width = std::max(0, cursor.x - cursor.trailingBlank);
        } else {
            CloseHit(box, cursor);
        }
    }

    // The bytes of the run placed on the line: all of it, none when it is
    // left for the next line, or the characters that fit of a run wider than
    // the line.
    std::size_t PlaceRun(FormatState& state, std::string_view raw, Pass pass, LineBox& box, LineCursor& cursor,
                         std::string& scratch)
    {
        if (pass == Pass::measure)
            return MeasureRun(state, raw, box, cursor, scratch);
        const std::string_view shown = Shown(raw, scratch);
        const MarkupSize size = canvas_.TextExtent(shown);
        if (state.hidden)
            return raw.size();
        const int before = cursor.x;
        cursor.x = Add(cursor.x, size.cx);
        if (state.inLink)
            canvas_.LinkPlaced(state.links, state.linkValue, shown,
                               {Add(box.left, before), box.top, Add(box.left, cursor.x), box.Bottom()});
        if (pass == Pass::draw)
            DrawRun(state, shown, box, before, cursor.x);
        if (state.inLink && params_.mouseX >= Add(box.left, before) && params_.mouseX < Add(box.left, cursor.x)) {
            candidate_.found = true;
            candidate_.open = true;
            candidate_.value = state.linkValue;
            candidate_.number = state.links;
        }
        Placed(raw, cursor);
        return raw.size();
    }

    std::size_t MeasureRun(const FormatState& state, std::string_view raw, LineBox& box, LineCursor& cursor,
                           std::string& scratch)
    {
        const MarkupSize size = raw.size() <= kFirstProbe || params_.ellipsis
                                    ? canvas_.TextExtent(Shown(raw, scratch))
                                    : MeasureLongRun(raw, cursor.lineWidth, scratch);
        box.height = std::max(box.height, size.cy);
        if (state.sub)
            box.sub = std::max(box.sub, size.cy / 4);
        if (state.sup)
            box.sup = std::max(box.sup, size.cy / 4);
        if (state.hidden)
            return raw.size();
        const int before = cursor.x;
        cursor.x = Add(cursor.x, size.cx);
        const std::size_t fits = cursor.x < cursor.lineWidth ? raw.size() : Fits(raw, size.cx, cursor, box, scratch);
        if (fits == 0)
            return 0;
        if (fits < raw.size()) {
            raw = raw.substr(0, fits);
            cursor.x = Add(before, canvas_.TextExtent(Shown(raw, scratch)).cx);
        }
        Placed(raw, cursor);
        return raw.size();
    }

    // The size of a long run, or of a start of it already wider than the
    // line, which is all the line rule needs to know: so a long text without
    // blanks is not measured whole on every line.
    MarkupSize MeasureLongRun(std::string_view raw, int lineWidth, std::string& scratch)
    {
        std::size_t end = 0;
        for (std::size_t probe = kFirstProbe; probe < raw.size(); probe *= 2) {
            while (end < probe)
                end = NextCharacter(raw, end);
            if (end >= raw.size())
                break;
            const MarkupSize size = canvas_.TextExtent(Shown(raw.substr(0, end), scratch));
            if (size.cx > lineWidth)
                return size;
        }
        return canvas_.TextExtent(Shown(raw, scratch));
    }

    void Placed(std::string_view raw, LineCursor& cursor)
    {
        cursor.endsInBlank = raw.back() == ' ';
        cursor.trailingBlank = cursor.endsInBlank ? BlankWidth() : 0;
        cursor.holdsText = true;
        cursor.lastRun = raw;
    }

    static std::string_view Shown(std::string_view raw, std::string& scratch)
    {
        if (raw.find('&') == std::string_view::npos)
            return raw;
        scratch = ReplaceRunEntities(raw);
        return scratch;
    }

    // Measuring, for a run that reaches the line's width: the bytes of the
    // run that stay on the line (see PlaceRun). A run that does not fit moves
    // to the next line where the line may break before it. Where it may not
    // (a word glued to a tag, a line that holds no text yet) it stays, and is
    // broken between characters when it is wider than the whole line.
    std::size_t Fits(std::string_view raw, int runWidth, LineCursor& cursor, LineBox& box, std::string& scratch)
    {
        if (params_.ellipsis) {
            if (cursor.x > cursor.lineWidth && cursor.holdsText)
                box.discardRest = true;
            return raw.size();
        }
        const int before = cursor.x - runWidth;
        const bool breakBefore =
            cursor.holdsText &&
            (cursor.endsInBlank ||
             BreaksBetween(CharacterBefore(cursor.lastRun, cursor.lastRun.size()), FirstCharacter(raw)));
        if (!breakBefore && runWidth <= cursor.lineWidth)
            return raw.size();
        std::size_t fits = breakBefore ? 0 : FittingPrefix(raw, cursor.lineWidth - before, scratch);
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

    // The longest start of the run, ending between characters, that is at
    // most `room` wide (0 when not even one character is); the whole run is
    // wider. Found by doubling, then halving, so that a line of k characters
    // costs measurements of about k log k characters however long the run.
    std::size_t FittingPrefix(std::string_view raw, int room, std::string& scratch)
    {
        std::vector<std::size_t> ends; // ends[i]: where character i + 1 ends
        const auto available = [&](std::size_t wanted) {
            while (ends.size() < wanted && (ends.empty() || ends.back() < raw.size()))
                ends.push_back(NextCharacter(raw, ends.empty() ? 0 : ends.back()));
            return std::min(wanted, ends.size());
        };
        const auto fits = [&](std::size_t characters) {
            return canvas_.TextExtent(Shown(raw.substr(0, ends[characters - 1]), scratch)).cx <= room;
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
        int bottom = box.Bottom() - box.sub;
        if (state.sup)
            bottom -= box.sup;
        if (state.sub)
            bottom += box.sub;
        return bottom - box.imageOffset;
    }

    void DrawRun(const FormatState& state, std::string_view shown, const LineBox& box, int from, int to)
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

    void SelectFont(const MarkupFont& font)
    {
        canvas_.SetFont(font);
        blankWidth_ = -1;
    }

    // The width of a blank in the current font, measured once per font.
    int BlankWidth()
    {
        if (blankWidth_ < 0)
            blankWidth_ = canvas_.TextExtent(" ").cx;
        return blankWidth_;
    }

    void SetBrush(FormatState& state, TColor color)
    {
        state.brush = color;
        canvas_.SetBrush(color);
    }

    TagEffect DoTag(FormatState& state, std::string_view tag, Pass pass, LineBox& box, LineCursor& cursor, int gh)
    {
        const MarkupFont before = state.font;
        const TagEffect effect = tag[1] == '/' ? DoClosingTag(state, tag, pass, box, cursor)
                                               : DoOpeningTag(state, tag, pass, box, cursor, gh);
        if (!(state.font == before))
            SelectFont(state.font);
        return effect;
    }

    TagEffect DoOpeningTag(FormatState& state, std::string_view tag, Pass pass, LineBox& box, LineCursor& cursor,
                           int gh)
    {
        const bool drawing = pass == Pass::draw;
        const char second = UpperAt(tag, 2);
        switch (UpperAt(tag, 1)) {
        case 'A':
            OpenLink(state, tag, pass, cursor);
            break;
        case 'B':
            if (second == '>')
                state.font.bold = true;
            else if (second == 'R')
                return TagEffect::endsLine;
            else if (second == 'O' && drawing)
                DrawBody(tag);
            else if (second == 'L')
                state.font.color = startBrush_;
            break;
        case 'E':
            state.errorMark = true;
            break;
        case 'F':
            DoFont(state, tag);
            break;
        case 'H':
            if (second == 'I') {
                state.highlightSaved = true;
                state.highlightText = state.font.color;
                state.highlightBrush = state.brush;
                SetBrush(state, clHighlight);
                state.font.color = clHighlightText;
            } else if (second == 'R') {
                if (drawing) {
                    const int y = box.Bottom() + 1;
                    const int line[] = {params_.rect.left, y, params_.rect.right, y};
                    canvas_.Polyline(line, 2, clBlack);
                }
                return TagEffect::endsLine;
            }
            break;
        case 'I':
            if (second == '>')
                state.font.italic = true;
            else if (second == 'N')
                DoIndent(tag, cursor);
            else if (second == 'M')
                return DoImage(state, tag, pass, box, cursor, gh);
            break;
        case 'L':
            return DoListItem(state, pass, box, cursor);
        case 'P':
            DoParagraph(state, tag, pass, box);
            break;
        case 'R':
            if (const auto angle = AttributeValue(tag.substr(2), "A"))
                state.font.escapement = MarkupNumber(*angle) * 10;
            break;
        case 'S':
            if (StartsWithNoCase(tag, "<SUB>"))
                state.sub = true;
            else if (StartsWithNoCase(tag, "<SUP>"))
                state.sup = true;
            else if (second == 'H')
                state.shadow = true;
            else if (second == '>')
                state.font.strikeOut = true;
            break;
        case 'U':
            if (second == '>') {
                state.font.underline = true;
                break;
            }
            state.listLevel = std::min(state.listLevel + 1, kMaxMarkupNumber);
            return TagEffect::endsLine;
        case 'Z':
            state.hidden = true;
            break;
        default:
            break;
        }
        return TagEffect::none;
    }

    TagEffect DoClosingTag(FormatState& state, std::string_view tag, Pass pass, const LineBox& box,
                           const LineCursor& cursor)
    {
        if (tag.size() <= 3)
            return TagEffect::none;
        const char second = UpperAt(tag, 3);
        switch (UpperAt(tag, 2)) {
        case 'A':
            CloseLink(state, pass, box, cursor);
            break;
        case 'B':
            if (second == '>')
                state.font.bold = false;
            else
                state.font.color = base_.color;
            break;
        case 'E':
            state.errorMark = false;
            break;
        case 'F':
            state.font.name = base_.name;
            state.font.size = base_.size;
            state.font.color = base_.color;
            if (state.fontBrushSaved) {
                state.fontBrushSaved = false;
                SetBrush(state, state.fontBrush);
            }
            break;
        case 'H':
            if (state.highlightSaved) {
                state.highlightSaved = false;
                state.font.color = state.highlightText;
                SetBrush(state, state.highlightBrush);
            }
            break;
        case 'I':
            state.font.italic = false;
            break;
        case 'L':
            return TagEffect::endsLine;
        case 'P':
            SetBrush(state, state.paragraphBrush);
            state.paragraphBackground = false;
            return TagEffect::endsLine;
        case 'R':
            state.font.escapement = 0;
            break;
        case 'S':
            if (second == 'U')
                state.sub = state.sup = false;
            else if (second == 'H')
                state.shadow = false;
            else
                state.font.strikeOut = false;
            break;
        case 'U':
            if (second == '>')
                state.font.underline = false;
            else if (state.listLevel > 0)
                --state.listLevel;
            else
                state.font.underline = false;
            break;
        case 'Z':
            state.hidden = false;
            break;
        default:
            break;
        }
        return TagEffect::none;
    }

    void OpenLink(FormatState& state, std::string_view tag, Pass pass, LineCursor& cursor)
    {
        ++state.links;
        state.inLink = true;
        state.linkValue = FirstQuoted(tag);
        cursor.linkStartX = cursor.x;
        if (state.links == params_.focusLink)
            result_.focusAnchor = std::string(state.linkValue);
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

    void DoFont(FormatState& state, std::string_view tag)
    {
        if (const auto face = AttributeValue(tag, "FACE"))
            state.font.name = std::string(*face);
        if (const auto color = AttributeValue(tag, " COLOR"))
            state.font.color = ParseHTMLColor(*color);
        if (const auto background = AttributeValue(tag, "BGCOLOR")) {
            state.fontBrushSaved = true;
            state.fontBrush = state.brush;
            SetBrush(state, ParseHTMLColor(*background));
        }
        if (const auto size = AttributeValue(tag, "SIZE")) {
            const int number = MarkupNumber(*size);
            state.font.size = number >= 1 && number <= 5 ? kPointsPerSizeStep[number - 1] : number;
        }
    }

    void DoIndent(std::string_view tag, LineCursor& cursor) const
    {
        const auto position = AttributeValue(tag, "X");
        if (position && IsMarkupNumber(*position)) {
            const int x = MarkupNumber(*position);
            if (x > cursor.x)
                cursor.x = x;
        }
    }

    void DoParagraph(FormatState& state, std::string_view tag, Pass pass, const LineBox& box)
    {
        if (const auto align = AttributeValue(tag, "ALIGN")) {
            if (FindNoCase(*align, "RIGHT") != std::string_view::npos)
                state.align = Align::right;
            if (FindNoCase(*align, "LEFT") != std::string_view::npos)
                state.align = Align::left;
            if (FindNoCase(*align, "CENTER") != std::string_view::npos)
                state.align = Align::center;
        }
        if (const auto indent = AttributeValue(tag, "INDENT"))
            state.indent = MarkupNumber(*indent);
        const auto background = AttributeValue(tag, "BGCOLOR");
        if (!background)
            return;
        state.paragraphBrush = state.brush;
        state.paragraphBackground = true;
        const MarkupRect line{params_.rect.left, box.top, params_.rect.right, box.Bottom()};
        const TColor color = ParseHTMLColor(*background);
        if (const auto to = AttributeValue(tag, "BGCOLORTO")) {
            SetBrush(state, clNone);
            if (pass == Pass::draw)
                FillGradient(canvas_, {line.left, line.top, line.right, line.bottom + 2}, color, ParseHTMLColor(*to),
                             kMarkupGradientBands, /*leftToRight=*/true);
            return;
        }
        SetBrush(state, color);
        if (pass == Pass::draw)
            canvas_.FillRect(line, color);
    }

    void DrawBody(std::string_view tag)
    {
        const MarkupRect& rect = params_.rect;
        if (const auto picture = AttributeValue(tag, "BACKGROUND")) {
            MarkupSize size;
            if (canvas_.ImageSize(*picture, size))
                canvas_.TileImage(*picture, rect);
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
        MarkupFont bulletFont = state.font;
        bulletFont.name = "Symbol";
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

    TagEffect DoImage(FormatState& state, std::string_view tag, Pass pass, LineBox& box, LineCursor& cursor, int gh)
    {
        ++state.images;
        const auto source = AttributeValue(tag, "SRC");
        MarkupSize size;
        if (!source || state.hidden || !canvas_.ImageSize(*source, size))
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
            AlignImage(tag, box, gh);
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
            const std::string_view shown = underMouse && alternative ? *alternative : *source;
            canvas_.DrawImage(shown, rect, stretch);
        }
        return TagEffect::none;
    }

    static void AlignImage(std::string_view tag, LineBox& box, int gh)
    {
        const std::size_t align = FindNoCase(tag, "ALIGN");
        if (align == std::string_view::npos)
            return;
        const std::string_view rest = tag.substr(align);
        if (FindNoCase(rest, "\"TOP") != std::string_view::npos)
            box.imageOffset = box.height - gh;
        else if (FindNoCase(rest, "\"MIDDLE") != std::string_view::npos)
            box.imageOffset = (box.height - gh) / 2;
    }

    MarkupCanvas& canvas_;
    const HTMLDrawParams& params_;
    MarkupFont base_;
    TColor startBrush_ = clNone;
    HTMLDrawResult result_;
    TextHit candidate_;
    bool imageHit_ = false;
    int blankWidth_ = -1;
    std::string_view text_;
    ByteFinder measuringTags_{{}, '<'};
    ByteFinder drawingTags_{{}, '<'};
    ByteFinder measuringBlanks_{{}, ' '};
    ByteFinder drawingBlanks_{{}, ' '};
    // Shared by both passes: it answers questions about earlier positions too.
    IdeographBreaks breaks_{{}};
};

} // namespace

HTMLDrawResult DrawHTMLText(MarkupCanvas& canvas, const HTMLDrawParams& params)
{
    return HTMLLayout(canvas, params).Run();
}
