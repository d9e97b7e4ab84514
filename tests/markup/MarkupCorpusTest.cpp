// The layout of a corpus of varied markup on the recording canvas, compared
// with the output kept in data/markup_corpus.expected: every draw call, every
// result and the answer of hit tests over a grid of mouse positions, in
// several widths and modes. A change that is meant to keep the layout as it
// is must keep this output byte for byte. After a change that is meant to
// alter it, the expected output is written anew with
// KELDORA_MARKUP_CORPUS_WRITE=1 and the difference read before committing.
#include "markup/FakeCanvas.h"
#include "markup/HTMLLayout.h"

#include "core/Utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kDataFolder = KELDORA_MARKUP_TEST_DATA;
// Texts longer than this are hit-tested at fewer points.
constexpr std::size_t kLongText = 8192;

std::string Unescape(std::string_view line)
{
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            text.push_back(line[i]);
            continue;
        }
        const char kind = line[++i];
        const auto hex = [&](std::size_t digits) {
            const auto value = std::stoul(std::string(line.substr(i + 1, digits)), nullptr, 16);
            i += digits;
            return value;
        };
        switch (kind) {
        case 'r': text.push_back('\r'); break;
        case 'n': text.push_back('\n'); break;
        case 't': text.push_back('\t'); break;
        case 'x': text.push_back(static_cast<char>(hex(2))); break;
        case 'u': AppendUtf8(text, static_cast<char32_t>(hex(4))); break;
        case 'U': AppendUtf8(text, static_cast<char32_t>(hex(8))); break;
        default: text.push_back(kind); break;
        }
    }
    return text;
}

std::vector<std::string> WrittenCorpus()
{
    std::ifstream file(kDataFolder + "/markup_corpus.txt", std::ios::binary);
    std::vector<std::string> texts;
    for (std::string line; std::getline(file, line);)
        if (!line.empty() && line[0] != '#')
            texts.push_back(Unescape(line));
    return texts;
}

// A fixed sequence, the same on every platform and library.
class Sequence {
public:
    explicit Sequence(std::uint64_t seed) : state_(seed) {}
    std::size_t Below(std::size_t n)
    {
        state_ = state_ * 6364136223846793005u + 1442695040888963407u;
        return static_cast<std::size_t>(state_ >> 33) % n;
    }

private:
    std::uint64_t state_;
};

std::string Generated(Sequence& sequence, std::size_t size)
{
    static const char* const kPieces[] = {
        "word ", "longerword ", "glued", "<B>", "</B>", "<I>", "</I>", "<U>", "</U>", "<S>", "</S>", ". ", ", ",
        "<A href=\"http://x/?a=1&amp;b=2\">", "<A href=\"n\">", "</A>", "<FONT size=\"4\">", "<FONT size=\"18\">",
        "<FONT color=\"clRed\" face=\"Times\">", "<FONT bgcolor=\"clYellow\">", "</FONT>", "<BR>", "\r\n", "\n",
        "<UL>", "</UL>", "<LI>", "<P align=\"center\">", "<P align=\"right\" indent=\"8\">", "<P align=\"left\">",
        "<P bgcolor=\"clAqua\">", "</P>", "<SUB>", "<SUP>", "</SUB>", "<Z>", "</Z>", "<SHAD>", "</SHAD>", "<E>",
        "</E>", "<HI>", "</HI>", "<HR>", "<IND x=\"40\">", "<IMG src=\"pic\">", "<IMG src=\"tall\" align=\"top\">",
        "<IMG src=\"wide\">", "<IMG src=\"pic\" alt=\"alt\" width=\"12\" height=\"6\">", "&amp;", "&lt;", "&gt;",
        "&nbsp;", "&euro;", "&#x4E2D;", "R&D ", "\u4E2D\u6587", "\u3002", "\u300C", "\u300D", "\u65B0\u7248\u672C",
        "\uC548\uB155 ", "e\u0301", "\xF0\x9F\x98\x80", "\xE4\xB8", "averyveryverylongwordwithoutblanks",
        "http://example.test/a/b/c/d/e/f/g/h/i/j/k/l/m/n", "  ", "\t", "<R a=\"30\">", "</R>", "<BLINK>",
    };
    std::string text;
    while (text.size() < size)
        text += kPieces[sequence.Below(std::size(kPieces))];
    return text;
}

std::string Repeated(std::string_view piece, std::size_t size)
{
    std::string text;
    while (text.size() < size)
        text += piece;
    return text;
}

