#include "auHTTP.h"

#include "http/HttpTransfer.h"
#include "http/LoginInfo.h"
#include "winutil/WideText.h"

#include <stdexcept>

std::string TauLoginComponent::LInfo() const
{
    const auto block = EncodeLoginInfo(HTTPUsername, HTTPPassword);
    if (!block)
        throw std::length_error("LInfo: user name and password are too long to store");
    return *block;
}

bool TauLoginComponent::SetLInfo(std::string_view block)
{
    const auto info = DecodeLoginInfo(block);
    if (!info)
        return false;
    HTTPUsername = info->username;
    HTTPPassword = info->password;
    return true;
}

TauCustomHTTP::TauCustomHTTP()
{
    thread_.SetExceptionHandler([this](TauCustomThread&) { RequestFailed(); });
    thread_.OnWaitTimeout = [this](TauCustomThread&) { WaitTimedOut(); };
}

TauCustomHTTP::~TauCustomHTTP()
{
    destroying_ = true;
    thread_.SetDestroying();
    if (current_)
        current_->Cancel();
}

std::shared_ptr<TauHTTPTransfer> TauCustomHTTP::NewTransfer()
{
    auto transfer = std::make_shared<TauHTTPTransfer>(*this, Callbacks());
    transfer->username = HTTPUsername;
    transfer->password = HTTPPassword;
    return transfer;
}

TauHTTPCallbacks TauCustomHTTP::Callbacks()
{
    TauHTTPCallbacks callbacks;
    if (OnStatusChange)
        callbacks.statusChange = [this, event = OnStatusChange](DWORD status, const std::string& text) {
            event(*this, status, text);
        };
    if (OnRedirected)
        callbacks.redirected = [this, event = OnRedirected](const std::string& url) { event(*this, url); };
    if (WantsPasswordRequest())
        callbacks.passwordRequest = [this](const std::string& realm, std::string& username, std::string& password) {
            const bool tryAgain = DoPasswordRequest(realm);
            username = HTTPUsername;
            password = HTTPPassword;
            return tryAgain;
        };
    if (OnProxyAuthenticationRequest)
        callbacks.proxyRequest = [this](std::string& username, std::string& password) {
            bool tryAgain = false;
            if (OnProxyAuthenticationRequest)
                OnProxyAuthenticationRequest(*this, ProxyUsername, ProxyPassword, tryAgain);
            username = ProxyUsername;
            password = ProxyPassword;
            return tryAgain;
        };
    if (WantsHeaderInfo())
        callbacks.headerInfo = [this](const TauHTTPResult&) { return DoHeaderInfo(); };
    if (WantsProgress())
        callbacks.progress = [this](const TauHTTPResult&, const TransferProgress& progress, TauDataStream* data) {
            DoTransferProgress(progress, data);
        };
    if (OnUploadProgress)
        callbacks.uploadProgress = [this](std::int64_t size, std::int64_t sent, const TransferProgress& p) {
            if (OnUploadProgress)
                OnUploadProgress(*this, size, sent, p.elapsedTime, p.estimatedTimeLeft, p.percentsDone,
                                 p.transferRate);
        };
    return callbacks;
}

bool TauCustomHTTP::StartTransfer()
{
    if (Busy())
        return false;
    UploadFromStream = false;
    return Launch(NewTransfer());
}

bool TauCustomHTTP::StartUpload(std::unique_ptr<TauDataStream> data, std::string headers)
{
    if (Busy() || !data)
        return false;
    UploadFromStream = true;
    auto t = NewTransfer();
    t->upload = std::move(data);
    t->uploadHeaders = std::move(headers);
    return Launch(std::move(t));
}

bool TauCustomHTTP::Launch(std::shared_ptr<TauHTTPTransfer> transfer)
{
    current_ = transfer;
    thread_.SetExecuteHandler([transfer](TauEventThread& worker) { RunTransfer(*transfer, worker); });
    thread_.SetFinishHandler([this, transfer](TauCustomThread&) { Complete(transfer); });
    return thread_.Start();
}

void TauCustomHTTP::CancelTransfer()
{
    if (current_)
        current_->Cancel();
    if (!thread_.Running())
        return;
    thread_.HardStop();
    if (!destroying_ && OnTransferAborted)
        OnTransferAborted(*this);
}

