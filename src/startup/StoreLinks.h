#pragma once
// What the stores refuse to follow, the folders they hold while they work,
// the rights they work with, and the all-users store's own lock. A link (symbolic link, junction, other
// reparse point) or a path whose final path is not its folder's plus its own
// name is refused with the reason, and nothing is written, moved or deleted
// through it. Runs on the calling thread; raises nothing but std::bad_alloc
// and, from Require and TActingAsUser (common/StartToken.h), std::runtime_error
// with the refusal.
#include "common/StartToken.h"
#include "winutil/UniqueHandle.h"

#include <windows.h>

#include <string>

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the entry itself, never what a link at it leads to.
UniqueFile OpenEntry(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0);
// The same; a file it creates gets `security`, in the step that creates it.
UniqueFile OpenEntry(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                     SECURITY_ATTRIBUTES* security);

// The path the system resolved the handle to, without the "\\?\" prefix;
// empty where the system has no final paths (before Windows Vista).
std::string FinalPathOf(HANDLE entry);

// Empty when `path` is no link (or is missing); else why it is refused.
std::string LinkRefusal(const std::string& path);

// The same for an entry already open at `path`; a file with other names
// (hard links) is refused too.
std::string HandleRefusal(HANDLE entry, const std::string& path);

// A folder held open for the whole of a take-over or restore: shared for
// reading and writing but not for deletion, so that nobody can rename,
// remove or replace it (by a junction) between the check and the last use
// by path; its files stay free to create, rename and delete. Checked under
// the held handle: not a link, a folder, its final path its parent's plus
// its name, or with `wholePath` the path as given.
class THeldFolder {
public:
    THeldFolder(const std::string& folder, bool wholePath);

    // Raises std::runtime_error with the reason when the folder is not held.
    void Require() const;
    // Lets the folder go, before it is removed itself.
    void Release() { handle_.reset(); }

private:
    UniqueFile handle_;
    std::string refusal_;
};

inline constexpr const char* kLockFileName = "Keldora.lock";

// The all-users store's lock for every session and user of the machine: its
// file "Keldora.lock" held open unshared while the store is written. The
// store folder is the machine's, where only administrators may create a
// file, so no other user can hold or fake it; the file is made with a
// protected access list of administrators and the system alone, so one a
// power cut left behind is no other user's to hold either, and one an older
// version left with the folder's list gets that list at the take, one left
// read-only its mark cleared; a folder of its name is refused. Fails closed:
// Require raises when another holder kept it past a few seconds, its access
// list could not be reset, it could not be made, or an APC (the stopping
// worker's) ended the wait.
// The thread that holds it takes it again for nothing (the file is unshared,
// so nobody else of the process could), and the hold ends with the outermost.
class TStoreFileLock {
public:
    explicit TStoreFileLock(const std::string& store);
    TStoreFileLock(TStoreFileLock&& other) noexcept;
    TStoreFileLock& operator=(TStoreFileLock&& other) noexcept;
    ~TStoreFileLock();

    void Require() const;

private:
    void LetGo() noexcept;

    UniqueFile file_;
    std::string refusal_;
    bool counted_ = false;  // this object is one of the holder's takes
};

// The lock of the machine's stores: the all-users Startup folder's and the
// machine's Run keys' (HKEY_LOCAL_MACHINE), which every administrator's agent
// writes. It is the all-users store's TStoreFileLock, its folder made (hidden)
// when missing; held. Raises std::runtime_error with the reason when it
// cannot be taken.
TStoreFileLock MachineStoresLock();
