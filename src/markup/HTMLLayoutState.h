#pragma once
// The state of one DrawHTMLText call and the passes over each line, shared by
// the files of the layout's stages: the walk over the lines (HTMLLayout.cpp),
// measuring (HTMLLayoutMeasure.cpp), drawing and hit-testing
// (HTMLLayoutDraw.cpp) and the tags (HTMLLayoutTags.cpp). Internal to them.
#include "markup/HTMLDrawParams.h"
#include "markup/LineBreak.h"
#include "markup/MarkupTag.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace keldora::markup {

// Positions stay within this, whatever the text asks for, so that no sum overflows.
constexpr int kPositionLimit = INT_MAX / 4;

inline int Add(int a, int b)
{
    return static_cast<int>(std::clamp(static_cast<long long>(a) + b, static_cast<long long>(-kPositionLimit),
                                       static_cast<long long>(kPositionLimit)));
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

    HTMLDrawResult Run();

private:
    struct TextHit {
        bool found = false;
        bool open = false; // its rectangle is still growing
        std::string_view value;
        int number = -1;
        MarkupRect rect{-1, -1, -1, -1};
    };

    // The walk over the lines, fonts and brush (HTMLLayout.cpp).
    void ResetFinders();
    void Place(const FormatState& state, LineBox& box, int top) const;
    std::uint32_t NameIndex(std::string_view name);
    void SelectFont(const Font& font);
    FontMetrics& Metrics();
    int BlankWidth();
    int Gh();
    void SetBrush(FormatState& state, TColor color);

    // The first pass: what fits on a line, measured (HTMLLayoutMeasure.cpp).
    LineBox MeasureLine(FormatState& state, std::string_view text, int lineWidth, int gh);
    LineBox RunLine(FormatState& state, std::string_view text, int lineWidth, int gh);
    const LineTag& ReadTag(std::string_view text);
    std::size_t MeasureRun(const FormatState& state, std::string_view raw, bool entities, std::size_t at, LineBox& box,
                           LineCursor& cursor);
    void KeepRun(std::string_view raw, bool entities, std::size_t at, const MarkupSize& size);
    MarkupSize MeasureLongRun(std::string_view raw, int lineWidth);
    void Placed(std::string_view raw, LineCursor& cursor);
    std::string_view Shown(std::string_view raw);
    std::size_t Fits(std::string_view raw, int runWidth, LineCursor& cursor, LineBox& box);
    static char32_t FirstCharacter(std::string_view raw);
    static bool BreaksBefore(std::string_view before, std::string_view run);
    std::size_t LastBreak() const;
    std::size_t FittingPrefix(std::string_view raw, int room);

    // The second pass: a line drawn or hit-tested (HTMLLayoutDraw.cpp).
    void DrawLine(FormatState& state, Pass pass, const LineBox& box, int lineWidth);
    void Report(const TextHit& hit);
    void CloseHit(const LineBox& box, const LineCursor& cursor);
    bool Highlighted(int link) const { return !params_.hoverStyle || link == params_.hoverLink; }
    std::string_view ShownText(const LineItem& item) const;
    void DrawRun(const FormatState& state, const LineItem& run, Pass pass, const LineBox& box, LineCursor& cursor);
    int RunBottom(const FormatState& state, const LineBox& box) const;
    void DrawText(const FormatState& state, std::string_view shown, const LineBox& box, int from, int to);
    void DrawZigzag(int from, int to, int bottom);

    // What each tag does in either pass (HTMLLayoutTags.cpp).
    TagEffect DoTag(FormatState& state, const LineTag& tag, Pass pass, LineBox& box, LineCursor& cursor);
    TagEffect ApplyTag(FormatState& state, const MarkupTag& tag, std::uint32_t face, Pass pass, LineBox& box,
                       LineCursor& cursor);
    TagEffect ApplyClosingTag(FormatState& state, const MarkupTag& tag, Pass pass, const LineBox& box,
                              const LineCursor& cursor);
    void OpenLink(FormatState& state, std::string_view value, Pass pass, LineCursor& cursor);
    void CloseLink(FormatState& state, Pass pass, const LineBox& box, const LineCursor& cursor);
    void DoFont(FormatState& state, const MarkupTag& tag, std::uint32_t face);
    void DoParagraph(FormatState& state, const MarkupTag& tag, Pass pass, const LineBox& box);
    void DrawBody(std::string_view tag);
    TagEffect DoListItem(FormatState& state, Pass pass, const LineBox& box, LineCursor& cursor);
    TagEffect DoImage(FormatState& state, std::string_view tag, Pass pass, LineBox& box, LineCursor& cursor);
    static void AlignImage(std::string_view tag, LineBox& box);

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

} // namespace keldora::markup
