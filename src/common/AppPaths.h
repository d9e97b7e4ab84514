#pragma once
// Where the program and the system keep their files. Sizes of what the system
// returns are asked of the system first; no result is cut to a fixed buffer.
#include <windows.h>

#include <string>

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
