#include "update/stub/StubRecords.h"

#include "core/FileNameRule.h"
#include "core/Slice.h"
#include "core/Utf8.h"

namespace {

constexpr std::string_view JournalHeader = "keldora-update-journal 2";
constexpr std::string_view JournalHeaderV1 = "keldora-update-journal 1";
constexpr std::string_view OutcomeHeader = "keldora-update-outcome 1";
constexpr std::size_t MaxNameBytes = 200;

char FoldAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EndsWithName(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && SameFileName(Slice(text, text.size() - suffix.size(), text.size()), suffix);
}

// The system opens a device for these names whatever extension follows
// them, also after blanks (it drops them); the numbered ones also with a
// superscript digit.
bool IsDeviceName(std::string_view name)
{
    std::size_t dot = 0;
    while (dot < name.size() && name[dot] != '.')
        ++dot;
    while (dot > 0 && name[dot - 1] == ' ')
        --dot;
    const std::string_view base = Slice(name, 0, dot);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (SameFileName(base, device))
            return true;
    }
    if (base.size() < 4 || !(SameFileName(Slice(base, 0, 3), "COM") || SameFileName(Slice(base, 0, 3), "LPT")))
        return false;
    const std::string_view number = Slice(base, 3, base.size());
    if (number.size() == 1)
        return number[0] >= '1' && number[0] <= '9';
    return number == "\u00B9" || number == "\u00B2" || number == "\u00B3";
}

bool IsStubFile(std::string_view name)
{
    for (std::string_view own : {JournalFileName, OutcomeFileName, LockFileName}) {
        if (SameFileName(name, own) ||
            (name.size() == own.size() + FreshSuffix.size() && SameFileName(Slice(name, 0, own.size()), own) &&
             SameFileName(Slice(name, own.size(), name.size()), FreshSuffix)))
            return true;
    }
    return false;
}

// Takes the next line (without its LF) off the front of `rest`; false when
// no whole line is left.
bool TakeLine(std::string_view& rest, std::string_view& line)
{
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\n') {
            line = Slice(rest, 0, i);
            rest = Slice(rest, i + 1, rest.size());
            return true;
        }
    }
    return false;
}

// Takes the next tab-separated field; the last field runs to the line's end.
bool TakeField(std::string_view& line, std::string_view& field, bool last = false)
{
    if (last) {
        field = line;
        line = {};
        return true;
    }
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') {
            field = Slice(line, 0, i);
            line = Slice(line, i + 1, line.size());
            return true;
        }
    }
    return false;
}

