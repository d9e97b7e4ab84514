// Runs the update engine against an information file that lists one release
// file, from the check to the end of the download, and prints what it took;
// bench/bench_upgrade.sh compares it with curl. The engine uses its own
// defaults except TransferBufferSize; the downloaded file is moved to FILE
// and the upgrade then aborted, so this program never hands over to the stub.
// With PUBLISHER-KEY the engine checks the signature and the file's digest.
// Usage: bench_upgrade INFO-URL FILE [BUFFER-SIZE [PUBLISHER-KEY]]
#include "update/auAutoUpgrader.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_upgrade INFO-URL FILE [BUFFER-SIZE [PUBLISHER-KEY]]\n");
        return 2;
    }
    try {
        TauAutoUpgrader engine;
        engine.InfoFileURL = argv[1];
        engine.VersionControl = byNumber;
        engine.VersionNumber = "1.0";
        engine.ShowMessages = {};
        engine.Wizard.Enabled = false;
        // The bench's server speaks plain http; an unsigned run lets its release in.
        engine.AllowUnverifiedUpdates = true;
        if (argc > 3)
            engine.TransferBufferSize = std::atoi(argv[3]);
        if (argc > 4)
            engine.PublisherKey = argv[4];
        long progressEvents = 0;
        long busiestSecond = 0;
        long inThisSecond = 0;
        DWORD secondStart = GetTickCount();
        std::int64_t bytes = 0;
        bool ok = false;
        engine.OnProgress = [&](TauAutoUpgrader&, const std::string&, std::int64_t, std::int64_t read, int, int,
                                std::uint8_t, std::uint8_t, float) {
            ++progressEvents;
            bytes = read;
            if (GetTickCount() - secondStart >= 1000) {
                secondStart = GetTickCount();
                inThisSecond = 0;
            }
            busiestSecond = std::max(busiestSecond, ++inThisSecond);
        };
        engine.OnEndUpgrade = [&](TauAutoUpgrader& sender) {
            ok = MoveFileExW(WideFromUtf8(sender.TempFileName()).c_str(), WideFromAnsi(argv[2]).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
            sender.AbortUpgrade();
        };
        engine.OnAborted = [](TauAutoUpgrader&) { PostQuitMessage(0); };

        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        engine.CheckUpdate();
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        QueryPerformanceCounter(&end);
        const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
        std::printf("ok=%d bytes=%lld seconds=%.3f progress_events=%ld events_per_second=%.1f "
                    "busiest_second=%ld\n",
                    ok ? 1 : 0, static_cast<long long>(bytes), seconds, progressEvents, progressEvents / seconds,
                    busiestSecond);
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_upgrade: %s\n", e.what());
        return 1;
    }
}
