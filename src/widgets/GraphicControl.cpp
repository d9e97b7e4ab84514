#include "GraphicControl.h"

#include <utility>

namespace {

std::function<bool()>& HighContrastQuery()
{
    static std::function<bool()> query;
    return query;
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
