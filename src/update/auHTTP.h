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
// Failures: a body shorter than Content-Length, a failed read or write, an
// in-memory body over 1 MiB or an output file that cannot be created end in
// OnRequestFailed followed by OnConnectionLost (status 200), OnHTTPError
// (another status) or OnServerUnreachable (no status). A failed file is
// deleted before those events are raised (their Data is then none). A
// cancelled transfer raises nothing but OnTransferAborted. LocalError tells
// the failures of this side apart from those of the server and the line.

#include "update/auDateTime.h"
#include "update/auStreams.h"
#include "update/auThread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum TauHTTPAccessType { atPreconfig, atDirect, atUseProxy };
enum TauHTTPRequestMethod { rmAutomatic, rmGet, rmPost };

struct TauHTTPProxy {
    TauHTTPAccessType AccessType = atPreconfig;
    int ProxyPort = 8080;
    std::string ProxyServer;
    std::string ProxyBypass = "127.0.0.1;";
};

// Byte range of the request; 0 and 0 ask for the whole body, an EndRange of 0
// leaves the range open.
struct TauHTTPRange {
    std::int64_t StartRange = 0;
    std::int64_t EndRange = 0;
};

// Milliseconds; 0 leaves the platform's default.
struct TauHTTPTimeouts {
    DWORD ConnectTimeout = 0;
    DWORD ReceiveTimeout = 0;
    DWORD SendTimeout = 0;
};

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

class TauCustomHTTP : public TauLoginComponent {
public:
    static constexpr const char* DefaultAgent = "Keldora TauCustomHTTP/1.0";
    static constexpr int MinBufferSize = 255;
    // Reads and writes never take more than this, whatever TransferBufferSize
    // says: the property allows 2 GiB, and a transfer keeps several blocks of
    // its size, which a 32-bit process could never hold.
    static constexpr int MaxBufferSize = 4 * 1024 * 1024;

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

    // Settings
    std::string URL;
    std::string FileName;
    std::string PostData;
    std::string Referer;
    std::string AcceptTypes = "text/html, */*";
    std::string Agent = DefaultAgent;
    std::vector<std::string> AddHeaders;
    TauHTTPRange Range;
    TauHTTPTimeouts Timeouts;
    TauHTTPProxy Proxy;
    int TransferBufferSize = 4096;  // counts as MinBufferSize..MaxBufferSize
    TauHTTPRequestMethod RequestMethod = rmAutomatic;
    bool UseCache = true;
    bool AcceptCookies = true;
    bool WorkOffline = false;
    bool HideTempFile = false;
    bool UploadFromStream = false;
    std::string ProxyUsername;
    std::string ProxyPassword;
    // Upper limit of a body kept in memory (no FileName).
    std::size_t MemoryLimit = TauMemoryStream::DefaultLimit;
    // Computes the body's SHA-256 while it is stored (on the storing thread,
    // so checking a download costs no second read); see BodySha256.
    bool HashBody = false;

    // Results of the last transfer started.
    int StatusCode() const;
    bool Success() const;
    bool ContinueTransfer() const;
    std::string ContentType() const;
    std::string RawHeaders() const;
    std::string ContentLanguage() const;
    std::string ContentEncoding() const;
    std::string Location() const;
    std::string Realm() const;
    OleDate Date() const;
    OleDate LastModified() const;
    OleDate Expires() const;
    std::int64_t ContentLength() const;  // 0 when absent
    std::int64_t BytesTransferred() const;
    DWORD StartTick() const;
    // The system's error when the body could not be stored on this side (the
    // output file could not be created or written, an in-memory body passed
    // MemoryLimit); 0 when the failure, if any, was the server's or the line's.
    DWORD LocalError() const;
    // With HashBody set: the 32 bytes of the SHA-256 of the body of a
    // transfer that succeeded; empty otherwise.
    std::string BodySha256() const;

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

private:
    bool Launch(std::shared_ptr<TauHTTPTransfer> transfer);
    std::shared_ptr<TauHTTPTransfer> NewTransfer();
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
