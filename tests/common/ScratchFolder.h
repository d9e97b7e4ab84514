#pragma once
// Test support under Wine: a fresh folder below C:\ removed with everything in
// it at the end, and a process environment variable set for one scope.
#include <optional>
#include <string>
#include <string_view>

class ScratchFolder {
public:
    explicit ScratchFolder(std::string_view prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string PathOf(std::string_view relative) const;
    // Creates the file (and its folders) below the scratch folder.
    std::string AddFile(std::string_view relative, std::string_view content = {}) const;
    std::string CopyIn(const std::string& source, std::string_view relative) const;

private:
    std::string path_;
    std::string created_;  // the topmost folder the constructor made
};

class EnvVarScope {
public:
    EnvVarScope(std::string name, const std::string& value);
    ~EnvVarScope();
    EnvVarScope(const EnvVarScope&) = delete;
    EnvVarScope& operator=(const EnvVarScope&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};
