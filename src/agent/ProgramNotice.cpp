#include "ProgramNotice.h"

#include "core/Utf8.h"

namespace {

constexpr std::size_t kNamesInSummary = 3;

std::string PublisherText(const TNewProgram& program)
{
    return program.publisher.empty() ? "unknown publisher" : program.publisher;
}

// Cut between characters, never inside one.
std::string Bounded(const std::string& text, std::size_t most)
{
    const std::size_t bytes = Utf8PrefixLength(text, most);
    return bytes == text.size() ? text : text.substr(0, Utf8PrefixLength(text, most - 3)) + "...";
}

} // namespace

std::string NoticeLogLine(const TNewProgram& program)
{
    return "New startup program \"" + program.name + "\" taken over from " + program.caption + ": " +
           (program.file.empty() ? "program file unknown" : program.file) + ", " + PublisherText(program) +
           ", " + program.signature + ".";
}

TNoticeText NoticeBalloon(const std::vector<TNewProgram>& programs)
{
    if (programs.empty())
        return {};
    if (programs.size() == 1) {
        const TNewProgram& program = programs.front();
        return {Bounded("New startup program: " + program.name, kBalloonTitleMax),
                Bounded(program.caption + "\r\n" + PublisherText(program) + "\r\n" + program.signature,
                        kBalloonTextMax)};
    }
    std::string names;
    for (std::size_t i = 0; i < programs.size() && i < kNamesInSummary; ++i)
        names += (i ? ", " : "") + programs[i].name;
    if (programs.size() > kNamesInSummary)
        names += " and " + std::to_string(programs.size() - kNamesInSummary) + " more";
    return {std::to_string(programs.size()) + " new startup programs",
            Bounded("Taken over: " + names + ". The agent's log names each one.", kBalloonTextMax)};
}