void TauCustomHTTP::Complete(const std::shared_ptr<TauHTTPTransfer>& t)
{
    t->CloseHandles();
    std::unique_ptr<TauDataStream> stream = t->TakeStream();
    if (stream)
        stream->Seek(0);
    auto* file = dynamic_cast<TauFileStream*>(stream.get());

    if (!t->result.continueTransfer) {
        stream.reset();
        DoTransferStopped();
        return;
    }
    if (t->result.success) {
        // The file is closed and complete before anyone hears of it.
        if (file)
            stream.reset();
        DoDone(t->result.contentType, t->result.bytesTransferred, stream.get());
        return;
    }
    // A failed file goes before the events, so a transfer they start can
    // never lose its own file to this cleanup.
    // A body of the file cut short is kept, on the disk, when asked.
    if (file && t->settings.KeepPartialFile && t->result.statusOk && t->result.localError == NO_ERROR && file->Flush()) {
        stream.reset();
    } else if (file) {
        const std::string path = file->Path();
        stream.reset();
        DeleteFileW(WideFromUtf8(path).c_str());
    }
    RaiseFailure(t, stream.get());
}

void TauCustomHTTP::RaiseFailure(const std::shared_ptr<TauHTTPTransfer>& t, TauDataStream* data)
{
    const std::weak_ptr<char> alive = alive_;
    const TauHTTPResult& result = t->result;
    if (OnRequestFailed)
        OnRequestFailed(*this);
    if (alive.expired() || destroying_)
        return;
    if (result.statusCode == -1)
        DoServerUnreachable();
    else if (!result.statusOk)
        DoHTTPError(result.statusCode, data);
    else
        DoConnectionLost(result.contentType, result.contentLength.value_or(0), result.bytesTransferred, data);
}

void TauCustomHTTP::RequestFailed()
{
    if (OnRequestFailed)
        OnRequestFailed(*this);
}

void TauCustomHTTP::WaitTimedOut()
{
    if (current_)
        current_->Cancel();
    if (OnWaitTimeout)
        OnWaitTimeout(*this);
}

const TauHTTPResult& TauCustomHTTP::Result() const
{
    static const TauHTTPResult none;
    return current_ ? current_->result : none;
}

void TauCustomHTTP::DoDone(const std::string& contentType, std::int64_t dataSize, TauDataStream* data)
{
    if (OnDone)
        OnDone(*this, contentType, dataSize, data);
}

void TauCustomHTTP::DoTransferStopped()
{
    if (OnTransferStopped)
        OnTransferStopped(*this);
}

void TauCustomHTTP::DoServerUnreachable()
{
    if (OnServerUnreachable)
        OnServerUnreachable(*this);
}

void TauCustomHTTP::DoHTTPError(int statusCode, TauDataStream* data)
{
    if (OnHTTPError)
        OnHTTPError(*this, statusCode, data);
}

void TauCustomHTTP::DoConnectionLost(const std::string& contentType, std::int64_t contentLength,
                                     std::int64_t bytesTransferred, TauDataStream* data)
{
    if (OnConnectionLost)
        OnConnectionLost(*this, contentType, contentLength, bytesTransferred, data);
}

bool TauCustomHTTP::DoHeaderInfo()
{
    const TauHTTPResult& r = Result();
    bool continueTransfer = true;
    if (OnHeaderInfo)
        OnHeaderInfo(*this, r.rawHeaders, r.contentType, r.contentLanguage, r.contentEncoding, r.location,
                     r.contentLength.value_or(0), r.date, r.lastModified, r.expires, continueTransfer);
    return continueTransfer;
}

void TauCustomHTTP::DoTransferProgress(const TransferProgress& p, TauDataStream* data)
{
    const TauHTTPResult& r = Result();
    if (OnTransferProgress)
        OnTransferProgress(*this, r.contentType, r.contentLength.value_or(0), r.bytesTransferred, p.elapsedTime,
                           p.estimatedTimeLeft, p.percentsDone, p.transferRate, data);
}

bool TauCustomHTTP::DoPasswordRequest(const std::string& realm)
{
    bool tryAgain = false;
    if (OnPasswordRequest)
        OnPasswordRequest(*this, realm, tryAgain);
    return tryAgain;
}
