#include "auAutoUpgrader.h"

#include "common/Utils.h"
#include "update/auUpgraderTexts.h"
#include "winutil/ErrorText.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* EngineWindowClass = "TauAutoUpgraderWindow";
constexpr UINT_PTR AutoCheckTimer = 1;
constexpr UINT AutoCheckInterval = 10000;

std::string Today()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[16];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u", now.wMonth, now.wDay, now.wYear);
    return text;
}

std::string ComputeStubPath()
{
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(MAX_PATH, folder);
    std::string path = length > 0 && length <= MAX_PATH ? std::string(folder, length) : std::string();
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        path = GetAppFolder();
    if (path.back() != '\\')
        path += '\\';
    return path + "Zeredira3.exe";
}

std::string FirstArgument()
{
    return __argc > 1 ? __argv[1] : "";
}

void RegisterEngineWindowClass(WNDPROC windowProc)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA existing{};
    if (GetClassInfoA(instance, EngineWindowClass, &existing))
        return;
    WNDCLASSA wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = EngineWindowClass;
    if (!RegisterClassA(&wc))
        throw EWin32Error("TauAutoUpgrader: RegisterClass", GetLastError());
}

}  // namespace

const std::string& StubPath()
{
    static const std::string path = ComputeStubPath();
    return path;
}

TauAutoUpgraderLanguage UpgraderLanguage()
{
    return SelectedUpgraderLanguage();
}

TauAutoUpgraderWizard::TauAutoUpgraderWizard()
{
    SetLanguage(wlAuto);
}

void TauAutoUpgraderWizard::SetPic118x218(HBITMAP picture)
{
    picture_.reset(picture ? CopyImage(picture, IMAGE_BITMAP, 0, 0, 0) : nullptr);
}

void TauAutoUpgraderWizard::SetLanguage(TauAutoUpgraderLanguage language)
{
    language_ = language;
    SelectUpgraderLanguage(language);
}

TauAutoUpgrader::TauAutoUpgrader() : VersionDate(Today())
{
    HideTempFile = true;
    DeleteFileA(StubPath().c_str());
    RegisterEngineWindowClass(WindowProc);
    window_.reset(CreateWindowExA(0, EngineWindowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr));
    if (!window_)
        throw EWin32Error("TauAutoUpgrader: CreateWindow", GetLastError());
}

TauAutoUpgrader::~TauAutoUpgrader()
{
    autoCheck_ = false;
    KillTimer(window_.get(), AutoCheckTimer);
}

LRESULT CALLBACK TauAutoUpgrader::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION)
        return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

void TauAutoUpgrader::Loaded()
{
    if (OnAfterRestart && FirstArgument() == restartParams_)
        OnAfterRestart(*this);
}

void TauAutoUpgrader::CheckUpdate()
{
    aborted_ = false;
    autoCheckRunning_ = false;
    if (Busy())
        return;
    infoFileMode_ = true;
    URL = InfoFileURL;
    FileName.clear();
    UseCache = false;
    StartTransfer();
}

void TauAutoUpgrader::AbortUpgrade()
{
    aborted_ = true;
    CancelTransfer();
    if (OnAborted)
        OnAborted(*this);
}

void TauAutoUpgrader::SetAutoCheck(bool autoCheck)
{
    autoCheck_ = autoCheck;
    ArmAutoCheck();
}

void TauAutoUpgrader::ArmAutoCheck()
{
    KillTimer(window_.get(), AutoCheckTimer);
    if (!autoCheck_ || autoCheckDone_)
        return;
    if (SetTimer(window_.get(), AutoCheckTimer, AutoCheckInterval, nullptr))
        return;
    const DWORD error = GetLastError();
    throw EOutOfResources("AutoCheck: SetTimer", error != NO_ERROR ? error : ERROR_NO_SYSTEM_RESOURCES);
}

void TauAutoUpgrader::SetRestartParams(const std::string& params)
{
    restartParams_ = params.empty() ? " " : params;
}
