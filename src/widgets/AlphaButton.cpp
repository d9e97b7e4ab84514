#include "AlphaButton.h"

#include "core/Utf8.h"
#include "widgets/GdiCanvas.h"
#include "markup/MarkupText.h"
#include "winutil/WideText.h"
#include "winutil/WindowDpi.h"

#include <mmsystem.h>

#include <algorithm>
#include <stdexcept>

namespace {

struct MemoryDCTraits {
    using Type = HDC;
    static Type invalid() { return nullptr; }
    static void close(Type dc) { DeleteDC(dc); }
};
using UniqueMemoryDC = UniqueHandle<MemoryDCTraits>;

void PlayProgramSound(const char* name)
{
    // Without a sound device this fails; the button does not care.
    PlaySoundW(WideFromUtf8(name).c_str(), GetModuleHandleW(nullptr), SND_RESOURCE | SND_SYNC | SND_NODEFAULT);
}

// A resource name or type in UTF-8, or a number in the form of a name.
LPCWSTR ResourceName(const char* name, std::wstring& storage)
{
    if (IS_INTRESOURCE(name))
        return MAKEINTRESOURCEW(reinterpret_cast<ULONG_PTR>(name));
    storage = WideFromUtf8(name);
    return storage.c_str();
}

std::string Described(const char* name)
{
    return IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name)) : std::string(name);
}

// Letters compared as the system's upper case sees them.
bool SameLetter(char32_t a, char32_t b)
{
    if (a == b)
        return true;
    if (a > 0xFFFF || b > 0xFFFF)
        return false;
    wchar_t pair[2] = {static_cast<wchar_t>(a), static_cast<wchar_t>(b)};
    CharUpperBuffW(pair, 2);
    return pair[0] == pair[1];
}

TAlphaButton::SoundPlayer& CurrentSoundPlayer()
{
    static TAlphaButton::SoundPlayer player = PlayProgramSound;
    return player;
}

// The larger versions of a glyph resource and their scales.
constexpr const char* kVariantSuffixes[] = {"_150", "_200"};
constexpr int kFocusInset = 3;

// Of the glyph's versions, the one to resample for a width: the smallest not
// narrower, else the widest.
const Image32& VersionFor(const Image32& glyph, const std::vector<Image32>& variants, int width)
{
    const Image32* best = &glyph;
    for (const Image32& variant : variants) {
        const bool bestTooSmall = best->width < width;
        if ((bestTooSmall && variant.width > best->width) || (variant.width >= width && variant.width < best->width))
            best = &variant;
    }
    return *best;
}

bool ReadResourceImage(HMODULE module, LPCWSTR name, LPCWSTR type, Image32& image, std::string& error)
{
    const HRSRC found = FindResourceW(module, name, type);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) {
        error = "not found";
        return false;
    }
    return ParseBitmap32(data, SizeofResource(module, found), image, error);
}

BITMAPINFO TopDownInfo(int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

} // namespace

bool TAlphaGlyph::Assign(HBITMAP bitmap)
{
    BITMAP header = {};
    if (!bitmap || !GetObjectW(bitmap, sizeof header, &header) || header.bmWidth <= 0 || header.bmHeight <= 0)
        return false;
    Image32 image;
    image.width = header.bmWidth;
    image.height = header.bmHeight;
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    BITMAPINFO info = TopDownInfo(image.width, image.height);
    const HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(image.height), image.pixels.data(), &info,
                               DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != image.height)
        return false;
    Assign(image);
    return true;
}

void TAlphaGlyph::Assign(const Image32& image)
{
    glyph_ = image;
    ::GreyImage(glyph_, grey_);
    variants_.clear();
    scaledDpi_ = 0;
}

void TAlphaGlyph::AddVariant(const Image32& image)
{
    variants_.push_back(image);
    scaledDpi_ = 0;
}

