#include "update/stub/StubInstall.h"

namespace {

constexpr DWORD RetryIntervalMs = 50;
constexpr std::string_view SettingsName = "update.ini";

enum class Readiness { ready, busy, denied };

// A file another process holds: open for writing (the program file, as
// before) or without sharing deletion (a data file the product keeps open,
// a download a scanner reads).
Readiness Probe(std::string_view path, DWORD access, DWORD share)
{
    const UniqueFile file(CreateFileW(WideText(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file)
        return Readiness::ready;
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return Readiness::busy;
    return error == ERROR_FILE_NOT_FOUND ? Readiness::ready : Readiness::denied;
}

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The product's process, if it is still the one the engine named: a process
// that ended and whose id went to another has another creation time.
UniqueKernelHandle OpenProduct(const ProductProcess& product)
{
    if (product.id == 0)
        return {};
    UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, product.id));
    FILETIME created, exited, kernel, user;
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
        return {};
    const std::uint64_t time = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return time == product.creationTime ? std::move(process) : UniqueKernelHandle();
}

// Probes until every file is ready: `probe` returns the first one that is
// not (setting its readiness), or an empty name.
template <typename ProbeAll>
bool WaitUntilReady(ULONGLONG start, DWORD limitMs, InstallResult& result, ProbeAll probe)
{
    for (;;) {
        Readiness readiness = Readiness::ready;
        const std::string_view busy = probe(readiness);
        if (readiness == Readiness::ready)
            return true;
        if (readiness == Readiness::denied) {
            result.Set(StubExit::accessDenied, busy, " cannot be replaced (access denied): nothing was replaced");
            return false;
        }
        if (GetTickCount64() - start >= limitMs) {
            result.Set(StubExit::stillHeld, busy, " was still in use when the wait ended: nothing was replaced");
            return false;
        }
        Sleep(RetryIntervalMs);
    }
}

// The commit line, appended so a cut write can never spoil the plan before it.
bool AppendCommit(std::string_view journal)
{
    const UniqueFile file(CreateFileW(WideText(journal).c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), JournalCommitLine.data(), static_cast<DWORD>(JournalCommitLine.size()), &written,
                     nullptr) &&
           written == JournalCommitLine.size() && FlushFileBuffers(file.get());
}

}  // namespace

void InstallResult::Set(StubExit exit, std::string_view first, std::string_view second, std::string_view third)
{
    code = exit;
    RecordText out(text, sizeof text);
    out.Add(first).Add(second).Add(third);
    length = out.Text().size();
}

Install::Install(const StubCommand& command, std::string_view folder, JournalStep step)
    : command_(command), folder_(folder), step_(step)
{
}

Install::~Install()
{
    Release();
}

void Install::Release()
{
    for (HeapArray<PlannedMove>* list : {&moves_, &kept_}) {
        for (std::size_t i = 0; i < list->Count(); ++i) {
            if ((*list)[i].download)
                CloseHandle((*list)[i].download);
            (*list)[i].download = nullptr;
        }
    }
}

bool Install::Plan(const Manifest& manifest, InstallResult& result)
{
    updater_ = manifest.updater;
    std::string_view lines = manifest.fileLines;
    ManifestFile file;
    while (NextManifestFile(lines, file)) {
        PlannedMove* move = file.keep ? kept_.Add() : moves_.Add();
        if (!move) {
            result.Set(StubExit::rolledBack, "out of memory: nothing was replaced");
            return false;
        }
        move->name = file.name;
        move->sha256 = file.sha256;
    }
    Refresh();
    return true;
}

// The targets as they are now, and the setup program they leave.
void Install::Refresh()
{
    bool ownCopyPending = false;
    for (std::size_t i = 0; i < moves_.Count(); ++i)
        ownCopyPending = ownCopyPending || SameFileName(moves_[i].name, updater_);
    TargetNamer namer(command_.setupMode, ownCopyPending);
    for (std::size_t i = 0; i < moves_.Count(); ++i) {
        PlannedMove& move = moves_[i];
        move.targetAttributes = AttributesOf(InFolder(folder_, move.name).View());
        move.hadTarget = move.targetAttributes != INVALID_FILE_ATTRIBUTES;
        move.role = namer.Role(move.name, move.hadTarget);
    }
}

