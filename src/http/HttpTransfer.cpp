#include "HttpTransfer.h"

#include "http/BlockWriter.h"
#include "http/HttpDate.h"
#include "http/HttpHeaders.h"
#include "http/HttpProgress.h"
#include "http/HttpRequest.h"
#include "http/HttpStatus.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <string>
#include <utility>

TauHTTPTransfer::TauHTTPTransfer(const TauHTTPSettings& from, TauHTTPCallbacks with)
    : settings(from), callbacks(std::move(with))
{
    bufferSize = static_cast<std::size_t>(
        std::clamp(settings.TransferBufferSize, TauHTTPSettings::MinBufferSize, TauHTTPSettings::MaxBufferSize));
    post = settings.RequestMethod == rmPost ||
           (settings.RequestMethod == rmAutomatic && (!settings.PostData.empty() || settings.UploadFromStream));
}

void TauHTTPTransfer::ReportStatus(DWORD status, const void* info, DWORD length)
{
    const bool redirect = status == INTERNET_STATUS_REDIRECT;
    if (!callbacks.statusChange && !redirect)
        return;
    std::lock_guard guard(handlerLock);
    if (cancelled)
        return;
    if (callbacks.statusChange)
        callbacks.statusChange(status, StatusChangeText(status));
    if (!redirect)
        return;
    // Where a transfer came from is every address on its way.
    result.redirects.push_back(RedirectTarget(info, length));
    if (callbacks.redirected)
        callbacks.redirected(result.redirects.back());
}

namespace {

constexpr DWORD SchemeSize = 32;
constexpr DWORD HostSize = 256;
constexpr DWORD UserSize = 128;
constexpr DWORD PasswordSize = 128;
constexpr DWORD PathSize = 2048;
constexpr DWORD ExtraSize = 2048;
// Blocks handed to the storing thread are at least this large, so that small
// reads do not cost a thread hand-over each.
constexpr std::size_t MinWriteBlock = 256 * 1024;

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length)
{
    try {
        reinterpret_cast<TauHTTPTransfer*>(context)->ReportStatus(status, info, length);
    } catch (const std::exception& error) {
        // WinInet's thread must not see it; a status report is not worth failing the transfer for.
        OutputDebugStringW(WideFromUtf8(std::string("HTTP status handler failed: ") + error.what() + "\n").c_str());
    } catch (...) {
        OutputDebugStringW(L"HTTP status handler failed\n");
    }
}

// Minutes to add to local time to get UTC, with daylight saving as in force now.
int CurrentBias()
{
    TIME_ZONE_INFORMATION zone{};
    switch (GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_STANDARD:
        return zone.Bias + zone.StandardBias;
    case TIME_ZONE_ID_DAYLIGHT:
        return zone.Bias + zone.DaylightBias;
    default:
        return zone.Bias;
    }
}

std::string QueryText(HINTERNET request, DWORD info)
{
    // Sizes are in bytes both ways.
    std::wstring text(256, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (HttpQueryInfoW(request, info, text.data(), &size, nullptr)) {
            text.resize(size / sizeof(wchar_t));
            return Utf8FromWide(std::wstring_view(text));
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= text.size() * sizeof(wchar_t))
            return {};
        text.resize(size / sizeof(wchar_t) + 1);
    }
}

std::string AddressOfRequest(HINTERNET request)
{
    std::wstring address(INTERNET_MAX_URL_LENGTH + 1, L'\0');
    DWORD size = static_cast<DWORD>((address.size() - 1) * sizeof(wchar_t));
    if (!InternetQueryOptionW(request, INTERNET_OPTION_URL, address.data(), &size))
        return {};
    return Utf8FromWide(address.c_str());
}

OleDate HeaderDate(const std::string& raw, std::string_view name, int bias)
{
    const auto value = HeaderValue(raw, name);
    return value ? HTTPDateToLocal(*value, bias) : 0.0;
}

bool SetTextOption(HINTERNET handle, DWORD option, const std::string& text)
{
    std::wstring wide = WideFromUtf8(text);
    // A text option's length is in characters.
    return InternetSetOptionW(handle, option, wide.data(), static_cast<DWORD>(wide.size() + 1));
}

