#include "HTMLabel.h"

#include "widgets/GdiCanvas.h"
#include "widgets/Gradient.h"
#include "widgets/MarkupText.h"
#include "winutil/WideText.h"

#include <shellapi.h>
#include <commctrl.h>

#include <algorithm>

namespace {

constexpr int kAutoSizeMargin = 6;
constexpr int kAutoSizeReach = 65535;
constexpr int kLineStripHeight = 2;
constexpr POINT kHintOffset = {10, -10};

void OpenWithShell(const std::string& link)
{
    ShellExecuteW(nullptr, L"open", WideFromUtf8(link).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

THTMLabel::ShellOpener& CurrentShellOpener()
{
    static THTMLabel::ShellOpener opener = OpenWithShell;
    return opener;
}

HCURSOR ArrowCursor()
{
    return SystemCursor(IDC_ARROW);
}

HCURSOR HandCursor()
{
    return SystemCursor(IDC_HAND);
}

bool IsValid(const RECT& rect)
{
    return rect.left >= 0 && rect.top >= 0 && rect.right > rect.left && rect.bottom > rect.top;
}

RECT ToRect(const MarkupRect& rect)
{
    return {rect.left, rect.top, rect.right, rect.bottom};
}

void FillSolid(HDC dc, const RECT& rect, TColor color)
{
    const UniqueGdiObject brush(CreateSolidBrush(ColorToRGB(color)));
    FillRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
}

// A frame of the given width, shrinking the rectangle by it.
void Frame3D(HDC dc, RECT& rect, TColor topLeft, TColor bottomRight, int width)
{
    for (int i = 0; i < width; ++i) {
        FillSolid(dc, {rect.left, rect.top, rect.right, rect.top + 1}, topLeft);
        FillSolid(dc, {rect.left, rect.top, rect.left + 1, rect.bottom}, topLeft);
        FillSolid(dc, {rect.left, rect.bottom - 1, rect.right, rect.bottom}, bottomRight);
        FillSolid(dc, {rect.right - 1, rect.top, rect.right, rect.bottom}, bottomRight);
        InflateRect(&rect, -1, -1);
    }
}

void Bevel(HDC dc, RECT& rect, TPanelBevel bevel, int width)
{
    if (bevel == TPanelBevel::bvNone)
        return;
    if (bevel == TPanelBevel::bvLowered)
        Frame3D(dc, rect, clBtnShadow, clBtnHighlight, width);
    else
        Frame3D(dc, rect, clBtnHighlight, clBtnShadow, width);
}

class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC() { ReleaseDC(window_, dc_); }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

} // namespace

// The markup's picture sources: image list entries, system icons, the
// container's named pictures and the label's cache of URL pictures.
class THTMLabel::Pictures : public MarkupPictures {
public:
    explicit Pictures(THTMLabel& label) : label_(label) {}

    bool Size(std::string_view source, HDC dc, MarkupSize& size) override
    {
        const Found found = Resolve(source);
        const int dpiX = GetDeviceCaps(dc, LOGPIXELSX), dpiY = GetDeviceCaps(dc, LOGPIXELSY);
        if (found.list) {
            int cx = 0, cy = 0;
            ImageList_GetIconSize(found.list, &cx, &cy);
            size = {MulDiv(cx, dpiX, 96), MulDiv(cy, dpiY, 96)};
            return true;
        }
        if (!found.picture)
            return false;
        size = {MulDiv(found.picture->LayoutWidth(), dpiX, 96), MulDiv(found.picture->LayoutHeight(), dpiY, 96)};
        return true;
    }

    void Draw(std::string_view source, HDC dc, const RECT& rect, bool stretch) override
    {
        const Found found = Resolve(source);
        if (found.list) {
            ImageList_Draw(found.list, found.index, dc, rect.left, rect.top, found.system ? ILD_TRANSPARENT : ILD_NORMAL);
            return;
        }
        if (!found.picture)
            return;
        RECT at = rect;
        if (!stretch && found.picture->FrameCount() > 0)
            OffsetRect(&at, found.picture->FramePosition().x, found.picture->FramePosition().y);
        found.picture->Stretch = stretch;
        found.picture->Draw(dc, at);
    }

private:
    struct Found {
        HIMAGELIST list = nullptr;
        int index = 0;
        bool system = false;
        THTMLPicture* picture = nullptr;
    };

    Found Resolve(std::string_view source)
    {
        Found found;
        if (!label_.trusted_ && IsLocalPictureSource(source))
            return found;
        if (StartsWithNoCase(source, "IDX:")) {
            const int index = MarkupNumber(source.substr(4));
            if (label_.images_ && index < ImageList_GetImageCount(label_.images_)) {
                found.list = label_.images_;
                found.index = index;
            }
            return found;
        }
        if (StartsWithNoCase(source, "SSYS:") || StartsWithNoCase(source, "LSYS:"))
            return SystemIcon(source);
        if (source.find(':') == std::string_view::npos) {
            if (label_.pictureContainer_)
                found.picture = NonEmpty(label_.pictureContainer_->FindPicture(source));
            return found;
        }
        if (source.find("://") != std::string_view::npos)
            found.picture = NonEmpty(CachedPicture(source));
        return found;
    }

    static THTMLPicture* NonEmpty(THTMLPicture* picture) { return picture && !picture->Empty() ? picture : nullptr; }

    THTMLPicture* CachedPicture(std::string_view url)
    {
        if (THTMLPicture* cached = label_.cache_.FindPicture(url))
            return cached;
        THTMLPicture& picture = label_.cache_.AddPicture();
        picture.Asynchronous = false;
        try {
            picture.LoadFromURL(std::string(url));
        } catch (const EPictureError&) {
            // Stays empty and is not drawn.
        }
        return &picture;
    }

    static Found SystemIcon(std::string_view source)
    {
        const UINT size = StartsWithNoCase(source, "SSYS:") ? SHGFI_SMALLICON : SHGFI_LARGEICON;
        const std::string_view name = source.substr(5);
        SHFILEINFOW info = {};
        Found found;
        found.system = true;
        found.list =
            reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"", 0, &info, sizeof info, SHGFI_SYSICONINDEX | size));
        if (IsMarkupNumber(name)) {
            found.index = MarkupNumber(name);
        } else if (SHGetFileInfoW(WideFromUtf8(name).c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | size)) {
            found.index = info.iIcon;
        } else {
            const std::size_t dot = name.rfind('.');
            const std::string_view extension = dot == std::string_view::npos ? name : name.substr(dot);
            SHGetFileInfoW(WideFromUtf8(extension).c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                           SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | size);
            found.index = info.iIcon;
        }
        return found;
    }

