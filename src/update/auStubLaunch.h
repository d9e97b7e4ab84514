#pragma once
// The engine's hand-over to the self-upgrade stub. The stub runs from a
// private folder: a new folder with a random name under the caller's
// temporary folder whose DACL (protected, nothing inherited) grants the
// caller's user alone, SYSTEM included when that is the caller. The stub and
// the manifest are created there as new files that others may only read.
// The stub cannot delete its own running image, so the folder outlives it:
// the next engine created, and every freshet.exe start, remove the private
// folders whose stub has ended (a running stub holds its manifest open
// without sharing deletion, so its folder is left alone).
//
// Paths are UTF-8 and reach the system through "W" functions.
#include "update/stub/StubRecords.h"

#include <windows.h>

#include <string>

// Names of private folders: this prefix and 32 random hexadecimal digits.
inline constexpr const char* PrivateFolderPrefix = "kdupd-";

// The process and its creation time, so the stub can tell it from a later
// process that gets the same id; id 0 when it has ended or cannot be asked.
ProductProcess ProductIdentity(DWORD processId);

// Creates a private folder; its path with a trailing backslash, empty when it
// cannot be made (GetLastError tells why).
std::string CreatePrivateFolder();

// Writes the stub (from the module's "AUUPG" resource) and the manifest into a
// new private folder and starts the stub with the program's path and the
// restart argument. False, with the folder removed, when any step fails.
bool LaunchStub(HMODULE module, const std::string& programPath, const std::string& restartArgument,
                const std::string& manifest);

// Removes the private folders of the temporary folder whose stub has ended.
void RemoveStalePrivateFolders();
