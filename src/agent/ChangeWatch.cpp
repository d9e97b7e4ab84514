#include "ChangeWatch.h"

#include "core/StrCon.h"
#include "startup/uStartupMgr.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include <algorithm>

namespace {

// The path without its last part; empty at the top.
std::string ParentOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// The key's values, or, while it is gone, its nearest parent's subkeys. The
// key itself is asked again on the handle it has: closing a watched handle
// signals its event, which would wake the wait for nothing.
class KeyWatch : public TChangeWatch::Watch {
public:
    explicit KeyWatch(TWatchedKey key) : key_(std::move(key)), event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    HANDLE Arm() override
    {
        if (watchingKey_ && Notify(REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET))
            return event_.get();
        opened_ = RegKey();
        ResetEvent(event_.get());
        for (std::string path = key_.path; !path.empty(); path = ParentOf(path)) {
            opened_ = RegKey::Open(key_.root, path, KEY_NOTIFY | key_.view);
            if (!opened_)
                continue;
            watchingKey_ = path == key_.path;
            if (Notify(watchingKey_ ? REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET : REG_NOTIFY_CHANGE_NAME))
                return event_.get();
        }
        watchingKey_ = false;
        return nullptr;
    }

private:
    // Fails on a key deleted since it was opened.
    bool Notify(DWORD filter) const
    {
        return RegNotifyChangeKeyValue(opened_.get(), /*watchSubtree=*/FALSE, filter, event_.get(),
                                       /*asynchronous=*/TRUE) == ERROR_SUCCESS;
    }

    const TWatchedKey key_;
    UniqueKernelHandle event_;
    RegKey opened_;
    bool watchingKey_ = false;
};

// The folder's file names, or, while it is gone, its nearest parent's folders.
class FolderWatch : public TChangeWatch::Watch {
public:
    explicit FolderWatch(std::string folder) : folder_(RemoveBackslash(folder)) {}

    HANDLE Arm() override
    {
        change_.reset();
        for (std::string path = folder_; !path.empty(); path = ParentOf(path)) {
            if (!DirectoryExists(path))
                continue;
            const DWORD filter = path == folder_ ? FILE_NOTIFY_CHANGE_FILE_NAME
                                                 : FILE_NOTIFY_CHANGE_DIR_NAME;
            change_.reset(FindFirstChangeNotificationW(WideFromUtf8(AddBackslash(path)).c_str(),
                                                       /*watchSubtree=*/FALSE, filter));
            if (change_)
                return change_.get();
        }
        return nullptr;
    }

private:
    const std::string folder_;
    UniqueChangeNotification change_;
};

} // namespace

TChangeWatch::TChangeWatch(std::vector<TWatchedKey> keys, std::vector<std::string> folders, HWND window,
                           UINT message, TQuitRequest quit)
    : FWindow(window), FMessage(message), FQuit(std::move(quit)), FStop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    for (TWatchedKey& key : keys)
        FWatches.push_back(std::make_unique<KeyWatch>(std::move(key)));
    for (const std::string& folder : folders) {
        if (!folder.empty())
            FWatches.push_back(std::make_unique<FolderWatch>(folder));
    }
    if (!FStop)
        throw EWin32Error("CreateEvent", GetLastError());
    FThread = std::thread([this] { Run(); });
}

TChangeWatch::~TChangeWatch()
{
    SetEvent(FStop.get());
    FThread.join();
}

void TChangeWatch::Run() noexcept
{
    try {
        WaitForChanges();
    } catch (...) {
        // The five-minute take-over goes on without the watch.
    }
}

// Arming on this thread keeps each registry notification alive as long as
// the thread that asked for it.
void TChangeWatch::WaitForChanges()
{
    std::vector<HANDLE> armed(FWatches.size());
    for (std::size_t i = 0; i < FWatches.size(); ++i)
        armed[i] = FWatches[i]->Arm();
    bool pending = false;
    DWORD first = 0, last = 0;
    for (;;) {
        std::vector<HANDLE> handles{FStop.get()};
        if (FQuit.event)
            handles.push_back(FQuit.event.get());
        const std::size_t watchesFrom = handles.size();
        std::vector<std::size_t> owners;
        for (std::size_t i = 0; i < armed.size(); ++i) {
            if (armed[i]) {
                handles.push_back(armed[i]);
                owners.push_back(i);
            }
        }
        DWORD timeout = INFINITE;
        if (pending) {
            const DWORD now = GetTickCount();
            const DWORD due = std::min(last + kSettleMs - now, first + kBurstMs - now);
            timeout = static_cast<LONG>(due) < 0 ? 0 : due;
        }
        const DWORD signalled =
            WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
        if (signalled == WAIT_OBJECT_0 || signalled == WAIT_FAILED)
            return;
        if (signalled == WAIT_TIMEOUT) {
            pending = false;
            PostMessageW(FWindow, FMessage, 0, 0);
            continue;
        }
        // The wait has reset the event (AgentQuitEvent.h): each request is one message.
        if (FQuit.event && signalled == WAIT_OBJECT_0 + 1) {
            PostMessageW(FWindow, FQuit.message, 0, 0);
            continue;
        }
        const std::size_t index = owners[signalled - WAIT_OBJECT_0 - watchesFrom];
        armed[index] = FWatches[index]->Arm();
        last = GetTickCount();
        if (!pending)
            first = last;
        pending = true;
    }
}

std::unique_ptr<TChangeWatch> WatchLocations(const std::vector<std::uint8_t>& locations, bool machineWide,
                                             HWND window, UINT message, TQuitRequest quit)
{
    std::vector<TWatchedKey> keys;
    std::vector<std::string> folders;
    for (const std::uint8_t location : locations) {
        if (IsMachineLocation(location) && !machineWide)
            continue;
        if (IsFolderLocation(location)) {
            folders.push_back(GetStpDesc(location).Path);
            continue;
        }
        for (const REGSAM view : LocationViews(location)) {
            const TStpDesc desc = GetStpDesc(location, view);
            keys.push_back({desc.RootKey, desc.Path, view});
        }
    }
    return std::make_unique<TChangeWatch>(std::move(keys), std::move(folders), window, message, std::move(quit));
}
