#pragma once
// The engine's own dialogs: the ask-to-upgrade dialog, the error box and the
// password dialog, all with wide texts so every language of the message
// table shows whatever the system's code page. They are laid out at their
// own DPI, their labels and buttons as wide as each language's texts need
// (auPixelDialog.h); the ask dialog's message is read by screen readers and
// its links reached by Tab. The engine calls them through
// TauUpgraderPrompts, which tests replace with answers of their own.
// Main thread only; each call is modal and returns the user's answer. The
// progress wizard is the one window shown without modality. Each of the
// three windows exists at most once per process.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// The page about the release behind the ask dialog's More Info button.
// Preload starts loading it while the question is open; Show shows it.
// Either may be empty: without Show the button does nothing.
struct TauMoreInfo {
    std::function<void(const std::string& url)> Preload;
    std::function<void(const std::string& url)> Show;
};

struct TauUpgraderPrompts {
    // The ask-to-upgrade dialog: true for Yes, false for Later. The release
    // message is markup from the network, shown as untrusted; the page is
    // preloaded and offered only when moreInfoURL is not empty.
    std::function<bool(const std::string& upgradeMsg, const std::string& moreInfoURL, const TauMoreInfo& moreInfo)>
        AskUpgrade;
    // An error box with this text.
    std::function<void(const std::wstring& text)> ShowError;
    // The password dialog: true for OK, with the two texts as entered.
    std::function<bool(const std::wstring& text, std::string& username, std::string& password)> AskPassword;
    // Starts the browser with an address already checked and quoted.
    std::function<void(const std::string& quotedURL)> OpenBrowser;
    // The what's-new window, when the program has one: preloads and shows the
    // page of MoreInfoURL. Without ShowInfo, More Info opens the page in the
    // browser through the engine's OpenURL.
    std::function<void(const std::string& url)> PreloadInfo;
    std::function<void(const std::string& url)> ShowInfo;
    // The question before the progress wizard closes unfinished: true for Yes.
    std::function<bool(const std::wstring& text, const std::wstring& caption)> ConfirmAbort;
};

// The real dialogs and the shell.
TauUpgraderPrompts DefaultUpgraderPrompts();

// Ties the progress wizard to the engine that shows it.
struct TauWizardLink {
    const void* Owner = nullptr;
    bool StayOnTop = true;
    // Copied, stretched to the wizard's picture; null keeps the picture empty.
    HBITMAP Picture = nullptr;
    // Asked when the wizard is closed by the system close command.
    std::function<bool(const std::wstring& text, const std::wstring& caption)> ConfirmAbort;
    // Called after the wizard closed on a confirmed close.
    std::function<void()> Abort;
};

// Control identifiers of the progress wizard.
enum TauWizardControl : int {
    wzCancelBtn = IDCANCEL,
    wzFinishBtn = 200,
    wzTitle,
    wzAfterNote,
    wzCurrentFileGroup,
    wzDownloadingFrom,
    wzFileURL,
    wzFileSize,
    wzTransferRate,
    wzTimeLeft,
    wzCurrentFileBar,
    wzAllFilesGroup,
    wzAllDownloading,
    wzAllFilesBar,
    wzImage,
    wzAbout,
};

// Creates the wizard unless it exists, links it to `link` and shows it.
void ShowUpgraderWizard(TauWizardLink link);
// The wizard's window; null when there is none.
HWND UpgraderWizard();
// The file being downloaded: its address and its number of `count`.
void SetWizardFile(const std::string& url, int number, int count);
void SetWizardFileSize(std::int64_t bytes);
void SetWizardProgress(int percentsDone, int totalPercentsDone, float transferRate, int estimatedTimeLeft);
// The finished state: the note with the application's title and the OK button.
void FinishUpgraderWizard();
// Processes messages until the wizard is closed; false, with the wizard
// freed, when the message loop is told to quit first.
bool WaitForUpgraderWizard();
// The open ask-to-upgrade dialog; null when there is none.
HWND UpgraderAskDialog();
// Frees the ask-to-upgrade dialog and the wizard when they exist.
void FreeUpgraderWindows();
// Frees the wizard when `owner` showed it (null: whoever showed it).
void FreeUpgraderWizardOf(const void* owner);
