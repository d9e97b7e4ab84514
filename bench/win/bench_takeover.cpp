// Take-over and reload of the user's Run key and Startup folder at growing
// sizes, against a baseline that only enumerates and reads the same values and
// files. Runs under Wine; prints the ratio per size and the growth per entry.
// Uses (and empties) the current user's Run key and Startup folder.
#include "core/StrCon.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t UserRun = 1;
constexpr std::uint8_t UserFolder = 9;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void Reset(const std::string& folder)
{
    const TStpDesc run = GetStpDesc(UserRun);
    static_cast<void>(RegKey::DeleteTree(run.RootKey, run.Path));
    RegKey::Create(run.RootKey, run.Path, KEY_ALL_ACCESS);
    const std::string store = folder + "\\Keldora";
    for (const std::string& dir : {folder, store}) {
        for (const FoundFile& f : FindFiles(dir + "\\*")) {
            if (!(f.attributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(WideFromUtf8(dir + "\\" + f.name).c_str());
        }
    }
    RemoveDirectoryW(WideFromUtf8(store).c_str());
}

void Seed(int n, const std::string& folder)
{
    const TStpDesc run = GetStpDesc(UserRun);
    RegKey key = RegKey::Open(run.RootKey, run.Path, KEY_ALL_ACCESS);
    for (int i = 0; i < n; ++i)
        static_cast<void>(key.WriteString("entry" + std::to_string(i), "C:\\windows\\notepad.exe /arg" + std::to_string(i)));
    for (int i = 0; i < n / 10; ++i)
        std::ofstream(folder + "\\file" + std::to_string(i) + ".lnk") << "shortcut " << i;
}

// What any tool must do at least: list and read every entry once.
std::size_t Baseline(const std::string& folder)
{
    const TStpDesc run = GetStpDesc(UserRun);
    std::vector<RegKey::Value> values;
    static_cast<void>(RegKey::Open(run.RootKey, run.Path, KEY_READ).Values(values));
    std::size_t bytes = 0;
    for (const RegKey::Value& v : values)
        bytes += v.data.size();
    for (const FoundFile& f : FindFiles(folder + "\\*.*")) {
        std::ifstream in(folder + "\\" + f.name, std::ios::binary);
        bytes += std::string(std::istreambuf_iterator<char>(in), {}).size();
    }
    return bytes;
}

// Phases: registry take-over, folder take-over, registry reload, folder reload.
int TakeOverAndReload(double phases[4])
{
    TRegStartupMgr reg(UserRun);
    TFolderStartupMgr folder(UserFolder);
    auto start = Clock::now();
    reg.SetupItems();
    phases[0] = Seconds(start);
    start = Clock::now();
    folder.SetupItems();
    phases[1] = Seconds(start);
    start = Clock::now();
    reg.Reload();
    phases[2] = Seconds(start);
    start = Clock::now();
    folder.Reload();
    phases[3] = Seconds(start);
    return reg.Count() + folder.Count();
}

} // namespace

int main()
{
    const std::string folder = GetStpDesc(UserFolder).Path;
    double previousPerEntry = 0;
    for (const int n : {100, 1000, 10000}) {
        Reset(folder);
        Seed(n, folder);
        auto start = Clock::now();
        const std::size_t bytes = Baseline(folder);
        const double baseline = Seconds(start);

        start = Clock::now();
        double phases[4] = {};
        const int items = TakeOverAndReload(phases);
        const double takeOver = Seconds(start);

        const double perEntry = takeOver / (n + n / 10);
        std::printf("N=%5d  baseline %.4f s (%zu bytes)  take-over+reload %.4f s (%d items)  ratio %.1fx  "
                    "%.1f us/entry%s\n",
                    n, baseline, bytes, takeOver, items, takeOver / baseline, perEntry * 1e6,
                    previousPerEntry > 0 ? ("  growth/entry " + std::to_string(perEntry / previousPerEntry)).c_str()
                                         : "");
        std::printf("         registry take-over %.3f s, folder take-over %.3f s, registry reload %.3f s, "
                    "folder reload %.3f s\n",
                    phases[0], phases[1], phases[2], phases[3]);
        previousPerEntry = perEntry;
    }
    Reset(folder);
    return 0;
}
