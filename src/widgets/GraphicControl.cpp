#include "GraphicControl.h"

#include "winutil/WideText.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <utility>

namespace {

constexpr UINT_PTR kHintTool = 1;

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

TGraphicControl::TGraphicControl(TGraphicHost& host) : host_(host), cursor_(SystemCursor(IDC_ARROW))
{
    host_.Add(this);
}

TGraphicControl::~TGraphicControl()
{
    host_.Remove(this);
}

void TGraphicControl::SetBounds(int left, int top, int width, int height)
{
    const RECT old = bounds_;
    bounds_ = {left, top, left + width, top + height};
    if (EqualRect(&old, &bounds_))
        return;
    InvalidateRect(ParentWindow(), &old, TRUE);
    Invalidate();
}

void TGraphicControl::SetVisible(bool visible)
{
    if (visible == visible_)
        return;
    visible_ = visible;
    Invalidate();
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

TGraphicHost::TGraphicHost(HWND parent) : parent_(parent)
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
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
    default:
        return false;
    }
}
