#include "auHTTP.h"

#include "update/auHTTPTransfer.h"
#include "update/auLoginInfo.h"

#include <algorithm>
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
    auto t = std::make_shared<TauHTTPTransfer>();
    t->client = this;
    t->url = URL;
    t->fileName = FileName;
    t->postData = PostData;
    t->referer = Referer;
    t->acceptTypes = AcceptTypes;
    t->agent = Agent;
    t->addHeaders = AddHeaders;
    t->range = Range;
    t->timeouts = Timeouts;
    t->proxy = Proxy;
    t->bufferSize = static_cast<std::size_t>(std::clamp(TransferBufferSize, MinBufferSize, MaxBufferSize));
    t->memoryLimit = MemoryLimit;
    t->post = RequestMethod == rmPost || (RequestMethod == rmAutomatic && (!PostData.empty() || UploadFromStream));
    t->useCache = UseCache;
    t->acceptCookies = AcceptCookies;
    t->workOffline = WorkOffline;
    t->hideTempFile = HideTempFile;
    t->hashBody = HashBody;
    t->username = HTTPUsername;
    t->password = HTTPPassword;
    t->proxyUsername = ProxyUsername;
    t->proxyPassword = ProxyPassword;
    t->hasHeaderInfo = static_cast<bool>(OnHeaderInfo);
    t->hasProgress = static_cast<bool>(OnTransferProgress);
    t->hasUploadProgress = static_cast<bool>(OnUploadProgress);
    t->hasPasswordRequest = static_cast<bool>(OnPasswordRequest);
    t->hasProxyRequest = static_cast<bool>(OnProxyAuthenticationRequest);
    t->onStatusChange = OnStatusChange;
    t->onRedirected = OnRedirected;
    return t;
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

    if (!t->continueTransfer) {
        stream.reset();
        if (OnTransferStopped)
            OnTransferStopped(*this);
        return;
    }
    if (t->success) {
        // The file is closed and complete before anyone hears of it.
        if (file)
            stream.reset();
        if (OnDone)
            OnDone(*this, t->contentType, t->bytesTransferred, stream.get());
        return;
    }
    // A failed file goes before the events, so a transfer they start can
    // never lose its own file to this cleanup.
    if (file) {
        const std::string path = file->Path();
        stream.reset();
        DeleteFileA(path.c_str());
    }
    RaiseFailure(t, stream.get());
}

void TauCustomHTTP::RaiseFailure(const std::shared_ptr<TauHTTPTransfer>& t, TauDataStream* data)
{
    const std::weak_ptr<char> alive = alive_;
    const int status = t->statusCode;
    if (OnRequestFailed)
        OnRequestFailed(*this);
    if (alive.expired() || destroying_)
        return;
    if (status == -1) {
        if (OnServerUnreachable)
            OnServerUnreachable(*this);
    } else if (!t->statusOk) {
        if (OnHTTPError)
            OnHTTPError(*this, status, data);
    } else if (OnConnectionLost) {
        OnConnectionLost(*this, t->contentType, t->contentLength.value_or(0), t->bytesTransferred, data);
    }
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

int TauCustomHTTP::StatusCode() const
{
    return current_ ? current_->statusCode : -1;
}

bool TauCustomHTTP::Success() const
{
    return current_ && current_->success;
}

bool TauCustomHTTP::ContinueTransfer() const
{
    return !current_ || current_->continueTransfer;
}

std::string TauCustomHTTP::ContentType() const
{
    return current_ ? current_->contentType : std::string();
}

std::string TauCustomHTTP::RawHeaders() const
{
    return current_ ? current_->rawHeaders : std::string();
}

std::string TauCustomHTTP::ContentLanguage() const
{
    return current_ ? current_->contentLanguage : std::string();
}

std::string TauCustomHTTP::ContentEncoding() const
{
    return current_ ? current_->contentEncoding : std::string();
}

std::string TauCustomHTTP::Location() const
{
    return current_ ? current_->location : std::string();
}

std::string TauCustomHTTP::Realm() const
{
    return current_ ? current_->realm : std::string();
}

OleDate TauCustomHTTP::Date() const
{
    return current_ ? current_->date : 0.0;
}

OleDate TauCustomHTTP::LastModified() const
{
    return current_ ? current_->lastModified : 0.0;
}

OleDate TauCustomHTTP::Expires() const
{
    return current_ ? current_->expires : 0.0;
}

std::int64_t TauCustomHTTP::ContentLength() const
{
    return current_ ? current_->contentLength.value_or(0) : 0;
}

std::int64_t TauCustomHTTP::BytesTransferred() const
{
    return current_ ? current_->bytesTransferred : 0;
}

DWORD TauCustomHTTP::StartTick() const
{
    return current_ ? current_->startTick : 0;
}

DWORD TauCustomHTTP::LocalError() const
{
    return current_ ? current_->localError : NO_ERROR;
}

std::string TauCustomHTTP::BodySha256() const
{
    return current_ ? current_->sha256 : std::string();
}
