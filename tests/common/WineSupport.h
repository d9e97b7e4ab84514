#pragma once
// Helpers for tests that run under Wine: run a program of the build and read
// what it printed, switch the Windows version that Wine reports, pump
// messages, count the process's GDI objects, paint into a bitmap.
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <optional>
#include <source_location>
#include <string>
#include <utility>
#include <vector>

// A bitmap like the screen's, selected into a memory device context for as
// long as the object lives: what a test paints into and reads back.
class MemoryBitmap {
public:
    MemoryBitmap(int width, int height);
    ~MemoryBitmap();
    MemoryBitmap(const MemoryBitmap&) = delete;
    MemoryBitmap& operator=(const MemoryBitmap&) = delete;
    HDC dc() const { return dc_; }

private:
    HDC dc_;
    UniqueGdiObject bitmap_;
    HGDIOBJ old_;
};

// Runs a program from the test's own folder, waits, and returns its standard output.
std::string RunAndCapture(const std::string& programAndArgs, DWORD* exitCode = nullptr,
                          std::source_location where = std::source_location::current());
// The same under the given primary token.
std::string RunAndCaptureAs(HANDLE token, const std::string& programAndArgs, DWORD* exitCode = nullptr,
                            std::source_location where = std::source_location::current());

// Sets HKCU\Software\Wine "Version" for processes started from now on and
// restores the previous setting when it goes out of scope.
class WineVersionScope {
public:
    explicit WineVersionScope(const char* version);
    ~WineVersionScope();
    WineVersionScope(const WineVersionScope&) = delete;
    WineVersionScope& operator=(const WineVersionScope&) = delete;

private:
    bool hadValue_ = false;
    std::string previous_;
};

// Names the wait a test is in, for as long as the object lives, in the file
// that the test command's watchdog reads (KELDORA_WAIT_NOTE): a test ended for
// running past its limit then tells where it stood. Nothing without the variable.
class WaitNote {
public:
    explicit WaitNote(DWORD timeoutMs, std::source_location where = std::source_location::current());
    ~WaitNote();
    WaitNote(const WaitNote&) = delete;
    WaitNote& operator=(const WaitNote&) = delete;

private:
    std::string text_;
};

// Dispatches this thread's messages for the given time; stops early at a
// WM_QUIT, which it leaves in the queue.
void PumpMessagesFor(DWORD ms);
namespace wine_support_detail {

// Asks the condition, then takes a step, until it holds or the time runs out; the last answer.
template <typename Condition, typename Step>
bool PollUntil(Condition& condition, DWORD timeoutMs, std::source_location where, Step step)
{
    const WaitNote note(timeoutMs, where);
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return condition();
        step();
    }
    return true;
}

}  // namespace wine_support_detail

// Dispatches this thread's messages until the condition holds or the time runs out.
template <typename Condition>
bool PumpUntil(Condition condition, DWORD timeoutMs = 10000,
               std::source_location where = std::source_location::current())
{
    return wine_support_detail::PollUntil(condition, timeoutMs, where, [] { PumpMessagesFor(10); });
}

// Polls until the condition holds or the time runs out, dispatching nothing
// (the condition waits on another process); the last answer.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 30000,
               std::source_location where = std::source_location::current())
{
    return wine_support_detail::PollUntil(condition, timeoutMs, where, [] { Sleep(20); });
}

// GDI objects of this process: GetGuiResources where the system counts them,
// else (under Wine, where it is a stub) the used entries of the process's GDI
// handle table.
int CountGdiObjects();

// Links the dialog fonts and the markup label's font of the prefix to the CJK
// font of the set-up script, so that Chinese shows in processes started from
// now on (Wine reads the links when a process starts). False when the links
// could not be written.
bool LinkCjkFont();

// A key as the keyboard gives it (SendInput), with Shift held for `shift`,
// to the window that has the focus; the caller lets the messages run.
void PressKey(WORD key, bool shift = false);

std::wstring WindowTextOf(HWND window);
std::wstring ClassOf(HWND window);
// A child window's place in its parent's client area.
RECT BoundsIn(HWND parent, HWND child);
// Whether a one-line control shows all of its text, `padding` to spare on
// each side: measured in the control's own font, with prefixes where it
// draws them (buttons, and labels without SS_NOPREFIX).
bool TextFits(HWND control, int padding = 0);

// System colours of this process, set while the object lives.
class SystemColoursScope {
public:
    explicit SystemColoursScope(std::vector<std::pair<int, COLORREF>> colours);
    ~SystemColoursScope();
    SystemColoursScope(const SystemColoursScope&) = delete;
    SystemColoursScope& operator=(const SystemColoursScope&) = delete;

private:
    std::vector<int> indices_;
    std::vector<COLORREF> saved_;
};

// The prefix's DPI (HKCU\Control Panel\Desktop "LogPixels", which Wine reads
// when a process starts) for processes started while the object lives; the
// earlier setting comes back at the end. For a prefix of its own only: it
// changes every program that starts meanwhile.
class LogPixelsScope {
public:
    explicit LogPixelsScope(DWORD dpi);
    ~LogPixelsScope();
    LogPixelsScope(const LogPixelsScope&) = delete;
    LogPixelsScope& operator=(const LogPixelsScope&) = delete;

private:
    std::optional<DWORD> previous_;
};

// Starts a program (a full command line) without waiting, under the given
// primary token when there is one; the process handle.
UniqueKernelHandle StartProcess(const std::string& commandLine, HANDLE token = nullptr);
// This process's token with the Administrators group for deny only, as an
// unelevated start of the same user gets it.
UniqueKernelHandle TokenWithoutAdministrators();
// Waits for the process and returns its exit code (STILL_ACTIVE on time-out).
DWORD WaitForExit(HANDLE process, DWORD timeoutMs = 30000);
// Ends what still runs from `folder` (a program's folder, with its trailing
// separator) once it had `waitMs` to end by itself: a program a test's run
// left running would outlive the test, hold its output open and show its
// windows to the next tests.
void EndProgramsIn(const std::string& folder, DWORD waitMs);

// Presses Yes in a question box (a dialog with a Yes button) of the given
// process, or of a process running the given program file, once it is open;
// false when none opened within the time.
bool PressYesIn(DWORD processId, DWORD timeoutMs = 30000);
bool PressYesIn(const std::string& program, DWORD timeoutMs = 30000);
