#include "common/LogFile.h"

#include "core/Format.h"
#include "core/LogText.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <mutex>
#include <vector>

namespace {

// A file far larger than the cap is no log of ours and is started afresh.
constexpr std::size_t kMaxLogFileRead = 16 * kLogCap;

// Every program of the user logging to one file (the agents of the user's
// sessions, elevated or not, each with its threads) rewrites it whole, so
// they take turns by a lock on the file itself: only who may open the log can
// hold it. The byte locked lies far past any log's end, so that a reader of
// the log is never refused. Polled within a bound, as a queued request under
// Wine waits unbounded: a writer stuck holding it costs a line, not a thread.
constexpr DWORD kLockOffsetHigh = 0x40000000;
constexpr DWORD kLockWaitMs = 1000;

class LogTurn {
public:
    explicit LogTurn(HANDLE file) : file_(file)
    {
        const ULONGLONG until = GetTickCount64() + kLockWaitMs;
        for (;;) {
            OVERLAPPED range = Range();
            if (LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
                held_ = true;
                return;
            }
            if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= until)
                return;
            Sleep(5);
        }
    }
    ~LogTurn()
    {
        OVERLAPPED range = Range();
        if (held_)
            UnlockFileEx(file_, 0, 1, 0, &range);
    }
    LogTurn(const LogTurn&) = delete;
    LogTurn& operator=(const LogTurn&) = delete;

    bool Held() const { return held_; }

private:
    static OVERLAPPED Range()
    {
        OVERLAPPED range = {};
        range.OffsetHigh = kLockOffsetHigh;
        return range;
    }

    HANDLE file_;
    bool held_ = false;
};

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
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!file)
        return;
    const LogTurn turn(file.get());
    if (!turn.Held())
        return;
    std::string log = ReadWholeFile(file.get(), kMaxLogFileRead).value_or(std::string());
    const std::string stamp = Stamp();
    for (std::string flat : lines) {
        for (char& c : flat)
            if (c == '\r' || c == '\n')
                c = ' ';
        log = AppendLogLine(log, stamp + flat);
    }
    WriteWholeFile(file.get(), log);
}
