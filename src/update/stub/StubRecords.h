#pragma once
// The files the engine and the stub hand each other, as text: the manifest of
// the release the engine checked (written into the stub's private folder), the
// journal of the planned moves and the outcome of a stub run (both in the
// program's folder). All are UTF-8 lines ending in LF, fields separated by a
// tab, a versioned first line and a last line that counts what came before,
// so a cut or garbled file is told apart from a whole one.
//
//   manifest                     journal                                     outcome
//   keldora-update-manifest 2    keldora-update-journal 2                    keldora-update-outcome 1
//   product<TAB>pid<TAB>created  move<TAB>0|1<TAB>sha256<TAB>name<TAB>target  exit<TAB>code
//   updater<TAB>name             ...                                         text<TAB>what happened
//   file<TAB>sha256 hex<TAB>name planned<TAB>count                           end
//   keep<TAB>sha256 hex<TAB>name commit          (added once every move is done)
//   ...
//   end<TAB>count
//
// The product line is optional. A keep line names an installed file the
// engine found already holding the release's digest: it is not downloaded,
// and the stub only checks it is still that file. The count covers both
// kinds of line; a manifest of file lines alone reads as before. A journal of version 1, written by stubs
// before digests were kept, has move lines without the digest field; it is
// still read, so that an install the old stub left unfinished is put right.
//
// Platform-free; reading allocates nothing and hands out views into the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

// Names the stub keeps in the program's folder and beside itself.
inline constexpr std::string_view ManifestFileName = "manifest.txt";
inline constexpr std::string_view JournalFileName = "update.journal";
inline constexpr std::string_view OutcomeFileName = "update.outcome";
inline constexpr std::string_view LockFileName = "update.lock";
// The journal and the outcome are written under their name with this added, then renamed.
inline constexpr std::string_view FreshSuffix = ".new";
inline constexpr std::string_view PendingSuffix = ".uTMP";
inline constexpr std::string_view BackupSuffix = ".uBAK";
// A backup's link while a roll-back puts it back (the backup's name, then ".new").
inline constexpr std::string_view RestoringSuffix = ".uBAK.new";
inline constexpr std::string_view ManifestHeader = "keldora-update-manifest 2";

// Whether a name is a plain file of the program's folder the stub may move:
// strict UTF-8, 1 to 200 bytes, no path separator, colon (streams), wildcard,
// quote, angle bracket, bar or control character, no trailing blank or dot,
// no device name (CON, NUL, COM1, COM¹, ...), not a pending or backup name and
// not one of the stub's own files.
bool IsPlainFileName(std::string_view name);

// ASCII letters folded: how the stub compares names (and the file system, for them).
bool SameFileName(std::string_view a, std::string_view b);

// The running product the stub waits for; id 0 when there is none. The
// creation time (a FILETIME as one number) tells it from a later process
// that got the same id.
struct ProductProcess {
    std::uint32_t id = 0;
    std::uint64_t creationTime = 0;
};

enum class RecordError { none, header, truncated, garbled, badName, duplicate, tooMany };

// Text that names what went wrong, for the outcome.
std::string_view RecordErrorText(RecordError error);

// The most files one release may hold (names are checked pairwise).
inline constexpr std::size_t MaxReleaseFiles = 10000;

struct ManifestFile {
    std::string_view name;
    std::string_view sha256;  // 64 hexadecimal digits
    bool keep = false;        // the installed file stays: it already holds the digest
};

struct Manifest {
    ProductProcess product;
    std::string_view updater;  // the updater's program file, which the stub restarts
    std::size_t fileCount = 0;
    std::string_view fileLines;  // the file lines, for NextManifestFile
};

// Checks a whole manifest. Fails on anything but the form above (lines in that
// order, the product line optional, the updater's name and the files' names
// plain, the files' distinct, the count right, nothing after the end line).
RecordError ReadManifest(std::string_view text, Manifest& manifest);
// The next file of a manifest that ReadManifest accepted; false after the last.
bool NextManifestFile(std::string_view& lines, ManifestFile& file);

// Whether 64 hexadecimal digits (either case) spell these 32 bytes.
bool DigestMatches(std::string_view hex, const unsigned char (&digest)[32]);

struct JournalMove {
    bool hadTarget = false;     // the target existed and was renamed to its backup
    std::string_view sha256;    // the new file's digest (64 hexadecimal digits); empty in version 1
    std::string_view pending;   // the download's name (target name + ".uTMP")
    std::string_view target;
};

struct Journal {
    int version = 0;  // 1: no digests; 2: each new file's digest
    std::size_t moveCount = 0;
    bool committed = false;
    std::string_view moveLines;
};

// Checks a whole journal: the move lines, the planned count, then optionally
// the commit line and nothing else. A commit cut off while it was appended
// (a part of its line, or the zeros a power cut leaves of it) is no commit.
RecordError ReadJournal(std::string_view text, Journal& journal);
// The next move of a journal that ReadJournal accepted, of either version.
bool NextJournalMove(std::string_view& lines, JournalMove& move);

struct Outcome {
    int code = 0;
    std::string_view text;
};

RecordError ReadOutcome(std::string_view text, Outcome& outcome);

// Text built in a buffer the caller owns. Text that does not fit marks the
// result as cut, and Text() is then empty: a record is whole or nothing.
class RecordText {
public:
    RecordText(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    RecordText& Add(std::string_view text);
    RecordText& AddNumber(std::uint64_t value);
    bool Cut() const { return cut_; }
    std::string_view Text() const { return cut_ ? std::string_view() : std::string_view(buffer_, size_); }

private:
    char* buffer_;
    std::size_t capacity_;
    std::size_t size_ = 0;
    bool cut_ = false;
};

// The journal's lines (version 2): its header, one line per move, then the
// planned count.
void WriteJournalHeader(RecordText& out);
void WriteJournalMove(RecordText& out, const JournalMove& move);
void WriteJournalPlanned(RecordText& out, std::size_t count);
// Appended to a journal once every move is done.
inline constexpr std::string_view JournalCommitLine = "commit\n";

void WriteOutcome(RecordText& out, int code, std::string_view text);
