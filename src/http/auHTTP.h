#pragma once
// `TauCustomHTTP`: one HTTP, HTTPS or local-file request at a time, run on a
// worker thread through WinInet, its results raised as events on the main
// thread. The update engine `TauAutoUpgrader` derives from it.
//
// Threads: every setting is read on the main thread when a transfer starts
// and copied into that transfer's own state, which the worker then fills.
// The result fields below describe the last transfer started; read them in
// its events or once it is no longer Busy. OnStatusChange and OnRedirected
// run on the worker thread and must not touch windows; they never run after
// the transfer was cancelled.
//
// Each transfer owns its handles, buffer, stream and file name. Its
// completion cleans up only what belongs to it, so an event handler may start
// the next transfer at once, even on the same file name.
//
// Failures: a body shorter than Content-Length, a failed read, write or
// flush, an in-memory body over 1 MiB, a body past MaxBodySize or an output
// file that cannot be created end in
// OnRequestFailed followed by OnConnectionLost (status 200), OnHTTPError
// (another status) or OnServerUnreachable (no status). A failed file is
// deleted before those events are raised (their Data is then none). A
// cancelled transfer raises nothing but OnTransferAborted. LocalError tells
// the failures of this side apart from those of the server and the line.

#include "http/auHTTPSettings.h"
#include "http/auThread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Holds the HTTP credentials and their stored form `LInfo`.
class TauLoginComponent {
public:
    virtual ~TauLoginComponent() = default;

    // LInfo is stored whenever either text is non-empty.
    bool StoresLInfo() const { return !HTTPUsername.empty() || !HTTPPassword.empty(); }
    // Throws std::length_error when the two texts together exceed 254 characters.
    std::string LInfo() const;
    // False, changing nothing, for a malformed block.
    bool SetLInfo(std::string_view block);

    std::string HTTPUsername;
    std::string HTTPPassword;
};

class TauCustomHTTP;

using TauHTTPNotifyEvent = std::function<void(TauCustomHTTP& Sender)>;
using TauHTTPHeaderInfoEvent =
    std::function<void(TauCustomHTTP& Sender, const std::string& RawHeaders, const std::string& ContentType,
                       const std::string& ContentLanguage, const std::string& ContentEncoding,
                       const std::string& Location, std::int64_t ContentLength, OleDate Date, OleDate LastModified,
                       OleDate Expires, bool& ContinueTransfer)>;
using TauHTTPProgressEvent =
    std::function<void(TauCustomHTTP& Sender, const std::string& ContentType, std::int64_t ContentLength,
                       std::int64_t BytesTransferred, int ElapsedTime, int EstimatedTimeLeft,
                       std::uint8_t PercentsDone, float TransferRate, TauDataStream* Data)>;
using TauHTTPUploadProgressEvent =
    std::function<void(TauCustomHTTP& Sender, std::int64_t ContentLength, std::int64_t BytesTransferred,
                       int ElapsedTime, int EstimatedTimeLeft, std::uint8_t PercentsDone, float TransferRate)>;
using TauHTTPDoneEvent = std::function<void(TauCustomHTTP& Sender, const std::string& ContentType,
                                            std::int64_t DataSize, TauDataStream* Data)>;
using TauHTTPConnectionLostEvent =
    std::function<void(TauCustomHTTP& Sender, const std::string& ContentType, std::int64_t ContentLength,
                       std::int64_t BytesTransferred, TauDataStream* Data)>;
using TauHTTPErrorEvent = std::function<void(TauCustomHTTP& Sender, int StatusCode, TauDataStream* Data)>;
using TauHTTPStatusChangeEvent =
    std::function<void(TauCustomHTTP& Sender, DWORD StatusCode, const std::string& StatusText)>;
using TauHTTPRedirectedEvent = std::function<void(TauCustomHTTP& Sender, const std::string& NewURL)>;
using TauHTTPPasswordRequestEvent =
    std::function<void(TauCustomHTTP& Sender, const std::string& Realm, bool& TryAgain)>;
