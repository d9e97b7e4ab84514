#include "GraphicControl.h"

#include "winutil/WideText.h"

#include <algorithm>

namespace {

bool KeyIsDown(int key)
{
    return GetKeyState(key) < 0;
}

// A top-level parent keeps Tab among its controls; a child window lets its
// dialog move on.
bool IsTopLevel(HWND window)
{
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) == 0;
}

// What a WM_CHAR of the window means: a UTF-16 code unit for a wide window, a
// byte of the system's code page for a narrow one.
char32_t TypedCharacter(HWND window, WPARAM key)
{
    if (IsWindowUnicode(window))
        return static_cast<char32_t>(key & 0xFFFF);
    const char byte = static_cast<char>(key);
    const std::wstring wide = WideFromAnsi(std::string_view(&byte, 1));
    return wide.size() == 1 ? wide[0] : 0;
}

} // namespace

bool TGraphicHost::OnChar(WPARAM key)
{
    const char32_t typed = TypedCharacter(parent_, key);
    for (TGraphicControl* control : controls_)
        if (control->Visible() && control->DialogChar(typed))
            return true;
    return false;
}

// Keyboard focus.

void TGraphicHost::SetFocusItem(TGraphicControl* control, int item)
{
    TGraphicControl* const old = focus_;
    const int oldItem = focusItem_;
    focus_ = control;
    focusItem_ = control ? item : 0;
    if (old && old != control)
        old->FocusMoved(oldItem, 0);
    if (control)
        control->FocusMoved(old == control ? oldItem : 0, focusItem_);
    if (!control || !ParentHasFocus())
        return;
    NotifyWinEvent(EVENT_OBJECT_FOCUS, parent_, control->AccessibleId(), control->AccessibleItemOfFocus(focusItem_));
    if (OnFocusMoved) {
        RECT area = control->FocusItemRect(focusItem_);
        OffsetRect(&area, control->Left(), control->Top());
        OnFocusMoved(area);
    }
}

bool TGraphicHost::FocusOn(TGraphicControl& control, int item)
{
    if (item < 1 || item > control.FocusItems())
        return false;
    SetFocusItem(&control, item);
    if (!ParentHasFocus())
        ::SetFocus(parent_);
    return true;
}

std::pair<TGraphicControl*, int> TGraphicHost::EdgeItem(bool first) const
{
    const auto take = [](TGraphicControl* control, bool atStart) -> std::pair<TGraphicControl*, int> {
        const int items = control->FocusItems();
        return {control, atStart ? 1 : items};
    };
    if (first) {
        for (TGraphicControl* control : controls_)
            if (control->FocusItems() > 0)
                return take(control, true);
    } else {
        for (auto it = controls_.rbegin(); it != controls_.rend(); ++it)
            if ((*it)->FocusItems() > 0)
                return take(*it, false);
    }
    return {nullptr, 0};
}

std::pair<TGraphicControl*, int> TGraphicHost::NextItem(bool forward) const
{
    if (!focus_)
        return EdgeItem(forward);
    if (forward && focusItem_ < focus_->FocusItems())
        return {focus_, focusItem_ + 1};
    if (!forward && focusItem_ > 1 && focusItem_ - 1 <= focus_->FocusItems())
        return {focus_, focusItem_ - 1};
    const auto at = std::find(controls_.begin(), controls_.end(), focus_);
    if (forward) {
        for (auto it = at + 1; it < controls_.end(); ++it)
            if (const int items = (*it)->FocusItems(); items > 0)
                return {*it, 1};
    } else {
        for (auto it = at; it != controls_.begin();)
            if (const int items = (*--it)->FocusItems(); items > 0)
                return {*it, items};
    }
    return {nullptr, 0};
}

bool TGraphicHost::MoveFocus(bool forward, bool wrap)
{
    auto next = NextItem(forward);
    if (!next.first && wrap)
        next = EdgeItem(forward);
    if (!next.first)
        return false;
    SetFocusItem(next.first, next.second);
    return true;
}

void TGraphicHost::FocusItemsChanged(TGraphicControl& control)
{
    if (focus_ != &control || focusItem_ <= control.FocusItems())
        return;
    if (control.FocusItems() > 0) {
        SetFocusItem(&control, control.FocusItems());
        return;
    }
    const auto next = NextItem(/*forward=*/true);
    const auto target = next.first ? next : EdgeItem(/*first=*/true);
    SetFocusItem(target.first, target.second);
}

// Entered by Tab, the focus starts at the first item (the last for
// Shift+Tab); otherwise it comes back where it was, or to the default control.
void TGraphicHost::OnSetFocus()
{
    const bool byTab = KeyIsDown(VK_TAB);
    if (focus_ && focusItem_ <= focus_->FocusItems() && !byTab) {
        SetFocusItem(focus_, focusItem_);
        return;
    }
    auto target = EdgeItem(!(byTab && KeyIsDown(VK_SHIFT)));
    if (!byTab && default_ && default_->FocusItems() > 0)
        target = {default_, 1};
    SetFocusItem(target.first, target.second);
}

void TGraphicHost::OnKillFocus()
{
    if (focus_)
        focus_->FocusMoved(focusItem_, focusItem_);
}

bool TGraphicHost::OnKeyDown(WPARAM key)
{
    const int item = FocusItem();
    switch (key) {
    case VK_TAB:
        if (KeyIsDown(VK_CONTROL) || KeyIsDown(VK_MENU))
            return false;
        MoveFocus(!KeyIsDown(VK_SHIFT), IsTopLevel(parent_));
        return true;
    case VK_RETURN:
        if (item && focus_->WantsReturn(item))
            return focus_->KeyDown(VK_RETURN, item);
        if (!default_)
            return false;
        default_->Activate();
        return true;
    case VK_ESCAPE:
        if (!cancel_)
            return false;
        cancel_->Activate();
        return true;
    default:
        if (item && focus_->KeyDown(static_cast<UINT>(key), item))
            return true;
        return OnKey && OnKey(static_cast<UINT>(key));
    }
}

// What a dialog manager hands over: Tab while there is an item to move to,
// Enter for an item that wants it, and the arrows for scrolling.
LRESULT TGraphicHost::OnGetDlgCode(const MSG* message) const
{
    LRESULT code = DLGC_WANTARROWS;
    if (!message || message->message != WM_KEYDOWN)
        return code;
    const int item = FocusItem();
    if (message->wParam == VK_TAB && NextItem(!KeyIsDown(VK_SHIFT)).first)
        code |= DLGC_WANTTAB;
    if (message->wParam == VK_RETURN && item && focus_->WantsReturn(item))
        code |= DLGC_WANTMESSAGE;
    return code;
}