    THTMLabel& label_;
};

void THTMLabel::SetShellOpener(ShellOpener opener)
{
    CurrentShellOpener() = opener ? std::move(opener) : OpenWithShell;
}

THTMLabel::THTMLabel(TGraphicHost& host) : TGraphicControl(host) {}

void THTMLabel::SetHTMLText(const std::vector<std::string>& lines)
{
    htmlText_.clear();
    for (const std::string& line : lines)
        htmlText_.push_back(BlanksForLineBreaks(line));
    cache_.Clear();
    HTMLChanged();
}

std::string THTMLabel::GetDisplayHTML() const
{
    std::string joined;
    for (const std::string& line : htmlText_)
        joined += line;
    return joined;
}

void THTMLabel::SetAutoSizing(bool value)
{
    autoSizing_ = value;
    if (value && (align_ == TAlign::alLeft || align_ == TAlign::alRight))
        SetBounds(Left(), Top(), kAutoSizeMargin, Height());
    if (value && (align_ == TAlign::alTop || align_ == TAlign::alBottom))
        SetBounds(Left(), Top(), Width(), kAutoSizeMargin);
    HTMLChanged();
}

void THTMLabel::SetAutoSizeType(TAutoSizeType value)
{
    autoSizeType_ = value;
    SetAutoSizing(autoSizing_);
}

void THTMLabel::SetEllipsis(bool value)
{
    if (std::exchange(ellipsis_, value) != value)
        HTMLChanged();
}

void THTMLabel::SetURLColor(TColor value)
{
    if (std::exchange(urlColor_, value) != value)
        HTMLChanged();
}

void THTMLabel::SetVAlignment(TVAlignment value)
{
    if (std::exchange(vAlignment_, value) != value)
        HTMLChanged();
}

void THTMLabel::BeginUpdate()
{
    ++updateCount_;
}

void THTMLabel::EndUpdate()
{
    if (updateCount_ > 0 && --updateCount_ == 0)
        HTMLChanged();
}

void THTMLabel::HTMLChanged()
{
    Invalidate();
}

