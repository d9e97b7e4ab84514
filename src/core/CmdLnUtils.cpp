#include "core/CmdLnUtils.h"

#include "core/CmdLnTokens.h"
#include "core/Quote.h"
#include "core/StrCon.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < ' ';
}

bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

bool IsQuote(char c)
{
    return c == '"';
}

// A tab separates words like a space.
bool IsWordBreak(char c)
{
    return c == ' ' || c == '\t';
}

bool IsAcceptable(std::string_view line)
{
    if (line.size() > kMaxCommandLineLength)
        return false;
    const std::string core = TrimUpTo(line, ' ');
    return std::none_of(core.begin(), core.end(), [](char c) { return IsControl(c) && !IsWordBreak(c); });
}

std::size_t SkipWhile(std::string_view s, std::size_t i, bool (*skip)(char))
{
    while (i < s.size() && skip(s[i]))
        ++i;
    return i;
}

// Two backslashes before the first name character, possibly behind blanks
// and opening quotes: a UNC or device path whose prefix must survive the
// trimming.
bool HasUncPrefix(std::string_view s)
{
    std::size_t i = SkipWhile(s, 0, IsBlank);
    i = SkipWhile(s, i, IsQuote);
    i = SkipWhile(s, i, IsBlank);
    if (s.substr(i, 2) != "\\\\")
        return false;
    i = SkipWhile(s, i, [](char c) { return c == '\\'; });
    return i < s.size() && !IsQuote(s[i]) && !IsBlank(s[i]);
}

std::string ExistingPath(const CmdLnSystem& sys, const std::string& p)
{
    if (sys.Exists(p))
        return sys.FullPath(p);
    const std::string withExe = p + ".exe";
    if (sys.Exists(withExe))
        return sys.FullPath(withExe);
    return {};
}

bool IsLibraryName(const std::string& name)
{
    if (!HasChar('.', name))
        return false;
    const std::string ext = TextAfterLast(".", name);
    return SameText(ext, "dll") || SameText(ext, "cpl");
}

std::string SearchPathVariable(const CmdLnSystem& sys, const std::string& name)
{
    std::string rest = sys.ExpandEnvVars(sys.GetEnvVar("PATH"));
    std::string element;
    for (;;) {
        const std::size_t before = rest.size();
        NextToken(";", rest, element);
        const std::string folder = RemoveChar(element, '"');
        if (folder.empty())
            return {};
        const std::string candidate = AddBackslash(folder) + name;
        if (sys.Exists(candidate))
            return candidate;
        if (rest.size() >= before)
            return {};
    }
}

// Where the program of a line ends (1-based, as FindProgramEnd reports it),
// its resolved path, and where the arguments end (a whole line in quotes
// ends them at its closing quote).
struct ProgramMatch {
    std::size_t end = 0;
    std::string program;
    std::size_t argumentsEnd = std::string_view::npos;
};

// A program in leading quotes, doubled quotes included; unbalanced quotes
// are no quoting at all.
struct LeadingQuote {
    std::string text;
    std::size_t start = 0;
    std::size_t lastQuote = 0;
};

std::optional<LeadingQuote> FindLeadingQuote(std::string_view cmd)
{
    std::size_t i = SkipWhile(cmd, 0, IsPatternSpace);
    if (i == cmd.size() || !IsQuote(cmd[i]))
        return std::nullopt;
    i = SkipWhile(cmd, i, IsQuote);
    const std::size_t close = cmd.find('"', i);
    if (close == std::string_view::npos)
        return std::nullopt;
    return LeadingQuote{std::string(cmd.substr(i, close - i)), i, SkipWhile(cmd, close, IsQuote) - 1};
}

std::vector<std::size_t> BlankPositions(std::string_view text)
{
    std::vector<std::size_t> blanks;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (IsWordBreak(text[i]))
            blanks.push_back(i);
    return blanks;
}

// A blank inside a path: the text up to the next backslash after it names
// something that exists (C:\Program Files, C:\Documents and Settings). A
// program planted at such a blank (C:\Program.exe) is never the program; a
// relative path after a program (tool.exe data\cfg.ini) names nothing there.
bool IsInsidePath(const CmdLnSystem& sys, std::string_view text, std::size_t blank)
{
    const std::size_t backslash = text.find('\\', blank);
    if (backslash == std::string_view::npos)
        return false;
    // ".\" and "..\" begin a relative path; the system would also drop the
    // dots from "tool.exe ." and find the program itself.
    const std::string_view word = text.substr(blank + 1, backslash - blank - 1);
    if (word.find_first_not_of(". \t") == std::string_view::npos)
        return false;
    const std::string folder = CleanPath(sys, RemoveChar(text.substr(0, backslash), '"'));
    return !folder.empty() && sys.Exists(folder);
}

