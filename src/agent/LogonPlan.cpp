#include "agent/LogonPlan.h"

#include <algorithm>
#include <tuple>

std::int64_t LogonDelayMs(std::int32_t delayTime)
{
    return std::int64_t{std::clamp(delayTime, 0, kMaxLogonDelaySeconds)} * 1000;
}

std::vector<TLogonStart> PlanLogonStarts(const std::vector<TLogonItem>& items)
{
    std::vector<TLogonStart> starts;
    for (const TLogonItem& item : items) {
        if (item.enable && item.fromStartupFolder)
            starts.push_back({item, LogonDelayMs(item.delayTime)});
    }
    const auto key = [](const TLogonStart& s) {
        return std::tie(s.dueMs, s.item.order, s.item.location, s.item.desc, s.item.cmdLine);
    };
    std::sort(starts.begin(), starts.end(), [&](const TLogonStart& a, const TLogonStart& b) { return key(a) < key(b); });
    return starts;
}

TLogonGate LogonGateOf(bool explorerStarted, std::int64_t sinceAgentStartMs, std::optional<std::int64_t> shellAgeMs)
{
    const bool waited = !shellAgeMs || *shellAgeMs >= kShellWaitMs || sinceAgentStartMs >= kShellWaitMs;
    return {explorerStarted, explorerStarted || waited};
}

TEndSessionStep EndSessionStepOf(bool ending, bool closeApp)
{
    if (!ending)
        return TEndSessionStep::esNothing;
    return closeApp ? TEndSessionStep::esEndAgent : TEndSessionStep::esLastTakeOver;
}
