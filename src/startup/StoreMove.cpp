#include "startup/StoreMove.h"

#include "startup/SectionValues.h"

#include "core/FileNameRule.h"
#include "core/Format.h"
#include "core/StrCon.h"
#include "startup/uStartupMgr.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/RuntimeLink.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <charconv>
#include <cwchar>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

namespace {

// Draft numbers count the moves of one store; a larger one is no draft of ours.
constexpr int kMaxDraft = 1000000;

// A test stops the process for good after this many steps of the moves
// (KDAGENT_HALT_AT_STEP), having set the event KDAGENT_HALT_EVENT names, and
// then cuts the power: the moves' steps can be seen no other way. One that
// names an event KDAGENT_RESUME_EVENT instead lets the work go on once it has
// set that one, having changed the disk in the gap after the step.
std::wstring Environment(const wchar_t* name)
{
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(value, length);
}

void StepDone()
{
    static const long haltAt = [] {
        const std::wstring text = Environment(L"KDAGENT_HALT_AT_STEP");
        return text.empty() ? 0L : std::wcstol(text.c_str(), nullptr, 10);
    }();
    static long steps = 0;
    if (haltAt <= 0 || ++steps != haltAt)
        return;
    const UniqueKernelHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, Environment(L"KDAGENT_HALT_EVENT").c_str()));
    if (event)
        SetEvent(event.get());
    const UniqueKernelHandle resume(OpenEventW(SYNCHRONIZE, FALSE, Environment(L"KDAGENT_RESUME_EVENT").c_str()));
    if (resume)
        WaitForSingleObject(resume.get(), INFINITE);
    else
        Sleep(INFINITE);
}

// The draft beside `path` made empty and new, never written through a link.
UniqueFile CreateDraft(const std::string& path, std::string& refusal)
{
    refusal = LinkRefusal(path);
    if (!refusal.empty())
        return {};
    if (PathExists(path) && !DeleteFileW(WideFromUtf8(path).c_str())) {
        refusal = ErrorMessage("Removing " + path, GetLastError());
        return {};
    }
    UniqueFile draft = OpenEntry(path, GENERIC_WRITE, 0, CREATE_NEW);
    if (!draft)
        refusal = ErrorMessage("Creating " + path, GetLastError());
    return draft;
}

bool WriteBytes(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size());
}

