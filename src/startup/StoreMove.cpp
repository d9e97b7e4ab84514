#include "startup/StoreMove.h"

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
#include <string_view>

namespace {

// Startup files are shortcuts and small programs; a larger one is left alone
// rather than read whole.
constexpr std::size_t kMaxMovedSize = 256u << 20;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A test stops the process for good after this many steps of the moves
// (KDAGENT_HALT_AT_STEP), having set the event KDAGENT_HALT_EVENT names, and
// then cuts the power: the moves' steps can be seen no other way.
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
    if (haltAt <= 0 || ++steps < haltAt)
        return;
    const UniqueKernelHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, Environment(L"KDAGENT_HALT_EVENT").c_str()));
    if (event)
        SetEvent(event.get());
    Sleep(INFINITE);
}

std::string WithoutLongPrefix(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return "\\\\" + Utf8FromWide(path.substr(8));
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return Utf8FromWide(path.substr(4));
    return Utf8FromWide(path);
}

// Empty where the system has no final paths (before Windows Vista): the
// reparse attribute is all there is to see there.
std::string FinalPathOf(HANDLE file)
{
    using Fn = DWORD WINAPI(HANDLE, LPWSTR, DWORD, DWORD);
    static Fn* const finalPath = OptionalFunctionAs<Fn>("kernel32.dll", "GetFinalPathNameByHandleW");
    if (!finalPath)
        return {};
    std::wstring buffer(1024, L'\0');
    const DWORD length = finalPath(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0 || length >= buffer.size())
        return {};
    buffer.resize(length);
    return WithoutLongPrefix(buffer);
}

