// Laying out markup on the recording canvas (drawing pass, nothing kept)
// against one memchr pass over the same text that finds every tag: the goal
// is growth linear in the text and at most 20 times the baseline at 1 MB.
// The entity-heavy case checks that entity replacement stays linear; the
// Chinese case (a line may break at every ideograph) and the case without a
// blank (every line broken between characters) that line breaking does.
#include "markup/FakeCanvas.h"
#include "markup/HTMLLayout.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <string_view>

namespace {

std::string MarkupOfSize(std::size_t size)
{
    static const char* const kPieces[] = {
        "The new release ",  "<B>fixes</B> ",          "several ",         "<A href=\"http://example.test/notes\">problems</A> ",
        "with ",             "<FONT color=\"clRed\" size=\"3\">start-up</FONT> ", "items &amp; ", "folders. ",
        "<I>Please</I> ",    "read &lt;the notes&gt; ", "<BR>",            "<UL><LI>one <LI>two</UL>",
    };
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i)
        text += kPieces[i % std::size(kPieces)];
    text.resize(size);
    return text;
}

std::string EntitiesOfSize(std::size_t size)
{
    std::string text = "&amp;";
    while (text.size() < size)
        text += "amp;&lt;&quot;x ";
    return text;
}

std::string Repeated(std::string_view piece, std::size_t size)
{
    std::string text;
    while (text.size() < size)
        text += piece;
    return text;
}

void Layout(benchmark::State& state, const std::string& text)
{
    FakeCanvas canvas(/*record=*/false);
    HTMLDrawParams params;
    params.text = text;
    params.rect = {0, 0, 600, 1 << 28};
    params.linkColor = clBlue;
    for (auto _ : state)
        benchmark::DoNotOptimize(DrawHTMLText(canvas, params).height);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_BaselineMemchrTags(benchmark::State& state)
{
    const std::string text = MarkupOfSize(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::size_t tags = 0;
        const char* at = text.data();
        const char* const end = text.data() + text.size();
        while ((at = static_cast<const char*>(std::memchr(at, '<', static_cast<std::size_t>(end - at))))) {
            ++tags;
            ++at;
        }
        benchmark::DoNotOptimize(tags);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_LayoutMarkup(benchmark::State& state)
{
    Layout(state, MarkupOfSize(static_cast<std::size_t>(state.range(0))));
}

void BM_LayoutEntities(benchmark::State& state)
{
    Layout(state, EntitiesOfSize(static_cast<std::size_t>(state.range(0))));
}

void BM_LayoutChinese(benchmark::State& state)
{
    Layout(state, Repeated("\u65B0\u7248\u672C\u4FEE\u590D\u4E86\u542F\u52A8\u9879\u76EE\u548C\u6587\u4EF6"
                           "\u5939\u7684<B>\u591A\u4E2A\u95EE\u9898</B>\uFF0C\u8BF7\u9605\u8BFB\u3002<BR>",
                           static_cast<std::size_t>(state.range(0))));
}

void BM_LayoutWithoutBlanks(benchmark::State& state)
{
    Layout(state, Repeated("http://example.test/releases/2.0/notes", static_cast<std::size_t>(state.range(0))));
}

} // namespace

BENCHMARK(BM_BaselineMemchrTags)->Arg(1 << 16)->Arg(1 << 18)->Arg(1 << 20);
BENCHMARK(BM_LayoutMarkup)->Arg(1 << 16)->Arg(1 << 18)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LayoutEntities)->Arg(1 << 16)->Arg(1 << 18)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LayoutChinese)->Arg(1 << 16)->Arg(1 << 18)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LayoutWithoutBlanks)->Arg(1 << 16)->Arg(1 << 18)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
