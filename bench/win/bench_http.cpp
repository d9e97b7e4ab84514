// Fetches one address into a file with TauCustomHTTP, progress events on, and
// prints what the run took; bench/bench_http.sh compares it with curl.
// Usage: bench_http URL FILE [BUFFER-SIZE] [nocache]
#include "http/auHTTP.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool PumpUntilDone(const bool& done, const TauCustomHTTP& http)
{
    MSG msg;
    while (!done || http.Busy()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return false;
            DispatchMessageW(&msg);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_http URL FILE [BUFFER-SIZE] [nocache]\n");
        return 2;
    }
    try {
        TauCustomHTTP http;
        http.URL = argv[1];
        http.FileName = argv[2];
        if (argc > 3)
            http.TransferBufferSize = std::atoi(argv[3]);
        // With the cache on, WinInet also keeps a copy of the body in its cache.
        http.UseCache = !(argc > 4 && std::string(argv[4]) == "nocache");
        long progressEvents = 0;
        bool done = false;
        bool ok = false;
        http.OnTransferProgress = [&](TauCustomHTTP&, const std::string&, std::int64_t, std::int64_t, int, int,
                                      std::uint8_t, float, TauDataStream*) { ++progressEvents; };
        http.OnDone = [&](TauCustomHTTP&, const std::string&, std::int64_t, TauDataStream*) { done = ok = true; };
        http.OnRequestFailed = [&](TauCustomHTTP&) { done = true; };

        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        if (!http.StartTransfer() || !PumpUntilDone(done, http))
            return 1;
        QueryPerformanceCounter(&end);
        const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
        std::printf("ok=%d bytes=%lld seconds=%.3f progress_events=%ld events_per_second=%.1f\n", ok ? 1 : 0,
                    static_cast<long long>(http.Result().bytesTransferred), seconds, progressEvents,
                    progressEvents / seconds);
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_http: %s\n", e.what());
        return 1;
    }
}
