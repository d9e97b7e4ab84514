// The agent's settings files and its own startup item.
#include "uAgentForm.h"

#include "AgentResources.h"
#include "uAppConfig.h"
#include "startup/StartupItemFields.h"
#include "startup/StoreLock.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"

namespace {

constexpr const char* kAgentExe = "kdAgent.exe";

// The settings the agent itself must remember; the product's other settings
// live only in the shared file.
constexpr const char* kOwnSettings[] = {"Common\\ShowBallon", "Setup\\ShowIcon"};

// In the machine's store when this process may write it, else in the user's.
void RegisterAgent(const std::string& agentFolder, bool machineWide)
{
    TStartupItem item;
    item.Desc = LoadResourceString(IDS_AGENT_ITEM_DESC);
    item.CmdLine = agentFolder + kAgentExe;
    if (machineWide) {
        try {
            if (CreateStartupMgr(0)->AddItem(item))
                return;
        } catch (const EStartupMgrErr&) {
        }
    }
    if (!CreateStartupMgr(1)->AddItem(item))
        throw EStartupMgrErr("Unable to register " + item.Desc.str() + " in the store of \"" +
                             RegistryPath(GetStpDesc(1).Path) + "\".");
}

} // namespace

std::string TAgentForm::ConfigFile() const
{
    return FAgentFolder + LoadResourceString(IDS_CONFIG_FILE);
}

std::string TAgentForm::UserConfigFile() const
{
    return FUserFolder.empty() ? std::string() : FUserFolder + LoadResourceString(IDS_CONFIG_FILE);
}

std::string TAgentForm::LogFile() const
{
    return FUserFolder.empty() ? std::string() : FUserFolder + "kdAgent.log";
}

// Each flag starts from its own default, so a file that cannot be read
// leaves the icon and the balloon on rather than turning them off for good.
// The user's copy, written where the shared file could not be, wins.
void TAgentForm::LoadSettings()
{
    TAppCfgIni shared, own;
    shared.Open(ConfigFile());
    own.Open(UserConfigFile());
    int showBalloon = 1;
    shared.ReadInteger("Common\\ShowBallon", showBalloon, 1);
    own.ReadInteger("Common\\ShowBallon", showBalloon, showBalloon);
    FShowBalloon = (showBalloon & 0xFF) != 0;
    int showIcon = 1;
    shared.ReadInteger("Setup\\ShowIcon", showIcon, 1);
    own.ReadInteger("Setup\\ShowIcon", showIcon, showIcon);
    FShowIcon = (showIcon & 0xFF) != 0;
    FNoIcon->Checked = FShowIcon;
}

// The shared file first. What it cannot take (under UAC the program's folder
// is not the user's to write) goes to the user's copy; a value the user's
// copy already holds is kept in step there too, since it wins on reading.
void TAgentForm::SaveSettings()
{
    TAppCfgIni shared, own;
    shared.Open(ConfigFile());
    if (!FUserFolder.empty())
        ForceDirectories(FUserFolder);
    own.Open(UserConfigFile());
    const int values[] = {0, FShowIcon ? 1 : 0};
    for (std::size_t i = 0; i < std::size(kOwnSettings); ++i) {
        std::string held;
        const bool ownHolds = own.ReadString(kOwnSettings[i], held, "") && !held.empty();
        if (!shared.WriteInteger(kOwnSettings[i], values[i]) || ownHolds)
            own.WriteInteger(kOwnSettings[i], values[i]);
    }
    shared.WriteInteger("Setup\\AutoCheck", 1);
}

void TAgentForm::RegisterAgentItem()
{
    RegisterAgent(FAgentFolder, FMachineWide);
}

std::string TAgentForm::UnregisteredText(const std::string& refusal)
{
    return "Unable to register " + LoadResourceString(IDS_AGENT_ITEM_DESC) +
           ", as the startup stores could not be locked (" + refusal + ")";
}

// On the take-over's worker, ahead of the take-over, under one hold of the
// stores (the stores' own waits would otherwise pass a held machine store
// over for the user's): tried again with the next refresh until it is done.
void TAgentForm::RegisterAgentItemLater()
{
    FRegisterPending = false;
    FTakeOverWorker->Post(
        [folder = FAgentFolder, machineWide = FMachineWide] {
            const TStoreLock stores;
            if (!stores.Acquired())
                throw EStartupMgrErr(UnregisteredText(stores.Refusal()) + "; the next refresh tries again.");
            RegisterAgent(folder, machineWide);
        },
        [this](const std::string& failure) {
            if (failure.empty() || FClosing || FSessionEnded)
                return;
            FRegisterPending = true;
            ShowError(failure);
        });
}
