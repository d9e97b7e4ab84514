#pragma once
// TSettings: integers in an INI file, each write reaching the file at once.
// Failures are not raised: a value that is missing or not a whole number
// reads as 0 and a failed write returns false.
#include "winutil/ProfileFile.h"

#include <string>
#include <string_view>

class TSettings {
public:
    explicit TSettings(std::string fileName) : file_(std::move(fileName)) {}

    const std::string& FileName() const { return file_.path(); }
    long ReadInteger(std::string_view section, std::string_view key) const;
    bool WriteInteger(std::string_view section, std::string_view key, long value) const;

private:
    ProfileFile file_;
};