bool Install::IsPlanned(std::string_view downloadName) const
{
    for (std::size_t i = 0; i < moves_.Count(); ++i) {
        const std::string_view name = moves_[i].name;
        if (downloadName.size() == name.size() + PendingSuffix.size() &&
            SameFileName(std::string_view(downloadName.data(), name.size()), name))
            return true;
    }
    return false;
}

bool Install::WaitForProgram(const ProductProcess& product, ULONGLONG start, DWORD limitMs, InstallResult& result)
{
    const UniqueKernelHandle process = OpenProduct(product);
    if (process && WaitForSingleObject(process.get(), limitMs) != WAIT_OBJECT_0) {
        result.Set(StubExit::stillHeld, "the product was still running when the wait ended: nothing was replaced");
        return false;
    }
    return WaitUntilReady(start, limitMs, result, [&](Readiness& readiness) {
        readiness = Probe(command_.program, GENERIC_WRITE, FILE_SHARE_READ);
        return command_.program;
    });
}

bool Install::WaitForRelease(ULONGLONG start, DWORD limitMs, InstallResult& result)
{
    return WaitUntilReady(start, limitMs, result, [&](Readiness& readiness) {
        readiness = Probe(command_.program, GENERIC_WRITE, FILE_SHARE_READ);
        if (readiness != Readiness::ready)
            return command_.program;
        Refresh();
        for (std::size_t i = 0; i < moves_.Count(); ++i) {
            const PlannedMove& move = moves_[i];
            const PathText download = InFolder(folder_, move.name, PendingSuffix);
            readiness = Probe(download.View(), GENERIC_WRITE | DELETE, ShareAll);
            if (readiness == Readiness::ready && move.hadTarget)
                readiness = Probe(InFolder(folder_, move.name).View(), DELETE, ShareAll);
            if (readiness != Readiness::ready)
                return move.name;
        }
        // A kept file that another process may still write is waited for too.
        for (std::size_t i = 0; i < kept_.Count(); ++i) {
            readiness = Probe(InFolder(folder_, kept_[i].name).View(), GENERIC_READ, FILE_SHARE_READ);
            if (readiness != Readiness::ready)
                return kept_[i].name;
        }
        return std::string_view();
    });
}