std::string LocalPath(std::string path)
{
    path = PercentDecode(path);
    if (path.size() >= 3 && path[0] == '/' && path[2] == ':')
        path.erase(0, 1);
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

// The request of one transfer, run on its worker thread.
class TransferRun {
public:
    TransferRun(TauHTTPTransfer& t, TauEventThread& worker) : t_(t), worker_(worker) {}

    void Execute()
    {
        t_.result.startTick = GetTickCount();
        if (!Crack())
            return;
        if (scheme_ == "file") {
            OpenLocalFile();
        } else if (!OpenRequest() || !SendWithRetries() || !ReadHeaders()) {
            return;
        }
        if (TooLarge(t_.result.contentLength.value_or(0)) || !CreateStream())
            return;
        ReadBody();
        t_.result.success = t_.result.statusOk && !t_.ioFailed && !t_.lengthUnreadable &&
                            (!t_.result.contentLength || t_.result.bytesTransferred == *t_.result.contentLength) &&
                            FlushStream();
        if (t_.result.success && t_.hash)
            t_.result.sha256 = t_.hash->Finish();
    }

private:
    bool Crack()
    {
        wchar_t scheme[SchemeSize] = {}, host[HostSize] = {}, user[UserSize] = {}, password[PasswordSize] = {};
        std::wstring path(PathSize, L'\0'), extra(ExtraSize, L'\0');
        URL_COMPONENTSW parts{};
        parts.dwStructSize = sizeof parts;
        parts.lpszScheme = scheme;
        parts.dwSchemeLength = SchemeSize;
        parts.lpszHostName = host;
        parts.dwHostNameLength = HostSize;
        parts.lpszUserName = user;
        parts.dwUserNameLength = UserSize;
        parts.lpszPassword = password;
        parts.dwPasswordLength = PasswordSize;
        parts.lpszUrlPath = path.data();
        parts.dwUrlPathLength = PathSize;
        parts.lpszExtraInfo = extra.data();
        parts.dwExtraInfoLength = ExtraSize;
        // Escapes stay in the path: decoding would turn %3F or %2F into
        // separators the server then reads differently.
        const std::wstring url = WideFromUtf8(RequestURL(t_.settings.URL));
        if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
            return false;
        scheme_ = Utf8FromWide(std::wstring_view(scheme, parts.dwSchemeLength));
        for (char& c : scheme_)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        host_ = Utf8FromWide(std::wstring_view(host, parts.dwHostNameLength));
        port_ = parts.nPort;
        path_ = Utf8FromWide(std::wstring_view(path).substr(0, parts.dwUrlPathLength));
        extra_ = Utf8FromWide(std::wstring_view(extra).substr(0, parts.dwExtraInfoLength));
        user_ = parts.dwUserNameLength ? PercentDecode(Utf8FromWide(std::wstring_view(user, parts.dwUserNameLength)))
                                       : t_.username;
        password_ = parts.dwPasswordLength
                        ? PercentDecode(Utf8FromWide(std::wstring_view(password, parts.dwPasswordLength)))
                        : t_.password;
        return true;
    }

    void OpenLocalFile()
    {
        const std::wstring path = WideFromUtf8(LocalPath(path_));
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (!t_.Adopt(t_.localFile, file)) {
            t_.result.statusCode = 404;
            return;
        }
        DWORD high = 0;
        const DWORD low = GetFileSize(t_.localFile.get(), &high);
        t_.result.contentLength = (static_cast<std::int64_t>(high) << 32) | low;
        t_.result.statusCode = 200;
        t_.result.statusOk = true;
    }

    bool OpenRequest()
    {
        const DWORD access = t_.settings.Proxy.AccessType == atUseProxy ? INTERNET_OPEN_TYPE_PROXY
                             : t_.settings.Proxy.AccessType == atDirect ? INTERNET_OPEN_TYPE_DIRECT
                                                               : INTERNET_OPEN_TYPE_PRECONFIG;
        const std::wstring proxy =
            WideFromUtf8(t_.settings.Proxy.ProxyServer + ":" + std::to_string(t_.settings.Proxy.ProxyPort));
        const bool useProxy = t_.settings.Proxy.AccessType == atUseProxy;
        const std::wstring bypass = WideFromUtf8(t_.settings.Proxy.ProxyBypass);
        if (!t_.Adopt(t_.root, InternetOpenW(WideFromUtf8(t_.settings.Agent).c_str(), access,
                                             useProxy ? proxy.c_str() : nullptr,
                                             useProxy ? NullIfEmpty(bypass) : nullptr,
                                             t_.settings.WorkOffline ? INTERNET_FLAG_OFFLINE : 0)))
            return false;
        InternetSetStatusCallback(t_.root.get(), StatusCallback);

        const auto context = reinterpret_cast<DWORD_PTR>(&t_);
        const std::wstring user = WideFromUtf8(user_), password = WideFromUtf8(password_);
        if (!t_.Adopt(t_.connection, InternetConnectW(t_.root.get(), WideFromUtf8(host_).c_str(), port_,
                                                      NullIfEmpty(user), NullIfEmpty(password), INTERNET_SERVICE_HTTP,
                                                      0, context)))
            return false;

        const std::wstring accept = WideFromUtf8(t_.settings.AcceptTypes);
        const wchar_t* acceptTypes[] = {accept.c_str(), nullptr};
        const std::wstring object = WideFromUtf8(path_ + extra_), referer = WideFromUtf8(t_.settings.Referer);
        if (!t_.AdoptRequest(HttpOpenRequestW(t_.connection.get(), t_.post ? L"POST" : L"GET", object.c_str(), nullptr,
                                              NullIfEmpty(referer), acceptTypes, RequestFlags(), context)))
            return false;
        SetTimeouts();
        std::vector<std::string> lines = t_.settings.AddHeaders;
        if (t_.settings.ResumeFile && !t_.settings.IfRange.empty())
            lines.push_back("If-Range: " + t_.settings.IfRange);
        const std::wstring headers =
            WideFromUtf8(RequestHeaderText(lines, t_.settings.Range.StartRange, t_.settings.Range.EndRange));
        return headers.empty() || HttpAddRequestHeadersW(t_.Request(), headers.c_str(),
                                                         static_cast<DWORD>(headers.size()), HTTP_ADDREQ_FLAG_ADD);
    }

    static const wchar_t* NullIfEmpty(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

    DWORD RequestFlags() const
    {
        DWORD flags = INTERNET_FLAG_KEEP_CONNECTION;
        if (scheme_ == "https")
            flags |= INTERNET_FLAG_SECURE;
        if (!t_.settings.UseCache)
            flags |= INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
        if (!t_.settings.AcceptCookies)
            flags |= INTERNET_FLAG_NO_COOKIES;
        return flags;
    }

    void SetTimeouts()
    {
        const std::pair<DWORD, DWORD> timeouts[] = {
            {INTERNET_OPTION_CONNECT_TIMEOUT, t_.settings.Timeouts.ConnectTimeout},
            {INTERNET_OPTION_RECEIVE_TIMEOUT, t_.settings.Timeouts.ReceiveTimeout},
            {INTERNET_OPTION_SEND_TIMEOUT, t_.settings.Timeouts.SendTimeout},
        };
        for (auto [option, value] : timeouts) {
            if (value != 0)
                InternetSetOptionW(t_.Request(), option, &value, sizeof value);
        }
    }

    bool SendWithRetries()
    {
        do {
            t_.tryAgain = false;
            if (!Send() || t_.Cancelled())
                return false;
            t_.result.statusCode = StatusCodeOf(QueryText(t_.Request(), HTTP_QUERY_STATUS_CODE));
            if (t_.result.statusCode == HTTP_STATUS_DENIED && t_.callbacks.passwordRequest)
                AskPassword();
            else if (t_.result.statusCode == HTTP_STATUS_PROXY_AUTH_REQ && t_.callbacks.proxyRequest)
                AskProxyCredentials();
        } while (t_.tryAgain && !t_.Cancelled());
        return !t_.Cancelled();
    }

    bool Send()
    {
        if (!t_.post)
            return HttpSendRequestW(t_.Request(), nullptr, 0, nullptr, 0);
        if (t_.upload)
            return SendUpload();
        static const wchar_t formHeader[] = L"Content-Type: application/x-www-form-urlencoded";
        return HttpSendRequestW(t_.Request(), formHeader, std::size(formHeader) - 1, t_.settings.PostData.data(),
                                static_cast<DWORD>(t_.settings.PostData.size()));
    }

    bool SendUpload()
    {
        TauDataStream& data = *t_.upload;
        data.Seek(0);
        t_.result.bytesTransferred = 0;
        const std::wstring headers = WideFromUtf8(t_.uploadHeaders);
        INTERNET_BUFFERSW buffers{};
        buffers.dwStructSize = sizeof buffers;
        buffers.lpcszHeader = headers.c_str();
        buffers.dwHeadersLength = static_cast<DWORD>(headers.size());
        buffers.dwBufferTotal = static_cast<DWORD>(data.Size());
        if (!HttpSendRequestExW(t_.Request(), &buffers, nullptr, HSR_INITIATE, 0))
            return false;
        std::vector<char> block(t_.bufferSize);
        ProgressThrottle throttle;
        while (const std::size_t n = data.Read(block.data(), block.size())) {
            DWORD written = 0;
            if (!InternetWriteFile(t_.Request(), block.data(), static_cast<DWORD>(n), &written) || written == 0)
                break;
            t_.result.bytesTransferred += written;
            const bool last = t_.result.bytesTransferred >= data.Size();
            if (t_.callbacks.uploadProgress && throttle.Due(GetTickCount(), last))
                Synchronize([this, size = data.Size()] { RaiseUploadProgress(size); });
        }
        return HttpEndRequestW(t_.Request(), nullptr, 0, 0);
    }

    void AskPassword()
    {
        const auto authenticate = HeaderValue(QueryText(t_.Request(), HTTP_QUERY_RAW_HEADERS_CRLF), "WWW-Authenticate");
        t_.result.realm = authenticate ? RealmOf(*authenticate) : std::string();
        Synchronize([this] { t_.tryAgain = t_.callbacks.passwordRequest(t_.result.realm, t_.username, t_.password); });
        SetTextOption(t_.Request(), INTERNET_OPTION_USERNAME, t_.username);
        SetTextOption(t_.Request(), INTERNET_OPTION_PASSWORD, t_.password);
    }

    void AskProxyCredentials()
    {
        Synchronize([this] {
            t_.tryAgain = t_.callbacks.proxyRequest(t_.settings.ProxyUsername, t_.settings.ProxyPassword);
        });
        SetTextOption(t_.Request(), INTERNET_OPTION_PROXY_USERNAME, t_.settings.ProxyUsername);
        SetTextOption(t_.Request(), INTERNET_OPTION_PROXY_PASSWORD, t_.settings.ProxyPassword);
    }

    bool ReadHeaders()
    {
        t_.result.finalURL = AddressOfRequest(t_.Request());
        t_.result.rawHeaders = QueryText(t_.Request(), HTTP_QUERY_RAW_HEADERS_CRLF);
        t_.result.contentType = HeaderValue(t_.result.rawHeaders, "Content-Type").value_or("");
        t_.result.contentLength = ContentLengthOf(t_.result.rawHeaders);
        // WinInet may act on a length we refuse ("12abc" as 12): such a body
        // can never be shown to be complete.
        t_.lengthUnreadable = !t_.result.contentLength && HeaderValue(t_.result.rawHeaders, "Content-Length").has_value();
        t_.result.statusOk = t_.result.statusCode == HTTP_STATUS_OK || AcceptedPartialContent();
        t_.result.resumedFrom = Resuming() ? t_.settings.Range.StartRange : 0;
        if (!t_.callbacks.headerInfo)
            return true;

        t_.result.contentLanguage = HeaderValue(t_.result.rawHeaders, "Content-Language").value_or("");
        t_.result.contentEncoding = HeaderValue(t_.result.rawHeaders, "Content-Encoding").value_or("");
        t_.result.location = HeaderValue(t_.result.rawHeaders, "Location").value_or("");
        const int bias = CurrentBias();
        t_.result.date = HeaderDate(t_.result.rawHeaders, "Date", bias);
        t_.result.lastModified = HeaderDate(t_.result.rawHeaders, "Last-Modified", bias);
        t_.result.expires = HeaderDate(t_.result.rawHeaders, "Expires", bias);
        Synchronize([this] { t_.result.continueTransfer = t_.callbacks.headerInfo(t_.result); });
        return t_.result.continueTransfer && !t_.Cancelled();
    }

    // A 206 counts as success only as the answer to the range asked for.
    bool AcceptedPartialContent() const
    {
        if (t_.result.statusCode != HTTP_STATUS_PARTIAL_CONTENT || (t_.settings.Range.StartRange <= 0 && t_.settings.Range.EndRange <= 0))
            return false;
        const auto range = HeaderValue(t_.result.rawHeaders, "Content-Range");
        const auto parsed = range ? ParseContentRange(*range) : std::nullopt;
        if (t_.settings.ResumeFile && !t_.settings.IfRange.empty() &&
            RangeValidator(t_.result.rawHeaders) != t_.settings.IfRange)
            return false;
        return parsed && parsed->first == std::max<std::int64_t>(t_.settings.Range.StartRange, 0);
    }

    // A file cut off before goes on where it ended, and only as the answer to that range.
    bool Resuming() const
    {
        return t_.settings.ResumeFile && !t_.settings.FileName.empty() && t_.settings.Range.StartRange > 0 &&
               t_.result.statusCode == HTTP_STATUS_PARTIAL_CONTENT && t_.result.statusOk;
    }

    // A body past the limit is never stored further: an endless one would
    // fill the disk. An error answer's body is the server's to size; the
    // bytes a resumed file kept count.
    bool TooLarge(std::int64_t size)
    {
        size += t_.result.resumedFrom;
        if (!t_.result.statusOk || t_.settings.MaxBodySize < 0 || size <= t_.settings.MaxBodySize)
            return false;
        t_.ioFailed = true;
        t_.result.localError = ERROR_FILE_TOO_LARGE;
        return true;
    }

    // A download is on the disk before anyone may install it.
    bool FlushStream()
    {
        std::lock_guard guard(t_.lock);
        if (!t_.stream || t_.stream->Flush())
            return true;
        const DWORD error = GetLastError();
        t_.ioFailed = true;
        t_.result.localError = error != NO_ERROR ? error : ERROR_WRITE_FAULT;
        return false;
    }

    bool CreateStream()
    {
        std::unique_ptr<TauDataStream> stream;
        DWORD error = ERROR_NOT_ENOUGH_MEMORY;
        if (t_.settings.HashBody)
            t_.hash = std::make_unique<TauSha256>();
        if (Resuming()) {
            stream = TauFileStream::Continue(t_.settings.FileName, t_.result.resumedFrom);
            error = stream ? NO_ERROR : GetLastError();
            if (stream && !HashKeptBytes(*stream)) {
                error = GetLastError() != NO_ERROR ? GetLastError() : ERROR_READ_FAULT;
                stream.reset();
            }
        } else if (!t_.settings.FileName.empty()) {
            stream = TauFileStream::Create(t_.settings.FileName, t_.settings.HideTempFile);
            error = stream ? NO_ERROR : GetLastError();
        } else if (!t_.result.contentLength || *t_.result.contentLength <= static_cast<std::int64_t>(t_.settings.MemoryLimit)) {
            stream = std::make_unique<TauMemoryStream>(t_.settings.MemoryLimit);
        }
        std::lock_guard guard(t_.lock);
        if (t_.cancelled)
            return false;
        t_.ioFailed = !stream;
        if (!stream)
            t_.result.localError = error != NO_ERROR ? error : ERROR_CANNOT_MAKE;
        t_.stream = std::move(stream);
        return !t_.ioFailed;
    }

    // The digest covers the whole file: the bytes kept go in first.
    bool HashKeptBytes(TauDataStream& stream)
    {
        if (!t_.hash)
            return true;
        std::vector<char> block(64 * 1024);
        if (!stream.Seek(0))
            return false;
        for (std::int64_t left = t_.result.resumedFrom; left > 0;) {
            const std::size_t n = stream.Read(block.data(), static_cast<std::size_t>(
                                                                std::min<std::int64_t>(left, block.size())));
            if (n == 0)
                return false;
            t_.hash->Update(block.data(), n);
            left -= static_cast<std::int64_t>(n);
        }
        return stream.Seek(t_.result.resumedFrom);
    }

    // The worker receives while a second thread stores, so network and disk
    // time overlap. Reads of TransferBufferSize bytes are gathered into
    // larger blocks before they are handed over, and the stream is quiet
    // whenever an event may look at it.
    void ReadBody()
    {
        t_.result.bytesTransferred = 0;
        const std::size_t readSize = t_.bufferSize;
        BlockWriter writer([this](const char* data, std::size_t size) { return Store(data, size); },
                           std::max(readSize, MinWriteBlock));
        ProgressThrottle throttle;
        char* block = nullptr;
        std::size_t filled = 0;
        const auto handOver = [&] {
            const bool ok = block == nullptr || filled == 0 || writer.Push(filled);
            block = nullptr;
            return ok;
        };
        for (;;) {
            if (block == nullptr) {
                block = writer.Block();
                filled = 0;
            }
            DWORD read = 0;
            if (!ReadBlock(block + filled, static_cast<DWORD>(readSize), read)) {
                t_.ioFailed = true;
                break;
            }
            if (read == 0)
                break;
            filled += read;
            t_.result.bytesTransferred += read;
            if (TooLarge(t_.result.bytesTransferred))
                break;
            if (writer.BlockSize() - filled < readSize && !handOver())
                break;
            const bool last = t_.result.contentLength && t_.result.bytesTransferred >= *t_.result.contentLength;
            if (t_.callbacks.progress && throttle.Due(GetTickCount(), last)) {
                if (!handOver() || !writer.Flush())
                    break;
                Synchronize([this] { RaiseProgress(); });
            }
            if (t_.Cancelled())
                break;
        }
        if (!handOver() || !writer.Flush())
            t_.ioFailed = true;
    }

    bool ReadBlock(char* buffer, DWORD size, DWORD& read)
    {
        if (scheme_ != "file")
            return InternetReadFile(t_.Request(), buffer, size, &read);
        std::lock_guard guard(t_.lock);
        return t_.localFile && ReadFile(t_.localFile.get(), buffer, size, &read, nullptr);
    }

    // On the writer's thread.
    bool Store(const char* data, std::size_t size)
    {
        std::lock_guard guard(t_.lock);
        if (t_.cancelled || !t_.stream)
            return false;
        if (t_.stream->Write(data, size)) {
            if (t_.hash)
                t_.hash->Update(data, size);
            return true;
        }
        const DWORD error = dynamic_cast<TauFileStream*>(t_.stream.get()) ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        t_.result.localError = error != NO_ERROR ? error : ERROR_WRITE_FAULT;
        return false;
    }

    void RaiseProgress()
    {
        const TransferProgress p = ComputeProgress(t_.result.contentLength.value_or(0), t_.result.bytesTransferred,
                                                   GetTickCount() - t_.result.startTick);
        t_.callbacks.progress(t_.result, p, t_.stream.get());
    }

    void RaiseUploadProgress(std::int64_t size)
    {
        const TransferProgress p =
            ComputeProgress(size, t_.result.bytesTransferred, GetTickCount() - t_.result.startTick);
        t_.callbacks.uploadProgress(size, t_.result.bytesTransferred, p);
    }

    void Synchronize(const std::function<void()>& method) { worker_.Synchronize(method); }

    TauHTTPTransfer& t_;
    TauEventThread& worker_;
    std::string scheme_;
    std::string host_;
    INTERNET_PORT port_ = 0;
    std::string path_;
    std::string extra_;
    std::string user_;
    std::string password_;
};

}  // namespace

void RunTransfer(TauHTTPTransfer& transfer, TauEventThread& worker)
{
    TransferRun(transfer, worker).Execute();
}