// Unquoted line: the longest part before a blank (or the whole line) that
// names a program wins, so the first blank of a path with blanks never ends
// the program while the full path exists; a blank inside an existing path
// never ends it at all.
std::optional<ProgramMatch> FindUnquotedProgram(const CmdLnSystem& sys, std::string_view text)
{
    std::string whole = ResolveProgramPath(sys, RemoveChar(text, '"'));
    if (!whole.empty())
        return ProgramMatch{text.size() + 1, std::move(whole)};
    const std::vector<std::size_t> blanks = BlankPositions(text);
    for (std::size_t k = blanks.size(); k-- > 0;) {
        if (IsInsidePath(sys, text, blanks[k]))
            continue;
        std::string program = ResolveProgramPath(sys, RemoveChar(text.substr(0, blanks[k]), '"'));
        if (!program.empty())
            return ProgramMatch{blanks[k] + 1, std::move(program)};
    }
    return std::nullopt;
}

// "C:\x\app.exe /min" in quotes as a whole: the program and its arguments are
// split inside the quotes as on an unquoted line.
std::optional<ProgramMatch> FindInWholeQuotedLine(const CmdLnSystem& sys, std::string_view cmd,
                                                  const LeadingQuote& quote)
{
    if (TrimUpTo(cmd.substr(quote.lastQuote + 1), ' ').size() != 0)
        return std::nullopt;
    auto inner = FindUnquotedProgram(sys, quote.text);
    if (!inner)
        return std::nullopt;
    inner->end += quote.start;
    inner->argumentsEnd = quote.start + quote.text.size();
    return inner;
}

std::optional<ProgramMatch> FindProgram(const CmdLnSystem& sys, std::string_view cmd)
{
    if (!IsAcceptable(cmd))
        return std::nullopt;
    if (sys.Exists(CleanPath(sys, cmd)))
        return ProgramMatch{cmd.size(), ResolveProgramPath(sys, TrimUpTo(cmd, ' '))};
    if (const auto quote = FindLeadingQuote(cmd)) {
        std::string program = ResolveProgramPath(sys, quote->text);
        if (!program.empty())
            return ProgramMatch{quote->lastQuote + 1, std::move(program)};
        return FindInWholeQuotedLine(sys, cmd, *quote);
    }
    return FindUnquotedProgram(sys, cmd);
}

std::string CollapseQuotes(std::string s)
{
    while (s.find("\"\"") != std::string::npos)
        s = ReplaceAll("\"\"", "\"", s);
    return s;
}

std::string ShellProgramFor(const CmdLnSystem& sys, const std::string& file)
{
    const std::string found = sys.FindProgramFor(file);
    return found.empty() ? found : sys.LongForm(found);
}

// The program at the start of an expanded line, and how many characters of
// the line name it.
struct LeadingProgram {
    std::size_t length = 0;
    std::string program;
};

// The closing quote of a whole line in quotes is dropped from s.
std::optional<LeadingProgram> FindLeadingProgram(const CmdLnSystem& sys, std::string& s)
{
    if (const auto quoted = MatchLeadingQuote(s)) {
        const std::string text = s.substr(quoted->text.position, quoted->text.length);
        std::string program = ShellProgramFor(sys, text);
        if (program.empty())
            program = ResolveProgramPath(sys, text);
        if (!program.empty())
            return LeadingProgram{quoted->length, std::move(program)};
    }
    const auto quote = FindLeadingQuote(s);
    auto match = quote ? FindInWholeQuotedLine(sys, s, *quote) : FindUnquotedProgram(sys, s);
    if (!match)
        return std::nullopt;
    if (match->argumentsEnd < s.size())
        s.erase(match->argumentsEnd, 1);
    return LeadingProgram{std::min(match->end - 1, s.size()), std::move(match->program)};
}

