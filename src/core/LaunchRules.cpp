#include "LaunchRules.h"

#include "core/Quote.h"
#include "core/StrCon.h"

#include <algorithm>
#include <cstdint>

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

TStartWay ChooseStartWay(const TStartFacts& facts)
{
    if (!facts.elevated)
        return TStartWay::swAsCaller;
    // Another user's shell (an administrator's account typed in at an
    // elevation prompt) would start the item as the wrong user, and an
    // elevated shell (UAC turned off, a shell started as administrator)
    // would hand the item the rights it must not get.
    if (facts.shellTokenAvailable && facts.sameUser && !facts.shellElevated)
        return TStartWay::swShellToken;
    return TStartWay::swLoweredOwnToken;
}

std::string FillOpenCommand(std::string_view command, const std::string& document)
{
    std::string filled;
    bool placed = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c != '%' || i + 1 == command.size()) {
            filled += c;
            continue;
        }
        const char next = command[++i];
        if (next == '1' || next == 'L' || next == 'l') {
            filled += document;
            placed = true;
        } else if (next == '%') {
            filled += '%';
        } else if (next != '*' && !(next >= '2' && next <= '9')) {
            filled += c;
            filled += next;
        }
    }
    if (!placed)
        filled = TrimUpTo(filled, ' ') + " " + QuoteText(document, '"');
    return TrimUpTo(filled, ' ');
}

int ShortcutShowCommand(std::string_view linkFile)
{
    constexpr int kNormal = 1, kMaximised = 3, kMinimisedInactive = 7;
    // Header size 0x4C, then the shell link class {00021401-0000-0000-C000-000000000046}.
    constexpr unsigned char kStart[] = {0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0, 0, 0, 0, 0,
                                        0xC0, 0, 0, 0,    0,    0,    0,    0x46};
    constexpr std::size_t kHeaderSize = 0x4C, kShowAt = 0x3C;
    if (linkFile.size() < kHeaderSize)
        return kNormal;
    for (std::size_t i = 0; i < sizeof kStart; ++i)
        if (static_cast<unsigned char>(linkFile[i]) != kStart[i])
            return kNormal;
    std::uint32_t show = 0;
    for (std::size_t i = 0; i < 4; ++i)
        show |= static_cast<std::uint32_t>(static_cast<unsigned char>(linkFile[kShowAt + i])) << (8 * i);
    return show == kMaximised || show == kMinimisedInactive ? static_cast<int>(show) : kNormal;
}
