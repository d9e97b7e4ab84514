#include "common/LogFile.h"

#include "core/Format.h"
#include "core/LogText.h"
#include "winutil/FindFiles.h"
#include "winutil/WholeFile.h"

#include <windows.h>

#include <mutex>
#include <vector>

namespace {

// A file far larger than the cap is no log of ours and is started afresh.
constexpr std::size_t kMaxLogFileRead = 16 * kLogCap;

std::string Stamp()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return PaddedDecimal(now.wYear, 4) + '-' + PaddedDecimal(now.wMonth, 2) + '-' + PaddedDecimal(now.wDay, 2) + ' ' +
           PaddedDecimal(now.wHour, 2) + ':' + PaddedDecimal(now.wMinute, 2) + ':' + PaddedDecimal(now.wSecond, 2) + ' ';
}

}  // namespace

void AppendLogFile(const std::string& path, const std::string& line)
{
    AppendLogFile(path, std::vector<std::string>{line});
}

void AppendLogFile(const std::string& path, const std::vector<std::string>& lines)
{
    const std::size_t slash = path.find_last_of('\\');
    if (path.empty() || slash == std::string::npos || !ForceDirectories(path.substr(0, slash + 1)))
        return;
    // Threads of one program append to one log; each reads what the last wrote.
    static std::mutex appending;
    const std::lock_guard lock(appending);
    std::string log = ReadWholeFile(path, kMaxLogFileRead).value_or(std::string());
    const std::string stamp = Stamp();
    for (std::string flat : lines) {
        for (char& c : flat)
            if (c == '\r' || c == '\n')
                c = ' ';
        log = AppendLogLine(log, stamp + flat);
    }
    WriteWholeFile(path, log);
}
