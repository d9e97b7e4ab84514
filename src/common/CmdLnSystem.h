#pragma once
// The command-line parser's view of the running system: directory searches
// with critical-error boxes suppressed, the shell's program lookup
// (FindExecutableW), long names through the desktop folder's name parsing,
// and the process environment. Paths are UTF-8. Stateless; safe from any thread (the shell
// calls run in whatever COM apartment the caller has, or none).

#include "core/CmdLnUtils.h"

#include <string>
#include <string_view>

class WindowsCmdLnSystem : public CmdLnSystem {
public:
    bool Exists(const std::string& path) const override;
    std::string FullPath(const std::string& path) const override;
    std::string FindProgramFor(const std::string& file) const override;
    std::string LongForm(const std::string& path) const override;
    std::string ExpandEnvVars(const std::string& text) const override;
    std::string GetEnvVar(const std::string& name) const override;
};

// The instance every caller of the parser on Windows uses.
const CmdLnSystem& SystemCmdLn();
