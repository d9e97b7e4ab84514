#include "UpdateFormUnit.h"

#include "common/AppMessages.h"
#include "common/ProcessManager.h"
#include "update/auUpgraderTexts.h"
#include "updater/UpdaterLog.h"
#include "updater/UpdaterRules.h"
#include "updater/auWebUpdateInfo.h"
#include "winutil/MessageLoop.h"
#include "winutil/ProfileFile.h"
#include "winutil/WideText.h"

#include <commctrl.h>

#include <utility>

namespace {

constexpr const char* kCaption = "Freshet!";
constexpr const char* kSection = "UpdateInfo";
constexpr int kClientWidth = 346;
constexpr int kClientHeight = 136;
constexpr int kModalResultOK = 1;

constexpr const char* kWelcomeText = "Welcome to Freshet! Press Update to check for the latest version.";
constexpr const char* kDownloadingText = "Freshet! is downloading required files...";
constexpr const char* kNoUpdateText = "No update available. You are using the latest version";
constexpr const char* kAbortedText = "Update aborted.";
constexpr const char* kFallBackText = "Sorry but for some reason, Freshet can't connect to the update server, click OK "
                                      "to directly download the latest version from our site.";

// One update window per process.
bool windowExists = false;
int lastModalResult = 0;

// The etched line along the bottom of a bevel.
class TBottomBevel : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    void Paint(HDC dc) override
    {
        RECT area = ClientRect();
        DrawEdge(dc, &area, EDGE_ETCHED, BF_BOTTOM);
    }
};

// Where the controls stand at 96 dots per inch: left, top, width, height.
constexpr RECT kStatusLabel = {24, 8, 305, 33};
constexpr RECT kLblStatus = {24, 37, 305, 13};
constexpr RECT kProgressBar = {24, 61, 297, 12};
constexpr RECT kBevel = {17, 60, 313, 29};
constexpr RECT kUpdateButton = {82, 103, 81, 25};
constexpr RECT kCancelButton = {186, 103, 81, 25};

