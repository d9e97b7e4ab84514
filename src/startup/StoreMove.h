#pragma once
// Moving files of a Startup folder into the folder's store, as one
// transaction whose every step is on the disk before the next, so that a
// crash or a power cut at any point leaves each file in exactly one place,
// whole, and its section in the index only when the store holds it:
//   1. each file is held (shared for reading only: nobody writes, renames or
//      deletes it meanwhile) and the items' sections are written with the
//      journal key "Moving", which records each file's size and a draft
//      number (the index is rewritten whole, once for all of them: a new
//      copy, flushed, renamed over the old);
//   2. for each file, the store's older copy of the name, if any (never when
//      it is running, held or a link: then nothing moves), is renamed aside
//      to the draft's name, which the journal says ("aside"), and the store
//      folder flushed; the held file is renamed into the store, never over a
//      file. A newer file refused after its rename goes back, and so does
//      the older copy. Then the store folder is flushed once, and the aside
//      copies deleted. A file is never copied: its bytes, streams, times and
//      attributes (read-only too) go with it; a store on another volume is
//      refused;
//   3. one more rewrite takes the journal keys of the moves that went in out
//      and undoes the sections of the refused ones; a move whose store could
//      not be flushed keeps its key for RecoverMoves.
// RecoverMoves, at the start of every take-over, finishes a move whose
// original is gone and undoes one whose original is still there, an aside
// older copy put back; it deletes or renames nothing unless the copy that
// stays has the recorded size. It
// also settles the drafts older versions copied into ("Keldora.<n>.move"),
// whose numbers the journal keeps so that either version reads the other's.
//
// Nothing here follows a link: a file, store folder or index that is a
// symbolic link, junction or other reparse point, or whose final path is not
// its folder's plus its own name, is refused with the reason, and nothing is
// written, moved or deleted through it. A file whose path in the store would
// be longer than the system starts stays where it is, as does one that
// another program holds open. The caller holds the store lock and holds the
// Startup folder and the store open (THeldFolder, StoreLinks.h).
// Runs on the calling thread; raises nothing but std::bad_alloc.
#include "startup/StoreLinks.h"
#include "winutil/ProfileFile.h"

#include <functional>
#include <string>
#include <vector>

// Names the store keeps for itself beside the index: no Startup file of these
// names is taken over, and a restore leaves them.
inline constexpr const char* kIndexDraftName = "Keldora.new";
inline constexpr const char* kMoveDraftName = "Keldora.move";  // older versions' one draft

// "Keldora.move" or "Keldora.<number>.move".
bool IsDraftName(const std::string& name);
std::string MoveDraftName(int draft);  // 0: the older one
// A draft number no draft of the store and no open move of its index uses;
// the caller counts up from it for each move of one take-over. Numbers run
// from 1 to 1 000 000: a move past them is refused, a draft name or journal
// key beyond them (written by another program) is none of ours.
int FirstFreeDraft(const std::string& store);
inline constexpr const char* kMovingKey = "Moving";

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
    // The keys writeSection may write into a kept section: an undo gives
    // each the value it had, or takes it out again.
    std::vector<std::string> sectionKeys;
    int draft = 1;  // its journal's draft number
};

// How a move ended. `why` is empty when the file went into the store for
// good (its journal settled, or left for the next take-over to settle when
// the index could not be rewritten). Else, with `leftOpen` false, it says
// why the file stays in the Startup folder with nothing of it in the store
// (a kept section and the store's older copy as they were, its read-only
// mark too), tried again at the next take-over; an undo that could not
// rewrite the index leaves its journal key, which that take-over's
// RecoverMoves settles first. With `leftOpen` true the file's name is in the
// store but the move is not settled (the rename back of a file refused there
// failed, or the store could not be flushed), and the next take-over's
// RecoverMoves keeps the file in the store with its section, or undoes the
// move if the rename never reached the disk; a kept copy that is a link or
// has other names is refused again, and its move stays open with the reason
// noted.
struct TMoveResult {
    std::string why;
    bool leftOpen = false;
};
// The moves of one Startup folder and store, one result each in their order;
// each has a draft number of its own. A section the index cannot take
// refuses its own move only, the batch going on without it (a few times:
// past them the rest waits for the next call too); of names that differ in
// case only, the first goes, the others wait for the next call.
std::vector<TMoveResult> MoveIntoStore(const std::vector<TStoreMove>& moves);

// Puts a stored file back into its Startup folder by renaming it through
// the handle that holds it (same volume: the store is a folder of the
// Startup folder), so it is in one place at every moment, whole, with its
// streams, times and attributes. A file of that name put in the folder since
// is never replaced: the stored one then stays, and so must its section.
// Empty when done, else why not (the file then stays in the store). The
// caller removes the sections of the files that went back afterwards: a cut
// in between leaves a file in the Startup folder whose section the next
// take-over finds, and takes it over again with its settings.
std::string ReturnFromStore(const std::string& folder, const std::string& store, const std::string& name);

// Deletes a file of the store, read-only too (the mark moves into the store
// with the file, and deleting its item deletes the file all the same); the
// entry itself, never what a link leads to. False when it could not.
bool RemoveStoredFile(const std::string& path);

// Puts the folder's renames on the disk, which the index that names their
// files may rely on only then; false when the folder could not be flushed.
bool FlushFolder(const std::string& folder);

// Finishes or undoes every move the index's journal names, then removes the
// drafts no open move names (never a link, none while a journal key cannot
// be read); one note per move or draft it left alone.
std::vector<std::string> RecoverMoves(const std::string& folder, const std::string& store);

// Whether the store still holds a draft or its index a journal key: a move
// RecoverMoves left alone, whose copy may be the only one. A restore then
// keeps the index, and the file of that section stays in the store.
bool MovesOpen(const std::string& store);
