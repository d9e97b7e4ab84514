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

} // namespace

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
