#include "startup/StoreLock.h"

#include "core/StrCon.h"
#include "startup/uStartupMgr.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <shlobj.h>

#include <stdexcept>

namespace {

// Between two tries of a file another process holds.
constexpr DWORD kRetryMs = 50;

// The process's share of the lock. The mutex orders the threads; `file`
// and `depth` belong to the thread that owns it.
struct ProcessLock {
    UniqueKernelHandle mutex{CreateMutexW(nullptr, FALSE, nullptr)};
    UniqueFile file;
    int depth = 0;
};

ProcessLock& TheProcessLock()
{
    static ProcessLock lock;
    return lock;
}

// Opened without sharing, so a second opener, in any process, is refused
// until it is closed; a missing folder is made once.
UniqueFile OpenLockFile(const std::string& path)
{
    const std::wstring name = WideFromUtf8(path);
    const auto open = [&] {
        return UniqueFile(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN, nullptr));
    };
    UniqueFile file = open();
    if (!file && GetLastError() == ERROR_PATH_NOT_FOUND && ForceDirectories(FolderOfPath(path)))
        file = open();
    return file;
}

// Whether the file is held by this process now, trying until `until`.
bool HoldFile(ProcessLock& lock, ULONGLONG until)
{
    const std::string path = TStoreLock::Path();
    if (path.empty())
        return true;
    for (;;) {
        lock.file = OpenLockFile(path);
        if (lock.file)
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
            return true;  // no lock can be made: the work goes on without it
        if (GetTickCount64() >= until)
            return false;
        Sleep(kRetryMs);
    }
}

} // namespace

std::string TStoreLock::Path()
{
    const std::string local = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA);
    return local.empty() ? std::string() : AddBackslash(local) + "Keldora\\Stores.lock";
}

TStoreLock::TStoreLock(DWORD timeoutMs)
{
    ProcessLock& lock = TheProcessLock();
    if (!lock.mutex)
        return;
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    const DWORD waited = WaitForSingleObject(lock.mutex.get(), timeoutMs);
    if (waited == WAIT_ABANDONED)
        lock.depth = 0;  // its thread ended holding it; the file, if open, is still this process's
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        acquired_ = waited != WAIT_TIMEOUT;
        return;
    }
    if (!lock.file && !HoldFile(lock, until)) {
        ReleaseMutex(lock.mutex.get());
        acquired_ = false;
        return;
    }
    ++lock.depth;
    owned_ = true;
}

void TStoreLock::Require() const
{
    if (!acquired_)
        throw std::runtime_error("Another program of this user holds the startup stores; nothing was changed.");
}

TStoreLock::~TStoreLock()
{
    if (!owned_)
        return;
    ProcessLock& lock = TheProcessLock();
    if (--lock.depth == 0)
        lock.file.reset();
    ReleaseMutex(lock.mutex.get());
}