HTMLDrawResult THTMLabel::HTMLPaint(HDC dc, const RECT& rect, POINT mouse, bool hitTestOnly)
{
    const std::string text = GetDisplayHTML();
    Pictures pictures(*this);
    GdiCanvas canvas(dc, font_, &pictures);
    canvas.SetBrush(color_);
    HTMLDrawParams params;
    params.text = text;
    params.rect = {rect.left, rect.top, rect.right, rect.bottom};
    params.mouseX = mouse.x;
    params.mouseY = mouse.y;
    params.hoverLink = hoverLink_;
    params.shadowOffset = shadowOffset_;
    params.linkColor = urlColor_;
    params.hoverColor = hoverColor_;
    params.hoverFontColor = hoverFontColor_;
    params.shadowColor = shadowColor_;
    params.hoverStyle = hover_;
    params.ellipsis = ellipsis_;
    params.hitTestOnly = hitTestOnly;
    const HTMLDrawResult result = DrawHTMLText(canvas, params);
    textWidth_ = result.width;
    return result;
}

bool THTMLabel::SizesHorizontally() const
{
    return (align_ == TAlign::alNone || align_ == TAlign::alLeft || align_ == TAlign::alRight) &&
           (autoSizeType_ == TAutoSizeType::asHorizontal || autoSizeType_ == TAutoSizeType::asBoth);
}

bool THTMLabel::SizesVertically() const
{
    return (align_ == TAlign::alNone || align_ == TAlign::alTop || align_ == TAlign::alBottom) &&
           (autoSizeType_ == TAutoSizeType::asVertical || autoSizeType_ == TAutoSizeType::asBoth);
}

void THTMLabel::PaintBackground(HDC dc, const RECT& client) const
{
    const int steps = std::max(1, static_cast<int>((client.right - client.left) / 4));
    const bool lineKind = gradientType_ == TGradientType::gtBottomLine || gradientType_ == TGradientType::gtTopLine ||
                          gradientType_ == TGradientType::gtCenterLine;
    GdiCanvas canvas(dc, font_, nullptr);
    const MarkupRect area{client.left, client.top, client.right, client.bottom};
    if (!transparent_) {
        if (colorTo_ == clNone || lineKind)
            canvas.FillRect(area, color_);
        else
            FillGradient(canvas, area, color_, colorTo_, steps, gradientType_ == TGradientType::gtFullHorizontal);
    }
    if (!lineKind)
        return;
    MarkupRect strip = area;
    if (gradientType_ == TGradientType::gtBottomLine)
        strip.top = area.bottom - kLineStripHeight;
    else if (gradientType_ == TGradientType::gtTopLine)
        strip.bottom = area.top + kLineStripHeight;
    else
        strip.top = (area.top + area.bottom) / 2;
    strip.bottom = std::min(strip.bottom, strip.top + kLineStripHeight);
    FillGradient(canvas, strip, color_, colorTo_ == clNone ? color_ : colorTo_, steps, /*leftToRight=*/true);
}

// Bevels, the border in the label's colour and the single border; the rest.
RECT THTMLabel::PaintFrames(HDC dc, RECT rect) const
{
    Bevel(dc, rect, bevelOuter_, bevelWidth_);
    Frame3D(dc, rect, color_, color_, borderWidth_);
    Bevel(dc, rect, bevelInner_, bevelWidth_);
    if (borderStyle_ == TBorderStyle::bsSingle && borderWidth_ != 0) {
        const UniqueGdiObject pen(CreatePen(PS_SOLID, borderWidth_, RGB(0, 0, 0)));
        const HGDIOBJ oldPen = SelectObject(dc, pen.get());
        const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
    }
    return rect;
}

// Paint and hit test place the text alike: inside the frames, the bevel and
// border widths taken off once more, moved down for vertical alignment.
RECT THTMLabel::TextRect(HDC dc, RECT rect)
{
    const int bevels = bevelOuter_ != TPanelBevel::bvNone ? bevelWidth_ : 0;
    const int inner = bevelInner_ != TPanelBevel::bvNone ? bevelWidth_ : 0;
    InflateRect(&rect, -(bevels + borderWidth_ + inner), -(bevels + borderWidth_ + inner));
    if (bevelOuter_ != TPanelBevel::bvNone || bevelInner_ != TPanelBevel::bvNone)
        InflateRect(&rect, -bevelWidth_, -bevelWidth_);
    if (borderStyle_ == TBorderStyle::bsSingle)
        InflateRect(&rect, -borderWidth_, -borderWidth_);
    if (autoSizing_ && SizesHorizontally())
        rect.right += kAutoSizeReach;
    if (autoSizing_ && SizesVertically())
        rect.bottom += kAutoSizeReach;
    if (vAlignment_ != TVAlignment::tvaTop) {
        const int textHeight = HTMLPaint(dc, rect, {-1, -1}, /*hitTestOnly=*/true).height;
        if (textHeight < Height()) {
            if (vAlignment_ == TVAlignment::tvaCenter)
                rect.top += (rect.bottom - rect.top - textHeight) / 2;
            else
                rect.top = rect.bottom - textHeight;
        }
    }
    return rect;
}

