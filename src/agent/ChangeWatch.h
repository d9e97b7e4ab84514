#pragma once
// One waiting thread that tells a window when a watched startup location has
// changed: the Run keys (each in its own registry view) through
// RegNotifyChangeKeyValue, the Startup folders through change notifications.
// A burst of changes is one message, posted kSettleMs after its last change
// and kBurstMs after its first at the latest, so a storm of writes costs a
// take-over every kBurstMs and no more. A key or folder that is gone (deleted
// while watched, not made yet) is watched through the nearest parent that
// exists until it is back, then itself again. With nothing changing the
// thread sleeps in one wait: no wake-ups. The same wait answers each quit
// request (an auto-reset event) with one message. The object owns the thread and its handles; the destructor
// stops and joins it. The window is only posted to,
// never touched.
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

constexpr DWORD kSettleMs = 100;
constexpr DWORD kBurstMs = 500;

// An auto-reset event, each setting of which has the window sent a message
// of its own (the agent's quit request from another session, AgentQuitEvent.h).
struct TQuitRequest {
    UniqueKernelHandle event;
    UINT message = 0;
};

struct TWatchedKey {
    HKEY root = nullptr;
    std::string path;
    REGSAM view = 0;
};

class TChangeWatch {
public:
    TChangeWatch(std::vector<TWatchedKey> keys, std::vector<std::string> folders, HWND window, UINT message,
                 TQuitRequest quit = {});
    ~TChangeWatch();
    TChangeWatch(const TChangeWatch&) = delete;
    TChangeWatch& operator=(const TChangeWatch&) = delete;

    // One place being watched, armed again after each change.
    class Watch {
    public:
        virtual ~Watch() = default;
        // The handle to wait on; null when nothing of the path can be watched.
        virtual HANDLE Arm() = 0;
    };

private:
    void Run() noexcept;
    void WaitForChanges();

    std::vector<std::unique_ptr<Watch>> FWatches;
    const HWND FWindow;
    const UINT FMessage;
    const TQuitRequest FQuit;
    UniqueKernelHandle FStop;
    std::thread FThread;
};

// The watch of the startup locations (uStartupMgr.h) among `locations`, the
// machine's left out without `machineWide`; each registry location in every
// view it exists in.
std::unique_ptr<TChangeWatch> WatchLocations(const std::vector<std::uint8_t>& locations, bool machineWide,
                                             HWND window, UINT message, TQuitRequest quit = {});