bool FlushFile(const std::string& path)
{
    const UniqueFile file = OpenEntry(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    return file && HandleRefusal(file.get(), path).empty() && FlushFileBuffers(file.get());
}

// A reader of the index (another agent's reload, which takes no lock) holds
// it for a moment without sharing its deletion: the rename is tried again
// for a while before it counts as failed.
bool Replace(const std::string& from, const std::string& to)
{
    constexpr int kAttempts = 50;
    constexpr DWORD kPauseMs = 50;
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (attempt == kAttempts || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return false;
        Sleep(kPauseMs);
    }
}

// Null before Windows Vista, where files are deleted and renamed by name.
auto* SetInformation()
{
    using Fn = BOOL WINAPI(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    static Fn* const setInformation = OptionalFunctionAs<Fn>("kernel32.dll", "SetFileInformationByHandle");
    return setInformation;
}

bool MarkReadOnly(HANDLE file, bool readOnly)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info))
        return false;
    if (((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) == readOnly)
        return true;
    // Zero times stay as they are; zero attributes would too, hence NORMAL.
    FILE_BASIC_INFO basic = {};
    const DWORD kept = readOnly ? (info.dwFileAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY
                                : info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
    basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
    return SetInformation() && SetInformation()(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

// A folder under an item's name is never put aside: deleting it after the
// move would fail for good, and its draft name stay taken.
std::string FolderRefusal(const std::string& target)
{
    return FormatText("the store's older copy \"%s\" is a folder", {target});
}

// The store's older copy of a name taken over again, held unshared for the
// checks: a copy that is running, held by another program or a link stays,
// and so does the original. Held on until the move ends, so that it can be
// put aside and back through the handle. Empty handle and no refusal when
// there is no older copy.
UniqueFile ClaimOlderCopy(const std::string& target, std::string& refusal)
{
    if (!PathExists(target))
        return {};
    UniqueFile older = OpenEntry(target, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, OPEN_EXISTING);
    if (!older) {
        refusal = ErrorMessage("the store's older copy cannot be replaced (opening " + target + ")", GetLastError());
        return {};
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileInformationByHandle(older.get(), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        refusal = FolderRefusal(target);
        return {};
    }
    refusal = HandleRefusal(older.get(), target);
    return refusal.empty() ? std::move(older) : UniqueFile();
}

// Renames the file through the handle that holds it, so that the name moves
// and the file itself, its streams, times and attributes with it, is never
// in two places; before Windows Vista by name. Never over another file.
bool RenameOpenFile(UniqueFile& file, const std::string& from, const std::string& to)
{
    if (!SetInformation()) {
        file.reset();
        return MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    const std::wstring target = L"\\??\\" + WideFromUtf8(to);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    return SetInformation()(file.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

// The store is a folder of the Startup folder and never a link, so both are
// on one volume; another volume's serial number means a mount was planted
// there, and the file would have to be copied, which it never is.
bool OnVolumeOf(HANDLE file, const std::string& folder)
{
    const UniqueFile held = OpenEntry(RemoveBackslash(folder), FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION fileInfo = {}, folderInfo = {};
    return held && GetFileInformationByHandle(file, &fileInfo) && GetFileInformationByHandle(held.get(), &folderInfo) &&
           fileInfo.dwVolumeSerialNumber == folderInfo.dwVolumeSerialNumber;
}

std::string Join(const std::string& folder, const std::string& name)
{
    return AddBackslash(folder) + name;
}

// The section as it was before the move: gone when the move made it, else
// with the values it had.
bool UndoSectionIn(const ProfileFile& ini, const std::string& name, bool knownSection, const TSectionValues& before)
{
    if (!knownSection)
        return ini.EraseSection(name);
    return EraseKey(ini, name, kMovingKey) && std::all_of(before.begin(), before.end(), [&](const auto& value) {
               return value.second ? WriteRawKey(ini, name, value.first, *value.second)
                                   : EraseKey(ini, name, value.first.c_str());
           });
}

// The section as it was before a move that was cut short, for its recovery.
bool UndoSection(const std::string& index, const std::string& name, bool knownSection,
                 const TSectionValues& before = {})
{
    return RewriteIndex(index,
                        [&](const ProfileFile& ini) { return UndoSectionIn(ini, name, knownSection, before); });
}

// A draft is removed only when it is no link: deleting a link of the host
// deletes what it leads to.
bool RemoveDraft(const std::string& draft)
{
    return !PathExists(draft) || (LinkRefusal(draft).empty() && RemoveStoredFile(draft));
}

// The older copy a replace put aside goes back under its name, on the disk
// before the index forgets the move: else the next take-over would sweep it
// as a leftover draft.
bool PutBack(UniqueFile& older, const std::string& aside, const std::string& target, const std::string& store)
{
    return RenameOpenFile(older, aside, target) && FlushFolder(store);
}

// One move of a batch between its steps: what it holds, and what an undo of
// its section needs.
struct TPendingMove {
    const TStoreMove* move = nullptr;
    std::size_t slot = 0;  // its result's
    std::string source, target;
    UniqueFile original;
    TSectionValues before;
    bool replacing = false;
    std::string journal;
    UniqueFile older;
    std::string aside;
};

// How a journaled move's renames ended: its result, and whether its
// section is to be undone (a move refused before anything of it went
// anywhere); a move whose older copy still waits aside, or whose file may be
// in the store, keeps its journal for the next take-over.
struct TRenamed {
    TMoveResult result;
    bool undo = false;
};

TRenamed Refused(std::string why)
{
    return {{std::move(why)}, /*undo=*/true};
}

// A refusal once the older copy may be aside (`aside` empty for none):
// while it cannot go back the journal stays, and the next take-over puts it
// back (RecoverMoves).
TRenamed RefusedReplace(TPendingMove& p, const std::string& why)
{
    if (!p.aside.empty() && !PutBack(p.older, p.aside, p.target, p.move->store))
        return {{ErrorMessage(why + "; the store's older copy waits as " + p.aside + " (putting it back",
                              GetLastError()) +
                 ") and the next take-over puts it back"}};
    return Refused(why);
}

// Everything a move checks before its journal is written; empty when it may
// go on, holding its file.
std::string Prepare(TPendingMove& p, const std::string& index)
{
    const TStoreMove& move = *p.move;
    p.source = Join(move.folder, move.name);
    p.target = Join(move.store, move.name);
    if (WideFromUtf8(p.target).size() >= MAX_PATH)
        return FormatText("its path in the store, \"%s\", would be longer than %s characters, which the system "
                          "cannot start",
                          {p.target, std::to_string(MAX_PATH - 1)});
    if (std::string refusal = LinkRefusal(p.target); !refusal.empty())
        return refusal;
    if (move.draft < 1 || move.draft > kMaxDraft)
        return FormatText("the store \"%s\" has no draft number left", {move.store});
    // A rename carries no bytes to the disk: the held file is flushed first,
    // through the handle that keeps every writer out until the rename. Only a
    // file nobody may write (read-only) moves as it is; one held, running or
    // being written is left for the next take-over.
    p.original = OpenEntry(p.source, DELETE | FILE_READ_ATTRIBUTES | GENERIC_WRITE | SYNCHRONIZE, FILE_SHARE_READ,
                           OPEN_EXISTING);
    const bool writable = static_cast<bool>(p.original);
    if (!p.original && GetLastError() == ERROR_ACCESS_DENIED)
        p.original = OpenEntry(p.source, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!p.original && GetLastError() == ERROR_FILE_NOT_FOUND)
        return "it was removed from the folder meanwhile";
    if (!p.original)
        return ErrorMessage("another program holds it (opening " + p.source + ")", GetLastError());
    if (std::string refusal = HandleRefusal(p.original.get(), p.source); !refusal.empty())
        return refusal;
    if (writable && !FlushFileBuffers(p.original.get()))
        return ErrorMessage("Flushing " + p.source, GetLastError());
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(p.original.get(), &size))
        return ErrorMessage("Reading " + p.source, GetLastError());
    if (!OnVolumeOf(p.original.get(), move.store))
        return FormatText("the store \"%s\" is not on the volume of the file, which is moved only", {move.store});

    p.before = move.knownSection ? ValuesOf(index, move.name, move.sectionKeys) : TSectionValues();
    // The older copy of a replace waits under the draft's name, the journal
    // saying so, until the newer one is in for good: a refusal of the newer
    // one after its rename, or a cut at any step, puts the older one back.
    if (DirectoryExists(p.target))
        return FolderRefusal(p.target);
    p.replacing = PathExists(p.target);
    p.journal = FormatText("%s %s %s%s%s", {move.knownSection ? "kept" : "new", std::to_string(size.QuadPart),
                                            std::to_string(move.draft), p.replacing ? " aside" : "",
                                            move.knownSection ? " " + WasWord(p.before) : ""});
    // A journal read back cut would undo a cut move with values it never had.
    if (p.journal.size() > ProfileFile::LongestWholeValue)
        return FormatText("its section's values are too long to be kept in the move's journal (%s characters, "
                          "of which %s can be read back whole); shorten them in \"%s\"",
                          {std::to_string(p.journal.size()), std::to_string(ProfileFile::LongestWholeValue), index});
    return {};
}

// The renames of one journaled move: the older copy aside, the file in.
TRenamed RenameIntoStore(TPendingMove& p)
{
    const TStoreMove& move = *p.move;
    std::string refusal;
    p.older = ClaimOlderCopy(p.target, refusal);
    if (p.older && !p.replacing)
        refusal = FormatText("a file of its name, \"%s\", was put into the store meanwhile", {p.target});
    if (!refusal.empty())
        return Refused(refusal);
    // Before Windows Vista the renames go by name and `older` lets go: what
    // was put aside is told by `aside`, not by the handle.
    const std::string aside = p.older ? Join(move.store, MoveDraftName(move.draft)) : std::string();
    if (!aside.empty() && !RenameOpenFile(p.older, p.target, aside))
        return Refused(ErrorMessage("another program holds it (moving the store's older copy " + p.target + " aside",
                                    GetLastError()) +
                       ")");
    p.aside = aside;
    if (!p.aside.empty() && !FlushFolder(move.store))
        return RefusedReplace(p, ErrorMessage("Flushing " + move.store, GetLastError()));
    if (!RenameOpenFile(p.original, p.source, p.target))
        return RefusedReplace(p, ErrorMessage("another program holds it (moving " + p.source + ")", GetLastError()));
    // Held until here, it cannot have gone anywhere else; the check is the
    // last word on where it is.
    if (p.original && !(refusal = HandleRefusal(p.original.get(), p.target)).empty()) {
        if (!RenameOpenFile(p.original, p.target, p.source))
            return {{ErrorMessage(refusal + "; renaming it back failed", GetLastError()) +
                         ", so it stays there, and the next take-over keeps it there with its section unless it is "
                         "refused again",
                     /*leftOpen=*/true}};
        // Back on the disk before the older copy takes its name again.
        if (!FlushFolder(move.folder))
            return {{ErrorMessage(refusal + "; flushing " + move.folder, GetLastError()) +
                     ", so the next take-over puts the store's older copy back"}};
        return RefusedReplace(p, refusal);
    }
    return {};
}

} // namespace

bool RewriteIndex(const std::string& index, const std::function<bool(const ProfileFile&)>& edit)
{
    if (!LinkRefusal(index).empty())
        return false;
    std::string bytes;
    if (FileExists(index)) {
        std::optional<std::string> read = ReadWholeFile(index, kMaxIndexSize);
        if (!read)
            return false;
        bytes = std::move(*read);
    }
    const std::string draft = Join(FolderOfPath(index), kIndexDraftName);
    std::string refusal;
    {
        const UniqueFile file = CreateDraft(draft, refusal);
        // Flushed once, after the edit: nothing names the draft before.
        if (!file || !WriteBytes(file.get(), bytes))
            return false;
    }
    const ProfileFile ini(draft);
    if (!edit(ini) || !FlushFile(draft) || !Replace(draft, index)) {
        DeleteFileW(WideFromUtf8(draft).c_str());
        return false;
    }
    return true;
}

namespace {

// Step 1 for the moves that may go on; false when the index could not take
// it, `refused` then naming the move whose section it refused, if one was.
bool Journal(const std::string& index, const std::vector<TPendingMove>& pending, std::optional<std::size_t>& refused)
{
    refused.reset();
    return RewriteIndex(index, [&](const ProfileFile& ini) {
        for (std::size_t n = 0; n < pending.size(); ++n) {
            const TStoreMove& move = *pending[n].move;
            if (!move.writeSection(ini) || !ini.WriteString(move.name, kMovingKey, pending[n].journal)) {
                refused = n;
                return false;
            }
        }
        return true;
    });
}

// Step 2's renames, then the one flush the index that settles them relies
// on: unflushed, the journals stay for the next take-over to find where each
// file is. True when the store was flushed with a file in it.
bool RenameAll(std::vector<TPendingMove>& pending, std::vector<TRenamed>& renamed)
{
    for (TPendingMove& p : pending)
        renamed.push_back(RenameIntoStore(p));
    const auto in = [](const TRenamed& one) { return one.result.why.empty(); };
    if (std::none_of(renamed.begin(), renamed.end(), in))
        return false;
    const std::string& store = pending.front().move->store;
    if (FlushFolder(store)) {
        StepDone();
        return true;
    }
    const std::string why = ErrorMessage("Flushing " + store, GetLastError()) +
                            "; the next take-over keeps the file there with its section, or takes it over again if "
                            "the move did not reach the disk";
    for (TRenamed& one : renamed)
        if (in(one))
            one.result = {why, /*leftOpen=*/true};
    return false;
}

// Step 3: the aside copies go, and one rewrite settles the moves that went
// in and undoes the refused ones; false when the index could not be
// rewritten, their journals then staying for the next take-over.
bool SettleBatch(const std::string& index, std::vector<TPendingMove>& pending,
                 const std::vector<TRenamed>& renamed, bool flushed)
{
    // The newer copies are in for good; an aside copy that cannot go now is
    // a leftover draft the next take-over sweeps once its journal is settled.
    for (std::size_t n = 0; n < pending.size(); ++n) {
        if (flushed && renamed[n].result.why.empty() && !pending[n].aside.empty()) {
            pending[n].older.reset();
            RemoveStoredFile(pending[n].aside);
        }
    }
    if (!flushed && std::none_of(renamed.begin(), renamed.end(), [](const TRenamed& one) { return one.undo; }))
        return true;
    const bool rewritten = RewriteIndex(index, [&](const ProfileFile& ini) {
        for (std::size_t n = 0; n < pending.size(); ++n) {
            const TStoreMove& move = *pending[n].move;
            const bool in = flushed && renamed[n].result.why.empty();
            if (in ? !EraseKey(ini, move.name, kMovingKey)
                   : renamed[n].undo && !UndoSectionIn(ini, move.name, move.knownSection, pending[n].before))
                return false;
        }
        return true;
    });
    if (flushed)
        StepDone();
    return rewritten;
}

// A section refused for a reason every move shares (a full disk) would be
// found again for each move of the batch in turn: a few refusals are let go
// on without them, the rest then refused together.
constexpr int kSectionRefusals = 4;

std::vector<TMoveResult> MoveBatch(const std::vector<TStoreMove>& moves, int refusalsLeft);

} // namespace

std::vector<TMoveResult> MoveIntoStore(const std::vector<TStoreMove>& moves)
{
    return MoveBatch(moves, kSectionRefusals);
}

namespace {

std::vector<TMoveResult> MoveBatch(const std::vector<TStoreMove>& moves, int refusalsLeft)
{
    std::vector<TMoveResult> results(moves.size());
    if (moves.empty())
        return results;
    const std::string index = Join(moves.front().store, StoreIniName);
    std::vector<TPendingMove> pending;
    for (std::size_t slot = 0; slot < moves.size(); ++slot) {
        // Names that differ in case only would share one section.
        const auto sameName = [&](const TPendingMove& p) { return SameText(p.move->name, moves[slot].name); };
        if (std::any_of(pending.begin(), pending.end(), sameName)) {
            results[slot].why =
                "a file of its name but for case goes into the store now; it waits for the next take-over";
            continue;
        }
        TPendingMove p;
        p.move = &moves[slot];
        p.slot = slot;
        results[slot].why = Prepare(p, index);
        if (results[slot].why.empty())
            pending.push_back(std::move(p));
    }
    if (pending.empty())
        return results;
    std::optional<std::size_t> refused;
    if (!Journal(index, pending, refused)) {
        // A section the index cannot take refuses its own move, and the
        // others go on without it; an index that cannot be written at all
        // refuses them all at once.
        const std::string why = ErrorMessage(refused ? "Writing the section into " + index : "Writing " + index,
                                             GetLastError());
        std::vector<TStoreMove> rest;
        std::vector<std::size_t> slots;
        for (std::size_t n = 0; n < pending.size(); ++n) {
            pending[n].original.reset();
            results[pending[n].slot].why = why;
            if (refused && refusalsLeft > 0 && n != *refused) {
                rest.push_back(*pending[n].move);
                slots.push_back(pending[n].slot);
            }
        }
        const std::vector<TMoveResult> others = MoveBatch(rest, refusalsLeft - 1);
        for (std::size_t n = 0; n < others.size(); ++n)
            results[slots[n]] = others[n];
        return results;
    }
    StepDone();
    std::vector<TRenamed> renamed;
    const bool flushed = RenameAll(pending, renamed);
    const bool settled = SettleBatch(index, pending, renamed, flushed);
    for (std::size_t n = 0; n < pending.size(); ++n) {
        TMoveResult& result = results[pending[n].slot];
        result = renamed[n].result;
        if (renamed[n].undo && !settled)
            result.why += "; its section stays marked as moving and the next take-over settles it";
    }
    return results;
}

} // namespace

std::string ReturnFromStore(const std::string& folder, const std::string& store, const std::string& name)
{
    if (!IsBareFileName(name))
        return FormatText("\"%s\" names no file of the store", {name});
    const std::string stored = Join(store, name);
    const std::string target = Join(folder, name);
    if (std::string refusal = LinkRefusal(target); !refusal.empty())
        return refusal;
    if (PathExists(target))
        return FormatText("a file of its name, \"%s\", was put there since", {target});
    UniqueFile file = OpenEntry(stored, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file)
        return ErrorMessage("another program holds it (opening " + stored + ")", GetLastError());
    if (std::string refusal = HandleRefusal(file.get(), stored); !refusal.empty())
        return refusal;
    if (!RenameOpenFile(file, stored, target))
        return ErrorMessage("Moving " + stored + " back to " + target, GetLastError());
    StepDone();
    return {};
}

bool RemoveStoredFile(const std::string& path)
{
    const std::wstring wide = WideFromUtf8(path);
    if (DeleteFileW(wide.c_str()))
        return true;
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    // Read-only: the mark is cleared and the file deleted through one
    // unshared handle, which another program's open keeps out, and a delete
    // refused there gives the mark back: the file never stays without it.
    // The mark of a file with other names is theirs too and stays.
    const UniqueFile file = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!file || !SetInformation() || !GetFileInformationByHandle(file.get(), &info) || info.nNumberOfLinks > 1 ||
        !MarkReadOnly(file.get(), false))
        return false;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetInformation()(file.get(), FileDispositionInfo, &disposition, sizeof disposition))
        return true;
    const DWORD error = GetLastError();
    MarkReadOnly(file.get(), (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0);
    SetLastError(error);
    return false;
}

bool FlushFolder(const std::string& folder)
{
    const UniqueFile held = OpenEntry(RemoveBackslash(folder), GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    return held && FlushFileBuffers(held.get());
}

namespace {

// The journal key's value: "kept" or "new", the byte count, the draft's
// number, "aside" when the draft's name holds the store's older copy rather
// than the file moved in, and for a kept section the values it had (WasWord);
// older versions wrote the first word only, for their one draft (and they
// leave a journal with more words alone).
struct TJournal {
    bool knownSection = false;
    std::optional<std::uint64_t> size;
    int draft = 0;
    bool aside = false;
    std::optional<TSectionValues> before;
};

// The index is the user's to write: anything but a whole number in range
// is refused, never wrapped round.
template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, Number least, Number most)
{
    Number number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || number < least || number > most)
        return std::nullopt;
    return number;
}

std::optional<TJournal> ParseJournal(const std::string& value)
{
    std::istringstream words(value);
    std::string kind, size, draft, more;
    if (!(words >> kind) || (kind != "kept" && kind != "new"))
        return std::nullopt;
    TJournal journal;
    journal.knownSection = kind == "kept";
    if (!(words >> size))
        return journal;
    journal.size = ParseNumber<std::uint64_t>(size, 0, std::numeric_limits<std::uint64_t>::max());
    const std::optional<int> number = words >> draft ? ParseNumber(draft, 1, kMaxDraft) : std::nullopt;
    if (!journal.size || !number)
        return std::nullopt;
    journal.draft = *number;
    while (words >> more) {
        if (more == "aside" && !journal.aside) {
            journal.aside = true;
            continue;
        }
        if (!journal.knownSection || journal.before || more.rfind(kWasHead, 0) != 0)
            return std::nullopt;
        journal.before = ParseWas(std::string_view(more).substr(std::string_view(kWasHead).size()), kMovingKey);
        if (!journal.before)
            return std::nullopt;
    }
    return journal;
}

// The number of a numbered draft's name; none for the older one or a number
// out of range.
std::optional<int> DraftNumber(const std::string& name)
{
    constexpr std::size_t kHead = std::string_view("Keldora.").size(), kTail = std::string_view(".move").size();
    if (name.size() <= kHead + kTail)
        return std::nullopt;
    return ParseNumber(std::string_view(name).substr(kHead, name.size() - kHead - kTail), 1, kMaxDraft);
}

std::optional<std::uint64_t> SizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The drafts of the store: its own former "Keldora.move" and the numbered ones.
std::vector<std::string> DraftsIn(const std::string& store)
{
    std::vector<std::string> drafts;
    for (const FoundFile& file : FindFiles(Join(store, "Keldora.*move")))
        if (IsDraftName(file.name))
            drafts.push_back(file.name);
    return drafts;
}

// A cut-short replace's older copy back under its name, never over a file.
std::string PutAsideBack(const std::string& aside, const std::string& stored, const std::string& store)
{
    if (!MoveFileExW(WideFromUtf8(aside).c_str(), WideFromUtf8(stored).c_str(), MOVEFILE_WRITE_THROUGH) ||
        !FlushFolder(store))
        return ErrorMessage("Putting the store's older copy " + aside + " back", GetLastError());
    return {};
}

// Settles one cut-short move; empty when done, else why not. Nothing is
// deleted or renamed unless the copy that stays is whole.
std::string Settle(const std::string& folder, const std::string& store, const std::string& name,
                   const TJournal& journal)
{
    const std::string index = Join(store, StoreIniName);
    const std::string draft = Join(store, MoveDraftName(journal.draft));
    const std::string stored = Join(store, name);
    if (!LinkRefusal(draft).empty())
        return "its draft is a link";
    // Undone: the file never went in, or went back, or is gone from both.
    // With the older copy aside, a file under the name in the store is the
    // one that went in, and one in the folder was put there since.
    const bool aside = journal.aside && PathExists(draft);
    if (aside ? !PathExists(stored) : FileExists(Join(folder, name))) {
        if (aside)
            if (std::string why = PutAsideBack(draft, stored, store); !why.empty())
                return why;
        return (journal.aside || RemoveDraft(draft)) &&
                       UndoSection(index, name, journal.knownSection, journal.before.value_or(TSectionValues()))
                   ? std::string()
                   : ErrorText(GetLastError());
    }
    const std::string kept = PathExists(draft) && !journal.aside ? draft : stored;
    // A move whose rename back failed kept a copy its last check refused.
    if (const std::string refusal = LinkRefusal(kept); !refusal.empty())
        return refusal;
    if (journal.size && SizeOf(kept) != journal.size)
        return FormatText("\"%s\" is not whole (%s bytes were moved)", {kept, std::to_string(*journal.size)});
    const bool settled = (journal.aside ? RemoveDraft(draft) : kept != draft || Replace(draft, stored)) &&
                         RewriteIndex(index, [&](const ProfileFile& copy) { return EraseKey(copy, name, kMovingKey); });
    return settled ? std::string() : ErrorText(GetLastError());
}

} // namespace

bool MovesOpen(const std::string& store)
{
    if (!DraftsIn(store).empty())
        return true;
    const ProfileFile ini(Join(store, StoreIniName));
    const std::vector<std::string> sections = ini.SectionNames();
    return std::any_of(sections.begin(), sections.end(),
                       [&](const std::string& name) { return ini.HasKey(name, kMovingKey); });
}

bool IsDraftName(const std::string& name)
{
    if (SameText(name, kMoveDraftName))
        return true;
    constexpr std::string_view kHead = "Keldora.", kTail = ".move";
    if (name.size() <= kHead.size() + kTail.size() || !SameText(name.substr(0, kHead.size()), kHead) ||
        !SameText(name.substr(name.size() - kTail.size()), kTail))
        return false;
    const std::string number = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
    return std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string MoveDraftName(int draft)
{
    if (draft == 0)
        return kMoveDraftName;
    return "Keldora." + std::to_string(draft) + ".move";
}

int FirstFreeDraft(const std::string& store)
{
    int last = 0;
    for (const std::string& name : DraftsIn(store))
        last = std::max(last, DraftNumber(name).value_or(0));
    const std::string index = Join(store, StoreIniName);
    if (FileExists(index) && LinkRefusal(index).empty()) {
        const ProfileFile ini(index);
        for (const std::string& section : ini.SectionNames())
            if (const std::optional<TJournal> journal = ParseJournal(ini.ReadString(section, kMovingKey)))
                last = std::max(last, journal->draft);
    }
    return last + 1;
}

std::vector<std::string> RecoverMoves(const std::string& folder, const std::string& store)
{
    std::vector<std::string> notes;
    const std::string index = Join(store, StoreIniName);
    if (!FileExists(index) || !LinkRefusal(index).empty())
        return notes;
    const ProfileFile ini(index);
    std::vector<int> open;
    bool unread = false;
    for (const std::string& name : ini.SectionNames()) {
        const std::string moving = ini.ReadString(name, kMovingKey);
        if (moving.empty())
            continue;
        const std::optional<TJournal> journal = ParseJournal(moving);
        const std::string why = !IsBareFileName(name) || !journal ? "it names no file of the store"
                                                                  : Settle(folder, store, name, *journal);
        if (why.empty())
            continue;
        if (journal)
            open.push_back(journal->draft);
        unread = unread || !journal;
        notes.push_back(FormatText("The move of \"%s\" into \"%s\" that was cut short was left alone: %s",
                                   {name, store, why}));
    }
    // A draft no open move names is a leftover; a link is left where it is.
    // A journal that cannot be read may name any of them: they all stay.
    if (unread)
        return notes;
    for (const std::string& name : DraftsIn(store)) {
        const bool named = std::any_of(open.begin(), open.end(), [&](int n) { return SameText(name, MoveDraftName(n)); });
        if (!named && !RemoveDraft(Join(store, name)))
            notes.push_back(FormatText("The leftover draft \"%s\" of \"%s\" was left alone: it is a link or held",
                                       {name, store}));
    }
    return notes;
}