void TAlphaGlyph::LoadFromResource(HMODULE module, const char* name, const char* type)
{
    const std::string what = "resource \"" + Described(name) + "\" of type \"" + Described(type) + "\"";
    std::wstring wideName, wideType;
    const LPCWSTR typeName = ResourceName(type, wideType);
    Image32 image;
    std::string error;
    if (!ReadResourceImage(module, ResourceName(name, wideName), typeName, image, error))
        throw std::runtime_error(what + (error == "not found" ? " not found" : ": " + error));
    Assign(image);
    if (IS_INTRESOURCE(name))
        return;
    // The larger versions are optional: a program without them resamples the first.
    for (const char* suffix : kVariantSuffixes) {
        Image32 variant;
        if (ReadResourceImage(module, WideFromUtf8(std::string(name) + suffix).c_str(), typeName, variant, error))
            AddVariant(variant);
    }
}

void TAlphaGlyph::ScaleTo(int dpi) const
{
    if (dpi == scaledDpi_)
        return;
    const int width = ScaleForDpi(glyph_.width, dpi);
    const int height = ScaleForDpi(glyph_.height, dpi);
    const Image32& source = VersionFor(glyph_, variants_, width);
    scaled_ = source.width == width && source.height == height ? source : ScaleImage(source, width, height);
    ::GreyImage(scaled_, scaledGrey_);
    scaledDpi_ = dpi;
}

const Image32& TAlphaGlyph::ImageAt(int dpi) const
{
    if (dpi == kDefaultDpi)
        return glyph_;
    ScaleTo(dpi);
    return scaled_;
}

const Image32& TAlphaGlyph::GreyImageAt(int dpi) const
{
    if (dpi == kDefaultDpi)
        return grey_;
    ScaleTo(dpi);
    return scaledGrey_;
}

HBITMAP TAlphaGlyph::Composition(int width, int height, Pixel32*& bits)
{
    if (!composition_ || width != compositionWidth_ || height != compositionHeight_) {
        composition_.reset();
        compositionBits_ = nullptr;
        compositionWidth_ = compositionHeight_ = 0;
        if (width <= 0 || height <= 0)
            return nullptr;
        const BITMAPINFO info = TopDownInfo(width, height);
        void* memory = nullptr;
        composition_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0));
        if (!composition_)
            return nullptr;
        compositionBits_ = static_cast<Pixel32*>(memory);
        compositionWidth_ = width;
        compositionHeight_ = height;
    }
    bits = compositionBits_;
    return static_cast<HBITMAP>(composition_.get());
}

TAlphaButton::TAlphaButton(TGraphicHost& host, const std::string& name) : TGraphicControl(host), caption_(name)
{
    font_.name = "MS Sans Serif";
    font_.size = 8;
    font_.color = clBtnText;
    SetBounds(0, 0, 75, 25);
}

TAlphaButton::~TAlphaButton()
{
    *alive_ = false;
}

void TAlphaButton::SetSoundPlayer(SoundPlayer player)
{
    CurrentSoundPlayer() = player ? std::move(player) : PlayProgramSound;
}

void TAlphaButton::Repaint() const
{
    Invalidate();
}

void TAlphaButton::RepaintNow() const
{
    Invalidate();
    UpdateWindow(ParentWindow());
}

void TAlphaButton::PlaySound(const char* name) const
{
    if (const SoundPlayer& player = CurrentSoundPlayer())
        player(name);
}

void TAlphaButton::SetCaption(const std::string& caption)
{
    caption_ = caption;
    Repaint();
}

void TAlphaButton::SetFont(const MarkupFont& font)
{
    font_ = font;
    fontHandle_.reset();
    Repaint();
}

void TAlphaButton::SetLayout(TButtonLayout layout)
{
    if (layout == layout_)
        return;
    layout_ = layout;
    Repaint();
}

void TAlphaButton::SetMargin(int margin)
{
    if (margin < -1 || margin == margin_)
        return;
    margin_ = margin;
    Repaint();
}

