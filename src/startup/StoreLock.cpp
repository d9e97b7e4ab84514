#include "startup/StoreLock.h"

#include "core/Format.h"
#include "core/StrCon.h"
#include "startup/StoreLinks.h"
#include "startup/uStartupMgr.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <shlobj.h>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace {

// The thread of this process that holds the lock, and how often it took it
// (changed by that thread alone): the file lock belongs to one handle, so one
// thread holds it at a time. Not thread_local, which this toolchain emulates
// through the threads library, giving every worker that asks a record of it.
std::atomic<DWORD> gHolder{0};
int gDepth = 0;

enum : int { kWaiting, kGranted, kFailed, kAbandoned };

// Why the file at `path` cannot serve as the lock, else empty with `file`
// open. Made and checked with the user's own rights, so that a link the
// user's programs planted leads an elevated agent nowhere.
std::string OpenLockFile(const std::string& path, UniqueFile& file)
{
    if (path.empty())
        return "the user's local application data folder is unknown";
    const std::string folder = RemoveBackslash(FolderOfPath(path));
    try {
        const TActingAsUser rights(/*userLocation=*/true);
        if (!DirectoryExists(folder) && LinkRefusal(folder).empty() &&
            !CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return ErrorMessage("Making the folder " + folder, GetLastError());
        // Held so that nobody swaps it for a link before the file is open.
        const THeldFolder held(folder, rights.MoreRightsThanUser());
        held.Require();
        file = OpenEntry(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
        if (!file)
            return ErrorMessage("Opening " + path, GetLastError());
        BY_HANDLE_FILE_INFORMATION info = {};
        std::string refusal;
        if (!GetFileInformationByHandle(file.get(), &info))
            refusal = ErrorMessage("Reading what " + path + " is", GetLastError());
        else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            refusal = FormatText("\"%s\" is a folder, not a file", {path});
        else
            refusal = HandleRefusal(file.get(), path);
        if (!refusal.empty())
            file.reset();
        return refusal;
    } catch (const std::runtime_error& e) {
        file.reset();
        return e.what();
    }
}

std::string HeldText(const std::string& path)
{
    return FormatText("another program of this user held \"%s\" too long", {path});
}

void TakeHold()
{
    gHolder = GetCurrentThreadId();
    gDepth = 1;
}

} // namespace

// Shared by the thread that asks for the lock and the one that waits in the
// system for it: either may be the last to let it go.
struct TStoreLock::Held {
    UniqueFile file;
    // Set once the waiting thread's request has ended.
    UniqueKernelHandle done;
    std::atomic<int> state{kWaiting};
    DWORD error = ERROR_SUCCESS;

    void Unlock()
    {
        OVERLAPPED range = {};
        UnlockFileEx(file.get(), 0, 1, 0, &range);
    }

    static DWORD WINAPI Wait(void* param);
};

// Not every system ends a queued lock request for an APC (Wine's wait is
// neither alertable nor bounded, and never completes an overlapped one), so
// the request waits on a thread of its own and the asking thread waits
// alertably for it. A request given up is let go of when it comes through.
DWORD WINAPI TStoreLock::Held::Wait(void* param)
{
    const std::unique_ptr<std::shared_ptr<Held>> owned(static_cast<std::shared_ptr<Held>*>(param));
    Held& held = **owned;
    OVERLAPPED range = {};
    const bool locked = LockFileEx(held.file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range) != FALSE;
    held.error = locked ? ERROR_SUCCESS : GetLastError();
    int expected = kWaiting;
    if (!held.state.compare_exchange_strong(expected, locked ? kGranted : kFailed) && locked)
        held.Unlock();
    SetEvent(held.done.get());
    return 0;
}

// Asked of the shell once: a process's user and profile do not change.
std::string TStoreLock::Path()
{
    static const std::string path = [] {
        const std::string local = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA);
        return local.empty() ? std::string() : AddBackslash(local) + "Keldora\\Stores.lock";
    }();
    return path;
}

TStoreLock::TStoreLock(DWORD timeoutMs)
    : TStoreLock(timeoutMs, [](HANDLE granted, DWORD ms) { return WaitForSingleObjectEx(granted, ms, /*bAlertable=*/TRUE); })
{
}

TStoreLock::TStoreLock(DWORD timeoutMs, const TStoreLockWait& wait)
{
    if (gHolder == GetCurrentThreadId()) {
        ++gDepth;
        return;
    }
    const std::string path = Path();
    auto held = std::make_shared<Held>();
    if (refusal_ = OpenLockFile(path, held->file); !refusal_.empty())
        return;
    OVERLAPPED range = {};
    if (LockFileEx(held->file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        held_ = std::move(held);
        TakeHold();
        return;
    }
    if (const DWORD error = GetLastError(); error != ERROR_LOCK_VIOLATION) {
        refusal_ = ErrorMessage("Locking " + path, error);
        return;
    }
    refusal_ = HeldText(path);
    heldElsewhere_ = true;
    if (timeoutMs == 0)
        return;
    held->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto owned = std::make_unique<std::shared_ptr<Held>>(held);
    const UniqueKernelHandle waiter(held->done ? CreateThread(nullptr, 0, Held::Wait, owned.get(), 0, nullptr) : nullptr);
    if (!waiter) {
        refusal_ = ErrorMessage("Waiting for " + path, GetLastError());
        heldElsewhere_ = false;
        return;
    }
    static_cast<void>(owned.release());
    const DWORD waited = wait(held->done.get(), timeoutMs);
    heldElsewhere_ = waited == WAIT_TIMEOUT;
    if (waited == WAIT_OBJECT_0 && held->state == kGranted) {
        refusal_.clear();
        held_ = std::move(held);
        TakeHold();
        return;
    }
    if (waited == WAIT_OBJECT_0) {
        refusal_ = ErrorMessage("Locking " + path, held->error);
        return;
    }
    if (waited == WAIT_IO_COMPLETION)
        refusal_ = FormatText("the wait for \"%s\" was ended: the program is stopping", {path});
    else if (waited == WAIT_FAILED)
        refusal_ = ErrorMessage("Waiting for " + path, GetLastError());
    int expected = kWaiting;
    if (!held->state.compare_exchange_strong(expected, kAbandoned) && expected == kGranted)
        held->Unlock();
    // Where the system can, the waiting request ends now rather than when the holder lets go.
    CancelSynchronousIo(waiter.get());
}

void TStoreLock::Require() const
{
    if (!Acquired())
        throw std::runtime_error("The startup stores are not locked (" + refusal_ + "); nothing was changed.");
}

TStoreLock::~TStoreLock()
{
    if (!Acquired())
        return;
    if (--gDepth > 0)
        return;
    gHolder = 0;
    if (held_)
        held_->Unlock();
}

// The rights are taken only once the lock is held.
TStoreWrite::TStoreWrite(bool userLocation)
    : rights_((lock_.Require(), userLocation)), userLocation_(userLocation)
{
}

void TStoreWrite::LockMachine()
{
    if (!userLocation_ && !machine_)
        machine_ = MachineStoresLock();
}
