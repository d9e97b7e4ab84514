#include "auUpgraderDialogs.h"

#include "common/AppMessages.h"
#include "update/auUpgraderTexts.h"
#include "widgets/HTMLabel.h"
#include "widgets/WheelScroll.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <windowsx.h>

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
constexpr int BottomPanel = 45;
constexpr UINT WM_PRELOAD = WM_APP + 1;

struct Control {
    const wchar_t* windowClass;
    std::wstring text;
    DWORD style;
    int id;
    RECT bounds;  // client pixels
};

// A dialog laid out in client pixels; its controls are made when it opens.
struct PixelDialog {
    std::wstring caption;
    int width = 0;
    int height = 0;
    std::vector<Control> controls;
    std::function<void(HWND dialog)> onOk;
    std::function<void(HWND dialog)> onInit;
    // Messages the dialog takes before the common handling: true when
    // handled, with the message's result.
    std::function<bool(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)> onMessage;
};

// An empty dialog template: the controls follow in pixels, not dialog units.
std::vector<WORD> EmptyTemplate()
{
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD) + 3, 0);
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(words.data());
    dialog->style = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    // Point size and face of DS_SETFONT follow menu, class and title.
    words.push_back(8);
    for (const wchar_t c : std::wstring(L"MS Shell Dlg"))
        words.push_back(static_cast<WORD>(c));
    words.push_back(0);
    return words;
}

int TextHeight(HWND window, HFONT font, const std::wstring& text, int width)
{
    HDC dc = GetDC(window);
    const HGDIOBJ old = SelectObject(dc, font);
    RECT bounds{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return bounds.bottom;
}

RECT WorkArea()
{
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

// The dialog's frame around a client area of this size.
SIZE OuterSize(HWND dialog, int width, int height)
{
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void SetClientSize(HWND dialog, int width, int height)
{
    const SIZE outer = OuterSize(dialog, width, height);
    const int outerWidth = outer.cx;
    const int outerHeight = outer.cy;
    const RECT work = WorkArea();
    SetWindowPos(dialog, HWND_TOP, work.left + (work.right - work.left - outerWidth) / 2,
                 work.top + (work.bottom - work.top - outerHeight) / 2, outerWidth, outerHeight,
                 SWP_NOACTIVATE);
}

void OnInit(HWND dialog, PixelDialog& layout)
{
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&layout));
    SetWindowTextW(dialog, layout.caption.c_str());
    const auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    for (const Control& c : layout.controls) {
        HWND control = CreateWindowExW(0, c.windowClass, c.text.c_str(), WS_CHILD | WS_VISIBLE | c.style,
                                       c.bounds.left, c.bounds.top, c.bounds.right - c.bounds.left,
                                       c.bounds.bottom - c.bounds.top, dialog,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    SetClientSize(dialog, layout.width, layout.height);
    if (layout.onInit)
        layout.onInit(dialog);
}

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

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        auto* layout = reinterpret_cast<PixelDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (message == WM_INITDIALOG) {
            OnInit(dialog, *reinterpret_cast<PixelDialog*>(lParam));
            return TRUE;
        }
        if (!layout)
            return FALSE;
        LRESULT result = 0;
        if (layout->onMessage && layout->onMessage(dialog, message, wParam, lParam, result)) {
            // Colour messages answer with the brush itself.
            if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)
                return static_cast<INT_PTR>(result);
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
            return TRUE;
        }
        if (message != WM_COMMAND)
            return FALSE;
        const int id = LOWORD(wParam);
        if (id == IDOK && layout->onOk)
            layout->onOk(dialog);
        if (id == IDOK || id == IDCANCEL || id == YesId || id == LaterId)
            EndDialog(dialog, id);
        return TRUE;
    } catch (...) {
        HandleCurrentException();
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
}

INT_PTR RunDialog(PixelDialog& layout)
{
    const std::vector<WORD> words = EmptyTemplate();
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(words.data()),
                                   GetActiveWindow(), DialogProc, reinterpret_cast<LPARAM>(&layout));
}

