#include "auUpgraderDialogs.h"

#include "update/auUpgraderTexts.h"
#include "update/auURL.h"
#include "winutil/WideText.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int YesId = IDYES;
constexpr int LaterId = IDNO;
constexpr int MoreInfoId = 100;
constexpr int UsernameId = 101;
constexpr int PasswordId = 102;
constexpr int BottomPanel = 45;

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
    std::string moreInfoURL;
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

void SetClientSize(HWND dialog, int width, int height)
{
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    const int outerWidth = frame.right - frame.left;
    const int outerHeight = frame.bottom - frame.top;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(dialog, HWND_TOP, work.left + (work.right - work.left - outerWidth) / 2,
                 work.top + (work.bottom - work.top - outerHeight) / 2, outerWidth, outerHeight,
                 SWP_NOACTIVATE);
}

void OnInit(HWND dialog, PixelDialog& spec)
{
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&spec));
    SetWindowTextW(dialog, spec.caption.c_str());
    const auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    for (const Control& c : spec.controls) {
        HWND control = CreateWindowExW(0, c.windowClass, c.text.c_str(), WS_CHILD | WS_VISIBLE | c.style,
                                       c.bounds.left, c.bounds.top, c.bounds.right - c.bounds.left,
                                       c.bounds.bottom - c.bounds.top, dialog,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    SetClientSize(dialog, spec.width, spec.height);
}

std::string WindowTextAnsi(HWND window)
{
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// The program registered for web pages gets the quoted address as its
// arguments; without one the shell opens the bare address.
void OpenBrowser(const std::string& quotedURL)
{
    char program[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (AssocQueryStringA(0, ASSOCSTR_EXECUTABLE, ".html", "open", program, &size) == S_OK) {
        ShellExecuteA(GetDesktopWindow(), "open", program, quotedURL.c_str(), nullptr, SW_SHOWNORMAL);
        return;
    }
    const std::string bare = quotedURL.size() >= 2 ? quotedURL.substr(1, quotedURL.size() - 2) : quotedURL;
    ShellExecuteA(GetDesktopWindow(), "open", bare.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        auto* spec = reinterpret_cast<PixelDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (message == WM_INITDIALOG) {
            OnInit(dialog, *reinterpret_cast<PixelDialog*>(lParam));
            return TRUE;
        }
        if (message != WM_COMMAND || !spec)
            return FALSE;
        const int id = LOWORD(wParam);
        if (id == MoreInfoId) {
            if (const auto address = BrowserAddress(spec->moreInfoURL))
                OpenBrowser(*address);
            return TRUE;
        }
        if (id == IDOK && spec->onOk)
            spec->onOk(dialog);
        if (id == IDOK || id == IDCANCEL || id == YesId || id == LaterId)
            EndDialog(dialog, id);
        return TRUE;
    } catch (...) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
}

INT_PTR RunDialog(PixelDialog& spec)
{
    const std::vector<WORD> words = EmptyTemplate();
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(words.data()),
                                   GetActiveWindow(), DialogProc, reinterpret_cast<LPARAM>(&spec));
}

// The font the dialogs use, for measuring text before one exists.
int MeasuredHeight(const std::wstring& text, int width)
{
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    return TextHeight(GetDesktopWindow(), font, text, width);
}

bool AskUpgrade(const std::string& upgradeMsg, const std::string& moreInfoURL)
{
    // The release message is shown as plain text until the markup label
    // takes its place.
    const std::wstring message = upgradeMsg.empty() ? std::wstring() : L"\n" + WideFromAnsi(upgradeMsg) + L"\n";
    constexpr int labelLeft = 42;
    constexpr int labelWidth = 316 - labelLeft - 11;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int maxLabel = static_cast<int>(work.bottom - work.top) - 14 - BottomPanel - 60;
    const int labelHeight = std::min(std::max(MeasuredHeight(message, labelWidth), 20), std::max(maxLabel, 20));
    PixelDialog spec;
    spec.caption = UpgraderText(umsgCaption);
    spec.width = 316;
    spec.height = std::max(132, 14 + labelHeight + BottomPanel);
    spec.moreInfoURL = moreInfoURL;
    const int buttonTop = spec.height - BottomPanel + 13;
    spec.controls.push_back({L"STATIC", L"", SS_ICON, -1, {7, 5, 39, 37}});
    spec.controls.push_back({L"EDIT", message, ES_MULTILINE | ES_READONLY | WS_VSCROLL, -1,
                             {labelLeft, 14, labelLeft + labelWidth, 14 + labelHeight}});
    spec.controls.push_back({L"BUTTON", UpgraderText(umsgYes), BS_DEFPUSHBUTTON | WS_TABSTOP, YesId,
                             {32, buttonTop, 107, buttonTop + 23}});
    spec.controls.push_back({L"BUTTON", UpgraderText(umsgLater), BS_PUSHBUTTON | WS_TABSTOP, LaterId,
                             {120, buttonTop, 195, buttonTop + 23}});
    if (!moreInfoURL.empty())
        spec.controls.push_back({L"BUTTON", L"More Info", BS_PUSHBUTTON | WS_TABSTOP, MoreInfoId,
                                 {208, buttonTop, 283, buttonTop + 23}});
    return RunDialog(spec) == YesId;
}

void ShowError(const std::wstring& text)
{
    MessageBoxW(GetActiveWindow(), text.c_str(), UpgraderText(umsgCaption).c_str(), MB_OK | MB_ICONERROR);
}

bool AskPassword(const std::wstring& text, std::string& username, std::string& password)
{
    constexpr int panel = 98;
    const int labelHeight = MeasuredHeight(text, 246);
    const int top = 5 + labelHeight;
    PixelDialog spec;
    spec.caption = UpgraderText(umsgPasswordCaption);
    spec.width = 297;
    spec.height = top + panel;
    spec.controls = {
        {L"STATIC", text, SS_LEFT | SS_NOPREFIX, -1, {45, 5, 291, top}},
        {L"STATIC", UpgraderText(umsgUserName), SS_LEFT, -1, {45, top + 14, 120, top + 30}},
        {L"STATIC", UpgraderText(umsgPassword), SS_LEFT, -1, {45, top + 38, 120, top + 54}},
        {L"EDIT", WideFromAnsi(username), WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, UsernameId,
         {122, top + 10, 279, top + 31}},
        {L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, PasswordId,
         {122, top + 34, 279, top + 55}},
        {L"BUTTON", UpgraderText(umsgOK), BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, {114, top + 68, 189, top + 91}},
        {L"BUTTON", UpgraderText(umsgCancel), BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, {204, top + 68, 279, top + 91}},
    };
    spec.onOk = [&](HWND dialog) {
        username = WindowTextAnsi(GetDlgItem(dialog, UsernameId));
        password = WindowTextAnsi(GetDlgItem(dialog, PasswordId));
    };
    return RunDialog(spec) == IDOK;
}

}  // namespace

TauUpgraderPrompts DefaultUpgraderPrompts()
{
    return {AskUpgrade, ShowError, AskPassword, OpenBrowser};
}
