#include "GraphicControl.h"

#include "winutil/WideText.h"
#include "winutil/WindowDpi.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <utility>

namespace {

constexpr UINT_PTR kHintTool = 1;

// Posted to the parent to run a default action asked for by a screen reader,
// so that the reader's call returns at once.
UINT DefaultActionMessage()
{
    static const UINT message = RegisterWindowMessageW(L"KeldoraGraphicDefaultAction");
    return message;
}

std::function<bool()>& HighContrastQuery()
{
    static std::function<bool()> query;
    return query;
}

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

HCURSOR SystemCursor(LPCSTR id)
{
    // The identifiers are numbers in the form of a name, the same for both calls.
    return LoadCursorW(nullptr, MAKEINTRESOURCEW(reinterpret_cast<ULONG_PTR>(id)));
}

bool HighContrastOn()
{
    if (const std::function<bool()>& query = HighContrastQuery())
        return query();
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void SetHighContrastQuery(std::function<bool()> query)
{
    HighContrastQuery() = std::move(query);
}

TGraphicControl::TGraphicControl(TGraphicHost& host) : host_(host), cursor_(SystemCursor(IDC_ARROW))
{
    host_.Add(this);
}

TGraphicControl::~TGraphicControl()
{
    host_.Remove(this);
    if (accessible_) {
        accessible_->Disconnect();
        accessible_->Release();
    }
}

void TGraphicControl::SetBounds(int left, int top, int width, int height)
{
    const RECT old = bounds_;
    bounds_ = {left, top, left + width, top + height};
    if (EqualRect(&old, &bounds_))
        return;
    InvalidateRect(ParentWindow(), &old, TRUE);
    Invalidate();
    if (old.right - old.left != width || old.bottom - old.top != height)
        Resized();
}

void TGraphicControl::SetVisible(bool visible)
{
    if (visible == visible_)
        return;
    visible_ = visible;
    Invalidate();
    host_.FocusItemsChanged(*this);
}

HWND TGraphicControl::ParentWindow() const
{
    return host_.Parent();
}

void TGraphicControl::Invalidate() const
{
    InvalidateRect(ParentWindow(), &bounds_, TRUE);
}

void TGraphicControl::InvalidateArea(const RECT& area) const
{
    RECT moved = area;
    OffsetRect(&moved, bounds_.left, bounds_.top);
    InvalidateRect(ParentWindow(), &moved, TRUE);
}

void TGraphicControl::SetCursor(HCURSOR cursor)
{
    cursor_ = cursor;
    if (host_.HoverControl() == this)
        ::SetCursor(cursor);
}

POINT TGraphicControl::MousePosition() const
{
    POINT point = {};
    GetCursorPos(&point);
    ScreenToClient(ParentWindow(), &point);
    return {point.x - bounds_.left, point.y - bounds_.top};
}

void TGraphicControl::MouseMove(int, int) {}
void TGraphicControl::MouseDown(UINT, int, int) {}
void TGraphicControl::MouseUp(UINT, int, int) {}
void TGraphicControl::DoubleClick(int, int) {}
void TGraphicControl::CaptureLost() {}
void TGraphicControl::MouseEnter() {}
void TGraphicControl::MouseLeave() {}

bool TGraphicControl::HintAt(int, int, std::string&, POINT&, bool&)
{
    return false;
}

bool TGraphicControl::CapturesMouse() const
{
    return false;
}

bool TGraphicControl::DialogChar(char32_t)
{
    return false;
}

void TGraphicControl::DpiChanged()
{
    Invalidate();
}

void TGraphicControl::Resized() {}

int TGraphicControl::FocusItems() const
{
    return 0;
}

int TGraphicControl::FocusedItem() const
{
    return host_.FocusControl() == this && host_.ParentHasFocus() ? host_.FocusItem() : 0;
}

void TGraphicControl::FocusMoved(int, int)
{
    Invalidate();
}

RECT TGraphicControl::FocusItemRect(int) const
{
    return ClientRect();
}

bool TGraphicControl::KeyDown(UINT, int)
{
    return false;
}

bool TGraphicControl::WantsReturn(int) const
{
    return false;
}

void TGraphicControl::Activate() {}

AccessibleDescription TGraphicControl::Describe(int) const
{
    AccessibleDescription description;
    description.state = visible_ ? 0 : STATE_SYSTEM_INVISIBLE;
    return description;
}

int TGraphicControl::AccessibleItems() const
{
    return 0;
}

int TGraphicControl::AccessibleItemAt(int, int) const
{
    return CHILDID_SELF;
}

RECT TGraphicControl::AccessibleItemRect(int) const
{
    return ClientRect();
}

bool TGraphicControl::DoDefaultAction(int)
{
    return false;
}

int TGraphicControl::AccessibleItemOfFocus(int) const
{
    return CHILDID_SELF;
}

int TGraphicControl::FocusItemOfAccessible(int item) const
{
    return item == CHILDID_SELF ? 1 : 0;
}

int TGraphicControl::AccessibleItemAtScreen(POINT point) const
{
    ScreenToClient(ParentWindow(), &point);
    if (!PtInRect(&bounds_, point))
        return -1;
    return AccessibleItemAt(point.x - bounds_.left, point.y - bounds_.top);
}

RECT TGraphicControl::AccessibleScreenRect(int item) const
{
    RECT area = AccessibleItemRect(item);
    OffsetRect(&area, bounds_.left, bounds_.top);
    MapWindowPoints(ParentWindow(), nullptr, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

int TGraphicControl::AccessibleFocus() const
{
    const int item = FocusedItem();
    return item > 0 ? AccessibleItemOfFocus(item) : -1;
}

bool TGraphicControl::TakeAccessibleFocus(int item)
{
    return host_.FocusOn(*this, FocusItemOfAccessible(item));
}

void TGraphicControl::PostAccessibleAction(int item)
{
    host_.PostDefaultAction(*this, item);
}

IAccessible* TGraphicControl::NewParentReference()
{
    return host_.NewClientReference();
}

IAccessible* TGraphicControl::NewAccessibleReference()
{
    if (!accessible_)
        accessible_ = new TControlAccessible(*this);
    accessible_->AddRef();
    return accessible_;
}

TGraphicHost::TGraphicHost(HWND parent) : parent_(parent), dpi_(WindowDpi(parent))
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
}

TGraphicHost::~TGraphicHost()
{
    if (client_) {
        client_->Disconnect();
        client_->Release();
    }
}

int TGraphicHost::Scale(int value) const
{
    return ScaleForDpi(value, dpi_);
}

void TGraphicHost::SetDpi(int dpi)
{
    if (dpi <= 0 || dpi == dpi_)
        return;
    dpi_ = dpi;
    for (TGraphicControl* control : controls_)
        control->DpiChanged();
}

void TGraphicHost::Add(TGraphicControl* control)
{
    control->accessibleId_ = nextAccessibleId_++;
    controls_.push_back(control);
}

TGraphicControl* TGraphicHost::ControlWithId(LONG id) const
{
    for (TGraphicControl* control : controls_)
        if (control->AccessibleId() == id)
            return control;
    return nullptr;
}

// Made when the first mouse message arrives: the parent then hands us its
// messages, so we can tell the tooltip, when it asks on adding the tool, to
// ask for its texts in UTF-16 whatever kind of window the parent is.
void TGraphicHost::CreateTooltip()
{
    tooltip_.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent_, nullptr,
                                   GetModuleHandleW(nullptr), nullptr));
    if (!tooltip_)
        return;
    TTTOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = parent_;
    tool.uId = kHintTool;
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    GetClientRect(parent_, &tool.rect);
    SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tooltip_.get(), TTM_SETMAXTIPWIDTH, 0, 400);
}

