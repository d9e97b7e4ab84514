#include "AlphaButton.h"

#include "widgets/GdiCanvas.h"
#include "winutil/WideText.h"

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
}

void TAlphaGlyph::LoadFromResource(HMODULE module, const char* name, const char* type)
{
    const std::string what = "resource \"" + Described(name) + "\" of type \"" + Described(type) + "\"";
    std::wstring wideName, wideType;
    const HRSRC found = FindResourceW(module, ResourceName(name, wideName), ResourceName(type, wideType));
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        throw std::runtime_error(what + " not found");
    Image32 image;
    std::string error;
    if (!ParseBitmap32(data, SizeofResource(module, found), image, error))
        throw std::runtime_error(what + ": " + error);
    Assign(image);
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
    if (!fontHandle_) {
        const HDC screen = GetDC(nullptr);
        const LOGFONTW logFont = LogFontOf(font_, GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
        fontHandle_.reset(CreateFontIndirectW(&logFont));
    }
    return static_cast<HFONT>(fontHandle_.get());
}

AlphaLayoutResult TAlphaButton::LayoutOn(HDC dc) const
{
    AlphaLayoutInput in;
    in.width = Width();
    in.height = Height();
    in.glyphWidth = glyph_.Image().width;
    in.glyphHeight = glyph_.Image().height;
    if (!caption_.empty()) {
        RECT measured = {};
        const std::wstring caption = WideFromUtf8(caption_);
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &measured, DT_CALCRECT | DT_NOCLIP);
        in.textWidth = measured.right - measured.left;
        in.textHeight = measured.bottom - measured.top;
    }
    in.layout = layout_;
    in.margin = margin_;
    in.spacing = spacing_;
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
    const Image32& glyph = Enabled() ? glyph_.Image() : glyph_.GreyImage();
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
        draw(rect, ColorToRGB(font_.color));
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
    if (state_ == TButtonState::bsUp && hot_)
        PaintEffect(dc, client, borderHover_);
    else if (!hot_)
        PaintEffect(dc, client, borderNormal_);
    else if (state_ == TButtonState::bsDown)
        PaintEffect(dc, client, borderDown_);
}

void TAlphaButton::PaintEffect(HDC dc, const RECT& rect, TBorderEffect effect)
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
    const HGDIOBJ old = SelectObject(dc, GetStockObject(BLACK_PEN));
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