void THTMLabel::FitToText(int textWidth, int textHeight)
{
    if (SizesVertically() && textHeight + kAutoSizeMargin != Height())
        SetBounds(Left(), Top(), Width(), textHeight + kAutoSizeMargin);
    if (SizesHorizontally() && textWidth + kAutoSizeMargin != Width())
        SetBounds(Left(), Top(), textWidth + kAutoSizeMargin, Height());
}

void THTMLabel::Paint(HDC dc)
{
    const RECT client = ClientRect();
    PaintBackground(dc, client);
    if (updateCount_ > 0)
        return;
    PaintFrames(dc, client);
    const RECT rect = TextRect(dc, client);
    const HTMLDrawResult result = HTMLPaint(dc, rect, MousePosition(), /*hitTestOnly=*/false);
    if (autoSizing_)
        FitToText(result.width, result.height);
}

THTMLabel::Hit THTMLabel::HitTest(int x, int y)
{
    const WindowDC dc(ParentWindow());
    const RECT rect = TextRect(dc.get(), ClientRect());
    const HTMLDrawResult result = HTMLPaint(dc.get(), rect, {x, y}, /*hitTestOnly=*/true);
    if (!result.hit) {
        hoverLink_ = -1;
        return {};
    }
    hoverLink_ = result.anchorNumber;
    return {result.anchor, ToRect(result.anchorRect), result.anchorNumber};
}

void THTMLabel::RepaintHover()
{
    if (IsValid(hoverRect_))
        InvalidateArea(hoverRect_);
    else
        Invalidate();
}

void THTMLabel::MouseMove(int x, int y)
{
    const Hit hit = HitTest(x, y);
    if (hit.number >= 1) {
        if ((hit.anchor != lastAnchor_ || !EqualRect(&hit.rect, &hoverRect_)) && hover_ && IsValid(hit.rect) &&
            IsValid(hoverRect_))
            InvalidateArea(hoverRect_);
        if (Cursor() != HandCursor() || hit.anchor != lastAnchor_ || hit.number != lastNumber_) {
            if (anchorHint_)
                Host().CancelHint();
            SetCursor(HandCursor());
            if (OnAnchorEnter)
                OnAnchorEnter(*this, hit.anchor);
            if (hover_)
                RepaintHover();
        }
        lastAnchor_ = hit.anchor;
        lastNumber_ = hit.number;
        hoverRect_ = hit.rect;
        if (hover_ && IsValid(hoverRect_))
            InvalidateArea(hoverRect_);
        return;
    }
    if (Cursor() != HandCursor())
        return;
    SetCursor(ArrowCursor());
    if (OnAnchorExit)
        OnAnchorExit(*this, std::string());
    if (hover_)
        RepaintHover();
    lastAnchor_.clear();
    lastNumber_ = -1;
    hoverRect_ = hit.rect;
}

void THTMLabel::MouseDown(UINT, int x, int y)
{
    const Hit hit = HitTest(x, y);
    if (hit.number < 1)
        return;
    if (IsShellOpenableLink(hit.anchor))
        CurrentShellOpener()(hit.anchor);
    else if (OnAnchorClick)
        OnAnchorClick(*this, hit.anchor);
}

void THTMLabel::MouseEnter()
{
    if (OnMouseEnter)
        OnMouseEnter(*this);
}

void THTMLabel::MouseLeave()
{
    if (hover_ && hoverLink_ != -1 && IsValid(hoverRect_))
        InvalidateArea(hoverRect_);
    hoverLink_ = -1;
    if (OnMouseLeave)
        OnMouseLeave(*this);
}

bool THTMLabel::HintAt(int x, int y, std::string& text, POINT& position, bool& placed)
{
    placed = false;
    if (anchorHint_) {
        const Hit hit = HitTest(x, y);
        if (hit.number >= 1) {
            std::string anchor = hit.anchor;
            if (OnAnchorHint)
                OnAnchorHint(*this, anchor);
            GetCursorPos(&position);
            position.x += kHintOffset.x;
            position.y += kHintOffset.y;
            placed = true;
            text = anchor;
            return true;
        }
    }
    if (!hintShowFull_)
        return false;
    text = htmlHint_ ? GetDisplayHTML() : StripHTML(GetDisplayHTML());
    return !text.empty();
}
