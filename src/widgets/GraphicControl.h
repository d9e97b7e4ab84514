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
// rectangle in the parent.
//
// Keyboard: while the parent window has the keyboard focus, one focus item
// of one control holds it (a button has one item, a label one per link).
// Tab and Shift+Tab move it in the order the controls were created; a
// top-level parent wraps around, a parent that is a child window (a pane in
// a dialog, GraphicPane.h) tells the dialog manager (WM_GETDLGCODE) to move
// on after its last item. Enter goes to the focused item when it wants it,
// else to the default control; Esc to the cancel control; other keys to the
// focused item, then to OnKey.
//
// Accessibility: the host answers WM_GETOBJECT. The parent's client object
// lists the parent's child windows as the system does, then each visible
// control as an IAccessible object of its own (GraphicAccessible.h), whose
// items (a label's links) are its simple children. Focus moves are announced
// (EVENT_OBJECT_FOCUS, with the control's object id).
//
// Controls and host live on the parent window's thread; the host must
// outlive its controls. Sizes a control fixes are for 96 dots per inch and
// scaled by the host's Dpi().
#include <windows.h>
#include <oleacc.h>

#include "widgets/GraphicAccessible.h"
#include "winutil/UniqueHandle.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TGraphicHost;

// A shared cursor of the system (IDC_ARROW, IDC_HAND, ...), never to be freed.
HCURSOR SystemCursor(LPCSTR id);

// Whether the system's high-contrast mode is on (SPI_GETHIGHCONTRAST). Tests
// replace the query, since some systems never report the mode; an empty
// function puts the system's back.
bool HighContrastOn();
void SetHighContrastQuery(std::function<bool()> query);

class TGraphicControl : public AccessibleElement {
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
    TGraphicHost& Host() const { return host_; }
    // Hidden controls are neither painted nor given mouse input nor the focus.
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
    // The parent's dots per inch changed (the host's Dpi() is the new one).
    virtual void DpiChanged();
    // The size changed (SetBounds).
    virtual void Resized();

    // Keyboard focus. Items are numbered from 1; a control without items
    // (hidden, disabled, or with nothing to focus) takes no focus.
    virtual int FocusItems() const;
    // The item that holds the keyboard focus; 0 when none of this control's does.
    int FocusedItem() const;
    // The focus moved onto, off or within this control (0 for none).
    virtual void FocusMoved(int oldItem, int newItem);
    // Where an item is, in the control's coordinates (scrolled into view).
    virtual RECT FocusItemRect(int item) const;
    // A key pressed while an item of this control has the focus; true when used.
    virtual bool KeyDown(UINT key, int item);
    // Whether Enter goes to the focused item rather than to the default control.
    virtual bool WantsReturn(int item) const;
    // What Enter does on the default control and Esc on the cancel control.
    virtual void Activate();

    // Accessibility: item 0 is the control, items from 1 its simple children.
    AccessibleDescription Describe(int item) const override;
    int AccessibleItems() const override;
    // The item at a point of the control; 0 for the control itself.
    virtual int AccessibleItemAt(int x, int y) const;
    virtual RECT AccessibleItemRect(int item) const;
    // The item's default action, run from the message loop; false when it has none.
    virtual bool DoDefaultAction(int item);
    // The accessible item of a focus item and back.
    virtual int AccessibleItemOfFocus(int focusItem) const;
    virtual int FocusItemOfAccessible(int item) const;
    // The object id the host answers WM_GETOBJECT with for this control.
    LONG AccessibleId() const { return accessibleId_; }
    int AccessibleItemAtScreen(POINT point) const final;
    RECT AccessibleScreenRect(int item) const final;
    int AccessibleFocus() const final;
    bool TakeAccessibleFocus(int item) final;
    void PostAccessibleAction(int item) final;
    IAccessible* NewParentReference() final;
    IAccessible* NewAccessibleReference() final;

private:
    friend class TGraphicHost;

    TGraphicHost& host_;
    RECT bounds_ = {};
    HCURSOR cursor_;
    bool visible_ = true;
    LONG accessibleId_ = 0;
    TControlAccessible* accessible_ = nullptr; // one reference, cut off when the control goes
};