void TAlphaButton::SetSpacing(int spacing)
{
    if (spacing == spacing_)
        return;
    spacing_ = spacing;
    Repaint();
}

void TAlphaButton::SetTransparent(bool transparent)
{
    if (transparent == transparent_)
        return;
    transparent_ = transparent;
    Repaint();
}

void TAlphaButton::SetColor(TColor color)
{
    color_ = color;
    Repaint();
}

void TAlphaButton::SetEnabled(bool enabled)
{
    if (enabled == Enabled())
        return;
    tracking_ = false;
    hot_ = false;
    state_ = enabled ? TButtonState::bsUp : TButtonState::bsDisabled;
    Repaint();
    Host().FocusItemsChanged(*this);
    UpdateHot();
}

void TAlphaButton::Click()
{
    if (OnClick)
        OnClick(*this);
}

void TAlphaButton::UpdateHot()
{
    if (Host().ControlAtCursor() == this)
        MouseEnter();
    else
        MouseLeave();
}

HFONT TAlphaButton::FontHandle()
{
    if (!fontHandle_ || fontDpi_ != Host().Dpi()) {
        fontDpi_ = Host().Dpi();
        const LOGFONTW logFont = LogFontOf(font_, fontDpi_);
        fontHandle_.reset(CreateFontIndirectW(&logFont));
    }
    return static_cast<HFONT>(fontHandle_.get());
}

void TAlphaButton::DpiChanged()
{
    fontHandle_.reset();
    Repaint();
}

AlphaLayoutResult TAlphaButton::LayoutOn(HDC dc) const
{
    AlphaLayoutInput in;
    in.width = Width();
    in.height = Height();
    const Image32& glyph = glyph_.ImageAt(Host().Dpi());
    in.glyphWidth = glyph.width;
    in.glyphHeight = glyph.height;
    if (!caption_.empty()) {
        RECT measured = {};
        const std::wstring caption = WideFromUtf8(caption_);
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &measured, DT_CALCRECT | DT_NOCLIP);
        in.textWidth = measured.right - measured.left;
        in.textHeight = measured.bottom - measured.top;
    }
    in.layout = layout_;
    in.margin = margin_ > 0 ? Host().Scale(margin_) : margin_;
    in.spacing = spacing_ > 0 ? Host().Scale(spacing_) : spacing_;
    in.pressed = state_ == TButtonState::bsDown && !actAsImage_;
    return LayoutAlphaButton(in);
}

AlphaLayoutResult TAlphaButton::CurrentLayout()
{
    const HDC dc = GetDC(ParentWindow());
    const HGDIOBJ old = SelectObject(dc, FontHandle());
    const AlphaLayoutResult result = LayoutOn(dc);
    SelectObject(dc, old);
    ReleaseDC(ParentWindow(), dc);
    return result;
}

void TAlphaButton::Paint(HDC dc)
{
    SelectObject(dc, FontHandle());
    if (!transparent_) {
        const UniqueGdiObject brush(CreateSolidBrush(ColorToRGB(color_)));
        const RECT client = ClientRect();
        FillRect(dc, &client, static_cast<HBRUSH>(brush.get()));
    }
    const AlphaLayoutResult at = LayoutOn(dc);
    if (!glyph_.Empty())
        PaintGlyph(dc, at);
    PaintCaption(dc, at);
    PaintBorder(dc);
    PaintFocus(dc);
}

void TAlphaButton::PaintGlyph(HDC dc, const AlphaLayoutResult& at)
{
    Pixel32* bits = nullptr;
    const HBITMAP composition = glyph_.Composition(Width(), Height(), bits);
    const UniqueMemoryDC memory(CreateCompatibleDC(dc));
    if (!composition || !memory)
        return;
    const HGDIOBJ old = SelectObject(memory.get(), composition);
    Host().PaintBackground(memory.get(), *this);
    GdiFlush();
    const int dpi = Host().Dpi();
    const Image32& glyph = Enabled() ? glyph_.ImageAt(dpi) : glyph_.GreyImageAt(dpi);
    BlendImage(glyph, bits, Width(), Height(), at.glyphX, at.glyphY);
    BitBlt(dc, 0, 0, Width(), Height(), memory.get(), 0, 0, SRCCOPY);
    SelectObject(memory.get(), old);
}

