// The stub's manifest, journal and outcome readers on any bytes: nothing they
// accept names a file outside the program's folder or twice, and a manifest
// they accept, written again by the engine's writer, reads back the same.
#include "update/stub/ManifestWriter.h"
#include "update/stub/StubRecords.h"
#include "FuzzRequire.h"

#include <string>
#include <vector>

namespace {

std::string DigestBytes(std::string_view hex)
{
    std::string bytes;
    for (std::size_t i = 0; i < 64; i += 2)
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return bytes;
}

void CheckManifest(std::string_view text)
{
    Manifest manifest;
    if (ReadManifest(text, manifest) != RecordError::none)
        return;
    std::vector<ManifestEntry> entries;
    std::string_view lines = manifest.fileLines;
    ManifestFile file;
    while (NextManifestFile(lines, file)) {
        Require(IsPlainFileName(file.name), "an accepted name is plain");
        Require(IsPlainFileName(manifest.updater), "the updater's name is plain");
        for (const ManifestEntry& earlier : entries)
            Require(!SameFileName(earlier.name, file.name), "no name twice");
        entries.push_back({std::string(file.name), DigestBytes(file.sha256)});
    }
    Require(entries.size() == manifest.fileCount, "the count is the files listed");
    const std::string again = ManifestText(manifest.product, std::string(manifest.updater), entries);
    Manifest reread;
    Require(ReadManifest(again, reread) == RecordError::none, "the writer's text is accepted");
    Require(reread.product.id == manifest.product.id && reread.fileCount == manifest.fileCount,
            "the same manifest reads back");
}

void CheckJournal(std::string_view text)
{
    Journal journal;
    if (ReadJournal(text, journal) != RecordError::none)
        return;
    std::string_view lines = journal.moveLines;
    JournalMove move;
    std::size_t count = 0;
    while (count < journal.moveCount && NextJournalMove(lines, move)) {
        Require(IsPlainFileName(move.target), "a target is plain");
        Require(move.pending.size() > PendingSuffix.size(), "a download has its suffix");
        Require(journal.version == 1 || (move.sha256.size() == 64 &&
                                          SameFileName(move.pending.substr(0, move.target.size()), move.target)),
                "a version 2 move has its digest and moves a download over its own name");
        ++count;
    }
    Require(count == journal.moveCount, "every planned move reads");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    CheckManifest(text);
    CheckManifest(std::string(ManifestHeader) + "\n" + std::string(text));
    CheckJournal(text);
    CheckJournal("keldora-update-journal 1\n" + std::string(text));
    CheckJournal("keldora-update-journal 2\n" + std::string(text));
    Outcome outcome;
    if (ReadOutcome(text, outcome) == RecordError::none)
        Require(outcome.code >= 0 && outcome.code <= 255 && outcome.text.find('\n') == std::string_view::npos,
                "an outcome is a code and one line");
    return 0;
}
