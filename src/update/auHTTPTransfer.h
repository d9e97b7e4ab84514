#pragma once
// The state of one transfer of TauCustomHTTP and the request it runs on its
// worker thread. Internal to the HTTP client.

#include "update/auCng.h"
#include "update/auHTTP.h"
#include "winutil/UniqueHandle.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The state of one transfer. The settings are copied on the main thread
// before the worker starts; the results are written by the worker and read by
// the main thread only inside synchronised events and after the worker ended.
// The handles and the stream are also closed by CancelTransfer on the main
// thread, so they are guarded by the lock.
struct TauHTTPTransfer {
    TauCustomHTTP* client = nullptr;  // used only on the main thread and before cancelling

    std::string url;
    std::string fileName;
    std::string postData;
    std::string referer;
    std::string acceptTypes;
    std::string agent;
    std::vector<std::string> addHeaders;
    TauHTTPRange range;
    TauHTTPTimeouts timeouts;
    TauHTTPProxy proxy;
    std::size_t bufferSize = 4096;
    std::size_t memoryLimit = TauMemoryStream::DefaultLimit;
    bool post = false;
    bool useCache = true;
    bool acceptCookies = true;
    bool workOffline = false;
    bool hideTempFile = false;
    bool hashBody = false;
    std::string username;
    std::string password;
    std::string proxyUsername;
    std::string proxyPassword;
    std::unique_ptr<TauDataStream> upload;
    std::string uploadHeaders;
    bool hasHeaderInfo = false;
    bool hasProgress = false;
    bool hasUploadProgress = false;
    bool hasPasswordRequest = false;
    bool hasProxyRequest = false;
    TauHTTPStatusChangeEvent onStatusChange;
    TauHTTPRedirectedEvent onRedirected;

    int statusCode = -1;
    bool statusOk = false;
    bool success = false;
    bool continueTransfer = true;
    bool tryAgain = false;
    bool ioFailed = false;
    // The system's error when the body could not be stored here (the output
    // file not created or not written, the memory limit passed); 0 otherwise.
    DWORD localError = NO_ERROR;
    bool lengthUnreadable = false;
    std::string contentType;
    std::string rawHeaders;
    std::string contentLanguage;
    std::string contentEncoding;
    std::string location;
    std::string realm;
    OleDate date = 0;
    OleDate lastModified = 0;
    OleDate expires = 0;
    std::optional<std::int64_t> contentLength;
    std::int64_t bytesTransferred = 0;
    DWORD startTick = 0;
    // Fed on the storing thread with every block stored; its result goes to
    // sha256 once the transfer succeeded.
    std::unique_ptr<TauSha256> hash;
    std::string sha256;

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