void TAlphaButton::PaintCaption(HDC dc, const AlphaLayoutResult& at)
{
    if (caption_.empty())
        return;
    RECT measured = {};
    const std::wstring caption = WideFromUtf8(caption_);
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &measured, DT_CALCRECT | DT_NOCLIP);
    RECT rect = {at.textX, at.textY, at.textX + measured.right - measured.left,
                 at.textY + measured.bottom - measured.top};
    SetBkMode(dc, TRANSPARENT);
    const auto draw = [&](const RECT& where, COLORREF colour) {
        SetTextColor(dc, colour);
        RECT place = where;
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &place, DT_CENTER | DT_NOCLIP);
    };
    if (Enabled()) {
        draw(rect, HighContrastOn() ? GetSysColor(COLOR_BTNTEXT) : ColorToRGB(font_.color));
        return;
    }
    RECT embossed = rect;
    OffsetRect(&embossed, 1, 1);
    draw(embossed, GetSysColor(COLOR_BTNHIGHLIGHT));
    draw(rect, GetSysColor(COLOR_BTNSHADOW));
}

void TAlphaButton::PaintBorder(HDC dc) const
{
    if (state_ == TButtonState::bsDisabled || actAsImage_)
        return;
    const RECT client = ClientRect();
    const bool highContrast = HighContrastOn();
    if (state_ == TButtonState::bsUp && hot_)
        PaintEffect(dc, client, borderHover_, highContrast);
    else if (!hot_)
        PaintEffect(dc, client, borderNormal_, highContrast);
    else if (state_ == TButtonState::bsDown)
        PaintEffect(dc, client, borderDown_, highContrast);
}

void TAlphaButton::PaintFocus(HDC dc) const
{
    if (!FocusedItem())
        return;
    RECT focus = ClientRect();
    const int inset = Host().Scale(kFocusInset);
    InflateRect(&focus, -inset, -inset);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    DrawFocusRect(dc, &focus);
}

void TAlphaButton::PaintEffect(HDC dc, const RECT& rect, TBorderEffect effect, bool highContrast)
{
    if (effect == TBorderEffect::beOutLine) {
        RECT edge = rect;
        DrawEdge(dc, &edge, BDR_SUNKENOUTER, BF_FLAT | BF_RECT);
        return;
    }
    if (effect != TBorderEffect::beCool)
        return;
    const int right = rect.right - 1, bottom = rect.bottom - 1;
    const int length = std::min(rect.right - rect.left, rect.bottom - rect.top) / 6;
    // The marks are black, as the button's face is light; in high contrast
    // they take the button text's colour, whatever the face is.
    const UniqueGdiObject pen(CreatePen(PS_SOLID, 1, highContrast ? GetSysColor(COLOR_BTNTEXT) : RGB(0, 0, 0)));
    const HGDIOBJ old = SelectObject(dc, pen.get());
    const auto mark = [dc, length](int x, int y, int dx, int dy) {
        MoveToEx(dc, x, y, nullptr);
        LineTo(dc, x + dx * length, y);
        MoveToEx(dc, x, y, nullptr);
        LineTo(dc, x, y + dy * length);
    };
    mark(rect.left, rect.top, 1, 1);
    mark(right, rect.top, -1, 1);
    mark(rect.left, bottom, 1, -1);
    mark(right, bottom, -1, -1);
    SelectObject(dc, old);
}

