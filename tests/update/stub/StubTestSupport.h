#pragma once
// Support for the stub's tests under Wine: a program folder holding an old
// release with a new one pending, the stub and the stand-in product run as real
// processes, and what the product recorded about each start.
#include "HttpTestServer.h"
#include "common/ScratchFolder.h"
#include "update/stub/StubRecords.h"

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

// ReadWholeFile (HttpTestServer.h) reads files here too.

// A program of the build's output folder (beside the test program).
std::string BuildProgram(const std::string& name);

// Every file of a folder: name -> content, and the read-only and hidden marks.
// The stub's outcome file is left out (Outcome reads it).
struct FileState {
    std::string content;
    DWORD marks = 0;
    bool operator==(const FileState&) const = default;
};
using FolderState = std::map<std::string, FileState>;
FolderState ReadFolder(const std::string& folder);

// Names of the folder's pending files in the order the file system lists them.
std::vector<std::string> PendingInListingOrder(const std::string& folder);

// Runs a copy of the stub from a folder of its own, with the manifest beside
// it when one is given, and returns its exit code. With `manifestHeldMs`, a
// scanner holds the manifest open for writing that long as the stub starts.
DWORD RunStub(const std::string& arguments, const std::optional<std::string>& manifest = std::nullopt,
              DWORD manifestHeldMs = 0);

// The outcome a stub run left in a folder (code -1 when there is none or it
// is unreadable), and removes it.
struct OutcomeRecord {
    int code = -1;
    std::string text;
};
OutcomeRecord TakeOutcome(const std::string& folder);

// The SHA-256 of a file's content as the engine hands it over (32 bytes).
std::string DigestOfFile(const std::string& path);
// Bytes as lower-case hexadecimal digits, as the journal writes a digest.
std::string HexOf(const std::string& bytes);

// Without its pending files: what a stub run that installs nothing leaves.
FolderState WithoutPending(FolderState state);

// A folder with the product as app.exe and a release to install: the product
// again with extra bytes at its end (so the new copy is told apart and still
// runs), and data files, some of which replace existing ones.
class ReleaseFolder {
public:
    explicit ReleaseFolder(const std::string& subfolder = "App");

    const std::string& Folder() const { return folder_; }
    std::string PathOf(const std::string& name) const { return folder_ + "\\" + name; }
    std::string Program() const { return PathOf("app.exe"); }
    // The file the product records its starts in (outside the program folder).
    std::string Record() const { return scratch_.PathOf("record.txt"); }

    // Writes a file; a pending one gets the hidden and temporary marks of a download.
    void Add(const std::string& name, const std::string& content) const;
    void AddPending(const std::string& name, const std::string& content) const;

    // The default release: app.exe, lib.dll and data.txt replaced, new.txt added.
    void AddRelease() const;
    // The manifest of these files' downloads as they are now, for the updater
    // of that name.
    std::string ManifestOf(const std::vector<std::string>& names, const ProductProcess& product = {},
                           const std::string& updater = "app.exe") const;
    // The manifest of the default release.
    std::string ReleaseManifest() const { return ManifestOf({"app.exe", "lib.dll", "data.txt", "new.txt"}); }
    std::string OldProduct() const { return oldProduct_; }
    std::string NewProduct() const { return oldProduct_ + "-new release-"; }

    // Lines the product recorded, waiting up to 30 s until there are count of them.
    std::vector<std::string> WaitForRecords(size_t count) const;

private:
    ScratchFolder scratch_;
    std::string folder_;
    std::string oldProduct_;
};

// Kills every host process whose command line (a Wine program's process
// title is its Windows command line) matches the extended pattern, and
// returns once none is left.
void KillOutright(const std::string& pattern);

// The product runs the engine against a release on the test server and waits
// until the engine closes it (0) or the upgrade fails (1).
DWORD RunProductUpgrade(const ReleaseFolder& release, const std::string& infoURL);

// Starts the product from the folder holding its own file for the given time,
// or until the object goes (INFINITE: until then), and deleting or creating a
// file when the hold ends; returns once the file is held.
class HoldingProduct {
public:
    HoldingProduct(const std::string& program, DWORD milliseconds, const std::string& deleteAfter = {},
                   const std::string& createAfter = {});
    ~HoldingProduct();
    HoldingProduct(const HoldingProduct&) = delete;
    HoldingProduct& operator=(const HoldingProduct&) = delete;

private:
    HANDLE process_ = nullptr;
    HANDLE release_ = nullptr;
};
