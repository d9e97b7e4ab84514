// The engine's progress wizard: its settings and the engine's side of it.
#include "auAutoUpgrader.h"

#include "http/HttpProgress.h"
#include "update/auUpgraderTexts.h"

#include <utility>

TauAutoUpgraderLanguage UpgraderLanguage()
{
    return SelectedUpgraderLanguage();
}

TauAutoUpgraderWizard::TauAutoUpgraderWizard()
{
    SetLanguage(wlAuto);
}

void TauAutoUpgraderWizard::SetPic118x218(HBITMAP picture)
{
    picture_.reset(picture ? CopyImage(picture, IMAGE_BITMAP, 0, 0, 0) : nullptr);
}

void TauAutoUpgraderWizard::SetLanguage(TauAutoUpgraderLanguage language)
{
    language_ = language;
    SelectUpgraderLanguage(language);
}

void TauAutoUpgrader::ShowWizard()
{
    TauWizardLink link;
    link.Owner = this;
    link.StayOnTop = Wizard.StayOnTop;
    link.Picture = Wizard.Pic118x218();
    const std::weak_ptr<char> alive = alive_;
    link.ConfirmAbort = [this, alive](const std::wstring& text, const std::wstring& caption) {
        return alive.expired() || !Prompts.ConfirmAbort || Prompts.ConfirmAbort(text, caption);
    };
    link.Abort = [this, alive] {
        if (!alive.expired())
            AbortUpgrade();
    };
    ShowUpgraderWizard(std::move(link));
}

void TauAutoUpgrader::FileProgress(std::int64_t contentLength, std::int64_t bytesRead, int elapsedTime,
                                   int estimatedTimeLeft, std::uint8_t percentsDone, float transferRate)
{
    if (!Result().statusOk)
        return;
    const std::uint8_t total =
        countBytes_ ? listProgress_.Percents(bytesRead)
                    : listProgress_.Held(TotalPercentsDone(percentsDone, currentFileIndex_,
                                                           static_cast<int>(fileList_.size())));
    SetWizardProgress(percentsDone, total, transferRate, estimatedTimeLeft);
    if (OnProgress)
        OnProgress(*this, CurrentFileURL(), contentLength, bytesRead, elapsedTime, estimatedTimeLeft, percentsDone,
                   total, transferRate);
}
