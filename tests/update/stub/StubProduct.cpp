// A stand-in for the upgraded program. Each start appends one line to the file
// named by KD_STUB_RECORD: its module path, the size of its module file, the
// module's attributes and its command line, separated by "|". Options:
//   --hold N       keep its own program file open (others may only read) for
//                  N ms or until the event named by KD_STUB_RELEASE_EVENT is
//                  set, having set the event named by KD_STUB_READY_EVENT
//                  once the file is held
//   --delete PATH  delete PATH when the hold ends, before letting go of the file
//   --create PATH  write PATH when the hold ends, as a product saving its
//                  state while it closes
//   --upgrade URL  run the update engine against the information file at URL
//                  (version 1.0, no dialogs, 256 KiB reads) until it hands
//                  over to the stub and closes the program (exit code 0) or
//                  the upgrade fails (exit code 1); every engine event is
//                  appended to the file named by KD_STUB_EVENTS, its log
//                  lines to the one named by KD_STUB_LOG; the engine's
//                  PublisherKey is KD_STUB_PUBLISHER_KEY, its Product
//                  KD_STUB_PRODUCT, and a refused release is recorded with
//                  its reason. The test server
//                  speaks plain http, so releases no signature covers are
//                  let in (AllowUnverifiedUpdates).
//   --updater      start freshet.exe from its own folder as a product does:
//                  "/silent" and the decimal handle of a window of its own,
//                  then wait for the close request (message 1133) and end
//   --visible      start it with "update" instead of "/silent": the visible window
//   --ignore-close ignore that request; end once the event named by
//                  --exit-on NAME is set (by the test, when it has seen what
//                  it waits for; five minutes at most)
//   --hold-data F  keep file F of its folder open (others may read and write
//                  it, never delete or rename it) until it ends
#include "common/AppPaths.h"
#include "common/Environment.h"
#include "update/auAutoUpgrader.h"
#include "winutil/OwnedWindow.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void AppendRecord(const std::string& module)
{
    const std::string target = GetEnvVar("KD_STUB_RECORD");
    if (target.empty())
        return;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(WideFromUtf8(module).c_str(), GetFileExInfoStandard, &data);
    char attributes[16];
    std::snprintf(attributes, sizeof attributes, "0x%lx", data.dwFileAttributes);
    const std::string record = module + "|" + std::to_string(data.nFileSizeLow) + "|" + attributes + "|" +
                               Utf8FromWide(GetCommandLineW()) + "\r\n";
    // A restarted program may record while the one before it still does.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(WideFromUtf8(target).c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

void Hold(const std::string& module, DWORD milliseconds, const std::string& deleteAfter,
          const std::string& createAfter)
{
    HANDLE file =
        CreateFileW(WideFromUtf8(module).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string eventName = GetEnvVar("KD_STUB_READY_EVENT");
    if (!eventName.empty()) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, WideFromUtf8(eventName).c_str());
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }
    const std::string releaseName = GetEnvVar("KD_STUB_RELEASE_EVENT");
    const HANDLE release =
        releaseName.empty() ? nullptr : OpenEventW(SYNCHRONIZE, FALSE, WideFromUtf8(releaseName).c_str());
    if (release) {
        WaitForSingleObject(release, milliseconds);
        CloseHandle(release);
    } else {
        Sleep(milliseconds);
    }
    if (!deleteAfter.empty()) {
        SetFileAttributesW(WideFromUtf8(deleteAfter).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(WideFromUtf8(deleteAfter).c_str());
    }
    if (!createAfter.empty()) {
        HANDLE created = CreateFileW(WideFromUtf8(createAfter).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (created != INVALID_HANDLE_VALUE) {
            WriteFile(created, "saved as it closed", 18, &written, nullptr);
            CloseHandle(created);
        }
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void AppendLine(const char* variable, const std::string& line)
{
    const std::string target = GetEnvVar(variable);
    if (target.empty())
        return;
    HANDLE file = CreateFileW(WideFromUtf8(target).c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string record = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
}

void AppendEvent(const std::string& line)
{
    AppendLine("KD_STUB_EVENTS", line);
}

int RunUpgrade(const std::string& infoURL)
{
    TauAutoUpgrader engine;
    engine.InfoFileURL = infoURL;
    engine.VersionControl = byNumber;
    engine.VersionNumber = "1.0";
    engine.ShowMessages = {};
    engine.Wizard.Enabled = false;
    engine.TransferBufferSize = 256 * 1024;
    engine.PublisherKey = GetEnvVar("KD_STUB_PUBLISHER_KEY");
    engine.Product = GetEnvVar("KD_STUB_PRODUCT");
    engine.AllowUnverifiedUpdates = true;
    const auto fail = [](const std::string& what) {
        AppendEvent(what);
        PostQuitMessage(1);
    };
    engine.OnFileDone = [](TauAutoUpgrader&, const std::string& name) { AppendEvent("FileDone " + name); };
    engine.OnLog = [](TauAutoUpgrader&, const std::string& text) { AppendLine("KD_STUB_LOG", text); };
    engine.OnEndUpgrade = [](TauAutoUpgrader&) { AppendEvent("EndUpgrade"); };
    engine.OnAborted = [&](TauAutoUpgrader&) { fail("Aborted"); };
    engine.OnConnLost = [&](TauAutoUpgrader&) { fail("ConnLost"); };
    engine.OnNoInfoFile = [&](TauAutoUpgrader&) { fail("NoInfoFile"); };
    engine.OnReleaseRefused = [&](TauAutoUpgrader&, const std::string& reason) { fail("ReleaseRefused " + reason); };
    engine.OnNoUpdateAvailable = [&](TauAutoUpgrader&) { fail("NoUpdateAvailable"); };
    engine.OnHostUnreachable = [&](TauAutoUpgrader&, const std::string&, const std::string&) {
        fail("HostUnreachable");
    };
    engine.OnLostFile = [](TauAutoUpgrader&, const std::string& url, int code, bool&) {
        AppendEvent("LostFile " + url + " " + std::to_string(code));
    };
    engine.CheckUpdate();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    AppendEvent(message.wParam == 0 ? "closed" : "failed");
    return static_cast<int>(message.wParam);
}

}  // namespace

struct ProductOptions {
    bool ignoreClose = false;
    bool visible = false;
    std::string exitOn;
    std::string holdData;
};

LRESULT CALLBACK ProductWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto* options = reinterpret_cast<const ProductOptions*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_USER + 109 && options && !options->ignoreClose) {
        AppendEvent("close request obeyed");
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_USER + 109)
        AppendEvent("close request ignored");
    return DefWindowProcW(window, message, wParam, lParam);
}

int RunAsProduct(const std::string& module, const ProductOptions& options)
{
    const std::string folder = module.substr(0, module.rfind('\\') + 1);
    HANDLE data = INVALID_HANDLE_VALUE;
    if (!options.holdData.empty())
        data = CreateFileW(WideFromUtf8(folder + options.holdData).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    RegisterOwnedWindowClass(L"KdStubProduct", ProductWindow);
    const HWND window = CreateWindowExW(0, L"KdStubProduct", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&options));
    HANDLE exitEvent =
        options.exitOn.empty() ? nullptr : OpenEventW(SYNCHRONIZE, FALSE, WideFromUtf8(options.exitOn).c_str());
    std::wstring commandLine = WideFromUtf8("\"" + folder + "freshet.exe\" " + (options.visible ? "update " : "/silent ") +
                                            std::to_string(reinterpret_cast<std::uintptr_t>(window)));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       WideFromUtf8(folder).c_str(), &startup, &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    const DWORD start = GetTickCount();
    for (bool running = true; running;) {
        const DWORD waited = MsgWaitForMultipleObjects(exitEvent ? 1 : 0, &exitEvent, FALSE, 1000, QS_ALLINPUT);
        if ((exitEvent && waited == WAIT_OBJECT_0) || (exitEvent && GetTickCount() - start > 5 * 60 * 1000))
            break;
        MSG message;
        while (running && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            running = message.message != WM_QUIT;
            if (running) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
    if (exitEvent)
        CloseHandle(exitEvent);
    AppendEvent("product ended");
    DestroyWindow(window);
    if (data != INVALID_HANDLE_VALUE)
        CloseHandle(data);
    return 0;
}

int main()
{
    const std::vector<std::string> arguments = ProgramArguments();
    const int argc = static_cast<int>(arguments.size());
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    const std::string module = GetAppPath();
    AppendRecord(module);
    DWORD hold = 0;
    std::string deleteAfter;
    std::string createAfter;
    bool updater = false;
    ProductOptions options;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (std::strcmp(argv[i], "--updater") == 0)
            updater = true;
        else if (std::strcmp(argv[i], "--visible") == 0)
            options.visible = true;
        else if (std::strcmp(argv[i], "--ignore-close") == 0)
            options.ignoreClose = true;
        else if (value && std::strcmp(argv[i], "--exit-on") == 0)
            options.exitOn = argv[++i];
        else if (value && std::strcmp(argv[i], "--hold-data") == 0)
            options.holdData = argv[++i];
        else if (value && std::strcmp(argv[i], "--hold") == 0)
            hold = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        else if (value && std::strcmp(argv[i], "--delete") == 0)
            deleteAfter = argv[++i];
        else if (value && std::strcmp(argv[i], "--create") == 0)
            createAfter = argv[++i];
        else if (value && std::strcmp(argv[i], "--upgrade") == 0)
            return RunUpgrade(argv[++i]);
    }
    if (updater)
        return RunAsProduct(module, options);
    if (hold)
        Hold(module, hold, deleteAfter, createAfter);
    return 0;
}
