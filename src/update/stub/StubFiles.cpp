#include "update/stub/StubFiles.h"

namespace {

constexpr DWORD RetryIntervalMs = 50;
constexpr std::string_view BackupSuffix = ".uBAK";

class FindHandle {
public:
    FindHandle(const char* pattern, WIN32_FIND_DATAA& found) : handle_(FindFirstFileA(pattern, &found)) {}
    ~FindHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    bool Found() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAA& found) { return FindNextFileA(handle_, &found) != FALSE; }

private:
    HANDLE handle_;
};

char FoldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

// On a folder that tells names apart by case, two pending files can name one
// target; only the first is moved, so no backup is ever overwritten.
bool AlreadyPlanned(MoveList& moves, std::string_view target)
{
    for (std::size_t i = 0; i < moves.Count(); ++i) {
        if (SameName(moves[i].target.View(), target))
            return true;
    }
    return false;
}

// The program's file name as the file system spells it.
PathText ProgramName(const char* program)
{
    WIN32_FIND_DATAA found;
    FindHandle search(program, found);
    return search.Found() ? PathText(found.cFileName) : PathText();
}

bool Writable(const PendingMove& move)
{
    return !move.hadTarget || !(move.targetAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

bool MoveIn(const PendingMove& move)
{
    if (move.hadTarget && !MoveFileExA(move.target.c_str(), move.backup.c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;
    if (MoveFileExA(move.pending.c_str(), move.target.c_str(), 0))
        return true;
    if (move.hadTarget)
        MoveFileExA(move.backup.c_str(), move.target.c_str(), 0);
    return false;
}

// Puts the first count moves back, the last one first: each new file returns
// to its pending name and each old file to its own.
void MoveBack(MoveList& moves, std::size_t count)
{
    while (count > 0) {
        const PendingMove& move = moves[--count];
        MoveFileExA(move.target.c_str(), move.pending.c_str(), 0);
        if (move.hadTarget)
            MoveFileExA(move.backup.c_str(), move.target.c_str(), 0);
    }
}

// The download's hidden and temporary marks go; a setup program stays hidden
// until it is deleted after its run.
void Commit(MoveList& moves)
{
    for (std::size_t i = 0; i < moves.Count(); ++i) {
        const PendingMove& move = moves[i];
        const DWORD attributes = move.role == TargetRole::setup ? FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE
                                                                : FILE_ATTRIBUTE_ARCHIVE;
        if (move.pendingAttributes != attributes)
            SetFileAttributesA(move.target.c_str(), attributes);
        // A backup is never read-only: such a target stops the work beforehand.
        if (move.hadTarget)
            DeleteFileA(move.backup.c_str());
    }
}

}  // namespace

PathText& PathText::Append(std::string_view text)
{
    if (overflow_ || text.size() > MAX_PATH - length_) {
        overflow_ = true;
        return *this;
    }
    for (char c : text)
        text_[length_++] = c;
    text_[length_] = '\0';
    return *this;
}

bool FileExists(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

WaitResult WaitUntilWritable(const char* path, DWORD limitMs)
{
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return WaitResult::free;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
            return WaitResult::denied;
        if (GetTickCount64() - start >= limitMs)
            return WaitResult::stillHeld;
        Sleep(RetryIntervalMs);
    }
}

bool Replacement::Plan(const StubCommand& command)
{
    MoveList& moves = moves_;
    const PathText program(command.program);
    const std::string_view folder = FolderOf(command.program);
    const PathText programName = ProgramName(program.c_str());
    const PathText ownCopy = PathText(command.program).Append(".uTMP");
    TargetNamer namer(programName.View(), command.setupMode, FileExists(ownCopy.c_str()));

    WIN32_FIND_DATAA found;
    FindHandle search(PathText(folder).Append("*.uTMP").c_str(), found);
    if (!search.Found())
        return true;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::string_view target = PendingTarget(found.cFileName);
        if (target.empty())
            continue;
        const PathText ownTarget = PathText(folder).Append(target);
        DWORD targetAttributes = GetFileAttributesA(ownTarget.c_str());
        const NamedTarget named = namer.Name(target, targetAttributes != INVALID_FILE_ATTRIBUTES);
        const PathText targetPath = named.role == TargetRole::program ? PathText(folder).Append(named.name) : ownTarget;
        if (named.role == TargetRole::program)
            targetAttributes = GetFileAttributesA(targetPath.c_str());
        if (AlreadyPlanned(moves, targetPath.View()))
            continue;
        PendingMove* move = moves.Add();
        if (!move)
            return false;
        move->pending = PathText(folder).Append(found.cFileName);
        move->target = targetPath;
        move->backup = PathText(targetPath.View()).Append(BackupSuffix);
        move->role = named.role;
        move->pendingAttributes = found.dwFileAttributes;
        move->targetAttributes = targetAttributes;
        move->hadTarget = targetAttributes != INVALID_FILE_ATTRIBUTES;
    } while (search.Next(found));
    return true;
}

StubExit Replacement::Apply(PathText& setupProgram)
{
    setupProgram = PathText();
    MoveList& moves = moves_;
    for (std::size_t i = 0; i < moves.Count(); ++i) {
        if (!Writable(moves[i]))
            return StubExit::accessDenied;
    }
    for (std::size_t i = 0; i < moves.Count(); ++i) {
        if (!MoveIn(moves[i])) {
            MoveBack(moves, i);
            return StubExit::rolledBack;
        }
    }
    Commit(moves);
    for (std::size_t i = 0; i < moves.Count(); ++i) {
        if (moves[i].role == TargetRole::setup)
            setupProgram = moves[i].target;
    }
    return StubExit::done;
}
