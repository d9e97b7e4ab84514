// Blending a glyph by hand against a plain per-pixel copy of the same glyph
// into the same target: the cost of the blending itself. The glyph mixes
// transparent, opaque and soft pixels as a round icon does.
#include "markup/AlphaPixels.h"

#include <benchmark/benchmark.h>

namespace {

Image32 RoundGlyph(int size)
{
    Image32 glyph{size, size, std::vector<Pixel32>(static_cast<std::size_t>(size) * size)};
    const int centre = size / 2;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int d2 = (x - centre) * (x - centre) + (y - centre) * (y - centre);
            const int r2 = centre * centre;
            const int alpha = d2 > r2 ? 0 : d2 > r2 * 3 / 4 ? 128 + (x * 7 + y) % 100 : 255;
            glyph.pixels[static_cast<std::size_t>(y) * size + x] = MakePixel(x * 5, y * 3, 200, alpha);
        }
    return glyph;
}

void BM_BaselineCopy(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const Image32 glyph = RoundGlyph(size);
    std::vector<Pixel32> target(glyph.pixels.size(), MakePixel(1, 2, 3, 0));
    for (auto _ : state) {
        for (int y = 0; y < size; ++y) {
            const Pixel32* from = &glyph.pixels[static_cast<std::size_t>(y) * size];
            Pixel32* to = &target[static_cast<std::size_t>(y) * size];
            for (int x = 0; x < size; ++x)
                to[x] = from[x];
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

void BM_BlendGlyph(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const Image32 glyph = RoundGlyph(size);
    std::vector<Pixel32> target(glyph.pixels.size(), MakePixel(1, 2, 3, 0));
    for (auto _ : state) {
        BlendImage(glyph, target.data(), size, size, 0, 0);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

void BM_GreyGlyph(benchmark::State& state)
{
    const int size = static_cast<int>(state.range(0));
    const Image32 glyph = RoundGlyph(size);
    Image32 grey;
    for (auto _ : state) {
        GreyImage(glyph, grey);
        benchmark::DoNotOptimize(grey.pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

} // namespace

BENCHMARK(BM_BaselineCopy)->Arg(24)->Arg(256);
BENCHMARK(BM_BlendGlyph)->Arg(24)->Arg(256);
BENCHMARK(BM_GreyGlyph)->Arg(24)->Arg(256);
BENCHMARK_MAIN();
