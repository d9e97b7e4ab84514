#pragma once
// The upgrade information file: plain 8-bit text in which the engine looks up
// single "#key=" entries anywhere in the text. Keys match without regard to
// case; values are cut from the text as stored. Only the first occurrence of a
// key counts, even one standing inside another key's value. A missing key is
// an empty value, so no text, however malformed, fails to read.
// Platform-free: no <windows.h> here.

#include "update/auUpgradeTypes.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class TauInfoFileText {
public:
    // The HTTP client keeps at most this much of a body in memory; a longer
    // text is read up to this size only.
    static constexpr std::size_t Limit = 1024 * 1024;

    explicit TauInfoFileText(std::string_view text);

    // From after "#key=" up to the first character below 32 or the end.
    std::string Value(std::string_view key) const;
    // Whether "#key=" stands in the text at all, with an empty value too.
    bool Has(std::string_view key) const { return ValueStart(key) != std::string::npos; }
    // "#key={ ... }": from after the brace up to the first "}" or the end.
    // Empty when the key is missing or its value does not open with "{".
    std::string Block(std::string_view key) const;

    // "url", then "url0", then "url" + N from N = entries so far + 1 up to
    // the first empty value.
    std::vector<std::string> FileList() const;
    // First character "1": external set-up; "2": redirect; else self-upgrade.
    TacUpgradeMethod Method() const;

    // Each file of FileList with the value of its digest key, which the key
    // of its address names: "url" has "sha256", "url0" "sha256_0" and "urlN"
    // "sha256_N". Empty where the digest key is missing.
    std::vector<std::pair<std::string, std::string>> FileDigests() const;
    // The same for the size key: "size", "size_0", "size_N".
    std::vector<std::pair<std::string, std::string>> FileSizes() const;

    // The value of a file's own key of this stem, numbered as its digest
    // key is: the stem alone for "url", stem + "_" + the address key's
    // digits for the others ("zsha256", "zsha256_0", "zsha256_N").
    std::string FileValue(std::string_view stem, const std::string& number) const;

    // The value of a file's patch key: "patch_J" for "url", "patch_<digits>_J" for the others.
    std::string PatchValue(const std::string& number, std::size_t patch) const;

    // The files of FileList, each with the digits that number its key
    // ("" for "url", "0" for "url0"), which the file's other keys share.
    std::vector<std::pair<std::string, std::string>> NumberedFiles() const;

private:
    // Position just past "#key=" in the text, or npos.
    std::size_t ValueStart(std::string_view key) const;
    // The line value starting at `start` (npos: none).
    std::string LineAt(std::size_t start) const;
    // The value of a key of the form stem + digits, looked up in the index.
    std::string NumberedValue(const std::string& key) const;

    std::string text_;
    std::string lowered_;
    // First position past "#url<digits>=", "#sha256_<digits>=", "#size_<digits>=" and the
    // other per-file stems (those of the compressed form and "patch_<digits>[_<digits>]") for each
    // such key, found in one pass so a file of many numbered keys costs no
    // more than one of a few.
    std::unordered_map<std::string, std::size_t> numberedKeys_;
};
