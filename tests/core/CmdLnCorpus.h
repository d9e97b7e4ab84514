#pragma once
// Real-world startup command lines grouped by kind, each with the program and
// arguments it must split into. "{R}" stands for the corpus root folder, where
// the files of CorpusFiles exist. The same rows run against the in-memory
// system natively and against real files under Wine. Platform-free.

#include <string>
#include <string_view>
#include <vector>

class CmdLnSystem;
class MemoryCmdLnSystem;

struct CmdLnCase {
    const char* kind;
    const char* line;
    // nullptr: the line names no program.
    const char* program;
    const char* parameters;
    // Needs a file server (\\server\share), so it runs natively only.
    bool serverPath = false;
};

struct CorpusEnv {
    const char* name;
    const char* value;
};

// The files the rows name, relative to the root. A planted "Program.exe" sits
// beside "Program Files", as an attacker would put it at the first blank.
const std::vector<std::string>& CorpusFiles();
// Variables the rows use; "PATH" lists the root's Bin folder first.
std::vector<CorpusEnv> CorpusEnvironment();
// Program name and target (with "{R}") registered in App Paths.
inline constexpr std::string_view kCorpusAppPathName = "kdviewer.exe";
inline constexpr std::string_view kCorpusAppPathTarget = "{R}\\Apps\\Viewer\\kdview.exe";

const std::vector<CmdLnCase>& CommandLineCorpus();

std::string WithRoot(std::string_view text, std::string_view root);

// An in-memory system holding the corpus files under root, the Windows files
// the rows name, the variables and the App Paths entry.
void FillCorpusSystem(MemoryCmdLnSystem& sys, std::string_view root);

// Empty when SplitCommandLine, FindProgramEnd and ExtractProgramPath agree
// with the row (paths compared without regard to case); otherwise what differs.
std::string CheckCorpusRow(const CmdLnSystem& sys, const CmdLnCase& row, std::string_view root);
