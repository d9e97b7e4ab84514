// The progress wizard of the engine's dialogs (auUpgraderDialogs.h).
#include "auUpgraderDialogs.h"

#include "common/AppMessages.h"
#include "update/auPixelDialog.h"
#include "update/auUpgraderTexts.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"
#include "winutil/WindowDpi.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

namespace {

LRESULT CALLBACK DiscardKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR || message == WM_DEADCHAR)
        return 0;
    return DefSubclassProc(window, message, wParam, lParam);
}

RECT Scaled(const DialogMetrics& metrics, const RECT& rect)
{
    return {metrics.Scale(rect.left), metrics.Scale(rect.top), metrics.Scale(rect.right), metrics.Scale(rect.bottom)};
}

// The widest text a label of the right column shows, with the largest
// figures it is given, in the language shown.
int WidestFigures(const DialogMetrics& metrics, bool halfColumn)
{
    if (halfColumn)
        return std::max(metrics.TextWidth(UpgraderNumbers(umsgFileSize, {99999.9})),
                        metrics.TextWidth(UpgraderNumbers(umsgTransferRate, {99999.9})));
    return std::max({metrics.TextWidth(UpgraderNumbers(umsgTimeLeft, {99, 59, 59})),
                     metrics.TextWidth(UpgraderNumbers(umsgFileOfFiles, {99, 99})),
                     metrics.TextWidth(UpgraderText(umsgDownloadingFrom))});
}

// The progress wizard; its window is the process's one wizard while it
// exists. Sizes are for 96 dots per inch, scaled to the dialog's; the right
// column widens, and the dialog with it, where a language's texts need it.
class WizardForm {
public:
    static constexpr int Width = 463;
    static constexpr int Height = 281;
    static constexpr int PictureWidth = 118;
    static constexpr int PictureHeight = 218;
    static constexpr int TitleHeight = 19;
    static constexpr int ColumnLeft = 136;
    static constexpr int FieldsLeft = 144;
    static constexpr int FieldsRight = 447;
    static constexpr int ButtonsRight = 455;
    static constexpr int ButtonGap = 9;

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
            original_.reset(CopyImage(link_.Picture, IMAGE_BITMAP, 0, 0, 0));
            ShowPicture();
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
        finished_ = true;
        const HWND w = window_;
        SetText(wzTitle, UpgraderText(umsgCompleted));
        SetWindowTextW(GetDlgItem(w, wzAfterNote), FinishedNote().c_str());
        FitFinishedNote();
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
    static std::wstring FinishedNote()
    {
        return UpgraderText(umsgFinishedNote, {WideFromUtf8(ApplicationTitle())});
    }

