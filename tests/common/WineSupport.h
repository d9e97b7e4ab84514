#pragma once
// Helpers for tests that run under Wine: run a program of the build and read
// what it printed, and switch the Windows version that Wine reports.
#include <windows.h>

#include <string>

// Runs a program from the test's own folder, waits, and returns its standard output.
std::string RunAndCapture(const std::string& programAndArgs, DWORD* exitCode = nullptr);

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