std::vector<std::string> GeneratedCorpus()
{
    Sequence sequence(24);
    std::vector<std::string> texts;
    for (int i = 0; i < 40; ++i)
        texts.push_back(Generated(sequence, 100 + sequence.Below(2000)));
    texts.push_back(Generated(sequence, 150000));
    std::string links;
    for (int i = 0; i < 5000; ++i)
        links += "<A href=\"http://example.test/" + std::to_string(i) + "\">link " + std::to_string(i) + "</A> ";
    texts.push_back(links);
    texts.push_back(Repeated("http://example.test/releases/2.0/notes", 65536));
    texts.push_back(Repeated("\u65B0\u7248\u672C\u4FEE\u590D\u4E86\u542F\u52A8\u9879\u76EE\u548C\u6587\u4EF6"
                             "\u5939\u7684<B>\u591A\u4E2A\u95EE\u9898</B>\uFF0C\u8BF7\u9605\u8BFB\u3002<BR>",
                             65536));
    texts.push_back(Repeated("&amp;amp;&lt;&quot;x ", 65536));
    return texts;
}

// Bytes outside printable ASCII and valid UTF-8 are escaped, so the kept
// output is a text file.
std::string Quoted(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const Utf8Char c = DecodeUtf8At(text, i);
        if (byte >= 0x80 && c.valid) {
            out.append(text.substr(i, c.length));
            i += c.length;
            continue;
        }
        char escaped[8];
        if (byte < 0x20 || byte >= 0x7F || byte == '\\' || byte == '"')
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        else
            std::snprintf(escaped, sizeof escaped, "%c", byte);
        out += escaped;
        ++i;
    }
    return out + "\"";
}

std::string Rect(const MarkupRect& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

std::string Color(TColor color)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(color));
    return text;
}

std::string Font(const MarkupFont& font)
{
    return Quoted(font.name) + " " + std::to_string(font.size) + (font.bold ? "b" : "") + (font.italic ? "i" : "") +
           (font.underline ? "u" : "") + (font.strikeOut ? "s" : "") + " " + Color(font.color) + " " +
           std::to_string(font.escapement);
}

FakeCanvas CorpusCanvas()
{
    FakeCanvas canvas;
    canvas.AddPicture("pic", {30, 20});
    canvas.AddPicture("tall", {10, 40});
    canvas.AddPicture("wide", {200, 10});
    canvas.AddPicture("alt", {4, 4});
    canvas.AddPicture("p&q", {8, 8});
    canvas.AddPicture("http://x/p.gif", {5, 5});
    return canvas;
}

std::string Result(const HTMLDrawResult& result)
{
    return "R " + std::to_string(result.width) + " " + std::to_string(result.height) + " " +
           std::to_string(result.linkCount) + " " + (result.hit ? "hit " : "none ") +
           std::to_string(result.anchorNumber) + " " + Rect(result.anchorRect) + " " + Quoted(result.anchor) + " " +
           Quoted(result.focusAnchor) + "\n";
}

// Every call, in the order drawn.
std::string Drawn(const std::string& text, HTMLDrawParams params)
{
    FakeCanvas canvas = CorpusCanvas();
    params.text = text;
    const HTMLDrawResult result = DrawHTMLText(canvas, params);
    EXPECT_EQ(canvas.Font(), (MarkupFont{"Arial", 10})) << "the font is restored";
    EXPECT_EQ(canvas.Brush(), clNone) << "the brush is restored";
    std::string out;
    for (const auto& call : canvas.texts)
        out += "T " + Rect(call.rect) + " " + Color(call.color) + " " + Font(call.font) + " " + Color(call.brush) + " " +
               Quoted(call.text) + "\n";
    for (const auto& call : canvas.fills)
        out += "F " + Rect(call.rect) + " " + Color(call.color) + "\n";
    for (const auto& points : canvas.lines) {
        out += "L";
        for (const int value : points)
            out += " " + std::to_string(value);
        out += "\n";
    }
    for (const auto& call : canvas.images)
        out += "I " + Quoted(call.source) + " " + Rect(call.rect) + (call.stretch ? " stretched" : "") + "\n";
    for (const auto& call : canvas.tiles)
        out += "B " + Quoted(call.source) + " " + Rect(call.rect) + "\n";
    return out + Result(result);
}

// The hit-test answer at points of a grid over the laid-out text; points
// over no link are left out.
std::string Hits(const std::string& text, HTMLDrawParams params, int height, int points)
{
    params.text = text;
    params.hitTestOnly = true;
    const int columns = 40;
    const int rows = std::max(1, points / columns);
    const int stepX = std::max(1, (params.rect.Width() + 8) / columns);
    const int stepY = std::max(1, (height + 8) / rows);
    FakeCanvas canvas = CorpusCanvas();
    std::string out;
    for (int y = params.rect.top - 2; y < params.rect.top + height + 4; y += stepY)
        for (int x = params.rect.left - 3; x < params.rect.right + 5; x += stepX) {
            params.mouseX = x;
            params.mouseY = y;
            const HTMLDrawResult result = DrawHTMLText(canvas, params);
            if (result.hit)
                out += "H " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(result.anchorNumber) +
                       " " + Rect(result.anchorRect) + " " + Quoted(result.anchor) + "\n";
        }
    EXPECT_TRUE(canvas.texts.empty()) << "hit-testing draws nothing";
    return out;
}

