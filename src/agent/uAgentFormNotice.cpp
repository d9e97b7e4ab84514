// The start balloon and the notices of new startup programs.
#include "uAgentForm.h"

#include "AgentResources.h"
#include "ProgramFacts.h"
#include "common/LogFile.h"
#include "common/Environment.h"
#include "core/StrCon.h"

// The first-run greeting and, once per session, that the machine-wide
// entries wait for an elevated start; one balloon holds both.
void TAgentForm::ShowStartBalloon()
{
    std::string text = FShowBalloon ? LoadResourceString(IDS_BALLOON_TEXT) : std::string();
    if (!FMachineWide)
        text += (text.empty() ? "" : "\r\n") + LoadResourceString(IDS_NEED_ELEVATION);
    if (!FShowIcon || text.empty())
        return;
    FCoolTrayIcon->ShowBalloonHint(LoadResourceString(IDS_BALLOON_TITLE), text, TBalloonHintIcon::bitInfo,
                                   /*seconds=*/kBalloonMs / 1000);
    FStartBalloonShown = GetTickCount();
}

// The entries this take-over stamped (StartupItemFields.h), each named once
// in the agent's life; the agent's own item is no program that came in.
void TAgentForm::AnnounceNewPrograms(const std::string& since)
{
    const std::string agentItem = LoadResourceString(IDS_AGENT_ITEM_DESC);
    auto fresh = std::make_shared<std::vector<TStartupItem>>();
    for (const TStartupItem& item : FItems) {
        if (item.TakenOver.view() >= since && item.Desc.view() != agentItem &&
            FAnnounced.insert(std::to_string(item.Location) + "\n" + item.Desc.str()).second)
            fresh->push_back(item);
    }
    if (fresh->empty())
        return;
    auto programs = std::make_shared<std::vector<TNewProgram>>();
    // The log is written here too, in one go: a storm's thousands of lines
    // would hold up the window's thread.
    FNoticeWorker->Post(
        [fresh, programs, log = LogFile()] {
            std::vector<std::string> lines;
            for (const TStartupItem& item : *fresh) {
                programs->push_back(ReadProgramFacts(item));
                lines.push_back(NoticeLogLine(programs->back()));
            }
            AppendLogFile(log, lines);
        },
        [this, programs](const std::string&) { ShowNotice(*programs); });
}

void TAgentForm::ShowNotice(const std::vector<TNewProgram>& programs)
{
    if (FSessionEnded || FClosing || !FShowBalloon || !FShowIcon)
        return;
    FWaitingNotice.insert(FWaitingNotice.end(), programs.begin(), programs.end());
    // The start balloon is read first; what comes meanwhile is one notice after it.
    const DWORD shown = FStartBalloonShown ? GetTickCount() - *FStartBalloonShown : kBalloonMs;
    if (shown < kBalloonMs && SetTimer(Handle(), kNoticeTimerId, kBalloonMs - shown, nullptr))
        return;
    ShowWaitingNotice();
}

void TAgentForm::ShowWaitingNotice()
{
    KillTimer(Handle(), kNoticeTimerId);
    if (FWaitingNotice.empty() || FSessionEnded || FClosing)
        return;
    const TNoticeText notice = NoticeBalloon(FWaitingNotice);
    FWaitingNotice.clear();
    FCoolTrayIcon->ShowBalloonHint(notice.title, notice.text, TBalloonHintIcon::bitInfo, /*seconds=*/kBalloonMs / 1000);
    const std::string seam = GetEnvVar("KDAGENT_BALLOON_LOG");
    if (!seam.empty())
        AppendLogFile(seam, notice.title + "|" + ReplaceAll("\r\n", " / ", notice.text));
}
