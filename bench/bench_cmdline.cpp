// Splitting the corpus lines against the in-memory file system. The baseline
// is the single existence probe of the whole line that every split begins
// with; the goal for SplitCommandLine is at least 100 000 lines per second.
#include "core/CmdLnUtils.h"

#include "core/CmdLnCorpus.h"
#include "core/MemoryCmdLnSystem.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr const char* kRoot = "C:\\KdCorpus";

struct Fixture {
    MemoryCmdLnSystem sys{"C:\\Work"};
    std::vector<std::string> lines;

    Fixture()
    {
        FillCorpusSystem(sys, kRoot);
        for (const CmdLnCase& row : CommandLineCorpus())
            lines.push_back(WithRoot(row.line, kRoot));
    }
};

const Fixture& Corpus()
{
    static const Fixture fixture;
    return fixture;
}

template <typename Work>
void RunOverCorpus(benchmark::State& state, Work work)
{
    const Fixture& corpus = Corpus();
    for (auto _ : state)
        for (const std::string& line : corpus.lines)
            work(corpus.sys, line);
    state.counters["lines/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * corpus.lines.size()), benchmark::Counter::kIsRate);
}

void BM_BaselineWholeLineProbe(benchmark::State& state)
{
    RunOverCorpus(state, [](const CmdLnSystem& sys, const std::string& line) {
        benchmark::DoNotOptimize(sys.Exists(CleanPath(sys, line)));
    });
}

void BM_SplitCommandLine(benchmark::State& state)
{
    RunOverCorpus(state, [](const CmdLnSystem& sys, const std::string& line) {
        std::string program;
        std::string parameters;
        benchmark::DoNotOptimize(SplitCommandLine(sys, line, program, parameters));
    });
}

void BM_NormalizeCommandLine(benchmark::State& state)
{
    RunOverCorpus(state, [](const CmdLnSystem& sys, const std::string& line) {
        benchmark::DoNotOptimize(NormalizeCommandLine(sys, line));
    });
}

void BM_ExtractProgramFile(benchmark::State& state)
{
    RunOverCorpus(state, [](const CmdLnSystem& sys, const std::string& line) {
        benchmark::DoNotOptimize(ExtractProgramFile(sys, line));
    });
}

}  // namespace

BENCHMARK(BM_BaselineWholeLineProbe);
BENCHMARK(BM_SplitCommandLine);
BENCHMARK(BM_NormalizeCommandLine);
BENCHMARK(BM_ExtractProgramFile);

BENCHMARK_MAIN();
