#include "agent/TakeOver.h"

#include <utility>

TTakeOver::TTakeOver(std::vector<std::uint8_t> locations, bool machineWide)
    : FLocations(std::move(locations)), FMachineWide(machineWide)
{
}

void TTakeOver::Report(TTakeOverResult& result)
{
    for (std::string& note : FHelper->TakeNotes())
        result.reports.push_back(std::move(note));
}

TTakeOverResult TTakeOver::Run(bool reload)
{
    TTakeOverResult result;
    try {
        if (!FHelper)
            FHelper = std::make_unique<TStartupMgrHelper>(FLocations);
        FHelper->SetupAll(FMachineWide);
    } catch (const EStartupMgrErr& e) {
        if (FHelper)
            Report(result);
        result.reports.push_back(e.what());
        return result;
    }
    if (!reload) {
        Report(result);
        return result;
    }
    result.reloaded = true;
    try {
        FHelper->RefreshAll();
        for (int i = 0; i < FHelper->Count(); ++i) {
            result.items.push_back(*FHelper->Items(i));
            result.items.back().Owner = nullptr;
        }
    } catch (const EStartupMgrErr& e) {
        result.items.clear();
        Report(result);
        result.reports.push_back(e.what());
        return result;
    }
    Report(result);
    return result;
}
