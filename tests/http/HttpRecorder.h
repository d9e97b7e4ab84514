#pragma once
// Records the events of a TauCustomHTTP in the order they arrive, and runs
// one transfer to its end while pumping messages.
#include "http/auHTTP.h"

#include <string>
#include <vector>

struct HttpRecorder {
    explicit HttpRecorder(TauCustomHTTP& http);

    // Starts the transfer and pumps messages until a final event arrived and
    // the worker has let go; false on time-out.
    bool Run(DWORD timeoutMs = 30000);
    bool WaitForEnd(DWORD timeoutMs = 30000);
    // The events joined with ",", progress events counted once per run of them.
    std::string Sequence() const;

    TauCustomHTTP& http;
    std::vector<std::string> events;
    bool finished = false;
    bool continueTransfer = true;
    int progressCount = 0;
    std::int64_t lastPercent = -1;
    bool percentsInRange = true;
    bool progressOffMainThread = false;
    std::string data;  // the Data stream of the final event, when there was one
    bool dataGiven = false;
    std::int64_t doneSize = -1;
    OleDate lastModified = -1;
    std::string rawHeaders;
    std::int64_t headerLength = -1;
    std::vector<std::string> statusTexts;
    std::vector<std::string> redirects;
    DWORD mainThread = GetCurrentThreadId();
};
