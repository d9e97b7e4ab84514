#pragma once
// TUpdateForm: the updater's window. It configures its update engine from
// update.ini, starts the check, shows the download's progress and turns every
// outcome into a message, a fallback to the download page or a quiet close.
// When the engine is ready to replace the product it asks the program that
// started the updater to close. Closing the window ends the updater: it frees
// itself (deferred, see TBaseSubForm) and posts the quit message.
//
// In silent mode the window stays hidden, and shows no message and opens no
// page, until the engine brings it up for a confirmed upgrade; a release the
// engine refused is written to the updater's log instead (UpdaterLog.h).
// Keyboard and screen readers: Update and Cancel are tab stops, Enter
// presses Update (or the button with the focus), Esc Cancel; both buttons
// and the status texts answer screen readers. Every size follows the
// window's DPI, also when it moves to a screen of another DPI.
// Runs on the main thread; the engine raises its events there.
#include <windows.h>

#include "update/auAutoUpgrader.h"
#include "updater/BaseSubFormUnit.h"
#include "winutil/UniqueHandle.h"

#include <memory>
#include <string>

class TUpdateForm : public TBaseSubForm {
public:
    // Sent, synchronously, to the starter's window before the product's files are replaced.
    static constexpr UINT kCloseProductMessage = WM_USER + 109;
    // How long a product may take to answer the close request.
    static constexpr UINT kCloseProductTimeoutMs = 30000;

    // `starterWindow` is the command line's second argument as given;
    // `settingsFolder` ends in a backslash (the program's folder in use).
    explicit TUpdateForm(std::string starterWindow, std::string settingsFolder);
    ~TUpdateForm() override;

    // The start operation: creates the window owned by `owner`. Silent: starts
    // the check and returns at once (0). Visible: shows the window modally
    // and returns its modal result once it has closed. Does nothing (returns
    // 0, the form is freed) while an update window exists.
    static int Start(std::unique_ptr<TUpdateForm> form, bool silent, HWND owner);
    // True from the window's creation until it has closed.
    static bool Exists();

    void StartSilent();
    void ShowDownloading();
    void FallBackToSite();

    TauAutoUpgrader Updater;

    bool Silent() const { return silent_; }
    const std::string& StatusText() const { return statusText_; }
    const std::string& ProgressText() const { return progressText_; }
    TAlphaButton& UpdateButton() { return *updateButton_; }
    TAlphaButton& CancelButton() { return *cancelButton_; }

protected:
    WindowLayout Layout() const override;
    void FormCreate() override;
    void FormClose() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void RegisterGlyphs(GlyphList& glyphs) override;
    void DpiChanged() override;

private:
    void CreateControls();
    void LayOut();
    void BindEngine();
    void FormShow();
    void UpdateButtonClick();
    void btn_ExitClick();
    void ShowNonModal();
    void SetStatusText(const std::string& text);
    void SetProgressText(const std::string& text);
    void Message(const std::string& text, UINT icon);
    void CloseProduct();

    std::string starterWindow_;
    std::string settingsPath_;
    bool silent_ = false;
    bool firstShow_ = true;
    std::string statusText_;
    std::string progressText_;
    HWND statusLabel_ = nullptr;
    HWND lblStatus_ = nullptr;
    HWND progressBar_ = nullptr;
    std::unique_ptr<TGraphicControl> bevel_;
    std::unique_ptr<TAlphaButton> updateButton_;
    std::unique_ptr<TAlphaButton> cancelButton_;
};

// The updater's hidden top-level window, which owns the update window: its
// WS_EX_TOOLWINDOW style keeps the updater off the taskbar and out of the
// task-switching list.
UniqueWindow CreateApplicationWindow();

// Launcher mode: starts "ProcessName" of update.ini from `folder` (ending in
// a backslash) without waiting; false when nothing was started.
bool LaunchProduct(const std::string& folder);
