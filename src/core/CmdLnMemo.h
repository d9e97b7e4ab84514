#pragma once
// Another system's answers to the command-line parser, remembered for one
// pass over many lines (a take-over of a whole Run key), where the same
// programs and folders come up again and again and each question asked of
// the real file system or shell costs milliseconds. Only for as long as the
// file system may be taken to stand still: make one per pass.
//
// Besides repeating answers it never asks about a name below a folder that
// does not exist: "C:\Tools\app.exe -x" and "C:\Tools\app.exe -y" are
// answered by one question about their folder, and "...\cmd.exe /c a" (whose
// last part follows the folder "cmd.exe ", which no path reaches through) by
// none. That holds for absolute drive paths only; a share's root, which a
// directory search does not find, is always asked.
// Platform-free; not thread-safe.
#include "core/CmdLnUtils.h"

#include <string>
#include <unordered_map>

class MemoCmdLnSystem : public CmdLnSystem {
public:
    // `system` must outlive this object.
    explicit MemoCmdLnSystem(const CmdLnSystem& system) : system_(system) {}

    bool Exists(const std::string& path) const override;
    std::string FullPath(const std::string& path) const override;
    std::string FindProgramFor(const std::string& file) const override;
    std::string LongForm(const std::string& path) const override;
    std::string ExpandEnvVars(const std::string& text) const override;
    std::string GetEnvVar(const std::string& name) const override;

    // Questions that reached the system behind this one.
    std::size_t Asked() const { return asked_; }

private:
    using Answers = std::unordered_map<std::string, std::string>;
    std::string Remembered(Answers& answers, const std::string& question,
                           std::string (CmdLnSystem::*ask)(const std::string&) const) const;

    const CmdLnSystem& system_;
    mutable std::unordered_map<std::string, bool> exists_;
    mutable Answers fullPaths_, programs_, longForms_, expanded_, variables_;
    mutable std::size_t asked_ = 0;
};