// The font the dialogs use, for measuring text before one exists.
int MeasuredHeight(const std::wstring& text, int width)
{
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    return TextHeight(GetDesktopWindow(), font, text, width);
}

HWND askWindow = nullptr;

// The ask-to-upgrade dialog: the release message in a markup label that
// sizes itself to the text; the dialog takes the label's height at its first
// paint, up to the work area, and scrolls the label when it is taller.
class AskDialog {
public:
    static constexpr int Width = 316;
    static constexpr int Height = 132;
    static constexpr int LabelLeft = 42;
    static constexpr int LabelTop = 14;
    static constexpr int LabelWidth = Width - LabelLeft - 11;

    AskDialog(const std::string& upgradeMsg, const std::string& moreInfoURL, const TauMoreInfo& moreInfo)
        : message_(upgradeMsg.empty() ? upgradeMsg : "\n" + upgradeMsg + "\n"),
          moreInfoURL_(moreInfoURL),
          moreInfo_(moreInfo)
    {
        layout_.caption = UpgraderText(umsgCaption);
        layout_.width = Width;
        layout_.height = Height;
        const int buttonTop = Height - BottomPanel + 13;
        layout_.controls.push_back({L"STATIC", L"", SS_ICON, IconId, {7, 5, 39, 37}});
        layout_.controls.push_back({L"BUTTON", UpgraderText(umsgYes), BS_DEFPUSHBUTTON | WS_TABSTOP, YesId,
                                  {32, buttonTop, 107, buttonTop + 23}});
        layout_.controls.push_back({L"BUTTON", UpgraderText(umsgLater), BS_PUSHBUTTON | WS_TABSTOP, LaterId,
                                  {120, buttonTop, 195, buttonTop + 23}});
        if (!moreInfoURL_.empty())
            layout_.controls.push_back({L"BUTTON", L"More Info", BS_PUSHBUTTON | WS_TABSTOP, MoreInfoId,
                                      {208, buttonTop, 283, buttonTop + 23}});
        layout_.onInit = [this](HWND dialog) { Init(dialog); };
        layout_.onMessage = [this](HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
            return Message(dialog, message, wParam, lParam, result);
        };
    }

