// kdAgent.exe: the resident startup agent. One per session, administrators
// only; everything else happens in TAgentForm. With /list or /restore it runs
// that command instead (AgentCommands.h) and ends.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "agent/AdminCheck.h"
#include "agent/AgentCommands.h"
#include "agent/AgentResources.h"
#include "common/AppMessages.h"
#include "agent/uAgentForm.h"
#include "common/SystemFacts.h"
#include "common/Environment.h"
#include "winutil/ComApartment.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

namespace {

constexpr const wchar_t* kAgentMutexName = L"{34FAD48D-1CC7-43C3-B9A8-F7C163F22708}";

// Test seam: KDAGENT_INSTANCE names an agent of its own beside the session's,
// as an agent of another session of the same user would be (Wine has one
// session only).
std::wstring AgentMutexName()
{
    const std::string instance = GetEnvVar("KDAGENT_INSTANCE");
    return instance.empty() ? kAgentMutexName : kAgentMutexName + (L"." + WideFromUtf8(instance));
}

int RunMessageLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

int RunAgent()
{
    SetApplicationTitle(LoadResourceString(IDS_APP_TITLE));
    if (GetWindowsVersionFacts().nt && !IsUserAdmin()) {
        ShowMessageBox(nullptr, LoadResourceString(IDS_NEED_ADMIN), ApplicationTitle(), MB_OK | MB_ICONERROR);
        return 1;
    }
    const UniqueKernelHandle mutex(CreateMutexW(nullptr, TRUE, AgentMutexName().c_str()));
    // Access denied also means the mutex exists: an agent of another context has it.
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED)
        return 0;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    const ComApartment apartment;
    TAgentForm form;
    if (!form.Created())
        return 1;
    return RunMessageLoop();
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    try {
        if (const std::optional<int> exitCode = RunAgentCommand(ProgramArguments()))
            return *exitCode;
        return RunAgent();
    } catch (...) {
        HandleCurrentException();
        return 1;
    }
}
