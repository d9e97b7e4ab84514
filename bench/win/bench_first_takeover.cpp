// The first take-over of a large Run key against `reg query` of the same key,
// both measured in this run: N values in the current user's Run key, an empty
// store, then TRegStartupMgr::SetupItems; the baseline starts the system's
// reg.exe on the key and waits for it. Prints the median of five rounds and
// the ratio. Uses (and empties) the current user's Run key.
// Usage: bench_first_takeover.exe [N]   (default 2000)
#include "startup/RegStartupMgr.h"
#include "common/AppPaths.h"
#include "winutil/RegKey.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t UserRun = 1;
constexpr int Rounds = 5;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void EmptyRunKey()
{
    const TStpDesc run = GetStpDesc(UserRun);
    static_cast<void>(RegKey::DeleteTree(run.RootKey, run.Path));
    RegKey::Create(run.RootKey, run.Path, KEY_ALL_ACCESS);
}

void EmptyStore()
{
    const TStpDesc run = GetStpDesc(UserRun);
    static_cast<void>(RegKey::DeleteTree(run.RootKey, run.Path + "\\Keldora"));
}

// Programs of several shapes: quoted, with arguments, without a folder.
void Seed(int n)
{
    const TStpDesc run = GetStpDesc(UserRun);
    const RegKey key = RegKey::Open(run.RootKey, run.Path, KEY_ALL_ACCESS);
    const std::string windows = GetWindowsDir();
    for (int i = 0; i < n; ++i) {
        const std::string name = "entry" + std::to_string(i);
        std::string line;
        switch (i % 3) {
        case 0: line = "\"" + windows + "\\notepad.exe\" /arg" + std::to_string(i); break;
        case 1: line = windows + "\\system32\\cmd.exe /c rem " + std::to_string(i); break;
        default: line = "C:\\Program Files\\Tool " + std::to_string(i) + "\\tool.exe -x"; break;
        }
        static_cast<void>(key.WriteString(name, line));
    }
}

double RegQuery()
{
    const TStpDesc run = GetStpDesc(UserRun);
    std::wstring command = L"reg.exe query \"HKEY_CURRENT_USER\\" + WideFromUtf8(RegistryPath(run.Path)) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const UniqueFile nul(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     OPEN_EXISTING, 0, nullptr));
    startup.hStdOutput = nul.get();
    startup.hStdError = nul.get();
    PROCESS_INFORMATION started = {};
    const auto start = Clock::now();
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
        std::printf("reg.exe could not be started (%lu)\n", GetLastError());
        std::exit(1);
    }
    const UniqueKernelHandle process(started.hProcess), thread(started.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    return Seconds(start);
}

double FirstTakeOver()
{
    EmptyStore();
    TRegStartupMgr mgr(UserRun);
    const auto start = Clock::now();
    mgr.SetupItems();
    return Seconds(start);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
    EmptyRunKey();
    EmptyStore();
    Seed(n);
    std::vector<double> query, takeOver;
    for (int round = 0; round < Rounds; ++round) {
        query.push_back(RegQuery());
        takeOver.push_back(FirstTakeOver());
    }
    const double q = Median(query), t = Median(takeOver);
    std::printf("N=%d  reg query %.3f s  first take-over %.3f s  ratio %.2fx (goal <= 3x)\n", n, q, t, t / q);
    EmptyStore();
    EmptyRunKey();
    return 0;
}
