// The line-break rules over any text on the recording canvas: the first byte
// is the width; each further byte below 0x80 picks a piece (letters, blanks,
// ideographs, kana, hangul, CJK and Latin punctuation, combining marks, a
// four-byte character, bad UTF-8, a line break tag), each byte from 0x80 on
// stands for itself, so sequences are also cut and joined at random.
// Invariants: every byte of the text is drawn once and in order; no line is
// wider than the width unless it holds a single character; pieces start and
// end only between characters as DecodeUtf8At reads them (so never inside a
// UTF-8 sequence or the surrogate pair it becomes).
#include "FuzzRequire.h"
#include "core/Utf8.h"
#include "markup/FakeCanvas.h"
#include "markup/HTMLLayout.h"
#include "markup/LineBreak.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kBreakTag = "<BR>";

constexpr std::string_view kPieces[] = {
    "a",      "b",        " ",        "x",        "\u4E2D",   "\u6587",       "\u3002",       "\u300C",
    "\u300D", "\u3053",   "\u30C3",   "\uC548",   "\uFF0C",   "\u0416",       "\u0301",       "\u200D",
    "(",      ")",        ".",        "\xE4\xB8", "\xC0\xAF", "\xED\xA0\x80", "\xEF\xBB\xBF", "\xF0\x9F\x98\x80",
    "\u3099", kBreakTag,
};

// Where DecodeUtf8At puts character boundaries in each part between line
// break tags, as offsets into the text without the tags.
std::set<std::size_t> CharacterBoundaries(std::string_view text)
{
    std::set<std::size_t> boundaries{0};
    std::size_t offset = 0;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t tag = std::min(text.find(kBreakTag, from), text.size());
        const std::string_view part = text.substr(from, tag - from);
        for (std::size_t at = 0; at < part.size();) {
            at += DecodeUtf8At(part, at).length;
            boundaries.insert(offset + at);
        }
        offset += part.size();
        from = tag + kBreakTag.size();
    }
    return boundaries;
}

std::string WithoutTags(std::string_view text)
{
    std::string plain;
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t tag = std::min(text.find(kBreakTag, from), text.size());
        plain.append(text.substr(from, tag - from));
        from = tag + kBreakTag.size();
    }
    return plain;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::string text;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] < 0x80)
            text.append(kPieces[data[i] % std::size(kPieces)]);
        else
            text.push_back(static_cast<char>(data[i]));
    }
    const int width = data[0];
    FakeCanvas canvas;
    HTMLDrawParams params;
    params.text = text;
    params.rect = {0, 0, width, 1 << 28};
    const HTMLDrawResult result = DrawHTMLText(canvas, params);

    std::string drawn;
    const std::set<std::size_t> boundaries = CharacterBoundaries(text);
    std::vector<std::string> lines;
    int top = -1;
    for (const FakeCanvas::TextCall& call : canvas.texts) {
        Require(!call.text.empty(), "an empty piece");
        Require(boundaries.count(drawn.size()) == 1, "a piece starts inside a character");
        drawn += call.text;
        Require(boundaries.count(drawn.size()) == 1, "a piece ends inside a character");
        if (lines.empty() || call.rect.top != top)
            lines.emplace_back();
        top = call.rect.top;
        lines.back() += call.text;
    }
    Require(drawn == WithoutTags(text), "the text is not drawn once and in order");

    for (std::string line : lines) {
        if (line.size() > 1 && line.back() == ' ')
            line.pop_back(); // a trailing blank may pass the edge
        const bool single = NextCharacter(line, 0) == line.size();
        Require(single || canvas.TextExtent(line).cx <= width, "a line wider than the width");
    }
    Require(result.width >= 0 && result.height > 0, "no extent");
    return 0;
}
