// Prints the memory figures Windows reports for the running agent (the
// process owning the window of class TAgentForm), for bench/bench_agent.sh.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

int main()
{
    const HWND agent = FindWindowA("TAgentForm", nullptr);
    DWORD pid = 0;
    if (!agent || !GetWindowThreadProcessId(agent, &pid))
        return 1;
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!process ||
        !GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return 1;
    CloseHandle(process);
    // Wine does not count private bytes; it reports 0.
    if (counters.PrivateUsage != 0)
        std::printf("private bytes %.2f MB, ", counters.PrivateUsage / 1048576.0);
    std::printf("working set %.2f MB, peak working set %.2f MB\n", counters.WorkingSetSize / 1048576.0,
                counters.PeakWorkingSetSize / 1048576.0);
    return 0;
}
