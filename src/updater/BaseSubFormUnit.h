#pragma once
// TBaseSubForm: the base of the updater's windows. At creation it loads the
// glyphs of the window's alpha buttons from the program's "BMP32" resources
// (RegisterGlyphs names them); it can save and restore the window's
// placement in an INI file (TSettings); it hosts the window's windowless
// controls.
//
// Lifetime: a window marked FreeOnClose deletes itself after it closes, but
// never while one of its handlers is running: handlers pump messages, so a
// close may arrive from inside one (a Cancel click between progress events).
// The object is freed from the message loop once every handler has
// returned. Derived windows wrap their handlers in a HandlerScope.
//
// DPI: the window's font (11 pixels at 96 dots per inch) and the sizes a
// derived window fixes follow the window's DPI (Scale); on WM_DPICHANGED the
// window takes the suggested place, a new font and DpiChanged lays it out.
// Runs on the thread that created it.
#include <windows.h>

#include "widgets/AlphaButton.h"
#include "widgets/GraphicControl.h"
#include "winutil/OwnedWindow.h"
#include "winutil/UniqueHandle.h"

#include <memory>
#include <string>
#include <vector>

struct GlyphEntry {
    std::string resourceName;
    TAlphaButton* button;
};
using GlyphList = std::vector<GlyphEntry>;

// The window's state as stored: 0 normal, 1 minimised, 2 maximised.
enum class TWindowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

class TBaseSubForm {
public:
    TBaseSubForm();
    virtual ~TBaseSubForm();
    TBaseSubForm(const TBaseSubForm&) = delete;
    TBaseSubForm& operator=(const TBaseSubForm&) = delete;

    // Creates the window, hidden, and runs FormCreate. A glyph resource that
    // the program lacks throws std::runtime_error naming it, and no window
    // is left behind.
    void Create(HWND owner = nullptr);
    HWND Handle() const { return window_; }
    TGraphicHost& Host() { return *host_; }
    HFONT Font() const { return static_cast<HFONT>(font_.get()); }
    int Dpi() const { return dpi_; }
    // A length of 96 dots per inch at the window's DPI.
    int Scale(int value) const;

    void Show();
    // Asks the window to close, as its close box would.
    void Close();
    void SetFreeOnClose(bool value) { freeOnClose_ = value; }

    TWindowState WindowState() const;
    // On a hidden window the state is kept and applied when it is shown.
    void SetWindowState(TWindowState state);

    void SetPlacementFile(std::string file) { placementFile_ = std::move(file); }
    void SetPlacementSection(std::string section) { placementSection_ = std::move(section); }
    const std::string& PlacementFile() const { return placementFile_; }
    const std::string& PlacementSection() const { return placementSection_; }

    // "WindowState", then the normal (restored) bounds as "WindowLeft",
    // "WindowTop", "WindowWidth" and "WindowHeight". When the system cannot
    // report the restored bounds of a minimised or maximised window, the
    // bounds are written as 0, which LoadPlacement ignores.
    virtual void SavePlacement();
    // Applies the stored bounds only when all four are non-zero; the state always.
    virtual void LoadPlacement();
    virtual void RegisterGlyphs(GlyphList& glyphs);
    virtual std::string GetDescription() const;

protected:
    // Counts a running handler; a pending self-free waits for the last one.
    class HandlerScope {
    public:
        explicit HandlerScope(TBaseSubForm& form) : form_(form) { ++form_.busy_; }
        ~HandlerScope();
        HandlerScope(const HandlerScope&) = delete;
        HandlerScope& operator=(const HandlerScope&) = delete;

    private:
        TBaseSubForm& form_;
    };

    struct WindowLayout {
        std::string caption = "BaseSubForm";
        int width = 206;
        int height = 129;
        DWORD style = WS_OVERLAPPEDWINDOW;
        DWORD exStyle = 0;
    };
    virtual WindowLayout Layout() const;
    // Loads the registered glyphs. Derived windows create their controls
    // first, then run this, then do their own creation work.
    virtual void FormCreate();
    // The window is closing (already hidden); it is freed afterwards when FreeOnClose is set.
    virtual void FormClose();
    // Messages not handled by the windowless controls; the base handles
    // closing, the deferred free and DPI changes and passes the rest to the system.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The DPI changed: Font() and Scale() are the new ones; the window
    // stands at the place the system suggested.
    virtual void DpiChanged();
    // Gives the window a client area of this size at 96 DPI, scaled to its own.
    void SetClientSize(int width, int height);

private:
    template <class Owner>
    friend LRESULT CALLBACK OwnedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void WindowAttached(HWND window);
    void WindowDetached();
    LRESULT WindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void LoadGlyphs();
    void OnClose();
    void OnRelease();
    void ApplyState(TWindowState state);
    void MakeFont();
    void OnDpiChanged(int dpi, const RECT& suggested);

    HWND window_ = nullptr;
    std::unique_ptr<TGraphicHost> host_;
    UniqueGdiObject font_;
    int dpi_ = 96;
    std::string placementFile_;
    std::string placementSection_;
    TWindowState pendingState_ = TWindowState::wsNormal;
    bool freeOnClose_ = false;
    int busy_ = 0;
    bool releasePending_ = false;
};
