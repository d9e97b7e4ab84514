#include "common/LogFile.h"

#include "common/StartToken.h"
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
// they take turns by a lock on the file itself. The byte locked lies far past
// any log's end, so that a reader of the log is never refused. Polled within
// a bound, as a queued request under Wine waits unbounded: a writer stuck
// holding it costs a line, not a thread. Any reader of the log may hold the
// lock too; once a turn was denied for the whole wait, the next writers of
// this process try once without waiting for a while, so such a reader costs
// one wait in that while, never one per line (the window's thread logs too).
constexpr DWORD kLockOffsetHigh = 0x40000000;
constexpr DWORD kLockWaitMs = 1000;
constexpr ULONGLONG kNoWaitAfterDenialMs = 30000;

class LogTurn {
public:
    explicit LogTurn(HANDLE file) : file_(file)
    {
        const ULONGLONG now = GetTickCount64();
        const ULONGLONG until = now < deniedUntil_ ? now : now + kLockWaitMs;
        for (;;) {
            OVERLAPPED range = Range();
            if (LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
                held_ = true;
                return;
            }
            // A file system without byte locks leaves only this process's own
            // order: better that than no log at all.
            if (GetLastError() != ERROR_LOCK_VIOLATION) {
                unlockable_ = true;
                return;
            }
            if (GetTickCount64() >= until) {
                deniedUntil_ = GetTickCount64() + kNoWaitAfterDenialMs;
                return;
            }
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

    bool MayWrite() const { return held_ || unlockable_; }

private:
    static OVERLAPPED Range()
    {
        OVERLAPPED range = {};
        range.OffsetHigh = kLockOffsetHigh;
        return range;
    }

    // Read and written under the process's own order of writers.
    static inline ULONGLONG deniedUntil_ = 0;

    HANDLE file_;
    bool held_ = false;
    bool unlockable_ = false;
};

std::string Stamp()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return PaddedDecimal(now.wYear, 4) + '-' + PaddedDecimal(now.wMonth, 2) + '-' + PaddedDecimal(now.wDay, 2) + ' ' +
           PaddedDecimal(now.wHour, 2) + ':' + PaddedDecimal(now.wMinute, 2) + ':' + PaddedDecimal(now.wSecond, 2) + ' ';
}

// Reads the log and writes it back with the lines, when this process has its turn.
void AppendLines(const std::string& path, const std::vector<std::string>& lines)
{
    const std::size_t slash = path.find_last_of('\\');
    if (path.empty() || slash == std::string::npos || !ForceDirectories(path.substr(0, slash + 1)))
        return;
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!file)
        return;
    const LogTurn turn(file.get());
    if (!turn.MayWrite())
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

}  // namespace

void AppendLogFile(const std::string& path, const std::string& line)
{
    AppendLogFile(path, std::vector<std::string>{line});
}

void AppendLogFile(const std::string& path, const std::vector<std::string>& lines)
{
    // Threads of one program append to one log; each reads what the last wrote.
    static std::mutex appending;
    const std::lock_guard lock(appending);
    try {
        // The log lies in the user's profile, where any program of the user
        // may plant a link: an elevated writer follows it with the user's
        // rights only, or writes nothing.
        const TActingAsUser rights(/*userLocation=*/true);
        AppendLines(path, lines);
    } catch (const std::exception&) {
    }
}
