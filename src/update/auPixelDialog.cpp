#include "auPixelDialog.h"

#include "common/AppMessages.h"
#include "winutil/RuntimeLink.h"
#include "winutil/WindowDpi.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr int kFontPoints = 8;
constexpr int kButtonWidth = 75;
constexpr int kButtonPadding = 12; // each side of a button's caption

// An empty dialog template: the controls follow in pixels, not dialog units.
std::vector<WORD> EmptyTemplate()
{
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD) + 3, 0);
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(words.data());
    dialog->style = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    // Point size and face of DS_SETFONT follow menu, class and title.
    words.push_back(kFontPoints);
    for (const wchar_t c : std::wstring(L"MS Shell Dlg"))
        words.push_back(static_cast<WORD>(c));
    words.push_back(0);
    return words;
}

UniqueGdiObject DialogFont(int dpi)
{
    return UniqueGdiObject(CreateFontW(-MulDiv(kFontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                       DEFAULT_PITCH, L"MS Shell Dlg"));
}

HFONT FontOf(const PixelDialog& layout)
{
    return static_cast<HFONT>(layout.font.get());
}

// The dialog manager's own DPI scaling (Windows 10 1703) would scale the
// layout once more; older systems have none.
void TurnOffSystemScaling(HWND dialog)
{
    using SetBehaviorFn = BOOL WINAPI(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
    try {
        static SetBehaviorFn* const set = BindFunctionAs<SetBehaviorFn>("user32.dll", "SetDialogDpiChangeBehavior");
        set(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
    } catch (const std::runtime_error&) {
    }
}

DialogLayout Build(PixelDialog& layout)
{
    const DialogMetrics metrics(layout.dpi, FontOf(layout));
    return layout.build(metrics);
}

void PlaceClient(HWND dialog, int width, int height, const POINT* at)
{
    SetClientSizeForDpi(dialog, width, height, LayoutOf(dialog).dpi);
    RECT outer{};
    GetWindowRect(dialog, &outer);
    POINT place = {};
    if (at) {
        place = *at;
    } else {
        const RECT work = WorkArea();
        place = {work.left + (work.right - work.left - (outer.right - outer.left)) / 2,
                 work.top + (work.bottom - work.top - (outer.bottom - outer.top)) / 2};
    }
    SetWindowPos(dialog, HWND_TOP, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

// True when the dialog set the focus itself.
bool OnInit(HWND dialog, PixelDialog& layout)
{
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&layout));
    TurnOffSystemScaling(dialog);
    SetWindowTextW(dialog, layout.caption.c_str());
    layout.dpi = WindowDpi(dialog);
    layout.font = DialogFont(layout.dpi);
    const DialogLayout built = Build(layout);
    layout.windows.clear();
    for (const DialogControl& c : built.controls) {
        HWND control = CreateWindowExW(0, c.windowClass, c.text.c_str(), WS_CHILD | WS_VISIBLE | c.style,
                                       c.bounds.left, c.bounds.top, c.bounds.right - c.bounds.left,
                                       c.bounds.bottom - c.bounds.top, dialog,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(layout)), FALSE);
        layout.windows.push_back(control);
    }
    SetClientSize(dialog, built.width, built.height);
    if (layout.onInit)
        layout.onInit(dialog);
    const HWND focus = layout.initialFocus ? GetDlgItem(dialog, layout.initialFocus) : nullptr;
    if (!focus)
        return false;
    SetFocus(focus);
    return true;
}

// The controls keep their texts and states; only places and font change.
void OnDpiChanged(HWND dialog, PixelDialog& layout, int dpi, const RECT& suggested)
{
    layout.dpi = dpi;
    layout.font = DialogFont(dpi);
    const DialogLayout built = Build(layout);
    const std::size_t count = std::min(built.controls.size(), layout.windows.size());
    for (std::size_t i = 0; i < count; ++i) {
        const RECT& bounds = built.controls[i].bounds;
        SetWindowPos(layout.windows[i], nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                     bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(layout.windows[i], WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(layout)), TRUE);
    }
    const POINT at = {suggested.left, suggested.top};
    PlaceClient(dialog, built.width, built.height, &at);
    if (layout.onDpiChanged)
        layout.onDpiChanged(dialog);
    InvalidateRect(dialog, nullptr, TRUE);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        auto* layout = reinterpret_cast<PixelDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (message == WM_INITDIALOG)
            return OnInit(dialog, *reinterpret_cast<PixelDialog*>(lParam)) ? FALSE : TRUE;
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
        if (message == WM_DPICHANGED) {
            OnDpiChanged(dialog, *layout, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        if (message != WM_COMMAND)
            return FALSE;
        const int id = LOWORD(wParam);
        if (id == IDOK && layout->onOk)
            layout->onOk(dialog);
        if (id == IDOK || id == IDCANCEL || id == IDYES || id == IDNO)
            EndDialog(dialog, id);
        return TRUE;
    } catch (...) {
        HandleCurrentException();
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
}

} // namespace

DialogMetrics::DialogMetrics(int dpi, HFONT font) : dpi_(dpi), dc_(CreateCompatibleDC(nullptr))
{
    oldFont_ = SelectObject(dc_, font);
}

DialogMetrics::~DialogMetrics()
{
    SelectObject(dc_, oldFont_);
    DeleteDC(dc_);
}

int DialogMetrics::Scale(int value) const
{
    return ScaleForDpi(value, dpi_);
}

int DialogMetrics::TextWidth(const std::wstring& text) const
{
    SIZE size = {};
    GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

int DialogMetrics::WrappedHeight(const std::wstring& text, int width) const
{
    RECT bounds{0, 0, width, 0};
    DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &bounds, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    return bounds.bottom;
}

int DialogMetrics::ButtonWidth(const std::wstring& caption) const
{
    return std::max(Scale(kButtonWidth), TextWidth(caption) + 2 * Scale(kButtonPadding));
}

INT_PTR RunPixelDialog(PixelDialog& layout)
{
    const std::vector<WORD> words = EmptyTemplate();
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(words.data()),
                                   GetActiveWindow(), DialogProc, reinterpret_cast<LPARAM>(&layout));
}

HWND CreatePixelDialog(PixelDialog& layout)
{
    const std::vector<WORD> words = EmptyTemplate();
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(words.data()),
                                      nullptr, DialogProc, reinterpret_cast<LPARAM>(&layout));
}

RECT WorkArea()
{
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

void SetClientSize(HWND dialog, int width, int height)
{
    PlaceClient(dialog, width, height, nullptr);
}

PixelDialog& LayoutOf(HWND dialog)
{
    return *reinterpret_cast<PixelDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
}
