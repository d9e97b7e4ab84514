#pragma once
// The self-upgrade stub's rules that need no system: reading its command line
// and naming the file each download of the manifest replaces. Everything here works on
// views into the caller's text and allocates nothing, so the stub can stay a
// small program without the C++ runtime's heavier parts.
#include <cstdint>
#include <string_view>

// The stub's exit codes, also written with a text to the outcome file of the
// program's folder. Whatever the code, a stub that got as far as naming an
// existing program leaves the folder holding either the whole old release or
// the whole new one and no pending file, or, for recoveryStuck, a journal
// and backups that the next start finishes with; it starts the program again
// unless the product was still running or a roll-back is unfinished.
enum class StubExit : int {
    done = 0,            // every file of the manifest is in place and the program was started
    usage = 1,           // started without arguments: only the information box was shown
    malformed = 2,       // the command line was not understood; nothing was touched
    missingProgram = 3,  // the program file does not exist; nothing was touched
    stillHeld = 4,       // the product or a file stayed in use past the wait limit; nothing was replaced
                         // and nothing was started
    accessDenied = 5,    // the program file or a target cannot be written (read-only, denied); nothing was replaced
    rolledBack = 6,      // a move failed; every file moved so far was put back as it was
    startFailed = 7,     // the files are in place but the program (or the setup program) did not start
    badManifest = 8,     // no manifest, or one that is cut, garbled or names files outside the folder; nothing was replaced
    digestMismatch = 9,  // a download is missing or differs from the digest the engine checked; nothing was replaced
    recoveryStuck = 10,  // an install cut off earlier, or this one, could not be put back yet (a file in use): its
                         // journal and backups stay for the next start; nothing more was installed or started
};

// Answers whether a path names an existing file (not a folder).
class FileProbe {
public:
    virtual bool FileExists(std::string_view path) const = 0;

protected:
    ~FileProbe() = default;
};

// What the stub's command line asks for.
struct StubCommand {
    std::string_view program;  // full path of the program, without quotes or trailing blanks
    std::string_view params;   // the restart parameters, passed on as they stand
    bool setupMode = false;    // method digit 1: a pending executable is an external setup program
};

enum class StubParse { ok, empty, malformed, missingProgram };

// The arguments part of a process's whole command line: the text after the
// program's own name (quoted or not) and the blanks that follow it.
std::string_view StubArgumentText(std::string_view commandLine);

// Reads the stub's arguments. Two forms are understood:
//   "C:\Program Files\App\app.exe" +/afterupgrade0   (the program quoted)
//   C:\Program Files\App\app.exe +/afterupgrade0     (nothing quoted)
// The restart argument is "+", the restart parameters and the method digit
// ("0" self-upgrade, "1" external setup); it may be missing altogether. In the
// unquoted form the program path ends at the first " +" whose left part names
// an existing file, so paths holding blanks and "+" both work.
StubParse ParseStubCommand(std::string_view arguments, const FileProbe& probe, StubCommand& command);

// The folder part of a path, with its trailing separator; empty without one.
std::string_view FolderOf(std::string_view path);

enum class TargetRole { file, setup };

// Picks the setup program of setup mode among the manifest's files, in the
// manifest's order: the first pending executable (name ending in "exe",
// lower case) whose own target does not exist, unless the program's own copy
// is pending. Every file replaces the file of its own name: no executable of
// a release is ever taken for a renamed program.
class TargetNamer {
public:
    TargetNamer(bool setupMode, bool ownCopyPending);

    TargetRole Role(std::string_view target, bool targetExists);

private:
    bool setupMode_;
    bool exeChosen_;
};

// A decimal count of milliseconds (the wait limit's test setting); the
// fallback for text that is not one or does not fit in 32 bits.
std::uint32_t ParseMilliseconds(std::string_view text, std::uint32_t fallback);