void TAlphaButton::MouseDown(UINT button, int x, int y)
{
    const std::shared_ptr<bool> alive = alive_;
    if (OnMouseDown)
        OnMouseDown(*this, button, x, y);
    if (!*alive || !Enabled())
        return;
    if (button == WM_LBUTTONDOWN) {
        state_ = TButtonState::bsDown;
        tracking_ = true;
        RepaintNow();
    }
    if (soundEffect_)
        PlaySound("M_CLICK");
}

void TAlphaButton::MouseMove(int x, int y)
{
    const std::shared_ptr<bool> alive = alive_;
    if (OnMouseMove)
        OnMouseMove(*this, x, y);
    if (!*alive || !tracking_)
        return;
    const TButtonState state = InPressBounds(x, y, Width(), Height()) ? TButtonState::bsDown : TButtonState::bsUp;
    if (state == state_)
        return;
    state_ = state;
    Repaint();
}

void TAlphaButton::MouseUp(UINT button, int x, int y)
{
    const std::shared_ptr<bool> alive = alive_;
    if (OnMouseUp)
        OnMouseUp(*this, button, x, y);
    if (!*alive || !tracking_ || button != WM_LBUTTONUP)
        return;
    tracking_ = false;
    state_ = TButtonState::bsUp;
    hot_ = false;
    Repaint();
    if (InPressBounds(x, y, Width(), Height())) {
        Click();
        if (!*alive)
            return;
    }
    UpdateHot();
}

void TAlphaButton::DoubleClick(int, int)
{
    if (state_ == TButtonState::bsDown && OnDblClick)
        OnDblClick(*this);
}

void TAlphaButton::MouseEnter()
{
    if (soundEffect_)
        PlaySound("M_OVER");
    if (!Enabled() || hot_ || Host().CaptureControl())
        return;
    hot_ = true;
    RepaintNow();
}

void TAlphaButton::MouseLeave()
{
    if (!Enabled() || !hot_ || tracking_)
        return;
    hot_ = false;
    Repaint();
}

void TAlphaButton::CaptureLost()
{
    if (!tracking_)
        return;
    tracking_ = false;
    state_ = TButtonState::bsUp;
    Repaint();
}

bool TAlphaButton::DialogChar(char32_t key)
{
    const char32_t accelerator = CaptionAccelerator(caption_);
    if (!accelerator || !SameLetter(accelerator, key))
        return false;
    if (!Enabled() || !Visible() || !IsWindowVisible(ParentWindow()))
        return false;
    Click();
    return true;
}

int TAlphaButton::FocusItems() const
{
    return Enabled() && Visible() ? 1 : 0;
}

bool TAlphaButton::KeyDown(UINT key, int)
{
    if (key != VK_RETURN && key != VK_SPACE)
        return false;
    Activate();
    return true;
}

void TAlphaButton::Activate()
{
    if (Enabled() && Visible())
        Click();
}

AccessibleDescription TAlphaButton::Describe(int) const
{
    AccessibleDescription description;
    description.role = ROLE_SYSTEM_PUSHBUTTON;
    description.name = PrefixProcessed(caption_);
    long state = Visible() ? 0 : STATE_SYSTEM_INVISIBLE;
    if (!Enabled())
        state |= STATE_SYSTEM_UNAVAILABLE;
    else
        state |= STATE_SYSTEM_FOCUSABLE;
    if (FocusedItem())
        state |= STATE_SYSTEM_FOCUSED;
    if (Host().DefaultControl() == this)
        state |= STATE_SYSTEM_DEFAULT;
    if (state_ == TButtonState::bsDown)
        state |= STATE_SYSTEM_PRESSED;
    if (hot_)
        state |= STATE_SYSTEM_HOTTRACKED;
    description.state = state;
    if (Enabled())
        description.defaultAction = "Press";
    if (const char32_t accelerator = CaptionAccelerator(caption_)) {
        description.keyboardShortcut = "Alt+";
        AppendUtf8(description.keyboardShortcut, accelerator);
    }
    return description;
}

bool TAlphaButton::DoDefaultAction(int)
{
    Activate();
    return true;
}
