#pragma once
// What the engine keeps beside a download that was cut off, so the next run
// can ask for the rest: the file's address and signed digest (a partial of
// another release is never resumed), the server's validator for If-Range
// and how many bytes were on the disk when the record was written. The
// bytes themselves are never trusted: only the whole file's digest, checked
// after the resume, can tell them good. Platform-free: no <windows.h> here.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The record of "<name>.uTMP" is "<name>.uTMP.resume" in the same folder.
inline constexpr std::string_view ResumeSuffix = ".resume";

struct TauResumeRecord {
    std::string url;
    std::string sha256;     // 32 bytes: the release file's signed digest
    std::string validator;  // a strong ETag or a Last-Modified, as the server sent it
    std::uint64_t length = 0;
};

// "keldora-resume 1", then url, sha256 (hexadecimal), validator and length
// lines ("name<TAB>value"), then "end". Empty when a field cannot be written
// on one line (a control character) or the digest is not 32 bytes.
std::string ResumeRecordText(const TauResumeRecord& record);
// Exactly that form, a length above 0; nullopt for anything else.
std::optional<TauResumeRecord> ParseResumeRecord(std::string_view text);
