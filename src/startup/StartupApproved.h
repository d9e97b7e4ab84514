#pragma once
// Task Manager's choices for the entries of a startup location, where Windows
// 8 and later keep them: values named like the entries (a Startup file by its
// file name) under Explorer's "StartupApproved" key of the same root, "Run"
// for a Run key, "Run32" for the 32-bit view of the machine's Run key and
// "StartupFolder" for a Startup folder. How a value reads is
// core/ApprovalValue.h. The machine's key is read in the 64-bit view first,
// then in the 32-bit view; it is written in the 64-bit view, where Task
// Manager reads it. Other locations have no choices. Nothing here raises.
#include "startup/uStartupMgr.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

// Every usable choice of the location, by upper-cased entry name (UpperText),
// each the value's bytes.
class TApprovals {
public:
    explicit TApprovals(const TStpDesc& location);
    // The choice recorded for the entry, if it is a usable one.
    std::optional<std::string> Find(std::string_view entry) const;

private:
    std::map<std::string, std::string> choices_;
};

// Writes the bytes as the entry's choice and flushes the key, so that a
// store may forget the choice once this returned; false when the location
// has no choices or the key cannot be written.
bool WriteApproval(const TStpDesc& location, std::string_view entry, std::string_view bytes);
