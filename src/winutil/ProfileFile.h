#pragma once
// An INI file read and written key by key on disk through the system's
// profile services. The services strip one pair of surrounding quotes and
// surrounding blanks from what they read, so values that would lose them are
// written wrapped in quotes. Section names are read with a buffer that grows
// until the list fits, since the service cuts silently. Paths and text are
// UTF-8; the services are called through their wide ("W") functions.
//
// How the programs' INI files (Keldora.ini, config.dat, update.ini) are
// encoded, for this class and for every other reader and writer of them:
// - a file that begins with the byte-order mark FF FE is UTF-16 LE; any other
//   file is in the ANSI code page, as older versions wrote it, and is read so;
// - a file is written in the ANSI code page while that code page holds all of
//   its text; text it cannot hold (the system would write "?") first turns
//   the file into UTF-16 LE with the byte-order mark, which the profile
//   services read and write in both their ANSI and wide forms, and the file
//   stays so. A missing file is created in UTF-16 LE only when its first text
//   needs it;
// - the conversion writes a new file beside the old one (hidden, named like
//   it with ".utf16" appended) and moves it over the old one in one step: a
//   crash leaves the old file whole or the new one, never part of either; at
//   worst the hidden new file is left beside it and the next conversion
//   writes it again.
#include "core/ProfileSections.h"

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ProfileFile {
public:
    // The longest value ReadString reads whole, in UTF-16 code units: a
    // longer one comes back cut.
    static constexpr std::size_t LongestWholeValue = 65534;

    explicit ProfileFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    std::vector<std::string> SectionNames() const;
    bool HasKey(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback = {}) const;
    // A value that is not a whole decimal number reads as the fallback.
    long ReadInteger(std::string_view section, std::string_view key, long fallback) const;
    bool WriteString(std::string_view section, std::string_view key, std::string_view value) const;
    bool WriteInteger(std::string_view section, std::string_view key, long value) const;
    bool EraseSection(std::string_view section) const;
    bool HasSection(std::string_view section) const;
    // The whole file in one read, for a reader of many keys; nothing when it
    // cannot be read (the system's error is kept), empty when it is missing.
    std::optional<ProfileSections> ReadAll() const;
    // Replaces the whole section in one write: each profile write rewrites
    // the file, so a new section is cheaper written at once than key by key.
    bool WriteSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& values) const;

private:
    // Makes sure the file can hold the text (see above); false when it cannot be converted.
    bool Prepare(std::initializer_list<std::string_view> texts) const;
    bool ConvertToUtf16() const;

    std::string path_;
};

enum class ProfileEncoding { Ansi, Utf16 };

// The encoding of a profile file's bytes.
ProfileEncoding ProfileEncodingOf(std::string_view bytes);
// A profile file's bytes as UTF-8 text, without the byte-order mark (an odd
// last byte of a UTF-16 file is no character and is dropped).
std::string ProfileTextFromBytes(std::string_view bytes);
// UTF-8 text as the bytes of a profile file: in the ANSI code page when the
// file is ANSI and the code page holds the whole text, else UTF-16 LE with
// its byte-order mark.
std::string ProfileBytesFromText(std::string_view text, ProfileEncoding encoding);
// Whether the ANSI code page holds the text exactly.
bool FitsAnsiCodePage(std::string_view text);

// Whole decimal number with an optional sign, nothing else; false otherwise.
bool ParseInteger(std::string_view text, long& value);