HTMLDrawParams Params(int width, int height = 1 << 20)
{
    HTMLDrawParams params;
    params.rect = {10, 20, 10 + width, 20 + height};
    params.linkColor = clBlue;
    return params;
}

using Output = std::map<std::string, std::string>; // by "case N mode"

void AddCase(Output& output, int number, const std::string& text)
{
    const bool long_ = text.size() > kLongText;
    const std::string name = "case " + std::to_string(number) + " ";
    HTMLDrawParams hover = Params(263);
    hover.hoverStyle = true;
    hover.hoverLink = 2;
    hover.hoverColor = clYellow;
    hover.hoverFontColor = clRed;
    hover.shadowColor = clGray;
    hover.shadowOffset = 2;
    hover.focusLink = 1;
    hover.mouseX = 40;
    hover.mouseY = 30;
    HTMLDrawParams ellipsis = Params(150);
    ellipsis.ellipsis = true;
    HTMLDrawParams measured = Params(263, 40);
    measured.measureOnly = true;

    output[name + "draw 263"] = Drawn(text, Params(263));
    output[name + "draw 83"] = Drawn(text, Params(83));
    output[name + "hover"] = Drawn(text, hover);
    output[name + "ellipsis"] = Drawn(text, ellipsis);
    output[name + "measure"] = Drawn(text, measured);
    output[name + "clipped"] = Drawn(text, Params(263, 40));
    for (const int width : {263, 83}) {
        FakeCanvas canvas = CorpusCanvas();
        HTMLDrawParams params = Params(width);
        params.text = text;
        params.measureOnly = true;
        const int height = std::min(DrawHTMLText(canvas, params).height, long_ ? 3000 : 600);
        output[name + "hits " + std::to_string(width)] = Hits(text, Params(width), height, long_ ? 40 : 800);
    }
}

std::uint64_t Fnv1a(std::string_view text)
{
    std::uint64_t hash = 14695981039346656037u;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    return hash;
}

// The output of the written corpus is kept as it is, readable; that of the
// generated texts as its hash and line count.
std::string Kept(const std::string& body, bool written)
{
    if (written && body.size() <= 16384)
        return body;
    char line[96];
    std::snprintf(line, sizeof line, "hash %016llX lines %zu\n", static_cast<unsigned long long>(Fnv1a(body)),
                  static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n')));
    return line;
}

std::string Serialized(const Output& output)
{
    std::string out;
    for (const auto& [name, body] : output)
        out += "@ " + name + "\n" + body;
    return out;
}

Output Parsed(std::istream& in)
{
    Output output;
    std::string name;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("@ ", 0) == 0) {
            name = line.substr(2);
            output[name];
        } else {
            output[name] += line + "\n";
        }
    }
    return output;
}

std::string FirstDifference(const std::string& expected, const std::string& actual)
{
    std::istringstream a(expected), b(actual);
    std::string left, right;
    for (int line = 1;; ++line) {
        const bool more = static_cast<bool>(std::getline(a, left));
        const bool moreActual = static_cast<bool>(std::getline(b, right));
        if (!more && !moreActual)
            return "none";
        if (!more || !moreActual || left != right)
            return "line " + std::to_string(line) + "\n  expected: " + (more ? left : "(end)") +
                   "\n  actual:   " + (moreActual ? right : "(end)");
    }
}

} // namespace

TEST(MarkupCorpus, LayoutDrawingAndHitTestsAsKept)
{
    std::vector<std::string> texts = WrittenCorpus();
    const std::size_t written = texts.size();
    ASSERT_GT(written, 50u) << "the corpus is read from " << kDataFolder;
    for (std::string& text : GeneratedCorpus())
        texts.push_back(std::move(text));
    Output actual;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        Output one;
        AddCase(one, static_cast<int>(i), texts[i]);
        for (auto& [name, body] : one)
            actual[name] = Kept(body, i < written);
    }

    const std::string path = kDataFolder + "/markup_corpus.expected";
    if (std::getenv("KELDORA_MARKUP_CORPUS_WRITE")) {
        std::ofstream(path, std::ios::binary) << Serialized(actual);
        GTEST_SKIP() << "written " << path;
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path;
    const Output expected = Parsed(file);
    EXPECT_EQ(expected.size(), actual.size());
    int reported = 0;
    for (const auto& [name, body] : expected) {
        const auto found = actual.find(name);
        const std::string& mine = found == actual.end() ? std::string() : found->second;
        if (body != mine && ++reported <= 10)
            ADD_FAILURE() << name << ": " << FirstDifference(body, mine);
    }
    EXPECT_EQ(reported, 0) << "outputs that differ";
}