void TGraphicHost::Remove(TGraphicControl* control)
{
    controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
    if (hover_ == control)
        hover_ = nullptr;
    if (focus_ == control) {
        focus_ = nullptr;
        focusItem_ = 0;
    }
    if (default_ == control)
        default_ = nullptr;
    if (cancel_ == control)
        cancel_ = nullptr;
    if (capture_ == control) {
        capture_ = nullptr;
        ReleaseCapture();
    }
}

TGraphicControl* TGraphicHost::ControlAt(int x, int y) const
{
    const POINT point = {x, y};
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        const RECT bounds = (*it)->BoundsRect();
        if ((*it)->Visible() && PtInRect(&bounds, point))
            return *it;
    }
    return nullptr;
}

TGraphicControl* TGraphicHost::ControlAtCursor() const
{
    POINT point = {};
    if (!GetCursorPos(&point) || WindowFromPoint(point) != parent_)
        return nullptr;
    ScreenToClient(parent_, &point);
    return ControlAt(point.x, point.y);
}

// The clip rectangle is given in the control's coordinates, which the
// viewport origin maps to the device point originX, originY.
void TGraphicHost::PaintControl(HDC dc, TGraphicControl& control, int originX, int originY)
{
    const int saved = SaveDC(dc);
    POINT origin = {};
    GetViewportOrgEx(dc, &origin);
    SetViewportOrgEx(dc, origin.x + originX, origin.y + originY, nullptr);
    IntersectClipRect(dc, 0, 0, control.Width(), control.Height());
    control.Paint(dc);
    RestoreDC(dc, saved);
}