// Each match is replaced where it was found in the text as it stood before
// this pass, so a replacement neither disturbs the walk nor
// rewrites a name inside a longer one.
std::string QuoteFoundFiles(const CmdLnSystem& sys, std::vector<TextSpan> (*findTokens)(std::string_view),
                            std::string s)
{
    const std::string snapshot = s;
    std::size_t added = 0;
    std::size_t removed = 0;
    for (const TextSpan& token : findTokens(snapshot)) {
        const std::string match = snapshot.substr(token.position, token.length);
        if (TrimUpTo(match, ' ').empty())
            continue;
        const std::string file = ResolveProgramPath(sys, CleanPath(sys, match));
        if (file.empty())
            continue;
        const std::string quoted = QuoteText(file, '"');
        s.replace(token.position + added - removed, match.size(), quoted);
        added += quoted.size();
        removed += match.size();
    }
    return s;
}

}  // namespace

std::string CleanPath(const CmdLnSystem& sys, std::string_view s)
{
    const std::string expanded = RemoveChar(sys.ExpandEnvVars(std::string(s)), ',');
    // Blanks go first as well, so that quotes with blanks around them go too.
    std::string path = TrimUpTo(TrimCollapse(TrimCollapse(TrimUpTo(expanded, ' '), '\\'), '"'), ' ');
    if (!HasUncPrefix(expanded))
        return path;
    return "\\\\" + path.substr(path.find_first_not_of('\\'));
}

std::string ResolveProgramPath(const CmdLnSystem& sys, std::string_view s)
{
    const std::string p = CleanPath(sys, s);
    if (p.empty())
        return {};
    if (HasChar('\\', p))
        return ExistingPath(sys, p);
    std::string found = ShellProgramFor(sys, p);
    if (HasChar('\\', found))
        return found;
    return IsLibraryName(p) ? SearchPathVariable(sys, p) : std::string();
}

int FindProgramEnd(const CmdLnSystem& sys, std::string_view cmd)
{
    const auto match = FindProgram(sys, cmd);
    return match ? static_cast<int>(match->end) : -1;
}

bool SplitCommandLine(const CmdLnSystem& sys, std::string_view cmd, std::string& program,
                      std::string& parameters)
{
    auto match = FindProgram(sys, cmd);
    if (!match || match->program.empty())
        return false;
    program = std::move(match->program);
    const std::size_t start = std::min(match->end, cmd.size());
    const std::size_t end = std::min(match->argumentsEnd, cmd.size());
    parameters = TrimUpTo(cmd.substr(start, end > start ? end - start : 0), ' ');
    return true;
}

std::string ExtractProgramPath(const CmdLnSystem& sys, std::string_view cmd)
{
    std::string program;
    std::string parameters;
    return SplitCommandLine(sys, cmd, program, parameters) ? program : std::string();
}

std::string NormalizeCommandLine(const CmdLnSystem& sys, std::string_view cmd)
{
    if (!IsAcceptable(cmd))
        return std::string(kNoProgramSentinel);
    std::string s = sys.ExpandEnvVars(std::string(cmd));
    if (!IsAcceptable(s))
        return std::string(kNoProgramSentinel);
    if (sys.Exists(CleanPath(sys, s)))
        return QuoteText(s, '"');
    s = CollapseQuotes(std::move(s));
    const auto leading = FindLeadingProgram(sys, s);
    if (!leading)
        return std::string(kNoProgramSentinel);
    s.replace(0, leading->length, QuoteText(leading->program, '"'));
    s = QuoteFoundFiles(sys, FindDottedTokens, std::move(s));
    s = QuoteFoundFiles(sys, FindQuotedTokens, std::move(s));
    return CollapseQuotes(std::move(s));
}

bool IsRundllCommand(std::string_view s)
{
    return UpperText(s).find("RUNDLL") != std::string::npos;
}

std::string ExtractProgramFile(const CmdLnSystem& sys, std::string_view cmd)
{
    const std::string s = NormalizeCommandLine(sys, cmd);
    std::optional<std::string> first;
    for (const TextSpan& token : FindQuotedTokens(s)) {
        const std::string match = s.substr(token.position, token.length);
        if (TrimUpTo(match, ' ').empty())
            continue;
        std::string file = CleanPath(sys, match);
        if (!IsRundllCommand(file) && sys.Exists(file))
            return file;
        if (!first)
            first = std::move(file);
    }
    return first.value_or(std::string());
}