    bool Run() { return RunDialog(layout_) == YesId; }

private:
    void Init(HWND dialog)
    {
        askWindow = dialog;
        // 32514: the system's question mark.
        SendDlgItemMessageW(dialog, IconId, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconW(nullptr, MAKEINTRESOURCEW(32514))), 0);
        host_ = std::make_unique<TGraphicHost>(dialog);
        label_ = std::make_unique<THTMLabel>(*host_);
        label_->SetTrusted(false);
        label_->SetBounds(LabelLeft, LabelTop, LabelWidth, 17);
        label_->SetAutoSizing(true);
        label_->SetURLColor(clBlue);
        label_->SetShadowColor(clGray);
        label_->SetShadowOffset(2);
        label_->BeginUpdate();
        label_->SetHTMLText(message_);
        label_->EndUpdate();
    }

    bool Message(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
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
            Paint(dialog);
            return true;
        case WM_VSCROLL:
            ScrollTo(dialog, ScrollTarget(dialog, LOWORD(wParam)));
            return true;
        case WM_MOUSEWHEEL:
            ScrollTo(dialog, scroll_ - wheel_.Pixels(GET_WHEEL_DELTA_WPARAM(wParam)));
            return true;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            // The part of a scrolled label behind the buttons is not there to click.
            if (GET_Y_LPARAM(lParam) >= PanelTop(dialog))
                return false;
            break;
        default:
            break;
        }
        return host_ && host_->HandleMessage(message, wParam, lParam, result);
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

    static int PanelTop(HWND dialog)
    {
        RECT client{};
        GetClientRect(dialog, &client);
        return client.bottom - BottomPanel;
    }

    void Paint(HWND dialog)
    {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(dialog, &paint);
        RECT client{};
        GetClientRect(dialog, &client);
        IntersectClipRect(dc, 0, 0, client.right, client.bottom - BottomPanel);
        if (host_)
            host_->PaintControls(dc, paint.rcPaint);
        EndPaint(dialog, &paint);
        if (!sized_) {
            sized_ = true;
            FitToLabel(dialog);
        }
    }

    void FitToLabel(HWND dialog)
    {
        if (!label_ || label_->Height() <= 20)
            return;
        const RECT work = WorkArea();
        const int frameHeight = OuterSize(dialog, 0, 0).cy;
        const int most = std::max<int>(Height, work.bottom - work.top - frameHeight);
        const int wanted = label_->Height() + LabelTop + BottomPanel;
        int width = Width;
        const int height = std::min(wanted, most);
        if (wanted > most) {
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
            info.nMax = label_->Height() - 1;
            info.nPage = static_cast<UINT>(height - LabelTop - BottomPanel);
            SetScrollInfo(dialog, SB_VERT, &info, TRUE);
            ShowScrollBar(dialog, SB_VERT, TRUE);
            width += GetSystemMetrics(SM_CXVSCROLL);
        }
        SetClientSize(dialog, width, height);
        const int buttonTop = height - BottomPanel + 13;
        for (const int id : {YesId, LaterId, MoreInfoId}) {
            HWND button = GetDlgItem(dialog, id);
            if (!button)
                continue;
            RECT bounds{};
            GetWindowRect(button, &bounds);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&bounds), 2);
            SetWindowPos(button, nullptr, bounds.left, buttonTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        InvalidateRect(dialog, nullptr, TRUE);
    }

    static constexpr int LineStep = 13;

    int ScrollTarget(HWND dialog, int request) const
    {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        GetScrollInfo(dialog, SB_VERT, &info);
        const int page = static_cast<int>(info.nPage);
        switch (request) {
        case SB_LINEUP:
            return scroll_ - LineStep;
        case SB_LINEDOWN:
            return scroll_ + LineStep;
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

    void ScrollTo(HWND dialog, int position)
    {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        if (!label_ || !GetScrollInfo(dialog, SB_VERT, &info) || info.nPage == 0)
            return;
        const int last = std::max(0, info.nMax + 1 - static_cast<int>(info.nPage));
        scroll_ = std::clamp(position, 0, last);
        info.fMask = SIF_POS;
        info.nPos = scroll_;
        SetScrollInfo(dialog, SB_VERT, &info, TRUE);
        label_->SetBounds(LabelLeft, LabelTop - scroll_, LabelWidth, label_->Height());
    }

    PixelDialog layout_;
    std::string message_;
    std::string moreInfoURL_;
    const TauMoreInfo& moreInfo_;
    std::unique_ptr<TGraphicHost> host_;
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

bool passwordOpen = false;

bool AskPassword(const std::wstring& text, std::string& username, std::string& password)
{
    if (passwordOpen)
        return false;
    constexpr int panel = 98;
    const int labelHeight = MeasuredHeight(text, 246);
    const int top = 5 + labelHeight;
    PixelDialog layout;
    layout.caption = UpgraderText(umsgPasswordCaption);
    layout.width = 297;
    layout.height = top + panel;
    layout.controls = {
        {L"STATIC", text, SS_LEFT | SS_NOPREFIX, -1, {45, 5, 291, top}},
        {L"STATIC", UpgraderText(umsgUserName), SS_LEFT, -1, {45, top + 14, 120, top + 30}},
        {L"STATIC", UpgraderText(umsgPassword), SS_LEFT, -1, {45, top + 38, 120, top + 54}},
        {L"EDIT", WideFromUtf8(username), WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, UsernameId,
         {122, top + 10, 279, top + 31}},
        {L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, PasswordId,
         {122, top + 34, 279, top + 55}},
        {L"BUTTON", UpgraderText(umsgOK), BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, {114, top + 68, 189, top + 91}},
        {L"BUTTON", UpgraderText(umsgCancel), BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, {204, top + 68, 279, top + 91}},
    };
    layout.onOk = [&](HWND dialog) {
        username = WindowTextUtf8(GetDlgItem(dialog, UsernameId));
        password = WindowTextUtf8(GetDlgItem(dialog, PasswordId));
    };
    passwordOpen = true;
    const bool ok = RunDialog(layout) == IDOK;
    passwordOpen = false;
    return ok;
}

bool ConfirmAbort(const std::wstring& text, const std::wstring& caption)
{
    return MessageBoxW(UpgraderWizard(), text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

LRESULT CALLBACK DiscardKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR || message == WM_DEADCHAR)
        return 0;
    return DefSubclassProc(window, message, wParam, lParam);
}

// The progress wizard; its window is the process's one wizard while it exists.
class WizardForm {
public:
    static constexpr int Width = 463;
    static constexpr int Height = 281;
    static constexpr int PictureWidth = 118;
    static constexpr int PictureHeight = 218;

    HWND Window() const { return window_; }

    void Show(TauWizardLink link)
    {
        link_ = std::move(link);
        if (!window_)
            Create();
        if (!window_)
            return;
        const HWND w = window_;
        const std::wstring about = L" " + ResourceTextW(UpgraderComponentNameId) + L" ";
        SetDlgItemTextW(w, wzAbout, about.c_str());
        SetWindowPos(w, link_.StayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (link_.Picture) {
            picture_.reset(CopyImage(link_.Picture, IMAGE_BITMAP, PictureWidth, PictureHeight, 0));
            SendDlgItemMessageW(w, wzImage, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
        }
        SetText(wzTimeLeft, UpgraderText(umsgPreparing));
        SetWindowTextW(w, UpgraderText(umsgCaption).c_str());
        SetText(wzTitle, UpgraderText(umsgDownloading));
        SetText(wzCurrentFileGroup, L" " + UpgraderText(umsgCurrentFile) + L" ");
        SetText(wzAllFilesGroup, L" " + UpgraderText(umsgAllFiles) + L" ");
        SetText(wzDownloadingFrom, UpgraderText(umsgDownloadingFrom));
        SetText(wzFinishBtn, UpgraderText(umsgNext));
        SetText(wzCancelBtn, UpgraderText(umsgCancel));
        ShowWindow(w, SW_SHOW);
    }

    void SetText(int id, const std::wstring& text) const { SetDlgItemTextW(window_, id, text.c_str()); }

    void SetBar(int id, int percents) const { SendDlgItemMessageW(window_, id, PBM_SETPOS, percents, 0); }

    void Finish()
    {
        const HWND w = window_;
        SetText(wzTitle, UpgraderText(umsgCompleted));
        const std::wstring note = UpgraderText(umsgFinishedNote, {WideFromUtf8(ApplicationTitle())});
        const HWND afterNote = GetDlgItem(w, wzAfterNote);
        SetWindowTextW(afterNote, note.c_str());
        const auto font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
        SetWindowPos(afterNote, nullptr, 136, 44, 319, TextHeight(w, font, note, 319),
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        for (int id = wzCurrentFileGroup; id <= wzAllFilesBar; ++id)
            ShowWindow(GetDlgItem(w, id), SW_HIDE);
        const HWND finish = GetDlgItem(w, wzFinishBtn);
        SetWindowTextW(finish, UpgraderText(umsgOK).c_str());
        EnableWindow(finish, TRUE);
        SendMessageW(w, DM_SETDEFID, wzFinishBtn, 0);
        SendMessageW(w, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(finish), TRUE);
        EnableWindow(GetDlgItem(w, wzCancelBtn), FALSE);
    }

    void Free(const void* owner)
    {
        if (window_ && (!owner || owner == link_.Owner))
            DestroyWindow(window_);
    }

private:
    void Create()
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        layout_ = PixelDialog{};
        layout_.width = Width;
        layout_.height = Height;
        constexpr DWORD label = SS_LEFT | SS_NOPREFIX;
        layout_.controls = {
            {L"STATIC", L"", SS_SUNKEN, -1, {10, 10, 130, 230}},
            {L"STATIC", L"", SS_BITMAP | SS_REALSIZECONTROL, wzImage, {11, 11, 129, 229}},
            {L"STATIC", L"", label, wzTitle, {136, 10, 455, 34}},
            {L"STATIC", L"", label, wzAfterNote, {136, 44, 455, 60}},
            {L"BUTTON", L"", BS_GROUPBOX, wzCurrentFileGroup, {136, 34, 455, 159}},
            {L"STATIC", L"", label, wzDownloadingFrom, {144, 50, 447, 66}},
            {L"EDIT", L"", ES_READONLY | ES_AUTOHSCROLL, wzFileURL, {144, 66, 447, 82}},
            {L"STATIC", L"", label, wzFileSize, {144, 86, 296, 102}},
            {L"STATIC", L"", label, wzTransferRate, {296, 86, 447, 102}},
            {L"STATIC", L"", label, wzTimeLeft, {144, 104, 447, 120}},
            {PROGRESS_CLASSW, L"", 0, wzCurrentFileBar, {144, 126, 447, 144}},
            {L"BUTTON", L"", BS_GROUPBOX, wzAllFilesGroup, {136, 162, 455, 229}},
            {L"STATIC", L"", label, wzAllDownloading, {144, 180, 447, 196}},
            {PROGRESS_CLASSW, L"", 0, wzAllFilesBar, {144, 200, 447, 218}},
            {L"STATIC", L"", SS_ETCHEDHORZ, -1, {10, 238, 453, 240}},
            {L"STATIC", L"", SS_OWNERDRAW, wzAbout, {10, 252, 290, 270}},
            {L"BUTTON", L"", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, wzFinishBtn, {296, 248, 371, 273}},
            {L"BUTTON", L"", BS_DEFPUSHBUTTON | WS_TABSTOP, wzCancelBtn, {380, 248, 455, 273}},
        };
        layout_.onInit = [this](HWND dialog) { Init(dialog); };
        layout_.onMessage = [this](HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
            return Message(dialog, message, wParam, lParam, result);
        };
        const std::vector<WORD> words = EmptyTemplate();
        window_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                             reinterpret_cast<const DLGTEMPLATE*>(words.data()), nullptr,
                                             DialogProc, reinterpret_cast<LPARAM>(&layout_));
    }

    void Init(HWND dialog)
    {
        window_ = dialog;
        titleFont_.reset(CreateFontW(-19, 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Times New Roman"));
        SendDlgItemMessageW(dialog, wzTitle, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_.get()), FALSE);
        ShowWindow(GetDlgItem(dialog, wzAfterNote), SW_HIDE);
        SetWindowSubclass(GetDlgItem(dialog, wzFileURL), DiscardKeys, 0, 0);
        SendMessageW(dialog, DM_SETDEFID, wzCancelBtn, 0);
    }

    bool Message(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
    {
        switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == wzFinishBtn && IsWindowEnabled(GetDlgItem(dialog, wzFinishBtn)))
                DestroyWindow(dialog);
            else if (LOWORD(wParam) == wzCancelBtn && IsWindowEnabled(GetDlgItem(dialog, wzCancelBtn)))
                PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != SC_CLOSE)
                return false;
            AskClose();
            return true;
        case WM_CLOSE:
            AskClose();
            return true;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) != GetDlgItem(dialog, wzFileURL))
                return false;
            SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_HIGHLIGHT));
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
            result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            return true;
        case WM_DRAWITEM:
            if (wParam != wzAbout)
                return false;
            DrawAbout(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            result = TRUE;
            return true;
        case WM_NCDESTROY:
            RemoveWindowSubclass(GetDlgItem(dialog, wzFileURL), DiscardKeys, 0);
            window_ = nullptr;
            titleFont_.reset();
            picture_.reset();
            return false;
        default:
            return false;
        }
    }

    // The component's name with a shadow one pixel right and down.
    static void DrawAbout(const DRAWITEMSTRUCT& item)
    {
        const int length = GetWindowTextLengthW(item.hwndItem);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        GetWindowTextW(item.hwndItem, text.data(), length + 1);
        text.resize(static_cast<std::size_t>(length));
        FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
        SetBkMode(item.hDC, TRANSPARENT);
        RECT shadow = item.rcItem;
        OffsetRect(&shadow, 1, 1);
        SetTextColor(item.hDC, GetSysColor(COLOR_BTNHIGHLIGHT));
        DrawTextW(item.hDC, text.c_str(), length, &shadow, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        RECT bounds = item.rcItem;
        SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
        DrawTextW(item.hDC, text.c_str(), length, &bounds, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }

    // The link goes with the next show, so its handlers are copied first.
    void AskClose()
    {
        const auto confirm = link_.ConfirmAbort;
        const auto abort = link_.Abort;
        if (confirm && !confirm(UpgraderText(umsgAbortQuestion), WideFromUtf8(ApplicationTitle())))
            return;
        if (window_)
            DestroyWindow(window_);
        if (abort)
            abort();
    }

    HWND window_ = nullptr;
    TauWizardLink link_;
    PixelDialog layout_;
    UniqueGdiObject titleFont_;
    UniqueGdiObject picture_;
};

WizardForm wizard;

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

void ShowUpgraderWizard(TauWizardLink link)
{
    wizard.Show(std::move(link));
}

HWND UpgraderWizard()
{
    return wizard.Window();
}

void SetWizardFile(const std::string& url, int number, int count)
{
    if (!wizard.Window())
        return;
    wizard.SetText(wzFileURL, WideFromUtf8(url));
    wizard.SetText(wzAllDownloading, UpgraderNumbers(umsgFileOfFiles, {double(number), double(count)}));
}

void SetWizardFileSize(std::int64_t bytes)
{
    if (wizard.Window())
        wizard.SetText(wzFileSize, UpgraderNumbers(umsgFileSize, {static_cast<double>(bytes) / 1024}));
}

void SetWizardProgress(int percentsDone, int totalPercentsDone, float transferRate, int estimatedTimeLeft)
{
    if (!wizard.Window())
        return;
    wizard.SetBar(wzCurrentFileBar, percentsDone);
    wizard.SetBar(wzAllFilesBar, totalPercentsDone);
    wizard.SetText(wzTransferRate, UpgraderNumbers(umsgTransferRate, {transferRate}));
    wizard.SetText(wzTimeLeft, UpgraderNumbers(umsgTimeLeft, {double(estimatedTimeLeft / 3600),
                                                              double(estimatedTimeLeft / 60 % 60),
                                                              double(estimatedTimeLeft % 60)}));
}

void FinishUpgraderWizard()
{
    if (wizard.Window())
        wizard.Finish();
}

bool WaitForUpgraderWizard()
{
    if (wizard.Window())
        SetForegroundWindow(wizard.Window());
    MSG message;
    while (wizard.Window()) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0)
                PostQuitMessage(static_cast<int>(message.wParam));
            wizard.Free(nullptr);
            return false;
        }
        if (!IsDialogMessageW(wizard.Window(), &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

HWND UpgraderAskDialog()
{
    return askWindow;
}

void FreeUpgraderWindows()
{
    if (askWindow)
        EndDialog(askWindow, LaterId);
    wizard.Free(nullptr);
}

void FreeUpgraderWizardOf(const void* owner)
{
    wizard.Free(owner);
}
