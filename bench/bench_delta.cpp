// Applying a one-hop patch to a 50 MB file, and inflating its compressed form,
// against copying the same 50 MB in the same pieces: the decoder's cost over
// the copy the engine makes anyway. The files look like a program's: runs of
// instructions whose addresses move between the releases.
#include "delta/DeltaDecoder.h"
#include "delta/DeltaEncoder.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;
constexpr std::size_t FileSize = 50 << 20;
constexpr std::size_t Piece = 64 << 10;

TBytes ProgramLike(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    TBytes bytes;
    bytes.reserve(size + 16);
    while (bytes.size() < size) {
        const std::uint32_t address = random() % 0x100000;
        const std::uint8_t run[] = {0x48, 0x8b, 0x05, static_cast<std::uint8_t>(address),
                                    static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address >> 16),
                                    0, 0xe8, 0x90, 0xc3};
        bytes.insert(bytes.end(), std::begin(run), std::end(run));
        if (random() % 3 == 0) {
            bytes.push_back(static_cast<std::uint8_t>(random()));
        }
    }
    bytes.resize(size);
    return bytes;
}

struct TRelease {
    TBytes source = ProgramLike(FileSize, 1);
    TBytes target;
    TBytes patch;
    TBytes compressed;
    TRelease() {
        target = source;
        const TBytes inserted = ProgramLike(4096, 2);
        target.insert(target.begin() + FileSize / 3, inserted.begin(), inserted.end());
        for (std::size_t at = 0; at < FileSize / 100; at += 1) {
            target[(at * 2654435761u) % target.size()] ^= 1;
        }
        patch = EncodePatch(source, target, 3);
        compressed = EncodeCompressed(target, 3);
    }
};

const TRelease& Release() {
    static const TRelease release;
    return release;
}

void Decode(benchmark::State& state, bool patch) {
    const TRelease& release = Release();
    const TBytes& road = patch ? release.patch : release.compressed;
    TBytes output(release.target.size());
    for (auto _ : state) {
        TDeltaDecoder decoder = patch ? TDeltaDecoder::Patch(release.source, release.target.size())
                                      : TDeltaDecoder::Inflate(release.target.size());
        std::size_t made = 0;
        for (std::size_t at = 0; at < road.size(); at += Piece) {
            const std::size_t size = std::min(Piece, road.size() - at);
            decoder.Feed({road.data() + at, size}, [&](std::span<const std::uint8_t> piece) {
                std::memcpy(output.data() + made, piece.data(), piece.size());
                made += piece.size();
            });
        }
        if (!decoder.Finish().empty()) {
            state.SkipWithError("the road was refused");
        }
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(release.target.size()));
}

void BM_BaselineCopy(benchmark::State& state) {
    const TRelease& release = Release();
    TBytes output(release.target.size());
    for (auto _ : state) {
        for (std::size_t at = 0; at < release.target.size(); at += Piece) {
            const std::size_t size = std::min(Piece, release.target.size() - at);
            std::memcpy(output.data() + at, release.target.data() + at, size);
        }
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(release.target.size()));
}

void BM_ApplyPatch(benchmark::State& state) {
    Decode(state, /*patch=*/true);
}

void BM_Inflate(benchmark::State& state) {
    Decode(state, /*patch=*/false);
}

}  // namespace

BENCHMARK(BM_BaselineCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyPatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inflate)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
