#pragma once
// What the shell knows about one file: its icon (large, open-state or small),
// icon index, attributes, display name and type name. The caller owns the
// returned icon. A path the shell cannot resolve gives a record without icon.
// Names and paths are UTF-8.
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <string>

struct TFileInfoRecord {
    UniqueIcon icon;
    int iconIndex = 0;
    DWORD attributes = 0;
    std::string displayName;
    std::string typeName;
};

class TFileInfo {
public:
    // Kinds of icon to ask for.
    static constexpr int kSmallIcon = 0;
    static constexpr int kLargeIcon = 1;
    static constexpr int kOpenIcon = 2;

    explicit TFileInfo(std::string fileName) : FFileName(std::move(fileName)) {}

    TFileInfoRecord GetInfo(int kind) const;

private:
    std::string FFileName;
};
