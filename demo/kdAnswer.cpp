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
#include <cstring>
#include <string>

namespace {

struct Wanted {
    const char* program;
    const char* windowClass;
    const char* caption;
    HWND found = nullptr;
};

bool Matches(const char* pattern, const char* text)
{
    return std::strcmp(pattern, "-") == 0 || std::strcmp(pattern, text) == 0;
}

std::string ProgramFileName(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return {};
    char path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    const bool ok = QueryFullProcessImageNameA(process, 0, path, &length);
    CloseHandle(process);
    if (!ok)
        return {};
    const std::string full(path, length);
    return full.substr(full.find_last_of("\\/") + 1);
}

BOOL CALLBACK Consider(HWND window, LPARAM data)
{
    Wanted& wanted = *reinterpret_cast<Wanted*>(data);
    if (!IsWindowVisible(window))
        return TRUE;
    char windowClass[256] = {};
    char caption[256] = {};
    GetClassNameA(window, windowClass, sizeof windowClass);
    GetWindowTextA(window, caption, sizeof caption);
    if (!Matches(wanted.windowClass, windowClass) || !Matches(wanted.caption, caption))
        return TRUE;
    if (lstrcmpiA(ProgramFileName(window).c_str(), wanted.program) != 0)
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
    std::fprintf(stderr, "kdAnswer: no window of %s (class %s, caption %s) after %d s\n", wanted.program,
                 wanted.windowClass, wanted.caption, seconds);
    return nullptr;
}

std::string WithoutAmpersands(const char* text)
{
    std::string plain;
    for (; *text; ++text) {
        if (*text != '&')
            plain += *text;
    }
    return plain;
}

struct WantedButton {
    std::string text;
    HWND found = nullptr;
};

BOOL CALLBACK ConsiderButton(HWND child, LPARAM data)
{
    WantedButton& wanted = *reinterpret_cast<WantedButton*>(data);
    char windowClass[64] = {};
    char text[256] = {};
    GetClassNameA(child, windowClass, sizeof windowClass);
    GetWindowTextA(child, text, sizeof text);
    if (lstrcmpiA(windowClass, "Button") != 0 || WithoutAmpersands(text) != wanted.text)
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

int Click(HWND window, const char* button)
{
    WantedButton wanted{WithoutAmpersands(button)};
    EnumChildWindows(window, ConsiderButton, reinterpret_cast<LPARAM>(&wanted));
    if (!wanted.found) {
        std::fprintf(stderr, "kdAnswer: the window has no button \"%s\"\n", button);
        return 1;
    }
    // The click runs a modal dialog's end in the other process: post it, so
    // that nothing here waits for what the click starts there.
    const std::uint64_t when = UnixMilliseconds();
    PostMessageA(wanted.found, BM_CLICK, 0, 0);
    std::printf("%" PRIu64 "\n", when);
    return 0;
}

int Seconds(int argc, char** argv, int index)
{
    return argc > index ? std::atoi(argv[index]) : 60;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: kdAnswer wait|click|close EXE CLASS CAPTION [BUTTON] [SECONDS]\n");
        return 2;
    }
    const std::string command = argv[1];
    const Wanted wanted{argv[2], argv[3], argv[4]};
    if (command == "wait") {
        const HWND window = WaitForWindow(wanted, Seconds(argc, argv, 5));
        return window ? Where(window) : 1;
    }
    if (command == "click" && argc >= 6) {
        const HWND window = WaitForWindow(wanted, Seconds(argc, argv, 6));
        return window ? Click(window, argv[5]) : 1;
    }
    if (command == "close") {
        const HWND window = WaitForWindow(wanted, Seconds(argc, argv, 5));
        return window && PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    std::fprintf(stderr, "kdAnswer: unknown command %s\n", argv[1]);
    return 2;
}
