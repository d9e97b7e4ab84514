#pragma once
// The stub's install of the release the engine checked: the manifest's files
// only, each download's digest checked again, then moved in through the
// journal (StubJournal.h). Built into the stub only.
#include "update/stub/StubFiles.h"
#include "update/stub/StubJournal.h"
#include "update/stub/StubRecords.h"
#include "update/stub/StubRules.h"

#include <string_view>

struct PlannedMove {
    std::string_view name;  // the manifest's name, the target; the download is name + ".uTMP"
    std::string_view sha256;
    TargetRole role = TargetRole::file;
    bool hadTarget = false;
    DWORD targetAttributes = INVALID_FILE_ATTRIBUTES;
    HANDLE download = nullptr;  // held from the digest check until the moves are done (a kept file: the target)
};

// What went wrong, for the outcome file: a code and one line of text.
struct InstallResult {
    StubExit code = StubExit::done;
    char text[1024] = {};
    std::size_t length = 0;

    std::string_view Text() const { return std::string_view(text, length); }
    void Set(StubExit exit, std::string_view first, std::string_view second = {}, std::string_view third = {});
};

class Install {
public:
    Install(const StubCommand& command, std::string_view folder, JournalStep step);
    ~Install();
    Install(const Install&) = delete;
    Install& operator=(const Install&) = delete;

    // Takes the files of a manifest that ReadManifest accepted; false (the
    // result says why) when memory runs out.
    bool Plan(const Manifest& manifest, InstallResult& result);
    // Waits until the product has ended and the program file can be written,
    // for at most limitMs from `start` (a GetTickCount64 value).
    bool WaitForProgram(const ProductProcess& product, ULONGLONG start, DWORD limitMs, InstallResult& result);
    // Waits until the program file, every target and every download can be
    // renamed, for at most limitMs from `start`. The plan follows the folder
    // while it waits: a target the closing product created is replaced too.
    bool WaitForRelease(ULONGLONG start, DWORD limitMs, InstallResult& result);
    // Flushes every download to the disk and compares its SHA-256 with the
    // manifest's, keeping each open so it cannot change before it is moved;
    // each kept file is compared and held the same way, so the folder ends
    // with the whole release or nothing of it.
    bool CheckDigests(InstallResult& result);
    // Journal, moves, commit, clean-up; on a failed move everything goes back,
    // or the journal stays when something could not (the result says so).
    bool Apply(InstallResult& result);
    // The setup program's path in setup mode, once it is in place.
    PathText SetupProgram() const;
    // Whether a `.uTMP` name is the download of a planned file.
    bool IsPlanned(std::string_view downloadName) const;
    // Lets go of the downloads and kept files held since the digest check.
    void Release();

private:
    void Refresh();
    bool CheckKept(InstallResult& result);
    bool Writable(InstallResult& result);
    bool WriteJournal(HeapText& text, Journal& journal);
    bool RollBack(const Journal& journal, std::string_view what, InstallResult& result);

    const StubCommand& command_;
    std::string_view folder_;
    JournalStep step_;
    std::string_view updater_;
    HeapArray<PlannedMove> moves_;
    HeapArray<PlannedMove> kept_;  // installed files that already are the release's: never moved
};
