#pragma once
// Moving one file of a Startup folder into the folder's store, as one
// transaction whose every step is on the disk before the next, so that a
// crash or a power cut at any point leaves the file in exactly one place,
// whole, and its section in the index only when the store holds it:
//   1. the item's section is written with the journal key "Moving" (the
//      index is rewritten whole: a new copy, flushed, renamed over the old);
//   2. the file's bytes go to the store's "Keldora.move", flushed;
//   3. the original is deleted through the handle that read it, which let
//      nobody else write or delete it meanwhile;
//   4. "Keldora.move" is renamed to the item's name;
//   5. the journal key goes: with the next move's step 1, or by SettleMove
//      after the last move of a take-over (one index rewrite per move).
// RecoverMoves, at the start of every take-over, finishes a move whose
// original is gone and undoes one whose original is still there.
//
// Nothing here follows a link: a file, store folder or index that is a
// symbolic link, junction or other reparse point, or whose final path is not
// its folder's plus its own name, is refused with the reason, and nothing is
// written, moved or deleted through it. A file whose path in the store would
// be longer than the system starts stays where it is, as does one that
// another program holds open. The caller holds the store lock.
// Runs on the calling thread; raises nothing but std::bad_alloc.
#include "winutil/ProfileFile.h"

#include <functional>
#include <string>
#include <vector>

// Names the store keeps for itself beside the index: no Startup file of these
// names is taken over, and a restore leaves them.
inline constexpr const char* kIndexDraftName = "Keldora.new";
inline constexpr const char* kMoveDraftName = "Keldora.move";
inline constexpr const char* kMovingKey = "Moving";

// Empty when `path` is no link (or is missing); else why it is refused.
std::string LinkRefusal(const std::string& path);

// Puts what was written to the file on the disk; false when it cannot be
// opened for that or is not a plain file.
bool FlushFile(const std::string& path);

// Rewrites the index through a flushed copy renamed over it; `edit` changes
// the copy. False when any step failed: the index is then as it was.
bool RewriteIndex(const std::string& index, const std::function<bool(const ProfileFile&)>& edit);

struct TStoreMove {
    std::string folder;  // the Startup folder
    std::string store;   // its store folder
    std::string name;
    // Whether the index already has the item's section (a newer file of a
    // name taken over before): an undo then keeps it.
    bool knownSection = false;
    // Writes the item's section into the index draft.
    std::function<bool(const ProfileFile&)> writeSection;
    // The item of the last move that went through, whose journal key goes
    // with this move's step 1; empty for none.
    std::string settled;
};

// Empty when the file went into the store; else why not. The file then stays
// in the Startup folder with nothing of it in the store, tried again at the
// next take-over, but for one case: the original is gone and the store's
// draft could not be renamed, which the next take-over's RecoverMoves finishes.
std::string MoveIntoStore(const TStoreMove& move);

// Step 5 of the last move, for the item it moved; false when the index could
// not be rewritten (the next RecoverMoves settles it).
bool SettleMove(const std::string& store, const std::string& name);

// Finishes or undoes every move the index's journal names; one note per move
// it could not settle.
std::vector<std::string> RecoverMoves(const std::string& folder, const std::string& store);
