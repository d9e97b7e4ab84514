#pragma once
// THTMLabel: a windowless label (see GraphicControl.h for the model) that
// shows the markup of HTMLLayout.h: background (solid, gradient or gradient
// line), bevels and border, the laid-out text, sizing to the text, and links
// with hand cursor, hover highlighting, events and tooltips.
//
// Links open through the shell only when they are web, FTP or mail
// addresses; any other link value only raises OnAnchorClick. Markup that
// came from the network is marked untrusted (SetTrusted(false)): its
// pictures may not name local files, system icons or UNC paths. A picture
// that fails to decode stays empty and is not drawn; no error leaves Paint.
//
// Keyboard and screen readers: each link is a focus item (Tab reaches it,
// the focus is drawn as a dotted rectangle around the link's runs, Enter
// follows it) and a simple child of the label's accessible object, which is
// static text holding the plain text: a link with its text, its address as
// value and the default action "Jump". The first kMaxLinkItems links take
// part, laid out once per change of text, size or DPI, so that a text with
// thousands of links costs a bounded table and answers by index.
//
// High contrast: links in the system's hot-light colour, the markup's own
// colours, backgrounds and shadows left out. Fonts, pictures, the list
// indent, the shadow offset and the auto-size margin follow the host's DPI.
// Runs on the parent window's thread.
#include <windows.h>

#include "widgets/GraphicControl.h"
#include "markup/HTMLLayout.h"
#include "widgets/PictureContainer.h"

#include <functional>
#include <string>
#include <vector>

enum class TAutoSizeType { asVertical, asHorizontal, asBoth };
enum class TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
enum class TBorderStyle { bsNone, bsSingle };
enum class TGradientType { gtFullHorizontal, gtFullVertical, gtBottomLine, gtCenterLine, gtTopLine };
enum class TVAlignment { tvaTop, tvaCenter, tvaBottom };
enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

class THTMLabel : public TGraphicControl {
public:
    using AnchorEvent = std::function<void(THTMLabel& sender, const std::string& anchor)>;
    using AnchorHintEvent = std::function<void(THTMLabel& sender, std::string& anchor)>;
    using NotifyEvent = std::function<void(THTMLabel& sender)>;
    // Opens a link through the shell; tests replace it.
    using ShellOpener = std::function<void(const std::string& link)>;

    static constexpr int kMaxLinkItems = 4096;

    // A link as laid out: its address, its text as shown, and the rectangle
    // of each line of it, in the label's coordinates.
    struct LinkPlace {
        std::string address;
        std::string text;
        std::vector<RECT> runs;
        RECT bounds = {};
    };

    explicit THTMLabel(TGraphicHost& host);

    // The lines are joined without separators; carriage returns and line
    // feeds are removed. Assigning empties the picture cache.
    void SetHTMLText(const std::vector<std::string>& lines);
    void SetHTMLText(const std::string& text) { SetHTMLText(std::vector<std::string>{text}); }
    virtual std::string GetDisplayHTML() const;
    const std::vector<std::string>& HTMLText() const { return htmlText_; }

    void SetTrusted(bool trusted) { trusted_ = trusted; }
    bool Trusted() const { return trusted_; }

    void SetAnchorHint(bool value) { anchorHint_ = value; }
    void SetAutoSizing(bool value);
    void SetAutoSizeType(TAutoSizeType value);
    void SetAlign(TAlign value) { align_ = value; }
    void SetBevelInner(TPanelBevel value) { bevelInner_ = value; HTMLChanged(); }
    void SetBevelOuter(TPanelBevel value) { bevelOuter_ = value; HTMLChanged(); }
    void SetBevelWidth(int value) { bevelWidth_ = value; HTMLChanged(); }
    void SetBorderWidth(int value) { borderWidth_ = value; HTMLChanged(); }
    void SetBorderStyle(TBorderStyle value) { borderStyle_ = value; HTMLChanged(); }
    void SetColor(TColor value) { color_ = value; HTMLChanged(); }
    void SetColorTo(TColor value) { colorTo_ = value; HTMLChanged(); }
    void SetEllipsis(bool value);
    void SetFont(const MarkupFont& value) { font_ = value; HTMLChanged(); }
    void SetGradientType(TGradientType value) { gradientType_ = value; HTMLChanged(); }
    void SetHintShowFull(bool value) { hintShowFull_ = value; }
    void SetHover(bool value) { hover_ = value; HTMLChanged(); }
    void SetHoverColor(TColor value) { hoverColor_ = value; HTMLChanged(); }
    void SetHoverFontColor(TColor value) { hoverFontColor_ = value; HTMLChanged(); }
    void SetHTMLHint(bool value) { htmlHint_ = value; }
    void SetImages(HIMAGELIST value) { images_ = value; HTMLChanged(); }
    void SetLineWidth(int value) { lineWidth_ = value; HTMLChanged(); }
    void SetPictureContainer(TPictureContainer* value) { pictureContainer_ = value; }
    void SetShadowColor(TColor value) { shadowColor_ = value; HTMLChanged(); }
    void SetShadowOffset(int value) { shadowOffset_ = value; HTMLChanged(); }
    void SetTransparent(bool value) { transparent_ = value; HTMLChanged(); }
    void SetURLColor(TColor value);
    void SetVAlignment(TVAlignment value);