void TGraphicHost::PaintControls(HDC dc, const RECT& area)
{
    for (TGraphicControl* control : controls_) {
        const RECT bounds = control->BoundsRect();
        RECT common;
        if (!control->Visible() || !IntersectRect(&common, &bounds, &area))
            continue;
        PaintControl(dc, *control, bounds.left, bounds.top);
    }
}

void TGraphicHost::PaintBackground(HDC dc, const TGraphicControl& control)
{
    const RECT place = control.BoundsRect();
    const int saved = SaveDC(dc);
    POINT origin = {};
    GetViewportOrgEx(dc, &origin);
    SetViewportOrgEx(dc, origin.x - place.left, origin.y - place.top, nullptr);
    RECT client = {};
    GetClientRect(parent_, &client);
    IntersectClipRect(dc, client.left, client.top, client.right, client.bottom);
    SendMessageW(parent_, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SendMessageW(parent_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    for (TGraphicControl* sibling : controls_) {
        if (sibling == &control)
            break;
        const RECT bounds = sibling->BoundsRect();
        RECT common;
        if (sibling->Visible() && IntersectRect(&common, &bounds, &place))
            PaintControl(dc, *sibling, bounds.left, bounds.top);
    }
    RestoreDC(dc, saved);
}

void TGraphicHost::CancelHint()
{
    if (tooltip_)
        SendMessageW(tooltip_.get(), TTM_POP, 0, 0);
}

void TGraphicHost::RelayToTooltip(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!tooltip_)
        CreateTooltip();
    if (!tooltip_)
        return;
    MSG msg = {parent_, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
    SendMessageW(tooltip_.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

void TGraphicHost::OnMouseMove(LPARAM lParam)
{
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    if (!tracking_) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, parent_, 0};
        tracking_ = TrackMouseEvent(&track) != FALSE;
    }
    TGraphicControl* under = ControlAt(x, y);
    if (under != hover_) {
        TGraphicControl* left = hover_;
        hover_ = under;
        if (left)
            left->MouseLeave();
        if (under)
            under->MouseEnter();
        CancelHint();
    }
    if (TGraphicControl* target = capture_ ? capture_ : hover_)
        target->MouseMove(x - target->Left(), y - target->Top());
}

void TGraphicHost::OnButtonDown(UINT message, LPARAM lParam)
{
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    TGraphicControl* control = ControlAt(x, y);
    if (!control)
        return;
    const bool left = message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK;
    if (left && control->CapturesMouse()) {
        capture_ = control;
        SetCapture(parent_);
    }
    // A double click is a press first, as the system reports only the second one.
    const UINT press = message == WM_LBUTTONDBLCLK ? WM_LBUTTONDOWN : message;
    control->MouseDown(press, x - control->Left(), y - control->Top());
    if (message == WM_LBUTTONDBLCLK && ControlAt(x, y) == control)
        control->DoubleClick(x - control->Left(), y - control->Top());
}

void TGraphicHost::OnButtonUp(UINT message, LPARAM lParam)
{
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    TGraphicControl* control = ControlAt(x, y);
    if (message == WM_LBUTTONUP && capture_) {
        control = std::exchange(capture_, nullptr);
        ReleaseCapture();
    }
    if (control)
        control->MouseUp(message, x - control->Left(), y - control->Top());
}

void TGraphicHost::OnCaptureChanged(HWND newCapture)
{
    if (!capture_ || newCapture == parent_)
        return;
    std::exchange(capture_, nullptr)->CaptureLost();
}

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

// Accessibility.

IAccessible* TGraphicHost::NewClientReference()
{
    if (!client_) {
        IAccessible* system = nullptr;
        if (FAILED(CreateStdAccessibleObject(parent_, OBJID_CLIENT, __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&system))) ||
            !system)
            return nullptr;
        client_ = new THostAccessible(*this, system);
    }
    client_->AddRef();
    return client_;
}

std::vector<AccessibleElement*> TGraphicHost::AccessibleElements() const
{
    std::vector<AccessibleElement*> elements;
    for (TGraphicControl* control : controls_)
        if (control->Visible())
            elements.push_back(control);
    return elements;
}

AccessibleElement* TGraphicHost::FocusedElement() const
{
    return focus_ && focusItem_ > 0 && ParentHasFocus() ? focus_ : nullptr;
}

bool TGraphicHost::OnGetObject(WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    const auto id = static_cast<LONG>(static_cast<DWORD>(lParam));
    IAccessible* object = nullptr;
    try {
        if (id == OBJID_CLIENT)
            object = NewClientReference();
        else if (TGraphicControl* control = id > 0 ? ControlWithId(id) : nullptr)
            object = control->NewAccessibleReference();
    } catch (...) {
        return false; // the system answers with its own object
    }
    if (!object)
        return false;
    result = LresultFromObject(__uuidof(IAccessible), wParam, object);
    object->Release();
    return true;
}

void TGraphicHost::PostDefaultAction(const TGraphicControl& control, int item)
{
    pendingActions_.emplace_back(control.AccessibleId(), item);
    PostMessageW(parent_, DefaultActionMessage(), 0, 0);
}

// One action per message: the action may free the host.
void TGraphicHost::OnDefaultAction()
{
    if (pendingActions_.empty())
        return;
    const auto [id, item] = pendingActions_.front();
    pendingActions_.erase(pendingActions_.begin());
    if (TGraphicControl* control = ControlWithId(id))
        control->DoDefaultAction(item);
}

void TGraphicHost::OnMouseLeave()
{
    tracking_ = false;
    TGraphicControl* left = hover_;
    hover_ = nullptr;
    if (left)
        left->MouseLeave();
}

bool TGraphicHost::OnNotify(LPARAM lParam, LRESULT& result)
{
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (!tooltip_ || header->hwndFrom != tooltip_.get())
        return false;
    if (header->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        hintText_.clear();
        hintPlaced_ = false;
        if (hover_) {
            const POINT at = hover_->MousePosition();
            if (!hover_->HintAt(at.x, at.y, hintText_, hintPosition_, hintPlaced_))
                hintText_.clear();
        }
        hintWide_ = WideFromUtf8(hintText_);
        info->lpszText = hintWide_.data();
        result = 0;
        return true;
    }
    if (header->code == TTN_SHOW && hintPlaced_) {
        SetWindowPos(tooltip_.get(), nullptr, hintPosition_.x, hintPosition_.y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        result = TRUE;
        return true;
    }
    return false;
}

bool TGraphicHost::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == DefaultActionMessage()) {
        OnDefaultAction();
        result = 0;
        return true;
    }
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(parent_, &paint);
        PaintControls(dc, paint.rcPaint);
        EndPaint(parent_, &paint);
        result = 0;
        return true;
    }
    case WM_MOUSEMOVE:
        RelayToTooltip(message, wParam, lParam);
        OnMouseMove(lParam);
        return false;
    case WM_MOUSELEAVE:
        OnMouseLeave();
        return false;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        RelayToTooltip(message, wParam, lParam);
        OnButtonDown(message, lParam);
        return false;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        RelayToTooltip(message, wParam, lParam);
        OnButtonUp(message, lParam);
        return false;
    case WM_CAPTURECHANGED:
        OnCaptureChanged(reinterpret_cast<HWND>(lParam));
        return false;
    case WM_CHAR:
    case WM_SYSCHAR:
        if (!OnChar(wParam))
            return false;
        result = 0;
        return true;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && hover_) {
            ::SetCursor(hover_->Cursor());
            result = TRUE;
            return true;
        }
        return false;
    case WM_SIZE:
        if (tooltip_) {
            TTTOOLINFOW tool = {};
            tool.cbSize = TTTOOLINFOW_V2_SIZE;
            tool.hwnd = parent_;
            tool.uId = kHintTool;
            GetClientRect(parent_, &tool.rect);
            SendMessageW(tooltip_.get(), TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
        }
        return false;
    case WM_NOTIFYFORMAT:
        if (!tooltip_ || reinterpret_cast<HWND>(wParam) != tooltip_.get())
            return false;
        result = NFR_UNICODE;
        return true;
    case WM_NOTIFY:
        return OnNotify(lParam, result);
    case WM_KEYDOWN:
        if (!OnKeyDown(wParam))
            return false;
        result = 0;
        return true;
    case WM_GETDLGCODE:
        result = OnGetDlgCode(reinterpret_cast<const MSG*>(lParam));
        return true;
    case WM_SETFOCUS:
        OnSetFocus();
        return false;
    case WM_KILLFOCUS:
        OnKillFocus();
        return false;
    case WM_GETOBJECT:
        return OnGetObject(wParam, lParam, result);
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        // High contrast and the system's colours are read at each paint.
        InvalidateRect(parent_, nullptr, TRUE);
        return false;
    case WM_DPICHANGED:
        SetDpi(LOWORD(wParam));
        return false;
    case WM_DPICHANGED_AFTERPARENT:
        SetDpi(WindowDpi(parent_));
        return false;
    default:
        return false;
    }
}