class TGraphicHost : public AccessibleContainer {
public:
    explicit TGraphicHost(HWND parent);
    ~TGraphicHost();
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

    // The parent's dots per inch: read at creation, and taken from
    // WM_DPICHANGED (or read again on WM_DPICHANGED_AFTERPARENT).
    int Dpi() const { return dpi_; }
    int Scale(int value) const;
    // For owners that learn of a change the parent is not told of (a pane
    // in a dialog whose DPI changed): lays the controls out anew.
    void SetDpi(int dpi);

    // Keyboard.
    void SetDefaultControl(TGraphicControl* control) { default_ = control; }
    void SetCancelControl(TGraphicControl* control) { cancel_ = control; }
    TGraphicControl* DefaultControl() const { return default_; }
    // The control whose item has the focus, kept while the parent has not.
    TGraphicControl* FocusControl() const { return focus_; }
    int FocusItem() const { return focus_ ? focusItem_ : 0; }
    bool ParentHasFocus() const { return GetFocus() == parent_; }
    // Puts the focus on the item (and the keyboard focus on the parent); false
    // when the control cannot take it.
    bool FocusOn(TGraphicControl& control, int item);
    // Moves the focus to the next or previous item; false at the end, where
    // `wrap` starts again from the other end.
    bool MoveFocus(bool forward, bool wrap);
    // A control gained or lost items (disabled, hidden, new text): a focus on
    // an item that is gone moves on.
    void FocusItemsChanged(TGraphicControl& control);
    // Keys that no control used (scrolling a long text); true when used.
    std::function<bool(UINT key)> OnKey;
    // The focus moved to an item at this place of the parent's client area.
    std::function<void(const RECT& area)> OnFocusMoved;

    // The parent's client object; its reference is the caller's. Null when
    // the system's part of it cannot be made.
    IAccessible* NewClientReference();
    std::vector<AccessibleElement*> AccessibleElements() const override;
    AccessibleElement* FocusedElement() const override;
    // Runs a control's default action from the message loop.
    void PostDefaultAction(const TGraphicControl& control, int item);

private:
    friend class TGraphicControl;
    void Add(TGraphicControl* control);
    void Remove(TGraphicControl* control);
    TGraphicControl* ControlAt(int x, int y) const;
    TGraphicControl* ControlWithId(LONG id) const;
    void OnMouseMove(LPARAM lParam);
    void OnMouseLeave();
    void OnButtonDown(UINT message, LPARAM lParam);
    void OnButtonUp(UINT message, LPARAM lParam);
    void OnCaptureChanged(HWND newCapture);
    bool OnChar(WPARAM key);
    bool OnKeyDown(WPARAM key);
    LRESULT OnGetDlgCode(const MSG* message) const;
    void OnSetFocus();
    void OnKillFocus();
    bool OnGetObject(WPARAM wParam, LPARAM lParam, LRESULT& result);
    void OnDefaultAction();
    void SetFocusItem(TGraphicControl* control, int item);
    // The item after (or before) the focus; null control at the end.
    std::pair<TGraphicControl*, int> NextItem(bool forward) const;
    std::pair<TGraphicControl*, int> EdgeItem(bool first) const;
    static void PaintControl(HDC dc, TGraphicControl& control, int originX, int originY);
    bool OnNotify(LPARAM lParam, LRESULT& result);
    void CreateTooltip();
    void RelayToTooltip(UINT message, WPARAM wParam, LPARAM lParam);

    HWND parent_;
    int dpi_;
    std::vector<TGraphicControl*> controls_;
    TGraphicControl* hover_ = nullptr;
    TGraphicControl* capture_ = nullptr;
    TGraphicControl* focus_ = nullptr;
    int focusItem_ = 0;
    TGraphicControl* default_ = nullptr;
    TGraphicControl* cancel_ = nullptr;
    LONG nextAccessibleId_ = 1;
    THostAccessible* client_ = nullptr; // one reference, cut off when the host goes
    std::vector<std::pair<LONG, int>> pendingActions_;
    bool tracking_ = false;
    UniqueWindow tooltip_;
    std::string hintText_;
    std::wstring hintWide_; // what the tooltip shows, alive while it reads it
    POINT hintPosition_ = {};
    bool hintPlaced_ = false;
};
