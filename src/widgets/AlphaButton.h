#pragma once
// TAlphaButton: a windowless, flat push button (see GraphicControl.h for the
// model) whose glyph is a 32-bit image with alpha. The glyph is blended by
// hand (AlphaPixels.h) over what lies behind the button, so soft edges show
// the parent's background and the windowless controls below it. The button
// tracks hover and press, draws one border effect per state, greys its
// glyph and embosses its caption when disabled, and can play the program's
// WAVE resources "M_CLICK" and "M_OVER". Playing is best effort: a system
// without sound plays nothing and the button works the same.
//
// Keyboard and screen readers: an enabled, visible button is a tab stop;
// Enter and Space press it while it has the focus (drawn as a dotted
// rectangle), Enter too while it is its host's default control, Esc while it
// is the cancel control. It is a push button to assistive technology: its
// caption without the "&", unavailable, focused and default states, the
// default action "Press".
//
// High contrast and DPI: the caption is drawn in the button-text colour
// (in high contrast whatever the font says), the hover marks too in high
// contrast; the font, the spacing and the glyph follow the host's DPI (the
// glyph from the variant that suits it, resampled).
//
// Event handlers may destroy the button (for example by closing its window);
// the button touches nothing of itself after a handler that did so.
// Runs on the parent window's thread.
#include <windows.h>

#include "markup/AlphaLayout.h"
#include "markup/AlphaPixels.h"
#include "widgets/GraphicControl.h"
#include "markup/MarkupCanvas.h"
#include "markup/MarkupColor.h"
#include "winutil/UniqueHandle.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class TBorderEffect { beCool, beOutLine, beNone };
enum class TButtonState { bsUp = 0, bsDisabled = 1, bsDown = 2 };

// The glyph of an alpha button with its grey version and the button-sized
// composition bitmap on which both are blended.
class TAlphaGlyph {
public:
    // Copies the bitmap at 32 bits per pixel; false for a bitmap that cannot be read.
    bool Assign(HBITMAP bitmap);
    void Assign(const Image32& image);
    // Reads a resource of the given type holding a 32-bit bitmap file, and
    // the larger versions of it for higher DPI where the program has them:
    // the same name with "_150" and "_200" (150 % and 200 %). Throws
    // std::runtime_error naming the resource when the first is missing or
    // unreadable.
    void LoadFromResource(HMODULE module, const char* name, const char* type);
    // A larger version of the glyph, for higher DPI.
    void AddVariant(const Image32& image);
    const Image32& Image() const { return glyph_; }
    const Image32& GreyImage() const { return grey_; }
    bool Empty() const { return glyph_.Empty(); }
    // The glyph as drawn at `dpi` (its size scaled from 96 DPI), and its grey
    // version: resampled from the smallest version at least that large, or
    // else the largest. Kept until the DPI or the glyph changes.
    const Image32& ImageAt(int dpi) const;
    const Image32& GreyImageAt(int dpi) const;

    // The composition bitmap of the given size, kept between paints.
    HBITMAP Composition(int width, int height, Pixel32*& bits);

private:
    void ScaleTo(int dpi) const;

    Image32 glyph_;
    Image32 grey_;
    std::vector<Image32> variants_;
    mutable Image32 scaled_;
    mutable Image32 scaledGrey_;
    mutable int scaledDpi_ = 0;
    UniqueGdiObject composition_;
    Pixel32* compositionBits_ = nullptr;
    int compositionWidth_ = 0;
    int compositionHeight_ = 0;
};

class TAlphaButton : public TGraphicControl {
public:
    using NotifyEvent = std::function<void(TAlphaButton& sender)>;
    using MouseEvent = std::function<void(TAlphaButton& sender, UINT button, int x, int y)>;
    using MoveEvent = std::function<void(TAlphaButton& sender, int x, int y)>;
    // Plays a named WAVE resource of the program synchronously; tests replace it.
    using SoundPlayer = std::function<void(const char* name)>;

    // `name` is the caption at creation. The button is 75 by 25 at 0,0.
    TAlphaButton(TGraphicHost& host, const std::string& name = "AlphaButton");
    ~TAlphaButton() override;

    TAlphaGlyph& Glyph() { return glyph_; }
    // Copies the image; does not repaint by itself.
    void SetGlyph(const Image32& image) { glyph_.Assign(image); }

    void SetCaption(const std::string& caption);
    const std::string& Caption() const { return caption_; }
    void SetFont(const MarkupFont& font);
    const MarkupFont& Font() const { return font_; }
    void SetEnabled(bool enabled);
    bool Enabled() const { return state_ != TButtonState::bsDisabled; }
    void SetLayout(TButtonLayout layout);
    TButtonLayout Layout() const { return layout_; }
    // Values below -1 are refused and leave the margin as it was.
    void SetMargin(int margin);
    int Margin() const { return margin_; }
    void SetSpacing(int spacing);
    int Spacing() const { return spacing_; }
    void SetTransparent(bool transparent);
    bool Transparent() const { return transparent_; }
    void SetColor(TColor color);
    TColor Color() const { return color_; }

