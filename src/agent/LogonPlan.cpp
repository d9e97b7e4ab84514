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
