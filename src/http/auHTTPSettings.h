#pragma once
// What one HTTP transfer is given and what it gives back: the client's
// published settings as one value, the callbacks through which it reports to
// its owner, and its results.
#include "http/OleDate.h"
#include "http/HttpProgress.h"
#include "http/Streams.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
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

// The HTTP client's published settings (it derives from this), copied whole
// into each transfer when it starts.
struct TauHTTPSettings {
    static constexpr const char* DefaultAgent = "Keldora TauCustomHTTP/1.0";
    static constexpr int MinBufferSize = 255;
    // Reads and writes never take more than this, whatever TransferBufferSize
    // says: the property allows 2 GiB, and a transfer keeps several blocks of
    // its size, which a 32-bit process could never hold.
    static constexpr int MaxBufferSize = 4 * 1024 * 1024;

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
    // Upper limit of any body in bytes, NoBodyLimit for none: a longer one
    // (announced or received) fails as a local error, ERROR_FILE_TOO_LARGE.
    // 0 is a limit (an empty file's).
    static constexpr std::int64_t NoBodyLimit = -1;
    std::int64_t MaxBodySize = NoBodyLimit;
    // Computes the body's SHA-256 while it is stored (on the storing thread,
    // so checking a download costs no second read); see TauHTTPResult::sha256.
    bool HashBody = false;
    // FileName already holds the first Range.StartRange bytes of the body
    // (a download cut off before): a 206 whose Content-Range starts there
    // appends to them, hashed first, so the digest is the whole file's; a
    // 200 starts the file over. The bytes are never trusted here: only the
    // whole file's digest can tell them good.
    bool ResumeFile = false;
    // With ResumeFile: the validator (RangeValidator) of the answer the kept
    // bytes came from. It is sent as If-Range, and a 206 counts only when
    // it names the same validator.
    std::string IfRange;
    // A body of the file that ends early (a cut connection) stays in
    // FileName, flushed, for a resume; any other failure deletes it.
    bool KeepPartialFile = false;
};

// What a transfer found out. Written by its worker; read on the main thread
// inside synchronised callbacks and after the worker ended.
struct TauHTTPResult {
    int statusCode = -1;
    bool statusOk = false;
    bool success = false;
    bool continueTransfer = true;
    // The system's error when the body could not be stored here (the output
    // file not created, written or flushed, the memory limit or MaxBodySize
    // passed); 0 otherwise.
    DWORD localError = NO_ERROR;
    std::string contentType;
    std::string rawHeaders;
    std::string contentLanguage;
    std::string contentEncoding;
    std::string location;
    // Every address a redirect led to, in order (worker thread), and the
    // address the answer came from after them; finalURL is empty for a local
    // file or when the system does not say.
    std::vector<std::string> redirects;
    std::string finalURL;
    std::string realm;
    OleDate date = 0;
    OleDate lastModified = 0;
    OleDate expires = 0;
    std::optional<std::int64_t> contentLength;
    std::int64_t bytesTransferred = 0;  // received by this transfer
    std::int64_t resumedFrom = 0;       // bytes of the file kept from before (ResumeFile and a 206)
    DWORD startTick = 0;
    // With HashBody set: the 32 bytes of the SHA-256 of the body of a
    // transfer that succeeded; empty otherwise.
    std::string sha256;
};

// How a transfer reports to its owner. An empty callback is not asked for,
// and the transfer skips the work that would feed it. All but the first two
// run on the main thread, synchronised with the worker.
struct TauHTTPCallbacks {
    // Worker thread; never after the transfer was cancelled.
    std::function<void(DWORD status, const std::string& text)> statusChange;
    std::function<void(const std::string& newURL)> redirected;
    // The server asked for credentials: true to send the request again with
    // the ones written to the arguments.
    std::function<bool(const std::string& realm, std::string& username, std::string& password)> passwordRequest;
    std::function<bool(std::string& username, std::string& password)> proxyRequest;
    // The headers are in the result: false stops the transfer.
    std::function<bool(const TauHTTPResult& result)> headerInfo;
    std::function<void(const TauHTTPResult& result, const TransferProgress& progress, TauDataStream* data)> progress;
    std::function<void(std::int64_t size, std::int64_t sent, const TransferProgress& progress)> uploadProgress;
};
