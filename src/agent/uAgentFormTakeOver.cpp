// When the take-over runs and what the window's thread does with its results.
#include "uAgentForm.h"

#include "common/LogFile.h"
#include "startup/StartupItemFields.h"
#include "winutil/ErrorText.h"

void TAgentForm::EnableTimer(UINT interval)
{
    if (!SetTimer(Handle(), kRefreshTimerId, interval, nullptr))
        throw EWin32Error("SetTimer", GetLastError());
    FTimerInterval = interval;
}

bool TAgentForm::Busy() const
{
    return FMenuStale || FLogonGateWaiting || !FTakeOverWorker->Idle() || !FIconWorker->Idle();
}

// One asked for while the start waits for the stores would queue for them
// ahead of it; the start's own refresh follows.
void TAgentForm::Refresh()
{
    if (!FCreated || FClosing || !FTakeOver || FSessionEnded || FTakeOverWorker->HasWaitingJob())
        return;
    if (FRegisterPending)
        RegisterAgentItemLater();
    auto result = std::make_shared<TTakeOverResult>();
    FTakeOverWorker->Post([takeOver = FTakeOver,
                           result] { *result = takeOver->Run(/*reload=*/true, LogonGateNow); },
                          [this, result, since = keldora::startup::TakeOverTimeNow()](const std::string& failure) {
                              TakeOverDone(std::move(*result), failure, since);
                          });
}

void TAgentForm::TakeOverDone(TTakeOverResult result, const std::string& failure, const std::string& since)
{
    if (FSessionEnded || FClosing)
        return;
    if (result.reloaded) {
        FItems = std::move(result.items);
        FMenuStale = true;
        AnnounceNewPrograms(since);
    }
    FLogonGateWaiting = result.waiting && SetTimer(Handle(), kLogonGateTimerId, kLogonGateRetryMs, nullptr);
    if (result.logonItems)
        StartLogonItemsOnce(*result.logonItems);
    if (!failure.empty())
        result.reports.push_back(failure);
    RebuildWhenFree();
    for (const std::string& report : result.reports)
        ShowError(report);
}

// What take-over moved out of the Startup folders, from the stores as the
// first run that read them whole gave them (LogonStart.h).
void TAgentForm::StartLogonItemsOnce(const std::vector<TStartupItem>& items)
{
    if (FLogonStartDone)
        return;
    FLogonStartDone = true;
    FLogonStarter = StartLogonItems(items, LogFile());
    if (!ReturnOlderMovesOnce())
        SetTimer(Handle(), kOlderMovesTimerId, kLogonGateRetryMs, nullptr);
}

// The all-users store's one-time return (TakeOver.h), on the take-over's
// worker once the logon start has started that store's files; false while
// it waits for them.
bool TAgentForm::ReturnOlderMovesOnce()
{
    if (FLogonStarter && !FLogonStarter->AllUsersStarted())
        return false;
    if (FOlderMovesReturned || !FTakeOver || FSessionEnded)
        return true;
    FOlderMovesReturned = true;
    FTakeOverWorker->Post(
        [takeOver = FTakeOver, log = LogFile()] {
            if (const std::string text = takeOver->ReturnOlderMoves(); !text.empty())
                AppendLogFile(log, text);
        },
        {});
    return true;
}

// The session ends, or the agent: the stores take in what came during the
// session. The process may end as soon as this returns, so nothing is
// shown; a take-over held up by an unreachable file runs on until the
// worker's end cancels it (WorkerThread.h).
void TAgentForm::LastTakeOver()
{
    if (!FTakeOver || FSessionEnded)
        return;
    FSessionEnded = true;
    FIconWorker->DropWaitingJobs();
    FTakeOverWorker->DropWaitingJobs();
    // So that the agent starts at the next logon.
    if (FRegisterPending)
        RegisterAgentItemLater();
    auto result = std::make_shared<TTakeOverResult>();
    FTakeOverWorker->Post([takeOver = FTakeOver, result] { *result = takeOver->Run(/*reload=*/false); }, {});
    if (!FTakeOverWorker->WaitIdle(kLastTakeOverMs)) {
        AppendLogFile(LogFile(), "The last take-over did not end within " + std::to_string(kLastTakeOverMs / 1000) +
                                     " seconds; it goes on until the program ends.");
        return;
    }
    for (const std::string& report : result->reports)
        AppendLogFile(LogFile(), report);
}
