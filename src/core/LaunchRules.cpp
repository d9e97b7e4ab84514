#include "LaunchRules.h"

#include "core/Quote.h"
#include "core/StrCon.h"

#include <algorithm>

namespace {

void AddOnce(std::vector<std::string>& list, std::string item)
{
    if (std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(std::move(item));
}

}  // namespace

bool IsSafeSpelling(const CmdLnSystem& sys, std::string_view commandLine)
{
    const int end = FindProgramEnd(sys, commandLine);
    if (end < 1)
        return false;
    const std::string program = TrimUpTo(commandLine.substr(0, static_cast<std::size_t>(end)), ' ');
    return FirstChar(program) == '"' || !HasChar(' ', program);
}

std::vector<std::string> LaunchCandidates(const CmdLnSystem& sys, std::string_view commandLine,
                                          const std::string& program, const std::string& parameters)
{
    std::vector<std::string> candidates{TrimUpTo(QuoteText(program, '"') + " " + parameters, ' ')};
    if (IsSafeSpelling(sys, commandLine))
        AddOnce(candidates, TrimUpTo(commandLine, ' '));
    if (!HasChar(' ', program))
        AddOnce(candidates, TrimUpTo(program + " " + parameters, ' '));
    return candidates;
}