    void SetActAsImage(bool value) { actAsImage_ = value; }
    bool ActAsImage() const { return actAsImage_; }
    void SetBorderNormalEffect(TBorderEffect value) { borderNormal_ = value; }
    void SetBorderHoverEffect(TBorderEffect value) { borderHover_ = value; }
    void SetBorderDownEffect(TBorderEffect value) { borderDown_ = value; }
    TBorderEffect BorderNormalEffect() const { return borderNormal_; }
    TBorderEffect BorderHoverEffect() const { return borderHover_; }
    TBorderEffect BorderDownEffect() const { return borderDown_; }
    void SetSoundEffect(bool value) { soundEffect_ = value; }
    bool SoundEffect() const { return soundEffect_; }
    // The background colour layer is stored only: its fill leaves every
    // layer pixel transparent, so it changes nothing that is drawn.
    void SetUseBGColor(bool value) { useBGColor_ = value; }
    void SetBGColor(TColor value) { bgColor_ = value; }
    void SetBGAlphaBlend(bool value) { bgAlphaBlend_ = value; }
    void SetBGAlphaBlendValue(int value) { bgAlphaBlendValue_ = value; }
    bool UseBGColor() const { return useBGColor_; }
    TColor BGColor() const { return bgColor_; }
    bool BGAlphaBlend() const { return bgAlphaBlend_; }
    int BGAlphaBlendValue() const { return bgAlphaBlendValue_; }

    TButtonState State() const { return state_; }
    bool Hot() const { return hot_; }
    bool Tracking() const { return tracking_; }

    // Runs the click action, as a click with the mouse would.
    void Click();
    // The placement of glyph and caption for the current state.
    AlphaLayoutResult CurrentLayout();
    // Re-reads the system colours: repaints.
    void SysColorChanged() { Invalidate(); }

    // An empty player puts back the one that plays the program's resources.
    static void SetSoundPlayer(SoundPlayer player);

    NotifyEvent OnClick;
    NotifyEvent OnDblClick;
    MouseEvent OnMouseDown;
    MoveEvent OnMouseMove;
    MouseEvent OnMouseUp;

    void Paint(HDC dc) override;
    void MouseMove(int x, int y) override;
    void MouseDown(UINT button, int x, int y) override;
    void MouseUp(UINT button, int x, int y) override;
    void DoubleClick(int x, int y) override;
    void MouseEnter() override;
    void MouseLeave() override;
    bool CapturesMouse() const override { return Enabled(); }
    void CaptureLost() override;
    bool DialogChar(char32_t key) override;
    void DpiChanged() override;
    int FocusItems() const override;
    bool KeyDown(UINT key, int item) override;
    bool WantsReturn(int) const override { return true; }
    void Activate() override;
    AccessibleDescription Describe(int item) const override;
    bool DoDefaultAction(int item) override;

private:
    void Repaint() const;
    void RepaintNow() const;
    void PlaySound(const char* name) const;
    void UpdateHot();
    AlphaLayoutResult LayoutOn(HDC dc) const;
    HFONT FontHandle();
    void PaintGlyph(HDC dc, const AlphaLayoutResult& at);
    void PaintCaption(HDC dc, const AlphaLayoutResult& at);
    void PaintBorder(HDC dc) const;
    void PaintFocus(HDC dc) const;
    static void PaintEffect(HDC dc, const RECT& rect, TBorderEffect effect, bool highContrast);

    TAlphaGlyph glyph_;
    std::string caption_;
    MarkupFont font_;
    UniqueGdiObject fontHandle_;
    int fontDpi_ = 0;
    TButtonState state_ = TButtonState::bsUp;
    bool hot_ = false;
    bool tracking_ = false;
    TButtonLayout layout_ = TButtonLayout::blGlyphLeft;
    int margin_ = -1;
    int spacing_ = 4;
    bool transparent_ = true;
    TColor color_ = clBtnFace;
    bool actAsImage_ = false;
    TBorderEffect borderNormal_ = TBorderEffect::beOutLine;
    TBorderEffect borderHover_ = TBorderEffect::beCool;
    TBorderEffect borderDown_ = TBorderEffect::beOutLine;
    bool soundEffect_ = false;
    bool useBGColor_ = false;
    TColor bgColor_ = clBlack;
    bool bgAlphaBlend_ = false;
    int bgAlphaBlendValue_ = 255;
    // Cleared when the button is destroyed, so that code after a handler
    // can tell whether the handler freed it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