HWND CreateChild(HWND parent, const wchar_t* windowClass, DWORD style)
{
    return CreateWindowExW(0, windowClass, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

void SetUpButton(TAlphaButton& button, const char* caption)
{
    button.SetCaption(caption);
    button.SetActAsImage(false);
    button.SetBorderHoverEffect(TBorderEffect::beCool);
    button.SetBorderNormalEffect(TBorderEffect::beNone);
    button.SetBorderDownEffect(TBorderEffect::beNone);
    button.SetSoundEffect(false);
    button.SetUseBGColor(false);
    button.SetBGColor(clBlack);
    button.SetBGAlphaBlendValue(255);
    button.SetBGAlphaBlend(false);
}

} // namespace

TUpdateForm::TUpdateForm(std::string starterWindow, std::string settingsFolder)
    : starterWindow_(std::move(starterWindow)), settingsPath_(std::move(settingsFolder) + "update.ini")
{
    Updater.InfoFileURL = TauAutoUpgrader::DefaultInfoFileURL;
    Updater.VersionNumber.clear();
    Updater.SetRestartParams("/verysilent");
    Updater.VersionControl = byNumber;
    Updater.VersionDate = "05/03/2004";
    Updater.SetVersionDateAutoSet(true);
    Updater.ShowMessages = {mAskUpgrade};
    Updater.Wizard.Enabled = false;
    Updater.Wizard.SetLanguage(wlEnglish);
    // Large reads keep a fast download from being held up by the loop
    // between them; the engine caps the size.
    Updater.TransferBufferSize = 256 * 1024;
    PlugWhatsNewWindow(Updater.Prompts);
    BindEngine();
    Updater.Loaded();
}

TUpdateForm::~TUpdateForm()
{
    // The windowless controls leave the host before the base class frees it.
    updateButton_.reset();
    cancelButton_.reset();
    bevel_.reset();
}

bool TUpdateForm::Exists()
{
    return windowExists;
}

int TUpdateForm::Start(std::unique_ptr<TUpdateForm> form, bool silent, HWND owner)
{
    if (windowExists)
        return 0;
    form->SetFreeOnClose(true);
    form->Create(owner);
    TUpdateForm* const window = form.release();
    if (silent) {
        window->StartSilent();
        return 0;
    }
    lastModalResult = 0;
    window->Show();
    MSG msg = {};
    while (windowExists && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // A quit that ended the modal loop early is the application's too.
    if (windowExists && msg.message == WM_QUIT)
        PostQuitMessage(static_cast<int>(msg.wParam));
    return lastModalResult;
}

// The window's size follows in LayOut, at its DPI.
TBaseSubForm::WindowLayout TUpdateForm::Layout() const
{
    WindowLayout layout;
    layout.caption = kCaption;
    layout.style = WS_POPUP | WS_CAPTION;
    layout.exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
    return layout;
}

void TUpdateForm::RegisterGlyphs(GlyphList& glyphs)
{
    glyphs.push_back({"BALL_OK", updateButton_.get()});
    glyphs.push_back({"BALL_CANCEL", cancelButton_.get()});
}

void TUpdateForm::FormCreate()
{
    CreateControls();
    LayOut();
    TBaseSubForm::FormCreate();
    silent_ = false;
    windowExists = true;
    const ProfileFile settings(settingsPath_);
    Updater.VersionNumber = settings.ReadString(kSection, "Version");
    Updater.InfoFileURL = settings.ReadString(kSection, "InfoURL");
    // With the publisher's key only signed releases of this product are
    // installed; without it only releases that come over https, unless a
    // test server's update.ini says otherwise.
    Updater.PublisherKey = settings.ReadString(kSection, "PublicKey");
    Updater.Product = settings.ReadString(kSection, "Product");
    Updater.AllowUnverifiedUpdates = settings.ReadString(kSection, "AllowUnverifiedUpdates") == "1";
    // The stub waits for the product itself, not only for this program.
    DWORD product = 0;
    if (const auto starter = reinterpret_cast<HWND>(ParseWindowHandle(starterWindow_)); starter && IsWindow(starter))
        GetWindowThreadProcessId(starter, &product);
    Updater.ProductProcessId = product;

    RECT bounds = {};
    GetWindowRect(Handle(), &bounds);
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    SetWindowPos(Handle(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TUpdateForm::CreateControls()
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    statusLabel_ = CreateChild(Handle(), L"STATIC", SS_LEFT);
    lblStatus_ = CreateChild(Handle(), L"STATIC", SS_LEFTNOWORDWRAP);
    progressBar_ = CreateChild(Handle(), PROGRESS_CLASSW, 0);
    SendMessageW(progressBar_, PBM_SETRANGE32, 0, 100);
    bevel_ = std::make_unique<TBottomBevel>(Host());
    SetStatusText(kWelcomeText);
    SetProgressText("Status:");

    updateButton_ = std::make_unique<TAlphaButton>(Host(), "UpdateButton");
    SetUpButton(*updateButton_, "&Update");
    updateButton_->OnClick = [this](TAlphaButton&) {
        HandlerScope scope(*this);
        UpdateButtonClick();
    };
    cancelButton_ = std::make_unique<TAlphaButton>(Host(), "CancelButton");
    SetUpButton(*cancelButton_, "&Cancel");
    cancelButton_->OnClick = [this](TAlphaButton&) {
        HandlerScope scope(*this);
        btn_ExitClick();
    };
    // Enter presses Update (Cancel while Update is disabled and Cancel has the focus), Esc Cancel.
    Host().SetDefaultControl(updateButton_.get());
    Host().SetCancelControl(cancelButton_.get());
}

// Every size of the layout, scaled to the window's DPI.
void TUpdateForm::LayOut()
{
    const auto place = [this](HWND child, const RECT& at) {
        SetWindowPos(child, nullptr, Scale(at.left), Scale(at.top), Scale(at.right), Scale(at.bottom),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE);
    };
    place(statusLabel_, kStatusLabel);
    place(lblStatus_, kLblStatus);
    place(progressBar_, kProgressBar);
    const auto bounds = [this](TGraphicControl& control, const RECT& at) {
        control.SetBounds(Scale(at.left), Scale(at.top), Scale(at.right), Scale(at.bottom));
    };
    bounds(*bevel_, kBevel);
    bounds(*updateButton_, kUpdateButton);
    bounds(*cancelButton_, kCancelButton);
    SetClientSize(kClientWidth, kClientHeight);
}

void TUpdateForm::DpiChanged()
{
    LayOut();
}

void TUpdateForm::BindEngine()
{
    Updater.OnConfirmUpgrade = [this](TauAutoUpgrader&) {
        HandlerScope scope(*this);
        ShowNonModal();
    };
    Updater.OnLaterUpgrade = [this](TauAutoUpgrader&) {
        HandlerScope scope(*this);
        Close();
    };
    Updater.OnFileStart = [this](TauAutoUpgrader&, const std::string&, std::int64_t, OleDate, bool& canUpgrade) {
        HandlerScope scope(*this);
        canUpgrade = true;
        ShowNonModal();
        InvalidateRect(Handle(), nullptr, TRUE);
        ProcessMessages();
    };
    Updater.OnProgress = [this](TauAutoUpgrader&, const std::string& fileURL, std::int64_t fileSize,
                                std::int64_t bytesRead, int, int, std::uint8_t, std::uint8_t totalPercentsDone,
                                float) {
        HandlerScope scope(*this);
        ShowNonModal();
        SendMessageW(progressBar_, PBM_SETPOS, totalPercentsDone, 0);
        SetProgressText(DownloadStatusText(fileURL, fileSize, bytesRead));
        ProcessMessages();
    };
    Updater.OnNoUpdateAvailable = [this](TauAutoUpgrader& engine) {
        HandlerScope scope(*this);
        // An expired information file: the publisher's, not the user's, to mend.
        if (!engine.LastFailure().empty())
            LogUpdater("no update: " + engine.LastFailure());
        if (!silent_)
            Message(kNoUpdateText, MB_ICONINFORMATION);
        Close();
    };
    Updater.OnAborted = [this](TauAutoUpgrader&) {
        HandlerScope scope(*this);
        if (!silent_)
            Message(kAbortedText, MB_ICONERROR);
        Close();
    };
    Updater.OnConnLost = [this](TauAutoUpgrader&) {
        HandlerScope scope(*this);
        Close();
    };
    Updater.OnHostUnreachable = [this](TauAutoUpgrader&, const std::string&, const std::string&) {
        HandlerScope scope(*this);
        FallBackToSite();
    };
    Updater.OnNoInfoFile = [this](TauAutoUpgrader&) {
        HandlerScope scope(*this);
        FallBackToSite();
    };
    // ContinueUpgrade stays false: the engine aborts, and OnAborted follows.
    // A file this computer cannot store is no outage of the server: its own
    // text, and no download page.
    Updater.OnLostFile = [this](TauAutoUpgrader& engine, const std::string&, int, bool&) {
        HandlerScope scope(*this);
        if (engine.LocalFailureText().empty()) {
            FallBackToSite();
            return;
        }
        const std::string text = Utf8FromWide(engine.LocalFailureText());
        if (silent_)
            LogUpdater("the update was stopped: " + text);
        else
            Message(text, MB_ICONERROR);
        Close();
    };
    // The engine's notes (a road not taken, a file kept, a release refused)
    // are what a person asks about later, shown or silent.
    Updater.OnLog = [](TauAutoUpgrader&, const std::string& text) { LogUpdater(text); };
    // A release that may not be installed is no outage: its own text, and
    // no download page that the same network could answer. A silent run has
    // its reason in the log already, as the engine's note.
    Updater.OnReleaseRefused = [this](TauAutoUpgrader& engine, const std::string&) {
        HandlerScope scope(*this);
        if (!silent_)
            Message(Utf8FromWide(engine.RefusalText()), MB_ICONERROR);
        Close();
    };
    Updater.OnDoOwnCloseAppMethod = [this](TauAutoUpgrader&) {
        HandlerScope scope(*this);
        CloseProduct();
        Close();
    };
}

void TUpdateForm::StartSilent()
{
    silent_ = true;
    Updater.CheckUpdate();
}

void TUpdateForm::ShowDownloading()
{
    SetStatusText(kDownloadingText);
    updateButton_->SetEnabled(false);
}

void TUpdateForm::FallBackToSite()
{
    if (!silent_) {
        Message(kFallBackText, MB_ICONERROR);
        // Only a web address reaches the shell: the file is not ours to trust.
        Updater.OpenURL(ProfileFile(settingsPath_).ReadString(kSection, "FailedURL"));
    }
    Close();
}

void TUpdateForm::FormShow()
{
    if (!firstShow_)
        return;
    firstShow_ = false;
    if (silent_) {
        ShowDownloading();
        silent_ = false;
        return;
    }
    updateButton_->Click();
}

void TUpdateForm::UpdateButtonClick()
{
    ShowDownloading();
    if (!ProcessMessages())
        return;
    silent_ = false;
    Updater.CheckUpdate();
}

void TUpdateForm::btn_ExitClick()
{
    if (Updater.Busy())
        Updater.AbortUpgrade();
    Close();
}

void TUpdateForm::ShowNonModal()
{
    // A closed window stays closed, whatever the engine still reports.
    if (windowExists && !IsWindowVisible(Handle()))
        Show();
}

void TUpdateForm::SetStatusText(const std::string& text)
{
    statusText_ = text;
    SetWindowTextW(statusLabel_, WideFromUtf8(text).c_str());
}

void TUpdateForm::SetProgressText(const std::string& text)
{
    progressText_ = text;
    SetWindowTextW(lblStatus_, WideFromUtf8(text).c_str());
}

void TUpdateForm::Message(const std::string& text, UINT icon)
{
    ShowMessageBox(Handle(), text, kCaption, MB_OK | icon);
}

void TUpdateForm::CloseProduct()
{
    const auto starter = reinterpret_cast<HWND>(ParseWindowHandle(starterWindow_));
    if (!starter || !IsWindow(starter))
        return;
    // A product that hangs must not hang the updater with it.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(starter, kCloseProductMessage, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kCloseProductTimeoutMs,
                        &ignored);
}

void TUpdateForm::FormClose()
{
    lastModalResult = kModalResultOK;
    windowExists = false;
    PostQuitMessage(0);
}

LRESULT TUpdateForm::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SHOWWINDOW && wParam) {
        const LRESULT result = TBaseSubForm::WindowProc(message, wParam, lParam);
        HandlerScope scope(*this);
        FormShow();
        return result;
    }
    return TBaseSubForm::WindowProc(message, wParam, lParam);
}

UniqueWindow CreateApplicationWindow()
{
    UniqueWindow window(CreateWindowExW(0, L"STATIC", WideFromUtf8(kCaption).c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        GetModuleHandleW(nullptr), nullptr));
    if (window)
        SetWindowLongW(window.get(), GWL_EXSTYLE, GetWindowLongW(window.get(), GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
    return window;
}

bool LaunchProduct(const std::string& folder)
{
    const std::string processName = ProfileFile(folder + "Update.ini").ReadString(kSection, "ProcessName");
    return !processName.empty() && ExecuteFile(folder + processName, false);
}