// A decimal number without sign or leading zeros, fitting 64 bits.
bool ParseNumber(std::string_view text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0'))
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

bool IsHexDigest(std::string_view text)
{
    if (text.size() != 64)
        return false;
    for (char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex)
            return false;
    }
    return true;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// "tag<TAB>number" as a whole line.
bool CountLine(std::string_view line, std::string_view tag, std::uint64_t& count)
{
    std::string_view field;
    return TakeField(line, field) && field == tag && ParseNumber(line, count);
}

// The lines of a record: its header checked, then the body up to (not
// including) the line that begins with `endTag`.
RecordError OpenRecord(std::string_view text, std::string_view header, std::string_view& body)
{
    std::string_view line;
    std::string_view rest = text;
    if (!TakeLine(rest, line))
        return text.empty() ? RecordError::truncated : RecordError::header;
    if (line != header)
        return RecordError::header;
    body = rest;
    return RecordError::none;
}

// "tag<TAB>value" as a whole line.
bool TaggedLine(std::string_view line, std::string_view tag, std::string_view& value)
{
    std::string_view field;
    return TakeField(line, field) && field == tag && TakeField(line, value, /*last=*/true);
}

bool ParseManifestFile(std::string_view line, ManifestFile& file)
{
    std::string_view tag;
    if (!TakeField(line, tag) || (tag != "file" && tag != "keep"))
        return false;
    file.keep = tag == "keep";
    return TakeField(line, file.sha256) && IsHexDigest(file.sha256) &&
           TakeField(line, file.name, /*last=*/true);
}

std::size_t TabsIn(std::string_view line)
{
    std::size_t tabs = 0;
    for (char c : line)
        tabs += c == '\t';
    return tabs;
}

// Version 2 has the digest before the names; names hold no tab, so the
// count of fields tells the two apart.
bool ParseJournalMove(std::string_view line, JournalMove& move, int version)
{
    std::string_view tag;
    std::string_view flag;
    move.sha256 = {};
    if (!TakeField(line, tag) || tag != "move" || !TakeField(line, flag) || (flag != "0" && flag != "1"))
        return false;
    if (version == 2 && (TabsIn(line) != 2 || !TakeField(line, move.sha256) || !IsHexDigest(move.sha256)))
        return false;
    if (version == 1 && TabsIn(line) != 1)
        return false;
    if (!TakeField(line, move.pending) || !TakeField(line, move.target, /*last=*/true))
        return false;
    move.hadTarget = flag == "1";
    return true;
}

// What follows the planned count: nothing, a whole commit line, or a commit
// cut off while it was appended.
bool IsCommitTail(std::string_view after)
{
    if (after.size() > JournalCommitLine.size())
        return false;
    if (after == Slice(JournalCommitLine, 0, after.size()))
        return true;
    for (char c : after) {
        if (c != '\0')
            return false;
    }
    return true;
}

// A pending name is a plain name with the pending suffix added.
bool IsPendingName(std::string_view name)
{
    return name.size() > PendingSuffix.size() && EndsWithName(name, PendingSuffix) &&
           IsPlainFileName(Slice(name, 0, name.size() - PendingSuffix.size()));
}

// Version 2 moves each download only over the file of its own name.
bool IsDownloadOf(std::string_view pending, std::string_view target)
{
    return pending.size() == target.size() + PendingSuffix.size() &&
           SameFileName(Slice(pending, 0, target.size()), target);
}

// Case-folded names seen so far are compared pairwise: releases hold at most
// a few thousand files, and the check must allocate nothing.
template <typename Entry, typename Parse, typename NameOf>
RecordError CheckEntries(std::string_view lines, std::size_t count, Parse parse, NameOf nameOf)
{
    std::string_view rest = lines;
    std::string_view line;
    Entry entry;
    for (std::size_t i = 0; i < count; ++i) {
        if (!TakeLine(rest, line) || !parse(line, entry))
            return RecordError::garbled;
        if (!nameOf(entry))
            return RecordError::badName;
        std::string_view earlierLines = lines;
        std::string_view earlier;
        Entry other;
        for (std::size_t j = 0; j < i; ++j) {
            TakeLine(earlierLines, earlier);
            parse(earlier, other);
            if (SameFileName(nameOf(entry).name, nameOf(other).name))
                return RecordError::duplicate;
        }
    }
    return RecordError::none;
}

struct NameCheck {
    std::string_view name;
    bool ok;
    explicit operator bool() const { return ok; }
};

// Counts the entry lines of a body up to the line that starts with `endTag`;
// false when the body has no such line (cut) or it is not a whole line.
bool CountEntries(std::string_view body, std::string_view endTag, std::size_t& count, std::string_view& endLine,
                  std::string_view& after)
{
    count = 0;
    std::string_view rest = body;
    std::string_view line;
    while (TakeLine(rest, line)) {
        std::string_view probe = line;
        std::string_view tag;
        if (TakeField(probe, tag) && tag == endTag) {
            endLine = line;
            after = rest;
            return true;
        }
        ++count;
    }
    return false;
}

}  // namespace

bool SameFileName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

bool IsPlainFileName(std::string_view name)
{
    if (name.size() > MaxNameBytes || !IsBareFileName(name))
        return false;
    // DEL too, which no release's file is named with.
    for (std::size_t at = 0; at < name.size();) {
        const Utf8Char c = DecodeUtf8At(name, at);
        if (!c.valid || c.code == 127)
            return false;
        at += c.length;
    }
    return !IsDeviceName(name) && !EndsWithName(name, PendingSuffix) && !EndsWithName(name, BackupSuffix) &&
           !EndsWithName(name, RestoringSuffix) && !IsStubFile(name);
}

std::string_view RecordErrorText(RecordError error)
{
    switch (error) {
    case RecordError::none:
        return "well formed";
    case RecordError::header:
        return "it is not of a known version";
    case RecordError::truncated:
        return "it is cut short";
    case RecordError::garbled:
        return "a line is garbled";
    case RecordError::badName:
        return "it names a file outside the program's folder";
    case RecordError::duplicate:
        return "it names one file twice";
    case RecordError::tooMany:
        return "it lists too many files";
    }
    return "it is unreadable";
}

RecordError ReadManifest(std::string_view text, Manifest& manifest)
{
    manifest = Manifest{};
    std::string_view body;
    if (const RecordError error = OpenRecord(text, ManifestHeader, body); error != RecordError::none)
        return error;
    std::string_view first = body;
    std::string_view line;
    if (TakeLine(first, line) && line.size() >= 8 && Slice(line, 0, 8) == "product\t") {
        std::string_view field;
        std::uint64_t id = 0;
        TakeField(line, field);
        if (!TakeField(line, field) || !ParseNumber(field, id) || id > UINT32_MAX ||
            !ParseNumber(line, manifest.product.creationTime))
            return RecordError::garbled;
        manifest.product.id = static_cast<std::uint32_t>(id);
        body = first;
    }
    std::string_view updater = body;
    if (!TakeLine(updater, line))
        return RecordError::truncated;
    if (!TaggedLine(line, "updater", manifest.updater))
        return RecordError::garbled;
    if (!IsPlainFileName(manifest.updater))
        return RecordError::badName;
    body = updater;
    std::size_t count = 0;
    std::string_view endLine;
    std::string_view after;
    if (!CountEntries(body, "end", count, endLine, after))
        return RecordError::truncated;
    std::uint64_t declared = 0;
    if (!CountLine(endLine, "end", declared) || declared != count || !after.empty())
        return RecordError::garbled;
    if (count > MaxReleaseFiles)
        return RecordError::tooMany;
    const RecordError error = CheckEntries<ManifestFile>(
        body, count, ParseManifestFile, [](const ManifestFile& file) {
            return NameCheck{file.name, IsPlainFileName(file.name)};
        });
    if (error != RecordError::none)
        return error;
    manifest.fileCount = count;
    manifest.fileLines = body;
    return RecordError::none;
}

