#pragma once
// Puts the watched locations of the test prefix into a known state: the Run
// keys of the machine (in each of its registry views) and the user without
// values and without a store, and
// both Startup folders empty. Restores nothing: the prefix belongs to the tests.
#include "common/ForgettingFolder.h"
#include "startup/uStartupMgr.h"
#include "winutil/RegKey.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

// Also empties the location's StartupApproved keys (Task Manager's choices).
void ClearLocation(std::uint8_t location);
// Explorer's StartupApproved key of that name ("Run", "Run32",
// "StartupFolder") under the root, created when missing.
RegKey OpenApprovedKey(HKEY root, const char* name, REGSAM view = 0);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
// `view`: KEY_WOW64_32KEY or KEY_WOW64_64KEY, or 0 for the test's own.
RegKey OpenRunKey(std::uint8_t location, REGSAM view = 0);

// The user's Startup folder (location 9) moved to `folder`, created here,
// through Explorer's "User Shell Folders" value while the object lives: a
// test's folder on forgetfs. Ready() tells whether all of it took and what
// did not. The end empties the location and puts the earlier value back; a
// failure to put it back fails the test.
class StartupFolderScope {
public:
    explicit StartupFolderScope(const std::string& folder);
    ~StartupFolderScope();
    StartupFolderScope(const StartupFolderScope&) = delete;
    StartupFolderScope& operator=(const StartupFolderScope&) = delete;

    const testing::AssertionResult& Ready() const { return ready_; }

private:
    RegKey shellFolders_;
    std::optional<std::string> before_;
    bool written_ = false;
    testing::AssertionResult ready_ = testing::AssertionSuccess();
};

// The user's Startup folder moved to "StartUp" in a folder on forgetfs while
// the object lives, for the power-cut tests. When forgetfs is unavailable
// nothing is moved: a test asks Unavailable() first and skips with that text.
class ForgettingStartupFolder {
public:
    ForgettingStartupFolder();

    const std::string& Unavailable() const { return disk_.Unavailable(); }
    testing::AssertionResult Ready() const;
    // Without a trailing backslash.
    const std::string& Folder() const { return folder_; }
    void PowerCut() const { disk_.PowerCut(); }

private:
    ForgettingFolder disk_;
    std::string folder_ = disk_.Path() + "StartUp";
    std::optional<StartupFolderScope> startup_;
};
