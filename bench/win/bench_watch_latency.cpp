// How soon a running agent takes over a new entry: 20 Run values and 20
// Startup files, one at a time, each timed from its write until the store
// holds it; prints the median and the slowest against the 1 s aim. Runs under
// Wine beside a running kdAgent.exe (bench/bench_agent.sh starts one). Uses
// the current user's Run key and Startup folder; the files stay in the store.
#include "startup/uStartupMgr.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/WholeFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChanges = 20;

template <typename Done>
double SecondsUntil(Done done)
{
    const Clock::time_point start = Clock::now();
    while (!done() && Clock::now() - start < std::chrono::seconds(30))
        Sleep(1);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void Report(const char* what, std::vector<double> seconds)
{
    std::sort(seconds.begin(), seconds.end());
    const double median = (seconds[kChanges / 2 - 1] + seconds[kChanges / 2]) / 2;
    std::printf("%s: median %.3f s, slowest %.3f s; median / 1 s aim = %.2f\n", what, median, seconds.back(), median);
}

} // namespace

int main()
{
    const TStpDesc run = GetStpDesc(1);
    const std::string folder = GetStpDesc(9).Path;
    std::vector<double> values, files;
    for (int i = 0; i < kChanges; ++i) {
        const std::string name = "latency" + std::to_string(i);
        const RegKey key = RegKey::Open(run.RootKey, run.Path, KEY_ALL_ACCESS);
        if (key.WriteString(name, "C:\\bench\\" + name + ".exe") != ERROR_SUCCESS)
            return 1;
        values.push_back(SecondsUntil([&] { return RegKey::Exists(run.RootKey, run.Path + "\\Keldora\\" + name); }));
        static_cast<void>(key.DeleteValue(name));
        static_cast<void>(RegKey::DeleteTree(run.RootKey, run.Path + "\\Keldora\\" + name));
        Sleep(300);
    }
    for (int i = 0; i < kChanges; ++i) {
        const std::string name = "latency" + std::to_string(i) + ".txt";
        if (!WriteWholeFile(folder + "\\" + name, "bench"))
            return 1;
        files.push_back(SecondsUntil([&] { return !FileExists(folder + "\\" + name); }));
        Sleep(300);
    }
    Report("Run value taken over", values);
    Report("Startup file taken over", files);
    return 0;
}