    DialogLayout Build(const DialogMetrics& metrics) const
    {
        constexpr DWORD label = SS_LEFT | SS_NOPREFIX;
        DialogLayout layout;
        layout.width = metrics.Scale(Width);
        layout.height = metrics.Scale(Height);
        layout.controls = {
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
        for (DialogControl& control : layout.controls)
            control.bounds = Scaled(metrics, control.bounds);
        Widen(metrics, layout);
        PlaceButtons(metrics, layout);
        return layout;
    }

    // The right column grows by what its widest texts lack, the size and
    // rate fields sharing the growth.
    static void Widen(const DialogMetrics& metrics, DialogLayout& layout)
    {
        const int fields = metrics.Scale(FieldsRight) - metrics.Scale(FieldsLeft);
        const int margin = metrics.Scale(4);
        const int extra = std::max({0, 2 * (WidestFigures(metrics, /*halfColumn=*/true) + margin) - fields,
                                    WidestFigures(metrics, /*halfColumn=*/false) + margin - fields});
        if (extra == 0)
            return;
        layout.width += extra;
        for (DialogControl& control : layout.controls) {
            RECT& bounds = control.bounds;
            if (control.id == wzFileSize) {
                bounds.right += extra / 2;
            } else if (control.id == wzTransferRate) {
                bounds.left += extra / 2;
                bounds.right += extra;
            } else if (control.id == wzFinishBtn || control.id == wzCancelBtn) {
                OffsetRect(&bounds, extra, 0);
            } else if (bounds.right > metrics.Scale(ColumnLeft)) {
                bounds.right += extra;
            }
        }
    }

    // The two buttons stay at the right edge, each wide enough for every caption it shows.
    static void PlaceButtons(const DialogMetrics& metrics, DialogLayout& layout)
    {
        const int finishWidth = std::max(metrics.ButtonWidth(UpgraderText(umsgNext)),
                                         metrics.ButtonWidth(UpgraderText(umsgOK)));
        const int cancelWidth = metrics.ButtonWidth(UpgraderText(umsgCancel));
        const int right = layout.width - metrics.Scale(Width - ButtonsRight);
        for (DialogControl& control : layout.controls) {
            RECT& bounds = control.bounds;
            if (control.id == wzCancelBtn) {
                bounds.right = right;
                bounds.left = right - cancelWidth;
            } else if (control.id == wzFinishBtn) {
                bounds.right = right - cancelWidth - metrics.Scale(ButtonGap);
                bounds.left = bounds.right - finishWidth;
            }
        }
    }

    void Create()
    {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        layout_ = PixelDialog{};
        layout_.build = [this](const DialogMetrics& metrics) { return Build(metrics); };
        layout_.onInit = [this](HWND dialog) { Init(dialog); };
        layout_.onMessage = [this](HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
            return Message(dialog, message, wParam, lParam, result);
        };
        layout_.onDpiChanged = [this](HWND) { DpiChanged(); };
        window_ = CreatePixelDialog(layout_);
    }

    void Init(HWND dialog)
    {
        window_ = dialog;
        SetTitleFont();
        ShowWindow(GetDlgItem(dialog, wzAfterNote), SW_HIDE);
        SetWindowSubclass(GetDlgItem(dialog, wzFileURL), DiscardKeys, 0, 0);
        SendMessageW(dialog, DM_SETDEFID, wzCancelBtn, 0);
    }

    void SetTitleFont()
    {
        titleFont_.reset(CreateFontW(-ScaleForDpi(TitleHeight, layout_.dpi), 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE,
                                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH, L"Times New Roman"));
        SendDlgItemMessageW(window_, wzTitle, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_.get()), TRUE);
    }

    void ShowPicture()
    {
        if (!original_)
            return;
        picture_.reset(CopyImage(original_.get(), IMAGE_BITMAP, ScaleForDpi(PictureWidth, layout_.dpi),
                                 ScaleForDpi(PictureHeight, layout_.dpi), 0));
        SendDlgItemMessageW(window_, wzImage, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
    }

    // The note as tall as its text at the width it has.
    void FitFinishedNote() const
    {
        const HWND afterNote = GetDlgItem(window_, wzAfterNote);
        RECT bounds{};
        GetWindowRect(afterNote, &bounds);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&bounds), 2);
        const int width = bounds.right - bounds.left;
        const DialogMetrics metrics(layout_.dpi, static_cast<HFONT>(layout_.font.get()));
        SetWindowPos(afterNote, nullptr, bounds.left, bounds.top, width, metrics.WrappedHeight(FinishedNote(), width),
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    }

    void DpiChanged()
    {
        SetTitleFont();
        ShowPicture();
        if (finished_)
            FitFinishedNote();
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
            finished_ = false;
            titleFont_.reset();
            picture_.reset();
            original_.reset();
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
    bool finished_ = false;
    UniqueGdiObject titleFont_;
    UniqueGdiObject original_;
    UniqueGdiObject picture_;
};

WizardForm wizard;

}  // namespace

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

void FreeUpgraderWizardOf(const void* owner)
{
    wizard.Free(owner);
}
