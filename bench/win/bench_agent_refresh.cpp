// One refresh cycle of the agent (take-over, reload, merge and the Quick
// Launch menu with its icons) at N = 100 and 1 000 Run entries plus N/10
// Startup files, against a baseline measured in the same run that only
// enumerates the four watched locations and reads their entries. Runs under
// Wine; prints medians, ratios and the cycle's parts, and what a steady-state
// refresh (nothing new to take over) writes: the store code's own count of
// registry writes, and the item keys and INI files whose last-write time moved;
// and how long the window takes to answer another thread (as the tray and the
// end of the session ask it) while the refreshes run on its worker.
// Uses (and empties) the Run keys and Startup folders of the prefix.
#include "agent/uAgentForm.h"
#include "common/AppPaths.h"
#include "core/StrCon.h"
#include "startup/RegStartupMgr.h"
#include "startup/StartupMgrHelper.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const std::vector<std::uint8_t> kWatched = {0, 1, 8, 9};

double Millis(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

template <typename Work>
double MedianMillis(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(Millis(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void ClearFolder(const std::string& folder)
{
    for (const std::string& dir : {folder + "\\Keldora", folder}) {
        for (const FoundFile& f : FindFiles(dir + "\\*"))
            if (!(f.attributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(WideFromUtf8(dir + "\\" + f.name).c_str());
    }
    RemoveDirectoryW(WideFromUtf8(folder + "\\Keldora").c_str());
}

void Reset()
{
    for (const std::uint8_t location : kWatched) {
        const TStpDesc desc = GetStpDesc(location);
        if (IsFolderLocation(location)) {
            ClearFolder(desc.Path);
            continue;
        }
        static_cast<void>(RegKey::DeleteTree(desc.RootKey, desc.Path));
        RegKey::Create(desc.RootKey, desc.Path, KEY_ALL_ACCESS);
    }
}

// Entries name a handful of programs, as real Run keys do.
const char* const kPrograms[] = {"C:\\windows\\notepad.exe",          "C:\\windows\\regedit.exe",
                                 "C:\\windows\\system32\\winemine.exe", "C:\\windows\\system32\\wordpad.exe",
                                 "C:\\windows\\system32\\taskmgr.exe",  "C:\\windows\\system32\\cmd.exe",
                                 "C:\\windows\\system32\\control.exe",  "C:\\windows\\system32\\msiexec.exe"};

void Seed(int n)
{
    const TStpDesc run = GetStpDesc(1);
    const RegKey key = RegKey::Open(run.RootKey, run.Path, KEY_ALL_ACCESS);
    for (int i = 0; i < n; ++i)
        static_cast<void>(key.WriteString("entry" + std::to_string(i), std::string(kPrograms[i % 8]) + " /arg" + std::to_string(i)));
    const std::string folder = GetStpDesc(9).Path;
    for (int i = 0; i < n / 10; ++i)
        std::ofstream(folder + "\\file" + std::to_string(i) + ".txt") << "startup file " << i;
}

// What any tool must do at least: list the four locations and their stores
// and read every entry once.
std::size_t Enumerate(const std::vector<TStpDesc>& descs)
{
    std::size_t bytes = 0;
    for (const TStpDesc& desc : descs) {
        if (IsFolderLocation(desc.Location)) {
            for (const std::string& dir : {desc.Path, desc.Path + "\\Keldora"})
                for (const FoundFile& f : FindFiles(dir + "\\*.*")) {
                    std::ifstream in(dir + "\\" + f.name, std::ios::binary);
                    bytes += std::string(std::istreambuf_iterator<char>(in), {}).size();
                }
            continue;
        }
        std::vector<RegKey::Value> values;
        static_cast<void>(RegKey::Open(desc.RootKey, desc.Path, KEY_READ).Values(values));
        for (const RegKey::Value& v : values)
            bytes += v.data.size();
        const RegKey store = RegKey::Open(desc.RootKey, desc.Path + "\\Keldora", KEY_READ);
        std::vector<std::string> items;
        if (store)
            static_cast<void>(store.SubKeyNames(items));
        for (const std::string& item : items) {
            std::vector<RegKey::Value> stored;
            static_cast<void>(RegKey::Open(desc.RootKey, desc.Path + "\\Keldora\\" + item, KEY_READ).Values(stored));
            for (const RegKey::Value& v : stored)
                bytes += v.data.size();
        }
    }
    return bytes;
}

std::uint64_t KeyWriteTime(HKEY root, const std::string& path)
{
    const FILETIME written = RegKey::Open(root, path, KEY_READ).LastWriteTime();
    return (std::uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime;
}

std::uint64_t FileWriteTime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data);
    return (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// The last-write time of every store key and item key, and of each INI file.
std::vector<std::uint64_t> StoreWriteTimes(const std::vector<TStpDesc>& descs)
{
    std::vector<std::uint64_t> times;
    for (const TStpDesc& desc : descs) {
        if (IsFolderLocation(desc.Location)) {
            times.push_back(FileWriteTime(desc.Path + "\\Keldora\\Keldora.ini"));
            continue;
        }
        const std::string store = desc.Path + "\\Keldora";
        times.push_back(KeyWriteTime(desc.RootKey, store));
        std::vector<std::string> items;
        static_cast<void>(RegKey::Open(desc.RootKey, store, KEY_READ).SubKeyNames(items));
        for (const std::string& item : items)
            times.push_back(KeyWriteTime(desc.RootKey, store + "\\" + item));
    }
    return times;
}

std::size_t CountChanged(const std::vector<std::uint64_t>& before, const std::vector<std::uint64_t>& after)
{
    std::size_t changed = before.size() > after.size() ? before.size() - after.size() : after.size() - before.size();
    for (std::size_t i = 0; i < std::min(before.size(), after.size()); ++i)
        changed += before[i] != after[i];
    return changed;
}

// Dispatches this thread's messages until the form has nothing left to do.
void PumpUntilIdle(const TAgentForm& form)
{
    while (form.Busy()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

struct AnswerTimes {
    double median = 0;
    double slowest = 0;
    std::size_t count = 0;
};

// Another thread sends WM_NULL again and again while the refreshes run,
// each one waited for to its end.
AnswerTimes AnswersDuringRefreshes(TAgentForm& form, int runs)
{
    std::atomic<bool> stop{false}, ended{false};
    std::vector<double> times;
    const HWND window = form.Handle();
    std::thread asker([&] {
        while (!stop) {
            const auto start = Clock::now();
            DWORD_PTR ignored = 0;
            if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored))
                times.push_back(Millis(start));
            Sleep(1);
        }
        ended = true;
    });
    for (int i = 0; i < runs; ++i) {
        SendMessageW(window, UM_REFRESH_MENU, 0, 0);
        PumpUntilIdle(form);
    }
    stop = true;
    // Its last question is answered only while this thread dispatches.
    while (!ended) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    asker.join();
    std::sort(times.begin(), times.end());
    return times.empty() ? AnswerTimes{} : AnswerTimes{times[times.size() / 2], times.back(), times.size()};
}

} // namespace

int main()
{
    const std::string folder = GetTempDir() + "kdagent-bench\\";
    CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);
    SetEnvironmentVariableW(L"KDAGENT_MESSAGE_LOG", WideFromUtf8(folder + "messages.log").c_str());

    for (const int n : {100, 1000}) {
        const int runs = n <= 100 ? 21 : 7;
        Reset();
        Seed(n);
        auto start = Clock::now();
        TAgentOptions options;
        options.agentFolder = folder;
        TAgentForm form(options);
        const double firstStart = Millis(start);
        std::vector<TStpDesc> descs;
        for (const std::uint8_t location : kWatched)
            descs.push_back(GetStpDesc(location));
        const double baseline = MedianMillis(runs, [&] { Enumerate(descs); });
        Sleep(50);  // so that a write in the cycles below gives a later time
        const std::vector<std::uint64_t> timesBefore = StoreWriteTimes(descs);
        const std::size_t writesBefore = TRegStartupMgr::StoreWrites();
        const double cycle = MedianMillis(runs, [&] { SendMessageW(form.Handle(), UM_REFRESH_MENU, 0, 0); });
        const std::size_t writes = TRegStartupMgr::StoreWrites() - writesBefore;
        const std::size_t rewritten = CountChanged(timesBefore, StoreWriteTimes(descs));
        TStartupMgrHelper helper(kWatched);
        const double setup = MedianMillis(runs, [&] { helper.SetupAll(); });
        const double reload = MedianMillis(runs, [&] { helper.RefreshAll(); });
        const int items = helper.Count();
        const double menu = MedianMillis(runs, [&] { form.BuildQuickLaunchMenu(); });
        const AnswerTimes answers = AnswersDuringRefreshes(form, runs);
        std::printf("N=%4d (+%d files, %d items)  baseline %.2f ms  refresh cycle %.2f ms  ratio %.1fx  "
                    "%.0f us/item\n",
                    n, n / 10, items, baseline, cycle, cycle / baseline, cycle * 1000 / items);
        std::printf("        SetupAll %.2f ms, RefreshAll %.2f ms, menu with icons %.2f ms; "
                    "first start with take-over %.2f ms (%.1fx baseline)\n",
                    setup, reload, menu, firstStart, firstStart / baseline);
        std::printf("        %d steady-state refreshes: %zu registry writes counted by the store, "
                    "%zu store keys or INI files with a new last-write time\n",
                    runs, writes, rewritten);
        std::printf("        the window's answer to another thread during %d refreshes: median %.2f ms, "
                    "slowest %.2f ms (%zu answers)\n",
                    runs, answers.median, answers.slowest, answers.count);
        SendMessageW(form.Handle(), UM_QUIT, 0, 0);
    }
    Reset();
    return 0;
}
