// A small product for the update demo, built once per version from this one
// source (KD_PRODUCT_MAJOR and KD_PRODUCT_MINOR give the version). It shows its version in
// a window of class "KeldoraDemoProduct" and, at start, runs the updater
// beside it with its own window handle, as the product's programs do:
//   kdProduct              freshet.exe /silent <handle>
//   kdProduct /update      freshet.exe update <handle>   (a visible run)
//   kdProduct ARGUMENTS    no updater (for example /verysilent, the restart
//                          parameters of an upgrade)
// On message 1133 (the updater's close request) it closes and ends. Every
// start, the close request and the end are appended to kdProduct.log beside
// the program, one line each: Unix time in milliseconds, version, event and
// detail (the command line of a start).
#include "DemoClock.h"
#include "common/AppPaths.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#if !defined(KD_PRODUCT_MAJOR) || !defined(KD_PRODUCT_MINOR)
#error "KD_PRODUCT_MAJOR and KD_PRODUCT_MINOR give the version this build shows"
#endif
#define KD_TEXT_OF(x) #x
#define KD_TEXT(x) KD_TEXT_OF(x)

namespace {

constexpr wchar_t ClassName[] = L"KeldoraDemoProduct";
constexpr UINT UpdaterCloseRequest = WM_USER + 109;
constexpr char Version[] = KD_TEXT(KD_PRODUCT_MAJOR) "." KD_TEXT(KD_PRODUCT_MINOR);

void Log(const char* event, const char* detail = "")
{
    const std::string path = GetAppFolder() + "kdProduct.log";
    FILE* file = _wfopen(WideFromUtf8(path).c_str(), L"ab");
    if (!file)
        return;
    std::fprintf(file, "%" PRIu64 " %s %s %s\r\n", UnixMilliseconds(), Version, event, detail);
    std::fclose(file);
}

// The arguments after the program name, as one text.
std::string Arguments()
{
    const wchar_t* line = GetCommandLineW();
    bool quoted = false;
    while (*line && (quoted || (*line != L' ' && *line != L'\t'))) {
        if (*line == L'"')
            quoted = !quoted;
        ++line;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return Utf8FromWide(line);
}

void StartUpdater(HWND window, const char* mode)
{
    char handle[32];
    std::snprintf(handle, sizeof handle, "%" PRIuPTR, reinterpret_cast<std::uintptr_t>(window));
    const std::string folder = GetAppFolder();
    std::string command = "\"" + folder + "freshet.exe\" " + mode + " " + handle;
    std::wstring wideCommand = WideFromUtf8(command);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, wideCommand.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        WideFromUtf8(folder).c_str(), &startup, &process)) {
        Log("updater-not-started", command.c_str());
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Log("updater-started", command.c_str());
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case UpdaterCloseRequest:
        Log("close-request", "1133");
        // The updater waits for this answer; closing comes after it.
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateMainWindow(HINSTANCE instance)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
    windowClass.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // the application
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = ClassName;
    if (!RegisterClassW(&windowClass))
        return nullptr;
    const std::string caption = std::string("Keldora Demo Product ") + Version;
    const HWND window = CreateWindowExW(0, ClassName, WideFromUtf8(caption).c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                        40, 40, 300, 120, nullptr, nullptr, instance, nullptr);
    if (!window)
        return nullptr;
    const std::string text = std::string("Version ") + Version;
    CreateWindowExW(0, L"STATIC", WideFromUtf8(text).c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER, 10, 24, 264, 24, window, nullptr,
                    instance, nullptr);
    return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    const std::string arguments = Arguments();
    Log("start", arguments.c_str());
    const HWND window = CreateMainWindow(instance);
    if (!window) {
        Log("no-window");
        return 1;
    }
    ShowWindow(window, show);
    UpdateWindow(window);
    if (arguments.empty())
        StartUpdater(window, "/silent");
    else if (arguments == "/update")
        StartUpdater(window, "update");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    Log("end");
    return 0;
}
