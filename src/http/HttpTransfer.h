#pragma once
// The state of one transfer of the HTTP client and the request it runs on its
// worker thread. Internal to the HTTP client.

#include "http/FileSha256.h"
#include "http/auHTTPSettings.h"
#include "http/auThread.h"
#include "winutil/UniqueInternet.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The state of one transfer. It gets its settings and callbacks when it is
// created, on the main thread, before the worker starts; the worker fills the
// result, which the main thread reads only inside synchronised callbacks and
// after the worker ended. The handles and the stream are also closed by
// Cancel on the main thread, so they are guarded by the lock.
struct TauHTTPTransfer {
    TauHTTPTransfer(const TauHTTPSettings& settings, TauHTTPCallbacks callbacks);

    TauHTTPSettings settings;
    const TauHTTPCallbacks callbacks;
    // Derived from the settings when the transfer is created.
    std::size_t bufferSize = 4096;
    bool post = false;
    // Updated when a callback supplies new credentials.
    std::string username;
    std::string password;
    std::unique_ptr<TauDataStream> upload;
    std::string uploadHeaders;

    TauHTTPResult result;
    // Fed on the storing thread with every block stored; its result goes to
    // result.sha256 once the transfer succeeded.
    std::unique_ptr<TauSha256> hash;
    bool tryAgain = false;
    bool ioFailed = false;
    bool lengthUnreadable = false;

    // The storing thread holds the lock while it writes; the receiving
    // worker reads the flag and the request handle without it.
    std::recursive_mutex lock;
    std::recursive_mutex handlerLock;
    std::atomic<bool> cancelled{false};
    std::atomic<HINTERNET> liveRequest{nullptr};
    UniqueInternet root;
    UniqueInternet connection;
    UniqueInternet request;
    UniqueFile localFile;
    std::unique_ptr<TauDataStream> stream;

    bool Cancelled() const { return cancelled; }
    HINTERNET Request() const { return liveRequest; }

    // Takes a handle the worker just opened; closes it at once when the
    // transfer was cancelled meanwhile.
    template <typename Handle, typename Raw>
    bool Adopt(Handle& slot, Raw handle)
    {
        Handle owned(handle);
        std::lock_guard guard(lock);
        if (cancelled || !owned)
            return false;
        slot = std::move(owned);
        return true;
    }

    bool AdoptRequest(HINTERNET handle)
    {
        std::lock_guard guard(lock);
        if (!Adopt(request, handle))
            return false;
        liveRequest = handle;
        return true;
    }

    void CloseHandles()
    {
        std::lock_guard guard(lock);
        liveRequest = nullptr;
        request.reset();
        connection.reset();
        root.reset();
        localFile.reset();
    }

    // Main thread: nothing of this transfer reaches an event from now on. A
    // status handler running on the worker is waited for, but not with its
    // lock held while the handles close, which may wait for the worker.
    void Cancel()
    {
        {
            std::lock_guard handlers(handlerLock);
            cancelled = true;
        }
        std::lock_guard guard(lock);
        CloseHandles();
        stream.reset();
    }

    std::unique_ptr<TauDataStream> TakeStream()
    {
        std::lock_guard guard(lock);
        return std::move(stream);
    }

    // Worker: the status notifications of WinInet, two for every read. They
    // take a lock of their own, never the one the storing thread holds.
    void ReportStatus(DWORD status, const void* info, DWORD length);
};

// Runs the request of a transfer on its worker thread (the worker body).
void RunTransfer(TauHTTPTransfer& transfer, TauEventThread& worker);
