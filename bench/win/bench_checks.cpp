// Runs COUNT update checks of one engine, one after another, against an
// information file with nothing new, and prints the bytes the server sent
// back (header blocks and bodies); bench/bench_checks.sh runs it with and
// without the server honouring validators and prints the ratio. Each check
// must end in "no update".
// Usage: bench_checks INFO-URL STATE-FOLDER COUNT
#include "update/auAutoUpgrader.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void PumpWhileBusy(const TauAutoUpgrader& engine)
{
    MSG msg;
    while (engine.Busy()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_checks INFO-URL STATE-FOLDER COUNT\n");
        return 2;
    }
    try {
        TauAutoUpgrader engine;
        engine.InfoFileURL = argv[1];
        engine.StateFolder = argv[2];
        engine.Product = "Bench Checks";
        engine.VersionControl = byNumber;
        engine.VersionNumber = "1.0";
        engine.ShowMessages = {};
        engine.Wizard.Enabled = false;
        engine.AllowUnverifiedUpdates = true;
        const long count = std::atol(argv[3]);
        long noUpdate = 0;
        long long bytes = 0;
        engine.OnNoUpdateAvailable = [&](TauAutoUpgrader& sender) {
            ++noUpdate;
            bytes += static_cast<long long>(sender.Result().rawHeaders.size()) + sender.Result().bytesTransferred;
        };
        const DWORD start = GetTickCount();
        for (long i = 0; i < count; ++i) {
            engine.CheckUpdate();
            PumpWhileBusy(engine);
        }
        std::printf("checks=%ld no_update=%ld bytes=%lld seconds=%.1f\n", count, noUpdate, bytes,
                    (GetTickCount() - start) / 1000.0);
        return noUpdate == count ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_checks: %s\n", e.what());
        return 1;
    }
}
