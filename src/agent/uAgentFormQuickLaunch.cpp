// The Quick Launch menu and the pictures its entries get from the icon cache.
#include "uAgentForm.h"

#include "IconText.h"

void TAgentForm::RebuildWhenFree()
{
    if (FModalDepth > 0 || !FMenuStale)
        return;
    FMenuStale = false;
    BuildQuickLaunchMenu();
    RequestIcons();
}

// Only what the icon cache holds already; the files are read on the worker.
void TAgentForm::BuildQuickLaunchMenu()
{
    FQuickLaunch->Clear();
    FEntryIcons.clear();
    for (const TStartupItem& item : FItems)
        FEntryIcons.push_back(item.Icon.str());
    FileInfoManager().BeginRebuild(FEntryIcons);
    FQuickLaunch->SubMenuImages = FileInfoManager().SmallImages();
    for (const TStartupItem& item : FItems) {
        auto entry = std::make_shared<TMenuItem>(MenuCaptionText(WithoutExtension(item.Desc.view())));
        entry->ImageIndex = FileInfoManager().IndexOf(item.Icon.view());
        // A copy: the list is replaced by the next reload.
        entry->OnClick = [this, commandLine = item.CmdLine.str()](TMenuItem&) { OnQuickLaunchItemClick(commandLine); };
        FQuickLaunch->Add(std::move(entry));
    }
}

// Each icon text once; a rebuild makes the answers to the earlier ones stale.
void TAgentForm::RequestIcons()
{
    const unsigned generation = ++FIconGeneration;
    FIconWorker->DropWaitingJobs();
    std::set<std::string> asked;
    for (const std::string& text : FEntryIcons) {
        if (!asked.insert(text).second)
            continue;
        auto read = std::make_shared<TFileInfoManager::IconRead>();
        FIconWorker->Post(
            [text, known = FileInfoManager().KnownStamps(text), read] {
                *read = TFileInfoManager::ReadIcons(text, known ? &*known : nullptr);
            },
            [this, text, read, generation](const std::string&) { IconArrived(text, std::move(*read), generation); });
    }
}

void TAgentForm::IconArrived(const std::string& iconText, TFileInfoManager::IconRead read, unsigned generation)
{
    if (generation != FIconGeneration || FSessionEnded)
        return;
    const int index = FileInfoManager().Store(iconText, std::move(read));
    for (std::size_t i = 0; i < FEntryIcons.size() && i < FQuickLaunch->Items.size(); ++i) {
        if (FEntryIcons[i] == iconText)
            FQuickLaunch->Items[i]->ImageIndex = index;
    }
}

void TAgentForm::OnQuickLaunchItemClick(const std::string& commandLine)
{
    StartProgram(commandLine);
}
