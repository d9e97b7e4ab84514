#pragma once
// The update state a copy keeps in the user's local application data
// (%LOCALAPPDATA%\Keldora\Updates\): the machine's random value that places
// every product of the machine in its rollout bucket (auRollout), and each
// check's state (auCheckState). A file that is garbled or too large
// is never trusted: it is replaced. Files are written to a temporary file
// that is then moved over the old one, written through, so a reader sees the
// old file or the new one. Paths are UTF-8; nothing here throws except on
// memory exhaustion.
#include "update/auCheckState.h"

#include <cstdint>
#include <string>

// "%LOCALAPPDATA%\Keldora\Updates\"; empty when the folder is unknown.
std::string DefaultUpdateStateFolder();

// The machine's value kept in the folder's "machine.state" (the folder is
// made when missing): the value read when it is there and well formed,
// otherwise a new one from the system's random numbers. Two copies making
// it at once end with the one value that landed. Empty when no value can be
// kept.
std::string MachineValue(const std::string& folder);

// Now, in UTC seconds since 0001-01-01 (the scale of auCheckState).
std::int64_t UtcSecondsNow();

// What the check of `owner` may use of its state in the folder
// (StateForCheck); nothing kept when there is none or it cannot be read.
// A state file of the former form (keyed by the product alone) is removed.
TauCheckState LoadCheckState(const std::string& folder, const TauCheckOwner& owner, std::int64_t now);
// Replaces the check state of state.owner; false when it cannot be written.
// A reader sees the old file or the new one, never a part, also after a
// power cut (the new file is on the disk before it is moved); without
// `replace` a file already there is kept.
bool WriteAtomically(const std::string& path, const std::string& text, bool replace);

bool SaveCheckState(const std::string& folder, const TauCheckState& state);
