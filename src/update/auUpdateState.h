#pragma once
// The update state a copy keeps in the user's local application data
// (%LOCALAPPDATA%\Keldora\Updates\): the machine's random value that places
// every product of the machine in its rollout bucket (auRollout). A file
// that is garbled or too large is never trusted: it is replaced. Paths are
// UTF-8; nothing here throws except on memory exhaustion.
#include <string>

// "%LOCALAPPDATA%\Keldora\Updates\"; empty when the folder is unknown.
std::string DefaultUpdateStateFolder();

// The machine's value kept in the folder's "machine.state" (the folder is
// made when missing): the value read when it is there and well formed,
// otherwise a new one from the system's random numbers, written to a
// temporary file that is then moved over the old one, written through. Two
// copies making it at once end with the one value that landed. Empty when no
// value can be kept.
std::string MachineValue(const std::string& folder);
