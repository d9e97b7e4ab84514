#include "HTMLabel.h"

#include "widgets/GdiCanvas.h"
#include "markup/Gradient.h"
#include "markup/MarkupText.h"
#include "winutil/WideText.h"
#include "winutil/WindowDpi.h"

#include <shellapi.h>
#include <commctrl.h>

#include <algorithm>

namespace {

constexpr int kAutoSizeMargin = 6;
constexpr int kAutoSizeReach = 65535;
constexpr int kLineStripHeight = 2;
constexpr POINT kHintOffset = {10, -10};
// The focus rectangle stands this far around a link's runs.
constexpr int kFocusMargin = 1;

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

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
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

    // Sizes follow the window's DPI, which the context does not know.
    bool Size(std::string_view source, HDC /*dc*/, MarkupSize& size) override
    {
        const Found found = Resolve(source);
        const int dpi = label_.Host().Dpi();
        if (found.list) {
            int cx = 0, cy = 0;
            ImageList_GetIconSize(found.list, &cx, &cy);
            size = {ScaleForDpi(cx, dpi), ScaleForDpi(cy, dpi)};
            return true;
        }
        if (!found.picture)
            return false;
        size = {ScaleForDpi(found.picture->LayoutWidth(), dpi), ScaleForDpi(found.picture->LayoutHeight(), dpi)};
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

// The markup canvas of the label; it notes where the links were placed when
// asked to, the first kMaxLinkItems of them, each line of a link one
// rectangle.
class THTMLabel::LinkCanvas : public GdiCanvas {
public:
    LinkCanvas(HDC dc, const MarkupFont& font, MarkupPictures* pictures, int dpi, std::vector<LinkPlace>* links)
        : GdiCanvas(dc, font, pictures, dpi), links_(links)
    {
    }

    void LinkPlaced(int link, std::string_view address, std::string_view text, const MarkupRect& placed) override
    {
        if (!links_)
            return;
        if (link != lastLink_) {
            if (links_->size() >= kMaxLinkItems)
                return;
            lastLink_ = link;
            links_->push_back({std::string(address), {}, {}, ToRect(placed)});
        }
        LinkPlace& place = links_->back();
        place.text += PrefixProcessed(text);
        const RECT rect = ToRect(placed);
        UnionRect(&place.bounds, &place.bounds, &rect);
        if (!place.runs.empty() && place.runs.back().top == rect.top && place.runs.back().bottom == rect.bottom &&
            place.runs.back().right == rect.left)
            place.runs.back().right = rect.right;
        else
            place.runs.push_back(rect);
    }

private:
    std::vector<LinkPlace>* links_;
    int lastLink_ = 0;
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
        SetBounds(Left(), Top(), Host().Scale(kAutoSizeMargin), Height());
    if (value && (align_ == TAlign::alTop || align_ == TAlign::alBottom))
        SetBounds(Left(), Top(), Width(), Host().Scale(kAutoSizeMargin));
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
    ForgetLinks();
}

HTMLDrawResult THTMLabel::HTMLPaint(HDC dc, const RECT& rect, POINT mouse, bool hitTestOnly)
{
    const HTMLDrawResult result = RunLayout(dc, rect, mouse, hitTestOnly, nullptr);
    textWidth_ = result.width;
    return result;
}

// In high contrast the links take the system's colour and the label's own
// colours for hover and shadow are left out, as the markup's are.
HTMLDrawResult THTMLabel::RunLayout(HDC dc, const RECT& rect, POINT mouse, bool hitTestOnly,
                                    std::vector<LinkPlace>* links)
{
    const std::string text = GetDisplayHTML();
    Pictures pictures(*this);
    LinkCanvas canvas(dc, font_, &pictures, Host().Dpi(), links);
    const bool highContrast = HighContrastOn();
    canvas.SetHighContrast(highContrast);
    canvas.SetBrush(color_);
    HTMLDrawParams params;
    params.text = text;
    params.rect = {rect.left, rect.top, rect.right, rect.bottom};
    params.mouseX = mouse.x;
    params.mouseY = mouse.y;
    params.hoverLink = hoverLink_;
    params.shadowOffset = Host().Scale(shadowOffset_);
    params.linkColor = highContrast ? clHotLight : urlColor_;
    params.hoverColor = highContrast ? clNone : hoverColor_;
    params.hoverFontColor = highContrast ? clNone : hoverFontColor_;
    params.shadowColor = highContrast ? clNone : shadowColor_;
    params.hoverStyle = hover_;
    params.ellipsis = ellipsis_;
    params.hitTestOnly = hitTestOnly;
    return DrawHTMLText(canvas, params);
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
    const int margin = Host().Scale(kAutoSizeMargin);
    if (SizesVertically() && textHeight + margin != Height())
        SetBounds(Left(), Top(), Width(), textHeight + margin);
    if (SizesHorizontally() && textWidth + margin != Width())
        SetBounds(Left(), Top(), textWidth + margin, Height());
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
    PaintFocus(dc);
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
    if (hit.number >= 1)
        FollowLink(hit.anchor);
}

void THTMLabel::FollowLink(const std::string& anchor)
{
    if (IsShellOpenableLink(anchor))
        CurrentShellOpener()(anchor);
    else if (OnAnchorClick)
        OnAnchorClick(*this, anchor);
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

// Links.

void THTMLabel::DpiChanged()
{
    HTMLChanged();
}

void THTMLabel::Resized()
{
    ForgetLinks();
}

void THTMLabel::ForgetLinks()
{
    linksValid_ = false;
    Host().FocusItemsChanged(*this);
}

void THTMLabel::CollectLinks()
{
    std::vector<LinkPlace> links;
    if (updateCount_ == 0) {
        const WindowDC dc(ParentWindow());
        const RECT rect = TextRect(dc.get(), ClientRect());
        RunLayout(dc.get(), rect, {-1, -1}, /*hitTestOnly=*/true, &links);
    }
    for (LinkPlace& link : links)
        link.text = Trimmed(link.text);
    links_ = std::move(links);
    linksValid_ = true;
}

// Laying the text out fills the table and changes nothing that is seen.
const std::vector<THTMLabel::LinkPlace>& THTMLabel::Links() const
{
    if (!linksValid_)
        const_cast<THTMLabel*>(this)->CollectLinks();
    return links_;
}

int THTMLabel::FocusItems() const
{
    return Visible() ? static_cast<int>(Links().size()) : 0;
}

void THTMLabel::InvalidateLink(int item) const
{
    if (item < 1 || item > static_cast<int>(links_.size()))
        return;
    RECT area = links_[static_cast<std::size_t>(item) - 1].bounds;
    const int margin = Host().Scale(kFocusMargin) + 1;
    InflateRect(&area, margin, margin);
    InvalidateArea(area);
}

void THTMLabel::FocusMoved(int oldItem, int newItem)
{
    InvalidateLink(oldItem);
    InvalidateLink(newItem);
}

RECT THTMLabel::FocusItemRect(int item) const
{
    return AccessibleItemRect(item);
}

void THTMLabel::PaintFocus(HDC dc) const
{
    const int item = FocusedItem();
    if (item < 1 || item > static_cast<int>(Links().size()))
        return;
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    const int margin = Host().Scale(kFocusMargin);
    for (RECT run : links_[static_cast<std::size_t>(item) - 1].runs) {
        InflateRect(&run, margin, 0);
        DrawFocusRect(dc, &run);
    }
}

bool THTMLabel::KeyDown(UINT key, int item)
{
    if (key != VK_RETURN || item < 1 || item > static_cast<int>(Links().size()))
        return false;
    FollowLink(links_[static_cast<std::size_t>(item) - 1].address);
    return true;
}

// Screen readers.

AccessibleDescription THTMLabel::Describe(int item) const
{
    AccessibleDescription description;
    const long shown = Visible() ? 0 : STATE_SYSTEM_INVISIBLE;
    if (item == 0) {
        description.role = ROLE_SYSTEM_STATICTEXT;
        description.name = PrefixProcessed(ReplaceRunEntities(StripHTML(PrepareMarkup(GetDisplayHTML()))));
        description.state = shown | STATE_SYSTEM_READONLY;
        return description;
    }
    const LinkPlace& link = Links().at(static_cast<std::size_t>(item) - 1);
    description.role = ROLE_SYSTEM_LINK;
    description.name = link.text.empty() ? link.address : link.text;
    description.value = link.address;
    description.state = shown | STATE_SYSTEM_LINKED | STATE_SYSTEM_FOCUSABLE |
                        (FocusedItem() == item ? STATE_SYSTEM_FOCUSED : 0);
    description.defaultAction = "Jump";
    return description;
}

int THTMLabel::AccessibleItems() const
{
    return static_cast<int>(Links().size());
}

int THTMLabel::AccessibleItemAt(int x, int y) const
{
    const POINT point = {x, y};
    const std::vector<LinkPlace>& links = Links();
    for (std::size_t i = 0; i < links.size(); ++i)
        for (const RECT& run : links[i].runs)
            if (PtInRect(&run, point))
                return static_cast<int>(i) + 1;
    return CHILDID_SELF;
}

RECT THTMLabel::AccessibleItemRect(int item) const
{
    if (item < 1 || item > static_cast<int>(Links().size()))
        return ClientRect();
    return links_[static_cast<std::size_t>(item) - 1].bounds;
}

bool THTMLabel::DoDefaultAction(int item)
{
    if (item < 1 || item > static_cast<int>(Links().size()))
        return false;
    FollowLink(links_[static_cast<std::size_t>(item) - 1].address);
    return true;
}
