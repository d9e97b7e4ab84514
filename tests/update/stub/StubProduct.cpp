// A stand-in for the upgraded program. Each start appends one line to the file
// named by KD_STUB_RECORD: its module path, the size of its module file, the
// module's attributes and its command line, separated by "|". Options:
//   --hold N       keep its own program file open (others may only read) for
//                  N ms, having set the event named by KD_STUB_READY_EVENT
//                  once the file is held
//   --delete PATH  delete PATH when the hold ends, before letting go of the file
//   --upgrade URL  run the update engine against the information file at URL
//                  (version 1.0, no dialogs, 256 KiB reads) until it hands
//                  over to the stub and closes the program (exit code 0) or
//                  the upgrade fails (exit code 1); every engine event is
//                  appended to the file named by KD_STUB_EVENTS; the engine's
//                  PublisherKey is KD_STUB_PUBLISHER_KEY, and a refused
//                  release is recorded with its reason. The test server
//                  speaks plain http, so releases no signature covers are
//                  let in (AllowUnverifiedUpdates).
#include "update/auAutoUpgrader.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ModulePath()
{
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string Environment(const char* name)
{
    char value[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length && length < MAX_PATH ? std::string(value, length) : std::string();
}

void AppendRecord(const std::string& module)
{
    const std::string target = Environment("KD_STUB_RECORD");
    if (target.empty())
        return;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(module.c_str(), GetFileExInfoStandard, &data);
    char numbers[64];
    wsprintfA(numbers, "|%lu|0x%lx|", data.nFileSizeLow, data.dwFileAttributes);
    const std::string record = module + numbers + GetCommandLineA() + "\r\n";
    // A restarted program may record while the one before it still does.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileA(target.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

void Hold(const std::string& module, DWORD milliseconds, const std::string& deleteAfter)
{
    HANDLE file = CreateFileA(module.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string eventName = Environment("KD_STUB_READY_EVENT");
    if (!eventName.empty()) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName.c_str());
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }
    Sleep(milliseconds);
    if (!deleteAfter.empty()) {
        SetFileAttributesA(deleteAfter.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(deleteAfter.c_str());
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void AppendEvent(const std::string& line)
{
    const std::string target = Environment("KD_STUB_EVENTS");
    if (target.empty())
        return;
    HANDLE file =
        CreateFileA(target.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string record = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
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
    engine.PublisherKey = Environment("KD_STUB_PUBLISHER_KEY");
    engine.AllowUnverifiedUpdates = true;
    const auto fail = [](const std::string& what) {
        AppendEvent(what);
        PostQuitMessage(1);
    };
    engine.OnFileDone = [](TauAutoUpgrader&, const std::string& name) { AppendEvent("FileDone " + name); };
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
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    AppendEvent(message.wParam == 0 ? "closed" : "failed");
    return static_cast<int>(message.wParam);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string module = ModulePath();
    AppendRecord(module);
    DWORD hold = 0;
    std::string deleteAfter;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--hold") == 0)
            hold = static_cast<DWORD>(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--delete") == 0)
            deleteAfter = argv[++i];
        else if (std::strcmp(argv[i], "--upgrade") == 0)
            return RunUpgrade(argv[++i]);
    }
    if (hold)
        Hold(module, hold, deleteAfter);
    return 0;
}
