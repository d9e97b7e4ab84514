#pragma once
// An INI file read and written key by key on disk through the system's
// profile services. The services strip one pair of surrounding quotes and
// surrounding blanks from what they read, so values that would lose them are
// written wrapped in quotes. Section names are read with a buffer that grows
// until the list fits, since the service cuts silently.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

class ProfileFile {
public:
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
    // Replaces the whole section in one write: each profile write rewrites
    // the file, so a new section is cheaper written at once than key by key.
    bool WriteSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& values) const;

private:
    std::string path_;
};

// Whole decimal number with an optional sign, nothing else; false otherwise.
bool ParseInteger(std::string_view text, long& value);
