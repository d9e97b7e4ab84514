#include "HttpRecorder.h"

#include "HttpTestServer.h"

#include <mutex>

namespace {

std::string ReadStream(TauDataStream* data)
{
    if (!data)
        return {};
    std::string bytes;
    char buffer[65536];
    while (const std::size_t n = data->Read(buffer, sizeof buffer))
        bytes.append(buffer, n);
    return bytes;
}

std::mutex workerEventsLock;

}  // namespace

HttpRecorder::HttpRecorder(TauCustomHTTP& client) : http(client)
{
    http.OnHeaderInfo = [this](TauCustomHTTP&, const std::string& raw, const std::string&, const std::string&,
                               const std::string&, const std::string&, std::int64_t length, OleDate, OleDate modified,
                               OleDate, bool& continueIt) {
        events.push_back("HeaderInfo");
        rawHeaders = raw;
        headerLength = length;
        lastModified = modified;
        continueIt = continueTransfer;
    };
    http.OnTransferProgress = [this](TauCustomHTTP&, const std::string&, std::int64_t, std::int64_t, int, int,
                                     std::uint8_t percent, float, TauDataStream*) {
        if (events.empty() || events.back() != "Progress")
            events.push_back("Progress");
        ++progressCount;
        percentsInRange = percentsInRange && percent <= 100 && percent >= lastPercent;
        lastPercent = percent;
        progressOffMainThread = progressOffMainThread || GetCurrentThreadId() != mainThread;
    };
    http.OnDone = [this](TauCustomHTTP&, const std::string&, std::int64_t size, TauDataStream* stream) {
        events.push_back("Done");
        doneSize = size;
        dataGiven = stream != nullptr;
        data = ReadStream(stream);
        finished = true;
    };
    http.OnRequestFailed = [this](TauCustomHTTP&) { events.push_back("RequestFailed"); };
    http.OnServerUnreachable = [this](TauCustomHTTP&) {
        events.push_back("ServerUnreachable");
        finished = true;
    };
    http.OnHTTPError = [this](TauCustomHTTP&, int status, TauDataStream* stream) {
        events.push_back("HTTPError:" + std::to_string(status));
        dataGiven = stream != nullptr;
        data = ReadStream(stream);
        finished = true;
    };
    http.OnConnectionLost = [this](TauCustomHTTP&, const std::string&, std::int64_t, std::int64_t,
                                   TauDataStream* stream) {
        events.push_back("ConnectionLost");
        dataGiven = stream != nullptr;
        finished = true;
    };
    http.OnTransferStopped = [this](TauCustomHTTP&) {
        events.push_back("TransferStopped");
        finished = true;
    };
    http.OnTransferAborted = [this](TauCustomHTTP&) { events.push_back("TransferAborted"); };
    http.OnStatusChange = [this](TauCustomHTTP&, DWORD, const std::string& text) {
        std::lock_guard guard(workerEventsLock);
        statusTexts.push_back(text);
    };
    http.OnRedirected = [this](TauCustomHTTP&, const std::string& url) {
        std::lock_guard guard(workerEventsLock);
        redirects.push_back(url);
    };
}

bool HttpRecorder::Run(DWORD timeoutMs)
{
    finished = false;
    if (!http.StartTransfer())
        return false;
    return WaitForEnd(timeoutMs);
}

bool HttpRecorder::WaitForEnd(DWORD timeoutMs)
{
    return PumpUntil([this] { return finished && !http.Busy(); }, timeoutMs);
}

std::string HttpRecorder::Sequence() const
{
    std::string text;
    for (const std::string& event : events)
        text += (text.empty() ? "" : ",") + event;
    return text;
}
