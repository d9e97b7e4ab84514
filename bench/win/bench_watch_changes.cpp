// Changes the current user's Run key N times (default 1 000) while a running
// agent watches it: each change a new value, waited for until the agent's
// store holds it, then the value and its stored item removed again, so the
// store ends as it began. bench/bench_agent.sh reads the agent's memory
// before and after: what the live watch keeps per change.
// Usage: bench_watch_changes [N]
#include "startup/uStartupMgr.h"
#include "winutil/RegKey.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const int changes = argc > 1 ? std::atoi(argv[1]) : 1000;
    const TStpDesc run = GetStpDesc(1);
    const RegKey key = RegKey::Open(run.RootKey, run.Path, KEY_ALL_ACCESS);
    const auto start = std::chrono::steady_clock::now();
    int missed = 0;
    for (int i = 0; i < changes; ++i) {
        const std::string name = "churn" + std::to_string(i);
        if (key.WriteString(name, "C:\\bench\\" + name + ".exe") != ERROR_SUCCESS)
            return 1;
        const DWORD begun = GetTickCount();
        while (!RegKey::Exists(run.RootKey, run.Path + "\\Keldora\\" + name) && GetTickCount() - begun < 30000)
            Sleep(1);
        missed += !RegKey::Exists(run.RootKey, run.Path + "\\Keldora\\" + name);
        static_cast<void>(key.DeleteValue(name));
        static_cast<void>(RegKey::DeleteTree(run.RootKey, run.Path + "\\Keldora\\" + name));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d changes taken over in %.1f s (%d not within 30 s)\n", changes, seconds, missed);
    return missed == 0 ? 0 : 1;
}