UniqueFile OpenEntry(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0)
{
    return UniqueFile(CreateFileW(WideFromUtf8(path).c_str(), access, share, nullptr, disposition,
                                  flags | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Why the open entry at `path` is refused: a reparse point, or reached
// through a link (its final path is not its folder's plus its name).
std::string HandleRefusal(HANDLE entry, const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileInformationByHandle(entry, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FormatText("\"%s\" is a link (a reparse point)", {path});
    // Another name of the same file would keep it in two places, or give
    // the store bytes its user may not read.
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1)
        return FormatText("\"%s\" has other names (hard links)", {path});
    const std::string final = FinalPathOf(entry);
    if (final.empty())
        return {};
    const UniqueFile parent(CreateFileW(WideFromUtf8(FolderOfPath(path)).c_str(), 0, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::string parentFinal = parent ? FinalPathOf(parent.get()) : std::string();
    if (parentFinal.empty() || SameText(AddBackslash(parentFinal) + TextAfterLast("\\", path), final))
        return {};
    return FormatText("\"%s\" is a link to \"%s\"", {path, final});
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

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return (bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                              written == bytes.size())) &&
           FlushFileBuffers(file);
}

} // namespace

bool FlushFile(const std::string& path)
{
    const UniqueFile file = OpenEntry(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    return file && HandleRefusal(file.get(), path).empty() && FlushFileBuffers(file.get());
}

namespace {

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

// Deletes the file through the handle that holds it, so nothing can take its
// place between the check and the delete; before Windows Vista by name. Once
// marked, the delete is done: a reader that shares deletion (a scanner, the
// shell's icons) only keeps the name a moment longer, so the move goes on.
bool DeleteOpenFile(UniqueFile& file, const std::string& path)
{
    using Fn = BOOL WINAPI(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    static Fn* const setInformation = OptionalFunctionAs<Fn>("kernel32.dll", "SetFileInformationByHandle");
    if (!setInformation) {
        file.reset();
        return DeleteFileW(WideFromUtf8(path).c_str()) != FALSE;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!setInformation(file.get(), FileDispositionInfo, &disposition, sizeof disposition))
        return false;
    file.reset();
    return true;
}

std::string Join(const std::string& folder, const std::string& name)
{
    return AddBackslash(folder) + name;
}

bool EraseKey(const ProfileFile& ini, const std::string& section, const char* key)
{
    return WritePrivateProfileStringW(WideFromUtf8(section).c_str(), WideFromUtf8(key).c_str(), nullptr,
                                      WideFromUtf8(ini.path()).c_str()) != FALSE;
}

// The section as it was before the move: gone when the move made it.
bool UndoSection(const std::string& index, const std::string& name, bool knownSection)
{
    return RewriteIndex(index, [&](const ProfileFile& ini) {
        return knownSection ? EraseKey(ini, name, kMovingKey) : ini.EraseSection(name);
    });
}

std::string Undo(const TStoreMove& move, const std::string& index, const std::string& why)
{
    const std::string draft = Join(move.store, kMoveDraftName);
    if (PathExists(draft) && LinkRefusal(draft).empty())
        DeleteFileW(WideFromUtf8(draft).c_str());
    if (!UndoSection(index, move.name, move.knownSection))
        return why + "; its section stays marked as moving and the next take-over settles it";
    return why;
}

} // namespace

std::string LinkRefusal(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {};
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return FormatText("\"%s\" is a link (a reparse point)", {path});
    const UniqueFile entry = OpenEntry(path, 0, kShareAll, OPEN_EXISTING);
    if (!entry)
        return ErrorMessage("Opening " + path, GetLastError());
    return HandleRefusal(entry.get(), path);
}

bool RewriteIndex(const std::string& index, const std::function<bool(const ProfileFile&)>& edit)
{
    if (!LinkRefusal(index).empty())
        return false;
    std::string bytes;
    if (FileExists(index)) {
        std::optional<std::string> read = ReadWholeFile(index, kMaxMovedSize);
        if (!read)
            return false;
        bytes = std::move(*read);
    }
    const std::string draft = Join(FolderOfPath(index), kIndexDraftName);
    std::string refusal;
    {
        const UniqueFile file = CreateDraft(draft, refusal);
        if (!file || !WriteAll(file.get(), bytes))
            return false;
    }
    const ProfileFile ini(draft);
    if (!edit(ini) || !FlushFile(draft) || !Replace(draft, index)) {
        DeleteFileW(WideFromUtf8(draft).c_str());
        return false;
    }
    return true;
}

std::string MoveIntoStore(const TStoreMove& move)
{
    const std::string source = Join(move.folder, move.name);
    const std::string target = Join(move.store, move.name);
    const std::string index = Join(move.store, StoreIniName);
    if (WideFromUtf8(target).size() >= MAX_PATH)
        return FormatText("its path in the store, \"%s\", would be longer than %s characters, which the system "
                          "cannot start",
                          {target, std::to_string(MAX_PATH - 1)});
    if (std::string refusal = LinkRefusal(target); !refusal.empty())
        return refusal;
    UniqueFile original = OpenEntry(source, GENERIC_READ | DELETE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!original)
        return ErrorMessage("another program holds it (opening " + source + ")", GetLastError());
    if (std::string refusal = HandleRefusal(original.get(), source); !refusal.empty())
        return refusal;
    const std::optional<std::string> bytes = ReadWholeFile(original.get(), kMaxMovedSize);
    if (!bytes)
        return ErrorMessage("Reading " + source, GetLastError());

    const bool journaled = RewriteIndex(index, [&](const ProfileFile& ini) {
        return (move.settled.empty() || EraseKey(ini, move.settled, kMovingKey)) && move.writeSection(ini) &&
               ini.WriteString(move.name, kMovingKey, move.knownSection ? "kept" : "new");
    });
    if (!journaled)
        return ErrorMessage("Writing " + index, GetLastError());
    StepDone();
    std::string refusal;
    {
        const UniqueFile draft = CreateDraft(Join(move.store, kMoveDraftName), refusal);
        if (!draft)
            return Undo(move, index, refusal);
        if (!WriteAll(draft.get(), *bytes))
            return Undo(move, index, ErrorMessage("Writing " + Join(move.store, kMoveDraftName), GetLastError()));
    }
    StepDone();
    if (!DeleteOpenFile(original, source))
        return Undo(move, index, ErrorMessage("another program holds it (deleting " + source + ")", GetLastError()));
    StepDone();
    if (!Replace(Join(move.store, kMoveDraftName), target))
        return ErrorMessage("its copy waits in " + Join(move.store, kMoveDraftName) + " (renaming it)",
                            GetLastError()) +
               "; the next take-over finishes the move";
    StepDone();
    return {};
}

bool SettleMove(const std::string& store, const std::string& name)
{
    const bool settled = RewriteIndex(Join(store, StoreIniName),
                                      [&](const ProfileFile& ini) { return EraseKey(ini, name, kMovingKey); });
    StepDone();
    return settled;
}

namespace {

// A section names a file of the folder and the store only when it is a
// bare file name: the index is the user's to write, and an elevated agent
// must not rename a draft to wherever a crafted section points.
bool IsBareFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ')
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 32 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
    });
}

} // namespace

std::vector<std::string> RecoverMoves(const std::string& folder, const std::string& store)
{
    std::vector<std::string> notes;
    const std::string index = Join(store, StoreIniName);
    if (!FileExists(index) || !LinkRefusal(index).empty())
        return notes;
    const ProfileFile ini(index);
    const std::string draft = Join(store, kMoveDraftName);
    for (const std::string& name : ini.SectionNames()) {
        const std::string moving = ini.ReadString(name, kMovingKey);
        if (moving.empty())
            continue;
        if (!IsBareFileName(name) || !LinkRefusal(draft).empty()) {
            notes.push_back(FormatText("The move of \"%s\" into \"%s\" that was cut short was left alone: it names no "
                                       "file of the store, or its draft is a link",
                                       {name, store}));
            continue;
        }
        const bool knownSection = moving == "kept";
        const bool settled =
            FileExists(Join(folder, name))
                ? (!PathExists(draft) || (LinkRefusal(draft).empty() && DeleteFileW(WideFromUtf8(draft).c_str()))) &&
                      UndoSection(index, name, knownSection)
                : (!PathExists(draft) || Replace(draft, Join(store, name))) &&
                      RewriteIndex(index, [&](const ProfileFile& copy) { return EraseKey(copy, name, kMovingKey); });
        if (!settled)
            notes.push_back(FormatText("The move of \"%s\" into \"%s\" that was cut short could not be settled: %s",
                                       {name, store, ErrorText(GetLastError())}));
    }
    return notes;
}