using TauHTTPProxyAuthenticationEvent = std::function<void(TauCustomHTTP& Sender, std::string& ProxyUsername,
                                                           std::string& ProxyPassword, bool& TryAgain)>;

struct TauHTTPTransfer;

// The published settings are the fields of TauHTTPSettings.
class TauCustomHTTP : public TauLoginComponent, public TauHTTPSettings {
public:
    TauCustomHTTP();
    ~TauCustomHTTP() override;

    TauCustomHTTP(const TauCustomHTTP&) = delete;
    TauCustomHTTP& operator=(const TauCustomHTTP&) = delete;

    // False, changing nothing, while Busy; otherwise starts the request and returns true.
    bool StartTransfer();
    // A POST whose body is `data` (streamed in TransferBufferSize blocks),
    // with `headers` sent along; false while Busy.
    bool StartUpload(std::unique_ptr<TauDataStream> data, std::string headers);
    bool Busy() const { return thread_.Running(); }
    // Closes the transfer's handles; a running worker is abandoned and
    // OnTransferAborted raised. The partial file stays.
    void CancelTransfer();

    TauCustomThread& WorkerThread() { return thread_; }

    // Results of the last transfer started (an empty result before the first).
    const TauHTTPResult& Result() const;

    // Events
    TauHTTPHeaderInfoEvent OnHeaderInfo;
    TauHTTPDoneEvent OnDone;
    TauHTTPNotifyEvent OnTransferStopped;
    TauHTTPProgressEvent OnTransferProgress;
    TauHTTPUploadProgressEvent OnUploadProgress;
    TauHTTPStatusChangeEvent OnStatusChange;  // worker thread
    TauHTTPRedirectedEvent OnRedirected;      // worker thread
    TauHTTPNotifyEvent OnRequestFailed;
    TauHTTPNotifyEvent OnTransferAborted;
    TauHTTPConnectionLostEvent OnConnectionLost;
    TauHTTPNotifyEvent OnServerUnreachable;
    TauHTTPErrorEvent OnHTTPError;
    TauHTTPPasswordRequestEvent OnPasswordRequest;
    TauHTTPProxyAuthenticationEvent OnProxyAuthenticationRequest;
    TauHTTPNotifyEvent OnWaitTimeout;

protected:
    // The outcomes of a transfer reach the events through these. A component
    // built on the client that handles them itself overrides them, so its
    // own work never depends on what an application assigns to the events.
    virtual void DoDone(const std::string& contentType, std::int64_t dataSize, TauDataStream* data);
    virtual void DoTransferStopped();
    virtual void DoServerUnreachable();
    virtual void DoHTTPError(int statusCode, TauDataStream* data);
    virtual void DoConnectionLost(const std::string& contentType, std::int64_t contentLength,
                                  std::int64_t bytesTransferred, TauDataStream* data);
    // The headers of the running transfer are in Result(); false stops it.
    virtual bool DoHeaderInfo();
    virtual void DoTransferProgress(const TransferProgress& progress, TauDataStream* data);
    // True to send the request again with the credentials now set.
    virtual bool DoPasswordRequest(const std::string& realm);
    // Whether the transfer should ask the three above (it skips their work otherwise).
    virtual bool WantsHeaderInfo() const { return static_cast<bool>(OnHeaderInfo); }
    virtual bool WantsProgress() const { return static_cast<bool>(OnTransferProgress); }
    virtual bool WantsPasswordRequest() const { return static_cast<bool>(OnPasswordRequest); }

private:
    bool Launch(std::shared_ptr<TauHTTPTransfer> transfer);
    std::shared_ptr<TauHTTPTransfer> NewTransfer();
    TauHTTPCallbacks Callbacks();
    void Complete(const std::shared_ptr<TauHTTPTransfer>& transfer);
    void RaiseFailure(const std::shared_ptr<TauHTTPTransfer>& transfer, TauDataStream* data);
    void RequestFailed();
    void WaitTimedOut();

    TauCustomThread thread_;
    bool destroying_ = false;
    std::shared_ptr<TauHTTPTransfer> current_;
    // Expires with this object, so a sequence of events can stop when one of
    // its handlers destroyed the component.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};