bool NextManifestFile(std::string_view& lines, ManifestFile& file)
{
    std::string_view line;
    return TakeLine(lines, line) && ParseManifestFile(line, file);
}

bool DigestMatches(std::string_view hex, const unsigned char (&digest)[32])
{
    if (!IsHexDigest(hex))
        return false;
    for (std::size_t i = 0; i < 32; ++i) {
        if (HexValue(hex[2 * i]) * 16 + HexValue(hex[2 * i + 1]) != digest[i])
            return false;
    }
    return true;
}

RecordError ReadJournal(std::string_view text, Journal& journal)
{
    journal = Journal{};
    std::string_view body;
    int version = 2;
    RecordError error = OpenRecord(text, JournalHeader, body);
    if (error == RecordError::header) {
        version = 1;
        error = OpenRecord(text, JournalHeaderV1, body);
    }
    if (error != RecordError::none)
        return error;
    std::size_t count = 0;
    std::string_view endLine;
    std::string_view after;
    if (!CountEntries(body, "planned", count, endLine, after))
        return RecordError::truncated;
    std::uint64_t declared = 0;
    if (!CountLine(endLine, "planned", declared) || declared != count)
        return RecordError::garbled;
    if (count > MaxReleaseFiles)
        return RecordError::tooMany;
    // Only a whole commit line counts: a cut one is no commit.
    if (!IsCommitTail(after))
        return RecordError::garbled;
    error = CheckEntries<JournalMove>(
        body, count, [version](std::string_view line, JournalMove& move) { return ParseJournalMove(line, move, version); },
        [version](const JournalMove& move) {
            return NameCheck{move.target, IsPendingName(move.pending) && IsPlainFileName(move.target) &&
                                              (version == 1 || IsDownloadOf(move.pending, move.target))};
        });
    if (error != RecordError::none)
        return error;
    journal.version = version;
    journal.moveCount = count;
    journal.committed = after == JournalCommitLine;
    journal.moveLines = body;
    return RecordError::none;
}

bool NextJournalMove(std::string_view& lines, JournalMove& move)
{
    std::string_view line;
    return TakeLine(lines, line) && ParseJournalMove(line, move, TabsIn(line) == 4 ? 2 : 1);
}

RecordError ReadOutcome(std::string_view text, Outcome& outcome)
{
    outcome = Outcome{};
    std::string_view body;
    if (const RecordError error = OpenRecord(text, OutcomeHeader, body); error != RecordError::none)
        return error;
    std::string_view exitLine;
    std::string_view textLine;
    std::string_view endLine;
    if (!TakeLine(body, exitLine) || !TakeLine(body, textLine) || !TakeLine(body, endLine))
        return RecordError::truncated;
    std::uint64_t code = 0;
    std::string_view tag;
    if (!CountLine(exitLine, "exit", code) || code > 255 || !TakeField(textLine, tag) || tag != "text" ||
        endLine != "end" || !body.empty())
        return RecordError::garbled;
    outcome.code = static_cast<int>(code);
    outcome.text = textLine;
    return RecordError::none;
}

RecordText& RecordText::Add(std::string_view text)
{
    if (cut_ || text.size() > capacity_ - size_) {
        cut_ = true;
        return *this;
    }
    for (char c : text)
        buffer_[size_++] = c;
    return *this;
}

RecordText& RecordText::AddNumber(std::uint64_t value)
{
    char digits[20];
    std::size_t length = 0;
    do {
        digits[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char ordered[20];
    for (std::size_t i = 0; i < length; ++i)
        ordered[i] = digits[length - 1 - i];
    return Add(std::string_view(ordered, length));
}

void WriteJournalHeader(RecordText& out)
{
    out.Add(JournalHeader).Add("\n");
}

void WriteJournalMove(RecordText& out, const JournalMove& move)
{
    out.Add("move\t").Add(move.hadTarget ? "1" : "0").Add("\t").Add(move.sha256).Add("\t").Add(move.pending);
    out.Add("\t").Add(move.target).Add("\n");
}

void WriteJournalPlanned(RecordText& out, std::size_t count)
{
    out.Add("planned\t").AddNumber(count).Add("\n");
}

void WriteOutcome(RecordText& out, int code, std::string_view text)
{
    out.Add(OutcomeHeader).Add("\nexit\t").AddNumber(static_cast<std::uint64_t>(code)).Add("\ntext\t");
    // The text is one line: line breaks and tabs become blanks.
    for (char c : text)
        out.Add(c == '\n' || c == '\r' || c == '\t' ? std::string_view(" ") : std::string_view(&c, 1));
    out.Add("\nend\n");
}
