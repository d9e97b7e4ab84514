#pragma once
// Finding the program in a free-form startup command line: where it ends,
// its full path, the line with every recognised file quoted in full, and the
// file that stands for the command (for its icon). Platform-free: everything
// that asks the file system or the shell goes through a CmdLnSystem, so the
// same rules run against the real system (CmdLnSystem.h) and an in-memory one.
//
// No function here raises on bad input. A line longer than
// kMaxCommandLineLength, or holding a control character other than a tab
// between its first and last printable character, names nothing: -1, false, an empty text or
// the sentinel. The cap also bounds the time of the search for the program,
// which tries the line up to each of its blanks.
//
// Unquoted lines are split at blanks (spaces and tabs) from the longest
// candidate down, and never at a blank inside a path that exists up to its
// next backslash, so a file planted at the first blank of a path with blanks
// (C:\Program.exe for C:\Program Files\...) is never taken for the program,
// while a relative path after the program (tool.exe data\cfg.ini) is an
// argument. A program in leading quotes is that quoted text; when the whole
// line is in quotes and names no program as a whole, it is split inside them.
// The arguments are kept whole, and every name found is replaced only where
// it stands.

#include <string>
#include <string_view>

// The file-system and shell services the parser needs. Implementations must
// not throw for names that do not exist.
class CmdLnSystem {
public:
    virtual ~CmdLnSystem() = default;

    // A directory search for the name finds an entry (file or folder; a name
    // with wildcards when anything matches).
    virtual bool Exists(const std::string& path) const = 0;
    // The name as a full path, relative to the current folder.
    virtual std::string FullPath(const std::string& path) const = 0;
    // The program the shell would start for the file, or empty when it names
    // none.
    virtual std::string FindProgramFor(const std::string& file) const = 0;
    // The path with long names for short ones; unchanged when the shell
    // cannot parse it.
    virtual std::string LongForm(const std::string& path) const = 0;
    // %NAME% references replaced by their values; unknown names stay.
    virtual std::string ExpandEnvVars(const std::string& text) const = 0;
    // The value of an environment variable, empty when it is not set.
    virtual std::string GetEnvVar(const std::string& name) const = 0;

protected:
    CmdLnSystem() = default;
    CmdLnSystem(const CmdLnSystem&) = default;
    CmdLnSystem& operator=(const CmdLnSystem&) = default;
};

inline constexpr std::size_t kMaxCommandLineLength = 2048;

// Stands for a command line in which no program was found; the quotes belong
// to the text.
inline constexpr std::string_view kNoProgramSentinel = "\"ThisFileWillNeverExists.exe\"";

std::string CleanPath(const CmdLnSystem& sys, std::string_view s);
std::string ResolveProgramPath(const CmdLnSystem& sys, std::string_view s);
// 1-based position where the program part ends, or -1.
int FindProgramEnd(const CmdLnSystem& sys, std::string_view cmd);
// On false both outputs are left untouched.
bool SplitCommandLine(const CmdLnSystem& sys, std::string_view cmd, std::string& program,
                      std::string& parameters);
std::string ExtractProgramPath(const CmdLnSystem& sys, std::string_view cmd);
std::string NormalizeCommandLine(const CmdLnSystem& sys, std::string_view cmd);
bool IsRundllCommand(std::string_view s);
std::string ExtractProgramFile(const CmdLnSystem& sys, std::string_view cmd);
