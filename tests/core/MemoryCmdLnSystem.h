#pragma once
// An in-memory file system and shell for the command-line parser, modelled on
// what the real services answer under Wine: names compare without regard to
// case, the shell finds a bare name in the current folder and along PATH (with
// ".exe" added when it has no extension) and then in App Paths, and answers
// only with programs (no document associations). Platform-free.

#include "core/CmdLnUtils.h"

#include <string>
#include <string_view>
#include <unordered_map>

class MemoryCmdLnSystem : public CmdLnSystem {
public:
    explicit MemoryCmdLnSystem(std::string currentFolder);

    // Full paths; missing parent folders are created.
    void AddFile(std::string_view path);
    void AddFolder(std::string_view path);
    void SetEnv(std::string_view name, std::string_view value);
    // The App Paths entry of a program name ("viewer.exe").
    void AddAppPath(std::string_view name, std::string_view program);

    bool Exists(const std::string& path) const override;
    std::string FullPath(const std::string& path) const override;
    std::string FindProgramFor(const std::string& file) const override;
    std::string LongForm(const std::string& path) const override;
    std::string ExpandEnvVars(const std::string& text) const override;
    std::string GetEnvVar(const std::string& name) const override;

private:
    struct Entry {
        std::string path;
        bool folder = false;
    };

    const Entry* Find(const std::string& path) const;
    bool AnyMatch(const std::string& full) const;
    std::string SearchFolders(const std::string& name) const;

    std::string current_;
    std::unordered_map<std::string, Entry> entries_;
    std::unordered_map<std::string, std::string> env_;
    std::unordered_map<std::string, std::string> appPaths_;
};
