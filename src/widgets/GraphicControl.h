#pragma once
// Windowless controls. A windowless control has no window of its own: it
// occupies a rectangle of its parent window's client area and paints that
// part of the parent. The parent window owns one TGraphicHost and hands it
// every message first (HandleMessage, at the top of its window procedure);
// the host paints its controls in WM_PAINT after the background is erased,
// in the order they were created, each with the origin moved to its top-left
// corner and clipped to its rectangle; it sends them mouse moves with enter
// and leave, button presses and releases, double clicks, accelerator keys,
// cursor requests and tooltip requests. A control that asks for it gets the
// mouse captured while its left button is down, and then all mouse moves and
// the release, wherever they happen. A control repaints by invalidating its
// rectangle in the parent. Controls and host
// live on the parent window's thread; the host must outlive its controls.
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <string>
#include <vector>

class TGraphicHost;

// A shared cursor of the system (IDC_ARROW, IDC_HAND, ...), never to be freed.
HCURSOR SystemCursor(LPCSTR id);

class TGraphicControl {
public:
    explicit TGraphicControl(TGraphicHost& host);
    virtual ~TGraphicControl();
    TGraphicControl(const TGraphicControl&) = delete;
    TGraphicControl& operator=(const TGraphicControl&) = delete;

    void SetBounds(int left, int top, int width, int height);
    int Left() const { return bounds_.left; }
    int Top() const { return bounds_.top; }
    int Width() const { return bounds_.right - bounds_.left; }
    int Height() const { return bounds_.bottom - bounds_.top; }
    RECT BoundsRect() const { return bounds_; }
    RECT ClientRect() const { return {0, 0, Width(), Height()}; }
    HWND ParentWindow() const;
    // Hidden controls are neither painted nor given mouse input.
    void SetVisible(bool visible);
    bool Visible() const { return visible_; }

    // Repaints the whole control, or an area given in its own coordinates.
    void Invalidate() const;
    void InvalidateArea(const RECT& area) const;

    HCURSOR Cursor() const { return cursor_; }
    void SetCursor(HCURSOR cursor);
    // The mouse position in the control's coordinates.
    POINT MousePosition() const;

    // Drawing on a device context whose origin is the control's top-left corner.
    virtual void Paint(HDC dc) = 0;
    virtual void MouseMove(int x, int y);
    virtual void MouseDown(UINT button, int x, int y);
    virtual void MouseUp(UINT button, int x, int y);
    virtual void DoubleClick(int x, int y);
    virtual void MouseEnter();
    virtual void MouseLeave();
    // The tooltip for the point: its text and, when `placed` is set, its
    // screen position. False for no tooltip.
    virtual bool HintAt(int x, int y, std::string& text, POINT& position, bool& placed);
    // Whether a left press should capture the mouse for this control.
    virtual bool CapturesMouse() const;
    // The capture was taken away before the release (another window took it).
    virtual void CaptureLost();
    // A character typed in the parent, as a code point; true when it was
    // this control's accelerator.
    virtual bool DialogChar(char32_t key);

protected:
    TGraphicHost& Host() const { return host_; }

private:
    TGraphicHost& host_;
    RECT bounds_ = {};
    HCURSOR cursor_;
    bool visible_ = true;
};

class TGraphicHost {
public:
    explicit TGraphicHost(HWND parent);
    TGraphicHost(const TGraphicHost&) = delete;
    TGraphicHost& operator=(const TGraphicHost&) = delete;

    HWND Parent() const { return parent_; }
    // True when the message was handled and `result` is the answer.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // For parents that paint themselves: draws the controls that meet the area.
    void PaintControls(HDC dc, const RECT& area);
    // Hides a shown tooltip, so that the next one asks for its text again.
    void CancelHint();
    // The control under the mouse, if any.
    TGraphicControl* HoverControl() const { return hover_; }
    // The control under the cursor's current position, if any.
    TGraphicControl* ControlAtCursor() const;
    // The control that holds the mouse captured, if any.
    TGraphicControl* CaptureControl() const { return capture_; }
    // Paints what lies behind the control into `dc`, whose origin stands for
    // the control's top-left corner: the parent's background (its
    // WM_ERASEBKGND and WM_PRINTCLIENT drawing) and the visible controls
    // before it that overlap it.
    void PaintBackground(HDC dc, const TGraphicControl& control);

private:
    friend class TGraphicControl;
    void Add(TGraphicControl* control) { controls_.push_back(control); }
    void Remove(TGraphicControl* control);
    TGraphicControl* ControlAt(int x, int y) const;
    void OnMouseMove(LPARAM lParam);
    void OnMouseLeave();
    void OnButtonDown(UINT message, LPARAM lParam);
    void OnButtonUp(UINT message, LPARAM lParam);
    void OnCaptureChanged(HWND newCapture);
    bool OnChar(WPARAM key);
    static void PaintControl(HDC dc, TGraphicControl& control, int originX, int originY);
    bool OnNotify(LPARAM lParam, LRESULT& result);
    void CreateTooltip();
    void RelayToTooltip(UINT message, WPARAM wParam, LPARAM lParam);

    HWND parent_;
    std::vector<TGraphicControl*> controls_;
    TGraphicControl* hover_ = nullptr;
    TGraphicControl* capture_ = nullptr;
    bool tracking_ = false;
    UniqueWindow tooltip_;
    std::string hintText_;
    std::wstring hintWide_; // what the tooltip shows, alive while it reads it
    POINT hintPosition_ = {};
    bool hintPlaced_ = false;
};
