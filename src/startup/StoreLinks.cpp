#include "startup/StoreLinks.h"

#include "common/StartToken.h"
#include "core/Format.h"
#include "core/StrCon.h"
#include "startup/uStartupMgr.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/RuntimeLink.h"
#include "winutil/WideText.h"

#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <stdexcept>
#include <utility>

namespace {

std::string WithoutLongPrefix(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return "\\\\" + Utf8FromWide(path.substr(8));
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return Utf8FromWide(path.substr(4));
    return Utf8FromWide(path);
}

// The path with short names made long, as final paths spell it.
std::string LongPathOf(const std::string& path)
{
    const std::wstring wide = WideFromUtf8(RemoveBackslash(path));
    std::wstring buffer(1024, L'\0');
    const DWORD length = GetLongPathNameW(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size())
        return RemoveBackslash(path);
    buffer.resize(length);
    return Utf8FromWide(buffer);
}

// The thread holding the machine's lock and how often it took it (changed by
// that thread alone).
std::atomic<DWORD> gMachineHolder{0};
int gMachineDepth = 0;

} // namespace

UniqueFile OpenEntry(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    return OpenEntry(path, access, share, disposition, flags, nullptr);
}

UniqueFile OpenEntry(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                     SECURITY_ATTRIBUTES* security)
{
    return UniqueFile(CreateFileW(WideFromUtf8(path).c_str(), access, share, security, disposition,
                                  flags | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::string FinalPathOf(HANDLE entry)
{
    using Fn = DWORD WINAPI(HANDLE, LPWSTR, DWORD, DWORD);
    static Fn* const finalPath = OptionalFunctionAs<Fn>("kernel32.dll", "GetFinalPathNameByHandleW");
    if (!finalPath)
        return {};
    std::wstring buffer(1024, L'\0');
    const DWORD length = finalPath(entry, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0 || length >= buffer.size())
        return {};
    buffer.resize(length);
    return WithoutLongPrefix(buffer);
}

std::string HandleRefusal(HANDLE entry, const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileInformationByHandle(entry, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FormatText("\"%s\" is a link (a reparse point)", {path});
    // Another name of the same file would keep it in two places, or give
    // the store bytes its user may not read.
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1)
        return FormatText("\"%s\" has other names (hard links)", {path});
    const std::string final = FinalPathOf(entry);
    if (final.empty())
        return {};
    const UniqueFile parent(CreateFileW(WideFromUtf8(FolderOfPath(path)).c_str(), 0, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::string parentFinal = parent ? FinalPathOf(parent.get()) : std::string();
    if (parentFinal.empty() || SameText(AddBackslash(parentFinal) + TextAfterLast("\\", path), final))
        return {};
    return FormatText("\"%s\" is a link to \"%s\"", {path, final});
}

std::string LinkRefusal(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {};
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return FormatText("\"%s\" is a link (a reparse point)", {path});
    const UniqueFile entry = OpenEntry(path, 0, kShareAll, OPEN_EXISTING);
    if (!entry)
        return ErrorMessage("Opening " + path, GetLastError());
    return HandleRefusal(entry.get(), path);
}

THeldFolder::THeldFolder(const std::string& folder, bool wholePath)
{
    const std::string path = RemoveBackslash(folder);
    // A folder shows itself as a link by its path only, under some systems.
    refusal_ = FormatText("\"%s\"", {path});
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        refusal_ += " is a link (a reparse point)";
        return;
    }
    handle_ = OpenEntry(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        OPEN_EXISTING);
    if (!handle_) {
        refusal_ = ErrorMessage("Holding the folder " + path, GetLastError());
        return;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle_.get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        refusal_ += " is a file, not a folder";
    else if (refusal_ = HandleRefusal(handle_.get(), path); refusal_.empty() && wholePath) {
        const std::string final = FinalPathOf(handle_.get());
        if (!final.empty() && !SameText(final, LongPathOf(path)))
            refusal_ = FormatText("\"%s\" is reached through a link, to \"%s\", which an elevated program does not "
                                  "follow",
                                  {path, final});
    }
    if (!refusal_.empty())
        handle_.reset();
}

void THeldFolder::Require() const
{
    if (!refusal_.empty())
        throw std::runtime_error(refusal_ + "; nothing was read, written or moved through it");
}

namespace {

// Administrators and the system alone, not what the folder hands down,
// which would let any user open the lock file and hold it against every
// administrator.
constexpr const wchar_t* kLockFileAccess = L"D:P(A;;FA;;;BA)(A;;FA;;;SY)";

// A file older versions left (they set its list only after creating it, and
// a power cut between the two kept the folder's) gets the list again.
std::string KeepToAdministrators(HANDLE file, PSECURITY_DESCRIPTOR descriptor, const std::string& path)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted))
        return ErrorMessage("Making the access list of " + path, GetLastError());
    const DWORD error = SetSecurityInfo(file, SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, list, nullptr);
    return error == ERROR_SUCCESS
               ? std::string()
               : ErrorMessage("Keeping " + path + " to administrators (its access list could not be reset)", error);
}

// Why the entry at the lock file's path can never serve as the lock, else
// empty: a holder's delete still pending reads as access denied too, and is
// waited for. A read-only leftover (nobody may delete it on close) gets its
// mark cleared; a folder of its name is refused at once.
std::string UnusableLockFile(const std::string& path)
{
    const std::wstring wide = WideFromUtf8(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return FormatText("\"%s\" is a folder, not the machine's lock file: an administrator removes it", {path});
    const DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (writable != attributes && !SetFileAttributesW(wide.c_str(), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL))
        return ErrorMessage("The leftover lock file " + path + " is read-only and its mark could not be cleared",
                            GetLastError());
    return {};
}

} // namespace

TStoreFileLock::TStoreFileLock(const std::string& store)
{
    if (gMachineHolder == GetCurrentThreadId()) {
        ++gMachineDepth;
        counted_ = true;
        return;
    }
    constexpr int kAttempts = 100;
    constexpr DWORD kPauseMs = 50;
    const std::string path = AddBackslash(store) + kLockFileName;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockFileAccess, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        refusal_ = ErrorMessage("Making the access list of " + path, GetLastError());
        return;
    }
    const UniqueLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (refusal_ = LinkRefusal(path); !refusal_.empty())
            return;
        // Made with its list, so that no moment leaves it open to anyone.
        UniqueFile opened = OpenEntry(path, GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC, 0, OPEN_ALWAYS,
                                      FILE_FLAG_DELETE_ON_CLOSE, &security);
        const DWORD error = GetLastError();
        if (opened) {
            if (error == ERROR_ALREADY_EXISTS) {
                if (refusal_ = KeepToAdministrators(opened.get(), descriptor, path); !refusal_.empty())
                    return;
            }
            file_ = std::move(opened);
            gMachineHolder = GetCurrentThreadId();
            gMachineDepth = 1;
            counted_ = true;
            refusal_.clear();
            return;
        }
        refusal_ = ErrorMessage("Locking the store with " + path, error);
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            return;
        if (error == ERROR_ACCESS_DENIED) {
            if (std::string unusable = UnusableLockFile(path); !unusable.empty()) {
                refusal_ = std::move(unusable);
                return;
            }
            refusal_ += " (held past the wait, or a leftover whose access list keeps administrators out: an "
                        "administrator removes it)";
        }
        // The one APC this program queues is the stoppable thread's empty
        // one (StoppableThread.h), each a cancel meant to end the work's
        // waits (its stop, or a start past its bound), and no code of it
        // does I/O with a completion routine: any APC here is that cancel.
        if (SleepEx(kPauseMs, /*bAlertable=*/TRUE) == WAIT_IO_COMPLETION) {
            refusal_ = FormatText("the wait for \"%s\" was ended: the program is stopping", {path});
            return;
        }
    }
}

TStoreFileLock::TStoreFileLock(TStoreFileLock&& other) noexcept
    : file_(std::move(other.file_)), refusal_(std::move(other.refusal_)), counted_(std::exchange(other.counted_, false))
{
}

TStoreFileLock& TStoreFileLock::operator=(TStoreFileLock&& other) noexcept
{
    if (this != &other) {
        LetGo();
        file_ = std::move(other.file_);
        refusal_ = std::move(other.refusal_);
        counted_ = std::exchange(other.counted_, false);
    }
    return *this;
}

TStoreFileLock::~TStoreFileLock()
{
    LetGo();
}

void TStoreFileLock::LetGo() noexcept
{
    if (std::exchange(counted_, false) && --gMachineDepth == 0)
        gMachineHolder = 0;
}

void TStoreFileLock::Require() const
{
    if (!counted_)
        throw std::runtime_error(refusal_ + "; nothing was written");
}

TStoreFileLock MachineStoresLock()
{
    const std::string folder = GetStpDesc(AllUsersStartupFolder).Path;
    if (folder.empty())
        throw std::runtime_error("The all-users Startup folder is unknown, so the machine's stores cannot be locked; "
                                 "nothing was written");
    const std::string store = AddBackslash(folder) + StoreName;
    if (std::string refusal = LinkRefusal(store); !refusal.empty())
        throw std::runtime_error(refusal + "; nothing was written");
    if (!DirectoryExists(store)) {
        if (!ForceDirectories(store))
            throw std::runtime_error(ErrorMessage("Creating " + store, GetLastError()) + "; nothing was written");
        SetFileAttributesW(WideFromUtf8(store).c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    TStoreFileLock lock(store);
    lock.Require();
    return lock;
}
