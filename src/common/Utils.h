#pragma once
// System helpers shared by both programs. Sizes of what the system returns are
// asked of the system first; no result is cut to a fixed buffer. Text is
// UTF-8; the system is asked through its wide ("W") functions.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Quote.h"
#include "core/WindowsKind.h"

// The running system's classification (wkUnknown .. wkXP), computed on each call.
std::uint8_t GetWindowsKind();
WindowsVersionFacts GetWindowsVersionFacts();

// Full path of a loaded module's file (null: the program); empty when none is reported.
std::string ModuleFileName(HMODULE module);
// Full path of the running program's executable; empty when none is reported.
std::string GetAppPath();
// Folder of the running program's executable, always ending in "\".
std::string GetAppFolder();
// The Windows directory without trailing backslash; empty when none is reported.
std::string GetWindowsDir();
// The folder for temporary files, with its trailing backslash; empty when none is reported.
std::string GetTempDir();
// Value of an environment variable, whatever its length; empty when it is not set.
std::string GetEnvVar(std::string_view name);
// %NAME% references expanded; the text unchanged when expansion fails.
std::string ExpandEnvVars(std::string_view text);
// The program's arguments as the system splits its command line, the
// program's own name first.
std::vector<std::string> ProgramArguments();
// A 64-bit system, whether this program is a 64-bit one or runs under WOW64.
bool Is64BitWindows();
// Major version at least 5 and minor version at least 1 (so 6.0 answers false).
bool IsVersion51OrLater();

// Job-object services, bound at run time on first use (they raise the binding
// errors of RuntimeLink when the system lacks them).
HANDLE BoundCreateJobObjectW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name);
BOOL BoundAssignProcessToJobObject(HANDLE job, HANDLE process);
BOOL BoundSetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS infoClass, LPVOID info, DWORD length);
