// Command lines against the corpus file system. "@" in the input stands for
#include "FuzzRequire.h"
// the corpus root with a backslash, so that short inputs reach real files.
#include "core/CmdLnUtils.h"
#include "core/LaunchRules.h"
#include "core/StrCon.h"

#include "core/CmdLnCorpus.h"
#include "core/MemoryCmdLnSystem.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kRoot = "C:\\KdCorpus";


const MemoryCmdLnSystem& System()
{
    static const MemoryCmdLnSystem sys = [] {
        MemoryCmdLnSystem s("C:\\Work");
        FillCorpusSystem(s, kRoot);
        return s;
    }();
    return sys;
}

bool IsTrimmed(const std::string& text)
{
    return TrimUpTo(text, ' ') == text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const MemoryCmdLnSystem& sys = System();
    const std::string line = ReplaceAll("@", std::string(kRoot) + "\\", std::string(reinterpret_cast<const char*>(data), size));

    std::string program;
    std::string parameters;
    const bool split = SplitCommandLine(sys, line, program, parameters);
    const int end = FindProgramEnd(sys, line);
    if (split) {
        Require(end >= 1 && static_cast<size_t>(end) <= line.size() + 1, "end lies in the line");
        Require(sys.Exists(program), "the program exists");
        Require(IsTrimmed(parameters), "parameters are trimmed");
        Require(line.find(parameters) != std::string::npos, "parameters come from the line");
        Require(ExtractProgramPath(sys, line) == program, "ExtractProgramPath agrees");
    } else {
        Require(program.empty() && parameters.empty(), "outputs untouched on failure");
    }
    if (line.size() > kMaxCommandLineLength)
        Require(!split && end == -1, "over-long lines name nothing");

    const std::string normalized = NormalizeCommandLine(sys, line);
    Require(!normalized.empty(), "a normalised line is never empty");
    ExtractProgramFile(sys, line);
    ResolveProgramPath(sys, line);

    // The line as a document's open command from the registry.
    const std::string document = "C:\\My Docs\\d%1.txt";
    Require(FillOpenCommand(line, document).find(document) != std::string::npos, "the document is in its command");
    const int show = ShortcutShowCommand(std::string_view(reinterpret_cast<const char*>(data), size));
    Require(show == 1 || show == 3 || show == 7, "a shortcut shows normally, maximised or minimised");
    return 0;
}
