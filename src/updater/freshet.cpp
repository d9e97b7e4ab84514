// freshet.exe: with exactly two arguments ("/silent" or another word, and the
// starter's window handle) it updates the product; with any other count it
// starts the product named in update.ini and ends.
#include "common/AppMessages.h"
#include "common/AppPaths.h"
#include "common/Environment.h"
#include "updater/InstallOutcome.h"
#include "updater/UpdateFormUnit.h"
#include "updater/UpdaterRules.h"
#include "updater/auWebUpdateInfo.h"
#include "winutil/ComApartment.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Arguments()
{
    std::vector<std::string> arguments = ProgramArguments();
    if (!arguments.empty())
        arguments.erase(arguments.begin());
    return arguments;
}

int RunUpdate(const std::vector<std::string>& arguments)
{
    // The browser control of the what's-new window needs a single-threaded apartment.
    const ComApartment apartment;
    const UniqueWindow application = CreateApplicationWindow();
    const bool silent = UpdaterModeOf(arguments) == TUpdaterMode::umSilent;
    TUpdateForm::Start(std::make_unique<TUpdateForm>(arguments[1], GetAppFolder()), silent, application.get());
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    Tfrm_ShowInfoUpdate::FreeInstance();
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetApplicationTitle("Freshet!");
    try {
        const std::vector<std::string> arguments = Arguments();
        const TUpdaterMode mode = UpdaterModeOf(arguments);
        // A failed install is told once: in the log always, and in a message
        // unless the run is silent. Launcher mode is the run the stub starts
        // right after an install the user confirmed in the visible window, so
        // it tells the user too, once the product runs again.
        const EarlierInstall earlier = FinishEarlierInstall();
        if (earlier.handedOver)
            return 0;
        if (mode == TUpdaterMode::umLauncher) {
            // Nothing to start is not an error for the product, but a caller can tell.
            const bool started = LaunchProduct(GetAppFolder());
            if (!earlier.failure.empty())
                ShowFailedInstall(earlier.failure);
            return started ? 0 : 1;
        }
        if (mode == TUpdaterMode::umVisible && !earlier.failure.empty())
            ShowFailedInstall(earlier.failure);
        // Nothing is installed over a roll-back that is not finished.
        if (earlier.stuck)
            return 0;
        return RunUpdate(arguments);
    } catch (...) {
        HandleCurrentException();
        return 1;
    }
}
