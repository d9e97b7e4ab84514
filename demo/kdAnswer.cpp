// Finds a visible top-level window of a given program and class and caption,
// and tells where it is, clicks one of its buttons or closes it: the demo and
// the benchmarks answer the updater's dialogs with it, as a user would.
//   kdAnswer wait  EXE CLASS CAPTION [SECONDS]         prints "X Y WIDTH HEIGHT"
//   kdAnswer click EXE CLASS CAPTION BUTTON [SECONDS]  prints the Unix time in ms of the click
//   kdAnswer close EXE CLASS CAPTION [SECONDS]
// EXE is the program's file name (any case); CLASS and CAPTION are matched
// exactly, "-" matches any. BUTTON is a button's text, with or without its
// "&". SECONDS (default 60) bounds the wait for the window; exit code 1 when
// it did not appear or has no such button, 2 for a bad command line.
#include "DemoClock.h"

#include <windows.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <string>

namespace {

struct Wanted {
    const wchar_t* program;
    const wchar_t* windowClass;
    const wchar_t* caption;
    HWND found = nullptr;
};

bool Matches(const wchar_t* pattern, const wchar_t* text)
{
    return std::wcscmp(pattern, L"-") == 0 || std::wcscmp(pattern, text) == 0;
}

std::wstring ProgramFileName(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return {};
    std::wstring full(32768, L'\0');
    DWORD length = static_cast<DWORD>(full.size());
    const bool ok = QueryFullProcessImageNameW(process, 0, full.data(), &length);
    CloseHandle(process);
    if (!ok)
        return {};
    full.resize(length);
    return full.substr(full.find_last_of(L"\\/") + 1);
}

BOOL CALLBACK Consider(HWND window, LPARAM data)
{
    Wanted& wanted = *reinterpret_cast<Wanted*>(data);
    if (!IsWindowVisible(window))
        return TRUE;
    wchar_t windowClass[256] = {};
    wchar_t caption[256] = {};
    GetClassNameW(window, windowClass, static_cast<int>(std::size(windowClass)));
    GetWindowTextW(window, caption, static_cast<int>(std::size(caption)));
    if (!Matches(wanted.windowClass, windowClass) || !Matches(wanted.caption, caption))
        return TRUE;
    if (lstrcmpiW(ProgramFileName(window).c_str(), wanted.program) != 0)
        return TRUE;
    wanted.found = window;
    return FALSE;
}

HWND WaitForWindow(Wanted wanted, int seconds)
{
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    do {
        EnumWindows(Consider, reinterpret_cast<LPARAM>(&wanted));
        if (wanted.found)
            return wanted.found;
        Sleep(20);
    } while (GetTickCount64() < deadline);
    std::fprintf(stderr, "kdAnswer: no window of %ls (class %ls, caption %ls) after %d s\n", wanted.program,
                 wanted.windowClass, wanted.caption, seconds);
    return nullptr;
}

std::wstring WithoutAmpersands(const wchar_t* text)
{
    std::wstring plain;
    for (; *text; ++text) {
        if (*text != L'&')
            plain += *text;
    }
    return plain;
}

struct WantedButton {
    std::wstring text;
    HWND found = nullptr;
};

BOOL CALLBACK ConsiderButton(HWND child, LPARAM data)
{
    WantedButton& wanted = *reinterpret_cast<WantedButton*>(data);
    wchar_t windowClass[64] = {};
    wchar_t text[256] = {};
    GetClassNameW(child, windowClass, static_cast<int>(std::size(windowClass)));
    GetWindowTextW(child, text, static_cast<int>(std::size(text)));
    if (lstrcmpiW(windowClass, L"Button") != 0 || WithoutAmpersands(text) != wanted.text)
        return TRUE;
    wanted.found = child;
    return FALSE;
}

int Where(HWND window)
{
    RECT r;
    if (!GetWindowRect(window, &r))
        return 1;
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
}

int Click(HWND window, const wchar_t* button)
{
    WantedButton wanted{WithoutAmpersands(button)};
    EnumChildWindows(window, ConsiderButton, reinterpret_cast<LPARAM>(&wanted));
    if (!wanted.found) {
        std::fprintf(stderr, "kdAnswer: the window has no button \"%ls\"\n", button);
        return 1;
    }
    // The click runs a modal dialog's end in the other process: post it, so
    // that nothing here waits for what the click starts there.
    const std::uint64_t when = UnixMilliseconds();
    PostMessageW(wanted.found, BM_CLICK, 0, 0);
    std::printf("%" PRIu64 "\n", when);
    return 0;
}

int Seconds(int argc, wchar_t** argv, int index)
{
    return argc > index ? static_cast<int>(std::wcstol(argv[index], nullptr, 10)) : 60;
}

}  // namespace

// wmain: names and captions in UTF-16, whatever the code page.
int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: kdAnswer wait|click|close EXE CLASS CAPTION [BUTTON] [SECONDS]\n");
        return 2;
    }
    const std::wstring command = argv[1];
    const Wanted wanted{argv[2], argv[3], argv[4]};
    if (command == L"wait") {
        const HWND window = WaitForWindow(wanted, Seconds(argc, argv, 5));
        return window ? Where(window) : 1;
    }
    if (command == L"click" && argc >= 6) {
        const HWND window = WaitForWindow(wanted, Seconds(argc, argv, 6));
        return window ? Click(window, argv[5]) : 1;
    }
    if (command == L"close") {
        const HWND window = WaitForWindow(wanted, Seconds(argc, argv, 5));
        return window && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    std::fprintf(stderr, "kdAnswer: unknown command %ls\n", argv[1]);
    return 2;
}
