// Prints the memory figures Windows reports for the running agent (the
// process owning the window of class TAgentForm), for bench/bench_agent.sh,
// or for the process owning the window of the given class and caption ("-"
// for any), for bench/bench_freshet.sh.
// Usage: bench_agent_memory [CLASS [CAPTION]]
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const auto any = [](const wchar_t* text) { return std::wcscmp(text, L"-") == 0 ? nullptr : text; };
    const wchar_t* windowClass = argv && argc > 1 ? any(argv[1]) : L"TAgentForm";
    const wchar_t* caption = argv && argc > 2 ? any(argv[2]) : nullptr;
    const HWND window = FindWindowW(windowClass, caption);
    LocalFree(argv);
    DWORD pid = 0;
    if (!window || !GetWindowThreadProcessId(window, &pid))
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
