#pragma once
// Own helper of the engine's dialogs: a dialog laid out in pixels at its own
// DPI, in its own font ("MS Shell Dlg", 8 points at that DPI), so that each
// language's texts are measured before they are placed. The layout is built
// when the dialog opens and again when its DPI changes (WM_DPICHANGED: the
// dialog keeps the suggested place and takes the size its layout wants; the
// system's own dialog scaling is turned off, so it does not scale twice).
// Main thread only; every handler runs inside the dialog procedure, which
// lets no exception through (it reports it and cancels the dialog).
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <functional>
#include <string>
#include <vector>

struct DialogControl {
    const wchar_t* windowClass;
    std::wstring text;
    DWORD style;
    int id; // -1 for none
    RECT bounds; // client pixels at the dialog's DPI
};

// What a layout is built from: the DPI and the dialog's font.
class DialogMetrics {
public:
    DialogMetrics(int dpi, HFONT font);
    ~DialogMetrics();
    DialogMetrics(const DialogMetrics&) = delete;
    DialogMetrics& operator=(const DialogMetrics&) = delete;

    int Dpi() const { return dpi_; }
    // A length of 96 dots per inch at the dialog's DPI.
    int Scale(int value) const;
    // One line of text in the dialog's font (GetTextExtentPoint32W).
    int TextWidth(const std::wstring& text) const;
    // Text wrapped at a width, as a word-wrapping label shows it.
    int WrappedHeight(const std::wstring& text, int width) const;
    // A push button wide enough for its caption, and no narrower than 75 pixels at 96 DPI.
    int ButtonWidth(const std::wstring& caption) const;

private:
    int dpi_;
    HDC dc_;
    HGDIOBJ oldFont_;
};

struct DialogLayout {
    int width = 0; // client area
    int height = 0;
    std::vector<DialogControl> controls;
};

struct PixelDialog {
    std::wstring caption;
    // The controls, each time the same ones in the same order.
    std::function<DialogLayout(const DialogMetrics& metrics)> build;
    // The control that has the focus when the dialog opens; 0 for the first tab stop.
    int initialFocus = 0;
    std::function<void(HWND dialog)> onOk;
    std::function<void(HWND dialog)> onInit;
    // Messages the dialog takes before the common handling: true when
    // handled, with the message's result.
    std::function<bool(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)> onMessage;
    // After a change of DPI has laid the controls out again.
    std::function<void(HWND dialog)> onDpiChanged;

    // While the dialog is open.
    int dpi = 96;
    UniqueGdiObject font;
    std::vector<HWND> windows; // the controls, in the order built
};

// Modal, owned by the active window; the result of EndDialog.
INT_PTR RunPixelDialog(PixelDialog& layout);
// Without modality and without owner; null when it cannot be created.
HWND CreatePixelDialog(PixelDialog& layout);

RECT WorkArea();
// Gives the dialog this client size, centred in the work area.
void SetClientSize(HWND dialog, int width, int height);
// The open dialog's layout, for its handlers.
PixelDialog& LayoutOf(HWND dialog);