bool Install::CheckDigests(InstallResult& result)
{
    for (std::size_t i = 0; i < moves_.Count(); ++i) {
        PlannedMove& move = moves_[i];
        const PathText download = InFolder(folder_, move.name, PendingSuffix);
        move.download = CreateFileW(WideText(download.View()).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (move.download == INVALID_HANDLE_VALUE) {
            move.download = nullptr;
            result.Set(StubExit::digestMismatch, move.name, " was not downloaded: nothing was replaced");
            return false;
        }
        // Its data must be on the disk before a journal names it.
        if (!FlushFileBuffers(move.download)) {
            result.Set(StubExit::accessDenied, move.name, " could not be written to the disk: nothing was replaced");
            return false;
        }
        unsigned char digest[32];
        if (!Sha256Of(move.download, digest) || !DigestMatches(move.sha256, digest)) {
            result.Set(StubExit::digestMismatch, move.name,
                       " does not match the SHA-256 digest the updater checked: nothing was replaced");
            return false;
        }
    }
    return CheckKept(result);
}

// Held without sharing writes, so a kept file stays what was checked until
// the moves are done.
bool Install::CheckKept(InstallResult& result)
{
    for (std::size_t i = 0; i < kept_.Count(); ++i) {
        PlannedMove& kept = kept_[i];
        kept.download = CreateFileW(WideText(InFolder(folder_, kept.name).View()).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (kept.download == INVALID_HANDLE_VALUE)
            kept.download = nullptr;
        unsigned char digest[32];
        if (!kept.download || !Sha256Of(kept.download, digest) || !DigestMatches(kept.sha256, digest)) {
            result.Set(StubExit::digestMismatch, kept.name,
                       " changed since the updater found it unchanged in the release: nothing was replaced");
            return false;
        }
    }
    return true;
}

// A read-only target or one that is a folder stops the work before anything
// is moved.
bool Install::Writable(InstallResult& result)
{
    for (std::size_t i = 0; i < moves_.Count(); ++i) {
        const PlannedMove& move = moves_[i];
        if (move.hadTarget && (move.targetAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
            result.Set(StubExit::accessDenied, move.name, " is read-only or a folder: nothing was replaced");
            return false;
        }
    }
    return true;
}

// update.ini last: the installed version advances only when everything else
// is in place.
bool Install::WriteJournal(HeapText& text, Journal& journal)
{
    char line[2048];
    RecordText header(line, sizeof line);
    WriteJournalHeader(header);
    bool ok = text.Append(header.Text());
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < moves_.Count(); ++i) {
            const PlannedMove& move = moves_[i];
            if (SameFileName(move.name, SettingsName) != (pass == 1))
                continue;
            char pending[PathText::Capacity];
            RecordText pendingName(pending, sizeof pending);
            pendingName.Add(move.name).Add(PendingSuffix);
            RecordText out(line, sizeof line);
            WriteJournalMove(out, {move.hadTarget, move.sha256, pendingName.Text(), move.name});
            ok = ok && !out.Cut() && text.Append(out.Text());
        }
    }
    RecordText planned(line, sizeof line);
    WriteJournalPlanned(planned, moves_.Count());
    ok = ok && text.Append(planned.Text());
    return ok && ReadJournal(text.View(), journal) == RecordError::none &&
           WriteFlushed(InFolder(folder_, JournalFileName).View(), text.View());
}

// The downloads' handles go first: a file still open here cannot be
// replaced by its backup.
bool Install::RollBack(const Journal& journal, std::string_view what, InstallResult& result)
{
    Release();
    if (!RollBackJournal(folder_, journal, nullptr)) {
        result.Set(StubExit::recoveryStuck, what,
                   ", and a file could not be put back yet: its backup and the journal stay for the next start");
        return false;
    }
    DeleteAnyFile(InFolder(folder_, JournalFileName).View());
    result.Set(StubExit::rolledBack, what, ": every file was put back as it was");
    return false;
}

bool Install::Apply(InstallResult& result)
{
    if (!Writable(result))
        return false;
    HeapText text;
    Journal journal;
    const PathText journalPath = InFolder(folder_, JournalFileName);
    if (!WriteJournal(text, journal)) {
        DeleteAnyFile(journalPath.View());
        result.Set(StubExit::accessDenied, "the install journal could not be written: nothing was replaced");
        return false;
    }
    if (step_)
        step_();
    if (!ApplyJournal(folder_, journal, step_))
        return RollBack(journal, "a file could not be moved in place", result);
    if (!AppendCommit(journalPath.View()))
        return RollBack(journal, "the install could not be committed", result);
    if (step_)
        step_();
    Release();
    CompleteJournal(folder_, journal, step_);
    DeleteAnyFile(journalPath.View());
    if (step_)
        step_();
    // The setup program stays hidden until it is deleted after its run.
    const PathText setup = SetupProgram();
    if (!setup.View().empty())
        SetFileAttributesW(WideText(setup.View()).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    result.Set(StubExit::done, "the release was installed");
    return true;
}

PathText Install::SetupProgram() const
{
    for (std::size_t i = 0; i < moves_.Count(); ++i) {
        if (moves_[i].role == TargetRole::setup)
            return InFolder(folder_, moves_[i].name);
    }
    return PathText();
}