    const MarkupFont& Font() const { return font_; }
    bool AutoSizing() const { return autoSizing_; }
    TColor Color() const { return color_; }
    int HoverLink() const { return hoverLink_; }
    RECT HoverRect() const { return hoverRect_; }
    // The width of the text at the last paint.
    int TextWidth() const { return textWidth_; }
    // The links that take the focus and answer screen readers.
    const std::vector<LinkPlace>& Links() const;
    std::size_t CachedPictures() const { return cache_.Count(); }

    void BeginUpdate();
    void EndUpdate();

    AnchorEvent OnAnchorClick;
    AnchorEvent OnAnchorEnter;
    AnchorEvent OnAnchorExit;
    AnchorHintEvent OnAnchorHint;
    NotifyEvent OnMouseEnter;
    NotifyEvent OnMouseLeave;

    static void SetShellOpener(ShellOpener opener);

    void Paint(HDC dc) override;
    void MouseMove(int x, int y) override;
    void MouseDown(UINT button, int x, int y) override;
    void MouseEnter() override;
    void MouseLeave() override;
    bool HintAt(int x, int y, std::string& text, POINT& position, bool& placed) override;
    void DpiChanged() override;
    void Resized() override;
    int FocusItems() const override;
    void FocusMoved(int oldItem, int newItem) override;
    RECT FocusItemRect(int item) const override;
    bool KeyDown(UINT key, int item) override;
    bool WantsReturn(int item) const override { return item > 0; }
    AccessibleDescription Describe(int item) const override;
    int AccessibleItems() const override;
    int AccessibleItemAt(int x, int y) const override;
    RECT AccessibleItemRect(int item) const override;
    bool DoDefaultAction(int item) override;
    int AccessibleItemOfFocus(int focusItem) const override { return focusItem; }
    int FocusItemOfAccessible(int item) const override { return item; }

protected:
    virtual void HTMLChanged();
    virtual HTMLDrawResult HTMLPaint(HDC dc, const RECT& rect, POINT mouse, bool hitTestOnly);

private:
    struct Hit {
        std::string anchor;
        RECT rect = {-1, -1, -1, -1};
        int number = -1;
    };
    class Pictures;
    class LinkCanvas;

    Hit HitTest(int x, int y);
    RECT TextRect(HDC dc, RECT rect);
    void PaintBackground(HDC dc, const RECT& client) const;
    RECT PaintFrames(HDC dc, RECT rect) const;
    void FitToText(int textWidth, int textHeight);
    bool SizesHorizontally() const;
    bool SizesVertically() const;
    void RepaintHover();
    HTMLDrawResult RunLayout(HDC dc, const RECT& rect, POINT mouse, bool hitTestOnly, std::vector<LinkPlace>* links);
    void CollectLinks();
    void ForgetLinks();
    void FollowLink(const std::string& anchor);
    void PaintFocus(HDC dc) const;
    void InvalidateLink(int item) const;

    std::vector<std::string> htmlText_;
    THTMLPictureCache cache_;
    TPictureContainer* pictureContainer_ = nullptr;
    HIMAGELIST images_ = nullptr;
    bool trusted_ = true;
    int updateCount_ = 0;
    int hoverLink_ = -1;
    std::string lastAnchor_;
    int lastNumber_ = -1;
    RECT hoverRect_ = {-1, -1, -1, -1};
    int textWidth_ = 0;
    std::vector<LinkPlace> links_;
    bool linksValid_ = false;

    MarkupFont font_{"MS Sans Serif", 8, false, false, false, false, SystemColor(8)};
    TColor color_ = clBtnFace;
    bool transparent_ = false;
    TAlign align_ = TAlign::alNone;
    bool anchorHint_ = false;
    bool autoSizing_ = false;
    TAutoSizeType autoSizeType_ = TAutoSizeType::asVertical;
    TPanelBevel bevelInner_ = TPanelBevel::bvNone;
    TPanelBevel bevelOuter_ = TPanelBevel::bvNone;
    int bevelWidth_ = 1;
    int borderWidth_ = 0;
    TBorderStyle borderStyle_ = TBorderStyle::bsNone;
    TColor colorTo_ = clNone;
    bool ellipsis_ = false;
    TGradientType gradientType_ = TGradientType::gtFullHorizontal;
    bool hintShowFull_ = false;
    bool hover_ = false;
    TColor hoverColor_ = clNone;
    TColor hoverFontColor_ = clNone;
    bool htmlHint_ = false;
    int lineWidth_ = 0;
    TColor shadowColor_ = clGray;
    int shadowOffset_ = 2;
    TColor urlColor_ = clBlue;
    TVAlignment vAlignment_ = TVAlignment::tvaTop;
};
