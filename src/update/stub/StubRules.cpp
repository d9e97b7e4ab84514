#include "update/stub/StubRules.h"

#include "core/Slice.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

std::string_view TrimBlanks(std::string_view text)
{
    std::size_t from = 0;
    std::size_t to = text.size();
    while (from < to && IsBlank(text[from]))
        ++from;
    while (to > from && IsBlank(text[to - 1]))
        --to;
    return Slice(text, from, to);
}

bool HasSeparator(std::string_view path)
{
    for (char c : path) {
        if (IsSeparator(c))
            return true;
    }
    return false;
}

// A program path must name a file inside a folder: a bare name would be looked
// up in the stub's own working folder, which is not the program's.
bool UsablePath(std::string_view path)
{
    return !path.empty() && HasSeparator(path) && !IsSeparator(path.back());
}

// "+", the restart parameters, then the method digit.
bool ParseRestartArgument(std::string_view argument, StubCommand& command)
{
    if (argument.size() < 2 || argument.front() != '+')
        return false;
    const char method = argument.back();
    if (method != '0' && method != '1')
        return false;
    command.params = Slice(argument, 1, argument.size() - 1);
    command.setupMode = method == '1';
    return true;
}

StubParse ParseQuoted(std::string_view text, const FileProbe& probe, StubCommand& command)
{
    const std::size_t close = text.find('"', 1);
    if (close == std::string_view::npos)
        return StubParse::malformed;
    const std::string_view program = Slice(text, 1, close);
    const std::string_view rest = TrimBlanks(Slice(text, close + 1, text.size()));
    if (!UsablePath(program))
        return StubParse::malformed;
    if (!rest.empty() && !ParseRestartArgument(rest, command))
        return StubParse::malformed;
    command.program = program;
    return probe.FileExists(program) ? StubParse::ok : StubParse::missingProgram;
}

StubParse ParseUnquoted(std::string_view text, const FileProbe& probe, StubCommand& command)
{
    if (text.front() == '+')
        return StubParse::malformed;
    std::size_t firstSplit = std::string_view::npos;
    for (std::size_t plus = text.find('+'); plus != std::string_view::npos; plus = text.find('+', plus + 1)) {
        if (!IsBlank(text[plus - 1]))
            continue;
        if (firstSplit == std::string_view::npos)
            firstSplit = plus;
        const std::string_view program = TrimBlanks(Slice(text, 0, plus));
        if (!UsablePath(program) || !probe.FileExists(program))
            continue;
        if (!ParseRestartArgument(Slice(text, plus, text.size()), command))
            return StubParse::malformed;
        command.program = program;
        return StubParse::ok;
    }
    // A program whose own name holds " +", started without a restart argument.
    if (UsablePath(text) && probe.FileExists(text)) {
        command.program = text;
        return StubParse::ok;
    }
    // Nothing names an existing file: the program is what the first " +"
    // ends, as in every command line the engine writes.
    const std::string_view claimed =
        firstSplit == std::string_view::npos ? text : TrimBlanks(Slice(text, 0, firstSplit));
    if (!UsablePath(claimed))
        return StubParse::malformed;
    command.program = claimed;
    return StubParse::missingProgram;
}

}  // namespace

std::string_view StubArgumentText(std::string_view commandLine)
{
    std::size_t at = 0;
    while (at < commandLine.size() && IsBlank(commandLine[at]))
        ++at;
    if (at < commandLine.size() && commandLine[at] == '"') {
        const std::size_t close = commandLine.find('"', at + 1);
        at = close == std::string_view::npos ? commandLine.size() : close + 1;
    }
    while (at < commandLine.size() && !IsBlank(commandLine[at]))
        ++at;
    while (at < commandLine.size() && IsBlank(commandLine[at]))
        ++at;
    return Slice(commandLine, at, commandLine.size());
}

StubParse ParseStubCommand(std::string_view arguments, const FileProbe& probe, StubCommand& command)
{
    command = StubCommand{};
    const std::string_view text = TrimBlanks(arguments);
    if (text.empty())
        return StubParse::empty;
    return text.front() == '"' ? ParseQuoted(text, probe, command) : ParseUnquoted(text, probe, command);
}

std::string_view FolderOf(std::string_view path)
{
    std::size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1]))
        --end;
    return Slice(path, 0, end);
}

TargetNamer::TargetNamer(bool setupMode, bool ownCopyPending) : setupMode_(setupMode), exeChosen_(ownCopyPending) {}

TargetRole TargetNamer::Role(std::string_view target, bool targetExists)
{
    const bool executable = target.size() >= 3 && Slice(target, target.size() - 3, target.size()) == "exe";
    if (!setupMode_ || exeChosen_ || targetExists || !executable)
        return TargetRole::file;
    exeChosen_ = true;
    return TargetRole::setup;
}

std::uint32_t ParseMilliseconds(std::string_view text, std::uint32_t fallback)
{
    if (text.empty() || text.size() > 10)
        return fallback;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return fallback;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value > 0xFFFFFFFFu ? fallback : static_cast<std::uint32_t>(value);
}
