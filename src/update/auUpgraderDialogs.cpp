#include "auUpgraderDialogs.h"

#include "common/AppMessages.h"
#include "update/auPixelDialog.h"
#include "update/auUpgraderTexts.h"
#include "widgets/GraphicPane.h"
#include "widgets/HTMLabel.h"
#include "markup/WheelScroll.h"
#include "winutil/WideText.h"
#include "winutil/WindowDpi.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int YesId = IDYES;
constexpr int LaterId = IDNO;
constexpr int MoreInfoId = 100;
constexpr int UsernameId = 101;
constexpr int PasswordId = 102;
constexpr int IconId = 103;
constexpr UINT WM_PRELOAD = WM_APP + 1;

std::string WindowTextUtf8(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return Utf8FromWide(std::wstring_view(text));
}

// The program registered for web pages gets the quoted address as its
// arguments; without one the shell opens the bare address.
void OpenBrowser(const std::string& quotedURL)
{
    wchar_t program[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (AssocQueryStringW(0, ASSOCSTR_EXECUTABLE, L".html", L"open", program, &size) == S_OK) {
        ShellExecuteW(GetDesktopWindow(), L"open", program, WideFromUtf8(quotedURL).c_str(), nullptr, SW_SHOWNORMAL);
        return;
    }
    const std::string bare = quotedURL.size() >= 2 ? quotedURL.substr(1, quotedURL.size() - 2) : quotedURL;
    ShellExecuteW(GetDesktopWindow(), L"open", WideFromUtf8(bare).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

HWND askWindow = nullptr;

// The ask-to-upgrade dialog: the release message in a markup label that
// sizes itself to the text; the dialog takes the label's height at its first
// paint, up to the work area, and scrolls the label when it is taller. The
// label sits in a pane of its own, first in the tab order (its links are
// reached by Tab, the keys scroll it); Yes has the focus when it opens.
// Sizes are for 96 dots per inch, scaled to the dialog's.
class AskDialog {
public:
    static constexpr int Width = 316;
    static constexpr int Height = 132;
    static constexpr int LabelLeft = 42;
    static constexpr int LabelTop = 14;
    static constexpr int LabelRightMargin = 11;
    static constexpr int BottomPanel = 45;
    static constexpr int ButtonLeft = 32;
    static constexpr int ButtonGap = 13;
    static constexpr int ButtonRightMargin = 33;
    static constexpr int ButtonHeight = 23;
    static constexpr int LineStep = 13;
    // A label no taller than this keeps the dialog's height.
    static constexpr int OneLine = 20;

    AskDialog(const std::string& upgradeMsg, const std::string& moreInfoURL, const TauMoreInfo& moreInfo)
        : message_(upgradeMsg.empty() ? upgradeMsg : "\n" + upgradeMsg + "\n"),
          moreInfoURL_(moreInfoURL),
          moreInfo_(moreInfo)
    {
        layout_.caption = UpgraderText(umsgCaption);
        layout_.build = [this](const DialogMetrics& metrics) { return Build(metrics); };
        layout_.initialFocus = YesId;
        layout_.onInit = [this](HWND dialog) { Init(dialog); };
        layout_.onMessage = [this](HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
            return Message(dialog, message, wParam, lParam, result);
        };
        layout_.onDpiChanged = [this](HWND) { DpiChanged(); };
    }

    ~AskDialog()
    {
        // The label leaves the pane's host before the pane goes.
        label_.reset();
    }

    bool Run() { return RunPixelDialog(layout_) == YesId; }

private:
    int Scale(int value) const { return ScaleForDpi(value, layout_.dpi); }

    // The buttons as wide as their captions need, spaced as designed; a
    // longer row widens the dialog.
    DialogLayout Build(const DialogMetrics& metrics) const
    {
        std::vector<std::pair<int, std::wstring>> buttons = {{YesId, UpgraderText(umsgYes)},
                                                             {LaterId, UpgraderText(umsgLater)}};
        if (!moreInfoURL_.empty())
            buttons.emplace_back(MoreInfoId, L"More Info");
        DialogLayout layout;
        layout.height = metrics.Scale(Height);
        const int iconSize = SystemMetricForDpi(SM_CXICON, metrics.Dpi());
        const POINT icon = {metrics.Scale(7), metrics.Scale(5)};
        layout.controls.push_back({L"STATIC", L"", SS_ICON, IconId, {icon.x, icon.y, icon.x + iconSize, icon.y + iconSize}});
        const int top = layout.height - metrics.Scale(BottomPanel) + metrics.Scale(13);
        int x = metrics.Scale(ButtonLeft);
        for (const auto& [id, caption] : buttons) {
            const int width = metrics.ButtonWidth(caption);
            const DWORD style = (id == YesId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP;
            layout.controls.push_back({L"BUTTON", caption, style, id, {x, top, x + width, top + metrics.Scale(ButtonHeight)}});
            x += width + metrics.Scale(ButtonGap);
        }
        layout.width = std::max(metrics.Scale(Width), x - metrics.Scale(ButtonGap) + metrics.Scale(ButtonRightMargin));
        return layout;
    }

    void Init(HWND dialog)
    {
        askWindow = dialog;
        dialog_ = dialog;
        SetIcon();
        pane_ = std::make_unique<TGraphicPane>(dialog, PaneBounds(ClientHeight()));
        // First in the tab order: the question comes before its answers.
        SetWindowPos(pane_->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        pane_->Host().OnKey = [this](UINT key) { return ScrollKey(key); };
        pane_->Host().OnFocusMoved = [this](const RECT& area) { ScrollIntoView(area); };
        label_ = std::make_unique<THTMLabel>(pane_->Host());
        label_->SetTrusted(false);
        label_->SetBounds(0, 0, PaneWidth(), Scale(17));
        label_->SetAutoSizing(true);
        label_->SetURLColor(clBlue);
        label_->SetShadowColor(clGray);
        label_->SetShadowOffset(2);
        label_->BeginUpdate();
        label_->SetHTMLText(message_);
        label_->EndUpdate();
    }

    void SetIcon() const
    {
        const int size = SystemMetricForDpi(SM_CXICON, layout_.dpi);
        // The system's question icon, drawn for the size (its number is the same for both calls).
        const LPCWSTR question = MAKEINTRESOURCEW(reinterpret_cast<ULONG_PTR>(IDI_QUESTION));
        const HANDLE icon = LoadImageW(nullptr, question, IMAGE_ICON, size, size, LR_SHARED);
        SendDlgItemMessageW(dialog_, IconId, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }

    int ClientHeight() const
    {
        RECT client{};
        GetClientRect(dialog_, &client);
        return client.bottom;
    }

    int PaneWidth() const
    {
        RECT client{};
        GetClientRect(dialog_, &client);
        return client.right - Scale(LabelLeft) - Scale(LabelRightMargin);
    }

    RECT PaneBounds(int clientHeight) const
    {
        const int left = Scale(LabelLeft), top = Scale(LabelTop);
        return {left, top, left + PaneWidth(), std::max(top, clientHeight - Scale(BottomPanel))};
    }

    bool Message(HWND dialog, UINT message, WPARAM wParam, LPARAM, LRESULT&)
    {
        switch (message) {
        case WM_SHOWWINDOW:
            if (!wParam || shown_)
                return false;
            shown_ = true;
            SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            // Loading the page may call out of the apartment, which a call
            // that another thread sent cannot do; the dialog's own loop runs
            // it once the question shows.
            if (!moreInfoURL_.empty() && moreInfo_.Preload)
                PostMessageW(dialog, WM_PRELOAD, 0, 0);
            return false;
        case WM_PRELOAD:
            RunHook(moreInfo_.Preload);
            return true;
        case WM_COMMAND:
            if (LOWORD(wParam) != MoreInfoId)
                return false;
            RunHook(moreInfo_.Show);
            return true;
        case WM_PAINT:
            // The label sizes itself when it is painted first; the dialog follows.
            if (!sized_ && pane_) {
                sized_ = true;
                UpdateWindow(pane_->Handle());
                FitToLabel();
            }
            return false;
        case WM_VSCROLL:
            ScrollTo(ScrollTarget(LOWORD(wParam)));
            return true;
        case WM_MOUSEWHEEL:
            ScrollTo(scroll_ - Scale(wheel_.Pixels(GET_WHEEL_DELTA_WPARAM(wParam))));
            return true;
        case WM_SETTINGCHANGE:
        case WM_SYSCOLORCHANGE:
            // The pane is a child window: the change of colours reaches it from here.
            RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
            return false;
        default:
            return false;
        }
    }

    // A failing page never stops the question; the failure is reported.
    void RunHook(const std::function<void(const std::string&)>& hook) const
    {
        if (!hook)
            return;
        try {
            hook(moreInfoURL_);
        } catch (...) {
            HandleCurrentException();
        }
    }

    void FitToLabel()
    {
        const bool tall = label_ && label_->Height() > Scale(OneLine);
        if (!tall) {
            pane_->SetTabStop(label_ && label_->FocusItems() > 0);
            return;
        }
        const RECT work = WorkArea();
        RECT outer{};
        GetWindowRect(dialog_, &outer);
        const int frameHeight = outer.bottom - outer.top - ClientHeight();
        const int most = std::max<int>(Scale(Height), work.bottom - work.top - frameHeight);
        const int wanted = label_->Height() + Scale(LabelTop) + Scale(BottomPanel);
        RECT client{};
        GetClientRect(dialog_, &client);
        int width = client.right;
        // Never below the height of a one-line question, never past the work area.
        const int height = std::clamp(wanted, Scale(Height), most);
        const bool scrolls = wanted > most;
        if (scrolls) {
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
            info.nMax = label_->Height() - 1;
            info.nPage = static_cast<UINT>(height - Scale(LabelTop) - Scale(BottomPanel));
            SetScrollInfo(dialog_, SB_VERT, &info, TRUE);
            ShowScrollBar(dialog_, SB_VERT, TRUE);
            width += SystemMetricForDpi(SM_CXVSCROLL, layout_.dpi);
        }
        SetClientSize(dialog_, width, height);
        const int buttonTop = height - Scale(BottomPanel) + Scale(13);
        for (const int id : {YesId, LaterId, MoreInfoId}) {
            HWND button = GetDlgItem(dialog_, id);
            if (!button)
                continue;
            RECT bounds{};
            GetWindowRect(button, &bounds);
            MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&bounds), 2);
            SetWindowPos(button, nullptr, bounds.left, buttonTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        const RECT pane = PaneBounds(height);
        SetWindowPos(pane_->Handle(), nullptr, pane.left, pane.top, pane.right - pane.left, pane.bottom - pane.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        pane_->SetTabStop(scrolls || label_->FocusItems() > 0);
        InvalidateRect(dialog_, nullptr, TRUE);
    }

    // A new DPI lays the label out afresh; the dialog fits it again at the next paint.
    void DpiChanged()
    {
        ShowScrollBar(dialog_, SB_VERT, FALSE);
        scroll_ = 0;
        sized_ = false;
        SetIcon();
        const RECT pane = PaneBounds(ClientHeight());
        SetWindowPos(pane_->Handle(), nullptr, pane.left, pane.top, pane.right - pane.left, pane.bottom - pane.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        pane_->Host().SetDpi(layout_.dpi);
        label_->SetBounds(0, 0, PaneWidth(), Scale(17));
    }

    bool Scrolls() const
    {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_PAGE;
        return GetScrollInfo(dialog_, SB_VERT, &info) && info.nPage > 0 &&
               (GetWindowLongPtrW(dialog_, GWL_STYLE) & WS_VSCROLL) != 0;
    }

    int ScrollTarget(int request) const
    {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        GetScrollInfo(dialog_, SB_VERT, &info);
        const int page = static_cast<int>(info.nPage);
        switch (request) {
        case SB_LINEUP:
            return scroll_ - Scale(LineStep);
        case SB_LINEDOWN:
            return scroll_ + Scale(LineStep);
        case SB_PAGEUP:
            return scroll_ - page;
        case SB_PAGEDOWN:
            return scroll_ + page;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            return info.nTrackPos;
        case SB_TOP:
            return 0;
        case SB_BOTTOM:
            return info.nMax;
        default:
            return scroll_;
        }
    }

    // The arrows, Page Up and Down, Home and End scroll the message while it has the focus.
    bool ScrollKey(UINT key)
    {
        static constexpr std::pair<UINT, int> requests[] = {{VK_UP, SB_LINEUP},     {VK_DOWN, SB_LINEDOWN},
                                                            {VK_PRIOR, SB_PAGEUP},  {VK_NEXT, SB_PAGEDOWN},
                                                            {VK_HOME, SB_TOP},      {VK_END, SB_BOTTOM}};
        const auto found = std::find_if(std::begin(requests), std::end(requests),
                                         [key](const auto& request) { return request.first == key; });
        if (found == std::end(requests) || !Scrolls())
            return false;
        ScrollTo(ScrollTarget(found->second));
        return true;
    }

    // A link that takes the focus out of sight is scrolled into it.
    void ScrollIntoView(const RECT& area)
    {
        if (!Scrolls())
            return;
        RECT client{};
        GetClientRect(pane_->Handle(), &client);
        if (area.top < 0)
            ScrollTo(scroll_ + area.top);
        else if (area.bottom > client.bottom)
            ScrollTo(scroll_ + std::min(area.top, area.bottom - client.bottom));
    }

    void ScrollTo(int position)
    {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        if (!label_ || !GetScrollInfo(dialog_, SB_VERT, &info) || info.nPage == 0)
            return;
        const int last = std::max(0, info.nMax + 1 - static_cast<int>(info.nPage));
        scroll_ = std::clamp(position, 0, last);
        info.fMask = SIF_POS;
        info.nPos = scroll_;
        SetScrollInfo(dialog_, SB_VERT, &info, TRUE);
        label_->SetBounds(0, -scroll_, label_->Width(), label_->Height());
    }

    PixelDialog layout_;
    std::string message_;
    std::string moreInfoURL_;
    const TauMoreInfo& moreInfo_;
    HWND dialog_ = nullptr;
    std::unique_ptr<TGraphicPane> pane_;
    std::unique_ptr<THTMLabel> label_;
    bool shown_ = false;
    bool sized_ = false;
    int scroll_ = 0;
    WheelScroll wheel_{3 * LineStep};
};

// A second question while one is open is answered Later: the open one stays the only one.
bool AskUpgrade(const std::string& upgradeMsg, const std::string& moreInfoURL, const TauMoreInfo& moreInfo)
{
    if (askWindow) {
        SetForegroundWindow(askWindow);
        return false;
    }
    AskDialog dialog(upgradeMsg, moreInfoURL, moreInfo);
    const bool yes = dialog.Run();
    askWindow = nullptr;
    return yes;
}

void ShowError(const std::wstring& text)
{
    MessageBoxW(GetActiveWindow(), text.c_str(), UpgraderText(umsgCaption).c_str(), MB_OK | MB_ICONERROR);
}

// The password dialog: the labels as wide as their texts in the language
// shown, the edits after them, the dialog widened when they need it.
// Sizes are for 96 dots per inch, scaled to the dialog's.
DialogLayout PasswordLayout(const DialogMetrics& metrics, const std::wstring& text, const std::wstring& username)
{
    const auto scale = [&](int value) { return metrics.Scale(value); };
    const std::wstring userLabel = UpgraderText(umsgUserName), passwordLabel = UpgraderText(umsgPassword);
    const std::wstring ok = UpgraderText(umsgOK), cancel = UpgraderText(umsgCancel);
    const int left = scale(45), gap = scale(6), rightMargin = scale(18), buttonGap = scale(15);
    const int labelWidth = std::max(metrics.TextWidth(userLabel), metrics.TextWidth(passwordLabel));
    const int editLeft = std::max(scale(122), left + labelWidth + gap);
    const int okWidth = metrics.ButtonWidth(ok), cancelWidth = metrics.ButtonWidth(cancel);
    const int width = std::max({scale(297), editLeft + scale(157) + rightMargin,
                                left + okWidth + buttonGap + cancelWidth + rightMargin});
    const int right = width - rightMargin;
    const int textWidth = width - left - gap;
    const int top = scale(5) + metrics.WrappedHeight(text, textWidth);
    const int okLeft = right - cancelWidth - buttonGap - okWidth;
    DialogLayout layout;
    layout.width = width;
    layout.height = top + scale(98);
    layout.controls = {
        {L"STATIC", text, SS_LEFT | SS_NOPREFIX, -1, {left, scale(5), left + textWidth, top}},
        {L"STATIC", userLabel, SS_LEFT, -1, {left, top + scale(14), left + labelWidth, top + scale(30)}},
        {L"STATIC", passwordLabel, SS_LEFT, -1, {left, top + scale(38), left + labelWidth, top + scale(54)}},
        {L"EDIT", username, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, UsernameId,
         {editLeft, top + scale(10), right, top + scale(31)}},
        {L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, PasswordId,
         {editLeft, top + scale(34), right, top + scale(55)}},
        {L"BUTTON", ok, BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, {okLeft, top + scale(68), okLeft + okWidth, top + scale(91)}},
        {L"BUTTON", cancel, BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL,
         {right - cancelWidth, top + scale(68), right, top + scale(91)}},
    };
    return layout;
}

bool passwordOpen = false;

bool AskPassword(const std::wstring& text, std::string& username, std::string& password)
{
    if (passwordOpen)
        return false;
    PixelDialog layout;
    layout.caption = UpgraderText(umsgPasswordCaption);
    const std::wstring user = WideFromUtf8(username);
    layout.build = [&](const DialogMetrics& metrics) { return PasswordLayout(metrics, text, user); };
    layout.onOk = [&](HWND dialog) {
        username = WindowTextUtf8(GetDlgItem(dialog, UsernameId));
        password = WindowTextUtf8(GetDlgItem(dialog, PasswordId));
    };
    passwordOpen = true;
    const bool ok = RunPixelDialog(layout) == IDOK;
    passwordOpen = false;
    return ok;
}

bool ConfirmAbort(const std::wstring& text, const std::wstring& caption)
{
    return MessageBoxW(UpgraderWizard(), text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

}  // namespace

TauUpgraderPrompts DefaultUpgraderPrompts()
{
    TauUpgraderPrompts prompts;
    prompts.AskUpgrade = AskUpgrade;
    prompts.ShowError = ShowError;
    prompts.AskPassword = AskPassword;
    prompts.OpenBrowser = OpenBrowser;
    prompts.ConfirmAbort = ConfirmAbort;
    return prompts;
}

HWND UpgraderAskDialog()
{
    return askWindow;
}

void FreeUpgraderWindows()
{
    if (askWindow)
        EndDialog(askWindow, LaterId);
    FreeUpgraderWizardOf(nullptr);
}
